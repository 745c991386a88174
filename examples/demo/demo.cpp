// The zrX demo host: builds a small scene (named nodes in a tree with back pointers to their
// parents, meshes with real vertex arrays and integer index arrays, materials shared by several
// meshes, shader sources as raw text), saves it as ZRT and as ZRB, detects each file's format,
// loads both back and checks they equal the original. With --load it loads one document of either
// format through the same host, so anyone can try a file from anywhere against a real host.
//
// Usage: zrx_demo [output-folder]   (default: ./demo-output; --help prints the usage)
//        zrx_demo --load FILE       one line: "FILE: ok, ..." on standard output and status 0, or
//                                   "FILE: <reason>" on standard error and status 1
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "Scene.hpp"

namespace {

double millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

bool roundTrip(const char* format, const std::string& path, const zr::ResourceDatabase* scene) {
  const bool text = std::string(format) == "ZRT";
  auto start = std::chrono::steady_clock::now();
  const bool saved =
      text ? zrX::saveZRT(zr::String(path), scene) : zrX::saveZRB(zr::String(path), scene);
  const double saveMs = millisecondsSince(start);
  if (!saved) {
    std::printf("%s: save to %s failed\n", format, path.c_str());
    return false;
  }
  const bool isText = zrX::isZRT(zr::String(path));
  const bool isBinary = zrX::isZRB(zr::String(path));
  if (isText != text || isBinary == text) {
    std::printf("%s: format detection failed for %s\n", format, path.c_str());
    return false;
  }

  start = std::chrono::steady_clock::now();
  zr::ref<zr::ResourceDatabase> loaded =
      text ? zrX::loadZRT(zr::String(path)) : zrX::loadZRB(zr::String(path));
  const double loadMs = millisecondsSince(start);
  if (!loaded) {
    std::printf("%s: load of %s failed\n", format, path.c_str());
    return false;
  }
  std::string why;
  if (!demo::scenesEqual(scene, loaded.get(), &why)) {
    std::printf("%s: the loaded scene differs from the original: %s\n", format, why.c_str());
    return false;
  }
  const auto bytes = std::filesystem::file_size(path);
  std::printf("  %s  %-40s %10ju bytes   save %8.2f ms   load %8.2f ms   detected as %s   equal\n",
              format, path.c_str(), static_cast<uintmax_t>(bytes), saveMs, loadMs,
              isText ? "ZRT" : "ZRB");
  return true;
}

// A library message as part of one line: line ends become spaces, trailing ones go.
std::string oneLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

// Loads `path` through the demo host and reports the outcome in one line. The library's messages
// are collected instead of printed: the first error is the cause, the rest follow from it.
int loadOne(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  const char* problem = nullptr;
  if (!std::filesystem::exists(status)) {
    problem = "no such file";
  } else if (std::filesystem::is_directory(status)) {
    problem = "is a folder, not a document";
  }
  const zr::String file(path.c_str());
  const bool text = !problem && zrX::isZRT(file);
  if (!problem && !text && !zrX::isZRB(file))
    problem = "not a ZRX document (neither ZRT text nor ZRB binary)";
  if (problem) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), problem);
    return 1;
  }

  std::string firstError;
  zr::Log::Sink previous = zr::Log::setSink([&](zr::Log::Level level, const std::string& message) {
    if (level == zr::Log::Level::Error && firstError.empty()) firstError = oneLine(message);
  });
  zr::ref<zr::ResourceDatabase> scene = text ? zrX::loadZRT(file) : zrX::loadZRB(file);
  zr::Log::setSink(previous);
  if (!scene) {
    if (firstError.empty()) firstError = "the document holds no resource database";
    std::fprintf(stderr, "%s: %s\n", path.c_str(), firstError.c_str());
    return 1;
  }
  const demo::SceneCounts counts = demo::countScene(scene.get());
  auto count = [](size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  std::printf("%s: ok, %s, %s, %s, %s, %s, %s\n", path.c_str(), text ? "ZRT" : "ZRB",
              count(counts.nodes, "node", "nodes").c_str(),
              count(counts.meshes, "mesh", "meshes").c_str(),
              count(counts.materials, "material", "materials").c_str(),
              count(counts.reals, "real", "reals").c_str(),
              count(counts.integers, "integer", "integers").c_str());
  return 0;
}

}  // namespace

const char* const kUsage =
    "usage: zrx_demo [OUTPUT-FOLDER]   save, detect and load the demo scene (./demo-output)\n"
    "       zrx_demo --load FILE       load one document of either format through the demo host\n";

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // Any other option is a mistake, not a folder to create.
  if (argc > 1 && argv[1][0] == '-' && std::strcmp(argv[1], "--load") != 0) {
    std::fprintf(stderr, "zrx_demo: unknown option '%s'\n%s", argv[1], kUsage);
    return 2;
  }
  if (argc > 2 && std::strcmp(argv[1], "--load") != 0) {
    std::fprintf(stderr, "zrx_demo: one OUTPUT-FOLDER at most\n%s", kUsage);
    return 2;
  }
  if (argc > 1 && std::strcmp(argv[1], "--load") == 0) {
    if (argc != 3) {
      std::fputs(kUsage, stderr);
      return 2;
    }
    zr::ref<zrX::Registry> registry = demo::makeSceneRegistry();
    zrX::setDefZRXRegistry(registry.get());
    const int status = loadOne(argv[2]);
    zrX::setDefZRXRegistry(nullptr);
    return status;
  }
  const std::string folder = argc > 1 ? argv[1] : "demo-output";
  std::filesystem::create_directories(folder);

  zr::ref<zrX::Registry> registry = demo::makeSceneRegistry();
  zrX::setDefZRXRegistry(registry.get());

  demo::SceneShape shape;
  shape.meshes = 4;
  shape.verticesPerMesh = 20000;
  shape.nodes = 40;
  shape.materials = 2;
  zr::ref<zr::ResourceDatabase> scene = demo::makeScene(shape);
  const demo::SceneCounts counts = demo::countScene(scene.get());
  std::printf(
      "zrX demo: a scene of %zu nodes, %zu meshes sharing %zu materials, %zu reals and %zu "
      "integers in arrays\n",
      counts.nodes, counts.meshes, counts.materials, counts.reals, counts.integers);

  const bool ok = roundTrip("ZRT", folder + "/scene.zrt", scene.get()) &&
                  roundTrip("ZRB", folder + "/scene.zrb", scene.get());
  std::printf(ok ? "zrX demo: both formats saved, detected, loaded and compared equal\n"
                 : "zrX demo: FAILED\n");
  zrX::setDefZRXRegistry(nullptr);
  return ok ? 0 : 1;
}
