#include "zrX/ZRTTokenizer.hpp"

#include <cstring>

#include "zrCore/Check.hpp"
#include "zrCore/Log.hpp"
#include "zrCore/Memory.hpp"

namespace zr {

// The template's runtime type members by hand: the template head holds a comma, which the
// ZR_DEFINE_TYPE_TEMPLATE macro cannot take.
template <class Element_Type, int Chunk_Size>
const char* BufferedStream<Element_Type, Chunk_Size>::Name() {
  return "zr::BufferedStream<Element_Type, Chunk_Size>";
}
template <class Element_Type, int Chunk_Size>
const TypeInfo& BufferedStream<Element_Type, Chunk_Size>::Type() {
  static const TypeInfo class_type(Name());
  return class_type;
}
template <class Element_Type, int Chunk_Size>
const char* BufferedStream<Element_Type, Chunk_Size>::className() const {
  return Name();
}
template <class Element_Type, int Chunk_Size>
const TypeInfo& BufferedStream<Element_Type, Chunk_Size>::classType() const {
  return Type();
}
template <class Element_Type, int Chunk_Size>
bool BufferedStream<Element_Type, Chunk_Size>::isOfType(const TypeInfo& type) const {
  return type == Type() || Object::isOfType(type);
}

template <class Element_Type, int Chunk_Size>
int BufferedStream<Element_Type, Chunk_Size>::refill() {
  if (!openFile()) return 0;
  mChunkPos = 0;
  const int64_t bytes =
      mFile->read(mChunk.data(), static_cast<int64_t>(sizeof(Element_Type)) * Chunk_Size);
  mChunkSize =
      bytes > 0 ? static_cast<int32_t>(bytes / static_cast<int64_t>(sizeof(Element_Type))) : 0;
  return mChunkSize;
}

template class BufferedStream<char, zrX::kZRTChunkSize>;

}  // namespace zr

