// Tables whose names a query must quote (keywords, a leading digit, a
// space) and names that differ only in case: each answers to its name in
// back quotes, exactly as spelled, and to nothing else.
#include <cstring>
#include <string>
#include <vector>

#include "engine/contract.h"

namespace contract {
namespace {

constexpr const char* kTables[] = {"Order", "Select", "1abc", "my table", "foo", "Foo"};

TEST(QuotedNames, EachTableAnswersToItsQuotedName) {
  Handle db = OpenFixture("keyword-tables.msi");
  for (const char* table : kTables) {
    SCOPED_TRACE(table);
    std::vector<Handle> rows = Rows(db.get(), table);  // SELECT * FROM `table`
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(Str(rows[0].get(), 1), Widen(std::string(table) + " 1"));
    EXPECT_EQ(Str(rows[0].get(), 2), Widen(std::string("first of ") + table));
    EXPECT_EQ(MsiRecordGetInteger(rows[1].get(), 3), static_cast<int>(std::strlen(table)));
    Handle view;
    ASSERT_EQ(OpenView(db.get(), Widen(std::string("SELECT * FROM `") + table + "`"), view), 0u);
    EXPECT_EQ(ColumnInfo(view.get(), MSICOLINFO_NAMES),
              (std::vector<WString>{WTEXT("Key"), WTEXT("From"), WTEXT("Where")}));
    Handle keys;
    ASSERT_EQ(MsiDatabaseGetPrimaryKeysW(db.get(), Widen(table).c_str(), keys.out()), 0u);
    EXPECT_EQ(MsiRecordGetFieldCount(keys.get()), 1u);
    EXPECT_EQ(Str(keys.get(), 1), WTEXT("Key"));
  }
  // A stream table named like a keyword: its rows, their streams, and the
  // same streams in _Streams.
  std::vector<Handle> rows = Rows(db.get(), "Long");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(Str(rows[1].get(), 1), WTEXT("k2"));
  EXPECT_EQ(ReadAll(rows[0].get(), 2, 3), "Long k1\n");
  EXPECT_EQ(MsiRecordDataSize(rows[1].get(), 2), 25u);
  std::vector<WString> streams;
  for (Handle& row : Rows(db.get(), "_Streams")) streams.push_back(Str(row.get(), 1));
  EXPECT_EQ(streams.at(0), WTEXT("Long.k1"));
  EXPECT_EQ(streams.at(1), WTEXT("Long.k2"));
}

TEST(QuotedNames, QueryTextsAcceptedAndRefused) {
  Handle db = OpenFixture("keyword-tables.msi");
  const struct {
    const char* query;
    UINT result;
    const char* firstKey;  // the first row's key when accepted
  } cases[] = {
      {"SELECT * FROM `Order`", 0, "Order 1"},
      {"select * from `Order`", 0, "Order 1"},
      {"SELECT * FROM `Order` ", 0, "Order 1"},
      {"SELECT*FROM`my table`", 0, "my table 1"},
      {"SELECT * FROM `Long`", 0, "k1"},
      {"SELECT * FROM `Select`", 0, "Select 1"},
      {"SELECT * FROM foo", 0, "foo 1"},  // a bare name that needs no quotes
      {"SELECT * FROM Foo", 0, "Foo 1"},
      {"SELECT * FROM foo`", 0, "foo 1"},  // a stray back quote after a bare name
      {"SELECT * FROM Order", ERROR_BAD_QUERY_SYNTAX, nullptr},  // keywords, bare
      {"SELECT * FROM Select", ERROR_BAD_QUERY_SYNTAX, nullptr},
      {"SELECT * FROM long", ERROR_BAD_QUERY_SYNTAX, nullptr},
      {"SELECT * FROM 1abc", ERROR_BAD_QUERY_SYNTAX, nullptr},  // a number first
      {"SELECT * FROM my table", ERROR_BAD_QUERY_SYNTAX, nullptr},
      {"SELECT * FROM `order`", ERROR_BAD_QUERY_SYNTAX, nullptr},  // names are exact
      {"SELECT * FROM `FOO`", ERROR_BAD_QUERY_SYNTAX, nullptr},
      {"SELECT * FROM `my  table`", ERROR_BAD_QUERY_SYNTAX, nullptr},
      {"SELECT * FROM `Order", ERROR_BAD_QUERY_SYNTAX, nullptr},  // unterminated
      {"SELECT * FROM `Order``", ERROR_BAD_QUERY_SYNTAX, nullptr},
      {"SELECT * FROM ``Order`", ERROR_BAD_QUERY_SYNTAX, nullptr},
      {"SELECT * FROM `Order` `Select`", ERROR_BAD_QUERY_SYNTAX, nullptr},
      {"SELECT * FROM 'Order'", ERROR_BAD_QUERY_SYNTAX, nullptr},
      {"SELECT * FROM \"Order\"", ERROR_BAD_QUERY_SYNTAX, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    Handle view;
    ASSERT_EQ(OpenView(db.get(), Widen(c.query), view), c.result);
    if (c.result != 0) {
      EXPECT_EQ(view.get(), 0u);
      continue;
    }
    ASSERT_EQ(MsiViewExecute(view.get(), 0), 0u);
    Handle row;
    ASSERT_EQ(MsiViewFetch(view.get(), row.out()), 0u);
    EXPECT_EQ(Str(row.get(), 1), Widen(c.firstKey));
  }
  for (const char* table : {"FOO", "order", "my  table", "Order`"}) {
    Handle keys;
    EXPECT_EQ(MsiDatabaseGetPrimaryKeysW(db.get(), Widen(table).c_str(), keys.out()),
              static_cast<UINT>(ERROR_INVALID_TABLE))
        << table;
    EXPECT_EQ(keys.get(), 0u);
  }
}

}  // namespace
}  // namespace contract
