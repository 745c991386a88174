#include "Scene.hpp"

#include <cmath>
#include <map>

namespace demo {

ZR_DEFINE_TYPE(Material, zr::Object, "demo::Material")
ZR_DEFINE_TYPE(Mesh, zr::Object, "demo::Mesh")
ZR_DEFINE_TYPE(SceneNode, zr::Object, "demo::SceneNode")

namespace {

using zrX::ZRXSerializer;
using zrX::ZRXStructure;
using zrX::ZRXValue;

// A real array value tagged `tag` (null for none) holding `count` values.
ZRXValue reals(const char* tag, const double* data, size_t count) {
  ZRXValue v;
  v.setArrayReal(new zrX::ZRXArrayReal(tag))->value().assign(data, data + count);
  return v;
}

// Reads a real array entry of exactly `count` values into `out`.
bool readReals(const ZRXValue& v, double* out, size_t count) {
  if (v.type() != ZRXValue::ArrayReal || v.getArrayReal()->value().size() != count) return false;
  for (size_t i = 0; i < count; ++i) out[i] = v.getArrayReal()->value()[i];
  return true;
}

// Imports the object a Structure value names, requiring it to be a T.
template <class T>
T* importAs(ZRXSerializer& s, const ZRXValue& v) {
  if (v.type() != ZRXValue::Structure || !v.getStructure()) return nullptr;
  zr::Object* object = s.importZRX(v.getStructure());
  return object && object->isOfType(T::Type()) ? static_cast<T*>(object) : nullptr;
}

class MaterialWrapper : public zrX::ClassWrapper {
 public:
  zr::ref<zr::Object> importObject(ZRXSerializer& s, const ZRXStructure* st) override {
    zr::ref<Material> m = new Material;
    s.registerImportedStructure(st, m.get());
    for (const ZRXStructure::KeyValue& e : st->value()) {
      const std::string& key = e.key();
      const ZRXValue& v = e.value();
      if (key == "name" && v.type() == ZRXValue::String) {
        m->name = v.getString();
      } else if (key == "color") {
        if (!readReals(v, m->color, 3)) return nullptr;
      } else if (key == "shininess" && v.type() == ZRXValue::Real) {
        m->shininess = v.getReal();
      } else if (key == "two_sided" && v.type() == ZRXValue::Bool) {
        m->twoSided = v.getBool();
      } else if (key == "blend" && v.type() == ZRXValue::Identifier) {
        const std::string& b = v.getIdentifier();
        m->blend = b == "Additive" ? Material::Blend::Additive
                   : b == "Alpha"  ? Material::Blend::Alpha
                                   : Material::Blend::Opaque;
      } else if (key == "shader" && v.type() == ZRXValue::RawtextBlock) {
        m->shader = v.getRawtextBlock()->value();
      }
    }
    return m;
  }

  zr::ref<ZRXStructure> exportObject(ZRXSerializer& s, const zr::Object* object) override {
    const auto* m = static_cast<const Material*>(object);
    zr::ref<ZRXStructure> st = new ZRXStructure("<Material>");
    st->setID(s.generateID("mat"));
    s.registerExportedObject(m, st.get());
    static const char* const kBlend[] = {"Opaque", "Additive", "Alpha"};
    *st << "name" << ZRXValue::makeString(m->name) << "color" << reals(nullptr, m->color, 3)
        << "shininess" << ZRXValue::makeReal(m->shininess) << "two_sided"
        << ZRXValue::makeBool(m->twoSided) << "blend"
        << ZRXValue::makeIdentifier(kBlend[static_cast<int>(m->blend)]);
    if (!m->shader.empty()) {
      ZRXValue shader;
      shader.setRawtextBlock(new zrX::ZRXRawtextBlock("<GLSL>", m->shader.c_str()));
      *st << "shader" << shader;
    }
    return st;
  }
};

class MeshWrapper : public zrX::ClassWrapper {
 public:
  zr::ref<zr::Object> importObject(ZRXSerializer& s, const ZRXStructure* st) override {
    zr::ref<Mesh> mesh = new Mesh;
    s.registerImportedStructure(st, mesh.get());
    for (const ZRXStructure::KeyValue& e : st->value()) {
      const std::string& key = e.key();
      const ZRXValue& v = e.value();
      if (key == "name" && v.type() == ZRXValue::String) {
        mesh->name = v.getString();
      } else if (key == "vertices" && v.type() == ZRXValue::ArrayReal) {
        mesh->vertices = v.getArrayReal()->value();
      } else if (key == "vertices" && v.type() == ZRXValue::ArrayInteger) {
        // an empty real array reads back from text as an empty integer array
        if (!v.getArrayInteger()->value().empty()) return nullptr;
      } else if (key == "indices" && v.type() == ZRXValue::ArrayInteger) {
        mesh->indices = v.getArrayInteger()->value();
      } else if (key == "material") {
        mesh->material = importAs<Material>(s, v);
        if (!mesh->material) {
          s.signalImportError("Mesh '" + mesh->name + "': material is not a material");
          return nullptr;
        }
      }
    }
    return mesh;
  }

