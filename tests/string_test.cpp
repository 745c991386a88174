// zr::String, the Say message formatter, and the Log sink with the LogCapture fixture.
#include "zrCore/String.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "support/LogCapture.hpp"
#include "zrCore/Log.hpp"

namespace {

using zr::Say;
using zr::String;

// String
// --------------------------------------------------------------------------------------------

TEST(String, StartsAndEndsWith) {
  struct Case {
    const char* text;
    const char* affix;
    bool starts;
    bool ends;
  };
  const Case cases[] = {
      {"models/tree.zrt", "models/", true, false},
      {"models/tree.zrt", ".zrt", false, true},
      {"abc", "", true, true},
      {"", "", true, true},
      {"ab", "abc", false, false},
      {"abc", "abc", true, true},
      {"abc", "abd", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(String(c.text).startsWith(c.affix), c.starts) << c.text << " / " << c.affix;
    EXPECT_EQ(String(c.text).endsWith(c.affix), c.ends) << c.text << " / " << c.affix;
  }
}

TEST(String, Right) {
  struct Case {
    const char* text;
    int n;
    const char* expected;
  };
  const Case cases[] = {
      {"file:/data/x.zrt", -5, "/data/x.zrt"},  // all but the first five
      {"abcde", -5, ""},
      {"abc", -5, ""},
      {"abcdef", 2, "ef"},
      {"abc", 10, "abc"},
      {"abc", 0, ""},
      {"abc", INT_MIN, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(String(c.text).right(c.n).toStdString(), c.expected) << c.text << " " << c.n;
  }
}

TEST(String, ExtractPathKeepsTheFolderWithItsSeparator) {
  struct Case {
    const char* path;
    const char* folder;
  };
  const Case cases[] = {
      {"/data/models/tree.zrt", "/data/models/"},
      {"C:\\data\\tree.zrt", "C:\\data\\"},
      {"mixed\\dir/file", "mixed\\dir/"},
      {"tree.zrt", ""},
      {"/tree.zrt", "/"},
      {"dir/", "dir/"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(String(c.path).extractPath().toStdString(), c.folder) << c.path;
  }
  EXPECT_EQ((String("/data/models/tree.zrt").extractPath() + "leaf.png").toStdString(),
            "/data/models/leaf.png");
}

TEST(String, NormalizeSlashes) {
  struct Case {
    const char* path;
    const char* normalized;
  };
  const Case cases[] = {
      {"a\\b\\c", "a/b/c"}, {"a//b///c", "a/b/c"}, {"a\\/\\b", "a/b"}, {"plain", "plain"}, {"", ""},
  };
  for (const Case& c : cases) {
    String s(c.path);
    String& result = s.normalizeSlashes();
    EXPECT_EQ(&result, &s);
    EXPECT_EQ(s.toStdString(), c.normalized) << c.path;
  }
}

TEST(String, PrintfFormatsAnyLength) {
  EXPECT_EQ(String::printf("%d-%s-%.2f", 42, "x", 1.5).toStdString(), "42-x-1.50");
  EXPECT_EQ(String::printf("%s", "").toStdString(), "");
  const std::string big(100000, 'q');
  const String out = String::printf("<%s|%d>", big.c_str(), 7);
  EXPECT_EQ(out.length(), big.size() + 4);
  EXPECT_EQ(out.toStdString(), "<" + big + "|7>");
}

TEST(String, ConversionsAndOperators) {
  const String a("abc");
  EXPECT_EQ(String::fromStdString("abc", true), a);
  EXPECT_EQ((a + String("def")).toStdString(), "abcdef");
  String b = a;
  b += "!";
  EXPECT_EQ(b.toStdString(), "abc!");
  EXPECT_EQ(a.toStdString(), "abc");
  EXPECT_TRUE(String(static_cast<const char*>(nullptr)).empty());
  const std::string withZero("a\0b", 3);
  EXPECT_EQ(String(withZero.data(), withZero.size()).length(), 3u);
}

// Say
// -----------------------------------------------------------------------------------------------

TEST(Say, FillsPlaceholdersInOrder) {
  struct Case {
    std::string expected;
    String got;
  };
  const Case cases[] = {
      {"Line 12 : bad 'x'", Say("Line %n : bad '%s'") << 12 << "x"},
      {"ID 'a' used by '<A>' is already assigned to another node '<B>'!\n",
       Say("ID '%s' used by '%s' is already assigned to another node '%s'!\n")
           << "a" << std::string("<A>") << String("<B>")},
      {"char A and a", Say("char %c and %c") << 65 << 'a'},
      {"-1 0 -42", Say("%n %n %n") << -1 << 0 << -42L},
      {"-9223372036854775808 9223372036854775807", Say("%n %n") << INT64_MIN << INT64_MAX},
      {"18446744073709551615 4294967295", Say("%n %n")
                                              << UINT64_MAX << static_cast<unsigned>(UINT32_MAX)},
      {"size 3", Say("size %n") << std::string("abc").size()},
      {"7 as text", Say("%s as text") << 7},
      {"100% of %d stays", Say("100% of %d stays")},
      {"at the end %", Say("at the end %")},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got.toStdString(), c.expected);
}

TEST(Say, LeftOverPlaceholdersStayAndSurplusArgumentsAreDropped) {
  EXPECT_EQ(String(Say("a=%n b=%s c=%c") << 1).toStdString(), "a=1 b=%s c=%c");
  EXPECT_EQ(String(Say("only %s") << "one"
                                  << "two" << 3)
                .toStdString(),
            "only one");
  EXPECT_EQ(String(Say("none")).toStdString(), "none");
}

TEST(Say, ArgumentTextIsNotScannedForPlaceholders) {
  EXPECT_EQ(String(Say("%s and %s") << "%s"
                                    << "b")
                .toStdString(),
            "%s and b");
}

TEST(Say, NegativeCharacterCodeGivesThatByte) {
  const std::string out = String(Say("[%c]") << -1).toStdString();
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(static_cast<unsigned char>(out[1]), 0xffu);
}

// Log
// -----------------------------------------------------------------------------------------------

TEST(Log, SinkReplacementReturnsThePreviousSinkAndIsRestorable) {
  zrtest::LogCapture before;  // the sink in place before the replacement
  std::vector<std::pair<zr::Log::Level, std::string>> seen;
  zr::Log::Sink previous = zr::Log::setSink(
      [&seen](zr::Log::Level level, const std::string& text) { seen.emplace_back(level, text); });
  zr::Log::error("first\n");
  zr::Log::warning(String("second"));
  zr::Log::setSink(previous);
  zr::Log::error("third\n");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].first, zr::Log::Level::Error);
  EXPECT_EQ(seen[0].second, "first\n");
  EXPECT_EQ(seen[1].first, zr::Log::Level::Warning);
  EXPECT_EQ(seen[1].second, "second");
  EXPECT_EQ(before.all(), "third\n");
}

TEST(Log, AnEmptySinkRestoresTheDefault) {
  zr::Log::Sink previous = zr::Log::setSink(zr::Log::Sink());
  zr::Log::Sink installed = zr::Log::setSink(previous);
  EXPECT_TRUE(static_cast<bool>(installed));  // the default, never an empty function
  testing::internal::CaptureStderr();
  installed(zr::Log::Level::Warning, "no newline");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "warning: no newline\n");
}

TEST(LogCapture, RecordsByLevelAndRestoresThePreviousSink) {
  zrtest::LogCapture outer;
  {
    zrtest::LogCapture inner;
    zr::Log::warning("w1\n");
    zr::Log::error(Say("e%n\n") << 1);
    zr::Log::error("e2\n");
    EXPECT_EQ(inner.warnings(), std::vector<std::string>{"w1\n"});
    EXPECT_EQ(inner.errors(), (std::vector<std::string>{"e1\n", "e2\n"}));
    EXPECT_EQ(inner.all(), "w1\ne1\ne2\n");
    ASSERT_EQ(inner.entries().size(), 3u);
    EXPECT_EQ(inner.entries()[0].level, zr::Log::Level::Warning);
    inner.clear();
    EXPECT_TRUE(inner.all().empty());
  }
  zr::Log::error("after\n");
  EXPECT_EQ(outer.all(), "after\n");  // the inner capture handed the sink back
}

}  // namespace

