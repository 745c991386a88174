// VisitorExportToZRB: the bytes of every chunk kind, the integer encoding, the float-or-double
// choice, ID references for repeated structures, what the writer records for trees it cannot
// carry, and write errors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "support/FaultyFile.hpp"
#include "support/LogCapture.hpp"
#include "support/SmallStack.hpp"
#include "support/TreeCompare.hpp"
#include "support/TreeGen.hpp"
#include "zrX/Cycles.hpp"
#include "zrX/ParserZRB.hpp"
#include "zrX/Value.hpp"
#include "zrX/VisitorExportToZRB.hpp"

namespace {

using zr::ref;
using zrX::ZRXArrayInteger;
using zrX::ZRXArrayReal;
using zrX::ZRXList;
using zrX::ZRXRawtextBlock;
using zrX::ZRXStructure;
using zrX::ZRXValue;
using Bytes = std::vector<uint8_t>;

const Bytes kHeader = {0xAB, 0x5A, 0x52, 0x58, 0xBB, 0x0D, 0x0A, 0x1A, 0x0A, 0x65, 0x00,
                       0x61, 0x73, 0x63, 0x69, 0x69, 0x00, 0x00, 0x00, 0x00, 0x00};

std::string hex(const Bytes& bytes) {
  std::string out;
  for (uint8_t b : bytes) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X ", b);
    out += text;
  }
  return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Counts the IDs and writes header and roots, as a save does.
Bytes writeDocument(const std::vector<ZRXStructure*>& roots, std::string* failure = nullptr) {
  zrX::IDCountMap ids;
  zrX::VisitorIDCounter counter;
  counter.setIDSet(&ids);
  for (ZRXStructure* root : roots) root->acceptVisitor(&counter);
  ref<zr::MemoryFile> file(new zr::MemoryFile);
  zrX::VisitorExportToZRB writer(file.get());
  writer.setIDSet(&ids);
  writer.writeHeader();
  for (ZRXStructure* root : roots) root->acceptVisitor(&writer);
  EXPECT_FALSE(writer.writeFailed());
  if (failure) {
    *failure = writer.failure();
  } else {
    EXPECT_FALSE(writer.failed()) << writer.failure();
  }
  file->close();
  return file->data();
}

// The bytes of one value chunk: written as the only entry "k" of an untagged top-level structure,
// whose known prefix is then cut off.
Bytes chunkOf(const ZRXValue& value) {
  ref<ZRXStructure> root(new ZRXStructure);
  *root << "k" << value;
  const Bytes prefix = kHeader + Bytes{0x01, 0x00, 0x05} + text("#NULL") + Bytes{0x01, 0x01, 'k'};
  const Bytes all = writeDocument({root.get()});
  EXPECT_EQ(hex(Bytes(all.begin(), all.begin() + static_cast<long>(prefix.size()))), hex(prefix));
  return Bytes(all.begin() + static_cast<long>(prefix.size()), all.end());
}

ZRXValue realArray(std::vector<double> values, const char* tag = nullptr) {
  ZRXValue value;
  value.setArrayReal(new ZRXArrayReal(tag))->value() = std::move(values);
  return value;
}

ZRXValue integerArray(std::vector<int64_t> values, const char* tag = nullptr) {
  ZRXValue value;
  value.setArrayInteger(new ZRXArrayInteger(tag))->value() = std::move(values);
  return value;
}

ZRXValue textValue(const std::string& s, ZRXValue::EType type) {
  ZRXValue value;
  if (type == ZRXValue::String) value.setString(s);
  if (type == ZRXValue::Identifier) value.setIdentifier(s);
  if (type == ZRXValue::ID) value.setID(s);
  return value;
}

TEST(ZRBWriter, HeaderIsTheTwentyOneFixedBytes) { EXPECT_EQ(hex(writeDocument({})), hex(kHeader)); }

TEST(ZRBWriter, MetadataStructureExample) {
  ref<ZRXStructure> metadata(new ZRXStructure("<Metadata>"));
  *metadata << "ZR_Serializer_Version" << ZRXValue(int64_t{101});
  const Bytes expected = kHeader + Bytes{0x01, 0x0A} + text("<Metadata>") + Bytes{0x05} +
                         text("#NULL") + Bytes{0x01, 0x15} + text("ZR_Serializer_Version") +
                         Bytes{0x0B, 0xA5, 0x01};
  EXPECT_EQ(hex(writeDocument({metadata.get()})), hex(expected));
}

TEST(ZRBWriter, ValueChunks) {
  ZRXValue list;
  ZRXList* node = list.setList(new ZRXList);
  node->value().emplace_back(int64_t{1});
  node->value().push_back(textValue("ab", ZRXValue::String));
  node->value().emplace_back();
  node->value().back().setBool(true);

  ZRXValue emptyTaggedList;
  emptyTaggedList.setList(new ZRXList("<L>"));
  ZRXValue rawtext;
  rawtext.setRawtextBlock(new ZRXRawtextBlock("<R>", "x\ny"));
  ZRXValue emptyRawtext;
  emptyRawtext.setRawtextBlock(new ZRXRawtextBlock);
  ZRXValue nested;
  nested.setStructure(new ZRXStructure("<S>"));
  ZRXValue noNode;
  noNode.setStructure(nullptr);
  ZRXValue yes, no, one, half;
  yes.setBool(true);
  no.setBool(false);
  one.setReal(1.0);
  half.setReal(-0.5);

  const struct {
    const char* name;
    ZRXValue value;
    Bytes bytes;
  } cases[] = {
      {"list of 1, \"ab\", true",
       list,
       {0x02, 0x00, 0x03, 0x0B, 0x01, 0x07, 0x02, 0x61, 0x62, 0x0C, 0x01}},
      {"empty tagged list", emptyTaggedList, {0x02, 0x03, '<', 'L', '>', 0x00}},
      {"real array 1.0 0.5",
       realArray({1.0, 0.5}),
       {0x04, 0x00, 0x02, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x3F}},
      {"real array 0.1",
       realArray({0.1}),
       {0x03, 0x00, 0x01, 0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xB9, 0x3F}},
      {"empty real array", realArray({}), {0x04, 0x00, 0x00}},
      {"integer array 1 -1 100",
       integerArray({1, -1, 100}),
       {0x05, 0x00, 0x03, 0x04, 0x01, 0x41, 0xA4, 0x01}},
      {"empty tagged integer array", integerArray({}, "<T>"), {0x05, 0x03, '<', 'T', '>', 0x00}},
      {"raw text", rawtext, {0x06, 0x03, '<', 'R', '>', 0x03, 'x', '\n', 'y'}},
      {"empty raw text", emptyRawtext, {0x06, 0x00, 0x00}},
      {"string with a NUL is written whole",
       textValue(std::string("a\0b", 3), ZRXValue::String),
       {0x07, 0x03, 'a', 0x00, 'b'}},
      {"identifier", textValue("Fast", ZRXValue::Identifier), {0x08, 0x04, 'F', 'a', 's', 't'}},
      {"ID value", textValue("#a", ZRXValue::ID), {0x09, 0x02, '#', 'a'}},
      {"true", yes, {0x0C, 0x01}},
      {"false", no, {0x0C, 0x00}},
      {"real 1.0", one, {0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F}},
      {"real -0.5", half, {0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE0, 0xBF}},
      {"structure keeps its #NULL ID",
       nested,
       {0x01, 0x03, '<', 'S', '>', 0x05, '#', 'N', 'U', 'L', 'L', 0x00}},
      {"structure value without a node", noNode, {0x09, 0x05, '#', 'N', 'U', 'L', 'L'}},
  };
  for (const auto& c : cases) EXPECT_EQ(hex(chunkOf(c.value)), hex(c.bytes)) << c.name;
}

// The integer encoding, checked in both directions.
TEST(ZRBWriter, IntegerEncoding) {
  const int64_t kMin = std::numeric_limits<int64_t>::min();
  const int64_t kMax = std::numeric_limits<int64_t>::max();
  const struct {
    int64_t value;
    Bytes bytes;
  } cases[] = {
      {0, {0x00}},
      {1, {0x01}},
      {63, {0x3F}},
      {64, {0x80, 0x01}},
      {-1, {0x41}},
      {-63, {0x7F}},
      {-64, {0xC0, 0x01}},
      {100, {0xA4, 0x01}},
      {-100, {0xE4, 0x01}},
      {8191, {0xBF, 0x7F}},
      {8192, {0x80, 0x80, 0x01}},
      {1000000, {0x80, 0x89, 0x7A}},
      {(int64_t{1} << 62) - 1, {0xBF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}},
      {int64_t{1} << 62, {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}},
      {kMax, {0xBF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}},
      {kMin + 1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}},
      {kMin, {0xC0, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x02}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(hex(chunkOf(ZRXValue(c.value))), hex(Bytes{0x0B} + c.bytes)) << c.value;
    EXPECT_EQ(zrX::zrbIntegerSize(c.value), static_cast<int>(c.bytes.size())) << c.value;
    int64_t decoded = 0;
    const uint8_t* next = nullptr;
    EXPECT_EQ(
        zrX::decodeZRBInteger(c.bytes.data(), c.bytes.data() + c.bytes.size(), &decoded, &next),
        zrX::ZRBDecode::Ok)
        << c.value;
    EXPECT_EQ(decoded, c.value);
    EXPECT_EQ(next, c.bytes.data() + c.bytes.size());
  }
  // The packed block of an integer array counts exactly the bytes of its elements.
  EXPECT_EQ(hex(chunkOf(integerArray({kMin, 64, 0}))),
            hex(Bytes{0x05, 0x00, 0x03, 0x0D, 0xC0, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
                      0x02, 0x80, 0x01, 0x00}));
}

// The encoder and the size the writer announces before an array's block (read from a table) agree
// with the plain byte-by-byte form at every length boundary, for both signs, and the encoder
// writes nothing past the room it was given.
TEST(ZRBWriter, IntegerEncoderAgreesWithThePlainFormAtEveryLength) {
  const auto plain = [](int64_t value) {
    const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : value;
    Bytes out;
    uint64_t rest = magnitude >> 6;
    out.push_back(
        static_cast<uint8_t>((rest ? 0x80 : 0) | (value < 0 ? 0x40 : 0) | (magnitude & 0x3F)));
    while (rest) {
      const uint64_t group = rest & 0x7F;
      rest >>= 7;
      out.push_back(static_cast<uint8_t>((rest ? 0x80 : 0) | group));
    }
    return out;
  };
  std::vector<int64_t> values = {0, std::numeric_limits<int64_t>::min(),
                                 std::numeric_limits<int64_t>::max()};
  for (int bit = 1; bit < 63; ++bit) {
    const int64_t power = int64_t{1} << bit;
    for (const int64_t v : {power - 1, power, power + 1}) {
      values.push_back(v);
      values.push_back(-v);
    }
  }
  for (const int64_t value : values) {
    const Bytes expected = plain(value);
    uint8_t room[zrX::kZRBMaxIntegerBytes + 4];
    std::memset(room, 0xEE, sizeof room);
    const uint8_t* end = zrX::encodeZRBInteger(value, room);
    EXPECT_EQ(hex(Bytes(static_cast<const uint8_t*>(room), end)), hex(expected)) << value;
    EXPECT_EQ(zrX::zrbIntegerSize(value), static_cast<int>(expected.size())) << value;
    for (size_t i = zrX::kZRBMaxIntegerBytes; i < sizeof room; ++i) EXPECT_EQ(room[i], 0xEE);
  }
}

TEST(ZRBWriter, RealArraysUseFloatsOnlyWhenEveryElementFits) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    const char* name;
    std::vector<double> values;
    uint8_t code;
  } cases[] = {
      {"1.0 0.5", {1.0, 0.5}, 4},
      {"empty", {}, 4},
      {"infinities and -0.0", {inf, -inf, -0.0}, 4},
      {"largest float", {std::numeric_limits<float>::max()}, 4},
      {"smallest float denormal",
       {static_cast<double>(std::numeric_limits<float>::denorm_min())},
       4},
      {"0.1", {0.1}, 3},
      {"1e300", {1e300}, 3},
      {"NaN", {nan}, 3},
      {"NaN after floats", {1.0, 2.0, nan}, 3},
      {"2^24 + 1", {16777217.0}, 3},
      {"double denormal", {5e-324}, 3},
      {"just above the float range", {3.5e38}, 3},
  };
  for (const auto& c : cases) {
    const Bytes bytes = chunkOf(realArray(c.values));
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes[0], c.code) << c.name;
    EXPECT_EQ(bytes.size(), 3 + c.values.size() * (c.code == 3 ? 8 : 4)) << c.name;
  }
  // -0.0 keeps its sign in a float.
  EXPECT_EQ(hex(chunkOf(realArray({-0.0}))), hex(Bytes{0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x80}));
}

