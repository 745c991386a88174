// FaultyFile: a MemoryFile that accepts only the first `limit` bytes written after each open for
// writing and then fails every write (short writes), to test that savers notice write errors.
#pragma once

#include <cstdint>

#include "zrCore/VirtualFile.hpp"

namespace zrtest {

class FaultyFile : public zr::MemoryFile {
 public:
  explicit FaultyFile(int64_t limit, const zr::String& path = zr::String("faulty"))
      : zr::MemoryFile(path), mLimit(limit) {}

  int64_t write(const void* data, int64_t count) override;

 private:
  int64_t mLimit;
};

}  // namespace zrtest

namespace zrtest {

// The same fault on disk: a DiskFile whose writes stop after `limit` bytes. The short write is a
// failure of the file itself, as on a full disk: close() then returns false and keeps the
// previous file.
class FaultyDiskFile : public zr::DiskFile {
 public:
  FaultyDiskFile(const zr::String& path, int64_t limit) : zr::DiskFile(path), mLimit(limit) {}

  int64_t write(const void* data, int64_t count) override;

 private:
  int64_t mLimit;
};

}  // namespace zrtest
