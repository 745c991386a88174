#include "zrX/ParserZRT.hpp"

#include <charconv>
#include <cstdint>
#include <deque>
#include <limits>
#include <string_view>
#include <vector>

#include "zrCore/Log.hpp"
#include "zrCore/Memory.hpp"

// Keeps rarely taken, stack-hungry paths (messages, arrays, raw text) out of the frames of the
// recursive steps, so deep documents cost little stack.
#if defined(__GNUC__) || defined(__clang__)
#define ZRX_NOINLINE __attribute__((noinline))
#else
#define ZRX_NOINLINE
#endif

namespace zrX {

ZR_DEFINE_TYPE(ParserZRT, Parser, "zrX::ParserZRT")

namespace {

using Token = ZRTToken;

bool isDigitChar(char c) { return c >= '0' && c <= '9'; }

// The whole token text as a signed 64-bit integer; false when it is out of range.
bool toInteger(std::string_view text, int64_t& out) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin != end && *begin == '+') ++begin;  // from_chars takes no plus sign
  const std::from_chars_result result = std::from_chars(begin, end, out);
  return result.ec == std::errc() && result.ptr == end;
}

// A real whose magnitude lies beyond the double range: an infinity when its first significant
// digit stands at a non-negative power of ten, zero otherwise (strtod's results). `text` has the
// shape of a real token.
ZRX_NOINLINE double outOfRange(std::string_view text) {
  const bool negative = !text.empty() && text[0] == '-';
  int64_t integerDigits = 0;
  int64_t firstSignificant = -1;  // index among all mantissa digits
  int64_t digits = 0;
  bool fraction = false;
  size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
  for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
    if (text[i] == '.') {
      fraction = true;
      continue;
    }
    if (firstSignificant < 0 && text[i] != '0') firstSignificant = digits;
    ++digits;
    if (!fraction) ++integerDigits;
  }
  int64_t exponent = 0;
  if (i + 1 < text.size()) {
    const bool negativeExponent = text[i + 1] == '-';
    for (size_t k = i + 2; k < text.size(); ++k) {
      if (exponent < 1000000) exponent = exponent * 10 + (text[k] - '0');
    }
    if (negativeExponent) exponent = -exponent;
  }
  const int64_t magnitude = integerDigits - 1 - (firstSignificant < 0 ? 0 : firstSignificant);
  const double result = magnitude + exponent >= 0 ? std::numeric_limits<double>::infinity() : 0.0;
  return negative ? -result : result;
}

// The exact powers of ten of a double.
constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The common case of a real token (at most 19 digits, a small exponent) converted without a
// general decimal conversion: digits and the power of ten are exact doubles when the digits stay
// below 2^53 and the power within 10^22, so one multiplication or division rounds correctly.
// False when the text is outside that case.
bool toRealFast(std::string_view text, double& out) {
  const char* p = text.data();
  const char* end = p + text.size();
  bool negative = false;
  if (p != end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  uint64_t digits = 0;
  int count = 0;
  int scale = 0;  // digits after the point
  for (; p != end && isDigitChar(*p); ++p, ++count)
    digits = digits * 10 + static_cast<unsigned>(*p - '0');
  if (p != end && *p == '.') {
    for (++p; p != end && isDigitChar(*p); ++p, ++count, ++scale)
      digits = digits * 10 + static_cast<unsigned>(*p - '0');
  }
  if (count > 19) return false;
  int exponent = 0;
  if (p != end) {
    // "e" or "E", a sign, then digits (the token's shape guarantees it)
    ++p;
    const bool negativeExponent = p != end && *p == '-';
    if (p != end) ++p;
    int value = 0;
    for (; p != end; ++p) {
      if (value > 1000) return false;
      value = value * 10 + (*p - '0');
    }
    exponent = negativeExponent ? -value : value;
  }
  const int power = exponent - scale;
  if (digits > (uint64_t{1} << 53) || power < -22 || power > 22) return false;
  const double mantissa = static_cast<double>(digits);
  const double value = power < 0 ? mantissa / kPowersOfTen[-power] : mantissa * kPowersOfTen[power];
  out = negative ? -value : value;
  return true;
}

// digits * 10^-scale as the nearest double, when that takes one exact division.
bool fromDigits(uint64_t digits, int scale, bool negative, double& out) {
  if (digits > (uint64_t{1} << 53) || scale > 22) return false;
  const double value = static_cast<double>(digits) / kPowersOfTen[scale];
  out = negative ? -value : value;
  return true;
}

// The token text (an integer or a real) as a double, locale-independent and exact like strtod.
bool toReal(std::string_view text, double& out) {
  if (toRealFast(text, out)) return true;
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin != end && *begin == '+') ++begin;
  const std::from_chars_result result = std::from_chars(begin, end, out);
  if (result.ec == std::errc::result_out_of_range) {
    out = outOfRange(text);
    return true;
  }
  return result.ec == std::errc() && result.ptr == end;
}

