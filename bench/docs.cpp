// zrx_docs: the C++ side of bench/python_bench.py. Writes the two judged document shapes
// (Shapes.hpp) as ZRB files and times zrX::readDocument and zrX::writeDocument on them, the
// figures the Python module's reading and writing are held against.
//
//   zrx_docs write DIR          DIR/arrays.zrb (8 meshes, 750,000 reals and 500,000 integers
//                               each) and DIR/graph.zrb (300,000 small structures)
//   zrx_docs read FILE [RUNS]   readDocument on a DiskFile: one untimed run, then RUNS timed ones
//                               (5 by default); prints "read MEDIAN_MS MIN_MS"
//   zrx_docs writes FILE [RUNS] reads FILE, then times writeDocument in each format into a
//                               zr::MemoryFile kept across runs (as zrx_shapes does), into a fresh
//                               one each run, and onto disk (FILE.out, removed afterwards); prints
//                               "FORMAT memory|fresh|disk MEDIAN_MS MIN_MS" per line
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Shapes.hpp"

namespace {

int write(const std::string& folder) {
  zr::ref<zrX::Registry> registry = shapes::makeRegistry();
  zr::ref<shapes::Arrays> arrays = shapes::makeArrays(8, 750000, 500000);
  zr::ref<shapes::Graph> graph = shapes::makeGraph(300000);
  const std::pair<const char*, zr::Object*> documents[] = {{"arrays.zrb", arrays.get()},
                                                           {"graph.zrb", graph.get()}};
  for (const auto& [name, object] : documents) {
    zrX::ZRXSerializer serializer;
    serializer.setRegistry(registry.get());
    const std::string path = folder + "/" + name;
    if (!serializer.saveZRB(zr::String(path), object, true)) {
      std::fprintf(stderr, "zrx_docs: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}

int read(const char* path, int runs) {
  zr::ref<zr::VirtualFile> file = zr::locateFile(zr::String(path));
  if (!file) {
    std::fprintf(stderr, "zrx_docs: no file %s\n", path);
    return 1;
  }
  std::vector<double> ms;
  for (int i = 0; i <= runs; ++i) {
    auto document = std::make_unique<zrX::Document>();
    const auto start = std::chrono::steady_clock::now();
    const bool ok = zrX::readDocument(file.get(), zrX::detectFormat(file.get()), *document) ==
                    zrX::ReadStatus::Ok;
    const auto end = std::chrono::steady_clock::now();
    if (!ok) return 1;
    if (i > 0) ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
  }
  std::sort(ms.begin(), ms.end());
  std::printf("read %.2f %.2f\n", ms[ms.size() / 2], ms.front());
  return 0;
}

template <class Body>
std::pair<double, double> timed(int runs, Body body) {
  std::vector<double> ms;
  for (int i = 0; i <= runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (!body()) std::exit(1);
    const auto end = std::chrono::steady_clock::now();
    if (i > 0) ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
  }
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms.front()};
}

int writes(const char* path, int runs) {
  zr::ref<zr::VirtualFile> file = zr::locateFile(zr::String(path));
  zrX::Document document;
  if (!file || zrX::readDocument(file.get(), zrX::detectFormat(file.get()), document) !=
                   zrX::ReadStatus::Ok) {
    std::fprintf(stderr, "zrx_docs: cannot read %s\n", path);
    return 1;
  }
  const std::string out = std::string(path) + ".out";
  for (const zrX::Format format : {zrX::Format::ZRB, zrX::Format::ZRT}) {
    const char* name = format == zrX::Format::ZRB ? "zrb" : "zrt";
    zr::ref<zr::MemoryFile> kept = new zr::MemoryFile(zr::String("kept"));
    const auto memory =
        timed(runs, [&] { return zrX::writeDocument(kept.get(), format, document).ok(); });
    const auto fresh = timed(runs, [&] {
      zr::ref<zr::MemoryFile> target = new zr::MemoryFile(zr::String("fresh"));
      return zrX::writeDocument(target.get(), format, document).ok();
    });
    const auto disk = timed(runs, [&] {
      zr::ref<zr::DiskFile> target = new zr::DiskFile(zr::String(out));
      return zrX::writeDocument(target.get(), format, document).ok();
    });
    std::printf("%s memory %.2f %.2f\n%s fresh %.2f %.2f\n%s disk %.2f %.2f\n", name, memory.first,
                memory.second, name, fresh.first, fresh.second, name, disk.first, disk.second);
  }
  std::remove(out.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "write" && argc == 3) return write(argv[2]);
  if (command == "read" && (argc == 3 || argc == 4))
    return read(argv[2], argc == 4 ? std::max(1, std::atoi(argv[3])) : 5);
  if (command == "writes" && (argc == 3 || argc == 4))
    return writes(argv[2], argc == 4 ? std::max(1, std::atoi(argv[3])) : 5);
  std::fprintf(stderr,
               "usage: zrx_docs write DIR | zrx_docs read FILE [RUNS] | zrx_docs writes FILE "
               "[RUNS]\n");
  return 2;
}
