#!/usr/bin/env python3
"""Writes a small uncompressed Bayer DNG (32 x 32, 16-bit RGGB) to the path given: a seed for
the camera RAW fuzz target, so LibRaw's decoding paths are reached and not only its refusals."""
import struct
import sys

W = H = 32
pixels = b"".join(struct.pack("<H", (x * 97 + y * 131) % 4096) for y in range(H) for x in range(W))
model = b"Quasel Seed\0"

entries = []  # (tag, type, count, value bytes)


def add(tag, typ, values):
    fmt = {1: "B", 2: "s", 3: "H", 4: "I", 5: "II"}[typ]
    if typ == 2:
        data, count = values, len(values)
    elif typ == 5:
        data = b"".join(struct.pack("<II", *v) for v in values)
        count = len(values)
    else:
        data = b"".join(struct.pack("<" + fmt, v) for v in values)
        count = len(values)
    entries.append((tag, typ, count, data))


add(254, 4, [0])  # NewSubFileType: main image
add(256, 4, [W])
add(257, 4, [H])
add(258, 3, [16])  # BitsPerSample
add(259, 3, [1])  # no compression
add(262, 3, [32803])  # colour filter array
add(271, 2, b"Quasel\0")  # Make
add(272, 2, model)
add(273, 4, [0])  # StripOffsets, patched below
add(277, 3, [1])  # SamplesPerPixel
add(278, 4, [H])  # RowsPerStrip
add(279, 4, [len(pixels)])
add(284, 3, [1])  # chunky
add(33421, 3, [2, 2])  # CFARepeatPatternDim
add(33422, 1, [0, 1, 1, 2])  # CFAPattern RGGB
add(50706, 1, [1, 4, 0, 0])  # DNGVersion
add(50708, 2, model)  # UniqueCameraModel
add(50717, 4, [4095])  # WhiteLevel
add(50721, 5, [(1, 1), (0, 1), (0, 1), (0, 1), (1, 1), (0, 1), (0, 1), (0, 1), (1, 1)])
# ColorMatrix1 is SRATIONAL in DNG; identity values read the same.
entries[-1] = (50721, 10, 9, entries[-1][3])
add(50778, 3, [21])  # CalibrationIlluminant1: D65

entries.sort()
ifd_size = 2 + 12 * len(entries) + 4
extra_at = 8 + ifd_size
extra = b""
fields = []
for tag, typ, count, data in entries:
    if len(data) <= 4:
        fields.append((tag, typ, count, data.ljust(4, b"\0")))
    else:
        fields.append((tag, typ, count, struct.pack("<I", extra_at + len(extra))))
        extra += data + (b"\0" if len(data) % 2 else b"")
strip_at = extra_at + len(extra)
out = bytearray(b"II*\0" + struct.pack("<I", 8) + struct.pack("<H", len(fields)))
for tag, typ, count, value in fields:
    if tag == 273:
        value = struct.pack("<I", strip_at)
    out += struct.pack("<HHI", tag, typ, count) + value
out += struct.pack("<I", 0) + extra + pixels
with open(sys.argv[1], "wb") as f:
    f.write(out)
