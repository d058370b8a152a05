#!/usr/bin/env python3
"""Checks the extracted archive against an independent reader (msitools).

    scripts/e2e/check-msitools.py NATIVE_BUILD [DATABASE...]

Every database (default: the corpus, tests/corpus or MSIARC_CORPUS_DIR) is extracted with
NATIVE_BUILD/msiarc. Then:
  - the tables shown (a .csv file or a folder each) are the tables
    `msiinfo tables` lists, but for stream tables without rows, which show
    nothing;
  - every .csv file starts with a byte-order mark and is read back by
    Python's csv module in strict mode (RFC 4180: a quote inside a field is
    doubled); every record has the header's width;
  - every table .csv holds the cells `msiinfo export` gives for the table:
    the header is the column names, an integer column's null is "(null)"
    where msiinfo leaves the cell empty;
  - _SummaryInformation.csv holds the text and integer values `msiinfo
    suminfo` gives;
  - every file of a stream folder (a table's folder, _Streams) must equal the
    bytes `msiinfo extract` gives for its stream.
Known differences between msitools and the installer engine are named in
MSITOOLS_DIFFERENCES and skipped only for that case. Exit status 1 on any
difference; each prints the database, the entry and the first difference.
"""
import codecs
import csv
import ctypes
import ctypes.util
import io
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.environ.get("MSIARC_CORPUS_DIR") or os.path.join(HERE, "..", "..", "tests", "corpus")

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
    joined the same way. msiinfo writes a stream table's cells as files into
    the folder it runs in (Binary/Binary.key): it runs in a scratch folder.

    msiinfo puts the name into its query bare, so it cannot read a table
    named like a keyword (Order), starting with a digit or holding a space;
    the same library is then asked with the name in back quotes. No query
    can name a table whose name holds a back quote (msiinfo, given one,
    reads another table): None, as for a name with no table behind it."""
    if "`" in table:
        return None
    with tempfile.TemporaryDirectory(prefix="msiarc-e2e-export.") as scratch:
        out = run(["msiinfo", "export", os.path.abspath(db), table], cwd=scratch)
    if out.returncode != 0:
        return quoted_export(db, table)
    text = out.stdout.decode("utf-8", "surrogateescape")
    head = text.split("\r\n", 3)
    if len(head) < 4:
        head += [""] * (4 - len(head))
    return head[0].split("\t"), head[1].split("\t"), head[3]


class Libmsi:
    """msitools' library, for the queries msiinfo cannot compose."""

    def __init__(self):
        self.lib = ctypes.CDLL(ctypes.util.find_library("msi") or "libmsi.so.0")
        self.glib = ctypes.CDLL(ctypes.util.find_library("glib-2.0") or "libglib-2.0.so.0")
        self.gobject = ctypes.CDLL(
            ctypes.util.find_library("gobject-2.0") or "libgobject-2.0.so.0")
        p, u = ctypes.c_void_p, ctypes.c_uint
        for name, restype, argtypes in [
                ("libmsi_database_new", p, [ctypes.c_char_p, u, p, p]),
                ("libmsi_query_new", p, [p, ctypes.c_char_p, p]),
                ("libmsi_query_execute", ctypes.c_int, [p, p, p]),
                ("libmsi_query_fetch", p, [p, p]),
                ("libmsi_query_get_column_info", p, [p, ctypes.c_int, p]),
                ("libmsi_record_get_field_count", u, [p]),
                ("libmsi_record_get_string", p, [p, u])]:
            function = getattr(self.lib, name)
            function.restype, function.argtypes = restype, argtypes
        self.glib.g_free.argtypes = [p]
        self.gobject.g_object_unref.argtypes = [p]

    def field(self, record, number):
        text = self.lib.libmsi_record_get_string(record, number)
        if not text:
            return ""
        value = ctypes.string_at(text).decode("utf-8", "surrogateescape")
        self.glib.g_free(text)
        return value

    def fields(self, record, types=()):
        """The record's fields as text; a stream's as "" (msiinfo names a
        file there)."""
        count = self.lib.libmsi_record_get_field_count(record)
        return ["" if types[i - 1:i] and types[i - 1][:1] in "vV"
                else self.field(record, i) for i in range(1, count + 1)]

    def export(self, db, table):
        """What msiinfo export gives, read with SELECT * FROM `table`."""
        database = self.lib.libmsi_database_new(db.encode(), 1, None, None)
        if not database:
            return None
        query = self.lib.libmsi_query_new(
            database, ("SELECT * FROM `%s`" % table).encode(), None)
        result = None
        if query and self.lib.libmsi_query_execute(query, None, None):
            header = []
            for info in (0, 1):  # names, types
                record = self.lib.libmsi_query_get_column_info(query, info, None)
                header.append(self.fields(record) if record else [])
                if record:
                    self.gobject.g_object_unref(record)
            lines = []
            while True:
                record = self.lib.libmsi_query_fetch(query, None)
                if not record:
                    break
                lines.append("\t".join(self.fields(record, header[1])) + "\r\n")
                self.gobject.g_object_unref(record)
            result = header[0], header[1], "".join(lines)
        if query:
            self.gobject.g_object_unref(query)
        self.gobject.g_object_unref(database)
        return result


LIBMSI = []


def quoted_export(db, table):
    if not LIBMSI:
        LIBMSI.append(Libmsi())
    return LIBMSI[0].export(db, table)


