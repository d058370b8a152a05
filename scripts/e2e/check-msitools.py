#!/usr/bin/env python3
"""Checks the extracted archive against an independent reader (msitools).

    scripts/e2e/check-msitools.py NATIVE_BUILD [DATABASE...]

Every database (default: the shared corpus) is extracted with
NATIVE_BUILD/msiarc. Then:
  - every table .csv is parsed back with the dialect's own rules (byte-order
    mark, every field quoted, quotes not doubled, CRLF after every line) into
    rows of cells, which must equal the cells `msiinfo export` gives for the
    table: the header is the column names, an integer column's null is
    "(null)" where msiinfo leaves the cell empty;
  - every file of a stream folder (a table's folder, _Streams) must equal the
    bytes `msiinfo extract` gives for its stream.
Known differences between msitools and the installer engine are named in
MSITOOLS_DIFFERENCES and skipped only for that case. Exit status 1 on any
difference; each prints the database, the entry and the first difference.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.environ.get("MSIARC_CORPUS_DIR",
                        os.path.join(HERE, "..", "..", "..", "shared", "corpus"))

# (database, entry) -> why msitools' answer is not the installer's there.
# msitools shares the installer engine's code with Wine and decodes integer
# columns of width 1 (I1/i1) with the 4-byte formula (6 reads as
# -2147450874); the plug-in shows the stored value.
MSITOOLS_DIFFERENCES = {
    ("wix__Firewall4.msi", "Wix4FirewallException.csv"): "width-1 integers",
    ("wix__Module401.msm", "Wix4FirewallException.csv"): "width-1 integers",
}


def run(args, **kw):
    return subprocess.run(args, capture_output=True, timeout=600, **kw)


def idt_export(db, table):
    """msiinfo's answer: column names, column types and the rows' text.

    msiinfo writes values unescaped (a tab or a line break inside a value is
    written as it is), so its rows cannot be split back into cells reliably;
    the rows' text is compared as a whole instead, against the parsed cells
    joined the same way."""
    out = run(["msiinfo", "export", db, table])
    if out.returncode != 0:
        return None
    text = out.stdout.decode("utf-8", "surrogateescape")
    head = text.split("\r\n", 3)
    if len(head) < 4:
        head += [""] * (4 - len(head))
    return head[0].split("\t"), head[1].split("\t"), head[3]


def parse_csv(data, columns):
    """Rows of `columns` cells from the dialect: BOM, "a","b"CRLF, no
    escaping. A value may hold quotes, commas and line breaks, so a line is
    matched as a whole: `columns` quoted fields, separated by commas, then
    CRLF, the shortest such match first."""
    if not data.startswith(b"\xef\xbb\xbf"):
        raise ValueError("no byte-order mark")
    text = data[3:].decode("utf-8", "surrogateescape")
    if columns == 0:
        line = re.compile(r"\r\n", re.S)
    else:
        line = re.compile(r'"(.*?)"' + r',"(.*?)"' * (columns - 1) + r"\r\n",
                          re.S)
    rows, pos = [], 0
    while pos < len(text):
        m = line.match(text, pos)
        if not m:
            raise ValueError("unparsable text at character %d: %r" %
                             (pos, text[pos:pos + 40]))
        rows.append(list(m.groups()))
        pos = m.end()
    return rows


def check_table(db, table, csv_path, problems):
    idt = idt_export(db, table)
    if idt is None:
        problems.append("%s: msiinfo cannot export it" % table)
        return
    names, types, body = idt
    with open(csv_path, "rb") as f:
        data = f.read()
    has_rows = body != ""
    if any(t.lower().startswith("v") for t in types) and has_rows:
        # A table with rows and a stream column cannot be rendered: empty.
        if data:
            problems.append("%s.csv: a table with a stream column and rows "
                            "should be empty, has %d bytes" % (table, len(data)))
        return
    try:
        got = parse_csv(data, len(names))
    except ValueError as error:
        problems.append("%s.csv: %s" % (table, error))
        return
    if not got or got[0] != names:
        problems.append("%s.csv: header %r, msiinfo %r" %
                        (table, got[0] if got else None, names))
        return
    # The cells as msiinfo writes them: an integer's null is empty.
    integer = [t[:1].lower() == "i" for t in types]
    lines = []
    for row in got[1:]:
        cells = ["" if i < len(integer) and integer[i] and c == "(null)" else c
                 for i, c in enumerate(row)]
        lines.append("\t".join(cells) + "\r\n")
    text = "".join(lines)
    if text != body:
        at = next((i for i, (x, y) in enumerate(zip(text, body)) if x != y),
                  min(len(text), len(body)))
        row = text.count("\r\n", 0, at) + 2
        problems.append("%s.csv near line %d: %r, msiinfo %r" %
                        (table, row, text[max(0, at - 20):at + 30],
                         body[max(0, at - 20):at + 30]))


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return "byte %d: %02x, msiinfo %02x" % (i + 1, x, y)
    return "sizes %d and %d (msiinfo), equal up to the shorter" % (len(a), len(b))


def check_database(host, db, work):
    name = os.path.basename(db)
    tree = os.path.join(work, "tree")
    shutil.rmtree(tree, ignore_errors=True)
    out = run([host, "extract", db, tree])
    problems = []
    if b"Sanitizer" in out.stderr or b"runtime error:" in out.stderr:
        problems.append("%s: sanitizer report from the host: %s" % (
            name, out.stderr.decode("utf-8", "replace")[:400]))
    if not os.path.isdir(tree):
        return problems, None  # refused: nothing to compare
    tables = run(["msiinfo", "tables", db])
    if tables.returncode != 0:
        return [], "msiinfo cannot read it"
    table_names = tables.stdout.decode("utf-8", "surrogateescape").split()
    streams = run(["msiinfo", "streams", db]).stdout.decode(
        "utf-8", "surrogateescape").split("\n")
    streams = set(s for s in streams if s)
    checked_tables = checked_streams = 0
    unmatched = []
    for entry in sorted(os.listdir(tree)):
        path = os.path.join(tree, entry)
        if os.path.isfile(path) and entry.endswith(".csv") and \
                entry != "_SummaryInformation.csv":
            table = entry[:-4]
            if (name, entry) in MSITOOLS_DIFFERENCES:
                continue
            if table not in table_names:
                problems.append("%s: no such table in msiinfo's list" % entry)
                continue
            check_table(db, table, path, problems)
            checked_tables += 1
        elif os.path.isdir(path):
            for cell in sorted(os.listdir(path)):
                key = entry + "/" + cell
                if (name, key) in MSITOOLS_DIFFERENCES:
                    continue
                stream = cell if entry == "_Streams" else entry + "." + cell
                if entry == "_Streams" and stream not in streams:
                    # A stream named with a leading control character shows
                    # it as "_"; a row "Table.Key" whose table folder holds
                    # Key is listed as Key alone.
                    candidates = ["\x05" + cell[1:]] if cell[:1] == "_" else []
                    candidates += [s for s in streams
                                   if s.endswith("." + cell) and os.path.isfile(
                                       os.path.join(tree, s[:-len(cell) - 1], cell))]
                    stream = next((c for c in candidates if c in streams), stream)
                if stream not in streams:
                    # Named after another column than the stream's key, or
                    # made unique: no stream of that name to compare with.
                    unmatched.append(key)
                    continue
                got = open(os.path.join(path, cell), "rb").read()
                want = run(["msiinfo", "extract", db, stream]).stdout
                if got != want:
                    problems.append("%s: %s" % (key, first_difference(got, want)))
                checked_streams += 1
    summary = "%d tables, %d streams, %d unmatched" % (
        checked_tables, checked_streams, len(unmatched))
    if unmatched and os.environ.get("VERBOSE"):
        print("%s: no stream of that name: %s" % (name, " ".join(unmatched)))
    return problems, summary


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    host = os.path.join(sys.argv[1], "msiarc")
    dbs = sys.argv[2:] or sorted(
        os.path.join(CORPUS, f) for f in os.listdir(CORPUS)
        if not f.endswith(".tsv") and os.path.isfile(os.path.join(CORPUS, f)))
    failures = tables = streams = unmatched = 0
    with tempfile.TemporaryDirectory(prefix="msiarc-e2e-msitools.") as work:
        for db in dbs:
            name = os.path.basename(db)
            problems, summary = check_database(host, db, work)
            if summary and summary[0].isdigit():
                t, s, u = re.findall(r"\d+", summary)
                tables += int(t)
                streams += int(s)
                unmatched += int(u)
            for p in problems[:5]:
                print("FAIL %s: %s" % (name, p))
            if problems:
                failures += 1
    print("%d databases, %d tables and %d streams compared (%d stream files "
          "named otherwise than their stream), %d databases differ"
          % (len(dbs), tables, streams, unmatched, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
