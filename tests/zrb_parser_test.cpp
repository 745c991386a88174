// ParserZRB: headers, the worked examples, every value kind, hostile input (cut files, negative
// and huge counts, overlong integers, deep nesting) and round trips of generated documents.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "support/LogCapture.hpp"
#include "support/SmallStack.hpp"
#include "support/TreeCompare.hpp"
#include "support/TreeGen.hpp"
#include "zrX/Cycles.hpp"
#include "zrX/ParserZRB.hpp"
#include "zrX/Value.hpp"
#include "zrX/VisitorExportToZRB.hpp"

// The size of the largest single allocation while `gTrackAllocations` is set. Under ASan the
// allocator's own limit takes its place (no replacement of operator new there).
namespace {
std::atomic<bool> gTrackAllocations{false};
std::atomic<size_t> gLargestAllocation{0};
}  // namespace

#if defined(ZRX_TEST_ASAN)
extern "C" const char* __asan_default_options() { return "max_allocation_size_mb=64"; }
#else
// Out of line, so the compiler does not pair the new-expressions with free().
__attribute__((noinline)) void* operator new(size_t size) {
  if (gTrackAllocations.load(std::memory_order_relaxed)) {
    size_t largest = gLargestAllocation.load();
    while (size > largest && !gLargestAllocation.compare_exchange_weak(largest, size)) {
    }
  }
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, size_t) noexcept { std::free(p); }
#endif

