// libFuzzer entry for the demo host's declared classes: the input, in either format, is loaded
// through the demo's registry, so every check a declaration makes (kinds, ranges, classes, #NULL,
// owners, back pointers, cycles of references, the nesting of conversions) meets mutated
// documents. A load must fail cleanly or give a scene whose ownership holds; AddressSanitizer and
// LeakSanitizer see the rest (dangling back pointers, objects a cycle would keep alive).
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "Scene.hpp"

namespace {

// Traps unless every child points back at the node whose list holds it and no node is owned
// twice; following the back pointers lets AddressSanitizer see one that dangles.
void checkOwnership(const zr::ResourceDatabase* scene) {
  std::vector<const demo::SceneNode*> pending;
  for (const zr::ref<zr::Object>& resource : scene->resources()) {
    if (!resource || !resource->isOfType(demo::SceneNode::Type())) continue;
    const auto* node = static_cast<const demo::SceneNode*>(resource.get());
    if (node->parent) {
      bool listed = false;
      for (const zr::ref<demo::SceneNode>& child : node->parent->children)
        listed |= child.get() == node;
      if (!listed) __builtin_trap();
    } else {
      pending.push_back(node);
    }
  }
  std::set<const demo::SceneNode*> seen;
  while (!pending.empty()) {
    const demo::SceneNode* node = pending.back();
    pending.pop_back();
    if (!seen.insert(node).second) __builtin_trap();
    for (const zr::ref<demo::SceneNode>& child : node->children) {
      if (child->parent != node) __builtin_trap();
      pending.push_back(child.get());
    }
  }
}

}  // namespace

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
    checkOwnership(scene.get());
  } else if (serializer.errorMessage().empty()) {
    __builtin_trap();  // every failure says why
  }
  return 0;
}
