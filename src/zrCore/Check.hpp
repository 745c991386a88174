// Checks of programming errors. A failed check is a bug in the calling code, never a property of a
// file's content: it logs the failed expression with its source place and stops the process
// (after a debugger break when a debugger is attached). Thread-safe.
#pragma once

#include "zrCore/Export.hpp"

namespace zr {

// Writes "Check failed: <expression> (<file>:<line>)" to standard error.
ZRCORE_API void log_failed_check(const char* expression, const char* file, int line);

// Ends the process at once (std::abort).
[[noreturn]] ZRCORE_API void abort_zr();

// True when a debugger is tracing this process.
ZRCORE_API bool debugger_attached();

// Breaks into an attached debugger; does nothing without one.
ZRCORE_API void debug_break();

// log_failed_check, a debugger break when one is attached, then abort_zr.
[[noreturn]] ZRCORE_API void check_failed(const char* expression, const char* file, int line);

// Stops without a message (debugger break when attached, then abort_zr).
[[noreturn]] ZRCORE_API void trap();

}  // namespace zr

// ZR_CHECK(expression): the one check macro of zrCore and zrX. The expression's text is what the
// failure message quotes, so write it as it should read ("mType == List").
#define ZR_CHECK(expression)                                                \
  do {                                                                      \
    if (!(expression)) ::zr::check_failed(#expression, __FILE__, __LINE__); \
  } while (0)
