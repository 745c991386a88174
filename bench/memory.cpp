// zrx_memory: what loaded trees cost in memory and time, for the cases the memory targets name.
//
//   zrx_memory [COUNT]   (default 10,000,000)
//
// For a ZRT document of COUNT empty structures and one of COUNT empty lists (each standing in one
// list, about 30 MB each at the default), and for both formats of each: the time to read and
// link it, the heap bytes per node of the loaded tree (glibc's count of bytes in use, so malloc's
// own headers included), and the peak resident size of the process during the read (the file's
// bytes already in it) against the size of the tree and the file together. Linux with glibc only.
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "zrX/zrX.hpp"

namespace {

size_t heapInUse() { return mallinfo2().uordblks + mallinfo2().hblkhd; }

// The peak resident size since the last resetResidentPeak (VmHWM; Linux resets it on "5" written
// to clear_refs).
void resetResidentPeak() {
  if (FILE* file = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", file);
    std::fclose(file);
  }
}

size_t residentPeak() {
  size_t peak = 0;
  if (FILE* file = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, file))
      if (std::sscanf(line, "VmHWM: %zu kB", &peak) == 1) break;
    std::fclose(file);
  }
  return peak * 1024;
}

std::string document(size_t count, const char* node) {
  std::string text = "ZRX version=101 encoding=ascii\n<T> { l = [ ";
  text.reserve(text.size() + count * 3 + 8);
  for (size_t i = 0; i < count; ++i) {
    text += node;
    text += ' ';
  }
  text += "] }\n";
  return text;
}

void measure(const char* what, const std::vector<uint8_t>& bytes, zrX::Format format,
             size_t count) {
  zr::ref<zr::MemoryView> file = new zr::MemoryView(bytes.data(), bytes.size());
  const size_t before = heapInUse();
  resetResidentPeak();
  const auto t0 = std::chrono::steady_clock::now();
  zrX::Document* document = new zrX::Document;
  const zrX::ReadStatus status = zrX::readDocument(file.get(), format, *document);
  const auto t1 = std::chrono::steady_clock::now();
  const size_t tree = heapInUse() - before;
  std::printf(
      "%-28s %s %6.1f MB: read and linked in %6.2f s, %5.1f bytes a node, peak %6.0f MB "
      "for tree + file %6.0f MB\n",
      what, zrX::formatName(format), bytes.size() / 1e6,
      std::chrono::duration<double>(t1 - t0).count(), double(tree) / count, residentPeak() / 1e6,
      (tree + bytes.size()) / 1e6);
  if (status != zrX::ReadStatus::Ok) std::printf("  (the read failed)\n");
  delete document;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10000000;
  for (const char* node : {"{}", "[]"}) {
    const std::string text = document(count, node);
    const std::vector<uint8_t> zrt(text.begin(), text.end());
    const char* what = node[0] == '{' ? "empty structures" : "empty lists";
    measure(what, zrt, zrX::Format::ZRT, count);
    // The same tree as ZRB, measured once the tree it was written from is gone.
    zr::ref<zr::MemoryFile> out = new zr::MemoryFile;
    {
      zrX::Document tree;
      zr::ref<zr::MemoryView> in = new zr::MemoryView(zrt.data(), zrt.size());
      zrX::ReadOptions unlinked;
      unlinked.link = false;
      zrX::readDocument(in.get(), zrX::Format::ZRT, tree, unlinked);
      zrX::writeDocument(out.get(), zrX::Format::ZRB, tree);
    }
    measure(what, out->data(), zrX::Format::ZRB, count);
  }
  return 0;
}
