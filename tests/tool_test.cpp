// The zrx command-line tool, run as a program: help texts, command-line errors, missing and
// foreign files, `info` counts of a document whose counts are known, `check` on good and broken
// files of both formats, `convert` round trips and refusals (the output file left untouched), and
// `dump`. Every case checks the exit status, standard output and standard error.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <iterator>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "support/TreeCompare.hpp"
#include "support/TreeGen.hpp"
#include "zrX/Document.hpp"

#ifndef ZRX_TOOL

TEST(Tool, NotBuilt) { GTEST_SKIP() << "the zrx tool is not part of this build"; }

#else

#include "support/ToolFixture.hpp"

namespace {

namespace fs = std::filesystem;
using zr::ref;
using zrtest::lines;
using zrtest::Outcome;
using zrtest::readBytes;
using zrtest::ToolTest;
using zrtest::writeBytes;
using zrX::Format;
using zrX::ZRXStructure;
using zrX::ZRXValue;

// A hand-written document whose counts are known: 2 top-level structures besides the metadata
// block (which stands between them), 3 structures, 4 lists (one empty), nesting 4 deep
// (<Scene>, parts, the untagged list, <Inner>), 2 raw text blocks, 2 integer arrays with 3
// elements (one empty), 2 real arrays with 5 elements (integers mixed in), 2 IDs, 4 ID references
// ("#NULL", a reference back to the structure itself).
const char* const kKnownText =
    "ZRX version=101 encoding=ascii\n"
    "\n"
    "// A hand-written document whose counts are known.\n"
    "<Scene>\n"
    "{\n"
    "\tname = \"Demo\"\n"
    "\tparts = [\n"
    "\t\t<Part> { ID = #p1 size = ( 1 2 3 ) }\n"
    "\t\t#p1\n"
    "\t\t[ 1 2 <Inner> [ x ] ]\n"
    "\t]\n"
    "\tweights = <Weights> ( 0.25 0.75 1 )\n"
    "\tsource = <Text> {<\n"
    "line one\n"
    ">}\n"
    "\tempty = [ ]\n"
    "\tnone = #NULL\n"
    "}\n"
    "<Metadata>\n"
    "{\n"
    "\tAuthoring_Tool = \"hand \\\"made\\\"\"\n"
    "\tNote = \"tab\\there\"\n"
    "}\n"
    "<Other>\n"
    "{\n"
    "\tID = #o\n"
    "\tback = #p1\n"
    "\tself = #o\n"
    "\tblob = {<\n"
    "raw\n"
    ">}\n"
    "\tints = ( )\n"
    "\treals = ( 1.5 2 )\n"
    "}\n";

// What the library writes for kKnownText: the metadata block first, the canonical layout.
const char* const kKnownCanonical =
    "ZRX version=101 encoding=ascii\n"
    "\n"
    "<Metadata>\n"
    "{\n"
    "\tAuthoring_Tool = \"hand \\\"made\\\"\"\n"
    "\tNote = \"tab\\there\"\n"
    "}\n"
    "<Scene>\n"
    "{\n"
    "\tname = \"Demo\"\n"
    "\tparts = \n"
    "\t[\n"
    "\t\t<Part>\n"
    "\t\t{\n"
    "\t\t\tID = #p1\n"
    "\t\t\tsize = ( 1 2 3 )\n"
    "\t\t}\n"
    "\t\t#p1\n"
    "\t\t[\n"
    "\t\t\t1\n"
    "\t\t\t2\n"
    "\t\t\t<Inner>\n"
    "\t\t\t[\n"
    "\t\t\t\tx\n"
    "\t\t\t]\n"
    "\t\t]\n"
    "\t]\n"
    "\tweights = <Weights> ( 0.250000 0.750000 1.000000 )\n"
    "\tsource = <Text>\n"
    "{<\n"
    "line one\n"
    ">}\n"
    "\tempty = [ ]\n"
    "\tnone = #NULL\n"
    "}\n"
    "<Other>\n"
    "{\n"
    "\tID = #o\n"
    "\tback = #p1\n"
    "\tself = #o\n"
    "\tblob = \n"
    "{<\n"
    "raw\n"
    ">}\n"
    "\tints = ( )\n"
    "\treals = ( 1.500000 2.000000 )\n"
    "}\n";

std::string knownInfo(const std::string& path, const char* format) {
  return path + "\n" + "  format:               " + format + "\n" +
         "  version:              101\n"
         "  encoding:             ascii\n"
         "  file size:            " +
         std::to_string(fs::file_size(path)) + " bytes\n" +
         "  metadata:             2 entries\n"
         "    Authoring_Tool = \"hand \\\"made\\\"\"\n"
         "    Note = \"tab\\there\"\n"
         "  top-level structures: 2\n"
         "  structures:           3\n"
         "  lists:                4\n"
         "  raw text blocks:      2\n"
         "  integer arrays:       2 (3 elements)\n"
         "  real arrays:          2 (5 elements)\n"
         "  IDs:                  2\n"
         "  ID references:        4\n"
         "  deepest nesting:      4\n";
}

ZRXValue real(double value) {
  ZRXValue out;
  out.setReal(value);
  return out;
}

// Help ------------------------------------------------------------------------------------------

TEST_F(ToolTest, VersionNamesTheProject) {
  const Outcome run = zrx({"--version"});
  EXPECT_EQ(run.status, 0);
  // "zrx 1.0.1": the project's version, numbers and dots.
  ASSERT_GT(run.out.size(), 5u);
  EXPECT_EQ(run.out.substr(0, 4), "zrx ");
  EXPECT_EQ(run.out.find_first_not_of("0123456789.", 4), run.out.size() - 1) << run.out;
  EXPECT_EQ(run.out.back(), '\n');
  EXPECT_EQ(zrx({"--version", "x"}).status, 2);
}

TEST_F(ToolTest, HelpForTheToolAndEachCommand) {
  for (const char* flag : {"--help", "-h", "help"}) {
    const Outcome run = zrx({flag});
    EXPECT_EQ(run.status, 0) << flag;
    EXPECT_EQ(run.err, "") << flag;
    for (const char* command : {"zrx info", "zrx check", "zrx convert", "zrx dump", "zrx diff"})
      EXPECT_NE(run.out.find(command), std::string::npos) << flag << " lacks " << command;
  }
  for (const char* command : {"info", "check", "convert", "dump", "diff"}) {
    const Outcome run = zrx({command, "--help"});
    EXPECT_EQ(run.status, 0) << command;
    EXPECT_EQ(run.err, "") << command;
    EXPECT_EQ(run.out.rfind(std::string("Usage: zrx ") + command, 0), 0u) << run.out;
    // The same text through "help COMMAND", and with other arguments around the flag.
    EXPECT_EQ(zrx({"help", command}).out, run.out) << command;
    EXPECT_EQ(zrx({command, "some.zrt", "-h"}).out, run.out) << command;
  }
}

// Command-line errors ---------------------------------------------------------------------------

TEST_F(ToolTest, WrongCommandLinesGiveOneLineAndStatus2) {
  const std::string good = at("good.zrt");
  writeBytes(good, kKnownText);
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{}, "zrx: no command given"},
      {{"frob"}, "zrx: unknown command 'frob'"},
      {{"--frob"}, "zrx: unknown option '--frob'"},
      {{"help", "frob"}, "zrx: help takes one of: info check convert dump diff"},
      {{"info"}, "zrx: info needs a FILE"},
      {{"check"}, "zrx: check needs a FILE"},
      {{"dump"}, "zrx: dump needs a FILE"},
      {{"dump", good, good}, "zrx: dump takes exactly one FILE"},
      {{"info", "-x", good}, "zrx: info: unknown option '-x'"},
      {{"check", good, "--verbose"}, "zrx: check: unknown option '--verbose'"},
      {{"dump", "--to", "zrt", good}, "zrx: dump: unknown option '--to'"},
      {{"convert", good}, "zrx: convert needs IN and OUT"},
      {{"convert", good, at("a.zrb"), at("b.zrb")}, "zrx: convert needs IN and OUT"},
      {{"convert", good, at("out.txt")},
       "zrx: convert: cannot tell the format of '" + at("out.txt") + "'; use --to zrt|zrb|json"},
      {{"convert", good, at("out.zrb"), "--to"}, "zrx: convert: --to needs zrt, zrb or json"},
      {{"convert", good, at("out.zrb"), "--to", "xml"},
       "zrx: convert: --to takes zrt, zrb or json, not 'xml'"},
      {{"convert", good, at("out.zrb"), "--to=ZRB"},
       "zrx: convert: --to takes zrt, zrb or json, not 'ZRB'"},
      {{"convert", "-q", good, at("out.zrb")}, "zrx: convert: unknown option '-q'"},
      {{"convert", good, at("out.zrb"), "--six-decimals"},
       "zrx: convert: --six-decimals applies to ZRT output only"},
      {{"info", "--six-decimals", good}, "zrx: info: unknown option '--six-decimals'"},
  };
  for (const auto& c : cases) {
    const Outcome run = zrx(c.args);
    const std::string what = c.args.empty() ? "(nothing)" : c.args[0];
    EXPECT_EQ(run.status, 2) << what;
    EXPECT_EQ(run.out, "") << what;
    EXPECT_EQ(run.err, c.message + " (see 'zrx --help')\n") << what;
  }
  EXPECT_EQ(folderContent(), std::set<std::string>{"good.zrt"});
}

