"""Decodes every SMS PDU the AT engine hands Android with python-gammu, field by field."""
import binascii
import datetime
import subprocess
import sys

import gammu

WHEN = datetime.datetime(2025, 3, 7, 14, 5, 9)


def reports(wire):
    """(announced TPDU length, PDU octets) of each "+CMT" report, in order."""
    lines = [line for line in wire.split("\r\n") if line]
    assert lines[0] == "OK", lines[0]
    found = []
    for header, pdu in zip(lines[1::2], lines[2::2]):
        assert header.startswith("+CMT: ,"), header
        found.append((int(header[len("+CMT: ,"):]), binascii.unhexlify(pdu)))
    assert 2 * len(found) == len(lines) - 1, lines
    return found


def check(name, got, expected):
    if got != expected:
        sys.exit(f"{name}: decoded {got!r}, expected {expected!r}")


def main():
    wire = subprocess.run([sys.argv[1]], check=True, capture_output=True).stdout.decode("ascii")
    found = reports(wire)
    check("reports", len(found), 5)
    for length, pdu in found:
        check("TPDU length after the service-centre field", length, len(pdu) - pdu[0] - 1)
    decoded = [gammu.DecodePDU(pdu) for _, pdu in found]
    for sms in decoded:
        check("type", sms["Type"], "Deliver")

    text = decoded[0]
    check("text SMS service centre", text["SMSC"]["Number"], "+31624000000")
    check("text SMS originator", text["Number"], "+31641600986")
    check("text SMS text", text["Text"], "How are you?")
    check("text SMS time", text["DateTime"], datetime.datetime(2002, 8, 26, 19, 37, 41))

    notice = decoded[1]
    check("notice originator", notice["Number"], "+12345")
    check("notice coding", notice["Coding"], "8bit")
    check("notice time", notice["DateTime"], WHEN)
    check("notice port header", notice["UDH"]["Text"], b"\x06\x05\x04\x0b\x84\x23\xf0")
    check("notice WSP push", notice["Text"], b"\x00\x06\x03\xbe\xaf\x84\x8c\x82")

    wsp = b""
    for part, sms in enumerate(decoded[2:4], start=1):
        check("long notice originator (alphanumeric, its \"!\" replaced)", sms["Number"], "Hello?")
        check("long notice time", sms["DateTime"], WHEN)
        udh = sms["UDH"]
        check("long notice reference", udh["ID8bit"], 0x2A)
        check("long notice parts", (udh["PartNumber"], udh["AllParts"]), (part, 2))
        wsp += sms["Text"]
    check("long notice WSP push", wsp, b"\x00\x06\x03\xbe\xaf\x84" + bytes(range(200)))

    arrived = decoded[4]
    check("arriving SMS originator", arrived["Number"], "0049301234")
    check("arriving SMS coding", arrived["Coding"], "8bit")
    check("arriving SMS data", arrived["Text"], b"\xc8\xb4")
    print("every PDU decoded as built")


if __name__ == "__main__":
    main()
