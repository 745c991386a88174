#include "zrX/Serializer.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/HostModel.hpp"
#include "support/LogCapture.hpp"
#include "zrX/Cycles.hpp"
#include "zrX/ioZRX.hpp"

namespace {

using zr::ref;
using zrtest::Material;
using zrtest::Node;
using zrX::ClassWrapper;
using zrX::Registry;
using zrX::ZRXList;
using zrX::ZRXSerializer;
using zrX::ZRXStructure;
using zrX::ZRXValue;
using Errors = std::vector<std::string>;

// Counts the calls that reach the wrapper it stands in front of.
class CountingWrapper : public ClassWrapper {
 public:
  explicit CountingWrapper(ClassWrapper* inner) : mInner(inner) {}
  ref<zr::Object> importObject(ZRXSerializer& s, const ZRXStructure* st) override {
    ++imports;
    return mInner->importObject(s, st);
  }
  ref<ZRXStructure> exportObject(ZRXSerializer& s, const zr::Object* object) override {
    ++exports;
    return mInner->exportObject(s, object);
  }
  int imports = 0;
  int exports = 0;

 private:
  ref<ClassWrapper> mInner;
};

// The host registry with a counter in front of each wrapper (one per wrapper, in both maps).
struct CountedRegistry {
  CountedRegistry() : registry(zrtest::makeHostRegistry()) {
    std::map<ClassWrapper*, ref<CountingWrapper>> counters;
    auto counterFor = [&](ref<ClassWrapper>& wrapper) {
      ref<CountingWrapper>& counter = counters[wrapper.get()];
      if (!counter) counter = new CountingWrapper(wrapper.get());
      wrapper = counter.get();
    };
    for (auto& entry : registry->importWrappers()) counterFor(entry.second);
    for (auto& entry : registry->exportWrappers()) counterFor(entry.second);
    for (const char* tag : {"<Node>", "<Material>", "<ResourceDatabase>"})
      count[tag] = static_cast<CountingWrapper*>(registry->importWrappers().at(tag).get());
  }
  ref<Registry> registry;
  std::map<std::string, CountingWrapper*> count;  // by tag
};

ZRXValue structureValue(ZRXStructure* structure) {
  ZRXValue value;
  value.setStructure(structure);
  return value;
}

ZRXValue listOf(std::initializer_list<ZRXStructure*> structures) {
  ref<ZRXList> list = new ZRXList;
  for (ZRXStructure* structure : structures) list->value().push_back(structureValue(structure));
  ZRXValue value;
  value.setList(list.get());
  return value;
}

// The structure stored under `key` (first entry with that key), or null.
ZRXStructure* entryStructure(const ZRXStructure* structure, const char* key) {
  for (const ZRXStructure::KeyValue& entry : structure->value())
    if (entry.key() == key && entry.value().type() == ZRXValue::Structure)
      return entry.value().getStructure();
  return nullptr;
}

ZRXStructure* listElement(const ZRXStructure* structure, const char* key, size_t index) {
  for (const ZRXStructure::KeyValue& entry : structure->value())
    if (entry.key() == key && entry.value().type() == ZRXValue::List)
      return entry.value().getList()->value().at(index).getStructure();
  return nullptr;
}

class SerializerTest : public ::testing::Test {
 protected:
  SerializerTest() { serializer.setRegistry(counted.registry.get()); }

