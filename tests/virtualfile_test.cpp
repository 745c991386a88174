// VirtualFile's typed little-endian I/O (through MemoryFile), DiskFile with its atomic replace
// through either kind of temporary (a writer killed mid-write included), and locateFile.
#include "zrCore/VirtualFile.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/FaultyFile.hpp"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using zr::ref;

// MemoryFile and the typed readers and writers
// -------------------------------------------------------

TEST(MemoryFile, TypedWritersAreLittleEndianByteForByte) {
  ref<zr::MemoryFile> file(new zr::MemoryFile());
  ASSERT_TRUE(file->open(zr::VirtualFile::WriteOnly));
  const float floats[2] = {1.0f, -2.5f};
  const double doubles[2] = {0.5, -0.0};
  const uint8_t raw[3] = {0xAA, 0xBB, 0xCC};
  struct Step {
    int64_t written;
    int64_t expected;
  };
  const Step steps[] = {
      {file->writeUInt8(0x7F), 1},
      {file->writeUInt8(raw, 3), 3},
      {file->writeUInt16(0x1234, true), 2},
      {file->writeUInt32(0x89ABCDEFu, true), 4},
      {file->writeFloat(floats, 2, true), 8},
      {file->writeDouble(1.0, true), 8},
      {file->writeDouble(doubles, 2, true), 16},
      {file->writeUInt16(0x1234, false), 2},  // big-endian on request
  };
  for (const Step& step : steps) EXPECT_EQ(step.written, step.expected);
  EXPECT_EQ(file->position(), 44);
  EXPECT_EQ(file->size(), 44);
  ASSERT_TRUE(file->close());

  const Bytes expected = {
      0x7F, 0xAA, 0xBB, 0xCC,                          // bytes
      0x34, 0x12,                                      // uint16
      0xEF, 0xCD, 0xAB, 0x89,                          // uint32
      0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x20, 0xC0,  // 1.0f, -2.5f
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F,  // 1.0
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE0, 0x3F,  // 0.5
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80,  // -0.0
      0x12, 0x34,                                      // uint16, big-endian
  };
  EXPECT_EQ(file->data(), expected);
}

TEST(MemoryFile, TypedReadersDecodeLittleEndian) {
  ref<zr::MemoryFile> file(new zr::MemoryFile(Bytes{
      0x34, 0x12, 0xFF, 0xFF,                          // two uint16
      0xEF, 0xCD, 0xAB, 0x89,                          // uint32
      0x00, 0x00, 0x20, 0xC0,                          // -2.5f
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F,  // 1.0
      0x12, 0x34,                                      // uint16 read big-endian
  }));
  ASSERT_TRUE(file->open(zr::VirtualFile::ReadOnly));
  uint16_t shorts[2] = {};
  uint32_t word = 0;
  float real = 0;
  double wide = 0;
  uint16_t big = 0;
  EXPECT_EQ(file->readUInt16(shorts, 2, true), 4);
  EXPECT_EQ(file->readUInt32(&word, 1, true), 4);
  EXPECT_EQ(file->readFloat(&real, 1, true), 4);
  EXPECT_EQ(file->readDouble(&wide, 1, true), 8);
  EXPECT_EQ(file->readUInt16(&big, 1, false), 2);
  EXPECT_EQ(shorts[0], 0x1234);
  EXPECT_EQ(shorts[1], 0xFFFF);
  EXPECT_EQ(word, 0x89ABCDEFu);
  EXPECT_EQ(real, -2.5f);
  EXPECT_EQ(wide, 1.0);
  EXPECT_EQ(big, 0x1234);
  EXPECT_EQ(file->position(), file->size());
}