// Parses `bytes`, links, and returns the structures (metadata removed).
std::vector<ref<ZRXStructure>> readBack(const Bytes& bytes) {
  ref<zr::MemoryFile> file(new zr::MemoryFile(bytes));
  zrX::ParserZRB parser;
  parser.setInputFile(file.get());
  EXPECT_TRUE(parser.parse());
  EXPECT_TRUE(parser.link());
  return parser.structures();
}

void release(std::vector<ref<ZRXStructure>>& roots) {
  std::vector<ref<zrX::ZRXTaggedValue>> nodes(roots.begin(), roots.end());
  roots.clear();
  zrX::breakCycles(nodes);
}

TEST(ZRBWriter, RepeatedStructureIsWrittenAsItsID) {
  ref<ZRXStructure> shared(new ZRXStructure("<P>"));
  shared->setID("#p");
  *shared << "n" << ZRXValue(int64_t{7});
  ref<ZRXStructure> root(new ZRXStructure("<R>"));
  ZRXValue sharedValue;
  sharedValue.setStructure(shared.get());
  *root << "a" << sharedValue << "b" << sharedValue;

  const Bytes expected = kHeader + Bytes{0x01, 0x03} + text("<R>") + Bytes{0x05} + text("#NULL") +
                         Bytes{0x02, 0x01, 'a', 0x01, 0x03} + text("<P>") +
                         Bytes{0x02, '#', 'p', 0x01, 0x01, 'n', 0x0B, 0x07} +
                         Bytes{0x01, 'b', 0x09, 0x02, '#', 'p'};
  const Bytes bytes = writeDocument({root.get()});
  EXPECT_EQ(hex(bytes), hex(expected));

  std::vector<ref<ZRXStructure>> parsed = readBack(bytes);
  ASSERT_EQ(parsed.size(), 1u);
  EXPECT_EQ(parsed[0]->value()[0].value().getStructure(),
            parsed[0]->value()[1].value().getStructure());
  EXPECT_TRUE(zrtest::sameTree(root.get(), parsed[0].get()));
  release(parsed);
}

