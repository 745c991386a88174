// TrickleFile: a MemoryFile that moves at most `step` bytes per read and does not show its bytes
// in place, so a reader's window crosses a chunk boundary wherever the step puts one; optionally
// it does not tell its size either. For the readers' tests and the fuzz targets.
//
// Header-only, no test framework needed. One thread at a time, as every file.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "zrCore/VirtualFile.hpp"

namespace zrtest {

class TrickleFile : public zr::MemoryFile {
 public:
  TrickleFile(std::vector<uint8_t> data, int64_t step, bool sizeKnown = true)
      : zr::MemoryFile(std::move(data)), mStep(step), mSizeKnown(sizeKnown) {}
  const uint8_t* contentInMemory() const override { return nullptr; }
  int64_t read(void* data, int64_t count) override {
    return zr::MemoryFile::read(data, std::min(count, mStep));
  }
  int64_t size() const override { return mSizeKnown ? zr::MemoryFile::size() : -1; }

 private:
  int64_t mStep;
  bool mSizeKnown;
};

}  // namespace zrtest
