#!/usr/bin/env python3
"""Prints what a tools/demo run did and judges it.

    demo_report.py --transcript FILE --records FILE --exit-code N
                   --screenshot PNG --seconds S [--log FILE]

Prints, in order: the steps of the scripted user interface (from its
transcript), each channel reply, each record the collection server accepted,
and a one-line summary. Exits 0 when the run succeeded: the program exited
with 0, every channel call was answered with success, "flush" answered true,
the server received records and the screenshot exists.
"""
import argparse
import json
import os
import struct
import sys

# What a step's result can start with when the step sent a channel message.
REPLY_STARTS = ("success", "error ", "not-implemented", "no-handler",
                "no-reply", "engine-ended", "bad-value", "undecodable")


def split_reply(line):
    """(step, reply) of a "method ..." transcript line; reply None if absent."""
    start = 0
    while True:
        arrow = line.find(" -> ", start)
        if arrow < 0:
            return line, None
        if line[arrow + 4:].startswith(REPLY_STARTS):
            return line[:arrow], line[arrow + 4:]
        start = arrow + 1


def read_lines(path):
    try:
        with open(path, "rb") as source:
            text = source.read().decode("utf-8", errors="replace")
    except OSError:
        return []
    return [line.rstrip("\r") for line in text.split("\n") if line.strip()]


def png_size(path):
    try:
        with open(path, "rb") as source:
            head = source.read(24)
    except OSError:
        return None
    if len(head) < 24 or head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", head[16:24])


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--transcript", required=True)
    parser.add_argument("--records", required=True)
    parser.add_argument("--exit-code", type=int, required=True)
    parser.add_argument("--screenshot", required=True)
    parser.add_argument("--seconds", type=float, required=True)
    parser.add_argument("--log")
    args = parser.parse_args(argv)

    # The stand-in plugin libraries write their registrations into the same
    # transcript: what the host did, told in one line.
    lines = read_lines(args.transcript)
    plugins = [line.split()[2] for line in lines
               if line.startswith("plugin register ") and
               len(line.split()) > 2]
    transcript = [line for line in lines if not line.startswith("plugin ")]
    print("== What the user interface did (%d transcript lines) ==" %
          len(transcript))
    if plugins:
        print("  (before it started, the host registered %d plugin libraries: "
              "%s)" % (len(plugins), ", ".join(plugins)))
    replies = []
    for line in transcript:
        if line.startswith("method "):
            step, reply = split_reply(line)
            words = step.split(" ", 3)
            replies.append((" ".join(words[1:3]), reply))
            print("  " + step + ("" if reply is None else "   [reply below]"))
        else:
            print("  " + line)

    print()
    print("== Channel replies (%d) ==" % len(replies))
    replies_ok = 0
    flush_reply = None
    for call, reply in replies:
        ok = reply is not None and reply.startswith("success")
        replies_ok += ok
        if call == "analytics_plugin flush":
            flush_reply = reply
        print("  %-4s %-31s -> %s" % ("ok" if ok else "FAIL", call,
                                       reply if reply is not None else
                                       "(no reply)"))

    records = []
    for line in read_lines(args.records):
        try:
            records.append(json.loads(line))
        except ValueError:
            records.append({"type": "(not JSON)", "event": line})
    print()
    print("== Records received by the collection server (%d) ==" %
          len(records))
    for number, record in enumerate(records, 1):
        properties = record.get("properties", {})
        print("  %2d. %-13s %-18s distinct_id=%s" %
              (number, record.get("type", "?"), record.get("event", "-"),
               record.get("distinct_id", "?")))
        print("      properties: " +
              json.dumps(properties, ensure_ascii=False,
                         separators=(", ", ": ")))

    size = png_size(args.screenshot)
    print()
    print("== Screenshot ==")
    if size is not None:
        print("  %s (%d x %d)" % (os.path.abspath(args.screenshot), size[0],
                                  size[1]))
    else:
        print("  none was written")
    if args.log:
        print("  program output (%d lines, with the analytics plugin's log): "
              "%s" % (len(read_lines(args.log)), os.path.abspath(args.log)))

    problems = []
    if args.exit_code != 0:
        problems.append("exit code %d" % args.exit_code)
    if not transcript or transcript[-1] != "end":
        problems.append("scenario did not finish")
    if replies_ok != len(replies):
        problems.append("%d failed replies" % (len(replies) - replies_ok))
    if flush_reply != "success true":
        problems.append("flush answered %s" % (flush_reply or "nothing"))
    if not records:
        problems.append("no records received")
    if size is None:
        problems.append("no screenshot")
    print()
    print("demo: %d records received, %d/%d channel replies ok, flush %s, "
          "exit code %d, %.1f s: %s" %
          (len(records), replies_ok, len(replies),
           "true" if flush_reply == "success true" else "NOT true",
           args.exit_code, args.seconds,
           "OK" if not problems else "FAILED (" + ", ".join(problems) + ")"))
    return 0 if not problems else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