  zr::ref<ZRXStructure> exportObject(ZRXSerializer& s, const zr::Object* object) override {
    const auto* mesh = static_cast<const Mesh*>(object);
    zr::ref<ZRXStructure> st = new ZRXStructure("<Mesh>");
    st->setID(s.generateID("mesh"));
    s.registerExportedObject(mesh, st.get());
    *st << "name" << ZRXValue::makeString(mesh->name) << "vertices"
        << reals("<Vertices>", mesh->vertices.data(), mesh->vertices.size());
    ZRXValue indices;
    indices.setArrayInteger(new zrX::ZRXArrayInteger("<Indices>"))->value() = mesh->indices;
    *st << "indices" << indices;
    if (mesh->material) {
      ZRXStructure* material = s.exportZRX(mesh->material.get());
      if (!material) return nullptr;
      *st << "material" << ZRXValue::makeStructure(material);
    }
    return st;
  }
};

class NodeWrapper : public zrX::ClassWrapper {
 public:
  zr::ref<zr::Object> importObject(ZRXSerializer& s, const ZRXStructure* st) override {
    zr::ref<SceneNode> node = new SceneNode;
    s.registerImportedStructure(st, node.get());
    for (const ZRXStructure::KeyValue& e : st->value()) {
      const std::string& key = e.key();
      const ZRXValue& v = e.value();
      if (key == "name" && v.type() == ZRXValue::String) {
        node->name = v.getString();
      } else if (key == "position") {
        if (!readReals(v, node->position, 3)) return nullptr;
      } else if (key == "mesh") {
        node->mesh = importAs<Mesh>(s, v);
        if (!node->mesh) return nullptr;
      } else if (key == "parent") {
        node->parent = importAs<SceneNode>(s, v);
        if (!node->parent) return nullptr;
      } else if (key == "children" && v.type() == ZRXValue::List) {
        for (const ZRXValue& child : v.getList()->value()) {
          SceneNode* c = importAs<SceneNode>(s, child);
          if (!c) return nullptr;
          node->children.emplace_back(c);
        }
      }
    }
    return node;
  }

  zr::ref<ZRXStructure> exportObject(ZRXSerializer& s, const zr::Object* object) override {
    const auto* node = static_cast<const SceneNode*>(object);
    zr::ref<ZRXStructure> st = new ZRXStructure("<Node>");
    st->setID(s.generateID("node"));
    s.registerExportedObject(node, st.get());
    *st << "name" << ZRXValue::makeString(node->name) << "position"
        << reals(nullptr, node->position, 3);
    if (node->mesh) {
      ZRXStructure* mesh = s.exportZRX(node->mesh.get());
      if (!mesh) return nullptr;
      *st << "mesh" << ZRXValue::makeStructure(mesh);
    }
    if (node->parent) {
      ZRXStructure* parent = s.exportZRX(node->parent);
      if (!parent) return nullptr;
      *st << "parent" << ZRXValue::makeStructure(parent);
    }
    if (!node->children.empty()) {
      ZRXValue children;
      zrX::ZRXList* list = children.setList(new zrX::ZRXList("<Children>"));
      list->value().reserve(node->children.size());
      for (const zr::ref<SceneNode>& child : node->children) {
        ZRXStructure* c = s.exportZRX(child.get());
        if (!c) return nullptr;
        list->value().push_back(ZRXValue::makeStructure(c));
      }
      *st << "children" << children;
    }
    return st;
  }
};

class DatabaseWrapper : public zrX::ClassWrapper {
 public:
  zr::ref<zr::Object> importObject(ZRXSerializer& s, const ZRXStructure* st) override {
    zr::ref<zr::ResourceDatabase> db = new zr::ResourceDatabase;
    s.registerImportedStructure(st, db.get());
    for (const ZRXStructure::KeyValue& e : st->value()) {
      if (e.key() != "resources" || e.value().type() != ZRXValue::List) continue;
      for (const ZRXValue& v : e.value().getList()->value()) {
        if (v.type() != ZRXValue::Structure || !v.getStructure()) return nullptr;
        zr::Object* resource = s.importZRX(v.getStructure());
        if (!resource) return nullptr;
        db->resources().emplace_back(resource);
      }
    }
    return db;
  }

