// The serializer's document saves and loads: end-to-end round trips of the host model in both
// formats, on disk and in memory; the metadata block; the reset flag across several operations;
// every row of the error tables; write faults and refused trees leaving the previous document.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <iterator>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "support/FaultyFile.hpp"
#include "support/HostModel.hpp"
#include "support/LogCapture.hpp"
#include "support/TempFolder.hpp"
#include "support/TreeCompare.hpp"
#include "zrX/Document.hpp"
#include "zrX/Serializer.hpp"

namespace {

using zr::ref;
using zrtest::Node;
using zrX::Format;
using zrX::ZRXList;
using zrX::ZRXSerializer;
using zrX::ZRXStructure;
using zrX::ZRXValue;
using Errors = std::vector<std::string>;

const char* const kName[] = {"", "ZRT", "ZRB"};

bool save(ZRXSerializer& serializer, zr::VirtualFile* file, const zr::Object* object, bool reset,
          Format format) {
  return format == Format::ZRT ? serializer.saveZRT(file, object, reset)
                               : serializer.saveZRB(file, object, reset);
}
bool save(ZRXSerializer& serializer, const std::string& path, const zr::Object* object, bool reset,
          Format format) {
  return format == Format::ZRT ? serializer.saveZRT(zr::String(path.c_str()), object, reset)
                               : serializer.saveZRB(zr::String(path.c_str()), object, reset);
}
ref<zr::Object> load(ZRXSerializer& serializer, zr::VirtualFile* file, bool reset, Format format) {
  return format == Format::ZRT ? serializer.loadZRT(file, reset) : serializer.loadZRB(file, reset);
}
ref<zr::Object> load(ZRXSerializer& serializer, const std::string& path, bool reset,
                     Format format) {
  return format == Format::ZRT ? serializer.loadZRT(zr::String(path.c_str()), reset)
                               : serializer.loadZRB(zr::String(path.c_str()), reset);
}

std::string bytesOf(const zr::MemoryFile& file) { return file.text(); }

// "Www Mmm dd hh:mm:ss yyyy", the day padded with a space, as ctime writes it.
bool hasCtimeLayout(const std::string& date) {
  static const std::string days = "SunMonTueWedThuFriSat";
  static const std::string months = "JanFebMarAprMayJunJulAugSepOctNovDec";
  const std::string pattern = "www mmm _d dd:dd:dd dddd";
  if (date.size() != pattern.size()) return false;
  const size_t day = days.find(date.substr(0, 3));
  const size_t month = months.find(date.substr(4, 3));
  if (day == std::string::npos || day % 3 != 0 || month == std::string::npos || month % 3 != 0)
    return false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = date[i];
    const bool digit = c >= '0' && c <= '9';
    if ((pattern[i] == 'd' && !digit) ||
        (pattern[i] == '_' && !(c == ' ' || (c >= '1' && c <= '3'))) ||
        (pattern[i] == ' ' && c != ' ') || (pattern[i] == ':' && c != ':'))
      return false;
  }
  return true;
}

