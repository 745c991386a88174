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

#include "zrX/zrX.hpp"

extern char** environ;

namespace zrtest {

struct Outcome {
  int status = -1;  // the exit status; 128 + the signal when the program was killed
  std::string out, err;
};

inline std::string readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

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

// Runs `program` (a path, or a name looked up in PATH) with `args`: standard input empty,
// standard output and error captured through files in `capture` (standard output goes to
// `outPath` instead when one is given). `environment` entries ("NAME=value") are added to the
// process's own.
inline Outcome runProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::filesystem::path& capture, std::filesystem::path outPath = {},
                          const std::vector<std::string>& environment = {}) {
  const bool captured = outPath.empty();
  if (captured) outPath = capture / "stdout";
  const std::filesystem::path errPath = capture / "stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<std::string> storage(args);
  std::string name = program;
  std::vector<char*> argv{name.data()};
  for (std::string& a : storage) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStorage(environment);
  std::vector<char*> envp;  // the added entries first: the first of two equal names wins
  for (std::string& e : envStorage) envp.push_back(e.data());
  for (char** e = environ; *e; ++e) envp.push_back(*e);
  envp.push_back(nullptr);
  pid_t pid = 0;
  const int spawned =
      posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  Outcome run;
  EXPECT_EQ(spawned, 0) << "cannot start " << program;
  if (spawned != 0) return run;
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, 0), pid);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (captured) run.out = readBytes(outPath);
  run.err = readBytes(errPath);
  return run;
}

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
