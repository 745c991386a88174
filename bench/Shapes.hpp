// The two document shapes that zrX's speed is judged on, as host classes with their wrappers:
//   Graph  - hundreds of thousands of small objects (a name, three integers, two reals, a list of
//            references), about 30 % shared by two or three owners, every non-root object with a
//            back pointer to its parent;
//   Arrays - a few meshes holding millions of reals and integers.
// Each class has a hand-written wrapper, written the way the README teaches for the low-level
// API (register first, then recurse; arrays copied into array nodes, their storage taken on
// loads), and a declaration that writes the same documents; the benchmarks time both. Used by the
// benchmarks only; single-threaded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zrX/zrX.hpp"

namespace shapes {

class GNode : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  std::string name;
  int64_t a = 0, b = 0, c = 0;
  double x = 0, y = 0;
  std::vector<zr::ref<GNode>> refs;
  GNode* parent = nullptr;  // back pointer, kept alive by the owners
};

class Graph : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  std::string name;
  std::vector<zr::ref<GNode>> roots;
};

class AMesh : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  std::string name;
  int64_t material = 0, flags = 0, lod = 0;
  double scale = 0;
  std::vector<double> vertices;
  std::vector<int64_t> indices;
};

class Arrays : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  std::string name;
  std::vector<zr::ref<AMesh>> meshes;
};

// Hand-written wrappers for all four classes.
zr::ref<zrX::Registry> makeRegistry();
// The same four classes declared (zrX::Declare), writing the same documents.
zr::ref<zrX::Registry> makeDeclaredRegistry();

// `objects` nodes under 1000 roots (fewer for small counts), about nine levels deep, deterministic.
// References only point to nodes made later, so the graph holds no cycle of references.
zr::ref<Graph> makeGraph(size_t objects);
// `meshes` meshes of `vertices` reals and `indices` integers, deterministic; every real is k/1e6.
zr::ref<Arrays> makeArrays(int meshes, size_t vertices, size_t indices);

// Structural equality, sharing and parents included.
bool equal(const Graph* a, const Graph* b);
bool equal(const Arrays* a, const Arrays* b);

}  // namespace shapes