ref<zr::MemoryFile> fileWith(const std::string& bytes) {
  return new zr::MemoryFile(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

// Every ID in an unlinked document: structure IDs and ID values, "#NULL" aside.
void collectIDs(const ZRXValue& value, std::set<std::string>* ids);
void collectIDs(const ZRXStructure* structure, std::set<std::string>* ids) {
  if (structure->uid() != "#NULL") ids->insert(structure->uid());
  for (const ZRXStructure::KeyValue& entry : structure->value()) collectIDs(entry.value(), ids);
}
void collectIDs(const ZRXValue& value, std::set<std::string>* ids) {
  if (value.type() == ZRXValue::ID && value.getID() != "#NULL") ids->insert(value.getID());
  if (value.type() == ZRXValue::Structure && value.getStructure())
    collectIDs(value.getStructure(), ids);
  if (value.type() == ZRXValue::List)
    for (const ZRXValue& element : value.getList()->value()) collectIDs(element, ids);
}
std::set<std::string> idsOf(const zrX::Document& document) {
  std::set<std::string> ids;
  for (const ref<ZRXStructure>& structure : document.structures())
    collectIDs(structure.get(), &ids);
  return ids;
}

// A document in `format` made from ZRT text: read without linking, written again.
ref<zr::MemoryFile> documentFromText(const std::string& text, Format format) {
  ref<zr::MemoryFile> source =
      new zr::MemoryFile(std::vector<uint8_t>(text.begin(), text.end()), "source");
  if (format == Format::ZRT) return source;
  zrX::Document document;
  zrX::ReadOptions options;
  options.link = false;
  EXPECT_EQ(zrX::readDocument(source.get(), Format::ZRT, document, options), zrX::ReadStatus::Ok);
  ref<zr::MemoryFile> binary = new zr::MemoryFile("source");
  EXPECT_TRUE(zrX::writeDocument(binary.get(), Format::ZRB, document).ok());
  return binary;
}

// `bytes`, a saved document, with its Creation_Date blanked: two saves of one graph differ there
// when a second passes between them.
std::string withoutCreationDate(const std::string& bytes, Format format) {
  ref<zr::MemoryFile> file =
      new zr::MemoryFile(std::vector<uint8_t>(bytes.begin(), bytes.end()), "saved");
  zrX::Document document;
  EXPECT_EQ(zrX::readDocument(file.get(), format, document), zrX::ReadStatus::Ok);
  const auto date = document.metadata().find("Creation_Date");
  if (date == document.metadata().end() || date->second.type() != ZRXValue::String) {
    ADD_FAILURE() << "no Creation_Date";
    return bytes;
  }
  const std::string& text = date->second.getString();
  std::string blanked = bytes;
  for (size_t at = blanked.find(text); !text.empty() && at != std::string::npos;
       at = blanked.find(text, at + text.size()))
    blanked.replace(at, text.size(), std::string(text.size(), '-'));
  return blanked;
}

// A host object whose wrapper exports a structure holding one list, or one structure without an
// ID, in two entries, which no format can write.
class Twice : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  explicit Twice(bool list) : list(list) {}
  bool list;
};
ZR_DEFINE_TYPE(Twice, zr::Object, "Twice")

class TwiceWrapper : public zrX::ClassWrapper {
 public:
  ref<zr::Object> importObject(ZRXSerializer&, const ZRXStructure*) override { return nullptr; }
  ref<ZRXStructure> exportObject(ZRXSerializer& serializer, const zr::Object* object) override {
    ref<ZRXStructure> out = new ZRXStructure("<Twice>");
    serializer.registerExportedObject(object, out.get());
    ZRXValue value;
    if (static_cast<const Twice*>(object)->list) {
      ref<ZRXList> list = new ZRXList;
      list->setTag("<L>");
      value.setList(list.get());
    } else {
      value.setStructure(new ZRXStructure("<S>"));
    }
    *out << "first" << value << "second" << value;
    return out;
  }
};

// A wrapper that reports a failure and still hands back what it made.
class Sloppy : public zr::Object {
  ZR_DECLARE_TYPE()
};
ZR_DEFINE_TYPE(Sloppy, zr::Object, "Sloppy")

class SloppyWrapper : public zrX::ClassWrapper {
 public:
  ref<zr::Object> importObject(ZRXSerializer& serializer, const ZRXStructure* structure) override {
    ref<Sloppy> object = new Sloppy;
    serializer.registerImportedStructure(structure, object.get());
    serializer.signalImportError("Sloppy: cannot read it.");
    return object;
  }
  ref<ZRXStructure> exportObject(ZRXSerializer& serializer, const zr::Object* object) override {
    ref<ZRXStructure> out = new ZRXStructure("<Sloppy>");
    serializer.registerExportedObject(object, out.get());
    serializer.signalExportError("Sloppy: cannot write it.");
    return out;
  }
};

// A wrapper that notes whether its serializer imports its own document, taking the "values"
// array's storage when it does.
class Probe : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  bool ownDocument = false;
  std::vector<int64_t> values;
};
ZR_DEFINE_TYPE(Probe, zr::Object, "Probe")

class ProbeWrapper : public zrX::ClassWrapper {
 public:
  ref<zr::Object> importObject(ZRXSerializer& serializer, const ZRXStructure* structure) override {
    ref<Probe> probe = new Probe;
    serializer.registerImportedStructure(structure, probe.get());
    probe->ownDocument = serializer.importsOwnDocument();
    for (const ZRXStructure::KeyValue& entry : structure->value()) {
      if (entry.key() != "values" || entry.value().type() != ZRXValue::ArrayInteger) continue;
      std::vector<int64_t>& values = entry.value().getArrayInteger()->value();
      if (probe->ownDocument)
        probe->values.swap(values);
      else
        probe->values = values;
    }
    return probe;
  }
  ref<ZRXStructure> exportObject(ZRXSerializer&, const zr::Object*) override { return nullptr; }
};

class SerializerIOTest : public ::testing::TestWithParam<Format> {
 protected:
  SerializerIOTest() {
    registry->registerWrapper("<Twice>", Twice::Type(), new TwiceWrapper);
    registry->registerWrapper("<Sloppy>", Sloppy::Type(), new SloppyWrapper);
    registry->registerWrapper("<Probe>", Probe::Type(), new ProbeWrapper);
    serializer.setRegistry(registry.get());
  }

  Format format() const { return GetParam(); }
  const char* name() const { return kName[static_cast<int>(GetParam())]; }
  std::string documentPath() const {
    return folder.path(format() == Format::ZRT ? "scene.zrt" : "scene.zrb");
  }
  ZRXSerializer makeSerializer() const {
    ZRXSerializer fresh;
    fresh.setRegistry(registry.get());
    return fresh;
  }

  ref<zrX::Registry> registry = zrtest::makeHostRegistry();
  ZRXSerializer serializer;
  zrtest::TempFolder folder{"zrx_serializer_io_test"};
  zrtest::LogCapture log;
};

INSTANTIATE_TEST_SUITE_P(Formats, SerializerIOTest, ::testing::Values(Format::ZRT, Format::ZRB),
                         [](const ::testing::TestParamInfo<Format>& info) {
                           return std::string(kName[static_cast<int>(info.param)]);
                         });

// --- Round trips ---

