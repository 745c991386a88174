// Stack-budget tests: the recursive walks must finish at the default nesting limit on a 1 MiB
// thread stack. runOnStack runs a function on a thread with a stack of a given size; the
// macro ZRX_TEST_ASAN is defined in builds with AddressSanitizer, whose redzones enlarge every
// frame, so those tests skip there.
#pragma once

#include <cstddef>
#include <functional>

#if defined(__SANITIZE_ADDRESS__)
#define ZRX_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZRX_TEST_ASAN 1
#endif
#endif

namespace zrtest {

constexpr size_t kOneMebibyte = size_t{1} << 20;

// Runs `body` on a new thread whose stack is `bytes` large and waits for it. False when no such
// thread can be made (also on systems without POSIX threads).
bool runOnStack(size_t bytes, const std::function<void()>& body);

}  // namespace zrtest
