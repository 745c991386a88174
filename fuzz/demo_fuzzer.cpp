// libFuzzer entry for the demo host's declared classes: the input, in either format, is loaded
// through the demo's registry, so every check a declaration makes (kinds, ranges, classes, #NULL,
// owners, back pointers, cycles of references, the nesting of conversions) meets mutated
// documents. A load must fail cleanly or give a scene whose ownership holds; AddressSanitizer and
// LeakSanitizer see the rest (dangling back pointers, objects a cycle would keep alive).
#include <cstddef>
#include <cstdint>
#include <string>

#include "Scene.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const zr::ref<zrX::Registry> registry = [] {
    zr::Log::setSink([](zr::Log::Level, const std::string&) {});
    return demo::makeSceneRegistry();
  }();

  zr::ref<zr::MemoryFile> file(new zr::MemoryFile(std::vector<uint8_t>(data, data + size)));
  zrX::ZRXSerializer serializer;
  serializer.setRegistry(registry.get());
  // A deep chain stops at the conversion limit; a smaller one keeps runs fast.
  serializer.setMaxConversionDepth(2000);
  zr::ref<zr::ResourceDatabase> scene = serializer.loadAs<zr::ResourceDatabase>(file.get());
  if (scene) {
    if (!demo::ownershipFault(scene.get()).empty()) __builtin_trap();
  } else if (serializer.errorMessage().empty()) {
    __builtin_trap();  // every failure says why
  }
  return 0;
}
