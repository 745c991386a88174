#include "LogCapture.hpp"

#include <mutex>
#include <utility>

namespace zrxpy {

namespace {

thread_local LogCapture* tCapture = nullptr;

}  // namespace

void installLogRouting() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Never destroyed: the sink may be called while the process exits. The previous sink is
    // known only once the new one is in place; the lock covers a line logged in between.
    struct Previous {
      std::mutex mutex;
      zr::Log::Sink sink;
    };
    auto* previous = new Previous;
    zr::Log::Sink old =
        zr::Log::setSink([previous](zr::Log::Level level, const std::string& message) {
          if (tCapture) {
            tCapture->add(level, message);
            return;
          }
          std::lock_guard<std::mutex> lock(previous->mutex);
          if (previous->sink) previous->sink(level, message);
        });
    std::lock_guard<std::mutex> lock(previous->mutex);
    previous->sink = std::move(old);
  });
}

LogCapture::LogCapture() : mOuter(tCapture) { tCapture = this; }

LogCapture::~LogCapture() { tCapture = mOuter; }

void LogCapture::add(zr::Log::Level level, const std::string& message) {
  std::string text = message;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  mLines.push_back({level, std::move(text)});
}

std::vector<std::string> LogCapture::texts(zr::Log::Level level) const {
  std::vector<std::string> out;
  for (const Line& line : mLines)
    if (line.level == level) out.push_back(line.text);
  return out;
}

}  // namespace zrxpy
