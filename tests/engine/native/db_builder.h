// Builds small compound files and installer databases in memory, so tests
// can describe a damaged or unusual file next to the assertion about it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/native/cfb/compound_file.h"
#include "engine/native/msidb/database.h"

namespace msiarc::testing {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(Bytes& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

// A version 3 compound file: 512-byte sectors, streams under 4096 bytes in
// the mini stream, the root's children chained through right siblings.
class CfbBuilder {
 public:
  struct Child {
    std::u16string name;
    bool storage;
    Bytes data;
  };

  uint8_t clsid[16] = {0x84, 0x10, 0x0C, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  std::vector<Child> children;

  void Stream(const std::u16string& rawName, Bytes data) { children.push_back({rawName, false, std::move(data)}); }
  void Storage(const std::u16string& rawName) { children.push_back({rawName, true, {}}); }

  // Where things went, for tests that damage the file afterwards.
  std::map<std::u16string, uint32_t> startSector;  // big streams
  size_t fatOffset = 0;
  size_t directoryOffset = 0;

  Bytes Build() {
    std::sort(children.begin(), children.end(),
              [](const Child& a, const Child& b) { return cfb::NameLess(a.name, b.name); });
    // Layout: FAT sectors, directory, mini FAT, mini stream, then the big
    // streams in name order (so the last of them ends the file).
    Bytes mini;
    std::vector<uint32_t> miniFat;
    std::vector<uint32_t> starts(children.size(), 0);
    size_t bigSectors = 0;
    for (size_t i = 0; i < children.size(); ++i) {
      Child& c = children[i];
      if (c.storage) continue;
      if (c.data.size() < 4096) {
        size_t sectors = (c.data.size() + 63) / 64;
        uint32_t first = static_cast<uint32_t>(miniFat.size());
        for (size_t k = 0; k < sectors; ++k) miniFat.push_back(k + 1 < sectors ? first + static_cast<uint32_t>(k) + 1 : 0xFFFFFFFEu);
        starts[i] = sectors == 0 ? 0xFFFFFFFEu : first;
        mini.insert(mini.end(), c.data.begin(), c.data.end());
        mini.resize(miniFat.size() * 64, 0);
      } else {
        bigSectors += (c.data.size() + 511) / 512;
      }
    }
    Bytes miniFatBytes(((miniFat.size() * 4 + 511) / 512) * 512, 0xFF);
    for (size_t i = 0; i < miniFat.size(); ++i) Put32(miniFatBytes, i * 4, miniFat[i]);
    size_t entries = children.size() + 1;
    Bytes dir(((entries * 128 + 511) / 512) * 512, 0);
    size_t others = dir.size() / 512 + miniFatBytes.size() / 512 + (mini.size() + 511) / 512 + bigSectors;
    size_t fatSectors = 1;
    while (others + fatSectors > fatSectors * 128) ++fatSectors;
    std::vector<uint32_t> fat;
    auto allocate = [&fat](size_t count, uint32_t tail) -> uint32_t {
      uint32_t first = static_cast<uint32_t>(fat.size());
      for (size_t i = 0; i < count; ++i) fat.push_back(i + 1 < count ? first + static_cast<uint32_t>(i) + 1 : tail);
      return count == 0 ? 0xFFFFFFFEu : first;
    };
    uint32_t fatStart = static_cast<uint32_t>(fat.size());
    for (size_t i = 0; i < fatSectors; ++i) fat.push_back(0xFFFFFFFDu);
    uint32_t dirStart = allocate(dir.size() / 512, 0xFFFFFFFEu);
    uint32_t miniFatStart = allocate(miniFatBytes.size() / 512, 0xFFFFFFFEu);
    uint32_t miniStart = allocate((mini.size() + 511) / 512, 0xFFFFFFFEu);
    for (size_t i = 0; i < children.size(); ++i) {
      Child& c = children[i];
      if (c.storage || c.data.size() < 4096) continue;
      starts[i] = allocate((c.data.size() + 511) / 512, 0xFFFFFFFEu);
      startSector[c.name] = starts[i];
    }
    // The directory.
    for (size_t e = 0; e < dir.size() / 128; ++e) {
      Put32(dir, e * 128 + 0x44, 0xFFFFFFFFu);
      Put32(dir, e * 128 + 0x48, 0xFFFFFFFFu);
      Put32(dir, e * 128 + 0x4C, 0xFFFFFFFFu);
    }
    auto entry = [&dir](size_t e, const std::u16string& name, uint8_t type, uint32_t start, uint64_t size) {
      size_t at = e * 128;
      for (size_t k = 0; k < name.size() && k < 31; ++k) Put16(dir, at + 2 * k, name[k]);
      Put16(dir, at + 0x40, static_cast<uint32_t>((std::min<size_t>(name.size(), 31) + 1) * 2));
      dir[at + 0x42] = type;
      dir[at + 0x43] = 1;
      Put32(dir, at + 0x74, start);
      Put32(dir, at + 0x78, static_cast<uint32_t>(size));
    };
    entry(0, u"Root Entry", 5, mini.empty() ? 0xFFFFFFFEu : miniStart, mini.size());
    std::memcpy(dir.data() + 0x50, clsid, 16);
    if (!children.empty()) Put32(dir, 0x4C, 1);
    for (size_t i = 0; i < children.size(); ++i) {
      const Child& c = children[i];
      entry(i + 1, c.name, c.storage ? 1 : 2, c.storage ? 0 : starts[i], c.data.size());
      if (i + 1 < children.size()) Put32(dir, (i + 1) * 128 + 0x48, static_cast<uint32_t>(i + 2));
    }
    // The file.
    Bytes file((fat.size() + 1) * 512, 0);
    static const uint8_t sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(file.data(), sig, 8);
    Put16(file, 0x18, 0x3E);
    Put16(file, 0x1A, 3);
    Put16(file, 0x1C, 0xFFFE);
    Put16(file, 0x1E, 9);
    Put16(file, 0x20, 6);
    Put32(file, 0x2C, static_cast<uint32_t>(fatSectors));
    Put32(file, 0x30, dirStart);
    Put32(file, 0x38, 4096);
    Put32(file, 0x3C, miniFat.empty() ? 0xFFFFFFFEu : miniFatStart);
    Put32(file, 0x40, static_cast<uint32_t>(miniFatBytes.size() / 512));
    Put32(file, 0x44, 0xFFFFFFFEu);
    for (size_t i = 0; i < 109; ++i) Put32(file, 0x4C + 4 * i, i < fatSectors ? fatStart + static_cast<uint32_t>(i) : 0xFFFFFFFFu);
    auto place = [&file](uint32_t sector, const Bytes& data) {
      if (!data.empty()) std::memcpy(file.data() + (sector + 1) * 512ull, data.data(), data.size());
    };
    for (size_t i = 0; i < children.size(); ++i) {
      if (!children[i].storage && children[i].data.size() >= 4096) place(starts[i], children[i].data);
    }
    place(miniStart, mini);
    if (!miniFat.empty()) place(miniFatStart, miniFatBytes);
    place(dirStart, dir);
    directoryOffset = (dirStart + 1) * 512ull;
    fatOffset = (fatStart + 1) * 512ull;
    for (size_t i = 0; i < fat.size(); ++i) Put32(file, fatOffset + 4 * i, fat[i]);
    for (size_t i = fat.size(); i < fatSectors * 128; ++i) Put32(file, fatOffset + 4 * i, 0xFFFFFFFFu);
    return file;
  }
};

// An installer database: a string pool, _Tables, _Columns and tables given
// as raw cell values (string ids, biased integers), row by row.
class DbBuilder {
 public:
  uint32_t codePage = 1252;
  bool longRefs = false;
  CfbBuilder file;

  uint32_t String(const std::string& bytes) {
    auto found = ids_.find(bytes);
    if (found != ids_.end()) return found->second;
    pool_.push_back(bytes);
    uint32_t id = static_cast<uint32_t>(pool_.size());
    ids_[bytes] = id;
    return id;
  }

  // A new id for a text the pool holds already (files may hold a text twice).
  uint32_t StringAgain(const std::string& bytes) {
    pool_.push_back(bytes);
    return static_cast<uint32_t>(pool_.size());
  }

  struct TableDef {
    std::string name;
    std::vector<std::pair<std::string, uint32_t>> columns;  // name, type word
    std::vector<std::vector<uint32_t>> rows;                 // raw cells
    std::vector<uint32_t> numbers;                           // column numbers, if not 1..n
  };
  std::vector<TableDef> tables;

  TableDef& Table(const std::string& name, std::vector<std::pair<std::string, uint32_t>> columns) {
    tables.push_back({name, std::move(columns), {}, {}});
    return tables.back();
  }

  Bytes Build() {
    uint32_t refBytes = 2;
    std::vector<uint32_t> tableIds;
    Bytes tablesStream, columnsCells[4];
    for (TableDef& t : tables) {
      tableIds.push_back(String(t.name));
      for (auto& c : t.columns) String(c.first);
    }
    bool wide = longRefs || pool_.size() > 0xFFFF;
    if (wide) refBytes = 3;
    auto cell = [](Bytes& out, uint32_t v, uint32_t bytes) {
      for (uint32_t k = 0; k < bytes; ++k) out.push_back(static_cast<uint8_t>(v >> (8 * k)));
    };
    for (size_t i = 0; i < tables.size(); ++i) {
      TableDef& t = tables[i];
      cell(tablesStream, tableIds[i], refBytes);
      for (size_t c = 0; c < t.columns.size(); ++c) {
        cell(columnsCells[0], tableIds[i], refBytes);
        cell(columnsCells[1], (t.numbers.empty() ? static_cast<uint32_t>(c + 1) : t.numbers[c]) + 0x8000, 2);
        cell(columnsCells[2], String(t.columns[c].first), refBytes);
        cell(columnsCells[3], t.columns[c].second + 0x8000, 2);
      }
      Bytes data;
      for (size_t c = 0; c < t.columns.size(); ++c) {
        uint32_t type = t.columns[c].second;
        uint32_t bytes = msidb::IsBinaryType(type) ? 2 : (type & 0x800) ? refBytes : ((type & 0xFF) <= 2 ? 2 : 4);
        for (auto& row : t.rows) cell(data, row[c], bytes);
      }
      if (!data.empty()) file.Stream(msidb::EncodeStreamName(std::u16string(t.name.begin(), t.name.end()), true), data);
    }
    Bytes columns;
    for (Bytes& b : columnsCells) columns.insert(columns.end(), b.begin(), b.end());
    Bytes pool(4, 0), data;
    Put32(pool, 0, codePage | (wide ? 0x80000000u : 0));
    for (const std::string& s : pool_) {
      size_t at = pool.size();
      if (s.size() > 0xFFFF) {
        pool.resize(at + 8, 0);
        Put32(pool, at, 1u << 16);  // a marker with one reference
        Put32(pool, at + 4, static_cast<uint32_t>(s.size()));
      } else {
        pool.resize(at + 4, 0);
        Put32(pool, at, static_cast<uint32_t>(s.size()) | (1u << 16));
      }
      data.insert(data.end(), s.begin(), s.end());
    }
    file.Stream(msidb::EncodeStreamName(u"_StringPool", true), pool);
    file.Stream(msidb::EncodeStreamName(u"_StringData", true), data);
    file.Stream(msidb::EncodeStreamName(u"_Tables", true), tablesStream);
    file.Stream(msidb::EncodeStreamName(u"_Columns", true), columns);
    return file.Build();
  }

 private:
  std::vector<std::string> pool_;
  std::map<std::string, uint32_t> ids_;
};

}  // namespace msiarc::testing
