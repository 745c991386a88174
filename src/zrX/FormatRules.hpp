// FormatRules: what each document format can hold, in one place for the writers, the zrx tool and
// the Python module (which refuses a name at assignment that the writers would refuse later).
//
// ZRB holds every tree bit for bit: names and texts of any bytes, every real. ZRT holds names that
// follow its lexical rules (below), strings without a NUL byte, finite reals, and raw text without
// a CR that does not end with a backslash; the ZRT writer refuses anything else before the file is
// touched. What neither format holds (a list in two places, a structure without an ID in two
// places) is a matter of the tree's shape, which the ID counter checks (Visitor.hpp).
//
// Pure functions over their arguments; safe from any thread.
#pragma once

#include <cmath>
#include <string_view>

#include "zrX/Export.hpp"

namespace zrX {

// The four kinds of names a tree holds.
enum class NameKind { Key, Tag, ID, Identifier };

// "key", "tag", "ID" or "identifier".
ZRX_API const char* nameKindText(NameKind kind);
// The rule a name of `kind` follows in ZRT, as a sentence for messages ("a tag is '<', then
// letters, digits, '_' or ':', then '>'").
ZRX_API const char* nameRule(NameKind kind);
// Whether ZRT can hold `text` as a name of `kind` (the functions of namespace zrt below).
ZRX_API bool textHoldsName(NameKind kind, std::string_view text);
// Whether ZRT can hold a string value: one without a NUL byte.
ZRX_API bool textHoldsString(std::string_view text);
// Whether ZRT can hold a real: a finite one. Inline: the writers ask it of every array element.
inline bool textHoldsReal(double value) { return std::isfinite(value); }
// Whether ZRT can hold a raw text block's text: one without a CR (the reader turns it into a line
// end) that does not end with a backslash (which would escape the closing ">}").
ZRX_API bool textHoldsRawtext(std::string_view text);

// The lexical rules of ZRT names.
namespace zrt {

// "[A-Za-z_][A-Za-z0-9_]*", not "_": the tokenizer's identifier.
ZRX_API bool isIdentifierToken(std::string_view text);
// An identifier value: an identifier token other than "true" and "false" (the booleans).
ZRX_API bool isValidIdentifier(std::string_view text);
// A structure key: a valid identifier that is not "ID" in any letter case ("ID" opens the ID
// member; "Id", "iD", "id" are refused by the reader).
ZRX_API bool isValidKey(std::string_view text);
// "#" followed by "[A-Za-z0-9_]*", not "#_". "#" alone is valid.
ZRX_API bool isValidID(std::string_view text);
// "<" followed by "[A-Za-z0-9_:]*" and ">". "<>" is valid. (A node without a tag has the empty
// text, which is not a tag.)
ZRX_API bool isValidTag(std::string_view text);

}  // namespace zrt

}  // namespace zrX
