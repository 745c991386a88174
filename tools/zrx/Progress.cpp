#include "Progress.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "Text.hpp"

namespace zrxtool {

namespace {

constexpr int64_t kBigFile = 50'000'000;    // bytes: shown from the start
constexpr double kSlowAfter = 1.0;          // seconds: shown for any file read this long
constexpr double kRedrawEvery = 0.25;       // seconds between two drawings at the least
constexpr double kRateAfter = 0.5;          // seconds of reading before a rate means much
const char* const kClearLine = "\r\x1b[K";  // back to the start of the line, erase to its end

ProgressMeter* gActive = nullptr;

double secondsBetween(std::chrono::steady_clock::time_point from,
                      std::chrono::steady_clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// Bytes in the unit that suits `scale` (the file's size), one decimal.
std::string amount(double bytes, double scale, bool unit) {
  const char* name = "KB";
  double divisor = 1e3;
  if (scale >= 1e9) {
    name = "GB";
    divisor = 1e9;
  } else if (scale >= 1e6) {
    name = "MB";
    divisor = 1e6;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit ? "%.1f %s" : "%.1f", bytes / divisor, name);
  return text;
}

std::string duration(double seconds) {
  const auto total = static_cast<long long>(seconds + 0.5);
  char text[32];
  if (total >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                  total % 60);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
  return text;
}

size_t terminalWidth() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

ProgressMeter::ProgressMeter(const std::string& name, int64_t size)
    : mName(name),
      mSize(size),
      mEnabled(isatty(STDERR_FILENO) == 1),
      mStart(std::chrono::steady_clock::now()) {
  gActive = this;
}

ProgressMeter::~ProgressMeter() {
  clear();
  if (gActive == this) gActive = nullptr;
}

void ProgressMeter::update(int64_t position) {
  if (!mEnabled || mSize <= 0) return;
  const auto now = std::chrono::steady_clock::now();
  const double elapsed = secondsBetween(mStart, now);
  if (mSize < kBigFile && elapsed < kSlowAfter) return;
  if (mDrawn && secondsBetween(mLastDraw, now) < kRedrawEvery) return;
  // One write per drawing: the line, then the erasure of whatever a longer line left behind.
  const std::string text =
      "\r" +
      line(mName, position, mSize, elapsed >= kRateAfter ? elapsed : 0, terminalWidth() - 1) +
      "\x1b[K";
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
  mDrawn = true;
  mLastDraw = now;
}

void ProgressMeter::clear() {
  if (!mDrawn) return;
  std::fputs(kClearLine, stderr);
  std::fflush(stderr);
  mDrawn = false;
}

void ProgressMeter::clearActive() {
  if (gActive) gActive->clear();
}

std::string ProgressMeter::line(const std::string& name, int64_t read, int64_t size, double seconds,
                                size_t width) {
  if (read > size) read = size;
  const double done = static_cast<double>(read);
  const double whole = static_cast<double>(size);
  char percent[16];
  std::snprintf(percent, sizeof percent, "%d%%", static_cast<int>(100 * done / whole));
  std::string figures =
      amount(done, whole, false) + " of " + amount(whole, whole, true) + " (" + percent + ")";
  if (seconds > 0 && read > 0) {
    const double rate = done / seconds;
    figures += ", " + amount(rate, rate, true) + "/s, " + duration((whole - done) / rate) + " left";
  }
  // The name gives way first when the terminal is narrow.
  std::string label = safeText(name, 200);
  const size_t room = width > figures.size() + 2 ? width - figures.size() - 2 : 0;
  if (label.size() > room) label = room > 3 ? "..." + label.substr(label.size() - (room - 3)) : "";
  std::string out = label.empty() ? figures : label + ": " + figures;
  if (out.size() > width) out.resize(width);
  return out;
}

}  // namespace zrxtool
