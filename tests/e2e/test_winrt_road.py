"""The shipped Peldra.exe on a PC whose Windows Runtime classes are the test classes
(tests/support/winrt-classes, registered in this test's prefix as Windows' own), with no
PELDRA_SIMULATION: status and the Windows Hello commands reach the package manager and the
consent verifier through the real adapters. The shipped exe installs only an official release on
Windows 11, which Wine never reports and no test may sign, so the install's registration step
(dependencies, the folder registered, Tovik's settings seeded) runs through the same adapters
from a driver exe."""
import os
import struct
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
from simulated_pc import windows_path  # noqa: E402
from wine import ROOT, Program  # noqa: E402
from android_bluetooth import ATT_CID, ATT_NOTIFICATION, LE_META, AndroidBluetoothStack, discover  # noqa: E402

TOOLS = ROOT / "tools"
FAMILY = "TovikPackage_tv9kp7a3nqe2r"
TEXT = "07911326040000F0040B911346610089F60000208062917314080CC8F71D14969741F977FD07"
MMS_NOTICE = "004405912143F50004523070415090000F0605040B8423F0000603BEAF848C82"
CLASSES = None  # pd_winrt_test_classes.dll, from --classes
DRIVER = None  # pd_winrt_road_driver.exe, from --driver


class WinRtRoad(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        env = {"PD_WINE_NULL_GRAPHICS": "1"}  # the Windows Hello prompt's owner window
        subprocess.run([str(TOOLS / "wine-prefix.sh"), e2e.program.prefix, "start"], check=True,
                       env={**os.environ, **env})
        subprocess.run([str(TOOLS / "register-test-classes.sh"), e2e.program.prefix, CLASSES], check=True)
        cls.scratch = Path(tempfile.mkdtemp(prefix="peldra-winrt-road-e2e-"))

    @classmethod
    def tearDownClass(cls):
        subprocess.run([str(TOOLS / "wine-prefix.sh"), e2e.program.prefix, "stop"], check=False)
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def test_status_shows_the_registered_package_and_windows_hello(self):
        folder = self.scratch / "Tovik"
        folder.mkdir(exist_ok=True)
        (folder / "peldra.json").write_text('{"version": "2.0.0", "components": {}}', encoding="utf-8")
        registered = f"TovikPackage|tv9kp7a3nqe2r|2.0.0.0|9|{windows_path(folder)}|1"
        rows = [
            ({"PD_TEST_PACKAGES": registered, "PD_TEST_AVAILABILITY": "0"},
             [f"Tovik package             2.0.0.0 ({windows_path(folder)})\n",
              # The registration only names its folder (any program of the user can make one):
              # it is shown as an install this run does not act on until the user chooses it.
              f"Install folder            {windows_path(folder)} (not acted on until chosen: see above)\n",
              "Installed release         2.0.0\n",
              "Windows Hello             available (fingerprint / Windows Hello ready)\n"]),
            ({"PD_TEST_PACKAGES": "Other|abc|1.0.0.0|9||0", "PD_TEST_AVAILABILITY": "1"},
             ["Tovik package             not registered\n",
              "Windows Hello             no biometric / Windows Hello device present\n"]),
            ({"PD_TEST_UNREGISTERED": "Windows.Security.Credentials.UI.UserConsentVerifier"},
             ["Windows Hello             unavailable (WinRT check failed)\n"]),
        ]
        for env, lines in rows:
            status = e2e.program.run("status", env=env)
            self.assertEqual(status.code, 0, status.stdout + status.stderr)
            for line in lines:
                self.assertIn(line, status.stdout, env)

    def test_hello_check_and_test_go_through_the_consent_verifier(self):
        checked = e2e.program.run("hello", "--check", env={"PD_TEST_AVAILABILITY": "2"})
        self.assertIn("Windows Hello  not configured for this Windows user", checked.stdout)
        self.assertNotEqual(checked.code, 0)
        for verify, word in [("0", "verified"), ("thread 0", "verified"), ("6", "canceled")]:
            tested = e2e.program.run("hello", "--test",
                                     env={"PD_TEST_AVAILABILITY": "0", "PD_TEST_VERIFY": verify})
            self.assertIn("Windows Hello  available", tested.stdout)
            self.assertIn(f"Result: {word}", tested.stdout + tested.stderr, verify)
            self.assertEqual(tested.code == 0, word == "verified", tested.stdout + tested.stderr)

    def test_modem_reads_the_store_and_answers_the_probes_through_mobile_broadband(self):
        modem = {"PD_TEST_MBN_MODEM": "490154203237518|310410123456789|89014103211118510720|1|3|310410|"
                                      "Nordwind|32|20|+31624000000|2|4",
                 "PD_TEST_MBN_STORE": f"1:1:{TEXT};4:0:{MMS_NOTICE}"}
        done = e2e.program.run("modem", env=modem)
        self.assertEqual(done.code, 0, done.stdout + done.stderr)
        lines = [line for line in done.stdout.splitlines() if not line.startswith("[")]
        self.assertEqual(lines[0], "Messages in the modem  2", lines)
        self.assertEqual(sorted(lines[1:3]), ["  #1   read    2002-08-26 19:37:41   38 octets  text",
                                              "  #4   unread  2025-03-07 14:05:09   32 octets  MMS notice"])
        self.assertIn(f"{'AT+CPIN?':<40} +CPIN: READY | OK", lines)

        none = e2e.program.run("modem", env={**modem, "PD_TEST_MBN_INTERFACES": "none"})
        self.assertEqual((none.code, none.stdout.splitlines()[-1:]),
                         (3, ["Modem  none (no mobile broadband modem on this PC): Android shows no SIM"]))

    def test_the_install_registration_step_runs_through_the_real_adapters(self):
        folder = self.scratch / "Release"
        folder.mkdir(exist_ok=True)
        (folder / "AppxManifest.xml").write_text(
            '<Package><Dependencies><PackageDependency Name="Tovik.Runtime" MinVersion="1.2.0.0"/>'
            '</Dependencies></Package>', encoding="utf-8")
        (folder / "Tovik.Runtime_x64.appx").write_bytes(b"appx")
        uri = "file:///" + windows_path(folder).replace("\\", "/")
        driver = Program(DRIVER, e2e.program.prefix)
        env = {"PD_TEST_FAMILIES": FAMILY, "PD_TEST_DEPLOY": "thread",
               "PD_TEST_PACKAGES": "Tovik.Runtime|p|1.1.0.0|9||0"}  # older than the release needs
        done = driver.run("register", windows_path(folder), env=env)
        self.assertEqual(done.code, 0, done.stdout + done.stderr)
        calls = done.stdout.split("calls:\n", 1)[1].splitlines()
        self.assertEqual([call.split(" ")[:2] for call in calls],
                         [["FindPackagesByUserSecurityId", "[]"],  # the account's own packages
                          ["AddPackageAsync", f"{uri}/Tovik.Runtime_x64.appx"],
                          ["RegisterPackageAsync", f"{uri}/AppxManifest.xml"]])
        self.assertIn("setting DeveloperModeEnabled present\n", done.stdout)
        self.assertIn("setting OptionalDiagnosticDataEnabled present\n", done.stdout)

        env["PD_TEST_PACKAGES"] = "Tovik.Runtime|p|1.2.0.0|9||0"
        env["PD_TEST_DEPLOY"] = "error 80073CFB Resources it modifies are in use."
        failed = driver.run("register", windows_path(folder), env=env)
        self.assertEqual(failed.code, 1, failed.stdout + failed.stderr)
        self.assertNotIn("AddPackageAsync", failed.stdout)
        # The deployment's own text comes before Windows' text for the code.
        self.assertIn("[FAIL] Registering the Tovik package: Resources it modifies are in use. Windows says: ",
                      failed.stdout)
        self.assertIn("(code 0x80073CFB)", failed.stdout)
        # A dependency that cannot be added is named first.
        env["PD_TEST_PACKAGES"] = "Tovik.Runtime|p|1.1.0.0|9||0"
        failed = driver.run("register", windows_path(folder), env=env)
        self.assertEqual(failed.code, 1, failed.stdout + failed.stderr)
        self.assertIn("[FAIL] Tovik.Runtime: Resources it modifies are in use. Windows says: ", failed.stdout)

    def test_the_bluetooth_road_runs_through_the_real_adapters(self):
        """The driver reads the default adapter and serves one H4 session to the scripted Android
        host: a scan that reports the watcher's advertisement, a connection to that device,
        discovery, a read, a write and a notification, answered by the test classes as scripted."""
        adapter, peer, name = "001A7DDA7113", "C0FFEE000001", b"Thermo"
        env = {"PD_TEST_ADAPTER": adapter,
               "PD_TEST_ADVERTISEMENT": f"{peer} 1 0 -60 1 1 01:06 09:{name.hex()}",
               "PD_TEST_GATT": "s:1:1800:0;c:2:2a00:2:0;s:4:180f:0;c:5:2a19:26:0;d:7:2902",
               "PD_TEST_GATT_READ": "thread 0 - 64", "PD_TEST_GATT_WRITE": "now 0 -",
               "PD_TEST_GATT_CONFIG": "now 0 - 0", "PD_TEST_GATT_NOTIFY": "63",
               "PD_TEST_GATT_SESSION": "now 1", "PD_TEST_GATT_SESSION_EVENT": "1", "PD_TEST_PAIRING": "0 1"}
        android = AndroidBluetoothStack()
        self.addCleanup(android.stop)
        served = {}
        driver = threading.Thread(target=lambda: served.update(done=Program(DRIVER, e2e.program.prefix).run(
            "bluetooth", str(android.port), env=env, timeout=180)))
        driver.start()
        host = android.next_host()
        self.addCleanup(host.close)

        self.assertEqual(host.reset(), 0)
        self.assertEqual(host.command(0x1009), b"\0" + bytes.fromhex(adapter)[::-1])  # Read BD_ADDR
        peer_air = bytes.fromhex(peer)[::-1]
        self.assertEqual(host.command(0x200B, struct.pack("<BHHBB", 1, 0x10, 0x10, 0, 0)), b"\0")
        self.assertEqual(host.command(0x200C, b"\x01\x01"), b"\0")
        report = host.event(LE_META, 0x02)
        self.assertEqual(report[4:10], peer_air, report.hex())
        self.assertIn(bytes([len(name) + 1, 9]) + name, report, report.hex())
        self.assertEqual(host.command(0x200C, b"\x00\x00"), b"\0")

        parameters = struct.pack("<HHBB6sBHHHHHH", 0x60, 0x30, 0, 1, peer_air, 0, 0x18, 0x28, 0, 0x1F4, 0, 0)
        self.assertEqual(host.command(0x200D, parameters), b"\0")
        complete = host.event(LE_META, 0x01)
        self.assertEqual((complete[1], complete[6:12]), (0, peer_air), complete.hex())
        handle = struct.unpack_from("<H", complete, 2)[0]

        self.assertEqual(discover(host, handle), {"1800": {"2a00": (0x02, 3, {})},
                                                  "180f": {"2a19": (0x1A, 6, {"2902": 7})}})
        self.assertEqual(host.att(handle, struct.pack("<BH", 0x0A, 6)), b"\x0b\x64")
        self.assertEqual(host.att(handle, struct.pack("<BHB", 0x12, 6, 0x2A)), b"\x13")
        self.assertEqual(host.att(handle, struct.pack("<BHH", 0x12, 7, 1)), b"\x13")
        self.assertEqual(host.l2cap(handle, ATT_CID, lambda pdu: pdu[0] == ATT_NOTIFICATION), b"\x1b\x06\x00\x63")
        self.assertEqual(host.att(handle, struct.pack("<BHH", 0x12, 7, 0)), b"\x13")
        self.assertEqual(host.command(0x0406, struct.pack("<HB", handle, 0x13)), b"\0")
        self.assertEqual(host.event(0x05)[:3], b"\0" + struct.pack("<H", handle))
        host.connection.shutdown(socket.SHUT_RDWR)  # the reader's file keeps the socket open
        driver.join(60)
        done = served["done"]
        self.assertEqual(done.code, 0, done.stdout + done.stderr)
        self.assertIn(f"adapter {adapter}", done.stdout)
        calls = done.stdout.split("calls:\n", 1)[1].splitlines()
        for call in (f"FromDeviceIdAsync device {peer}", "ReadValue 5", "WriteValue 5 2A option 0",
                     "WriteConfiguration 5 1", "WriteConfiguration 5 0"):
            self.assertIn(call, calls)


if __name__ == "__main__":
    CLASSES = e2e.take_option("--classes")
    DRIVER = e2e.take_option("--driver")
    e2e.main()
