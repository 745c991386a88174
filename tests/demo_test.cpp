// The demo host (examples/demo): hostile documents against its wrappers, loaded with the one-call
// functions in both formats, each failing with its message or loading with every back pointer set
// by its owner; deep trees on both sides of a round trip and the serializer's limit of nested
// conversions with the demo's wrappers; and `zrx_demo --load` run as a program on good, hostile
// and foreign files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/DocumentText.hpp"
#include "support/LogCapture.hpp"
#include "support/RunProgram.hpp"
#include "support/SmallStack.hpp"
#include "support/TempFolder.hpp"

#ifndef ZRX_DEMO

TEST(Demo, NotBuilt) { GTEST_SKIP() << "the examples are not part of this build"; }

#else

#include "Scene.hpp"

namespace {

using zr::ref;
using zrX::Format;
using Errors = std::vector<std::string>;

const char* const kHeader = "ZRX version=101 encoding=ascii\n";

// A ZRT document: the header, then `body`.
std::string zrt(const std::string& body) { return kHeader + body + "\n"; }

// A database whose first resource is a chain of `count` nodes, each the only child of the one
// before, every link an ID reference: the text stays flat while the tree is as deep as it is long.
std::string chainOfNodes(int count) {
  std::string text = "<ResourceDatabase> { resources = [ #n0 ] }\n";
  for (int i = 0; i < count; ++i) {
    text += "<Node> { ID = #n" + std::to_string(i) + " name = \"n\"";
    if (i + 1 < count) text += " children = [ #n" + std::to_string(i + 1) + " ]";
    text += " }\n";
  }
  return zrt(text);
}

class DemoHost : public ::testing::TestWithParam<Format> {
 protected:
  DemoHost() { zrX::setDefZRXRegistry(registry.get()); }
  ~DemoHost() override { zrX::setDefZRXRegistry(nullptr); }

  ref<zr::ResourceDatabase> load(const std::string& text) {
    ref<zr::MemoryFile> file = zrtest::documentInFormat(text, GetParam());
    return GetParam() == Format::ZRT ? zrX::loadZRT(file.get()) : zrX::loadZRB(file.get());
  }

