#include "support/HostModel.hpp"

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <utility>

#include "zrCore/String.hpp"
#include "zrX/Serializer.hpp"

namespace zrtest {

ZR_DEFINE_TYPE(Material, zr::Object, "zrtest::Material")
ZR_DEFINE_TYPE(Node, zr::Object, "zrtest::Node")

Node* Node::adopt(Node* child) {
  children.emplace_back(child);
  child->parent = this;
  return child;
}

namespace {

using zrX::ZRXSerializer;
using zrX::ZRXStructure;
using zrX::ZRXValue;
using Entry = ZRXStructure::KeyValue;

const char* const kShapeNames[] = {"Box", "Sphere", "Cone"};

// --- Writing ---

// Exports every object of `objects` into a new list value; false when one export fails (the
// serializer has reported it).
template <class T>
bool exportList(ZRXSerializer& serializer, const std::vector<zr::ref<T>>& objects, ZRXValue* out) {
  zr::ref<zrX::ZRXList> list = new zrX::ZRXList;
  list->value().reserve(objects.size());
  for (const zr::ref<T>& object : objects) {
    ZRXStructure* structure = serializer.exportZRX(object.get());
    if (!structure) return false;
    list->value().push_back(ZRXValue::makeStructure(structure));
  }
  out->setList(list.get());
  return true;
}

// --- Reading ---

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
std::string describe(const Node& node) {
  return node.name.empty() ? std::string("<Node>") : "<Node> " + quoted(node.name);
}

// Whether every "parent" entry of `structure` names `owner` (null: names no structure). Such an
// entry is never followed: back pointers come from the owner, and this is only the cross-check.
bool parentEntriesName(const ZRXStructure* structure, const ZRXStructure* owner) {
  for (const Entry& entry : structure->value()) {
    if (entry.key() != "parent") continue;
    const ZRXValue& value = entry.value();
    if (value.type() != ZRXValue::Structure || value.getStructure() != owner) return false;
  }
  return true;
}

// Reads the entries of one structure with the checks a file demands: a value of an unexpected
// kind fails the import with a message instead of reaching a ZRXValue getter's check.
class Reader {
 public:
  Reader(ZRXSerializer& serializer, const ZRXStructure* structure)
      : mSerializer(serializer), mStructure(structure) {}

  bool fail(const std::string& key, const char* problem) {
    mSerializer.signalImportError(zr::Say("%s: entry '%s' %s.")
                                  << mStructure->tag() << key << problem);
    return false;
  }
  // A failure about the object itself rather than one entry.
  bool failWith(const std::string& message) {
    mSerializer.signalImportError(message);
    return false;
  }

  bool read(const Entry& entry, std::string* out) {
    if (entry.value().type() != ZRXValue::String) return fail(entry.key(), "is not a string");
    *out = entry.value().getString();
    return true;
  }
  bool read(const Entry& entry, int64_t* out) {
    if (entry.value().type() != ZRXValue::Integer) return fail(entry.key(), "is not an integer");
    *out = entry.value().getInteger();
    return true;
  }
  bool read(const Entry& entry, double* out) {
    if (entry.value().type() != ZRXValue::Real) return fail(entry.key(), "is not a real");
    *out = entry.value().getReal();
    return true;
  }
  bool read(const Entry& entry, bool* out) {
    if (entry.value().type() != ZRXValue::Bool) return fail(entry.key(), "is not a bool");
    *out = entry.value().getBool();
    return true;
  }
  bool read(const Entry& entry, Shape* out) {
    if (entry.value().type() == ZRXValue::Identifier) {
      for (int i = 0; i < 3; ++i) {
        if (entry.value().getIdentifier() == kShapeNames[i]) {
          *out = static_cast<Shape>(i);
          return true;
        }
      }
    }
    return fail(entry.key(), "is not a shape");
  }
  bool read(const Entry& entry, std::vector<int64_t>* out) {
    if (entry.value().type() != ZRXValue::ArrayInteger)
      return fail(entry.key(), "is not an integer array");
    *out = entry.value().getArrayInteger()->value();
    return true;
  }
  // The text format writes an empty real array as "( )", which reads back as an integer array.
  bool read(const Entry& entry, std::vector<double>* out) {
    const ZRXValue& value = entry.value();
    if (value.type() == ZRXValue::ArrayReal) {
      *out = value.getArrayReal()->value();
      return true;
    }
    if (value.type() == ZRXValue::ArrayInteger && value.getArrayInteger()->value().empty()) {
      out->clear();
      return true;
    }
    return fail(entry.key(), "is not a real array");
  }
  bool readRawtext(const Entry& entry, std::string* out) {
    if (entry.value().type() != ZRXValue::RawtextBlock) return fail(entry.key(), "is not a text");
    *out = entry.value().getRawtextBlock()->value();
    return true;
  }
  // An entry that must hold a structure (or "#NULL") but is read elsewhere, or not at all.
  bool checkStructure(const Entry& entry) {
    return entry.value().type() == ZRXValue::Structure || fail(entry.key(), "is not a structure");
  }