bool isIDKeyInOtherCase(std::string_view key) { return key == "Id" || key == "iD" || key == "id"; }

ZRX_NOINLINE void logIntegerRange(int line, std::string_view text) {
  zr::Log::error(zr::Say("Line %n : integer '%s' is out of the 64-bit range.\n")
                 << line << zr::messageText(text));
}

ZRX_NOINLINE void logDanglingTag(int line, const std::string& tag) {
  zr::Log::error(zr::Say("Line %n : tag '%s' is not followed by a value.\n")
                 << line << zr::messageText(tag));
}

// Closes the tokenizer's input on every return of parse().
class CloseFile {
 public:
  explicit CloseFile(zr::VirtualFile* file) : mFile(file) {}
  ~CloseFile() {
    if (mFile) mFile->close();
  }
  CloseFile(const CloseFile&) = delete;
  CloseFile& operator=(const CloseFile&) = delete;

 private:
  zr::ref<zr::VirtualFile> mFile;
};

// Leaves one level of nesting when a recursive step returns.
class LevelGuard {
 public:
  explicit LevelGuard(int& depth) : mDepth(depth) {}
  ~LevelGuard() { --mDepth; }
  LevelGuard(const LevelGuard&) = delete;
  LevelGuard& operator=(const LevelGuard&) = delete;

 private:
  int& mDepth;
};

}  // namespace

ParserZRT::ParserZRT() : mTokenizer(new ZRTTokenizer()) { mVersion = 0; }

const ZRTToken& ParserZRT::token() const {
  mToken.mType = mType;
  mToken.mText.assign(text().data(), text().size());
  return mToken;
}

bool ParserZRT::getToken() {
  mType = mTokenizer->next();
  return mType != Token::TOKEN_ERROR;
}

bool ParserZRT::parseHeader() {
  mVersion = 0;
  mEncoding.clear();
  if (!getToken() || mType != Token::TOKEN_IDENTIFIER || text() != "ZRX") {
    zr::Log::error("'ZRX' header not found!\n");
    return false;
  }
  if (!getToken() || mType != Token::TOKEN_IDENTIFIER || text() != "version") return false;
  if (!getToken() || mType != Token::TOKEN_EQUALS) return false;
  if (!getToken() || mType != Token::TOKEN_INTEGER) return false;
  int64_t version = 0;
  if (toInteger(text(), version) && version >= 0 &&
      version <= std::numeric_limits<uint16_t>::max()) {
    mVersion = static_cast<uint16_t>(version);
  }
  if (!getToken() || mType != Token::TOKEN_IDENTIFIER || text() != "encoding") return false;
  if (!getToken() || mType != Token::TOKEN_EQUALS) return false;
  if (!getToken() || mType != Token::TOKEN_IDENTIFIER || text() != "ascii") return false;
  mEncoding = "ascii";
  return true;
}

ZRX_NOINLINE void ParserZRT::logParseError() {
  if (!text().empty()) {
    zr::Log::error(zr::Say("Line %n : parse error at '%s'.\n")
                   << mTokenizer->lineNumber() << zr::messageText(text()));
  } else {
    zr::Log::error(zr::Say("Line %n : parse error.\n") << mTokenizer->lineNumber());
  }
}

