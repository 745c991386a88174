// zrx_shapes: times saves and loads of the two judged document shapes (Shapes.hpp) without any
// benchmark library, for quick before/after figures and for profiling (perf record, callgrind).
//
//   zrx_shapes [--only graph|arrays] [--op save|load|parse|write] [--format zrt|zrb]
//              [--runs N] [--scale F] [--copy-input] [--wrappers hand|declared|both]
//              [--input memory|disk|disk-read]
//
// Saves and loads run through the shapes' hand-written wrappers and through their declarations
// (both by default, with the ratio declared / hand-written; both write the same documents).
// Every operation runs once untimed, then N timed runs; the median is printed. Loads and parses
// work on in-memory files, read in place; with --copy-input each timed load or parse first copies
// the bytes into a fresh zr::MemoryFile, as a host does that hands over a copy of its buffer (the
// copy, with its page faults, is then part of the time). With --input disk they read a zr::DiskFile
// of the document written once to the temporary folder (so in the page cache), as a load by path
// does; disk-read does the same with mapped reads turned off. Saves and writes go into one
// in-memory file reused across runs. The first load of each format is checked against the
// original objects.
#include "Shapes.hpp"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Options {
  std::string only, op, format;
  int runs = 5;
  double scale = 1.0;
  bool copyInput = false;
  std::string wrappers = "both";
  std::string input = "memory";
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// CPU time of this thread: on a machine shared with other work it moves much less than the
// wall-clock time.
double cpuMilliseconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Page faults of this process so far: on machines where touching fresh memory is slow they
// decide much of a load's time.
double pageFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_minflt + usage.ru_majflt);
}

// Prints and returns the median time.
double measure(const char* what, int runs, const std::function<void()>& body,
               const std::function<void()>& before = {}) {
  std::vector<double> ms, cpu, faults;
  for (int i = 0; i <= runs; ++i) {
    if (before) before();
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = cpuMilliseconds();
    const double f0 = pageFaults();
    body();
    const double f1 = pageFaults();
    const double c1 = cpuMilliseconds();
    const auto t1 = std::chrono::steady_clock::now();
    if (i > 0) {
      ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
      cpu.push_back(c1 - c0);
      faults.push_back(f1 - f0);
    }
  }
  std::printf("  %-36s %9.2f ms  (min %.2f, cpu %.2f, page faults %.0f)\n", what, median(ms),
              *std::min_element(ms.begin(), ms.end()), median(cpu), median(faults));
  std::fflush(stdout);
  return median(ms);
}

// The file a timed load or parse reads: the bytes in memory (read in place, or copied first with
// --copy-input), or a DiskFile of them written once to the temporary folder.
class Input {
 public:
  Input(const std::vector<uint8_t>& bytes, const Options& o, const char* name)
      : mBytes(bytes), mOptions(o) {
    if (o.input == "memory") {
      mKept = new zr::MemoryFile(bytes);
      return;
    }
    mPath = (std::filesystem::temp_directory_path() / name).string();
    std::FILE* f = std::fopen(mPath.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f)) {
      std::printf("cannot write %s\n", mPath.c_str());
      std::exit(1);
    }
  }
  ~Input() {
    if (!mPath.empty()) std::remove(mPath.c_str());
  }
  zr::ref<zr::VirtualFile> file() const {
    if (!mPath.empty()) return zr::ref<zr::VirtualFile>(new zr::DiskFile(zr::String(mPath)));
    if (mOptions.copyInput) return zr::ref<zr::VirtualFile>(new zr::MemoryFile(mBytes));
    return mKept;
  }

 private:
  const std::vector<uint8_t>& mBytes;
  const Options& mOptions;
  zr::ref<zr::VirtualFile> mKept;
  std::string mPath;
};

struct Host {
  const char* name;
  zrX::Registry* registry;
};

bool wanted(const std::string& filter, const char* name) {
  return filter.empty() || filter == name;
}

