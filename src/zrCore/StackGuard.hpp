// StackGuard: how much of the calling thread's stack is left, for code whose depth of recursion
// follows its input (the serializer's nested conversions). A guard is armed by the outermost call
// of such a recursion and then asked at every level; arming reads the thread's stack bounds (once
// per thread, then from a thread-local copy), asking costs one comparison of the caller's frame
// address with a floor.
//
// The bounds come from where the system tells them: pthread_getattr_np on Linux (for the main
// thread glibc derives them from the stack's rlimit), pthread_get_stackaddr_np and
// pthread_get_stacksize_np on macOS, GetCurrentThreadStackLimits on Windows. Elsewhere, and for
// code that runs on a stack outside its thread's (a fiber's, a coroutine's), they are unknown and
// an armed guard never trips: callers keep a count of levels as well. Stacks are taken to grow
// downwards, as they do on every platform the library builds for.
//
// Threads: threadStackBounds() may be called from any thread and reports that thread's stack. A
// StackGuard is used by one thread at a time, like the object that holds it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zrCore/Export.hpp"

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

namespace zr {

struct StackBounds {
  uintptr_t low = 0;   // the lowest address the stack may reach
  uintptr_t high = 0;  // one past its highest address
  bool known() const { return low < high; }
  bool contains(uintptr_t address) const { return low <= address && address < high; }
};

// The calling thread's stack as the system reports it, read at the thread's first call; both
// bounds 0 where the system does not tell.
ZRCORE_API StackBounds threadStackBounds();

// An address in the frame of the function this is inlined into (or of its own frame, just below
// the caller's, where it is not inlined). The frame's address, not a local variable's: under
// AddressSanitizer a local may live in a fake frame on the heap.
inline uintptr_t stackPosition() {
#if defined(__GNUC__) || defined(__clang__)
  return reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
#elif defined(_MSC_VER)
  return reinterpret_cast<uintptr_t>(_AddressOfReturnAddress());
#else
  volatile char here = 0;
  return reinterpret_cast<uintptr_t>(&here);
#endif
}

class StackGuard {
 public:
  // Bytes kept free below the floor by default: room for one more level of the recursion's
  // frames and for reporting the refusal. AddressSanitizer's frames take several times more
  // room, so builds with it keep four times as much.
  static constexpr size_t kDefaultMargin = size_t{64} << 10;

  // Sets the floor for the calling thread: `margin` bytes above the end of its stack (four times
  // that under AddressSanitizer), or a quarter of the stack when that is less, so that a small
  // stack keeps three quarters for the work. Leaves the guard disarmed when the bounds are unknown
  // or the caller's frame lies outside them.
  ZRCORE_API void arm(size_t margin = kDefaultMargin);
  void disarm() { mFloor = 0; }
  bool armed() const { return mFloor != 0; }

  // True when the caller's frame lies below the floor: fewer than the margin's bytes are left.
  // Always false while disarmed.
  bool nearlyExhausted() const { return stackPosition() < mFloor; }

 private:
  uintptr_t mFloor = 0;
};

}  // namespace zr
