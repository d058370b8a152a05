// A directory of thousands of entries, read in slices: every entry is found
// by its exact name and read back whole; another case, or a name nobody
// has, is not found.
#include <gtest/gtest.h>

#include <string>

#include "engine/native/db_builder.h"

namespace msiarc::testing {
namespace {

std::u16string Name(int i) {
  std::u16string name = u"stream.";
  for (char c : std::to_string(i)) name.push_back(static_cast<char16_t>(c));
  return name;
}

Bytes Content(int i) { return Bytes(static_cast<size_t>(i % 97), static_cast<uint8_t>(i)); }

TEST(Directory, ThousandsOfEntriesFoundByNameAndReadWhole) {
  constexpr int kCount = 5000;  // about 1,250 directory sectors
  CfbBuilder builder;
  for (int i = 0; i < kCount; ++i) builder.Stream(Name(i), Content(i));
  builder.Stream(std::u16string(31, u'x'), Bytes(5000, 7));  // the longest name, outside the mini stream
  Bytes file = builder.Build();
  std::unique_ptr<cfb::CompoundFile> cf;
  ASSERT_EQ(cfb::CompoundFile::Open(cfb::CopyBytes(file.data(), file.size()), &cf), cfb::Status::Ok);
  EXPECT_EQ(cf->RootChildren().size(), static_cast<size_t>(kCount + 1));
  for (int i = 0; i < kCount; ++i) {
    int64_t id = cf->FindChild(Name(i));
    ASSERT_GE(id, 0) << i;
    EXPECT_EQ(cf->Entry(static_cast<uint32_t>(id)).name, Name(i));
    Bytes got;
    ASSERT_EQ(cf->ReadAll(static_cast<uint32_t>(id), &got), cfb::Status::Ok);
    EXPECT_EQ(got, Content(i)) << i;
  }
  int64_t longest = cf->FindChild(std::u16string(31, u'x'));
  ASSERT_GE(longest, 0);
  EXPECT_EQ(cf->Entry(static_cast<uint32_t>(longest)).size, 5000u);
  for (const char16_t* absent : {u"Stream.1", u"STREAM.1", u"stream.5000", u"stream.", u""}) {
    EXPECT_LT(cf->FindChild(absent), 0);
  }
  EXPECT_LT(cf->FindChild(std::u16string(32, u'x')), 0);
}

}  // namespace
}  // namespace msiarc::testing
