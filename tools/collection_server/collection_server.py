#!/usr/bin/env python3
"""A local stand-in for the analytics collection service.

Accepts the batch uploads of the analytics SDK over HTTP/1.1 on a loopback
port, decodes every body (form field, percent, base64, gzip, JSON array),
refuses malformed ones with status 400, and keeps the records it accepted.
Tests steer its answers (status, delay, dropped connection, refusal of
records holding a marker, an endless answer body) through control endpoints
on the same port. Python standard library only.

Every path is "/<channel>/<rest>"; state and behaviour are kept per channel,
so concurrent tests sharing one server never see each other's uploads. A path
with a single segment belongs to the channel "default". See README.md.
"""

import argparse
import base64
import binascii
import http.server
import json
import os
import re
import select
import signal
import socket
import sys
import threading
import time
import urllib.parse
import zlib

COMMANDS = {"control", "reset", "records", "batches", "requests", "stats"}
DEFAULT_CHANNEL = "default"
ACCEPTED_BODY = "ok"

# The only characters the encoded field may hold: base64 letters and digits,
# and the percent forms of "+", "/" and "=". Anything else means the client
# skipped or botched a step.
FIELD_PATTERN = re.compile(r"(?:[A-Za-z0-9]|%2B|%2F|%3D)*")


class MalformedUpload(Exception):
    pass


def _skip_ws(text, i):
    while i < len(text) and text[i] in " \t\r\n":
        i += 1
    return i


def _reject_constant(name):
    raise ValueError("non-JSON constant " + name)


def split_json_array(text):
    """Returns [(record_object, exact_record_text)] of a JSON array text."""
    decoder = json.JSONDecoder(parse_constant=_reject_constant)
    i = _skip_ws(text, 0)
    if i >= len(text) or text[i] != "[":
        raise MalformedUpload("batch is not a JSON array")
    i = _skip_ws(text, i + 1)
    records = []
    if i < len(text) and text[i] == "]":
        i += 1
    else:
        while True:
            try:
                value, end = decoder.raw_decode(text, i)
            except ValueError as error:
                raise MalformedUpload("batch is not valid JSON: %s" % error)
            if not isinstance(value, dict):
                raise MalformedUpload(
                    "record %d is not a JSON object" % (len(records) + 1))
            records.append((value, text[i:end]))
            i = _skip_ws(text, end)
            if i < len(text) and text[i] == ",":
                i = _skip_ws(text, i + 1)
                continue
            if i < len(text) and text[i] == "]":
                i += 1
                break
            raise MalformedUpload("batch is not valid JSON: expected , or ]")
    if _skip_ws(text, i) != len(text):
        raise MalformedUpload("text after the JSON array")
    return records


def decode_upload(body):
    """Decodes an upload body; returns (batch_text, [(record, text)])."""
    try:
        body_text = body.decode("ascii")
    except UnicodeDecodeError:
        raise MalformedUpload("body holds non-ASCII bytes")
    if not body_text.startswith("data_list="):
        raise MalformedUpload('body does not begin with "data_list="')
    if not body_text.endswith("&gzip=1"):
        raise MalformedUpload('body does not end with "&gzip=1"')
    field = body_text[len("data_list="):-len("&gzip=1")]
    if not FIELD_PATTERN.fullmatch(field):
        for raw in "+/=&":
            if raw in field:
                raise MalformedUpload(
                    'data_list holds an unencoded "%s"' % raw)
        raise MalformedUpload(
            "data_list holds a character that is neither base64 nor "
            "%2B, %2F, %3D")
    encoded = urllib.parse.unquote(field)
    if len(encoded) % 4 != 0:
        raise MalformedUpload("base64 text length is not a multiple of 4")
    try:
        compressed = base64.b64decode(encoded, validate=True)
    except (binascii.Error, ValueError) as error:
        raise MalformedUpload("data_list is not base64: %s" % error)
    if compressed[:2] != b"\x1f\x8b":
        raise MalformedUpload("data_list is not a gzip stream")
    inflater = zlib.decompressobj(wbits=31)
    try:
        raw = inflater.decompress(compressed)
    except zlib.error as error:
        raise MalformedUpload("gzip stream is corrupt: %s" % error)
    if not inflater.eof:
        raise MalformedUpload("gzip stream is cut short")
    if inflater.unused_data:
        raise MalformedUpload("bytes after the gzip stream")
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError:
        raise MalformedUpload("batch is not UTF-8")
    return text, split_json_array(text)


