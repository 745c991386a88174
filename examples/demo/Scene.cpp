#include "Scene.hpp"

#include <algorithm>
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

// --- Reading files from anywhere ---
//
// A document may come from anyone, so an import trusts nothing in it. Each value's kind is
// checked before its getter runs (a getter of the wrong kind is a programming error that stops
// the process), and a wrong kind fails the import with a message naming the tag and the key
// instead of being skipped. Back pointers are set by the owner; the file's "parent" entries are
// only cross-checked. Messages quote file content escaped and cut short.

using Entry = ZRXStructure::KeyValue;

// A text from the file, fit for a message: quoted, cut after 32 bytes ("..."), printable ASCII
// kept and every other byte, quote and backslash escaped.
std::string quoted(const std::string& text) {
  constexpr size_t kKept = 32;
  std::string out = "'";
  for (size_t i = 0; i < text.size() && i < kKept; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\'' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      out += zr::String::printf("\\x%02X", c).toStdString();
    }
  }
  return out + (text.size() > kKept ? "...'" : "'");
}

// "<Node> 'name'" for messages about a node (the tag alone when the name is empty).
std::string describe(const SceneNode& node) {
  return node.name.empty() ? std::string("<Node>") : "<Node> " + quoted(node.name);
}

// Whether every "parent" entry of `structure` names `owner` (null: names no structure).
bool parentEntriesName(const ZRXStructure* structure, const ZRXStructure* owner) {
  for (const Entry& e : structure->value()) {
    if (e.key() != "parent") continue;
    if (e.value().type() != ZRXValue::Structure || e.value().getStructure() != owner) return false;
  }
  return true;
}

// Reads the entries of one structure. Every read returns false once it has reported a failure
// through the serializer; the wrapper then returns null.
class Reader {
 public:
  Reader(ZRXSerializer& s, const ZRXStructure* st) : mSerializer(s), mStructure(st) {}

  bool fail(const std::string& key, const char* problem) {
    mSerializer.signalImportError(zr::Say("%s: entry '%s' %s.")
                                  << mStructure->tag() << key << problem);
    return false;
  }
  bool fail(const Entry& e, const char* problem) { return fail(e.key(), problem); }
  bool failWith(const std::string& message) {
    mSerializer.signalImportError(message);
    return false;
  }

  bool read(const Entry& e, std::string* out) {
    if (e.value().type() != ZRXValue::String) return fail(e, "is not a string");
    *out = e.value().getString();
    return true;
  }
  bool read(const Entry& e, double* out) {
    if (e.value().type() != ZRXValue::Real) return fail(e, "is not a real");
    *out = e.value().getReal();
    return true;
  }
  bool read(const Entry& e, bool* out) {
    if (e.value().type() != ZRXValue::Bool) return fail(e, "is not true or false");
    *out = e.value().getBool();
    return true;
  }
  bool read(const Entry& e, Material::Blend* out) {
    static const char* const kNames[] = {"Opaque", "Additive", "Alpha"};
    if (e.value().type() == ZRXValue::Identifier) {
      for (int i = 0; i < 3; ++i) {
        if (e.value().getIdentifier() == kNames[i]) {
          *out = static_cast<Material::Blend>(i);
          return true;
        }
      }
    }
    return fail(e, "is not Opaque, Additive or Alpha");
  }
  // A real array of exactly three values (a colour, a position).
  bool read(const Entry& e, double (*out)[3]) {
    const ZRXValue& v = e.value();
    if (v.type() != ZRXValue::ArrayReal || v.getArrayReal()->value().size() != 3)
      return fail(e, "is not a real array of 3 values");
    std::copy(v.getArrayReal()->value().begin(), v.getArrayReal()->value().end(), *out);
    return true;
  }
  // The text format writes an empty real array as "( )", which reads back as an integer array.
  bool read(const Entry& e, std::vector<double>* out) {
    const ZRXValue& v = e.value();
    if (v.type() == ZRXValue::ArrayReal) {
      take(v.getArrayReal()->value(), out);
      return true;
    }
    if (v.type() == ZRXValue::ArrayInteger && v.getArrayInteger()->value().empty()) {
      out->clear();
      return true;
    }
    return fail(e, "is not a real array");
  }
  bool read(const Entry& e, std::vector<int64_t>* out) {
    if (e.value().type() != ZRXValue::ArrayInteger) return fail(e, "is not an integer array");
    take(e.value().getArrayInteger()->value(), out);
    return true;
  }
  // A document that loadZRT or loadZRB read for this import is dropped after it: its arrays'
  // storage can be taken instead of copied.
  template <class T>
  void take(std::vector<T>& values, std::vector<T>* out) {
    if (mSerializer.importsOwnDocument()) {
      *out = std::move(values);
      values.clear();
    } else {
      *out = values;
    }
  }
  bool readText(const Entry& e, std::string* out) {
    if (e.value().type() != ZRXValue::RawtextBlock) return fail(e, "is not a raw text block");
    *out = e.value().getRawtextBlock()->value();
    return true;
  }

