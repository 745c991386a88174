// Reading ZRT text: zr::BufferedStream, a chunked element reader with push-back over a
// VirtualFile, and zrX::ZRTTokenizer, the lexer that turns the bytes of a ZRT file into ZRTTokens
// for ParserZRT.
//
// The tokenizer scans a window of the file's bytes in place: the file's own content when it holds
// it in memory (VirtualFile::contentInMemory), otherwise chunks of kZRTChunkSize bytes, one read()
// call each, read when the scan needs them (a token cut by a chunk's end is moved to the front of
// the window first, so a token of any length is read whole). It opens its file for reading when it
// first needs data and never closes it (ParserZRT does). It folds every line-end convention (LF,
// CR LF, LF CR, lone CR) into one LF, counts lines from 1, skips blanks and comments, and logs a
// line-numbered message (zr::Log::error) for each lexical error. After "{<" it reads the raw text
// block by itself on the next call.
//
// next() gives the kind of the next token and text() its text as a view into the window (strings
// with escapes resolved and raw text with line ends folded come from a scratch buffer instead),
// valid until the next call: the parser reads a document without copying a token. getToken()
// copies it into a ZRTToken.
//
// Beyond the bare lexical rules: strings keep every byte between their quotes, NUL included; the
// end of the input inside a block comment is an error ("Line %n : unexpected end of file in
// comment.\n"); a line end read again after a token ended on it folds the same way again.
//
// Ownership: the tokenizer holds a reference on its file. A tokenizer is used by one thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
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
  // True once a read met the end of the file (pushed-back elements may still remain).
  bool atEnd() const { return mAtEnd; }
  // Reads the next chunk; the number of elements read, 0 when nothing could be read.
  int refill();

 protected:
  // Opens the attached file for reading if it is not open; false when there is none or it fails.
  bool openFile() { return mFile && (mFile->isOpen() || mFile->open(VirtualFile::ReadOnly)); }
  void markEnd() { mAtEnd = true; }

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

  // getToken without the copy: the kind of the next token (TOKEN_ERROR after a failure), its text
  // in text() until the next call.
  ZRTToken::EType next();
  std::string_view text() const { return mText; }
  // After TOKEN_ERROR: true when the input ended inside a number ("-", "1.", "2.5e+"), the one
  // error the tokenizer leaves for its caller to report.
  bool endedInNumber() const { return mEndedInNumber; }
  // After a number token of up to 19 digits without an exponent (true): its digits as one
  // integer, how many of them follow the point, and its sign. Lets the reader convert it without
  // reading the text again.
  // For the array readers: takes the plain numbers that come next ("[sign] digits [. digits]",
  // up to 18 digits, converted exactly: integers as they are, reals as the nearest double),
  // appending their values, and stops in front of the first token that is anything else (the
  // closing ")", a number of another form, an error), which next() then reads as usual. Reals
  // arrays take integers too; integer arrays stop at a real.
  void readPlainNumbers(std::vector<double>& out);
  void readPlainNumbers(std::vector<int64_t>& out);

  bool simpleNumber(uint64_t* digits, int* scale, bool* negative) const {
    if (!mSimpleNumber) return false;
    *digits = mNumberDigits;
    *scale = mNumberScale;
    *negative = mNumberNegative;
    return true;
  }

  // The next character with line ends folded into one LF; false at the end of the input.
  bool readChar(char& c);

  int lineNumber() const { return mLine; }

 private:
  // The window: mWindow[0, mEnd) holds file bytes, mPos is the scan position, mStart the first
  // byte of the token being read (kept when the window moves on).
  bool more();
  // The byte at mPos, reading on when the window is used up; false at the end of the input.
  bool peek(char& c) {
    if (mPos == mEnd && !more()) return false;
    c = mWindow[mPos];
    return true;
  }
  // Takes a line end at mPos (LF or CR) and the other one if it follows.
  void skipLineEnd();
  ZRTToken::EType scanRawtextBlock();

  // The scanners of one token; each returns the kind, or TOKEN_ERROR after a lexical error. The
  // text is [mStart, mPos) unless mInScratch says it was gathered in mScratch.
  ZRTToken::EType scanToken();
  bool skipComment();
  ZRTToken::EType scanString();
  ZRTToken::EType scanRawtextOpen();
  ZRTToken::EType scanTag();
  ZRTToken::EType scanNumber();
  bool scanPlainNumber();
  // Skips blanks and line ends (counting them); false at a comment, the end of the window, or the
  // end of the input, which the general scanner handles.
  bool skipBlanksForNumbers();
  // Takes the run of word characters (letters, digits, "_") at mPos.
  void takeWord();
  // Makes `text` the token's text (a fixed token, or the single character of a failure).
  ZRTToken::EType fixed(const char* text, ZRTToken::EType type);
  void setScratch(std::string_view text) {
    mScratch.assign(text.data(), text.size());
    mInScratch = true;
  }
  // The text is [from, to) of the window instead of [mStart, mPos).
  void setView(size_t from, size_t to) {
    mViewFrom = from;
    mViewTo = to;
    mExplicitView = true;
  }
  // Counts a line end; the count stops at the largest int rather than overflow.
  void newLine() {
    if (mLine < INT32_MAX) ++mLine;
  }

  const char* mWindow = nullptr;
  size_t mPos = 0;
  size_t mEnd = 0;
  size_t mStart = 0;
  bool mStarted = false;
  bool mInMemory = false;
  // The window when the file is read in chunks: mBufferSize bytes, not initialised.
  std::unique_ptr<char[]> mBuffer;
  size_t mBufferSize = 0;

  std::string_view mText;
  std::string mScratch;
  bool mInScratch = false;
  size_t mViewFrom = 0;
  size_t mViewTo = 0;
  bool mExplicitView = false;

  bool mSimpleNumber = false;
  bool mEndedInNumber = false;
  bool mPlainIsReal = false;
  bool mNumberNegative = false;
  int mNumberScale = 0;
  uint64_t mNumberDigits = 0;

  int32_t mLine = 1;
  bool mRawtextPending = false;
};

}  // namespace zrX

namespace zr {
extern template class BufferedStream<char, zrX::kZRTChunkSize>;
}
