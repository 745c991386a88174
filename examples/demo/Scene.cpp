#include "Scene.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace demo {

ZR_DEFINE_TYPE(Material, zr::Object, "demo::Material")
ZR_DEFINE_TYPE(Mesh, zr::Object, "demo::Mesh")
ZR_DEFINE_TYPE(SceneNode, zr::Object, "demo::SceneNode")

namespace {

// Values of the right kind can still break what the host relies on: whoever draws a mesh indexes
// its vertices with its indices.
std::string checkGeometry(const Mesh& mesh) {
  const auto vertexCount = static_cast<int64_t>(mesh.vertices.size() / 3);
  if (mesh.vertices.size() % 3 != 0) return "entry 'vertices' is not x y z triples";
  if (mesh.indices.size() % 3 != 0) return "entry 'indices' is not triangles";
  for (int64_t i : mesh.indices)
    if (i < 0 || i >= vertexCount) return "entry 'indices' names a vertex the mesh does not have";
  return "";
}

// Deterministic pseudo-random numbers, so a scene is the same on every run.
struct Lcg {
  uint64_t state;
  double next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state >> 11) / 9007199254740992.0;
  }
};

}  // namespace

// The four classes, declared: the library checks every value's kind, the classes of references,
// that a node has one owner and never owns itself, and that a file's "parent" entry names the
// node whose "children" list holds it (the owner sets the back pointer).
zr::ref<zrX::Registry> makeSceneRegistry() {
  using zrX::Declare;
  using Blend = Material::Blend;
  zr::ref<zrX::Registry> registry = new zrX::Registry;
  registry->add(
      Declare<Material>("<Material>")
          .id("mat")
          .field("name", &Material::name)
          .field("color", &Material::color)
          .field("shininess", &Material::shininess)
          .field("two_sided", &Material::twoSided)
          .field(
              "blend", &Material::blend,
              {{Blend::Opaque, "Opaque"}, {Blend::Additive, "Additive"}, {Blend::Alpha, "Alpha"}})
          .text("shader", &Material::shader)
          .tag("<GLSL>"));
  registry->add(Declare<Mesh>("<Mesh>")
                    .id("mesh")
                    .field("name", &Mesh::name)
                    .field("vertices", &Mesh::vertices)
                    .tag("<Vertices>")
                    .field("indices", &Mesh::indices)
                    .tag("<Indices>")
                    .field("material", &Mesh::material)
                    .check(checkGeometry));
  registry->add(Declare<SceneNode>("<Node>")
                    .id("node")
                    .field("name", &SceneNode::name)
                    .field("position", &SceneNode::position)
                    .field("mesh", &SceneNode::mesh)
                    .parent("parent", &SceneNode::parent)
                    .children("children", &SceneNode::children, &SceneNode::parent)
                    .tag("<Children>"));
  registry->add(Declare<zr::ResourceDatabase>("<ResourceDatabase>")
                    .field(
                        "resources", [](auto& db) -> auto& { return db.resources(); })
                    .required());
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

std::string ownershipFault(const zr::ResourceDatabase* scene) {
  std::vector<const SceneNode*> pending;
  for (const zr::ref<zr::Object>& resource : scene->resources()) {
    if (!resource || !resource->isOfType(SceneNode::Type())) continue;
    const auto* node = static_cast<const SceneNode*>(resource.get());
    if (node->parent) {
      bool listed = false;
      for (const zr::ref<SceneNode>& child : node->parent->children) listed |= child.get() == node;
      if (!listed) return "resource node '" + node->name + "' has a parent that does not own it";
    } else {
      pending.push_back(node);
    }
  }
  std::set<const SceneNode*> seen;
  while (!pending.empty()) {
    const SceneNode* node = pending.back();
    pending.pop_back();
    if (!seen.insert(node).second) return "node '" + node->name + "' is owned twice";
    for (const zr::ref<SceneNode>& child : node->children) {
      if (child->parent != node) return "child '" + child->name + "' points elsewhere";
      pending.push_back(child.get());
    }
  }
  return "";
}

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
