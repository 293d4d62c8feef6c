"""The telephony bridge of the background host under Wine on a simulated Windows 11 PC, against a
scripted Android radio interface: the start-up sequence, unsolicited registration and signal
changes, SMS sent and cancelled, stored and incoming messages, a reconnect; MMS notices routed by
Windows' SMS router, before and during a connection and again after a reconnect; then a PC without
a modem. Every PDU handed to Android is decoded by python-gammu. A prefix of its own: the host
lives in it."""
import os
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
from android_ril import RIL_PORT, AndroidRadioInterface, decode  # noqa: E402
from host_road import HostRoad  # noqa: E402
from wine import WINE_RUN  # noqa: E402

driver = None

STORED = "07911326040000F0040B911346610089F60000208062917314080CC8F71D14969741F977FD07"
INCOMING = ["07911326040000F00405812143F500005230704150900002C834",
            "07911326040000F00405812143F500005230704150900003C7F70D"]
# To +31641600986, "How are you?": 25 octets after the empty service centre.
SUBMIT = "0011000B911346610089F60000AA0CC8F71D14969741F977FD07"
# What gammu reads from each "+CMT" PDU, in the order they reach Android: the stored message
# twice (refused the first time), then the two incoming ones.
HANDED = [("+31641600986", "How are you?")] * 2 + [("12345", "Hi"), ("12345", "Go7")]
MODEM = {"imei": "490154203237518", "iccid": "89014103211118510720", "imsi": "310410123456789",
         "registerState": 2, "providerId": "310410", "providerName": "Nord\nwind", "dataClass": 32,
         "signal": 20, "serviceCentre": "+31624000000", "store": [{"index": 1, "status": 0, "pdu": STORED}]}
OK = ["OK"]
# MMS notices as the SMS router hands them, and the WSP push each one's "+CMT" PDUs carry.
PUSH = {"type": 2, "from": "+4915112345678", "contentType": "application/vnd.wap.mms-message",
        "timestamp": 133858299090000000}
NOTICES = ["8C82980141", "8C82" + "41" * 298]


def setUpModule():
    global road, android, pc, run, host_log, log_start
    android = AndroidRadioInterface()
    road = HostRoad("telephony", services={RIL_PORT: android.port}, modem=MODEM, smsRouter={"messages": []})
    pc, run, host_log = road.pc, road.run, road.host_log
    log_start = len(host_log())  # a kept prefix holds the lines of earlier runs
    installed = road.install()  # starts the host
    assert installed.returncode == 0, installed.stdout + installed.stderr


def tearDownModule():
    run(driver, "stop")
    android.stop()
    road.stop()


def change_modem(**changes):
    pc.scenario["modem"].update(changes)
    pc.write()


def wait_for(condition, what, timeout=300):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError(f"no {what} in {timeout} s")
        time.sleep(0.2)


