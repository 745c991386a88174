// The test host: a small scene model of the kind a toolkit module serializes, with the class
// wrappers that convert it through zrX. Tests use it for in-memory conversions and for file round
// trips; it is also the worked example of how a host writes wrappers (HostModel.cpp).
//
// Host classes and their documents (tag, then entries in the order written):
//   Material  "<Material>": name (string), roughness (real). Meant to be shared by several nodes.
//   Node      "<Node>": name (string), count (integer), weight (real), visible (bool),
//             shape (identifier: Box, Sphere or Cone), indices (integer array), samples (real
//             array), notes (raw text), material (structure, only when set), children (list of
//             structures), parent (structure, only when set).
//   zr::ResourceDatabase  "<ResourceDatabase>": resources (list of structures).
// Every structure gets an ID from ZRXSerializer::generateID, so shared ones can be referenced.
//
// Ownership: nodes own their children and share their material through strong references; a
// node's parent is a plain, non-owning back pointer, so the host graph has no reference cycle
// while its document does (the child's structure names its parent's). On import the back pointer
// is set by the node whose "children" list holds the child, never taken from the child's "parent"
// entry, which is only cross-checked: it must name that node's structure, or nothing for a node no
// node owns. So a parent always owns its child, and outlives it unless the child is held
// elsewhere too. A node listed below itself (it would own itself) or listed as a child twice (two
// owners), a parent entry that disagrees, and a value of the wrong kind fail the import with an
// ImportError naming the tag and the entry or node.
//
// Single-threaded, like the objects it builds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zrCore/Object.hpp"
#include "zrCore/ResourceDatabase.hpp"
#include "zrX/Registry.hpp"

namespace zrtest {

enum class Shape { Box, Sphere, Cone };

// Plain data holders: fields are public.
class Material : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  std::string name;
  double roughness = 0;
};

class Node : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  std::string name;
  int64_t count = 0;
  double weight = 0;
  bool visible = true;
  Shape shape = Shape::Box;
  std::vector<int64_t> indices;
  std::vector<double> samples;
  std::string notes;
  zr::ref<Material> material;
  std::vector<zr::ref<Node>> children;  // never null
  Node* parent = nullptr;               // not owning

  // Appends `child` and points it back at this node.
  Node* adopt(Node* child);
};

// A resource database holding a scene with every value kind: a root node whose two children share
// one material (which the database lists too), children pointing back at their parents (cycles in
// the document), a grandchild, extreme integers, negative zero, empty strings, arrays and lists,
// non-ASCII bytes, and texts that need escaping. Reals are exact in six decimals.
zr::ref<zr::ResourceDatabase> makeSampleGraph();

// A registry with the wrappers of Material, Node and zr::ResourceDatabase.
zr::ref<zrX::Registry> makeHostRegistry();

// Compares two host graphs structurally: same classes, same field values (reals bit for bit,
// NaNs equal) and the same shape of sharing and cycles, i.e. a one-to-one correspondence between
// the objects of both sides (two owners of one object on one side must own one object on the
// other). Returns "" when equal, otherwise where and how they first differ.
std::string graphDifference(const zr::Object* a, const zr::Object* b);

}  // namespace zrtest