TEST(ZRBWriter, StructureReferringToItselfIsWrittenAsItsIDInsideItsOwnChunk) {
  std::vector<ref<ZRXStructure>> roots{new ZRXStructure("<Node>")};
  roots[0]->setID("#self");
  ZRXValue self;
  self.setStructure(roots[0].get());
  *roots[0] << "me" << self;

  const Bytes expected = kHeader + Bytes{0x01, 0x06} + text("<Node>") + Bytes{0x05} +
                         text("#self") + Bytes{0x01, 0x02, 'm', 'e', 0x09, 0x05} + text("#self");
  EXPECT_EQ(hex(writeDocument({roots[0].get()})), hex(expected));

  std::vector<ref<ZRXStructure>> parsed = readBack(writeDocument({roots[0].get()}));
  ASSERT_EQ(parsed.size(), 1u);
  EXPECT_EQ(parsed[0]->value()[0].value().getStructure(), parsed[0].get());
  EXPECT_TRUE(zrtest::sameDocument(roots, parsed));
  release(parsed);
  self.setInteger(0);  // drop the outside reference, so the cycle can be broken
  release(roots);
}

TEST(ZRBWriter, StructureSharedByTwoTopLevelStructuresIsWrittenOnceWhereFirstReached) {
  ref<ZRXStructure> shared(new ZRXStructure("<S>"));
  shared->setID("#s");
  ZRXValue value;
  value.setStructure(shared.get());
  ref<ZRXStructure> first(new ZRXStructure("<A>"));
  ref<ZRXStructure> second(new ZRXStructure("<B>"));
  *first << "x" << value;
  *second << "y" << value;
  const Bytes bytes = writeDocument({first.get(), second.get()});
  const Bytes tail = Bytes{0x01, 'y', 0x09, 0x02, '#', 's'};
  ASSERT_GT(bytes.size(), tail.size());
  EXPECT_EQ(hex(Bytes(bytes.end() - static_cast<long>(tail.size()), bytes.end())), hex(tail));
}

