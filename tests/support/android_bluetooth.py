"""The simulated Android's Bluetooth stack, which the host's Bluetooth bridge connects to: a small
scripted HCI host (commands and events, ACL data with L2CAP, an ATT client, the SMP initiator's
values) that can write every H4 packet of its connections to a capture file."""
import struct
import threading
import time

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

from loopback import LoopbackService

BLUETOOTH_PORT = "544B4254"  # the VM's service that the simulated PC maps to the stack's port
COMMAND, ACL, EVENT = 1, 2, 4
COMMAND_COMPLETE, COMMAND_STATUS, LE_META = 0x0E, 0x0F, 0x3E
ATT_CID, SMP_CID = 0x0004, 0x0006
LE_ACL_LENGTH = 251
ATT_ERROR, ATT_NOTIFICATION, ATT_INDICATION = 0x01, 0x1B, 0x1D
LINKTYPE_BLUETOOTH_HCI_H4_WITH_PHDR = 201


class Capture:
    """A pcap file of H4 packets, each after a 4-byte direction: 0 sent by the host, 1 received."""

    def __init__(self, path):
        self.lock = threading.Lock()
        self.file = open(path, "wb")
        self.file.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, LINKTYPE_BLUETOOTH_HCI_H4_WITH_PHDR))

    def write(self, sent, packet):
        record = struct.pack(">I", 0 if sent else 1) + packet
        now = time.time()
        with self.lock:
            self.file.write(struct.pack("<IIII", int(now), int(now % 1 * 1e6), len(record), len(record)) + record)
            self.file.flush()

    def close(self):
        self.file.close()


class HciHost:
    """One H4 connection from the bridge. A reader thread keeps what arrives, in order: events as
    ("event", code, parameters) and reassembled L2CAP PDUs as ("l2cap", handle, cid, payload); the
    test takes them out by what it waits for."""

    def __init__(self, connection, capture=None):
        self.connection = connection
        self.capture = capture
        self.arrived = []
        self.changed = threading.Condition()
        self.closed = False
        self.partial = {}  # connection handle -> the L2CAP bytes collected so far
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        stream = self.connection.makefile("rb")
        try:
            while True:
                kind = stream.read(1)
                if kind == bytes([EVENT]):
                    header = stream.read(2)
                    body = stream.read(header[1]) if len(header) == 2 else b""
                    item = ("event", header[0], body) if len(body) == header[1] else None
                elif kind == bytes([ACL]):
                    header = stream.read(4)
                    body = stream.read(struct.unpack_from("<H", header, 2)[0]) if len(header) == 4 else b""
                    item = self._reassemble(header, body)
                else:
                    break  # the end, or a packet type the controller never sends
                if self.capture:
                    self.capture.write(False, kind + header + body)
                if item:
                    with self.changed:
                        self.arrived.append(item)
                        self.changed.notify_all()
        except (OSError, IndexError, struct.error):
            pass
        with self.changed:
            self.closed = True
            self.changed.notify_all()

    def _reassemble(self, header, body):
        field = struct.unpack_from("<H", header)[0]
        handle, first = field & 0x0FFF, (field >> 12) & 3 != 1
        collected = body if first else self.partial.get(handle, b"") + body
        self.partial[handle] = collected
        if len(collected) < 4 or len(collected) < 4 + struct.unpack_from("<H", collected)[0]:
            return None
        length, cid = struct.unpack_from("<HH", collected)
        del self.partial[handle]
        return ("l2cap", handle, cid, collected[4:4 + length])

    def send(self, kind, payload):
        packet = bytes([kind]) + payload
        if self.capture:
            self.capture.write(True, packet)
        self.connection.sendall(packet)

    def take(self, match, timeout=300):
        """The first kept item that `match` accepts, taken out; AssertionError when none comes."""
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                for index, item in enumerate(self.arrived):
                    if match(item):
                        return self.arrived.pop(index)
                left = deadline - time.monotonic()
                if left <= 0 or self.closed:
                    raise AssertionError(f"nothing expected arrived; kept: {self.arrived}")
                self.changed.wait(left)

    def command(self, opcode, parameters=b""):
        """Sends a command; its Command Complete's return parameters (status first), or the
        status of its Command Status as one byte."""
        self.send(COMMAND, struct.pack("<HB", opcode, len(parameters)) + parameters)
        op = struct.pack("<H", opcode)
        _, code, body = self.take(lambda item: item[0] == "event" and (
            (item[1] == COMMAND_COMPLETE and item[2][1:3] == op) or (item[1] == COMMAND_STATUS and item[2][2:4] == op)))
        return body[3:] if code == COMMAND_COMPLETE else body[:1]

    def event(self, code, subevent=None, timeout=300):
        """The parameters of the next event of this code (and LE subevent)."""
        return self.take(lambda item: item[0] == "event" and item[1] == code and
                         (subevent is None or item[2][:1] == bytes([subevent])), timeout)[2]

    def reset(self):
        return self.command(0x0C03)[0]

    def wait_closed(self, timeout=300):
        with self.changed:
            return self.changed.wait_for(lambda: self.closed, timeout)

    def close(self):
        self.connection.close()

    # ---- L2CAP on an LE connection ----

    def send_l2cap(self, handle, cid, payload):
        """One PDU in ACL packets of at most the controller's 251 bytes, continued as needed."""
        pdu = struct.pack("<HH", len(payload), cid) + payload
        for at in range(0, len(pdu), LE_ACL_LENGTH):
            fragment = pdu[at:at + LE_ACL_LENGTH]
            flags = 0x2000 if at == 0 else 0x1000
            self.send(ACL, struct.pack("<HH", handle | flags, len(fragment)) + fragment)

    def l2cap(self, handle, cid, match=lambda payload: True, timeout=300):
        return self.take(lambda item: item[0] == "l2cap" and item[1:3] == (handle, cid) and match(item[3]),
                         timeout)[3]

    def att(self, handle, pdu):
        """An ATT request and its answer (notifications and indications stay kept)."""
        self.send_l2cap(handle, ATT_CID, pdu)
        return self.l2cap(handle, ATT_CID, lambda answer: answer[0] not in (ATT_NOTIFICATION, ATT_INDICATION))

    def smp(self, handle, pdu=None):
        if pdu is not None:
            self.send_l2cap(handle, SMP_CID, pdu)
        return self.l2cap(handle, SMP_CID)