TEST_F(ToolTest, MissingFoldersAndForeignFilesGiveOneLineAndStatus1) {
  const std::string missing = at("missing.zrt");
  const std::string folder = at("folder.zrt");
  fs::create_directory(folder);
  const std::string foreign = at("foreign.zrt");
  writeBytes(foreign, "hello, not a document\n");
  const std::string empty = at("empty.zrb");
  writeBytes(empty, "");
  // Detection needs the exact first bytes: a comment before the header is not a ZRT document.
  const std::string commented = at("commented.zrt");
  writeBytes(commented, std::string("// note\n") + kKnownText);
  // JSON is told by its first "{": a JSON array is no document.
  const std::string array = at("array.json");
  writeBytes(array, " [1, 2]");
  const struct {
    std::string path, message;
  } files[] = {
      {missing, ": no such file"},
      {folder, ": is a folder, not a document"},
      {foreign, ": not a ZRX document (neither ZRT text, ZRB binary nor JSON)"},
      {empty, ": not a ZRX document (neither ZRT text, ZRB binary nor JSON)"},
      {commented, ": not a ZRX document (neither ZRT text, ZRB binary nor JSON)"},
      {array, ": not a ZRX document (neither ZRT text, ZRB binary nor JSON)"},
  };
  for (const auto& f : files) {
    for (const char* command : {"info", "check", "dump", "convert"}) {
      std::vector<std::string> args{command, f.path};
      if (std::string(command) == "convert") args.push_back(at("out.zrb"));
      const Outcome run = zrx(args);
      EXPECT_EQ(run.status, 1) << command << " " << f.path;
      EXPECT_EQ(run.out, "") << command << " " << f.path;
      EXPECT_EQ(run.err, f.path + f.message + "\n") << command;
    }
  }
  EXPECT_FALSE(fs::exists(at("out.zrb")));
  // "--" ends the options: a file whose name starts with "-" can still be named.
  const Outcome run = zrx({"check", "--", "-named"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "-named: no such file\n");
}

// info ------------------------------------------------------------------------------------------

TEST_F(ToolTest, InfoCountsAKnownDocumentInBothFormats) {
  const std::string text = at("known.zrt");
  const std::string binary = at("known.zrb");
  writeBytes(text, kKnownText);
  ASSERT_EQ(zrx({"convert", text, binary}).status, 0);

  Outcome run = zrx({"info", text});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, knownInfo(text, "ZRT"));

  // Several files: one block each, separated by an empty line; a missing one fails the run but
  // not the others.
  run = zrx({"info", binary, at("missing.zrb"), text});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, knownInfo(binary, "ZRB") + "\n" + knownInfo(text, "ZRT"));
  EXPECT_EQ(run.err, at("missing.zrb") + ": no such file\n");
}

