// What a host and a spreadsheet see of a database's text: every table the
// database holds is listed, and every CSV file reads back, cell for cell,
// with a reader written from RFC 4180 alone. The expected cells are those
// the fixture script (tests/fixtures/tables-text) stores.
#include <map>

#include "support/export_support.h"

using namespace plugin_test;

namespace {

::testing::Environment* const kModule =
    ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

using Record = std::vector<std::string>;

// RFC 4180: records end with CR LF; fields are separated by commas; a field
// in double quotes may hold commas, CR, LF and a double quote written twice;
// a field without quotes holds none of these. False on anything else.
bool ReadRfc4180(const std::string& text, std::vector<Record>* records) {
  size_t i = 0;
  while (i < text.size()) {
    Record record;
    for (;;) {
      std::string field;
      if (i < text.size() && text[i] == '"') {
        for (++i;; ++i) {
          if (i >= text.size()) return false;
          if (text[i] != '"') {
            field += text[i];
          } else if (i + 1 < text.size() && text[i + 1] == '"') {
            field += text[i++];
          } else {
            ++i;
            break;
          }
        }
      } else {
        for (; i < text.size() && text[i] != ',' && text[i] != '\r'; ++i) {
          if (text[i] == '"' || text[i] == '\n') return false;
          field += text[i];
        }
      }
      record.push_back(field);
      if (i >= text.size() || text[i] != ',') break;
      ++i;
    }
    if (text.compare(i, 2, "\r\n") != 0) return false;
    i += 2;
    records->push_back(record);
  }
  return true;
}

struct Archive {
  std::vector<std::string> names;             // in listing order
  std::map<std::string, std::string> files;  // CSV files: name -> bytes
};

// Lists the database and extracts each CSV file as a host does.
Archive ListAndExtractText(const std::string& database) {
  TempFolder folder;
  OpenedArchive archive(database);
  Archive result;
  HeaderDataExW header{};
  while (ReadHeaderExW(archive.get(), &header) == 0) {
    const WString name(header.fileName);
    std::string narrow(name.begin(), name.end());
    result.names.push_back(narrow);
    if (narrow.size() < 4 || narrow.substr(narrow.size() - 4) != ".csv") {
      continue;
    }
    WString destination = PathText(folder.path() / narrow);
    EXPECT_EQ(0, ProcessFileW(archive.get(), 2, nullptr, destination.data()))
        << narrow;
    result.files[narrow] = ReadAll(folder.path() / narrow);
  }
  return result;
}

// Every file's records, read after its byte-order mark, each as wide as
// its header.
std::map<std::string, std::vector<Record>> ReadAllCsv(const Archive& archive) {
  std::map<std::string, std::vector<Record>> tables;
  for (const auto& [name, bytes] : archive.files) {
    EXPECT_EQ(0u, bytes.rfind("\xEF\xBB\xBF", 0)) << name;
    std::vector<Record> records;
    EXPECT_TRUE(ReadRfc4180(bytes.substr(3), &records)) << name;
    for (const Record& record : records) {
      EXPECT_EQ(records[0].size(), record.size()) << name;
    }
    tables[name] = records;
  }
  return tables;
}

// Column `value` of the record whose column 0 (or `keyColumn`) is `key`.
std::string Cell(const std::vector<Record>& records, const std::string& key,
                 size_t value, size_t keyColumn = 0) {
  for (const Record& record : records) {
    if (record.size() > value && record[keyColumn] == key) return record[value];
  }
  return "(no such row: " + key + ")";
}

std::string Text(size_t length, char letter) {
  return "\"x\", " + std::string(length - 5, letter);
}

TEST(CsvReadback, EveryTableOfTheDatabaseIsListed) {
  const Archive archive = ListAndExtractText(FixtureFile("tables-text.msi"));
  // _Validation's tables first, then the rest of the engine's catalogue in
  // its order; a stream table is a folder, _Streams comes last.
  const std::vector<std::string> expected = {
      "_SummaryInformation.csv", "Property.csv", "_Validation.csv",
      "CustomAction.csv", "MsiPatchMetadata.csv",
      std::string("Binary") + (HostName("\\")[0] == '/' ? "/" : "\\") + "one",
      "Empty.csv"};
  ASSERT_GT(archive.names.size(), expected.size());
  EXPECT_EQ(expected, std::vector<std::string>(
                          archive.names.begin(),
                          archive.names.begin() + expected.size()));
  for (size_t i = expected.size(); i < archive.names.size(); ++i) {
    EXPECT_EQ(0u, archive.names[i].rfind("_Streams", 0)) << archive.names[i];
  }
}

TEST(CsvReadback, QuotesCommasAndLineBreaksReadBackCellForCell) {
  auto tables = ReadAllCsv(ListAndExtractText(FixtureFile("tables-text.msi")));
  const auto& property = tables["Property.csv"];
  ASSERT_EQ(6u, property.size());
  EXPECT_EQ((Record{"Property", "Value"}), property[0]);
  const std::map<std::string, std::string> values = {
      {"ProductName", "Quote \"test\", a comma"},
      {"Removing", "REMOVE=\"ALL\""},
      {"Lone", "\""},
      {"Pair", "\"\""},
      {"Lines", "one\ntwo\r\n\"three\""}};
  for (const auto& [key, value] : values) EXPECT_EQ(value, Cell(property, key, 1));

  EXPECT_EQ("[REMOVE]=\"ALL\",x", Cell(tables["CustomAction.csv"], "SetAll", 3));
  EXPECT_EQ("Fixes \"the\" bug, and more",
            Cell(tables["MsiPatchMetadata.csv"], "Description", 2, 1));
  EXPECT_EQ(1u, tables["Empty.csv"].size());

  // Summary texts of any length, read whole.
  const auto& summary = tables["_SummaryInformation.csv"];
  EXPECT_EQ((Record{"Name", "Value"}), summary[0]);
  EXPECT_EQ(Text(1023, 'T'), Cell(summary, "Title", 1));
  EXPECT_EQ(Text(1024, 'S'), Cell(summary, "Subject", 1));
  EXPECT_EQ(Text(1500, 'C'), Cell(summary, "Comments", 1));
  EXPECT_EQ("say \"hi\", then", Cell(summary, "Author", 1));
}

TEST(CsvReadback, EveryCorpusCsvReadsWithTheHeadersWidth) {
  size_t files = 0;
  for (const fs::path& path : test_support::CorpusDatabases()) {
    const Archive archive = ListAndExtractText(path.string());
    for (const auto& [name, bytes] : archive.files) {
      if (bytes.empty()) continue;  // a table that has no text form
      std::vector<Record> records;
      ASSERT_TRUE(ReadRfc4180(bytes.substr(3), &records))
          << path.filename() << " " << name;
      for (const Record& record : records) {
        ASSERT_EQ(records[0].size(), record.size())
            << path.filename() << " " << name;
      }
      ++files;
    }
  }
  EXPECT_GT(files, 500u);
}

}  // namespace
