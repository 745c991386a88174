#include "support/FaultyFile.hpp"

#include <algorithm>

namespace zrtest {

int64_t FaultyFile::write(const void* data, int64_t count) {
  const int64_t room = std::max<int64_t>(0, mLimit - position());
  return zr::MemoryFile::write(data, std::min(count, room));
}

}  // namespace zrtest

namespace zrtest {

int64_t FaultyDiskFile::write(const void* data, int64_t count) {
  const int64_t room = std::max<int64_t>(0, mLimit - position());
  return zr::DiskFile::write(data, std::min(count, room));
}

}  // namespace zrtest