  // Imports the structure `v` names and requires a T; "#NULL" gives null when `nullable`.
  template <class T>
  bool readObject(const Entry& e, const ZRXValue& v, bool nullable, T** out) {
    *out = nullptr;
    if (v.type() != ZRXValue::Structure) return fail(e, "is not a structure");
    if (!v.getStructure()) return nullable || fail(e, "names no structure");
    zr::Object* object = mSerializer.importZRX(v.getStructure());
    if (!object) return false;  // the serializer has reported it
    if (!object->isOfType(T::Type())) return fail(e, "names an object of the wrong class");
    *out = static_cast<T*>(object);
    return true;
  }
  template <class T>
  bool read(const Entry& e, zr::ref<T>* out) {
    T* object = nullptr;
    if (!readObject(e, e.value(), true, &object)) return false;
    *out = object;
    return true;
  }

  // An entry read by someone else (a node's "parent", checked by its owner): only its kind here.
  bool checkStructure(const Entry& e) {
    return e.value().type() == ZRXValue::Structure || fail(e, "is not a structure");
  }

  // Imports the nodes of a "children" list and adopts them: `node`, made from this reader's
  // structure, sets their back pointers. Refused: a node listed below itself (it would own itself,
  // a reference cycle that nothing frees), a node listed as a child twice (two owners), and a
  // child whose "parent" entry names another structure than this one.
  bool adoptChildren(const Entry& e, SceneNode* node) {
    if (e.value().type() != ZRXValue::List) return fail(e, "is not a list");
    for (const ZRXValue& element : e.value().getList()->value()) {
      SceneNode* child = nullptr;
      if (!readObject(e, element, false, &child)) return false;
      // A node being imported has no owner yet unless one of its descendants listed it: the walk
      // up is one step, except in that case, where it finds the loop.
      for (const SceneNode* up = node; up; up = up->parent) {
        if (up == child)
          return failWith(describe(*child) + " would own itself: it is listed below itself.");
      }
      if (child->parent)
        return failWith(describe(*child) + " is listed as a child more than once.");
      if (!parentEntriesName(element.getStructure(), mStructure))
        return failWith(describe(*child) + ": entry 'parent' does not name the node that owns it.");
      node->children.emplace_back(child);
      child->parent = node;
    }
    return true;
  }

  // Once every resource is imported, every owner is known: a node that no node owns must not
  // name a parent.
  bool checkUnowned(const Entry& e) {
    for (const ZRXValue& element : e.value().getList()->value()) {
      const zr::Object* object = mSerializer.getImportedStructure(element.getStructure());
      if (!object || !object->isOfType(SceneNode::Type())) continue;
      const auto* node = static_cast<const SceneNode*>(object);
      if (!node->parent && !parentEntriesName(element.getStructure(), nullptr))
        return failWith(describe(*node) + ": entry 'parent' does not name the node that owns it.");
    }
    return true;
  }

