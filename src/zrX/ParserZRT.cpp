#include "zrX/ParserZRT.hpp"

#include <charconv>
#include <cstdint>
#include <limits>

#include "zrCore/Log.hpp"

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

// The whole token text as a signed 64-bit integer; false when it is out of range.
bool toInteger(const std::string& text, int64_t& out) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin != end && *begin == '+') ++begin;  // from_chars takes no plus sign
  const std::from_chars_result result = std::from_chars(begin, end, out);
  return result.ec == std::errc() && result.ptr == end;
}

// A real whose magnitude lies beyond the double range: an infinity when its first significant
// digit stands at a non-negative power of ten, zero otherwise (strtod's results). `text` has the
// shape of a real token.
ZRX_NOINLINE double outOfRange(const std::string& text) {
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

// The token text (an integer or a real) as a double, locale-independent and exact like strtod.
bool toReal(const std::string& text, double& out) {
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

bool isIDKeyInOtherCase(const std::string& key) {
  return key == "Id" || key == "iD" || key == "id";
}

ZRX_NOINLINE void logIntegerRange(int line, const std::string& text) {
  zr::Log::error(zr::Say("Line %n : integer '%s' is out of the 64-bit range.\n") << line << text);
}

ZRX_NOINLINE void logDanglingTag(int line, const std::string& tag) {
  zr::Log::error(zr::Say("Line %n : tag '%s' is not followed by a value.\n") << line << tag);
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

bool ParserZRT::parseHeader() {
  mVersion = 0;
  mEncoding.clear();
  if (!getToken() || mToken.mType != Token::TOKEN_IDENTIFIER || mToken.mText != "ZRX") {
    zr::Log::error("'ZRX' header not found!\n");
    return false;
  }
  if (!getToken() || mToken.mType != Token::TOKEN_IDENTIFIER || mToken.mText != "version")
    return false;
  if (!getToken() || mToken.mType != Token::TOKEN_EQUALS) return false;
  if (!getToken() || mToken.mType != Token::TOKEN_INTEGER) return false;
  int64_t version = 0;
  if (toInteger(mToken.mText, version) && version >= 0 &&
      version <= std::numeric_limits<uint16_t>::max()) {
    mVersion = static_cast<uint16_t>(version);
  }
  if (!getToken() || mToken.mType != Token::TOKEN_IDENTIFIER || mToken.mText != "encoding")
    return false;
  if (!getToken() || mToken.mType != Token::TOKEN_EQUALS) return false;
  if (!getToken() || mToken.mType != Token::TOKEN_IDENTIFIER || mToken.mText != "ascii")
    return false;
  mEncoding = "ascii";
  return true;
}

bool ParserZRT::parse() {
  const CloseFile closeFile(mTokenizer->file());
  mMetadata.clear();
  forgetRecords();
  if (!parseHeader()) {
    zr::Log::error(zr::Say("Line %n : error parsing ZRT header at '%s'.\n")
                   << mTokenizer->lineNumber() << mToken.mText);
    return false;
  }
  if (mVersion != kFormatVersion) {
    zr::Log::error("ZRX version not supported.\n");
    return false;
  }
  for (;;) {
    const bool read = getToken();
    if (!read || mToken.mType == Token::TOKEN_EOF) {
      parseMetadata();
      return read;
    }
    if (mToken.mType != Token::TOKEN_TAG) {
      zr::Log::error(zr::Say("Line %n : parse error at '%s'.\n")
                     << mTokenizer->lineNumber() << mToken.mText);
      return false;
    }
    mPendingTag = mToken.mText;
    if (!getToken() || mToken.mType != Token::TOKEN_LEFT_BRACE) {
      zr::Log::error(zr::Say("Line %n : parse error at '%s'.\n")
                     << mTokenizer->lineNumber() << mToken.mText);
      return false;
    }
    zr::ref<ZRXStructure> structure = new ZRXStructure(nullptr, 0);
    structure->setLineNumber(mTokenizer->lineNumber());
    recordTopLevel(structure.get());
    recordStructure(structure.get());
    mDepth = 0;
    if (!parseStructure(structure.get())) {
      if (!mToken.mText.empty()) {
        zr::Log::error(zr::Say("Line %n : parse error at '%s'.\n")
                       << mTokenizer->lineNumber() << mToken.mText);
      } else {
        zr::Log::error(zr::Say("Line %n : parse error.\n") << mTokenizer->lineNumber());
      }
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

ZRX_NOINLINE bool ParserZRT::enterLevel() {
  if (++mDepth <= mMaxDepth) return true;
  zr::Log::error(zr::Say("Line %n : nesting deeper than %n levels of structures and lists.\n")
                 << mTokenizer->lineNumber() << mMaxDepth);
  return false;
}

bool ParserZRT::parseStructure(ZRXStructure* object) {
  const LevelGuard level(mDepth);
  if (!enterLevel()) return false;
  takePendingTag(object);
  for (;;) {
    if (!getToken()) return false;
    if (mToken.mType == Token::TOKEN_RIGHT_BRACE) return true;
    if (mToken.mType != Token::TOKEN_IDENTIFIER) return false;
    if (mToken.mText == "ID") {
      const std::string& id = object->uid();
      if (!id.empty() && id != "#NULL") {
        zr::Log::error("ID already set.\n");
        return false;
      }
      if (!getToken() || mToken.mType != Token::TOKEN_EQUALS) return false;
      if (!getToken() || mToken.mType != Token::TOKEN_ID) return false;
      object->setID(mToken.mText);
      continue;
    }
    if (isIDKeyInOtherCase(mToken.mText)) return false;
    object->value().emplace_back();
    // Only this structure's own entries grow while the reference is in use; nested steps fill
    // other nodes.
    ZRXStructure::KeyValue& entry = object->value().back();
    entry.setKey(mTexts.get(mToken.mText));
    if (!getToken() || mToken.mType != Token::TOKEN_EQUALS) return false;
    if (!getToken()) return false;
    entry.value().setLineNumber(mTokenizer->lineNumber());
    if (mToken.mType == Token::TOKEN_TAG) {
      if (!mPendingTag.empty()) return false;
      mPendingTag = mToken.mText;
      if (!getToken()) return false;
    }
    if (!parseValue(entry.value())) return false;
    if (entry.value().type() == ZRXValue::ID) recordIDValue(object, object->value().size() - 1);
  }
}

bool ParserZRT::parseList(ZRXList* list) {
  const LevelGuard level(mDepth);
  if (!enterLevel()) return false;
  takePendingTag(list);
  for (;;) {
    if (!getToken()) return false;
    if (mToken.mType == Token::TOKEN_RIGHT_BRACKET) {
      if (mPendingTag.empty()) return true;
      logDanglingTag(mTokenizer->lineNumber(), mPendingTag);
      return false;
    }
    if (mToken.mType == Token::TOKEN_TAG) {
      // A tag is its own item and applies to the next one.
      if (!mPendingTag.empty()) return false;
      mPendingTag = mToken.mText;
      continue;
    }
    list->value().emplace_back();
    ZRXValue& value = list->value().back();
    value.setLineNumber(mTokenizer->lineNumber());
    if (!parseValue(value)) return false;
    if (value.type() == ZRXValue::ID) recordIDValue(list, list->value().size() - 1);
  }
}

bool ParserZRT::parseValue(ZRXValue& value) {
  switch (mToken.mType) {
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
  switch (mToken.mType) {
    case Token::TOKEN_STRING:
      value.setString(mToken.mText);
      return true;
    case Token::TOKEN_IDENTIFIER:
      value.setIdentifier(mToken.mText);
      return true;
    case Token::TOKEN_ID:
      value.setID(mToken.mText);
      return true;
    case Token::TOKEN_BOOLEAN:
      value.setBool(mToken.mText == "true");
      return true;
    case Token::TOKEN_INTEGER: {
      int64_t number = 0;
      if (!toInteger(mToken.mText, number)) {
        logIntegerRange(mTokenizer->lineNumber(), mToken.mText);
        return false;
      }
      value.setInteger(number);
      return true;
    }
    case Token::TOKEN_REAL: {
      double number = 0.0;
      if (!toReal(mToken.mText, number)) return false;
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
  if (!getToken() || mToken.mType != Token::TOKEN_RAWTEXT) return false;
  ZRXRawtextBlock* block = value.setRawtextBlock(new ZRXRawtextBlock());
  takePendingTag(block);
  block->setLineNumber(line);
  block->value().swap(mToken.mText);
  return getToken() && mToken.mType == Token::TOKEN_RAWTEXT_CLOSE;
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
  if (mToken.mType == Token::TOKEN_RIGHT_PAREN) {
    arr = new ZRXArrayInteger();
    return true;
  }
  if (mToken.mType == Token::TOKEN_INTEGER) {
    ZRXArrayInteger* integers = new ZRXArrayInteger();
    arr = integers;
    std::vector<int64_t>& values = integers->value();
    for (;;) {
      if (mToken.mType == Token::TOKEN_RIGHT_PAREN) return true;
      if (mToken.mType != Token::TOKEN_INTEGER) return false;
      int64_t number = 0;
      if (!toInteger(mToken.mText, number)) {
        logIntegerRange(mTokenizer->lineNumber(), mToken.mText);
        return false;
      }
      values.push_back(number);
      if (!getToken()) return false;
    }
  }
  if (mToken.mType == Token::TOKEN_REAL) {
    ZRXArrayReal* reals = new ZRXArrayReal();
    arr = reals;
    std::vector<double>& values = reals->value();
    values.reserve(1024);
    for (;;) {
      if (mToken.mType == Token::TOKEN_RIGHT_PAREN) {
        // A short array gives back the unused part of its initial room, so that many small
        // arrays cost memory in proportion to the text.
        if (values.size() < values.capacity() / 2) values.shrink_to_fit();
        return true;
      }
      if (mToken.mType != Token::TOKEN_INTEGER && mToken.mType != Token::TOKEN_REAL) return false;
      double number = 0.0;
      if (!toReal(mToken.mText, number)) return false;
      values.push_back(number);
      if (!getToken()) return false;
    }
  }
  return false;
}

}  // namespace zrX
