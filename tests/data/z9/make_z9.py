#!/usr/bin/python3
"""Writes ZIP+4 centroid files (Z9) for the tests, from the file layout alone.

    make_z9.py RECORDS.csv OUT.z9 [--form N] [--per-page N] [--pages-per-block N]
                                  [--no-area-index]

RECORDS.csv holds one record a line: zip,addon,code5,code7,lonwest,lat,type,extra
(lonwest and lat in 1/10,000 degree, type one letter). Records are sorted by key
here. The area index gets one entry per ZIP Code, the rectangle of its
centroids in 0.002-degree cells (so the centroids must lie west of 60 W and
north of the equator).

Layout (little-endian, 2048-byte pages): page 0 the header; page 1 the key
index of 9-character keys; for its entry e the block-index page 2 + 512e,
followed by that block's data pages; the area index after the last page.
Each data-page column is a packed integer stream: a checkpoint part (its
length in byte 0, then one 4-bit entry per block boundary of 128 values, all
0 here: every value is decoded in sequence) and a main part of 4-bit codes
with their parameters, most significant nibble first.
"""
import argparse
import csv
import struct
import sys

PAGE = 2048
SIGNATURE = 0x77335598
AREA_SIGNATURE = 0xAA55CDBB
ROOM = PAGE - 20
BLOCK_STRIDE = 512
MASK = 0xFFFFFFFF

# (code, bias, parameter nibbles) of the delta codes, smallest first.
DELTA_CODES = [
    (5, 3, 1, 3, 18),
    (6, -18, 1, -18, -3),
    (7, 19, 2, 19, 274),
    (8, -274, 2, -274, -19),
    (9, -2048, 3, -2048, 2047),
    (10, -32768, 4, -32768, 32767),
    (11, -8388608, 6, -8388608, 8388607),
]
SMALL = {0: 0, 1: 1, 2: 2, -1: 3, -2: 4}


def signed(v):
    v &= MASK
    return v - (1 << 32) if v & 0x80000000 else v


def put(nibbles, value, count):
    for shift in range(count - 1, -1, -1):
        nibbles.append((value >> (4 * shift)) & 0xF)


def main_part(values):
    nibbles = []
    v = d = 0
    i, n = 0, len(values)
    while i < n:
        delta = (values[i] - v) & MASK
        if delta == d:
            run = 1
            while (run < 271 and i + run < n
                   and (values[i + run] - values[i + run - 1]) & MASK == d):
                run += 1
            if run == 1:
                nibbles.append(15)
            elif run - 1 <= 15:
                nibbles.append(13)
                put(nibbles, run - 1, 1)
            else:
                nibbles.append(14)
                put(nibbles, run - 1 - 15, 2)
            v = (v + run * d) & MASK
            i += run
            continue
        s = signed(delta)
        if s in SMALL:
            nibbles.append(SMALL[s])
        else:
            for code, bias, count, low, high in DELTA_CODES:
                if low <= s <= high:
                    nibbles.append(code)
                    put(nibbles, s - bias, count)
                    break
            else:
                raise AssertionError(s)
        v = values[i] & MASK
        d = delta
        i += 1
    return nibbles


def absolute_part(values):
    """Every value as an absolute code (exercises code 12)."""
    nibbles = []
    for value in values:
        nibbles.append(12)
        put(nibbles, value & MASK, 8)
    return nibbles


def pack(nibbles):
    if len(nibbles) % 2:
        nibbles = nibbles + [0]
    return bytes((nibbles[k] << 4) | nibbles[k + 1] for k in range(0, len(nibbles), 2))


def stream(values, absolute=False):
    if not values:
        return b""
    entries = len(values) // 128
    checkpoint = bytes([0]) + pack([0] * entries)
    if len(checkpoint) > 255:
        raise ValueError("too many values for one stream")
    checkpoint = bytes([len(checkpoint)]) + checkpoint[1:]
    main = pack(absolute_part(values) if absolute else main_part(values))
    return checkpoint + main


def columns(records, form):
    cols = [[r[c] for r in records] for c in range(8)]
    streams = [stream(cols[0]), stream(cols[1]), stream(cols[2]), stream(cols[3], absolute=True),
               stream(cols[4]), stream(cols[5]), stream(cols[6]),
               stream(cols[7]) if form >= 3 else b""]
    return streams


