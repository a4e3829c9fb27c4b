#!/usr/bin/env python3
"""Serves a folder over HTTP for the browser build: cross-origin isolation headers (so a build
with threads would run too), the WebAssembly type, gzip for the files that shrink with it (a
FILE.gz written next to FILE by the build is sent as it is; other compressible files are
compressed once and kept in memory), and revalidation instead of no caching: the browser keeps
what it downloaded and asks each time whether it changed (ETag and Last-Modified, answered with
304 Not Modified), so a reload or "Play again" costs a few small requests.
   serve.py [--port N] [--bind ADDR] [--quiet] DIR"""
import argparse
import email.utils
import functools
import gzip
import http.server
import io
import os
import sys
import threading

# What gains from gzip; the archive's entries and the music are compressed already.
COMPRESSIBLE = {'.html', '.js', '.wasm', '.data', '.ttf', '.json', '.css', '.txt', '.svg'}


class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      '.wasm': 'application/wasm', '.js': 'text/javascript', '.data': 'application/octet-stream',
                      '.vkr': 'application/octet-stream', '.ogg': 'audio/ogg', '.ttf': 'font/ttf'}
    _gzipped = {}  # (path, mtime_ns, size) -> compressed bytes
    _gzip_lock = threading.Lock()

    def end_headers(self):
        self.send_header('Cross-Origin-Opener-Policy', 'same-origin')
        self.send_header('Cross-Origin-Embedder-Policy', 'require-corp')
        self.send_header('Cross-Origin-Resource-Policy', 'same-origin')
        super().end_headers()

    def accepts_gzip(self):
        for part in self.headers.get('Accept-Encoding', '').split(','):
            name, _, params = part.strip().partition(';')
            if name.strip().lower() in ('gzip', '*') and params.replace(' ', '') not in ('q=0', 'q=0.0'):
                return True
        return False

    def gzip_body(self, path, st):
        """The compressed body of path: its up-to-date .gz, else compressed here once. None when
        compressing does not make it smaller."""
        pre = path + '.gz'
        try:
            pst = os.stat(pre)
            if pst.st_mtime_ns >= st.st_mtime_ns:
                with open(pre, 'rb') as f:
                    return f.read()
        except OSError:
            pass
        key = (path, st.st_mtime_ns, st.st_size)
        with self._gzip_lock:
            if key not in self._gzipped:
                with open(path, 'rb') as f:
                    body = gzip.compress(f.read(), compresslevel=6, mtime=0)
                self._gzipped[key] = body if len(body) < st.st_size else None
            return self._gzipped[key]

    def send_head(self):
        path = self.translate_path(self.path)
        if os.path.isdir(path) or not os.path.isfile(path):
            return super().send_head()  # index pages, redirects and 404 as before
        st = os.stat(path)
        ext = os.path.splitext(path)[1].lower()
        body = None
        if ext in COMPRESSIBLE and self.accepts_gzip():
            body = self.gzip_body(path, st)
        etag = '"%x-%x%s"' % (st.st_mtime_ns, st.st_size, '-gz' if body is not None else '')
        last_modified = email.utils.formatdate(st.st_mtime, usegmt=True)
        inm = self.headers.get('If-None-Match')
        ims = self.headers.get('If-Modified-Since')
        unchanged = False
        if inm is not None:
            unchanged = etag in [t.strip() for t in inm.split(',')] or inm.strip() == '*'
        elif ims is not None:
            try:
                unchanged = int(st.st_mtime) <= email.utils.parsedate_to_datetime(ims).timestamp()
            except (TypeError, ValueError, IndexError, OverflowError):
                unchanged = False
        if unchanged:
            self.send_response(304)
            self.validators(etag, last_modified, ext)
            self.end_headers()
            return None
        self.send_response(200)
        self.send_header('Content-Type', self.guess_type(path))
        self.validators(etag, last_modified, ext)
        if body is not None:
            self.send_header('Content-Encoding', 'gzip')
            self.send_header('Content-Length', str(len(body)))
            self.end_headers()
            return io.BytesIO(body)
        self.send_header('Content-Length', str(st.st_size))
        self.end_headers()
        return open(path, 'rb')

    def validators(self, etag, last_modified, ext):
        self.send_header('ETag', etag)
        self.send_header('Last-Modified', last_modified)
        # Kept, but asked about again on every use: a rebuilt file is never served stale.
        self.send_header('Cache-Control', 'no-cache')
        if ext in COMPRESSIBLE:
            self.send_header('Vary', 'Accept-Encoding')

    def log_message(self, fmt, *args):
        if self.server.verbose:
            sys.stderr.write('%s\n' % (fmt % args))


def make_server(directory, port=8018, bind='127.0.0.1', verbose=True, handler=Handler):
    server = http.server.ThreadingHTTPServer((bind, port), functools.partial(handler, directory=directory))
    server.daemon_threads = True
    server.verbose = verbose
    return server


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--port', type=int, default=8018)
    p.add_argument('--bind', default='127.0.0.1')
    p.add_argument('--quiet', action='store_true')
    p.add_argument('dir')
    a = p.parse_args()
    server = make_server(a.dir, a.port, a.bind, not a.quiet)
    print('serving %s at http://%s:%d/Quorvanteplidusk.html' % (a.dir, a.bind, server.server_address[1]), flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == '__main__':
    main()
