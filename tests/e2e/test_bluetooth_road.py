"""The Bluetooth bridge of the background host under Wine on a simulated Windows 11 PC, driven by a
scripted Android host the whole road: reset, scan, the device and its name, connect, discovery,
reads, writes, notifications and indications, pairing and bonding, a disconnect from Android, a
reconnect and a disconnect from the device. Every H4 packet of the run goes to a capture file that
tshark dissects; any malformed packet or expert warning fails the run. A prefix of its own: the
host lives in it."""
import os
import struct
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
from android_bluetooth import (ATT_CID, BLUETOOTH_PORT, LE_META, AndroidBluetoothStack, Capture, c1,  # noqa: E402
                               discover, security_e)
from host_road import SETTINGS_KEY, HostRoad  # noqa: E402

driver = None
ADAPTER, PEER = "001A7DDA7113", "C0FFEE000001"
ADAPTER_AIR, PEER_AIR = bytes.fromhex(ADAPTER)[::-1], bytes.fromhex(PEER)[::-1]
NAME = b"Thermometer"
UART = "6E400001-B5A3-F393-E0A9-E50E24DCCA9E"
DEVICE = {
    "address": PEER, "random": True, "name": NAME.decode(),
    "pairing": {"paired": False, "canPair": True, "result": 0},
    "services": [
        {"uuid": "1800", "characteristics": [{"uuid": "2A00", "properties": 0x02, "value": NAME.hex()}]},
        {"uuid": UART, "characteristics": [
            {"uuid": UART.replace("0001-", "0002-"), "properties": 0x0E, "value": "00"},
            {"uuid": UART.replace("0001-", "0003-"), "properties": 0x22, "value": "00",
             "changes": ["0A", "0B", "0C"], "descriptors": [{"uuid": "2902"}, {"uuid": "2901", "value": "4576"}]}]},
        # Last, so that the CCCD the mirror adds (handle 14) takes no other attribute's handle.
        {"uuid": "180F", "characteristics": [{"uuid": "2A19", "properties": 0x12, "value": "64",
                                              "changes": ["63", "62"]}]},
    ]}
# What discovery finds: {service: {characteristic: (properties, value handle, {descriptor: handle})}}.
DATABASE = {
    "1800": {"2a00": (0x02, 3, {})},
    UART.replace("-", "").lower(): {UART.replace("0001-", "0002-").replace("-", "").lower(): (0x0E, 6, {}),
                                    UART.replace("0001-", "0003-").replace("-", "").lower():
                                        (0x22, 8, {"2902": 9, "2901": 10})},
    "180f": {"2a19": (0x12, 13, {"2902": 14})},
}
PAIRING_REQUEST = bytes([0x01, 0x03, 0x00, 0x01, 0x10, 0x00, 0x01])  # bonding, the responder's key


def setUpModule():
    global road, android
    android = AndroidBluetoothStack()
    advertiser = {"address": PEER, "random": True,
                  "sections": [{"type": 1, "hex": "06"}, {"type": 9, "hex": NAME.hex()}]}
    road = HostRoad("bluetooth", services={BLUETOOTH_PORT: android.port},
                    bluetooth={"adapter": ADAPTER, "advertisers": [advertiser], "devices": [DEVICE]})
    android.capture = Capture(road.scratch / "bluetooth.pcap")
    road.host_log_path().unlink(missing_ok=True)  # a kept prefix holds the lines of earlier runs
    road.run("reg", "add", SETTINGS_KEY, "/v", "Bluetooth", "/t", "REG_DWORD", "/d", "1", "/f")
    installed = road.install()  # starts the host
    assert installed.returncode == 0, installed.stdout + installed.stderr


def tearDownModule():
    road.run(driver, "stop")
    android.stop()
    road.stop()


def is_att(opcode):
    return lambda pdu: pdu[0] == opcode


