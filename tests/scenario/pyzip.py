#!/usr/bin/env python3
"""Writes a ZIP archive with Python's zipfile for the scenario tests.

    pyzip.py OUT.zip SPEC.json

SPEC is a list of members [name, text, method]; method 0 stores, 8
deflates.  Names are written as given (no clean-up of ".." or "\\"), in
the OEM code page, every time 2021-06-15 10:20:30.
"""
import json
import sys
import zipfile


class RawName(zipfile.ZipInfo):
    def _encodeFilenameFlags(self):
        return self.filename.encode('cp437'), self.flag_bits & ~0x800


def main():
    out, spec = sys.argv[1], json.load(open(sys.argv[2]))
    with zipfile.ZipFile(out, 'w') as z:
        for name, text, method in spec:
            info = RawName('x', date_time=(2021, 6, 15, 10, 20, 30))
            info.filename = name  # bypass ZipInfo's separator handling
            info.compress_type = method
            z.writestr(info, text.encode('latin-1'))


main()
