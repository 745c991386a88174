// The ZRT writer: canonical layout (byte for byte), numbers, escapes, ID members and references,
// the lexical checks, and every case it refuses to write.
#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "support/LogCapture.hpp"
#include "support/SmallStack.hpp"
#include "zrCore/VirtualFile.hpp"
#include "zrX/Document.hpp"
#include "zrX/Value.hpp"
#include "zrX/Visitor.hpp"
#include "zrX/VisitorExportToZRT.hpp"

using namespace zrX;

namespace {

const char kHeader[] = "ZRX version=101 encoding=ascii\n\n";

// Value builders ---------------------------------------------------------------------------------

ZRXValue str(const std::string& text) { return ZRXValue::makeString(text); }
ZRXValue ident(const std::string& text) { return ZRXValue::makeIdentifier(text); }
ZRXValue idValue(const std::string& text) { return ZRXValue::makeID(text); }
ZRXValue real(double number) { return ZRXValue::makeReal(number); }
ZRXValue boolean(bool b) { return ZRXValue::makeBool(b); }
ZRXValue node(ZRXStructure* s) { return ZRXValue::makeStructure(s); }
ZRXValue node(ZRXList* l) { return ZRXValue::makeList(l); }
ZRXValue node(ZRXRawtextBlock* b) { return ZRXValue::makeRawtextBlock(b); }
ZRXValue node(ZRXArray* a) { return ZRXValue::makeArray(a); }

ZRXArrayInteger* integers(const char* tag, std::vector<int64_t> values) {
  auto* a = new ZRXArrayInteger(tag);
  a->value() = std::move(values);
  return a;
}
ZRXArrayReal* reals(const char* tag, std::vector<double> values) {
  auto* a = new ZRXArrayReal(tag);
  a->value() = std::move(values);
  return a;
}
ZRXList* list(const char* tag, std::vector<ZRXValue> values) {
  auto* l = new ZRXList(tag);
  l->value() = std::move(values);
  return l;
}
ZRXStructure* structure(const char* tag, const char* id = "#NULL") {
  auto* s = tag ? new ZRXStructure(tag) : new ZRXStructure();
  s->setID(id);
  return s;
}

// Writing ----------------------------------------------------------------------------------------

using Tops = std::vector<zr::ref<ZRXStructure>>;

struct Written {
  std::string text;
  std::string failure;
};

enum class Counts { Counted, NoMap };

// Writes the top-level structures as the save does: one counter over all of them, then the writer
// with the same map. With the counts of the tree itself, writeStructures writes the same tree too,
// and must agree: the same text, which it writes straight into the file, or a refusal that leaves
// the file as it was (the writer's message, unless the counter refuses the tree first).
Written write(const Tops& tops, Counts counts = Counts::Counted,
              const IDCountMap* fixedMap = nullptr, int maxDepth = kDefaultMaxDepth,
              bool sixDecimals = false) {
  IDCountMap ids;
  VisitorExportToZRT writer;
  writer.setMaxDepth(maxDepth);
  writer.setSixDecimalReals(sixDecimals);
  if (fixedMap) {
    writer.setIDSet(fixedMap);
  } else if (counts == Counts::Counted) {
    VisitorIDCounter counter;
    counter.setIDSet(&ids);
    for (const auto& top : tops) top->acceptVisitor(&counter);
    writer.setIDSet(&ids);
  }
  writer.writeHeader();
  for (const auto& top : tops) top->acceptVisitor(&writer);
  Written written{writer.text(), writer.failure()};
  if (!fixedMap && counts == Counts::Counted) {
    zr::ref<zr::MemoryFile> file = new zr::MemoryFile(std::vector<uint8_t>{'o', 'l', 'd'});
    WriteOptions options;
    options.maxDepth = maxDepth;
    options.sixDecimalReals = sixDecimals;
    const WriteResult saved = writeStructures(file.get(), Format::ZRT, tops, options);
    if (written.failure.empty()) {
      EXPECT_TRUE(saved.ok()) << saved.message;
      EXPECT_EQ(file->text(), written.text);
    } else {
      EXPECT_EQ(saved.status, WriteStatus::Refused);
      if (saved.message.rfind("VisitorIDCounter: ", 0) != 0) {
        EXPECT_EQ(saved.message, written.failure);
      }
      EXPECT_EQ(file->text(), "old");
    }
  }
  return written;
}

// The text after the header, or a marker when the header is wrong.
std::string body(const Written& w) {
  if (w.text.compare(0, sizeof(kHeader) - 1, kHeader) != 0) return "<missing header>" + w.text;
  return w.text.substr(sizeof(kHeader) - 1);
}

std::string cFormat(const char* format, double value) {
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}
std::string cFormat(const char* format, int64_t value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, static_cast<long long>(value));
  return buffer;
}

// Layout -----------------------------------------------------------------------------------------

