#!/usr/bin/env python3
"""Builds one probe database per code page, for the code page sweep.

    scripts/make-codepage-probes.py OUTDIR [CODEPAGE...]

Writes OUTDIR/opens/cp-NNNNN.msi for a code page Wine's msi.dll opens and
OUTDIR/refused/cp-NNNNN.msi for a number it refuses (cp-xHHHHHHHH.msi for a
number of more than five digits). Without code pages: every code page
Wine's MultiByteToWideChar knows (KNOWN: its NLS tables, UTF-7, UTF-8, and
0) and numbers no system converts or only Windows does (UNKNOWN).

msibuild builds one database of ASCII placeholders (a _ForceCodepage
header, three tables keyed by Key with a text Value); each probe is a copy
whose string pool names code page NNNNN and whose placeholders are
overwritten in place with the probe bytes, so that any byte sequence
reaches the pool, whatever msibuild can convert:

  Pairs         row L (0..255): L 00 L 01 ... L FF, every byte followed by
                every byte (every double-byte sequence, valid or not, and
                every byte alone); row 256 + L: the byte L at the end;
  Random        seeded random strings, biased to the bytes that start or
                continue multi-byte sequences (UTF-8 and UTF-7 included);
  SummaryBytes  row K: the bytes of summary property K, a text property.

The summary information's Codepage property (2 bytes, as stored) is NNNNN
too and its text properties hold the bytes of the SummaryBytes rows, so
that Wine's decoding of those rows is what the summary's texts must be.
Where 7-bit bytes mean other characters (EBCDIC), the names of tables and
columns are written in the code page.
"""
import functools
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile

KNOWN = [
    0, 37, 437, 500, 708, 720, 737, 775, 850, 852, 855, 857, 860, 861, 862, 863, 864, 865,
    866, 869, 874, 875, 932, 936, 949, 950, 1026, 1250, 1251, 1252, 1253, 1254, 1255,
    1256, 1257, 1258, 1361, 10000, 10001, 10002, 10003, 10004, 10005, 10006, 10007, 10008,
    10010, 10017, 10021, 10029, 10079, 10081, 10082, 20127, 20866, 20932, 20949, 21866,
    28591, 28592, 28593, 28594, 28595, 28596, 28597, 28598, 28599, 28603, 28605, 65000,
    65001,
]
UNKNOWN = [1, 42, 1200, 12345, 20936, 54936, 65002, 0x7FFF0000 | 1252]
DEFAULT = KNOWN + UNKNOWN

EBCDIC = {37, 500, 875, 1026}
SEED = 18
BUILD_CODEPAGE = "1252"
SUMMARY_TEXT_IDS = [2, 3, 4, 5, 6, 7, 8, 9, 18]


