// zr::Log: the one channel through which zrCore and zrX report document and wrapper failures
// (errors) and suspicious but tolerated input (warnings). Messages go to a sink; the default
// sink writes them to standard error. A host or a test replaces the sink with setSink.
//
// Thread-safe: emitting and replacing the sink are serialised by one lock, so a sink is never
// called concurrently with itself. For the same reason a sink must neither log nor call setSink.
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

}  // namespace zr
