#!/usr/bin/env python3
"""Writes installer databases for tests and benchmarks, byte for byte the
same on every run (Python 3 standard library only).

    msiwriter.py tables N OUT        N tables T000001.. of three rows each
    msiwriter.py rows N OUT          table Rows: N short text rows
    msiwriter.py streams N OUT       table Binary: N rows, each a tiny stream
    msiwriter.py cells N OUT         table Binary: N rows whose streams are absent
    msiwriter.py big-stream MB OUT   table Binary: one stream of MB MiB
    msiwriter.py validation N OUT    _Validation naming N tables that do not exist
    msiwriter.py keywords OUT        tables named Order, Select, Long (a stream
                                     table), 1abc, `my table`, foo beside Foo

A database is a compound file (version 3, 512-byte sectors) holding the
string pool, the catalogue tables, the tables column by column, the
summary information and the streams. Large streams are produced in chunks
while the file is written, never held whole.
"""

import array
import hashlib
import struct
import sys

SECTOR = 512
MINI_SECTOR = 64
MINI_CUTOFF = 4096
FREE, END_OF_CHAIN, FAT_SECT, DIF_SECT = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD, 0xFFFFFFFC
NO_STREAM = 0xFFFFFFFF
HEADER_DIFAT = 109
DATABASE_CLSID = bytes.fromhex("84100C0000000000C000000000000046")
# A directory entry: name, its length in bytes, type, colour, left, right,
# child, class id, state bits, two times, first sector, size.
DIR_ENTRY = struct.Struct("<64sHBBIII16sIQQIQ")

# Column type words, as the installer stores them in _Columns.Type.
KEY, NULLABLE = 0x2000, 0x1000


def column_type(text):
    """'s72', 'S255', 'L0', 'l64', 'i2', 'I4', 'v0', 'V0' -> type word."""
    letter, width = text[0], int(text[1:])
    nullable = NULLABLE if letter.isupper() else 0
    base = {"s": 0x0D00, "l": 0x0F00, "i": 0x0500 if width <= 2 else 0x0100, "v": 0x0900}
    return base[letter.lower()] | (0 if letter.lower() == "v" else width) | nullable


def is_binary(word):
    return (word & ~NULLABLE) == 0x0900


def is_string(word):
    return bool(word & 0x0800) and not is_binary(word)


# ---------------------------------------------------------------------------
# Stream names: pairs of [0-9A-Za-z._] packed into one unit above U+3800.

def _symbol(c):
    if "0" <= c <= "9":
        return ord(c) - 48
    if "A" <= c <= "Z":
        return ord(c) - 65 + 10
    if "a" <= c <= "z":
        return ord(c) - 97 + 36
    return {".": 62, "_": 63}.get(c, -1)


def encode_name(name, table=False):
    out = ["\u4840"] if table else []
    i = 0
    while i < len(name):
        a = _symbol(name[i])
        if a < 0:
            out.append(name[i])
            i += 1
            continue
        b = _symbol(name[i + 1]) if i + 1 < len(name) else -1
        if b >= 0:
            out.append(chr(0x3800 + a + (b << 6)))
            i += 2
        else:
            out.append(chr(0x4800 + a))
            i += 1
    return "".join(out)


# ---------------------------------------------------------------------------
# Compound file

class Stream:
    """A stream of the root storage: raw name, size, and its bytes (bytes,
    or a function that writes exactly size bytes through a write callback)."""

    __slots__ = ("name", "size", "data")

    def __init__(self, name, data, size=None):
        self.name = name
        self.data = data
        self.size = len(data) if size is None else size


def _order_key(name):
    # The enumeration order readers search by: length, then upper-cased units.
    return (len(name), name.upper() if name.isascii() else "".join(
        c.upper() if len(c.upper()) == 1 else c for c in name))


def _tree(count):
    """Left, right and colour of each of count sorted nodes in a balanced
    tree, and its root. Nodes on the deepest level are red when it is not
    the only one: every path then holds as many black nodes."""
    left = [NO_STREAM] * count
    right = [NO_STREAM] * count
    depth = [0] * count
    stack = [(0, count, 0, None, None)]
    root = NO_STREAM
    while stack:
        lo, hi, d, parent, side = stack.pop()
        if lo >= hi:
            continue
        mid = (lo + hi) // 2
        depth[mid] = d
        if parent is None:
            root = mid
        elif side == 0:
            left[parent] = mid
        else:
            right[parent] = mid
        stack.append((lo, mid, d + 1, mid, 0))
        stack.append((mid + 1, hi, d + 1, mid, 1))
    deepest = max(depth) if count else 0
    red = [deepest > 0 and depth[i] == deepest for i in range(count)]
    return root, left, right, red


