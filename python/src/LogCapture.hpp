// LogCapture: collects the library's log lines (zr::Log) of the calling thread while it lives, so
// that a failed read or write can raise them as the message of a Python exception.
//
// installLogRouting() puts one sink in front of whatever sink was installed before; it runs once,
// when the module is imported. The sink hands a line to the innermost LogCapture alive on the
// thread that logged it, and every other line to the previous sink (standard error by default).
// Captures are per thread, so reads running in several threads with the GIL released keep their
// lines apart.
#pragma once

#include <string>
#include <vector>

#include "zrX/zrX.hpp"

namespace zrxpy {

void installLogRouting();

class LogCapture {
 public:
  struct Line {
    zr::Log::Level level;
    std::string text;  // without its line end
  };

  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  void add(zr::Log::Level level, const std::string& message);
  const std::vector<Line>& lines() const { return mLines; }
  // The texts of the lines at `level`, in order.
  std::vector<std::string> texts(zr::Log::Level level) const;

 private:
  std::vector<Line> mLines;
  LogCapture* mOuter;
};

}  // namespace zrxpy
