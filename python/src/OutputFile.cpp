#include "OutputFile.hpp"

#include <algorithm>
#include <cstring>

namespace zrxpy {

namespace {

// Blocks start small, so that a small document costs little, and grow to 16 MiB.
constexpr size_t kFirstBlock = 64 * 1024;
constexpr size_t kLargestBlock = 16 * 1024 * 1024;

}  // namespace

bool OutputFile::open(EOpenMode mode) {
  mOpen = true;
  if (mode == WriteOnly) {
    mBlocks.clear();
    mSize = 0;
  }
  return true;
}

bool OutputFile::close() {
  mOpen = false;
  return true;
}

int64_t OutputFile::write(const void* data, int64_t count) {
  if (!mOpen || count <= 0) return 0;
  const char* from = static_cast<const char*>(data);
  auto left = static_cast<size_t>(count);
  while (left > 0) {
    if (mBlocks.empty() || mBlocks.back().used == mBlocks.back().size) {
      const size_t last = mBlocks.empty() ? 0 : mBlocks.back().size;
      Block block;
      block.size = last == 0 ? kFirstBlock : std::min(last * 2, kLargestBlock);
      block.bytes.reset(new char[block.size]);
      mBlocks.push_back(std::move(block));
    }
    Block& block = mBlocks.back();
    const size_t n = std::min(left, block.size - block.used);
    std::memcpy(block.bytes.get() + block.used, from, n);
    block.used += n;
    from += n;
    left -= n;
  }
  mSize += count;
  return count;
}

pybind11::bytes OutputFile::bytes() const {
  PyObject* out = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(mSize));
  if (!out) throw pybind11::error_already_set();
  char* to = PyBytes_AS_STRING(out);
  {
    // Nobody else sees the new object yet: the copy needs no GIL.
    pybind11::gil_scoped_release unlocked;
    for (const Block& block : mBlocks) {
      std::memcpy(to, block.bytes.get(), block.used);
      to += block.used;
    }
  }
  return pybind11::reinterpret_steal<pybind11::bytes>(out);
}

}  // namespace zrxpy