  CountedRegistry counted;
  ZRXSerializer serializer;
  zrtest::LogCapture log;
};

// --- Conversion ---

TEST_F(SerializerTest, GraphWithSharingAndCyclesRoundTripsInMemory) {
  ref<zr::ResourceDatabase> original = zrtest::makeSampleGraph();
  ref<ZRXStructure> root = serializer.exportZRX(original.get());
  ASSERT_TRUE(root);
  EXPECT_EQ(serializer.error(), ZRXSerializer::NoError);

  // The document's shape: the material exported once for its three owners; children naming the
  // structure of their parent.
  ZRXStructure* scene = listElement(root.get(), "resources", 0);
  ZRXStructure* steel = listElement(root.get(), "resources", 1);
  ZRXStructure* left = listElement(scene, "children", 0);
  ZRXStructure* right = listElement(scene, "children", 1);
  ZRXStructure* leaf = listElement(left, "children", 0);
  ASSERT_TRUE(scene && steel && left && right && leaf);
  EXPECT_EQ(entryStructure(left, "material"), steel);
  EXPECT_EQ(entryStructure(right, "material"), steel);
  EXPECT_EQ(entryStructure(left, "parent"), scene);
  EXPECT_EQ(entryStructure(leaf, "parent"), left);
  EXPECT_EQ(serializer.getExportedObject(original->resources()[1].get()), steel);

  // A second serializer imports the structures into a graph of new objects.
  ZRXSerializer importer;
  importer.setRegistry(counted.registry.get());
  ref<zr::Object> copy = importer.importZRX(root.get());
  ASSERT_TRUE(copy);
  EXPECT_NE(copy.get(), original.get());
  EXPECT_EQ(zrtest::graphDifference(original.get(), copy.get()), "");
  EXPECT_TRUE(log.entries().empty()) << log.all();

  // Each object and each structure went through its wrapper once.
  EXPECT_EQ(counted.count["<Node>"]->exports, 4);
  EXPECT_EQ(counted.count["<Material>"]->exports, 1);
  EXPECT_EQ(counted.count["<ResourceDatabase>"]->exports, 1);
  EXPECT_EQ(counted.count["<Node>"]->imports, 4);
  EXPECT_EQ(counted.count["<Material>"]->imports, 1);
}

TEST_F(SerializerTest, ConvertsEachObjectAndStructureOnce) {
  ref<zr::ResourceDatabase> graph = zrtest::makeSampleGraph();
  ZRXStructure* first = serializer.exportZRX(graph.get());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(serializer.exportZRX(graph.get()), first);
  EXPECT_EQ(serializer.exportZRX(graph->resources()[1].get()),
            serializer.getExportedObject(graph->resources()[1].get()));
  EXPECT_EQ(counted.count["<ResourceDatabase>"]->exports, 1);
  EXPECT_EQ(counted.count["<Material>"]->exports, 1);

  zr::Object* imported = serializer.importZRX(first);
  ASSERT_NE(imported, nullptr);
  EXPECT_EQ(serializer.importZRX(first), imported);
  EXPECT_EQ(serializer.getImportedStructure(first), imported);
  EXPECT_EQ(counted.count["<ResourceDatabase>"]->imports, 1);

  // reset() forgets the pairs: the next conversion calls the wrapper again.
  serializer.reset();
  EXPECT_EQ(serializer.getExportedObject(graph.get()), nullptr);
  EXPECT_NE(serializer.exportZRX(graph.get()), nullptr);
  EXPECT_EQ(counted.count["<ResourceDatabase>"]->exports, 2);
}

// Two objects that point at each other through plain pointers; here the serializer's map is what
// keeps both alive.
class Peer : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  Peer* other = nullptr;
};
ZR_DEFINE_TYPE(Peer, zr::Object, "zrtest::Peer")

class PeerWrapper : public ClassWrapper {
 public:
  ref<zr::Object> importObject(ZRXSerializer& s, const ZRXStructure* st) override {
    ++imports;
    ref<Peer> peer = new Peer;
    s.registerImportedStructure(st, peer.get());  // before recursing: the cycle comes back here
    for (const ZRXStructure::KeyValue& entry : st->value()) {
      if (entry.key() != "other" || entry.value().type() != ZRXValue::Structure) continue;
      zr::Object* other = s.importZRX(entry.value().getStructure());
      if (!other || !other->isOfType(Peer::Type())) return nullptr;
      peer->other = static_cast<Peer*>(other);
    }
    return peer;
  }
  ref<ZRXStructure> exportObject(ZRXSerializer&, const zr::Object*) override { return nullptr; }
  int imports = 0;
};

