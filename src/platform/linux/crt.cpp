// The C runtime's wide-text calls for 16-bit text, and CharLowerW.
#include <cerrno>
#include <cstdint>

#include "platform/win32.h"

namespace {

// Output of the formatter: writes while there is room and counts the rest.
class Sink {
 public:
  Sink(WCHAR* out, size_t count) : out_(out), count_(count) {}
  void Put(WCHAR unit) {
    if (written_ < count_) out_[written_] = unit;
    ++written_;
  }
  void Repeat(WCHAR unit, size_t times) {
    for (size_t i = 0; i < times; ++i) Put(unit);
  }
  size_t written() const { return written_; }

 private:
  WCHAR* out_;
  size_t count_;
  size_t written_ = 0;
};

struct Spec {
  bool left = false;
  bool zero = false;
  bool plus = false;
  bool space = false;
  bool alternate = false;
  int width = 0;
  int precision = -1;
};

void PadAndPut(Sink& sink, const Spec& spec, const WCHAR* prefix,
               size_t prefixUnits, const WCHAR* body, size_t bodyUnits,
               size_t zeros) {
  const size_t total = prefixUnits + zeros + bodyUnits;
  const size_t pad =
      spec.width > 0 && static_cast<size_t>(spec.width) > total
          ? static_cast<size_t>(spec.width) - total
          : 0;
  if (!spec.left) sink.Repeat(u' ', pad);
  for (size_t i = 0; i < prefixUnits; ++i) sink.Put(prefix[i]);
  sink.Repeat(u'0', zeros);
  for (size_t i = 0; i < bodyUnits; ++i) sink.Put(body[i]);
  if (spec.left) sink.Repeat(u' ', pad);
}

void PutInteger(Sink& sink, Spec spec, bool negative, uint64_t magnitude,
                unsigned base, bool upper, bool isSigned) {
  WCHAR digits[24];
  size_t n = 0;
  const char* alphabet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  while (magnitude != 0) {
    digits[n++] = static_cast<WCHAR>(alphabet[magnitude % base]);
    magnitude /= base;
  }
  // An explicit precision of 0 prints nothing for the value 0.
  if (n == 0 && spec.precision != 0) digits[n++] = u'0';
  WCHAR body[24];
  for (size_t i = 0; i < n; ++i) body[i] = digits[n - 1 - i];

  WCHAR prefix[2];
  size_t prefixUnits = 0;
  if (isSigned) {
    if (negative) {
      prefix[prefixUnits++] = u'-';
    } else if (spec.plus) {
      prefix[prefixUnits++] = u'+';
    } else if (spec.space) {
      prefix[prefixUnits++] = u' ';
    }
  }
  if (spec.alternate && base == 16 && n > 0 && body[0] != u'0') {
    prefix[prefixUnits++] = u'0';
    prefix[prefixUnits++] = upper ? u'X' : u'x';
  }
  size_t zeros = 0;
  if (spec.precision >= 0) {
    if (static_cast<size_t>(spec.precision) > n) zeros = spec.precision - n;
  } else if (spec.zero && !spec.left && spec.width > 0 &&
             static_cast<size_t>(spec.width) > n + prefixUnits) {
    zeros = spec.width - n - prefixUnits;
  }
  PadAndPut(sink, spec, prefix, prefixUnits, body, n, zeros);
}

WCHAR FoldAscii(WCHAR c) {
  return c >= u'A' && c <= u'Z' ? static_cast<WCHAR>(c + 32) : c;
}

// Lower case of one UTF-16 unit: the Latin, Greek, Cyrillic and Armenian
// blocks and the full-width Latin letters.
WCHAR LowerUnit(WCHAR c) {
  if (c < 0x80) return FoldAscii(c);
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130) return u'i';
    if (c == 0x178) return 0xFF;
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) ||
        (c >= 0x14A && c <= 0x177)) {
      return (c & 1) == 0 ? c + 1 : c;
    }
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
      return (c & 1) == 1 ? c + 1 : c;
    }
    return c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 0x25;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 0x3F;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) ||
      (c >= 0x4D0 && c <= 0x52F)) {
    return (c & 1) == 0 ? c + 1 : c;
  }
  if (c == 0x4C0) return 0x4CF;
  if (c >= 0x4C1 && c <= 0x4CE) return (c & 1) == 1 ? c + 1 : c;
  if (c >= 0x531 && c <= 0x556) return c + 0x30;
  if ((c >= 0x1E00 && c <= 0x1E95) || (c >= 0x1EA0 && c <= 0x1EFF)) {
    return (c & 1) == 0 ? c + 1 : c;
  }
  if (c >= 0xFF21 && c <= 0xFF3A) return c + 0x20;
  return c;
}

