#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/LogCapture.hpp"
#include "support/TrickleFile.hpp"
#include "zrCore/VirtualFile.hpp"
#include "zrX/ZRTTokenizer.hpp"

namespace {

using zrX::ZRTToken;
using zrX::ZRTTokenizer;

std::string render(const ZRTToken& token) {
  switch (token.mType) {
    case ZRTToken::TOKEN_EOF:
      return "EOF";
    case ZRTToken::TOKEN_STRING:
      return "S:" + token.mText;
    case ZRTToken::TOKEN_ID:
      return "ID:" + token.mText;
    case ZRTToken::TOKEN_IDENTIFIER:
      return "I:" + token.mText;
    case ZRTToken::TOKEN_BOOLEAN:
      return "B:" + token.mText;
    case ZRTToken::TOKEN_INTEGER:
      return "INT:" + token.mText;
    case ZRTToken::TOKEN_REAL:
      return "R:" + token.mText;
    case ZRTToken::TOKEN_TAG:
      return "TAG:" + token.mText;
    case ZRTToken::TOKEN_RAWTEXT:
      return "RAW:" + token.mText;
    case ZRTToken::TOKEN_ERROR:
      return "ERROR:" + token.mText;
    default:
      return token.mText;  // the fixed tokens: "(", "{<", ">}", ...
  }
}

std::vector<uint8_t> bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

using zrtest::TrickleFile;

struct Lexed {
  std::vector<std::string> tokens;  // rendered, up to EOF or the failure
  std::vector<int> lines;           // lineNumber() after each token
  bool failed = false;
  ZRTToken last;  // the token of the last call
  std::vector<std::string> errors;
};

Lexed lexFile(zr::VirtualFile* file) {
  zrtest::LogCapture log;
  zr::ref<ZRTTokenizer> tokenizer = new ZRTTokenizer();
  tokenizer->attachFile(file);
  Lexed out;
  for (;;) {
    if (!tokenizer->getToken(out.last)) {
      out.failed = true;
      break;
    }
    out.tokens.push_back(render(out.last));
    out.lines.push_back(tokenizer->lineNumber());
    if (out.last.mType == ZRTToken::TOKEN_EOF) break;
  }
  out.errors = log.errors();
  return out;
}

Lexed lex(const std::string& text) {
  zr::ref<zr::MemoryFile> file = new zr::MemoryFile(bytes(text));
  return lexFile(file.get());
}

struct TokenCase {
  std::string input;
  std::vector<std::string> tokens;
};

TEST(ZRTTokenizer, ReadsTokens) {
  const TokenCase cases[] = {
      {"", {"EOF"}},
      {" \t\n\n ", {"EOF"}},
      {"( ) [ ] { } = >}", {"(", ")", "[", "]", "{", "}", "=", ">}", "EOF"}},
      {"a(b)c", {"I:a", "(", "I:b", ")", "I:c", "EOF"}},
      {"/* a **/ b", {"I:b", "EOF"}},
      {"/*/ */b/**/c", {"I:b", "I:c", "EOF"}},
      {"a // comment", {"I:a", "EOF"}},
      {"a//c\nb", {"I:a", "I:b", "EOF"}},
      // Numbers: the longest number wins, and what cannot continue it starts the next token.
      {"0", {"INT:0", "EOF"}},
      {"0123", {"INT:0", "INT:123", "EOF"}},
      {"-0 +42 -7 00", {"INT:-0", "INT:+42", "INT:-7", "INT:0", "INT:0", "EOF"}},
      {"1e5", {"INT:1", "I:e5", "EOF"}},
      {"1.5E+3 2.25e-10 0.5", {"R:1.5E+3", "R:2.25e-10", "R:0.5", "EOF"}},
      {".5 -.5 +0.25 -0.0", {"R:.5", "R:-.5", "R:+0.25", "R:-0.0", "EOF"}},
      {"1.5.5", {"R:1.5", "R:.5", "EOF"}},
      {"1.5e+3.5", {"R:1.5e+3", "R:.5", "EOF"}},
      {"1.5-2", {"R:1.5", "INT:-2", "EOF"}},
      {"1.5e-3x", {"R:1.5e-3", "I:x", "EOF"}},
      {"12( 1.25)", {"INT:12", "(", "R:1.25", ")", "EOF"}},
      {"7#a", {"INT:7", "ID:#a", "EOF"}},
      // Identifiers, booleans, IDs, tags.
      {"true false truex _a a_1", {"B:true", "B:false", "I:truex", "I:_a", "I:a_1", "EOF"}},
      {"# #a_1 #_x #NULL#b", {"ID:#", "ID:#a_1", "ID:#_x", "ID:#NULL", "ID:#b", "EOF"}},
      {"<> <a:b_1><C>", {"TAG:<>", "TAG:<a:b_1>", "TAG:<C>", "EOF"}},
      // Braces: "{<" opens raw text only when followed by blanks and a line end.
      {"{ <T>", {"{", "TAG:<T>", "EOF"}},
      {"{}", {"{", "}", "EOF"}},
      {"{", {"{", "EOF"}},
      // Strings: escapes resolved, a backslash before anything else stands for itself.
      {"\"a\\\"b\\\\c\\b\\f\\r\\n\\t\"", {"S:a\"b\\c\b\f\r\n\t", "EOF"}},
      {"\"\\x\" \"\\\\\" \"\"", {"S:\\x", "S:\\", "S:", "EOF"}},
      {"\"a b/*c*/ // d\"", {"S:a b/*c*/ // d", "EOF"}},
      {"\"\xc3\xa9\x01\x7f\"", {"S:\xc3\xa9\x01\x7f", "EOF"}},
      {std::string("\"a\0b\"", 5), {std::string("S:a\0b", 5), "EOF"}},
      // Raw text: the closer is the next token; "\>}" stands for ">}".
      {"{<\nline\n>}", {"{<", "RAW:line\n", ">}", "EOF"}},
      {"{< \t\v\f\b\nx>}", {"{<", "RAW:x", ">}", "EOF"}},
      {"{<\n>}", {"{<", "RAW:", ">}", "EOF"}},
      {"{<\na\\>}b>}", {"{<", "RAW:a>}b", ">}", "EOF"}},
      {"{<\na>b>c>\n> }\n>}}", {"{<", "RAW:a>b>c>\n> }\n", ">}", "}", "EOF"}},
      {"{<\n\"// /* \\n\x01\xff\n>}", {"{<", "RAW:\"// /* \\n\x01\xff\n", ">}", "EOF"}},
      {std::string("{<\na\0b\n>}", 9), {"{<", std::string("RAW:a\0b\n", 8), ">}", "EOF"}},
  };
  for (const TokenCase& c : cases) {
    zr::ref<TrickleFile> trickle = new TrickleFile(bytes(c.input), 1);
    for (const Lexed& lexed : {lex(c.input), lexFile(trickle.get())}) {
      SCOPED_TRACE("input: " + c.input);
      EXPECT_FALSE(lexed.failed);
      EXPECT_EQ(lexed.tokens, c.tokens);
      EXPECT_TRUE(lexed.errors.empty());
    }
  }
}

struct FailureCase {
  std::string input;
  std::vector<std::string> tokens;  // read before the failure
  std::string text;                 // the failed token's text
  std::string message;              // empty: fails without a message
};

TEST(ZRTTokenizer, FailsWithMessages) {
  const FailureCase cases[] = {
      {"/", {}, "", "Line 1 : unexpected end of file in comment.\n"},
      {"a /x", {"I:a"}, "", "Line 1 : unexpected character 'x' after '/'.\n"},
      {"/* abc", {}, "", "Line 1 : unexpected end of file in comment.\n"},
      {"/* a\n b *", {}, "", "Line 2 : unexpected end of file in comment.\n"},
      {"\"abc",
       {},
       "abc",
       "Line 1 : end of file found before end of string, did you forget a \"?.\n"},
      {"\"a\\",
       {},
       "a\\",
       "Line 1 : end of file found before end of string, did you forget a \"?.\n"},
      {"\n\"ab\ncd\"",
       {},
       "ab",
       "Line 2 : end of line found before end of string, did you forget a \"?.\n"},
      {"\"ab\\\ncd\"",
       {},
       "ab\\",
       "Line 1 : end of line found before end of string, did you forget a \"?.\n"},
      {"#_", {}, "#_", "Line 1 : illegal id '#_' found.\n"},
      {"#_ ", {}, "#_", "Line 1 : illegal id '#_' found.\n"},
      {">", {}, "", "Line 1 : unexpected end of file.\n"},
      {">x", {}, "", "Line 1 : expected '}' instead of 'x' after '>'.\n"},
      {"> }", {}, "", "Line 1 : expected '}' instead of ' ' after '>'.\n"},
      {"<a b>", {}, "<a", "Line 1 : unexpected character ' '.\n"},
      {"<a\n>", {}, "<a", "Line 1 : unexpected character '\\n'.\n"},
      {"<a\r\n>", {}, "<a", "Line 1 : unexpected character '\\n'.\n"},
      {"<a-b>", {}, "<a", "Line 1 : unexpected character '-'.\n"},
      {"<ab", {}, "<ab>", "Line 1 : unexpected end of file while reading object header.\n"},
      {"_", {}, "_", "Line 1 : unexpected character '_'.\n"},
      {"_ a", {}, "_", "Line 1 : unexpected character '_'.\n"},
      // Numbers: a bad continuation logs (without a space after the colon); the end of the input
      // inside an unfinished number fails without a message.
      {"1.5e3", {}, "1.5e", "Line 1 :unexpected character '3'.\n"},
      {"1.5e10", {}, "1.5e", "Line 1 :unexpected character '1'.\n"},
      {"1.x", {}, "1.", "Line 1 :unexpected character 'x'.\n"},
      {"1. ", {}, "1.", "Line 1 :unexpected character ' '.\n"},
      {"-x", {}, "-", "Line 1 :unexpected character 'x'.\n"},
      {"--1", {}, "-", "Line 1 :unexpected character '-'.\n"},
      {"..5", {}, ".", "Line 1 :unexpected character '.'.\n"},
      {"1.5e+x", {}, "1.5e+", "Line 1 :unexpected character 'x'.\n"},
      {"-", {}, "-", ""},
      {"+", {}, "+", ""},
      {"1.", {}, "1.", ""},
      {"1.5e", {}, "1.5e", ""},
      {"1.5e-", {}, "1.5e-", ""},
      // Raw text: a non-blank after "{<" on its line, or the end of the input, fails silently.
      {"{< x\n", {}, "x", ""},
      {"{<", {}, "<", ""},
      {"{< \t", {}, "\t", ""},
      {"{<\nabc", {"{<"}, "abc", ""},
      {"{<\nabc>", {"{<"}, "abc>", ""},
      {"{<\nabc\\>}", {"{<"}, "abc>}", ""},
      // Bytes that begin no token. The messages show control bytes, bytes from 0x7F up, the
      // backslash and the quote as escapes: a message is one line of plain text.
      {"a\n\n @", {"I:a"}, "", "Line 3 : unexpected character '@'.\n"},
      {std::string("a \0", 3), {"I:a"}, "", "Line 1 : unexpected character '\\x00'.\n"},
      {"\x01", {}, "", "Line 1 : unexpected character '\\x01'.\n"},
      {"\f", {}, "", "Line 1 : unexpected character '\\x0c'.\n"},
      {"\v", {}, "", "Line 1 : unexpected character '\\x0b'.\n"},
      {"\x1b", {}, "", "Line 1 : unexpected character '\\x1b'.\n"},
      {"\xc3\xa9", {}, "", "Line 1 : unexpected character '\\xc3'.\n"},
      {"\x7f", {}, "", "Line 1 : unexpected character '\\x7f'.\n"},
      {"'a'", {}, "", "Line 1 : unexpected character '\\''.\n"},
      {"\\", {}, "", "Line 1 : unexpected character '\\\\'.\n"},
      {"1.5e\n3", {}, "1.5e", "Line 1 :unexpected character '\\n'.\n"},
  };
  for (const FailureCase& c : cases) {
    // Whole, and read one byte at a time (no run of bytes is ever in the buffer).
    zr::ref<TrickleFile> trickle = new TrickleFile(bytes(c.input), 1);
    for (const Lexed& lexed : {lex(c.input), lexFile(trickle.get())}) {
      SCOPED_TRACE("input: " + c.input);
      EXPECT_TRUE(lexed.failed);
      EXPECT_EQ(lexed.tokens, c.tokens);
      EXPECT_EQ(lexed.last.mType, ZRTToken::TOKEN_ERROR);
      EXPECT_EQ(lexed.last.mText, c.text);
      const std::vector<std::string> expected =
          c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message};
      EXPECT_EQ(lexed.errors, expected);
    }
  }
}

