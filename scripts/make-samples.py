#!/usr/bin/env /usr/bin/python3
# SPDX-License-Identifier: BSD-2-Clause
"""Regenerates the bundled sample pictures in tests/data from Debian's python3-skimage."""
import struct
import sys
from pathlib import Path

from skimage import data


def write_bmp(path, pixels, grey):
    height, width = pixels.shape[:2]
    bpp = 8 if grey else 24
    row = (width * bpp // 8 + 3) & ~3
    table = b"".join(bytes((i, i, i, 0)) for i in range(256)) if grey else b""
    offset = 14 + 40 + len(table)
    size = offset + row * height
    out = bytearray(b"BM" + struct.pack("<IHHI", size, 0, 0, offset))
    out += struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, 0, row * height, 2835, 2835,
                       256 if grey else 0, 0)
    out += table
    for y in range(height - 1, -1, -1):  # bottom-up rows
        line = pixels[y].tobytes() if grey else pixels[y, :, ::-1].tobytes()  # RGB -> BGR
        out += line + b"\0" * (row - len(line))
    Path(path).write_bytes(out)


def main():
    dest = Path(sys.argv[1] if len(sys.argv) > 1 else "tests/data")
    write_bmp(dest / "astronaut_512.bmp", data.astronaut(), grey=False)
    write_bmp(dest / "camera_512_grey.bmp", data.camera(), grey=True)


if __name__ == "__main__":
    main()
