// Reading ZRT text: zr::BufferedStream, a chunked element reader with push-back over a
// VirtualFile, and zrX::ZRTTokenizer, the lexer that turns the bytes of a ZRT file into ZRTTokens
// for ParserZRT.
//
// The stream reads its file in chunks of Chunk_Size elements, one read() call each, opening the
// file for reading when it first needs data; it never closes it (ParserZRT does). The tokenizer
// folds every line-end convention (LF, CR LF, LF CR, lone CR) into one LF, counts lines from 1,
// skips blanks and comments, and logs a line-numbered message (zr::Log::error) for each lexical
// error. After "{<" it reads the raw text block by itself on the next call. Tokens of any length
// are read whole: the characters of a token are gathered in a scratch buffer that the tokenizer
// keeps and reuses, and copied into the token's text once per token.
//
// Beyond the bare lexical rules: strings keep every byte between their quotes, NUL included; the
// end of the input inside a block comment is an error ("Line %n : unexpected end of file in
// comment.\n"); a character read again after a line end was folded never pairs with the line end
// that follows it ("a" CR CR "b" holds two line ends, like "a" LF LF "b").
//
// Ownership: the stream holds a reference on its file. A tokenizer is used by one thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "zrCore/Check.hpp"
#include "zrCore/Object.hpp"
#include "zrCore/VirtualFile.hpp"
#include "zrX/Export.hpp"
#include "zrX/RuntimeType.hpp"

namespace zr {

template <class Element_Type, int Chunk_Size>
class ZRX_API BufferedStream : public Object {
  ZR_DECLARE_TYPE()
 public:
  BufferedStream() : mChunk(Chunk_Size) {}

  // Sets the input and leaves the end state. Attach once, before the first read; `file` may be
  // open or closed (it is opened for reading when needed).
  void attachFile(VirtualFile* file) {
    mFile = file;
    mAtEnd = false;
  }
  VirtualFile* file() const { return mFile.get(); }

  // The next element: the last one pushed back first, then the file's. False at the end of the
  // input (or when the file cannot be opened), with `out` unchanged. Once the end has been met
  // the file is not read again.
  bool readElement(Element_Type& out) {
    if (!mPushBack.empty()) {
      out = mPushBack.back();
      mPushBack.pop_back();
      return true;
    }
    if (mChunkPos == mChunkSize && (mAtEnd || refill() == 0)) {
      mAtEnd = true;
      return false;
    }
    out = mChunk[static_cast<size_t>(mChunkPos++)];
    return true;
  }
  // Any number of elements may be pushed back; they come back last pushed, first read.
  void pushBack(const Element_Type& element) { mPushBack.push_back(element); }
  // The elements of the current chunk not read yet, [begin, end), when nothing is pushed back;
  // false when there are none. With consumeBuffered(upTo) a reader scans a run of elements
  // without a call per element; `upTo` lies in [begin, end].
  bool buffered(const Element_Type*& begin, const Element_Type*& end) const {
    if (!mPushBack.empty() || mChunkPos == mChunkSize) return false;
    begin = mChunk.data() + mChunkPos;
    end = mChunk.data() + mChunkSize;
    return true;
  }
  void consumeBuffered(const Element_Type* upTo) {
    mChunkPos = static_cast<int32_t>(upTo - mChunk.data());
  }
  // True once a read met the end of the file (pushed-back elements may still remain).
  bool atEnd() const { return mAtEnd; }
  // Reads the next chunk; the number of elements read, 0 when nothing could be read.
  int refill();

 private:
  ref<VirtualFile> mFile;
  std::vector<Element_Type> mPushBack;
  std::vector<Element_Type> mChunk;
  int32_t mChunkPos = 0;
  int32_t mChunkSize = 0;
  bool mAtEnd = true;
};

}  // namespace zr