TEST(ZRTTokenizer, CountsLines) {
  const Lexed lexed = lex("a\nb /* one\ntwo\nthree */ c // x\n\nd {<\nr1\nr2\n>} e");
  EXPECT_FALSE(lexed.failed);
  EXPECT_EQ(lexed.tokens, (std::vector<std::string>{"I:a", "I:b", "I:c", "I:d", "{<",
                                                    "RAW:r1\nr2\n", ">}", "I:e", "EOF"}));
  // A token's line is the line it ends on; "{<" consumes its line end.
  EXPECT_EQ(lexed.lines, (std::vector<int>{1, 2, 4, 6, 7, 9, 9, 9, 9}));
}

// Line ends: LF, CR LF, LF CR and a lone CR, in any mix, read exactly like LF.
TEST(ZRTTokenizer, FoldsEveryMixOfLineEnds) {
  // Each line holds something, so consecutive line ends never touch.
  const std::string dense =
      "a\n\"s\" 12\n1.5\n<T>\n#i\n/* c\nc */ b // x\n{<\n r1\n>\n>>\n\\>}\n>}\n}\n{\n= z";
  // Blank lines: line ends touch (a lone LF before a lone CR would read as one LF CR, so those
  // two alternations are left out here).
  const std::string sparse = "a\n\n\nb\n{<\n\n>\n\n\n>}\n\n// c\n\n/*\n\n*/\n\n\nd\n";
  const char* ends[] = {"\n", "\r\n", "\n\r", "\r"};
  for (const bool blankLines : {false, true}) {
    const std::string& document = blankLines ? sparse : dense;
    const Lexed reference = lex(document);
    ASSERT_FALSE(reference.failed);
    for (int first = 0; first < 4; ++first) {
      for (int second = 0; second < 4; ++second) {
        const bool ambiguous = (first == 0 && second == 3) || (first == 3 && second == 0);
        if (blankLines && ambiguous) continue;
        std::string mixed;
        int count = 0;
        for (char c : document) {
          if (c == '\n') {
            mixed += ends[count++ % 2 == 0 ? first : second];
          } else {
            mixed += c;
          }
        }
        SCOPED_TRACE("line ends " + std::to_string(first) + "/" + std::to_string(second));
        const Lexed lexed = lex(mixed);
        EXPECT_FALSE(lexed.failed);
        EXPECT_EQ(lexed.tokens, reference.tokens);
        EXPECT_EQ(lexed.lines, reference.lines);
      }
    }
  }
}

