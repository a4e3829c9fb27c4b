#!/usr/bin/env python3
"""The project's server (scripts/web/serve.py) with faults a visitor's network or host may have,
for the browser test. A path /_fault/EXT.MODE/NAME serves NAME from the folder, and every file
ending in .EXT (or every file, for EXT "all") fetched by a page under that prefix with MODE:
  404, 500   that status instead of the file
  drop       the headers with the full length, half the body, then the connection closes
  stall      the headers and a little of the body, then nothing more
  nolength   the whole file without Content-Length (the end is where the connection closes)
  nolength-cut  half the file without Content-Length, then the connection closes (looks complete)
  slow       as nolength, in small pieces with pauses, so the page shows its progress a while
Anything else is served as serve.py serves it.
   fault_server.py [--port N] DIR      (prints the port it listens on)"""
import argparse
import importlib.util
import os
import sys
import time

_here = os.path.dirname(os.path.abspath(__file__))
_spec = importlib.util.spec_from_file_location('serve', os.path.join(_here, '..', '..', 'scripts', 'web', 'serve.py'))
serve = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(serve)


class FaultHandler(serve.Handler):
    def parse_fault(self):
        parts = self.path.split('?', 1)[0].split('/')
        # ['', '_fault', 'EXT.MODE', 'NAME'...]
        if len(parts) < 4 or parts[1] != '_fault' or '.' not in parts[2]:
            return None, None, None
        ext, mode = parts[2].split('.', 1)
        rest = '/' + '/'.join(parts[3:])
        return ext, mode, rest

    def do_GET(self):
        ext, mode, rest = self.parse_fault()
        if mode is None:
            return super().do_GET()
        self.path = rest
        path = self.translate_path(rest)
        if not ((ext == 'all' or path.endswith('.' + ext)) and os.path.isfile(path)):
            return super().do_GET()
        if mode in ('404', '500'):
            self.send_error(int(mode))
            return
        with open(path, 'rb') as f:
            data = f.read()
        self.close_connection = True
        self.send_response(200)
        self.send_header('Content-Type', self.guess_type(path))
        self.send_header('Cache-Control', 'no-store')
        if mode in ('drop', 'stall'):
            self.send_header('Content-Length', str(len(data)))
        self.send_header('Connection', 'close')
        self.end_headers()
        try:
            if mode == 'drop':
                self.wfile.write(data[:len(data) // 2])
            elif mode == 'stall':
                self.wfile.write(data[:1024])
                self.wfile.flush()
                # Holds the connection until the page gives up (or the server stops).
                for _ in range(600):
                    time.sleep(0.1)
                    if self.server.stopping:
                        break
            elif mode == 'nolength-cut':
                self.wfile.write(data[:len(data) // 2])
            elif mode == 'slow':
                for at in range(0, len(data), 65536):
                    self.wfile.write(data[at:at + 65536])
                    self.wfile.flush()
                    time.sleep(0.01)
            else:
                self.wfile.write(data)
        except (BrokenPipeError, ConnectionResetError):
            pass


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--port', type=int, default=0)
    p.add_argument('dir')
    a = p.parse_args()
    server = serve.make_server(a.dir, a.port, '127.0.0.1', False, FaultHandler)
    server.stopping = False
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.stopping = True


if __name__ == '__main__':
    sys.exit(main())