bool IsSpace(WCHAR c) {
  return c == u' ' || (c >= u'\t' && c <= u'\r');
}

int DigitValue(WCHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'z') return c - u'a' + 10;
  if (c >= u'A' && c <= u'Z') return c - u'A' + 10;
  return 99;
}

}  // namespace

int _vsnwprintf(WCHAR* out, size_t count, const WCHAR* format,
                va_list args) {
  if (format == nullptr || (out == nullptr && count != 0)) return -1;
  Sink sink(out, count);
  for (const WCHAR* p = format; *p != 0; ++p) {
    if (*p != u'%') {
      sink.Put(*p);
      continue;
    }
    ++p;
    Spec spec;
    for (;; ++p) {
      if (*p == u'-') spec.left = true;
      else if (*p == u'0') spec.zero = true;
      else if (*p == u'+') spec.plus = true;
      else if (*p == u' ') spec.space = true;
      else if (*p == u'#') spec.alternate = true;
      else break;
    }
    if (*p == u'*') {
      spec.width = va_arg(args, int);
      if (spec.width < 0) {
        spec.left = true;
        spec.width = -spec.width;
      }
      ++p;
    } else {
      while (*p >= u'0' && *p <= u'9') {
        if (spec.width > 100000) return -1;
        spec.width = spec.width * 10 + (*p++ - u'0');
      }
    }
    if (*p == u'.') {
      ++p;
      spec.precision = 0;
      if (*p == u'*') {
        spec.precision = va_arg(args, int);
        if (spec.precision < 0) spec.precision = -1;
        ++p;
      } else {
        while (*p >= u'0' && *p <= u'9') {
          if (spec.precision > 100000) return -1;
          spec.precision = spec.precision * 10 + (*p++ - u'0');
        }
      }
    }
    // Size prefixes: l and w (32-bit integers, wide text, as on Windows),
    // h (narrow text), ll and I64 (64-bit integers).
    bool narrow = false, wide64 = false;
    if (*p == u'l' && p[1] == u'l') {
      wide64 = true;
      p += 2;
    } else if (*p == u'I' && p[1] == u'6' && p[2] == u'4') {
      wide64 = true;
      p += 3;
    } else if (*p == u'l' || *p == u'w') {
      ++p;
    } else if (*p == u'h') {
      narrow = true;
      ++p;
    }
    switch (*p) {
      case u'%':
        sink.Put(u'%');
        break;
      case u'c': {
        const WCHAR c = narrow ? static_cast<unsigned char>(va_arg(args, int))
                               : static_cast<WCHAR>(va_arg(args, int));
        PadAndPut(sink, spec, nullptr, 0, &c, 1, 0);
        break;
      }
      case u's': {
        if (narrow) {
          const char* text = va_arg(args, const char*);
          if (text == nullptr) text = "(null)";
          size_t n = 0;
          while (text[n] != 0 &&
                 (spec.precision < 0 || n < static_cast<size_t>(spec.precision))) {
            ++n;
          }
          const size_t pad = spec.width > 0 && static_cast<size_t>(spec.width) > n
                                 ? spec.width - n : 0;
          if (!spec.left) sink.Repeat(u' ', pad);
          for (size_t i = 0; i < n; ++i) {
            sink.Put(static_cast<unsigned char>(text[i]));
          }
          if (spec.left) sink.Repeat(u' ', pad);
          break;
        }
        const WCHAR* text = va_arg(args, const WCHAR*);
        if (text == nullptr) text = u"(null)";
        size_t n = 0;
        while (text[n] != 0 &&
               (spec.precision < 0 || n < static_cast<size_t>(spec.precision))) {
          ++n;
        }
        PadAndPut(sink, spec, nullptr, 0, text, n, 0);
        break;
      }
      case u'd':
      case u'i': {
        const int64_t value =
            wide64 ? va_arg(args, long long) : va_arg(args, int);
        const uint64_t magnitude =
            value < 0 ? 0 - static_cast<uint64_t>(value)
                      : static_cast<uint64_t>(value);
        PutInteger(sink, spec, value < 0, magnitude, 10, false, true);
        break;
      }
      case u'u':
      case u'x':
      case u'X': {
        const uint64_t value = wide64 ? va_arg(args, unsigned long long)
                                      : va_arg(args, unsigned int);
        PutInteger(sink, spec, false, value, *p == u'u' ? 10 : 16,
                   *p == u'X', false);
        break;
      }
      default:
        return -1;  // a conversion this formatter does not know
    }
  }
  const size_t written = sink.written();
  // As msvcrt: a terminator only when there is room for it; a negative
  // result when the text did not fit.
  if (written > count || written > 0x7FFFFFFF) return -1;
  if (written < count) out[written] = 0;
  return static_cast<int>(written);
}

