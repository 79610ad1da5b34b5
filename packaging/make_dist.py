#!/usr/bin/env python3
"""Writes the Windows download: <out-dir>/tickora-<version>-win32.zip, and beside it
SHA256SUMS, its checksum in the form `sha256sum -c` reads.

    packaging/make_dist.py <tickora.exe> <out-dir>

The version is PRODUCTVERSION of the program's own version block (res/tickora.rc). The zip
holds tickora.exe, README.txt (CRLF line ends, for Notepad) and LICENSE.txt, in that order,
with fixed attributes and the time SOURCE_DATE_EPOCH gives (the Makefile's: the commit's),
so that the same inputs give the same bytes. Prints the path of the zip.
"""
import hashlib
import os
import re
import sys
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Zip times are dates from 1980 on, without a time zone.
EARLIEST = 315532800  # 1980-01-01 00:00:00 UTC


def zip_date():
    return time.gmtime(max(EARLIEST, int(os.environ.get("SOURCE_DATE_EPOCH", EARLIEST))))[:6]


def version():
    with open(os.path.join(ROOT, "res", "tickora.rc"), encoding="ascii") as f:
        found = re.search(r"^\s*PRODUCTVERSION\s+(\d+)\s*,\s*(\d+)\s*,\s*(\d+)\s*,\s*(\d+)\s*$",
                          f.read(), re.MULTILINE)
    if not found:
        sys.exit("make_dist: no PRODUCTVERSION line in res/tickora.rc")
    return ".".join(found.groups())


def crlf(path):
    with open(path, "rb") as f:
        text = f.read().replace(b"\r\n", b"\n")
    return text.replace(b"\n", b"\r\n")


def main(argv):
    if len(argv) != 3:
        sys.exit("usage: make_dist.py <tickora.exe> <out-dir>")
    exe, out_dir = argv[1], argv[2]
    with open(exe, "rb") as f:
        exe_bytes = f.read()
    members = [
        ("tickora.exe", exe_bytes),
        ("README.txt", crlf(os.path.join(ROOT, "packaging", "README.txt"))),
        ("LICENSE.txt", crlf(os.path.join(ROOT, "LICENSE"))),
    ]
    os.makedirs(out_dir, exist_ok=True)
    path = os.path.join(out_dir, "tickora-%s-win32.zip" % version())
    with zipfile.ZipFile(path + ".tmp", "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for name, data in members:
            info = zipfile.ZipInfo(name, zip_date())
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0  # MS-DOS attributes, as a Windows zip tool writes them
            info.external_attr = 0x20  # FILE_ATTRIBUTE_ARCHIVE
            z.writestr(info, data)
    os.replace(path + ".tmp", path)
    with open(path, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    with open(os.path.join(out_dir, "SHA256SUMS"), "w", encoding="ascii", newline="\n") as f:
        f.write("%s  %s\n" % (digest, os.path.basename(path)))
    print(path)


if __name__ == "__main__":
    main(sys.argv)
