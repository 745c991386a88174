#include "zrX/ZRTTokenizer.hpp"

#include <cstring>

#include "zrCore/Check.hpp"
#include "zrCore/Log.hpp"

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
  if (!mFile) return 0;
  if (!mFile->isOpen() && !mFile->open(VirtualFile::ReadOnly)) return 0;
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

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isWordChar(char c) { return isLetter(c) || isDigit(c) || c == '_'; }

void logLine(const char* format, int line) { zr::Log::error(zr::Say(format) << line); }
void logLineChar(const char* format, int line, char c) {
  zr::Log::error(zr::Say(format) << line << c);
}

}  // namespace

ZRTTokenizer::ZRTTokenizer() : mScratch(256) {}

void ZRTTokenizer::gatherWord() {
  for (;;) {
    const char* begin;
    const char* end;
    if (mUnreadCount == 0 && buffered(begin, end)) {
      // Straight from the chunk: no line end can be part of a word.
      const char* p = begin;
      while (p < end && isWordChar(*p)) ++p;
      append(begin, p);
      consumeBuffered(p);
      if (p < end) return;
      continue;  // the chunk is used up
    }
    char c;
    if (!readChar(c)) return;
    if (!isWordChar(c)) {
      unreadChar(c);
      return;
    }
    append(c);
  }
}

void ZRTTokenizer::setText(const char* text) {
  mScratchLength = 0;
  while (*text) append(*text++);
}

bool ZRTTokenizer::getToken(ZRTToken& token) {
  token.mType = ZRTToken::TOKEN_ERROR;
  if (mRawtextPending) return getRawtextBlock(token);
  mScratchLength = 0;
  ZRTToken::EType type = ZRTToken::TOKEN_ERROR;
  const bool ok = scanToken(type);
  token.mText.assign(mScratch.data(), mScratchLength);
  if (ok) token.mType = type;
  return ok;
}

bool ZRTTokenizer::scanToken(ZRTToken::EType& type) {
  char c;
  for (;;) {
    const char* begin;
    const char* end;
    if (mUnreadCount == 0 && buffered(begin, end)) {
      while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
      consumeBuffered(begin);
    }
    if (!readChar(c)) {
      type = ZRTToken::TOKEN_EOF;
      return true;
    }
    if (c == '\n') {
      newLine();
    } else if (c == '/') {
      if (!skipComment()) return false;
    } else if (c != ' ' && c != '\t') {
      break;
    }
  }

  switch (c) {
    case '"':
      return scanString(type);
    case '#':
      append('#');
      gatherWord();
      if (mScratchLength == 2 && mScratch[1] == '_') {
        logLine("Line %n : illegal id '#_' found.\n", mLine);
        return false;
      }
      type = ZRTToken::TOKEN_ID;
      return true;
    case '(':
      setText("(");
      type = ZRTToken::TOKEN_LEFT_PAREN;
      return true;
    case ')':
      setText(")");
      type = ZRTToken::TOKEN_RIGHT_PAREN;
      return true;
    case '[':
      setText("[");
      type = ZRTToken::TOKEN_LEFT_BRACKET;
      return true;
    case ']':
      setText("]");
      type = ZRTToken::TOKEN_RIGHT_BRACKET;
      return true;
    case '}':
      setText("}");
      type = ZRTToken::TOKEN_RIGHT_BRACE;
      return true;
    case '=':
      setText("=");
      type = ZRTToken::TOKEN_EQUALS;
      return true;
    case '{':
      if (!readChar(c)) {
        setText("{");
        type = ZRTToken::TOKEN_LEFT_BRACE;
        return true;
      }
      if (c == '<') return scanRawtextOpen(type);
      unreadChar(c);
      setText("{");
      type = ZRTToken::TOKEN_LEFT_BRACE;
      return true;
    case '>':
      if (!readChar(c)) {
        logLine("Line %n : unexpected end of file.\n", mLine);
        return false;
      }
      if (c != '}') {
        logLineChar("Line %n : expected '}' instead of '%c' after '>'.\n", mLine, c);
        return false;
      }
      setText(">}");
      type = ZRTToken::TOKEN_RAWTEXT_CLOSE;
      return true;
    case '<':
      return scanTag(type);
    default:
      break;
  }

  if (isLetter(c) || c == '_') {
    append(c);
    gatherWord();
    const char* text = mScratch.data();
    if (mScratchLength == 1 && text[0] == '_') {
      zr::Log::error(zr::Say("Line %n : unexpected character '_'.\n") << mLine);
      return false;
    }
    if ((mScratchLength == 4 && std::memcmp(text, "true", 4) == 0) ||
        (mScratchLength == 5 && std::memcmp(text, "false", 5) == 0)) {
      type = ZRTToken::TOKEN_BOOLEAN;
    } else {
      type = ZRTToken::TOKEN_IDENTIFIER;
    }
    return true;
  }
  if (isDigit(c) || c == '.' || c == '+' || c == '-') return scanNumber(c, type);

  logLineChar("Line %n : unexpected character '%c'.\n", mLine, c);
  return false;
}

// Called after a '/' between tokens: skips one comment, counting its line ends.
bool ZRTTokenizer::skipComment() {
  char c;
  if (!readChar(c)) {
    logLine("Line %n : unexpected end of file in comment.\n", mLine);
    return false;
  }
  if (c == '/') {
    // Up to and including the line end; the end of the input also ends it.
    while (readChar(c)) {
      if (c == '\n') {
        newLine();
        break;
      }
    }
    return true;
  }
  if (c == '*') {
    bool star = false;
    for (;;) {
      if (!readChar(c)) {
        logLine("Line %n : unexpected end of file in comment.\n", mLine);
        return false;
      }
      if (c == '\n') newLine();
      if (star && c == '/') return true;
      star = c == '*';
    }
  }
  logLineChar("Line %n : unexpected character '%c' after '/'.\n", mLine, c);
  return false;
}