TEST_F(ToolTest, InfoShowsMetadataValuesOnOneLineEach) {
  // Metadata written by a host: texts with line ends and NUL bytes, reals, nodes.
  zrX::MetadataMap metadata;
  metadata["Creation_Date"].setString(std::string("Mon Jan  1\n00:00\0x", 18));
  metadata["Scale"] = real(0.1);
  metadata["Count"] = ZRXValue(int64_t{-7});
  metadata["Flag"].setBool(false);
  metadata["Parts"].setArrayInteger(new zrX::ZRXArrayInteger)->value() = {1, 2};
  ref<ZRXStructure> root = new ZRXStructure("<Root>");
  const std::string path = at("meta.zrb");
  writeDocumentFile(path, Format::ZRB, {root}, metadata);

  const Outcome run = zrx({"info", path});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("  metadata:             5 entries\n"
                         "    Count = -7\n"
                         "    Creation_Date = \"Mon Jan  1\\n00:00\\x00x\"\n"
                         "    Flag = false\n"
                         "    Parts = integer array of 2\n"
                         "    Scale = 0.1\n"
                         "  top-level structures: 1\n"
                         "  structures:           1\n"),
            std::string::npos)
      << run.out;
}

// check -----------------------------------------------------------------------------------------

TEST_F(ToolTest, CheckPrintsOkForGoodFilesOfBothFormats) {
  const std::string text = at("known.zrt");
  const std::string binary = at("known.zrb");
  writeBytes(text, kKnownText);
  ASSERT_EQ(zrx({"convert", text, binary}).status, 0);
  // A document holding nothing but its metadata block, and one holding nothing at all.
  const std::string bare = at("bare.zrt");
  writeBytes(bare, "ZRX version=101 encoding=ascii\n");
  const std::string onlyMetadata = at("meta.zrb");
  zrX::MetadataMap metadata;
  metadata["Authoring_Tool"].setString("test");
  writeDocumentFile(onlyMetadata, Format::ZRB, {}, metadata);

  const Outcome run = zrx({"check", text, binary, bare, onlyMetadata});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            text + ": ok\n" + binary + ": ok\n" + bare + ": ok\n" + onlyMetadata + ": ok\n");
}

