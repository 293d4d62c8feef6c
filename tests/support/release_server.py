#!/usr/bin/env python3
"""A loopback release server for the tests, the end-to-end scripts and the demo.

It serves the files below a root folder over plain HTTP/1.1 on 127.0.0.1 (any free port), with
Range requests (206) and 416 for a range that starts at or beyond the end. A test can make a
path misbehave, and see what was asked of it, through two files beside the served file:

  <file>.rule  JSON: one action object, or a list of them for the first, second, ... request
               of that path (the last one also holds for every later request). Actions:
                 {}                          serve normally
                 {"status": 404}             answer that status with a short text body
                 {"status": 503, "retryAfter": "7"}  the same with that Retry-After header
                 {"redirect": "/other"}      answer 302 with that Location
                 {"ignoreRange": true}       answer 200 with the whole file even to a Range
                 {"resetAfter": n}           send n body bytes, then reset the connection
                 {"stallAfter": n, "stallMs": t}  send n body bytes, wait t ms, go on (with
                                             resetAfter n: the client has them before the reset)
                 {"stallAfter": n, "stallUntilGo": true}  the same, waiting until the test
                                             lets the path go (ReleaseServer.let_go)
                 {"append": n}               the body is n bytes longer than the file (announced)
                 {"corruptAt": offset}       flip the bits of the byte at that file offset
                 {"from": "name"}            serve the file of that name in the same folder
                                             instead (its bytes and validators): the file
                                             as it was, or as it will be, on the server
                 {"holdAfter": n}            send n body bytes, then one byte a second (a live
                                             but held transfer) until the test lets the path
                                             go (ReleaseServer.let_go: <file>.go), then the rest
                 {"stallHeaders": t}         wait t ms before the status line
                 {"gzip": true}              send the body gzip-compressed, with
                                             Content-Encoding: gzip (whether asked or not)
                 {"validators": false}       send neither ETag nor Last-Modified
                 {"ignoreIfRange": true}     serve a Range whatever If-Range says
               Keys combine where they make sense (for example resetAfter with ignoreRange).
               File answers carry an ETag and Last-Modified of the file served; a Range with
               an If-Range that names neither is answered with the whole file (200).
  <file>.log   JSON lines, one per request of that path: method, path, range, ifRange,
               userAgent, status. The number of lines is the number of requests so far.
  <file>.sent  one line per answer of that path: the body bytes sent (written when it ends).

Tests use their own folder below the root, so rules and logs never mix between tests.

Command line:
  release_server.py serve --root DIR [--port-file F]      run in the foreground
  release_server.py start --state DIR                     run detached; DIR/root is served,
                                                          DIR/port and DIR/pid are written
  release_server.py stop --state DIR
"""
import argparse
import email.utils
import gzip
import http.server
import json
import os
import signal
import socket
import socketserver
import struct
import sys
import threading
import time
import urllib.parse
from pathlib import Path

CHUNK = 1 << 20


class _ResetConnection(Exception):
    """Raised to end a response with a TCP reset instead of a clean close."""


def _load_rule(rule_path, request_number):
    try:
        rule = json.loads(Path(rule_path).read_text(encoding="utf-8"))
    except (OSError, ValueError):
        return {}
    if isinstance(rule, list):
        if not rule:
            return {}
        return rule[min(request_number, len(rule) - 1)]
    return rule if isinstance(rule, dict) else {}


