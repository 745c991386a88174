#include "zrX/ioZRX.hpp"

namespace zrX {

namespace {

// A plain pointer owning one reference: constant-initialised and trivially destructible, so it
// is valid (null or live) at every moment of static construction and destruction.
Registry* gDefaultRegistry = nullptr;
bool gUnloaded = false;

// Releases the default registry when the library is unloaded.
struct DefaultRegistryRelease {
  ~DefaultRegistryRelease() {
    gUnloaded = true;
    setHeld(nullptr);
  }
  static void setHeld(Registry* registry) {
    if (registry) registry->incReference();
    Registry* old = gDefaultRegistry;
    gDefaultRegistry = registry;
    if (old) old->decReference();
  }
};

const DefaultRegistryRelease gDefaultRegistryRelease;

}  // namespace

Registry* defZRXRegistry() { return gDefaultRegistry; }

void setDefZRXRegistry(Registry* registry) {
  if (gUnloaded) registry = nullptr;
  DefaultRegistryRelease::setHeld(registry);
}

}  // namespace zrX
