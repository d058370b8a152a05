// Deterministic damaged variants of a database file: truncations, byte
// flips in each structure of the compound file (header, allocation tables,
// directory, string pool, table streams, summary stream), chains that loop
// and sizes that lie. The structures are located by a small reader of the
// compound file format that trusts nothing it reads.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace e2e {

using Bytes = std::vector<uint8_t>;

struct Variant {
  std::string label;  // "truncate 4096", "fat loop stream _StringPool", ...
  Bytes bytes;
};

// splitmix64: the same sequence for the same seed on every platform.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint64_t Below(uint64_t n) { return n == 0 ? 0 : Next() % n; }

 private:
  uint64_t state_;
};

inline uint64_t HashName(const std::string& text) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
  return h;
}

inline uint32_t Get32(const Bytes& b, size_t at) {
  if (at + 4 > b.size()) return 0xFFFFFFFFu;
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}
inline uint16_t Get16(const Bytes& b, size_t at) {
  if (at + 2 > b.size()) return 0xFFFF;
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
inline void Put32(Bytes& b, size_t at, uint32_t v) {
  if (at + 4 > b.size()) return;
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Where things are in one compound file.
struct Layout {
  bool valid = false;
  uint32_t sectorSize = 512;
  std::vector<size_t> fatSectors;   // file offsets
  std::vector<size_t> difatSectors;
  std::vector<size_t> dirSectors;
  std::vector<size_t> miniFatSectors;
  struct Stream {
    std::string name;        // decoded: "_StringPool", "\x05SummaryInformation"
    size_t dirEntry = 0;     // file offset of its 128-byte directory entry
    bool mini = false;
    uint32_t firstSector = 0;
    std::vector<size_t> pieces;  // file offset of each sector or mini sector
    uint32_t pieceSize = 0;
  };
  std::vector<Stream> streams;
  std::vector<uint32_t> fat;
  // FAT index -> file offset of its 4-byte slot, for chain damage.
  size_t FatSlot(uint32_t sector) const {
    const size_t perSector = sectorSize / 4;
    if (sector / perSector >= fatSectors.size()) return SIZE_MAX;
    return fatSectors[sector / perSector] + (sector % perSector) * 4;
  }
  std::vector<size_t> miniFatSlots;  // file offset of mini FAT slot i
};

// Stream names of installer databases are packed two characters to a
// UTF-16 unit; decoded back to the table or stream name.
inline std::string DecodeStreamName(const Bytes& b, size_t at, size_t units) {
  static const char kChars[] =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._";
  std::string out;
  for (size_t i = 0; i < units; ++i) {
    const uint16_t c = Get16(b, at + 2 * i);
    if (c == 0) break;
    if (c >= 0x3800 && c < 0x4800) {
      out += kChars[(c - 0x3800) & 0x3F];
      out += kChars[((c - 0x3800) >> 6) & 0x3F];
    } else if (c >= 0x4800 && c < 0x4840) {
      out += kChars[c - 0x4800];
    } else if (c == 0x4840) {
      // table prefix: dropped
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += '?';
    }
  }
  return out;
}

inline Layout ReadLayout(const Bytes& b) {
  Layout l;
  static const uint8_t kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0,
                                    0xA1, 0xB1, 0x1A, 0xE1};
  if (b.size() < 512 || std::memcmp(b.data(), kMagic, 8) != 0) return l;
  const uint16_t shift = Get16(b, 30);
  if (shift != 9 && shift != 12) return l;
  l.sectorSize = 1u << shift;
  const uint32_t miniSize = 1u << (Get16(b, 32) & 15);
  const uint32_t cutoff = Get32(b, 56);
  const size_t sectors = b.size() / l.sectorSize;  // an upper bound
  auto offset = [&](uint32_t s) -> size_t {
    if (s >= sectors) return SIZE_MAX;
    const size_t at = (size_t{s} + 1) * l.sectorSize;
    return at + l.sectorSize <= b.size() ? at : SIZE_MAX;
  };
  // FAT sectors from the header's DIFAT, then the DIFAT chain.
  std::vector<uint32_t> fatIds;
  for (int i = 0; i < 109; ++i) {
    const uint32_t s = Get32(b, 76 + 4 * i);
    if (s < 0xFFFFFFFAu) fatIds.push_back(s);
  }
  uint32_t difat = Get32(b, 68);
  for (int guard = 0; difat < 0xFFFFFFFAu && guard < 64; ++guard) {
    const size_t at = offset(difat);
    if (at == SIZE_MAX) break;
    l.difatSectors.push_back(at);
    for (uint32_t i = 0; i + 1 < l.sectorSize / 4; ++i) {
      const uint32_t s = Get32(b, at + 4 * i);
      if (s < 0xFFFFFFFAu) fatIds.push_back(s);
    }
    difat = Get32(b, at + l.sectorSize - 4);
  }
  for (uint32_t s : fatIds) {
    const size_t at = offset(s);
    if (at == SIZE_MAX) continue;
    l.fatSectors.push_back(at);
    for (uint32_t i = 0; i < l.sectorSize / 4; ++i) {
      l.fat.push_back(Get32(b, at + 4 * i));
    }
  }
  auto chain = [&](uint32_t start, const std::vector<uint32_t>& table) {
    std::vector<uint32_t> out;
    std::vector<bool> seen(table.size(), false);
    while (start < table.size() && !seen[start] && out.size() < table.size()) {
      seen[start] = true;
      out.push_back(start);
      start = table[start];
    }
    return out;
  };
  for (uint32_t s : chain(Get32(b, 48), l.fat)) {
    if (offset(s) != SIZE_MAX) l.dirSectors.push_back(offset(s));
  }
  std::vector<uint32_t> miniFat;
  for (uint32_t s : chain(Get32(b, 60), l.fat)) {
    const size_t at = offset(s);
    if (at == SIZE_MAX) continue;
    l.miniFatSectors.push_back(at);
    for (uint32_t i = 0; i < l.sectorSize / 4; ++i) {
      miniFat.push_back(Get32(b, at + 4 * i));
      l.miniFatSlots.push_back(at + 4 * i);
    }
  }
  std::vector<size_t> miniStream;  // offsets of the root's sectors
  for (size_t d = 0; d < l.dirSectors.size(); ++d) {
    for (uint32_t e = 0; e < l.sectorSize / 128; ++e) {
      const size_t at = l.dirSectors[d] + e * 128;
      const uint8_t type = b[at + 66];
      const uint16_t nameBytes = Get16(b, at + 64);
      if (type != 2 && type != 5) continue;
      const uint32_t start = Get32(b, at + 116);
      const uint32_t size = Get32(b, at + 120);
      if (type == 5) {
        for (uint32_t s : chain(start, l.fat)) {
          if (offset(s) != SIZE_MAX) miniStream.push_back(offset(s));
        }
        continue;
      }
      Layout::Stream st;
      st.name = DecodeStreamName(b, at, nameBytes > 64 ? 32 : nameBytes / 2);
      st.dirEntry = at;
      st.firstSector = start;
      st.mini = size < cutoff;
      if (st.mini) {
        st.pieceSize = miniSize;
        for (uint32_t m : chain(start, miniFat)) {
          const size_t byte = size_t{m} * miniSize;
          const size_t sector = byte / l.sectorSize;
          if (sector < miniStream.size()) {
            st.pieces.push_back(miniStream[sector] + byte % l.sectorSize);
          }
        }
      } else {
        st.pieceSize = l.sectorSize;
        for (uint32_t s : chain(start, l.fat)) {
          if (offset(s) != SIZE_MAX) st.pieces.push_back(offset(s));
        }
      }
      l.streams.push_back(st);
    }
  }
  l.valid = true;
  return l;
}

// All variants of one database, in a fixed order. The seed is the name.
inline std::vector<Variant> MakeVariants(const std::string& name,
                                         const Bytes& original) {
  std::vector<Variant> out;
  Random random(HashName(name));
  const size_t size = original.size();
  auto add = [&](std::string label, Bytes bytes) {
    out.push_back({std::move(label), std::move(bytes)});
  };
  auto flipped = [&](size_t at, uint8_t mask) {
    Bytes b = original;
    if (at < b.size()) b[at] ^= mask == 0 ? 0xFF : mask;
    return b;
  };
  auto with32 = [&](size_t at, uint32_t value) {
    Bytes b = original;
    Put32(b, at, value);
    return b;
  };

  // Truncations: the first bytes, each sector boundary of the first 16,
  // fractions, the last bytes.
  std::vector<size_t> lengths = {0, 1, 8, 76, 511, 512, 513, 1000};
  for (size_t k = 2; k <= 16; ++k) lengths.push_back(k * 512);
  for (size_t k = 1; k < 8; ++k) lengths.push_back(size * k / 8);
  if (size > 0) lengths.push_back(size - 1);
  if (size > 512) lengths.push_back(size - 512);
  if (size > 4096) lengths.push_back(size - 4096);
  std::vector<bool> done;
  for (size_t n : lengths) {
    if (n >= size) continue;
    bool repeat = false;
    for (const Variant& v : out) repeat = repeat || v.bytes.size() == n;
    if (repeat) continue;
    add("truncate " + std::to_string(n),
        Bytes(original.begin(), original.begin() + n));
  }

  const Layout layout = ReadLayout(original);
  // Header: single byte flips at random places, lying fields.
  for (int i = 0; i < 8; ++i) {
    const size_t at = random.Below(512);
    add("header flip " + std::to_string(at), flipped(at, 1u << random.Below(8)));
  }
  const uint32_t lies[] = {0xFFFFFFFFu, 0xFFFFFFFEu, 0x7FFFFFFFu, 0x10000u,
                           static_cast<uint32_t>(size / 512)};
  const size_t fields[] = {44, 48, 56, 60, 64, 68, 72, 76};
  for (size_t field : fields) {
    for (uint32_t lie : lies) {
      add("header field " + std::to_string(field) + " = " + std::to_string(lie),
          with32(field, lie));
    }
  }
  add("sector shift 7", [&] { Bytes b = original; b[30] = 7; return b; }());
  add("sector shift 20", [&] { Bytes b = original; b[30] = 20; return b; }());
  add("mini shift 15", [&] { Bytes b = original; b[32] = 15; return b; }());
  if (!layout.valid) return out;

  // Allocation tables and the directory: random flips.
  auto flipsIn = [&](const char* what, const std::vector<size_t>& sectors,
                     size_t span, int count) {
    for (int i = 0; i < count && !sectors.empty(); ++i) {
      const size_t at = sectors[random.Below(sectors.size())] +
                        random.Below(span);
      add(std::string(what) + " flip " + std::to_string(at),
          flipped(at, 1u << random.Below(8)));
    }
  };
  flipsIn("fat", layout.fatSectors, layout.sectorSize, 6);
  flipsIn("difat", layout.difatSectors, layout.sectorSize, 2);
  flipsIn("minifat", layout.miniFatSectors, layout.sectorSize, 4);
  flipsIn("directory", layout.dirSectors, layout.sectorSize, 8);

  // Per stream: chains that loop, sizes that lie, bytes flipped inside.
  for (const Layout::Stream& st : layout.streams) {
    const std::string who = " stream " + (st.name[0] == 5 ? "SummaryInformation" : st.name);
    const size_t entry = st.dirEntry;
    const uint32_t realSize = Get32(original, entry + 120);
    add("size huge" + who, with32(entry + 120, 0xFFFFFFFFu));
    add("size doubled" + who, with32(entry + 120, realSize * 2 + 1));
    add("size across the mini cutoff" + who,
        with32(entry + 120, st.mini ? 4096 : 4095));
    add("start sector out of range" + who, with32(entry + 116, 0x7FFFFFF0u));
    add("start sector end of chain" + who, with32(entry + 116, 0xFFFFFFFEu));
    add("sibling loop" + who,
        with32(entry + 68, static_cast<uint32_t>(
                               (entry - layout.dirSectors[0]) / 128)));
    if (st.pieces.size() >= 1) {
      // The chain's last link points back at its first sector, or at itself.
      if (st.mini) {
        uint32_t last = st.firstSector;
        for (size_t i = 1; i < st.pieces.size(); ++i) {
          last = Get32(original, layout.miniFatSlots.size() > last
                                     ? layout.miniFatSlots[last]
                                     : SIZE_MAX);
        }
        if (last < layout.miniFatSlots.size()) {
          add("minifat loop" + who,
              with32(layout.miniFatSlots[last], st.firstSector));
        }
      } else {
        uint32_t last = st.firstSector;
        for (size_t i = 1; i < st.pieces.size() && last < layout.fat.size(); ++i) {
          last = layout.fat[last];
        }
        const size_t slot = layout.FatSlot(last);
        if (slot != SIZE_MAX) {
          add("fat loop" + who, with32(slot, st.firstSector));
          add("fat self loop" + who, with32(layout.FatSlot(st.firstSector), st.firstSector));
          add("fat free link" + who, with32(layout.FatSlot(st.firstSector), 0xFFFFFFFFu));
        }
      }
    }
    // Bytes inside the stream: string pool and summary get more.
    const bool rich = st.name == "_StringPool" || st.name == "_StringData" ||
                      st.name[0] == 5 || st.name == "_Tables" ||
                      st.name == "_Columns";
    const int flips = rich ? 6 : 2;
    for (int i = 0; i < flips && !st.pieces.empty(); ++i) {
      const size_t piece = random.Below(st.pieces.size());
      const size_t span = std::min<size_t>(st.pieceSize, realSize);
      const size_t at = st.pieces[piece] + random.Below(span);
      add("data flip" + who + " at " + std::to_string(at),
          flipped(at, rich && i % 2 ? 0xFF : 1u << random.Below(8)));
    }
  }
  return out;
}

}  // namespace e2e
