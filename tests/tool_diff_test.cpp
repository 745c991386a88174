// `zrx diff`, run as a program: a table of known edits to one document (every kind of value,
// entries, lists, arrays, tags, sharing and cycles, metadata, top-level structures, safe quoting
// of long and odd texts), each with the lines it must give; generated documents equal to
// themselves in every format and with known edits at places the test finds itself; the line
// limit; a ring of 100,000 references compared in capped memory; and the command line and
// unreadable files (status 2).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/TreeGen.hpp"
#include "zrX/zrX.hpp"

#ifndef ZRX_TOOL

TEST(ToolDiff, NotBuilt) { GTEST_SKIP() << "the zrx tool is not part of this build"; }

#else

#include "support/SmallStack.hpp"  // ZRX_TEST_ASAN
#include "support/ToolFixture.hpp"

namespace {

using zr::ref;
using zrtest::lines;
using zrtest::Outcome;
using zrtest::writeBytes;
using zrX::ZRXStructure;
using zrX::ZRXValue;

class ToolDiffTest : public zrtest::ToolTest {};

// The document every edit starts from, in the tool's JSON form (it holds what ZRT cannot).
const std::string kBase = std::string(R"({"zrx": 101,
 "metadata": [["Authoring_Tool", "zrX"], ["Creation_Date", "Mon Jan  1 00:00:00 2024\n"]],
 "structures": [
  {"tag": "<Scene>", "id": "#scene", "structure": [
    ["name", "Demo"],
    ["count", 3],
    ["scale", 1.5],
    ["zero", 0.0],
    ["mode", {"identifier": "Fast"}],
    ["parts", {"list": [
      {"tag": "<Part>", "id": "#wheel", "structure": [
        ["radius", 0.5],
        ["spokes", {"integers": [1, 2, 3]}]]},
      {"ref": "#wheel"}]}],
    ["child", 1],
    ["child", 2],
    ["weights", {"tag": "<W>", "reals": [0.25, 0.75]}],
    ["src", {"rawtext": "line one\n"}],
    ["self", {"ref": "#scene"}],
    ["long", ")") + std::string(1000, 'a') +
                          R"("]]},
  {"tag": "<Other>", "structure": []}]}
)";

// kBase with each `from` replaced by its `to` (each must occur once).
std::string edited(const std::vector<std::pair<std::string, std::string> >& edits) {
  std::string text = kBase;
  for (const auto& [from, to] : edits) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    EXPECT_EQ(text.find(from, at + 1), std::string::npos) << from << " is not unique";
    if (at != std::string::npos) text.replace(at, from.size(), to);
  }
  return text;
}

