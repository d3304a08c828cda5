"""Holds docs/iis.md's table of IIS's answers (section 15) to the probe's
own, doctor/iis_answers.cpp, as print_iis_answers prints it: every row of
the code's table is in the guide with the same status, sub-status, error
code, cause, section and source, and every row of the guide that starts
with a status comes from it.

Usage: test_iis_answers.py PRINT_IIS_ANSWERS docs/iis.md
Standard library only.
"""
import re
import subprocess
import sys
import unittest

PRINTER = None
GUIDE_PATH = None

# A table row whose first cell is a status, such as "| 404 |", "| **500.19** |".
STATUS_ROW = re.compile(r"^\|\s*[*`]*\d{3}(\.\d+)?[*`]*\s*\|")


def cells(row):
    return [cell.strip() for cell in row.strip().strip("|").split("|")]


def table_at(lines, header):
    """The table that starts with this header line, header included."""
    start = lines.index(header)
    end = start
    while end < len(lines) and lines[end].startswith("|"):
        end += 1
    return lines[start:end]


class GuideHoldsTheCodesTable(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.code = subprocess.run([PRINTER], capture_output=True, text=True, check=True).stdout.splitlines()
        with open(GUIDE_PATH, encoding="utf-8") as guide:
            cls.lines = guide.read().splitlines()

    def test_guide_table_is_the_codes(self):
        self.assertIn(self.code[0], self.lines, "the guide has no table of IIS's answers")
        guide = table_at(self.lines, self.code[0])
        # Status, sub-status, error code and cause first, so that a failure names the fact that differs.
        facts = lambda rows: {tuple(cells(row)[:4]) for row in rows[2:]}
        self.assertEqual(facts(guide) - facts(self.code), set(), "in the guide, not in doctor/iis_answers.cpp")
        self.assertEqual(facts(self.code) - facts(guide), set(), "in doctor/iis_answers.cpp, not in the guide")
        self.assertEqual(guide, self.code, "paste print_iis_answers' output into docs/iis.md")

    def test_every_status_row_comes_from_the_table(self):
        start = self.lines.index(self.code[0])
        table = range(start, start + len(self.code))
        strays = [line for number, line in enumerate(self.lines)
                  if number not in table and STATUS_ROW.match(line)]
        self.assertEqual(strays, [], "rows naming a status outside the table of IIS's answers")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: test_iis_answers.py PRINT_IIS_ANSWERS IIS-GUIDE-MD")
    PRINTER, GUIDE_PATH = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
