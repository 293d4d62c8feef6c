#!/usr/bin/env python3
"""Benchmarks the background host at rest: installed on a simulated Windows 11 PC (as the
end-to-end test of the host sets it up) with its bridges connected to the simulated Android
(Bluetooth, Windows Hello, registration helper), against a do-nothing Windows program (pd_idle_program, waiting in a message loop)
running beside it under the same Wine in the same run.

  tools/bench-host-idle.py [--seconds 60] [--exe <Peldra-simulated.exe>]

The host is a copy of Peldra-simulated (the build's, or --exe) without debug sections, as a
shipped program is. Needs the windows build (pd_host_driver, pd_idle_program, pd_process_meter).
Both processes are read the Windows way by pd_process_meter inside the prefix (GetProcessTimes,
GetProcessMemoryInfo) and the Unix way from /proc of the Wine processes of this prefix. Wine 8
answers another process's peak working set (from VmHWM) but neither its CPU times nor its private
bytes, so the figures judged are: CPU = the scheduler's run time of every thread over the window
(schedstat, in nanoseconds), wake-ups = voluntary context switches over the window, private =
RssAnon + VmSwap at its end.

A third process, the same do-nothing program after loading every DLL the host loads as it starts
(those its image imports and those it delay-loads, which its entry loads at once from System32),
shows the floor that Wine itself sets for a program of the host's build. Wine does not answer
another process's CPU times either, so "Windows CPU s" reads n/a where the meter's two readings
cannot be one process's times. Targets: the host takes at most 0.005 s of CPU a minute, and at
most twice the private memory of that floor.
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
import bench_figures  # noqa: E402  (beside this script)
import e2e  # noqa: E402
from android_bluetooth import BLUETOOTH_PORT, AndroidBluetoothStack  # noqa: E402
from android_hello import HELLO_PORT, AndroidFingerprintService  # noqa: E402
from loopback import LoopbackService  # noqa: E402
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
REGISTRATION_PORT = "544B5247"  # Android's registration helper, which only speaks when it has news


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


def delay_loaded_dlls(exe):
    """The DLLs the exe delay-loads, as the build that made it lists them for the program
    (generated/pd/DelayLoadedDlls.h in a folder above it); none for a build older than that list.
    The linker leaves the image's delay-import directory empty, so the image cannot tell."""
    for folder in Path(exe).resolve().parents:
        header = folder / "generated" / "pd" / "DelayLoadedDlls.h"
        if header.is_file():
            return bench_figures.dlls_in_header(header.read_text())
    return []


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


def wine_process(image):
    """/proc/<pid> of the Wine process of this benchmark's prefix that runs image: on a shared
    machine other Wine prefixes run programs of the same names."""
    prefix = f"WINEPREFIX={PREFIX.resolve()}".encode()
    for proc in Path("/proc").iterdir():
        try:
            if (proc.name.isdigit() and (proc / "cmdline").read_bytes().split(b"\0")[0].endswith(image.encode())
                    and prefix in (proc / "environ").read_bytes().split(b"\0")):
                return proc
        except OSError:
            pass
    return None


def thread_times(proc):
    """{Linux thread id: (cpu seconds, wake-ups)}: the scheduler's run time (nanoseconds, where the
    tick counts of /proc/<pid>/stat are 10 ms coarse) and the voluntary context switches."""
    times = {}
    for task in (proc / "task").iterdir():
        try:
            status = dict(line.split(":", 1) for line in (task / "status").read_text().splitlines())
            times[int(task.name)] = (int((task / "schedstat").read_text().split()[0]) / 1e9,
                                     int(status["voluntary_ctxt_switches"]))
        except (OSError, KeyError, ValueError):
            pass  # the thread ended
    return times


def unix_view(image):
    """(cpu seconds, wake-ups, private bytes, VmHWM bytes, {thread: (cpu, wake-ups)}) of the Linux
    process that runs image under Wine."""
    proc = wine_process(image)
    try:
        status = dict(line.split(":", 1) for line in (proc / "status").read_text().splitlines())
        kib = {name: int(status[name].split()[0]) for name in ("RssAnon", "VmSwap", "VmHWM")}
        threads = thread_times(proc)
    except (OSError, TypeError, KeyError):
        return None
    return (sum(cpu for cpu, _ in threads.values()), sum(wakes for _, wakes in threads.values()),
            (kib["RssAnon"] + kib["VmSwap"]) * 1024, kib["VmHWM"] * 1024, threads)


def load():
    return " ".join(f"{value:.1f}" for value in os.getloadavg())


