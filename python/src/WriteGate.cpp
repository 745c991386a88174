#include "WriteGate.hpp"

#include <pybind11/pybind11.h>

#include <condition_variable>
#include <mutex>

namespace zrxpy {

namespace {

struct Gate {
  std::mutex mutex;
  std::condition_variable done;
  int writes = 0;  // changed under the GIL and the mutex; read under either
};

Gate& gate() {
  // Never destroyed: threads may still wait while the process exits.
  static Gate* instance = new Gate;
  return *instance;
}

thread_local bool tPreparing = false;

}  // namespace

WriteInProgress::WriteInProgress() {
  Gate& g = gate();
  std::lock_guard<std::mutex> lock(g.mutex);
  ++g.writes;
}

WriteInProgress::~WriteInProgress() {
  Gate& g = gate();
  {
    std::lock_guard<std::mutex> lock(g.mutex);
    --g.writes;
  }
  g.done.notify_all();
}

bool writesInProgress() { return gate().writes > 0; }

void waitForWrites() {
  Gate& g = gate();
  // Under the GIL no write can start, so once it is held again with no write in progress, none
  // is.
  while (g.writes > 0 && !tPreparing) {
    pybind11::gil_scoped_release unlocked;
    std::unique_lock<std::mutex> lock(g.mutex);
    g.done.wait(lock, [&g] { return g.writes == 0; });
  }
}

WritePreparation::WritePreparation() : mOuter(tPreparing) { tPreparing = true; }

WritePreparation::~WritePreparation() { tPreparing = mOuter; }

}  // namespace zrxpy
