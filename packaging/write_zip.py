#!/usr/bin/env python3
"""Writes the release zip from the staged package folder.

    write_zip.py STAGED_DIR TOP_FOLDER ZIP_FILE EPOCH

First SHA256SUMS of every staged file, then the zip: every entry under
TOP_FOLDER/, in name order, stamped with EPOCH and one fixed mode, so that the
same staged files always give the same bytes.
"""
import hashlib
import sys
import time
import zipfile
from pathlib import Path

CHECKSUMS = "SHA256SUMS"
# The zip format counts time from 1980; an earlier EPOCH cannot be stored.
ZIP_EARLIEST = 315532800
FILE_MODE = 0o100644
DIRECTORY_MODE = 0o040755
MSDOS_DIRECTORY = 0x10
UNIX = 3


def write_checksums(staged):
    files = sorted(p.relative_to(staged).as_posix() for p in staged.rglob("*")
                   if p.is_file() and p.name != CHECKSUMS)
    lines = (f"{hashlib.sha256((staged / name).read_bytes()).hexdigest()}  {name}\n"
             for name in files)
    (staged / CHECKSUMS).write_text("".join(lines), encoding="ascii", newline="\n")


def entry(name, date_time, mode):
    info = zipfile.ZipInfo(name, date_time)
    info.create_system = UNIX
    info.external_attr = mode << 16
    return info


def write_zip(staged, top, zip_path, epoch):
    date_time = time.gmtime(max(epoch, ZIP_EARLIEST))[:6]
    with zipfile.ZipFile(zip_path, "w") as archive:
        folder = entry(f"{top}/", date_time, DIRECTORY_MODE)
        folder.external_attr |= MSDOS_DIRECTORY
        archive.writestr(folder, b"")
        for path in sorted(staged.rglob("*"), key=lambda p: p.relative_to(staged).as_posix()):
            name = f"{top}/{path.relative_to(staged).as_posix()}"
            if path.is_dir():
                info = entry(f"{name}/", date_time, DIRECTORY_MODE)
                info.external_attr |= MSDOS_DIRECTORY
                archive.writestr(info, b"")
            else:
                archive.writestr(entry(name, date_time, FILE_MODE), path.read_bytes(),
                                 compress_type=zipfile.ZIP_DEFLATED, compresslevel=9)


def main():
    staged, top, zip_path, epoch = sys.argv[1:]
    write_checksums(Path(staged))
    write_zip(Path(staged), top, Path(zip_path), int(epoch))


if __name__ == "__main__":
    main()