TEST(ZRBWriter, RecordsWhatTheFormatCannotCarryAndStaysReadable) {
  // A list reached twice: warned, recorded, written the second time as an empty list.
  {
    zrtest::LogCapture log;
    ZRXValue list;
    list.setList(new ZRXList("<L>"))->value().emplace_back(int64_t{5});
    ref<ZRXStructure> root(new ZRXStructure("<R>"));
    *root << "a" << list << "b" << list;
    std::string failure;
    const Bytes bytes = writeDocument({root.get()}, &failure);
    EXPECT_EQ(failure,
              "VisitorExportToZRB: list '<L>' is reached a second time at /<R>/b; a list can "
              "stand in one place only.");
    EXPECT_EQ(log.warnings(),
              (std::vector<std::string>{"VisitorIDCounter: cycle detected on ZRXList.\n",
                                        "VisitorExportToZRB: cycle detected on ZRXList.\n"}));
    const Bytes tail = Bytes{0x01, 'b', 0x02, 0x03, '<', 'L', '>', 0x00};
    EXPECT_EQ(hex(Bytes(bytes.end() - static_cast<long>(tail.size()), bytes.end())), hex(tail));
    std::vector<ref<ZRXStructure>> parsed = readBack(bytes);
    EXPECT_EQ(parsed.size(), 1u);
  }
  // A structure without an ID reached twice.
  for (const char* id : {"#NULL", ""}) {
    ZRXValue child;
    child.setStructure(new ZRXStructure("<C>"))->setID(id);
    ref<ZRXStructure> root(new ZRXStructure("<R>"));
    *root << "a" << child << "b" << child;
    std::string failure;
    writeDocument({root.get()}, &failure);
    EXPECT_EQ(failure,
              "VisitorExportToZRB: structure '<C>' without an ID is reached a second time at "
              "/<R>/b; only a structure with an ID can be shared.")
        << "ID '" << id << "'";
  }
}

