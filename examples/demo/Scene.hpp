// The demo host's scene: the classes a small 3D tool might save, and their zrX class wrappers.
//
// A Scene is a zr::ResourceDatabase whose resources are SceneNodes. Nodes form a tree (children
// held by reference, the parent by a plain back pointer) and may carry a Mesh; meshes hold real
// vertex arrays and integer index arrays and share Materials. Each class is declared
// (zrX::Declare) in a few lines; sharing and the parent/child cycle survive the round trip
// because the serializer converts each object once.
//
// The declarations load files from anywhere: every value's kind is checked, and a wrong one fails
// the load with an ImportError naming the tag, the entry, what was expected and what was found. A
// node's back pointer is set by the node whose "children" list holds it; the file's "parent"
// entry is only cross-checked (it must name that node, or nothing for a node no node owns), so no
// pointer ever leads into structures or objects that only the serializer held. A node listed
// below itself or listed twice, a database that lists itself, and indices outside their mesh's
// vertices are refused too.
//
// Single-threaded, like the objects it builds (the wrappers themselves may serve several threads).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zrX/zrX.hpp"

namespace demo {

class Material : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  enum class Blend { Opaque, Additive, Alpha };

  std::string name;
  double color[3] = {1.0, 1.0, 1.0};
  double shininess = 0.0;
  bool twoSided = false;
  Blend blend = Blend::Opaque;
  std::string shader;  // shader source, kept as a raw text block
};

class Mesh : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  std::string name;
  std::vector<double> vertices;  // x y z per vertex
  std::vector<int64_t> indices;  // three per triangle
  zr::ref<Material> material;    // shared between meshes
};

class SceneNode : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  std::string name;
  double position[3] = {0.0, 0.0, 0.0};
  zr::ref<Mesh> mesh;  // may be null
  std::vector<zr::ref<SceneNode>> children;
  SceneNode* parent = nullptr;  // back pointer, not owning: the node whose `children` holds this
};

// A registry holding the wrappers of every class above and of zr::ResourceDatabase.
zr::ref<zrX::Registry> makeSceneRegistry();

struct SceneShape {
  int meshes = 3;
  int verticesPerMesh = 1000;
  int nodes = 10;     // scene nodes besides the root, spread over a few levels
  int materials = 2;  // shared by the meshes in turn
};

// A scene as described by `shape`, deterministic for a given shape.
zr::ref<zr::ResourceDatabase> makeScene(const SceneShape& shape);

// Structural equality of two scenes, sharing included: where `a` shares one object between two
// owners, `b` must share one object too. On a difference, `why` says where.
bool scenesEqual(const zr::ResourceDatabase* a, const zr::ResourceDatabase* b, std::string* why);

// Where a loaded scene breaks the ownership rules, or "": every child points back at the node
// whose list holds it, a node that no node owns has no parent, nothing is owned twice. Following
// each parent pointer also lets AddressSanitizer see one that dangles.
std::string ownershipFault(const zr::ResourceDatabase* scene);

struct SceneCounts {
  size_t nodes = 0, meshes = 0, materials = 0, reals = 0, integers = 0;
};
SceneCounts countScene(const zr::ResourceDatabase* scene);

}  // namespace demo
