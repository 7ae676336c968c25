#!/usr/bin/python3
"""Writes norm_definitions.cpp: the collation definition texts of the
normalization tables, as message rows.

    /usr/bin/python3 mapfile/foundation/gen_norm_definitions.py \
        > mapfile/foundation/norm_definitions.cpp

Which character a byte is comes from Python's codecs; which letter an accented
form belongs to comes from the canonical decomposition (unicodedata), with a
few letters that have none named below. Nothing here reads the host's locale.
"""

import sys
import unicodedata

# (first id, rows including the closing blank row, codec or None, kind, what)
SETS = [
    (10000, 17, None, "fold", "table 1 of every charset without a set of its own"),
    (10100, 18, "latin-1", "fold", "table 1 of ISO8859_1"),
    (11000, 18, "cp1252", "fold", "table 1 of WindowsLatin1"),
    (11100, 18, "cp1250", "fold", "table 1 of WindowsLatin2"),
    (12100, 21, "mac_roman", "fold", "table 1 of MacRoman"),
    (14100, 18, "latin-1", "case", "table 2 of ISO8859_1"),
    (15000, 18, "cp1252", "case", "table 2 of WindowsLatin1"),
    (16100, 18, "latin-1", "exact", "table 3 of ISO8859_1"),
    (17000, 18, "cp1252", "exact", "table 3 of WindowsLatin1"),
]

# Letters without a canonical decomposition that sort with a Latin letter.
BASE = {
    "Æ": "A", "æ": "A", "Œ": "O", "œ": "O", "Ø": "O", "ø": "O", "ß": "S",
    "Ð": "D", "ð": "D", "Đ": "D", "đ": "D", "Ł": "L", "ł": "L", "ı": "I", "ƒ": "F",
}

ITEMS_PER_ROW = 16
FIRST_SECTION_END = 0x40  # bytes 0x01..0x3F fill the first rows on their own


def char_of(codec, b):
    if codec is None:
        return chr(b) if b < 0x80 else None
    try:
        return bytes([b]).decode(codec)
    except UnicodeDecodeError:
        return None


def base_letter(ch):
    if ch is None or not unicodedata.category(ch).startswith("L"):
        return None
    if ch in BASE:
        return BASE[ch]
    first = unicodedata.normalize("NFD", ch)[0]
    if "A" <= first.upper() <= "Z" and first.isascii():
        return first.upper()
    return None


def ordered_units(codec, kind):
    """The bytes 1..255 in collation order, as a list of units; the bytes of
    one unit share one value."""
    chars = {b: char_of(codec, b) for b in range(1, 256)}
    byte_of = {ch: b for b, ch in chars.items() if ch is not None}

    def upper_byte(b):
        up = chars[b].upper()
        return byte_of.get(up, b) if len(up) == 1 else b

    letters = {}  # base letter -> bytes
    cased = {}    # other letters with both cases in the charset: upper byte -> bytes
    placed = set()
    for b in range(0x41, 0x100):
        base = base_letter(chars[b])
        if base:
            letters.setdefault(base, []).append(b)
            placed.add(b)
    for b in range(0x80, 0x100):
        ch = chars[b]
        if b in placed or ch is None or not unicodedata.category(ch) in ("Lu", "Ll"):
            continue
        u = upper_byte(b)
        partner = byte_of.get(ch.lower()) if u == b else u
        if partner is not None and partner != b:
            cased.setdefault(min(u, partner), []).append(b)
            placed.add(b)

    def member_key(b):
        plain = 0 if chars[b].isascii() else 1
        return (plain, upper_byte(b), chars[b] != chars[b].upper())

    groups = [sorted(letters[c], key=member_key) for c in sorted(letters)]
    groups += [sorted(cased[u], key=member_key) for u in sorted(cased)]

    units = [[b] for b in range(1, 0x41)]
    for g in groups:
        if kind == "fold":
            units.append(g)
        elif kind == "case":
            pairs = {}
            for b in g:
                pairs.setdefault(upper_byte(b), []).append(b)
            seen = []
            for b in g:
                u = upper_byte(b)
                if u not in seen:
                    seen.append(u)
                    units.append(pairs[u])
        else:
            units += [[b] for b in g]
    units += [[b] for b in range(0x41, 0x100) if b not in placed and not
              (0x41 <= b <= 0x5A or 0x61 <= b <= 0x7A)]
    named = sorted(b for u in units for b in u)
    assert named == list(range(1, 256)), "every byte 1..255 named once"
    assert len(units) <= 255
    return units


