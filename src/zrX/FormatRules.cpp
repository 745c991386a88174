#include "zrX/FormatRules.hpp"

#include <algorithm>
#include <cmath>

namespace zrX {

namespace zrt {
namespace {

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isWordChar(char c) { return isLetter(c) || isDigit(c) || c == '_'; }

}  // namespace

bool isIdentifierToken(std::string_view text) {
  if (text.empty() || !(isLetter(text[0]) || text[0] == '_') || text == "_") return false;
  return std::all_of(text.begin(), text.end(), isWordChar);
}

bool isValidIdentifier(std::string_view text) {
  return isIdentifierToken(text) && text != "true" && text != "false";
}

bool isValidKey(std::string_view text) {
  bool isIDMember =
      text.size() == 2 && (text[0] == 'I' || text[0] == 'i') && (text[1] == 'D' || text[1] == 'd');
  return isValidIdentifier(text) && !isIDMember;
}

bool isValidID(std::string_view text) {
  if (text.empty() || text[0] != '#' || text == "#_") return false;
  return std::all_of(text.begin() + 1, text.end(), isWordChar);
}

bool isValidTag(std::string_view text) {
  if (text.size() < 2 || text.front() != '<' || text.back() != '>') return false;
  return std::all_of(text.begin() + 1, text.end() - 1,
                     [](char c) { return isWordChar(c) || c == ':'; });
}

}  // namespace zrt

const char* nameKindText(NameKind kind) {
  switch (kind) {
    case NameKind::Key:
      return "key";
    case NameKind::Tag:
      return "tag";
    case NameKind::ID:
      return "ID";
    case NameKind::Identifier:
      return "identifier";
  }
  return "name";
}

const char* nameRule(NameKind kind) {
  switch (kind) {
    case NameKind::Key:
      return "a key is a letter or '_', then letters, digits and '_'; not '_', 'true', 'false' or "
             "'ID' in any letter case";
    case NameKind::Tag:
      return "a tag is '<', then letters, digits, '_' or ':', then '>'";
    case NameKind::ID:
      return "an ID is '#', then letters, digits and '_'; not '#_'";
    case NameKind::Identifier:
      return "an identifier is a letter or '_', then letters, digits and '_'; not '_', 'true' or "
             "'false'";
  }
  return "";
}

bool textHoldsName(NameKind kind, std::string_view text) {
  switch (kind) {
    case NameKind::Key:
      return zrt::isValidKey(text);
    case NameKind::Tag:
      return zrt::isValidTag(text);
    case NameKind::ID:
      return zrt::isValidID(text);
    case NameKind::Identifier:
      return zrt::isValidIdentifier(text);
  }
  return false;
}

bool textHoldsString(std::string_view text) { return text.find('\0') == std::string_view::npos; }

bool textHoldsRawtext(std::string_view text) {
  return text.find('\r') == std::string_view::npos && (text.empty() || text.back() != '\\');
}

}  // namespace zrX