def data_page(records, form):
    """The page of records, or None and the bytes its columns would need."""
    streams = columns(records, form)
    total = sum(len(s) for s in streams)
    if total > ROOM:
        return None, total
    page = struct.pack("<8HHH", *[len(s) for s in streams], len(records), 0) + b"".join(streams)
    return page + bytes(PAGE - len(page)), total


def key(r):
    return (r[0] << 15) + r[1]


def paginate(records, form, per_page):
    pages = []
    i = 0
    guess = per_page
    while i < len(records):
        count = min(guess, per_page, len(records) - i)
        while True:
            page, total = data_page(records[i:i + count], form)
            if page is not None:
                break
            count = max(1, min(count - 1, count * ROOM // total))
        pages.append((key(records[i]), page))
        i += count
        # The next page likely holds about as many records; try a few more.
        guess = count + max(2, count // 16)
    return pages


def index_page(keys):
    assert len(keys) <= 511
    page = struct.pack("<HH", len(keys), 0) + b"".join(struct.pack("<I", k) for k in keys)
    return page + bytes(PAGE - len(page))


def area_entries(records):
    boxes = {}
    for r in records:
        x = -r[4] * 100
        y = r[5] * 100
        b = boxes.setdefault(r[0], [x, y, x, y])
        b[0], b[1], b[2], b[3] = min(b[0], x), min(b[1], y), max(b[2], x), max(b[3], y)
    out = []
    for zip_code in sorted(boxes):
        x1, y1, x2, y2 = boxes[zip_code]
        # x = (-30000 - c) * 2000 at the west side, (-30000 - a) * 2000 at the east.
        c = (-x1) // 2000 - 30000 + (1 if (-x1) % 2000 else 0)
        a = (-x2) // 2000 - 30000
        b = y1 // 2000
        d = -((-y2) // 2000)
        for value in (a, b, c, d):
            if not 0 <= value <= 0xFFFF:
                raise ValueError("ZIP Code %05d lies outside the area grid" % zip_code)
        out.append(struct.pack("<IHHHH", zip_code, a, b, c, d))
    return out


def write(records, path, form=3, per_page=400, pages_per_block=511, area=True):
    records = sorted(records, key=key)
    pages = paginate(records, form, per_page)
    blocks = [pages[k:k + pages_per_block] for k in range(0, len(pages), pages_per_block)]
    if len(blocks) > 511:
        raise ValueError("too many blocks")
    key_index = 1
    last = key_index
    layout = {key_index: index_page([b[0][0] for b in blocks])}
    for e, block in enumerate(blocks):
        at = key_index + 1 + e * BLOCK_STRIDE
        layout[at] = index_page([k for k, _ in block])
        for j, (_, page) in enumerate(block):
            layout[at + 1 + j] = page
        last = max(last, at + len(block))
    area_page = last + 1
    largest = max((struct.unpack_from("<H", p, 16)[0] for _, p in pages), default=0)
    header = bytearray(PAGE)
    text = b"ZIP+4 centroid file: test fixture\r\n\x1a"
    header[0:len(text)] = text
    locator = (0x80000000 | area_page) if area else area_page
    struct.pack_into("<IIII", header, 256, SIGNATURE, locator, largest, 0)
    struct.pack_into("<II", header, 272, 0, key_index * PAGE)
    struct.pack_into("<HBB", header, 280, 0, 0, form)
    with open(path, "wb") as out:
        out.write(header)
        for number in range(1, area_page):
            out.write(layout.get(number, bytes(PAGE)))
        entries = area_entries(records)
        out.write(struct.pack("<III", AREA_SIGNATURE, 0, len(entries)))
        out.write(b"".join(entries))


def read_records(path):
    records = []
    with open(path, newline="") as f:
        for row in csv.reader(f):
            if not row or row[0].startswith("#"):
                continue
            z, addon, c5, c7, lon, lat, kind, extra = row
            records.append((int(z), int(addon), int(c5), int(c7), int(lon), int(lat),
                            ord(kind[0]), int(extra)))
    return records


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("records")
    parser.add_argument("out")
    parser.add_argument("--form", type=int, default=3)
    parser.add_argument("--per-page", type=int, default=400)
    parser.add_argument("--pages-per-block", type=int, default=511)
    parser.add_argument("--no-area-index", action="store_true")
    args = parser.parse_args(argv)
    write(read_records(args.records), args.out, args.form, args.per_page, args.pages_per_block,
          not args.no_area_index)


if __name__ == "__main__":
    main(sys.argv[1:])