TEST(ZrtWriter, SceneExampleComesOutByteForByte) {
  zr::ref<ZRXStructure> part = structure("<Part>", "#part_1");
  *part << "size" << node(integers(nullptr, {1, 2, 3}));
  zr::ref<ZRXStructure> scene = structure("<Scene>");
  *scene << "name" << str("Demo") << "visible" << boolean(true) << "count" << ZRXValue(42)
         << "scale" << real(1.5) << "mode" << ident("Fast") << "parts"
         << node(list(nullptr, {node(part.get()), node(part.get())})) << "weights"
         << node(reals("<Weights>", {0.25, 0.75})) << "source"
         << node(new ZRXRawtextBlock("<Text>", "line one\nline two\n")) << "empty"
         << node(list(nullptr, {}));

  const char* lines[] = {"ZRX version=101 encoding=ascii",
                         "",
                         "<Scene>",
                         "{",
                         "\tname = \"Demo\"",
                         "\tvisible = true",
                         "\tcount = 42",
                         "\tscale = 1.500000",
                         "\tmode = Fast",
                         "\tparts = ",
                         "\t[",
                         "\t\t<Part>",
                         "\t\t{",
                         "\t\t\tID = #part_1",
                         "\t\t\tsize = ( 1 2 3 )",
                         "\t\t}",
                         "\t\t#part_1",
                         "\t]",
                         "\tweights = <Weights> ( 0.250000 0.750000 )",
                         "\tsource = <Text>",
                         "{<",
                         "line one",
                         "line two",
                         ">}",
                         "\tempty = [ ]",
                         "}"};
  std::string expected;
  for (const char* line : lines) expected += std::string(line) + "\n";

  Written w = write({scene});
  EXPECT_EQ(w.failure, "");
  EXPECT_EQ(w.text, expected);
}

struct LayoutCase {
  const char* name;
  std::function<Tops()> build;
  std::string expected;  // the text after the header
  Counts counts = Counts::Counted;
};

// One top-level structure "<T>" holding `key` = `value`.
Tops member(const char* key, const ZRXValue& value) {
  zr::ref<ZRXStructure> s = structure("<T>");
  *s << key << value;
  return {s};
}

