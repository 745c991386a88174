// The zrx tool's JSON form, run as a program: the documented mapping of every kind of value on a
// known document (checked as text, and read by python3's json module as an independent parser),
// byte-identical ZRB -> JSON -> ZRB round trips of generated documents and of the demo scene (also
// through python3's own JSON writer), JSON written by hand the way a script would, the refusal of
// bad JSON with its line and column (the output left untouched), byte order marks, and nesting at
// the limit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "support/TreeCompare.hpp"
#include "support/TreeGen.hpp"
#include "zrX/zrX.hpp"

#ifndef ZRX_TOOL

TEST(ToolJson, NotBuilt) { GTEST_SKIP() << "the zrx tool is not part of this build"; }

#else

#include "support/ToolFixture.hpp"
#ifdef ZRX_DEMO_SCENE
#include "Scene.hpp"
#endif

namespace {

using zr::ref;
using zrtest::readBytes;
using zrtest::writeBytes;
using zrX::ZRXStructure;
using zrX::ZRXValue;

// python3 reading the JSON files named on its command line strictly: NaN and Infinity literals,
// duplicate member names and trailing bytes are refused. Prints one line per file.
const char* const kStrictJson = R"(
import json, sys
sys.setrecursionlimit(10000)  # a document 1000 levels deep nests 2000 JSON values
def pairs(items):
    keys = [k for k, _ in items]
    if len(keys) != len(set(keys)): raise ValueError("duplicate member names")
    return dict(items)
def constant(name): raise ValueError("not JSON: " + name)
for path in sys.argv[1:]:
    with open(path, encoding="utf-8") as f:
        doc = json.load(f, object_pairs_hook=pairs, parse_constant=constant)
    assert doc["zrx"] == 101, path
    print(path, "ok", len(doc["metadata"]), len(doc["structures"]))
)";

ZRXValue real(double value) {
  ZRXValue v;
  v.setReal(value);
  return v;
}