TEST(MemoryFile, ShortReadsAtTheEnd) {
  ref<zr::MemoryFile> file(new zr::MemoryFile(Bytes{1, 2, 3, 4, 5, 6}));
  ASSERT_TRUE(file->open(zr::VirtualFile::ReadOnly));
  uint32_t words[2] = {0, 0};
  EXPECT_EQ(file->readUInt32(words, 2, true), 6);  // one value and a half
  EXPECT_EQ(words[0], 0x04030201u);
  EXPECT_EQ(file->position(), 6);
  uint8_t byte = 0;
  EXPECT_EQ(file->readUInt8(&byte), 0);
  double d = 0;
  EXPECT_EQ(file->readDouble(&d, 1, true), 0);
  // Counts whose byte size does not fit are refused, not wrapped around.
  file->open(zr::VirtualFile::ReadOnly);
  EXPECT_EQ(file->readDouble(&d, std::numeric_limits<int64_t>::max() / 4, true), 0);
  EXPECT_EQ(file->readUInt16(nullptr, -1, true), 0);
  EXPECT_EQ(file->position(), 0);
}

TEST(MemoryFile, ModesAndTheBufferAcrossClose) {
  ref<zr::MemoryFile> file(new zr::MemoryFile(Bytes{9, 9, 9}));
  uint8_t byte = 0;
  EXPECT_EQ(file->read(&byte, 1), 0);  // closed
  EXPECT_EQ(file->write(&byte, 1), 0);
  ASSERT_TRUE(file->open(zr::VirtualFile::WriteOnly));
  EXPECT_EQ(file->size(), 0);  // writing starts empty
  EXPECT_EQ(file->read(&byte, 1), 0);
  EXPECT_EQ(file->write("ab", 2), 2);
  EXPECT_TRUE(file->close());
  EXPECT_TRUE(file->close());  // closing a closed file
  EXPECT_EQ(file->text(), "ab");
  ASSERT_TRUE(file->open(zr::VirtualFile::ReadOnly));
  EXPECT_EQ(file->write("c", 1), 0);
  char text[3] = {};
  EXPECT_EQ(file->read(text, 3), 2);
  EXPECT_STREQ(text, "ab");
}

TEST(FaultyFile, AcceptsOnlyTheFirstBytesOfEachWritingSession) {
  ref<zrtest::FaultyFile> file(new zrtest::FaultyFile(3));
  ASSERT_TRUE(file->open(zr::VirtualFile::WriteOnly));
  EXPECT_EQ(file->write("ab", 2), 2);
  EXPECT_EQ(file->write("cd", 2), 1);
  EXPECT_EQ(file->write("e", 1), 0);
  EXPECT_EQ(file->text(), "abc");
  ASSERT_TRUE(file->open(zr::VirtualFile::WriteOnly));
  EXPECT_EQ(file->write("xyz", 3), 3);
}

// DiskFile
// --------------------------------------------------------------------------------------------

enum class Temporary { Unnamed, Named };

