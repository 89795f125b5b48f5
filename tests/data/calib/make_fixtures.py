#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the hand-made calibration chunk fixtures of this folder.

Each file is laid out byte by byte here with struct.pack, independently of the
library's writers, so that the tests check the library against the layout:
tag (4 ASCII bytes), uint32 little-endian length of the rest, channel count
byte, payload; DNTB is the tag and 1,024 bytes with no length or count.
Run from this folder: python3 make_fixtures.py
"""
import struct


def chunk(tag, count, payload):
    body = bytes([count]) + payload
    return tag + struct.pack("<I", len(body)) + body


def table(f):
    return b"".join(struct.pack("<H", f(i)) for i in range(256))


def write(name, data):
    with open(name, "wb") as out:
        out.write(data)


# Two LNTB channels behind an unknown chunk and a DNTB chunk that the reader
# must step over: channel 0 is i * 257, channel 1 is 65535 - i * 257.
other = b"XTRA" + struct.pack("<I", 3) + b"abc"
dntb_bytes = bytes(range(256)) + bytes(255 - k for k in range(256)) + bytes(256) + bytes([255] * 256)
lntb = chunk(b"LNTB", 2, table(lambda i: i * 257) + table(lambda i: 65535 - i * 257))
write("lntb_two_channels.bin", other + b"DNTB" + dntb_bytes + lntb)

# A DNTB chunk alone: channel 0 bytes k, channel 1 bytes 255 - k, channel 2 all
# 0, channel 3 all 255.
write("dntb_four_channels.bin", b"DNTB" + dntb_bytes)

# A GBTB chunk of one channel (entries 1000 + i) with "GBCP" and two points,
# followed by a second GBTB chunk of one channel (entries 7) without points.
points = struct.pack("<H", 2) + struct.pack("<dd", 0.25, 0.5) + struct.pack("<dd", 0.75, 1.0)
gb1 = chunk(b"GBTB", 1, table(lambda i: 1000 + i) + b"GBCP" + points)
gb2 = chunk(b"GBTB", 1, table(lambda i: 7))
write("gbtb_points_then_plain.bin", gb1 + gb2)

# Hostile files.
# LNTB of one channel whose length says 100 bytes (a table needs 513).
write("bad_lntb_short_length.bin", b"LNTB" + struct.pack("<I", 100) + b"\x01" + bytes(99))
# An unknown chunk whose length runs far past the end of the file.
write("bad_chunk_huge_length.bin", b"XTRA" + struct.pack("<I", 0xFFFFFFF0) + bytes(8))
# LNTB with 255 channels but only one table present.
write("bad_lntb_cut_off.bin", b"LNTB" + struct.pack("<I", 1 + 512 * 255) + b"\xff" + table(lambda i: i))
# GBTB whose control point count (60000) runs past its chunk.
write("bad_gbcp_count.bin", chunk(b"GBTB", 1, table(lambda i: i) + b"GBCP" + struct.pack("<H", 60000)))