double fromBits(uint64_t bits) {
  double value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

class ToolJsonTest : public zrtest::ToolTest {
 protected:
  // Writes a ZRB document whose metadata block holds `metadata` in the order given, as the
  // serializer writes it (the host's entries, then its own), followed by `structures`.
  void writeZRB(const std::string& path,
                const std::vector<std::pair<std::string, ZRXValue> >& metadata,
                const std::vector<ref<ZRXStructure> >& structures) {
    std::vector<ref<ZRXStructure> > topLevel;
    if (!metadata.empty()) {
      ref<ZRXStructure> block = new ZRXStructure("<Metadata>");
      for (const auto& [key, value] : metadata) *block << key.c_str() << value;
      topLevel.push_back(block);
    }
    topLevel.insert(topLevel.end(), structures.begin(), structures.end());
    ref<zr::DiskFile> file = new zr::DiskFile(zr::String(path));
    const zrX::WriteResult result = zrX::writeStructures(file.get(), zrX::Format::ZRB, topLevel);
    ASSERT_TRUE(result.ok()) << result.message;
  }

  // Converts `zrb` to JSON and back, and expects the same bytes; returns the JSON path.
  std::string expectJsonRoundTrip(const std::string& zrb, const std::string& what) {
    const std::string json = zrb + ".json";
    const std::string back = zrb + ".back.zrb";
    const zrtest::Outcome there = zrx({"convert", zrb, json});
    EXPECT_EQ(there.status, 0) << what << ": " << there.err;
    EXPECT_EQ(there.err, "") << what;
    const zrtest::Outcome home = zrx({"convert", json, back});
    EXPECT_EQ(home.status, 0) << what << ": " << home.err;
    EXPECT_EQ(readBytes(back), readBytes(zrb)) << what << ": ZRB -> JSON -> ZRB changed bytes";
    return json;
  }
};

// Every kind of value, with the edges of each, and the metadata in the serializer's order.
std::vector<ref<ZRXStructure> > knownStructures() {
  ref<ZRXStructure> scene = new ZRXStructure("<Scene>");
  *scene << "name" << ZRXValue::makeString("Demo") << "flag" << ZRXValue::makeBool(true) << "big"
         << ZRXValue::makeInteger((int64_t{1} << 53) + 1) << "min"
         << ZRXValue::makeInteger(std::numeric_limits<int64_t>::min()) << "half" << real(0.5)
         << "third" << real(1.0 / 3) << "negzero" << real(-0.0) << "whole" << real(2.0) << "huge"
         << real(1e300) << "nan" << real(std::nan("")) << "inf"
         << real(-std::numeric_limits<double>::infinity()) << "odd"
         << real(fromBits(0xFFF8000000000001ull)) << "mode" << ZRXValue::makeIdentifier("Fast")
         << "bytes" << ZRXValue::makeString(std::string("\xff\0a", 3)) << "text"
         << ZRXValue::makeString("tab\tquote\"\xc3\xa9\x01\x7f");
  ref<ZRXStructure> part = new ZRXStructure("<Part>");
  part->setID("#wheel");
  *part << "radius" << real(0.75);
  ref<zrX::ZRXList> parts = new zrX::ZRXList;
  parts->value() = {ZRXValue::makeStructure(part.get()), ZRXValue::makeID("#wheel"),
                    ZRXValue::makeID("#NULL")};
  ref<zrX::ZRXRawtextBlock> source = new zrX::ZRXRawtextBlock("<Text>", "line one\n");
  ref<zrX::ZRXArrayInteger> ints = new zrX::ZRXArrayInteger("<Ints>");
  ints->value() = {1, -2, std::numeric_limits<int64_t>::max()};
  ref<zrX::ZRXArrayReal> reals = new zrX::ZRXArrayReal;
  reals->value() = {0.25, std::nan(""), -std::numeric_limits<double>::infinity(), -0.0};
  ref<ZRXStructure> unnamed = new ZRXStructure;
  unnamed->setID("");
  *scene << "parts" << ZRXValue::makeList(parts.get()) << "src"
         << ZRXValue::makeRawtextBlock(source.get()) << "ints" << ZRXValue::makeArray(ints.get())
         << "reals" << ZRXValue::makeArray(reals.get()) << "noReals"
         << ZRXValue::makeArray(new zrX::ZRXArrayReal) << "noInts"
         << ZRXValue::makeArray(new zrX::ZRXArrayInteger) << "tagged"
         << ZRXValue::makeList(new zrX::ZRXList("<T>")) << "k\xfe" << ZRXValue::makeInteger(1)
         << "unnamed" << ZRXValue::makeStructure(unnamed.get());
  return {scene, new ZRXStructure("<Other>")};
}

std::vector<std::pair<std::string, ZRXValue> > knownMetadata() {
  ref<zrX::ZRXList> layers = new zrX::ZRXList;
  layers->value() = {ZRXValue::makeString("base"), ZRXValue::makeInteger(2)};
  return {{"Project", ZRXValue::makeString("Orbit")},
          {"Layers", ZRXValue::makeList(layers.get())},
          {"Authoring_Tool", ZRXValue::makeString("zrX 1.0")},
          {"Creation_Date", ZRXValue::makeString("Mon Jan  1 00:00:00 2024\n")},
          {"ZR_Serializer_Version", ZRXValue::makeInteger(101)}};
}

const char* const kKnownJson = R"({
  "zrx": 101,
  "metadata": [
    ["Project", "Orbit"],
    ["Layers", {"list": [
      "base",
      2
    ]}],
    ["Authoring_Tool", "zrX 1.0"],
    ["Creation_Date", "Mon Jan  1 00:00:00 2024\n"],
    ["ZR_Serializer_Version", 101]
  ],
  "structures": [
    {"tag": "<Scene>", "structure": [
      ["name", "Demo"],
      ["flag", true],
      ["big", 9007199254740993],
      ["min", -9223372036854775808],
      ["half", 0.5],
      ["third", 0.3333333333333333],
      ["negzero", -0.0],
      ["whole", 2.0],
      ["huge", 1e+300],
      ["nan", {"real": "NaN"}],
      ["inf", {"real": "-Infinity"}],
      ["odd", {"real": "0xfff8000000000001"}],
      ["mode", {"identifier": "Fast"}],
      ["bytes", {"base64": "/wBh"}],
      ["text", "tab\tquote\"é\u0001\u007f"],
      ["parts", {"list": [
        {"tag": "<Part>", "id": "#wheel", "structure": [
          ["radius", 0.75]
        ]},
        {"ref": "#wheel"},
        {"ref": "#NULL"}
      ]}],
      ["src", {"tag": "<Text>", "rawtext": "line one\n"}],
      ["ints", {"tag": "<Ints>", "integers": [1, -2, 9223372036854775807]}],
      ["reals", {"reals": [0.25, "NaN", "-Infinity", -0.0]}],
      ["noReals", {"reals": []}],
      ["noInts", {"integers": []}],
      ["tagged", {"tag": "<T>", "list": []}],
      [{"base64": "a/4="}, 1],
      ["unnamed", {"id": "", "structure": []}]
    ]},
    {"tag": "<Other>", "structure": []}
  ]
}
)";

