// ToolFixture: what the tests of the zrx tool share. They run the built program (its path is the
// ZRX_TOOL macro, which only the tool's test targets define: include this header where ZRX_TOOL
// is defined) with standard input empty and its output captured, in a temporary folder of their
// own, and write and read documents through the library to prepare and judge the files. They
// also run python3, which every machine has, as an independent reader of JSON.
//
// Header-only, for the macro's sake. One test at a time per fixture object.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/RunProgram.hpp"
#include "zrX/zrX.hpp"

extern char** environ;

namespace zrtest {

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  ASSERT_TRUE(out.good()) << path;
}

inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// A folder of its own under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (;;) {
      mPath = base / ("zrx_tool_test_" + std::to_string(getpid()) + "_" +
                      std::to_string(counter++) + "_" + std::to_string(random()));
      if (std::filesystem::create_directory(mPath)) break;
    }
  }
  ~TempDir() {
    std::error_code error;
    std::filesystem::remove_all(mPath, error);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return mPath; }

 private:
  std::filesystem::path mPath;
};

class ToolTest : public ::testing::Test {
 protected:
  // A path in the test's folder, as text.
  std::string at(const std::string& name) const { return (mDir.path() / name).string(); }

  // Runs the tool with `args` (see runProgram).
  Outcome zrx(const std::vector<std::string>& args, std::filesystem::path outPath = {},
              const std::vector<std::string>& environment = {}) {
    return runProgram(ZRX_TOOL, args, mCapture.path(), outPath, environment);
  }

  // Runs python3 on `script` with `args` (sys.argv[1:]).
  Outcome python(const std::string& script, const std::vector<std::string>& args = {}) {
    std::vector<std::string> all{"-c", script};
    all.insert(all.end(), args.begin(), args.end());
    return runProgram("python3", all, mCapture.path());
  }

  // Writes `structures` (and `metadata`) as a document through the library.
  void writeDocumentFile(const std::string& path, zrX::Format format,
                         const std::vector<zr::ref<zrX::ZRXStructure>>& structures,
                         const zrX::MetadataMap& metadata = {}) {
    zrX::Document document;
    document.structures() = structures;
    document.metadata() = metadata;
    zr::ref<zr::DiskFile> file = new zr::DiskFile(zr::String(path));
    const zrX::WriteResult result = zrX::writeDocument(file.get(), format, document);
    document.structures().clear();  // the caller's tree: its cycles are the caller's to break
    ASSERT_TRUE(result.ok()) << result.message;
  }

  // Reads a document file through the library, linked or not.
  std::unique_ptr<zrX::Document> readDocumentFile(const std::string& path, bool link = true) {
    auto document = std::make_unique<zrX::Document>();
    zr::ref<zr::VirtualFile> file = zr::locateFile(zr::String(path));
    EXPECT_TRUE(file) << path;
    if (!file) return document;
    zrX::ReadOptions options;
    options.link = link;
    EXPECT_EQ(zrX::readDocument(file.get(), zrX::detectFormat(file.get()), *document, options),
              zrX::ReadStatus::Ok)
        << path;
    return document;
  }

  // The names in the test's folder.
  std::set<std::string> folderContent() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(mDir.path()))
      names.insert(entry.path().filename().string());
    return names;
  }

  TempDir mDir;

 private:
  TempDir mCapture;  // kept apart, so the files of a test are the only ones in mDir
};

}  // namespace zrtest