TEST_F(ToolTest, CheckReportsBrokenFilesWithTheirPlace) {
  const std::string header = "ZRX version=101 encoding=ascii\n\n";
  // A good binary document to break: the first chunk starts right after the 21-byte header.
  const std::string good = at("good.zrb");
  {
    ref<ZRXStructure> root = new ZRXStructure("<Root>");
    *root << "values" << ZRXValue(int64_t{5});
    root->value()[0].value().setArrayInteger(new zrX::ZRXArrayInteger)->value() = {1, 2, 3, 4};
    *root << "name";
    root->value()[1].value().setString("a longer text, so that a cut lands inside it");
    writeDocumentFile(good, Format::ZRB, {root});
  }
  const std::string goodBytes = readBytes(good);
  ASSERT_GT(goodBytes.size(), 40u);
  std::string otherChunk = goodBytes;
  otherChunk[21] = 2;  // a list where a top-level structure must stand; read up to 22
  std::string otherVersion = goodBytes;
  otherVersion[9] = 100;

  const struct {
    const char* name;
    std::string bytes;
    std::vector<std::string> messages;  // the lines on standard error, after "FILE: "
  } cases[] = {
      {"array.zrt",
       header + "<A>\n{\n\tx = 1\n\ty = ( 1 2.5 )\n}\n",
       {"Line 6 : parse error at '2.5'."}},
      {"string.zrt",
       header + "<A>\n{\n\tname = \"open\n}\n",
       {"Line 5 : end of line found before end of string, did you forget a \"?.",
        "Line 5 : parse error at 'open'."}},
      {"untagged.zrt", header + "// comment\n\n{\n}\n", {"Line 5 : parse error at '{'."}},
      {"version.zrt", "ZRX version=100 encoding=ascii\n", {"ZRX version not supported."}},
      {"dangling.zrt",
       header + "<A>\n{\n\tnext = #nothere\n}\n",
       {"Could not link ID '#nothere' to anything!"}},
      {"twice.zrt",
       header + "<A>\n{\n\tID = #a\n}\n<B>\n{\n\tID = #a\n}\n",
       {"ID '#a' used by '<B>' is already assigned to another node '<A>'!"}},
      {"cut.zrb", goodBytes.substr(0, 40), {"Error parsing binary file at offset 40."}},
      {"chunk.zrb",
       otherChunk,
       {"Error parsing binary file at offset 22. Expected chunk structure."}},
      {"version.zrb", otherVersion, {"ZRX version not supported."}},
  };
  std::vector<std::string> all{"check"};
  std::string expectedErr;
  for (const auto& c : cases) {
    const std::string path = at(c.name);
    writeBytes(path, c.bytes);
    const Outcome run = zrx({"check", path});
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_EQ(run.out, "") << c.name;
    std::string expected;
    for (const std::string& message : c.messages) expected += path + ": " + message + "\n";
    EXPECT_EQ(run.err, expected) << c.name;
    all.push_back(path);
    all.push_back(good);
    expectedErr += expected;
  }
  // All at once: every good file still gets its line, the bad ones their messages.
  const Outcome run = zrx(all);
  EXPECT_EQ(run.status, 1);
  std::string expectedOut;
  for (size_t i = 0; i < std::size(cases); ++i) expectedOut += good + ": ok\n";
  EXPECT_EQ(run.out, expectedOut);
  EXPECT_EQ(run.err, expectedErr);
}

