#include "JsonSource.hpp"

#include <cstring>

namespace zrxtool {

namespace {

constexpr size_t kBufferSize = 1 << 18;

// Counts the line ends in [begin, end) into `lines`, and sets `lineStart` to the offset after
// the last one (`base` being the offset of `begin`).
void countLines(const char* begin, const char* end, uint64_t base, uint64_t& lines,
                uint64_t& lineStart) {
  for (const char* p = begin; (p = static_cast<const char*>(std::memchr(p, '\n', end - p)));) {
    ++lines;
    ++p;
    lineStart = base + static_cast<uint64_t>(p - begin);
  }
}

}  // namespace

JsonSource::JsonSource(zr::VirtualFile* file) : mFile(file), mBuffer(kBufferSize) {
  mFile->close();
  mOpen = mFile->open(zr::VirtualFile::ReadOnly);
}

JsonSource::~JsonSource() { mFile->close(); }

std::string JsonSource::place(uint64_t offset) const {
  if (offset > consumed()) offset = consumed();
  if (offset < mBase) offset = mBase;
  uint64_t line = mLines;
  uint64_t lineStart = mLineStart;
  countLines(mBuffer.data(), mBuffer.data() + (offset - mBase), mBase, line, lineStart);
  return "line " + std::to_string(line + 1) + ", column " + std::to_string(offset - lineStart + 1);
}

bool JsonSource::refill() {
  if (!mOpen || mReadFailed) return false;
  // The buffer about to be left behind: its line ends are counted before it is overwritten, and
  // kept only when new bytes arrive (at the end, the parser may still ask for a place in it).
  uint64_t lines = mLines, lineStart = mLineStart;
  countLines(mBuffer.data(), mBuffer.data() + mEnd, mBase, lines, lineStart);
  const int64_t got = mFile->read(mBuffer.data(), static_cast<int64_t>(mBuffer.size()));
  if (got <= 0) {
    const int64_t size = mFile->size();
    if (size >= 0 && static_cast<uint64_t>(size) > consumed()) mReadFailed = true;
    return false;
  }
  mLines = lines;
  mLineStart = lineStart;
  mBase += mEnd;
  mPosition = 0;
  mEnd = static_cast<size_t>(got);
  return true;
}

}  // namespace zrxtool