TEST_F(ToolJsonTest, KnownDocumentMapsToTheDocumentedJson) {
  const std::string zrb = at("known.zrb");
  writeZRB(zrb, knownMetadata(), knownStructures());
  const std::string json = expectJsonRoundTrip(zrb, "known");
  EXPECT_EQ(readBytes(json), kKnownJson);

  // An independent parser reads it, with the kinds a script sees: exact integers beyond 2^53,
  // reals as floats even when whole, the metadata in the file's order.
  const zrtest::Outcome strict = python(kStrictJson, {json});
  EXPECT_EQ(strict.status, 0) << strict.err;
  EXPECT_EQ(strict.out, json + " ok 5 2\n");
  const zrtest::Outcome facts = python(R"(
import json, sys
doc = json.load(open(sys.argv[1]))
scene = dict((k, v) for k, v in doc["structures"][0]["structure"] if isinstance(k, str))
print([k for k, _ in doc["metadata"]])
print(scene["big"], type(scene["big"]).__name__, scene["whole"], type(scene["whole"]).__name__)
print(scene["parts"]["list"][0]["id"], scene["parts"]["list"][1]["ref"])
)",
                                       {json});
  EXPECT_EQ(facts.status, 0) << facts.err;
  EXPECT_EQ(facts.out,
            "['Project', 'Layers', 'Authoring_Tool', 'Creation_Date', 'ZR_Serializer_Version']\n"
            "9007199254740993 int 2.0 float\n"
            "#wheel #wheel\n");

  // The other commands read JSON too; a JSON document converts to JSON as the same text.
  EXPECT_EQ(zrx({"check", json}).out, json + ": ok\n");
  const zrtest::Outcome info = zrx({"info", json});
  EXPECT_NE(info.out.find("  format:               JSON\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("    Project = \"Orbit\"\n    Layers = list of 2 values\n"),
            std::string::npos)
      << info.out;
  ASSERT_EQ(zrx({"convert", json, at("again.dat"), "--to", "json"}).status, 0);
  EXPECT_EQ(readBytes(at("again.dat")), kKnownJson);
}