TEST_P(SerializerIOTest, SampleGraphRoundTripsInMemoryAndOnDisk) {
  ref<zr::ResourceDatabase> original = zrtest::makeSampleGraph();

  ref<zr::MemoryFile> memory = new zr::MemoryFile;
  ASSERT_TRUE(save(serializer, memory.get(), original.get(), true, format()));
  EXPECT_FALSE(memory->isOpen());
  EXPECT_EQ(zrX::detectFormat(memory.get()), format());
  ZRXSerializer reader = makeSerializer();
  ref<zr::Object> fromMemory = load(reader, memory.get(), true, format());
  EXPECT_FALSE(memory->isOpen());
  ASSERT_TRUE(fromMemory);
  EXPECT_EQ(zrtest::graphDifference(original.get(), fromMemory.get()), "");
  EXPECT_EQ(reader.documentURL(), zr::String("memory"));

  ASSERT_TRUE(save(serializer, documentPath(), original.get(), true, format()));
  EXPECT_EQ(folder.entries().size(), 1u);
  EXPECT_EQ(zrtest::TempFolder::readBytes(documentPath()).size(), memory->data().size());
  ref<zr::Object> fromDisk = load(reader, documentPath(), true, format());
  ASSERT_TRUE(fromDisk);
  EXPECT_EQ(zrtest::graphDifference(original.get(), fromDisk.get()), "");
  EXPECT_EQ(reader.documentURL(), zr::String(documentPath().c_str()));
  EXPECT_EQ(reader.error(), ZRXSerializer::NoError);
  EXPECT_TRUE(log.entries().empty()) << log.all();
}

// The graph outlives the serializer that loaded it, and the structures of its cycles are freed
// (LeakSanitizer would report them).
TEST_P(SerializerIOTest, LoadedGraphOutlivesItsSerializer) {
  ref<zr::ResourceDatabase> original = zrtest::makeSampleGraph();
  ref<zr::MemoryFile> memory = new zr::MemoryFile;
  ASSERT_TRUE(save(serializer, memory.get(), original.get(), true, format()));
  ref<zr::Object> loaded;
  {
    ZRXSerializer reader = makeSerializer();
    loaded = load(reader, memory.get(), true, format());
  }
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->referenceCount(), 1);
  EXPECT_EQ(zrtest::graphDifference(original.get(), loaded.get()), "");
}

// --- Metadata ---

TEST_P(SerializerIOTest, MetadataBlockOrderReservedKeysAndValues) {
  serializer.metadata()["zeta"] = ZRXValue(int64_t{7});  // sorts after "ZR_Serializer_Version"
  serializer.metadata()["Alpha"].setString("kept");
  serializer.metadata()["Creation_Date"].setString("Thu Jan  1 00:00:00 1970");
  serializer.metadata()["Authoring_Tool"].setString("Someone else");
  serializer.metadata()["ZR_Serializer_Version"] = ZRXValue(int64_t{5});

  ref<zr::ResourceDatabase> original = zrtest::makeSampleGraph();
  ref<zr::MemoryFile> file = new zr::MemoryFile;
  const std::time_t before = std::time(nullptr);
  ASSERT_TRUE(save(serializer, file.get(), original.get(), true, format()));
  const std::time_t after = std::time(nullptr);

  // In the file: host entries in key order, then the three fresh ones, each once.
  const std::string bytes = bytesOf(*file);
  std::vector<size_t> at;
  for (const char* key : {"Alpha", "zeta", "Authoring_Tool", "Creation_Date",
                          "ZR_Serializer_Version", "<ResourceDatabase>"}) {
    const size_t found = bytes.find(key);
    ASSERT_NE(found, std::string::npos) << key;
    EXPECT_EQ(bytes.find(key, found + 1), std::string::npos) << key << " appears twice";
    at.push_back(found);
  }
  EXPECT_TRUE(std::is_sorted(at.begin(), at.end()));
  EXPECT_LT(bytes.find("<Metadata>"), at.front());
  for (const char* gone : {"Someone else", "1970"})
    EXPECT_EQ(bytes.find(gone), std::string::npos) << gone;
  // The host's map is not changed by a save.
  EXPECT_EQ(serializer.getMetadata("Authoring_Tool")->getString(), "Someone else");

  // Read back: the entries as written.
  ZRXSerializer reader = makeSerializer();
  reader.metadata()["stale"] = ZRXValue(int64_t{1});
  ASSERT_TRUE(load(reader, file.get(), true, format()));
  const zrX::MetadataMap& metadata = reader.metadata();
  std::vector<std::string> keys;
  for (const auto& entry : metadata) keys.push_back(entry.first);
  EXPECT_EQ(keys, (std::vector<std::string>{"Alpha", "Authoring_Tool", "Creation_Date",
                                            "ZR_Serializer_Version", "zeta"}));
  ASSERT_EQ(metadata.at("ZR_Serializer_Version").type(), ZRXValue::Integer);
  EXPECT_EQ(metadata.at("ZR_Serializer_Version").getInteger(), 101);
  ASSERT_EQ(metadata.at("Authoring_Tool").type(), ZRXValue::String);
  EXPECT_EQ(metadata.at("Authoring_Tool").getString(), "Orvane 2.0.0");
  EXPECT_EQ(metadata.at("Alpha").getString(), "kept");
  EXPECT_EQ(metadata.at("zeta").getInteger(), 7);

  // The date is what ctime writes for some second of the save, without its newline.
  ASSERT_EQ(metadata.at("Creation_Date").type(), ZRXValue::String);
  const std::string date = metadata.at("Creation_Date").getString();
  EXPECT_TRUE(hasCtimeLayout(date)) << date;
  std::set<std::string> seconds;
  for (std::time_t t = before; t <= after; ++t) {
    std::string text = std::ctime(&t);
    ASSERT_EQ(text.back(), '\n');
    text.pop_back();
    seconds.insert(text);
  }
  EXPECT_EQ(seconds.count(date), 1u) << date << " vs " << *seconds.begin();
  EXPECT_TRUE(log.entries().empty()) << log.all();
}

