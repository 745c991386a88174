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
  if (count > room) markWriteFailed();  // as a full disk would: close() must not commit
  return zr::DiskFile::write(data, std::min(count, room));
}

}  // namespace zrtest