TEST_F(ToolJsonTest, GeneratedDocumentsSurviveJsonByteForByte) {
  // Generated trees with everything binary carries (any bytes in texts, keys and tags, NaN and
  // infinities, shared structures, references forward, backward and to ancestors), behind a
  // metadata block in the serializer's order. python3 also reads each JSON file and writes it
  // again its own way (ASCII escapes, its own number texts): that JSON must give the same bytes
  // too.
  std::vector<std::string> jsonFiles;
  for (uint32_t seed = 1; seed <= 16; ++seed) {
    zrtest::TreeGenOptions options;
    options.seed = seed;
    options.topLevelStructures = 1 + static_cast<int>(seed % 3);
    options.maxDepth = 2 + static_cast<int>(seed % 5);
    options.validNames = seed % 2 == 0;
    std::vector<std::pair<std::string, ZRXValue> > metadata = knownMetadata();
    metadata.insert(metadata.begin(),
                    {"Seed \xff", ZRXValue::makeString("seed " + std::to_string(seed) + "\x80")});
    zrX::Document tree;  // breaks the generated tree's cycles, if linking made any
    tree.structures() = zrtest::generateDocument(options);
    const std::string zrb = at("gen" + std::to_string(seed) + ".zrb");
    writeZRB(zrb, metadata, tree.structures());
    jsonFiles.push_back(expectJsonRoundTrip(zrb, "seed " + std::to_string(seed)));

    const std::string rewritten = zrb + ".py.json";
    const zrtest::Outcome py = python(
        "import json, sys\n"
        "json.dump(json.load(open(sys.argv[1], encoding='utf-8')), open(sys.argv[2], 'w'))\n",
        {jsonFiles.back(), rewritten});
    ASSERT_EQ(py.status, 0) << py.err;
    ASSERT_EQ(zrx({"convert", rewritten, zrb + ".py.zrb"}).status, 0) << "seed " << seed;
    EXPECT_EQ(readBytes(zrb + ".py.zrb"), readBytes(zrb)) << "seed " << seed;
  }
  const zrtest::Outcome strict = python(kStrictJson, jsonFiles);
  EXPECT_EQ(strict.status, 0) << strict.err;
  EXPECT_EQ(zrtest::lines(strict.out).size(), jsonFiles.size()) << strict.out;
}

#ifdef ZRX_DEMO_SCENE
TEST_F(ToolJsonTest, DemoSceneSurvivesJsonByteForByte) {
  // Saved by the serializer with metadata of the host's own, which the serializer writes before
  // its entries and which sort after "Authoring_Tool": the order must survive the conversions.
  zr::ref<zrX::Registry> registry = demo::makeSceneRegistry();
  demo::SceneShape shape;
  shape.verticesPerMesh = 200;
  zr::ref<zr::ResourceDatabase> scene = demo::makeScene(shape);
  zrX::ZRXSerializer serializer;
  serializer.setRegistry(registry.get());
  serializer.metadata()["Scene_Name"].setString("demo");
  serializer.metadata()["Level"] = ZRXValue::makeInteger(3);
  const std::string zrb = at("scene.zrb");
  ASSERT_TRUE(serializer.saveZRB(zr::String(zrb), scene.get(), true));
  serializer.reset();
  const std::string json = expectJsonRoundTrip(zrb, "demo scene");
  const zrtest::Outcome strict = python(kStrictJson, {json});
  EXPECT_EQ(strict.status, 0) << strict.err;
  ASSERT_EQ(zrx({"convert", zrb, at("copy.zrb")}).status, 0);
  EXPECT_EQ(readBytes(at("copy.zrb")), readBytes(zrb));
  // And the JSON loads through the host, as the scene it was.
  ASSERT_EQ(zrx({"convert", json, at("back.zrt")}).status, 0);
  zrX::ZRXSerializer loader;
  loader.setRegistry(registry.get());
  zr::ref<zr::Object> loaded = loader.loadZRB(zr::String(zrb + ".back.zrb"), true);
  ASSERT_TRUE(loaded && loaded->isOfType(zr::ResourceDatabase::Type()));
  std::string why;
  EXPECT_TRUE(
      demo::scenesEqual(scene.get(), static_cast<zr::ResourceDatabase*>(loaded.get()), &why))
      << why;
  loader.reset();
}
#endif