// A fresh folder per test, removed afterwards.
class DiskFolder : public testing::Test {
 protected:
  void SetUp() override {
    std::mt19937_64 random(static_cast<uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    mFolder = fs::temp_directory_path() / ("zrx_virtualfile_test_" + std::to_string(random()));
    ASSERT_TRUE(fs::create_directories(mFolder));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(mFolder, ignored);
  }

  std::string path(const char* name) const { return (mFolder / name).string(); }

  static void writeRaw(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
  }
  static std::string readRaw(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // Names of everything in the folder.
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(mFolder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path mFolder;
};

// The write tests run twice: with the unnamed temporary where the system offers one, and through
// the named fallback.
class DiskFileTest : public DiskFolder, public testing::WithParamInterface<Temporary> {
 protected:
  bool unnamed() const { return GetParam() == Temporary::Unnamed; }
  // A DiskFile (or a FaultyDiskFile with a write limit) set to this run's kind of temporary.
  ref<zr::DiskFile> diskFile(const std::string& target) const {
    ref<zr::DiskFile> file(new zr::DiskFile(target));
    file->setUnnamedTemporaryAllowed(unnamed());
    return file;
  }
  ref<zr::DiskFile> faultyFile(const std::string& target, int64_t limit) const {
    ref<zr::DiskFile> file(new zrtest::FaultyDiskFile(target, limit));
    file->setUnnamedTemporaryAllowed(unnamed());
    return file;
  }
};

INSTANTIATE_TEST_SUITE_P(Temporaries, DiskFileTest,
                         testing::Values(Temporary::Unnamed, Temporary::Named),
                         [](const testing::TestParamInfo<Temporary>& info) {
                           return info.param == Temporary::Unnamed ? "Unnamed" : "Named";
                         });

// While writing, the unnamed temporary is invisible and the fallback's name stands beside the
// target.
TEST_P(DiskFileTest, TheTemporaryIsUnnamedWhereTheSystemAllowsIt) {
  const std::string target = path("doc.zrb");
  ref<zr::DiskFile> file = diskFile(target);
  EXPECT_FALSE(file->writesUnnamedTemporary());  // not writing
  ASSERT_TRUE(file->open(zr::VirtualFile::WriteOnly));
  EXPECT_EQ(file->write("data", 4), 4);
  if (unnamed() && !file->writesUnnamedTemporary())
    GTEST_SKIP() << "the file system of " << mFolder << " has no unnamed files";
  EXPECT_EQ(file->writesUnnamedTemporary(), unnamed());
  const std::vector<std::string> during = entries();
  if (unnamed()) {
    EXPECT_TRUE(during.empty());
  } else {
    ASSERT_EQ(during.size(), 1u);
    EXPECT_EQ(during[0].rfind("doc.zrb.zrtmp.", 0), 0u) << during[0];
  }
  EXPECT_TRUE(file->close());
  EXPECT_FALSE(file->writesUnnamedTemporary());
  EXPECT_EQ(entries(), std::vector<std::string>{"doc.zrb"});
  EXPECT_EQ(readRaw(target), "data");
}

TEST_P(DiskFileTest, WriteThenReadRoundTrip) {
  const std::string target = path("doc.zrb");
  {
    ref<zr::DiskFile> file = diskFile(target);
    ASSERT_TRUE(file->open(zr::VirtualFile::WriteOnly));
    EXPECT_TRUE(file->isOpen());
    EXPECT_EQ(file->writeUInt32(0xCAFEBABEu, true), 4);
    const double values[2] = {3.25, -1e300};
    EXPECT_EQ(file->writeDouble(values, 2, true), 16);
    EXPECT_EQ(file->position(), 20);
    EXPECT_EQ(file->size(), 20);
    EXPECT_FALSE(fs::exists(target));  // nothing visible before close
    EXPECT_TRUE(file->close());
    EXPECT_FALSE(file->isOpen());
  }
  EXPECT_EQ(entries(), std::vector<std::string>{"doc.zrb"});
  ref<zr::DiskFile> file(new zr::DiskFile(target));
  EXPECT_EQ(file->size(), 20);
  ASSERT_TRUE(file->open(zr::VirtualFile::ReadOnly));
  uint32_t word = 0;
  double values[2] = {};
  EXPECT_EQ(file->readUInt32(&word, 1, true), 4);
  EXPECT_EQ(file->readDouble(values, 2, true), 16);
  EXPECT_EQ(word, 0xCAFEBABEu);
  EXPECT_EQ(values[0], 3.25);
  EXPECT_EQ(values[1], -1e300);
  EXPECT_EQ(file->position(), 20);
  EXPECT_EQ(file->read(&word, 4), 0);
  EXPECT_EQ(file->write(&word, 4), 0);  // not open for writing
  EXPECT_TRUE(file->close());
}

TEST_P(DiskFileTest, OpeningAMissingFileOrAFolderForReadingFails) {
  ref<zr::DiskFile> file = diskFile(path("absent"));
  EXPECT_FALSE(file->open(zr::VirtualFile::ReadOnly));
  EXPECT_FALSE(file->isOpen());
  EXPECT_EQ(file->size(), -1);
  ref<zr::DiskFile> folder(new zr::DiskFile(mFolder.string()));
  EXPECT_FALSE(folder->open(zr::VirtualFile::ReadOnly));
  EXPECT_FALSE(folder->isOpen());
  ref<zr::DiskFile> nowhere = diskFile(path("no/such/folder/doc"));
  EXPECT_FALSE(nowhere->open(zr::VirtualFile::WriteOnly));
  EXPECT_FALSE(nowhere->isOpen());
}

// Every way a write can end without committing leaves the old file and no temporary behind.
TEST_P(DiskFileTest, AnUncommittedWriteLeavesTheOldFileByteIdentical) {
  const std::string old = std::string("old content\0with a zero\n", 24);
  struct Case {
    const char* name;
    int64_t writeLimit;  // a FaultyDiskFile that stops after so many bytes; -1 for a DiskFile
    void (*end)(zr::DiskFile* file);
  };
  const Case cases[] = {
      {"write fails, then close", 5,
       [](zr::DiskFile* file) {
         ASSERT_TRUE(file->open(zr::VirtualFile::WriteOnly));
         EXPECT_EQ(file->write("new content", 11), 5);
         EXPECT_FALSE(file->close());  // the failed write is not committed
       }},
      {"write fails, then abandon", 0,
       [](zr::DiskFile* file) {
         ASSERT_TRUE(file->open(zr::VirtualFile::WriteOnly));
         EXPECT_EQ(file->writeUInt32(1, true), 0);
         file->abandon();
         EXPECT_FALSE(file->isOpen());
       }},
      {"abandoned after good writes", -1,
       [](zr::DiskFile* file) {
         ASSERT_TRUE(file->open(zr::VirtualFile::WriteOnly));
         EXPECT_EQ(file->write("new content", 11), 11);
         file->abandon();
         EXPECT_TRUE(file->close());  // already closed
       }},
      {"destroyed while open", -1,
       [](zr::DiskFile* file) {
         ASSERT_TRUE(file->open(zr::VirtualFile::WriteOnly));
         EXPECT_EQ(file->write("new content", 11), 11);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string target = path("doc.zrt");
    writeRaw(target, old);
    c.end((c.writeLimit < 0 ? diskFile(target) : faultyFile(target, c.writeLimit)).get());
    EXPECT_EQ(readRaw(target), old);
    EXPECT_EQ(entries(), std::vector<std::string>{"doc.zrt"});
  }
}

// The commit's last step fails (a folder stands at the target): close() is false and the
// temporary, named by then, goes.
TEST_P(DiskFileTest, AFailedRenameLeavesNothingBehind) {
  const std::string target = path("doc.zrt");
  ASSERT_TRUE(fs::create_directory(target));
  writeRaw(path("doc.zrt/inside"), "kept");
  ref<zr::DiskFile> file = diskFile(target);
  ASSERT_TRUE(file->open(zr::VirtualFile::WriteOnly));
  EXPECT_EQ(file->write("new", 3), 3);
  EXPECT_FALSE(file->close());
  EXPECT_FALSE(file->isOpen());
  EXPECT_EQ(entries(), std::vector<std::string>{"doc.zrt"});
  EXPECT_EQ(readRaw(path("doc.zrt/inside")), "kept");
}

TEST_P(DiskFileTest, ASuccessfulCloseReplacesTheFileAndKeepsItsPermissions) {
  const std::string target = path("doc.zrt");
  writeRaw(target, "a much longer old content that must vanish completely");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
                  fs::perm_options::replace);
  ref<zr::DiskFile> file = diskFile(target);
  ASSERT_TRUE(file->open(zr::VirtualFile::WriteOnly));
  EXPECT_EQ(file->write("short", 5), 5);
  EXPECT_TRUE(file->close());
  EXPECT_EQ(readRaw(target), "short");
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(entries(), std::vector<std::string>{"doc.zrt"});

  // The same file object writes again.
  ASSERT_TRUE(file->open(zr::VirtualFile::WriteOnly));
  EXPECT_EQ(file->position(), 0);
  EXPECT_EQ(file->write("second", 6), 6);
  EXPECT_TRUE(file->close());
  EXPECT_EQ(readRaw(target), "second");
}

TEST_P(DiskFileTest, ATargetWithTheLongestFileNameIsWritten) {
  // The temporary's name beside it must not exceed the file-name limit that the target just meets.
  const std::string name(250, 'n');
  const std::string target = path((name + ".zrt").c_str());
  ref<zr::DiskFile> file = diskFile(target);
  ASSERT_TRUE(file->open(zr::VirtualFile::WriteOnly));
  EXPECT_EQ(file->write("long", 4), 4);
  EXPECT_TRUE(file->close());
  EXPECT_EQ(readRaw(target), "long");
  EXPECT_EQ(entries(), std::vector<std::string>{name + ".zrt"});
}

TEST_P(DiskFileTest, TwoWritersOfOneTargetDoNotShareATemporary) {
  const std::string target = path("doc.zrt");
  ref<zr::DiskFile> first = diskFile(target), second = diskFile(target);
  ASSERT_TRUE(first->open(zr::VirtualFile::WriteOnly));
  ASSERT_TRUE(second->open(zr::VirtualFile::WriteOnly));
  EXPECT_EQ(first->write("first", 5), 5);
  EXPECT_EQ(second->write("second", 6), 6);
  EXPECT_TRUE(first->close());
  EXPECT_EQ(readRaw(target), "first");
  EXPECT_TRUE(second->close());
  EXPECT_EQ(readRaw(target), "second");
  EXPECT_EQ(entries(), std::vector<std::string>{"doc.zrt"});
}

// A writer killed part-way (SIGKILL: no destructor, no handler runs). The child writes well past
// the stdio buffer, tells the parent through a pipe, and waits to be killed. The previous document
// is intact; the unnamed temporary leaves nothing, the named fallback leaves its file.
TEST_P(DiskFileTest, AWriterKilledMidWriteLeavesThePreviousDocument) {
  const std::string target = path("doc.zrb");
  const std::string old = "the previous document";
  writeRaw(target, old);
  ref<zr::DiskFile> probe = diskFile(target);
  ASSERT_TRUE(probe->open(zr::VirtualFile::WriteOnly));
  const bool unnamedHere = probe->writesUnnamedTemporary();
  probe->abandon();
  if (unnamed() && !unnamedHere)
    GTEST_SKIP() << "the file system of " << mFolder << " has no unnamed files";

  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(60);  // never outlive a parent that failed to kill
    close(ready[0]);
    ref<zr::DiskFile> file = diskFile(target);
    const std::vector<uint8_t> block(64 * 1024, 0x5A);
    bool wrote = file->open(zr::VirtualFile::WriteOnly);
    for (int i = 0; wrote && i < 16; ++i)
      wrote = file->writeUInt8(block.data(), static_cast<int64_t>(block.size())) ==
              static_cast<int64_t>(block.size());
    const char signal = wrote ? 'w' : 'f';
    if (write(ready[1], &signal, 1) != 1) _exit(2);
    for (;;) pause();
  }
  close(ready[1]);
  char signal = 0;
  const ssize_t got = read(ready[0], &signal, 1);
  close(ready[0]);
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_EQ(got, 1);
  ASSERT_EQ(signal, 'w') << "the child could not write";
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);

  EXPECT_EQ(readRaw(target), old);
  const std::vector<std::string> left = entries();
  if (unnamed()) {
    EXPECT_EQ(left, std::vector<std::string>{"doc.zrb"});
  } else {
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0], "doc.zrb");
    EXPECT_EQ(left[1].rfind("doc.zrb.zrtmp.", 0), 0u) << left[1];
  }
}

