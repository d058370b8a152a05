// msidump DATABASE...
//
// Writes, as deterministic UTF-8 text on standard output, what the engine
// answers for each database, one after the other: the open result, every summary property, and for
// every table named by _Tables plus the virtual tables _Streams, _Storages,
// _Tables and _Columns: the key columns, the column names and types, and
// for every cell its text (length query, then read), integer, data size, and
// for streams the bytes (read in uneven chunks, hashed) and a read past the
// end; then the key columns of two names no table has. Every call's result
// code is written next to what it returned.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "engine/msi_api.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

using Text = std::basic_string<WCHAR>;
constexpr UINT kVtLpstr = 30;  // VT_LPSTR

std::string out;

void Flush() {
  fwrite(out.data(), 1, out.size(), stdout);
  out.clear();
}

void Put(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Put(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n > 0) out.append(line, static_cast<size_t>(n) < sizeof line ? n : sizeof line - 1);
  if (out.size() > (1u << 16)) Flush();
}

void AppendUtf8(uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Quoted, with \\, \" and control characters escaped and lone surrogates
// written as \uXXXX, so that the line stays one line and nothing is lost.
void PutQuoted(const WCHAR* s, size_t n) {
  out += '"';
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = static_cast<uint16_t>(s[i]);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && static_cast<uint16_t>(s[i + 1]) >= 0xDC00 &&
        static_cast<uint16_t>(s[i + 1]) < 0xE000) {
      AppendUtf8(0x10000 + ((c - 0xD800) << 10) + (static_cast<uint16_t>(s[i + 1]) - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      Put("\\u%04X", c);
    } else if (c == '\\' || c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      Put("\\x%02X", c);
    } else {
      AppendUtf8(c);
    }
  }
  out += '"';
}

Text Widen(const char* s) {  // UTF-8 (ASCII in practice) to UTF-16
  Text t;
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  while (*p) {
    uint32_t c = *p++;
    int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (more) c &= 0x3F >> more;
    for (; more > 0 && (*p & 0xC0) == 0x80; --more) c = (c << 6) | (*p++ & 0x3F);
    if (c >= 0x10000) {
      t += static_cast<WCHAR>(0xD800 + ((c - 0x10000) >> 10));
      t += static_cast<WCHAR>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      t += static_cast<WCHAR>(c);
    }
  }
  return t;
}

struct Handle {
  MSIHANDLE h = 0;
  ~Handle() {
    if (h) MsiCloseHandle(h);
  }
};

// A record field as text: the length query with no buffer, then the read
// into a buffer one unit longer. Returns the text read.
Text FieldText(MSIHANDLE record, UINT field, bool print) {
  DWORD length = 0;
  UINT rc = MsiRecordGetStringW(record, field, nullptr, &length);
  if (print) Put(" len(%u)=%lu", rc, static_cast<unsigned long>(length));
  Text text;
  if (rc != 0) return text;
  std::vector<WCHAR> buffer(static_cast<size_t>(length) + 1, WCHAR(0x55AA));
  DWORD size = length + 1;
  rc = MsiRecordGetStringW(record, field, buffer.data(), &size);
  size_t n = size <= length ? size : length;
  text.assign(buffer.data(), n);
  if (print) {
    Put(" str(%u)=%lu%s ", rc, static_cast<unsigned long>(size),
        buffer[n] == 0 ? "" : " unterminated");
    PutQuoted(text.data(), text.size());
  }
  return text;
}

uint64_t Fnv(uint64_t h, const unsigned char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
  return h;
}

void DumpStream(MSIHANDLE record, UINT field) {
  DWORD remaining = 0;
  UINT rc = MsiRecordReadStream(record, field, nullptr, &remaining);
  Put(" avail(%u)=%lu", rc, static_cast<unsigned long>(remaining));
  if (rc != 0) return;
  static const DWORD chunks[] = {1, 7, 61, 509, 4093, 65521};
  std::vector<char> buffer(65521);
  uint64_t hash = 0xCBF29CE484222325ull;
  uint64_t total = 0;
  unsigned reads = 0;
  for (unsigned i = 0;; ++i) {
    DWORD size = chunks[i % 6];
    rc = MsiRecordReadStream(record, field, buffer.data(), &size);
    ++reads;
    if (rc != 0) {
      Put(" read#%u(%u)", reads, rc);
      break;
    }
    if (size == 0) break;
    if (size > chunks[i % 6]) {
      Put(" overlong-read#%u=%lu", reads, static_cast<unsigned long>(size));
      break;
    }
    hash = Fnv(hash, reinterpret_cast<unsigned char*>(buffer.data()), size);
    total += size;
    if (total > (1ull << 32)) break;
  }
  Put(" bytes=%llu reads=%u fnv=%016llx", static_cast<unsigned long long>(total), reads,
      static_cast<unsigned long long>(hash));
  DWORD again = 16;
  rc = MsiRecordReadStream(record, field, buffer.data(), &again);
  Put(" again(%u)=%lu", rc, static_cast<unsigned long>(again));
}

// One line: the label, the call's result and, for a record it gave, the
// field count and the text of each field from `first` on.
void DumpTextRecord(const char* label, UINT rc, MSIHANDLE record, UINT first) {
  Put("  %s(%u)", label, rc);
  if (rc == 0) {
    UINT count = MsiRecordGetFieldCount(record);
    Put(" n=%u:", count);
    for (UINT i = first; i <= count && i < 4096; ++i) {
      out += ' ';
      Text t = FieldText(record, i, false);
      PutQuoted(t.data(), t.size());
    }
  }
  out += '\n';
}

void DumpColumnInfo(MSIHANDLE view, MSICOLINFO kind, const char* label) {
  Handle info;
  UINT rc = MsiViewGetColumnInfo(view, kind, &info.h);
  DumpTextRecord(label, rc, info.h, 1);
}

// The table's key columns: field 0 (the table's name) and each key's name.
void DumpKeys(MSIHANDLE db, const Text& name) {
  Handle keys;
  UINT rc = MsiDatabaseGetPrimaryKeysW(db, name.c_str(), &keys.h);
  DumpTextRecord("keys", rc, keys.h, 0);
}

void DumpTable(MSIHANDLE db, const Text& name) {
  Put("table ");
  PutQuoted(name.data(), name.size());
  Text query = Widen("SELECT * FROM ") + name;
  Handle view;
  UINT rc = MsiDatabaseOpenViewW(db, query.c_str(), &view.h);
  Put(" open(%u)", rc);
  if (rc != 0) {
    // The plain form fails for names outside the bare-identifier rules;
    // back-quoted, the table can still be read.
    query = Widen("SELECT * FROM `") + name + Widen("`");
    rc = MsiDatabaseOpenViewW(db, query.c_str(), &view.h);
    Put(" quoted(%u)", rc);
    if (rc != 0) {
      out += '\n';
      DumpKeys(db, name);
      return;
    }
  }
  out += '\n';
  DumpKeys(db, name);
  DumpColumnInfo(view.h, MSICOLINFO_NAMES, "names");
  DumpColumnInfo(view.h, MSICOLINFO_TYPES, "types");
  rc = MsiViewExecute(view.h, 0);
  Put("  execute(%u)\n", rc);
  if (rc != 0) return;
  unsigned rows = 0;
  for (;;) {
    Handle record;
    rc = MsiViewFetch(view.h, &record.h);
    if (rc != 0) break;
    ++rows;
    UINT count = MsiRecordGetFieldCount(record.h);
    Put("  row %u n=%u\n", rows, count);
    for (UINT f = 1; f <= count && f < 4096; ++f) {
      Put("   %u:", f);
      FieldText(record.h, f, true);
      Put(" int=%d size=%u", MsiRecordGetInteger(record.h, f), MsiRecordDataSize(record.h, f));
      DWORD probe = 0;
      UINT streamRc = MsiRecordReadStream(record.h, f, nullptr, &probe);
      if (streamRc == 0) {
        DumpStream(record.h, f);
      } else {
        Put(" stream(%u)", streamRc);
      }
      out += '\n';
    }
  }
  Put("  end(%u) rows=%u", rc, rows);
  // Close, execute again: the same number of rows comes back.
  UINT closeRc = MsiViewClose(view.h);
  UINT execRc = MsiViewExecute(view.h, 0);
  unsigned again = 0;
  for (; execRc == 0 && again <= rows; ++again) {
    Handle record;
    if (MsiViewFetch(view.h, &record.h) != 0) break;
  }
  Put(" close(%u) execute(%u) rows=%u close(%u)\n", closeRc, execRc, again, MsiViewClose(view.h));
}

void DumpSummary(MSIHANDLE db) {
  Handle summary;
  UINT rc = MsiGetSummaryInformationW(db, nullptr, 0, &summary.h);
  Put("summary(%u)", rc);
  if (rc != 0) {
    out += '\n';
    return;
  }
  UINT count = 0xDEAD;
  rc = MsiSummaryInfoGetPropertyCount(summary.h, &count);
  Put(" count(%u)=%u\n", rc, count);
  for (UINT id = 0; id <= 20; ++id) {
    UINT type = 0xDEAD;
    INT integer = 0x5A5A;
    FILETIME time{0x1111, 0x2222};
    DWORD length = 0;
    WCHAR probe[2] = {0x55AA, 0x55AA};
    rc = MsiSummaryInfoGetPropertyW(summary.h, id, &type, &integer, &time, probe, &length);
    Put(" %u: probe(%u) type=%u int=%d time=%08lx:%08lx len=%lu", id, rc, type, integer,
        static_cast<unsigned long>(time.dwHighDateTime),
        static_cast<unsigned long>(time.dwLowDateTime), static_cast<unsigned long>(length));
    if (type == kVtLpstr && (rc == 0 || rc == ERROR_MORE_DATA)) {
      std::vector<WCHAR> buffer(static_cast<size_t>(length) + 1, WCHAR(0x55AA));
      DWORD size = length + 1;
      rc = MsiSummaryInfoGetPropertyW(summary.h, id, nullptr, nullptr, nullptr, buffer.data(),
                                      &size);
      size_t n = size <= length ? size : length;
      Put(" text(%u)=%lu ", rc, static_cast<unsigned long>(size));
      PutQuoted(buffer.data(), n);
      // Too small by one: the answer and what lands in the buffer, read
      // into two buffers filled differently, so that a unit written is one
      // both hold, whatever the text.
      if (length >= 2) {
        std::vector<WCHAR> small(length + 1, WCHAR(0x55AA));
        std::vector<WCHAR> other(length + 1, WCHAR(0xAA55));
        size = length;
        rc = MsiSummaryInfoGetPropertyW(summary.h, id, nullptr, nullptr, nullptr, small.data(),
                                        &size);
        DWORD otherSize = length;
        MsiSummaryInfoGetPropertyW(summary.h, id, nullptr, nullptr, nullptr, other.data(),
                                   &otherSize);
        size_t end = 0;
        while (end < length && small[end] != 0 && small[end] == other[end]) ++end;
        Put(" small(%u)=%lu ", rc, static_cast<unsigned long>(size));
        PutQuoted(small.data(), end);
        Put(end < length && small[end] == 0 && other[end] == 0 ? " terminated" : " unterminated");
      }
    }
    out += '\n';
  }
}

int Dump(const char* path) {
  const char* base = strrchr(path, '/');
  Put("database %s\n", base ? base + 1 : path);
  Text widePath = Widen(path);
  Handle db;
  UINT rc = MsiOpenDatabaseW(widePath.c_str(), MSIDBOPEN_READONLY, &db.h);
  Put("open(%u)\n", rc);
  if (rc != 0) return 0;
  DumpSummary(db.h);

  std::vector<Text> names;
  {
    Handle view;
    rc = MsiDatabaseOpenViewW(db.h, Widen("SELECT * FROM _Tables").c_str(), &view.h);
    if (rc == 0) rc = MsiViewExecute(view.h, 0);
    while (rc == 0) {
      Handle record;
      if (MsiViewFetch(view.h, &record.h) != 0) break;
      names.push_back(FieldText(record.h, 1, false));
      if (names.size() > 100000) break;
    }
  }
  Put("tables %u\n", static_cast<unsigned>(names.size()));
  for (const char* v : {"_Streams", "_Storages", "_Tables", "_Columns"}) names.push_back(Widen(v));
  for (const Text& name : names) DumpTable(db.h, name);
  // Names no table has: a table's name in another case, and none at all.
  if (!names.empty()) {
    Text other = names.front();
    for (WCHAR& c : other) {
      if (c >= 'a' && c <= 'z') c = static_cast<WCHAR>(c - 'a' + 'A');
    }
    for (const Text& name : {other, Text()}) {
      Put("absent ");
      PutQuoted(name.data(), name.size());
      out += '\n';
      DumpKeys(db.h, name);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  if (argc < 2) {
    fprintf(stderr, "usage: msidump DATABASE...\n");
    return 2;
  }
  int result = 0;
  for (int i = 1; i < argc; ++i) {
    try {
      result |= Dump(argv[i]);
    } catch (const std::exception& e) {
      Put("exception %s\n", e.what());
      result = 1;
    } catch (...) {
      Put("exception\n");
      result = 1;
    }
    Flush();
    fflush(stdout);
  }
  return result;
}
