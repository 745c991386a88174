#include "Shapes.hpp"

#include <algorithm>
#include <random>
#include <unordered_map>

namespace shapes {

ZR_DEFINE_TYPE(GNode, zr::Object, "shapes::GNode")
ZR_DEFINE_TYPE(Graph, zr::Object, "shapes::Graph")
ZR_DEFINE_TYPE(AMesh, zr::Object, "shapes::AMesh")
ZR_DEFINE_TYPE(Arrays, zr::Object, "shapes::Arrays")

namespace {

using zrX::ZRXValue;

template <class T>
T* as(zr::Object* object) {
  return object && object->isOfType(T::Type()) ? static_cast<T*>(object) : nullptr;
}

// Imports every element of a list of structures as T, appending to `out`.
template <class T>
bool importAll(zrX::ZRXSerializer& s, const ZRXValue& v, std::vector<zr::ref<T>>& out) {
  if (v.type() != ZRXValue::List) return false;
  out.reserve(v.getList()->value().size());
  for (const ZRXValue& element : v.getList()->value()) {
    if (element.type() != ZRXValue::Structure || !element.getStructure()) return false;
    T* object = as<T>(s.importZRX(element.getStructure()));
    if (!object) return false;
    out.push_back(object);
  }
  return true;
}

template <class T>
zr::ref<zrX::ZRXList> exportAll(zrX::ZRXSerializer& s, const std::vector<zr::ref<T>>& objects) {
  zr::ref<zrX::ZRXList> list = new zrX::ZRXList(nullptr, objects.size());
  for (const auto& object : objects) {
    zrX::ZRXStructure* st = s.exportZRX(object.get());
    if (!st) return nullptr;
    list->value().push_back(ZRXValue::makeStructure(st));
  }
  return list;
}

class NodeWrapper : public zrX::ClassWrapper {
 public:
  zr::ref<zrX::ZRXStructure> exportObject(zrX::ZRXSerializer& s, const zr::Object* o) override {
    const auto* n = static_cast<const GNode*>(o);
    zr::ref<zrX::ZRXStructure> st = new zrX::ZRXStructure("<Node>");
    st->setID(s.generateID("n"));
    s.registerExportedObject(n, st.get());
    *st << "name" << ZRXValue::makeString(n->name) << "a" << ZRXValue(n->a) << "b" << ZRXValue(n->b)
        << "c" << ZRXValue(n->c) << "x" << ZRXValue::makeReal(n->x) << "y"
        << ZRXValue::makeReal(n->y);
    if (!n->refs.empty()) {
      zr::ref<zrX::ZRXList> list = exportAll(s, n->refs);
      if (!list) return nullptr;
      *st << "refs" << ZRXValue::makeList(list.get());
    }
    if (n->parent) {
      zrX::ZRXStructure* parent = s.exportZRX(n->parent);
      if (!parent) return nullptr;
      *st << "parent" << ZRXValue::makeStructure(parent);
    }
    return st;
  }

  zr::ref<zr::Object> importObject(zrX::ZRXSerializer& s, const zrX::ZRXStructure* st) override {
    zr::ref<GNode> n = new GNode;
    s.registerImportedStructure(st, n.get());
    for (const auto& entry : st->value()) {
      const ZRXValue& v = entry.value();
      const std::string& k = entry.key();
      if (k == "name" && v.type() == ZRXValue::String) {
        n->name = v.getString();
      } else if (k == "a" && v.type() == ZRXValue::Integer) {
        n->a = v.getInteger();
      } else if (k == "b" && v.type() == ZRXValue::Integer) {
        n->b = v.getInteger();
      } else if (k == "c" && v.type() == ZRXValue::Integer) {
        n->c = v.getInteger();
      } else if (k == "x" && v.type() == ZRXValue::Real) {
        n->x = v.getReal();
      } else if (k == "y" && v.type() == ZRXValue::Real) {
        n->y = v.getReal();
      } else if (k == "refs") {
        if (!importAll(s, v, n->refs)) return nullptr;
      } else if (k == "parent" && v.type() == ZRXValue::Structure && v.getStructure()) {
        n->parent = as<GNode>(s.importZRX(v.getStructure()));
        if (!n->parent) return nullptr;
      }
    }
    return n;
  }
};

class GraphWrapper : public zrX::ClassWrapper {
 public:
  zr::ref<zrX::ZRXStructure> exportObject(zrX::ZRXSerializer& s, const zr::Object* o) override {
    const auto* g = static_cast<const Graph*>(o);
    zr::ref<zrX::ZRXStructure> st = new zrX::ZRXStructure("<Graph>");
    s.registerExportedObject(g, st.get());
    zr::ref<zrX::ZRXList> roots = exportAll(s, g->roots);
    if (!roots) return nullptr;
    *st << "name" << ZRXValue::makeString(g->name) << "roots" << ZRXValue::makeList(roots.get());
    return st;
  }