def _parse_range(header, size):
    """Returns (start, end_inclusive) for "bytes=a-" or "bytes=a-b", None when absent or not
    understood (served as 200), or "unsatisfiable"."""
    if not header or not header.startswith("bytes="):
        return None
    spec = header[len("bytes="):].strip()
    if "," in spec or "-" not in spec:
        return None
    first, last = spec.split("-", 1)
    if not first.isdigit() or (last and not last.isdigit()):
        return None
    start = int(first)
    end = min(int(last), size - 1) if last else size - 1
    if start >= size or (last and int(last) < start):
        return "unsatisfiable"
    return start, end


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "ReleaseServer/1"
    # One lock for every log append, so that the request numbers stay in order.
    log_lock = threading.Lock()

    def log_message(self, format, *args):  # quiet: the .log files are the record
        pass

    def handle_one_request(self):
        try:
            super().handle_one_request()
        except _ResetConnection:
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.close_connection = True
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True

    def do_HEAD(self):
        self._serve(with_body=False)

    def do_GET(self):
        self._serve(with_body=True)

    def _file_for(self, url_path):
        root = Path(self.server.root)
        relative = urllib.parse.unquote(url_path.lstrip("/"))
        target = (root / relative).resolve()
        if target != root and root not in target.parents:
            return None
        return target

    def _record(self, target, status):
        line = json.dumps({"method": self.command, "path": self.path,
                           "range": self.headers.get("Range"), "ifRange": self.headers.get("If-Range"),
                           "userAgent": self.headers.get("User-Agent"), "status": status})
        with open(str(target) + ".log", "a", encoding="utf-8") as log:
            log.write(line + "\n")

    def _request_number(self, target):
        try:
            with open(str(target) + ".log", encoding="utf-8") as log:
                return sum(1 for _ in log)
        except OSError:
            return 0

    def _answer_text(self, status, text, extra_headers=()):
        body = text.encode("utf-8")
        self.send_response(status)
        for name, value in extra_headers:
            self.send_header(name, value)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def _serve(self, with_body):
        url_path = urllib.parse.urlsplit(self.path).path
        target = self._file_for(url_path)
        if target is None:
            self._answer_text(403, "outside the root\n")
            return
        with Handler.log_lock:
            rule = _load_rule(str(target) + ".rule", self._request_number(target))
            source = target.parent / rule["from"] if "from" in rule else target
            status = self._decide_status(rule, source)
            self._record(target, status)
        if "stallHeaders" in rule:
            time.sleep(int(rule["stallHeaders"]) / 1000.0)
        if "status" in rule:
            extra = [("Retry-After", str(rule["retryAfter"]))] if "retryAfter" in rule else []
            self._answer_text(status, f"status {status}\n", extra)
            return
        if "redirect" in rule:
            self._answer_text(status, "moved\n", [("Location", rule["redirect"])])
            return
        if not source.is_file():
            self._answer_text(404, "not found\n")
            return
        self.sent = 0
        self._target = target
        try:
            self._send_file(source, rule, status, with_body)
        finally:
            with open(str(target) + ".sent", "a", encoding="utf-8") as sent:
                sent.write(f"{self.sent}\n")

    def _decide_status(self, rule, source):
        if "status" in rule:
            return int(rule["status"])
        if "redirect" in rule:
            return 302
        if not source.is_file():
            return 404
        if rule.get("ignoreRange") or rule.get("gzip"):
            return 200
        if_range = self.headers.get("If-Range")
        if if_range is not None and not rule.get("ignoreIfRange") and \
                if_range not in self._validators(source, rule).values():
            return 200
        wanted = _parse_range(self.headers.get("Range"), self._body_size(source, rule))
        if wanted == "unsatisfiable":
            return 416
        return 206 if wanted else 200

    @staticmethod
    def _validators(source, rule):
        if rule.get("validators", True) is False:
            return {}
        state = source.stat()
        return {"ETag": f'"{state.st_size:x}-{state.st_mtime_ns:x}"',
                "Last-Modified": email.utils.formatdate(state.st_mtime, usegmt=True)}

    @staticmethod
    def _body_size(source, rule):
        return source.stat().st_size + int(rule.get("append", 0))

    def _send_file(self, source, rule, status, with_body):
        size = self._body_size(source, rule)
        if status == 416:
            self._answer_text(416, "range not satisfiable\n", [("Content-Range", f"bytes */{size}")])
            return
        if rule.get("gzip"):
            body = gzip.compress(source.read_bytes())
            self.send_response(status)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Encoding", "gzip")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if with_body:
                self.wfile.write(body)
                self.sent = len(body)
            return
        start, end = 0, size - 1
        if status == 206:
            start, end = _parse_range(self.headers.get("Range"), size)
        length = max(0, end - start + 1)
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(length))
        if status == 206:
            self.send_header("Content-Range", f"bytes {start}-{end}/{size}")
        for name, value in self._validators(source, rule).items():
            self.send_header(name, value)
        self.send_header("Accept-Ranges", "bytes")
        self.end_headers()
        if with_body:
            self._send_body(source, rule, start, length)

    def _send_body(self, source, rule, start, length):
        reset_after = rule.get("resetAfter")
        stall_after = rule.get("stallAfter")
        hold_after = rule.get("holdAfter")
        let_go = Path(str(self._target) + ".go")
        hold_deadline = time.monotonic() + 600  # a guard, not a timing: tests let go themselves
        corrupt_at = rule.get("corruptAt")
        file_size = source.stat().st_size
        sent = 0
        with open(source, "rb") as body:
            body.seek(min(start, file_size))
            position = start
            while sent < length:
                limit = length - sent
                for mark in (reset_after, stall_after, hold_after):
                    if mark is not None and sent < mark:
                        limit = min(limit, mark - sent)
                if hold_after is not None and sent >= hold_after:
                    if let_go.exists() or time.monotonic() > hold_deadline:
                        hold_after = None
                        continue
                    limit = 1
                    time.sleep(1)
                if stall_after is not None and sent == stall_after:
                    if rule.get("stallUntilGo"):
                        while not let_go.exists() and time.monotonic() < hold_deadline:
                            time.sleep(0.02)
                    else:
                        time.sleep(int(rule.get("stallMs", 1000)) / 1000.0)
                    stall_after = None
                    continue
                if reset_after is not None and sent >= reset_after:
                    raise _ResetConnection()
                chunk = body.read(min(CHUNK, limit)) if position < file_size else b""
                if len(chunk) < min(CHUNK, limit):  # past the file: the appended bytes
                    chunk += b"\xee" * (min(CHUNK, limit) - len(chunk))
                if corrupt_at is not None and position <= corrupt_at < position + len(chunk):
                    i = corrupt_at - position
                    chunk = chunk[:i] + bytes([chunk[i] ^ 0xFF]) + chunk[i + 1:]
                self.wfile.write(chunk)
                self.sent += len(chunk)
                sent += len(chunk)
                position += len(chunk)


