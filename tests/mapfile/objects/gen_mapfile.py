#!/usr/bin/python3
"""Lays out a small map-object file and its .ID file byte by byte, straight
from the layout tables (apart from the library's writer), for the read-side
tests and the mapdump check.

usage: gen_mapfile.py OUT.MAP

The map is non-earth in metres with 1000 integers a metre, 512-byte blocks:
  1024  object block, base point (1500, 2500)
          row 1  code 2  point (1.5, 2.5), default symbol
          row 2  code 5  line (0, 0)-(10, 5), pen 1
          row 3  code 14 region, the square (0, 0)-(4, 4), pen 1, brush 1
          row 5  code 5  line (-1, -2)-(3, 7), default pen
  1536  coordinate block: the region's section header and five points
  2048  style block: pen 1 (2 pixels, pattern 2, red), brush 1 (solid green)
Row 4 has no object.
"""
import struct
import sys

BLOCK = 512
VAR = 128
# Record length per type code 1..72 (triples), and which have variable data.
LENGTHS = [10, 14, 21, 14, 22, 27, 34, 38, 43, 26, 42, 47, 37, 41, 53, 39, 53, 89,
           15, 23, 35, 19, 31, 43, 15, 23, 35, 79, 87, 99, 28, 36, 41, 32, 40, 45,
           36, 40, 45, 22, 26, 57, 13, 17, 55, 37, 41, 53, 36, 40, 45, 50, 54, 92,
           61, 61, 116, 43, 47, 85, 72, 76, 88, 71, 75, 80, 83, 87, 125, 66, 66, 121]
VARIABLE = {7, 13, 16, 31, 34, 37, 46, 49, 52, 55, 61, 64, 67, 70}


def type_table():
    t = bytearray(256)
    for code in range(1, 73):
        first = code - (code - 1) % 3
        t[code] = LENGTHS[code - 1] + (VAR if first in VARIABLE else 0)
    return t


def header(first_style, root):
    h = bytearray(312)
    struct.pack_into("<Ihh d", h, 0, 42424242, 500, BLOCK, 1.0)
    struct.pack_into("<4i", h, 16, *root)
    struct.pack_into("<III", h, 48, 0, 0, first_style)
    struct.pack_into("<5I", h, 60, 1, 2, 1, 0, 41)
    h[94] = 7    # stored unit: metre
    h[95] = 0    # no index
    h[96] = 3    # precision
    h[97] = 1    # quadrant
    h[98] = 0    # not longitude/latitude
    h[99] = 72
    h[100:105] = bytes([1, 1, 0, 0, 1])
    h[109] = 0   # projection: non-earth
    h[111] = 7   # metre
    struct.pack_into("<4d", h, 112, 1000.0, 1000.0, 0.0, 0.0)
    return h


def main():
    out = sys.argv[1]
    f = bytearray(2560)
    f[0:256] = type_table()
    f[256:256 + 312] = header(2048, (-1000, -2000, 10000, 7000))

    recs = bytearray()
    positions = []

    def add(rec, code):
        assert len(rec) == LENGTHS[code - 1], (code, len(rec))
        positions.append(1024 + 20 + len(recs))
        recs.extend(rec)

    # row 1, code 2: 5 pt8 position, 13 symbol index
    add(struct.pack("<BI2iB", 2, 1, 1500, 2500, 0), 2)
    # row 2, code 5: 5 pt8 start, 13 pt8 end, 21 pen index
    add(struct.pack("<BI4iB", 5, 2, 0, 0, 10000, 5000, 1), 5)
    # row 3, code 14: 5 start, 9 data word, 13 i16 sections, 15 pt8 centroid,
    # tail: bounds 4 x i32, pen index, brush index
    add(struct.pack("<BIIIh2i4iBB", 14, 3, 1536 + 8, 64, 1, 2000, 2000,
                    0, 0, 4000, 4000, 1, 1), 14)
    # row 5, code 5 with the default pen
    add(struct.pack("<BI4iB", 5, 5, -1000, -2000, 3000, 7000, 0), 5)

    struct.pack_into("<HH2iII", f, 1024, 2, len(recs), 1500, 2500, 1536, 1536)
    f[1044:1044 + len(recs)] = recs

    # First-generation section header: i16 points, i16 second count, bounds
    # as two pt8, u32 offset (28 in the object less 4 a section), then points.
    coords = struct.pack("<hh4iI", 5, 0, 0, 0, 4000, 4000, 24)
    coords += struct.pack("<10i", 0, 0, 4000, 0, 4000, 4000, 0, 4000, 0, 0)
    assert len(coords) == 64
    struct.pack_into("<HHI", f, 1536, 3, len(coords), 0)
    f[1544:1544 + len(coords)] = coords

    # Style records: u8 sort, u32 use count, body.
    pen = struct.pack("<BI", 1, 2) + bytes([2, 2, 0, 0xFF, 0x00, 0x00])
    brush = struct.pack("<BI", 2, 1) + bytes([2, 0, 0x00, 0xFF, 0x00, 0xFF, 0xFF, 0xFF])
    styles = pen + brush
    struct.pack_into("<HHI", f, 2048, 5, len(styles), 0)
    f[2056:2056 + len(styles)] = styles

    with open(out, "wb") as m:
        m.write(f)
    ids = positions[:3] + [0] + positions[3:]
    base = out[:-4] if out.lower().endswith(".map") else out
    ext = ".id" if out.endswith(".map") else ".ID"
    with open(base + ext, "wb") as i:
        i.write(struct.pack("<%dI" % len(ids), *ids))


if __name__ == "__main__":
    main()