  zr::ref<zr::Object> importObject(zrX::ZRXSerializer& s, const zrX::ZRXStructure* st) override {
    zr::ref<Graph> g = new Graph;
    s.registerImportedStructure(st, g.get());
    for (const auto& entry : st->value()) {
      const ZRXValue& v = entry.value();
      if (entry.key() == "name" && v.type() == ZRXValue::String) g->name = v.getString();
      if (entry.key() == "roots" && !importAll(s, v, g->roots)) return nullptr;
    }
    return g;
  }
};

class MeshWrapper : public zrX::ClassWrapper {
 public:
  zr::ref<zrX::ZRXStructure> exportObject(zrX::ZRXSerializer& s, const zr::Object* o) override {
    const auto* m = static_cast<const AMesh*>(o);
    zr::ref<zrX::ZRXStructure> st = new zrX::ZRXStructure("<Mesh>");
    s.registerExportedObject(m, st.get());
    zr::ref<zrX::ZRXArrayReal> vertices = new zrX::ZRXArrayReal();
    vertices->value() = m->vertices;
    zr::ref<zrX::ZRXArrayInteger> indices = new zrX::ZRXArrayInteger();
    indices->value() = m->indices;
    *st << "name" << ZRXValue::makeString(m->name) << "material" << ZRXValue(m->material) << "flags"
        << ZRXValue(m->flags) << "lod" << ZRXValue(m->lod) << "scale"
        << ZRXValue::makeReal(m->scale) << "vertices" << ZRXValue::makeArray(vertices.get())
        << "indices" << ZRXValue::makeArray(indices.get());
    return st;
  }

  // A load drops the document it read: its arrays' storage is taken, as the README teaches.
  template <class T>
  static void take(const zrX::ZRXSerializer& s, std::vector<T>& values, std::vector<T>& out) {
    if (s.importsOwnDocument())
      out.swap(values);
    else
      out = values;
  }

  zr::ref<zr::Object> importObject(zrX::ZRXSerializer& s, const zrX::ZRXStructure* st) override {
    zr::ref<AMesh> m = new AMesh;
    s.registerImportedStructure(st, m.get());
    for (const auto& entry : st->value()) {
      const ZRXValue& v = entry.value();
      const std::string& k = entry.key();
      if (k == "name" && v.type() == ZRXValue::String) {
        m->name = v.getString();
      } else if (k == "material" && v.type() == ZRXValue::Integer) {
        m->material = v.getInteger();
      } else if (k == "flags" && v.type() == ZRXValue::Integer) {
        m->flags = v.getInteger();
      } else if (k == "lod" && v.type() == ZRXValue::Integer) {
        m->lod = v.getInteger();
      } else if (k == "scale" && v.type() == ZRXValue::Real) {
        m->scale = v.getReal();
      } else if (k == "vertices" && v.type() == ZRXValue::ArrayReal) {
        take(s, v.getArrayReal()->value(), m->vertices);
      } else if (k == "indices" && v.type() == ZRXValue::ArrayInteger) {
        take(s, v.getArrayInteger()->value(), m->indices);
      }
    }
    return m;
  }
};

class ArraysWrapper : public zrX::ClassWrapper {
 public:
  zr::ref<zrX::ZRXStructure> exportObject(zrX::ZRXSerializer& s, const zr::Object* o) override {
    const auto* d = static_cast<const Arrays*>(o);
    zr::ref<zrX::ZRXStructure> st = new zrX::ZRXStructure("<Arrays>");
    s.registerExportedObject(d, st.get());
    zr::ref<zrX::ZRXList> meshes = exportAll(s, d->meshes);
    if (!meshes) return nullptr;
    *st << "name" << ZRXValue::makeString(d->name) << "meshes" << ZRXValue::makeList(meshes.get());
    return st;
  }