bool ZRTTokenizer::scanString(ZRTToken::EType& type) {
  char c;
  for (;;) {
    if (!readChar(c)) {
      logLine("Line %n : end of file found before end of string, did you forget a \"?.\n", mLine);
      return false;
    }
    if (c == '"') {
      type = ZRTToken::TOKEN_STRING;
      return true;
    }
    if (c == '\n') {
      logLine("Line %n : end of line found before end of string, did you forget a \"?.\n", mLine);
      return false;
    }
    if (c == '\\') {
      char next;
      if (!readChar(next)) {
        append('\\');
        continue;  // the next read meets the end and reports it
      }
      switch (next) {
        case '"':
          append('"');
          break;
        case '\\':
          append('\\');
          break;
        case 'b':
          append('\b');
          break;
        case 'f':
          append('\f');
          break;
        case 'r':
          append('\r');
          break;
        case 'n':
          append('\n');
          break;
        case 't':
          append('\t');
          break;
        default:
          // Not an escape: the backslash stands for itself, the character is read as usual.
          unreadChar(next);
          append('\\');
          break;
      }
      continue;
    }
    append(c);
  }
}

// After "{<": only blanks may follow on the line.
bool ZRTTokenizer::scanRawtextOpen(ZRTToken::EType& type) {
  char c = '<';
  char last = c;
  while (readChar(c)) {
    last = c;
    if (c == '\n') {
      newLine();
      setText("{<");
      type = ZRTToken::TOKEN_RAWTEXT_OPEN;
      mRawtextPending = true;
      return true;
    }
    if (c != ' ' && c != '\t' && c != '\b' && c != '\v' && c != '\f') {
      mScratchLength = 0;
      append(c);
      return false;
    }
  }
  mScratchLength = 0;
  append(last);
  return false;
}

bool ZRTTokenizer::scanTag(ZRTToken::EType& type) {
  append('<');
  char c;
  bool ended = true;
  while (readChar(c)) {
    if (c == '>') {
      ended = false;
      break;
    }
    if (!isWordChar(c) && c != ':') {
      logLineChar("Line %n : unexpected character '%c'.\n", mLine, c);
      return false;
    }
    append(c);
  }
  append('>');
  if (ended) {
    logLine("Line %n : unexpected end of file while reading object header.\n", mLine);
    return false;
  }
  type = ZRTToken::TOKEN_TAG;
  return true;
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

bool ZRTTokenizer::scanNumber(char first, ZRTToken::EType& type) {
  append(first);
  int state = first == '0' ? 0 : isDigit(first) ? 2 : first == '.' ? 4 : 1;
  char c;
  int next;
  for (;;) {
    const char* begin;
    const char* end;
    if (mUnreadCount == 0 && buffered(begin, end)) {
      // Straight from the chunk, as long as no line end (which needs folding) comes.
      const char* p = begin;
      next = kNumberEnd;
      while (p < end && (next = numberStep(state, *p)) >= 0) {
        state = next;
        ++p;
        if (state == 2 || state == 3 || state == 7) {
          while (p < end && isDigit(*p)) ++p;  // a run of digits keeps the state
        }
      }
      append(begin, p);
      consumeBuffered(p);
      if (p == end) continue;  // the chunk is used up
      c = *p;
      if (c != '\n' && c != '\r') {
        if (next == kNumberEnd) break;  // `c` stays unread
        consumeBuffered(p + 1);
        logLineChar("Line %n :unexpected character '%c'.\n", mLine, c);
        return false;
      }
    }
    if (!readChar(c)) {
      if (state == 0 || state == 2) {
        type = ZRTToken::TOKEN_INTEGER;
        return true;
      }
      if (state == 3 || state == 7) {
        type = ZRTToken::TOKEN_REAL;
        return true;
      }
      return false;  // an unfinished number; the parser reports it
    }
    next = numberStep(state, c);
    if (next >= 0) {
      append(c);
      state = next;
      continue;
    }
    if (next == kNumberError) {
      logLineChar("Line %n :unexpected character '%c'.\n", mLine, c);
      return false;
    }
    unreadChar(c);
    break;
  }
  type = (state == 0 || state == 2) ? ZRTToken::TOKEN_INTEGER : ZRTToken::TOKEN_REAL;
  return true;
}

bool ZRTTokenizer::getRawtextBlock(ZRTToken& token) {
  mRawtextPending = false;
  token.mType = ZRTToken::TOKEN_ERROR;
  std::string& text = token.mText;
  text.clear();
  char c;
  for (;;) {
    if (!readChar(c)) return false;
    if (c == '\n') newLine();
    if (c == '>') {
      char next;
      if (!readChar(next)) {
        text += '>';
        continue;
      }
      if (next == '}') {
        if (text.empty() || text.back() != '\\') {
          unreadChar('}');
          unreadChar('>');
          token.mType = ZRTToken::TOKEN_RAWTEXT;
          return true;
        }
        text.back() = '>';
        text += '}';
        continue;
      }
      unreadChar(next);
      text += '>';
      continue;
    }
    text += c;
  }
}

}  // namespace zrX