  ref<zrX::Registry> registry = demo::makeSceneRegistry();
  zrtest::LogCapture log;
};

INSTANTIATE_TEST_SUITE_P(Formats, DemoHost, ::testing::Values(Format::ZRT, Format::ZRB),
                         [](const ::testing::TestParamInfo<Format>& info) {
                           return std::string(zrX::formatName(info.param));
                         });

// Each document either loads with the ownership rules holding, or fails with its first message
// (the cause; the lines after it name the structures the failure passed through).
TEST_P(DemoHost, HostileDocumentsLoadCleanlyOrFailCleanly) {
  struct Case {
    const char* what;
    std::string text;
    const char* error;  // null: loads
    size_t nodes;       // when it loads
  };
  const std::string db = "<ResourceDatabase> { resources = [ ";
  const std::string end = " ] }";
  const std::string material = "<Material> { name = \"m\" ";
  const std::string mesh = "<Mesh> { name = \"m\" ";
  const Case cases[] = {
      // Documents that load: back pointers come from the owners, and agree with the file.
      {"parent entries that agree",
       zrt(db +
           "<Node> { ID = #r name = \"root\" children = [ <Node> { name = \"a\" parent = #r } "
           "<Node> { ID = #b name = \"b\" parent = #r children = [ <Node> { name = \"c\" } ] } ] "
           "}" +
           end),
       nullptr, 4},
      {"a child reached before its parent",
       zrt(db + "#a #r" + end + "\n<Node> { ID = #r name = \"root\" children = [ #a ] }" +
           "\n<Node> { ID = #a name = \"a\" parent = #r }"),
       nullptr, 2},
      {"a root whose parent entry names nothing",
       zrt(db + "<Node> { name = \"root\" parent = #NULL }" + end), nullptr, 1},
      {"unknown entries, no material, an empty real array",
       zrt(db + "<Node> { name = \"n\" future = [ 1 2 ] mesh = " + mesh +
           "vertices = ( ) indices = ( ) extra = 5 } }" + end),
       nullptr, 1},

      // A parent entry is never followed, only checked.
      {"a child naming a parent that nothing owns",
       zrt(db +
           "<Node> { name = \"root\" children = [ <Node> { name = \"child\" parent = <Node> { "
           "name = \"ghost\" } } ] }" +
           end),
       "<Node>: entry 'parent' does not name the object that owns this one.", 0},
      {"a child naming its sibling as parent",
       zrt(db +
           "<Node> { name = \"root\" children = [ <Node> { ID = #a name = \"a\" } <Node> { name "
           "= \"b\" parent = #a } ] }" +
           end),
       "<Node>: entry 'parent' does not name the object that owns this one.", 0},
      {"a root naming a parent that nothing owns",
       zrt(db + "<Node> { name = \"root\" parent = <Node> { name = \"ghost\" } }" + end),
       "<Node>: entry 'parent' does not name the object that owns this one.", 0},

      // Ownership that would leak or tear.
      {"a node listing itself",
       zrt(db + "<Node> { ID = #n name = \"loop\" children = [ #n ] }" + end),
       "<Node>: entry 'children[0]' lists <Node> '#n', which would then own itself.", 0},
      {"two nodes listing each other",
       zrt(db +
           "<Node> { ID = #a name = \"a\" children = [ <Node> { name = \"b\" children = [ #a "
           "] } ] }" +
           end),
       "<Node>: entry 'children[0]' lists <Node> '#a', which would then own itself.", 0},
      {"a node with two owners",
       zrt(db +
           "<Node> { name = \"p\" children = [ #c <Node> { name = \"q\" children = [ #c ] } ] }" +
           end + "\n<Node> { ID = #c name = \"c\" }"),
       "<Node>: entry 'children[0]' lists <Node> '#c', which already has an owner.", 0},
      {"a node listed twice by one owner",
       zrt(db + "<Node> { name = \"p\" children = [ #c #c ] }" + end +
           "\n<Node> { ID = #c name = \"c\" }"),
       "<Node>: entry 'children[1]' lists <Node> '#c', which already has an owner.", 0},
      {"a database that lists itself", zrt("<ResourceDatabase> { ID = #db resources = [ #db ] }"),
       "<ResourceDatabase>: entry 'resources[0]' names <ResourceDatabase> '#db', which holds this "
       "object already: a cycle of references that nothing frees.",
       0},
      {"a database listed by a node below it",
       zrt("<ResourceDatabase> { ID = #db resources = [ <Node> { mesh = #db } ] }"),
       "<Node>: entry 'mesh' names <ResourceDatabase> '#db', which holds this object already: a "
       "cycle of references that nothing frees.",
       0},
      {"texts from the file are escaped and cut in messages",
       zrt(db + "<Node> { mesh = \"tab\\there 'quote' and a long tail beyond\" }" + end),
       "<Node>: entry 'mesh' is not a structure (found the string 'tab\\there \\'quote\\' and a "
       "long tail...[39 bytes]').",
       0},
      {"a chain of references 2000 deep", chainOfNodes(2000), nullptr, 2000},

      // Values of the wrong kind, one per kind the wrappers read.
      {"string", zrt(db + "<Node> { name = 5 }" + end),
       "<Node>: entry 'name' is not a string (found the integer 5).", 0},
      {"three reals", zrt(db + "<Node> { position = ( 1.5 2.5 ) }" + end),
       "<Node>: entry 'position' is not a real array of 3 values (found a real array of 2 values).",
       0},
      {"three reals, as integers", zrt(db + "<Node> { position = ( 1 2 3 ) }" + end),
       "<Node>: entry 'position' is not a real array of 3 values (found an integer array of 3 "
       "values).",
       0},
      {"structure", zrt(db + "<Node> { mesh = 7 }" + end),
       "<Node>: entry 'mesh' is not a structure (found the integer 7).", 0},
      {"structure of the right class", zrt(db + "<Node> { mesh = " + material + "} }" + end),
       "<Node>: entry 'mesh' names an object of the wrong class (a 'demo::Material', not a "
       "'demo::Mesh').",
       0},
      {"list", zrt(db + "<Node> { children = <Node> { } }" + end),
       "<Node>: entry 'children' is not a list of structures (found a <Node> structure).", 0},
      {"list of structures", zrt(db + "<Node> { children = [ 5 ] }" + end),
       "<Node>: entry 'children[0]' is not a structure (found the integer 5).", 0},
      {"list without holes", zrt(db + "<Node> { children = [ #NULL ] }" + end),
       "<Node>: entry 'children[0]' names no structure.", 0},
      {"parent", zrt(db + "<Node> { parent = \"root\" }" + end),
       "<Node>: entry 'parent' is not a structure (found the string 'root').", 0},
      {"real", zrt(db + material + "shininess = 8 }" + end),
       "<Material>: entry 'shininess' is not a real (found the integer 8).", 0},
      {"bool", zrt(db + material + "two_sided = 1 }" + end),
       "<Material>: entry 'two_sided' is not true or false (found the integer 1).", 0},
      {"blend mode", zrt(db + material + "blend = Shiny }" + end),
       "<Material>: entry 'blend' is not Opaque, Additive or Alpha (found the identifier "
       "Shiny).",
       0},
      {"raw text", zrt(db + material + "shader = \"void main() {}\" }" + end),
       "<Material>: entry 'shader' is not a raw text block (found the string 'void main() {}').",
       0},
      {"real array", zrt(db + mesh + "vertices = ( 1 2 3 ) }" + end),
       "<Mesh>: entry 'vertices' is not a real array (found an integer array of 3 values).", 0},
      {"integer array", zrt(db + mesh + "indices = ( 0.5 1.5 2.5 ) }" + end),
       "<Mesh>: entry 'indices' is not an integer array (found a real array of 3 values).", 0},
      {"resource list", zrt("<ResourceDatabase> { resources = 5 }"),
       "<ResourceDatabase>: entry 'resources' is not a list (found the integer 5).", 0},
      {"resource", zrt(db + "5" + end),
       "<ResourceDatabase>: entry 'resources[0]' is not a structure (found the integer 5).", 0},

      // Values of the right kind that break what the host relies on.
      {"vertices that are not triples", zrt(db + mesh + "vertices = ( 0.5 1.5 ) }" + end),
       "<Mesh>: entry 'vertices' is not x y z triples.", 0},
      {"indices that are not triangles", zrt(db + mesh + "indices = ( 0 0 ) }" + end),
       "<Mesh>: entry 'indices' is not triangles.", 0},
      {"an index beyond the vertices",
       zrt(db + mesh + "vertices = ( 0.5 0.5 0.5 ) indices = ( 0 0 1 ) }" + end),
       "<Mesh>: entry 'indices' names a vertex the mesh does not have.", 0},
      {"a negative index",
       zrt(db + mesh + "vertices = ( 0.5 0.5 0.5 ) indices = ( 0 0 -1 ) }" + end),
       "<Mesh>: entry 'indices' names a vertex the mesh does not have.", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    log.clear();
    ref<zr::ResourceDatabase> scene = load(c.text);
    if (scene) {
      EXPECT_EQ(demo::ownershipFault(scene.get()), "");
    }
    if (c.error) {
      EXPECT_FALSE(scene);
      EXPECT_EQ(log.errors().empty() ? "(nothing logged)" : log.errors().front(), c.error);
    } else if (scene) {
      EXPECT_EQ(demo::countScene(scene.get()).nodes, c.nodes);
      EXPECT_TRUE(log.errors().empty()) << log.all();
    } else {
      ADD_FAILURE() << "does not load: " << log.all();
    }
  }
}

// A tree as deep as the document nesting allows makes the round trip; one level more is refused on
// save, cleanly: each node level is two levels of nesting (the node and its children list).
TEST_P(DemoHost, TreesDeeperThanTheDocumentNestingAreRefusedOnSave) {
  for (int depth : {499, 500}) {
    SCOPED_TRACE(depth);
    log.clear();
    ref<demo::SceneNode> root = new demo::SceneNode;
    demo::SceneNode* last = root.get();
    for (int level = 1; level < depth; ++level) {
      ref<demo::SceneNode> child = new demo::SceneNode;
      child->parent = last;
      last->children.push_back(child);
      last = child.get();
    }
    ref<zr::ResourceDatabase> scene = new zr::ResourceDatabase;
    scene->resources().emplace_back(root.get());
    ref<zr::MemoryFile> file = new zr::MemoryFile;
    const bool text = GetParam() == Format::ZRT;
    const bool saved =
        text ? zrX::saveZRT(file.get(), scene.get()) : zrX::saveZRB(file.get(), scene.get());
    if (depth == 500) {
      EXPECT_FALSE(saved);
      EXPECT_TRUE(file->data().empty());
      ASSERT_FALSE(log.errors().empty());
      EXPECT_NE(log.errors().front().find("nesting deeper than 1000 levels"), std::string::npos)
          << log.errors().front();
      continue;
    }
    ASSERT_TRUE(saved) << log.all();
    ref<zr::ResourceDatabase> back = text ? zrX::loadZRT(file.get()) : zrX::loadZRB(file.get());
    ASSERT_TRUE(back) << log.all();
    std::string why;
    EXPECT_TRUE(demo::scenesEqual(scene.get(), back.get(), &why)) << why;
  }
}

// Nested conversions: a chain of nodes, each the only child of the one before and every link an ID
// reference, nests the demo's wrappers as deep as it is long. The serializer stops it at its
// conversion limit instead of running the stack out. The default fits an 8 MiB stack in an
// optimised build (AddressSanitizer's frames are several times larger: those runs get more).
size_t stackFor(int levels) {
#if defined(ZRX_TEST_ASAN)
  return static_cast<size_t>(levels) * 4096 + (size_t{16} << 20);
#else
  return levels <= zrX::ZRXSerializer::kDefaultMaxConversionDepth
             ? size_t{8} << 20
             : static_cast<size_t>(levels) * 1024 + (size_t{8} << 20);
#endif
}

struct Converted {
  bool ok = false;
  zrX::ZRXSerializer::EError error = zrX::ZRXSerializer::NoError;
  Errors errors;
  size_t nodes = 0;
};

Converted loadChain(int count, Format format, int maxConversionDepth) {
  Converted out;
  const std::string text = chainOfNodes(count);
  ref<zr::MemoryFile> file = zrtest::documentInFormat(text, format);
  const bool ran = zrtest::runOnStack(stackFor(std::max(count, maxConversionDepth)), [&] {
    zrtest::LogCapture log;
    zrX::ZRXSerializer serializer;
    serializer.setRegistry(demo::makeSceneRegistry().get());
    serializer.setMaxConversionDepth(maxConversionDepth);
    ref<zr::Object> loaded = format == Format::ZRT ? serializer.loadZRT(file.get(), true)
                                                   : serializer.loadZRB(file.get(), true);
    out.ok = loaded && loaded->isOfType(zr::ResourceDatabase::Type());
    if (out.ok)
      out.nodes = demo::countScene(static_cast<zr::ResourceDatabase*>(loaded.get())).nodes;
    out.error = serializer.error();
    out.errors = log.errors();
  });
  EXPECT_TRUE(ran);
  return out;
}

const char* const kDeepImport =
    "ZRXSerializer::importZRX() : conversions nested deeper than 10000 levels at structure "
    "'<Node>'; setMaxConversionDepth() allows more, on a thread with stack enough for them.\n";

TEST_P(DemoHost, AChainBeyondTheConversionLimitFailsCleanly) {
  const Converted deep =
      loadChain(30000, GetParam(), zrX::ZRXSerializer::kDefaultMaxConversionDepth);
  EXPECT_FALSE(deep.ok);
  EXPECT_EQ(deep.error, zrX::ZRXSerializer::ImportError);
  ASSERT_FALSE(deep.errors.empty());
  EXPECT_EQ(deep.errors.front(), kDeepImport);
}

TEST_P(DemoHost, AChainAtTheConversionLimitConverts) {
  // The database is one level, each node one more: 9,999 nodes fill the 10,000 levels.
  const Converted atLimit =
      loadChain(9999, GetParam(), zrX::ZRXSerializer::kDefaultMaxConversionDepth);
  EXPECT_TRUE(atLimit.ok) << (atLimit.errors.empty() ? "" : atLimit.errors.front());
  EXPECT_EQ(atLimit.nodes, 9999u);
  const Converted beyond =
      loadChain(10000, GetParam(), zrX::ZRXSerializer::kDefaultMaxConversionDepth);
  EXPECT_FALSE(beyond.ok);
  ASSERT_FALSE(beyond.errors.empty());
  EXPECT_EQ(beyond.errors.front(), kDeepImport);
}

TEST_P(DemoHost, ARaisedConversionLimitConvertsALongerChainOnABigStack) {
  const Converted longer = loadChain(30000, GetParam(), 40000);
  EXPECT_TRUE(longer.ok) << (longer.errors.empty() ? "" : longer.errors.front());
  EXPECT_EQ(longer.nodes, 30000u);
}

// A load takes the arrays of the document it read for itself; an import from a document the
// caller holds copies them and leaves that document as it was.
TEST_P(DemoHost, ArraysAreTakenFromALoadedDocumentAndCopiedFromAKeptOne) {
  const std::string text =
      zrt("<ResourceDatabase> { resources = [ <Mesh> { name = \"m\" "
          "vertices = ( 0.5 1.5 2.5 3.5 4.5 5.5 6.5 7.5 8.5 ) indices = ( 0 1 2 ) } ] }");
  auto meshOf = [](const zr::Object* object) -> const demo::Mesh* {
    const auto* db = static_cast<const zr::ResourceDatabase*>(object);
    if (!db || db->resources().size() != 1 || !db->resources()[0]->isOfType(demo::Mesh::Type()))
      return nullptr;
    return static_cast<const demo::Mesh*>(db->resources()[0].get());
  };
  const std::vector<double> vertices = {0.5, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5, 8.5};
  const std::vector<int64_t> indices = {0, 1, 2};

  ref<zr::ResourceDatabase> loaded = load(text);
  const demo::Mesh* mesh = meshOf(loaded.get());
  ASSERT_NE(mesh, nullptr);
  EXPECT_EQ(mesh->vertices, vertices);
  EXPECT_EQ(mesh->indices, indices);

  ref<zr::MemoryFile> file = zrtest::documentInFormat(text, GetParam());
  zrX::Document document;
  ASSERT_EQ(zrX::readDocument(file.get(), GetParam(), document), zrX::ReadStatus::Ok);
  zrX::ZRXSerializer serializer;
  EXPECT_FALSE(serializer.importsOwnDocument());
  ref<zr::Object> imported = serializer.importZRX(document.structures().front().get());
  mesh = meshOf(imported.get());
  ASSERT_NE(mesh, nullptr);
  EXPECT_EQ(mesh->vertices, vertices);
  const zrX::ZRXValue& held = document.structures().front()->value()[0].value();
  ASSERT_EQ(held.type(), zrX::ZRXValue::List);
  const zrX::ZRXStructure* meshStructure = held.getList()->value()[0].getStructure();
  EXPECT_EQ(meshStructure->value()[1].value().getArrayReal()->value(), vertices);
  EXPECT_EQ(meshStructure->value()[2].value().getArrayInteger()->value(), indices);
  EXPECT_FALSE(serializer.importsOwnDocument());
}

// Every seed of the fuzz corpora (documents of every kind, hostile ones included) loads through
// the demo host or fails with a message; under the sanitizers nothing leaks or dangles.
TEST(DemoHostCorpus, EverySeedLoadsOrFailsCleanly) {
  zrtest::LogCapture log;
  ref<zrX::Registry> registry = demo::makeSceneRegistry();
  size_t files = 0, loaded = 0;
  for (const auto& folder :
       std::filesystem::directory_iterator(std::string(ZRX_SOURCE_DIR) + "/fuzz/corpus")) {
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
      SCOPED_TRACE(entry.path().string());
      ++files;
      zrX::ZRXSerializer serializer;
      serializer.setRegistry(registry.get());
      ref<zr::ResourceDatabase> scene =
          serializer.loadAs<zr::ResourceDatabase>(zr::String(entry.path().string()));
      if (scene) {
        ++loaded;
        EXPECT_EQ(demo::ownershipFault(scene.get()), "");
      } else {
        EXPECT_FALSE(serializer.errorMessage().empty());
      }
    }
  }
  EXPECT_GT(files, 20u);
  EXPECT_GE(loaded, 2u);  // the demo's own seeds, in both formats
}

TEST(DemoHostExport, AChainBeyondTheConversionLimitFailsToExportCleanly) {
  ref<demo::SceneNode> root = new demo::SceneNode;
  demo::SceneNode* last = root.get();
  for (int level = 1; level < 30000; ++level) {
    ref<demo::SceneNode> child = new demo::SceneNode;
    child->parent = last;
    last->children.push_back(child);
    last = child.get();
  }
  ref<zr::ResourceDatabase> scene = new zr::ResourceDatabase;
  scene->resources().emplace_back(root.get());
  bool saved = true;
  zrX::ZRXSerializer::EError error = zrX::ZRXSerializer::NoError;
  Errors errors;
  ASSERT_TRUE(zrtest::runOnStack(stackFor(zrX::ZRXSerializer::kDefaultMaxConversionDepth), [&] {
    zrtest::LogCapture log;
    zrX::ZRXSerializer serializer;
    serializer.setRegistry(demo::makeSceneRegistry().get());
    ref<zr::MemoryFile> file = new zr::MemoryFile;
    saved = serializer.saveZRB(file.get(), scene.get(), true);
    error = serializer.error();
    errors = log.errors();
  }));
  EXPECT_FALSE(saved);
  EXPECT_EQ(error, zrX::ZRXSerializer::ExportError);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors.front(),
            "ZRXSerializer::exportZRX() : conversions nested deeper than 10000 levels at "
            "'demo::SceneNode'; setMaxConversionDepth() allows more, on a thread with stack "
            "enough for them.\n");
  // The chain's nodes hold their children: drop them one by one, without recursion.
  while (!root->children.empty()) {
    ref<demo::SceneNode> next = root->children.front();
    root->children.clear();
    root = next;
  }
}