class CompoundFile:
    """Just enough of a compound file to overwrite bytes of a stream."""

    def __init__(self, data):
        self.data = data
        self.layout = {}
        if data[:8] != b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1":
            raise ValueError("not a compound file")
        self.sector = 1 << struct.unpack_from("<H", data, 0x1E)[0]
        self.mini = 1 << struct.unpack_from("<H", data, 0x20)[0]
        self.cutoff = struct.unpack_from("<I", data, 0x38)[0]
        fat_sectors = []
        difat = list(struct.unpack_from("<109I", data, 0x4C))
        next_difat = struct.unpack_from("<I", data, 0x44)[0]
        per = self.sector // 4
        while next_difat < 0xFFFFFFFA:
            at = self.offset(next_difat)
            entries = struct.unpack_from("<%dI" % per, data, at)
            difat += entries[:-1]
            next_difat = entries[-1]
        count = struct.unpack_from("<I", data, 0x2C)[0]
        fat_sectors = difat[:count]
        self.fat = []
        for s in fat_sectors:
            self.fat += struct.unpack_from("<%dI" % per, data, self.offset(s))
        self.entries = []
        for s in self.chain(struct.unpack_from("<I", data, 0x30)[0]):
            for k in range(self.sector // 128):
                self.entries.append(self.offset(s) + 128 * k)
        root = self.entries[0]
        self.ministream = self.chain(struct.unpack_from("<I", data, root + 0x74)[0])
        self.minifat = []
        for s in self.chain(struct.unpack_from("<I", data, 0x3C)[0]):
            self.minifat += struct.unpack_from("<%dI" % per, data, self.offset(s))

    def offset(self, sector):
        return (sector + 1) * self.sector

    def chain(self, start, fat=None):
        fat = self.fat if fat is None else fat
        out = []
        while start < 0xFFFFFFFA and len(out) <= len(fat):
            out.append(start)
            start = fat[start]
        return out

    def find(self, name):
        for at in self.entries:
            length = struct.unpack_from("<H", self.data, at + 0x40)[0]
            if length >= 2 and self.data[at:at + length - 2].decode("utf-16-le") == name:
                return at
        raise KeyError(name)

    def segments(self, name):
        """Where the stream's bytes lie: (file offset, length) in order."""
        if name not in self.layout:
            self.layout[name] = self.lay_out(name)
        return self.layout[name]

    def lay_out(self, name):
        at = self.find(name)
        start = struct.unpack_from("<I", self.data, at + 0x74)[0]
        size = struct.unpack_from("<I", self.data, at + 0x78)[0]
        out = []
        if size < self.cutoff:
            per = self.sector // self.mini
            for m in self.chain(start, self.minifat):
                out.append((self.offset(self.ministream[m // per]) + (m % per) * self.mini, self.mini))
        else:
            out = [(self.offset(s), self.sector) for s in self.chain(start)]
        left, cut = size, []
        for offset, length in out:
            if left <= 0:
                break
            cut.append((offset, min(length, left)))
            left -= length
        return cut

    def read(self, name):
        return b"".join(bytes(self.data[o:o + n]) for o, n in self.segments(name))

    def write(self, name, position, new):
        """Overwrites the stream's bytes from position on."""
        done = 0
        for offset, length in self.segments(name):
            if position >= length:
                position -= length
                continue
            take = min(length - position, len(new) - done)
            self.data[offset + position:offset + position + take] = new[done:done + take]
            done += take
            position = 0
            if done == len(new):
                return
        if done != len(new):
            raise ValueError("write past the end of %r" % name)


def encode_table_name(name):
    """A table's stream name: two characters of [0-9A-Za-z._] to a unit."""
    alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._"
    out = [chr(0x4840)]
    i = 0
    while i < len(name):
        a = alphabet.index(name[i])
        if i + 1 < len(name):
            out.append(chr(0x3800 + a + (alphabet.index(name[i + 1]) << 6)))
            i += 2
        else:
            out.append(chr(0x4800 + a))
            i += 1
    return "".join(out)


PAIRS = [(lead, bytes(b for t in range(256) for b in (lead, t))) for lead in range(256)]
PAIRS += [(256 + lead, b"at end: " + bytes([lead])) for lead in range(256)]


def probe_strings(codepage):
    """The byte strings of the three tables, each a list of (key, bytes).
    Their lengths are the same for every code page, so that one database
    holds the placeholders of all."""
    pairs = PAIRS
    lengths = random.Random(SEED)
    rng = random.Random(SEED * 100003 + codepage)
    starts = list(range(0x80, 0x100)) + list(b"+-/AZaz09")
    randoms = []
    for k in range(96):
        n = lengths.randint(8, 56)
        pool = starts if k % 2 else range(256)
        s = bytes(rng.choice(pool) if rng.random() < 0.6 else rng.randint(0x80, 0xBF)
                  for _ in range(n))
        randoms.append((k + 1, s))
    summary = []
    for k in SUMMARY_TEXT_IDS:
        if k == 2:
            s = bytes(range(1, 256))
        else:
            n = 1500 if k == 6 else lengths.randint(8, 120)  # Comments: a long text
            s = bytes(rng.randint(1, 255) for _ in range(n))
        summary.append((k, s))
    return {"Pairs": pairs, "Random": randoms, "SummaryBytes": summary}


@functools.lru_cache(maxsize=None)
def placeholder(table, key, length):
    """ASCII text of the given length (8 or more), unique to the table and
    key: only its head holds a digit."""
    head = "%s%05d|" % (table[0], key)
    filler = "".join(chr(0x41 + (key * 7 + i) % 26) for i in range(length))
    return (head + filler)[:length].encode("ascii")


def idt(table, rows):
    lines = ["Key\tValue", "i2\tL0", "%s\tKey" % table]
    lines += ["%d\t%s" % (key, text) for key, text in rows]
    return "\r\n".join(lines) + "\r\n"


def build_placeholders(work):
    """The database of placeholders, built once by msibuild."""
    strings = probe_strings(0)
    for table, rows in strings.items():
        with open(os.path.join(work, table + ".idt"), "w", newline="") as f:
            f.write(idt(table, [(k, placeholder(table, k, len(v)).decode()) for k, v in rows]))
    with open(os.path.join(work, "_ForceCodepage.idt"), "w", newline="") as f:
        f.write("\r\n\r\n%s\t_ForceCodepage\r\n" % BUILD_CODEPAGE)
    summary_rows = ["1\t1252", "14\t200", "15\t2", "19\t0", "12\t2020/02/03 04:05:06"]
    for key, value in strings["SummaryBytes"]:
        summary_rows.append("%d\t%s" % (key, placeholder("SummaryBytes", key, len(value)).decode()))
    with open(os.path.join(work, "_SummaryInformation.idt"), "w", newline="") as f:
        f.write("PropertyId\tValue\r\ni2\tl255\r\n_SummaryInformation\tPropertyId\r\n")
        f.write("\r\n".join(summary_rows) + "\r\n")
    db = os.path.join(work, "probe.msi")
    args = ["msibuild", db, "-i", os.path.join(work, "_ForceCodepage.idt")]
    for table in list(strings) + ["_SummaryInformation"]:
        args += ["-i", os.path.join(work, table + ".idt")]
    subprocess.run(args, check=True, capture_output=True)
    return open(db, "rb").read()


def build(out, codepage, template):
    strings = probe_strings(codepage)
    cf = CompoundFile(bytearray(template))
    pool_name = encode_table_name("_StringPool")
    data_name = encode_table_name("_StringData")
    header = cf.read(pool_name)[:4]
    flags = struct.unpack("<I", header)[0] & 0x80000000
    cf.write(pool_name, 0, struct.pack("<I", flags | (codepage & 0x7FFFFFFF)))
    data = cf.read(data_name)
    # The names of tables and columns, in an EBCDIC code page.
    if codepage in EBCDIC:
        pool = cf.read(pool_name)
        offset = 0
        for i in range(1, len(pool) // 4):
            length = struct.unpack_from("<H", pool, 4 * i)[0]
            text = data[offset:offset + length]
            if not re.match(rb"[A-Z]\d{5}\|", text):
                cf.write(data_name, offset, text.decode("ascii").encode("cp%03d" % codepage))
            offset += length
    for table, rows in strings.items():
        for key, value in rows:
            holder = placeholder(table, key, len(value))
            at = data.find(holder)
            if at < 0 or data.find(holder, at + 1) >= 0:
                raise ValueError("placeholder %r not found once" % holder[:12])
            cf.write(data_name, at, value)
    summary_name = "\x05SummaryInformation"
    summary = cf.read(summary_name)
    section = struct.unpack_from("<I", summary, 0x2C)[0]
    count = struct.unpack_from("<I", summary, section + 4)[0]
    for i in range(count):
        pid, at = struct.unpack_from("<II", summary, section + 8 + 8 * i)
        if pid == 1:
            cf.write(summary_name, section + at + 4, struct.pack("<H", codepage & 0xFFFF))
    for key, value in strings["SummaryBytes"]:
        at = summary.find(placeholder("SummaryBytes", key, len(value)))
        if at < 0:
            raise ValueError("summary placeholder %d not found" % key)
        cf.write(summary_name, at, value)
    with open(out, "wb") as f:
        f.write(cf.data)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    outdir = sys.argv[1]
    codepages = [int(a, 0) for a in sys.argv[2:]] or DEFAULT
    work = tempfile.mkdtemp()
    try:
        template = build_placeholders(work)
    finally:
        shutil.rmtree(work)
    for cp in codepages:
        name = "cp-%05d.msi" % cp if cp < 100000 else "cp-x%08x.msi" % cp
        folder = os.path.join(outdir, "refused" if cp in UNKNOWN else "opens")
        os.makedirs(folder, exist_ok=True)
        build(os.path.join(folder, name), cp, template)


if __name__ == "__main__":
    main()