TEST_F(ToolJsonTest, JsonWrittenByHandBuildsTheDocument) {
  // What a script may write: members in any order, a byte order mark, escapes, integers in a
  // real array, a real given by its bits, a key in base64, references before their structure.
  const std::string json = at("hand.json");
  writeBytes(json,
             "\xef\xbb\xbf {\"structures\": [\n"
             " {\"structure\": [[\"first\", {\"ref\": \"#b\"}],\n"
             "   [\"r\", {\"reals\": [1, -2.5e-3, \"0x3ff0000000000000\", \"Infinity\"]}],\n"
             "   [{\"base64\": \"AGs=\"}, \"\\u00e9\\ud83d\\ude00\\u0000\"],\n"
             "   [\"b\", {\"structure\": [], \"id\": \"#b\", \"tag\": \"<B>\"}]],\n"
             "  \"tag\": \"<A>\"}],\n"
             " \"metadata\": [[\"Zeta\", 1], [\"Alpha\", {\"rawtext\": {\"base64\": \"/w==\"}}]],\n"
             " \"zrx\": 101}\n");
  const std::string zrb = at("hand.zrb");
  const zrtest::Outcome run = zrx({"convert", json, zrb});
  ASSERT_EQ(run.status, 0) << run.err;

  ref<ZRXStructure> b = new ZRXStructure("<B>");
  b->setID("#b");
  ref<zrX::ZRXArrayReal> reals = new zrX::ZRXArrayReal;
  reals->value() = {1.0, -2.5e-3, 1.0, std::numeric_limits<double>::infinity()};
  ref<ZRXStructure> a = new ZRXStructure("<A>");
  *a << "first" << ZRXValue::makeID("#b") << "r" << ZRXValue::makeArray(reals.get());
  a->value().emplace_back();
  a->value().back().setKey(std::string("\0k", 2));
  a->value().back().setValue(ZRXValue::makeString(std::string("\xc3\xa9\xf0\x9f\x98\x80\0", 7)));
  *a << "b" << ZRXValue::makeStructure(b.get());
  auto read = readDocumentFile(zrb, false);
  EXPECT_TRUE(zrtest::sameDocument({a}, read->structures()));
  ASSERT_EQ(read->metadata().size(), 2u);
  EXPECT_EQ(read->metadata()["Zeta"].getInteger(), 1);
  EXPECT_EQ(read->metadata()["Alpha"].getRawtextBlock()->value(), "\xff");
  // The metadata block keeps the JSON's order (Zeta before Alpha).
  const std::string bytes = readBytes(zrb);
  EXPECT_LT(bytes.find("Zeta"), bytes.find("Alpha"));
  // The references resolve where they are checked: a JSON document is checked as any other.
  EXPECT_EQ(zrx({"check", json}).out, json + ": ok\n");

  // A text document keeps its metadata order on the way to JSON as well.
  const std::string zrt = at("order.zrt");
  writeBytes(zrt, "ZRX version=101 encoding=ascii\n<Metadata>\n{\n\tZeta = 1\n\tAlpha = 2\n}\n");
  ASSERT_EQ(zrx({"convert", zrt, at("order.json")}).status, 0);
  EXPECT_NE(readBytes(at("order.json")).find("[\"Zeta\", 1],\n    [\"Alpha\", 2]"),
            std::string::npos);
}

