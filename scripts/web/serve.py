#!/usr/bin/env python3
"""Serves a folder over HTTP for the browser build: cross-origin isolation headers (so a build
with threads would run too), no caching, the WebAssembly type, and quiet logs.
   serve.py [--port N] [--bind ADDR] DIR"""
import argparse
import functools
import http.server
import sys


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      '.wasm': 'application/wasm', '.js': 'text/javascript', '.data': 'application/octet-stream',
                      '.vkr': 'application/octet-stream', '.ogg': 'audio/ogg'}

    def end_headers(self):
        self.send_header('Cross-Origin-Opener-Policy', 'same-origin')
        self.send_header('Cross-Origin-Embedder-Policy', 'require-corp')
        self.send_header('Cross-Origin-Resource-Policy', 'same-origin')
        self.send_header('Cache-Control', 'no-store')
        super().end_headers()

    def log_message(self, fmt, *args):
        if self.server.verbose:
            sys.stderr.write('%s\n' % (fmt % args))


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--port', type=int, default=8018)
    p.add_argument('--bind', default='127.0.0.1')
    p.add_argument('--quiet', action='store_true')
    p.add_argument('dir')
    a = p.parse_args()
    server = http.server.ThreadingHTTPServer((a.bind, a.port), functools.partial(Handler, directory=a.dir))
    server.verbose = not a.quiet
    print('serving %s at http://%s:%d/Quorvanteplidusk.html' % (a.dir, a.bind, server.server_address[1]), flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == '__main__':
    main()