class TelephonyRoadTest(unittest.TestCase):
    def test_1_radio_interface_road(self):
        link = android.next_link()
        handed = []

        def cmt():
            report = link.next_unsolicited()
            self.assertIsInstance(report, tuple, report)
            header, pdu = report
            self.assertEqual(header, f"+CMT: ,{len(pdu) // 2 - int(pdu[:2], 16) - 1}")
            handed.append(pdu)

        start_up = [
            ("ATE0", OK), ("AT+CMEE=1", OK), ("AT+CPIN?", ["+CPIN: READY", "OK"]),
            ("AT+CIMI", ["310410123456789", "OK"]), ("AT+CGSN", ["490154203237518", "OK"]),
            ("AT+CRSM=176,12258,0,0,10", ["+CRSM: 144,0,98101430121181157002", "OK"]),
            ("AT+CREG=2", OK), ("AT+CGREG=2", OK), ("AT+CREG?", ["+CREG: 2,2", "OK"]),
        ]
        for line, answer in start_up:
            self.assertEqual(link.command(line), answer, line)
        self.assertTrue(link.command("AT+CSQ")[0].startswith("+CSQ: 20,"))
        cmt()  # the stored message, handed once "AT+CIMI" shows Android takes messages
        self.assertEqual(link.command("AT+CNMA=2"), OK, "refused: handed again on the next CNMI")
        self.assertEqual(link.command("AT+CNMI=2,2,0,1,0"), OK)
        cmt()
        self.assertEqual(link.command("AT+CNMA"), OK)
        wait_for(lambda: pc.state().get("modemStore") == [], "deletion of the acknowledged message")

        change_modem(registerState=3)
        lte = '1,"0001","00000001",7'
        self.assertEqual([link.next_unsolicited() for _ in range(3)][:2], [f"+CREG: {lte}", f"+CGREG: {lte}"])
        change_modem(signal=12)
        self.assertTrue(link.next_unsolicited().startswith("+CSQ: 12,"))

        self.assertEqual(link.command("AT+CMGS=25"), ["> "])
        self.assertEqual(link.command(SUBMIT, end=b"\x1b"), OK, "cancelled")
        self.assertEqual(link.command("AT+CMGS=25"), ["> "])
        self.assertEqual(link.command(SUBMIT, end=b"\x1a"), ["+CMGS: 0", "OK"])
        # A PDU whose octets disagree with the length given is refused, and nothing is sent.
        self.assertEqual(link.command("AT+CMGS=24"), ["> "])
        self.assertEqual(link.command(SUBMIT, end=b"\x1a"), ["+CMS ERROR: 304"])
        self.assertEqual([sent[-50:] for sent in pc.state()["modemSent"]], [SUBMIT[2:]])

        # A ";" inside quotes ends no command: the "+CFUN=0" in the string does not run.
        self.assertEqual(link.command('AT+CSCA="+3162;+CFUN=0",145;+CFUN?'), ["+CFUN: 1", "OK"])
        # A line past 4 KiB is answered ERROR, sent whole or byte by byte, and the connection stays.
        for piece in (None, 1):
            self.assertEqual(link.command("AT" + "E" * 5000, piece=piece), ["ERROR"], piece)
            self.assertEqual(link.command("AT"), OK)

        change_modem(incoming=[{"pdu": INCOMING[0]}])
        cmt()
        self.assertEqual(link.command("AT+CNMA"), OK)

        # While no connection is open, a message waits in the store for the next one's CNMI.
        link.close()
        wait_for(lambda: "host: Android RIL disconnected" in host_log(), "end of the first connection")
        change_modem(incoming=[{"pdu": pdu} for pdu in INCOMING])
        wait_for(lambda: pc.state().get("modemIncoming") == 2, "stored incoming message")
        link = android.next_link()
        self.assertEqual(link.command("AT+CNMI=2,2,0,1,0"), OK)
        cmt()
        link.close()

        got = [(pdu["Type"], pdu["Number"], pdu["Text"], pdu["SMSC"]) for pdu in decode(handed)]
        self.assertEqual(got, [("Deliver", number, text, "+31624000000") for number, text in HANDED])
        log = host_log()[log_start:]
        self.assertIn("modem: ready - SIM ready, network Nord\\x0Awind (310410), signal 20", log)
        self.assertEqual(log.count("modem: RIL first sent AT+CRSM"), 1)
        self.assertIn("modem: Android takes messages (CIMI) - giving it the ones waiting in the modem", log)

    def test_1a_routed_mms_notices(self):
        def push(body):
            pc.scenario["smsRouter"]["messages"].append({**PUSH, "hex": body})
            pc.write()

        def connect(ended):
            wait_for(lambda: host_log()[log_start:].count("Android RIL disconnected") == ended, "disconnection")
            link = android.next_link()
            self.assertEqual(link.command("AT+CNMI=2,2,0,1,0"), OK)
            return link, lambda count: [link.next_unsolicited() for _ in range(count)]

        def offer_radio_interface(offered):
            if offered:
                pc.scenario["services"][RIL_PORT] = android.port
            else:
                del pc.scenario["services"][RIL_PORT]
            pc.write()

        # A notice is kept only while the host has no connection, and it connects again as soon as
        # one ends: the VM stops offering the service before the host's next connection ends.
        link = android.next_link()
        offer_radio_interface(False)
        link.close()
        wait_for(lambda: host_log()[log_start:].count("Android RIL disconnected") == 3, "end of the connection")
        push(NOTICES[0])
        kept = "router (5 octets, 1 part) - kept until Android starts"
        wait_for(lambda: kept in host_log()[log_start:], "kept notice")
        offer_radio_interface(True)
        link, cmts = connect(3)
        first = cmts(2)  # the notice and the message an earlier connection left unacknowledged
        self.assertEqual([link.command("AT+CNMA") for _ in first], [OK, OK])
        push(NOTICES[1])
        parts = cmts(3)
        link.close()
        link, cmts = connect(4)
        self.assertEqual(cmts(3), parts, "unacknowledged notices are handed again")
        self.assertEqual(link.command("AT"), OK)
        self.assertTrue(link.unsolicited.empty(), "an acknowledged one is not")
        link.close()

        notice = [pdu for pdu in decode([pdu for _, pdu in first + parts]) if pdu["Number"] == PUSH["from"]]
        self.assertEqual({(pdu["Type"], pdu["Coding"], pdu["DateTime"][:19]) for pdu in notice},
                         {("Deliver", "8bit", "2025-03-07T14:05:09")})
        self.assertEqual([notice[0]["Text"], "".join(pdu["Text"] for pdu in notice[1:])],
                         ["000603beaf84" + body.lower() for body in NOTICES])
        self.assertIn("router (300 octets, 3 parts)", host_log()[log_start:])

    def test_2_no_modem_no_service(self):
        run(driver, "stop")
        # The stopped host may have connected once more after the last link closed.
        while not android.connections.empty():
            android.connections.get_nowait().close()
        del pc.scenario["modem"]
        pc.write()
        host = subprocess.Popen([str(WINE_RUN), e2e.program.prefix, e2e.program.exe, "host", "--background"],
                                env={**os.environ, **pc.env}, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: "modem: no mobile broadband modem on this PC - Android shows no SIM" in host_log(),
                 "log line of the missing modem")
        time.sleep(10)
        self.assertIsNone(host.poll(), "the host runs on")
        self.assertTrue(android.connections.empty(), "the radio-interface service was offered")
        run(driver, "stop")
        self.assertEqual(host.wait(timeout=300), 0)


if __name__ == "__main__":
    driver = e2e.take_option("--driver")
    e2e.main()
