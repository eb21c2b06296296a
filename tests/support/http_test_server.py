#!/usr/bin/python3
"""HTTP server for tests, on 127.0.0.1 only.

Serves the files of one folder and, for paths named in a routes file, scripted
answers: any status, redirects, missing or false Content-Length, chunked
bodies, bodies cut off, stalled or trickling
part-way, ranges, generated bodies of any size and raw bytes instead of an
HTTP answer. The routes file is read again for every
request, so a test can change the script while the server runs.

Routes file (JSON): {"/path": {"generation": N, "replies": [reply, ...]}}.
Requests to a path take its replies in turn; the last one then repeats. A new
generation starts the turn again. Reply keys, all optional:
  status          int, default 200
  body            text whose code points 0-255 are the body bytes
  generate        int: that many pattern bytes (byte i is i % 251)
  file            body from this file, relative to the served folder
  location        value of a Location header
  framing         "length" (default), "none" (end by closing) or "chunked"
  content_length  int: announce this instead of the real size
  stall_after     int: send this many body bytes, then hold the connection
  stall_headers   true: send nothing at all and hold the connection
  endless_headers seconds: a status line, then 1 KB header lines for ever,
                  this far apart
  cut_after       int: send this many body bytes, then close the connection
  trickle         seconds: send the body one byte at a time, this far apart
  ranges          true: answer "Range: bytes=N-" with a 206 for the rest from
                  N (416 past the end), unless an If-Range names neither the
                  ETag nor the Last-Modified of "headers"
  range_first     int: answer 206 with the rest from this byte, whatever was
                  asked
  raw             text sent verbatim instead of an HTTP answer, then close
  headers         {"Name": "value"}
  on_kept         "408" or "close": a request that arrives on a connection
                  which already served one gets, instead of this reply and
                  without taking a turn, a 408 and the close, or the close
                  without a byte, as from a server whose idle time-out passed

As a proxy it takes requests for absolute URLs, scripted by the URL, and
CONNECT requests, scripted by their host:port; it forwards nothing.

Each request is appended to the log file as a "METHOD target" line, followed
by " (Range)" when it asked for a range.
Prints "ready <port>" once it listens and ends on SIGTERM, or reports and ends
as test_server_control.py describes.
"""

import argparse
import http.server
import json
import os
import re
import socketserver
import ssl
import sys
import threading
import time

import test_server_control

PATTERN_PERIOD = 251
_PATTERN = bytes(i % PATTERN_PERIOD for i in range(PATTERN_PERIOD * 1024))
_PATTERN_SLICE = len(_PATTERN) - PATTERN_PERIOD
HOLD_SECONDS = 600
IDLE_BODY = b"idle too long\n"


def pattern_bytes(offset, size):
    """The generated body's bytes [offset, offset + size), size <= _PATTERN_SLICE."""
    start = offset % PATTERN_PERIOD
    return _PATTERN[start:start + size]


class Body:
    """A body source that yields pieces without holding the whole body."""

    def __init__(self, size, reader, handle=None):
        self.size = size
        self._reader = reader
        self.handle = handle  # an open file when the body is one, for sendfile

    def pieces(self, start, end, size=65536):
        """The bytes [start, end) in pieces of at most `size`."""
        if self.handle is not None:
            self.handle.seek(start)
        sent = start
        while sent < end:
            piece = self._reader(sent, min(end - sent, size))
            if not piece:
                return
            sent += len(piece)
            yield piece


def text_bytes(text):
    return text.encode("latin-1")


