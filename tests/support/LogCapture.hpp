// LogCapture: while alive, replaces the zr::Log sink and records every message, so a test can
// assert the exact texts a failure logs. Restores the previous sink on destruction.
#pragma once

#include <string>
#include <vector>

#include "zrCore/Log.hpp"

namespace zrtest {

class LogCapture {
 public:
  struct Entry {
    zr::Log::Level level;
    std::string text;
  };

  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const std::vector<Entry>& entries() const { return mEntries; }
  std::vector<std::string> errors() const;
  std::vector<std::string> warnings() const;
  // All messages concatenated, in order.
  std::string all() const;
  void clear() { mEntries.clear(); }

 private:
  std::vector<Entry> mEntries;
  zr::Log::Sink mPrevious;
};

}  // namespace zrtest
