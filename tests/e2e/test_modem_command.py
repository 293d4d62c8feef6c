"""The modem command on a simulated PC: the message store's listing, the emulated modem's answers
to the probe lines, a PC without a modem, a silent store and PDUs cut short."""
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
from simulated_pc import SimulatedPc  # noqa: E402

TEXT = "07911326040000F0040B911346610089F60000208062917314080CC8F71D14969741F977FD07"
MMS_NOTICE = "004405912143F50004523070415090000F0605040B8423F0000603BEAF848C82"
SUBMIT = "0001000B911346610089F6000004C8F71D14"
MODEM = {"imei": "490154203237518", "iccid": "89014103211118510720", "imsi": "310410123456789",
         "registerState": 3, "providerId": "310410", "providerName": "Nordwind", "dataClass": 32,
         "signal": 20, "serviceCentre": "+31624000000"}


def run_modem(**scenario):
    """(exit code, output lines without the program log's) of `modem` on a PC with this scenario."""
    with tempfile.TemporaryDirectory(prefix="peldra-modem-e2e-") as folder:
        pc = SimulatedPc(folder, **scenario)
        done = e2e.program.run("modem", env=pc.env)
        return done.code, [line for line in done.stdout.splitlines() if not line.startswith("[")]


def probe(line, answer):
    return f"{line:<40} {answer}"


class ModemCommandTest(unittest.TestCase):
    def test_lists_the_store_and_answers_the_probes(self):
        store = [{"index": 1, "status": 1, "pdu": TEXT}, {"index": 4, "status": 0, "pdu": MMS_NOTICE},
                 {"index": 7, "status": 2, "pdu": SUBMIT}, {"index": 9, "status": 3, "pdu": TEXT[:40]},
                 {"index": 12, "status": 0, "pdu": "07911326040000F0"}]
        code, lines = run_modem(modem={**MODEM, "store": store, "readParts": 2})
        self.assertEqual(code, 0, lines)
        listing = lines[:6]
        self.assertEqual(listing[0], "Messages in the modem  5")
        self.assertEqual(sorted(listing[1:]), [
            "  #1   read    2002-08-26 19:37:41   38 octets  text",
            "  #12  unread  -                      8 octets  ",
            "  #4   unread  2025-03-07 14:05:09   32 octets  MMS notice",
            "  #7   draft   -                     18 octets  ",
            "  #9   sent    -                     20 octets  ",
        ])
        probes = lines[6:]
        self.assertEqual(len(probes), 9, lines)
        self.assertEqual(probes[0], probe("AT+CPIN?", "+CPIN: READY | OK"))
        self.assertEqual(probes[1], probe("AT+COPS=3,0;+COPS?;+COPS=3,2;+COPS?",
                                          '+COPS: 0,0,"Nordwind",7 | +COPS: 0,2,"310410",7 | OK'))
        self.assertEqual(probes[3], probe("AT+CREG?", '+CREG: 2,1,"0001","00000001",7 | OK'))
        self.assertEqual(probes[5], probe("AT+CSCA?", '+CSCA: "+31624000000",145 | OK'))
        self.assertEqual(probes[7], probe("AT+CRSM=176,28589,0,0,4", "+CRSM: 144,0,00000003 | OK"))
        self.assertEqual(probes[8], probe("ATD123;", "+CME ERROR: 4"))

    def test_a_pc_without_a_modem_ends_with_3(self):
        for scenario in ({}, {"modem": {**MODEM, "smsInterface": False}}):
            with self.subTest(scenario=scenario):
                code, lines = run_modem(**scenario)
                self.assertEqual((code, lines),
                                 (3, ["Modem  none (no mobile broadband modem on this PC): Android shows no SIM"]))

    def test_a_failing_store_is_reported_and_the_probes_still_run(self):
        code, lines = run_modem(modem={**MODEM, "simReady": False, "read": "0x80070057"})
        self.assertEqual(code, 0, lines)
        self.assertEqual(lines[0], "Messages in the modem  no answer from the message store", lines)
        self.assertEqual(lines[1], probe("AT+CPIN?", "+CME ERROR: 10"))
        self.assertEqual(len(lines), 10, lines)


if __name__ == "__main__":
    e2e.main()