class State:
    def __init__(self, root, routes, log):
        self.root = os.path.realpath(root) if root else None
        self.routes_path = routes
        self.log_path = log
        self.lock = threading.Lock()
        self.turns = {}  # path -> (generation, requests seen)

    def log(self, line):
        if not self.log_path:
            return
        with self.lock, open(self.log_path, "a", encoding="utf-8") as f:
            f.write(line + "\n")

    def scripted_reply(self, target, kept=False):
        if not self.routes_path or not os.path.exists(self.routes_path):
            return None
        with open(self.routes_path, encoding="utf-8") as f:
            routes = json.load(f)
        path = target if target in routes else target.split("?", 1)[0]
        route = routes.get(path)
        if route is None:
            return None
        replies = route["replies"]
        with self.lock:
            generation, seen = self.turns.get(path, (None, 0))
            if generation != route.get("generation"):
                seen = 0
            reply = replies[min(seen, len(replies) - 1)]
            if kept and "on_kept" in reply:
                # The turn stays for the request sent again.
                return {"timed_out": reply["on_kept"]}
            self.turns[path] = (route.get("generation"), seen + 1)
        return reply

    def local_file(self, target):
        if self.root is None:
            return None
        relative = target.split("?", 1)[0].lstrip("/")
        path = os.path.realpath(os.path.join(self.root, relative))
        if path != self.root and not path.startswith(self.root + os.sep):
            return None
        return path if os.path.isfile(path) else None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TestServer/1.0"
    sys_version = ""
    served = 0  # requests answered on this connection so far

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass

    def do_GET(self):
        self.answer(send_body=True)

    def do_HEAD(self):
        self.answer(send_body=False)

    def do_CONNECT(self):
        # As a proxy asked for a tunnel to the host:port of the path, which is
        # scripted like any path: it never opens one.
        self.close_connection = True
        self.answer(send_body=True)

    def answer(self, send_body):
        state = self.server.state
        state.log(f"{self.command} {self.path}" + (" (Range)" if "Range" in self.headers else ""))
        reply = state.scripted_reply(self.path, kept=self.served > 0)
        self.served += 1
        if reply is None:
            path = state.local_file(self.path)
            if path is None:
                reply = {"status": 404, "body": "not found\n"}
            else:
                reply = {"file_path": path}
        self.send_reply(reply, send_body)

    def body_of(self, reply):
        if "generate" in reply:
            return Body(int(reply["generate"]), pattern_bytes)
        path = reply.get("file_path")
        if "file" in reply:
            path = self.server.state.local_file("/" + reply["file"])
            if path is None:
                raise FileNotFoundError(reply["file"])
        if path is not None:
            size = os.path.getsize(path)
            handle = open(path, "rb")
            return Body(size, lambda offset, n: handle.read(n), handle)
        data = text_bytes(reply.get("body", ""))
        return Body(len(data), lambda offset, n: data[offset:offset + n])

    def hold(self):
        # Keep the connection open without sending; the client must give up.
        time.sleep(HOLD_SECONDS)
        self.close_connection = True

    def send_reply(self, reply, send_body):
        if "timed_out" in reply:
            self.close_connection = True
            if reply["timed_out"] == "408":
                self.send_response(408)
                self.send_header("Content-Length", str(len(IDLE_BODY)))
                self.send_header("Connection", "close")
                self.end_headers()
                if send_body:
                    self.wfile.write(IDLE_BODY)
                self.wfile.flush()
            return
        if reply.get("stall_headers"):
            self.hold()
            return
        if "endless_headers" in reply:
            self.send_endless_headers(float(reply["endless_headers"]))
            return
        if "raw" in reply:
            self.wfile.write(text_bytes(reply["raw"]))
            self.wfile.flush()
            self.close_connection = True
            return
        body = self.body_of(reply)
        try:
            self.send_answer(reply, body, send_body)
        finally:
            if body.handle is not None:
                body.handle.close()

    def send_endless_headers(self, pause):
        self.close_connection = True
        self.wfile.write(b"HTTP/1.1 200 OK\r\n")
        filler = b"a" * 1000
        line = 0
        try:
            while True:
                # Names of their own, which no client can fold into one.
                self.wfile.write(b"X-Filler-%d: %s\r\n" % (line, filler))
                line += 1
                if pause:
                    self.wfile.flush()
                    time.sleep(pause)
        except (BrokenPipeError, ConnectionResetError):
            return  # the client has given up

    def range_first(self, reply):
        """The first byte of the range to answer with a 206; None for the
        whole body."""
        if "range_first" in reply:
            return int(reply["range_first"])
        match = re.fullmatch(r"bytes=(\d+)-", self.headers.get("Range", "").strip())
        if not reply.get("ranges") or not match:
            return None
        if_range = self.headers.get("If-Range")
        validators = [value for name, value in reply.get("headers", {}).items()
                      if name.lower() in ("etag", "last-modified")]
        if if_range is not None and if_range not in validators:
            return None
        return int(match.group(1))

    def send_answer(self, reply, body, send_body):
        framing = reply.get("framing", "length")
        status = int(reply.get("status", 200))
        start, end = 0, body.size
        first = self.range_first(reply)
        if first is not None and first >= body.size:
            self.send_response(416)
            self.send_header("Content-Range", f"bytes */{body.size}")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if first is not None:
            status, start = 206, first
        self.send_response(status)
        if "location" in reply:
            self.send_header("Location", reply["location"])
        for name, value in reply.get("headers", {}).items():
            self.send_header(name, value)
        if first is not None:
            self.send_header("Content-Range", f"bytes {start}-{end - 1}/{body.size}")
        if framing == "length":
            self.send_header("Content-Length", str(reply.get("content_length", end - start)))
        elif framing == "chunked":
            self.send_header("Transfer-Encoding", "chunked")
        shaped = [key for key in ("content_length", "stall_after", "cut_after", "trickle")
                  if key in reply]
        if framing == "none" or shaped:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if not send_body:
            return
        if body.handle is not None and framing == "length" and not shaped and start == 0:
            self.wfile.flush()
            self.connection.sendfile(body.handle)
            return
        for key in ("stall_after", "cut_after"):
            if key in reply:
                end = min(end, start + int(reply[key]))
        try:
            self.send_body(reply, body, start, end, framing)
        except (BrokenPipeError, ConnectionResetError):
            return  # the client has given up
        if "stall_after" in reply:
            self.hold()

    def send_body(self, reply, body, start, end, framing):
        trickle = float(reply.get("trickle", 0))
        for piece in body.pieces(start, end, 1 if trickle else 65536):
            if framing == "chunked":
                self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
            else:
                self.wfile.write(piece)
            if trickle:
                self.wfile.flush()
                time.sleep(trickle)
        if framing == "chunked" and "stall_after" not in reply and "cut_after" not in reply:
            self.wfile.write(b"0\r\n\r\n")
        self.wfile.flush()


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", default="")
    parser.add_argument("--routes", default="")
    parser.add_argument("--log", default="")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--tls-cert", default="")
    parser.add_argument("--tls-key", default="")
    test_server_control.add_arguments(parser)
    args = parser.parse_args()

    server = Server(("127.0.0.1", args.port), Handler)
    server.state = State(args.root, args.routes, args.log)
    if args.tls_cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls_cert, args.tls_key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    test_server_control.announce(args, server.server_address[1])
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