TEST(ZrtWriter, LayoutTable) {
  const LayoutCase cases[] = {
      {"scalars",
       [] {
         zr::ref<ZRXStructure> s = structure("<T>");
         *s << "b" << boolean(false) << "i" << ZRXValue(-5) << "lo"
            << ZRXValue(std::numeric_limits<int64_t>::min()) << "hi"
            << ZRXValue(std::numeric_limits<int64_t>::max()) << "r1" << real(1.0) << "r2"
            << real(-0.5) << "r3" << real(0.0000001) << "name" << ident("_x9") << "ref"
            << idValue("#NULL");
         return Tops{s};
       },
       "<T>\n{\n\tb = false\n\ti = -5\n\tlo = -9223372036854775808\n"
       "\thi = 9223372036854775807\n\tr1 = 1.000000\n\tr2 = -0.500000\n\tr3 = 1.0e-7\n"
       "\tname = _x9\n\tref = #NULL\n}\n"},
      {"string escapes", [] { return member("s", str("a\tb\"c\\d\ne\rf\bg\fh\x0b\xc3\xa9")); },
       "<T>\n{\n\ts = \"a\\tb\\\"c\\\\d\\ne\\rf\\bg\\fh\x0b\xc3\xa9\"\n}\n"},
      {"empty tagged integer array", [] { return member("key", node(integers("<A>", {}))); },
       "<T>\n{\n\tkey = <A> ( )\n}\n"},
      {"empty real array", [] { return member("key", node(reals(nullptr, {}))); },
       "<T>\n{\n\tkey = ( )\n}\n"},
      {"empty list", [] { return member("key", node(list(nullptr, {}))); },
       "<T>\n{\n\tkey = [ ]\n}\n"},
      // An empty list keeps its tag, so that it reads back tagged.
      {"empty tagged list", [] { return member("key", node(list("<L>", {}))); },
       "<T>\n{\n\tkey = <L> [ ]\n}\n"},
      {"empty structure", [] { return member("key", node(structure(nullptr))); },
       "<T>\n{\n\tkey = \n\t{\n\t}\n}\n"},
      {"tagged list with empty lists inside",
       [] {
         return member(
             "l", node(list("<L>", {node(list(nullptr, {})), node(list("<E>", {})), ZRXValue(7)})));
       },
       "<T>\n{\n\tl = <L>\n\t[\n\t\t[ ]\n\t\t<E> [ ]\n\t\t7\n\t]\n}\n"},
      {"nested two levels",
       [] {
         zr::ref<ZRXStructure> inner = structure("<B>");
         *inner << "x" << ZRXValue(1);
         zr::ref<ZRXStructure> middle = structure(nullptr);
         *middle << "b" << node(inner.get());
         return member("a", node(middle.get()));
       },
       "<T>\n{\n\ta = \n\t{\n\t\tb = <B>\n\t\t{\n\t\t\tx = 1\n\t\t}\n\t}\n}\n"},
      {"raw text in a member, untagged, with a closer inside",
       [] { return member("r", node(new ZRXRawtextBlock(nullptr, "a>}b"))); },
       "<T>\n{\n\tr = \n{<\na\\>}b>}\n}\n"},
      {"raw text blocks in a list",
       [] {
         return member("l", node(list(nullptr, {node(new ZRXRawtextBlock("<R>", "x\n")),
                                                node(new ZRXRawtextBlock(nullptr, "")),
                                                node(new ZRXRawtextBlock(nullptr, "a\\b"))})));
       },
       "<T>\n{\n\tl = \n\t[\n<R>\n\t\t{<\nx\n>}\n\n\t\t{<\n>}\n\n\t\t{<\na\\b>}\n\t]\n}\n"},
      {"list inside a list, ids and structures as items",
       [] {
         return member("l", node(list(nullptr, {node(list(nullptr, {idValue("#NULL")})),
                                                node(structure("<S>")), ident("ID")})));
       },
       "<T>\n{\n\tl = \n\t[\n\t\t[\n\t\t\t#NULL\n\t\t]\n\t\t<S>\n\t\t{\n\t\t}\n\t\tID\n\t]\n}\n"},
      {"structure value without a node",
       [] { return member("s", node(static_cast<ZRXStructure*>(nullptr))); },
       "<T>\n{\n\ts = #NULL\n}\n"},
      {"shared structure: whole at its first place, its ID at the second place's indentation",
       [] {
         zr::ref<ZRXStructure> shared = structure("<S>", "#s");
         zr::ref<ZRXStructure> deep = structure(nullptr);
         *deep << "again" << node(shared.get());
         zr::ref<ZRXStructure> top = structure("<T>");
         *top << "first" << node(shared.get()) << "deep" << node(deep.get()) << "inList"
              << node(list(nullptr, {node(shared.get())}));
         return Tops{top};
       },
       "<T>\n{\n\tfirst = <S>\n\t{\n\t\tID = #s\n\t}\n\tdeep = \n\t{\n\t\tagain = #s\n\t}\n"
       "\tinList = \n\t[\n\t\t#s\n\t]\n}\n"},
      {"ID member only when counted twice: once, by an ID value, by a second top-level",
       [] {
         zr::ref<ZRXStructure> once = structure("<O>", "#once");
         zr::ref<ZRXStructure> named = structure("<N>", "#named");
         zr::ref<ZRXStructure> top = structure("<T>", "#top");
         *top << "a" << node(once.get()) << "b" << node(named.get()) << "c" << idValue("#named");
         zr::ref<ZRXStructure> second = structure("<U>");
         *second << "t" << node(top.get());
         return Tops{top, second};
       },
       "<T>\n{\n\tID = #top\n\ta = <O>\n\t{\n\t}\n\tb = <N>\n\t{\n\t\tID = #named\n\t}\n"
       "\tc = #named\n}\n<U>\n{\n\tt = #top\n}\n"},
      {"without a map every own ID is written, never #NULL or an empty one",
       [] {
         zr::ref<ZRXStructure> top = structure("<T>", "#top");
         *top << "a" << node(structure("<O>", "#once")) << "b" << node(structure("<E>", "")) << "c"
              << node(structure("<N>", "#NULL"));
         return Tops{top};
       },
       "<T>\n{\n\tID = #top\n\ta = <O>\n\t{\n\t\tID = #once\n\t}\n\tb = <E>\n\t{\n\t}\n"
       "\tc = <N>\n\t{\n\t}\n}\n",
       Counts::NoMap},
      {"names at the edges of the lexical rules",
       [] {
         zr::ref<ZRXStructure> top = structure("<a:B_9>", "#");
         *top << "True" << ident("FALSE") << "_id_" << node(structure("<>")) << "IDs"
              << idValue("#") << "x" << node(integers("<:>", {0}));
         return Tops{top};
       },
       "<a:B_9>\n{\n\tID = #\n\tTrue = FALSE\n\t_id_ = <>\n\t{\n\t}\n\tIDs = #\n"
       "\tx = <:> ( 0 )\n}\n"},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    Written w = write(c.build(), c.counts);
    EXPECT_EQ(w.failure, "");
    EXPECT_EQ(body(w), c.expected);
  }
}

TEST(ZrtWriter, DeepIndentationHasOneTabPerLevel) {
  const int depth = 14;
  zr::ref<ZRXStructure> top = structure("<L0>");
  ZRXStructure* current = top.get();
  for (int level = 1; level < depth; ++level) {
    ZRXStructure* child = structure(("<L" + std::to_string(level) + ">").c_str());
    *current << "c" << node(child);
    current = child;
  }
  *current << "leaf" << ZRXValue(1);

  std::string expected = "<L0>\n{\n";
  for (int level = 1; level < depth; ++level) {
    expected += std::string(level, '\t') + "c = <L" + std::to_string(level) + ">\n";
    expected += std::string(level, '\t') + "{\n";
  }
  expected += std::string(depth, '\t') + "leaf = 1\n";
  for (int level = depth - 1; level >= 0; --level) expected += std::string(level, '\t') + "}\n";

  Written w = write({top});
  EXPECT_EQ(w.failure, "");
  EXPECT_EQ(body(w), expected);
}