bool ParserZRT::parse() {
  const CloseFile closeFile(mTokenizer->file());
  mMetadata.clear();
  forgetRecords();
  if (!parseHeader()) {
    zr::Log::error(zr::Say("Line %n : error parsing ZRT header at '%s'.\n")
                   << mTokenizer->lineNumber() << zr::messageText(text()));
    return false;
  }
  if (mVersion != kFormatVersion) {
    zr::Log::error("ZRX version not supported.\n");
    return false;
  }
  for (;;) {
    const bool read = getToken();
    if (!read || mType == Token::TOKEN_EOF) {
      if (!read && mTokenizer->errorLeftToCaller()) logParseError();
      if (!read) abandonRead(nullptr);
      parseMetadata();
      return read;
    }
    if (mType != Token::TOKEN_TAG) {
      zr::Log::error(zr::Say("Line %n : parse error at '%s'.\n")
                     << mTokenizer->lineNumber() << zr::messageText(text()));
      abandonRead(nullptr);
      return false;
    }
    mPendingTag.assign(text().data(), text().size());
    setReadingMetadata(mPendingTag == "<Metadata>");
    if (!getToken() || mType != Token::TOKEN_LEFT_BRACE) {
      zr::Log::error(zr::Say("Line %n : parse error at '%s'.\n")
                     << mTokenizer->lineNumber() << zr::messageText(text()));
      abandonRead(nullptr);
      return false;
    }
    zr::ref<ZRXStructure> structure = new ZRXStructure(nullptr, 0);
    structure->setLineNumber(mTokenizer->lineNumber());
    recordTopLevel(structure.get());
    recordStructure(structure.get());
    mDepth = 0;
    if (!parseStructure(structure.get())) {
      logParseError();
      abandonRead(&structure);
      return false;
    }
    mStructures.push_back(std::move(structure));
  }
}

void ParserZRT::takePendingTag(ZRXTaggedValue* node) {
  if (mPendingTag.empty()) return;
  node->setTag(mTexts.get(mPendingTag));
  mPendingTag.clear();
}

bool ParserZRT::setPendingTag() {
  if (!mPendingTag.empty()) return false;
  mPendingTag.assign(text().data(), text().size());
  return true;
}

ZRX_NOINLINE bool ParserZRT::enterLevel() {
  if (++mDepth <= mMaxDepth) return true;
  zr::Log::error(zr::Say("Line %n : nesting deeper than %n levels of structures and lists.\n")
                 << mTokenizer->lineNumber() << mMaxDepth);
  return false;
}

namespace {

// The scratch room of one nesting level: a structure's entries or a list's elements gather there
// while the node is read, and move into the node once it is complete, so each node allocates its
// storage once and at its exact size.
template <class Item>
class Gathering {
 public:
  Gathering(std::deque<std::vector<Item>>& stacks, int depth, NodeVector<Item>& node)
      : mItems(level(stacks, depth)), mNode(node) {}
  // What a failed read gathered goes to the node too, so that dropping the failed document frees
  // it with any cycles its links made.
  ~Gathering() { moveIntoNode(); }
  Gathering(const Gathering&) = delete;
  Gathering& operator=(const Gathering&) = delete;

  std::vector<Item>& items() { return mItems; }
  void moveIntoNode() {
    mNode.reserve(mNode.size() + mItems.size());
    for (Item& item : mItems) mNode.push_back(std::move(item));
    mItems.clear();
  }

 private:
  // A deque: growing it for a deeper level leaves the rooms of the outer levels where they are.
  static std::vector<Item>& level(std::deque<std::vector<Item>>& stacks, int depth) {
    const auto at = static_cast<size_t>(depth);
    if (stacks.size() <= at) stacks.resize(at + 1);
    return stacks[at];
  }

  std::vector<Item>& mItems;
  NodeVector<Item>& mNode;
};

}  // namespace

