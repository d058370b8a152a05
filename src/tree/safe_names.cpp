// Safe names: what a name must look like for both platforms' file systems
// to create it as it is, one file per name.
//
// Per path segment, in this order: control characters, < > : " | ? * and
// halves of surrogate pairs without their partner become underscores; the
// segment is cut to 255 UTF-16 units and 255 bytes of UTF-8 (the longest
// names NTFS and Linux file systems keep), never inside a pair; full stops
// and spaces that end it become underscores (Windows drops them); an empty
// segment becomes "_"; a device name before the first full stop (CON,
// nul.txt) gets an underscore behind it. The whole name is then cut to 259
// units, again never inside a pair, and the segment the cut ends in is
// mended once more.
#include "tree/tree.h"

namespace {

constexpr size_t kMaxNameChars = kNameCapacity - 1;

bool IsHigh(WCHAR c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(WCHAR c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Characters no file name may hold on Windows: control characters and
// < > : " | ? * (a colon would open a stream of another file).
bool IsRefusedInNames(WCHAR c) {
  switch (c) {
    case '<':
    case '>':
    case ':':
    case '"':
    case '|':
    case '?':
    case '*':
      return true;
    default:
      return c < 0x20;
  }
}

WCHAR FoldAscii(WCHAR c) {
  return c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - 'a' + 'A') : c;
}

// The first n units of text are `name` (upper case ASCII), in any case.
bool StartsAs(const WCHAR* text, const char* name, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (FoldAscii(text[i]) != static_cast<WCHAR>(name[i])) return false;
  }
  return true;
}

// The names Windows opens as devices whatever the folder and extension:
// CON, PRN, AUX, NUL, COM0-9 and LPT0-9 (also with the superscript digits
// 1, 2 and 3), CONIN$ and CONOUT$; compared without regard to case.
bool IsDeviceName(const WCHAR* text, size_t length) {
  switch (length) {
    case 3:
      return StartsAs(text, "CON", 3) || StartsAs(text, "PRN", 3) ||
             StartsAs(text, "AUX", 3) || StartsAs(text, "NUL", 3);
    case 4: {
      const WCHAR d = text[3];
      const bool digit = (d >= '0' && d <= '9') || d == 0xB9 || d == 0xB2 || d == 0xB3;
      return digit && (StartsAs(text, "COM", 3) || StartsAs(text, "LPT", 3));
    }
    case 6:
      return StartsAs(text, "CONIN$", 6);
    case 7:
      return StartsAs(text, "CONOUT$", 7);
    default:
      return false;
  }
}

size_t Utf8Bytes(WCHAR c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : 3; }

}  // namespace

size_t FitSegment(const WCHAR* text, size_t length, size_t units, size_t bytes) {
  size_t n = 0;
  size_t used = 0;
  while (n < length) {
    const bool pair = IsHigh(text[n]) && n + 1 < length && IsLow(text[n + 1]);
    const size_t width = pair ? 2 : 1;
    const size_t cost = pair ? 4 : Utf8Bytes(text[n]);
    if (n + width > units || used + cost > bytes) break;
    n += width;
    used += cost;
  }
  return n;
}

namespace {

void MendTrailing(WCHAR* segment, size_t length) {
  for (size_t i = length; i > 0 && (segment[i - 1] == '.' || segment[i - 1] == ' '); --i) {
    segment[i - 1] = '_';
  }
}

// The part of a segment Windows compares with the device names: up to the
// first full stop, without the spaces that end it.
bool HasDeviceName(const WCHAR* segment, size_t length, size_t* partEnd) {
  size_t p = 0;
  while (p < length && segment[p] != '.') ++p;
  *partEnd = p;
  size_t q = p;
  while (q > 0 && segment[q - 1] == ' ') --q;
  return IsDeviceName(segment, q);
}

// Mends the segment in[0, length) into out and returns its new length (at
// most length + 1). An open segment is the part of a name that a number
// and an extension will follow: it is neither cut nor mended at its end,
// and only a device name that a full stop ends is changed.
size_t MendSegment(const WCHAR* in, size_t length, bool open, WCHAR* out) {
  for (size_t i = 0; i < length; ++i) {
    WCHAR c = in[i];
    if (IsRefusedInNames(c)) c = '_';
    if (IsHigh(c) && !(i + 1 < length && IsLow(in[i + 1]))) c = '_';
    if (IsLow(c) && !(i > 0 && IsHigh(in[i - 1]))) c = '_';
    out[i] = c;
  }
  size_t n = length;
  if (!open) {
    n = FitSegment(out, n, kSegmentUnits, kSegmentBytes);
    MendTrailing(out, n);
    if (n == 0) out[n++] = '_';
  }
  size_t part = 0;
  if (HasDeviceName(out, n, &part) && (!open || part < n)) {
    for (size_t i = n; i > part; --i) out[i] = out[i - 1];
    out[part] = '_';
    ++n;
    if (!open) {
      n = FitSegment(out, n, kSegmentUnits, kSegmentBytes);
      MendTrailing(out, n);
    }
  }
  return n;
}

bool IsSeparator(WCHAR c) { return c == '\\' || c == '/'; }

// Mends every segment of text into out (kNameWorkUnits); returns the length.
size_t MendSegments(const WCHAR* text, bool openEnd, WCHAR* out) {
  size_t n = 0;
  size_t start = 0;
  for (size_t i = 0;; ++i) {
    const WCHAR c = text[i];
    if (c != 0 && !IsSeparator(c)) continue;
    const size_t length = i - start;
    // Bounded by the work buffer: what lies beyond it cannot survive the cut.
    if (n + length + 2 >= kNameWorkUnits) break;
    n += MendSegment(text + start, length, openEnd && c == 0, out + n);
    if (c == 0) break;
    out[n++] = c;
    start = i + 1;
  }
  return n;
}

// Cuts a mended name to 259 units, between two characters, and mends the
// segment the cut ends in; returns the length.
size_t CutName(WCHAR* name, size_t n) {
  if (n <= kMaxNameChars) return n;
  n = kMaxNameChars;
  if (IsHigh(name[n - 1]) && IsLow(name[n])) --n;
  size_t start = n;
  while (start > 0 && !IsSeparator(name[start - 1])) --start;
  if (start == n) {
    // Cut just after a separator: the name ends with the folder.
    return n - 1;
  }
  MendTrailing(name + start, n - start);
  size_t part = 0;
  if (HasDeviceName(name + start, n - start, &part)) name[start + part - 1] = '_';
  return n;
}

}  // namespace

void MakeSafeName(WCHAR* text) {
  WCHAR out[kNameWorkUnits];
  size_t n = CutName(out, MendSegments(text, false, out));
  for (size_t i = 0; i < n; ++i) text[i] = out[i];
  text[n] = 0;
}

size_t MakeSafeHead(const WCHAR* text, WCHAR* out) {
  const size_t n = MendSegments(text, true, out);
  out[n] = 0;
  return n;
}