TEST_F(ToolDiffTest, DiffGivesOneLinePerKnownEdit) {
  const std::string partCopy =
      R"({"tag": "<Part>", "structure": [["radius", 0.5], ["spokes", {"integers": [1, 2, 3]}]]})";
  std::string longB(1000, 'a');
  longB[500] = 'b';
  const std::string window = std::string(20, 'a') + "%" + std::string(39, 'a');
  const auto cut = [&](char c) {
    std::string w = window;
    w[20] = c;
    return "\"..." + w + "...\" (1000 bytes)";
  };
  const struct {
    const char* what;
    std::vector<std::pair<std::string, std::string> > edits;
    std::vector<std::string> args;  // options after A and B
    std::vector<std::string> lines;
  } cases[] = {
      {"nothing", {}, {}, {}},
      {"a real", {{"0.5", "0.75"}}, {}, {"/<Scene>/parts[0]/radius: 0.5 -> 0.75"}},
      {"an integer becomes a real",
       {{"[\"count\", 3]", "[\"count\", 3.0]"}},
       {},
       {"/<Scene>/count: 3 -> 3.0"}},
      {"a string becomes an identifier",
       {{"\"Demo\"", "{\"identifier\": \"Demo\"}"}},
       {},
       {"/<Scene>/name: \"Demo\" -> identifier Demo"}},
      {"reals bit for bit",
       {{"1.5", "{\"real\": \"NaN\"}"}, {"[\"zero\", 0.0]", "[\"zero\", -0.0]"}},
       {},
       {"/<Scene>/scale: 1.5 -> nan", "/<Scene>/zero: 0.0 -> -0.0"}},
      {"the second of two equal keys",
       {{"[\"child\", 2]", "[\"child\", 5]"}},
       {},
       {"/<Scene>/child@2: 2 -> 5"}},
      {"an array grows",
       {{"[1, 2, 3]", "[1, 2, 4, 5]"}},
       {},
       {"/<Scene>/parts[0]/spokes: 3 elements -> 4 elements",
        "/<Scene>/parts[0]/spokes[2]: 3 -> 4"}},
      {"a tag goes", {{"\"tag\": \"<W>\", ", ""}}, {}, {"/<Scene>/weights: tag <W> -> (no tag)"}},
      {"raw text",
       {{"line one", "line two"}},
       {},
       {"/<Scene>/src: raw text \"line one\\n\" -> \"line two\\n\""}},
      {"an entry goes",
       {{"[\"mode\", {\"identifier\": \"Fast\"}],", ""}},
       {},
       {"/<Scene>/mode: identifier Fast -> (none)"}},
      {"an entry comes",
       {{"[\"count\", 3],", "[\"count\", 3], [\"extra\", true],"}},
       {},
       {"/<Scene>/extra: (none) -> true"}},
      {"entries in another order",
       {{"[\"name\", \"Demo\"],\n    [\"count\", 3],", "[\"count\", 3], [\"name\", \"Demo\"],"}},
       {},
       {"/<Scene>: the entries stand in another order"}},
      {"a list grows",
       {{"{\"ref\": \"#wheel\"}]", "{\"ref\": \"#wheel\"}, 7]"}},
       {},
       {"/<Scene>/parts[2]: (none) -> 7"}},
      // References: what they point to counts, not the ID text.
      {"other ID texts",
       {{"\"id\": \"#wheel\"", "\"id\": \"#w\""},
        {"\"ref\": \"#wheel\"", "\"ref\": \"#w\""},
        {"\"id\": \"#scene\"", "\"id\": \"#s\""},
        {"\"ref\": \"#scene\"", "\"ref\": \"#s\""}},
       {},
       {}},
      {"a shared structure becomes two",
       {{"{\"ref\": \"#wheel\"}", partCopy}},
       {},
       {"/<Scene>/parts[1]: <Part> structure (also at /<Scene>/parts[0]) -> <Part> structure"}},
      {"a cycle is cut",
       {{"{\"ref\": \"#scene\"}", "{\"ref\": \"#NULL\"}"}},
       {},
       {"/<Scene>/self: <Scene> structure (also at /<Scene>) -> #NULL"}},
      // Metadata and the top level.
      {"metadata",
       {{"Mon Jan", "Tue Jan"}},
       {},
       {"/<Metadata>/Creation_Date: \"Mon Jan  1 00:00:00 2024\\n\" -> \"Tue Jan  1 00:00:00 "
        "2024\\n\""}},
      {"ignored metadata",
       {{"Mon Jan", "Tue Jan"}, {"\"zrX\"", "\"zrX 2\""}},
       {"--ignore", "Creation_Date", "--ignore=Authoring_Tool"},
       {}},
      {"a top-level structure comes",
       {{"\"structure\": []}]", "\"structure\": []}, {\"tag\": \"<Extra>\", \"structure\": []}]"}},
       {},
       {"/<Extra>: (none) -> <Extra> structure"}},
      {"top-level tags repeat",
       {{"\"<Other>\"", "\"<Scene>\""}, {"[\"count\", 3]", "[\"count\", 4]"}},
       {},
       {"/<Scene>[0]/count: 3 -> 4", "/<Other>: tag <Other> -> <Scene>"}},
      // File content is quoted safely: escaped, and cut around the first difference.
      {"odd bytes",
       {{"\"Demo\"", "\"D\\u0001\\u00e9mo\\u007f\""}},
       {},
       {"/<Scene>/name: \"Demo\" -> \"D\\x01\\xc3\\xa9mo\\x7f\""}},
      {"a long text",
       {{std::string(1000, 'a'), longB}},
       {},
       {"/<Scene>/long: " + cut('a') + " -> " + cut('b')}},
  };
  const std::string a = at("a.json");
  writeBytes(a, kBase);
  for (const auto& c : cases) {
    const std::string b = at("b.json");
    writeBytes(b, edited(c.edits));
    std::vector<std::string> args{"diff", a, b};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome run = zrx(args);
    EXPECT_EQ(run.status, c.lines.empty() ? 0 : 1) << c.what << ": " << run.err;
    EXPECT_EQ(run.err, "") << c.what;
    EXPECT_EQ(lines(run.out), c.lines) << c.what;
  }
}

