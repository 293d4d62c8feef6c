#!/usr/bin/env python3
"""tools/bench_figures.py: the figures the benchmarks print claim what is true."""
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))
import bench_figures as figures  # noqa: E402


class BenchFigures(unittest.TestCase):
    def test_the_floor_loads_the_static_and_the_delay_loaded_dlls_once_each(self):
        header = 'inline constexpr const wchar_t* DelayLoadedDlls[] = {L"bcrypt.dll", L"D2D1.dll", L"x"};'
        self.assertEqual(figures.dlls_in_header(header), ["bcrypt.dll", "D2D1.dll"])
        self.assertEqual(figures.floor_dlls(["KERNEL32.dll", "d2d1.dll"], ["bcrypt.dll", "D2D1.dll"]),
                         ["KERNEL32.dll", "d2d1.dll", "bcrypt.dll"])

    def test_verdicts_stand_apart_and_judge_the_unrounded_ratio(self):
        for line in figures.verdict_lines([("short", True), ("private bytes <= 2x do-nothing with DLLs", False)]):
            self.assertRegex(line, r"\S  +(holds|MISSED)$")
        self.assertEqual(figures.ratio_verdict("first frame", 1.204, 1.2), "first frame 1.204x (goal <= 1.2x): MISSED")
        self.assertTrue(figures.ratio_verdict("p99", 1.2, 1.2).endswith(": met"))
        self.assertEqual(figures.ratio_verdict("p99", 1.0, 1.2, "starved"), "p99: not measured: starved")

    def test_a_starved_yardstick_is_refused(self):
        self.assertIn("52.0/s", figures.yardstick_refusal(52, 199))
        self.assertIsNone(figures.yardstick_refusal(190, 199))
        self.assertIsNone(figures.yardstick_refusal(52, None))

    def test_figures_that_cannot_be_true_are_not_printed(self):
        self.assertIsNone(figures.cpu_seconds_between(5.0, 4.5))
        self.assertIsNone(figures.cpu_seconds_between(0, 0))
        self.assertAlmostEqual(figures.cpu_seconds_between(4.5, 5.0), 0.5)
        self.assertIn("within this run's spread", figures.read_breakdown(100, 40, 70))
        self.assertIn("own work 20.0us", figures.read_breakdown(100, 40, 40))

    def test_one_lucky_run_does_not_decide_the_ratio(self):
        # ours, then the bare loop beside it: the best of each side apart would read 2/4 = 0.5.
        self.assertEqual(figures.median_pair_ratio([4, 4.2, 4.1], [4, 2, 4.1]), 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
