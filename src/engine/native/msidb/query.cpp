#include "engine/native/msidb/query.h"

#include <array>

namespace msiarc::msidb {
namespace {

enum class Token { End, Space, Star, Id, Keyword, Quoted, Illegal };

constexpr std::array<std::u16string_view, 37> kKeywords = {
    u"ADD", u"ALTER", u"AND", u"BY", u"CHAR", u"CHARACTER", u"CREATE", u"DELETE",
    u"DISTINCT", u"DROP", u"FREE", u"FROM", u"HOLD", u"INSERT", u"INT", u"INTEGER",
    u"INTO", u"IS", u"KEY", u"LIKE", u"LOCALIZABLE", u"LONG", u"LONGCHAR", u"NOT",
    u"NULL", u"OBJECT", u"OR", u"ORDER", u"PRIMARY", u"SELECT", u"SET", u"SHORT",
    u"TABLE", u"TEMPORARY", u"UPDATE", u"VALUES", u"WHERE"};

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\f'; }

bool IsIdChar(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
         c == u'_' || c == u'-' || c == 0x05 || c >= 0x80;
}

bool SameKeyword(std::u16string_view text, std::u16string_view keyword) {
  if (text.size() != keyword.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    if (c != keyword[i]) return false;
  }
  return true;
}

struct Lexer {
  std::u16string_view text;
  size_t pos = 0;
  std::u16string_view value;

  Token Next() {
    if (pos >= text.size()) return Token::End;
    char16_t c = text[pos];
    size_t start = pos;
    if (IsSpace(c)) {
      while (pos < text.size() && IsSpace(text[pos])) ++pos;
      return Token::Space;
    }
    if (c == u'*') {
      ++pos;
      return Token::Star;
    }
    if (c == u'`') {
      size_t close = text.find(u'`', pos + 1);
      if (close == std::u16string_view::npos) return Token::Illegal;
      value = text.substr(pos + 1, close - pos - 1);
      pos = close + 1;
      return Token::Quoted;
    }
    if (c == u'[') {
      while (pos < text.size() && text[pos] != u']') ++pos;
      if (pos < text.size()) ++pos;
      value = text.substr(start, pos - start);
      return Token::Id;
    }
    if (c >= u'0' && c <= u'9') return Token::Illegal;  // a number
    if (!IsIdChar(c)) return Token::Illegal;
    while (pos < text.size() && IsIdChar(text[pos])) ++pos;
    value = text.substr(start, pos - start);
    for (std::u16string_view keyword : kKeywords) {
      if (SameKeyword(value, keyword)) return Token::Keyword;
    }
    // A stray back quote right after a bare name is skipped.
    if (pos < text.size() && text[pos] == u'`') ++pos;
    return Token::Id;
  }

  Token NextSolid() {
    Token t = Next();
    while (t == Token::Space) t = Next();
    return t;
  }
};

}  // namespace

bool ParseSelectAll(std::u16string_view query, std::u16string* table) {
  Lexer lex;
  lex.text = query;
  if (lex.NextSolid() != Token::Keyword || !SameKeyword(lex.value, u"SELECT")) return false;
  if (lex.NextSolid() != Token::Star) return false;
  if (lex.NextSolid() != Token::Keyword || !SameKeyword(lex.value, u"FROM")) return false;
  Token name = lex.NextSolid();
  if (name != Token::Id && name != Token::Quoted) return false;
  std::u16string_view found = lex.value;
  if (lex.NextSolid() != Token::End) return false;
  table->assign(found);
  return true;
}

}  // namespace msiarc::msidb