namespace {

using zr::ref;
using zrX::ZRXStructure;
using zrX::ZRXValue;
using Bytes = std::vector<uint8_t>;

const Bytes kHeader = {0xAB, 0x5A, 0x52, 0x58, 0xBB, 0x0D, 0x0A, 0x1A, 0x0A, 0x65, 0x00,
                       0x61, 0x73, 0x63, 0x69, 0x69, 0x00, 0x00, 0x00, 0x00, 0x00};
// An untagged top-level structure with ID "#NULL" and one entry "k": its value follows.
const Bytes kOneEntry = {0x01, 0x00, 0x05, '#', 'N', 'U', 'L', 'L', 0x01, 0x01, 'k'};

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes& operator+=(Bytes& a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string offsetError(size_t offset) {
  return "Error parsing binary file at offset " + std::to_string(offset) + ".\n";
}

struct Parsed {
  bool ok = false;
  std::vector<std::string> errors;
  std::vector<ref<ZRXStructure>> structures;
  zrX::MetadataMap metadata;
  uint32_t headerWord = 0;
};

Parsed parseFile(zr::VirtualFile* file) {
  zrtest::LogCapture log;
  zrX::ParserZRB parser;
  parser.setInputFile(file);
  Parsed out;
  out.ok = parser.parse();
  out.errors = log.errors();
  out.structures = parser.structures();
  out.metadata = parser.metadata();
  out.headerWord = parser.headerWord();
  EXPECT_FALSE(file->isOpen());
  EXPECT_EQ(out.errors.size(), out.ok ? 0u : 1u);
  return out;
}

Parsed parseBytes(const Bytes& bytes) {
  ref<zr::MemoryFile> file(new zr::MemoryFile(bytes));
  return parseFile(file.get());
}

// The value of entry "k" of a document made of kOneEntry and `chunk`.
ZRXValue parseValue(const Bytes& chunk) {
  Parsed parsed = parseBytes(kHeader + kOneEntry + chunk);
  EXPECT_TRUE(parsed.ok) << (parsed.errors.empty() ? "" : parsed.errors[0]);
  if (!parsed.ok || parsed.structures.size() != 1 || parsed.structures[0]->value().size() != 1)
    return ZRXValue();
  return parsed.structures[0]->value()[0].value();
}

std::string failureOf(const Bytes& bytes) {
  Parsed parsed = parseBytes(bytes);
  EXPECT_FALSE(parsed.ok);
  return parsed.errors.empty() ? std::string() : parsed.errors[0];
}

Bytes writeDocument(const std::vector<ref<ZRXStructure>>& roots,
                    std::vector<size_t>* boundaries = nullptr) {
  ref<zr::MemoryFile> file(new zr::MemoryFile);
  zrX::VisitorExportToZRB writer(file.get());
  writer.writeHeader();
  for (const ref<ZRXStructure>& root : roots) {
    root->acceptVisitor(&writer);
    if (boundaries) boundaries->push_back(static_cast<size_t>(writer.bytesWritten()));
  }
  EXPECT_FALSE(writer.failed()) << writer.failure();
  file->close();
  return file->data();
}

void release(std::vector<ref<ZRXStructure>>& roots) {
  std::vector<ref<zrX::ZRXTaggedValue>> nodes(roots.begin(), roots.end());
  roots.clear();
  zrX::breakCycles(nodes);
}

bool link(const std::vector<ref<ZRXStructure>>& roots) {
  return zrX::Parser::link(std::vector<ref<zrX::ZRXTaggedValue>>(roots.begin(), roots.end()));
}

TEST(ZRBParser, HeaderOnlyIsAnEmptyDocument) {
  Parsed parsed = parseBytes(kHeader);
  EXPECT_TRUE(parsed.ok);
  EXPECT_TRUE(parsed.structures.empty());
  EXPECT_TRUE(parsed.metadata.empty());

  Bytes word = kHeader;
  word[17] = 0xEF, word[18] = 0xBE, word[19] = 0xAD, word[20] = 0xDE;
  parsed = parseBytes(word);
  EXPECT_TRUE(parsed.ok);
  EXPECT_EQ(parsed.headerWord, 0xDEADBEEFu);
}

TEST(ZRBParser, BadHeaders) {
  const std::string header = "ParserZRB : error parsing ZRB header.\n";
  const std::string version = "ZRX version not supported.\n";
  const std::string encoding = "Encoding not supported.\n";
  const Bytes magic(kHeader.begin(), kHeader.begin() + 9);
  const Bytes tail = {0x00, 0x00, 0x00, 0x00};
  const struct {
    const char* name;
    Bytes bytes;
    std::string message;
  } cases[] = {
      {"empty file", {}, header},
      {"wrong first byte", Bytes{0xAC} + Bytes(kHeader.begin() + 1, kHeader.end()), header},
      {"wrong last magic byte",
       Bytes(kHeader.begin(), kHeader.begin() + 8) + Bytes{0x0B, 0x65, 0x00} + text("ascii") +
           Bytes{0x00} + tail,
       header},
      {"cut in the magic", Bytes(kHeader.begin(), kHeader.begin() + 5), header},
      {"cut in the version", magic + Bytes{0x65}, header},
      {"encoding without its 0 byte", magic + Bytes{0x65, 0x00} + text("ascii"), header},
      {"cut in the header word",
       magic + Bytes{0x65, 0x00} + text("ascii") + Bytes{0x00, 0x00, 0x00}, header},
      {"version 100", magic + Bytes{0x64, 0x00} + text("ascii") + Bytes{0x00} + tail, version},
      {"version 102", magic + Bytes{0x66, 0x00} + text("ascii") + Bytes{0x00} + tail, version},
      {"version 101 big-endian", magic + Bytes{0x00, 0x65} + text("ascii") + Bytes{0x00} + tail,
       version},
      {"empty encoding", magic + Bytes{0x65, 0x00, 0x00} + tail, encoding},
      {"encoding ASCII", magic + Bytes{0x65, 0x00} + text("ASCII") + Bytes{0x00} + tail, encoding},
      {"encoding utf8", magic + Bytes{0x65, 0x00} + text("utf8") + Bytes{0x00} + tail, encoding},
  };
  for (const auto& c : cases) EXPECT_EQ(failureOf(c.bytes), c.message) << c.name;
  // A bad version fails even when the rest is a valid document.
  EXPECT_EQ(failureOf(magic + Bytes{0x64, 0x00} + text("ascii") + Bytes{0x00} + tail + kOneEntry +
                      Bytes{0x0B, 0x01}),
            version);
}

TEST(ZRBParser, WorkedExamples) {
  const Bytes metadata = Bytes{0x01, 0x0A} + text("<Metadata>") + Bytes{0x05} + text("#NULL") +
                         Bytes{0x01, 0x15} + text("ZR_Serializer_Version") +
                         Bytes{0x0B, 0xA5, 0x01};
  Parsed parsed = parseBytes(kHeader + metadata);
  ASSERT_TRUE(parsed.ok);
  EXPECT_TRUE(parsed.structures.empty());
  ASSERT_EQ(parsed.metadata.count("ZR_Serializer_Version"), 1u);
  EXPECT_EQ(parsed.metadata["ZR_Serializer_Version"].getInteger(), 101);

  ZRXValue list = parseValue({0x02, 0x00, 0x03, 0x0B, 0x01, 0x07, 0x02, 0x61, 0x62, 0x0C, 0x01});
  ASSERT_EQ(list.type(), ZRXValue::List);
  ASSERT_EQ(list.getList()->value().size(), 3u);
  EXPECT_EQ(list.getList()->value()[0].getInteger(), 1);
  EXPECT_EQ(list.getList()->value()[1].getString(), "ab");
  EXPECT_TRUE(list.getList()->value()[2].getBool());

  ZRXValue floats = parseValue({0x04, 0x00, 0x02, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x3F});
  ASSERT_EQ(floats.type(), ZRXValue::ArrayReal);
  EXPECT_EQ(floats.getArrayReal()->value(), (std::vector<double>{1.0, 0.5}));

  ZRXValue doubles = parseValue({0x03, 0x00, 0x01, 0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xB9, 0x3F});
  ASSERT_EQ(doubles.type(), ZRXValue::ArrayReal);
  EXPECT_EQ(doubles.getArrayReal()->value(), (std::vector<double>{0.1}));

  ZRXValue integers = parseValue({0x05, 0x00, 0x03, 0x04, 0x01, 0x41, 0xA4, 0x01});
  ASSERT_EQ(integers.type(), ZRXValue::ArrayInteger);
  EXPECT_EQ(integers.getArrayInteger()->value(), (std::vector<int64_t>{1, -1, 100}));

  // A float that is not a round number reads back as exactly the float's value.
  ZRXValue third = parseValue({0x04, 0x00, 0x01, 0xAB, 0xAA, 0xAA, 0x3E});
  EXPECT_EQ(third.getArrayReal()->value()[0], static_cast<double>(1.0f / 3.0f));
}

TEST(ZRBParser, EmptyArrays) {
  // Empty double arrays never come from the writer (it writes floats), but are valid.
  ZRXValue doubles = parseValue({0x03, 0x00, 0x00});
  ASSERT_EQ(doubles.type(), ZRXValue::ArrayReal);
  EXPECT_TRUE(doubles.getArrayReal()->value().empty());
  ZRXValue floats = parseValue({0x04, 0x03, '<', 'F', '>', 0x00});
  ASSERT_EQ(floats.type(), ZRXValue::ArrayReal);
  EXPECT_EQ(floats.getArrayReal()->tag(), "<F>");
  EXPECT_TRUE(floats.getArrayReal()->value().empty());
  ZRXValue integers = parseValue({0x05, 0x00, 0x00});
  ASSERT_EQ(integers.type(), ZRXValue::ArrayInteger);
  EXPECT_TRUE(integers.getArrayInteger()->value().empty());
}

TEST(ZRBParser, EmptyTextsAndNonZeroBooleans) {
  Parsed parsed = parseBytes(kHeader + Bytes{0x01, 0x00, 0x00, 0x02, 0x00, 0x06, 0x00, 0x00} +
                             Bytes{0x00, 0x0C, 0x7F});
  ASSERT_TRUE(parsed.ok);
  ASSERT_EQ(parsed.structures.size(), 1u);
  const ZRXStructure& s = *parsed.structures[0];
  EXPECT_EQ(s.uid(), "");
  EXPECT_EQ(s.tag(), "");
  ASSERT_EQ(s.value().size(), 2u);
  EXPECT_EQ(s.value()[0].key(), "");
  EXPECT_EQ(s.value()[0].value().getRawtextBlock()->value(), "");
  EXPECT_TRUE(s.value()[1].value().getBool());
}

TEST(ZRBParser, TopLevelChunkMustBeAStructure) {
  EXPECT_EQ(failureOf(kHeader + Bytes{0x02, 0x00, 0x00}),
            "Error parsing binary file at offset 22. Expected chunk structure.\n");
  const Bytes first = kOneEntry + Bytes{0x0B, 0x01};
  EXPECT_EQ(failureOf(kHeader + first + Bytes{0x0B, 0x01}),
            "Error parsing binary file at offset " + std::to_string(21 + first.size() + 1) +
                ". Expected chunk structure.\n");
}

TEST(ZRBParser, UnknownValueCodes) {
  for (uint8_t code : {0x00, 0x0D, 0x80, 0xFF}) {
    EXPECT_EQ(failureOf(kHeader + kOneEntry + Bytes{code, 0x00}),
              offsetError(21 + kOneEntry.size() + 1))
        << int(code);
  }
}

TEST(ZRBParser, NegativeCounts) {
  // A list or structure with a negative count is empty, and reading goes on after it.
  ZRXValue list = parseValue({0x02, 0x00, 0x41});
  EXPECT_TRUE(list.getList()->value().empty());
  Parsed parsed = parseBytes(kHeader + Bytes{0x01, 0x00, 0x00, 0x02, 0x01, 'a', 0x01, 0x00, 0x00,
                                             0xC0, 0x01, 0x01, 'b', 0x0B, 0x05});
  ASSERT_TRUE(parsed.ok);
  ASSERT_EQ(parsed.structures[0]->value().size(), 2u);
  EXPECT_TRUE(parsed.structures[0]->value()[0].value().getStructure()->value().empty());
  EXPECT_EQ(parsed.structures[0]->value()[1].value().getInteger(), 5);
  // Arrays, byte counts and string lengths may not be negative.
  const size_t at = 21 + kOneEntry.size();
  EXPECT_EQ(failureOf(kHeader + kOneEntry + Bytes{0x03, 0x00, 0x41}), offsetError(at + 3));
  EXPECT_EQ(failureOf(kHeader + kOneEntry + Bytes{0x04, 0x00, 0x41}), offsetError(at + 3));
  EXPECT_EQ(failureOf(kHeader + kOneEntry + Bytes{0x05, 0x00, 0x41}), offsetError(at + 3));
  EXPECT_EQ(failureOf(kHeader + kOneEntry + Bytes{0x05, 0x00, 0x01, 0x41, 0x01}),
            offsetError(at + 4));
  EXPECT_EQ(failureOf(kHeader + kOneEntry + Bytes{0x07, 0x41, 'a'}), offsetError(at + 2));
}

TEST(ZRBParser, IntegerEncodings) {
  const int64_t kMin = std::numeric_limits<int64_t>::min();
  const Bytes eight(8, 0x80);
  const struct {
    const char* name;
    Bytes bytes;
    bool ok;
    int64_t value;
  } cases[] = {
      {"-2^63", Bytes{0xC0} + eight + Bytes{0x02}, true, kMin},
      {"2^62", Bytes{0x80} + eight + Bytes{0x01}, true, int64_t{1} << 62},
      {"non-minimal zero", {0x80, 0x00}, true, 0},
      {"negative zero", {0x40}, true, 0},
      {"2^63 without sign", Bytes{0x80} + eight + Bytes{0x02}, false, 0},
      {"-(2^63 + 1)", Bytes{0xC1} + eight + Bytes{0x02}, false, 0},
      {"tenth byte 3", Bytes{0xC0} + eight + Bytes{0x03}, false, 0},
      {"tenth byte continues", Bytes{0x80} + eight + Bytes{0x80, 0x00}, false, 0},
      {"eleven bytes", Bytes{0x80} + eight + Bytes{0x80, 0x80, 0x00}, false, 0},
  };
  for (const auto& c : cases) {
    Parsed parsed = parseBytes(kHeader + kOneEntry + Bytes{0x0B} + c.bytes);
    EXPECT_EQ(parsed.ok, c.ok) << c.name;
    if (c.ok && parsed.ok) {
      EXPECT_EQ(parsed.structures[0]->value()[0].value().getInteger(), c.value) << c.name;
    } else if (!c.ok && !parsed.ok) {
      // Rejected at the tenth byte, before any shift reaches 64.
      EXPECT_EQ(parsed.errors[0], offsetError(21 + kOneEntry.size() + 1 + 10)) << c.name;
    }
    // The same encodings inside a packed integer block.
    Bytes packed = {0x05, 0x00, 0x01, static_cast<uint8_t>(c.bytes.size())};
    EXPECT_EQ(parseBytes(kHeader + kOneEntry + packed + c.bytes).ok, c.ok) << "packed " << c.name;
  }
}

// A block that does not hold exactly the announced integers fails at its end: the block is read
// whole before its values are judged. The array's chunk starts at offset 32, its block at 36.
TEST(ZRBParser, PackedBlockMustHoldExactlyTheAnnouncedCount) {
  const struct {
    const char* name;
    Bytes chunk;
    bool ok;
    size_t failsAt;
  } cases[] = {
      {"three values", {0x05, 0x00, 0x03, 0x03, 0x01, 0x02, 0x03}, true, 0},
      {"two values for three", {0x05, 0x00, 0x03, 0x03, 0x01, 0x82, 0x03}, false, 39},
      {"four values for three", {0x05, 0x00, 0x03, 0x04, 0x01, 0x02, 0x03, 0x04}, false, 40},
      {"one value and a cut one", {0x05, 0x00, 0x01, 0x02, 0x01, 0x81}, false, 38},
      {"last value runs past the block",
       {0x05, 0x00, 0x03, 0x03, 0x01, 0x02, 0x83, 0x01},
       false,
       39},
      {"a malformed value", Bytes{0x05, 0x00, 0x02, 0x0C, 0x01} + Bytes(10, 0x80) + Bytes{0x01},
       false, 48},
      {"byte count 0", {0x05, 0x00, 0x03, 0x00}, false, 36},
      // The file ends before the block does: it counts as read to its end.
      {"block cut by the end of the file", {0x05, 0x00, 0x03, 0x05, 0x01, 0x02, 0x03}, false, 39},
  };
  for (const auto& c : cases) {
    Parsed parsed = parseBytes(kHeader + kOneEntry + c.chunk);
    EXPECT_EQ(parsed.ok, c.ok) << c.name;
    if (!c.ok) {
      EXPECT_EQ(parsed.errors, std::vector<std::string>{offsetError(c.failsAt)}) << c.name;
    }
  }
}

// A document with every chunk kind, two top-level structures, and a reference.
std::vector<ref<ZRXStructure>> everyKind() {
  ref<ZRXStructure> first(new ZRXStructure("<First>"));
  first->setID("#first");
  ZRXValue list, raw, ints, floats, doubles, nested, id, identifier, string, real, yes;
  yes.setBool(true);
  list.setList(new zrX::ZRXList("<L>"))->value().emplace_back(int64_t{-300});
  raw.setRawtextBlock(new zrX::ZRXRawtextBlock("<R>", "raw"));
  ints.setArrayInteger(new zrX::ZRXArrayInteger)->value() = {1, -70, 9000};
  floats.setArrayReal(new zrX::ZRXArrayReal)->value() = {0.5, -2.0};
  doubles.setArrayReal(new zrX::ZRXArrayReal("<D>"))->value() = {0.1};
  *nested.setStructure(new ZRXStructure("<N>")) << "b" << yes;
  id.setID("#first");
  identifier.setIdentifier("Ident");
  string.setString("str");
  real.setReal(2.25);
  *first << "list" << list << "raw" << raw << "ints" << ints << "floats" << floats << "doubles"
         << doubles << "nested" << nested << "self" << id;
  ref<ZRXStructure> second(new ZRXStructure("<Second>"));
  *second << "identifier" << identifier << "string" << string << "real" << real << "bool" << yes
          << "integer" << ZRXValue(int64_t{100});
  return {first, second};
}

TEST(ZRBParser, FileCutAtEveryOffsetFailsCleanly) {
  std::vector<size_t> boundaries;
  const Bytes whole = writeDocument(everyKind(), &boundaries);
  ASSERT_EQ(boundaries.size(), 2u);
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    Parsed parsed = parseBytes(Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)));
    if (cut < 21) {
      EXPECT_FALSE(parsed.ok);
      EXPECT_EQ(parsed.errors, std::vector<std::string>{"ParserZRB : error parsing ZRB header.\n"});
    } else if (cut == 21 || cut == boundaries[0]) {
      EXPECT_TRUE(parsed.ok) << cut;
      EXPECT_EQ(parsed.structures.size(), cut == 21 ? 0u : 1u);
    } else {
      EXPECT_FALSE(parsed.ok) << cut;
      EXPECT_EQ(parsed.errors, std::vector<std::string>{offsetError(cut)}) << cut;
      EXPECT_EQ(parsed.structures.size(), cut > boundaries[0] ? 1u : 0u);
    }
  }
  Parsed parsed = parseBytes(whole);
  ASSERT_TRUE(parsed.ok);
  ASSERT_TRUE(link(parsed.structures));
  std::vector<ref<ZRXStructure>> expected = everyKind();
  ASSERT_TRUE(link(expected));
  EXPECT_TRUE(zrtest::sameDocument(expected, parsed.structures));
  release(expected);
  release(parsed.structures);
}

