#include "zrCore/StackGuard.hpp"

#if defined(__linux__) || defined(__APPLE__)
#include <pthread.h>
#elif defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define ZR_STACK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZR_STACK_ASAN 1
#endif
#endif

namespace zr {

namespace {

#if defined(ZR_STACK_ASAN)
constexpr size_t kMarginScale = 4;
#else
constexpr size_t kMarginScale = 1;
#endif

StackBounds readThreadStackBounds() {
  StackBounds bounds;
#if defined(__linux__)
  // For threads it made, the C library knows the block it gave them (the guard page excluded);
  // for the main thread, glibc takes the end of the stack's mapping and the stack's rlimit.
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return bounds;
  void* low = nullptr;
  size_t size = 0;
  const bool told = pthread_attr_getstack(&attributes, &low, &size) == 0;
  pthread_attr_destroy(&attributes);
  if (told && low && size > 0) {
    bounds.low = reinterpret_cast<uintptr_t>(low);
    bounds.high = bounds.low + size;
  }
#elif defined(__APPLE__)
  const pthread_t self = pthread_self();
  const uintptr_t high = reinterpret_cast<uintptr_t>(pthread_get_stackaddr_np(self));
  const size_t size = pthread_get_stacksize_np(self);
  if (high > size && size > 0) {
    bounds.low = high - size;
    bounds.high = high;
  }
#elif defined(_WIN32) && defined(_WIN32_WINNT) && _WIN32_WINNT >= 0x0602
  ULONG_PTR low = 0, high = 0;
  GetCurrentThreadStackLimits(&low, &high);
  bounds.low = static_cast<uintptr_t>(low);
  bounds.high = static_cast<uintptr_t>(high);
#endif
  return bounds;
}

}  // namespace

StackBounds threadStackBounds() {
  thread_local const StackBounds bounds = readThreadStackBounds();
  return bounds;
}

void StackGuard::arm(size_t margin) {
  mFloor = 0;
  const StackBounds stack = threadStackBounds();
  if (!stack.contains(stackPosition())) return;  // unknown, or another stack than the thread's
  const size_t size = stack.high - stack.low;
  const size_t scaled = margin > size / kMarginScale ? size : margin * kMarginScale;
  mFloor = stack.low + (scaled < size / 4 ? scaled : size / 4);
}

}  // namespace zr
