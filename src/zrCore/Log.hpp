// zr::Log: the one channel through which zrCore and zrX report document and wrapper failures
// (errors) and suspicious but tolerated input (warnings). Messages go to a sink; the default
// sink writes them to standard error. A host or a test replaces the sink with setSink.
//
// A LogTap notes the first error logged on its own thread while it lives, besides handing it to the
// sink: the serializer keeps the message of its first failure that way, whatever sink is set.
//
// Thread-safe: emitting and replacing the sink are serialised by one lock, so a sink is never
// called concurrently with itself. For the same reason a sink must neither log nor call setSink.
// Taps are per thread and live on the stack of the code that installs them.
#pragma once

#include <functional>
#include <string>

#include "zrCore/Export.hpp"
#include "zrCore/String.hpp"

namespace zr {

class ZRCORE_API Log {
 public:
  enum class Level { Warning, Error };
  using Sink = std::function<void(Level level, const std::string& message)>;

  static void error(const String& message);
  static void warning(const String& message);

  // Installs `sink` (an empty function restores the default) and returns the previous one.
  static Sink setSink(Sink sink);
};

// Notes the first error logged on the calling thread from its construction to its destruction.
// Taps nest: every tap alive on the thread notes the error. Not copyable; destroy in reverse
// order of construction (as scopes do).
class ZRCORE_API LogTap {
 public:
  LogTap();
  ~LogTap();
  LogTap(const LogTap&) = delete;
  LogTap& operator=(const LogTap&) = delete;

  bool sawError() const { return mSawError; }
  // The first error's text, as logged (line end included), or "".
  const std::string& firstError() const { return mFirstError; }

 private:
  friend class Log;
  void note(const std::string& message);

  LogTap* mOuter;
  bool mSawError = false;
  std::string mFirstError;
};

}  // namespace zr
