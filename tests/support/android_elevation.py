"""The simulated Android's elevation daemon, which the host's elevation bridge connects to."""
import socket
import struct

from loopback import LoopbackService

ELEVATION_PORT = "544B4556"  # the VM's service that the simulated PC maps to the daemon's port
MAGIC = 0x56454B54
REQUEST, ANSWER, CANCEL, STATE, APK = 1, 2, 3, 4, 5


def frame(kind, value=0, payload=b"", magic=MAGIC, length=None):
    return struct.pack("<IBBH", magic, kind, value, len(payload) if length is None else length) + payload


class AndroidElevationDaemon(LoopbackService):
    def __init__(self):
        super().__init__(DaemonConnection)

    def next_connection(self, timeout=300):
        """The next connection of a running host: those a host that has ended left waiting, however
        late the listener took them, are closed and passed over."""
        while True:
            connection = super().next_connection(timeout)
            if not connection.ended():
                return connection
            connection.close()


class DaemonConnection:
    def __init__(self, connection):
        self.socket = connection
        self.socket.settimeout(300)
        self.pending = b""  # read by ended(), not yet by the test

    def ended(self):
        """Whether the bridge has already closed the connection, after what it sent first; never
        waits."""
        self.socket.setblocking(False)
        try:
            while chunk := self.socket.recv(65536):
                self.pending += chunk
            return True
        except BlockingIOError:
            return False
        except ConnectionResetError:
            return True
        finally:
            self.socket.settimeout(300)

    def _read(self, size):
        data, self.pending = self.pending[:size], self.pending[size:]
        while len(data) < size:
            chunk = self.socket.recv(size - len(data))
            if not chunk:
                raise EOFError(f"the bridge ended the connection after {len(data)} of {size} bytes")
            data += chunk
        return data

    def read_frame(self):
        """(kind, value, payload); the payload of the Magisk APK frame is the APK."""
        magic, kind, value, length = struct.unpack("<IBBH", self._read(8))
        assert magic == MAGIC, hex(magic)
        payload = self._read(length)
        return kind, value, self._read(struct.unpack("<I", self._read(4))[0]) if kind == APK else payload

    def opening(self):
        """(the Magisk APK or None, the state byte) a connection starts with."""
        kind, value, apk = self.read_frame()
        return (apk, self.read_frame()[1]) if kind == APK else (None, value)

    def send(self, data):
        self.socket.sendall(data)

    def request(self, request_id, uid=10123, app=b"com.example.term", command=b"id"):
        record = struct.pack("<IIH", request_id, uid, len(app)) + app + struct.pack("<H", len(command)) + command
        self.send(frame(REQUEST, 0, record))

    def answer(self):
        """(answer, request id) of the next frame, which must be an answer."""
        kind, value, payload = self.read_frame()
        assert (kind, len(payload)) == (ANSWER, 4), (kind, payload)
        return value, struct.unpack("<I", payload)[0]

    def dropped(self):
        """Whether the bridge ends the connection, sending nothing more."""
        if self.pending:
            return False
        try:
            return self.socket.recv(1) == b""
        except ConnectionResetError:
            return True
        except socket.timeout:
            return False

    def close(self):
        self.socket.close()