namespace zrX {

// The chunk size of ZRT reading, in bytes.
constexpr int kZRTChunkSize = 131072;

struct ZRX_API ZRTToken {
  enum EType : int32_t {
    TOKEN_ERROR = 0,
    TOKEN_EOF = 1,
    TOKEN_LEFT_PAREN = 2,
    TOKEN_RIGHT_PAREN = 3,
    TOKEN_LEFT_BRACKET = 4,
    TOKEN_RIGHT_BRACKET = 5,
    TOKEN_LEFT_BRACE = 6,
    TOKEN_RIGHT_BRACE = 7,
    TOKEN_RAWTEXT_OPEN = 8,
    TOKEN_RAWTEXT_CLOSE = 9,
    TOKEN_EQUALS = 10,
    TOKEN_STRING = 11,
    TOKEN_ID = 12,
    TOKEN_IDENTIFIER = 13,
    TOKEN_BOOLEAN = 14,
    TOKEN_INTEGER = 15,
    TOKEN_REAL = 16,
    TOKEN_TAG = 17,
    TOKEN_RAWTEXT = 18,
  };

  // Fixed tokens carry their own text ("(", "{<", ...); strings their content with escapes
  // resolved; IDs and tags their "#" and brackets; numbers the text as written; raw text its
  // content with line ends as LF. After a failed read: what was gathered up to the failure.
  std::string mText;
  EType mType = TOKEN_ERROR;
};

class ZRX_API ZRTTokenizer : public zr::BufferedStream<char, kZRTChunkSize> {
  ZR_DECLARE_TYPE()
 public:
  ZRTTokenizer();

  // Reads the next token. True with TOKEN_EOF at the end of the input (and on every call after
  // it); true with the token's kind for a token; false with TOKEN_ERROR after a lexical error,
  // most of which log a message first (a few are left to the parser to report: a non-blank after
  // "{<" on its line, the end of the input inside a number or a raw text block).
  bool getToken(ZRTToken& token);
  // Reads a raw text block; getToken calls it by itself on the call after "{<".
  bool getRawtextBlock(ZRTToken& token);

  // The next character with line ends folded into one LF; false at the end of the input.
  bool readChar(char& c) {
    if (mUnreadCount > 0) {
      c = mUnread[--mUnreadCount];
      return true;
    }
    char element;
    if (!readElement(element)) return false;
    if (element == '\n' || element == '\r') {
      // LF CR and CR LF are one line end; any other follower is read again next time.
      char next;
      if (readElement(next) && next != (element == '\n' ? '\r' : '\n')) pushBack(next);
      c = '\n';
      return true;
    }
    c = element;
    return true;
  }
  // Gives back a character that readChar returned; the next readChar returns it as it is. A
  // folded LF given back this way never pairs again with a CR or LF that follows it. At most two
  // characters may be given back at a time.
  void unreadChar(char c) {
    ZR_CHECK(mUnreadCount < 2);
    mUnread[mUnreadCount++] = c;
  }

  int lineNumber() const { return mLine; }

 private:
  // The scanners of one token; each sets `type` and returns true, or returns false after a
  // lexical error. The gathered text is in mScratch.
  bool scanToken(ZRTToken::EType& type);
  bool skipComment();
  bool scanString(ZRTToken::EType& type);
  bool scanRawtextOpen(ZRTToken::EType& type);
  bool scanTag(ZRTToken::EType& type);
  bool scanNumber(char first, ZRTToken::EType& type);

  void append(char c) {
    if (mScratchLength == mScratch.size()) mScratch.resize(mScratch.size() * 2);
    mScratch[mScratchLength++] = c;
  }
  void append(const char* begin, const char* end) {
    const size_t count = static_cast<size_t>(end - begin);
    if (mScratchLength + count > mScratch.size())
      mScratch.resize(std::max(mScratch.size() * 2, mScratchLength + count));
    std::memcpy(mScratch.data() + mScratchLength, begin, count);
    mScratchLength += count;
  }
  void setText(const char* text);
  // Counts a line end; the count stops at the largest int rather than overflow.
  void newLine() {
    if (mLine < INT32_MAX) ++mLine;
  }
  // Appends the run of word characters (letters, digits, "_") that follows; the first other
  // character is left to read.
  void gatherWord();

  int32_t mLine = 1;
  bool mRawtextPending = false;
  char mUnread[2] = {0, 0};
  int mUnreadCount = 0;
  // The characters of the token being read: mScratch[0, mScratchLength). Grows geometrically and
  // is kept between tokens.
  std::vector<char> mScratch;
  size_t mScratchLength = 0;
};

}  // namespace zrX

namespace zr {
extern template class BufferedStream<char, zrX::kZRTChunkSize>;
}
