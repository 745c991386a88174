// The one-call save and load of a resource database and the format detection: round trips by
// file and by path, the type check of what a load gives, and the exact lines that report a
// serializer's failure.
#include "zrX/ioZRX.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/FaultyFile.hpp"
#include "support/HostModel.hpp"
#include "support/LogCapture.hpp"
#include "support/TempFolder.hpp"
#include "zrX/Serializer.hpp"

namespace {

using zr::ref;
using zrX::ZRXSerializer;
using Errors = std::vector<std::string>;

const std::string kMagic(
    "\xAB"
    "ZRX\xBB\r\n\x1A\n",
    9);

ref<zr::MemoryFile> fileWith(const std::string& bytes) {
  return new zr::MemoryFile(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

zr::String str(const std::string& text) { return zr::String(text.c_str()); }

// The free functions of one format, to run every test on both.
struct Functions {
  const char* name;
  ref<zr::ResourceDatabase> (*loadFile)(zr::VirtualFile*);
  ref<zr::ResourceDatabase> (*loadPath)(const zr::String&);
  bool (*saveFile)(zr::VirtualFile*, const zr::ResourceDatabase*);
  bool (*savePath)(const zr::String&, const zr::ResourceDatabase*);
  bool (*isFile)(zr::VirtualFile*);
  bool (*isPath)(const zr::String&);
  bool (*otherIsFile)(zr::VirtualFile*);
  bool (ZRXSerializer::*serializerSave)(zr::VirtualFile*, const zr::Object*, bool);
};

const Functions kZRT = {"ZRT",        zrX::loadZRT, zrX::loadZRT,
                        zrX::saveZRT, zrX::saveZRT, zrX::isZRT,
                        zrX::isZRT,   zrX::isZRB,   &ZRXSerializer::saveZRT};
const Functions kZRB = {"ZRB",        zrX::loadZRB, zrX::loadZRB,
                        zrX::saveZRB, zrX::saveZRB, zrX::isZRB,
                        zrX::isZRB,   zrX::isZRT,   &ZRXSerializer::saveZRB};

class IoZRXTest : public ::testing::TestWithParam<const Functions*> {
 protected:
  IoZRXTest() : previous(zrX::defZRXRegistry()) {
    zrX::setDefZRXRegistry(zrtest::makeHostRegistry().get());
  }
  ~IoZRXTest() override { zrX::setDefZRXRegistry(previous.get()); }

  const Functions& f() const { return *GetParam(); }
  std::string name() const { return f().name; }
  std::string documentPath() const { return folder.path("database." + name()); }
  // A text document in this test's format: read without linking and written again.
  ref<zr::MemoryFile> documentFromText(const std::string& text) const {
    ref<zr::MemoryFile> file = fileWith(text);
    if (name() == "ZRT") return file;
    zrX::Document document;
    zrX::ReadOptions options;
    options.link = false;
    EXPECT_EQ(zrX::readDocument(file.get(), zrX::Format::ZRT, document, options),
              zrX::ReadStatus::Ok);
    ref<zr::MemoryFile> binary = new zr::MemoryFile;
    EXPECT_TRUE(zrX::writeDocument(binary.get(), zrX::Format::ZRB, document).ok());
    return binary;
  }

  ref<zrX::Registry> previous;
  zrtest::TempFolder folder{"zrx_iozrx_test"};
  zrtest::LogCapture log;
};

INSTANTIATE_TEST_SUITE_P(Formats, IoZRXTest, ::testing::Values(&kZRT, &kZRB),
                         [](const ::testing::TestParamInfo<const Functions*>& info) {
                           return std::string(info.param->name);
                         });

TEST_P(IoZRXTest, DatabaseRoundTripsByFileAndByPath) {
  ref<zr::ResourceDatabase> original = zrtest::makeSampleGraph();

  ref<zr::MemoryFile> memory = new zr::MemoryFile;
  ASSERT_TRUE(f().saveFile(memory.get(), original.get()));
  EXPECT_FALSE(memory->isOpen());
  ref<zr::ResourceDatabase> fromMemory = f().loadFile(memory.get());
  ASSERT_TRUE(fromMemory);
  EXPECT_EQ(zrtest::graphDifference(original.get(), fromMemory.get()), "");
  // The serializer of the call is gone: the returned reference alone holds the database.
  EXPECT_EQ(fromMemory->referenceCount(), 1);

  ASSERT_TRUE(f().savePath(str(documentPath()), original.get()));
  EXPECT_EQ(folder.entries(), (std::vector<std::string>{"database." + name()}));
  EXPECT_EQ(zrtest::TempFolder::readBytes(documentPath()).size(), memory->data().size());
  ref<zr::ResourceDatabase> fromDisk = f().loadPath(str(documentPath()));
  ASSERT_TRUE(fromDisk);
  EXPECT_EQ(zrtest::graphDifference(original.get(), fromDisk.get()), "");
  EXPECT_TRUE(log.entries().empty()) << log.all();
}

TEST_P(IoZRXTest, DetectionByFileAndByPath) {
  ref<zr::ResourceDatabase> database = zrtest::makeSampleGraph();
  ref<zr::MemoryFile> text = new zr::MemoryFile;
  ASSERT_TRUE(zrX::saveZRT(text.get(), database.get()));
  ref<zr::MemoryFile> binary = new zr::MemoryFile;
  ASSERT_TRUE(zrX::saveZRB(binary.get(), database.get()));
  const bool isText = name() == "ZRT";

  const struct {
    const char* what;
    std::string bytes;
    bool expected;
  } cases[] = {
      {"text document", text->text(), isText},
      {"binary document", binary->text(), !isText},
      {"text header followed by anything", "ZRX version=\x01\xff not a document", isText},
      {"the text header alone", "ZRX version=", isText},
      {"text header cut short", "ZRX version", false},
      {"binary magic alone", kMagic, !isText},
      {"binary magic cut short", kMagic.substr(0, 8), false},
      {"other text", "ZRX vers1on=101", false},
      {"empty file", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ref<zr::MemoryFile> file = fileWith(c.bytes);
    EXPECT_EQ(f().isFile(file.get()), c.expected);
    EXPECT_FALSE(file->isOpen());
    const std::string path = folder.path("probe");
    zrtest::TempFolder::writeBytes(path, c.bytes);
    EXPECT_EQ(f().isPath(str(path)), c.expected);
  }

  EXPECT_FALSE(f().isFile(nullptr));
  EXPECT_FALSE(f().isPath(str(folder.path("missing"))));
  EXPECT_FALSE(f().isPath(str(folder.folder().string())));
  EXPECT_FALSE(f().isPath(zr::String("")));

  // A file open before the call is read from its start and closed after.
  ref<zr::MemoryFile> own = isText ? text : binary;
  ASSERT_TRUE(own->open(zr::VirtualFile::ReadOnly));
  char skipped[4];
  ASSERT_EQ(own->read(skipped, 4), 4);
  EXPECT_TRUE(f().isFile(own.get()));
  EXPECT_FALSE(own->isOpen());
  ASSERT_TRUE(own->open(zr::VirtualFile::ReadOnly));
  EXPECT_FALSE(f().otherIsFile(own.get()));
  EXPECT_FALSE(own->isOpen());
  EXPECT_TRUE(log.entries().empty()) << log.all();
}

TEST_P(IoZRXTest, NullWithoutMessageForOtherObjectsAndMetadataOnly) {
  // A document whose object is not a resource database.
  ref<zrtest::Node> node = new zrtest::Node;
  node->name = "alone";
  ZRXSerializer serializer;
  ref<zr::MemoryFile> file = new zr::MemoryFile;
  ASSERT_TRUE((serializer.*f().serializerSave)(file.get(), node.get(), true));
  EXPECT_FALSE(f().loadFile(file.get()));

  // A document of metadata alone.
  ref<zr::MemoryFile> metadata = documentFromText(
      "ZRX version=101 encoding=ascii\n<Metadata> {\n\tZR_Serializer_Version = 101\n}\n");
  EXPECT_FALSE(f().loadFile(metadata.get()));
  EXPECT_TRUE(log.entries().empty()) << log.all();
}

TEST_P(IoZRXTest, FailuresEndWithTheReportedLine) {
  const std::string loadLine = "zr::load" + name() + " : zrX::ZRXSerializer reported: ";
  const std::string saveLine = "zrX::save" + name() + " : zrX::ZRXSerializer reported: ";

  // Parse failure: the parser's messages, then the line.
  log.clear();
  EXPECT_FALSE(f().loadFile(fileWith("neither format").get()));
  ASSERT_GE(log.errors().size(), 2u);
  EXPECT_EQ(log.errors().back(), loadLine + "ImportError.\n");

  // Import failure.
  log.clear();
  EXPECT_FALSE(f().loadFile(
      documentFromText("ZRX version=101 encoding=ascii\n<Unknown> {\n\tx = 1\n}\n").get()));
  EXPECT_EQ(log.errors(), (Errors{"No importing serializer found for structure '<Unknown>'.",
                                  loadLine + "ImportError.\n"}));

  // A path with no file, and no file at all.
  log.clear();
  const std::string missing = folder.path("missing");
  EXPECT_FALSE(f().loadPath(str(missing)));
  EXPECT_EQ(log.errors(),
            (Errors{"ZRXSerializer::load" + name() + "() file not found : " + missing + "\n",
                    loadLine + "ReadError.\n"}));
  log.clear();
  EXPECT_FALSE(f().loadFile(nullptr));
  EXPECT_EQ(log.errors(),
            (Errors{"zr::load" + name() + " : no file given.\n", loadLine + "ReadError.\n"}));

  // Export failure.
  ref<zr::ResourceDatabase> database = zrtest::makeSampleGraph();
  database->resources().emplace_back(nullptr);
  log.clear();
  ref<zr::MemoryFile> file = fileWith("old");
  EXPECT_FALSE(f().saveFile(file.get(), database.get()));
  EXPECT_EQ(file->text(), "old");
  EXPECT_EQ(log.errors(),
            (Errors{"<ResourceDatabase>: resource 2 is null.",
                    "Error exporting 'zr::ResourceDatabase'.", saveLine + "ExportError.\n"}));

  // Short write, in memory and into a folder that does not exist.
  database->resources().pop_back();
  log.clear();
  ref<zrtest::FaultyFile> faulty = new zrtest::FaultyFile(30);
  EXPECT_FALSE(f().saveFile(faulty.get(), database.get()));
  EXPECT_EQ(log.errors(), (Errors{"ZRXSerializer::save" + name() + "() write error : faulty\n",
                                  saveLine + "WriteError.\n"}));
  log.clear();
  const std::string nowhere = folder.path("no/folder");
  EXPECT_FALSE(f().savePath(str(nowhere), database.get()));
  EXPECT_EQ(log.errors(),
            (Errors{"ZRXSerializer::save" + name() + "() write error : " + nowhere + "\n",
                    saveLine + "WriteError.\n"}));
  EXPECT_TRUE(log.warnings().empty());
}

TEST_P(IoZRXTest, FailedSaveOnDiskKeepsThePreviousDatabase) {
  ref<zr::ResourceDatabase> database = zrtest::makeSampleGraph();
  ASSERT_TRUE(f().savePath(str(documentPath()), database.get()));
  const std::string previous = zrtest::TempFolder::readBytes(documentPath());

  static_cast<zrtest::Node*>(database->resources()[0].get())->name = "changed";
  ref<zrtest::FaultyDiskFile> faulty = new zrtest::FaultyDiskFile(str(documentPath()), 64);
  EXPECT_FALSE(f().saveFile(faulty.get(), database.get()));
  EXPECT_EQ(zrtest::TempFolder::readBytes(documentPath()), previous);
  EXPECT_EQ(folder.entries().size(), 1u);

  ref<zr::ResourceDatabase> loaded = f().loadPath(str(documentPath()));
  ASSERT_TRUE(loaded);
  EXPECT_EQ(static_cast<zrtest::Node*>(loaded->resources()[0].get())->name,
            static_cast<zrtest::Node*>(zrtest::makeSampleGraph()->resources()[0].get())->name);
}

TEST(IoZRXDeathTest, SavingNoDatabaseFailsTheCheck) {
  ref<zr::MemoryFile> file = new zr::MemoryFile;
  EXPECT_DEATH(zrX::saveZRT(file.get(), nullptr), "Check failed: res_db");
  EXPECT_DEATH(zrX::saveZRB(zr::String("unused.zrb"), nullptr), "Check failed: res_db");
}

}  // namespace
