// The one query the catalogue composes: every row of a named table.
#include <new>

#include "catalog/catalog.h"

UINT OpenTableView(MSIHANDLE database, std::basic_string_view<WCHAR> name, MSIHANDLE* view) {
  *view = 0;
  // Inside back quotes the engine reads everything up to the next back
  // quote as the name, keywords and spaces included; a null would end the
  // query text early.
  if (name.find_first_of(std::basic_string_view<WCHAR>(WTEXT("`\0"), 2)) != name.npos) {
    return ERROR_BAD_QUERY_SYNTAX;
  }
  WString query;
  try {
    // Sized from the name: a long name is never cut into a shorter one
    // that names another table.
    query.reserve(name.size() + 16);
    query = WTEXT("SELECT * FROM `");
    query += name;
    query += WCHAR('`');
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  return MsiDatabaseOpenViewW(database, query.c_str(), view);
}
