#include "support/SmallStack.hpp"

#if defined(__linux__) || defined(__APPLE__)
#include <pthread.h>
#define ZRX_TEST_PTHREADS 1
#endif

namespace zrtest {

bool runOnStack(size_t bytes, const std::function<void()>& body) {
#if defined(ZRX_TEST_PTHREADS)
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  bool ok = pthread_attr_setstacksize(&attributes, bytes) == 0;
  pthread_t thread;
  auto run = [](void* argument) -> void* {
    (*static_cast<const std::function<void()>*>(argument))();
    return nullptr;
  };
  ok = ok &&
       pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&body)) == 0;
  if (ok) ok = pthread_join(thread, nullptr) == 0;
  pthread_attr_destroy(&attributes);
  return ok;
#else
  (void)bytes;
  (void)body;
  return false;
#endif
}

}  // namespace zrtest