  // Imports the structure `value` refers to and requires a T. A Structure value without a node
  // ("#NULL") gives null when `nullable`, a failure otherwise.
  template <class T>
  bool readObject(const std::string& key, const ZRXValue& value, bool nullable, T** out) {
    if (value.type() != ZRXValue::Structure) return fail(key, "is not a structure");
    *out = nullptr;
    if (!value.getStructure()) return nullable || fail(key, "is empty");
    zr::Object* object = mSerializer.importZRX(value.getStructure());
    if (!object) return false;  // the serializer has reported it
    if (!object->isOfType(T::Type())) return fail(key, "refers to an object of the wrong class");
    *out = static_cast<T*>(object);
    return true;
  }

  template <class T>
  bool readList(const Entry& entry, std::vector<zr::ref<T>>* out) {
    if (entry.value().type() != ZRXValue::List) return fail(entry.key(), "is not a list");
    for (const ZRXValue& element : entry.value().getList()->value()) {
      T* object = nullptr;
      if (!readObject(entry.key(), element, false, &object)) return false;
      out->emplace_back(object);
    }
    return true;
  }

  // Imports the nodes of a "children" list and adopts them: `node` (made from this reader's
  // structure) sets their back pointers. Refused: a node listed below itself, which would own
  // itself (a reference cycle nothing frees), a node listed as a child twice (two owners), and a
  // child whose "parent" entry names another structure than this one.
  bool adoptChildren(const Entry& entry, Node* node) {
    if (entry.value().type() != ZRXValue::List) return fail(entry.key(), "is not a list");
    for (const ZRXValue& element : entry.value().getList()->value()) {
      Node* child = nullptr;
      if (!readObject(entry.key(), element, false, &child)) return false;
      // While a node is being imported it has no owner yet, unless one of its descendants listed
      // it: the walk up is one step except in that case, where it finds the loop.
      for (const Node* up = node; up; up = up->parent) {
        if (up == child)
          return failWith(describe(*child) + " would own itself: it is listed below itself.");
      }
      if (child->parent)
        return failWith(describe(*child) + " is listed as a child more than once.");
      if (!parentEntriesName(element.getStructure(), mStructure))
        return failWith(describe(*child) + ": entry 'parent' does not name the node that owns it.");
      node->adopt(child);
    }
    return true;
  }

  // After the resources are imported: a node that no node owns must not name a parent.
  bool checkUnowned(const Entry& entry) {
    for (const ZRXValue& element : entry.value().getList()->value()) {
      const zr::Object* object = mSerializer.getImportedStructure(element.getStructure());
      if (!object || !object->isOfType(Node::Type())) continue;
      const auto* node = static_cast<const Node*>(object);
      if (!node->parent && !parentEntriesName(element.getStructure(), nullptr))
        return failWith(describe(*node) + ": entry 'parent' does not name the node that owns it.");
    }
    return true;
  }

 private:
  ZRXSerializer& mSerializer;
  const ZRXStructure* mStructure;
};

// --- Wrappers ---
//
// Each wrapper registers the pair it is making before it converts anything the object or
// structure refers to: a shared object or a cycle then comes back as what is already being made.
// Unknown entries are skipped, so documents of a newer host still load.

class MaterialWrapper : public zrX::ClassWrapper {
 public:
  zr::ref<zr::Object> importObject(ZRXSerializer& serializer,
                                   const ZRXStructure* structure) override {
    zr::ref<Material> material = new Material;
    serializer.registerImportedStructure(structure, material.get());
    Reader in(serializer, structure);
    for (const Entry& entry : structure->value()) {
      bool ok = true;
      if (entry.key() == "name")
        ok = in.read(entry, &material->name);
      else if (entry.key() == "roughness")
        ok = in.read(entry, &material->roughness);
      if (!ok) return nullptr;
    }
    return material;
  }