class BluetoothRoadTest(unittest.TestCase):
    def test_the_whole_road_with_every_packet_dissected(self):
        host = android.next_host()
        self.addCleanup(host.close)
        self.start_and_scan(host)
        handle = self.connect(host)
        self.use_the_database(host, handle)
        self.pair(host, handle)

        # Android ends the link: reason 0x16 whatever it gave; the handle is then unknown, and a
        # command on it fails with every return parameter still there.
        self.assertEqual(host.command(0x0406, struct.pack("<HB", handle, 0x13)), b"\0")
        self.assertEqual(host.event(0x05), b"\0" + struct.pack("<H", handle) + b"\x16")
        self.assertEqual(host.command(0x1405, struct.pack("<H", handle)), b"\x02" + struct.pack("<HB", handle, 0))

        # Again, with a device that drops a while after its session opened.
        road.pc.scenario["bluetooth"]["devices"][0]["disconnectAfterMs"] = 5000
        road.pc.write()
        again = self.connect(host)
        self.assertNotEqual(again, handle)
        self.assertEqual(host.att(again, struct.pack("<BH", 0x0A, 13)), b"\x0b\x64")
        self.assertEqual(host.event(0x05), b"\0" + struct.pack("<H", again) + b"\x08")
        self.assertIn(f"gatt {PEER}: the device disconnected", road.host_log())
        self.check_capture(road.scratch / "bluetooth.pcap")

    def start_and_scan(self, host):
        self.assertEqual(host.reset(), 0)
        self.assertEqual(host.command(0x1009), b"\0" + ADAPTER_AIR)  # Read BD_ADDR
        self.assertEqual(host.command(0x200B, struct.pack("<BHHBB", 1, 0x10, 0x10, 0, 0)), b"\0")
        self.assertEqual(host.command(0x200C, b"\x01\x01"), b"\0")
        report = host.event(LE_META, 0x02)
        self.assertEqual(report[1:11], bytes([1, 0, 1]) + PEER_AIR + bytes([5 + len(NAME)]))
        self.assertEqual(report[11:-1], bytes.fromhex("020106") + bytes([len(NAME) + 1, 9]) + NAME)
        # The advertised name answers Remote Name Request too, also once the scan stopped.
        self.assertEqual(host.command(0x200C, b"\x00\x00"), b"\0")
        self.assertEqual(host.command(0x0419, PEER_AIR + bytes(4)), b"\0")
        self.assertEqual(host.event(0x07), b"\0" + PEER_AIR + NAME + bytes(248 - len(NAME)))

    def connect(self, host):
        # Own public address, the peer's random one, interval 0x18-0x28, supervision 5 s.
        parameters = struct.pack("<HHBB6sBHHHHHH", 0x60, 0x30, 0, 1, PEER_AIR, 0, 0x18, 0x28, 0, 0x1F4, 0, 0)
        self.assertEqual(host.command(0x200D, parameters), b"\0")
        complete = host.event(LE_META, 0x01)
        self.assertEqual((complete[1], complete[4:12]), (0, b"\x00\x01" + PEER_AIR), complete.hex())
        handle = struct.unpack_from("<H", complete, 2)[0]
        # What Android asks of every new connection.
        self.assertEqual(host.command(0x2016, struct.pack("<H", handle)), b"\0")
        self.assertEqual(host.event(LE_META, 0x04), b"\x04\0" + struct.pack("<H", handle) + b"\x1f" + bytes(7))
        self.assertEqual(host.command(0x041D, struct.pack("<H", handle)), b"\0")
        self.assertEqual(host.event(0x0C), b"\0" + struct.pack("<HBHH", handle, 8, 0xFFFF, 0))
        return handle

    def use_the_database(self, host, handle):
        self.assertEqual(host.att(handle, b"\x02\xb9\x00"), b"\x03\x05\x02")  # Exchange MTU: 185, 517
        self.assertEqual(discover(host, handle), DATABASE)
        # The name as Android reads it, a value, and a descriptor.
        self.assertEqual(host.att(handle, struct.pack("<BHHH", 0x08, 1, 0xFFFF, 0x2A00)),
                         bytes([0x09, 2 + len(NAME), 3, 0]) + NAME)
        self.assertEqual(host.att(handle, struct.pack("<BH", 0x0A, 13)), b"\x0b\x64")
        self.assertEqual(host.att(handle, struct.pack("<BH", 0x0A, 10)), b"\x0b\x45\x76")

        # A write with response, then one without; each reaches the device in order.
        self.assertEqual(host.att(handle, struct.pack("<BHB", 0x12, 6, 0x2A)), b"\x13")
        self.assertEqual(host.att(handle, struct.pack("<BH", 0x0A, 6)), b"\x0b\x2a")
        host.send_l2cap(handle, ATT_CID, struct.pack("<BHB", 0x52, 6, 0x2B))
        self.assertEqual(host.att(handle, struct.pack("<BH", 0x0A, 6)), b"\x0b\x2b")

        # Writes longer than the MTU (185) never reach the device: a request is refused with
        # Invalid Attribute Value Length, a command dropped. A notification from Android's own
        # server gets no answer at all: the next answer is the read's.
        self.assertEqual(host.att(handle, struct.pack("<BH", 0x12, 6) + bytes(600)), b"\x01\x12\x06\x00\x0d")
        host.send_l2cap(handle, ATT_CID, struct.pack("<BH", 0x52, 6) + bytes(600))
        host.send_l2cap(handle, ATT_CID, struct.pack("<BHB", 0x1B, 6, 0x2C))
        self.assertEqual(host.att(handle, struct.pack("<BH", 0x0A, 6)), b"\x0b\x2b")

        # Notifications through the CCCD the mirror added, until unsubscribed.
        self.assertEqual(host.att(handle, struct.pack("<BHH", 0x12, 14, 1)), b"\x13")
        for value in (0x63, 0x62):
            self.assertEqual(host.l2cap(handle, ATT_CID, is_att(0x1B)), struct.pack("<BHB", 0x1B, 13, value))
        self.assertEqual(host.att(handle, struct.pack("<BHH", 0x12, 14, 0)), b"\x13")

        # Indications: one outstanding at a time, the next one after each confirmation.
        self.assertEqual(host.att(handle, struct.pack("<BHH", 0x12, 9, 2)), b"\x13")
        self.assertEqual(host.att(handle, struct.pack("<BH", 0x0A, 9)), b"\x0b\x02\x00")
        self.assertEqual(host.l2cap(handle, ATT_CID, is_att(0x1D)), struct.pack("<BHB", 0x1D, 8, 0x0A))
        with self.assertRaises(AssertionError, msg="a second indication before the confirmation"):
            host.l2cap(handle, ATT_CID, is_att(0x1D), timeout=1)
        for value in (0x0B, 0x0C):
            host.send_l2cap(handle, ATT_CID, b"\x1e")
            self.assertEqual(host.l2cap(handle, ATT_CID, is_att(0x1D)), struct.pack("<BHB", 0x1D, 8, value))
        self.assertEqual(host.att(handle, struct.pack("<BHH", 0x12, 9, 0)), b"\x13")
        host.send_l2cap(handle, ATT_CID, b"\x1e")

    def pair(self, host, handle):
        """LE legacy pairing with Just Works, Android initiating; Windows pairs the device."""
        response = host.smp(handle, PAIRING_REQUEST)
        self.assertEqual(response, bytes([0x02, 0x03, 0x00, 0x01, 0x10, 0x00, 0x01]))
        confirm = lambda rand: c1(bytes(16), rand, PAIRING_REQUEST, response, 0, ADAPTER_AIR, 1, PEER_AIR)  # noqa: E731
        own = os.urandom(16)
        theirs = host.smp(handle, b"\x03" + confirm(own))
        self.assertEqual(theirs[0], 0x03, theirs.hex())
        random = host.smp(handle, b"\x04" + own)
        self.assertEqual((random[0], confirm(random[1:])), (0x04, theirs[1:]), random.hex())

        short_term_key = security_e(bytes(16), own[:8] + random[1:9])
        self.assertEqual(host.command(0x2019, struct.pack("<H", handle) + bytes(10) + short_term_key), b"\0")
        self.assertEqual(host.event(0x08), b"\0" + struct.pack("<H", handle) + b"\x01")
        keys = host.smp(handle), host.smp(handle)
        self.assertEqual([(key[0], len(key)) for key in keys], [(0x06, 17), (0x07, 11)])
        log = road.wait_for_log("bonded with Android")
        for line in ("pairing in Windows", "Windows pairing result 0", "bonded with Android"):
            self.assertIn(f"smp {PEER}: {line}", log)

    def check_capture(self, capture):
        def tshark(*words):
            return subprocess.run(["tshark", "-r", str(capture), *words], capture_output=True, text=True,
                                  check=True).stdout
        protocols = tshark("-T", "fields", "-e", "frame.protocols")
        for protocol in ("bthci_cmd", "bthci_evt", "btatt", "btsmp"):
            self.assertIn(protocol, protocols, "tshark must see every layer of the road")
        # Android's own over-long writes (sent, direction 0) exceed the MTU on purpose.
        bad = tshark("-V", "-Y", "(_ws.malformed || _ws.expert.severity >= warning) && "
                                 "!(hci_h4.direction == 0 && btatt.mtu.exceeded)")
        if bad:
            self.fail(f"tshark finds these packets malformed or warns about them:\n{bad}")


if __name__ == "__main__":
    driver = e2e.take_option("--driver")
    e2e.main()
