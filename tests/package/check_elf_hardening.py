#!/usr/bin/python3
"""Checks what the Linux library carries against memory corruption, as
readelf shows it:

    check_elf_hardening.py LIBRARY fortified|unfortified

full RELRO (a GNU_RELRO segment and every relocation bound at load, so
that the whole GOT turns read-only), a stack that is not executable, and
calls to the C library's stack-cookie handler and, in a build with
_FORTIFY_SOURCE, its checked-copy handlers, which a dynamic library imports
by name even when stripped.
"""
import re
import subprocess
import sys
import unittest

LIBRARY = sys.argv[1]
FORTIFIED = sys.argv[2] == "fortified"


def readelf(*options):
    return subprocess.run(["readelf", "--wide", *options, LIBRARY], check=True, capture_output=True,
                          text=True).stdout


class HardenedLibrary(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.segments = readelf("--program-headers")
        cls.dynamic = readelf("--dynamic")
        cls.imports = set(re.findall(r" UND ([A-Za-z0-9_]+)", readelf("--dyn-syms")))

    def segment_flags(self, kind):
        match = re.search(r"^\s*" + kind + r"\s.*\s([RWE ]{3})\s+0x[0-9a-f]+$", self.segments, re.MULTILINE)
        self.assertIsNotNone(match, kind + " segment")
        return match.group(1)

    def test_relocations_turn_read_only(self):
        self.segment_flags("GNU_RELRO")
        self.assertRegex(self.dynamic, r"\(FLAGS\)\s.*\bBIND_NOW\b|\(FLAGS_1\)\s.*\bNOW\b")

    def test_stack_is_not_executable(self):
        self.assertNotIn("E", self.segment_flags("GNU_STACK"))

    def test_stack_cookies_and_checked_copies(self):
        self.assertIn("__stack_chk_fail", self.imports)
        if FORTIFIED:
            self.assertTrue([name for name in self.imports if re.fullmatch(r"__\w+_chk", name)], self.imports)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