  zr::ref<ZRXStructure> exportObject(ZRXSerializer& serializer, const zr::Object* object) override {
    // Registered under Material's exact type only, so `object` is a Material.
    const auto* material = static_cast<const Material*>(object);
    zr::ref<ZRXStructure> out = new ZRXStructure("<Material>");
    out->setID(serializer.generateID("mat_"));
    serializer.registerExportedObject(material, out.get());
    *out << "name" << ZRXValue::makeString(material->name) << "roughness"
         << ZRXValue::makeReal(material->roughness);
    return out;
  }
};

class NodeWrapper : public zrX::ClassWrapper {
 public:
  zr::ref<zr::Object> importObject(ZRXSerializer& serializer,
                                   const ZRXStructure* structure) override {
    zr::ref<Node> node = new Node;
    // First: a structure that lists itself among its descendants then imports as this very node,
    // and is refused as such.
    serializer.registerImportedStructure(structure, node.get());
    Reader in(serializer, structure);
    for (const Entry& entry : structure->value()) {
      const std::string& key = entry.key();
      bool ok = true;
      if (key == "name") {
        ok = in.read(entry, &node->name);
      } else if (key == "count") {
        ok = in.read(entry, &node->count);
      } else if (key == "weight") {
        ok = in.read(entry, &node->weight);
      } else if (key == "visible") {
        ok = in.read(entry, &node->visible);
      } else if (key == "shape") {
        ok = in.read(entry, &node->shape);
      } else if (key == "indices") {
        ok = in.read(entry, &node->indices);
      } else if (key == "samples") {
        ok = in.read(entry, &node->samples);
      } else if (key == "notes") {
        ok = in.readRawtext(entry, &node->notes);
      } else if (key == "material") {
        Material* material = nullptr;
        ok = in.readObject(key, entry.value(), true, &material);
        node->material = material;
      } else if (key == "children") {
        ok = in.adoptChildren(entry, node.get());
      } else if (key == "parent") {
        ok = in.checkStructure(entry);  // the owner sets the back pointer and checks this entry
      }
      if (!ok) return nullptr;
    }
    return node;
  }

  zr::ref<ZRXStructure> exportObject(ZRXSerializer& serializer, const zr::Object* object) override {
    const auto* node = static_cast<const Node*>(object);
    zr::ref<ZRXStructure> out = new ZRXStructure("<Node>");
    out->setID(serializer.generateID("node_"));
    // First: a child's back pointer then exports as this very structure.
    serializer.registerExportedObject(node, out.get());

    zr::ref<zrX::ZRXArrayInteger> indices = new zrX::ZRXArrayInteger;
    indices->value() = node->indices;
    zr::ref<zrX::ZRXArrayReal> samples = new zrX::ZRXArrayReal;
    samples->value() = node->samples;
    zr::ref<zrX::ZRXRawtextBlock> notes = new zrX::ZRXRawtextBlock;
    notes->setValue(node->notes);
    ZRXValue shape(kShapeNames[static_cast<int>(node->shape)], ZRXValue::Identifier);
    ZRXValue indicesValue, samplesValue, notesValue;
    indicesValue.setArrayInteger(indices.get());
    samplesValue.setArrayReal(samples.get());
    notesValue.setRawtextBlock(notes.get());

    *out << "name" << ZRXValue::makeString(node->name) << "count" << ZRXValue(node->count)
         << "weight" << ZRXValue::makeReal(node->weight) << "visible"
         << ZRXValue::makeBool(node->visible) << "shape" << shape << "indices" << indicesValue
         << "samples" << samplesValue << "notes" << notesValue;

    if (node->material) {
      ZRXStructure* material = serializer.exportZRX(node->material.get());
      if (!material) return nullptr;
      *out << "material" << ZRXValue::makeStructure(material);
    }
    ZRXValue children;
    if (!exportList(serializer, node->children, &children)) return nullptr;
    *out << "children" << children;
    if (node->parent) {
      ZRXStructure* parent = serializer.exportZRX(node->parent);
      if (!parent) return nullptr;
      *out << "parent" << ZRXValue::makeStructure(parent);
    }
    return out;
  }
};

class DatabaseWrapper : public zrX::ClassWrapper {
 public:
  zr::ref<zr::Object> importObject(ZRXSerializer& serializer,
                                   const ZRXStructure* structure) override {
    zr::ref<zr::ResourceDatabase> database = new zr::ResourceDatabase;
    serializer.registerImportedStructure(structure, database.get());
    Reader in(serializer, structure);
    for (const Entry& entry : structure->value()) {
      if (entry.key() == "resources" && !in.readList(entry, &database->resources())) return nullptr;
    }
    // Only now is every owner known.
    for (const Entry& entry : structure->value()) {
      if (entry.key() == "resources" && !in.checkUnowned(entry)) return nullptr;
    }
    return database;
  }