  zr::ref<zr::Object> importObject(zrX::ZRXSerializer& s, const zrX::ZRXStructure* st) override {
    zr::ref<Arrays> d = new Arrays;
    s.registerImportedStructure(st, d.get());
    for (const auto& entry : st->value()) {
      const ZRXValue& v = entry.value();
      if (entry.key() == "name" && v.type() == ZRXValue::String) d->name = v.getString();
      if (entry.key() == "meshes" && !importAll(s, v, d->meshes)) return nullptr;
    }
    return d;
  }
};

}  // namespace

zr::ref<zrX::Registry> makeRegistry() {
  zr::ref<zrX::Registry> registry = new zrX::Registry;
  registry->registerWrapper("<Node>", GNode::Type(), new NodeWrapper);
  registry->registerWrapper("<Graph>", Graph::Type(), new GraphWrapper);
  registry->registerWrapper("<Mesh>", AMesh::Type(), new MeshWrapper);
  registry->registerWrapper("<Arrays>", Arrays::Type(), new ArraysWrapper);
  return registry;
}

zr::ref<zrX::Registry> makeDeclaredRegistry() {
  using zrX::Declare;
  zr::ref<zrX::Registry> registry = new zrX::Registry;
  registry->add(Declare<GNode>("<Node>")
                    .id("n")
                    .field("name", &GNode::name)
                    .field("a", &GNode::a)
                    .field("b", &GNode::b)
                    .field("c", &GNode::c)
                    .field("x", &GNode::x)
                    .field("y", &GNode::y)
                    .field("refs", &GNode::refs)
                    .omitEmpty()
                    .parent("parent", &GNode::parent, &GNode::refs));
  registry->add(
      Declare<Graph>("<Graph>").noID().field("name", &Graph::name).field("roots", &Graph::roots));
  registry->add(Declare<AMesh>("<Mesh>")
                    .noID()
                    .field("name", &AMesh::name)
                    .field("material", &AMesh::material)
                    .field("flags", &AMesh::flags)
                    .field("lod", &AMesh::lod)
                    .field("scale", &AMesh::scale)
                    .field("vertices", &AMesh::vertices)
                    .field("indices", &AMesh::indices));
  registry->add(Declare<Arrays>("<Arrays>")
                    .noID()
                    .field("name", &Arrays::name)
                    .field("meshes", &Arrays::meshes));
  return registry;
}

zr::ref<Graph> makeGraph(size_t objects) {
  std::mt19937_64 random(20261210);
  const size_t rootCount = std::min<size_t>(1000, std::max<size_t>(1, objects / 300));
  std::vector<zr::ref<GNode>> nodes(objects);
  for (size_t i = 0; i < objects; ++i) {
    nodes[i] = new GNode;
    GNode* n = nodes[i].get();
    n->name = "n" + std::to_string(i);
    n->a = static_cast<int64_t>(random() >> 20) - (int64_t{1} << 43);
    n->b = static_cast<int64_t>(i);
    n->c = static_cast<int64_t>(random() % 1000);
    // Reals of six decimals, which the text writer keeps in that form (its common case).
    n->x = static_cast<double>(static_cast<int64_t>(random() % 2000000001) - 1000000000) / 1e6;
    n->y = static_cast<double>(random() % 1000000) / 1e6;
  }
  // A binary heap below the roots: node i's owner is (i - roots) / 2, so about nine levels for
  // 300,000 nodes; on each level the nodes of one root's subtree stand together, in root order.
  // Three in ten nodes gain one or two further owners on their owner's level but under a later
  // root, so every node is first reached from its parent and the document nests as the graph does.
  size_t levelStart = 0, levelEnd = rootCount, block = 1;  // the owners' level, a root's share
  for (size_t i = rootCount; i < objects; ++i) {
    const size_t ownerIndex = (i - rootCount) / 2;
    while (ownerIndex >= levelEnd) {
      levelStart = levelEnd;
      levelEnd = rootCount + 2 * levelEnd;
      block *= 2;
    }
    GNode* owner = nodes[ownerIndex].get();
    owner->refs.push_back(nodes[i]);
    nodes[i]->parent = owner;
    const size_t laterStart = levelStart + ((ownerIndex - levelStart) / block + 1) * block;
    const size_t laterEnd = std::min(levelEnd, objects);
    if (random() % 10 < 3 && laterStart < laterEnd) {
      const int extra = 1 + static_cast<int>(random() % 2);
      for (int k = 0; k < extra; ++k)
        nodes[laterStart + random() % (laterEnd - laterStart)]->refs.push_back(nodes[i]);
    }
  }
  zr::ref<Graph> graph = new Graph;
  graph->name = "graph";
  graph->roots.assign(nodes.begin(), nodes.begin() + static_cast<std::ptrdiff_t>(rootCount));
  return graph;
}

zr::ref<Arrays> makeArrays(int meshes, size_t vertices, size_t indices) {
  zr::ref<Arrays> arrays = new Arrays;
  arrays->name = "arrays";
  for (int m = 0; m < meshes; ++m) {
    zr::ref<AMesh> mesh = new AMesh;
    mesh->name = "mesh" + std::to_string(m);
    mesh->material = m % 3;
    mesh->flags = 0x5A5A + m;
    mesh->lod = m % 4;
    mesh->scale = 1.0 + m / 8.0;
    mesh->vertices.resize(vertices);
    for (size_t i = 0; i < vertices; ++i)
      mesh->vertices[i] =
          static_cast<double>(static_cast<int64_t>((i * 7919 + m) % 4000000) - 2000000) / 1e6;
    mesh->indices.resize(indices);
    for (size_t i = 0; i < indices; ++i)
      mesh->indices[i] = static_cast<int64_t>((i * 2654435761u + m) % (vertices / 3 + 1));
    arrays->meshes.push_back(mesh);
  }
  return arrays;
}

namespace {

bool sameNode(const GNode* a, const GNode* b) {
  return a->name == b->name && a->a == b->a && a->b == b->b && a->c == b->c && a->x == b->x &&
         a->y == b->y && a->refs.size() == b->refs.size() && !a->parent == !b->parent;
}

}  // namespace

bool equal(const Graph* a, const Graph* b) {
  if (!a || !b || a->name != b->name || a->roots.size() != b->roots.size()) return false;
  // Pair the nodes of both graphs as they are reached; a pairing that breaks is a difference in
  // sharing.
  std::unordered_map<const GNode*, const GNode*> pair;
  std::vector<std::pair<const GNode*, const GNode*>> todo;
  auto meet = [&](const GNode* x, const GNode* y) {
    auto [at, fresh] = pair.emplace(x, y);
    if (!fresh) return at->second == y;
    todo.emplace_back(x, y);
    return true;
  };
  for (size_t i = 0; i < a->roots.size(); ++i)
    if (!meet(a->roots[i].get(), b->roots[i].get())) return false;
  while (!todo.empty()) {
    auto [x, y] = todo.back();
    todo.pop_back();
    if (!sameNode(x, y)) return false;
    for (size_t i = 0; i < x->refs.size(); ++i)
      if (!meet(x->refs[i].get(), y->refs[i].get())) return false;
    if (x->parent && !meet(x->parent, y->parent)) return false;
  }
  return true;
}

bool equal(const Arrays* a, const Arrays* b) {
  if (!a || !b || a->name != b->name || a->meshes.size() != b->meshes.size()) return false;
  for (size_t i = 0; i < a->meshes.size(); ++i) {
    const AMesh& x = *a->meshes[i];
    const AMesh& y = *b->meshes[i];
    if (x.name != y.name || x.material != y.material || x.flags != y.flags || x.lod != y.lod ||
        x.scale != y.scale || x.vertices != y.vertices || x.indices != y.indices)
      return false;
  }
  return true;
}

}  // namespace shapes
