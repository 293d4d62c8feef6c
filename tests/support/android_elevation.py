"""The simulated Android's elevation daemon, which the host's elevation bridge connects to."""
import queue
import socket
import struct
import threading
import time

ELEVATION_PORT = "544B4556"  # the VM's service that the simulated PC maps to the daemon's port
MAGIC = 0x56454B54
REQUEST, ANSWER, CANCEL, STATE, MAGISK_APK = 1, 2, 3, 4, 5


def frame(kind, value=0, payload=b"", magic=MAGIC, length=None):
    return struct.pack("<IBBH", magic, kind, value, len(payload) if length is None else length) + payload


def request_record(request_id, uid, app, command):
    return struct.pack("<IIH", request_id, uid, len(app)) + app + struct.pack("<H", len(command)) + command


class AndroidElevationDaemon:
    """Android's elevation daemon as the simulated VM offers it: a loopback port that the bridge
    connects to. Each connection the bridge makes waits in a queue for the test to drive it."""

    def __init__(self):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.listener.settimeout(0.2)
        self.port = self.listener.getsockname()[1]
        self.connections = queue.Queue()
        self.running = True
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()

    def _accept(self):
        while self.running:
            try:
                connection, _ = self.listener.accept()
            except socket.timeout:
                continue
            self.connections.put(DaemonConnection(connection))

    def next_connection(self, timeout=60):
        return self.connections.get(timeout=timeout)

    def drop_waiting(self):
        """Closes the connections no test took yet (those of a host that has ended)."""
        time.sleep(0.5)  # one the listener has not accepted yet
        while not self.connections.empty():
            self.connections.get().close()

    def stop(self):
        self.running = False
        self.thread.join()
        self.listener.close()


class DaemonConnection:
    def __init__(self, connection):
        self.socket = connection
        self.socket.settimeout(30)

    def _read(self, size):
        data = b""
        while len(data) < size:
            chunk = self.socket.recv(size - len(data))
            if not chunk:
                raise EOFError(f"the bridge ended the connection after {len(data)} of {size} bytes")
            data += chunk
        return data

    def read_frame(self):
        """(kind, value, payload); the Magisk APK frame's payload is the APK."""
        magic, kind, value, length = struct.unpack("<IBBH", self._read(8))
        assert magic == MAGIC, hex(magic)
        payload = self._read(length)
        if kind == MAGISK_APK:
            payload = self._read(struct.unpack("<I", self._read(4))[0])
        return kind, value, payload

    def opening(self):
        """The frames a connection starts with: (the Magisk APK or None, the state byte)."""
        apk = None
        while True:
            kind, value, payload = self.read_frame()
            if kind == MAGISK_APK:
                apk = payload
            elif kind == STATE:
                return apk, value

    def send(self, data):
        self.socket.sendall(data)

    def request(self, request_id, uid=10123, app=b"com.example.term", command=b"id"):
        self.send(frame(REQUEST, 0, request_record(request_id, uid, app, command)))

    def answer(self):
        """(answer, request id) of the next answer frame."""
        kind, value, payload = self.read_frame()
        assert (kind, len(payload)) == (ANSWER, 4), (kind, payload)
        return value, struct.unpack("<I", payload)[0]

    def dropped(self):
        """Whether the bridge ends the connection without sending anything more."""
        try:
            return self.socket.recv(1) == b""
        except ConnectionResetError:
            return True
        except socket.timeout:
            return False

    def close(self):
        self.socket.close()