bool ParserZRT::parseStructure(ZRXStructure* object) {
  const LevelGuard level(mDepth);
  if (!enterLevel()) return false;
  takePendingTag(object);
  Gathering<ZRXStructure::KeyValue> gathering(mEntryStacks, mDepth, object->value());
  std::vector<ZRXStructure::KeyValue>& entries = gathering.items();
  for (;;) {
    if (!getToken()) return false;
    if (mType == Token::TOKEN_RIGHT_BRACE) {
      gathering.moveIntoNode();
      return true;
    }
    if (mType != Token::TOKEN_IDENTIFIER) return false;
    const std::string_view key = text();
    if (key == "ID") {
      const std::string& id = object->uid();
      if (!id.empty() && id != "#NULL") {
        zr::Log::error("ID already set.\n");
        return false;
      }
      if (!getToken() || mType != Token::TOKEN_EQUALS) return false;
      if (!getToken() || mType != Token::TOKEN_ID) return false;
      object->setID(text());
      declareWhileReading(object);
      continue;
    }
    if (isIDKeyInOtherCase(key)) return false;
    entries.emplace_back();
    // Only this level's entries grow while the reference is in use; nested steps gather theirs
    // at their own level.
    ZRXStructure::KeyValue& entry = entries.back();
    entry.setKey(mTexts.get(key));
    if (!getToken() || mType != Token::TOKEN_EQUALS) return false;
    if (!getToken()) return false;
    entry.value().setLineNumber(mTokenizer->lineNumber());
    if (mType == Token::TOKEN_TAG) {
      if (!setPendingTag()) return false;
      if (!getToken()) return false;
    }
    mValueStructure = object;
    mValueList = nullptr;
    mValueIndex = entries.size() - 1;
    if (!parseValue(entry.value())) return false;
  }
}

bool ParserZRT::parseList(ZRXList* list) {
  const LevelGuard level(mDepth);
  if (!enterLevel()) return false;
  takePendingTag(list);
  Gathering<ZRXValue> gathering(mElementStacks, mDepth, list->value());
  std::vector<ZRXValue>& elements = gathering.items();
  for (;;) {
    if (!getToken()) return false;
    if (mType == Token::TOKEN_RIGHT_BRACKET) {
      if (mPendingTag.empty()) {
        gathering.moveIntoNode();
        return true;
      }
      logDanglingTag(mTokenizer->lineNumber(), mPendingTag);
      return false;
    }
    if (mType == Token::TOKEN_TAG) {
      // A tag is its own item and applies to the next one.
      if (!setPendingTag()) return false;
      continue;
    }
    elements.emplace_back();
    ZRXValue& value = elements.back();
    value.setLineNumber(mTokenizer->lineNumber());
    mValueList = list;
    mValueIndex = elements.size() - 1;
    if (!parseValue(value)) return false;
  }
}

bool ParserZRT::parseValue(ZRXValue& value) {
  switch (mType) {
    case Token::TOKEN_LEFT_BRACE: {
      ZRXStructure* structure = value.setStructure(new ZRXStructure(nullptr, 0));
      structure->setLineNumber(mTokenizer->lineNumber());
      recordStructure(structure);
      return parseStructure(structure);
    }
    case Token::TOKEN_LEFT_BRACKET: {
      ZRXList* list = value.setList(new ZRXList(nullptr, 0));
      list->setLineNumber(mTokenizer->lineNumber());
      return parseList(list);
    }
    case Token::TOKEN_LEFT_PAREN:
      return parseArrayValue(value);
    case Token::TOKEN_RAWTEXT_OPEN:
      return parseRawtextValue(value);
    default:
      break;
  }
  if (!mPendingTag.empty()) return false;  // only nodes take a tag
  switch (mType) {
    case Token::TOKEN_STRING:
      value.setString(text());
      return true;
    case Token::TOKEN_IDENTIFIER:
      value.setIdentifier(text());
      return true;
    case Token::TOKEN_ID: {
      const bool linked = linkWhileReading(value, text());
      if (!linked) value.setID(text());
      // The value stands where its owner's loop put the owner and index.
      if (mValueList) {
        recordIDValue(mValueList, mValueIndex, linked);
      } else {
        recordIDValue(mValueStructure, mValueIndex, linked);
      }
      return true;
    }
    case Token::TOKEN_BOOLEAN:
      value.setBool(text() == "true");
      return true;
    case Token::TOKEN_INTEGER: {
      int64_t number = 0;
      if (!currentInteger(number)) {
        logIntegerRange(mTokenizer->lineNumber(), text());
        return false;
      }
      value.setInteger(number);
      return true;
    }
    case Token::TOKEN_REAL: {
      double number = 0.0;
      if (!currentReal(number)) return false;
      value.setReal(number);
      return true;
    }
    default:
      return false;
  }
}

