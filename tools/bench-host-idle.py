#!/usr/bin/env python3
"""Benchmarks the background host at rest: installed on a simulated Windows 11 PC (as the
end-to-end test of the host sets it up) with its Bluetooth bridge connected to the simulated
Android, against a do-nothing Windows program (pd_idle_program, waiting in a message loop)
running beside it under the same Wine in the same run.

  tools/bench-host-idle.py [--seconds 60]

The host is a copy of Peldra-simulated without debug sections, as a shipped program is.
Needs the windows build (Peldra-simulated, pd_host_driver, pd_idle_program, pd_process_meter).
Both processes are read the Windows way by pd_process_meter inside the prefix (GetProcessTimes,
GetProcessMemoryInfo) and the Unix way from /proc of the Wine processes. Wine 8 answers another
process's peak working set (from VmHWM) but neither its CPU times nor its private bytes, so the
figures judged are: CPU = utime + stime over the window, private = RssAnon + VmSwap, peak working
set = PeakWorkingSetSize (Windows). Targets: the host takes no
more CPU time than the do-nothing program, and no more than 1.5 times its memory.

A third process, the same do-nothing program after loading every DLL the host's image imports,
shows the floor that Wine itself sets for a program of the host's build; it is shown, not judged.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "support"))
import e2e  # noqa: E402
from android_bluetooth import BLUETOOTH_PORT, AndroidBluetoothStack  # noqa: E402
from make_release import build_release  # noqa: E402
from simulated_pc import SimulatedPc, windows_path  # noqa: E402
from wine import WINE_RUN, Program  # noqa: E402

BUILD = ROOT / "build"
PREFIX = BUILD / "wineprefix-bench-host"
PUBLISHER = "CN=Ormel Test"
VM = {"id": "2B1B9D9E-0A4C-4D3B-9E8F-7A6B5C4D3E2F", "owner": "TovikAndroid", "systemType": "VirtualMachine",
      "state": "Running"}
HOST_IMAGE = "Peldra.exe"  # the installed copy, which the install starts as the host
IDLE_IMAGE = "pd_idle_program.exe"
IMPORTS_IMAGE = "pd_idle_imports.exe"  # the do-nothing program with the host's DLLs loaded
IMAGES = (HOST_IMAGE, IDLE_IMAGE, IMPORTS_IMAGE)


def built(name):
    found = sorted(BUILD.rglob(name))
    if not found:
        sys.exit(f"bench: {name} is not built; run tools/build.sh windows")
    return found[0]


def run(pc, *words, timeout=300):
    """Output to a file, not a pipe: a host that the program starts would inherit it."""
    with tempfile.TemporaryFile() as out:
        done = subprocess.run([str(WINE_RUN), str(PREFIX), *map(str, words)], env={**os.environ, **pc.env},
                              stdout=out, stderr=subprocess.STDOUT, timeout=timeout)
        out.seek(0)
        return done.returncode, out.read().decode("utf-8", "replace")


def imported_dlls(exe):
    """The DLL names the image imports, as its import table lists them."""
    table = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(exe)], capture_output=True, text=True,
                           check=True).stdout
    return [line.split(":", 1)[1].strip() for line in table.splitlines() if "DLL Name:" in line]


def windows_view(pc, meter):
    """{image: (pid, threads, cpu seconds, private bytes, peak working set)} from inside Wine."""
    code, text = run(pc, meter, *IMAGES)
    if code != 0:
        sys.exit(f"bench: the meter failed:\n{text}")
    view = {}
    for line in text.splitlines():
        image, pid, threads, cpu, private, peak = line.split()
        view[image] = (int(pid), int(threads), int(cpu) / 1e7, int(private), int(peak))
    return view


def unix_view(image):
    """(cpu seconds, private bytes, VmHWM bytes) of the Linux process that runs image under Wine."""
    for proc in Path("/proc").iterdir():
        try:
            if proc.name.isdigit() and image.encode() in (proc / "cmdline").read_bytes().split(b"\0")[0]:
                fields = (proc / "stat").read_text().rsplit(")", 1)[1].split()
                cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
                status = dict(line.split(":", 1) for line in (proc / "status").read_text().splitlines())
                kib = {name: int(status[name].split()[0]) for name in ("RssAnon", "VmSwap", "VmHWM")}
                return cpu, (kib["RssAnon"] + kib["VmSwap"]) * 1024, kib["VmHWM"] * 1024
        except (OSError, IndexError, KeyError):
            pass
    return None


def thread_times(image):
    """{Linux thread id: cpu seconds} of the Wine process that runs image, to see who spends it."""
    for proc in Path("/proc").iterdir():
        try:
            if proc.name.isdigit() and image.encode() in (proc / "cmdline").read_bytes().split(b"\0")[0]:
                times = {}
                for task in (proc / "task").iterdir():
                    fields = (task / "stat").read_text().rsplit(")", 1)[1].split()
                    times[int(task.name)] = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
                return times
        except (OSError, IndexError):
            pass
    return {}


def measure(seconds):
    built_exe, driver = built("Peldra-simulated.exe"), built("pd_host_driver.exe")
    # Without its debug sections, as shipped: Wine reads a PE image's sections into memory, and
    # the ~95 MB of DWARF in a RelWithDebInfo build would count as the host's own memory.
    exe = built_exe.with_name("Peldra-simulated-stripped.exe")
    subprocess.run(["x86_64-w64-mingw32-strip", "--strip-debug", "-o", str(exe), str(built_exe)], check=True)
    idle, meter = built(IDLE_IMAGE), built("pd_process_meter.exe")
    with_imports = idle.with_name(IMPORTS_IMAGE)
    subprocess.run(["cp", str(idle), str(with_imports)], check=True)
    subprocess.run(["rm", "-rf", str(PREFIX)], check=True)  # a fresh install each run
    e2e.program = Program(exe, PREFIX)
    road = e2e.ReleaseRoad("bench-host", developer_mode=True)
    android = AndroidBluetoothStack()
    pc = SimulatedPc(road.scratch / "sim", road.publisher, publisherIds={PUBLISHER: "tv9kp7a3nqe2r"},
                     computeSystems=[VM], services={BLUETOOTH_PORT: android.port},
                     bluetooth={"adapter": "001A7DDA7113"})
    idlers = []
    try:
        identity = (f'<Package><Identity Name="TovikPackage" Publisher="{PUBLISHER}" Version="2.0.0.0" '
                    'ProcessorArchitecture="x64"/></Package>\n')
        build_release({"version": "2.0.0", "android": "Android 15", "variant": "Test", "catalog": True,
                       "components": [
                           {"id": "system", "kind": "disk", "target": "system.vhdx", "content": {"zeros": 1 << 20}},
                           {"id": "app", "kind": "archive", "target": ".",
                            "entries": [{"name": "AppxManifest.xml", "content": identity}]}]},
                      road.server.root / "bench", road.publisher)
        run(pc, "reg", "add", "HKCU\\Software\\Ormel\\Peldra", "/v", "Bluetooth", "/t", "REG_DWORD", "/d", "1", "/f")
        code, text = run(pc, exe, "install", "--yes", "--no-progress", "--source",
                         f"{road.server.url}/bench/manifest.json", "--dir", windows_path(road.scratch / "Tovik"))
        if code != 0:
            sys.exit(f"bench: the install failed ({code}):\n{text}")
        try:
            stack = android.next_host()
            reset = stack.reset()
        except Exception as error:  # none came, or it ended before the answer
            reset = error
        if reset != 0:
            sys.exit(f"bench: the Bluetooth bridge did not connect: {reset}")
        for program, dlls in ((idle, []), (with_imports, imported_dlls(exe))):
            idlers.append(subprocess.Popen([str(WINE_RUN), str(PREFIX), str(program), str((seconds + 60) * 1000),
                                            *dlls], env={**os.environ, **pc.env}, stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL))
        time.sleep(5)  # all settled: the host connected, the do-nothing programs in their loops
        before, unix_before = windows_view(pc, meter), {i: unix_view(i) for i in IMAGES}
        threads_before = thread_times(HOST_IMAGE)
        time.sleep(seconds)
        threads_after = thread_times(HOST_IMAGE)
        busy = sorted(((threads_after[tid] - threads_before.get(tid, 0), tid) for tid in threads_after), reverse=True)
        print("host threads by CPU s over the window (Linux tid):",
              ", ".join(f"{tid} {cpu:.2f}" for cpu, tid in busy if cpu > 0))
        after, unix_after = windows_view(pc, meter), {i: unix_view(i) for i in IMAGES}
        connected = not stack.closed and android.connections.empty()
        return before, after, unix_before, unix_after, connected
    finally:
        run(pc, driver, "stop")
        for idler in idlers:
            idler.kill()
            idler.wait()
        android.stop()
        road.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seconds", type=int, default=60)
    seconds = parser.parse_args().seconds
    before, after, unix_before, unix_after, connected = measure(seconds)
    rows = {}
    print(f"\nidle for {seconds} s, Bluetooth bridge connected throughout: {'yes' if connected else 'NO'}")
    print(f"{'process':<22}{'pid':>6}{'threads':>9}{'CPU s':>9}{'private MiB':>13}{'peak WS MiB':>13}"
          f"{'Windows CPU s':>15}{'Windows private MiB':>21}")
    for image in IMAGES:
        if not unix_before[image] or not unix_after[image]:
            sys.exit(f"bench: no Wine process runs {image}")
        pid, _, wcpu0, _, _ = before[image]
        _, threads, wcpu1, wprivate, peak = after[image]
        cpu, private = unix_after[image][0] - unix_before[image][0], unix_after[image][1]
        rows[image] = (cpu, private, peak)
        print(f"{image:<22}{pid:>6}{threads:>9}{cpu:>9.3f}{private / 2**20:>13.2f}{peak / 2**20:>13.2f}"
              f"{wcpu1 - wcpu0:>15.3f}{wprivate / 2**20:>21.2f}")
    host, idle = rows[HOST_IMAGE], rows[IDLE_IMAGE]
    checks = [("CPU time <= do-nothing", host[0] <= idle[0]),
              ("private bytes <= 1.5x do-nothing", host[1] <= 1.5 * idle[1]),
              ("peak working set <= 1.5x do-nothing", host[2] <= 1.5 * idle[2])]
    for name, held in checks:
        print(f"{name:<40}{'holds' if held else 'MISSED'}")
    return 0 if connected and all(held for _, held in checks) else 1


if __name__ == "__main__":
    sys.exit(main())
