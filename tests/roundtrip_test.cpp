// Round trips of generated documents through both formats and across them, and the nesting
// limit honoured by every walk of a save and a load on a small stack.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/LogCapture.hpp"
#include "support/SmallStack.hpp"
#include "support/TreeCompare.hpp"
#include "support/TreeGen.hpp"
#include "zrX/Cycles.hpp"
#include "zrX/Document.hpp"

namespace {

using zr::ref;
using zrX::Document;
using zrX::Format;
using zrX::ZRXStructure;
using Structures = std::vector<ref<ZRXStructure>>;

// Generated trees, linked, free their cycles when dropped.
struct LinkedTree {
  explicit LinkedTree(Structures s) : structures(std::move(s)) {
    std::vector<ref<zrX::ZRXTaggedValue>> nodes(structures.begin(), structures.end());
    linked = zrX::Parser::link(nodes);
  }
  ~LinkedTree() {
    std::vector<ref<zrX::ZRXTaggedValue>> roots(structures.begin(), structures.end());
    structures.clear();
    zrX::breakCycles(roots);
  }
  Structures structures;
  bool linked = false;
};

std::vector<uint8_t> write(Format format, const Structures& structures) {
  ref<zr::MemoryFile> file = new zr::MemoryFile;
  const zrX::WriteResult result = zrX::writeStructures(file.get(), format, structures);
  EXPECT_TRUE(result.ok()) << zrX::formatName(format) << ": " << result.message;
  return file->data();
}

// Reads bytes back; `document` receives the structures.
bool read(Format format, const std::vector<uint8_t>& bytes, Document& document, bool link) {
  ref<zr::MemoryFile> file = new zr::MemoryFile(bytes);
  zrX::ReadOptions options;
  options.link = link;
  return zrX::readDocument(file.get(), format, document, options) == zrX::ReadStatus::Ok;
}

class GeneratedRoundTrip : public ::testing::TestWithParam<uint32_t> {};

TEST_P(GeneratedRoundTrip, BinaryKeepsEverything) {
  zrtest::TreeGenOptions options;
  options.seed = GetParam();
  Structures generated = zrtest::generateDocument(options);
  const std::vector<uint8_t> bytes = write(Format::ZRB, generated);

  Document parsed;
  ASSERT_TRUE(read(Format::ZRB, bytes, parsed, true));
  LinkedTree expected(std::move(generated));  // the only holder, so its cycles are freed
  ASSERT_TRUE(expected.linked);
  EXPECT_TRUE(zrtest::sameDocument(expected.structures, parsed.structures()));
}

TEST_P(GeneratedRoundTrip, TextKeepsWhatTextCanHold) {
  Structures generated = zrtest::generateDocument(zrtest::TreeGenOptions::textSafe(GetParam()));
  const std::vector<uint8_t> bytes = write(Format::ZRT, generated);

  Document parsed;
  ASSERT_TRUE(read(Format::ZRT, bytes, parsed, true)) << std::string(bytes.begin(), bytes.end());
  LinkedTree expected(std::move(generated));  // the only holder, so its cycles are freed
  ASSERT_TRUE(expected.linked);
  zrtest::CompareOptions compare;
  compare.ids = zrtest::CompareOptions::IDs::Referenced;
  EXPECT_TRUE(zrtest::sameDocument(expected.structures, parsed.structures(), compare));
}

// Text, then binary, then text again gives the first text byte for byte, and every step the
// same tree.
TEST_P(GeneratedRoundTrip, TextThroughBinaryAndBack) {
  const Structures generated =
      zrtest::generateDocument(zrtest::TreeGenOptions::textSafe(GetParam()));
  const std::vector<uint8_t> text = write(Format::ZRT, generated);

  Document fromText;
  ASSERT_TRUE(read(Format::ZRT, text, fromText, false));
  const std::vector<uint8_t> binary = write(Format::ZRB, fromText.structures());
  Document fromBinary;
  ASSERT_TRUE(read(Format::ZRB, binary, fromBinary, false));
  EXPECT_TRUE(zrtest::sameDocument(fromText.structures(), fromBinary.structures()));
  const std::vector<uint8_t> textAgain = write(Format::ZRT, fromBinary.structures());
  EXPECT_EQ(std::string(text.begin(), text.end()), std::string(textAgain.begin(), textAgain.end()));
}

// Binary, then text, then binary again gives the first binary byte for byte: text holds every
// finite real exactly, of every kind (random bits, millionths and their neighbours, short
// decimals, ties, subnormals, huge values), in arrays and alone.
TEST_P(GeneratedRoundTrip, BinaryThroughTextAndBack) {
  zrtest::TreeGenOptions options = zrtest::TreeGenOptions::textSafe(GetParam());
  options.sixDecimalReals = false;
  options.realsOfEveryKind = true;
  const std::vector<uint8_t> binary = write(Format::ZRB, zrtest::generateDocument(options));

  Document fromBinary;
  ASSERT_TRUE(read(Format::ZRB, binary, fromBinary, false));
  const std::vector<uint8_t> text = write(Format::ZRT, fromBinary.structures());
  Document fromText;
  ASSERT_TRUE(read(Format::ZRT, text, fromText, false)) << std::string(text.begin(), text.end());
  EXPECT_TRUE(zrtest::sameDocument(fromBinary.structures(), fromText.structures()));
  EXPECT_TRUE(write(Format::ZRB, fromText.structures()) == binary)
      << std::string(text.begin(), text.end());
}

INSTANTIATE_TEST_SUITE_P(Seeds, GeneratedRoundTrip, ::testing::Range(1u, 41u));

// A chain of `levels` nested structures, alternating with lists.
Structures nested(int levels) {
  ref<ZRXStructure> top = new ZRXStructure("<Deep>");
  zrX::ZRXTaggedValue* at = top.get();
  for (int level = 2; level <= levels; ++level) {
    zrX::ZRXValue value;
    zrX::ZRXTaggedValue* next;
    if (level % 2 == 0) {
      next = value.setList(new zrX::ZRXList);
    } else {
      next = value.setStructure(new ZRXStructure);
    }
    if (at->classType() == ZRXStructure::Type()) {
      *static_cast<ZRXStructure*>(at) << "child" << value;
    } else {
      static_cast<zrX::ZRXList*>(at)->value().push_back(value);
    }
    at = next;
  }
  return {top};
}

// Save and load of the deepest document the default limit admits, in both formats.
void saveAndLoadAtTheLimit(bool* ok) {
  *ok = false;
  const Structures deep = nested(zrX::kDefaultMaxDepth);
  for (Format format : {Format::ZRT, Format::ZRB}) {
    ref<zr::MemoryFile> file = new zr::MemoryFile;
    if (!zrX::writeStructures(file.get(), format, deep).ok()) return;
    Document document;
    if (zrX::readDocument(file.get(), format, document) != zrX::ReadStatus::Ok) return;
    if (!zrtest::diffDocuments(deep, document.structures()).empty()) return;
  }
  *ok = true;
}

TEST(NestingLimit, EveryWalkHandlesTheLimitAndRefusesBeyondIt) {
  zrtest::LogCapture log;
  bool ok = false;
  saveAndLoadAtTheLimit(&ok);
  EXPECT_TRUE(ok);

  const Structures tooDeep = nested(zrX::kDefaultMaxDepth + 1);
  for (Format format : {Format::ZRT, Format::ZRB}) {
    ref<zr::MemoryFile> file = new zr::MemoryFile(std::vector<uint8_t>{'o', 'l', 'd'});
    const zrX::WriteResult result = zrX::writeStructures(file.get(), format, tooDeep);
    EXPECT_EQ(result.status, zrX::WriteStatus::Refused) << zrX::formatName(format);
    EXPECT_NE(result.message.find("nesting"), std::string::npos) << result.message;
    EXPECT_EQ(file->text(), "old");  // refused before the file was opened
  }
}

#if defined(__linux__) && !defined(ZRX_TEST_ASAN) && defined(NDEBUG)
#define ZRX_SMALL_STACK_TEST 1
#endif

TEST(NestingLimit, SaveAndLoadAtTheLimitFitAOneMebibyteStack) {
#if ZRX_SMALL_STACK_TEST
  zrtest::LogCapture log;
  bool ok = false;
  ASSERT_TRUE(zrtest::runOnStack(zrtest::kOneMebibyte, [&ok] { saveAndLoadAtTheLimit(&ok); }));
  EXPECT_TRUE(ok);
#else
  GTEST_SKIP() << "runs in the optimised build without sanitizers";
#endif
}

}  // namespace
