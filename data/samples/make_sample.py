#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# Writes chart.tif: a 600x400 RGB test chart at 150 dpi (soft colour
# gradients, a gray ramp, colour patches and a shaded sphere), as an
# uncompressed baseline TIFF. Deterministic: the same bytes every run.
import math, struct

W, H = 600, 400
px = bytearray(W * H * 3)
for y in range(H):
    for x in range(W):
        u, v = x / (W - 1), y / (H - 1)
        if y < 40:  # gray ramp
            r = g = b = int(255 * u)
        elif y < 90:  # colour patches
            k = min(int(u * 8), 7)
            r, g, b = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (0, 255, 255),
                       (255, 0, 255), (255, 255, 0), (0, 0, 0), (255, 255, 255)][k]
        else:  # a sky-like gradient with a shaded sphere
            r = int(90 + 140 * (1 - v)); g = int(140 + 90 * (1 - v)); b = int(200 + 50 * u)
            dx, dy = x - 420, y - 250
            d = math.hypot(dx, dy)
            if d < 110:
                z = math.sqrt(110 * 110 - d * d) / 110
                light = max(0.0, (-dx * 0.4 - dy * 0.5 + z * 110 * 0.77) / 110)
                r, g, b = int(230 * light + 20), int(120 * light + 10), int(40 * light + 5)
            if x < 250 and y > 150:
                t = 0.5 + 0.5 * math.sin(x / 9.0) * math.cos(y / 13.0)
                r, g, b = int(40 + 60 * t), int(120 + 100 * t), int(40 + 40 * t)
        i = (y * W + x) * 3
        px[i:i + 3] = bytes((min(255, r), min(255, g), min(255, b)))

entries = [(256, 3, 1, W), (257, 3, 1, H), (258, 3, 3, 0), (259, 3, 1, 1), (262, 3, 1, 2),
           (273, 4, 1, 0), (277, 3, 1, 3), (278, 3, 1, H), (279, 4, 1, len(px)),
           (282, 5, 1, 0), (283, 5, 1, 0), (296, 3, 1, 2)]
ifd_at = 8
n = len(entries)
extra_at = ifd_at + 2 + n * 12 + 4
bps_at, xres_at, yres_at = extra_at, extra_at + 6, extra_at + 14
data_at = extra_at + 22
out = bytearray(b'II*\x00' + struct.pack('<I', ifd_at) + struct.pack('<H', n))
for tag, typ, cnt, val in entries:
    if tag == 258: val = bps_at
    if tag == 273: val = data_at
    if tag == 282: val = xres_at
    if tag == 283: val = yres_at
    if typ == 3 and cnt == 1:
        out += struct.pack('<HHIHH', tag, typ, cnt, val, 0)
    else:
        out += struct.pack('<HHII', tag, typ, cnt, val)
out += struct.pack('<I', 0)
out += struct.pack('<HHH', 8, 8, 8) + struct.pack('<II', 150, 1) * 2
out += px
open(__file__.rsplit('/', 1)[0] + '/chart.tif' if '/' in __file__ else 'chart.tif', 'wb').write(out)