TEST_F(ToolDiffTest, DiffLimitsItsLinesAndCountsTheRest) {
  const std::string a = at("a.json");
  const std::string b = at("b.json");
  std::string ints, others;
  for (int i = 0; i < 60; ++i) {
    ints += (i ? ", " : "") + std::to_string(i);
    others += (i ? ", " : "") + std::to_string(i + 100);
  }
  const std::string doc =
      "{\"zrx\": 101, \"structures\": [{\"tag\": \"<A>\", \"structure\": "
      "[[\"v\", {\"integers\": [%]}]]}]}";
  writeBytes(a, doc.substr(0, doc.find('%')) + ints + doc.substr(doc.find('%') + 1));
  writeBytes(b, doc.substr(0, doc.find('%')) + others + doc.substr(doc.find('%') + 1));
  const struct {
    std::vector<std::string> options;
    size_t shown;
    std::string last;
  } cases[] = {
      {{}, 50, "... and 10 more differences"},
      {{"--max", "1"}, 1, "... and 59 more differences"},
      {{"--max=59"}, 59, "... and 1 more difference"},
      {{"--max", "0"}, 60, "/<A>/v[59]: 59 -> 159"},
      {{"--max", "60"}, 60, "/<A>/v[59]: 59 -> 159"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"diff", a, b};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Outcome run = zrx(args);
    EXPECT_EQ(run.status, 1);
    const std::vector<std::string> out = lines(run.out);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.size(), c.shown + (c.last[0] == '.' ? 1 : 0)) << c.shown;
    EXPECT_EQ(out[0], "/<A>/v[0]: 0 -> 100");
    EXPECT_EQ(out.back(), c.last);
  }
}

// Where the walk of `zrx diff` names a value of an unlinked tree without shared structures.
struct Place {
  std::string path;
  ZRXValue* value;
};

void collect(ZRXValue& v, const std::string& path, std::vector<Place>& out) {
  out.push_back({path, &v});
  if (v.type() == ZRXValue::List) {
    auto& elements = v.getList()->value();
    for (size_t i = 0; i < elements.size(); ++i)
      collect(elements[i], path + "[" + std::to_string(i) + "]", out);
  } else if (v.type() == ZRXValue::Structure && v.getStructure()) {
    std::map<std::string, int> seen;
    for (auto& entry : v.getStructure()->value()) {
      const int n = ++seen[entry.key()];
      collect(entry.value(), path + "/" + entry.key() + (n > 1 ? "@" + std::to_string(n) : ""),
              out);
    }
  }
}