def write_compound_file(path, streams, clsid=DATABASE_CLSID):
    streams = sorted(streams, key=lambda s: _order_key(s.name))
    for a, b in zip(streams, streams[1:]):
        if _order_key(a.name) == _order_key(b.name):
            raise ValueError("two streams named %r" % b.name)
    for s in streams:
        if len(s.name) > 31:
            raise ValueError("stream name longer than 31 units: %r" % s.name)

    # Where everything goes: big streams, the mini stream, the mini FAT, the
    # directory, the FAT, the DIFAT, each in consecutive sectors.
    next_sector = 0
    starts = [0] * len(streams)
    mini_size = 0
    for i, s in enumerate(streams):
        if s.size >= MINI_CUTOFF:
            starts[i] = next_sector
            next_sector += -(-s.size // SECTOR)
        elif s.size > 0:
            starts[i] = mini_size // MINI_SECTOR
            mini_size += -(-s.size // MINI_SECTOR) * MINI_SECTOR
        else:
            starts[i] = END_OF_CHAIN
    mini_start = next_sector if mini_size else END_OF_CHAIN
    mini_sectors = -(-mini_size // SECTOR)
    next_sector += mini_sectors
    mini_fat_entries = mini_size // MINI_SECTOR
    mini_fat_sectors = -(-mini_fat_entries * 4 // SECTOR)
    mini_fat_start = next_sector if mini_fat_sectors else END_OF_CHAIN
    next_sector += mini_fat_sectors
    entries = 1 + len(streams)
    dir_sectors = -(-entries * 128 // SECTOR)
    dir_start = next_sector
    next_sector += dir_sectors
    fat_sectors = difat_sectors = 0
    while True:
        total = next_sector + fat_sectors + difat_sectors
        need_fat = -(-total * 4 // SECTOR)
        need_difat = max(0, -(-(need_fat - HEADER_DIFAT) // (SECTOR // 4 - 1)))
        if (need_fat, need_difat) == (fat_sectors, difat_sectors):
            break
        fat_sectors, difat_sectors = need_fat, need_difat
    fat_start = next_sector
    difat_start = fat_start + fat_sectors
    total = difat_start + difat_sectors

    fat = array.array("I", [FREE]) * (fat_sectors * SECTOR // 4)

    def chain(first, count):
        for k in range(first, first + count - 1):
            fat[k] = k + 1
        if count:
            fat[first + count - 1] = END_OF_CHAIN

    for i, s in enumerate(streams):
        if s.size >= MINI_CUTOFF:
            chain(starts[i], -(-s.size // SECTOR))
    if mini_sectors:
        chain(mini_start, mini_sectors)
    chain(mini_fat_start, mini_fat_sectors)
    chain(dir_start, dir_sectors)
    for k in range(fat_start, fat_start + fat_sectors):
        fat[k] = FAT_SECT
    for k in range(difat_start, difat_start + difat_sectors):
        fat[k] = DIF_SECT

    header = bytearray(SECTOR)
    header[0:8] = bytes.fromhex("D0CF11E0A1B11AE1")
    struct.pack_into("<HHHHH", header, 0x18, 0x3E, 3, 0xFFFE, 9, 6)
    struct.pack_into("<IIIIIIIII", header, 0x28, 0, fat_sectors, dir_start, 0, MINI_CUTOFF,
                     mini_fat_start, mini_fat_sectors,
                     difat_start if difat_sectors else END_OF_CHAIN, difat_sectors)
    fat_list = list(range(fat_start, fat_start + fat_sectors))
    for k in range(HEADER_DIFAT):
        struct.pack_into("<I", header, 0x4C + 4 * k, fat_list[k] if k < len(fat_list) else FREE)

    with open(path, "wb") as f:
        f.write(header)

        def pad(written, unit):
            if written % unit:
                f.write(bytes(unit - written % unit))

        def emit(s):
            if isinstance(s.data, (bytes, bytearray, memoryview)):
                f.write(s.data)
                return
            written = [0]

            def write(chunk):
                written[0] += len(chunk)
                f.write(chunk)
            s.data(write)
            if written[0] != s.size:
                raise ValueError("stream %r wrote %d bytes, not %d" % (s.name, written[0], s.size))

        for s in streams:
            if s.size >= MINI_CUTOFF:
                emit(s)
                pad(s.size, SECTOR)
        batch = bytearray()
        for s in streams:
            if 0 < s.size < MINI_CUTOFF:
                data = s.data if isinstance(s.data, (bytes, bytearray)) else _collect(s)
                batch += data
                batch += bytes(-len(data) % MINI_SECTOR)
                if len(batch) >= 1 << 20:
                    f.write(batch)
                    batch = bytearray()
        f.write(batch)
        pad(mini_size, SECTOR)

        mini_fat = array.array("I", [FREE]) * (mini_fat_sectors * SECTOR // 4)
        for i, s in enumerate(streams):
            if 0 < s.size < MINI_CUTOFF:
                n = -(-s.size // MINI_SECTOR)
                for k in range(starts[i], starts[i] + n - 1):
                    mini_fat[k] = k + 1
                mini_fat[starts[i] + n - 1] = END_OF_CHAIN
        f.write(_little_endian(mini_fat))

        root, left, right, red = _tree(len(streams))
        chunk = bytearray()

        def entry(name, kind, lt, rt, child, colour, start, size, cls=bytes(16)):
            units = name.encode("utf-16-le")
            return DIR_ENTRY.pack(units, len(units) + 2, kind, colour, lt, rt, child, cls,
                                  0, 0, 0, start, size)

        chunk += entry("Root Entry", 5, NO_STREAM, NO_STREAM,
                       root + 1 if streams else NO_STREAM, 1, mini_start, mini_size, clsid)
        for i, s in enumerate(streams):
            chunk += entry(s.name, 2, left[i] + 1 if left[i] != NO_STREAM else NO_STREAM,
                           right[i] + 1 if right[i] != NO_STREAM else NO_STREAM, NO_STREAM,
                           0 if red[i] else 1, starts[i], s.size)
            if len(chunk) >= 1 << 20:
                f.write(chunk)
                chunk = bytearray()
        unused = bytearray(128)
        struct.pack_into("<III", unused, 0x44, NO_STREAM, NO_STREAM, NO_STREAM)
        chunk += unused * (dir_sectors * SECTOR // 128 - entries)
        f.write(chunk)

        f.write(_little_endian(fat))
        per = SECTOR // 4 - 1
        rest = fat_list[HEADER_DIFAT:]
        for k in range(difat_sectors):
            part = rest[k * per:(k + 1) * per]
            nxt = difat_start + k + 1 if k + 1 < difat_sectors else END_OF_CHAIN
            block = array.array("I", part + [FREE] * (per - len(part)) + [nxt])
            f.write(_little_endian(block))
        if f.tell() != SECTOR * (1 + total):
            raise AssertionError("layout mismatch")


def _collect(stream):
    parts = []
    stream.data(parts.append)
    data = b"".join(parts)
    if len(data) != stream.size:
        raise ValueError("stream %r wrote %d bytes, not %d" % (stream.name, len(data), stream.size))
    return data


def _little_endian(values):
    if sys.byteorder != "little":
        values = array.array(values.typecode, values)
        values.byteswap()
    return values.tobytes()


# ---------------------------------------------------------------------------
# Installer database

class Table:
    def __init__(self, name, columns):
        self.name = name
        self.columns = []  # (name, type word)
        for spec in columns:
            column, kind = spec[0], spec[1]
            key = len(spec) > 2 and spec[2] == "key"
            self.columns.append((column, column_type(kind) | (KEY if key else 0)))
        self.rows = []     # tuples of str / int / None; a binary cell: bytes or Stream or None


class Database:
    def __init__(self, codepage=1252):
        self.codepage = codepage
        self.tables = []
        self.streams = []
        self.summary = {}
        self._ids = {}
        self._strings = []
        self._refs = []

    def table(self, name, columns):
        t = Table(name, columns)
        self.tables.append(t)
        return t

    def string(self, text):
        if text is None:
            return 0
        sid = self._ids.get(text)
        if sid is None:
            self._strings.append(text)
            self._refs.append(0)
            sid = self._ids[text] = len(self._strings)
        self._refs[sid - 1] += 1
        return sid

    def write(self, path):
        catalogue = Table("_Tables", [("Name", "s64", "key")])
        columns = Table("_Columns", [("Table", "s64", "key"), ("Number", "i2", "key"),
                                     ("Name", "s64"), ("Type", "i2")])
        for t in self.tables:
            catalogue.rows.append((t.name,))
            for n, (cname, word) in enumerate(t.columns, 1):
                columns.rows.append((t.name, n, cname, word))
        # Every string gets its id before any table is laid out, column by
        # column in the order the tables hold them.
        string = self.string
        laid = []
        for t in [catalogue, columns] + self.tables:
            cells = []
            for i, (cname, word) in enumerate(t.columns):
                values = [row[i] for row in t.rows]
                if is_string(word):
                    cells.append([string(v) for v in values])
                elif is_binary(word):
                    cells.append([0] * len(values))
                else:
                    cells.append(values)
            laid.append((t, cells))
        long_refs = len(self._strings) > 0xFFFF
        streams = []
        for t, cells in laid:
            streams.append(Stream(encode_name(t.name, True), self._layout(t, cells, long_refs)))
            binary = [i for i, (c, w) in enumerate(t.columns) if is_binary(w)]
            keys = [i for i, (c, w) in enumerate(t.columns) if w & KEY]
            for row in t.rows if binary else ():
                value = row[binary[0]]
                if value is None:
                    continue
                name = ".".join([t.name] + ["" if row[k] is None else str(row[k]) for k in keys])
                if isinstance(value, Stream):
                    streams.append(Stream(encode_name(name), value.data, value.size))
                else:
                    streams.append(Stream(encode_name(name), value))
        pool, data = self._pool(long_refs)
        streams.append(Stream(encode_name("_StringPool", True), pool))
        streams.append(Stream(encode_name("_StringData", True), data))
        streams.append(Stream("\x05SummaryInformation", self._summary()))
        streams.extend(self.streams)
        write_compound_file(path, streams)

    def _layout(self, t, cells, long_refs):
        # Rows in the order of their raw key cells, as the installer keeps them.
        rows = len(t.rows)
        keys = []
        for i, (cname, word) in enumerate(t.columns):
            if not word & KEY:
                continue
            if is_string(word) or is_binary(word):
                keys.append(cells[i])
            elif (word & 0xFF) <= 2:
                keys.append([0 if v is None else (v + 0x8000) & 0xFFFF for v in cells[i]])
            else:
                keys.append([0 if v is None else (v ^ 0x80000000) & 0xFFFFFFFF for v in cells[i]])
        order = None
        if keys:
            tuples = list(zip(*keys))
            order = sorted(range(rows), key=tuples.__getitem__)
        out = bytearray()
        for i, (cname, word) in enumerate(t.columns):
            values = cells[i] if order is None else [cells[i][r] for r in order]
            if is_binary(word):
                out += bytes(2 * len(values))
            elif is_string(word):
                if long_refs:
                    wide = _little_endian(array.array("I", values))
                    packed = bytearray(3 * len(values))
                    packed[0::3], packed[1::3], packed[2::3] = wide[0::4], wide[1::4], wide[2::4]
                    out += packed
                else:
                    out += _little_endian(array.array("H", values))
            elif (word & 0xFF) <= 2:
                out += _little_endian(array.array(
                    "H", [0 if v is None else (v + 0x8000) & 0xFFFF for v in values]))
            else:
                out += _little_endian(array.array(
                    "I", [0 if v is None else (v ^ 0x80000000) & 0xFFFFFFFF for v in values]))
        return bytes(out)

    def _pool(self, long_refs):
        encoding = "utf-8" if self.codepage == 65001 else "cp%d" % (self.codepage or 1252)
        words = array.array("H", [self.codepage & 0xFFFF,
                                  ((self.codepage >> 16) & 0x7FFF) | (0x8000 if long_refs else 0)])
        encoded = [text.encode(encoding) for text in self._strings]
        entries = []
        for b, refs in zip(encoded, self._refs):
            if not b:
                raise ValueError("the pool holds no empty strings")
            refs = min(refs, 0xFFFF)
            if len(b) > 0xFFFF:
                entries += (0, refs, len(b) & 0xFFFF, len(b) >> 16)
            else:
                entries += (len(b), refs)
        words.extend(entries)
        data = b"".join(encoded)
        return _little_endian(words), bytes(data)

    def _summary(self):
        props = {1: (2, 1252), 2: (30, "Installation Database"), 7: (30, "Intel;1033"),
                 9: (30, "{00000000-0000-0000-0000-000000000001}"), 14: (3, 200), 15: (3, 2),
                 19: (3, 0)}
        props.update(self.summary)
        values = []
        for pid in sorted(props):
            vt, v = props[pid]
            if vt == 2:
                body = struct.pack("<Hh", vt, 0) + struct.pack("<hH", v, 0)
            elif vt == 3:
                body = struct.pack("<HHi", vt, 0, v)
            else:
                text = v.encode("cp1252") + b"\0"
                body = struct.pack("<HHI", vt, 0, len(text)) + text
                body += bytes(-len(body) % 4)
            values.append((pid, body))
        offset = 8 + 8 * len(values)
        table, blob = b"", b""
        for pid, body in values:
            table += struct.pack("<II", pid, offset + len(blob))
            blob += body
        section = struct.pack("<II", 8 + len(table) + len(blob), len(values)) + table + blob
        fmtid = bytes.fromhex("E0859FF2F94F6810AB9108002B27B3D9")
        head = struct.pack("<HHI", 0xFFFE, 0, 0x00020006) + bytes(16) + struct.pack("<I", 1)
        return head + fmtid + struct.pack("<I", 0x30) + section


# ---------------------------------------------------------------------------
# The databases

def validation_table(db, rows):
    """_Validation with the standard columns; rows are (table, column)."""
    t = db.table("_Validation", [
        ("Table", "s32", "key"), ("Column", "s32", "key"), ("Nullable", "s4"),
        ("MinValue", "I4"), ("MaxValue", "I4"), ("KeyTable", "S255"), ("KeyColumn", "I2"),
        ("Category", "S32"), ("Set", "S255"), ("Description", "S255")])
    for table, column in rows:
        t.rows.append((table, column, "N", None, None, None, None, "Text", None, None))
    return t


def many_tables(n):
    db = Database()
    for i in range(1, n + 1):
        t = db.table("T%06d" % i, [("Key", "s72", "key"), ("Value", "S255"), ("Number", "I2")])
        for r in range(1, 4):
            t.rows.append(("k%d" % r, "table %d row %d" % (i, r), r))
    return db


def many_rows(n):
    db = Database()
    t = db.table("Rows", [("Id", "i4", "key"), ("Text", "S64")])
    t.rows = [(i, "row text %07d" % i) for i in range(1, n + 1)]
    return db


def many_streams(n):
    db = Database()
    t = db.table("Binary", [("Name", "s72", "key"), ("Data", "v0")])
    t.rows = [("s%07d" % i, b"stream %d\n" % i) for i in range(1, n + 1)]
    return db


_PATTERN = []


def absent_streams(n):
    # Rows a stream table lists, without the directory a stream each needs.
    db = Database()
    t = db.table("Binary", [("Name", "s72", "key"), ("Data", "V0")])
    t.rows = [("c%07d" % i, None) for i in range(1, n + 1)]
    return db


def pattern_chunk(index, size):
    """Chunk index of a large stream: a fixed 1 MiB pattern led by its index,
    so that no two chunks are alike and a misplaced one shows."""
    if not _PATTERN:
        _PATTERN.append(b"".join(hashlib.sha256(b"msiwriter %d" % k).digest()
                                 for k in range(1 << 15)))
    return (struct.pack("<Q", index) + _PATTERN[0][8:])[:size]


def big_stream(mib):
    db = Database()
    t = db.table("Binary", [("Name", "s72", "key"), ("Data", "v0")])
    size = mib << 20

    def produce(write):
        for k in range(mib):
            write(pattern_chunk(k, 1 << 20))
    t.rows.append(("big", Stream("", produce, size)))
    return db


def absent_validation(n):
    db = Database()
    t = db.table("Property", [("Property", "s72", "key"), ("Value", "l0")])
    t.rows = [("ProductName", "absent tables"), ("ProductVersion", "1.0.0")]
    validation_table(db, [("Property", "Property"), ("Property", "Value")] +
                     [("Absent%06d" % i, "Column") for i in range(1, n + 1)])
    return db


def keyword_tables():
    db = Database()
    for name in ("Order", "Select", "1abc", "my table", "foo", "Foo"):
        t = db.table(name, [("Key", "s72", "key"), ("From", "S64"), ("Where", "I2")])
        t.rows = [("%s 1" % name, "first of %s" % name, 1), ("%s 2" % name, None, len(name))]
    t = db.table("Long", [("Name", "s72", "key"), ("Data", "v0")])
    t.rows = [("k1", b"Long k1\n"), ("k2", b"Long k2, a little longer\n")]
    validation_table(db, [("Order", "Key"), ("my table", "Key"), ("Long", "Name")])
    return db


def main(argv):
    kinds = {"tables": many_tables, "rows": many_rows, "streams": many_streams,
             "cells": absent_streams,
             "big-stream": big_stream, "validation": absent_validation}
    if len(argv) == 3 and argv[1] == "keywords":
        keyword_tables().write(argv[2])
        return 0
    if len(argv) != 4 or argv[1] not in kinds or not argv[2].isdigit():
        sys.stderr.write(__doc__)
        return 2
    kinds[argv[1]](int(argv[2])).write(argv[3])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
