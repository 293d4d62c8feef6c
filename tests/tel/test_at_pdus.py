"""Decodes every SMS PDU the AT engine hands Android with python-gammu, field by field."""
import binascii
import datetime
import subprocess
import sys

import gammu

WHEN = datetime.datetime(2025, 3, 7, 14, 5, 9)
PORTS = b"\x06\x05\x04\x0b\x84\x23\xf0"
# Per "+CMT" report, in order: the fields gammu must decode from its PDU.
EXPECTED = [
    {"Number": "+31641600986", "Text": "How are you?", "DateTime": datetime.datetime(2002, 8, 26, 19, 37, 41),
     "SMSC": "+31624000000"},
    {"Number": "+12345", "Text": b"\x00\x06\x03\xbe\xaf\x84\x8c\x82", "DateTime": WHEN, "UDH": PORTS},
    # The long notice's parts, from an alphanumeric originator whose "!" the encoder replaces.
    {"Number": "Hello?", "DateTime": WHEN, "Part": (0x2A, 1, 2), "Text": b"\x00\x06\x03\xbe\xaf\x84" + bytes(range(122))},
    {"Number": "Hello?", "DateTime": WHEN, "Part": (0x2A, 2, 2), "Text": bytes(range(122, 200))},
    {"Number": "0049301234", "Text": b"\xc8\xb4", "Coding": "8bit"},
]


def main():
    wire = subprocess.run([sys.argv[1]], check=True, capture_output=True).stdout.decode("ascii")
    lines = [line for line in wire.split("\r\n") if line]
    assert lines[0] == "OK" and len(lines) == 1 + 2 * len(EXPECTED), lines
    for n, (header, hex_pdu, expected) in enumerate(zip(lines[1::2], lines[2::2], EXPECTED)):
        pdu = binascii.unhexlify(hex_pdu)
        sms = gammu.DecodePDU(pdu)
        got = {key: sms[key] for key in ("Number", "Text", "DateTime", "Coding") if key in expected}
        got.update({"SMSC": sms["SMSC"]["Number"]} if "SMSC" in expected else {})
        got.update({"UDH": sms["UDH"]["Text"]} if "UDH" in expected else {})
        udh = sms["UDH"]
        got.update({"Part": (udh["ID8bit"], udh["PartNumber"], udh["AllParts"])} if "Part" in expected else {})
        assert sms["Type"] == "Deliver", (n, sms["Type"])
        assert header == f"+CMT: ,{len(pdu) - pdu[0] - 1}", (n, header, "TPDU length after the service centre")
        assert got == expected, (n, got, expected)
    print("every PDU decoded as built")


if __name__ == "__main__":
    main()
