#!/usr/bin/python3
# SPDX-License-Identifier: BSD-2-Clause
"""Decodes every conformance .cod file with the tool given (the Windows build under Wine) and
compares the picture's pixels with the reference decode, row by row. Only pixels are compared:
the files' headers are not pinned."""
import os
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from conformance_tally import Tally  # noqa: E402


def bmp_rows(path):
    """(width, height, bits, rows top-down without padding) of an uncompressed bitmap; for 8-bit
    pictures every index is replaced by its colour-table entry so that grey and palette files
    compare by colour."""
    data = open(path, "rb").read()
    offset = struct.unpack_from("<I", data, 10)[0]
    header_size, width, height, _, bits = struct.unpack_from("<IiiHH", data, 14)
    stride = (width * bits // 8 + 3) & ~3
    table = data[14 + header_size:offset]
    rows = []
    for y in range(abs(height)):
        row = data[offset + y * stride: offset + y * stride + width * bits // 8]
        if bits == 8:
            row = b"".join(table[4 * i:4 * i + 3] for i in row)
        rows.append(row)
    if height > 0:
        rows.reverse()
    return width, abs(height), rows


def main():
    tool, data = sys.argv[1], sys.argv[2]
    tally = Tally("decode conformance")
    with tempfile.TemporaryDirectory() as scratch:
        for name in sorted(os.listdir(os.path.join(data, "cod"))):
            case = name[:-4]
            out = os.path.join(scratch, case + ".bmp")
            run = subprocess.run([tool, "decompress", os.path.join(data, "cod", name), "-o", out, "--quiet"],
                                 capture_output=True, text=True)
            problem = None
            if run.returncode != 0:
                problem = "exit status %d: %s" % (run.returncode, run.stderr.strip())
            else:
                got = bmp_rows(out)
                expected = bmp_rows(os.path.join(data, "decoded", case + ".bmp"))
                if got[:2] != expected[:2]:
                    problem = "size %dx%d, expected %dx%d" % (got[0], got[1], expected[0], expected[1])
                elif got[2] != expected[2]:
                    row = next(y for y, (a, b) in enumerate(zip(got[2], expected[2])) if a != b)
                    problem = "first differing row %d" % row
            tally.record(case, [problem] if problem else [])
    return tally.finish()


if __name__ == "__main__":
    sys.exit(main())
