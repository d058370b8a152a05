// The one query the catalogue composes, on both engines: a name in back
// quotes opens its own table whatever it looks like, and a name that no
// query can hold, or that a cut would turn into another table's, opens none.
#include "support/catalog_support.h"

namespace catalog_test {
namespace {

using Names = std::vector<std::string>;

TEST(TableView, QuotedNamesOpenTheirOwnTableAndNoOther) {
  Opened opened(Fixture("table-names"));
  ASSERT_NE(opened.archive(), nullptr);
  const WString padded = W("foo") + WString(300, WCHAR(' '));
  const struct {
    WString name;
    bool opens;
  } cases[] = {
      {W("Order"), true},     {W("Select"), true},   {W("Long"), true},
      {W("1abc"), true},      {W("my table"), true}, {W("foo"), true},
      {W("Foo"), true},       {W("FOO"), false},     {W("_Streams"), true},
      {W("foo`"), false},     {W("`foo`"), false},   {W("foo` `Foo"), false},
      {WString(W("foo")) + WCHAR(0) + W("x"), false},
      // Cut at any length, this would read foo.
      {padded, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    MSIHANDLE view = 0;
    const UINT result = OpenTableView(opened.archive()->database, c.name, &view);
    EXPECT_EQ(result == 0, c.opens) << result;
    EXPECT_EQ(view != 0, c.opens);
    if (view != 0) MsiCloseHandle(view);
  }
}

TEST(Discovery, NamesComparedExactlyEachOnce) {
  Opened opened(Fixture("table-names"));
  ASSERT_EQ(DiscoverTables(opened.archive()), 0u);
  // _Validation's names, then the catalogue's: FOO beside foo and Foo, the
  // name no query can hold among them; no name twice.
  EXPECT_EQ(opened.TableNames(),
            (Names{"Order", "foo", "Long", "FOO", "Select", "1abc", "my table", "Foo",
                   "foo`", "_Validation", "_Streams"}));
  ASSERT_EQ(CreateTables(opened.archive()), 0u);
  std::vector<std::string> made;
  for (TableInfo* table : opened.Tables()) made.push_back(Narrow(table->name));
  EXPECT_EQ(made, (Names{"Order", "foo", "Long", "Select", "1abc", "my table", "Foo",
                         "_Validation", "_Streams"}));
}

}  // namespace
}  // namespace catalog_test