class ReleaseServer:
    """The server in a background thread of the calling Python process."""

    def __init__(self, root):
        self.root = Path(root).resolve()
        self.root.mkdir(parents=True, exist_ok=True)
        self._httpd = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Handler, bind_and_activate=False)
        self._httpd.daemon_threads = True
        self._httpd.allow_reuse_address = True
        self._httpd.server_bind()
        self._httpd.server_activate()
        self._httpd.root = str(self.root)
        self.port = self._httpd.server_address[1]
        self._thread = None

    @property
    def url(self):
        return f"http://127.0.0.1:{self.port}"

    def start(self):
        self._thread = threading.Thread(target=self._httpd.serve_forever, daemon=True)
        self._thread.start()
        return self

    def serve_forever(self):
        self._httpd.serve_forever()

    def stop(self):
        self._httpd.shutdown()
        self._httpd.server_close()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # Helpers for Python tests; C++ tests write the same files themselves.
    def set_rule(self, url_path, rule):
        target = self.root / url_path.lstrip("/")
        target.parent.mkdir(parents=True, exist_ok=True)
        Path(str(target) + ".rule").write_text(json.dumps(rule), encoding="utf-8")

    def let_go(self, url_path):
        """Ends a holdAfter of that path."""
        Path(str(self.root / url_path.lstrip("/")) + ".go").touch()

    def bytes_sent(self, url_path):
        """The body bytes sent for that path so far, over all answers."""
        sent = Path(str(self.root / url_path.lstrip("/")) + ".sent")
        if not sent.exists():
            return 0
        return sum(int(line) for line in sent.read_text(encoding="utf-8").split())

    def requests(self, url_path):
        log = Path(str(self.root / url_path.lstrip("/")) + ".log")
        if not log.exists():
            return []
        return [json.loads(line) for line in log.read_text(encoding="utf-8").splitlines()]


def _write_atomically(path, text):
    temporary = Path(str(path) + ".tmp")
    temporary.write_text(text, encoding="utf-8")
    os.replace(temporary, path)


def _serve(root, port_file):
    server = ReleaseServer(root)
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.stop).start())
    if port_file:
        _write_atomically(port_file, f"{server.port}\n")
    server.serve_forever()


def _start(state):
    """Runs the server detached from the caller (its standard streams on /dev/null, so that
    CTest does not wait for them) and returns once the port is known."""
    state = Path(state).resolve()
    (state / "root").mkdir(parents=True, exist_ok=True)
    port_file = state / "port"
    _stop(state)
    port_file.unlink(missing_ok=True)
    if os.fork() == 0:
        os.setsid()
        if os.fork() != 0:
            os._exit(0)
        null = os.open(os.devnull, os.O_RDWR)
        for fd in (0, 1, 2):
            os.dup2(null, fd)
        _write_atomically(state / "pid", f"{os.getpid()}\n")
        try:
            _serve(state / "root", port_file)
        finally:
            os._exit(0)
    deadline = time.monotonic() + 100
    while not port_file.exists():
        if time.monotonic() > deadline:
            sys.exit("release server: did not start")
        time.sleep(0.02)
    print(f"release server: http://127.0.0.1:{port_file.read_text().strip()} serving {state / 'root'}")


def _stop(state):
    pid_file = Path(state) / "pid"
    try:
        pid = int(pid_file.read_text())
        # A pid file left from before a restart may name another program by now.
        if b"release_server.py" not in Path(f"/proc/{pid}/cmdline").read_bytes():
            raise ProcessLookupError
    except (OSError, ValueError, ProcessLookupError):
        pid_file.unlink(missing_ok=True)
        return
    try:
        os.kill(pid, signal.SIGTERM)
        for _ in range(200):
            os.kill(pid, 0)
            time.sleep(0.02)
    except ProcessLookupError:
        pass
    pid_file.unlink(missing_ok=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    serve = commands.add_parser("serve")
    serve.add_argument("--root", required=True)
    serve.add_argument("--port-file")
    for name in ("start", "stop"):
        commands.add_parser(name).add_argument("--state", required=True)
    args = parser.parse_args()
    if args.command == "serve":
        _serve(args.root, args.port_file)
    elif args.command == "start":
        _start(args.state)
    else:
        _stop(args.state)


if __name__ == "__main__":
    main()
