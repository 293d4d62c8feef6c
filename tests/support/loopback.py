"""A loopback port standing in for one of Android's services: the host's bridge connects to it,
and each connection waits in a queue for the test."""
import queue
import socket
import threading


class LoopbackService:
    def __init__(self, wrap):
        """`wrap` turns each accepted socket into what the test reads and writes."""
        self.wrap = wrap
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
                self.connections.put(self.wrap(self.listener.accept()[0]))
            except socket.timeout:
                pass

    def next_connection(self, timeout=300):
        return self.connections.get(timeout=timeout)

    def stop(self):
        self.running = False
        self.thread.join()
        self.listener.close()
