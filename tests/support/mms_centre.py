"""A loopback MMS centre for the MMS relay's tests: an HTTP server that keeps the messages posted
to it and hands them back by path, and misbehaves on request by path:
  POST /...            keeps the body, answers 200 with "sent <n>" (n counts from 1)
  GET /message/<n>     the body posted as message n
  GET /slow/<ms>       answers "slow" after waiting ms
  GET /trickle/<n>     sends n bytes, one every 50 ms, then ends (a long transfer)
  GET /reset           resets the connection without answering
  GET /overlong/<n>    announces 16 bytes and sends 16 + n, then keeps the connection open
Every request is noted as (method, path, body length)."""
import socket
import struct
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def _answer(self, body, content_type="application/vnd.wap.mms-message"):
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        centre = self.server.centre
        with centre.lock:
            centre.messages.append(body)
            centre.requests.append(("POST", self.path, len(body)))
            number = len(centre.messages)
        self._answer(f"sent {number}".encode())

    def do_GET(self):
        centre = self.server.centre
        with centre.lock:
            centre.requests.append(("GET", self.path, 0))
        words = self.path.strip("/").split("/")
        if words[0] == "message" and len(words) == 2:
            self._answer(centre.messages[int(words[1]) - 1])
        elif words[0] == "slow":
            time.sleep(int(words[1]) / 1000)
            self._answer(b"slow")
        elif words[0] == "trickle":
            count = int(words[1])
            self.send_response(200)
            self.send_header("Content-Length", str(count))
            self.end_headers()
            for _ in range(count):
                self.wfile.write(b"t")
                self.wfile.flush()
                time.sleep(0.05)
        elif words[0] == "reset":
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.close_connection = True
        elif words[0] == "overlong":
            self.send_response(200)
            self.send_header("Content-Length", "16")
            self.end_headers()
            self.wfile.write(b"m" * (16 + int(words[1])))
            self.wfile.flush()
            time.sleep(3)
        else:
            self.send_error(404)


class MmsCentre:
    def __init__(self):
        self.messages = []
        self.requests = []
        self.lock = threading.Lock()
        self.server = ThreadingHTTPServer(("127.0.0.1", 0), _Handler)
        self.server.daemon_threads = True
        self.server.centre = self
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()
