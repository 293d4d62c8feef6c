"""The simulated Android's Bluetooth stack, which the host's Bluetooth bridge connects to."""
import socket
import threading
import time

BLUETOOTH_PORT = "544B4254"  # the VM's service that the simulated PC maps to the stack's port
HCI_RESET = bytes([0x01, 0x03, 0x0C, 0x00])


class AndroidBluetoothStack:
    """Android's Bluetooth stack as the simulated VM offers it: a loopback port that the bridge
    connects to. On each connection it sends HCI Reset and waits for the controller's Command
    Complete; it notes every connection, answer and disconnection."""

    def __init__(self):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.listener.settimeout(0.2)
        self.port = self.listener.getsockname()[1]
        self.events = []
        self.running = True
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while self.running:
            try:
                connection, _ = self.listener.accept()
            except socket.timeout:
                continue
            with connection:
                self.events.append("connected")
                connection.settimeout(None)
                connection.sendall(HCI_RESET)
                if self._reset_answered(connection):
                    self.events.append("reset answered")
                while connection.recv(4096):
                    pass
                self.events.append("disconnected")

    @staticmethod
    def _reset_answered(connection):
        """Reads H4 packets until the Command Complete of HCI Reset; False when the link ends."""
        stream = connection.makefile("rb")
        while True:
            kind = stream.read(1)
            if kind != b"\x04":  # only events are expected before the reset is answered
                return False
            header = stream.read(2)
            if len(header) < 2:
                return False
            body = stream.read(header[1])
            if header[0] == 0x0E and body[1:3] == b"\x03\x0C":
                return body[3] == 0

    def count(self, event):
        return self.events.count(event)

    def wait_for(self, event, count=1, timeout=60):
        deadline = time.monotonic() + timeout
        while self.count(event) < count and time.monotonic() < deadline:
            time.sleep(0.05)
        return self.count(event) >= count

    def stop(self):
        self.running = False
        self.thread.join()
        self.listener.close()