// Lengths and counts far beyond a small file: rejected before anything is sized.
TEST(ZRBParser, HugeCountsInATinyFileAllocateNothingBig) {
  const Bytes huge = {0xBF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x3F};  // 2^62 - 1
  const Bytes big = {0x80, 0x80, 0x80, 0x02};                                 // 2^22
  // `atEnd`: the count runs past the file, which then counts as read to its end; otherwise the
  // failure is where the count is found (an integer count above its byte count).
  const struct {
    const char* name;
    Bytes chunk;
    bool atEnd;
  } cases[] = {
      {"string length", Bytes{0x07} + huge, true},
      {"string length 2^22", Bytes{0x07} + big, true},
      {"key length", {}, true},
      {"list count", Bytes{0x02, 0x00} + huge, true},
      {"list count 2^22", Bytes{0x02, 0x00} + big, true},
      {"structure count", Bytes{0x01, 0x00, 0x00} + huge, true},
      {"double count", Bytes{0x03, 0x00} + huge, true},
      {"double count 2^22", Bytes{0x03, 0x00} + big, true},
      {"float count", Bytes{0x04, 0x00} + huge, true},
      {"integer count", Bytes{0x05, 0x00} + huge + Bytes{0x3F}, false},
      {"integer byte count", Bytes{0x05, 0x00, 0x01} + huge, true},
      {"integer count 2^22 in a 2^22 block", Bytes{0x05, 0x00} + big + big, true},
      {"raw text", Bytes{0x06, 0x00} + huge, true},
      {"tag", Bytes{0x03} + huge, true},
  };
  for (const auto& c : cases) {
    const Bytes bytes = c.chunk.empty() ? kHeader + Bytes{0x01, 0x00, 0x00, 0x01} + huge
                                        : kHeader + kOneEntry + c.chunk + Bytes(64, 0x00);
    gLargestAllocation = 0;
    gTrackAllocations = true;
    Parsed parsed = parseBytes(bytes);
    gTrackAllocations = false;
    EXPECT_FALSE(parsed.ok) << c.name;
    const size_t at = c.atEnd ? bytes.size() : 21 + kOneEntry.size() + c.chunk.size();
    EXPECT_EQ(parsed.errors, std::vector<std::string>{offsetError(at)}) << c.name;
    EXPECT_LT(gLargestAllocation.load(), size_t{1} << 20) << c.name;
  }
}

