// The one query form the engine answers: SELECT * FROM <table>.
#pragma once

#include <string>
#include <string_view>

namespace msiarc::msidb {

// True and the table name when the text is SELECT * FROM name, with the
// installer's lexical rules: keywords in any case, the name bare or in back
// quotes; anything else is a syntax error.
bool ParseSelectAll(std::u16string_view query, std::u16string* table);

}  // namespace msiarc::msidb
