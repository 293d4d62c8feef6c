"""The Windows Hello bridge of the background host under Wine on a simulated Windows 11 PC, against
the simulated Android's fingerprint service: every answer, device arrivals and removals, malformed
and truncated frames, a request sent the moment an answer is read; then the bluetooth and hello
commands with their exit codes. A prefix of its own: the host lives in it."""
import queue
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import e2e  # noqa: E402
from android_hello import AVAILABILITY, CANCEL, VERIFY, HELLO_PORT, AndroidFingerprintService, frame  # noqa: E402
from host_road import RUNNING_VM as VM, SETTINGS_KEY, HostRoad  # noqa: E402

HOST_REFUSES = "the Peldra background host already serves Windows Hello (see the log in %LOCALAPPDATA%\\Peldra)"
driver = None


def setUpModule():
    global road, android, pc, run, host_log
    android = AndroidFingerprintService()
    road = HostRoad("hello", services={HELLO_PORT: android.port}, hello={"result": 0, "readers": 1})
    pc, run, host_log = road.pc, road.run, road.host_log
    # The install starts the host, which serves Windows Hello whatever the settings say.
    installed = road.install()
    assert installed.returncode == 0, installed.stdout + installed.stderr


def tearDownModule():
    run(driver, "stop")
    android.stop()
    road.stop()


def set_hello(**hello):
    """Windows Hello with one reader plugged in unless the test says otherwise: the baseline every
    new connection starts from."""
    pc.scenario["hello"] = {"readers": 1, **hello}
    pc.write()


class HelloBridgeTest(unittest.TestCase):
    def fresh_link(self):
        """The bridge's next connection, after its first availability announcement."""
        link = android.next_link()
        self.assertIsNotNone(link.next(AVAILABILITY))
        return link

    def test_every_answer_android_can_get(self):
        link = self.fresh_link()
        for result, answer in ((0, 1), (5, 5), (1, 3), (4, 4), (6, 2), ("fails", 5)):
            with self.subTest(result=result):
                set_hello(result=result)
                self.assertEqual(link.verify(), answer)
        # Cancelled while the prompt is open; the prompt answers its own request, a second is busy.
        set_hello(result=0, promptMs=20000)
        link.send(frame(VERIFY))
        link.send(frame(VERIFY))
        self.assertEqual(link.next(VERIFY), 4)
        link.send(frame(CANCEL))
        self.assertEqual(link.next(VERIFY), 2)
        link.close()

    def test_a_request_sent_the_moment_an_answer_is_read_is_served(self):
        set_hello(result=0)
        link = self.fresh_link()
        answers = [link.verify() for _ in range(10)]
        self.assertEqual(answers, [1] * 10, "4 is busy, though nothing ran")
        link.close()

    def test_a_reader_that_leaves_and_comes_back_while_connected(self):
        link = android.next_link()
        self.assertEqual(link.next(AVAILABILITY), 0)
        set_hello(availability=1, result=0, readers=0)
        self.assertEqual(link.next(AVAILABILITY), 3)
        set_hello(availability=0, result=0, readers=1)
        self.assertEqual(link.next(AVAILABILITY), 0)
        link.close()

    def test_bad_frames_drop_the_connection_and_the_next_is_served(self):
        set_hello(result=0)
        for name, data in (("wrong magic", frame(VERIFY, magic=0x54464B50)),
                           ("payload of 513", frame(VERIFY, length=513, payload=bytes(513)))):
            with self.subTest(name):
                link = self.fresh_link()
                link.send(data)
                self.assertIsNone(link.next(VERIFY), "the bridge ends the connection")
                link.close()
        self.assertIn("hello: invalid frame (magic=0x54464B50, len=0), dropping the connection", host_log())
        self.assertIn("hello: invalid frame (magic=0x50464B54, len=513), dropping the connection", host_log())

        # A frame cut off by Android's side ends the connection silently.
        link = self.fresh_link()
        link.send(frame(VERIFY, length=10, payload=b"abc"))
        link.close()

        # Unknown kinds and payloads up to 512 bytes are read whole and dropped.
        link = self.fresh_link()
        link.send(frame(9, 1, payload=bytes(512)) + frame(AVAILABILITY, payload=b"x" * 7))
        self.assertEqual(link.verify(), 1)
        link.close()


