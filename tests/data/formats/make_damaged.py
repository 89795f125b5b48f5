#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# Writes the damaged and unusual format fixtures of this folder (see README.md):
#   python3 make_damaged.py [folder]
# Every file is built byte by byte so that it shows exactly one fault.
import struct
import sys
import zlib
from pathlib import Path

OUT = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).parent)

SHORT, LONG = 3, 4


def tiff(entries, data_blocks, name, next_entries=None):
    """entries: list of (tag, type, values) where a value list may name a
    data block by ('block', i) for its offset. data_blocks are placed after
    the header; the directory follows them, then next_entries (when given)
    as a second directory."""
    out = bytearray(b"II*\0\0\0\0\0")
    offsets = []
    for block in data_blocks:
        offsets.append(len(out))
        out += block
        if len(out) & 1:
            out += b"\0"
    ifd_at = len(out)
    struct.pack_into("<I", out, 4, ifd_at)
    out += directory(entries, offsets, ifd_at)
    if next_entries is not None:
        struct.pack_into("<I", out, len(out) - len(directory(entries, offsets, ifd_at)) + 2 +
                         12 * len(entries), len(out))
        out += directory(next_entries, offsets, len(out))
    (OUT / name).write_bytes(bytes(out))


def directory(entries, offsets, ifd_at):
    """The bytes of one directory at ifd_at (next-directory offset 0)
    followed by its values that do not fit in an entry."""
    entries = sorted(entries, key=lambda e: e[0])
    extra = bytearray()
    extra_at = ifd_at + 2 + 12 * len(entries) + 4
    body = bytearray(struct.pack("<H", len(entries)))
    for tag, typ, values in entries:
        values = [offsets[v[1]] if isinstance(v, tuple) else v for v in values]
        fmt = "<H" if typ == SHORT else "<I"
        raw = b"".join(struct.pack(fmt, v) for v in values)
        body += struct.pack("<HHI", tag, typ, len(values))
        if len(raw) <= 4:
            body += raw.ljust(4, b"\0")
        else:
            body += struct.pack("<I", extra_at + len(extra))
            extra += raw
    body += b"\0\0\0\0"
    return body + extra


def base_entries(width, height, bits, spp, photometric, compression, rows):
    return [
        (256, LONG, [width]),
        (257, LONG, [height]),
        (258, SHORT, [bits] * spp),
        (259, SHORT, [compression]),
        (262, SHORT, [photometric]),
        (277, SHORT, [spp]),
        (278, LONG, [rows]),
    ]


def tall_palette():
    # 300x201 4-bit palette, one strip of 201 rows, but ImageLength 65535.
    width, rows = 300, 201
    row = bytes((x // 10) % 16 * 17 for x in range(width // 2))
    pixels = row * rows
    entries = base_entries(width, 65535, 4, 1, 3, 1, rows)
    entries += [(273, LONG, [("block", 0)]), (279, LONG, [len(pixels)])]
    cmap = [i * 4096 for i in range(16)] * 3
    entries.append((320, SHORT, cmap))
    tiff(entries, [pixels], "tall_palette.tif")


def planar3():
    # 7x3 RGB, 3 bits per sample, separate planes: sample value of pixel x,
    # row y, plane p is (x + 2y + 3p) & 7, each plane row packed MSB first.
    width, height = 7, 3
    planes = []
    for p in range(3):
        data = bytearray()
        for y in range(height):
            bits = "".join(format((x + 2 * y + 3 * p) & 7, "03b") for x in range(width))
            bits += "0" * (-len(bits) % 8)
            data += bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))
        planes.append(bytes(data))
    entries = base_entries(width, height, 3, 3, 2, 1, height)
    entries += [
        (273, LONG, [("block", 0), ("block", 1), ("block", 2)]),
        (279, LONG, [len(p) for p in planes]),
        (284, SHORT, [2]),
    ]
    tiff(entries, planes, "planar3.tif")


def unknown_tags():
    # A valid 2x2 gray image with 3000 private tags that no reader knows.
    pixels = bytes([0, 85, 170, 255])
    entries = base_entries(2, 2, 8, 1, 1, 1, 2)
    entries += [(273, LONG, [("block", 0)]), (279, LONG, [len(pixels)])]
    entries += [(1000 + i, SHORT, [i]) for i in range(3000)]
    tiff(entries, [pixels], "unknown_tags.tif")


def deflate_bomb():
    # 100000x100000 8-bit gray, one Deflate strip of 20 zero rows.
    data = zlib.compress(bytes(100000 * 20), 9)
    entries = base_entries(100000, 100000, 8, 1, 1, 8, 100000)
    entries += [(273, LONG, [("block", 0)]), (279, LONG, [len(data)])]
    tiff(entries, [data], "deflate_bomb.tif")


def broken_second_page():
    # A valid 4x2 gray page followed by a directory without ImageLength or
    # StripByteCounts, which libtiff cannot read.
    pixels = bytes([0, 85, 170, 255, 10, 20, 30, 40])
    entries = base_entries(4, 2, 8, 1, 1, 1, 2)
    entries += [(273, LONG, [("block", 0)]), (279, LONG, [len(pixels)])]
    broken = [(256, LONG, [23]), (273, LONG, [("block", 0)])]
    tiff(entries, [pixels], "broken_second_page.tif", broken)


def bmp(width, height, bits, compression, data, name):
    colours = 1 << bits if bits <= 8 else 0
    head = struct.pack("<2sIHHI", b"BM", 0, 0, 0, 14 + 40 + 4 * colours)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, 0, 2835, 2835,
                       colours, 0)
    table = b"".join(bytes((i, i, i, 0)) for i in range(colours))
    out = bytearray(head + info + table + data)
    struct.pack_into("<I", out, 2, len(out))
    (OUT / name).write_bytes(bytes(out))


def rle_codes(lines, width, value):
    # Each line: full runs of 255 pixels, the rest, and an end-of-line code.
    codes = bytearray()
    for _ in range(lines):
        left = width
        while left:
            n = min(left, 255)
            codes += bytes((n, value))
            left -= n
        codes += b"\0\0"
    return codes + b"\0\1"


def main():
    OUT.mkdir(parents=True, exist_ok=True)
    tall_palette()
    planar3()
    unknown_tags()
    deflate_bomb()
    broken_second_page()
    # RLE8, bottom-up, 65536x65536: three coded rows and an end of bitmap.
    bmp(65536, 65536, 8, 1, rle_codes(3, 600, 7), "rle_gigapixel.bmp")
    # RLE8, top-down (negative height), 100000x100000, one delta per row.
    codes = bytearray()
    for _ in range(200):
        codes += b"\0\2\xff\1"
    bmp(100000, -100000, 8, 1, bytes(codes) + b"\0\1", "rle_topdown_huge.bmp")
    # 24-bit, 40x30, bottom-up, but only 10 of its 30 rows are in the file.
    bmp(40, 30, 24, 0, bytes(range(120)) * 10, "short24.bmp")


if __name__ == "__main__":
    main()