namespace zrX {

using TokenizerStream = zr::BufferedStream<char, kZRTChunkSize>;
ZR_DEFINE_TYPE(ZRTTokenizer, TokenizerStream, "zr::ZRTTokenizer")

namespace {

using Token = ZRTToken;

// Character classes by table: the scanners test one byte at a time in their inner loops.
enum : uint8_t { kWord = 1, kDigit = 2, kBlank = 4, kLineEnd = 8, kStringStop = 16 };

struct CharClasses {
  uint8_t bits[256] = {};
  constexpr CharClasses() {
    for (int c = 'a'; c <= 'z'; ++c) bits[c] |= kWord;
    for (int c = 'A'; c <= 'Z'; ++c) bits[c] |= kWord;
    for (int c = '0'; c <= '9'; ++c) bits[c] |= kWord | kDigit;
    bits[static_cast<int>('_')] |= kWord;
    bits[static_cast<int>(' ')] |= kBlank;
    bits[static_cast<int>('\t')] |= kBlank;
    bits[static_cast<int>('\n')] |= kLineEnd | kStringStop;
    bits[static_cast<int>('\r')] |= kLineEnd | kStringStop;
    bits[static_cast<int>('"')] |= kStringStop;
    bits[static_cast<int>('\\')] |= kStringStop;
  }
};
constexpr CharClasses kClasses;

bool is(char c, uint8_t cls) { return (kClasses.bits[static_cast<unsigned char>(c)] & cls) != 0; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLineEnd(char c) { return c == '\n' || c == '\r'; }
// A character as the messages show it: a line end of any kind is an LF.
char folded(char c) { return isLineEnd(c) ? '\n' : c; }

void logLine(const char* format, int line) { zr::Log::error(zr::Say(format) << line); }
// `format` quotes the character with "%s": the messages show a control byte or a byte from
// 0x7F up as an escape, so that they stay plain lines of text.
void logLineChar(const char* format, int line, char c) {
  zr::Log::error(zr::Say(format) << line << zr::messageText(c));
}

}  // namespace

ZRTTokenizer::ZRTTokenizer() = default;

// Window -----------------------------------------------------------------------------------------

namespace {
// The least room a read gets at the end of a buffer that has grown to the rest of the file.
constexpr size_t kTailRoom = 4096;
}  // namespace

bool ZRTTokenizer::more() {
  if (!mStarted) {
    mStarted = true;
    if (!openFile()) {
      markEnd();
      return false;
    }
    zr::VirtualFile* input = file();
    const uint8_t* content = input->contentInMemory();
    const int64_t size = input->size();
    const int64_t at = input->position();
    if (content && size >= at) {
      // The file's own bytes are the window: nothing is copied.
      mInMemory = true;
      mWindow = reinterpret_cast<const char*>(content) + at;
      mPos = mStart = 0;
      mEnd = static_cast<size_t>(size - at);
      markEnd();
      return mEnd > 0;
    }
  }
  if (mInMemory || atEnd()) return false;
  // Keep the token being read, [mStart, mEnd), at the front; read the next chunk after it.
  if (mStart > 0) {
    std::memmove(mBuffer.get(), mBuffer.get() + mStart, mEnd - mStart);
    mPos -= mStart;
    mEnd -= mStart;
    mStart = 0;
  }
  // Below a chunk of room the buffer grows, except for the read that finds the file's end.
  if (mBufferSize - mEnd < kTailRoom || (mBufferSize - mEnd < static_cast<size_t>(kZRTChunkSize) &&
                                         mEnd < 4 * static_cast<size_t>(kZRTChunkSize))) {
    size_t room = std::max(mBufferSize * 2, mEnd + kZRTChunkSize);
    // A token that spans several chunks may run on to the end of the file (a big raw text block,
    // or a hostile unterminated string): room for the rest of the file at once, and never more,
    // so a token costs one more reallocation and no more memory than the file. The room is left
    // uninitialised: its pages cost memory only as the file's bytes arrive in them.
    const int64_t size = file()->size();
    const int64_t position = file()->position();
    if (size >= position && mEnd >= 4 * static_cast<size_t>(kZRTChunkSize)) {
      const size_t rest = static_cast<size_t>(size - position);
      room = mEnd + rest + kTailRoom;  // the tail: the read that finds the end needs no more
    }
    std::unique_ptr<char[]> grown(new char[room]);
    if (mEnd > 0) std::memcpy(grown.get(), mBuffer.get(), mEnd);
    mBuffer = std::move(grown);
    mBufferSize = room;
  }
  mWindow = mBuffer.get();
  const size_t want = std::min(mBufferSize - mEnd, static_cast<size_t>(kZRTChunkSize));
  const int64_t got = file()->read(mBuffer.get() + mEnd, static_cast<int64_t>(want));
  if (got <= 0) {
    markEnd();
    return false;
  }
  mEnd += static_cast<size_t>(got);
  return true;
}

void ZRTTokenizer::skipLineEnd() {
  const char first = mWindow[mPos++];
  char next;
  if (peek(next) && isLineEnd(next) && next != first) ++mPos;  // LF CR and CR LF are one
}

bool ZRTTokenizer::readChar(char& c) {
  if (!peek(c)) return false;
  if (isLineEnd(c)) {
    skipLineEnd();
    c = '\n';
  } else {
    ++mPos;
  }
  return true;
}

void ZRTTokenizer::takeWord() {
  for (;;) {
    while (mPos < mEnd && is(mWindow[mPos], kWord)) ++mPos;
    if (mPos < mEnd || !more()) return;
  }
}

ZRTToken::EType ZRTTokenizer::fixed(const char* text, ZRTToken::EType type) {
  setScratch(text);
  return type;
}

// Tokens -----------------------------------------------------------------------------------------

bool ZRTTokenizer::getToken(ZRTToken& token) {
  const ZRTToken::EType type = next();
  token.mType = type;
  token.mText.assign(mText.data(), mText.size());
  return type != Token::TOKEN_ERROR;
}

bool ZRTTokenizer::getRawtextBlock(ZRTToken& token) {
  mRawtextPending = true;
  return getToken(token);
}

ZRTToken::EType ZRTTokenizer::next() {
  mInScratch = false;
  mExplicitView = false;
  mErrorLeftToCaller = false;
  const ZRTToken::EType type = mRawtextPending ? scanRawtextBlock() : scanToken();
  if (mInScratch) {
    mText = mScratch;
  } else if (mExplicitView) {
    mText = std::string_view(mWindow + mViewFrom, mViewTo - mViewFrom);
  } else {
    mText = std::string_view(mWindow + mStart, mPos - mStart);
  }
  return type;
}

ZRTToken::EType ZRTTokenizer::scanToken() {
  char c;
  for (;;) {
    mStart = mPos;
    if (!peek(c)) return Token::TOKEN_EOF;
    if (is(c, kBlank)) {
      ++mPos;
      while (mPos < mEnd && is(mWindow[mPos], kBlank)) ++mPos;
    } else if (isLineEnd(c)) {
      skipLineEnd();
      newLine();
    } else if (c == '/') {
      ++mPos;
      if (!skipComment()) return fixed("", Token::TOKEN_ERROR);
    } else {
      break;
    }
  }
  mStart = mPos++;  // `c` is the token's first character

  switch (c) {
    case '"':
      return scanString();
    case '#':
      takeWord();
      if (mPos - mStart == 2 && mWindow[mStart + 1] == '_') {
        logLine("Line %n : illegal id '#_' found.\n", mLine);
        return Token::TOKEN_ERROR;
      }
      return Token::TOKEN_ID;
    case '(':
      return Token::TOKEN_LEFT_PAREN;
    case ')':
      return Token::TOKEN_RIGHT_PAREN;
    case '[':
      return Token::TOKEN_LEFT_BRACKET;
    case ']':
      return Token::TOKEN_RIGHT_BRACKET;
    case '}':
      return Token::TOKEN_RIGHT_BRACE;
    case '=':
      return Token::TOKEN_EQUALS;
    case '{': {
      char next;
      if (peek(next) && next == '<') {
        ++mPos;
        return scanRawtextOpen();
      }
      return Token::TOKEN_LEFT_BRACE;
    }
    case '>': {
      char next;
      if (!peek(next)) {
        logLine("Line %n : unexpected end of file.\n", mLine);
        return fixed("", Token::TOKEN_ERROR);
      }
      if (next != '}') {
        logLineChar("Line %n : expected '}' instead of '%s' after '>'.\n", mLine, folded(next));
        return fixed("", Token::TOKEN_ERROR);
      }
      ++mPos;
      return Token::TOKEN_RAWTEXT_CLOSE;
    }
    case '<':
      return scanTag();
    default:
      break;
  }

  if (isLetter(c) || c == '_') {
    takeWord();
    const size_t length = mPos - mStart;
    const char* text = mWindow + mStart;
    if (length == 1 && text[0] == '_') {
      zr::Log::error(zr::Say("Line %n : unexpected character '_'.\n") << mLine);
      return Token::TOKEN_ERROR;
    }
    if ((length == 4 && std::memcmp(text, "true", 4) == 0) ||
        (length == 5 && std::memcmp(text, "false", 5) == 0)) {
      return Token::TOKEN_BOOLEAN;
    }
    return Token::TOKEN_IDENTIFIER;
  }
  if (isDigit(c) || c == '.' || c == '+' || c == '-') return scanNumber();

  logLineChar("Line %n : unexpected character '%s'.\n", mLine, c);
  return fixed("", Token::TOKEN_ERROR);
}

// Called after a '/' between tokens: skips one comment, counting its line ends.
bool ZRTTokenizer::skipComment() {
  char c;
  if (!peek(c)) {
    logLine("Line %n : unexpected end of file in comment.\n", mLine);
    return false;
  }
  if (c == '/') {
    // Up to and including the line end; the end of the input also ends it.
    ++mPos;
    for (;;) {
      mStart = mPos;  // nothing of a comment needs to stay in the window
      while (mPos < mEnd && !isLineEnd(mWindow[mPos])) ++mPos;
      if (mPos < mEnd) {
        skipLineEnd();
        newLine();
        return true;
      }
      if (!more()) return true;
    }
  }
  if (c == '*') {
    ++mPos;
    bool star = false;
    for (;;) {
      mStart = mPos;
      if (!peek(c)) {
        logLine("Line %n : unexpected end of file in comment.\n", mLine);
        return false;
      }
      if (isLineEnd(c)) {
        skipLineEnd();
        newLine();
        star = false;
        continue;
      }
      ++mPos;
      if (star && c == '/') return true;
      star = c == '*';
    }
  }
  logLineChar("Line %n : unexpected character '%s' after '/'.\n", mLine, folded(c));
  return false;
}

ZRTToken::EType ZRTTokenizer::scanString() {
  // Without escapes the text is the window between the quotes.
  char c;
  for (;;) {
    while (mPos < mEnd && !is(mWindow[mPos], kStringStop)) ++mPos;
    if (mPos < mEnd || !more()) break;
  }
  if (mPos == mEnd) {
    logLine("Line %n : end of file found before end of string, did you forget a \"?.\n", mLine);
    setView(mStart + 1, mPos);
    return Token::TOKEN_ERROR;
  }
  if (mWindow[mPos] == '"') {
    setView(mStart + 1, mPos);
    ++mPos;
    return Token::TOKEN_STRING;
  }
  // An escape or a line end: gather the text in the scratch buffer from here on.
  mScratch.assign(mWindow + mStart + 1, mPos - mStart - 1);
  mInScratch = true;
  for (;;) {
    mStart = mPos;
    if (!peek(c)) {
      logLine("Line %n : end of file found before end of string, did you forget a \"?.\n", mLine);
      return Token::TOKEN_ERROR;
    }
    if (c == '"') {
      ++mPos;
      return Token::TOKEN_STRING;
    }
    if (isLineEnd(c)) {
      logLine("Line %n : end of line found before end of string, did you forget a \"?.\n", mLine);
      return Token::TOKEN_ERROR;
    }
    if (c == '\\') {
      ++mPos;
      char next;
      if (!peek(next)) {
        mScratch += '\\';
        continue;  // the next round meets the end and reports it
      }
      char escaped = 0;
      switch (next) {
        case '"':
          escaped = '"';
          break;
        case '\\':
          escaped = '\\';
          break;
        case 'b':
          escaped = '\b';
          break;
        case 'f':
          escaped = '\f';
          break;
        case 'r':
          escaped = '\r';
          break;
        case 'n':
          escaped = '\n';
          break;
        case 't':
          escaped = '\t';
          break;
        default:
          // Not an escape: the backslash stands for itself, the character is read as usual.
          mScratch += '\\';
          continue;
      }
      ++mPos;
      mScratch += escaped;
      continue;
    }
    const size_t run = mPos;
    while (mPos < mEnd && !is(mWindow[mPos], kStringStop)) ++mPos;
    mScratch.append(mWindow + run, mPos - run);
  }
}

// After "{<": only blanks may follow on the line.
ZRTToken::EType ZRTTokenizer::scanRawtextOpen() {
  char last = '<';
  char c;
  for (;;) {
    mStart = mPos;
    if (!peek(c)) {
      setScratch(std::string_view(&last, 1));
      mErrorLeftToCaller = true;
      return Token::TOKEN_ERROR;
    }
    if (isLineEnd(c)) {
      skipLineEnd();
      newLine();
      mRawtextPending = true;
      return fixed("{<", Token::TOKEN_RAWTEXT_OPEN);
    }
    ++mPos;
    if (c != ' ' && c != '\t' && c != '\b' && c != '\v' && c != '\f') {
      setScratch(std::string_view(&c, 1));
      mErrorLeftToCaller = true;
      return Token::TOKEN_ERROR;
    }
    last = c;
  }
}

ZRTToken::EType ZRTTokenizer::scanTag() {
  char c;
  for (;;) {
    while (mPos < mEnd && (is(mWindow[mPos], kWord) || mWindow[mPos] == ':')) ++mPos;
    if (!peek(c)) {
      mScratch.assign(mWindow + mStart, mPos - mStart);
      mScratch += '>';
      mInScratch = true;
      logLine("Line %n : unexpected end of file while reading object header.\n", mLine);
      return Token::TOKEN_ERROR;
    }
    if (c == '>') {
      ++mPos;
      return Token::TOKEN_TAG;
    }
    if (!is(c, kWord) && c != ':') {
      logLineChar("Line %n : unexpected character '%s'.\n", mLine, folded(c));
      return Token::TOKEN_ERROR;
    }
  }
}

// Integers and reals. States: 0 a leading zero, 1 after the sign, 2 integer digits, 3 fraction
// digits, 4 after the point, 5 after the exponent mark, 6 after the exponent sign, 7 exponent
// digits. numberStep gives the state after `c`, kNumberEnd when the number is complete before `c`
// (which is read again), kNumberError when `c` cannot follow.
namespace {

constexpr int kNumberEnd = -1;
constexpr int kNumberError = -2;

int numberStep(int state, char c) {
  const bool digit = isDigit(c);
  switch (state) {
    case 0:
      return c == '.' ? 4 : kNumberEnd;
    case 1:
      return c == '0' ? 0 : digit ? 2 : c == '.' ? 4 : kNumberError;
    case 2:
      return digit ? 2 : c == '.' ? 4 : kNumberEnd;
    case 3:
      return digit ? 3 : (c == 'e' || c == 'E') ? 5 : kNumberEnd;
    case 4:
      return digit ? 3 : kNumberError;
    case 5:
      return (c == '+' || c == '-') ? 6 : kNumberError;
    case 6:
      return digit ? 7 : kNumberError;
    default:
      return digit ? 7 : kNumberEnd;
  }
}

}  // namespace

ZRTToken::EType ZRTTokenizer::scanNumber() {
  mSimpleNumber = false;
  if (scanPlainNumber()) return mPlainIsReal ? Token::TOKEN_REAL : Token::TOKEN_INTEGER;
  const char first = mWindow[mStart];
  int state = first == '0' ? 0 : isDigit(first) ? 2 : first == '.' ? 4 : 1;
  char c;
  for (;;) {
    if (state == 2 || state == 3 || state == 7) {
      while (mPos < mEnd && is(mWindow[mPos], kDigit)) ++mPos;  // a run of digits keeps the state
    }
    if (!peek(c)) {
      if (state == 0 || state == 2) return Token::TOKEN_INTEGER;
      if (state == 3 || state == 7) return Token::TOKEN_REAL;
      mErrorLeftToCaller = true;
      return Token::TOKEN_ERROR;  // an unfinished number; the parser reports it
    }
    const int next = numberStep(state, folded(c));
    if (next == kNumberEnd) break;  // `c` stays unread
    if (next == kNumberError) {
      logLineChar("Line %n :unexpected character '%s'.\n", mLine, folded(c));
      return Token::TOKEN_ERROR;
    }
    ++mPos;
    state = next;
  }
  return (state == 0 || state == 2) ? Token::TOKEN_INTEGER : Token::TOKEN_REAL;
}

// The common numbers in one pass, their digits gathered on the way: "[sign] digits [. digits]"
// lying wholly in the window, followed there by a character that ends them (or by the end of the
// input). Anything else (an exponent, a cut by the window's end, a lexical error) is left to the
// state machine of scanNumber. Same tokens as the state machine: a leading zero ends an integer
// unless a point follows, a second point ends a real.
bool ZRTTokenizer::scanPlainNumber() {
  const char* const begin = mWindow + mStart;
  const char* const end = mWindow + mEnd;
  const char* p = begin;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  uint64_t digits = 0;
  const char* const integerStart = p;
  if (p < end && *p == '0') {
    ++p;
  } else {
    while (p < end && isDigit(*p)) digits = digits * 10 + static_cast<unsigned>(*p++ - '0');
  }
  const auto integerDigits = static_cast<int>(p - integerStart);
  int fractionDigits = 0;
  const bool real = p < end && *p == '.';
  if (real) {
    const char* const fractionStart = ++p;
    while (p < end && isDigit(*p)) digits = digits * 10 + static_cast<unsigned>(*p++ - '0');
    fractionDigits = static_cast<int>(p - fractionStart);
    if (fractionDigits == 0) return false;  // "1." or "." (an error, or cut by the window)
  } else if (integerDigits == 0) {
    return false;  // a sign alone
  }
  if (p == end ? !(mInMemory || atEnd()) : (real && (*p == 'e' || *p == 'E'))) return false;
  mPos = static_cast<size_t>(p - mWindow);
  mPlainIsReal = real;
  mSimpleNumber = integerDigits + fractionDigits <= 19;
  mNumberDigits = digits;
  mNumberScale = fractionDigits;
  mNumberNegative = negative;
  return true;
}

namespace {

constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr uint64_t kPlainDigitsLimit = 1000000000000000000ull;  // 18 digits
constexpr uint64_t kExactDigitsLimit = uint64_t{1} << 53;

}  // namespace

bool ZRTTokenizer::skipBlanksForNumbers() {
  while (mPos < mEnd) {
    const char c = mWindow[mPos];
    if (is(c, kBlank)) {
      ++mPos;
    } else if (c == '\n' || c == '\r') {
      if (mPos + 1 == mEnd) return false;  // the pair may continue in the next chunk
      const char next = mWindow[mPos + 1];
      mPos += (isLineEnd(next) && next != c) ? 2 : 1;
      newLine();
    } else {
      return true;
    }
  }
  return false;
}

void ZRTTokenizer::readPlainNumbers(std::vector<double>& out) {
  if (mRawtextPending) return;
  while (skipBlanksForNumbers()) {
    const char c = mWindow[mPos];
    if (!isDigit(c) && c != '-' && c != '+' && c != '.') return;
    mStart = mPos++;
    // The digits and the power of ten must both be exact doubles for one division to round
    // correctly.
    if (!scanPlainNumber() || mNumberDigits > kExactDigitsLimit || mNumberScale > 22 ||
        !mSimpleNumber) {
      mPos = mStart;
      return;
    }
    const double value = static_cast<double>(mNumberDigits) / kExactPowersOfTen[mNumberScale];
    if (out.size() == out.capacity()) zr::reserveLarge(out, 2 * out.size() + 1024);
    out.push_back(mNumberNegative ? -value : value);
  }
}

void ZRTTokenizer::readPlainNumbers(std::vector<int64_t>& out) {
  if (mRawtextPending) return;
  while (skipBlanksForNumbers()) {
    const char c = mWindow[mPos];
    if (!isDigit(c) && c != '-' && c != '+') return;
    mStart = mPos++;
    // Digits beyond 19 wrap around 64 bits: only a simple number's digits are its value.
    if (!scanPlainNumber() || mPlainIsReal || !mSimpleNumber ||
        mNumberDigits >= kPlainDigitsLimit) {
      mPos = mStart;
      return;
    }
    const auto value = static_cast<int64_t>(mNumberDigits);
    if (out.size() == out.capacity()) zr::reserveLarge(out, 2 * out.size() + 1024);
    out.push_back(mNumberNegative ? -value : value);
  }
}

ZRTToken::EType ZRTTokenizer::scanRawtextBlock() {
  mRawtextPending = false;
  mScratch.clear();
  mInScratch = true;
  char c;
  for (;;) {
    mStart = mPos;  // the text is gathered in the scratch buffer, the window need not keep it
    if (!peek(c)) {
      mErrorLeftToCaller = true;
      return Token::TOKEN_ERROR;
    }
    if (isLineEnd(c)) {
      skipLineEnd();
      newLine();
      mScratch += '\n';
      continue;
    }
    if (c == '>') {
      ++mPos;  // mStart stays on the '>', so it can be read again as the start of ">}"
      char next;
      if (!peek(next)) {
        mScratch += '>';
        continue;
      }
      if (next == '}') {
        if (mScratch.empty() || mScratch.back() != '\\') {
          mPos = mStart;  // the next token is ">}"
          return Token::TOKEN_RAWTEXT;
        }
        mScratch.back() = '>';
        mScratch += '}';
        ++mPos;
        continue;
      }
      mScratch += '>';
      continue;
    }
    const size_t run = mPos;
    while (mPos < mEnd && mWindow[mPos] != '>' && !isLineEnd(mWindow[mPos])) ++mPos;
    mScratch.append(mWindow + run, mPos - run);
  }
}

}  // namespace zrX
