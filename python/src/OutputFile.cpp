#include "OutputFile.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace zrxpy {

namespace {

// Blocks start small, so that a small document costs little, and grow to 16 MiB.
constexpr size_t kFirstBlock = 64 * 1024;
constexpr size_t kLargestBlock = 16 * 1024 * 1024;

#if defined(__SANITIZE_ADDRESS__)
#define ZRX_RESERVE_BYTES 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZRX_RESERVE_BYTES 0
#endif
#endif
#if !defined(ZRX_RESERVE_BYTES) && defined(__linux__)
#define ZRX_RESERVE_BYTES 1
#endif

// How much to reserve: a quarter of the memory, at most 16 GiB; 0 for no reservation. (The
// sanitizers' allocator would mark all of it, touching its shadow.)
size_t reservation() {
#if ZRX_RESERVE_BYTES
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  const uint64_t memory = static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
  return static_cast<size_t>(std::min<uint64_t>(memory / 4, uint64_t{16} << 30));
#else
  return 0;
#endif
}

// Large ranges are asked to come in huge pages, where the system gives them only on request:
// one fault per 2 MiB instead of one per 4 KiB.
void preferHugePages(void* data, size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr uintptr_t kHuge = 2 * 1024 * 1024;
  const auto begin = (reinterpret_cast<uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const auto end = (reinterpret_cast<uintptr_t>(data) + size) & ~(kHuge - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data, (void)size;
#endif
}

}  // namespace

void OutputFile::start() {
  const size_t size = reservation();
  if (size == 0) return;
  PyObject* reserved = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  if (!reserved) {
    PyErr_Clear();  // no room to reserve: the blocks serve
    return;
  }
  mReserved = pybind11::reinterpret_steal<pybind11::object>(reserved);
  mDirect = PyBytes_AS_STRING(reserved);
  mDirectSize = size;
  preferHugePages(mDirect, mDirectSize);
}

bool OutputFile::open(EOpenMode mode) {
  mOpen = true;
  if (mode == WriteOnly) {
    mBlocks.clear();
    mDirectUsed = 0;
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
  if (mBlocks.empty() && mDirectUsed < mDirectSize) {
    const size_t n = std::min(left, mDirectSize - mDirectUsed);
    std::memcpy(mDirect + mDirectUsed, from, n);
    mDirectUsed += n;
    from += n;
    left -= n;
  }
  if (left > 0) writeToBlocks(from, left);
  mSize += count;
  return count;
}

void OutputFile::writeToBlocks(const char* from, size_t left) {
  while (left > 0) {
    if (mBlocks.empty() || mBlocks.back().used == mBlocks.back().size) {
      const size_t last = mBlocks.empty() ? 0 : mBlocks.back().size;
      Block block;
      block.size = last == 0 ? kFirstBlock : std::min(last * 2, kLargestBlock);
      block.bytes.reset(new char[block.size]);
      preferHugePages(block.bytes.get(), block.size);
      mBlocks.push_back(std::move(block));
    }
    Block& block = mBlocks.back();
    const size_t n = std::min(left, block.size - block.used);
    std::memcpy(block.bytes.get() + block.used, from, n);
    block.used += n;
    from += n;
    left -= n;
  }
}

pybind11::bytes OutputFile::bytes() {
  if (mReserved && mBlocks.empty()) {
    // Shrinking a large allocation gives its tail back without moving what was written.
    PyObject* out = mReserved.release().ptr();
    if (_PyBytes_Resize(&out, static_cast<Py_ssize_t>(mDirectUsed)) != 0)
      throw pybind11::error_already_set();
    return pybind11::reinterpret_steal<pybind11::bytes>(out);
  }
  PyObject* out = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(mSize));
  if (!out) throw pybind11::error_already_set();
  char* to = PyBytes_AS_STRING(out);
  preferHugePages(to, static_cast<size_t>(mSize));
  {
    // Nobody else sees the new object yet: the copy needs no GIL.
    pybind11::gil_scoped_release unlocked;
    if (mDirectUsed > 0) std::memcpy(to, mDirect, mDirectUsed);
    to += mDirectUsed;
    for (const Block& block : mBlocks) {
      std::memcpy(to, block.bytes.get(), block.used);
      to += block.used;
    }
  }
  mReserved = pybind11::object();
  return pybind11::reinterpret_steal<pybind11::bytes>(out);
}

}  // namespace zrxpy
