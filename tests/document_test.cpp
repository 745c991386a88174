// Documents at the tree level: format detection, readDocument with and without linking,
// writeDocument and writeStructures (metadata first, refusals before the file is opened), and
// the release of linked trees with cycles.
#include "zrX/Document.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/DocumentText.hpp"
#include "support/FaultyFile.hpp"
#include "support/LogCapture.hpp"
#include "support/TempFolder.hpp"
#include "support/TreeCompare.hpp"
#include "support/TreeGen.hpp"
#include "zrX/Cycles.hpp"
#include "zrX/Parser.hpp"
#include "zrX/ParserZRT.hpp"

namespace {

using zr::ref;
using zrX::Document;
using zrX::Format;
using zrX::ReadStatus;
using zrX::WriteStatus;
using zrX::ZRXList;
using zrX::ZRXStructure;
using zrX::ZRXValue;
using Errors = std::vector<std::string>;

const std::string kMagic(
    "\xAB"
    "ZRX\xBB\r\n\x1A\n",
    9);

ref<zr::MemoryFile> fileWith(const std::string& bytes, const char* path = "memory") {
  return new zr::MemoryFile(std::vector<uint8_t>(bytes.begin(), bytes.end()), path);
}

// Hands out at most one byte per read, as a pipe or a slow device may.
class TrickleFile : public zr::MemoryFile {
 public:
  using zr::MemoryFile::MemoryFile;
  // Read piece by piece: the readers must not see the bytes in place.
  const uint8_t* contentInMemory() const override { return nullptr; }
  int64_t read(void* data, int64_t count) override {
    return zr::MemoryFile::read(data, std::min<int64_t>(count, 1));
  }
};

ZRXValue structureValue(ZRXStructure* structure) {
  ZRXValue value;
  value.setStructure(structure);
  return value;
}

// Metadata, then "<A>" (ID "#a") holding a child that names "#a" back, then "<B>" naming "#a".
const char* const kLinkedText =
    "ZRX version=101 encoding=ascii\n"
    "<Metadata> {\n\tOwner = \"me\"\n\tZR_Serializer_Version = 101\n}\n"
    "<A> {\n\tID = #a\n\tvalues = (1 2 3)\n\tchild = <Child> {\n\t\tup = #a\n\t}\n}\n"
    "<B> {\n\tref = #a\n}\n";

// The same document in `format`, read from the text without linking and written again.
ref<zr::MemoryFile> linkedDocument(Format format) {
  ref<zr::MemoryFile> text = fileWith(kLinkedText);
  if (format == Format::ZRT) return text;
  Document document;
  zrX::ReadOptions options;
  options.link = false;
  EXPECT_EQ(zrX::readDocument(text.get(), Format::ZRT, document, options), ReadStatus::Ok);
  ref<zr::MemoryFile> binary = new zr::MemoryFile;
  EXPECT_TRUE(zrX::writeDocument(binary.get(), Format::ZRB, document).ok());
  return binary;
}

// --- Detection ---

TEST(Document, DetectFormatFromTheFirstBytes) {
  const struct {
    std::string bytes;
    Format expected;
  } cases[] = {
      {"ZRX version=101 encoding=ascii\n", Format::ZRT},
      {"ZRX version=", Format::ZRT},
      {"ZRX version=anything at all \x01\xff", Format::ZRT},
      {"ZRX version", Format::Unknown},
      {"ZRX version 101", Format::Unknown},
      {"zrx version=101", Format::Unknown},
      {kMagic, Format::ZRB},
      {kMagic + std::string("\x65\x00"
                            "ascii",
                            7),
       Format::ZRB},
      {kMagic.substr(0, 8), Format::Unknown},
      {kMagic.substr(0, 8) + "\x0B", Format::Unknown},
      {"", Format::Unknown},
      {std::string(16, '\0'), Format::Unknown},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(zrtest::printable(c.bytes));
    ref<zr::MemoryFile> file = fileWith(c.bytes);
    EXPECT_EQ(zrX::detectFormat(file.get()), c.expected);
    EXPECT_FALSE(file->isOpen());
    ref<TrickleFile> trickle =
        new TrickleFile(std::vector<uint8_t>(c.bytes.begin(), c.bytes.end()));
    EXPECT_EQ(zrX::detectFormat(trickle.get()), c.expected);
  }
  EXPECT_EQ(zrX::detectFormat(nullptr), Format::Unknown);

  // A file open before the call, part of the way in, is read from its start and left closed.
  ref<zr::MemoryFile> open = fileWith(kMagic);
  ASSERT_TRUE(open->open(zr::VirtualFile::ReadOnly));
  char skipped[3];
  ASSERT_EQ(open->read(skipped, 3), 3);
  EXPECT_EQ(zrX::detectFormat(open.get()), Format::ZRB);
  EXPECT_FALSE(open->isOpen());
}

TEST(Document, FormatFromExtensionAndName) {
  const struct {
    const char* path;
    Format expected;
  } cases[] = {
      {"scene.zrt", Format::ZRT},      {"dir.zrb/scene.ZRT", Format::ZRT},
      {"a.Zrb", Format::ZRB},          {".zrb", Format::ZRB},
      {"scene.zrtx", Format::Unknown}, {"zrt", Format::Unknown},
      {"scene_zrt", Format::Unknown},  {"", Format::Unknown},
      {"scene.txt", Format::Unknown},
  };
  for (const auto& c : cases) EXPECT_EQ(zrX::formatFromExtension(c.path), c.expected) << c.path;
  EXPECT_STREQ(zrX::formatName(Format::ZRT), "ZRT");
  EXPECT_STREQ(zrX::formatName(Format::ZRB), "ZRB");
  EXPECT_STREQ(zrX::formatName(Format::Unknown), "unknown");
}

// --- Reading ---

class DocumentFormatTest : public ::testing::TestWithParam<Format> {
 protected:
  Format format() const { return GetParam(); }
  zrtest::LogCapture log;
};

INSTANTIATE_TEST_SUITE_P(Formats, DocumentFormatTest, ::testing::Values(Format::ZRT, Format::ZRB),
                         [](const ::testing::TestParamInfo<Format>& info) {
                           return std::string(zrX::formatName(info.param));
                         });

TEST_P(DocumentFormatTest, ReadsWithAndWithoutLinking) {
  ref<zr::MemoryFile> file = linkedDocument(format());
  for (bool link : {false, true}) {
    SCOPED_TRACE(link ? "linked" : "unlinked");
    Document document;
    zrX::ReadOptions options;
    options.link = link;
    ASSERT_EQ(zrX::readDocument(file.get(), format(), document, options), ReadStatus::Ok);
    EXPECT_FALSE(file->isOpen());
    EXPECT_EQ(document.version(), 101);
    EXPECT_EQ(document.encoding(), "ascii");
    ASSERT_EQ(document.metadata().size(), 2u);
    EXPECT_EQ(document.metadata().at("Owner").getString(), "me");
    ASSERT_EQ(document.structures().size(), 2u);
    ZRXStructure* a = document.structures()[0].get();
    ZRXStructure* b = document.structures()[1].get();
    EXPECT_EQ(a->tag(), "<A>");
    const ZRXValue& named = b->value().at(0).value();
    const ZRXValue& up = a->value().at(1).value().getStructure()->value().at(0).value();
    if (link) {
      ASSERT_EQ(named.type(), ZRXValue::Structure);
      EXPECT_EQ(named.getStructure(), a);
      ASSERT_EQ(up.type(), ZRXValue::Structure);
      EXPECT_EQ(up.getStructure(), a);  // a cycle, freed with the document
    } else {
      ASSERT_EQ(named.type(), ZRXValue::ID);
      EXPECT_EQ(named.getID(), "#a");
      ASSERT_EQ(up.type(), ZRXValue::ID);
    }
  }
  EXPECT_TRUE(log.entries().empty()) << log.all();
}

TEST_P(DocumentFormatTest, ReadingAppendsStructuresAndReplacesMetadata) {
  ref<zr::MemoryFile> file = linkedDocument(format());
  Document document;
  document.metadata()["stale"] = ZRXValue(int64_t{1});
  ASSERT_EQ(zrX::readDocument(file.get(), format(), document), ReadStatus::Ok);
  ASSERT_EQ(zrX::readDocument(file.get(), format(), document), ReadStatus::Ok);
  ASSERT_EQ(document.structures().size(), 4u);
  EXPECT_EQ(document.metadata().count("stale"), 0u);
  // Each read links its own structures: the second <B> names the second <A>.
  EXPECT_EQ(document.structures()[3]->value().at(0).value().getStructure(),
            document.structures()[2].get());
}

TEST_P(DocumentFormatTest, ParseAndLinkFailures) {
  // A parse failure: the metadata stays as it was.
  const std::string header = format() == Format::ZRT ? "ZRX version=101 encoding=ascii\n<A> {"
                                                     : kMagic + std::string(
                                                                    "\x65\x00"
                                                                    "asc",
                                                                    5);
  Document broken;
  broken.metadata()["mine"] = ZRXValue(int64_t{1});
  EXPECT_EQ(zrX::readDocument(fileWith(header).get(), format(), broken), ReadStatus::ParseError);
  EXPECT_EQ(broken.metadata().count("mine"), 1u);
  EXPECT_FALSE(log.errors().empty());

  // A link failure: structures and metadata are there, the messages logged.
  log.clear();
  std::string text = kLinkedText;
  text.replace(text.find("ref = #a"), 8, "ref = #nowhere");
  ref<zr::MemoryFile> file = fileWith(text);
  if (format() == Format::ZRB) {
    Document unlinked;
    zrX::ReadOptions options;
    options.link = false;
    ASSERT_EQ(zrX::readDocument(file.get(), Format::ZRT, unlinked, options), ReadStatus::Ok);
    file = new zr::MemoryFile;
    ASSERT_TRUE(zrX::writeDocument(file.get(), Format::ZRB, unlinked).ok());
  }
  Document document;
  EXPECT_EQ(zrX::readDocument(file.get(), format(), document), ReadStatus::LinkError);
  EXPECT_EQ(document.structures().size(), 2u);
  EXPECT_EQ(document.metadata().count("Owner"), 1u);
  ASSERT_EQ(log.errors().size(), 1u);
  EXPECT_NE(log.errors()[0].find("#nowhere"), std::string::npos) << log.errors()[0];
}

TEST(Document, ReadingAnUnknownFormatFails) {
  zrtest::LogCapture log;
  ref<zr::MemoryFile> file = fileWith("ZRX version=101 encoding=ascii\n", "notes.txt");
  Document document;
  EXPECT_EQ(zrX::readDocument(file.get(), Format::Unknown, document), ReadStatus::ParseError);
  EXPECT_EQ(log.errors(), (Errors{"'notes.txt' is neither a ZRT nor a ZRB document.\n"}));
  EXPECT_TRUE(document.structures().empty());
}

// --- Writing ---

TEST_P(DocumentFormatTest, WriteDocumentPutsTheMetadataFirst) {
  Document document;
  ref<ZRXStructure> first = new ZRXStructure("<First>");
  *first << "x" << ZRXValue(int64_t{1});
  ref<ZRXStructure> second = new ZRXStructure("<Second>");
  second->setID("#second");
  *first << "next" << ZRXValue("#second", ZRXValue::ID);
  document.structures() = {first, second};
  document.metadata()["beta_key"] = ZRXValue(int64_t{2});
  document.metadata()["alpha_key"].setString("one");

  ref<zr::MemoryFile> file = new zr::MemoryFile;
  ASSERT_TRUE(zrX::writeDocument(file.get(), format(), document).ok());
  EXPECT_FALSE(file->isOpen());
  const std::string bytes = file->text();
  const size_t metadata = bytes.find("<Metadata>");
  ASSERT_NE(metadata, std::string::npos);
  EXPECT_LT(metadata, bytes.find("<First>"));
  EXPECT_LT(metadata, bytes.find("alpha_key"));
  EXPECT_LT(bytes.find("alpha_key"), bytes.find("beta_key"));
  EXPECT_LT(bytes.find("beta_key"), bytes.find("<First>"));

  Document read;
  zrX::ReadOptions unlinked;
  unlinked.link = false;
  ASSERT_EQ(zrX::readDocument(file.get(), format(), read, unlinked), ReadStatus::Ok);
  ASSERT_EQ(read.metadata().size(), 2u);
  EXPECT_EQ(read.metadata().at("alpha_key").getString(), "one");
  EXPECT_EQ(read.metadata().at("beta_key").getInteger(), 2);
  zrtest::CompareOptions options;
  options.ids = zrtest::CompareOptions::IDs::Referenced;
  EXPECT_TRUE(zrtest::sameDocument(document.structures(), read.structures(), options));

  // Without metadata there is no metadata structure.
  document.metadata().clear();
  ASSERT_TRUE(zrX::writeDocument(file.get(), format(), document).ok());
  EXPECT_EQ(file->text().find("<Metadata>"), std::string::npos);
}

// What no format can hold is refused before the file is opened: its content stays.
TEST_P(DocumentFormatTest, RefusedTreesLeaveTheFileUntouched) {
  ref<ZRXStructure> inner = new ZRXStructure("<Inner>");
  inner->setID("#inner");
  ref<ZRXStructure> outer = new ZRXStructure("<Outer>");
  *outer << "inner" << structureValue(inner.get());
  ref<ZRXList> list = new ZRXList;
  ZRXValue listValue;
  listValue.setList(list.get());
  ref<ZRXStructure> twice = new ZRXStructure("<Twice>");
  *twice << "a" << listValue << "b" << listValue;

  const struct {
    const char* what;
    std::vector<ref<ZRXStructure>> topLevel;
    const char* message;
  } cases[] = {
      {"given twice",
       {outer, outer},
       "VisitorIDCounter: top-level structure '<Outer>' is reached before; it cannot stand at "
       "the top level again."},
      {"inside an earlier one",
       {outer, inner},
       "VisitorIDCounter: top-level structure '<Inner>' is reached before; it cannot stand at "
       "the top level again."},
      {"list reached twice",
       {twice},
       "VisitorIDCounter: untagged list is reached a second time at /<Twice>/b; a list can stand "
       "in one place only."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ref<zr::MemoryFile> file = fileWith("old");
    const zrX::WriteResult result = zrX::writeStructures(file.get(), format(), c.topLevel);
    EXPECT_EQ(result.status, WriteStatus::Refused);
    EXPECT_EQ(result.message, c.message);
    EXPECT_EQ(file->text(), "old");
  }
  ref<zr::MemoryFile> file = fileWith("old");
  EXPECT_EQ(zrX::writeStructures(file.get(), Format::Unknown, {outer}).status,
            WriteStatus::Refused);
  EXPECT_EQ(file->text(), "old");
  // Placed at the top level before its owner, the inner structure is written there and referenced
  // from the owner.
  EXPECT_TRUE(zrX::writeStructures(file.get(), format(), {inner, outer}).ok());
}

// Among many IDs, the refusal names the first structure (in the order of the walk) whose ID an
// earlier one carried, and that earlier one; further clashes do not replace it.
TEST_P(DocumentFormatTest, ADuplicateIDAmongManyNamesTheFirstClash) {
  ref<ZRXStructure> root = new ZRXStructure("<Root>");
  ZRXList* list = new ZRXList;
  ZRXValue listValue;
  listValue.setList(list);
  *root << "items" << listValue;
  const auto idOf = [](int i) {
    if (i == 700) return std::string("#id300");  // the first clash, with 300
    if (i == 900) return std::string("#id5");    // a later clash, with an earlier carrier
    return "#id" + std::to_string(i);
  };
  for (int i = 0; i < 2000; ++i) {
    ref<ZRXStructure> item = new ZRXStructure(i == 300   ? "<Earlier>"
                                              : i == 700 ? "<Later>"
                                                         : "<Item>");
    item->setID(idOf(i).c_str());
    list->value().push_back(structureValue(item.get()));
  }
  ref<zr::MemoryFile> file = fileWith("old");
  const zrX::WriteResult result = zrX::writeStructures(file.get(), format(), {root});
  EXPECT_EQ(result.status, WriteStatus::Refused);
  EXPECT_EQ(result.message,
            "VisitorIDCounter: structures '<Earlier>' and '<Later>' carry the same ID '#id300'; an "
            "ID can name one structure only.");
  EXPECT_EQ(file->text(), "old");
}

// A refusal names the place the way `zrx diff` does: top-level structures by tag (numbered when the
// tag repeats, the metadata aside), entries by key ("@2" for a repeated one), list elements by
// index; a deep place keeps its first and last segments.
TEST_P(DocumentFormatTest, RefusalsNameThePlaceInTheToolsPathSyntax) {
  const auto repeat = [](const char* text, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += text;
    return out;
  };
  const auto shared = [] {
    ZRXValue value;
    value.setList(new ZRXList("<L>"));
    return value;
  };
  const auto holding = [](const char* tag, std::vector<std::pair<const char*, ZRXValue>> entries) {
    ref<ZRXStructure> st = new ZRXStructure(tag);
    for (auto& [key, value] : entries) *st << key << value;
    return st;
  };
  const ZRXValue twice = shared();
  ref<ZRXStructure> listed = new ZRXStructure("<In>");
  ZRXValue list;
  list.setList(new ZRXList)->value() = {ZRXValue(int64_t{1}), twice, twice};
  *listed << "items" << list;
  ref<ZRXStructure> deep = new ZRXStructure("<D>");
  ZRXStructure* at = deep.get();
  for (int i = 0; i < 40; ++i) {
    ZRXStructure* child = new ZRXStructure;
    *at << "c" << structureValue(child);  // the value holds it
    at = child;
  }
  const ZRXValue again = shared();
  *at << "x" << again << "y" << again;

  const struct {
    const char* what;
    std::vector<ref<ZRXStructure>> topLevel;
    std::string place;
  } cases[] = {
      {"repeated key", {holding("<A>", {{"k", twice}, {"k", twice}})}, "/<A>/k@2"},
      {"repeated top-level tag",
       {holding("<Metadata>", {}), holding("<S>", {}),
        holding("<S>", {{"a", twice}, {"b", twice}})},
       "/<S>[1]/b"},
      {"list element", {listed}, "/<In>/items[2]"},
      {"deep", {deep}, "/<D>" + repeat("/c", 7) + "/..." + repeat("/c", 15) + "/y"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ref<zr::MemoryFile> file = fileWith("old");
    const zrX::WriteResult result = zrX::writeStructures(file.get(), format(), c.topLevel);
    EXPECT_EQ(result.status, WriteStatus::Refused);
    EXPECT_NE(result.message.find(" is reached a second time at " + c.place + ";"),
              std::string::npos)
        << result.message;
  }
}

TEST_P(DocumentFormatTest, ShortWritesAreWriteErrors) {
  ref<ZRXStructure> root = new ZRXStructure("<Root>");
  *root << "text" << ZRXValue("some text to write", ZRXValue::String);
  for (int64_t limit : {0, 10, 25}) {
    ref<zrtest::FaultyFile> file = new zrtest::FaultyFile(limit);
    const zrX::WriteResult result = zrX::writeStructures(file.get(), format(), {root});
    EXPECT_EQ(result.status, WriteStatus::WriteError) << limit;
    EXPECT_FALSE(result.message.empty());
    EXPECT_FALSE(file->isOpen());
  }
}

// --- Round trips and release ---

TEST_P(DocumentFormatTest, GeneratedDocumentsRoundTripLinked) {
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    zrtest::TreeGenOptions options;
    if (format() == Format::ZRT) options = zrtest::TreeGenOptions::textSafe(seed);
    options.seed = seed;
    options.topLevelStructures = 1 + static_cast<int>(seed % 3);
    Document expected;
    expected.structures() = zrtest::generateDocument(options);
    expected.metadata()["seed"] = ZRXValue(static_cast<int64_t>(seed));
    const std::string nulKey("nul\0key", 7);  // binary keys are kept whole
    if (format() == Format::ZRB) expected.metadata()[nulKey] = ZRXValue(int64_t{1});

    ref<zr::MemoryFile> file = new zr::MemoryFile;
    const zrX::WriteResult written = zrX::writeDocument(file.get(), format(), expected);
    ASSERT_TRUE(written.ok()) << "seed " << seed << ": " << written.message;
    std::vector<ref<zrX::ZRXTaggedValue>> nodes(expected.structures().begin(),
                                                expected.structures().end());
    ASSERT_TRUE(zrX::Parser::link(nodes));
    nodes.clear();

    Document read;
    ASSERT_EQ(zrX::readDocument(file.get(), format(), read), ReadStatus::Ok) << "seed " << seed;
    zrtest::CompareOptions compare;
    if (format() == Format::ZRT) compare.ids = zrtest::CompareOptions::IDs::Referenced;
    EXPECT_TRUE(zrtest::sameDocument(expected.structures(), read.structures(), compare))
        << "seed " << seed;
    EXPECT_EQ(read.metadata().at("seed").getInteger(), static_cast<int64_t>(seed));
    EXPECT_EQ(read.metadata().count(nulKey), format() == Format::ZRB ? 1u : 0u);
  }
  EXPECT_TRUE(log.entries().empty()) << log.all();
}

// A file on disk is read through a mapping of its content: the same tree as from memory, and a
// cut document whose end falls on a page boundary (where a read one byte too far would fault)
// fails cleanly, mapped or read.
TEST_P(DocumentFormatTest, MappedFilesReadAsMemoryDoes) {
  zrtest::TempFolder folder("zrx_document_test");
  zrtest::TreeGenOptions options;
  if (format() == Format::ZRT) options = zrtest::TreeGenOptions::textSafe(7);
  options.seed = 7;
  options.topLevelStructures = 300;
  Document expected;
  expected.structures() = zrtest::generateDocument(options);
  ref<zr::MemoryFile> bytes = new zr::MemoryFile;
  ASSERT_TRUE(zrX::writeDocument(bytes.get(), format(), expected).ok());
  const std::string whole(bytes->data().begin(), bytes->data().end());
  ASSERT_GT(whole.size(), 40u * 1024u) << "a document large enough to be mapped";
  Document fromMemory;
  ASSERT_EQ(zrX::readDocument(bytes.get(), format(), fromMemory), ReadStatus::Ok);

  for (const bool mapped : {true, false}) {
    SCOPED_TRACE(mapped ? "mapped" : "read");
    zr::DiskFile::setMappedReads(mapped);
    const std::string path = folder.path("whole");
    zrtest::TempFolder::writeBytes(path, whole);
    ref<zr::DiskFile> file = new zr::DiskFile(path);
    Document fromDisk;
    EXPECT_EQ(zrX::readDocument(file.get(), format(), fromDisk), ReadStatus::Ok);
    EXPECT_TRUE(zrtest::sameDocument(fromMemory.structures(), fromDisk.structures()));
    EXPECT_FALSE(file->isOpen());
    EXPECT_FALSE(file->isMapped());

    for (size_t cut = 4096; cut < whole.size(); cut += 4096) {
      const std::string part = folder.path("cut" + std::to_string(cut));
      zrtest::TempFolder::writeBytes(part, whole.substr(0, cut));
      ref<zr::DiskFile> cutFile = new zr::DiskFile(part);
      Document partial;
      log.clear();
      EXPECT_EQ(zrX::readDocument(cutFile.get(), format(), partial), ReadStatus::ParseError) << cut;
      EXPECT_FALSE(log.errors().empty()) << cut;
    }
  }
  zr::DiskFile::setMappedReads(true);
}

// A linked document with a cycle is freed when the Document goes: an array held from outside,
// inside the cycle, is then held by its one outside reference only.
TEST_P(DocumentFormatTest, DroppedDocumentFreesItsCycles) {
  ref<zrX::ZRXArrayInteger> values;
  {
    Document document;
    ASSERT_EQ(zrX::readDocument(linkedDocument(format()).get(), format(), document),
              ReadStatus::Ok);
    ZRXStructure* a = document.structures()[0].get();
    values = a->value().at(0).value().getArrayInteger();
    EXPECT_EQ(values->referenceCount(), 2);
  }
  EXPECT_EQ(values->referenceCount(), 1);

  // What a caller keeps stays intact, with what it reaches.
  std::vector<ref<zrX::ZRXTaggedValue>> kept;
  {
    Document document;
    ASSERT_EQ(zrX::readDocument(linkedDocument(format()).get(), format(), document),
              ReadStatus::Ok);
    kept.emplace_back(document.structures()[1]);
  }
  ZRXStructure* b = static_cast<ZRXStructure*>(kept[0].get());
  ZRXStructure* a = b->value().at(0).value().getStructure();
  ASSERT_TRUE(a);
  ASSERT_EQ(a->value().size(), 2u);
  EXPECT_EQ(a->value().at(1).value().getStructure()->value().at(0).value().getStructure(), a);
  values = a->value().at(0).value().getArrayInteger();
  // The caller breaks the cycle it kept when it drops it.
  zrX::breakCycles(kept);
  kept.clear();
  EXPECT_EQ(values->referenceCount(), 1);
}

// Metadata entries holding structures in a cycle are freed with the document as well.
TEST(Document, DroppedDocumentFreesCyclesInItsMetadata) {
  ref<zrX::ZRXArrayInteger> values = new zrX::ZRXArrayInteger;
  {
    Document document;
    ref<ZRXStructure> loop = new ZRXStructure("<Loop>");
    loop->setID("#loop");
    ZRXValue array;
    array.setArrayInteger(values.get());
    *loop << "values" << array << "self" << structureValue(loop.get());
    document.metadata()["loop"] = structureValue(loop.get());
  }
  EXPECT_EQ(values->referenceCount(), 1);
}

}  // namespace

// `zrtText` as a document in `format`; in ZRB each top-level structure is written on its own and
// the chunks are put together, so that IDs may repeat across them (the writers refuse that).
ref<zr::MemoryFile> documentAsWritten(const std::string& zrtText, Format format) {
  if (format == Format::ZRT) return zrtest::documentInFormat(zrtText, format);
  zrtest::LogCapture quiet;
  ref<zr::MemoryFile> text = fileWith(zrtText);
  zr::ref<zrX::ParserZRT> reader = new zrX::ParserZRT;
  reader->tokenizer()->attachFile(text.get());
  EXPECT_TRUE(reader->parse());
  std::vector<ref<ZRXStructure>> all = reader->structures();
  // parse() moved the metadata out of the structures; it is written as the first chunk.
  std::vector<uint8_t> bytes;
  auto append = [&](const std::vector<ref<ZRXStructure>>& topLevel) {
    ref<zr::MemoryFile> part = new zr::MemoryFile;
    EXPECT_TRUE(zrX::writeStructures(part.get(), Format::ZRB, topLevel).ok());
    bytes.insert(bytes.end(), part->data().begin() + (bytes.empty() ? 0 : 21), part->data().end());
  };
  if (!reader->metadata().empty()) {
    Document metadataOnly;
    metadataOnly.metadata() = reader->metadata();
    ref<zr::MemoryFile> part = new zr::MemoryFile;
    EXPECT_TRUE(zrX::writeDocument(part.get(), Format::ZRB, metadataOnly).ok());
    bytes.insert(bytes.end(), part->data().begin(), part->data().end());
  }
  for (const ref<ZRXStructure>& structure : all) append({structure});
  return new zr::MemoryFile(bytes);
}

// Links made while reading (readDocument) must give what linking after reading gives: the same
// status, the same messages in the same order, the same tree. The reference reads without linking
// and links with Parser::link, which walks the tree.
TEST_P(DocumentFormatTest, LinkingWhileReadingGivesWhatLinkingAfterwardsGives) {
  const std::string header = "ZRX version=101 encoding=ascii\n";
  const char* const cases[] = {
      // Back and forward references, "#NULL", a reference to itself, one to a later top level.
      "<A> { ID = #a  kids = [ <K> { ID = #k  up = #a  me = #k } <K> { up = #a  next = #b } ] "
      "nothing = #NULL }\n<B> { ID = #b  back = #a  fwd = #c  }\n<C> { ID = #c  loop = #c }",
      // The ID member after the members that name it.
      "<A> { kid = <K> { up = #a } list = [ #a #a ] ID = #a }",
      // An ID carried twice: nothing is linked, even what was linked on the way.
      "<A> { ID = #a  k = <K> { up = #a } } <B> { ID = #a  r = #a }",
      "<A> { ID = #x  k = <K> { ID = #y  up = #x } } <B> { ID = #y  r = #x  s = #y }",
      // Names that nothing carries, among ones that link.
      "<A> { ID = #a  r = #missing  s = #a  t = [ #gone #a ] }",
      // Metadata is not linked, neither its IDs nor its references.
      "<Metadata> { ID = #m  note = \"x\"  self = #m  main = #a } <A> { ID = #a  meta = #m  "
      "me = #a }",
      "<A> { ID = #a  r = #a } <Metadata> { ID = #a  r = #a } <B> { r = #a }",
      // Empty IDs count as IDs.
      "<A> { ID = #  r = # } <B> { r = # }",
  };
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    ref<zr::MemoryFile> file = documentAsWritten(header + text, format());

    log.clear();
    Document expected;
    zrX::ReadOptions unlinked;
    unlinked.link = false;
    ASSERT_EQ(zrX::readDocument(file.get(), format(), expected, unlinked), ReadStatus::Ok);
    std::vector<ref<zrX::ZRXTaggedValue>> nodes(expected.structures().begin(),
                                                expected.structures().end());
    const bool expectedLinked = zrX::Parser::link(nodes);
    nodes.clear();
    const std::vector<std::string> expectedMessages = log.errors();

    log.clear();
    Document actual;
    const ReadStatus status = zrX::readDocument(file.get(), format(), actual);
    EXPECT_EQ(status, expectedLinked ? ReadStatus::Ok : ReadStatus::LinkError);
    EXPECT_EQ(log.errors(), expectedMessages);
    EXPECT_TRUE(zrtest::sameDocument(expected.structures(), actual.structures()));
    for (const auto& [key, value] : expected.metadata()) {
      ASSERT_EQ(actual.metadata().count(key), 1u) << key;
      EXPECT_EQ(zrtest::diffValues(value, actual.metadata().at(key)), "") << key;
    }
  }
}