TEST_F(ToolDiffTest, DiffFindsKnownEditsInGeneratedDocuments) {
  int edited = 0;
  for (uint32_t seed = 1; seed <= 10; ++seed) {
    // Lexically valid names, so the paths need no escapes; no shared structures, so each value
    // has one path.
    zrtest::TreeGenOptions options;
    options.seed = seed;
    options.topLevelStructures = 1 + static_cast<int>(seed % 3);
    options.validNames = true;
    options.sharedStructures = false;
    options.idReferences = false;
    const std::string a = at("a.zrb");
    const std::string b = at("b.zrb");
    writeDocumentFile(a, zrX::Format::ZRB, zrtest::generateDocument(options));

    // The same document in JSON and, when text can hold it, in ZRT is equal to it.
    ASSERT_EQ(zrx({"convert", a, at("a.json")}).status, 0);
    const Outcome same = zrx({"diff", a, at("a.json")});
    EXPECT_EQ(same.status, 0) << "seed " << seed << ": " << same.out;
    EXPECT_EQ(same.out, "");

    // Edits: the first integer flips its lowest bit, the last integer array grows by one, the
    // first bool flips.
    auto document = readDocumentFile(a, false);
    std::map<std::string, int> tags;
    for (const auto& s : document->structures()) ++tags[s->tag()];
    std::vector<Place> places;
    std::vector<ZRXValue> roots(document->structures().size());
    for (size_t i = 0; i < roots.size(); ++i) {
      const std::string& tag = document->structures()[i]->tag();
      roots[i].setStructure(document->structures()[i].get());
      collect(roots[i], "/" + tag + (tags[tag] > 1 ? "[" + std::to_string(i) + "]" : ""), places);
    }
    std::vector<std::string> expected;
    const auto integer = std::find_if(places.begin(), places.end(), [](const Place& p) {
      return p.value->type() == ZRXValue::Integer;
    });
    if (integer != places.end()) {
      const int64_t before = integer->value->getInteger();
      integer->value->setInteger(before ^ 1);
      expected.push_back(integer->path + ": " + std::to_string(before) + " -> " +
                         std::to_string(before ^ 1));
    }
    const auto array = std::find_if(places.rbegin(), places.rend(), [](const Place& p) {
      return p.value->type() == ZRXValue::ArrayInteger;
    });
    if (array != places.rend()) {
      auto& values = array->value->getArrayInteger()->value();
      expected.push_back(array->path + ": " + std::to_string(values.size()) + " elements -> " +
                         std::to_string(values.size() + 1) + " elements");
      values.push_back(42);
    }
    const auto flag = std::find_if(places.begin(), places.end(), [](const Place& p) {
      return p.value->type() == ZRXValue::Bool;
    });
    if (flag != places.end()) {
      const bool before = flag->value->getBool();
      flag->value->setBool(!before);
      expected.push_back(flag->path + ": " + (before ? "true -> false" : "false -> true"));
    }
    if (expected.empty()) continue;  // nothing of these kinds in this document
    ++edited;
    writeDocumentFile(b, zrX::Format::ZRB, document->structures());

    const Outcome run = zrx({"diff", a, b, "--max", "0"});
    EXPECT_EQ(run.status, 1) << "seed " << seed << ": " << run.err;
    std::vector<std::string> got = lines(run.out);
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(got, expected) << "seed " << seed;
  }
  EXPECT_GE(edited, 8);
}

TEST_F(ToolDiffTest, DiffComparesAcrossFormatsAndThroughCycles) {
  // A generated document with everything (shared structures, references forward, backward and
  // to ancestors, NaN, any bytes) equals its own conversions; a text-safe one its ZRT form.
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    zrtest::TreeGenOptions options =
        seed % 2 ? zrtest::TreeGenOptions() : zrtest::TreeGenOptions::textSafe(seed);
    options.seed = seed;
    zrX::Document tree;
    tree.structures() = zrtest::generateDocument(options);
    const std::string zrb = at("gen.zrb");
    writeDocumentFile(zrb, zrX::Format::ZRB, tree.structures());
    const std::string other = at(seed % 2 ? "gen.json" : "gen.zrt");
    ASSERT_EQ(zrx({"convert", zrb, other}).status, 0) << "seed " << seed;
    const Outcome run = zrx({"diff", other, zrb});
    EXPECT_EQ(run.status, 0) << "seed " << seed << ": " << run.out << run.err;
  }
  // Cycles are followed once: a structure naming itself equals one naming itself by another
  // ID, and differs from one naming its parent.
  const std::string header = "ZRX version=101 encoding=ascii\n";
  writeBytes(at("self.zrt"), header + "<A>\n{\n\tID = #a\n\tnext = <B> { ID = #b up = #a }\n}\n");
  writeBytes(at("renamed.zrt"),
             header + "<A>\n{\n\tID = #x\n\tnext = <B> { ID = #y up = #x }\n}\n");
  writeBytes(at("loop.zrt"), header + "<A>\n{\n\tID = #a\n\tnext = <B> { ID = #b up = #b }\n}\n");
  EXPECT_EQ(zrx({"diff", at("self.zrt"), at("renamed.zrt")}).status, 0);
  const Outcome loop = zrx({"diff", at("self.zrt"), at("loop.zrt")});
  EXPECT_EQ(loop.status, 1);
  EXPECT_EQ(loop.out,
            "/<A>/next/up: <A> structure (also at /<A>) -> <B> structure (also at /<A>/next)\n");
}

