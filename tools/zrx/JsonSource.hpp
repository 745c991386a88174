// JsonSource: the input of the JSON reader. A file read from its start through one buffer, handed
// to nlohmann/json's parser byte by byte through SourceIterator, an input iterator. The line ends
// of every buffer left behind are counted, so that any place the parser has reached in the
// current buffer can be named by line and column, at no cost until a message needs it.
//
// The source holds no reference on its file, which must outlive it; it opens the file for reading
// and closes it when it goes. One thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "zrX/zrX.hpp"

namespace zrxtool {

class JsonSource {
 public:
  explicit JsonSource(zr::VirtualFile* file);
  ~JsonSource();
  JsonSource(const JsonSource&) = delete;
  JsonSource& operator=(const JsonSource&) = delete;

  bool opened() const { return mOpen; }
  // True while bytes are left; peek() is then the next one and next() moves past it.
  bool more() { return mPosition < mEnd || refill(); }
  char peek() const { return mBuffer[mPosition]; }
  void next() { ++mPosition; }
  // Bytes handed to the parser so far.
  uint64_t consumed() const { return mBase + mPosition; }
  // True when the file starts with the UTF-8 byte order mark (EF BB BF), which the parser skips.
  // Call it before the parsing starts.
  bool startsWithByteOrderMark() {
    return more() && mBase == 0 && mEnd >= 3 && std::memcmp(mBuffer.data(), "\xEF\xBB\xBF", 3) == 0;
  }
  // True when the file ended before its size said, or refused a read.
  bool readFailed() const { return mReadFailed; }

  // "line L, column C" (from 1, columns in bytes) of the byte at `offset`, which lies in the
  // current buffer; an offset at or beyond consumed() names the place just past the last byte.
  std::string place(uint64_t offset) const;

 private:
  bool refill();

  zr::VirtualFile* mFile;
  bool mOpen = false;
  bool mReadFailed = false;
  std::vector<char> mBuffer;
  size_t mPosition = 0, mEnd = 0;
  uint64_t mBase = 0;       // file offset of mBuffer[0]
  uint64_t mLines = 0;      // line ends before mBase
  uint64_t mLineStart = 0;  // offset of the first byte after the last of them
};

// The parser's way into a JsonSource; a default-constructed iterator is the end.
class SourceIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = char;

  SourceIterator() = default;
  explicit SourceIterator(JsonSource* source) : mSource(source) {}
  char operator*() const { return mSource->peek(); }
  SourceIterator& operator++() {
    mSource->next();
    return *this;
  }
  bool operator==(const SourceIterator& other) const { return atEnd() == other.atEnd(); }
  bool operator!=(const SourceIterator& other) const { return !(*this == other); }

 private:
  bool atEnd() const { return !mSource || !mSource->more(); }
  JsonSource* mSource = nullptr;
};

}  // namespace zrxtool