def measure(seconds, built_exe):
    driver = built("pd_host_driver.exe")
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
    # Android at rest offers every service the host connects to (without a modem or root, the
    # telephony and elevation bridges connect to none): each bridge waits on its connection.
    android = AndroidBluetoothStack()
    fingerprint, registration = AndroidFingerprintService(), LoopbackService(lambda connection: connection)
    pc = SimulatedPc(road.scratch / "sim", road.publisher, publisherIds={PUBLISHER: "tv9kp7a3nqe2r"},
                     computeSystems=[VM], services={BLUETOOTH_PORT: android.port, HELLO_PORT: fingerprint.port,
                                                    REGISTRATION_PORT: registration.port},
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
        links = []  # held open: a dropped link would close its socket
        for name, service in (("Windows Hello", fingerprint), ("registration", registration)):
            try:
                links.append(service.next_connection(120))
            except Exception:  # none came
                sys.exit(f"bench: the {name} bridge did not connect")
        loaded = bench_figures.floor_dlls(imported_dlls(exe), delay_loaded_dlls(built_exe))
        print(f"the floor loads {len(loaded)} DLLs: {' '.join(loaded)}", flush=True)
        for program, dlls in ((idle, []), (with_imports, loaded)):
            idlers.append(subprocess.Popen([str(WINE_RUN), str(PREFIX), str(program), str((seconds + 60) * 1000),
                                            *dlls], env={**os.environ, **pc.env}, stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL))
        time.sleep(5)  # all settled: the host connected, the do-nothing programs in their loops
        before, unix_before = windows_view(pc, meter), {i: unix_view(i) for i in IMAGES}
        print(f"load average (1, 5, 15 min) on {os.cpu_count()} cores: {load()} at the start", flush=True)
        time.sleep(seconds)
        after, unix_after = windows_view(pc, meter), {i: unix_view(i) for i in IMAGES}
        print(f"load average (1, 5, 15 min): {load()} at the end")
        if unix_before[HOST_IMAGE] and unix_after[HOST_IMAGE]:
            threads_before, threads_after = unix_before[HOST_IMAGE][4], unix_after[HOST_IMAGE][4]
            busy = sorted(((cpu - threads_before.get(tid, (0, 0))[0], wakes - threads_before.get(tid, (0, 0))[1], tid)
                           for tid, (cpu, wakes) in threads_after.items()), reverse=True)
            print("host threads that ran in the window (Linux tid: CPU ms, wake-ups):",
                  ", ".join(f"{tid}: {cpu * 1000:.2f}, {wakes}" for cpu, wakes, tid in busy if wakes > 0) or "none")
        connected = not stack.closed and all(service.connections.empty()
                                             for service in (android, fingerprint, registration))
        return before, after, unix_before, unix_after, connected
    finally:
        run(pc, driver, "stop")
        for idler in idlers:
            idler.kill()
            idler.wait()
        for service in (android, fingerprint, registration):
            service.stop()
        road.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--exe", type=Path, help="the simulated build to measure (default: the one in build/)")
    args = parser.parse_args()
    seconds = args.seconds
    before, after, unix_before, unix_after, connected = measure(seconds, args.exe or built("Peldra-simulated.exe"))
    rows = {}
    print(f"\nidle for {seconds} s, the bridges connected throughout: {'yes' if connected else 'NO'}")
    print(f"{'process':<22}{'pid':>6}{'threads':>9}{'CPU s':>9}{'wake-ups':>10}{'private MiB':>13}"
          f"{'peak WS MiB':>13}{'Windows CPU s':>15}")
    for image in IMAGES:
        if not unix_before[image] or not unix_after[image]:
            sys.exit(f"bench: no Wine process of {PREFIX} runs {image}")
        pid, _, wcpu0, _, _ = before[image]
        _, threads, wcpu1, _, peak = after[image]
        cpu, wakes = (unix_after[image][n] - unix_before[image][n] for n in (0, 1))
        private = unix_after[image][2]
        rows[image] = (cpu, private, peak)
        windows_cpu = bench_figures.cpu_seconds_between(wcpu0, wcpu1)
        print(f"{image:<22}{pid:>6}{threads:>9}{cpu:>9.4f}{wakes:>10}{private / 2**20:>13.2f}{peak / 2**20:>13.2f}"
              + (f"{windows_cpu:>15.3f}" if windows_cpu is not None else f"{'n/a':>15}"))
    host, floor = rows[HOST_IMAGE], rows[IMPORTS_IMAGE]
    print(f"private bytes: host / do-nothing with DLLs {host[1] / floor[1]:.3f}x")
    checks = [("CPU time <= 0.005 s a minute", host[0] <= 0.005 * seconds / 60),
              ("private bytes <= 2x do-nothing with DLLs", host[1] <= 2 * floor[1])]
    for line in bench_figures.verdict_lines(checks):
        print(line)
    return 0 if connected and all(held for _, held in checks) else 1


if __name__ == "__main__":
    sys.exit(main())
