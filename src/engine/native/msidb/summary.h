// The summary information property set (\005SummaryInformation).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace msiarc::msidb {

constexpr uint32_t kSummarySlots = 20;

struct SummaryProperty {
  uint16_t type = 0;  // 0 empty, 2, 3, 30 or 64
  int32_t integer = 0;
  uint64_t filetime = 0;
  std::u16string text;
};

struct SummaryInfo {
  SummaryProperty slots[kSummarySlots];
  uint32_t Count() const;
};

// Parses the stream; anything malformed leaves the properties read so far
// (or none), never an error.
SummaryInfo ParseSummary(const std::vector<uint8_t>& bytes);

}  // namespace msiarc::msidb
