"""The MMS relay of the installed host's telephony bridge under Wine on a simulated PC whose
cellular access point is the loopback interface: curl, standing in for Android's MMS app, sends
and fetches messages through it to a loopback MMS centre; a centre that is slow, refuses, resets
or answers more than it announced; and a stop of the host while a transfer runs. A prefix of its
own: the host lives in it."""
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
from android_mms import MMS_RELAY_PORT, AndroidMms  # noqa: E402
from host_road import HostRoad  # noqa: E402
from mms_centre import MmsCentre  # noqa: E402

driver = None


class Relay:
    """The relay as the installed host's telephony bridge serves it, seen through the host's log."""

    def __init__(self):
        self.start = len(road.host_log())  # a kept prefix holds the lines of earlier runs
        installed = road.install()  # starts the host
        assert installed.returncode == 0, installed.stdout + installed.stderr
        self.returncode = None

    @property
    def lines(self):
        return road.host_log()[self.start:].splitlines()

    def count(self, text):
        return sum(text in line for line in self.lines)

    def wait_for(self, text, count=1, timeout=300):
        deadline = time.monotonic() + timeout
        while self.count(text) < count and time.monotonic() < deadline:
            time.sleep(0.05)
        return self.count(text) >= count

    def stop(self):
        """Stops the host; how long it took to end."""
        start = time.monotonic()
        self.returncode = road.run(driver, "stop").returncode
        return time.monotonic() - start


def setUpModule():
    global road, centre, android, pc, relay
    centre = MmsCentre()
    android = AndroidMms("mms.carrier", "mms.example", centre.port)
    road = HostRoad("mms", services={MMS_RELAY_PORT: android.relay_port}, modem={},
                    cellular={"adapter": "loopback", "names": {"mms.example": ["127.0.0.1"]}})
    pc = road.pc
    relay = Relay()


def tearDownModule():
    if relay.returncode is None:
        relay.stop()
    android.stop()
    centre.stop()
    road.stop()


def curl(path, *options, timeout=60):
    """curl through the relay: its exit code and what it received."""
    with tempfile.NamedTemporaryFile() as body:
        done = subprocess.run(["curl", "-sS", "--max-time", str(timeout), "-o", body.name, *options,
                               f"http://127.0.0.1:{android.app_port}{path}"], capture_output=True)
        return done.returncode, Path(body.name).read_bytes()


class MmsRelay(unittest.TestCase):
    def setUp(self):
        android.target = ("mms.carrier", "mms.example", centre.port)
        self.exchanges = relay.count("mms: exchange done")

    def exchange_done(self):
        """Waits for the log line of the next exchange's end."""
        self.exchanges += 1
        self.assertTrue(relay.wait_for("mms: exchange done", self.exchanges), relay.lines)

    def test_messages_are_sent_and_fetched(self):
        message = bytes(range(256)) * 1200  # a picture message of 300 KiB
        with tempfile.NamedTemporaryFile() as upload:
            Path(upload.name).write_bytes(message)
            code, answer = curl("/send", "--data-binary", f"@{upload.name}", "-H",
                                "Content-Type: application/vnd.wap.mms-message")
        self.assertEqual((code, answer[:5]), (0, b"sent "))
        self.exchange_done()
        code, fetched = curl(f"/message/{answer[5:].decode()}")
        self.assertEqual(code, 0)
        self.assertEqual(fetched, message)
        self.assertTrue(relay.wait_for(f"mms: Android's MMS exchange with mms.example:{centre.port} through APN "
                                       "mms.carrier", 2))
        self.exchange_done()
        deadline = time.monotonic() + 300  # each access point is closed just after its exchange
        while not all(session["closed"] for session in pc.state()["apnSessions"]) and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertTrue(all(session["closed"] for session in pc.state()["apnSessions"]))

    def test_a_misbehaving_centre(self):
        # A reset reaches curl as a connection closed without an answer.
        for path, works, expected in [("/slow/3000", True, b"slow"), ("/reset", False, b""),
                                      ("/overlong/100", True, b"m" * 16)]:
            with self.subTest(path=path):
                code, answer = curl(path)
                self.assertEqual((code == 0, answer), (works, expected))
                self.exchange_done()

    def test_a_refusing_centre_and_a_name_with_a_control_character(self):
        gone = MmsCentre()
        gone.stop()
        # The relay leads to the carrier's network only: never to a link-local, multicast or
        # unspecified address (the loopback network is this simulated PC's access point's own).
        refused = [(("mms.carrier", host, centre.port), b"ERR\tserver unreachable", f"mms: {host} leads to {host}, {kind}")
                   for host, kind in [("169.254.0.1", "a link-local address"), ("224.0.0.1", "a multicast address"),
                                      ("0.0.0.0", "an unspecified address")]]
        for target, answer, logged in refused + [
                (("mms.carrier", "127.0.0.1", gone.port), b"ERR\tserver unreachable",
                 f"mms: 127.0.0.1:{gone.port} did not answer through APN mms.carrier"),
                (("mms\x1b]0;x\x07carrier", "mms.example", centre.port), b"ERR\tbad request",
                 "mms: Android sent a request the host does not understand")]:
            with self.subTest(target=target):
                android.target = target
                code, received = curl("/send")
                self.assertEqual((code != 0, received), (True, b""))  # closed without an answer
                self.assertEqual(android.answers[-1], answer)
                self.assertTrue(relay.wait_for(logged))
        self.assertFalse(any("\x1b" in line for line in relay.lines))

    def test_z_a_stop_ends_a_running_transfer(self):
        result = {}
        started = relay.count("mms: Android's MMS exchange with mms.example")
        transfer = threading.Thread(target=lambda: result.update(done=curl("/trickle/2000")))
        transfer.start()
        self.assertTrue(relay.wait_for("mms: Android's MMS exchange with mms.example", started + 1))
        time.sleep(1)
        took = relay.stop()
        transfer.join(timeout=60)
        self.assertLess(took, 60)  # the trickle alone would take 100 s
        self.assertEqual(relay.returncode, 0)
        self.assertNotEqual(result["done"][0], 0)  # cut short
        self.exchange_done()


if __name__ == "__main__":
    driver = e2e.take_option("--driver")
    e2e.main()