TEST(ZRBWriter, TopLevelStructureAlreadyWrittenIsRecordedAndLeftOut) {
  ref<ZRXStructure> later(new ZRXStructure("<Later>"));
  later->setID("#later");
  ref<ZRXStructure> first(new ZRXStructure("<First>"));
  ZRXValue value;
  value.setStructure(later.get());
  *first << "inner" << value;
  std::string failure;
  const Bytes bytes = writeDocument({first.get(), later.get()}, &failure);
  EXPECT_EQ(failure,
            "VisitorExportToZRB: top-level structure '<Later>' was already written; it cannot "
            "stand at the top level again.");
  EXPECT_EQ(bytes, writeDocument({first.get()}));
}

// A chain of `levels` structures and lists, alternating, the outermost a structure.
ref<ZRXStructure> deepDocument(int levels) {
  ref<ZRXStructure> root(new ZRXStructure("<Deep>"));
  zrX::ZRXTaggedValue* inner = root.get();
  for (int level = 2; level <= levels; ++level) {
    ZRXValue child;
    zrX::ZRXTaggedValue* next;
    if (level % 2) {
      next = child.setStructure(new ZRXStructure);
    } else {
      next = child.setList(new ZRXList);
    }
    if (auto* structure = dynamic_cast<ZRXStructure*>(inner)) {
      *structure << "c" << child;
    } else {
      static_cast<ZRXList*>(inner)->value().push_back(child);
    }
    inner = next;
  }
  return root;
}