TEST(SerializerIO, TextMetadataBlockLayout) {
  ZRXSerializer serializer;
  serializer.setRegistry(zrtest::makeHostRegistry().get());
  serializer.metadata()["Owner"].setString("me");
  ref<zrtest::Material> material = new zrtest::Material;
  material->name = "m";
  ref<zr::MemoryFile> file = new zr::MemoryFile;
  ASSERT_TRUE(serializer.saveZRT(file.get(), material.get(), true));
  const std::string text = file->text();
  const std::string head =
      "ZRX version=101 encoding=ascii\n\n<Metadata>\n{\n\tOwner = \"me\"\n"
      "\tAuthoring_Tool = \"Orvane 2.0.0\"\n\tCreation_Date = \"";
  ASSERT_EQ(text.substr(0, head.size()), head);
  const size_t dateEnd = text.find('"', head.size());
  ASSERT_EQ(dateEnd, head.size() + 24);
  EXPECT_EQ(text.substr(dateEnd),
            "\"\n\tZR_Serializer_Version = 101\n}\n<Material>\n{\n\tname = \"m\"\n"
            "\troughness = 0.000000\n}\n");
}

// A text save gives reals back bit for bit, unless the host asks for six decimals.
TEST(SerializerIO, TextRealsAreExactUnlessSixDecimalsAreAsked) {
  for (const bool sixDecimals : {false, true}) {
    ZRXSerializer serializer;
    serializer.setRegistry(zrtest::makeHostRegistry().get());
    serializer.setSixDecimalReals(sixDecimals);
    ref<zrtest::Material> material = new zrtest::Material;
    material->roughness = 0.1234567;
    ref<zr::MemoryFile> file = new zr::MemoryFile;
    ASSERT_TRUE(serializer.saveZRT(file.get(), material.get(), true));
    EXPECT_NE(
        file->text().find(sixDecimals ? "\troughness = 0.123457\n" : "\troughness = 0.1234567\n"),
        std::string::npos)
        << file->text();
    ref<zr::Object> loaded = serializer.loadZRT(file.get(), true);
    ASSERT_TRUE(loaded && loaded->isOfType(zrtest::Material::Type()));
    EXPECT_EQ(static_cast<zrtest::Material*>(loaded.get())->roughness,
              sixDecimals ? 0.123457 : 0.1234567);
    EXPECT_EQ(serializer.sixDecimalReals(), sixDecimals);  // kept across saves and loads
  }
}

TEST_P(SerializerIOTest, MetadataOnlyDocumentLoadsAsNullWithoutError) {
  const std::string text =
      "ZRX version=101 encoding=ascii\n<Metadata> {\n\tAuthoring_Tool = \"Orvane 2.0.0\"\n"
      "\tCreation_Date = \"Mon Mar  4 10:00:00 2024\"\n\tZR_Serializer_Version = 101\n}\n";
  ref<zr::MemoryFile> file = documentFromText(text, format());
  EXPECT_FALSE(load(serializer, file.get(), true, format()));
  EXPECT_EQ(serializer.error(), ZRXSerializer::NoError);
  ASSERT_TRUE(serializer.getMetadata("ZR_Serializer_Version"));
  EXPECT_EQ(serializer.getMetadata("ZR_Serializer_Version")->getInteger(), 101);
  EXPECT_EQ(serializer.getMetadata("Authoring_Tool")->getString(), "Orvane 2.0.0");
  EXPECT_EQ(serializer.getMetadata("Creation_Date")->getString(), "Mon Mar  4 10:00:00 2024");
  EXPECT_TRUE(log.entries().empty()) << log.all();
}

// --- The reset flag ---

TEST_P(SerializerIOTest, SavingWithoutResetReusesStructuresAndContinuesIDs) {
  ref<zr::ResourceDatabase> first = zrtest::makeSampleGraph();
  ref<zr::ResourceDatabase> second = zrtest::makeSampleGraph();

  ref<zr::MemoryFile> a = new zr::MemoryFile("a");
  ref<zr::MemoryFile> b = new zr::MemoryFile("b");
  ref<zr::MemoryFile> c = new zr::MemoryFile("c");
  ASSERT_TRUE(save(serializer, a.get(), first.get(), true, format()));
  ZRXStructure* root = serializer.getExportedObject(first.get());
  ASSERT_TRUE(root);
  ASSERT_TRUE(save(serializer, b.get(), second.get(), false, format()));
  ASSERT_TRUE(save(serializer, c.get(), first.get(), false, format()));
  EXPECT_EQ(serializer.getExportedObject(first.get()), root);

  auto read = [&](zr::MemoryFile* file, zrX::Document& document) {
    zrX::ReadOptions options;
    options.link = false;
    ASSERT_EQ(zrX::readDocument(file, format(), document, options), zrX::ReadStatus::Ok);
    ASSERT_EQ(document.structures().size(), 1u);
  };
  zrX::Document docA, docB, docC;
  read(a.get(), docA);
  read(b.get(), docB);
  read(c.get(), docC);
  // The third document is the first one again, IDs included; the second one's IDs continued
  // the count instead of starting over.
  zrtest::CompareOptions exact;
  EXPECT_TRUE(zrtest::sameDocument(docA.structures(), docC.structures(), exact));
  const std::set<std::string> idsA = idsOf(docA), idsB = idsOf(docB);
  EXPECT_FALSE(idsA.empty());
  EXPECT_EQ(idsA.size(), idsB.size());
  std::vector<std::string> common;
  std::set_intersection(idsA.begin(), idsA.end(), idsB.begin(), idsB.end(),
                        std::back_inserter(common));
  EXPECT_TRUE(common.empty());

  // A save with the flag starts over: the same IDs as the first time.
  ref<zr::MemoryFile> d = new zr::MemoryFile("d");
  ASSERT_TRUE(save(serializer, d.get(), second.get(), true, format()));
  zrX::Document docD;
  read(d.get(), docD);
  EXPECT_TRUE(zrtest::sameDocument(docA.structures(), docD.structures(), exact));
}

