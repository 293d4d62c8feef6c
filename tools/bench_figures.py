"""The figures and verdicts the benchmarks under tools/ print, apart from what they measure, so
that what a benchmark claims can be tested without running it."""
import statistics


def dlls_in_header(text):
    """The DLL names of the generated DelayLoadedDlls.h: its wide string constants (L"bcrypt.dll")."""
    names = (part.split('"', 1)[0] for part in text.split('L"')[1:])
    return [name for name in names if name.lower().endswith(".dll")]


def floor_dlls(imported, delay_loaded):
    """Every DLL a program loads as it starts, each once: names compare without case, as Windows
    compares them."""
    seen, dlls = set(), []
    for name in [*imported, *delay_loaded]:
        if name.lower() not in seen:
            seen.add(name.lower())
            dlls.append(name)
    return dlls


def cpu_seconds_between(before, after):
    """The CPU seconds between two readings of one process, or None where the readings cannot be
    one process's times: none at all, or a later one below the earlier."""
    spent = after - before
    return spent if before > 0 and spent >= 0 else None


def verdict_lines(checks):
    """Each (name, held) as a line: the name, a gap even after the longest name, the verdict."""
    width = max(len(name) for name, _ in checks) + 2
    return [f"{name:<{width}}{'holds' if held else 'MISSED'}" for name, held in checks]


def ratio_verdict(name, ratio, goal, refusal=None):
    """A ratio against its goal (at most goal times the yardstick), with three decimals so that a
    ratio just above the goal does not read as the goal; judged on the unrounded value. A refusal
    (why the yardstick cannot serve) replaces the verdict."""
    if refusal:
        return f"{name}: not measured: {refusal}"
    return f"{name} {ratio:.3f}x (goal <= {goal}x): {'met' if ratio <= goal else 'MISSED'}"


def yardstick_refusal(rate, recorded, least_share=0.8):
    """Why a run's yardstick cannot serve, or None: the bare window's paints per second fell well
    below its own recorded rate (a starved yardstick makes any window look close to it)."""
    if recorded and rate < least_share * recorded:
        return (f"the yardstick painted {rate:.1f}/s, below {least_share:.0%} of its recorded {recorded:.1f}/s "
                f"(the machine was busy)")
    return None


def median_pair_ratio(ours, theirs):
    """The median over runs of each run's pair ratio (theirs / ours, as both ran side by side):
    one lucky run of either side moves it little, unlike the best of each side taken apart."""
    return statistics.median(t / o for o, t in zip(ours, theirs, strict=True))


def read_breakdown(bridge_us, device_us, transport_us):
    """What the bridge adds to a read over the device's own answer, split into the bare
    transport's round trip and the rest, as one consistent line: a transport that took longer
    than all the bridge added is named as such, not subtracted into a negative."""
    added = bridge_us - device_us
    if transport_us <= added:
        return (f"bridge added (median) {added:.1f}us = the transport alone {transport_us:.1f}us + "
                f"the bridge's own work {added - transport_us:.1f}us")
    return (f"bridge added (median) {added:.1f}us, less than the transport alone {transport_us:.1f}us: "
            f"the bridge's own work is within this run's spread")