def parse_csv(data):
    """The records of a CSV file, read by the csv module in strict mode
    after the byte-order mark."""
    if not data.startswith(b"\xef\xbb\xbf"):
        raise ValueError("no byte-order mark")
    text = data[3:].decode("utf-8", "surrogateescape")
    if not text.endswith("\r\n"):
        raise ValueError("the last line has no CR LF")
    try:
        rows = list(csv.reader(io.StringIO(text, newline=""), strict=True))
    except csv.Error as error:
        raise ValueError("csv: %s" % error)
    width = len(rows[0]) if rows else 0
    for number, row in enumerate(rows, 1):
        if len(row) != width:
            raise ValueError("record %d has %d fields, the header %d" %
                             (number, len(row), width))
    return rows


# msiinfo suminfo's labels and the file's names for the same property.
SUMMARY_TEXTS = {
    "Title": "Title", "Subject": "Subject", "Author": "Author",
    "Keywords": "Keywords", "Comments": "Comments", "Template": "Template",
    "Last author": "Last Saved By", "Revision number (UUID)": "Revision Number",
    "Application": "Creating Application",
}
SUMMARY_INTEGERS = {"Version": "Page Count", "Source": "Word Count",
                    "Restrict": "Character Count", "Security": "Security"}


def check_summary(db, csv_path, problems):
    try:
        rows = parse_csv(open(csv_path, "rb").read())
    except ValueError as error:
        problems.append("_SummaryInformation.csv: %s" % error)
        return
    if not rows or rows[0] != ["Name", "Value"]:
        problems.append("_SummaryInformation.csv: header %r" %
                        (rows[0] if rows else None))
        return
    got = dict(rows[1:])
    out = run(["msiinfo", "suminfo", db])
    if out.returncode != 0:
        return
    # msiinfo prints the texts as stored, in the summary's own code page.
    try:
        encoding = codecs.lookup("cp%d" % int(got.get("Codepage", ""))).name
    except (ValueError, LookupError):
        encoding = "utf-8"
    for line in out.stdout.decode(encoding, "surrogateescape").split("\n"):
        label, sep, value = line.partition(": ")
        if label in SUMMARY_INTEGERS:
            name, value = SUMMARY_INTEGERS[label], value.split(" (")[0]
        elif label in SUMMARY_TEXTS:
            name = SUMMARY_TEXTS[label]
        else:
            continue
        if got.get(name) != value:
            problems.append("_SummaryInformation.csv: %s is %r, msiinfo %r" %
                            (name, got.get(name), value))


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
        got = parse_csv(data)
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


def table_shown(entry, table_names):
    """The table a .csv file or folder of the root shows: its name, or, when
    another entry took that name first (foo.csv, then Foo_001.csv for Foo),
    its name with the number that made it unique."""
    if entry in table_names:
        return entry
    numbered = re.fullmatch(r"(.*)_\d{3,}", entry)
    if numbered and numbered.group(1) in table_names:
        return numbered.group(1)
    return entry


def check_tables_shown(db, tree, table_names, problems):
    """Each table msiinfo lists and exports is a .csv file or a folder, but
    for a stream table without rows (no entry at all); msiinfo's
    pseudo-tables aside."""
    shown = set()
    for entry in os.listdir(tree):
        if os.path.isdir(os.path.join(tree, entry)):
            shown.add(table_shown(entry, table_names))
        elif entry.endswith(".csv"):
            shown.add(table_shown(entry[:-4], table_names))
    shown -= {"_SummaryInformation", "_Streams"}
    wanted = set()
    for table in table_names:
        if table in ("_SummaryInformation", "_ForceCodepage"):
            continue
        idt = idt_export(db, table)
        if idt is None:
            continue  # no table behind the name (a transform's entries)
        names, types, body = idt
        stream = any(t[:1].lower() == "v" for t in types)
        string = any(t[:1].lower() in "sl" for t in types)
        if stream and string and body == "":
            continue
        wanted.add(table)
    for table in sorted(wanted - shown):
        problems.append("table %s is not shown" % table)
    for table in sorted(shown - wanted):
        problems.append("%s is shown, msiinfo lists no such table" % table)


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
    # One name a line: a name may hold a space.
    table_names = [t for t in tables.stdout.decode(
        "utf-8", "surrogateescape").split("\n") if t]
    streams = run(["msiinfo", "streams", db]).stdout.decode(
        "utf-8", "surrogateescape").split("\n")
    streams = set(s for s in streams if s)
    check_tables_shown(db, tree, table_names, problems)
    summary_csv = os.path.join(tree, "_SummaryInformation.csv")
    if os.path.isfile(summary_csv):
        check_summary(db, summary_csv, problems)
    checked_tables = checked_streams = 0
    unmatched = []
    for entry in sorted(os.listdir(tree)):
        path = os.path.join(tree, entry)
        if os.path.isfile(path) and entry.endswith(".csv") and \
                entry != "_SummaryInformation.csv":
            table = table_shown(entry[:-4], table_names)
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
    if not sys.argv[2:] and not os.path.isdir(CORPUS):
        print("check-msitools: no corpus at %s (tests/corpus, or MSIARC_CORPUS_DIR)" % CORPUS)
        return 2
    dbs = sys.argv[2:] or sorted(
        os.path.join(CORPUS, f) for f in os.listdir(CORPUS)
        if not f.endswith(".tsv") and os.path.isfile(os.path.join(CORPUS, f)))
    missing = [db for db in dbs if not os.path.isfile(db)]
    if missing or not dbs:
        print("check-msitools: missing database(s): %s" % (" ".join(missing) or "none given"))
        return 2
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
