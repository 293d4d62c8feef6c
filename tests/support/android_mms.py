"""Android's end of the MMS relay, as the simulated VM offers it: the relay connects to
`relay_port`. An HTTP client (curl) standing in for Android's MMS app connects to `app_port`;
each of its connections is carried through the next relay connection: the request line for
`target`, the relay's answer line, then the bytes both ways, each side's close passed on as a
half-close."""
import socket
import threading

MMS_RELAY_PORT = "544B4D4D"  # the VM's service that the simulated PC maps to `relay_port`


def request_line(apn, host, port, authentication=0, user="", password=""):
    return f"MMS\t{apn}\t{authentication}\t{user}\t{password}\t{host}\t{port}\n".encode()


class AndroidMms:
    def __init__(self, apn, host, port):
        self.relay_listener = socket.create_server(("127.0.0.1", 0))
        self.relay_port = self.relay_listener.getsockname()[1]
        self.app_listener = socket.create_server(("127.0.0.1", 0))
        self.app_port = self.app_listener.getsockname()[1]
        self.target = (apn, host, port)
        self.answers = []
        self.running = True
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def relay(self):
        """The next relay connection, waited for (the relay connects again after each one)."""
        self.relay_listener.settimeout(30)
        connection, _ = self.relay_listener.accept()
        connection.settimeout(None)
        return connection

    def _serve(self):
        while self.running:
            try:
                app, _ = self.app_listener.accept()
            except OSError:
                return
            relay = self.relay()
            relay.sendall(request_line(*self.target))
            answer = read_line(relay)
            self.answers.append(answer)
            if answer != b"OK":
                relay.close()
                app.close()
                continue
            carry(app, relay)

    def stop(self):
        self.running = False
        self.app_listener.close()
        self.relay_listener.close()


def read_line(connection):
    line = b""
    while not line.endswith(b"\n"):
        byte = connection.recv(1)
        if not byte:
            break
        line += byte
    return line.rstrip(b"\n")


def carry(one, other):
    """Copies both ways until both sides have closed; a close goes on as a half-close."""
    def copy(source, sink):
        try:
            while data := source.recv(65536):
                sink.sendall(data)
            sink.shutdown(socket.SHUT_WR)
        except OSError:
            for end in (source, sink):
                try:
                    end.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

    back = threading.Thread(target=copy, args=(other, one), daemon=True)
    back.start()
    copy(one, other)
    back.join()
    one.close()
    other.close()
