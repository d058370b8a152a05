// Code-page conversion into holders that keep short strings inline.
#include <cstdlib>
#include <type_traits>

#include "text/text.h"

namespace {

// The steps shared by both directions: measure, pick inline storage or a
// heap block of n + 1 units, convert, and put a second terminator behind.
// Convert(out, capacity) measures when out is null.
template <typename Holder, typename Convert>
Holder* FillHolder(Holder* holder, bool haveSource, Convert convert) {
  holder->text = nullptr;
  holder->length = 0;
  if (!haveSource) return holder;
  holder->inlineText[0] = 0;
  holder->text = holder->inlineText;
  const int n = convert(nullptr, 0);
  holder->length = n;
  if (n <= 0) {
    holder->length = 0;
    return holder;
  }
  using Unit = std::remove_reference_t<decltype(holder->inlineText[0])>;
  const size_t units = static_cast<size_t>(n) + 1;
  if (units > kInlineUnits) {
    auto* block = static_cast<Unit*>(std::malloc(units * sizeof(Unit)));
    if (block == nullptr) {
      // No memory: an empty string, as for text that cannot be converted.
      holder->length = 0;
      return holder;
    }
    holder->text = block;
  }
  const int m = convert(holder->text, static_cast<int>(units));
  // m is n (terminator included) on success, 0 on failure: either way the
  // index lies inside the n + 1 units.
  holder->text[m > 0 && m <= n ? m : 0] = 0;
  return holder;
}

template <typename Holder>
void FreeHolder(Holder* holder) {
  if (holder->text != nullptr && holder->text != holder->inlineText) {
    std::free(holder->text);
  }
  holder->text = nullptr;
  holder->length = 0;
}

}  // namespace

WideBuffer* MultiByteToWideBuffer(WideBuffer* holder, UINT codePage,
                                  const char* source) {
  return FillHolder(holder, source != nullptr, [&](WCHAR* out, int capacity) {
    return MultiByteToWideChar(codePage, 0, source, -1, out, capacity);
  });
}

WideBuffer* AnsiToWide(WideBuffer* holder, const char* source) {
  return MultiByteToWideBuffer(holder, CP_ACP, source);
}

void FreeWideBuffer(WideBuffer* holder) { FreeHolder(holder); }

NarrowBuffer* WideToAnsi(NarrowBuffer* holder, const WCHAR* source) {
  return FillHolder(holder, source != nullptr, [&](char* out, int capacity) {
    return WideCharToMultiByte(CP_ACP, 0, source, -1, out, capacity, nullptr,
                               nullptr);
  });
}

void FreeNarrowBuffer(NarrowBuffer* holder) { FreeHolder(holder); }