// A ring of 100,000 structures, each naming the next, in 3.6 MB of text: the walk goes 100,000
// levels deep. B closes its ring on the one before last instead of the first, so the one
// difference stands at the end of the walk and B's side was met 99,998 levels down. The tool runs
// under a cap on its memory far below what a path kept for every level would take (tens of GB):
// 1 GiB of address space (it needs about 70 MB), or with AddressSanitizer, whose shadow memory
// needs the address space, 2 GiB of resident memory (it needs about 360 MB). The "also at" path
// is cut.
TEST_F(ToolDiffTest, DiffFollowsA100000RingInLinearMemory) {
  constexpr int kRing = 100000;
  const auto ring = [&](const std::string& name, int lastNames) {
    std::string text = "ZRX version=101 encoding=ascii\n\n";
    for (int i = 0; i < kRing; ++i)
      text += "<N> { ID = #n" + std::to_string(i) + " next = #n" +
              std::to_string(i + 1 < kRing ? i + 1 : lastNames) + " }\n";
    writeBytes(at(name), text);
    return at(name);
  };
  const std::string a = ring("a.zrt", 0);
  const std::string b = ring("b.zrt", kRing - 2);
  const auto capped = [&](const std::string& x, const std::string& y) {
#if defined(ZRX_TEST_ASAN)
    const char* inherited = std::getenv("ASAN_OPTIONS");
    return zrtest::runProgram(
        ZRX_TOOL, {"diff", x, y}, at(""), {},
        {"ASAN_OPTIONS=" + std::string(inherited ? inherited : "") + ":hard_rss_limit_mb=2048"});
#else
    return zrtest::runProgram(
        "/bin/sh", {"-c", "ulimit -v 1048576 && exec \"$0\" \"$@\"", ZRX_TOOL, "diff", x, y},
        at(""));
#endif
  };
  const Outcome same = capped(a, a);
  EXPECT_EQ(same.status, 0) << same.err;
  EXPECT_EQ(same.out, "");
  EXPECT_EQ(same.err, "");

  std::string path = "/<N>[0]", met = "/<N>[0]";
  for (int i = 0; i < kRing; ++i) path += "/next";
  for (int i = 0; i < 38; ++i) met += "/next";  // whole segments within 200 bytes
  const Outcome differ = capped(a, b);
  EXPECT_EQ(differ.status, 1) << differ.err;
  EXPECT_EQ(differ.err, "");
  EXPECT_EQ(differ.out, path + ": <N> structure (also at /<N>[0]) -> <N> structure (also at " +
                            met + "... (499997 bytes))\n");
}

TEST_F(ToolDiffTest, DiffCommandLineAndUnreadableFilesGiveStatus2) {
  const std::string a = at("a.json");
  writeBytes(a, kBase);
  const std::string dangling = at("dangling.zrt");
  writeBytes(dangling, "ZRX version=101 encoding=ascii\n<A>\n{\n\tx = #nothere\n}\n");
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"diff", a}, "zrx: diff needs A and B (see 'zrx --help')\n"},
      {{"diff", a, a, a}, "zrx: diff needs A and B (see 'zrx --help')\n"},
      {{"diff", a, a, "--max"}, "zrx: diff: --max needs a value (see 'zrx --help')\n"},
      {{"diff", a, a, "--max", "-1"},
       "zrx: diff: --max takes a count of lines, not '-1' (see 'zrx --help')\n"},
      {{"diff", a, a, "--ignore"}, "zrx: diff: --ignore needs a value (see 'zrx --help')\n"},
      {{"diff", a, a, "--to", "zrt"}, "zrx: diff: unknown option '--to' (see 'zrx --help')\n"},
      {{"diff", a, at("missing.zrb")}, at("missing.zrb") + ": no such file\n"},
      {{"diff", dangling, a}, dangling + ": Could not link ID '#nothere' to anything!\n"},
  };
  for (const auto& c : cases) {
    const Outcome run = zrx(c.args);
    EXPECT_EQ(run.status, 2) << c.err;
    EXPECT_EQ(run.out, "") << c.err;
    EXPECT_EQ(run.err, c.err);
  }
  const Outcome help = zrx({"diff", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: zrx diff A B", 0), 0u) << help.out;
}

}  // namespace

#endif  // ZRX_TOOL
