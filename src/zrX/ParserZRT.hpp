// ParserZRT: reads a ZRT text document into ZRX nodes. It checks the header ("ZRX version=101
// encoding=ascii"), then builds one ZRXStructure per top-level structure, recursively, and records
// in nodes and values the line of the token they began with. The Parser base supplies the
// metadata extraction and the linking of ID references.
//
// Use: construct, tokenizer()->attachFile(file), parse() once, then read the base's results.
// parse() closes the input file whatever happens. The parser owns its tokenizer; the structures
// it builds are shared through references and outlive it. One thread at a time.
//
// Choices beyond the grammar, all failing parse() with a line-numbered message:
// - Nesting deeper than maxDepth() levels of structures and lists (a top-level structure is
//   level 1) is refused: "Line %n : nesting deeper than %n levels of structures and lists.\n".
//   Each level costs two small stack frames, so the default limit parses in a 1 MiB stack.
// - An integer outside the signed 64-bit range is refused, not clamped:
//   "Line %n : integer '%s' is out of the 64-bit range.\n". Reals convert like strtod in the C
//   locale, whatever the process locale: a magnitude beyond the double range gives an infinity,
//   one below it zero.
// - A header version outside 0..65535 reads as version 0, which is refused as unsupported.
// - A tag that is the last item of a list is refused:
//   "Line %n : tag '%s' is not followed by a value.\n".
// - Arrays and raw text blocks get a line number too: the line of "(", or the line after "{<".
// - Every node's storage (entries, elements, array values) is gathered in scratch room kept by
//   the parser and allocated once, at its exact size, so memory stays in proportion to the text.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "zrX/Export.hpp"
#include "zrX/Parser.hpp"
#include "zrX/ZRTTokenizer.hpp"

namespace zrX {

class ZRX_API ParserZRT : public Parser {
  ZR_DECLARE_TYPE()
 public:
  ParserZRT();

  // The owned tokenizer; attach the input file to it before parse().
  ZRTTokenizer* tokenizer() const { return mTokenizer.get(); }
  // The current token (after a failure: the one the messages quote).
  const ZRTToken& token() const;

  // Reads the header tokens; sets version() and encoding(). False without a message of its own
  // except "'ZRX' header not found!\n" (parse() adds the line-numbered header error).
  bool parseHeader() override;
  // Reads the whole file. True when the input ended cleanly after zero or more top-level
  // structures; they are then in structures() (metadata moved to metadata()).
  bool parse() override;

  // The current token becomes the next one; false after a lexical error.
  bool getToken();
  // The recursive steps, each entered after its opening token ("{", "[", "(") and returning after
  // its closing one. A pending tag is given to the node they fill.
  bool parseStructure(ZRXStructure* object);
  bool parseList(ZRXList* list);
  bool parseArray(zr::ref<ZRXArray>& arr);

 private:
  // Fills `value` from the current token (the token after a tag, if any).
  bool parseValue(ZRXValue& value);
  bool parseArrayValue(ZRXValue& value);
  bool parseRawtextValue(ZRXValue& value);
  // Counts one more level of nesting; false (with the message) beyond maxDepth().
  bool enterLevel();
  // A pending tag becomes `node`'s.
  void takePendingTag(ZRXTaggedValue* node);
  // The current token (a tag) becomes the pending tag; false when one is pending already.
  bool setPendingTag();
  // The text of the current token, valid until the next one is read.
  std::string_view text() const { return mTokenizer->text(); }
  // "Line %n : parse error at '%s'.\n" with the current token, or without one.
  void logParseError();
  // The current number token's value; false when it is out of range (integers).
  bool currentInteger(int64_t& out) const;
  bool currentReal(double& out) const;

  std::string mPendingTag;
  zr::ref<ZRTTokenizer> mTokenizer;
  ZRTToken::EType mType = ZRTToken::TOKEN_ERROR;  // of the current token
  mutable ZRTToken mToken;                        // token()'s copy of it
  // The entries and elements of the nodes being read, one room per nesting level.
  std::deque<std::vector<ZRXStructure::KeyValue>> mEntryStacks;
  std::deque<std::vector<ZRXValue>> mElementStacks;
  // Where the value being read stands: in the list, or else in the structure, at the index.
  ZRXStructure* mValueStructure = nullptr;
  ZRXList* mValueList = nullptr;
  size_t mValueIndex = 0;
  // The numbers of the array being read.
  std::vector<int64_t> mIntegerScratch;
  std::vector<double> mRealScratch;
  int mDepth = 0;
  TextCache mTexts;  // the tags and keys read so far
};

}  // namespace zrX
