#!/usr/bin/env python3
"""Checks the collection server: what it accepts, what it refuses, and how
its control endpoints steer a live server."""

import base64
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import collection_server as cs  # noqa: E402

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                      "collection_server.py")


def gzip_bytes(data):
    compressor = zlib.compressobj(9, zlib.DEFLATED, 31)
    return compressor.compress(data) + compressor.flush()


def encode(batch, wrap=gzip_bytes):
    field = urllib.parse.quote(base64.b64encode(wrap(batch)).decode(),
                               safe="")
    return ("data_list=" + field + "&gzip=1").encode()


class DecodeTest(unittest.TestCase):
    def refused(self, body, reason):
        with self.assertRaises(cs.MalformedUpload) as caught:
            cs.decode_upload(body)
        self.assertIn(reason, str(caught.exception))

    def test_keeps_exact_record_texts(self):
        batch = '[{"a":1.50,"b":"\\u00e9\u00e9"}, {}]'
        text, records = cs.decode_upload(encode(batch.encode()))
        self.assertEqual(text, batch)
        self.assertEqual([raw for _, raw in records],
                         ['{"a":1.50,"b":"\\u00e9\u00e9"}', "{}"])

    def test_refuses_bad_form_shape(self):
        good = encode(b'[{"a":1}]')
        self.refused(good[:-1], '"&gzip=1"')
        self.refused(b"x" + good, '"data_list="')
        self.refused(good + b"&more=1", '"&gzip=1"')
        self.refused(good.replace(b"%2B", b"+").replace(b"%2F", b"/")
                     .replace(b"%3D", b"="), "unencoded")
        self.refused(b"data_list=QUJD%2b&gzip=1", "neither base64")

    def test_refuses_bad_base64_and_gzip(self):
        self.refused(b"data_list=QUJ&gzip=1", "multiple of 4")
        self.refused(encode(b'[{"a":1}]', zlib.compress), "not a gzip")
        self.refused(encode(b'[{"a":1}]', lambda d: gzip_bytes(d)[:-3]),
                     "cut short")
        self.refused(encode(b'[{"a":1}]', lambda d: gzip_bytes(d) + b"\0"),
                     "after the gzip")

    def test_refuses_bad_json(self):
        self.refused(encode(b'{"a":1}'), "not a JSON array")
        self.refused(encode(b'[{"a":1},2]'), "record 2 is not a JSON object")
        self.refused(encode(b'[{"a":NaN}]'), "not valid JSON")
        self.refused(encode(b'[{"a":1}] x'), "after the JSON array")
        self.refused(encode(b'[{"a":1}{"b":2}]'), "expected , or ]")
        self.refused(encode(b'["\xff"]'), "not UTF-8")


class LiveServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.port_file = os.path.join(cls.folder.name, "port")
        cls.records = os.path.join(cls.folder.name, "records.jsonl")
        cls.process = subprocess.Popen(
            [sys.executable, SCRIPT, "--port-file", cls.port_file,
             "--records", cls.records, "--quiet"])
        deadline = time.monotonic() + 10
        while not os.path.exists(cls.port_file):
            if time.monotonic() > deadline:
                raise RuntimeError("server did not start")
            time.sleep(0.05)
        cls.port = cs.read_port_file(cls.port_file)

    @classmethod
    def tearDownClass(cls):
        cs.stop_server(cls.port_file)
        cls.process.wait(10)
        cls.folder.cleanup()

    def call(self, path, data=None, timeout=5):
        url = "http://127.0.0.1:%d%s" % (self.port, path)
        try:
            with urllib.request.urlopen(url, data, timeout) as reply:
                return reply.status, reply.read().decode()
        except urllib.error.HTTPError as error:
            return error.code, error.read().decode()

    def test_countdown_and_channels(self):
        body = encode(b'[{"n":1}]')
        self.assertEqual(self.call("/a/control",
                                   b'{"status":503,"body":"busy","times":2}')[0],
                         200)
        self.assertEqual(self.call("/a/collect", body), (503, "busy"))
        self.assertEqual(self.call("/b/collect", body), (200, "ok"))
        self.assertEqual(self.call("/a/collect", body), (503, "busy"))
        self.assertEqual(self.call("/a/x/y", body), (200, "ok"))
        self.assertEqual(self.call("/a/records"), (200, '{"n":1}\n'))
        self.assertIn("refused 2\n", self.call("/a/stats")[1])
        self.assertEqual(self.call("/a/reset", b"")[0], 200)
        self.assertEqual(self.call("/a/records"), (200, ""))
        self.assertEqual(self.call("/b/batches"), (200, '[{"n":1}]\n'))
        with open(self.records) as kept:
            self.assertEqual(kept.read(), '{"n":1}\n{"n":1}\n')

    def test_bad_control_is_refused(self):
        for settings in (b'{"status":99}', b'{"delay":-1}', b'{"x":1}',
                         b'[1]', b'{"times":0}', b'{"drop":1}'):
            self.assertEqual(self.call("/c/control", settings)[0], 400,
                             settings)

    def test_drop_and_abandon(self):
        body = encode(b'[{"n":2}]')
        self.call("/d/control", b'{"drop":true,"times":1}')
        request = (b"POST /d/collect HTTP/1.1\r\nHost: x\r\n"
                   b"Content-Length: %d\r\n\r\n%s" % (len(body), body))
        with socket.create_connection(("127.0.0.1", self.port), 5) as s:
            s.sendall(request)
            self.assertEqual(s.recv(100), b"")
        self.call("/d/control", b'{"delay":0.5,"times":1}')
        with socket.create_connection(("127.0.0.1", self.port), 5) as s:
            s.sendall(request)
        time.sleep(1.0)
        stats = self.call("/d/stats")[1]
        self.assertIn("dropped 1\n", stats)
        self.assertIn("abandoned 1\n", stats)
        self.assertIn("records 0\n", stats)

    def test_refuse_marker_store_drop_and_endless(self):
        good, bad = encode(b'[{"n":3}]'), encode(b'[{"n":4,"x":"BAD"}]')
        self.call("/e/control", b'{"refuse_marker":"BAD"}')
        self.assertEqual(self.call("/e/collect", bad),
                         (400, "refused record holding BAD\n"))
        self.assertEqual(self.call("/e/collect", good), (200, "ok"))
        self.call("/e/control", b'{"store_drop":true,"times":1}')
        with self.assertRaises(Exception):
            self.call("/e/collect", encode(b'[{"n":5}]'))
        self.assertEqual(self.call("/e/records"),
                         (200, '{"n":3}\n{"n":5}\n'))
        self.call("/e/control", b'{"status":500,"endless":true,"times":1}')
        request = (b"POST /e/collect HTTP/1.1\r\nHost: x\r\n"
                   b"Content-Length: %d\r\n\r\n%s" % (len(good), good))
        with socket.create_connection(("127.0.0.1", self.port), 5) as s:
            s.sendall(request)
            received = 0
            while received < 1 << 20:
                received += len(s.recv(65536))
        self.assertGreaterEqual(received, 1 << 20)


if __name__ == "__main__":
    unittest.main()