  zr::ref<ZRXStructure> exportObject(ZRXSerializer& serializer, const zr::Object* object) override {
    const auto* database = static_cast<const zr::ResourceDatabase*>(object);
    zr::ref<ZRXStructure> out = new ZRXStructure("<ResourceDatabase>");
    out->setID(serializer.generateID("db_"));
    serializer.registerExportedObject(database, out.get());
    const std::vector<zr::ref<zr::Object>>& resources = database->resources();
    for (size_t i = 0; i < resources.size(); ++i) {
      if (!resources[i]) {
        serializer.signalExportError(zr::Say("<ResourceDatabase>: resource %n is null.")
                                     << static_cast<long long>(i));
        return nullptr;
      }
    }
    ZRXValue list;
    if (!exportList(serializer, resources, &list)) return nullptr;
    *out << "resources" << list;
    return out;
  }
};

// --- Comparing ---

bool sameReal(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

std::string show(double value) { return zr::String::printf("%.17g", value).toStdString(); }

class GraphComparer {
 public:
  const std::string& difference() const { return mDifference; }

  bool same(const zr::Object* a, const zr::Object* b, const std::string& path) {
    if (!a || !b) return a == b || differ(path, a ? "missing on the right" : "missing on the left");
    const auto forward = mForward.find(a);
    const auto backward = mBackward.find(b);
    if (forward != mForward.end() || backward != mBackward.end()) {
      if (forward != mForward.end() && forward->second == b) return true;
      return differ(path, "shared differently");
    }
    mForward.emplace(a, b);
    mBackward.emplace(b, a);
    if (a->classType() != b->classType())
      return differ(path, std::string(a->className()) + " != " + b->className());
    if (a->classType() == Node::Type())
      return sameNode(static_cast<const Node&>(*a), static_cast<const Node&>(*b), path);
    if (a->classType() == Material::Type()) {
      const auto& x = static_cast<const Material&>(*a);
      const auto& y = static_cast<const Material&>(*b);
      return field(path, "name", x.name == y.name, x.name, y.name) &&
             field(path, "roughness", sameReal(x.roughness, y.roughness), show(x.roughness),
                   show(y.roughness));
    }
    if (a->classType() == zr::ResourceDatabase::Type()) {
      return sameList(static_cast<const zr::ResourceDatabase&>(*a).resources(),
                      static_cast<const zr::ResourceDatabase&>(*b).resources(),
                      path + ".resources");
    }
    return differ(path, std::string("no comparison for ") + a->className());
  }

 private:
  bool differ(const std::string& path, const std::string& what) {
    mDifference = path + ": " + what;
    return false;
  }

  bool field(const std::string& path, const char* name, bool equal, const std::string& a,
             const std::string& b) {
    return equal || differ(path + "." + name, "'" + a + "' != '" + b + "'");
  }

  template <class T>
  bool sameList(const std::vector<zr::ref<T>>& a, const std::vector<zr::ref<T>>& b,
                const std::string& path) {
    if (a.size() != b.size())
      return differ(path, std::to_string(a.size()) + " != " + std::to_string(b.size()) + " items");
    for (size_t i = 0; i < a.size(); ++i)
      if (!same(a[i].get(), b[i].get(), path + "[" + std::to_string(i) + "]")) return false;
    return true;
  }

  static std::string join(const std::vector<int64_t>& values) {
    std::string out;
    for (int64_t value : values) out += std::to_string(value) + " ";
    return out;
  }
  static std::string join(const std::vector<double>& values) {
    std::string out;
    for (double value : values) out += show(value) + " ";
    return out;
  }

  bool sameNode(const Node& a, const Node& b, const std::string& path) {
    const bool samples =
        a.samples.size() == b.samples.size() &&
        std::equal(a.samples.begin(), a.samples.end(), b.samples.begin(), sameReal);
    return field(path, "name", a.name == b.name, a.name, b.name) &&
           field(path, "count", a.count == b.count, std::to_string(a.count),
                 std::to_string(b.count)) &&
           field(path, "weight", sameReal(a.weight, b.weight), show(a.weight), show(b.weight)) &&
           field(path, "visible", a.visible == b.visible, a.visible ? "true" : "false",
                 b.visible ? "true" : "false") &&
           field(path, "shape", a.shape == b.shape, kShapeNames[static_cast<int>(a.shape)],
                 kShapeNames[static_cast<int>(b.shape)]) &&
           field(path, "indices", a.indices == b.indices, join(a.indices), join(b.indices)) &&
           field(path, "samples", samples, join(a.samples), join(b.samples)) &&
           field(path, "notes", a.notes == b.notes, a.notes, b.notes) &&
           same(a.material.get(), b.material.get(), path + ".material") &&
           sameList(a.children, b.children, path + ".children") &&
           same(a.parent, b.parent, path + ".parent");
  }

  // The one-to-one correspondence built so far, in both directions.
  std::map<const zr::Object*, const zr::Object*> mForward;
  std::map<const zr::Object*, const zr::Object*> mBackward;
  std::string mDifference;
};

}  // namespace

zr::ref<zr::ResourceDatabase> makeSampleGraph() {
  zr::ref<Material> steel = new Material;
  steel->name = "brushed caf\xc3\xa9 steel";
  steel->roughness = 0.125;

  zr::ref<Node> scene = new Node;
  scene->name = "scene \"main\"\tC:\\models\\a\nsecond line";
  scene->count = std::numeric_limits<int64_t>::max();
  scene->weight = 0.25;
  scene->visible = true;
  scene->shape = Shape::Sphere;
  scene->indices = {std::numeric_limits<int64_t>::min(), -1, 0, 1, 127, 128, 65536,
                    std::numeric_limits<int64_t>::max()};
  scene->samples = {-1.5, -0.0, 0.1, 1000000.0, 0.5};
  scene->notes = "first line\n  indented line with >} inside\n";

  Node* left = scene->adopt(new Node);
  left->name = "left";
  left->count = -42;
  left->weight = -0.5;
  left->visible = false;
  left->shape = Shape::Box;
  left->samples = {0.5, 2.0, -4.0};  // exact in single precision
  left->material = steel;

  Node* right = scene->adopt(new Node);
  right->name = "right";
  right->count = 7;
  right->weight = 123456.75;
  right->shape = Shape::Cone;
  right->indices = {3, 1, 2};
  right->notes = "one line without an end";
  right->material = steel;  // the second owner

  Node* leaf = left->adopt(new Node);
  leaf->name = "";
  leaf->count = std::numeric_limits<int64_t>::min();
  leaf->weight = -0.0;
  leaf->shape = Shape::Cone;

  zr::ref<zr::ResourceDatabase> database = new zr::ResourceDatabase;
  database->resources().emplace_back(scene);
  database->resources().emplace_back(steel);
  return database;
}

zr::ref<zrX::Registry> makeHostRegistry() {
  zr::ref<zrX::Registry> registry = new zrX::Registry;
  registry->registerWrapper("<Material>", Material::Type(), new MaterialWrapper);
  registry->registerWrapper("<Node>", Node::Type(), new NodeWrapper);
  registry->registerWrapper("<ResourceDatabase>", zr::ResourceDatabase::Type(),
                            new DatabaseWrapper);
  return registry;
}

std::string graphDifference(const zr::Object* a, const zr::Object* b) {
  GraphComparer comparer;
  comparer.same(a, b, "root");
  return comparer.difference();
}

}  // namespace zrtest