template <class T>
void run(const char* shape, zr::Object* original, const std::vector<Host>& hosts,
         const Options& o) {
  std::printf("%s\n", shape);
  for (zrX::Format format : {zrX::Format::ZRT, zrX::Format::ZRB}) {
    const bool text = format == zrX::Format::ZRT;
    const char* f = text ? "zrt" : "zrb";
    if (!wanted(o.format, f)) continue;
    zr::ref<zr::MemoryFile> out = new zr::MemoryFile;
    std::vector<uint8_t> bytes;
    double times[2][2] = {{0, 0}, {0, 0}};  // [host][save, load]
    for (size_t h = 0; h < hosts.size(); ++h) {
      zrX::Registry* registry = hosts[h].registry;
      auto save = [&] {
        zrX::ZRXSerializer s;
        s.setRegistry(registry);
        const bool ok =
            text ? s.saveZRT(out.get(), original, true) : s.saveZRB(out.get(), original, true);
        if (!ok) std::exit(1);
      };
      save();
      if (h == 0) {
        bytes = out->data();
        std::printf(" %s: %.1f MB\n", f, bytes.size() / 1e6);
      } else if (out->data().size() != bytes.size()) {
        std::printf("  the %s wrappers write another document (%zu bytes, not %zu)\n",
                    hosts[h].name, out->data().size(), bytes.size());
        std::exit(1);
      }
      const std::string label = std::string(f) + " save, " + hosts[h].name;
      if (wanted(o.op, "save")) times[h][0] = measure(label.c_str(), o.runs, save);

      const Input input(bytes, o, text ? "zrx_shapes_load.zrt" : "zrx_shapes_load.zrb");
      zr::ref<zr::Object> loaded;
      auto load = [&] {
        zrX::ZRXSerializer s;
        s.setRegistry(registry);
        zr::ref<zr::VirtualFile> in = input.file();
        loaded = text ? s.loadZRT(in.get(), true) : s.loadZRB(in.get(), true);
        if (!loaded) std::exit(1);
      };
      // The round trip is checked unless only other operations are asked for.
      if (wanted(o.op, "load")) {
        load();
        const T* got =
            loaded && loaded->isOfType(T::Type()) ? static_cast<const T*>(loaded.get()) : nullptr;
        if (!shapes::equal(static_cast<const T*>(original), got)) {
          std::printf("  round trip differs (%s)\n", hosts[h].name);
          std::exit(1);
        }
        loaded = nullptr;
        const std::string loadLabel = std::string(f) + " load, " + hosts[h].name;
        times[h][1] = measure(loadLabel.c_str(), o.runs, load, [&] { loaded = nullptr; });
      }
      loaded = nullptr;
    }
    if (hosts.size() == 2 && times[0][0] > 0)
      std::printf("  %-36s %9.2f\n", "declared / hand-written, save", times[1][0] / times[0][0]);
    if (hosts.size() == 2 && times[0][1] > 0)
      std::printf("  %-36s %9.2f\n", "declared / hand-written, load", times[1][1] / times[0][1]);

    const Input input(bytes, o, text ? "zrx_shapes_parse.zrt" : "zrx_shapes_parse.zrb");
    std::unique_ptr<zrX::Document> doc;
    auto parse = [&] {
      doc = std::make_unique<zrX::Document>();
      zr::ref<zr::VirtualFile> in = input.file();
      if (zrX::readDocument(in.get(), format, *doc) != zrX::ReadStatus::Ok) std::exit(1);
    };
    if (wanted(o.op, "parse"))
      measure((std::string(f) + " doc parse").c_str(), o.runs, parse, [&] { doc.reset(); });
    if (!doc && wanted(o.op, "write")) parse();
    auto write = [&] {
      if (!doc) return;
      if (!zrX::writeDocument(out.get(), format, *doc).ok()) std::exit(1);
    };
    if (wanted(o.op, "write")) measure((std::string(f) + " doc write").c_str(), o.runs, write);
    doc.reset();
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    auto arg = [&](const char* name) { return std::strcmp(argv[i], name) == 0 && i + 1 < argc; };
    if (arg("--only"))
      o.only = argv[++i];
    else if (arg("--op"))
      o.op = argv[++i];
    else if (arg("--format"))
      o.format = argv[++i];
    else if (arg("--runs"))
      o.runs = std::max(1, std::atoi(argv[++i]));
    else if (arg("--scale"))
      o.scale = std::atof(argv[++i]);
    else if (std::strcmp(argv[i], "--copy-input") == 0)
      o.copyInput = true;
    else if (arg("--wrappers"))
      o.wrappers = argv[++i];
    else if (arg("--input"))
      o.input = argv[++i];
    else {
      std::fprintf(stderr,
                   "usage: zrx_shapes [--only graph|arrays] [--op save|load|parse|write] "
                   "[--format zrt|zrb] [--runs N] [--scale F] [--copy-input] "
                   "[--wrappers hand|declared|both] [--input memory|disk|disk-read]\n");
      return 2;
    }
  }
  if (o.input != "memory" && o.input != "disk" && o.input != "disk-read") {
    std::fprintf(stderr, "zrx_shapes: --input takes memory, disk or disk-read\n");
    return 2;
  }
  zr::DiskFile::setMappedReads(o.input != "disk-read");
  zr::ref<zrX::Registry> hand = shapes::makeRegistry();
  zr::ref<zrX::Registry> declared = shapes::makeDeclaredRegistry();
  std::vector<Host> hosts;
  if (o.wrappers != "declared") hosts.push_back({"hand-written", hand.get()});
  if (o.wrappers != "hand") hosts.push_back({"declared", declared.get()});
  if (wanted(o.only, "arrays")) {
    zr::ref<shapes::Arrays> arrays = shapes::makeArrays(8, static_cast<size_t>(750000 * o.scale),
                                                        static_cast<size_t>(500000 * o.scale));
    run<shapes::Arrays>("arrays: 8 meshes", arrays.get(), hosts, o);
  }
  if (wanted(o.only, "graph")) {
    zr::ref<shapes::Graph> graph = shapes::makeGraph(static_cast<size_t>(300000 * o.scale));
    run<shapes::Graph>("graph: small objects", graph.get(), hosts, o);
  }
  return 0;
}
