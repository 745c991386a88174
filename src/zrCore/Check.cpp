#include "zrCore/Check.hpp"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace zr {

namespace {

// Shortens an absolute source path to the part from "src/" on, so messages read the same on
// every machine.
const char* shortPath(const char* file) {
  const char* best = nullptr;
  for (const char* p = std::strstr(file, "src/"); p; p = std::strstr(p + 1, "src/")) best = p;
  return best ? best : file;
}

}  // namespace

void log_failed_check(const char* expression, const char* file, int line) {
  std::fprintf(stderr, "Check failed: %s (%s:%d)\n", expression, shortPath(file), line);
  std::fflush(stderr);
}

void abort_zr() { std::abort(); }

bool debugger_attached() {
  // Linux reports the tracing process in /proc/self/status; elsewhere the file is absent and the
  // answer is false.
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 10, "TracerPid:") == 0) {
      for (size_t i = 10; i < line.size(); ++i) {
        if (line[i] >= '1' && line[i] <= '9') return true;
      }
      return false;
    }
  }
  return false;
}

void debug_break() {
  if (debugger_attached()) std::raise(SIGTRAP);
}

void check_failed(const char* expression, const char* file, int line) {
  log_failed_check(expression, file, line);
  debug_break();
  abort_zr();
}

void trap() {
  debug_break();
  abort_zr();
}

}  // namespace zr