TEST(ZRBWriter, NestingBeyondTheLimitIsRecorded) {
  ref<ZRXStructure> fits = deepDocument(zrX::kDefaultMaxDepth);
  ref<ZRXStructure> tooDeep = deepDocument(zrX::kDefaultMaxDepth + 1);
  for (ZRXStructure* root : {fits.get(), tooDeep.get()}) {
    ref<zr::MemoryFile> file(new zr::MemoryFile);
    zrX::VisitorExportToZRB writer(file.get());
    writer.writeHeader();
    root->acceptVisitor(&writer);
    EXPECT_EQ(writer.failed(), root == tooDeep.get());
    EXPECT_FALSE(writer.writeFailed());
    if (root == tooDeep.get()) {
      EXPECT_EQ(writer.failure(),
                "VisitorExportToZRB: nesting deeper than 1000 levels at an untagged node");
    }
  }
}

TEST(ZRBWriter, WriteErrorsAreRecordedAndStopTheOutput) {
  ref<ZRXStructure> root(new ZRXStructure("<R>"));
  std::vector<double> many(20000);
  for (size_t i = 0; i < many.size(); ++i) many[i] = 0.1 * static_cast<double>(i);
  *root << "small" << ZRXValue(int64_t{1}) << "big" << realArray(many) << "after"
        << textValue("text", ZRXValue::String);
  ref<zr::MemoryFile> whole(new zr::MemoryFile);
  {
    zrX::VisitorExportToZRB writer(whole.get());
    writer.writeHeader();
    root->acceptVisitor(&writer);
    ASSERT_FALSE(writer.failed());
  }
  const int64_t size = static_cast<int64_t>(whole->data().size());
  for (int64_t limit :
       {int64_t{0}, int64_t{5}, int64_t{21}, int64_t{40}, size / 2, size - 1, size}) {
    ref<zrtest::FaultyFile> file(new zrtest::FaultyFile(limit));
    zrX::VisitorExportToZRB writer(file.get());
    writer.writeHeader();
    root->acceptVisitor(&writer);
    const bool fails = limit < size;
    EXPECT_EQ(writer.writeFailed(), fails) << limit;
    EXPECT_EQ(writer.failed(), fails) << limit;
    EXPECT_EQ(writer.bytesWritten(), std::min(limit, size));
    if (fails) {
      EXPECT_EQ(writer.failure(),
                "VisitorExportToZRB: write error at offset " + std::to_string(limit));
    }
    EXPECT_EQ(Bytes(file->data()),
              Bytes(whole->data().begin(), whole->data().begin() + std::min(limit, size)));
  }
}

// A file that refuses to open.
class ClosedFile : public zr::MemoryFile {
 public:
  bool open(EOpenMode) override { return false; }
};

TEST(ZRBWriter, FileThatCannotBeOpenedIsAWriteFailure) {
  ref<ClosedFile> file(new ClosedFile);
  zrX::VisitorExportToZRB writer(file.get());
  EXPECT_TRUE(writer.writeFailed());
  EXPECT_EQ(writer.failure(), "VisitorExportToZRB: cannot open 'memory' for writing");
  writer.writeHeader();
  EXPECT_EQ(writer.bytesWritten(), 0);
}

TEST(ZRBWriter, DeepestDocumentIsWrittenOnASmallStack) {
#if defined(ZRX_TEST_ASAN)
  GTEST_SKIP() << "ASan frames are larger by design";
#endif
  ref<ZRXStructure> root = deepDocument(zrX::kDefaultMaxDepth);
  ref<zr::MemoryFile> file(new zr::MemoryFile);
  bool failed = true;
  ASSERT_TRUE(zrtest::runOnStack(zrtest::kOneMebibyte, [&] {
    zrX::VisitorExportToZRB writer(file.get());
    writer.writeHeader();
    root->acceptVisitor(&writer);
    failed = writer.failed();
  }));
  EXPECT_FALSE(failed);
  EXPECT_GT(file->data().size(), 4000u);
}