  zr::ref<ZRXStructure> exportObject(ZRXSerializer& s, const zr::Object* object) override {
    const auto* db = static_cast<const zr::ResourceDatabase*>(object);
    zr::ref<ZRXStructure> st = new ZRXStructure("<ResourceDatabase>");
    s.registerExportedObject(db, st.get());
    ZRXValue resources;
    zrX::ZRXList* list = resources.setList(new zrX::ZRXList);
    for (const zr::ref<zr::Object>& resource : db->resources()) {
      ZRXStructure* r = s.exportZRX(resource.get());
      if (!r) return nullptr;
      list->value().push_back(ZRXValue::makeStructure(r));
    }
    *st << "resources" << resources;
    return st;
  }
};

// Deterministic pseudo-random numbers, so a scene is the same on every run.
struct Lcg {
  uint64_t state;
  double next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state >> 11) / 9007199254740992.0;
  }
};

}  // namespace

zr::ref<zrX::Registry> makeSceneRegistry() {
  zr::ref<zrX::Registry> registry = new zrX::Registry;
  registry->registerWrapper("<Material>", Material::Type(), new MaterialWrapper);
  registry->registerWrapper("<Mesh>", Mesh::Type(), new MeshWrapper);
  registry->registerWrapper("<Node>", SceneNode::Type(), new NodeWrapper);
  registry->registerWrapper("<ResourceDatabase>", zr::ResourceDatabase::Type(),
                            new DatabaseWrapper);
  return registry;
}

zr::ref<zr::ResourceDatabase> makeScene(const SceneShape& shape) {
  Lcg random{42};
  std::vector<zr::ref<Material>> materials;
  for (int i = 0; i < shape.materials; ++i) {
    zr::ref<Material> m = new Material;
    m->name = "material " + std::to_string(i);
    m->color[0] = 0.25 * (i % 4);
    m->color[1] = 0.5;
    m->color[2] = 1.0 - 0.125 * (i % 8);
    m->shininess = 8.0 * (i + 1);
    m->twoSided = i % 2 == 1;
    m->blend = static_cast<Material::Blend>(i % 3);
    m->shader = "void main() {\n  gl_FragColor = vec4(1.0);\n}\n";
    materials.push_back(m);
  }
  std::vector<zr::ref<Mesh>> meshes;
  for (int i = 0; i < shape.meshes; ++i) {
    zr::ref<Mesh> mesh = new Mesh;
    mesh->name = "mesh " + std::to_string(i);
    mesh->vertices.resize(static_cast<size_t>(shape.verticesPerMesh) * 3);
    // Values with at most six decimals, so the text format holds them exactly.
    for (double& v : mesh->vertices) v = std::round((random.next() * 200.0 - 100.0) * 1e6) / 1e6;
    const int64_t count = shape.verticesPerMesh;
    mesh->indices.resize(static_cast<size_t>(count > 2 ? (count - 2) * 3 : 0));
    for (size_t t = 0; t + 2 < mesh->indices.size(); t += 3) {
      const int64_t base = static_cast<int64_t>(t / 3);
      mesh->indices[t] = base;
      mesh->indices[t + 1] = base + 1;
      mesh->indices[t + 2] = base + 2;
    }
    if (!materials.empty()) mesh->material = materials[static_cast<size_t>(i) % materials.size()];
    meshes.push_back(mesh);
  }

  zr::ref<SceneNode> root = new SceneNode;
  root->name = "root";
  std::vector<SceneNode*> all{root.get()};
  for (int i = 0; i < shape.nodes; ++i) {
    zr::ref<SceneNode> node = new SceneNode;
    node->name = "node " + std::to_string(i);
    for (double& p : node->position) p = std::round(random.next() * 1e6) / 1e3;
    if (!meshes.empty()) node->mesh = meshes[static_cast<size_t>(i) % meshes.size()];
    SceneNode* parent = all[static_cast<size_t>(i) / 4];  // four children per node
    node->parent = parent;
    parent->children.push_back(node);
    all.push_back(node.get());
  }

  zr::ref<zr::ResourceDatabase> scene = new zr::ResourceDatabase;
  scene->resources().emplace_back(root.get());
  return scene;
}