// A file cannot forge lines or terminal sequences through the messages: each complaint is one
// line, the bytes it quotes escaped, a long one cut.
TEST_F(ToolTest, CheckShowsEachComplaintOnOneLineWithTheFileEscaped) {
  const std::string forged = "#a\nescape.zrb: ok\x1b[31m";
  const std::string path = at("escape.zrb");
  {
    ref<ZRXStructure> root = new ZRXStructure("<Root>");
    *root << "r" << ZRXValue::makeID(forged) << "s"
          << ZRXValue::makeID("#" + std::string(5000, 'x'));
    writeDocumentFile(path, Format::ZRB, {root});
  }
  const Outcome run = zrx({"check", path});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << run.err;
  EXPECT_EQ(run.err, path + ": Could not link ID '#a\\nescape.zrb: ok\\x1b[31m' to anything!\n" +
                         path + ": Could not link ID '#" + std::string(63, 'x') +
                         "...[5001 bytes]' to anything!\n");
}

// convert ---------------------------------------------------------------------------------------

TEST_F(ToolTest, ConvertRoundTripKeepsTheTreeAndSettles) {
  const std::string text = at("known.zrt");
  writeBytes(text, kKnownText);
  const std::string binary = at("known.zrb");
  const std::string back = at("back.zrt");
  const std::string binaryAgain = at("again.zrb");
  const std::string backAgain = at("again.zrt");
  for (const auto& [in, out] : {std::pair{text, binary}, std::pair{binary, back},
                                std::pair{back, binaryAgain}, std::pair{binaryAgain, backAgain}}) {
    const Outcome run = zrx({"convert", in, out});
    ASSERT_EQ(run.status, 0) << in << " -> " << out << ": " << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
  }
  EXPECT_EQ(readBytes(binary).substr(0, 4),
            "\xAB"
            "ZRX");
  // Text -> binary -> text: the same tree, the same IDs and sharing, the same metadata.
  auto first = readDocumentFile(text);
  auto last = readDocumentFile(back);
  EXPECT_TRUE(zrtest::sameDocument(first->structures(), last->structures()));
  ASSERT_EQ(last->metadata().size(), 2u);
  EXPECT_EQ(last->metadata()["Note"].getString(), "tab\there");
  // The metadata block comes first, the layout is canonical, and a converted file converts to
  // the same bytes again.
  EXPECT_EQ(readBytes(back), kKnownCanonical);
  EXPECT_EQ(readBytes(backAgain), kKnownCanonical);
  EXPECT_EQ(readBytes(binaryAgain), readBytes(binary));
}

TEST_F(ToolTest, ConvertRoundTripsGeneratedTextDocuments) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    zrtest::TreeGenOptions options = zrtest::TreeGenOptions::textSafe(seed);
    options.topLevelStructures = 1 + static_cast<int>(seed % 3);
    const std::string text = at("gen.zrt");
    const std::string binary = at("gen.zrb");
    const std::string back = at("back.zrt");
    const std::string binaryAgain = at("again.zrb");
    zrX::MetadataMap metadata;
    metadata["Seed"] = ZRXValue(int64_t{seed});
    writeDocumentFile(text, Format::ZRT, zrtest::generateDocument(options), metadata);
    ASSERT_EQ(zrx({"convert", text, binary}).status, 0) << "seed " << seed;
    ASSERT_EQ(zrx({"convert", binary, back}).status, 0) << "seed " << seed;
    ASSERT_EQ(zrx({"convert", back, binaryAgain}).status, 0) << "seed " << seed;
    auto first = readDocumentFile(text);
    auto last = readDocumentFile(back);
    EXPECT_TRUE(zrtest::sameDocument(first->structures(), last->structures())) << "seed " << seed;
    EXPECT_EQ(readBytes(back), readBytes(text)) << "seed " << seed;
    EXPECT_EQ(readBytes(binaryAgain), readBytes(binary)) << "seed " << seed;
  }
}