// The seed corpus of the ZRB fuzzer (fuzz/corpus/zrb/) is what this writer writes for a few small
// documents covering every chunk kind, IDs and references. The test holds the committed files to
// the writer's output; ZRX_WRITE_CORPUS=1 rewrites them.
std::vector<std::pair<std::string, std::vector<ref<ZRXStructure>>>> corpusDocuments() {
  std::vector<std::pair<std::string, std::vector<ref<ZRXStructure>>>> out;
  out.push_back({"header_only", {}});

  ref<ZRXStructure> metadata(new ZRXStructure("<Metadata>"));
  *metadata << "Authoring_Tool" << textValue("zrX", ZRXValue::String) << "ZR_Serializer_Version"
            << ZRXValue(int64_t{101});
  ref<ZRXStructure> root(new ZRXStructure("<Scene>"));
  ZRXValue list, emptyList, raw, nested, yes, real;
  yes.setBool(true);
  emptyList.setList(new ZRXList("<E>"));
  real.setReal(-2.5);
  list.setList(new ZRXList("<L>"))->value() = {ZRXValue(int64_t{-300}), yes,
                                               textValue("s", ZRXValue::String)};
  raw.setRawtextBlock(new ZRXRawtextBlock("<Text>", "line one\nline >} two"));
  *nested.setStructure(new ZRXStructure("<Part>")) << "size" << integerArray({1, 2, 3});
  *root << "name" << textValue("Demo", ZRXValue::String) << "mode"
        << textValue("Fast", ZRXValue::Identifier) << "visible" << yes << "scale" << real << "list"
        << list << "raw" << raw << "floats" << realArray({0.25, 0.75}, "<W>") << "doubles"
        << realArray({0.1, 1e300}) << "part" << nested << "empty" << emptyList << "none"
        << textValue("#NULL", ZRXValue::ID);
  out.push_back({"every_kind", {metadata, root}});

  // Shared, self-referring and forward-referenced structures across two top-level structures.
  ref<ZRXStructure> first(new ZRXStructure("<A>"));
  first->setID("#a");
  ref<ZRXStructure> shared(new ZRXStructure("<Shared>"));
  shared->setID("#shared");
  ZRXValue sharedValue, selfValue, firstValue;
  sharedValue.setStructure(shared.get());
  selfValue.setStructure(shared.get());
  firstValue.setStructure(first.get());
  *shared << "self" << selfValue << "later" << textValue("#b", ZRXValue::ID);
  *first << "one" << sharedValue << "two" << sharedValue << "me" << firstValue;
  ref<ZRXStructure> second(new ZRXStructure("<B>"));
  second->setID("#b");
  *second << "again" << sharedValue << "back" << textValue("#a", ZRXValue::ID);
  out.push_back({"references", {first, second}});

  const double inf = std::numeric_limits<double>::infinity();
  ref<ZRXStructure> extremes(new ZRXStructure("<Extremes>"));
  *extremes << "min" << ZRXValue(std::numeric_limits<int64_t>::min()) << "max"
            << ZRXValue(std::numeric_limits<int64_t>::max()) << "ints"
            << integerArray({std::numeric_limits<int64_t>::min(), -64, 63, 64, 8192}) << "specials"
            << realArray({inf, -inf, -0.0}) << "nan"
            << realArray({std::numeric_limits<double>::quiet_NaN()}) << "noReals" << realArray({})
            << "noInts" << integerArray({}) << "nul"
            << textValue(std::string("a\0b", 3), ZRXValue::String) << "" << ZRXValue();
  out.push_back({"extremes", {extremes}});

  for (uint32_t seed : {1u, 2u}) {
    zrtest::TreeGenOptions options;
    options.seed = seed;
    options.maxArrayLength = 6;
    options.maxTextLength = 6;
    options.maxDepth = 4;
    std::vector<ref<ZRXStructure>> generated = zrtest::generateDocument(options);
    out.push_back({"generated_" + std::to_string(seed), generated});
  }
  return out;
}

TEST(ZRBWriter, SeedCorpusIsWhatTheWriterWrites) {
  const bool rewrite = std::getenv("ZRX_WRITE_CORPUS") != nullptr;
  auto documents = corpusDocuments();
  for (auto& document : documents) {
    std::vector<ZRXStructure*> roots;
    for (const ref<ZRXStructure>& root : document.second) roots.push_back(root.get());
    const Bytes bytes = writeDocument(roots);
    const std::string path =
        std::string(ZRX_SOURCE_DIR) + "/fuzz/corpus/zrb/" + document.first + ".zrb";
    if (rewrite) {
      std::ofstream(path, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
    }
    std::ifstream in(path, std::ios::binary);
    const Bytes committed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(hex(committed), hex(bytes)) << path;
    release(document.second);
  }
}

}  // namespace