// A file that cannot tell its size: read whole first, so the same limits hold.
class UnsizedFile : public zr::MemoryFile {
 public:
  using zr::MemoryFile::MemoryFile;
  int64_t size() const override { return -1; }
};

TEST(ZRBParser, FileWithoutAKnownSize) {
  const Bytes whole = writeDocument(everyKind());
  ref<UnsizedFile> file(new UnsizedFile(whole));
  Parsed parsed = parseFile(file.get());
  EXPECT_TRUE(parsed.ok);
  EXPECT_EQ(parsed.structures.size(), 2u);
  release(parsed.structures);

  const Bytes hostile = kHeader + kOneEntry + Bytes{0x03, 0x00, 0xBF, 0xFF, 0xFF, 0xFF, 0x3F};
  ref<UnsizedFile> bad(new UnsizedFile(hostile));
  parsed = parseFile(bad.get());
  EXPECT_EQ(parsed.errors, std::vector<std::string>{offsetError(hostile.size())});
}

// `levels` nested levels, structures and lists alternating, the outermost a top-level structure.
Bytes deepFile(int levels) {
  Bytes out = kHeader;
  for (int level = 1; level <= levels; ++level) {
    const bool last = level == levels;
    if (level % 2) {
      out += Bytes{0x01, 0x00, 0x00, static_cast<uint8_t>(last ? 0x00 : 0x01)};
      if (!last) out.push_back(0x00);  // the entry's empty key
    } else {
      out += Bytes{0x02, 0x00, static_cast<uint8_t>(last ? 0x00 : 0x01)};
    }
  }
  return out;
}