def one_line(record, text):
    # Record texts sit one per line in listings; JSON strings cannot hold a
    # raw line break, so only inter-token white space needs flattening.
    if "\n" in text or "\r" in text:
        return json.dumps(record, ensure_ascii=False, separators=(",", ":"))
    return text


class Behaviour:
    FIELDS = ("status", "body", "delay", "drop", "times", "store_drop",
              "refuse_marker", "endless")

    def __init__(self, status=200, body=None, delay=0.0, drop=False,
                 times=None, store_drop=False, refuse_marker=None,
                 endless=False):
        self.status = status
        self.body = body
        self.delay = delay
        self.drop = drop
        self.times = times
        # Keep the records, then close the connection without an answer.
        self.store_drop = store_drop
        # Refuse (400) every batch holding a record with this text in it.
        self.refuse_marker = refuse_marker
        # Answer the status with a body that never ends (until the client
        # hangs up).
        self.endless = endless

    @classmethod
    def from_json(cls, settings, base):
        if not isinstance(settings, dict):
            raise ValueError("control body must be a JSON object")
        unknown = set(settings) - set(cls.FIELDS)
        if unknown:
            raise ValueError("unknown control keys: " +
                             ", ".join(sorted(unknown)))
        status = settings.get("status", base.status)
        if (not isinstance(status, int) or isinstance(status, bool) or
                not 200 <= status <= 599):
            raise ValueError("status must be an integer from 200 to 599")
        body = settings.get("body", base.body)
        if body is not None and not isinstance(body, str):
            raise ValueError("body must be a string")
        delay = settings.get("delay", base.delay)
        if (not isinstance(delay, (int, float)) or isinstance(delay, bool) or
                delay < 0):
            raise ValueError("delay must be a number of seconds >= 0")
        drop = settings.get("drop", base.drop)
        if not isinstance(drop, bool):
            raise ValueError("drop must be true or false")
        times = settings.get("times")
        if times is not None and (not isinstance(times, int) or
                                  isinstance(times, bool) or times < 1):
            raise ValueError("times must be a positive integer or null")
        store_drop = settings.get("store_drop", base.store_drop)
        endless = settings.get("endless", base.endless)
        if not isinstance(store_drop, bool) or not isinstance(endless, bool):
            raise ValueError("store_drop and endless must be true or false")
        marker = settings.get("refuse_marker", base.refuse_marker)
        if marker is not None and (not isinstance(marker, str) or not marker):
            raise ValueError("refuse_marker must be a non-empty string")
        return cls(status, body, float(delay), drop, times, store_drop,
                   marker, endless)

    def to_json(self):
        return {name: getattr(self, name) for name in self.FIELDS}


class Channel:
    def __init__(self, default_behaviour):
        self.default_behaviour = default_behaviour
        self.behaviour = default_behaviour
        self.records = []
        self.batches = []
        self.requests = []
        self.counts = dict(uploads=0, accepted=0, refused=0, malformed=0,
                           dropped=0, abandoned=0, records=0)

    def take_behaviour(self):
        """The behaviour for this upload; counts down a limited one."""
        current = self.behaviour
        if current.times is not None:
            if current.times <= 1:
                self.behaviour = self.default_behaviour
            else:
                self.behaviour = Behaviour(current.status, current.body,
                                           current.delay, current.drop,
                                           current.times - 1,
                                           current.store_drop,
                                           current.refuse_marker,
                                           current.endless)
        return current


class LoopbackServer(http.server.ThreadingHTTPServer):
    """A threading server that stops on request and writes a timed log."""
    daemon_threads = True
    request_queue_size = 64

    def __init__(self, address, handler, log):
        super().__init__(address, handler)
        self.log = log
        self.stopping = threading.Event()

    def stop(self):
        self.stopping.set()
        threading.Thread(target=self.shutdown, daemon=True).start()

    def write_log(self, text):
        if self.log is not None:
            self.log.write("%s %s\n" % (time.strftime("%H:%M:%S"), text))
            self.log.flush()


