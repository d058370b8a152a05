#!/usr/bin/env python3
"""Writes src/engine/native/msidb/codepage_tables.inc.

    scripts/generate-codepage-tables.py [NLS_DIR] > src/engine/native/msidb/codepage_tables.inc

The reference is Wine's own conversion data: the code page files of its NLS
folder (NLS_DIR, default /usr/share/wine/nls: c_NNNN.nls, one per code page
MultiByteToWideChar knows). For each code page the engine asks the C
library's converter (iconv) under the name that agrees best with Wine's
table, byte by byte and, for a double-byte code page, pair by pair, exactly
as the engine does at run time; every byte or pair where the two differ
becomes an override, stored as runs. A code page no converter matches
better than the bytes' own values gets no converter, only overrides.

Rerun it after a change of the engine's use of the converter, and check
the result with the code page sweep (scripts/codepage-sweep.sh).
"""
import ctypes
import ctypes.util
import glob
import os
import struct
import sys

# Names the C library may know a code page by, besides CPnnnn.
ALIASES = {
    37: ["IBM037"], 500: ["IBM500"], 708: ["ASMO-708"], 875: ["IBM875"], 1026: ["IBM1026"],
    1361: ["JOHAB"], 10000: ["MACINTOSH"], 10001: ["CP932", "SJIS"], 10002: ["CP950", "BIG5"],
    10003: ["EUC-KR"], 10007: ["MAC-CYRILLIC"], 10008: ["EUC-CN"], 10017: ["MAC-UK"],
    10029: ["MAC-CENTRALEUROPE"], 10079: ["MAC-IS"], 20127: ["ASCII"], 20866: ["KOI8-R"],
    20932: ["EUC-JP-MS", "EUC-JP"], 20949: ["EUC-KR"], 21866: ["KOI8-U"],
}
for n in range(1, 16):
    ALIASES.setdefault(28590 + n, []).append("ISO-8859-%d" % n)

# Code pages whose JIS X 0212 characters (three bytes 8F xx yy in EUC-JP)
# are held as the pair xx, yy & 7F: the converter is asked for the three.
JIS0212_PAIRS = {20932}

libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
libc.iconv_open.restype = ctypes.c_void_p
libc.iconv_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
libc.iconv.restype = ctypes.c_size_t
libc.iconv.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_void_p),
                       ctypes.POINTER(ctypes.c_size_t), ctypes.POINTER(ctypes.c_void_p),
                       ctypes.POINTER(ctypes.c_size_t)]
libc.iconv_close.argtypes = [ctypes.c_void_p]
FAILED = ctypes.c_size_t(-1).value


def convert(cd, data):
    """One UTF-16 unit from the converter, or None: what the engine's
    ConvertOne answers (state reset, all input taken, the output flushed,
    exactly one unit)."""
    libc.iconv(cd, None, None, None, None)
    src = ctypes.create_string_buffer(data, len(data))
    dst = ctypes.create_string_buffer(16)
    ip, il = ctypes.c_void_p(ctypes.addressof(src)), ctypes.c_size_t(len(data))
    op, ol = ctypes.c_void_p(ctypes.addressof(dst)), ctypes.c_size_t(16)
    if libc.iconv(cd, ctypes.byref(ip), ctypes.byref(il), ctypes.byref(op), ctypes.byref(ol)) == FAILED:
        return None
    if il.value != 0:
        return None
    if libc.iconv(cd, None, None, ctypes.byref(op), ctypes.byref(ol)) == FAILED:
        return None
    if 16 - ol.value != 2:
        return None
    return dst.raw[0] | dst.raw[1] << 8