TEST_F(ToolJsonTest, BadJsonGivesOneLineWithItsPlaceAndLeavesTheOutput) {
  const std::string head = "{\"zrx\": 101, \"structures\": [";
  const struct {
    std::string json, message;  // the message after "FILE: "
  } cases[] = {
      // JSON syntax, in the parser's words.
      {"{\"zrx\": 101,\n \"structures\": [x]}",
       "line 2, column 17: syntax error while parsing value - invalid literal; last read: "
       "'\"structures\": [x'"},
      {"{\"zrx\": 101, ",
       "line 1, column 14: syntax error while parsing object key - "
       "unexpected end of input; expected string literal"},
      {head + "]} []",
       "line 1, column 32: syntax error while parsing value - unexpected '['; expected end of "
       "input"},
      {head + "{\"structure\": [[\"s\", \"\xc3\xa9\xff\"]]}]}",
       "line 1, column 53: syntax error while parsing value - invalid string: ill-formed UTF-8 "
       "byte; last read: '\"\\xc3\\xa9\\xff'"},
      {head + "{\"structure\": [[\"s\", \"" + std::string(300, 'a') + "\x01\"]]}]}",
       "line 1, column 351: syntax error while parsing value - invalid string: control character "
       "U+0001 (SOH) must be escaped to \\u0001; last read: "
       "'...aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa<U+0001>'"},
      // JSON that is not a ZRX document, in the tool's words.
      {"{\"metadata\": []}", "line 1, column 16: not a ZRX JSON document: \"zrx\": 101 is missing"},
      {"{\"zrx\": 102}", "line 1, column 12: ZRX version 102 is not supported (101 is)"},
      {"{\"zrx\": 101, \"Structures\": []}",
       "line 1, column 25: unknown member \"Structures\" (a document has \"zrx\", \"metadata\" "
       "and \"structures\")"},
      {head + "1]}", "line 1, column 30: a top-level value must be a structure"},
      {head + "{\"list\": []}]}", "line 1, column 40: a top-level value must be a structure"},
      {head + "{\"structure\": [[\"a\", null]]}]}", "line 1, column 53: null is not a ZRX value"},
      {head + "{\"structure\": [[\"a\", 1, 2]]}]}",
       "line 1, column 54: an entry is an array [KEY, VALUE]"},
      {head + "{\"structure\": [[\"a\", [1]]]}]}",
       "line 1, column 50: a JSON array is not a ZRX value (a list is {\"list\": [...]}, arrays "
       "are {\"integers\": [...]} and {\"reals\": [...]})"},
      {head + "{\"structure\": [[\"a\", 9223372036854775808]]}]}",
       "line 1, column 69: integer 9223372036854775808 is out of the 64-bit range"},
      {head + "{\"structure\": [[\"a\", 1e999]]}]}",
       "line 1, column 54: number overflow parsing '1e999'"},
      {head + "{\"structure\": [], \"list\": []}]}",
       "line 1, column 52: a value object holds one value, not both \"structure\" and \"list\""},
      {head + "{\"tag\": \"<A>\"}]}",
       "line 1, column 42: a value object names its kind: one of \"structure\", \"list\", "
       "\"integers\", \"reals\", \"rawtext\", \"identifier\", \"ref\", \"base64\", \"real\""},
      {head + "{\"structure\": [[\"a\", {\"tag\": \"<T>\", \"ref\": \"#a\"}]]}]}",
       "line 1, column 76: \"tag\" does not go with \"ref\""},
      {head + "{\"structure\": [[\"a\", {\"id\": \"#a\", \"list\": []}]]}]}",
       "line 1, column 73: \"id\" belongs to structures only"},
      {head + "{\"structure\": [[\"a\", {\"base64\": \"YWJj=\"}]]}]}",
       "line 1, column 67: \"base64\" takes a string in base64"},
      {head + "{\"structure\": [[\"a\", {\"reals\": [1.5, \"nan\"]}]]}]}",
       "line 1, column 70: a real array holds numbers and the texts \"NaN\", \"Infinity\", "
       "\"-Infinity\" or \"0x\" with 16 hex digits"},
      {head + "{\"structure\": [[\"a\", {\"integers\": [1, 2.0]}]]}]}",
       "line 1, column 70: an integer array holds integers only"},
      {head + "{\"structure\": [[\"a\", {\"reals\": [9007199254740993]}]]}]}",
       "line 1, column 77: integer 9007199254740993 in a real array has no exact real; write it "
       "as a real"},
      {head + "{\"structure\": [[\"a\", {\"mesh\": 1}]]}]}",
       "line 1, column 56: unknown member \"mesh\" (a value object has one of \"structure\", "
       "\"list\", \"integers\", \"reals\", \"rawtext\", \"identifier\", \"ref\", \"base64\", "
       "\"real\", and \"tag\", \"id\")"},
      {"{\"zrx\": 101, \"metadata\": [[\"a\", 1], [\"a\", 2]]}",
       "line 1, column 44: metadata key \"a\" is given twice"},
      {head + "{\"structure\": [[\"\\u00ff\\n" + std::string(50, 'k') + "\", {\"ref\": 1}]]}]}",
       "line 1, column 116: \"ref\" takes a text: a string or {\"base64\": \"...\"}"},
  };
  const std::string out = at("out.zrb");
  const std::string absent = at("absent.zrb");
  for (const auto& c : cases) {
    const std::string in = at("bad.json");
    writeBytes(in, c.json);
    writeBytes(out, "the previous document");
    for (const std::string& target : {out, absent}) {
      const zrtest::Outcome run = zrx({"convert", in, target});
      EXPECT_EQ(run.status, 1) << c.json;
      EXPECT_EQ(run.out, "") << c.json;
      EXPECT_EQ(run.err, in + ": " + c.message + "\n") << c.json;
    }
    EXPECT_EQ(readBytes(out), "the previous document") << c.json;
    EXPECT_FALSE(std::filesystem::exists(absent)) << c.json;
  }
  // `check` reports the same line.
  writeBytes(at("bad.json"), cases[0].json);
  const zrtest::Outcome check = zrx({"check", at("bad.json")});
  EXPECT_EQ(check.status, 1);
  EXPECT_EQ(check.err, at("bad.json") + ": " + cases[0].message + "\n");
}