ZRX_NOINLINE bool ParserZRT::parseArrayValue(ZRXValue& value) {
  const int line = mTokenizer->lineNumber();
  zr::ref<ZRXArray> arr;
  if (!parseArray(arr)) return false;
  arr->setLineNumber(line);
  value.setArray(arr.get());
  return true;
}

ZRX_NOINLINE bool ParserZRT::parseRawtextValue(ZRXValue& value) {
  const int line = mTokenizer->lineNumber();
  if (!getToken() || mType != Token::TOKEN_RAWTEXT) return false;
  ZRXRawtextBlock* block = value.setRawtextBlock(new ZRXRawtextBlock());
  takePendingTag(block);
  block->setLineNumber(line);
  block->value().assign(text().data(), text().size());
  return getToken() && mType == Token::TOKEN_RAWTEXT_CLOSE;
}

bool ParserZRT::currentReal(double& out) const {
  uint64_t digits = 0;
  int scale = 0;
  bool negative = false;
  if (mTokenizer->simpleNumber(&digits, &scale, &negative) &&
      fromDigits(digits, scale, negative, out))
    return true;
  return toReal(text(), out);
}

bool ParserZRT::currentInteger(int64_t& out) const {
  uint64_t digits = 0;
  int scale = 0;
  bool negative = false;
  // Up to 18 digits always fit; more go through the checked conversion.
  if (mTokenizer->simpleNumber(&digits, &scale, &negative) && text().size() <= 19 &&
      digits < 1000000000000000000ull) {
    out = negative ? -static_cast<int64_t>(digits) : static_cast<int64_t>(digits);
    return true;
  }
  return toInteger(text(), out);
}

bool ParserZRT::parseArray(zr::ref<ZRXArray>& arr) {
  // Whenever this returns with an array, a pending tag becomes the array's.
  struct ConsumeTag {
    ParserZRT* parser;
    zr::ref<ZRXArray>& arr;
    ~ConsumeTag() {
      if (arr) parser->takePendingTag(arr.get());
    }
  } consumeTag{this, arr};

  if (!getToken()) return false;
  if (mType == Token::TOKEN_RIGHT_PAREN) {
    arr = new ZRXArrayInteger();
    return true;
  }
  if (mType == Token::TOKEN_INTEGER) {
    ZRXArrayInteger* integers = new ZRXArrayInteger();
    arr = integers;
    // Gathered in the parser's scratch room, then moved in at the exact size.
    std::vector<int64_t>& values = mIntegerScratch;
    values.clear();
    for (;;) {
      if (mType == Token::TOKEN_RIGHT_PAREN) {
        zr::reserveLarge(integers->value(), values.size());
        integers->value().assign(values.begin(), values.end());
        return true;
      }
      if (mType != Token::TOKEN_INTEGER) return false;
      int64_t number = 0;
      if (!currentInteger(number)) {
        logIntegerRange(mTokenizer->lineNumber(), text());
        return false;
      }
      values.push_back(number);
      mTokenizer->readPlainNumbers(values);
      if (!getToken()) return false;
    }
  }
  if (mType == Token::TOKEN_REAL) {
    ZRXArrayReal* reals = new ZRXArrayReal();
    arr = reals;
    std::vector<double>& values = mRealScratch;
    values.clear();
    for (;;) {
      if (mType == Token::TOKEN_RIGHT_PAREN) {
        zr::reserveLarge(reals->value(), values.size());
        reals->value().assign(values.begin(), values.end());
        return true;
      }
      if (mType != Token::TOKEN_INTEGER && mType != Token::TOKEN_REAL) return false;
      double number = 0.0;
      if (!currentReal(number)) return false;
      values.push_back(number);
      mTokenizer->readPlainNumbers(values);
      if (!getToken()) return false;
    }
  }
  return false;
}

}  // namespace zrX