namespace {

TEST(MessageText, EscapesWhatWouldBreakALineAndCutsLongTexts) {
  const struct {
    std::string text;
    std::string shown;
  } cases[] = {
      {"<Node>", "<Node>"},
      {"#nid12 a_b:c", "#nid12 a_b:c"},
      {"", ""},
      {"a\nb", "a\\nb"},
      {"a\r\nescape.zrb: ok", "a\\r\\nescape.zrb: ok"},
      {"\t\x1b[31m", "\\t\\x1b[31m"},
      {std::string("\0\x7f\xc3\xa9", 4), "\\x00\\x7f\\xc3\\xa9"},
      {"it's \\x41", "it\\'s \\\\x41"},
      {std::string(64, 'a'), std::string(64, 'a')},
      {std::string(65, 'a'), std::string(64, 'a') + "...[65 bytes]"},
      {std::string(1 << 20, '\n'),
       [] {
         std::string shown;
         for (int i = 0; i < 64; ++i) shown += "\\n";
         return shown + "...[1048576 bytes]";
       }()},
  };
  for (const auto& c : cases) EXPECT_EQ(zr::messageText(c.text), c.shown) << c.shown;
  EXPECT_EQ(zr::messageText('\''), "\\'");
  EXPECT_EQ(zr::messageText('x'), "x");
  EXPECT_EQ(zr::messageText("abcdef", 3), "abc...[6 bytes]");
}

}  // namespace