def uuid_text(raw):
    """A UUID in air order as text: 4 hex digits for a 16-bit one, else 32."""
    return raw[::-1].hex()


def discover(host, handle):
    """Every primary service, its characteristics and their descriptors, as Android discovers
    them: {service uuid: {characteristic uuid: (properties, value handle, {descriptor uuid: handle})}}."""
    def walk(request, start, end, parse):
        found = []
        while start <= end:
            answer = host.att(handle, request(start, end))
            if answer[0] == ATT_ERROR:
                assert answer[4] == 0x0A, answer.hex()  # Attribute Not Found ends the walk
                break
            found += parse(answer)
            start = found[-1][0] + 1
        return found

    def groups(answer):
        size = answer[1]
        return [struct.unpack_from("<HH", answer, at) + (uuid_text(answer[at + 4:at + size]),)
                for at in range(2, len(answer), size)]

    def declarations(answer):
        size = answer[1]
        return [struct.unpack_from("<HBH", answer, at) + (uuid_text(answer[at + 5:at + size]),)
                for at in range(2, len(answer), size)]

    def information(answer):
        size = 4 if answer[1] == 1 else 18
        return [(struct.unpack_from("<H", answer, at)[0], uuid_text(answer[at + 2:at + size]))
                for at in range(2, len(answer), size)]

    database = {}
    services = walk(lambda s, e: struct.pack("<BHHH", 0x10, s, e, 0x2800), 1, 0xFFFF, groups)
    for start, end, service in services:
        characteristics = walk(lambda s, e: struct.pack("<BHHH", 0x08, s, e, 0x2803), start, end, declarations)
        database[service] = {}
        for index, (_, properties, value, uuid) in enumerate(characteristics):
            last = characteristics[index + 1][0] - 1 if index + 1 < len(characteristics) else end
            descriptors = walk(lambda s, e: struct.pack("<BHH", 0x04, s, e), value + 1, last, information)
            database[service][uuid] = (properties, value, {kind: at for at, kind in descriptors})
    return database


# ---- LE legacy pairing, values in air order (least significant byte first) ----

def security_e(key, plain):
    encryptor = Cipher(algorithms.AES(key[::-1]), modes.ECB()).encryptor()
    return (encryptor.update(plain[::-1]) + encryptor.finalize())[::-1]


def xor(a, b):
    return bytes(x ^ y for x, y in zip(a, b))


def c1(key, rand, request, response, iat, ia, rat, ra):
    """The confirm value of LE legacy pairing; addresses are 6 bytes in air order."""
    p1 = bytes([iat, rat]) + request + response
    p2 = ra + ia + bytes(4)
    return security_e(key, xor(security_e(key, xor(rand, p1)), p2))


class AndroidBluetoothStack(LoopbackService):
    """Android's Bluetooth stack as the simulated VM offers it: a loopback port that the bridge
    connects to; each connection becomes an HciHost, written to `capture` once one is set."""

    def __init__(self):
        self.capture = None
        super().__init__(lambda connection: HciHost(connection, self.capture))

    def next_host(self, timeout=120):
        return self.next_connection(timeout)

    def stop(self):
        super().stop()
        if self.capture:
            self.capture.close()
