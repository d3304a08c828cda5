#!/usr/bin/env python3
"""Writes an accounts file for the stand-in user library with the sample's
administrator and COUNT - 1 generated accounts, and an alias file giving
every tenth of them a second address.

    make_accounts.py COUNT ACCOUNTS_FILE ALIAS_FILE
"""

import sys


def main():
    count, accounts_path, aliases_path = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    with open(accounts_path, "w") as accounts, open(aliases_path, "w") as aliases:
        accounts.write("admin@example.com | Site Administrator | admin-pass | 0 | 0 | 4 |\n")
        for number in range(1, count):
            address = f"user{number:05d}@example.com"
            accounts.write(f"{address} | User {number:05d} | pass{number:05d} | 0 | 0 | |\n")
            if number % 10 == 0:
                aliases.write(f"alias{number:05d}@example.com = {address}\n")


if __name__ == "__main__":
    main()
