// RunProgram: runs a built program from a test with standard input empty and its output
// captured, and reports how it ended. Shared by the tool's tests and the demo's.
//
// Header-only. POSIX systems.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

}  // namespace zrtest