TEST(ZrtWriter, LongPiecesAreWrittenWhole) {
  const std::string longKey = "k" + std::string(5000, 'e');
  const std::string longTag = "<" + std::string(5000, 't') + ">";
  const std::string longText(100000, 'x');
  const std::string longRaw = std::string(70000, 'r') + ">}" + std::string(10, 'r');
  const std::string longIdent(6000, 'i');
  const std::string longID = "#" + std::string(6000, 'd');

  zr::ref<ZRXStructure> top = structure(longTag.c_str(), longID.c_str());
  *top << longKey.c_str() << str(longText) << "raw"
       << node(new ZRXRawtextBlock(longTag.c_str(), longRaw.c_str())) << "ident" << ident(longIdent)
       << "self" << idValue(longID);

  std::string escapedRaw = std::string(70000, 'r') + "\\>}" + std::string(10, 'r');
  std::string expected = longTag + "\n{\n\tID = " + longID + "\n\t" + longKey + " = \"" + longText +
                         "\"\n\traw = " + longTag + "\n{<\n" + escapedRaw +
                         ">}\n\tident = " + longIdent + "\n\tself = " + longID + "\n}\n";
  Written w = write({top});
  EXPECT_EQ(w.failure, "");
  EXPECT_EQ(body(w), expected);
}

// Numbers ----------------------------------------------------------------------------------------

const double kRealEdges[] = {0.0,
                             -0.0,
                             0.5,
                             -1234.5678,
                             0.0000001,
                             0.0000005,
                             0.0078125,  // exactly halfway at the sixth decimal: ties to even
                             0.0234375,
                             2.5,
                             999999.9999995,
                             1e15,
                             -1e15 - 1,
                             123456789012345678.0,
                             1e300,
                             -1e300,
                             DBL_MAX,
                             -DBL_MAX,
                             DBL_MIN,
                             DBL_TRUE_MIN,
                             -DBL_TRUE_MIN,
                             DBL_MIN / 3,
                             9007199254740993.0,
                             static_cast<double>(std::numeric_limits<int64_t>::max()),
                             static_cast<double>(std::numeric_limits<int64_t>::min())};
const int64_t kIntegerEdges[] = {0,
                                 1,
                                 -1,
                                 10,
                                 -10,
                                 4294967296,
                                 std::numeric_limits<int64_t>::max(),
                                 std::numeric_limits<int64_t>::min(),
                                 std::numeric_limits<int64_t>::min() + 1};

// What the writer must produce for a member "v" holding `value`, in the "C" locale.
std::string cLocaleMember(double value) { return "\tv = " + cFormat("%f", value) + "\n"; }
std::string cLocaleMember(int64_t value) { return "\tv = " + cFormat("%lld", value) + "\n"; }

std::string writtenMember(const ZRXValue& value, bool sixDecimals = false) {
  std::string text =
      body(write(member("v", value), Counts::Counted, nullptr, kDefaultMaxDepth, sixDecimals));
  const std::string open = "<T>\n{\n", close = "}\n";
  if (text.size() < open.size() + close.size()) return text;
  return text.substr(open.size(), text.size() - open.size() - close.size());
}

// What the reader makes of the writer's text for a member "v" holding `value`: the real, or the
// real array's elements.
std::vector<double> readBack(const ZRXValue& value) {
  const std::string text = write(member("v", value)).text;
  zr::ref<zr::MemoryFile> file = new zr::MemoryFile(std::vector<uint8_t>(text.begin(), text.end()));
  Document document;
  if (readDocument(file.get(), Format::ZRT, document) != ReadStatus::Ok) return {};
  const ZRXValue& back = document.structures().at(0)->value().at(0).value();
  if (back.type() == ZRXValue::Real) return {back.getReal()};
  if (back.type() == ZRXValue::ArrayReal) return back.getArrayReal()->value();
  return {};
}