class CollectionServer(LoopbackServer):
    def __init__(self, address, default_behaviour, records_path, log):
        super().__init__(address, Handler, log)
        self.default_behaviour = default_behaviour
        self.records_path = records_path
        self.lock = threading.Lock()
        self.channels = {}

    def channel(self, name):
        # Called with the lock held.
        if name not in self.channels:
            self.channels[name] = Channel(self.default_behaviour)
        return self.channels[name]


def client_gone(sock):
    """True when the client has closed its end (read side shows EOF)."""
    try:
        readable, _, _ = select.select([sock], [], [], 0)
        if not readable:
            return False
        return sock.recv(1, socket.MSG_PEEK) == b""
    except OSError:
        return True


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QuillonCollectionServer/1"

    def log_message(self, format, *args):
        self.server.write_log("%s %s" % (self.address_string(),
                                         format % args))

    def route(self):
        path = urllib.parse.urlsplit(self.path).path
        segments = [s for s in path.split("/") if s]
        if len(segments) >= 2:
            return segments[0], segments[1:]
        return DEFAULT_CHANNEL, segments

    def read_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            chunks = []
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip(), 16)
                if size == 0:
                    while self.rfile.readline().strip():
                        pass
                    break
                chunks.append(self.rfile.read(size))
                self.rfile.readline()
            return b"".join(chunks)
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length > 0 else b""

    def answer(self, status, text, content_type="text/plain; charset=utf-8"):
        data = text.encode("utf-8")
        self.send_response(status)
        if status == 204:
            # A 204 answer has no body and no length.
            data = b""
        else:
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if data:
            self.wfile.write(data)

    def do_GET(self):
        channel_name, rest = self.route()
        command = rest[0] if len(rest) == 1 else None
        with self.server.lock:
            channel = self.server.channel(channel_name)
            if command == "records":
                text = "".join(line + "\n" for line in channel.records)
            elif command == "batches":
                text = "".join(line + "\n" for line in channel.batches)
            elif command == "requests":
                text = "".join(json.dumps(entry, ensure_ascii=False) + "\n"
                               for entry in channel.requests)
            elif command == "stats":
                text = "".join("%s %d\n" % item
                               for item in channel.counts.items())
            elif command == "control":
                text = json.dumps(channel.behaviour.to_json()) + "\n"
            else:
                text = None
        if text is None:
            self.answer(404, "unknown path %s\n" % self.path)
        else:
            self.answer(200, text)

    def do_POST(self):
        try:
            body = self.read_body()
        except (ValueError, OSError) as error:
            self.close_connection = True
            self.answer(400, "unreadable request body: %s\n" % error)
            return
        channel_name, rest = self.route()
        if rest == ["shutdown"]:
            self.answer(200, "stopping\n")
            self.server.stop()
            return
        if len(rest) == 1 and rest[0] in COMMANDS:
            self.run_command(channel_name, rest[0], body)
        else:
            self.upload(channel_name, body)

    def run_command(self, channel_name, command, body):
        if command == "reset":
            with self.server.lock:
                self.server.channels.pop(channel_name, None)
            self.answer(200, "ok\n")
            return
        if command != "control":
            self.answer(405, "use GET for /%s\n" % command)
            return
        try:
            settings = json.loads(body.decode("utf-8") or "{}")
            with self.server.lock:
                channel = self.server.channel(channel_name)
                channel.behaviour = Behaviour.from_json(
                    settings, channel.default_behaviour)
                text = json.dumps(channel.behaviour.to_json()) + "\n"
        except ValueError as error:
            self.answer(400, "bad control request: %s\n" % error)
            return
        self.answer(200, text)

    def upload(self, channel_name, body):
        try:
            batch, records = decode_upload(body)
            error = None
        except MalformedUpload as problem:
            batch, records, error = None, [], str(problem)

        with self.server.lock:
            behaviour = self.server.channel(channel_name).take_behaviour()

        if behaviour.delay > 0:
            self.server.stopping.wait(behaviour.delay)

        entry = {
            "path": self.path,
            "content_type": self.headers.get("Content-Type"),
            "body_bytes": len(body),
            "records": None if error else len(records),
            "error": error,
            # The client's port tells whether uploads shared a connection.
            "client_port": self.client_address[1],
            # Set by a proxy on the way (tools/forward_proxy adds one).
            "via": self.headers.get("Via"),
        }
        refused_record = (
            error is None and behaviour.refuse_marker is not None and
            any(behaviour.refuse_marker in raw for _, raw in records))
        if behaviour.drop:
            outcome, status, text = "dropped", None, None
        elif behaviour.delay > 0 and client_gone(self.connection):
            outcome, status, text = "abandoned", None, None
        elif error is not None:
            outcome, status = "malformed", 400
            text = "malformed upload: %s\n" % error
        elif refused_record:
            outcome, status = "refused", 400
            text = "refused record holding %s\n" % behaviour.refuse_marker
        elif behaviour.store_drop:
            outcome, status, text = "accepted", None, None
        elif behaviour.status != 200:
            outcome, status = "refused", behaviour.status
            text = behaviour.body if behaviour.body is not None else ""
        else:
            outcome, status = "accepted", 200
            text = (behaviour.body if behaviour.body is not None
                    else ACCEPTED_BODY)
        entry["outcome"] = outcome
        entry["status"] = status

        with self.server.lock:
            channel = self.server.channel(channel_name)
            channel.requests.append(entry)
            channel.counts["uploads"] += 1
            channel.counts[outcome] += 1
            if outcome == "accepted":
                lines = [one_line(record, raw) for record, raw in records]
                flat = "\n" not in batch and "\r" not in batch
                channel.batches.append(
                    batch if flat else "[" + ",".join(lines) + "]")
                channel.records.extend(lines)
                channel.counts["records"] += len(lines)
                if self.server.records_path:
                    with open(self.server.records_path, "a",
                              encoding="utf-8") as out:
                        for line in lines:
                            out.write(line + "\n")
        self.server.write_log("upload on %s: %s%s" % (
            channel_name, outcome, "" if error is None else " (%s)" % error))

        if status is None:
            self.close_connection = True
            return
        if behaviour.endless:
            self.answer_endlessly(status)
            return
        self.answer(status, text)

    def answer_endlessly(self, status):
        """Streams a body without a length until the client hangs up."""
        self.close_connection = True
        self.send_response(status)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Connection", "close")
        self.end_headers()
        chunk = b"endless answer " * 4096
        deadline = time.monotonic() + 120
        try:
            while not self.server.stopping.is_set() and \
                    time.monotonic() < deadline:
                self.wfile.write(chunk)
        except OSError:
            pass