TEST_F(ToolTest, TextRealsComeBackBitForBitUnlessSixDecimalsAreAsked) {
  // Reals of every kind: binary to text and back, and through JSON to text, give the same bytes.
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    zrtest::TreeGenOptions options = zrtest::TreeGenOptions::textSafe(seed);
    options.sixDecimalReals = false;
    options.realsOfEveryKind = true;
    const std::string original = at("gen.zrb");
    writeDocumentFile(original, Format::ZRB, zrtest::generateDocument(options));
    ASSERT_EQ(zrx({"convert", original, at("gen.zrt")}).status, 0) << "seed " << seed;
    ASSERT_EQ(zrx({"convert", at("gen.zrt"), at("back.zrb")}).status, 0) << "seed " << seed;
    EXPECT_EQ(readBytes(at("back.zrb")), readBytes(original)) << "seed " << seed;
    ASSERT_EQ(zrx({"convert", original, at("gen.json")}).status, 0) << "seed " << seed;
    ASSERT_EQ(zrx({"convert", at("gen.json"), at("json.zrt")}).status, 0) << "seed " << seed;
    EXPECT_EQ(readBytes(at("json.zrt")), readBytes(at("gen.zrt"))) << "seed " << seed;
  }
  // --six-decimals writes "%f", for convert and dump alike.
  const std::string text = at("reals.zrt");
  writeBytes(text, "ZRX version=101 encoding=ascii\n<R> { r = 0.1234567 a = ( 1.5 1.0E-7 ) }\n");
  const std::string exact = "<R>\n{\n\tr = 0.1234567\n\ta = ( 1.500000 1.0e-7 )\n}\n";
  const std::string sixDecimals = "<R>\n{\n\tr = 0.123457\n\ta = ( 1.500000 0.000000 )\n}\n";
  const std::string header = "ZRX version=101 encoding=ascii\n\n";
  EXPECT_EQ(zrx({"dump", text}).out, header + exact);
  EXPECT_EQ(zrx({"dump", "--six-decimals", text}).out, header + sixDecimals);
  ASSERT_EQ(zrx({"convert", text, at("six.zrt"), "--six-decimals"}).status, 0);
  EXPECT_EQ(readBytes(at("six.zrt")), header + sixDecimals);
}

TEST_F(ToolTest, ConvertTakesAnyBinaryDocumentOrRefusesItCleanly) {
  // Generated trees with everything binary carries: any bytes in texts and names, NaN and
  // infinities, shared structures, forward and backward references. Binary to binary keeps the
  // tree; binary to text either works (and checks) or is refused with one line, OUT untouched.
  int refused = 0;
  for (uint32_t seed = 1; seed <= 16; ++seed) {
    zrtest::TreeGenOptions options;
    options.seed = seed;
    options.topLevelStructures = 1 + static_cast<int>(seed % 3);
    options.maxDepth = 2 + static_cast<int>(seed % 5);
    options.validNames = seed % 2 == 0;
    zrX::Document expected;  // linked after writing; the Document breaks its cycles
    expected.structures() = zrtest::generateDocument(options);
    const std::string original = at("gen.zrb");
    writeDocumentFile(original, Format::ZRB, expected.structures());
    {
      std::vector<ref<zrX::ZRXTaggedValue> > nodes(expected.structures().begin(),
                                                   expected.structures().end());
      ASSERT_TRUE(zrX::Parser::link(nodes)) << "seed " << seed;
    }

    const std::string copy = at("copy.zrb");
    const std::string copyAgain = at("again.zrb");
    ASSERT_EQ(zrx({"convert", original, copy}).status, 0) << "seed " << seed;
    ASSERT_EQ(zrx({"convert", copy, copyAgain}).status, 0) << "seed " << seed;
    auto converted = readDocumentFile(copy);
    EXPECT_TRUE(zrtest::sameDocument(expected.structures(), converted->structures()))
        << "seed " << seed;
    EXPECT_EQ(readBytes(copyAgain), readBytes(copy)) << "seed " << seed;

    const std::string text = at("gen.zrt");
    writeBytes(text, "previous content");
    const Outcome run = zrx({"convert", original, text});
    if (run.status == 0) {
      EXPECT_EQ(run.err, "") << "seed " << seed;
      EXPECT_EQ(zrx({"check", text}).status, 0) << "seed " << seed;
    } else {
      ++refused;
      EXPECT_EQ(run.status, 1) << "seed " << seed;
      EXPECT_EQ(run.err.rfind(original + ": cannot be written as ZRT: VisitorExportToZRT", 0), 0u)
          << run.err;
      EXPECT_EQ(lines(run.err).size(), 1u) << run.err;
      EXPECT_EQ(readBytes(text), "previous content") << "seed " << seed;
      EXPECT_EQ(zrx({"dump", original}).out, "") << "seed " << seed;
    }
    fs::remove(text);
  }
  EXPECT_GT(refused, 0);  // the case above was exercised
  EXPECT_EQ(folderContent(), (std::set<std::string>{"gen.zrb", "copy.zrb", "again.zrb"}));
}