TEST(ZRBParser, NestingIsLimited) {
  EXPECT_TRUE(parseBytes(deepFile(zrX::kDefaultMaxDepth)).ok);
  // Level 1001 is refused just past its chunk code.
  const Bytes tooDeep = deepFile(zrX::kDefaultMaxDepth + 1);
  EXPECT_EQ(failureOf(tooDeep), offsetError(tooDeep.size() - 3));

  ref<zr::MemoryFile> file(new zr::MemoryFile(deepFile(5)));
  zrtest::LogCapture log;
  zrX::ParserZRB parser;
  parser.setMaxDepth(4);
  parser.setInputFile(file.get());
  EXPECT_FALSE(parser.parse());
}

TEST(ZRBParser, DeepestDocumentParsesOnASmallStack) {
#if defined(ZRX_TEST_ASAN)
  GTEST_SKIP() << "ASan frames are larger by design";
#endif
  const Bytes deepest = deepFile(zrX::kDefaultMaxDepth);
  bool ok = false;
  std::function<void()> body = [&] {
    ref<zr::MemoryFile> file(new zr::MemoryFile(deepest));
    zrX::ParserZRB parser;
    parser.setInputFile(file.get());
    ok = parser.parse();
  };
  ASSERT_TRUE(zrtest::runOnStack(zrtest::kOneMebibyte, body));
  EXPECT_TRUE(ok);
}