// zrx_demo --load, run as a program ------------------------------------------------------------

using zrtest::Outcome;

class DemoProgram : public ::testing::Test {
 protected:
  Outcome run(const std::vector<std::string>& args) {
    return zrtest::runProgram(ZRX_DEMO, args, capture.folder());
  }

  // Writes `text` (ZRT) into the folder as a document in `format`.
  std::string document(const char* name, const std::string& text, Format format) {
    const std::string path = folder.path(name);
    zrtest::TempFolder::writeBytes(path, zrtest::documentInFormat(text, format)->text());
    return path;
  }

  zrtest::TempFolder folder{"zrx_demo_test"};

 private:
  zrtest::TempFolder capture{"zrx_demo_test_capture"};
};

TEST_F(DemoProgram, LoadsAGoodSceneInEitherFormat) {
  ref<zrX::Registry> registry = demo::makeSceneRegistry();
  zrX::setDefZRXRegistry(registry.get());
  demo::SceneShape shape;
  shape.verticesPerMesh = 50;
  ref<zr::ResourceDatabase> scene = demo::makeScene(shape);
  const std::string text = folder.path("scene.zrt"), binary = folder.path("scene.zrb");
  ASSERT_TRUE(zrX::saveZRT(zr::String(text.c_str()), scene.get()));
  ASSERT_TRUE(zrX::saveZRB(zr::String(binary.c_str()), scene.get()));
  zrX::setDefZRXRegistry(nullptr);
  const demo::SceneCounts counts = demo::countScene(scene.get());
  const std::string summary =
      std::to_string(counts.nodes) + " nodes, " + std::to_string(counts.meshes) + " meshes, " +
      std::to_string(counts.materials) + " materials, " + std::to_string(counts.reals) +
      " reals, " + std::to_string(counts.integers) + " integers\n";
  // The format comes from the bytes, not the name.
  const std::string disguised = folder.path("scene.txt");
  zrtest::TempFolder::writeBytes(disguised, zrtest::TempFolder::readBytes(binary));
  const struct {
    std::string path;
    const char* format;
  } files[] = {{text, "ZRT"}, {binary, "ZRB"}, {disguised, "ZRB"}};
  for (const auto& f : files) {
    const Outcome outcome = run({"--load", f.path});
    EXPECT_EQ(outcome.status, 0) << f.path;
    EXPECT_EQ(outcome.out, f.path + ": ok, " + f.format + ", " + summary);
    EXPECT_EQ(outcome.err, "");
  }
}