TEST_F(ToolTest, RefusedConversionLeavesTheOutputUntouched) {
  const auto make = [](const char* key, const ZRXValue& value) {
    ref<ZRXStructure> root = new ZRXStructure("<Root>");
    *root << "fine" << ZRXValue(int64_t{1}) << key << value;
    return root;
  };
  ZRXValue nul;
  nul.setString(std::string("a\0b", 3));
  ZRXValue realArray;
  realArray.setArrayReal(new zrX::ZRXArrayReal)->value() = {
      1.0, std::numeric_limits<double>::infinity()};
  const struct {
    const char* name;
    ref<ZRXStructure> root;
    const char* message;  // part of the writer's message
  } cases[] = {
      {"nan", make("ratio", real(std::nan(""))), "not finite"},
      {"infinite", make("ratios", realArray), "an infinity at /<Root>/ratios[1]"},
      {"nul", make("label", nul), "NUL"},
      {"key", make("two words", ZRXValue(int64_t{2})), "two words"},
  };
  for (const auto& c : cases) {
    const std::string in = at(std::string(c.name) + ".zrb");
    writeDocumentFile(in, Format::ZRB, {c.root});
    const std::string out = at(std::string(c.name) + ".zrt");
    writeBytes(out, "the previous document");
    const std::string absent = at(std::string(c.name) + "-new.zrt");
    for (const std::string& target : {out, absent}) {
      const Outcome run = zrx({"convert", in, target});
      EXPECT_EQ(run.status, 1) << c.name;
      EXPECT_EQ(run.out, "") << c.name;
      EXPECT_EQ(run.err.rfind(in + ": cannot be written as ZRT: VisitorExportToZRT: ", 0), 0u)
          << run.err;
      EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
      EXPECT_EQ(lines(run.err).size(), 1u) << run.err;
    }
    EXPECT_EQ(readBytes(out), "the previous document") << c.name;
    EXPECT_FALSE(fs::exists(absent)) << c.name;
    // dump refuses the same way and prints nothing, and says which formats hold the tree;
    // binary to binary is fine.
    const Outcome dump = zrx({"dump", in});
    EXPECT_EQ(dump.status, 1) << c.name;
    EXPECT_EQ(dump.out, "") << c.name;
    std::string refusal = zrx({"convert", in, out}).err;
    refusal.insert(refusal.size() - 1,
                   " ZRB and JSON hold it: zrx convert FILE OUT --to json (or zrb)");
    EXPECT_EQ(dump.err, refusal) << c.name;
    EXPECT_EQ(zrx({"convert", in, at("copy.zrb")}).status, 0) << c.name;
  }
}

TEST_F(ToolTest, FailedConversionLeavesTheOutputUntouched) {
  const std::string good = at("good.zrt");
  writeBytes(good, kKnownText);
  const std::string broken = at("broken.zrt");
  writeBytes(broken, "ZRX version=101 encoding=ascii\n<A>\n{\n\tx = ( 1 2.5 )\n}\n");
  const std::string dangling = at("dangling.zrt");
  writeBytes(dangling, "ZRX version=101 encoding=ascii\n<A>\n{\n\tx = #nothere\n}\n");
  const std::string out = at("out.zrb");
  writeBytes(out, "the previous document");
  const std::string folder = at("folder.zrb");
  fs::create_directory(folder);
  const std::string nowhere = at("nowhere/out.zrb");
  // A name longer than a folder entry can be: the write fails when the file is committed.
  const std::string tooLong = at(std::string(300, 'x') + ".zrt");

  const struct {
    std::string in, out, message;
  } cases[] = {
      {broken, out, broken + ": Line 4 : parse error at '2.5'.\n"},
      // The references are verified as linking does, with the same message as `check`.
      {dangling, out, dangling + ": Could not link ID '#nothere' to anything!\n"},
      {at("missing.zrt"), out, at("missing.zrt") + ": no such file\n"},
      {good, folder, folder + ": is a folder\n"},
      {good, nowhere, nowhere + ": no such folder '" + at("nowhere") + "'\n"},
      {good, tooLong,
       tooLong + ": writing failed: the file could not be committed: File name too long\n"},
  };
  for (const auto& c : cases) {
    const Outcome run = zrx({"convert", c.in, c.out});
    EXPECT_EQ(run.status, 1) << c.in;
    EXPECT_EQ(run.out, "") << c.in;
    EXPECT_EQ(run.err, c.message);
  }
  EXPECT_EQ(zrx({"check", dangling}).err, cases[1].message);
  EXPECT_EQ(readBytes(out), "the previous document");
  EXPECT_TRUE(fs::is_empty(folder));
  EXPECT_EQ(folderContent(), (std::set<std::string>{"good.zrt", "broken.zrt", "dangling.zrt",
                                                    "out.zrb", "folder.zrb"}));
}