uint64_t bitsOf(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// Every finite real reads back bit for bit, alone and in an array, through the reader; the text
// is "%f"'s exactly when that reads back as the same double (NumberFormat's tests hold the table
// of the other texts).
TEST(ZrtWriter, RealsReadBackBitForBitKeepingSixDecimalsWhereExact) {
  ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  std::vector<double> values(std::begin(kRealEdges), std::end(kRealEdges));
  for (double more : {0.1234567, 0.1 + 0.2, 123456789.123456789, 1.5e-6, 9.9e-7, -4e-7})
    values.push_back(more);
  for (double value : values) {
    SCOPED_TRACE(cFormat("%.17g", value));
    const std::string sixDecimals = cFormat("%f", value);
    const bool sixDecimalsExact =
        bitsOf(std::strtod(sixDecimals.c_str(), nullptr)) == bitsOf(value);
    const std::string member = writtenMember(real(value));
    EXPECT_EQ(member == cLocaleMember(value), sixDecimalsExact) << member;
    const std::vector<double> single = readBack(real(value));
    ASSERT_EQ(single.size(), 1u) << member;
    EXPECT_EQ(bitsOf(single[0]), bitsOf(value)) << member;
  }
  const std::vector<double> array = readBack(node(reals("<R>", values)));
  ASSERT_EQ(array.size(), values.size());
  for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(bitsOf(array[i]), bitsOf(values[i])) << i;

  EXPECT_EQ(writtenMember(real(-0.0)), "\tv = -0.000000\n");
  EXPECT_EQ(writtenMember(real(0.5)), "\tv = 0.500000\n");
  EXPECT_EQ(writtenMember(real(0.0078125)), "\tv = 0.0078125\n");
  EXPECT_EQ(writtenMember(real(0.0000001)), "\tv = 1.0e-7\n");
  EXPECT_EQ(writtenMember(real(DBL_TRUE_MIN)), "\tv = 5.0e-324\n");
  EXPECT_EQ(writtenMember(node(reals(nullptr, {0.25, 0.1234567, -1e-300}))),
            "\tv = ( 0.250000 0.1234567 -1.0e-300 )\n");
}

// The six-decimal mode writes every real as "%f" does; integers are "%lld" in both modes.
TEST(ZrtWriter, NumbersMatchPrintfInTheCLocale) {
  ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  for (double value : kRealEdges) {
    SCOPED_TRACE(cFormat("%.17g", value));
    EXPECT_EQ(writtenMember(real(value), true), cLocaleMember(value));
  }
  for (int64_t value : kIntegerEdges) {
    SCOPED_TRACE(value);
    EXPECT_EQ(writtenMember(ZRXValue(value)), cLocaleMember(value));
    EXPECT_EQ(writtenMember(ZRXValue(value), true), cLocaleMember(value));
  }
  // Spot checks that do not lean on printf.
  EXPECT_EQ(writtenMember(real(-0.0), true), "\tv = -0.000000\n");
  EXPECT_EQ(writtenMember(real(0.0078125), true), "\tv = 0.007812\n");
  EXPECT_EQ(writtenMember(real(0.0000001), true), "\tv = 0.000000\n");
  EXPECT_EQ(writtenMember(real(DBL_MAX), true).size(), std::string("\tv = \n").size() + 309 + 7);
  EXPECT_EQ(writtenMember(real(DBL_MAX)), writtenMember(real(DBL_MAX), true));
}

// Arrays go through a batched path, in runs of values that fit the room left; whatever the sizes
// and the mix, the bytes must equal one value at a time: through printf in the six-decimal mode,
// as single values are written otherwise.
TEST(ZrtWriter, ArraysEqualOneValueAtATime) {
  auto single = [](double value) {
    const std::string member = writtenMember(real(value));
    return member.substr(5, member.size() - 6);  // "\tv = " and "\n" cut off
  };
  const size_t sizes[] = {0, 1, 9, 10, 11, 19, 20, 21, 25, 1023, 1024, 1025, 3001, 5000};
  for (size_t n : sizes) {
    SCOPED_TRACE(n);
    std::vector<double> realValues;
    std::vector<int64_t> integerValues;
    for (size_t i = 0; i < n; ++i) {
      double r = kRealEdges[i % (sizeof kRealEdges / sizeof *kRealEdges)];
      realValues.push_back(i % 7 == 3 ? r : r * 0.001 + static_cast<double>(i) / 3);
      integerValues.push_back(kIntegerEdges[i % (sizeof kIntegerEdges / sizeof *kIntegerEdges)] /
                              static_cast<int64_t>(1 + i % 5));
    }
    std::string expectedSix = "\tv = <R> ( ";
    std::string expectedExact = "\tv = <R> ( ";
    std::string expectedIntegers = "\tv = ( ";
    for (double r : realValues) {
      expectedSix += cFormat("%f", r) + " ";
      expectedExact += single(r) + " ";
    }
    for (int64_t v : integerValues) expectedIntegers += cFormat("%lld", v) + " ";
    EXPECT_EQ(writtenMember(node(reals("<R>", realValues)), true), expectedSix + ")\n");
    EXPECT_EQ(writtenMember(node(reals("<R>", realValues))), expectedExact + ")\n");
    EXPECT_EQ(writtenMember(node(integers(nullptr, integerValues))), expectedIntegers + ")\n");
  }
  // Reals far longer than the room kept per value: alone, in a row, and at a batch's end.
  std::vector<double> longFirst = {-DBL_MAX, 1.0};
  std::vector<double> allLong(40, DBL_MAX);
  std::vector<double> longAtBatchEnd(1030, 0.5);
  for (size_t i = 1015; i < 1030; ++i) longAtBatchEnd[i] = i % 2 ? -1e300 : DBL_MAX;
  for (const std::vector<double>* values : {&longFirst, &allLong, &longAtBatchEnd}) {
    std::string expected = "\tv = ( ";
    for (double r : *values) expected += cFormat("%f", r) + " ";
    EXPECT_EQ(writtenMember(node(reals(nullptr, *values)), true), expected + ")\n");
    EXPECT_EQ(writtenMember(node(reals(nullptr, *values))), expected + ")\n");
  }
  std::vector<int64_t> oneTo25;
  for (int64_t i = 1; i <= 25; ++i) oneTo25.push_back(i);
  EXPECT_EQ(writtenMember(node(integers(nullptr, oneTo25))),
            "\tv = ( 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 )\n");
}

// A host that has set a locale with a decimal comma still gets decimal points.
TEST(ZrtWriter, NumbersIgnoreTheProcessLocale) {
  const char* candidates[] = {"de_DE.UTF-8", "de_DE.utf8",  "de_DE",
                              "fr_FR.UTF-8", "fr_FR.utf8",  "fr_FR",
                              "nl_NL.UTF-8", "ru_RU.UTF-8", "it_IT.UTF-8"};
  std::string previous = std::setlocale(LC_ALL, nullptr);
  const char* chosen = nullptr;
  for (const char* name : candidates) {
    if (std::setlocale(LC_ALL, name) && cFormat("%f", 1.5) == "1,500000") {
      chosen = name;
      break;
    }
  }
  if (!chosen) {
    std::setlocale(LC_ALL, previous.c_str());
    GTEST_SKIP() << "no locale with a decimal comma is installed";
  }
  std::string scalar = writtenMember(real(1.5));
  std::string array = writtenMember(node(reals(nullptr, {1.5, -0.25, 0.1234567, 1e-7})));
  std::string sixDecimals = writtenMember(node(reals(nullptr, {0.1234567})), true);
  std::setlocale(LC_ALL, previous.c_str());
  EXPECT_EQ(scalar, "\tv = 1.500000\n") << chosen;
  EXPECT_EQ(array, "\tv = ( 1.500000 -0.250000 0.1234567 1.0e-7 )\n") << chosen;
  EXPECT_EQ(sixDecimals, "\tv = ( 0.123457 )\n") << chosen;
}

// Escapes and lexical checks ---------------------------------------------------------------------

TEST(ZrtWriter, EscapeFunctions) {
  const std::pair<std::string, std::string> strings[] = {
      {"", ""},
      {"plain", "plain"},
      {"\"\\\b\f\n\r\t", "\\\"\\\\\\b\\f\\n\\r\\t"},
      {"a\\x", "a\\\\x"},
      {std::string("\x01\x0b\x7f\xff", 4), std::string("\x01\x0b\x7f\xff", 4)},
  };
  for (const auto& [in, out] : strings) EXPECT_EQ(VisitorExportToZRT::escapeString(in), out);

  const std::pair<std::string, std::string> rawtexts[] = {
      {"", ""},
      {">}", "\\>}"},
      {"a>}b>}", "a\\>}b\\>}"},
      {">>}", ">\\>}"},
      {"\\>}", "\\\\>}"},
      {"> } >", "> } >"},
      {"}>", "}>"},
      {"line\n>}\n", "line\n\\>}\n"},
  };
  for (const auto& [in, out] : rawtexts) EXPECT_EQ(VisitorExportToZRT::escapeRawtext(in), out);
}

TEST(ZrtWriter, LexicalChecks) {
  struct Row {
    const char* text;
    bool key, identifier, id, tag;
  };
  const Row rows[] = {
      {"a", true, true, false, false},        {"_a1", true, true, false, false},
      {"A_b_9", true, true, false, false},    {"True", true, true, false, false},
      {"_", false, false, false, false},      {"", false, false, false, false},
      {"1a", false, false, false, false},     {"a b", false, false, false, false},
      {"a-b", false, false, false, false},    {"true", false, false, false, false},
      {"false", false, false, false, false},  {"ID", false, true, false, false},
      {"id", false, true, false, false},      {"Id", false, true, false, false},
      {"iD", false, true, false, false},      {"IDs", true, true, false, false},
      {"#", false, false, true, false},       {"#a_9Z", false, false, true, false},
      {"#NULL", false, false, true, false},   {"#__", false, false, true, false},
      {"#_", false, false, false, false},     {"#a-b", false, false, false, false},
      {"##", false, false, false, false},     {"<>", false, false, false, true},
      {"<a:b_9>", false, false, false, true}, {"<a b>", false, false, false, false},
      {"<a", false, false, false, false},     {"a>", false, false, false, false},
      {"<<a>", false, false, false, false},   {"<a>>", false, false, false, false},
      {"<", false, false, false, false},      {"\xc3\xa9", false, false, false, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(zrt::isValidKey(r.text), r.key);
    EXPECT_EQ(zrt::isValidIdentifier(r.text), r.identifier);
    EXPECT_EQ(zrt::isValidID(r.text), r.id);
    EXPECT_EQ(zrt::isValidTag(r.text), r.tag);
  }
  EXPECT_FALSE(zrt::isValidKey(std::string("a\0b", 3)));
  EXPECT_FALSE(zrt::isValidID(std::string("#a\0", 3)));
}

// Refusals ---------------------------------------------------------------------------------------

struct FailureCase {
  const char* name;
  std::function<Written()> run;
  std::vector<std::string> mentions;  // texts the message must hold besides the prefix
};

Written writeMember(const char* key, const ZRXValue& value) { return write(member(key, value)); }

TEST(ZrtWriter, RefusesWhatTheReaderWouldRejectOrChange) {
  const FailureCase cases[] = {
      {"list reached twice",
       [] {
         zr::ref<ZRXList> shared = list("<L>", {ZRXValue(1)});
         zr::ref<ZRXStructure> s = structure("<T>");
         *s << "a" << node(shared.get()) << "b" << node(shared.get());
         return write({s});
       },
       {"list '<L>'", "second time", "at /<T>/b"}},
      {"structure without an ID reached twice",
       [] {
         zr::ref<ZRXStructure> shared = structure("<S>");
         zr::ref<ZRXStructure> s = structure("<T>");
         *s << "a" << node(shared.get()) << "b" << node(list(nullptr, {node(shared.get())}));
         return write({s});
       },
       {"structure '<S>' without an ID", "at /<T>/b"}},
      {"structure with an empty ID reached twice",
       [] {
         zr::ref<ZRXStructure> shared = structure(nullptr, "");
         zr::ref<ZRXStructure> s = structure("<T>");
         *s << "a" << node(shared.get()) << "b" << node(shared.get());
         return write({s});
       },
       {"untagged structure without an ID", "at /<T>/b"}},
      {"structure reached twice whose ID the counts hold once",
       [] {
         zr::ref<ZRXStructure> shared = structure("<S>", "#s");
         zr::ref<ZRXStructure> s = structure("<T>");
         *s << "a" << node(shared.get()) << "b" << node(shared.get());
         static const IDCountMap stale = {{"#s", 1}};
         return write({s}, Counts::Counted, &stale);
       },
       {"structure '<S>'", "'#s'", "at /<T>/b", "not written"}},
      {"ID missing from the counts",
       [] {
         zr::ref<ZRXStructure> s = structure("<T>", "#t");
         static const IDCountMap other = {{"#u", 2}};
         return write({s}, Counts::Counted, &other);
       },
       {"'#t'", "missing from the ID counts"}},
      {"two structures with one ID",
       [] {
         zr::ref<ZRXStructure> s = structure("<T>");
         *s << "a" << node(structure("<A>", "#same")) << "b" << node(structure("<B>", "#same"));
         return write({s});
       },
       {"'#same'", "at /<T>/b", "structure '<A>'"}},
      {"ID value naming no structure",
       [] { return writeMember("ref", idValue("#nowhere")); },
       {"'#nowhere'", "at /<T>/ref", "names no structure"}},
      {"top-level structure without a tag",
       [] { return write({structure(nullptr)}); },
       {"top-level structure without a tag"}},
      {"top-level structure written twice",
       [] {
         zr::ref<ZRXStructure> s = structure("<T>", "#t");
         return write({s, s});
       },
       {"top-level structure '<T>'"}},
      {"NaN", [] { return writeMember("r", real(std::nan(""))); }, {"NaN", "at /<T>/r"}},
      {"infinity",
       [] { return writeMember("r", real(-std::numeric_limits<double>::infinity())); },
       {"infinity", "at /<T>/r"}},
      {"infinity in an array",
       [] {
         return writeMember("arr",
                            node(reals("<A>", {1, 2, std::numeric_limits<double>::infinity()})));
       },
       {"real array '<A>'", "/<T>/arr[2]", "at /<T>/arr"}},
      {"key with a space", [] { return writeMember("a b", ZRXValue(1)); }, {"key 'a b'"}},
      {"empty key", [] { return writeMember("", ZRXValue(1)); }, {"key ''"}},
      {"key true", [] { return writeMember("true", ZRXValue(1)); }, {"key 'true'"}},
      {"key ID", [] { return writeMember("ID", idValue("#NULL")); }, {"key 'ID'"}},
      {"key iD", [] { return writeMember("iD", ZRXValue(1)); }, {"key 'iD'"}},
      {"empty identifier",
       [] { return writeMember("v", ident("")); },
       {"empty identifier", "at /<T>/v"}},
      {"identifier false",
       [] { return writeMember("v", ident("false")); },
       {"identifier value 'false'", "at /<T>/v"}},
      {"identifier with a dot",
       [] { return writeMember("v", ident("a.b")); },
       {"identifier value 'a.b'"}},
      {"structure tag without brackets",
       [] { return write({structure("Scene")}); },
       {"tag 'Scene'", "at /Scene"}},
      {"list tag with a space",
       [] { return writeMember("l", node(list("<a b>", {ZRXValue(1)}))); },
       {"tag '<a b>'", "at /<T>/l"}},
      {"empty list tag", [] { return writeMember("l", node(list("<a", {}))); }, {"tag '<a'"}},
      {"array tag", [] { return writeMember("a", node(integers("T", {1}))); }, {"tag 'T'"}},
      {"raw text tag",
       [] { return writeMember("r", node(new ZRXRawtextBlock("<r-t>", "x"))); },
       {"tag '<r-t>'"}},
      {"own ID without '#'",
       [] {
         zr::ref<ZRXStructure> s = structure("<T>", "abc");
         return write({s}, Counts::NoMap);
       },
       {"ID 'abc'", "at /<T>"}},
      {"own ID '#_'",
       [] {
         zr::ref<ZRXStructure> s = structure("<T>", "#_");
         return write({s}, Counts::NoMap);
       },
       {"ID '#_'"}},
      {"empty ID value", [] { return writeMember("v", idValue("")); }, {"empty ID", "at /<T>/v"}},
      {"ID value with a space",
       [] { return writeMember("v", idValue("#a b")); },
       {"ID value '#a b'"}},
      {"string with a NUL byte",
       [] { return writeMember("s", str(std::string("a\0b", 3))); },
       {"NUL", "at /<T>/s"}},
      {"raw text ending with a backslash",
       [] { return writeMember("r", node(new ZRXRawtextBlock("<R>", "abc\\"))); },
       {"raw text '<R>'", "backslash", "at /<T>/r"}},
      {"raw text holding a CR",
       [] { return writeMember("r", node(new ZRXRawtextBlock(nullptr, "a\r\nb"))); },
       {"untagged raw text", "CR", "at /<T>/r"}},
      {"nesting deeper than the limit",
       [] {
         zr::ref<ZRXStructure> top = structure("<L1>");
         ZRXStructure* current = top.get();
         for (int pair = 0; pair < 3; ++pair) {
           ZRXStructure* next = structure(nullptr);
           *current << "c" << node(list(nullptr, {node(next)}));
           current = next;
         }
         return write({top}, Counts::Counted, nullptr, 6);
       },
       {"nesting deeper than 6"}},
      {"first failure is kept",
       [] {
         zr::ref<ZRXStructure> s = structure("<T>");
         *s << "bad key" << ZRXValue(1) << "r" << real(std::nan(""));
         return write({s});
       },
       {"key 'bad key'"}},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    zrtest::LogCapture log;
    Written w = c.run();
    EXPECT_EQ(w.failure.rfind("VisitorExportToZRT: ", 0), 0u) << w.failure;
    for (const std::string& text : c.mentions)
      EXPECT_NE(w.failure.find(text), std::string::npos) << "'" << text << "' in " << w.failure;
  }
}

TEST(ZrtWriter, ListReachedTwiceLogsTheWarning) {
  zr::ref<ZRXList> shared = list(nullptr, {ZRXValue(1)});
  zr::ref<ZRXStructure> s = structure("<T>");
  *s << "a" << node(shared.get()) << "b" << node(shared.get());
  zrtest::LogCapture log;
  VisitorExportToZRT writer;
  writer.writeHeader();
  s->acceptVisitor(&writer);
  EXPECT_TRUE(writer.failed());
  EXPECT_EQ(log.warnings(),
            std::vector<std::string>{"VisitorExportToZRT: cycle detected on ZRXList.\n"});
  EXPECT_TRUE(log.errors().empty());
}

TEST(ZrtWriter, IsIDReferencedAnswersFromTheCounts) {
  VisitorExportToZRT writer;
  EXPECT_TRUE(writer.isIDReferenced("#anything"));  // no map: every ID is written
  IDCountMap ids = {{"#one", 1}, {"#two", 2}, {"#many", 7}};
  writer.setIDSet(&ids);
  EXPECT_FALSE(writer.isIDReferenced("#one"));
  EXPECT_TRUE(writer.isIDReferenced("#two"));
  EXPECT_TRUE(writer.isIDReferenced("#many"));
  EXPECT_FALSE(writer.failed());
  EXPECT_FALSE(writer.isIDReferenced("#absent"));
  EXPECT_NE(writer.failure().find("'#absent'"), std::string::npos) << writer.failure();
}

// Stack use --------------------------------------------------------------------------------------

// A chain of `levels` nested containers (structures and lists in turn) under one top-level
// structure.
zr::ref<ZRXStructure> deepChain(int levels) {
  zr::ref<ZRXStructure> top = structure("<Deep>");
  ZRXStructure* s = top.get();
  for (int level = 2; level <= levels; level += 2) {
    ZRXList* l = list(nullptr, {});
    *s << "c" << node(l);
    if (level + 1 > levels) break;
    ZRXStructure* next = structure(nullptr);
    l->value().push_back(node(next));
    s = next;
  }
  return top;
}

TEST(ZrtWriter, NestingUpToTheLimitIsWrittenOneDeeperIsRefused) {
  Written atLimit = write({deepChain(kDefaultMaxDepth)});
  EXPECT_EQ(atLimit.failure, "");
  // The innermost level is an empty list: written "[ ]" at 999 tabs after its key.
  EXPECT_NE(atLimit.text.find(std::string(kDefaultMaxDepth - 1, '\t') + "c = [ ]\n"),
            std::string::npos);
  Written beyond = write({deepChain(kDefaultMaxDepth + 2)});
  EXPECT_NE(beyond.failure.find("nesting deeper than 1000"), std::string::npos) << beyond.failure;
}

#if defined(__linux__) && !defined(ZRX_TEST_ASAN)
// The whole save walk (counting and writing) at the nesting limit fits a 1 MiB thread stack.
TEST(ZrtWriter, LimitDepthWalkFitsAOneMebibyteStack) {
  zr::ref<ZRXStructure> top = deepChain(kDefaultMaxDepth);
  Written result;
  ASSERT_TRUE(zrtest::runOnStack(zrtest::kOneMebibyte, [&] { result = write({top.get()}); }));
  EXPECT_EQ(result.failure, "");
  EXPECT_GT(result.text.size(), 500000u);
}
#endif

}  // namespace
