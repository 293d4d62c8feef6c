"""Common start-up of the end-to-end test scripts: `--exe` and `--prefix`, then unittest."""
import argparse
import sys
import unittest

from wine import Program

program = None


def main():
    global program
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--prefix", required=True)
    args, rest = parser.parse_known_args()
    program = Program(args.exe, args.prefix)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