// A UTF-8 byte order mark before the document is skipped, `info` says so, and nothing of it is
// written back; a mark anywhere else, a cut one, and text in another encoding are refused with
// one line.
TEST_F(ToolJsonTest, AByteOrderMarkIsSkippedAndOtherEncodingsAreRefused) {
  const std::string json =
      "{\"zrx\": 101, \"structures\": [{\"tag\": \"<A>\", \"structure\": []}]}";
  const std::string plain = at("plain.json");
  const std::string marked = at("marked.json");
  writeBytes(plain, json);
  writeBytes(marked, "\xef\xbb\xbf" + json);
  EXPECT_EQ(zrx({"check", marked}).out, marked + ": ok\n");
  EXPECT_NE(zrx({"info", marked})
                .out.find("  encoding:             UTF-8 (byte order mark "
                          "skipped)\n"),
            std::string::npos);
  EXPECT_NE(zrx({"info", plain}).out.find("  encoding:             UTF-8\n"), std::string::npos);
  EXPECT_EQ(zrx({"diff", marked, plain}).status, 0);
  ASSERT_EQ(zrx({"convert", marked, at("marked.out.json")}).status, 0);
  ASSERT_EQ(zrx({"convert", plain, at("plain.out.json")}).status, 0);
  EXPECT_EQ(readBytes(at("marked.out.json")), readBytes(at("plain.out.json")));

  const std::string notADocument = "not a ZRX document (neither ZRT text, ZRB binary nor JSON)";
  const auto otherEncoding = [](const char* name) {
    return std::string("not a ZRX document: text in ") + name +
           " (by its byte order mark); JSON is read as UTF-8 only";
  };
  const struct {
    std::string bytes, message;  // the message after "FILE: "
  } cases[] = {
      {"\xef\xbb" + json, notADocument},
      {"\xef\xbb\xbf\xef\xbb\xbf" + json, notADocument},
      {" \xef\xbb\xbf" + json, notADocument},
      {"{\xef\xbb\xbf\"zrx\": 101}",
       "line 1, column 2: syntax error while parsing object key - invalid literal; last read: "
       "'{\\xef'; expected string literal"},
      {std::string("\xff\xfe{\0\"\0", 6), otherEncoding("UTF-16LE")},
      {std::string("\xfe\xff\0{\0\"", 6), otherEncoding("UTF-16BE")},
      {std::string("\xff\xfe\0\0{\0\0\0", 8), otherEncoding("UTF-32LE")},
      {std::string("\0\0\xfe\xff\0\0\0{", 8), otherEncoding("UTF-32BE")},
  };
  const std::string in = at("in.json");
  for (const auto& c : cases) {
    writeBytes(in, c.bytes);
    const zrtest::Outcome run = zrx({"convert", in, at("out.zrb")});
    EXPECT_EQ(run.status, 1) << c.message;
    EXPECT_EQ(run.err, in + ": " + c.message + "\n");
  }
}