TEST_F(DemoProgram, AFileThatDoesNotLoadGivesOneLineAndStatus1) {
  const std::string db = "<ResourceDatabase> { resources = [ ";
  const std::string loop = zrt(db + "<Node> { ID = #n name = \"loop\" children = [ #n ] } ] }");
  const std::string ghost =
      zrt(db +
          "<Node> { name = \"root\" children = [ <Node> { name = \"child\" parent = <Node> "
          "{ name = \"ghost\" } } ] } ] }");
  std::filesystem::create_directory(folder.path("folder"));
  zrtest::TempFolder::writeBytes(folder.path("foreign.zrt"), "hello, not a document\n");
  zrtest::TempFolder::writeBytes(folder.path("broken.zrt"), zrt(db + "( 1 x ) ] }"));
  const struct {
    std::string path, message;  // message: the line after "PATH: "
  } files[] = {
      {document("loop.zrt", loop, Format::ZRT),
       "<Node>: entry 'children[0]' lists <Node> '#n', which would then own itself."},
      {document("ghost.zrb", ghost, Format::ZRB),
       "<Node>: entry 'parent' does not name the object that owns this one."},
      {document("material.zrt", zrt("<Material> { name = \"m\" }"), Format::ZRT),
       "the document holds no resource database"},
      {document("metadata.zrb", zrt("<Metadata> { Note = \"only\" }"), Format::ZRB),
       "the document holds no resource database"},
      {folder.path("broken.zrt"), "Line 2 : parse error at 'x'."},
      {folder.path("foreign.zrt"), "not a ZRX document (neither ZRT text nor ZRB binary)"},
      {folder.path("missing.zrt"), "no such file"},
      {folder.path("folder"), "is a folder, not a document"},
  };
  for (const auto& f : files) {
    const Outcome outcome = run({"--load", f.path});
    EXPECT_EQ(outcome.status, 1) << f.path;
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, f.path + ": " + f.message + "\n");
  }
}

TEST_F(DemoProgram, AWrongCommandLineGivesStatus2AndCreatesNothing) {
  const std::string usage =
      "usage: zrx_demo [OUTPUT-FOLDER]   save, detect and load the demo scene (./demo-output)\n"
      "       zrx_demo --load FILE       load one document of either format through the demo "
      "host\n";
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--load"}, usage},
      {{"--load", "a", "b"}, usage},
      {{"--hlep"}, "zrx_demo: unknown option '--hlep'\n" + usage},
      {{"a", "b"}, "zrx_demo: one OUTPUT-FOLDER at most\n" + usage},
  };
  for (const auto& c : cases) {
    const Outcome outcome = run(c.args);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, c.err);
  }
  for (const char* flag : {"--help", "-h"}) {
    const Outcome outcome = run({flag});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, usage);
  }
  for (const char* name : {"--help", "-h", "--hlep", "a"})
    EXPECT_FALSE(std::filesystem::exists(name)) << name << " was created";
}

}  // namespace

#endif
