"""The simulated Android's radio interface, which the host's telephony bridge connects to: AT
lines out, answers and unsolicited reports in. Run by the system's Python with --decode, it
decodes SMS-DELIVER PDUs with python-gammu (Debian's python3-gammu, which only that Python has)."""
import binascii
import json
import queue
import socket
import subprocess
import sys
import threading

from loopback import LoopbackService

RIL_PORT = "544B524C"  # the VM's service that the simulated PC maps to this service's port
FINAL = ("OK", "ERROR", "+CME ERROR:", "+CMS ERROR:")
PROMPT = "> "


class RilLink:
    """One connection from the bridge. A reader thread splits what arrives into lines: "+CMT"
    reports (with their PDU line) and lines while no command waits are unsolicited, the rest
    answers the command in flight."""

    def __init__(self, connection):
        self.connection = connection
        self.connection.settimeout(None)
        self.answers = queue.Queue()
        self.unsolicited = queue.Queue()
        self.waiting = False
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        stream, cmt = b"", None
        while True:
            try:
                data = self.connection.recv(4096)
            except OSError:
                data = b""
            if not data:
                self.answers.put(None)
                self.unsolicited.put(None)
                return
            stream += data
            while True:
                if stream.startswith(b"\r\n> "):  # the prompt has no line end of its own
                    stream = stream[4:]
                    self.answers.put(PROMPT)
                    continue
                start = 2 if stream.startswith(b"\r\n") else 0
                end = stream.find(b"\r\n", start)
                if end < 0:
                    break
                line, stream = stream[start:end].decode("ascii"), stream[end + 2:]
                if not line:
                    continue
                if cmt is not None:
                    self.unsolicited.put((cmt, line))
                    cmt = None
                elif line.startswith("+CMT:"):
                    cmt = line
                elif self.waiting:
                    self.answers.put(line)
                else:
                    self.unsolicited.put(line)

    def send(self, data):
        self.connection.sendall(data)

    def command(self, line, end=b"\r", piece=None):
        """The answer's lines up to and with the final result, or up to the PDU prompt. With a
        piece size, the line goes out in sends of that many bytes."""
        self.waiting = True
        data = line.encode("ascii") + end
        if piece is None:
            self.send(data)
        else:
            self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            for at in range(0, len(data), piece):
                self.send(data[at:at + piece])
        lines = []
        while True:
            got = self.answers.get(timeout=300)
            assert got is not None, f"connection ended during {line}: {lines}"
            lines.append(got)
            if got == PROMPT or got.startswith(FINAL):
                self.waiting = False
                return lines

    def submit(self, pdu_hex, terminator=b"\x1a"):
        """A PDU after the prompt: the final answer's lines."""
        return self.command(pdu_hex, end=terminator)

    def next_unsolicited(self, timeout=300):
        return self.unsolicited.get(timeout=timeout)

    def close(self):
        self.connection.shutdown(socket.SHUT_RDWR)  # the reader's pending recv keeps the socket open
        self.connection.close()


class AndroidRadioInterface(LoopbackService):
    def __init__(self):
        super().__init__(RilLink)

    def next_link(self, timeout=300):
        return self.next_connection(timeout)


def decode(pdus):
    """Each SMS-DELIVER PDU (hex, with its service centre) as python-gammu reads it: type, number,
    text (str, or hex for binary), time stamp, coding and service centre."""
    done = subprocess.run(["/usr/bin/python3", __file__, "--decode", *pdus], check=True, capture_output=True,
                          text=True)
    return json.loads(done.stdout)


def _decode_main(pdus):
    import gammu
    fields = []
    for pdu in pdus:
        sms = gammu.DecodePDU(binascii.unhexlify(pdu))
        text = sms["Text"]
        fields.append({"Type": sms["Type"], "Number": sms["Number"], "SMSC": sms["SMSC"]["Number"],
                       "Text": text if isinstance(text, str) else text.hex(), "Coding": sms["Coding"],
                       "DateTime": sms["DateTime"].isoformat() if sms["DateTime"] else None})
    print(json.dumps(fields))


if __name__ == "__main__" and sys.argv[1:2] == ["--decode"]:
    _decode_main(sys.argv[2:])