def tokens(units):
    out = []
    for u in units:
        for i, b in enumerate(u):
            t = "0x%02X" % b
            if len(u) > 1 and i == 0:
                t = "(" + t
            if len(u) > 1 and i == len(u) - 1:
                t += ")"
            out.append(t + ";")
    return out


def rows_of(toks, content_rows):
    first = [t for t in toks if int(t.strip("();")[2:], 16) < FIRST_SECTION_END]
    assert toks[:len(first)] == first
    rows = [first[i:i + ITEMS_PER_ROW] for i in range(0, len(first), ITEMS_PER_ROW)]
    rest = toks[len(first):]
    rows.append(rest[:ITEMS_PER_ROW])
    rest = rest[ITEMS_PER_ROW:]
    left = content_rows - len(rows)
    assert left > 0
    while left:
        n = -(-len(rest) // left)
        rows.append(rest[:n])
        rest = rest[n:]
        left -= 1
    assert not rest and all(rows)
    return ["".join(r) for r in rows]


HEADER = """\
// The collation definitions of the normalization tables, as message rows.
// Written by gen_norm_definitions.py beside this file; change that, not this.
//
// Each set is a run of ids ended by a row that begins with a blank. Every
// set names each byte 1..255 exactly once, so a built table has no holes.
// The order, common to all sets: the bytes 0x01..0x40 each in their own
// place; then the Latin letters A..Z, each with its lower case and every
// accented or ligature form the charset holds (Ae with A, OE and O-slash with
// O, sharp s with S, eth and D-stroke with D, L-stroke with L, dotless i with
// I, f-hook with F); then letters of no Latin base that have both cases in
// the charset (thorn); then every other byte in byte order ([ \\ ] ^ _ ` { | }
// ~, DEL and the remaining high bytes, ordinal indicators and micro sign
// among them).
//   Table 1 (10000, 10100, 11000, 11100, 12100): one value for a letter and
//     all its forms, so case and accents are ignored; the generic set 10000
//     knows only the ASCII letters and leaves the bytes 128-255 in their own
//     places.
//   Table 2 (14100, 15000): case is ignored but accents count: a letter and
//     its own other case share a value, each accented form follows its base
//     letter with a value of its own.
//   Table 3 (16100, 17000): dictionary order that keeps case and accents:
//     every byte has its own value, upper case before lower case.
#include "mapfile/foundation/messages.h"

namespace layerio {

const MsgRow kNormDefinitionTable[] = {
"""


def main():
    out = [HEADER]
    for first, rows, codec, kind, what in SETS:
        units = ordered_units(codec, kind)
        texts = rows_of(tokens(units), rows - 1) + [" "]
        out.append("    // %d: %s\n" % (first, what))
        for i, text in enumerate(texts):
            # Long rows go out as two literals, within the line width.
            cut = text.rfind(";", 0, 60) + 1 if len(text) > 90 else len(text)
            parts = '"\n     "'.join(p for p in (text[:cut], text[cut:]) if p)
            out.append('    {%d,\n     "%s"},\n' % (first + i, parts))
    out.append("    {0, nullptr},\n};\n\n}  // namespace layerio\n")
    sys.stdout.write("".join(out))


if __name__ == "__main__":
    main()
