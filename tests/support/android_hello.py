"""The simulated Android's fingerprint service, which the host's Windows Hello bridge connects to."""
import struct

from loopback import LoopbackService

HELLO_PORT = "544B4650"  # the VM's service that the simulated PC maps to this service's port
MAGIC = 0x50464B54
VERIFY, AVAILABILITY, CANCEL = 3, 4, 5


def frame(kind, value=0, length=None, payload=b"", magic=MAGIC):
    """One frame as Android sends it; `length` may lie about the payload."""
    return struct.pack("<IBBH", magic, kind, value, len(payload) if length is None else length) + payload


class HelloLink:
    """One connection from the bridge. Answers and availability announcements are read each in
    their own order; None stands for a connection the bridge ended."""

    def __init__(self, connection):
        self.connection = connection
        self.connection.settimeout(300)
        self.stream = connection.makefile("rb")
        self.waiting = {VERIFY: [], AVAILABILITY: []}

    def send(self, data):
        self.connection.sendall(data)

    def next(self, kind):
        while not self.waiting[kind]:
            try:
                header = self.stream.read(8)
            except ConnectionResetError:  # closed with bytes unread, as after a dropped frame
                return None
            if len(header) < 8:
                return None
            magic, got, value, length = struct.unpack("<IBBH", header)
            assert (magic, length) == (MAGIC, 0) and got in self.waiting, header
            self.waiting[got].append(value)
        return self.waiting[kind].pop(0)

    def verify(self):
        self.send(frame(VERIFY))
        return self.next(VERIFY)

    def close(self):
        self.stream.close()
        self.connection.close()


class AndroidFingerprintService(LoopbackService):
    def __init__(self):
        super().__init__(HelloLink)

    def next_link(self, timeout=300):
        return self.next_connection(timeout)