class OwnVmTest(unittest.TestCase):
    def test_only_this_users_vm_is_served_and_a_verification_answers_only_the_vm_it_was_given_for(self):
        """Another account's VM, listed first with its own fingerprint service, is never served; a
        remembered verification is forgotten when this user's Tovik comes back as a new VM."""
        other = AndroidFingerprintService()
        others_vm = {"id": "0D1E2F3A-4B5C-4D6E-8F70-8192A3B4C5D6", "owner": "TovikAndroid",
                     "account": "S-1-5-21-9-9-9-1001", "services": {HELLO_PORT: other.port}}
        new_vm = {**VM, "id": "5C4D3E2F-0A4C-4D3B-9E8F-7A6B2B1B9D9E"}
        set_hello(result=0)
        self.assertEqual(run(e2e.program.exe, "hello", "remember", "30", "--yes").returncode, 0)
        try:
            link = android.next_link()
            self.assertIsNotNone(link.next(AVAILABILITY))
            self.assertEqual([link.verify(), link.verify()], [1, 1])
            prompts = len(pc.state().get("helloPrompts", []))
            self.assertIn("hello: verification requested, remembered (setting HelloRemember)", host_log())

            pc.scenario["computeSystems"] = [others_vm, new_vm]
            pc.write()
            link.close()  # as the VM's end ends its connections
            link = android.next_link()
            self.assertIsNotNone(link.next(AVAILABILITY))
            self.assertEqual(link.verify(), 1)
            self.assertEqual(len(pc.state()["helloPrompts"]), prompts + 1, "asked again for the new VM")
            self.assertIn("hello: another Android VM asks, a remembered verification is forgotten", host_log())
            self.assertIn(f"host: Tovik VM {{{new_vm['id']}}}", host_log())
            with self.assertRaises(queue.Empty):
                other.next_connection(timeout=5)
            link.close()
        finally:
            run(e2e.program.exe, "hello", "remember", "off")
            pc.scenario["computeSystems"] = [VM]
            pc.write()
            other.stop()


class HelloCommandsTest(unittest.TestCase):
    def test_hello_and_bluetooth_commands(self):
        cases = [
            # words, scenario's hello, exit code, text in the output
            (["hello", "--check"], {"availability": 0}, 0,
             "Windows Hello  available (fingerprint / Windows Hello ready)"),
            (["hello", "--check"], None, 3, "Windows Hello  no biometric / Windows Hello device present"),
            (["hello", "--test"], {"result": 0}, 0, "[ OK ] Result: verified"),
            (["hello", "--test"], {"result": 6}, 4, "Result: canceled"),
            (["hello", "--test"], {"result": 5}, 1, "Result: failed"),
            (["hello", "--test"], None, 3, "Windows Hello  no biometric"),
            (["hello"], {}, 3, HOST_REFUSES),
            (["hello", "remember", "30"], {}, 4, "add --yes to accept this at your own responsibility"),
            (["hello", "remember", "30", "--yes"], {}, 0, "Remember Windows Hello: for 30 minutes"),
            (["hello", "Remember"], {}, 0, "Remember Windows Hello  for 30 minutes"),
            (["hello", "remember", "LOCK", "--yes"], {}, 0, "Remember Windows Hello: until Windows is locked"),
            (["hello", "remember", "10"], {}, 2, "hello remember: off, 5, 30 or lock"),
            (["hello", "remember", "off"], {}, 0, "Remember Windows Hello: off (Windows Hello asks every time)"),
            # The host runs with Bluetooth off: the command serves it, and this PC has no adapter.
            (["bluetooth"], {}, 3, "no Bluetooth adapter is available in Windows"),
            (["bluetooth", "--list-vms"], {}, 0, VM["id"]),
        ]
        for words, hello, code, text in cases:
            with self.subTest(words=words, hello=hello):
                if hello is None:
                    pc.scenario.pop("hello", None)
                    pc.write()
                else:
                    set_hello(**hello)
                done = run(e2e.program.exe, *words)
                self.assertEqual(done.returncode, code, done.stdout + done.stderr)
                self.assertIn(text, done.stdout + done.stderr)
        stored = run("reg", "query", SETTINGS_KEY, "/v", "HelloRemember")
        self.assertIn("0x0", stored.stdout)
        set_hello(result=0)

    def test_a_link_planted_as_the_data_folder_is_never_written_through(self):
        """A program of the user can put a link where the elevated program keeps its log: the log is
        then not written, and says so, and the command works on."""
        data = road.host_log_path().parent
        kept, planted = data.with_name("Peldra.kept"), road.scratch / "planted"
        planted.mkdir(exist_ok=True)
        data.rename(kept)
        data.symlink_to(planted, target_is_directory=True)
        try:
            done = run(e2e.program.exe, "bluetooth")
            self.assertEqual(done.returncode, 3, done.stdout + done.stderr)
            self.assertIn("no Bluetooth adapter is available in Windows", done.stdout + done.stderr)
            self.assertRegex(done.stdout + done.stderr, r"log: not written to .*Peldra\\bluetooth\.log: "
                                                        r".*Peldra is a link, junction or mount point")
            self.assertEqual(list(planted.iterdir()), [])
        finally:
            data.unlink()
            kept.rename(data)

    def test_help_lists_only_what_works(self):
        usage = run(e2e.program.exe, "help").stdout
        self.assertIn("  hello --check", usage)
        self.assertIn("  modem   ", usage)


if __name__ == "__main__":
    driver = e2e.take_option("--driver")
    e2e.main()