 private:
  ZRXSerializer& mSerializer;
  const ZRXStructure* mStructure;
};

class MaterialWrapper : public zrX::ClassWrapper {
 public:
  zr::ref<zr::Object> importObject(ZRXSerializer& s, const ZRXStructure* st) override {
    zr::ref<Material> m = new Material;
    s.registerImportedStructure(st, m.get());
    Reader in(s, st);
    for (const Entry& e : st->value()) {
      const std::string& key = e.key();
      bool ok = true;  // unknown keys are skipped: files of a newer host still load
      if (key == "name")
        ok = in.read(e, &m->name);
      else if (key == "color")
        ok = in.read(e, &m->color);
      else if (key == "shininess")
        ok = in.read(e, &m->shininess);
      else if (key == "two_sided")
        ok = in.read(e, &m->twoSided);
      else if (key == "blend")
        ok = in.read(e, &m->blend);
      else if (key == "shader")
        ok = in.readText(e, &m->shader);
      if (!ok) return nullptr;
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

// Values of the right kind can still break what the host relies on: whoever draws a mesh indexes
// its vertices with its indices.
bool checkGeometry(Reader& in, const Mesh& mesh) {
  const int64_t vertexCount = static_cast<int64_t>(mesh.vertices.size() / 3);
  if (mesh.vertices.size() % 3 != 0) return in.fail("vertices", "is not x y z triples");
  if (mesh.indices.size() % 3 != 0) return in.fail("indices", "is not triangles");
  const bool inRange = std::all_of(mesh.indices.begin(), mesh.indices.end(),
                                   [&](int64_t i) { return i >= 0 && i < vertexCount; });
  return inRange || in.fail("indices", "names a vertex the mesh does not have");
}

class MeshWrapper : public zrX::ClassWrapper {
 public:
  zr::ref<zr::Object> importObject(ZRXSerializer& s, const ZRXStructure* st) override {
    zr::ref<Mesh> mesh = new Mesh;
    s.registerImportedStructure(st, mesh.get());
    Reader in(s, st);
    for (const Entry& e : st->value()) {
      const std::string& key = e.key();
      bool ok = true;
      if (key == "name")
        ok = in.read(e, &mesh->name);
      else if (key == "vertices")
        ok = in.read(e, &mesh->vertices);
      else if (key == "indices")
        ok = in.read(e, &mesh->indices);
      else if (key == "material")
        ok = in.read(e, &mesh->material);
      if (!ok) return nullptr;
    }
    if (!checkGeometry(in, *mesh)) return nullptr;
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
    // First: a structure listed below itself then imports as this very node, and is refused.
    s.registerImportedStructure(st, node.get());
    Reader in(s, st);
    for (const Entry& e : st->value()) {
      const std::string& key = e.key();
      bool ok = true;
      if (key == "name")
        ok = in.read(e, &node->name);
      else if (key == "position")
        ok = in.read(e, &node->position);
      else if (key == "mesh")
        ok = in.read(e, &node->mesh);
      else if (key == "parent")
        ok = in.checkStructure(e);  // never followed: the owner sets the back pointer
      else if (key == "children")
        ok = in.adoptChildren(e, node.get());
      if (!ok) return nullptr;
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
    Reader in(s, st);
    for (const Entry& e : st->value()) {
      if (e.key() != "resources") continue;
      if (e.value().type() != ZRXValue::List) {
        in.fail(e, "is not a list");
        return nullptr;
      }
      for (const ZRXValue& v : e.value().getList()->value()) {
        zr::Object* resource = nullptr;
        if (!in.readObject(e, v, false, &resource)) return nullptr;
        db->resources().emplace_back(resource);
      }
    }
    for (const Entry& e : st->value())
      if (e.key() == "resources" && !in.checkUnowned(e)) return nullptr;
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
    // Values with at most six decimals, which the text writes in the familiar six-decimal form.
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