TEST_F(SerializerTest, CycleImportsAsObjectsPointingAtEachOther) {
  ref<PeerWrapper> wrapper = new PeerWrapper;
  counted.registry->registerWrapper("<Peer>", Peer::Type(), wrapper.get());
  ref<ZRXStructure> a = new ZRXStructure("<Peer>");
  ref<ZRXStructure> b = new ZRXStructure("<Peer>");
  *a << "other" << structureValue(b.get());
  *b << "other" << structureValue(a.get());
  auto* peer = static_cast<Peer*>(serializer.importZRX(a.get()));
  ASSERT_NE(peer, nullptr);
  ASSERT_NE(peer->other, nullptr);
  EXPECT_NE(peer->other, peer);
  EXPECT_EQ(peer->other->other, peer);
  EXPECT_EQ(serializer.getImportedStructure(b.get()), peer->other);
  EXPECT_EQ(wrapper->imports, 2);
}

// A parent listing a child whose "parent" names the parent, imported from either end. The host
// sets the back pointer when the parent adopts the child, never from the child's entry: a child
// imported first has no parent until its parent is imported, and then it is the same object.
TEST_F(SerializerTest, BackPointersComeFromTheNodeThatListsTheChild) {
  for (bool childFirst : {false, true}) {
    SCOPED_TRACE(childFirst ? "child first" : "parent first");
    serializer.reset();
    ref<ZRXStructure> parent = new ZRXStructure("<Node>");
    ref<ZRXStructure> child = new ZRXStructure("<Node>");
    *parent << "children" << listOf({child.get()});
    *child << "parent" << structureValue(parent.get());

    Node* early = nullptr;
    if (childFirst) {
      early = static_cast<Node*>(serializer.importZRX(child.get()));
      ASSERT_NE(early, nullptr);
      EXPECT_EQ(early->parent, nullptr);
    }
    auto* p = static_cast<Node*>(serializer.importZRX(parent.get()));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->parent, nullptr);
    ASSERT_EQ(p->children.size(), 1u);
    EXPECT_EQ(p->children[0]->parent, p);
    if (childFirst) {
      EXPECT_EQ(p->children[0].get(), early);
    }
    EXPECT_EQ(serializer.getImportedStructure(parent.get()), p);
    EXPECT_EQ(serializer.getImportedStructure(child.get()), p->children[0].get());
  }
  EXPECT_EQ(counted.count["<Node>"]->imports, 4);  // two per round
  EXPECT_TRUE(log.entries().empty()) << log.all();
}

// The structures of a graph with a cycle refer to each other; reset() and destruction must still
// free them (watched through an array that only the scene's structure holds besides the test).
TEST_F(SerializerTest, ResetAndDestructionFreeStructuresInCycles) {
  ref<zr::ResourceDatabase> graph = zrtest::makeSampleGraph();
  auto sceneIndices = [](ZRXStructure* root) {
    ZRXStructure* scene = listElement(root, "resources", 0);
    for (const ZRXStructure::KeyValue& entry : scene->value())
      if (entry.key() == "indices")
        return ref<zrX::ZRXArrayInteger>(entry.value().getArrayInteger());
    return ref<zrX::ZRXArrayInteger>();
  };
  for (bool destroy : {false, true}) {
    SCOPED_TRACE(destroy ? "destruction" : "reset");
    ref<zrX::ZRXArrayInteger> exported, imported;
    {
      ZRXSerializer s;
      s.setRegistry(counted.registry.get());
      ZRXStructure* root = s.exportZRX(graph.get());
      ASSERT_NE(root, nullptr);
      exported = sceneIndices(root);
      // A document tree linked with a cycle, imported and then dropped by its reader.
      {
        ref<ZRXStructure> parent = new ZRXStructure("<Node>");
        ref<ZRXStructure> child = new ZRXStructure("<Node>");
        imported = new zrX::ZRXArrayInteger;
        ZRXValue indices;
        indices.setArrayInteger(imported.get());
        *parent << "indices" << indices << "children" << listOf({child.get()});
        *child << "parent" << structureValue(parent.get());
        ASSERT_NE(s.importZRX(parent.get()), nullptr);
      }
      ASSERT_EQ(exported->referenceCount(), 2);
      ASSERT_EQ(imported->referenceCount(), 2);
      if (!destroy) s.reset();
    }
    EXPECT_EQ(exported->referenceCount(), 1);
    EXPECT_EQ(imported->referenceCount(), 1);
  }

  // A structure the caller still holds keeps what it reaches intact.
  ref<ZRXStructure> root = serializer.exportZRX(graph.get());
  serializer.reset();
  ZRXStructure* scene = listElement(root.get(), "resources", 0);
  ASSERT_NE(scene, nullptr);
  EXPECT_EQ(entryStructure(listElement(scene, "children", 0), "parent"), scene);
  // ... and so it is the caller's to break those cycles when it drops the structure.
  const std::vector<ref<zrX::ZRXTaggedValue>> roots{root};
  root.release();
  zrX::breakCycles(roots);
}