TEST_P(SerializerIOTest, LoadingWithoutResetKeepsEarlierImports) {
  ref<zr::ResourceDatabase> original = zrtest::makeSampleGraph();
  ref<zr::MemoryFile> file = new zr::MemoryFile;
  ASSERT_TRUE(save(serializer, file.get(), original.get(), true, format()));

  ZRXSerializer reader = makeSerializer();
  ref<zr::Object> one = load(reader, file.get(), true, format());
  ref<zr::Object> two = load(reader, file.get(), false, format());
  ASSERT_TRUE(one && two);
  EXPECT_NE(one.get(), two.get());  // a new document has new structures
  EXPECT_EQ(zrtest::graphDifference(one.get(), two.get()), "");
  // Both loads' objects are still held by the serializer; a reset drops the first load's.
  EXPECT_GT(one->referenceCount(), 1);
  reader.reset();
  EXPECT_EQ(one->referenceCount(), 1);
  EXPECT_EQ(two->referenceCount(), 1);
}

// --- Error tables ---

TEST_P(SerializerIOTest, ErrorAlreadySetTouchesNothing) {
  ref<zr::ResourceDatabase> original = zrtest::makeSampleGraph();
  ref<zr::MemoryFile> file = new zr::MemoryFile;
  ASSERT_TRUE(save(serializer, file.get(), original.get(), true, format()));
  const std::string before = bytesOf(*file);
  ASSERT_TRUE(save(serializer, documentPath(), original.get(), true, format()));
  const std::string onDisk = zrtest::TempFolder::readBytes(documentPath());

  for (ZRXSerializer::EError error : {ZRXSerializer::ImportError, ZRXSerializer::WriteError}) {
    ZRXSerializer blocked = makeSerializer();
    blocked.setDocumentURL("earlier");
    blocked.setError(error);
    EXPECT_FALSE(save(blocked, file.get(), original.get(), false, format()));
    EXPECT_FALSE(save(blocked, documentPath(), original.get(), false, format()));
    EXPECT_FALSE(load(blocked, file.get(), false, format()));
    EXPECT_FALSE(load(blocked, documentPath(), false, format()));
    EXPECT_FALSE(load(blocked, folder.path("missing"), false, format()));
    EXPECT_EQ(blocked.error(), error);
    EXPECT_EQ(blocked.documentURL(), zr::String("earlier"));
    EXPECT_EQ(blocked.getExportedObject(original.get()), nullptr);
    EXPECT_TRUE(blocked.metadata().empty());
    EXPECT_EQ(bytesOf(*file), before);
    EXPECT_FALSE(file->isOpen());
    EXPECT_EQ(zrtest::TempFolder::readBytes(documentPath()), onDisk);
    EXPECT_EQ(folder.entries().size(), 1u);

    // The flag clears the error first.
    EXPECT_TRUE(load(blocked, file.get(), true, format()));
    EXPECT_EQ(blocked.error(), ZRXSerializer::NoError);
  }
  EXPECT_TRUE(log.entries().empty()) << log.all();
}

TEST_P(SerializerIOTest, ExportFailureLeavesTheFileUntouched) {
  ref<zr::ResourceDatabase> original = zrtest::makeSampleGraph();
  ASSERT_TRUE(save(serializer, documentPath(), original.get(), true, format()));
  const std::string onDisk = zrtest::TempFolder::readBytes(documentPath());
  ref<zr::MemoryFile> file = new zr::MemoryFile;
  file->data() = {'o', 'l', 'd'};

  original->resources().emplace_back(nullptr);
  for (bool onDiskFile : {false, true}) {
    log.clear();
    const bool saved = onDiskFile ? save(serializer, documentPath(), original.get(), true, format())
                                  : save(serializer, file.get(), original.get(), true, format());
    EXPECT_FALSE(saved);
    EXPECT_EQ(serializer.error(), ZRXSerializer::ExportError);
    EXPECT_EQ(log.errors(), (Errors{"<ResourceDatabase>: resource 2 is null.",
                                    "Error exporting 'zr::ResourceDatabase'."}));
  }
  EXPECT_EQ(bytesOf(*file), "old");
  EXPECT_EQ(zrtest::TempFolder::readBytes(documentPath()), onDisk);
  EXPECT_EQ(folder.entries().size(), 1u);
}

// A wrapper that reports a failure but returns a result still fails the save or the load.
TEST_P(SerializerIOTest, ReportedWrapperFailureFailsEvenWithAResult) {
  ref<Sloppy> sloppy = new Sloppy;
  ref<zr::MemoryFile> file = fileWith("old");
  EXPECT_FALSE(save(serializer, file.get(), sloppy.get(), true, format()));
  EXPECT_EQ(serializer.error(), ZRXSerializer::ExportError);
  EXPECT_EQ(file->text(), "old");
  EXPECT_EQ(log.errors(), (Errors{"Sloppy: cannot write it."}));

  log.clear();
  ref<zr::MemoryFile> document =
      documentFromText("ZRX version=101 encoding=ascii\n<Sloppy> {\n\tx = 1\n}\n", format());
  EXPECT_FALSE(load(serializer, document.get(), true, format()));
  EXPECT_EQ(serializer.error(), ZRXSerializer::ImportError);
  EXPECT_EQ(log.errors(), (Errors{"Sloppy: cannot read it."}));
}