// A document that fails part-way after links were made while reading gives what it gave before
// (complete structures, unlinked) and leaves no cycle behind (the leak checker of the sanitizer
// build would find one in the structure that failed).
TEST_P(DocumentFormatTest, AFailedReadFreesTheLinksItMade) {
  const std::string text =
      "ZRX version=101 encoding=ascii\n<A> { ID = #a  k = <K> { ID = #k  up = #a  me = #k } "
      "l = [ <L> { ID = #l  up = #a  self = #l } ] }\n<B> { ID = #b  r = #a  s = #b ";
  std::string bytes;
  if (format() == Format::ZRT) {
    bytes = text;  // cut inside <B>
  } else {
    ref<zr::MemoryFile> whole = zrtest::documentInFormat(text + "}", Format::ZRB);
    bytes.assign(whole->data().begin(), whole->data().end() - 3);
  }
  Document document;
  EXPECT_EQ(zrX::readDocument(fileWith(bytes).get(), format(), document), ReadStatus::ParseError);
  // The complete <A> is kept as it was read, its references ID values again.
  ASSERT_EQ(document.structures().size(), 1u);
  const ZRXValue& up =
      document.structures()[0]->value().at(0).value().getStructure()->value().at(0).value();
  ASSERT_EQ(up.type(), ZRXValue::ID);
  EXPECT_EQ(up.getID(), "#a");
}
