// Two-pass linking (Parser::link with VisitorLinkMapper and VisitorLinker) and the Parser base's
// metadata extraction.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/LogCapture.hpp"
#include "zrX/Parser.hpp"
#include "zrX/Value.hpp"
#include "zrX/VisitorLinker.hpp"

namespace {

using namespace zrX;
using zr::ref;
using Nodes = std::vector<ref<ZRXTaggedValue>>;

ref<ZRXStructure> makeStructure(const char* tag, const char* id = "#NULL") {
  ref<ZRXStructure> s(new ZRXStructure(tag));
  s->setID(id);
  return s;
}

// The value of the first entry under `key`.
const ZRXValue& entry(const ZRXStructure* s, const char* key) {
  for (const ZRXStructure::KeyValue& kv : s->value())
    if (kv.key() == key) return kv.value();
  ADD_FAILURE() << "no entry " << key;
  static const ZRXValue none;
  return none;
}

std::string duplicateMessage(const char* id, const char* second, const char* first) {
  return std::string("ID '") + id + "' used by '" + second +
         "' is already assigned to another node '" + first + "'!\n";
}
std::string unresolvedMessage(const char* id) {
  return std::string("Could not link ID '") + id + "' to anything!\n";
}

// Linking
// -------------------------------------------------------------------------------------------

TEST(Link, ReferencesResolveAcrossTopLevelStructuresInBothDirections) {
  zrtest::LogCapture log;
  ref<ZRXStructure> first = makeStructure("<First>", "#1");
  ref<ZRXStructure> second = makeStructure("<Second>", "#2");
  ref<ZRXStructure> third = makeStructure("<Third>");
  ref<ZRXStructure> nestedTarget = makeStructure("<Nested>", "#3");
  *first << "forward" << ZRXValue::makeID("#2") << "nested" << ZRXValue::makeID("#3") << "none"
         << ZRXValue::makeID("#NULL");
  *second << "inner" << ZRXValue::makeStructure(nestedTarget.get());
  *third << "back" << ZRXValue::makeID("#1") << "keep" << ZRXValue("#1", ZRXValue::String);

  EXPECT_TRUE(Parser::link(Nodes{first, second, third}));
  EXPECT_EQ(log.all(), "");
  EXPECT_EQ(entry(first.get(), "forward").getStructure(), second.get());
  EXPECT_EQ(entry(first.get(), "nested").getStructure(), nestedTarget.get());
  EXPECT_EQ(entry(third.get(), "back").getStructure(), first.get());
  // "#NULL" names no structure: a Structure value without a node, silently.
  EXPECT_EQ(entry(first.get(), "none").type(), ZRXValue::Structure);
  EXPECT_EQ(entry(first.get(), "none").getStructure(), nullptr);
  EXPECT_EQ(entry(third.get(), "keep").getString(), "#1");
  EXPECT_EQ(second->referenceCount(), 2);  // its top-level holder and the linked value
}

TEST(Link, IDValuesInListsAndListsOfListsAreLinkedAndRawTextAndArraysUntouched) {
  ref<ZRXStructure> target = makeStructure("<Target>", "#t");
  ref<ZRXStructure> root = makeStructure("<Root>");
  ref<ZRXList> outer(new ZRXList()), inner(new ZRXList());
  inner->value() = {ZRXValue::makeID("#t"), ZRXValue(5)};
  outer->value() = {ZRXValue::makeID("#t"), ZRXValue::makeList(inner.get())};
  ref<ZRXRawtextBlock> raw(new ZRXRawtextBlock(nullptr, "#t"));
  ref<ZRXArrayInteger> integers(new ZRXArrayInteger());
  integers->value() = {1, 2};
  ZRXValue rawValue, arrayValue;
  rawValue.setRawtextBlock(raw.get());
  arrayValue.setArrayInteger(integers.get());
  *root << "lists" << ZRXValue::makeList(outer.get()) << "raw" << rawValue << "ints" << arrayValue;

  EXPECT_TRUE(Parser::link(Nodes{root, target}));
  EXPECT_EQ(outer->value()[0].getStructure(), target.get());
  EXPECT_EQ(inner->value()[0].getStructure(), target.get());
  EXPECT_EQ(inner->value()[1].getInteger(), 5);
  EXPECT_EQ(raw->value(), "#t");
  EXPECT_EQ(integers->value(), (std::vector<int64_t>{1, 2}));
}

TEST(Link, AnUnresolvedIDFailsButEveryOtherReferenceIsLinked) {
  zrtest::LogCapture log;
  ref<ZRXStructure> target = makeStructure("<Target>", "#t");
  ref<ZRXStructure> root = makeStructure("<Root>");
  *root << "missing" << ZRXValue::makeID("#nope") << "good" << ZRXValue::makeID("#t") << "missing2"
        << ZRXValue::makeID("#gone");
  EXPECT_FALSE(Parser::link(Nodes{root, target}));
  EXPECT_EQ(log.errors(),
            (std::vector<std::string>{unresolvedMessage("#nope"), unresolvedMessage("#gone")}));
  EXPECT_EQ(entry(root.get(), "good").getStructure(), target.get());
  EXPECT_EQ(entry(root.get(), "missing").type(), ZRXValue::Structure);
  EXPECT_EQ(entry(root.get(), "missing").getStructure(), nullptr);
}

TEST(Link, ADuplicateIDFailsAndLinksNothing) {
  zrtest::LogCapture log;
  ref<ZRXStructure> first = makeStructure("<First>", "#d");
  ref<ZRXStructure> second = makeStructure("<Second>", "#d");
  ref<ZRXStructure> third = makeStructure("<Third>", "#d");
  ref<ZRXStructure> other = makeStructure("<Other>", "#o");
  *first << "ref" << ZRXValue::makeID("#o");
  *second << "ref" << ZRXValue::makeID("#d");
  EXPECT_FALSE(Parser::link(Nodes{first, second, other, third}));
  EXPECT_EQ(log.errors(), (std::vector<std::string>{duplicateMessage("#d", "<Second>", "<First>"),
                                                    duplicateMessage("#d", "<Third>", "<First>")}));
  EXPECT_EQ(entry(first.get(), "ref").getID(), "#o");
  EXPECT_EQ(entry(second.get(), "ref").getID(), "#d");
}

// IDs and tags in the messages are shown escaped: a file cannot forge a line or a terminal
// sequence through them.
TEST(Link, MessagesShowIDsAndTagsEscaped) {
  zrtest::LogCapture log;
  ref<ZRXStructure> root = makeStructure("<Root>");
  *root << "r" << ZRXValue::makeID("#a\nescape.zrb: ok\x1b[31m");
  EXPECT_FALSE(Parser::link(Nodes{root}));
  EXPECT_EQ(log.errors(),
            std::vector<std::string>{unresolvedMessage("#a\\nescape.zrb: ok\\x1b[31m")});

  log.clear();
  ref<ZRXStructure> first = makeStructure("<A\rB>", "#i\td");
  ref<ZRXStructure> second = makeStructure("<C'>", "#i\td");
  EXPECT_FALSE(Parser::link(Nodes{first, second}));
  EXPECT_EQ(log.errors(),
            std::vector<std::string>{duplicateMessage("#i\\td", "<C\\'>", "<A\\rB>")});
}

// One document with many bad IDs logs the first hundred of each kind and one line for the rest;
// the link still fails.
TEST(Link, ManyFailuresOfOneKindLogAHundredAndACount) {
  zrtest::LogCapture log;
  ref<ZRXStructure> root = makeStructure("<Root>");
  for (int i = 0; i < 250; ++i) *root << "r" << ZRXValue::makeID("#missing" + std::to_string(i));
  EXPECT_FALSE(Parser::link(Nodes{root}));
  ASSERT_EQ(log.errors().size(), 101u);
  EXPECT_EQ(log.errors()[99], unresolvedMessage("#missing99"));
  EXPECT_EQ(log.errors()[100],
            "150 more IDs that could not be linked to anything were not listed.\n");
  EXPECT_EQ(entry(root.get(), "r").type(), ZRXValue::Structure);

  log.clear();
  Nodes twins;
  for (int i = 0; i < 102; ++i) twins.push_back(makeStructure("<Twin>", "#same"));
  EXPECT_FALSE(Parser::link(twins));
  ASSERT_EQ(log.errors().size(), 101u);
  EXPECT_EQ(log.errors()[0], duplicateMessage("#same", "<Twin>", "<Twin>"));
  EXPECT_EQ(log.errors()[100], "1 more IDs already assigned to another node were not listed.\n");

  // Exactly the limit: no count line.
  log.clear();
  ref<ZRXStructure> hundred = makeStructure("<Root>");
  for (int i = 0; i < 100; ++i) *hundred << "r" << ZRXValue::makeID("#m" + std::to_string(i));
  EXPECT_FALSE(Parser::link(Nodes{hundred}));
  EXPECT_EQ(log.errors().size(), 100u);
}

TEST(Link, AStructureReachedAlongTwoPathsIsNotADuplicate) {
  zrtest::LogCapture log;
  ref<ZRXStructure> shared = makeStructure("<Shared>", "#s");
  ref<ZRXStructure> a = makeStructure("<A>");
  ref<ZRXStructure> b = makeStructure("<B>");
  *a << "s" << ZRXValue::makeStructure(shared.get());
  *b << "s" << ZRXValue::makeStructure(shared.get()) << "ref" << ZRXValue::makeID("#s");
  EXPECT_TRUE(Parser::link(Nodes{a, b, shared}));
  EXPECT_EQ(log.all(), "");
  EXPECT_EQ(entry(b.get(), "ref").getStructure(), shared.get());
}

TEST(Link, EmptyAndNullIDs) {
  struct Case {
    const char* name;
    std::vector<const char*> structureIDs;  // of top-level structures <S0>, <S1>, ...
    const char* reference;                  // an ID value in an extra structure
    bool linked;
    std::vector<std::string> errors;
  };
  const Case cases[] = {
      {"two #NULL structures are no duplicates", {"#NULL", "#NULL"}, "#NULL", true, {}},
      {"two empty IDs are duplicates",
       {"", ""},
       "#NULL",
       false,
       {duplicateMessage("", "<S1>", "<S0>")}},
      {"an empty ID value resolves to the empty-ID structure", {"", "#NULL"}, "", true, {}},
      {"an empty ID value with no such structure is unresolved",
       {"#NULL"},
       "",
       false,
       {unresolvedMessage("")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    zrtest::LogCapture log;
    Nodes nodes;
    std::vector<ref<ZRXStructure>> structures;
    for (size_t i = 0; i < c.structureIDs.size(); ++i) {
      structures.push_back(
          makeStructure(("<S" + std::to_string(i) + ">").c_str(), c.structureIDs[i]));
      nodes.push_back(structures.back());
    }
    ref<ZRXStructure> referrer = makeStructure("<Referrer>");
    *referrer << "ref" << ZRXValue::makeID(c.reference);
    nodes.push_back(referrer);
    EXPECT_EQ(Parser::link(nodes), c.linked);
    EXPECT_EQ(log.errors(), c.errors);
    if (c.linked && *c.reference == '\0') {
      EXPECT_EQ(entry(referrer.get(), "ref").getStructure(), structures[0].get());
    }
  }
}

TEST(Link, AListReachedTwiceWarnsInBothPasses) {
  zrtest::LogCapture log;
  ref<ZRXStructure> target = makeStructure("<Target>", "#t");
  ref<ZRXStructure> root = makeStructure("<Root>");
  ref<ZRXList> list(new ZRXList());
  list->value() = {ZRXValue::makeID("#t")};
  *root << "a" << ZRXValue::makeList(list.get()) << "b" << ZRXValue::makeList(list.get());
  EXPECT_TRUE(Parser::link(Nodes{root, target}));
  EXPECT_EQ(log.warnings(),
            (std::vector<std::string>{"VisitorLinkMapper: cycle detected on ZRXList.\n",
                                      "VisitorLinker: cycle detected on ZRXList.\n"}));
  EXPECT_EQ(list->value()[0].getStructure(), target.get());
}

TEST(Link, ABackReferenceMakesACycleThatTheWalkSurvives) {
  ref<ZRXStructure> root = makeStructure("<Root>", "#r");
  ref<ZRXStructure> child = makeStructure("<Child>");
  *root << "child" << ZRXValue::makeStructure(child.get());
  *child << "parent" << ZRXValue::makeID("#r");
  EXPECT_TRUE(Parser::link(Nodes{root}));
  EXPECT_EQ(entry(child.get(), "parent").getStructure(), root.get());
  // Linking again walks the cycle without looping and changes nothing.
  EXPECT_TRUE(Parser::link(Nodes{root}));
  child->value().clear();  // break the cycle
}

TEST(Link, NestingBeyondTheLimitFailsWithOneMessage) {
  zrtest::LogCapture log;
  // Root > Middle > many siblings: each sibling lies beyond a limit of 2 levels.
  ref<ZRXStructure> root = makeStructure("<Root>");
  ref<ZRXStructure> middle = makeStructure("<Middle>");
  *root << "m" << ZRXValue::makeStructure(middle.get());
  for (int i = 0; i < 5; ++i)
    *middle << "deep" << ZRXValue::makeStructure(makeStructure("<Deep>").get());
  EXPECT_FALSE(Parser::link(Nodes{root}, 2));
  ASSERT_EQ(log.errors().size(), 1u) << log.all();
  EXPECT_NE(log.errors()[0].find("VisitorLinkMapper"), std::string::npos) << log.errors()[0];
  EXPECT_NE(log.errors()[0].find("<Deep>"), std::string::npos) << log.errors()[0];
  EXPECT_TRUE(Parser::link(Nodes{root}, 3));
}

TEST(Link, NothingToLinkSucceeds) {
  EXPECT_TRUE(Parser::link(Nodes{}));
  LinkMap map;
  VisitorLinker linker(&map);
  EXPECT_EQ(linker.link("#NULL"), nullptr);
  EXPECT_EQ(linker.error(), 0);
}

TEST(LinkDeathTest, ALinkerWithoutAMapFailsTheCheck) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  VisitorLinker linker(nullptr);
  EXPECT_DEATH(linker.link("#1"), "Check failed: mLinkMap");
}

// Parser base
// ---------------------------------------------------------------------------------------

// A parser whose document is the list of structures it is given.
class GivenParser : public Parser {
 public:
  explicit GivenParser(std::vector<ref<ZRXStructure>> document) : mDocument(std::move(document)) {}

  bool parseHeader() override {
    mVersion = kFormatVersion;
    mEncoding = "ascii";
    return true;
  }
  bool parse() override {
    mMetadata.clear();
    if (!parseHeader()) return false;
    for (ref<ZRXStructure>& s : mDocument) mStructures.push_back(std::move(s));
    mDocument.clear();
    parseMetadata();
    return true;
  }

 private:
  std::vector<ref<ZRXStructure>> mDocument;
};

ref<ZRXStructure> metadataStructure(const char* tag,
                                    std::vector<std::pair<const char*, ZRXValue>> entries) {
  ref<ZRXStructure> s = makeStructure(tag);
  for (auto& [key, value] : entries) *s << key << value;
  return s;
}

std::vector<std::string> tagsOf(const std::vector<ref<ZRXStructure>>& structures) {
  std::vector<std::string> tags;
  for (const ref<ZRXStructure>& s : structures) tags.push_back(s->tag());
  return tags;
}

TEST(ParserBase, AMetadataOnlyDocumentLeavesNoStructures) {
  ref<GivenParser> parser(new GivenParser(
      {metadataStructure("<Metadata>", {{"Authoring_Tool", ZRXValue("zrx", ZRXValue::String)},
                                        {"ZR_Serializer_Version", ZRXValue(101)}})}));
  EXPECT_TRUE(parser->parse());
  EXPECT_EQ(parser->version(), kFormatVersion);
  EXPECT_EQ(parser->encoding(), "ascii");
  EXPECT_TRUE(parser->structures().empty());
  ASSERT_EQ(parser->metadata().size(), 2u);
  EXPECT_EQ(parser->metadata().at("Authoring_Tool").getString(), "zrx");
  EXPECT_EQ(parser->metadata().at("ZR_Serializer_Version").getInteger(), 101);
  EXPECT_TRUE(parser->link());  // nothing left to link
}

TEST(ParserBase, MetadataStructuresAreMergedInOrderAndOthersStay) {
  ref<ZRXList> thumbnail(new ZRXList("<Thumb>"));
  ref<GivenParser> parser(new GivenParser({
      makeStructure("<Scene>"),
      metadataStructure("<Metadata>", {{"a", ZRXValue(1)}, {"b", ZRXValue(2)}, {"a", ZRXValue(3)}}),
      metadataStructure("<Metadata>",
                        {{"b", ZRXValue(4)}, {"thumb", ZRXValue::makeList(thumbnail.get())}}),
      makeStructure("<metadata>"),
      makeStructure("Metadata"),
      makeStructure("<METADATA>"),
      metadataStructure("<Metadata>", {{"c", ZRXValue(5)}}),
      makeStructure("<Other>"),
  }));
  ASSERT_TRUE(parser->parse());
  EXPECT_EQ(
      tagsOf(parser->structures()),
      (std::vector<std::string>{"<Scene>", "<metadata>", "Metadata", "<METADATA>", "<Other>"}));
  const MetadataMap& metadata = parser->metadata();
  ASSERT_EQ(metadata.size(), 4u);
  EXPECT_EQ(metadata.at("a").getInteger(), 3);
  EXPECT_EQ(metadata.at("b").getInteger(), 4);
  EXPECT_EQ(metadata.at("c").getInteger(), 5);
  // The metadata value keeps its node alive after the metadata structures are gone.
  EXPECT_EQ(metadata.at("thumb").getList(), thumbnail.get());
  EXPECT_EQ(thumbnail->referenceCount(), 2);

  // A second extraction finds no metadata structure left.
  parser->parseMetadata();
  EXPECT_TRUE(parser->metadata().empty());
  EXPECT_EQ(parser->structures().size(), 5u);
}

TEST(ParserBase, MetadataIsNotLinked) {
  ref<ZRXStructure> root = makeStructure("<Root>", "#r");
  *root << "self" << ZRXValue::makeID("#r");
  ref<ZRXStructure> metadata = makeStructure("<Metadata>", "#m");
  *metadata << "root" << ZRXValue::makeID("#r");
  ref<ZRXStructure> referrer = makeStructure("<Referrer>");
  *referrer << "meta" << ZRXValue::makeID("#m");
  zrtest::LogCapture log;
  ref<GivenParser> parser(new GivenParser({metadata, root, referrer}));
  ASSERT_TRUE(parser->parse());
  EXPECT_FALSE(parser->link());  // "#m" was removed with the metadata
  EXPECT_EQ(log.errors(), std::vector<std::string>{unresolvedMessage("#m")});
  EXPECT_EQ(parser->metadata().at("root").getID(), "#r");
  EXPECT_EQ(entry(root.get(), "self").getStructure(), root.get());
  root->value().clear();  // break the cycle
}

}  // namespace