// Metadata keys are written whole: a key holding a NUL byte travels in binary, and text refuses
// it rather than cutting it short.
TEST_P(SerializerIOTest, MetadataKeysAreNotCutAtANulByte) {
  const std::string key("two\0parts", 9);
  serializer.metadata()[key] = ZRXValue(int64_t{3});
  ref<zrtest::Material> material = new zrtest::Material;
  ref<zr::MemoryFile> file = fileWith("old");
  const bool saved = save(serializer, file.get(), material.get(), true, format());
  if (format() == Format::ZRT) {
    EXPECT_FALSE(saved);
    EXPECT_EQ(serializer.error(), ZRXSerializer::ExportError);
    EXPECT_EQ(file->text(), "old");
    return;
  }
  ASSERT_TRUE(saved);
  ZRXSerializer reader = makeSerializer();
  ASSERT_TRUE(load(reader, file.get(), true, format()));
  ASSERT_TRUE(reader.metadata().count(key));
  EXPECT_EQ(reader.metadata().at(key).getInteger(), 3);
  EXPECT_EQ(reader.metadata().count("two"), 0u);
}

TEST_P(SerializerIOTest, ShortWriteSetsWriteError) {
  ref<zr::ResourceDatabase> original = zrtest::makeSampleGraph();
  for (int64_t limit : {0, 9, 100}) {
    log.clear();
    ref<zrtest::FaultyFile> file = new zrtest::FaultyFile(limit);
    EXPECT_FALSE(save(serializer, file.get(), original.get(), true, format())) << limit;
    EXPECT_EQ(serializer.error(), ZRXSerializer::WriteError);
    EXPECT_FALSE(file->isOpen());
    EXPECT_EQ(log.errors(),
              (Errors{std::string("ZRXSerializer::save") + name() + "() write error : faulty\n"}));
  }
  // Enough room: the same save succeeds.
  ref<zrtest::FaultyFile> roomy = new zrtest::FaultyFile(1 << 20);
  EXPECT_TRUE(save(serializer, roomy.get(), original.get(), true, format()));
}

// On disk the failing file is a DiskFile: whatever byte the fault hits, the save fails and the
// previous document stays byte for byte, with no temporary file left beside it.
TEST_P(SerializerIOTest, FaultyDiskWritesKeepThePreviousDocument) {
  ref<zr::ResourceDatabase> original = zrtest::makeSampleGraph();
  ASSERT_TRUE(save(serializer, documentPath(), original.get(), true, format()));
  const std::string previous = zrtest::TempFolder::readBytes(documentPath());

  ref<zr::ResourceDatabase> changed = zrtest::makeSampleGraph();
  static_cast<Node*>(changed->resources()[0].get())->name = "changed";
  ref<zr::MemoryFile> sized = new zr::MemoryFile;
  ASSERT_TRUE(save(serializer, sized.get(), changed.get(), true, format()));
  const int64_t size = static_cast<int64_t>(sized->data().size());

  for (int64_t limit : {int64_t{0}, int64_t{8}, int64_t{21}, int64_t{22}, size / 2, size - 1}) {
    SCOPED_TRACE(limit);
    log.clear();
    ref<zrtest::FaultyDiskFile> file =
        new zrtest::FaultyDiskFile(zr::String(documentPath().c_str()), limit);
    EXPECT_FALSE(save(serializer, file.get(), changed.get(), true, format()));
    EXPECT_EQ(serializer.error(), ZRXSerializer::WriteError);
    EXPECT_EQ(log.errors(), (Errors{std::string("ZRXSerializer::save") + name() +
                                    "() write error : " + documentPath() + "\n"}));
    EXPECT_FALSE(file->isOpen());
    EXPECT_EQ(zrtest::TempFolder::readBytes(documentPath()), previous);
    EXPECT_EQ(folder.entries().size(), 1u);
  }
  ref<zrtest::FaultyDiskFile> exact =
      new zrtest::FaultyDiskFile(zr::String(documentPath().c_str()), size);
  EXPECT_TRUE(save(serializer, exact.get(), changed.get(), true, format()));
  EXPECT_EQ(withoutCreationDate(zrtest::TempFolder::readBytes(documentPath()), format()),
            withoutCreationDate(sized->text(), format()));
  EXPECT_EQ(folder.entries().size(), 1u);
}

TEST_P(SerializerIOTest, SaveIntoAMissingFolderIsAWriteError) {
  ref<zr::ResourceDatabase> original = zrtest::makeSampleGraph();
  const std::string path = folder.path("no/such/folder.doc");
  EXPECT_FALSE(save(serializer, path, original.get(), true, format()));
  EXPECT_EQ(serializer.error(), ZRXSerializer::WriteError);
  EXPECT_EQ(log.errors(), (Errors{std::string("ZRXSerializer::save") + name() +
                                  "() write error : " + path + "\n"}));
  EXPECT_TRUE(folder.entries().empty());
}

