#include "zrCore/Log.hpp"

#include <cstdio>
#include <mutex>

namespace zr {

namespace {

void defaultSink(Log::Level level, const std::string& message) {
  std::fprintf(stderr, "%s%s",
               level == Log::Level::Error ? "error: " : "warning: ", message.c_str());
  if (message.empty() || message.back() != '\n') std::fputc('\n', stderr);
}

struct SinkState {
  std::mutex mutex;
  Log::Sink sink = defaultSink;
};

SinkState& state() {
  static SinkState* instance = new SinkState;  // never destroyed: usable during process exit
  return *instance;
}

void emit(Log::Level level, const std::string& message) {
  SinkState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.sink(level, message);
}

thread_local LogTap* innermostTap = nullptr;

}  // namespace

LogTap::LogTap() : mOuter(innermostTap) { innermostTap = this; }
LogTap::~LogTap() { innermostTap = mOuter; }

void LogTap::note(const std::string& message) {
  if (mSawError) return;
  mSawError = true;
  mFirstError = message;
}

void Log::error(const String& message) {
  const std::string text = message.toStdString();
  for (LogTap* tap = innermostTap; tap; tap = tap->mOuter) tap->note(text);
  emit(Level::Error, text);
}
void Log::warning(const String& message) { emit(Level::Warning, message.toStdString()); }

Log::Sink Log::setSink(Sink sink) {
  SinkState& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  Sink previous = std::move(s.sink);
  s.sink = sink ? std::move(sink) : Sink(defaultSink);
  return previous;
}

}  // namespace zr