TEST_F(DiskFolder, LocateFileFindsOnlyRegularFiles) {
  const std::string existing = path("doc.zrt");
  writeRaw(existing, "ZRX");
  fs::create_directory(path("folder"));

  ref<zr::VirtualFile> found = zr::locateFile(existing);
  ASSERT_TRUE(found);
  EXPECT_TRUE(found->isOfType(zr::DiskFile::Type()));
  EXPECT_EQ(found->path().toStdString(), existing);
  EXPECT_FALSE(found->isOpen());
  ASSERT_TRUE(found->open(zr::VirtualFile::ReadOnly));
  char text[4] = {};
  EXPECT_EQ(found->read(text, 4), 3);
  EXPECT_STREQ(text, "ZRX");
  found->close();

  for (const std::string& missing : {path("absent.zrt"), path("folder"), std::string()}) {
    EXPECT_FALSE(zr::locateFile(missing)) << missing;
  }
}

// A file opened for reading hands out its content as a mapping once it is asked for, beside the
// usual reads; small files, and any file while mapped reads are off, are read as before.
TEST_F(DiskFolder, ReadingMapsTheContentOfLargerFiles) {
  std::string large(100 * 1024 + 3, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 131 % 251);
  writeRaw(path("large.zrb"), large);
  writeRaw(path("small.zrb"), large.substr(0, 4000));

  ref<zr::DiskFile> file(new zr::DiskFile(path("large.zrb")));
  EXPECT_EQ(file->contentInMemory(), nullptr);  // not open
  ASSERT_TRUE(file->open(zr::VirtualFile::ReadOnly));
  EXPECT_FALSE(file->isMapped());  // mapped on request only
  char head[5] = {};
  EXPECT_EQ(file->read(head, 5), 5);
  const uint8_t* content = file->contentInMemory();
  ASSERT_NE(content, nullptr);
  EXPECT_TRUE(file->isMapped());
  EXPECT_EQ(file->contentInMemory(), content);
  EXPECT_EQ(file->size(), static_cast<int64_t>(large.size()));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(content), large.size()), large);
  EXPECT_EQ(file->position(), 5);  // reads go on beside the mapping
  EXPECT_EQ(std::string(head, 5), large.substr(0, 5));
  // A file that grows after the open keeps the size the mapping covers until it is reopened.
  std::ofstream(path("large.zrb"), std::ios::binary | std::ios::app) << "more";
  EXPECT_EQ(file->size(), static_cast<int64_t>(large.size()));
  EXPECT_TRUE(file->close());
  EXPECT_FALSE(file->isMapped());
  EXPECT_EQ(file->contentInMemory(), nullptr);
  ASSERT_TRUE(file->open(zr::VirtualFile::ReadOnly));
  EXPECT_EQ(file->size(), static_cast<int64_t>(large.size() + 4));
  ASSERT_NE(file->contentInMemory(), nullptr);
  file = nullptr;  // destroyed while mapped

  ref<zr::DiskFile> small(new zr::DiskFile(path("small.zrb")));
  ASSERT_TRUE(small->open(zr::VirtualFile::ReadOnly));
  EXPECT_EQ(small->contentInMemory(), nullptr);
  EXPECT_EQ(small->size(), 4000);

  ASSERT_TRUE(zr::DiskFile::mappedReads());
  zr::DiskFile::setMappedReads(false);
  ref<zr::DiskFile> unmapped(new zr::DiskFile(path("large.zrb")));
  ASSERT_TRUE(unmapped->open(zr::VirtualFile::ReadOnly));
  zr::DiskFile::setMappedReads(true);  // later opens only
  EXPECT_EQ(unmapped->contentInMemory(), nullptr);
  EXPECT_FALSE(unmapped->isMapped());
}

}  // namespace