TEST(ZRBParser, LargeArraysAndTextsRoundTrip) {
  ref<ZRXStructure> root(new ZRXStructure("<Big>"));
  ZRXValue doubles, floats, integers, text;
  auto& d = doubles.setArrayReal(new zrX::ZRXArrayReal)->value();
  auto& f = floats.setArrayReal(new zrX::ZRXArrayReal)->value();
  auto& n = integers.setArrayInteger(new zrX::ZRXArrayInteger)->value();
  for (int i = 0; i < 100000; ++i) {
    d.push_back(0.1 * i);
    f.push_back(static_cast<float>(i) * 0.25f);
    n.push_back(i % 3 == 0 ? std::numeric_limits<int64_t>::min() + i
                           : int64_t{i} * i * (i % 2 ? 1 : -1));
  }
  text.setString(std::string(200000, 'x') + std::string(1, '\0') + "end");
  *root << "d" << doubles << "f" << floats << "n" << integers << "s" << text;
  std::vector<ref<ZRXStructure>> expected{root};
  Parsed parsed = parseBytes(writeDocument(expected));
  ASSERT_TRUE(parsed.ok);
  EXPECT_TRUE(zrtest::sameDocument(expected, parsed.structures));
}

TEST(ZRBParser, DiskFileRoundTrip) {
  // Large enough that strings and arrays take the bulk paths around the read buffer.
  std::vector<ref<ZRXStructure>> expected = everyKind();
  ZRXValue big;
  big.setArrayReal(new zrX::ZRXArrayReal)->value().assign(50000, 0.1);
  *expected[1] << "big" << big;
  const std::string path = std::string(ZRX_BINARY_DIR) + "/zrb_parser_test_disk.zrb";
  ref<zr::DiskFile> file(new zr::DiskFile(path.c_str()));
  {
    zrX::VisitorExportToZRB writer(file.get());
    writer.writeHeader();
    for (const ref<ZRXStructure>& root : expected) root->acceptVisitor(&writer);
    ASSERT_FALSE(writer.failed());
  }
  ASSERT_TRUE(file->close());
  Parsed parsed = parseFile(file.get());
  ASSERT_TRUE(parsed.ok);
  ASSERT_TRUE(link(expected));
  ASSERT_TRUE(link(parsed.structures));
  EXPECT_TRUE(zrtest::sameDocument(expected, parsed.structures));
  release(expected);
  release(parsed.structures);
  std::remove(path.c_str());
}

