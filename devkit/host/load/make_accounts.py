#!/usr/bin/env python3
"""Writes an accounts file for the stand-in user library with the sample's
administrator and COUNT - 1 generated accounts, and an alias file with
ALIASES addresses (default COUNT / 10) spread evenly over those accounts.

    make_accounts.py COUNT ACCOUNTS_FILE ALIAS_FILE [ALIASES]
"""

import sys


def main():
    count, accounts_path, aliases_path = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    alias_count = int(sys.argv[4]) if len(sys.argv) > 4 else count // 10
    generated = count - 1
    with open(accounts_path, "w") as accounts:
        accounts.write("admin@example.com | Site Administrator | admin-pass | 0 | 0 | 4 |\n")
        for number in range(1, count):
            accounts.write(f"user{number:05d}@example.com | User {number:05d} | pass{number:05d} | 0 | 0 | |\n")
    with open(aliases_path, "w") as aliases:
        for alias in range(alias_count if generated else 0):
            number = 1 + alias * generated // alias_count % generated
            aliases.write(f"alias{alias:06d}@example.com = user{number:05d}@example.com\n")


if __name__ == "__main__":
    main()