def write_port_file(path, port):
    temporary = path + ".tmp"
    with open(temporary, "w") as out:
        out.write("%d\n" % port)
    os.replace(temporary, path)


def read_port_file(path):
    with open(path) as source:
        return int(source.readline().strip())


def post(port, path, data=b"", timeout=5.0):
    """A minimal HTTP POST to 127.0.0.1; returns (status, body)."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(b"POST %s HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                  b"Content-Length: %d\r\nConnection: close\r\n\r\n%s" %
                  (path.encode(), len(data), data))
        reply = b""
        while True:
            piece = s.recv(65536)
            if not piece:
                break
            reply += piece
    head, _, body = reply.partition(b"\r\n\r\n")
    return int(head.split(b" ")[1]), body


def stop_server(port_file):
    """Stops the server named by a port file; quiet when none is running."""
    try:
        port = read_port_file(port_file)
    except (OSError, ValueError):
        return 0
    try:
        post(port, "/shutdown")
    except OSError:
        pass
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
        except OSError:
            break
        time.sleep(0.05)
    try:
        os.remove(port_file)
    except OSError:
        pass
    return 0


def watch_parent(server):
    parent = os.getppid()
    while not server.stopping.wait(0.5):
        if os.getppid() != parent:
            server.write_log("parent process ended; stopping")
            server.stop()
            return


def open_log(args):
    if args.log:
        return open(args.log, "a", encoding="utf-8")
    return None if args.quiet else sys.stderr


def serve(args):
    behaviour = Behaviour(args.status, args.body, args.delay, args.drop)
    server = CollectionServer((args.host, args.port), behaviour, args.records,
                              open_log(args))
    return run_server(server, args)


def run_server(server, args):
    """Serves until stopped: port file, signals, lifetime, parent watch.

    |server| needs stop(), write_log() and a "stopping" event.
    """
    port = server.server_address[1]
    server.write_log("listening on %s:%d" % (args.host, port))
    if args.port_file:
        write_port_file(args.port_file, port)
    else:
        print(port, flush=True)

    def on_signal(signum, frame):
        server.stop()

    signal.signal(signal.SIGTERM, on_signal)
    if hasattr(signal, "SIGINT"):
        signal.signal(signal.SIGINT, on_signal)
    if args.max_lifetime > 0:
        timer = threading.Timer(args.max_lifetime, server.stop)
        timer.daemon = True
        timer.start()
    if args.exit_with_parent:
        threading.Thread(target=watch_parent, args=(server,),
                         daemon=True).start()
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.stopping.set()
        server.server_close()
        if args.port_file:
            try:
                if read_port_file(args.port_file) == port:
                    os.remove(args.port_file)
            except (OSError, ValueError):
                pass
        server.write_log("stopped")
    return 0


def daemonize(args, serve_function=serve):
    """Starts the server in the background; returns once it listens."""
    if not args.port_file:
        sys.exit("--daemon needs --port-file")
    if not hasattr(os, "fork"):
        sys.exit("--daemon needs a POSIX system")
    stop_server(args.port_file)  # a left-over server of an earlier run
    pid = os.fork()
    if pid == 0:
        os.setsid()
        if os.fork() != 0:
            os._exit(0)
        # Let go of the caller's pipes, or whoever reads them (CTest) would
        # wait for this server to end.
        null = os.open(os.devnull, os.O_RDWR)
        log = os.open(args.log or os.devnull,
                      os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
        os.dup2(null, 0)
        os.dup2(log, 1)
        os.dup2(log, 2)
        os.close(null)
        os.close(log)
        try:
            code = serve_function(args)
        except BaseException:
            import traceback
            traceback.print_exc()
            code = 1
        os._exit(code)
    os.waitpid(pid, 0)
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline:
        try:
            port = read_port_file(args.port_file)
            print("collection server listening on 127.0.0.1:%d" % port)
            return 0
        except (OSError, ValueError):
            time.sleep(0.05)
    print("collection server did not start; see %s" % (args.log or "its log"),
          file=sys.stderr)
    return 1


def add_server_arguments(parser):
    """The options of run_server, daemonize and stop_server."""
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0,
                        help="0 picks a free port (the default)")
    parser.add_argument("--port-file",
                        help="write the port here once listening (without "
                        "it, the port is printed on standard output)")
    parser.add_argument("--log", help="log file (default: standard error)")
    parser.add_argument("--quiet", action="store_true",
                        help="no log on standard error")
    parser.add_argument("--max-lifetime", type=float, default=0,
                        help="stop after this many seconds (0: never)")
    parser.add_argument("--exit-with-parent", action="store_true",
                        help="stop when the starting process ends")
    parser.add_argument("--daemon", action="store_true",
                        help="run in the background; return once listening")
    parser.add_argument("--stop", action="store_true",
                        help="stop the server named by --port-file")


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    add_server_arguments(parser)
    parser.add_argument("--records",
                        help="append every accepted record here, one JSON "
                        "text per line")
    parser.add_argument("--status", type=int, default=200,
                        help="default answer to well-formed uploads")
    parser.add_argument("--body", default=None,
                        help="default response body for uploads")
    parser.add_argument("--delay", type=float, default=0.0,
                        help="default seconds to wait before answering")
    parser.add_argument("--drop", action="store_true",
                        help="by default close upload connections unanswered")
    args = parser.parse_args(argv)
    if not 200 <= args.status <= 599:
        parser.error("--status must be from 200 to 599")
    if args.stop:
        if not args.port_file:
            parser.error("--stop needs --port-file")
        return stop_server(args.port_file)
    if args.daemon:
        return daemonize(args)
    return serve(args)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