namespace {

class Comparer {
 public:
  bool same(const zr::Object* a, const zr::Object* b, const std::string& where) {
    if (!a || !b) return fail(a == b, where + ": one side is missing");
    auto seen = mMatch.find(a);
    if (seen != mMatch.end()) return fail(seen->second == b, where + ": sharing differs");
    auto back = mBack.find(b);
    if (back != mBack.end()) return fail(false, where + ": sharing differs");
    mMatch[a] = b;
    mBack[b] = a;
    if (a->classType() != b->classType()) return fail(false, where + ": types differ");
    if (a->isOfType(Material::Type())) {
      const auto* x = static_cast<const Material*>(a);
      const auto* y = static_cast<const Material*>(b);
      return fail(x->name == y->name && x->shininess == y->shininess &&
                      x->twoSided == y->twoSided && x->blend == y->blend &&
                      x->shader == y->shader && x->color[0] == y->color[0] &&
                      x->color[1] == y->color[1] && x->color[2] == y->color[2],
                  where + " material '" + x->name + "'");
    }
    if (a->isOfType(Mesh::Type())) {
      const auto* x = static_cast<const Mesh*>(a);
      const auto* y = static_cast<const Mesh*>(b);
      return fail(x->name == y->name && x->vertices == y->vertices && x->indices == y->indices,
                  where + " mesh '" + x->name + "'") &&
             same(x->material.get(), y->material.get(), where + " material of " + x->name);
    }
    if (a->isOfType(SceneNode::Type())) {
      const auto* x = static_cast<const SceneNode*>(a);
      const auto* y = static_cast<const SceneNode*>(b);
      if (!fail(x->name == y->name && x->position[0] == y->position[0] &&
                    x->position[1] == y->position[1] && x->position[2] == y->position[2] &&
                    x->children.size() == y->children.size() && !x->parent == !y->parent,
                where + " node '" + x->name + "'"))
        return false;
      if (x->parent && !same(x->parent, y->parent, where + " parent of " + x->name)) return false;
      if ((x->mesh || y->mesh) &&
          !same(x->mesh.get(), y->mesh.get(), where + " mesh of " + x->name))
        return false;
      for (size_t i = 0; i < x->children.size(); ++i)
        if (!same(x->children[i].get(), y->children[i].get(), where + "/" + x->name)) return false;
      return true;
    }
    if (a->isOfType(zr::ResourceDatabase::Type())) {
      const auto* x = static_cast<const zr::ResourceDatabase*>(a);
      const auto* y = static_cast<const zr::ResourceDatabase*>(b);
      if (!fail(x->resources().size() == y->resources().size(), where + " resource count"))
        return false;
      for (size_t i = 0; i < x->resources().size(); ++i)
        if (!same(x->resources()[i].get(), y->resources()[i].get(), where + " resource"))
          return false;
      return true;
    }
    return fail(false, where + ": unknown class " + a->className());
  }

  std::string why;

 private:
  bool fail(bool ok, const std::string& where) {
    if (!ok && why.empty()) why = where;
    return ok;
  }

  std::map<const zr::Object*, const zr::Object*> mMatch, mBack;
};

}  // namespace

bool scenesEqual(const zr::ResourceDatabase* a, const zr::ResourceDatabase* b, std::string* why) {
  Comparer comparer;
  const bool equal = comparer.same(a, b, "scene");
  if (why) *why = comparer.why;
  return equal;
}

SceneCounts countScene(const zr::ResourceDatabase* scene) {
  SceneCounts counts;
  std::map<const zr::Object*, bool> seen;
  std::vector<const SceneNode*> pending;
  for (const zr::ref<zr::Object>& r : scene->resources())
    if (r && r->isOfType(SceneNode::Type()))
      pending.push_back(static_cast<const SceneNode*>(r.get()));
  while (!pending.empty()) {
    const SceneNode* node = pending.back();
    pending.pop_back();
    if (seen[node]) continue;
    seen[node] = true;
    ++counts.nodes;
    if (node->mesh && !seen[node->mesh.get()]) {
      seen[node->mesh.get()] = true;
      ++counts.meshes;
      counts.reals += node->mesh->vertices.size();
      counts.integers += node->mesh->indices.size();
      if (node->mesh->material && !seen[node->mesh->material.get()]) {
        seen[node->mesh->material.get()] = true;
        ++counts.materials;
      }
    }
    for (const zr::ref<SceneNode>& child : node->children) pending.push_back(child.get());
  }
  return counts;
}

}  // namespace demo