def load_nls(path):
    """Wine's table: the code page, its default unit, the unit of every
    single byte and, per lead byte, the unit of every trail byte."""
    raw = open(path, "rb").read()
    w = struct.unpack("<%dH" % (len(raw) // 2), raw[:len(raw) // 2 * 2])
    p = w[0]
    table = {"codepage": w[1], "default": w[4]}
    p += 1
    table["single"] = list(w[p:p + 256])
    p += 256
    glyphs = w[p]
    p += 1
    if glyphs:
        p += 256
    table["rows"] = {}
    if w[p]:  # the double-byte part: 256 offsets, then the rows
        offsets = w[p + 1:]
        for lead in range(256):
            if offsets[lead]:
                table["rows"][lead] = list(offsets[offsets[lead]:offsets[lead] + 256])
    return table


def base_units(table, name):
    """What the engine takes from the converter before overrides: the unit
    of each single byte (its own value where the converter has none) and of
    each pair (the default unit where it has none); None for no converter."""
    singles, pairs = [], {}
    cd = None
    if name:
        cd = libc.iconv_open(b"UTF-16LE", name.encode())
        if cd in (None, FAILED):
            return None
    jis0212 = table["codepage"] in JIS0212_PAIRS
    for b in range(256):
        u = convert(cd, bytes([b])) if cd and b not in table["rows"] else None
        singles.append(b if u is None else u)
    for lead in table["rows"]:
        row = []
        for trail in range(256):
            u = None
            if cd:
                data = bytes([lead, trail])
                if jis0212 and lead >= 0xA1 and trail < 0x80:
                    data = bytes([0x8F, lead, trail | 0x80])
                u = convert(cd, data)
            row.append(table["default"] if u is None else u)
        pairs[lead] = row
    if cd:
        libc.iconv_close(cd)
    return singles, pairs


def runs(table, base):
    """Overrides as (lead, first, last, step, unit): lead 0 for single
    bytes; units count up by step (0 or 1) from unit."""
    singles, pairs = base
    wanted = [(0, table["single"], singles)]
    wanted += [(lead, table["rows"][lead], pairs[lead]) for lead in sorted(table["rows"])]
    out = []
    for lead, want, have in wanted:
        for b in range(1, 256) if lead else range(256):
            if lead == 0 and b in table["rows"]:
                continue
            if want[b] == have[b]:
                continue
            if out:
                l, first, last, step, unit = out[-1]
                if l == lead and last + 1 == b:
                    if last == first and want[b] - unit in (0, 1):
                        out[-1] = (l, first, b, want[b] - unit, unit)
                        continue
                    if unit + step * (b - first) == want[b]:
                        out[-1] = (l, first, b, step, unit)
                        continue
            out.append((lead, b, b, 1, want[b]))
    return out


def lead_ranges(table):
    leads = sorted(table["rows"])
    ranges = []
    for b in leads:
        if ranges and ranges[-1][1] + 1 == b:
            ranges[-1][1] = b
        else:
            ranges.append([b, b])
    return ranges


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/wine/nls"
    tables = [load_nls(p) for p in glob.glob(os.path.join(folder, "c_*.nls"))]
    tables.sort(key=lambda t: t["codepage"])
    pages, overrides = [], []
    for t in tables:
        cp = t["codepage"]
        best = None
        for name in [None, "CP%d" % cp] + ALIASES.get(cp, []):
            base = base_units(t, name)
            if base is None:
                continue
            r = runs(t, base)
            if best is None or len(r) < len(best[1]) or (len(r) == len(best[1]) and best[0] is None):
                best = (name, r)
        name, r = best
        ascii_same = all(t["single"][b] == b for b in range(128)) and not any(b < 0x80 for b in t["rows"])
        pages.append((cp, name, t["default"], lead_ranges(t), len(overrides), len(r), ascii_same,
                      cp in JIS0212_PAIRS))
        overrides += r
    max_ranges = max(len(p[3]) for p in pages)
    print("// Generated by scripts/generate-codepage-tables.py from Wine's code page")
    print("// tables and the C library's converters. Do not edit.")
    print("//")
    print("// Every code page the installer converts, besides UTF-7 and UTF-8. A")
    print("// byte, or a lead byte and its trail, is decoded by the C library's")
    print("// converter of that name (none: each byte is the unit of its value, a")
    print("// pair the default unit), except where an override says otherwise.")
    print("struct CodePageInfo {")
    print("  uint16_t codePage;")
    print("  const char* converter;")
    print("  char16_t defaultUnit;     // a pair without a character, a lead byte alone")
    print("  uint8_t leads[%d][2];      // ranges of lead bytes; {0, 0} ends" % (max_ranges + 1))
    print("  uint16_t firstOverride;")
    print("  uint16_t overrideCount;")
    print("  bool asciiSame;           // bytes below 0x80 are the units of their value")
    print("  bool jis0212Pairs;        // xx yy (yy < 0x80) means EUC-JP's 8F xx yy|80")
    print("};")
    print()
    print("// Bytes first..last after lead (0: single bytes) are units counting up by")
    print("// step (0 or 1) from unit. Sorted by code page, lead, first.")
    print("struct CodePageOverride {")
    print("  uint8_t lead;")
    print("  uint8_t first;")
    print("  uint8_t last;")
    print("  uint8_t step;")
    print("  char16_t unit;")
    print("};")
    print()
    print("constexpr CodePageInfo kCodePages[] = {")
    for cp, name, default, ranges, first, count, ascii_same, jis in pages:
        leads = ", ".join("{0x%02X, 0x%02X}" % (a, b) for a, b in ranges)
        leads = "{" + (leads + ", " if leads else "") + "{0, 0}}"
        conv = '"%s"' % name if name else "nullptr"
        print("    {%d, %s, 0x%04X, %s, %d, %d, %s, %s}," % (
            cp, conv, default, leads, first, count, "true" if ascii_same else "false",
            "true" if jis else "false"))
    print("};")
    print()
    print("constexpr CodePageOverride kCodePageOverrides[] = {")
    line = []
    for lead, first, last, step, unit in overrides:
        line.append("{0x%02X, 0x%02X, 0x%02X, %d, 0x%04X}," % (lead, first, last, step, unit))
        if len(line) == 4:
            print("    " + " ".join(line))
            line = []
    if line:
        print("    " + " ".join(line))
    print("};")


if __name__ == "__main__":
    main()