// A character read again after a folded line end does not pair with the line end after it.
TEST(ZRTTokenizer, LineEndAfterAReadAgainCharacterStaysSeparate) {
  const struct {
    std::string input;
    std::vector<std::string> tokens;
    std::vector<int> lines;
  } cases[] = {
      {"a\r\rb", {"I:a", "I:b", "EOF"}, {1, 3, 3}},
      {"a\n\nb", {"I:a", "I:b", "EOF"}, {1, 3, 3}},
      {"1\r\r2", {"INT:1", "INT:2", "EOF"}, {1, 3, 3}},
      {"#a\n\n#b", {"ID:#a", "ID:#b", "EOF"}, {1, 3, 3}},
      {"{\r\r}", {"{", "}", "EOF"}, {1, 3, 3}},
      {"{<\n>\r\r>}", {"{<", "RAW:>\n\n", ">}", "EOF"}, {2, 4, 4, 4}},
      {"{<\n>\n\n>}", {"{<", "RAW:>\n\n", ">}", "EOF"}, {2, 4, 4, 4}},
      {"{<\n>\r\n>}", {"{<", "RAW:>\n", ">}", "EOF"}, {2, 3, 3, 3}},
      {"{<\n>\r\n\r>}", {"{<", "RAW:>\n\n", ">}", "EOF"}, {2, 4, 4, 4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("input: " + c.input);
    const Lexed lexed = lex(c.input);
    EXPECT_FALSE(lexed.failed);
    EXPECT_EQ(lexed.tokens, c.tokens);
    EXPECT_EQ(lexed.lines, c.lines);
  }
}

TEST(ZRTTokenizer, ReadsTokensOfAnyLength) {
  const std::string word(5000, 'w');
  const std::string digits = "1" + std::string(5000, '7');
  const std::string longString(300000, 's');  // longer than two chunks
  const std::string raw = std::string(200000, 'r') + "\n" + std::string(100000, '>');
  const std::string input = word + " <" + word + "> #" + word + " " + digits + " -" + digits + "." +
                            digits + "E+" + digits + " \"" + longString + "\" {<\n" + raw + ">}";
  const Lexed lexed = lex(input);
  EXPECT_FALSE(lexed.failed);
  EXPECT_EQ(lexed.tokens, (std::vector<std::string>{
                              "I:" + word, "TAG:<" + word + ">", "ID:#" + word, "INT:" + digits,
                              "R:-" + digits + "." + digits + "E+" + digits, "S:" + longString,
                              "{<", "RAW:" + raw, ">}", "EOF"}));
}

// Tokens that straddle the boundary between two chunks read as if the file were one piece.
TEST(ZRTTokenizer, ReadsAcrossChunkBoundaries) {
  const std::string fragment =
      "a\r\nb 12.5e+3 \"str\\n\" <Tag> #id {<\r\nr\r\n\\>}>} /* c\r\n*/ d // e\r\nf";
  const Lexed reference = lex(fragment);
  ASSERT_FALSE(reference.failed);
  const int boundary = zrX::kZRTChunkSize;
  for (int start = boundary - static_cast<int>(fragment.size()); start <= boundary; ++start) {
    SCOPED_TRACE("fragment at " + std::to_string(start));
    std::string input(static_cast<size_t>(start), ' ');
    input += fragment;
    const Lexed lexed = lex(input);
    EXPECT_FALSE(lexed.failed);
    EXPECT_EQ(lexed.tokens, reference.tokens);
    EXPECT_EQ(lexed.lines, reference.lines);
  }
  // Short reads: every byte position is the end of a read.
  for (int64_t step : {1, 2, 3, 7}) {
    zr::ref<TrickleFile> file = new TrickleFile(bytes(fragment), step);
    const Lexed lexed = lexFile(file.get());
    EXPECT_EQ(lexed.tokens, reference.tokens);
    EXPECT_EQ(lexed.lines, reference.lines);
  }
}

TEST(ZRTTokenizer, EndOfInputRepeatsAndFileStaysOpen) {
  zr::ref<zr::MemoryFile> file = new zr::MemoryFile(bytes("a"));
  zr::ref<ZRTTokenizer> tokenizer = new ZRTTokenizer();
  ZRTToken token;
  // No file: at the end from the start.
  EXPECT_TRUE(tokenizer->atEnd());
  EXPECT_TRUE(tokenizer->getToken(token));
  EXPECT_EQ(token.mType, ZRTToken::TOKEN_EOF);

  tokenizer = new ZRTTokenizer();
  tokenizer->attachFile(file.get());
  EXPECT_FALSE(tokenizer->atEnd());
  EXPECT_EQ(tokenizer->file(), file.get());
  ASSERT_TRUE(tokenizer->getToken(token));
  EXPECT_EQ(render(token), "I:a");
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(tokenizer->getToken(token));
    EXPECT_EQ(token.mType, ZRTToken::TOKEN_EOF);
    EXPECT_EQ(token.mText, "");
  }
  EXPECT_TRUE(tokenizer->atEnd());
  // The tokenizer opened the file and leaves closing it to its owner.
  EXPECT_TRUE(file->isOpen());
}

TEST(ZRTTokenizer, UnopenableFileReadsAsEmpty) {
  zr::ref<zr::DiskFile> missing = new zr::DiskFile("/nonexistent/zrt/input.zrt");
  const Lexed lexed = lexFile(missing.get());
  EXPECT_EQ(lexed.tokens, std::vector<std::string>{"EOF"});
  EXPECT_TRUE(lexed.errors.empty());
}

TEST(BufferedStream, ReadsPushedBackElementsFirst) {
  zr::ref<zr::MemoryFile> file = new zr::MemoryFile(bytes("xy"));
  zr::BufferedStream<char, zrX::kZRTChunkSize> stream;
  char c = '?';
  EXPECT_FALSE(stream.readElement(c));
  EXPECT_EQ(c, '?');
  stream.attachFile(file.get());
  stream.pushBack('a');
  stream.pushBack('b');
  std::string read;
  while (stream.readElement(c)) read += c;
  EXPECT_EQ(read, "baxy");
  EXPECT_TRUE(stream.atEnd());
  c = '?';
  EXPECT_FALSE(stream.readElement(c));
  EXPECT_EQ(c, '?');
  stream.pushBack('z');
  EXPECT_TRUE(stream.readElement(c));
  EXPECT_EQ(c, 'z');
}

TEST(ZRTTokenizer, RuntimeTypes) {
  zr::ref<ZRTTokenizer> tokenizer = new ZRTTokenizer();
  using Stream = zr::BufferedStream<char, zrX::kZRTChunkSize>;
  EXPECT_STREQ(tokenizer->className(), "zr::ZRTTokenizer");
  EXPECT_STREQ(Stream::Name(), "zr::BufferedStream<Element_Type, Chunk_Size>");
  EXPECT_TRUE(tokenizer->isOfType(Stream::Type()));
  EXPECT_TRUE(tokenizer->isOfType(zr::Object::Type()));
  EXPECT_EQ(tokenizer->lineNumber(), 1);
}

}  // namespace