// Generated documents: link, write, parse, link, compare.
void roundTrip(const zrtest::TreeGenOptions& options) {
  std::vector<ref<ZRXStructure>> expected = zrtest::generateDocument(options);
  ASSERT_TRUE(link(expected)) << "seed " << options.seed;
  Parsed parsed = parseBytes(writeDocument(expected));
  ASSERT_TRUE(parsed.ok) << "seed " << options.seed << ": "
                         << (parsed.errors.empty() ? "" : parsed.errors[0]);
  EXPECT_TRUE(link(parsed.structures)) << "seed " << options.seed;
  EXPECT_TRUE(zrtest::sameDocument(expected, parsed.structures)) << "seed " << options.seed;
  release(expected);
  release(parsed.structures);
}

TEST(ZRBParser, GeneratedDocumentsRoundTrip) {
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    zrtest::TreeGenOptions options;
    options.seed = seed;
    options.topLevelStructures = 1 + static_cast<int>(seed % 3);
    options.maxDepth = 2 + static_cast<int>(seed % 6);
    roundTrip(options);
    roundTrip(zrtest::TreeGenOptions::textSafe(seed));
  }
}

TEST(ZRBParser, TreeCompareReportsDifferences) {
  // The comparison that the round trips rely on does see a change.
  zrtest::TreeGenOptions options;
  options.seed = 7;
  options.sharedStructures = false;
  options.idReferences = false;
  std::vector<ref<ZRXStructure>> a = zrtest::generateDocument(options);
  Parsed parsed = parseBytes(writeDocument(a));
  ASSERT_TRUE(parsed.ok);
  ASSERT_TRUE(zrtest::sameDocument(a, parsed.structures));
  *parsed.structures.back() << "extra" << ZRXValue(int64_t{1});
  EXPECT_FALSE(zrtest::sameDocument(a, parsed.structures));
}

}  // namespace