// --- Error state ---

// An object of a class derived from Node: its runtime type has no wrapper of its own.
class SpecialNode : public Node {
  ZR_DECLARE_TYPE()
};
ZR_DEFINE_TYPE(SpecialNode, Node, "zrtest::SpecialNode")

TEST_F(SerializerTest, ExportLooksUpTheExactRuntimeType) {
  ref<SpecialNode> special = new SpecialNode;
  ref<Node> plain = new Node;
  ASSERT_TRUE(special->isOfType(Node::Type()));
  EXPECT_FALSE(serializer.canExport(special.get()));
  EXPECT_TRUE(serializer.canExport(plain.get()));

  EXPECT_EQ(serializer.exportZRX(special.get()), nullptr);
  EXPECT_EQ(serializer.error(), ZRXSerializer::ExportError);
  EXPECT_EQ(log.errors(), Errors{"No exporting serializer found for 'zrtest::SpecialNode'."});
  EXPECT_EQ(counted.count["<Node>"]->exports, 0);
}

TEST_F(SerializerTest, FailuresSetTheErrorAndLogTheTagOrType) {
  ref<zr::ResourceDatabase> withNull = new zr::ResourceDatabase;
  withNull->resources().push_back(nullptr);
  ref<ZRXStructure> unknown = new ZRXStructure("<Unknown>");
  ref<ZRXStructure> badCount = new ZRXStructure("<Node>");
  *badCount << "count" << ZRXValue("seven", ZRXValue::String);
  ref<ZRXStructure> nested = new ZRXStructure("<ResourceDatabase>");
  *nested << "resources" << listOf({badCount.get()});
  ref<ZRXStructure> wrongClass = new ZRXStructure("<Node>");
  *wrongClass << "material" << structureValue(new ZRXStructure("<Node>"));

  struct Case {
    const char* name;
    std::function<bool(ZRXSerializer&)> convert;  // true when a result came back
    ZRXSerializer::EError error;
    Errors messages;
  };
  const Case cases[] = {
      {"missing import wrapper",
       [&](ZRXSerializer& s) { return s.importZRX(unknown.get()); },
       ZRXSerializer::ImportError,
       {"No importing serializer found for structure '<Unknown>'."}},
      {"failing import wrapper",
       [&](ZRXSerializer& s) { return s.importZRX(badCount.get()); },
       ZRXSerializer::ImportError,
       {"<Node>: entry 'count' is not an integer.", "Error importing structure '<Node>'."}},
      {"failure one level down: one line per failing level",
       [&](ZRXSerializer& s) { return s.importZRX(nested.get()); },
       ZRXSerializer::ImportError,
       {"<Node>: entry 'count' is not an integer.", "Error importing structure '<Node>'.",
        "Error importing structure '<ResourceDatabase>'."}},
      {"object of the wrong class",
       [&](ZRXSerializer& s) { return s.importZRX(wrongClass.get()); },
       ZRXSerializer::ImportError,
       {"<Node>: entry 'material' refers to an object of the wrong class.",
        "Error importing structure '<Node>'."}},
      {"failing export wrapper",
       [&](ZRXSerializer& s) { return s.exportZRX(withNull.get()); },
       ZRXSerializer::ExportError,
       {"<ResourceDatabase>: resource 0 is null.", "Error exporting 'zr::ResourceDatabase'."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    serializer.reset();
    log.clear();
    EXPECT_FALSE(c.convert(serializer));
    EXPECT_EQ(serializer.error(), c.error);
    EXPECT_EQ(log.errors(), c.messages);
  }
}

TEST_F(SerializerTest, ErrorBlocksEveryConversionUntilReset) {
  ref<zr::ResourceDatabase> graph = zrtest::makeSampleGraph();
  ZRXStructure* structure = serializer.exportZRX(graph.get());
  ASSERT_NE(structure, nullptr);
  ASSERT_NE(serializer.importZRX(structure), nullptr);

  ref<SpecialNode> special = new SpecialNode;
  EXPECT_EQ(serializer.exportZRX(special.get()), nullptr);
  log.clear();
  const int exports = counted.count["<ResourceDatabase>"]->exports;

  // Even pairs converted before the failure are refused, silently.
  EXPECT_EQ(serializer.exportZRX(graph.get()), nullptr);
  EXPECT_EQ(serializer.importZRX(structure), nullptr);
  ref<ZRXStructure> fresh = new ZRXStructure("<Material>");
  EXPECT_EQ(serializer.importZRX(fresh.get()), nullptr);
  EXPECT_EQ(serializer.error(), ZRXSerializer::ExportError);
  EXPECT_TRUE(log.entries().empty());
  EXPECT_EQ(counted.count["<Material>"]->imports, 1);

  serializer.reset();
  EXPECT_EQ(serializer.error(), ZRXSerializer::NoError);
  EXPECT_NE(serializer.exportZRX(graph.get()), nullptr);
  EXPECT_EQ(counted.count["<ResourceDatabase>"]->exports, exports + 1);

  // setError(NoError) unblocks too, keeping the pairs.
  serializer.setError(ZRXSerializer::ReadError);
  EXPECT_EQ(serializer.importZRX(fresh.get()), nullptr);
  serializer.setError(ZRXSerializer::NoError);
  EXPECT_NE(serializer.importZRX(fresh.get()), nullptr);
}

TEST_F(SerializerTest, OnlyTheFirstSignalledMessageIsLogged) {
  serializer.signalImportError("first");
  serializer.signalImportError("second");
  serializer.signalExportError("third");
  EXPECT_EQ(serializer.error(), ZRXSerializer::ImportError);
  EXPECT_EQ(log.errors(), Errors{"first"});

  serializer.reset();
  serializer.signalExportError("after reset");
  EXPECT_EQ(serializer.error(), ZRXSerializer::ExportError);
  EXPECT_EQ(log.errors(), (Errors{"first", "after reset"}));
}

TEST(Serializer, ErrorStrings) {
  const std::pair<int, const char*> cases[] = {
      {0, "NoError"},    {1, "ImportError"}, {2, "ExportError"}, {3, "ReadError"},
      {4, "WriteError"}, {5, "WriteError"},  {-1, "WriteError"}};
  ZRXSerializer serializer;
  for (const auto& [value, text] : cases) {
    serializer.setError(static_cast<ZRXSerializer::EError>(value));
    EXPECT_STREQ(serializer.errorString(), text) << value;
  }
}

// --- Bookkeeping ---

TEST(Serializer, GenerateIDSharesOneCounterAcrossPrefixes) {
  ZRXSerializer serializer;
  EXPECT_EQ(serializer.generateID(""), "#id1");
  EXPECT_EQ(serializer.generateID("node_"), "#node_id2");
  EXPECT_EQ(serializer.generateID("mat"), "#matid3");
  serializer.reset();
  EXPECT_EQ(serializer.generateID("node_"), "#node_id1");
}

TEST(Serializer, Directives) {
  ZRXSerializer serializer;
  EXPECT_FALSE(serializer.hasDirective("compress"));
  EXPECT_EQ(serializer.directive("compress"), "NO_SUCH_DIRECTIVE");
  EXPECT_EQ(&serializer.directive("compress"), &serializer.directive("other"));

  serializer.setDirective("compress", "yes");
  EXPECT_TRUE(serializer.hasDirective("compress"));
  EXPECT_EQ(serializer.directive("compress"), "yes");
  serializer.setDirective("compress", "");
  EXPECT_TRUE(serializer.hasDirective("compress"));
  EXPECT_EQ(serializer.directive("compress"), "");
  EXPECT_FALSE(serializer.hasDirective("Compress"));

  serializer.eraseDirective("compress");
  serializer.eraseDirective("never set");
  EXPECT_FALSE(serializer.hasDirective("compress"));
  EXPECT_EQ(serializer.directive("compress"), "NO_SUCH_DIRECTIVE");

  serializer.setDirective("a", "1");
  serializer.setDirective("b", "2");
  serializer.eraseAllDirectives();
  EXPECT_FALSE(serializer.hasDirective("a"));
  EXPECT_FALSE(serializer.hasDirective("b"));
}

TEST(Serializer, Metadata) {
  ZRXSerializer serializer;
  EXPECT_EQ(serializer.getMetadata("Author"), nullptr);
  serializer.metadata()["Author"] = ZRXValue("ada", ZRXValue::String);
  const ZRXSerializer& view = serializer;
  ASSERT_NE(view.getMetadata("Author"), nullptr);
  EXPECT_EQ(view.getMetadata("Author")->getString(), "ada");
  serializer.getMetadata("Author")->setInteger(7);
  EXPECT_EQ(view.metadata().at("Author").getInteger(), 7);
}

TEST_F(SerializerTest, ResetKeepsDirectivesMetadataURLAndRegistry) {
  serializer.setDirective("quality", "high");
  serializer.metadata()["Author"] = ZRXValue("ada", ZRXValue::String);
  serializer.setDocumentURL("/data/scene.zrt");
  serializer.setMaxDepth(12);
  serializer.generateID("x");
  serializer.setError(ZRXSerializer::ImportError);

  serializer.reset();
  EXPECT_EQ(serializer.error(), ZRXSerializer::NoError);
  EXPECT_EQ(serializer.generateID(""), "#id1");
  EXPECT_EQ(serializer.directive("quality"), "high");
  ASSERT_NE(serializer.getMetadata("Author"), nullptr);
  EXPECT_EQ(serializer.getMetadata("Author")->getString(), "ada");
  EXPECT_EQ(serializer.metadata().size(), 1u);
  EXPECT_EQ(serializer.documentURL(), zr::String("/data/scene.zrt"));
  EXPECT_EQ(serializer.registry(), counted.registry.get());
  EXPECT_EQ(serializer.maxDepth(), 12);
}

TEST(Serializer, ResolvePath) {
  struct Case {
    const char* url;
    const char* path;
    const char* expected;
  };
  const Case cases[] = {
      {"/data/scenes/main.zrt", "this:textures/wood.png", "/data/scenes/textures/wood.png"},
      {"/data/scenes/main.zrt", "this:sub//deep\\x.png", "/data/scenes/sub/deep/x.png"},
      {"C:\\scenes\\main.zrt", "this:a.png", "C:/scenes/a.png"},
      {"/data/scenes/main.zrt", "this:", "/data/scenes/"},
      {"main.zrt", "this:a.png", "a.png"},
      {"", "this:a\\b.png", "a/b.png"},
      // Without the exact prefix nothing changes, backslashes included.
      {"/data/main.zrt", "textures\\wood.png", "textures\\wood.png"},
      {"/data/main.zrt", "This:wood.png", "This:wood.png"},
      {"/data/main.zrt", "/abs/this:wood.png", "/abs/this:wood.png"},
      {"/data/main.zrt", "this", "this"},
      {"/data/main.zrt", "", ""},
  };
  ZRXSerializer serializer;
  for (const Case& c : cases) {
    serializer.setDocumentURL(c.url);
    std::string path = c.path;
    serializer.resolvePath(path);
    EXPECT_EQ(path, c.expected) << c.url << " + " << c.path;
  }
}

TEST(Serializer, WithoutDefaultRegistry) {
  ASSERT_EQ(zrX::defZRXRegistry(), nullptr);
  ZRXSerializer serializer;
  EXPECT_EQ(serializer.registry(), nullptr);
  EXPECT_STREQ(serializer.className(), "zrX::Serializer");
  EXPECT_EQ(serializer.maxDepth(), zrX::kDefaultMaxDepth);
  ref<ZRXStructure> structure = new ZRXStructure("<Node>");
  ref<Node> node = new Node;
  EXPECT_FALSE(serializer.canImport(structure.get()));
  EXPECT_FALSE(serializer.canExport(node.get()));

  serializer.setRegistry(zrtest::makeHostRegistry().get());
  EXPECT_TRUE(serializer.canImport(structure.get()));
  EXPECT_TRUE(serializer.canExport(node.get()));
  serializer.setRegistry(nullptr);
  EXPECT_FALSE(serializer.canImport(structure.get()));
}

// --- Copy and move ---

TEST_F(SerializerTest, CopySharesThePairsMoveTakesThem) {
  ref<zr::ResourceDatabase> graph = zrtest::makeSampleGraph();
  ZRXStructure* structure = serializer.exportZRX(graph.get());
  ASSERT_NE(structure, nullptr);
  serializer.setDirective("d", "1");
  serializer.setDocumentURL("/doc.zrt");
  serializer.setError(ZRXSerializer::ReadError);

  ZRXSerializer copy(serializer);
  EXPECT_EQ(copy.referenceCount(), 0);
  EXPECT_EQ(copy.getExportedObject(graph.get()), structure);
  EXPECT_EQ(copy.directive("d"), "1");
  EXPECT_EQ(copy.error(), ZRXSerializer::ReadError);
  EXPECT_EQ(copy.generateID(""), serializer.generateID(""));

  ZRXSerializer moved(std::move(copy));
  EXPECT_EQ(moved.getExportedObject(graph.get()), structure);
  EXPECT_EQ(moved.directive("d"), "1");
  EXPECT_EQ(moved.documentURL(), zr::String("/doc.zrt"));
  EXPECT_EQ(moved.registry(), counted.registry.get());
  EXPECT_EQ(copy.getExportedObject(graph.get()), nullptr);  // NOLINT(bugprone-use-after-move)
  EXPECT_FALSE(copy.hasDirective("d"));
  EXPECT_EQ(copy.registry(), counted.registry.get());  // copied, not moved

  // Assignment replaces the target's pairs; the structures live on in the other serializers.
  ZRXSerializer target;
  target.setRegistry(counted.registry.get());
  ref<Node> other = new Node;
  ASSERT_NE(target.exportZRX(other.get()), nullptr);
  target = serializer;
  EXPECT_EQ(target.getExportedObject(other.get()), nullptr);
  EXPECT_EQ(target.getExportedObject(graph.get()), structure);
  target = std::move(moved);
  EXPECT_EQ(target.getExportedObject(graph.get()), structure);
  EXPECT_EQ(structure->tag(), "<ResourceDatabase>");
  EXPECT_FALSE(structure->value().empty());
}

// --- The test host's graph comparison ---

TEST(HostModel, GraphDifferenceSeesValuesSharingAndCycleShape) {
  using Mutation = std::function<void(zr::ResourceDatabase&)>;
  auto scene = [](zr::ResourceDatabase& db) { return static_cast<Node*>(db.resources()[0].get()); };
  struct Case {
    Mutation mutate;
    const char* difference;  // "" for none
  };
  const Case cases[] = {
      {[](zr::ResourceDatabase&) {}, ""},
      {[&](zr::ResourceDatabase& db) { scene(db)->children[0]->children[0]->name = "x"; },
       "root.resources[0].children[0].children[0].name: '' != 'x'"},
      {[&](zr::ResourceDatabase& db) { scene(db)->children[0]->children[0]->weight = 0.0; },
       "root.resources[0].children[0].children[0].weight: '-0' != '0'"},
      {[&](zr::ResourceDatabase& db) { scene(db)->samples[1] = 0.0; },
       "root.resources[0].samples: '-1.5 -0 0.10000000000000001 1000000 0.5 ' != "
       "'-1.5 0 0.10000000000000001 1000000 0.5 '"},
      {[&](zr::ResourceDatabase& db) { scene(db)->children[1]->indices.push_back(0); },
       "root.resources[0].children[1].indices: '3 1 2 ' != '3 1 2 0 '"},
      // An equal but separate material for the second owner: the sharing differs.
      {[&](zr::ResourceDatabase& db) {
         ref<Material> copy = new Material(*scene(db)->children[1]->material);
         scene(db)->children[1]->material = copy;
       },
       "root.resources[0].children[1].material: shared differently"},
      // The grandchild points at its grandparent instead of its parent: the cycle differs.
      {[&](zr::ResourceDatabase& db) { scene(db)->children[0]->children[0]->parent = scene(db); },
       "root.resources[0].children[0].children[0].parent: shared differently"},
      {[&](zr::ResourceDatabase& db) { scene(db)->children[0]->material = nullptr; },
       "root.resources[0].children[0].material: missing on the right"},
      {[&](zr::ResourceDatabase& db) { db.resources().push_back(new Node); },
       "root.resources: 2 != 3 items"},
      {[&](zr::ResourceDatabase& db) { db.resources()[0] = new Material; },
       "root.resources[0]: zrtest::Node != zrtest::Material"},
  };
  ref<zr::ResourceDatabase> a = zrtest::makeSampleGraph();
  for (const Case& c : cases) {
    ref<zr::ResourceDatabase> b = zrtest::makeSampleGraph();
    c.mutate(*b);
    EXPECT_EQ(zrtest::graphDifference(a.get(), b.get()), c.difference);
  }
  EXPECT_EQ(zrtest::graphDifference(a.get(), a.get()), "");
}

// --- Programming errors ---

// A wrapper that breaks the contract: it returns its result without registering the pair.
class ForgetfulWrapper : public ClassWrapper {
 public:
  ref<zr::Object> importObject(ZRXSerializer&, const ZRXStructure*) override { return new Node; }
  ref<ZRXStructure> exportObject(ZRXSerializer&, const zr::Object*) override {
    return new ZRXStructure("<Node>");
  }
};

TEST(SerializerDeathTest, ProgrammingErrorsFailChecks) {
  ref<ZRXStructure> structure = new ZRXStructure("<Node>");
  ref<Node> node = new Node;
  ZRXSerializer bare;
  EXPECT_DEATH(bare.importZRX(structure.get()), "Check failed: mRegistry");
  EXPECT_DEATH(bare.exportZRX(node.get()), "Check failed: mRegistry");
  EXPECT_DEATH(bare.importZRX(nullptr), "Check failed: st ");
  EXPECT_DEATH(bare.exportZRX(nullptr), "Check failed: obj ");

  bare.registerImportedStructure(structure.get(), node.get());
  EXPECT_DEATH(bare.registerImportedStructure(structure.get(), node.get()),
               "Check failed: mImportedStructures.find\\(st\\) == mImportedStructures.end\\(\\)");
  bare.registerExportedObject(node.get(), structure.get());
  EXPECT_DEATH(bare.registerExportedObject(node.get(), structure.get()),
               "Check failed: mExportedObjects.find\\(obj\\) == mExportedObjects.end\\(\\)");
  EXPECT_DEATH(bare.registerImportedStructure(new ZRXStructure, nullptr), "Check failed: obj ");

  ref<Registry> registry = new Registry;
  registry->importWrappers()["<Null>"] = nullptr;
  registry->registerWrapper("<Node>", Node::Type(), new ForgetfulWrapper);
  ZRXSerializer serializer;
  serializer.setRegistry(registry.get());
  ref<ZRXStructure> nullTagged = new ZRXStructure("<Null>");
  EXPECT_DEATH(serializer.importZRX(nullTagged.get()), "Check failed: serializer ");
  EXPECT_DEATH(serializer.importZRX(structure.get()),
               "Check failed: getImportedStructure\\(st\\) == object.get\\(\\)");
  EXPECT_DEATH(serializer.exportZRX(node.get()),
               "Check failed: getExportedObject\\(obj\\) == structure.get\\(\\)");
}

}  // namespace