int _wcsicmp(const WCHAR* a, const WCHAR* b) {
  return _wcsnicmp(a, b, SIZE_MAX);
}

int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const WCHAR x = FoldAscii(a[i]);
    const WCHAR y = FoldAscii(b[i]);
    if (x != y || x == 0) return static_cast<int>(x) - static_cast<int>(y);
  }
  return 0;
}

WCHAR* wcschr(const WCHAR* text, WCHAR c) {
  for (;; ++text) {
    if (*text == c) return const_cast<WCHAR*>(text);
    if (*text == 0) return nullptr;
  }
}

size_t wcslen(const WCHAR* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// As msvcrt, whose unsigned long has 32 bits: values beyond 0xFFFFFFFF
// give 0xFFFFFFFF with ERANGE, and a minus sign negates modulo 2^32.
unsigned long wcstoul(const WCHAR* text, WCHAR** end, int base) {
  const WCHAR* p = text;
  if (end != nullptr) *end = const_cast<WCHAR*>(text);
  if (base < 0 || base == 1 || base > 36) {
    errno = EINVAL;
    return 0;
  }
  while (IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == u'-' || *p == u'+') negative = *p++ == u'-';
  if ((base == 0 || base == 16) && p[0] == u'0' &&
      (p[1] == u'x' || p[1] == u'X') && DigitValue(p[2]) < 16) {
    p += 2;
    base = 16;
  } else if (base == 0) {
    base = p[0] == u'0' ? 8 : 10;
  }
  const uint64_t kMax = 0xFFFFFFFFu;
  uint64_t value = 0;
  bool overflow = false, any = false;
  for (; DigitValue(*p) < base; ++p) {
    any = true;
    value = value * base + DigitValue(*p);
    if (value > kMax) {
      overflow = true;
      value = kMax;
    }
  }
  if (!any) return 0;
  if (end != nullptr) *end = const_cast<WCHAR*>(p);
  if (overflow) {
    errno = ERANGE;
    return static_cast<unsigned long>(kMax);
  }
  const uint32_t result = static_cast<uint32_t>(value);
  return negative ? static_cast<uint32_t>(0u - result) : result;
}

LPWSTR CharLowerW(LPWSTR text) {
  const uintptr_t bits = reinterpret_cast<uintptr_t>(text);
  if ((bits >> 16) == 0) {
    // The single-character form: the character in the low word.
    return reinterpret_cast<LPWSTR>(
        static_cast<uintptr_t>(LowerUnit(static_cast<WCHAR>(bits))));
  }
  for (WCHAR* p = text; *p != 0; ++p) *p = LowerUnit(*p);
  return text;
}