// Trees no format can hold, or that this format cannot, are refused with ExportError before the
// document file is opened: the previous document stays, in memory and on disk.
TEST_P(SerializerIOTest, RefusedTreesLeaveThePreviousDocument) {
  ref<zr::ResourceDatabase> sample = zrtest::makeSampleGraph();
  ref<zr::ResourceDatabase> infinite = zrtest::makeSampleGraph();
  static_cast<Node*>(infinite->resources()[0].get())->weight =
      std::numeric_limits<double>::infinity();
  ref<Twice> twiceList = new Twice(true);
  ref<Twice> twiceStructure = new Twice(false);

  struct Case {
    const char* what;
    const zr::Object* object;
    int maxDepth;
    const char* metadataKey;
    bool refusedByZRT, refusedByZRB;
    const char* failure;  // the writer's or counter's text after "... cannot write the document : "
    const char* warning;
  };
  const Case cases[] = {
      {"list reached twice", twiceList.get(), zrX::kDefaultMaxDepth, nullptr, true, true,
       "VisitorIDCounter: list '<L>' is reached a second time at /<Twice>/second; a list can "
       "stand in one place only.",
       "VisitorIDCounter: cycle detected on ZRXList.\n"},
      {"structure without an ID reached twice", twiceStructure.get(), zrX::kDefaultMaxDepth,
       nullptr, true, true,
       "VisitorIDCounter: structure '<S>' without an ID is reached a second time at "
       "/<Twice>/second; only a structure with an ID can be shared.",
       nullptr},
      {"nesting beyond the limit", sample.get(), 4, nullptr, true, true,
       "VisitorIDCounter: nesting deeper than 4 levels at '<Node>'", nullptr},
      {"infinite real", infinite.get(), zrX::kDefaultMaxDepth, nullptr, true, false,
       "VisitorExportToZRT: an infinity at /<ResourceDatabase>/resources[0]/weight; the text "
       "format has no form for a real that is not finite.",
       nullptr},
      {"key that is no identifier", sample.get(), zrX::kDefaultMaxDepth, "two words", true, false,
       "VisitorExportToZRT: key 'two words' at /<Metadata>/two words is not a valid key (a key "
       "is a letter or '_', then letters, digits and '_'; not '_', 'true', 'false' or 'ID' in "
       "any letter case).",
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(save(serializer, documentPath(), sample.get(), true, format()));
    const std::string onDisk = zrtest::TempFolder::readBytes(documentPath());
    ref<zr::MemoryFile> memory = new zr::MemoryFile;
    memory->data() = {'o', 'l', 'd'};

    ZRXSerializer saver = makeSerializer();
    saver.setMaxDepth(c.maxDepth);
    if (c.metadataKey) saver.metadata()[c.metadataKey] = ZRXValue(int64_t{1});
    const bool refused = format() == Format::ZRT ? c.refusedByZRT : c.refusedByZRB;
    for (bool onDiskFile : {false, true}) {
      log.clear();
      const bool saved = onDiskFile ? save(saver, documentPath(), c.object, true, format())
                                    : save(saver, memory.get(), c.object, true, format());
      EXPECT_EQ(saved, !refused);
      if (!refused) continue;
      EXPECT_EQ(saver.error(), ZRXSerializer::ExportError);
      EXPECT_EQ(log.errors(), (Errors{std::string("ZRXSerializer::save") + name() +
                                      "() cannot write the document : " + c.failure + "\n"}));
      EXPECT_EQ(log.warnings(), c.warning ? Errors{c.warning} : Errors{});
    }
    if (refused) {
      EXPECT_EQ(bytesOf(*memory), "old");
      EXPECT_EQ(zrtest::TempFolder::readBytes(documentPath()), onDisk);
    } else {
      // The binary format carries it: the document loads back as saved.
      ZRXSerializer reader = makeSerializer();
      ref<zr::Object> loaded = load(reader, memory.get(), true, format());
      ASSERT_TRUE(loaded);
      EXPECT_EQ(zrtest::graphDifference(c.object, loaded.get()), "");
      if (c.metadataKey) {
        EXPECT_TRUE(reader.getMetadata(c.metadataKey));
      }
    }
    EXPECT_EQ(folder.entries().size(), 1u);
  }
}

TEST_P(SerializerIOTest, ParseFailureIsAnImportErrorKeepingTheMetadata) {
  const std::string header = format() == Format::ZRT ? "ZRX version=101 encoding=ascii\n"
                                                     : std::string(
                                                           "\xAB"
                                                           "ZRX\xBB\r\n\x1A\n",
                                                           9);
  for (const std::string& bytes :
       {std::string("not a document"), std::string(), header + "\x01garbage {"}) {
    log.clear();
    ref<zr::MemoryFile> file =
        new zr::MemoryFile(std::vector<uint8_t>(bytes.begin(), bytes.end()), "bad.doc");
    serializer.metadata()["mine"] = ZRXValue(int64_t{1});
    EXPECT_FALSE(load(serializer, file.get(), true, format()));
    EXPECT_EQ(serializer.error(), ZRXSerializer::ImportError);
    EXPECT_FALSE(file->isOpen());
    EXPECT_FALSE(log.errors().empty());
    EXPECT_TRUE(serializer.getMetadata("mine"));
    EXPECT_EQ(serializer.documentURL(), zr::String("bad.doc"));
  }
}

TEST_P(SerializerIOTest, LinkFailureIsAnImportErrorAfterTakingTheMetadata) {
  const std::string text =
      "ZRX version=101 encoding=ascii\n<Metadata> {\n\tAuthoring_Tool = \"Other 1.0\"\n}\n"
      "<Material> {\n\tname = \"m\"\n\tlink = #nowhere\n}\n";
  ref<zr::MemoryFile> file = documentFromText(text, format());
  serializer.metadata()["mine"] = ZRXValue(int64_t{1});
  EXPECT_FALSE(load(serializer, file.get(), true, format()));
  EXPECT_EQ(serializer.error(), ZRXSerializer::ImportError);
  ASSERT_TRUE(serializer.getMetadata("Authoring_Tool"));
  EXPECT_EQ(serializer.getMetadata("Authoring_Tool")->getString(), "Other 1.0");
  EXPECT_FALSE(serializer.getMetadata("mine"));
  EXPECT_EQ(log.errors().size(), 1u) << log.all();
  EXPECT_NE(log.all().find("#nowhere"), std::string::npos) << log.all();
}

TEST_P(SerializerIOTest, ImportFailureIsAnImportError) {
  const std::string text =
      "ZRX version=101 encoding=ascii\n<Unknown> {\n\tname = \"m\"\n}\n"
      "<Material> {\n\tname = \"never imported\"\n}\n";
  ref<zr::MemoryFile> file = documentFromText(text, format());
  EXPECT_FALSE(load(serializer, file.get(), true, format()));
  EXPECT_EQ(serializer.error(), ZRXSerializer::ImportError);
  EXPECT_EQ(log.errors(), (Errors{"No importing serializer found for structure '<Unknown>'."}));
  EXPECT_TRUE(serializer.metadata().empty());
}

// Only a load imports a document nobody else holds: there a wrapper may take array storage,
// and the flag is down again once the load returns.
TEST_P(SerializerIOTest, OnlyALoadImportsItsOwnDocument) {
  const std::string text = "ZRX version=101 encoding=ascii\n<Probe> { values = ( 1 2 3 ) }\n";
  const std::vector<int64_t> values = {1, 2, 3};
  ref<zr::MemoryFile> file = documentFromText(text, format());
  EXPECT_FALSE(serializer.importsOwnDocument());
  ref<zr::Object> loaded = load(serializer, file.get(), true, format());
  ASSERT_TRUE(loaded && loaded->isOfType(Probe::Type()));
  EXPECT_TRUE(static_cast<Probe*>(loaded.get())->ownDocument);
  EXPECT_EQ(static_cast<Probe*>(loaded.get())->values, values);
  EXPECT_FALSE(serializer.importsOwnDocument());

  zrX::Document document;
  ref<zr::MemoryFile> again = documentFromText(text, format());
  ASSERT_EQ(zrX::readDocument(again.get(), format(), document), zrX::ReadStatus::Ok);
  ZRXSerializer other = makeSerializer();
  zr::Object* imported = other.importZRX(document.structures().front().get());
  ASSERT_TRUE(imported && imported->isOfType(Probe::Type()));
  EXPECT_FALSE(static_cast<Probe*>(imported)->ownDocument);
  EXPECT_EQ(static_cast<Probe*>(imported)->values, values);
  EXPECT_EQ(document.structures().front()->value()[0].value().getArrayInteger()->value(), values);
  EXPECT_TRUE(log.entries().empty()) << log.all();
}

TEST_P(SerializerIOTest, OnlyTheFirstStructureIsImported) {
  const std::string text =
      "ZRX version=101 encoding=ascii\n<Material> {\n\tname = \"first\"\n}\n"
      "<Unknown> {\n\tname = \"never imported\"\n}\n";
  ref<zr::MemoryFile> file = documentFromText(text, format());
  ref<zr::Object> loaded = load(serializer, file.get(), true, format());
  ASSERT_TRUE(loaded);
  ASSERT_TRUE(loaded->isOfType(zrtest::Material::Type()));
  EXPECT_EQ(static_cast<zrtest::Material*>(loaded.get())->name, "first");
  EXPECT_TRUE(log.entries().empty()) << log.all();
}

TEST_P(SerializerIOTest, MissingPathIsAReadError) {
  for (const std::string& path : {folder.path("missing.doc"), folder.folder().string()}) {
    log.clear();
    serializer.setDocumentURL("earlier");
    EXPECT_FALSE(load(serializer, path, true, format()));
    EXPECT_EQ(serializer.error(), ZRXSerializer::ReadError);
    EXPECT_EQ(log.errors(), (Errors{std::string("ZRXSerializer::load") + name() +
                                    "() file not found : " + path + "\n"}));
    EXPECT_EQ(serializer.documentURL(), zr::String("earlier"));
  }
}

TEST_P(SerializerIOTest, ReadsTheWholeFileWhereverItWasLeft) {
  ref<zr::ResourceDatabase> original = zrtest::makeSampleGraph();
  ref<zr::MemoryFile> file = new zr::MemoryFile;
  ASSERT_TRUE(save(serializer, file.get(), original.get(), true, format()));
  // Left open for reading, part of the way in.
  ASSERT_TRUE(file->open(zr::VirtualFile::ReadOnly));
  char skipped[5];
  ASSERT_EQ(file->read(skipped, 5), 5);
  ZRXSerializer reader = makeSerializer();
  ref<zr::Object> loaded = load(reader, file.get(), true, format());
  ASSERT_TRUE(loaded) << log.all();
  EXPECT_EQ(zrtest::graphDifference(original.get(), loaded.get()), "");
  EXPECT_FALSE(file->isOpen());
}

}  // namespace
