#!/usr/bin/env python3
"""A small HTTP forward proxy for tests: the office network's way out.

Takes requests in absolute form ("POST http://host:port/path HTTP/1.1") on a
loopback port and forwards them over plain HTTP, adding a "Via" header, so
the server can tell which uploads came through it. Host names given with
--map are resolved by the proxy alone, standing in for names that only the
office's proxy can reach. Tunnels (CONNECT) are not offered. Requests in
origin form are for the proxy itself: "POST /shutdown" stops it. Python
standard library only; the port file, daemon and stop options are the
collection server's (see tools/collection_server/README.md).
"""

import argparse
import http.client
import http.server
import os
import sys
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "collection_server"))
import collection_server  # noqa: E402

VIA = "1.1 forward_proxy"
# Headers that belong to one connection and are not passed on.
HOP_BY_HOP = {"connection", "proxy-connection", "keep-alive",
              "proxy-authorization", "proxy-authenticate", "te", "trailer",
              "transfer-encoding", "upgrade", "expect"}
UPSTREAM_TIMEOUT_SECONDS = 30


class ForwardProxy(collection_server.LoopbackServer):
    def __init__(self, address, names, log):
        super().__init__(address, Handler, log)
        self.names = names


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):
        self.server.write_log(format % args)

    def answer(self, status, text):
        data = text.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length > 0 else None

    def do_CONNECT(self):
        self.close_connection = True
        self.answer(501, "tunnels are not offered\n")

    def handle_any(self):
        body = self.read_body()
        target = urllib.parse.urlsplit(self.path)
        if not target.scheme:
            if self.command == "POST" and self.path == "/shutdown":
                self.answer(200, "stopping\n")
                self.server.stop()
            else:
                self.answer(404, "not a proxy request: %s\n" % self.path)
            return
        if target.scheme != "http" or not target.hostname:
            self.answer(400, "only http:// targets are forwarded\n")
            return
        self.forward(target, body)

    def forward(self, target, body):
        host = self.server.names.get(target.hostname.lower(), target.hostname)
        headers = {name: value for name, value in self.headers.items()
                   if name.lower() not in HOP_BY_HOP}
        headers["Via"] = VIA
        path = urllib.parse.urlunsplit(("", "", target.path or "/",
                                        target.query, ""))
        upstream = http.client.HTTPConnection(
            host, target.port or 80, timeout=UPSTREAM_TIMEOUT_SECONDS)
        try:
            upstream.request(self.command, path, body=body, headers=headers)
            reply = upstream.getresponse()
            data = reply.read()
        except OSError as error:
            self.server.write_log("upstream %s failed: %s" % (host, error))
            self.answer(502, "upstream %s: %s\n" % (target.netloc, error))
            return
        finally:
            upstream.close()
        self.send_response(reply.status, reply.reason)
        for name, value in reply.getheaders():
            if name.lower() not in HOP_BY_HOP | {"content-length"}:
                self.send_header(name, value)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Via", VIA)
        self.end_headers()
        self.wfile.write(data)

    do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = handle_any


def parse_names(pairs):
    names = {}
    for pair in pairs:
        name, _, address = pair.partition("=")
        if not name or not address:
            raise ValueError("--map wants NAME=ADDRESS, got %r" % pair)
        names[name.lower()] = address
    return names


def serve(args):
    proxy = ForwardProxy((args.host, args.port), parse_names(args.map),
                         collection_server.open_log(args))
    return collection_server.run_server(proxy, args)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    collection_server.add_server_arguments(parser)
    parser.add_argument("--map", action="append", default=[],
                        metavar="NAME=ADDRESS",
                        help="resolve NAME to ADDRESS (repeatable)")
    args = parser.parse_args(argv)
    if args.stop:
        if not args.port_file:
            parser.error("--stop needs --port-file")
        return collection_server.stop_server(args.port_file)
    try:
        parse_names(args.map)
    except ValueError as error:
        parser.error(str(error))
    if args.daemon:
        return collection_server.daemonize(args, serve)
    return serve(args)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
