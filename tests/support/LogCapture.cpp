#include "support/LogCapture.hpp"

namespace zrtest {

LogCapture::LogCapture() {
  mPrevious = zr::Log::setSink([this](zr::Log::Level level, const std::string& text) {
    mEntries.push_back({level, text});
  });
}

LogCapture::~LogCapture() { zr::Log::setSink(mPrevious); }

std::vector<std::string> LogCapture::errors() const {
  std::vector<std::string> out;
  for (const Entry& e : mEntries)
    if (e.level == zr::Log::Level::Error) out.push_back(e.text);
  return out;
}

std::vector<std::string> LogCapture::warnings() const {
  std::vector<std::string> out;
  for (const Entry& e : mEntries)
    if (e.level == zr::Log::Level::Warning) out.push_back(e.text);
  return out;
}

std::string LogCapture::all() const {
  std::string out;
  for (const Entry& e : mEntries) out += e.text;
  return out;
}

}  // namespace zrtest