TEST_F(ToolTest, ConvertTargetComesFromTheOptionOrTheExtension) {
  const std::string text = at("known.zrt");
  writeBytes(text, kKnownText);
  const struct {
    std::vector<std::string> args;
    std::string out;
    const char* format;
  } cases[] = {
      {{"convert", text, at("a.dat"), "--to", "zrb"}, at("a.dat"), "ZRB"},
      {{"convert", "--to=zrt", text, at("b.zrb")}, at("b.zrb"), "ZRT"},
      {{"convert", text, at("C.ZRB")}, at("C.ZRB"), "ZRB"},
      {{"convert", text, at("d.zrt")}, at("d.zrt"), "ZRT"},
  };
  for (const auto& c : cases) {
    const Outcome run = zrx(c.args);
    ASSERT_EQ(run.status, 0) << c.out << ": " << run.err;
    EXPECT_EQ(zrx({"info", c.out}).out, knownInfo(c.out, c.format));
  }
  // A file converted onto itself.
  ASSERT_EQ(zrx({"convert", text, text}).status, 0);
  EXPECT_EQ(readBytes(text), kKnownCanonical);
}

// dump ------------------------------------------------------------------------------------------

TEST_F(ToolTest, DumpPrintsTheCanonicalTextOfEitherFormat) {
  const std::string text = at("known.zrt");
  writeBytes(text, kKnownText);
  const std::string binary = at("known.zrb");
  ASSERT_EQ(zrx({"convert", text, binary}).status, 0);
  for (const std::string& path : {text, binary}) {
    const Outcome run = zrx({"dump", path});
    EXPECT_EQ(run.status, 0) << path;
    EXPECT_EQ(run.err, "") << path;
    EXPECT_EQ(run.out, kKnownCanonical) << path;
  }
  EXPECT_EQ(folderContent(), (std::set<std::string>{"known.zrt", "known.zrb"}));
}

TEST_F(ToolTest, OutputThatCannotBeWrittenFailsTheRun) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  const std::string text = at("known.zrt");
  writeBytes(text, kKnownText);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string> >{
           {"dump", text}, {"info", text}, {"check", text}, {"--help"}}) {
    const Outcome run = zrx(args, "/dev/full");
    EXPECT_EQ(run.status, 1) << args[0];
    EXPECT_EQ(run.err, "zrx: cannot write to standard output\n") << args[0];
  }
}

// The library's document write, where the tool met it: a text document whose file cannot be
// opened is a write error that says so (not a short write).
TEST_F(ToolTest, WriteDocumentReportsAFileThatCannotOpen) {
  zrX::Document document;
  document.structures().push_back(new ZRXStructure("<Root>"));
  for (const Format format : {Format::ZRT, Format::ZRB}) {
    const std::string path = at(format == Format::ZRT ? "nowhere/a.zrt" : "nowhere/a.zrb");
    ref<zr::DiskFile> file = new zr::DiskFile(zr::String(path));
    const zrX::WriteResult result = zrX::writeDocument(file.get(), format, document);
    EXPECT_EQ(result.status, zrX::WriteStatus::WriteError);
    EXPECT_NE(result.message.find("cannot open '" + path + "' for writing"), std::string::npos)
        << result.message;
  }
}

}  // namespace

#endif  // ZRX_TOOL
