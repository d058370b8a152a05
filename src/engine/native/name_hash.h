// Hashes of names for the engine's open-addressing tables (directory
// entries, pool strings). The seed is drawn once per process, so that no
// file can be made to put its names on one probe path and slow every
// lookup to a walk.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <random>

namespace msiarc {

inline uint64_t NameHashSeed() {
  static const uint64_t seed = [] {
    uint64_t s = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    try {
      std::random_device device;
      s ^= (static_cast<uint64_t>(device()) << 32) | device();
    } catch (...) {  // no source of randomness: the clock alone
    }
    return s | 1;
  }();
  return seed;
}

// FNV-1a over UTF-16 units, from the process's seed. Units is anything
// indexable by position.
template <typename Units>
uint64_t NameHash(const Units& text, size_t length) {
  uint64_t h = NameHashSeed();
  for (size_t i = 0; i < length; ++i) h = (h ^ static_cast<uint16_t>(text[i])) * 0x100000001B3ull;
  return h;
}

// The slot of a hash in a table of 2^bits slots: its mixed high bits.
inline size_t NameSlot(uint64_t hash, unsigned bits) {
  return static_cast<size_t>((hash * 0x9E3779B97F4A7C15ull) >> (64 - bits));
}

}  // namespace msiarc
