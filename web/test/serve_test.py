#!/usr/bin/env python3
"""The project's server (scripts/web/serve.py): gzip only for browsers that take it and only for
what shrinks, a build's FILE.gz preferred while it is not older than FILE, revalidation (ETag,
Last-Modified, 304) instead of no-store. Runs a server on a free port over a temporary folder."""
import gzip
import http.client
import importlib.util
import os
import shutil
import tempfile
import threading
import unittest

_here = os.path.dirname(os.path.abspath(__file__))
_spec = importlib.util.spec_from_file_location('serve', os.path.join(_here, '..', '..', 'scripts', 'web', 'serve.py'))
serve = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(serve)

WASM = bytes(range(256)) * 64 + b'\0' * 50000  # shrinks a lot
OGG = os.urandom(30000)  # does not shrink, and is not of a compressible type anyway


class ServeTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix='vk-serve-')
        for name, data in (('a.wasm', WASM), ('a.ogg', OGG), ('b.js', b'x' * 5000)):
            with open(os.path.join(cls.dir, name), 'wb') as f:
                f.write(data)
        cls.server = serve.make_server(cls.dir, 0, '127.0.0.1', False)
        cls.thread = threading.Thread(target=cls.server.serve_forever, daemon=True)
        cls.thread.start()

    @classmethod
    def tearDownClass(cls):
        cls.server.shutdown()
        cls.server.server_close()
        cls.thread.join()
        shutil.rmtree(cls.dir)

    def get(self, path, headers=None):
        c = http.client.HTTPConnection('127.0.0.1', self.server.server_address[1], timeout=10)
        c.request('GET', path, headers=headers or {})
        r = c.getresponse()
        body = r.read()
        c.close()
        return r, body

    def test_gzip_only_when_accepted_and_smaller(self):
        r, body = self.get('/a.wasm', {'Accept-Encoding': 'gzip, deflate, br'})
        self.assertEqual(r.status, 200)
        self.assertEqual(r.getheader('Content-Encoding'), 'gzip')
        self.assertEqual(int(r.getheader('Content-Length')), len(body))
        self.assertEqual(gzip.decompress(body), WASM)
        self.assertEqual(r.getheader('Content-Type'), 'application/wasm')
        self.assertEqual(r.getheader('Vary'), 'Accept-Encoding')

        r, body = self.get('/a.wasm')  # no Accept-Encoding
        self.assertIsNone(r.getheader('Content-Encoding'))
        self.assertEqual(body, WASM)
        r, body = self.get('/a.wasm', {'Accept-Encoding': 'gzip;q=0'})
        self.assertIsNone(r.getheader('Content-Encoding'))

        r, body = self.get('/a.ogg', {'Accept-Encoding': 'gzip'})
        self.assertIsNone(r.getheader('Content-Encoding'))
        self.assertEqual(body, OGG)

    def test_precompressed_file_is_sent_while_current(self):
        path = os.path.join(self.dir, 'b.js')
        marker = gzip.compress(b'precompressed')
        with open(path + '.gz', 'wb') as f:
            f.write(marker)
        try:
            st = os.stat(path)
            os.utime(path + '.gz', ns=(st.st_atime_ns, st.st_mtime_ns + 10**9))
            r, body = self.get('/b.js', {'Accept-Encoding': 'gzip'})
            self.assertEqual(body, marker)
            # A .gz older than its file is stale: the file is compressed afresh.
            os.utime(path + '.gz', ns=(st.st_atime_ns, st.st_mtime_ns - 10**9))
            r, body = self.get('/b.js', {'Accept-Encoding': 'gzip'})
            self.assertEqual(gzip.decompress(body), b'x' * 5000)
        finally:
            os.remove(path + '.gz')

    def test_revalidation_instead_of_no_store(self):
        r, _ = self.get('/a.ogg')
        self.assertEqual(r.getheader('Cache-Control'), 'no-cache')
        etag, modified = r.getheader('ETag'), r.getheader('Last-Modified')
        self.assertTrue(etag and modified)
        r, body = self.get('/a.ogg', {'If-None-Match': etag})
        self.assertEqual((r.status, body), (304, b''))
        self.assertEqual(r.getheader('ETag'), etag)
        r, body = self.get('/a.ogg', {'If-Modified-Since': modified})
        self.assertEqual(r.status, 304)
        # The gzip variant has a tag of its own: a cache never mixes the two bodies.
        r, _ = self.get('/a.wasm', {'Accept-Encoding': 'gzip'})
        r2, body = self.get('/a.wasm', {'If-None-Match': r.getheader('ETag')})
        self.assertEqual(r2.status, 200)
        self.assertEqual(body, WASM)

    def test_missing_file_and_outside_paths(self):
        r, _ = self.get('/no-such.wasm')
        self.assertEqual(r.status, 404)
        r, body = self.get('/../' + os.path.basename(self.dir) + '/a.ogg')
        self.assertIn(r.status, (200, 404))  # resolved inside the folder, never above it
        if r.status == 200:
            self.assertEqual(body, OGG)


if __name__ == '__main__':
    unittest.main()