TEST_F(ToolJsonTest, CutBinaryDocumentsAreConvertedOrRefusedCleanly) {
  // The metadata order is read from the start of a ZRB file ahead of the library's reader: every
  // cut of a document, most inside its metadata block, must still convert or fail with the
  // reader's one message, under the sanitizers.
  const std::string whole = at("whole.zrb");
  writeZRB(whole, knownMetadata(), {knownStructures()[1]});
  const std::string bytes = readBytes(whole);
  const std::string cut = at("cut.zrb");
  int converted = 0;
  for (size_t size = 21; size < bytes.size(); ++size) {
    writeBytes(cut, bytes.substr(0, size));
    const zrtest::Outcome run = zrx({"convert", cut, at("cut.json")});
    EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
    if (run.status == 0) {
      ++converted;
      EXPECT_EQ(run.err, "");
    } else {
      EXPECT_EQ(run.status, 1) << size;
      EXPECT_EQ(run.err.rfind(cut + ": Error parsing binary file at offset ", 0), 0u) << run.err;
    }
  }
  EXPECT_EQ(converted, 2);  // the header alone, and the metadata block without what follows
}

TEST_F(ToolJsonTest, NestingUpToTheLimitConvertsAndBeyondIsRefused) {
  // 1000 levels (a top-level structure and 999 lists inside each other) go through JSON and back
  // unchanged; one level more in JSON is refused before anything is written.
  ref<ZRXStructure> root = new ZRXStructure("<Deep>");
  ref<zrX::ZRXList> inner = new zrX::ZRXList;
  *root << "down" << ZRXValue::makeList(inner.get());
  for (int level = 3; level <= 1000; ++level) {
    ref<zrX::ZRXList> next = new zrX::ZRXList;
    inner->value().push_back(ZRXValue::makeList(next.get()));
    inner = next;
  }
  inner->value().push_back(ZRXValue::makeInteger(7));
  const std::string zrb = at("deep.zrb");
  writeZRB(zrb, {}, {root});
  const std::string json = expectJsonRoundTrip(zrb, "deep");
  EXPECT_EQ(python(kStrictJson, {json}).status, 0);

  std::string deeper = "{\"zrx\": 101, \"structures\": [{\"structure\": [[\"down\", ";
  for (int level = 2; level <= 1001; ++level) deeper += "{\"list\": [";
  const std::string bad = at("deeper.json");
  writeBytes(bad, deeper + std::string(1000, ']') + "}]]}]}");
  const zrtest::Outcome run = zrx({"convert", bad, at("deeper.zrb")});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, bad + ": line 1, column " + std::to_string(deeper.size()) +
                         ": nesting deeper than 1000 levels of structures and lists\n");
  EXPECT_FALSE(std::filesystem::exists(at("deeper.zrb")));
}

}  // namespace

#endif  // ZRX_TOOL
