#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/LogCapture.hpp"
#include "support/SmallStack.hpp"
#include "support/TrickleFile.hpp"
#include "zrCore/VirtualFile.hpp"
#include "zrX/ParserZRT.hpp"

namespace {

using zrX::ParserZRT;
using zrX::ZRXArrayInteger;
using zrX::ZRXArrayReal;
using zrX::ZRXList;
using zrX::ZRXRawtextBlock;
using zrX::ZRXStructure;
using zrX::ZRXValue;

const std::string kHeader = "ZRX version=101 encoding=ascii\n";

std::string number(double value) {
  char digits[64];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  return std::string(digits, result.ptr);
}

// A compact text of a tree: tag{ID=#x;key=value;...}, tag[v,v], tag{<raw>}, tag(i:1,2),
// tag(r:1.5), "string", identifier, #id, r1.5 for a real.
std::string dump(const ZRXValue& value);

std::string dump(const ZRXStructure* structure) {
  std::string out = structure->tag() + "{";
  const char* separator = "";
  if (structure->uid() != "#NULL") {
    out += "ID=" + structure->uid();
    separator = ";";
  }
  for (const ZRXStructure::KeyValue& entry : structure->value()) {
    out += separator + entry.key() + "=" + dump(entry.value());
    separator = ";";
  }
  return out + "}";
}

std::string dump(const ZRXValue& value) {
  switch (value.type()) {
    case ZRXValue::Bool:
      return value.getBool() ? "true" : "false";
    case ZRXValue::Integer:
      return std::to_string(value.getInteger());
    case ZRXValue::Real:
      return "r" + number(value.getReal());
    case ZRXValue::String:
      return "\"" + value.getString() + "\"";
    case ZRXValue::Identifier:
      return value.getIdentifier();
    case ZRXValue::ID:
      return value.getID();
    case ZRXValue::RawtextBlock:
      return value.getRawtextBlock()->tag() + "{<" + value.getRawtextBlock()->value() + ">}";
    case ZRXValue::List: {
      std::string out = value.getList()->tag() + "[";
      const char* separator = "";
      for (const ZRXValue& element : value.getList()->value()) {
        out += separator + dump(element);
        separator = ",";
      }
      return out + "]";
    }
    case ZRXValue::Structure:
      return value.getStructure() ? dump(value.getStructure()) : "null";
    case ZRXValue::ArrayInteger: {
      std::string out = value.getArrayInteger()->tag() + "(i:";
      const char* separator = "";
      for (int64_t element : value.getArrayInteger()->value()) {
        out += separator + std::to_string(element);
        separator = ",";
      }
      return out + ")";
    }
    case ZRXValue::ArrayReal: {
      std::string out = value.getArrayReal()->tag() + "(r:";
      const char* separator = "";
      for (double element : value.getArrayReal()->value()) {
        out += separator + number(element);
        separator = ",";
      }
      return out + ")";
    }
  }
  return "?";
}

struct Parsed {
  bool ok = false;
  bool fileClosed = false;
  zr::ref<ParserZRT> parser;
  std::vector<std::string> errors;
  std::string dump;  // the top-level structures, one per line
};

using zrtest::TrickleFile;

// Parses `text` from a file in memory, or, with `step`, from a file read `step` bytes at a time.
Parsed parseText(const std::string& text, int maxDepth = zrX::kDefaultMaxDepth, int64_t step = 0) {
  zrtest::LogCapture log;
  Parsed out;
  out.parser = new ParserZRT();
  out.parser->setMaxDepth(maxDepth);
  std::vector<uint8_t> bytes(text.begin(), text.end());
  zr::ref<zr::MemoryFile> file =
      step > 0 ? new TrickleFile(std::move(bytes), step) : new zr::MemoryFile(std::move(bytes));
  out.parser->tokenizer()->attachFile(file.get());
  out.ok = out.parser->parse();
  out.fileClosed = !file->isOpen();
  out.errors = log.errors();
  for (const zr::ref<ZRXStructure>& structure : out.parser->structures())
    out.dump += dump(structure.get()) + "\n";
  return out;
}

const char* const kSceneDocument =
    "ZRX version=101 encoding=ascii\n"
    "\n"
    "<Scene>\n"
    "{\n"
    "\tname = \"Demo\"\n"
    "\tvisible = true\n"
    "\tcount = 42\n"
    "\tscale = 1.500000\n"
    "\tmode = Fast\n"
    "\tparts = \n"
    "\t[\n"
    "\t\t<Part>\n"
    "\t\t{\n"
    "\t\t\tID = #part_1\n"
    "\t\t\tsize = ( 1 2 3 )\n"
    "\t\t}\n"
    "\t\t#part_1\n"
    "\t]\n"
    "\tweights = <Weights> ( 0.250000 0.750000 )\n"
    "\tsource = <Text>\n"
    "{<\n"
    "line one\n"
    "line two\n"
    ">}\n"
    "\tempty = [ ]\n"
    "}\n";

const char* const kSceneDump =
    "<Scene>{name=\"Demo\";visible=true;count=42;scale=r1.5;mode=Fast;"
    "parts=[<Part>{ID=#part_1;size=(i:1,2,3)},#part_1];weights=<Weights>(r:0.25,0.75);"
    "source=<Text>{<line one\nline two\n>};empty=[]}\n";

TEST(ParserZRT, ReadsTheWrittenLayoutAndLinks) {
  const Parsed parsed = parseText(kSceneDocument);
  ASSERT_TRUE(parsed.ok);
  EXPECT_TRUE(parsed.errors.empty());
  EXPECT_EQ(parsed.dump, kSceneDump);
  EXPECT_EQ(parsed.parser->version(), 101);
  EXPECT_EQ(parsed.parser->encoding(), "ascii");
  EXPECT_TRUE(parsed.parser->metadata().empty());
  EXPECT_TRUE(parsed.fileClosed);

  ASSERT_TRUE(parsed.parser->link());
  const ZRXList::Elements& parts =
      parsed.parser->structures()[0]->value()[5].value().getList()->value();
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[1].getStructure(), parts[0].getStructure());
}

TEST(ParserZRT, AcceptsFreeFormText) {
  // The same document re-spaced, with comments, CR LF line ends, tags beside their brackets and
  // the ID member last.
  std::string text =
      "/* lead */ ZRX // the header may span lines\n version = 101\n encoding = ascii\n"
      "<Scene>{name=\"Demo\" visible=true count=42 scale=1.5 mode=Fast\n"
      "parts=[<Part>{size=(1 2 3) ID=#part_1}#part_1]weights=<Weights>(.25 0.75e+0)\n"
      "source=<Text>{< \t\nline one\nline two\n>}empty=[]}";
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (const std::string& input : {text, crlf}) {
    const Parsed parsed = parseText(input);
    ASSERT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.dump, kSceneDump);
  }
}

TEST(ParserZRT, HeaderOnlyDocumentHasNoStructures) {
  const Parsed parsed = parseText("ZRX version=101 encoding=ascii\n\n// nothing else\n");
  EXPECT_TRUE(parsed.ok);
  EXPECT_TRUE(parsed.errors.empty());
  EXPECT_TRUE(parsed.parser->structures().empty());
  EXPECT_TRUE(parsed.parser->metadata().empty());
  EXPECT_TRUE(parsed.parser->link());
}

TEST(ParserZRT, FillsValues) {
  const struct {
    std::string body;  // inside "<A> { ... }"
    std::string dump;
  } cases[] = {
      {"s = \"a\\\"b\" i = x t = true f = false n = -0 r = #ref",
       "<A>{s=\"a\"b\";i=x;t=true;f=false;n=0;r=#ref}"},
      {"a = 1 ID = #x a = 2", "<A>{ID=#x;a=1;a=2}"},
      {"ID = #NULL ID = #a", "<A>{ID=#a}"},
      {"k = #NULL", "<A>{k=#NULL}"},
      {"k = <T> ( 5 )", "<A>{k=<T>(i:5)}"},
      {"k = <T> ( )", "<A>{k=<T>(i:)}"},
      {"k = ( -3 +4 0 )", "<A>{k=(i:-3,4,0)}"},
      {"k = ( 1.5 2 -0.0 )", "<A>{k=(r:1.5,2,-0)}"},
      {"k = <T> { a = 1 } l = <L> [ 1 ]", "<A>{k=<T>{a=1};l=<L>[1]}"},
      {"k = [ <A> { } <B> [ ] ]", "<A>{k=[<A>{},<B>[]]}"},
      {"k = [ 1 \"s\" x #r true 2.5 ( ) [ ] { } {<\nq\n>} ]",
       "<A>{k=[1,\"s\",x,#r,true,r2.5,(i:),[],{},{<q\n>}]}"},
      {"k = [ <U> ( 1 ) <R>\n{<\nq\n>} ]", "<A>{k=[<U>(i:1),<R>{<q\n>}]}"},
      {"k = <R> {<\n>} ", "<A>{k=<R>{<>}}"},
      // "1e5" is the integer 1 and then the next key "e5".
      {"k = 1e5 = 2", "<A>{k=1;e5=2}"},
      {"k = { a = { b = [ [ ] ] } }", "<A>{k={a={b=[[]]}}}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("body: " + c.body);
    const Parsed parsed = parseText(kHeader + "<A> { " + c.body + " }");
    EXPECT_TRUE(parsed.ok);
    EXPECT_TRUE(parsed.errors.empty());
    EXPECT_EQ(parsed.dump, c.dump + "\n");
  }
  const Parsed two = parseText(kHeader + "<A>{}<B>{ b = 1 }\n<A> { }");
  EXPECT_EQ(two.dump, "<A>{}\n<B>{b=1}\n<A>{}\n");
}

TEST(ParserZRT, ReportsErrorsWithLineNumbers) {
  const struct {
    std::string input;
    std::vector<std::string> errors;
  } cases[] = {
      {"", {"'ZRX' header not found!\n", "Line 1 : error parsing ZRT header at ''.\n"}},
      {"ZRY version=101 encoding=ascii",
       {"'ZRX' header not found!\n", "Line 1 : error parsing ZRT header at 'ZRY'.\n"}},
      {"\n\n@",
       {"Line 3 : unexpected character '@'.\n", "'ZRX' header not found!\n",
        "Line 3 : error parsing ZRT header at ''.\n"}},
      {"ZRX version=100 encoding=ascii", {"ZRX version not supported.\n"}},
      // Versions that only a 16-bit wrap-around would turn into 101.
      {"ZRX version=65637 encoding=ascii", {"ZRX version not supported.\n"}},
      {"ZRX version=-65435 encoding=ascii", {"ZRX version not supported.\n"}},
      {"ZRX version=99999999999999999999 encoding=ascii", {"ZRX version not supported.\n"}},
      {"ZRX version=101 encoding=utf8", {"Line 1 : error parsing ZRT header at 'utf8'.\n"}},
      {"ZRX\nversion\n=\n101.0", {"Line 4 : error parsing ZRT header at '101.0'.\n"}},
      {"ZRX version=101", {"Line 1 : error parsing ZRT header at ''.\n"}},
      {"ZRX Version=101 encoding=ascii", {"Line 1 : error parsing ZRT header at 'Version'.\n"}},
      {kHeader + "{ }", {"Line 2 : parse error at '{'.\n"}},
      {kHeader + "<A> x", {"Line 2 : parse error at 'x'.\n"}},
      {kHeader + "<A>\n{ }\n<B>", {"Line 4 : parse error at ''.\n"}},
      {kHeader + "<A> { ID = #a\nID = #b }",
       {"ID already set.\n", "Line 3 : parse error at 'ID'.\n"}},
      {kHeader + "<A> { ID = 5 }", {"Line 2 : parse error at '5'.\n"}},
      {kHeader + "<A> { ID #a }", {"Line 2 : parse error at '#a'.\n"}},
      {kHeader + "<A> { Id = 1 }", {"Line 2 : parse error at 'Id'.\n"}},
      {kHeader + "<A> { iD = 1 }", {"Line 2 : parse error at 'iD'.\n"}},
      {kHeader + "<A> { id = 1 }", {"Line 2 : parse error at 'id'.\n"}},
      {kHeader + "<A> { true = 1 }", {"Line 2 : parse error at 'true'.\n"}},
      {kHeader + "<A> { \"k\" = 1 }", {"Line 2 : parse error at 'k'.\n"}},
      {kHeader + "<A> { k 5 }", {"Line 2 : parse error at '5'.\n"}},
      {kHeader + "<A> { k = }", {"Line 2 : parse error at '}'.\n"}},
      {kHeader + "<A> { k = 1e5 }", {"Line 2 : parse error at '}'.\n"}},
      {kHeader + "<A> { k = <T> 5 }", {"Line 2 : parse error at '5'.\n"}},
      {kHeader + "<A> { k = <T> <U> { } }", {"Line 2 : parse error at '<U>'.\n"}},
      {kHeader + "<A> { k = <T> }", {"Line 2 : parse error at '}'.\n"}},
      {kHeader + "<A> { k = ( 1 2.5 ) }", {"Line 2 : parse error at '2.5'.\n"}},
      {kHeader + "<A> { k = ( 1.5 x ) }", {"Line 2 : parse error at 'x'.\n"}},
      {kHeader + "<A> { k = ( <T> ) }", {"Line 2 : parse error at '<T>'.\n"}},
      {kHeader + "<A> { k = ( 1e5 ) }", {"Line 2 : parse error at 'e5'.\n"}},
      {kHeader + "<A> { k = [ <T> 5 ] }", {"Line 2 : parse error at '5'.\n"}},
      {kHeader + "<A> { k = [ <T> <U> { } ] }", {"Line 2 : parse error at '<U>'.\n"}},
      {kHeader + "<A> { k = [ = ] }", {"Line 2 : parse error at '='.\n"}},
      {kHeader + "<A> { k = [ { } <T>\n] }",
       {"Line 3 : tag '<T>' is not followed by a value.\n", "Line 3 : parse error at ']'.\n"}},
      {kHeader + "<A> { k = 1", {"Line 2 : parse error.\n"}},
      {kHeader + "<A> { k = {<\nabc\n>} x", {"Line 4 : parse error.\n"}},
      {kHeader + "<A> { k = 9223372036854775808 }",
       {"Line 2 : integer '9223372036854775808' is out of the 64-bit range.\n",
        "Line 2 : parse error at '9223372036854775808'.\n"}},
      {kHeader + "<A> { k = ( 1\n-9223372036854775809 ) }",
       {"Line 3 : integer '-9223372036854775809' is out of the 64-bit range.\n",
        "Line 3 : parse error at '-9223372036854775809'.\n"}},
      // Integers of 20 digits and more, whose digits overflow 64 bits, are never read modulo 2^64.
      {kHeader + "<A> { k = ( 1 18446744073709551621 ) }",
       {"Line 2 : integer '18446744073709551621' is out of the 64-bit range.\n",
        "Line 2 : parse error at '18446744073709551621'.\n"}},
      {kHeader + "<A> { k = ( 1 -1844674407370955162100000 ) }",
       {"Line 2 : integer '-1844674407370955162100000' is out of the 64-bit range.\n",
        "Line 2 : parse error at '-1844674407370955162100000'.\n"}},
      // Lexical errors inside a structure: the tokenizer's message, then the parser's.
      {kHeader + "<A> {\n k = @ }",
       {"Line 3 : unexpected character '@'.\n", "Line 3 : parse error.\n"}},
      {kHeader + "<A> { k = 1.5e3 }",
       {"Line 2 :unexpected character '3'.\n", "Line 2 : parse error at '1.5e'.\n"}},
      {kHeader + "<A> { k = \"abc }\n}",
       {"Line 2 : end of line found before end of string, did you forget a \"?.\n",
        "Line 2 : parse error at 'abc }'.\n"}},
      {kHeader + "<A> { /* open\n",
       {"Line 3 : unexpected end of file in comment.\n", "Line 3 : parse error.\n"}},
      {kHeader + "<A> { k = {< x\n}", {"Line 2 : parse error at 'x'.\n"}},
      {kHeader + "<A> { k = {<\nabc", {"Line 3 : parse error at 'abc'.\n"}},
      {kHeader + "<A> { k = 1. }",
       {"Line 2 :unexpected character ' '.\n", "Line 2 : parse error at '1.'.\n"}},
      {kHeader + "<A> { k = -", {"Line 2 : parse error at '-'.\n"}},
      // Between top-level structures only the tokenizer speaks.
      {kHeader + "<A> { }\n@", {"Line 3 : unexpected character '@'.\n"}},
      {kHeader + "<A> { }\n<B", {"Line 3 : unexpected end of file while reading object header.\n"}},
      // ...except where it leaves the report to the parser: the input ends inside a number or a
      // raw text block, or text follows "{<" on its line.
      {kHeader + "<A> { }\n-", {"Line 3 : parse error at '-'.\n"}},
      {kHeader + "<A> { } 2.5e+", {"Line 2 : parse error at '2.5e+'.\n"}},
      {kHeader + "{< x\nabc>}", {"Line 2 : parse error at 'x'.\n"}},
      {kHeader + "<A> { } {<", {"Line 2 : parse error at '<'.\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("input: " + c.input);
    const Parsed parsed = parseText(c.input);
    EXPECT_FALSE(parsed.ok);
    EXPECT_EQ(parsed.errors, c.errors);
    EXPECT_TRUE(parsed.fileClosed);
  }
}

TEST(ParserZRT, KeepsTheStructuresReadBeforeAFailure) {
  const Parsed parsed = parseText(kHeader + "<A> { a = 1 }\n<B> { b = 2 }\n<C> { c = @ }");
  EXPECT_FALSE(parsed.ok);
  EXPECT_EQ(parsed.dump, "<A>{a=1}\n<B>{b=2}\n");
}

TEST(ParserZRT, RecordsLineNumbers) {
  const std::string text = kHeader +            // line 1
                           "<Root>\n"           // 2
                           "{\n"                // 3
                           "  a = 1\n"          // 4
                           "  b =\n"            // 5
                           "    <T>\n"          // 6
                           "    {\n"            // 7
                           "      c = \"x\"\n"  // 8
                           "    }\n"            // 9
                           "  l = [\n"          // 10
                           "    <U> ( 1\n"      // 11
                           "    2 )\n"          // 12
                           "    {<\n"           // 13
                           "text\n"             // 14
                           ">}\n"               // 15
                           "  ]\n"              // 16
                           "  r = <R> {<\n"     // 17
                           "raw\n"              // 18
                           ">}\n"               // 19
                           "}\n";               // 20
  const Parsed parsed = parseText(text);
  ASSERT_TRUE(parsed.ok);
  const ZRXStructure* root = parsed.parser->structures()[0].get();
  EXPECT_EQ(root->lineNumber(), 3);
  const auto& entries = root->value();
  EXPECT_EQ(entries[0].value().lineNumber(), 4);
  EXPECT_EQ(entries[1].value().lineNumber(), 6);  // the value began with its tag
  EXPECT_EQ(entries[1].value().getStructure()->lineNumber(), 7);
  EXPECT_EQ(entries[1].value().getStructure()->value()[0].value().lineNumber(), 8);
  EXPECT_EQ(entries[2].value().lineNumber(), 10);
  const ZRXList* list = entries[2].value().getList();
  EXPECT_EQ(list->lineNumber(), 10);
  EXPECT_EQ(list->value()[0].lineNumber(), 11);  // a tag item is not part of the value
  EXPECT_EQ(list->value()[0].getArrayInteger()->lineNumber(), 11);
  EXPECT_EQ(list->value()[1].lineNumber(), 14);  // "{<" consumes its line end
  EXPECT_EQ(list->value()[1].getRawtextBlock()->lineNumber(), 14);
  EXPECT_EQ(entries[3].value().lineNumber(), 17);
  EXPECT_EQ(entries[3].value().getRawtextBlock()->lineNumber(), 18);
}

TEST(ParserZRT, ExtractsMetadata) {
  const Parsed parsed = parseText(kHeader +
                                  "<Metadata> { Authoring_Tool = \"t1\" x = 1 }\n"
                                  "<Metadata> { x = 2 nested = { y = 3 } }\n"
                                  "<metadata> { a = 1 }\n"
                                  "<Root> { b = 2 }\n"
                                  "<Metadata> { z = #ref }\n");
  ASSERT_TRUE(parsed.ok);
  EXPECT_EQ(parsed.dump, "<metadata>{a=1}\n<Root>{b=2}\n");
  zrX::MetadataMap& metadata = parsed.parser->metadata();
  ASSERT_EQ(metadata.size(), 4u);
  EXPECT_EQ(metadata["Authoring_Tool"].getString(), "t1");
  EXPECT_EQ(metadata["x"].getInteger(), 2);
  EXPECT_EQ(dump(metadata["nested"]), "{y=3}");
  EXPECT_EQ(metadata["z"].getID(), "#ref");
  // Metadata is not linked: its ID values stay IDs and name nothing that must exist.
  EXPECT_TRUE(parsed.parser->link());
  EXPECT_EQ(metadata["z"].type(), ZRXValue::ID);

  const Parsed only = parseText(kHeader + "<Metadata> { k = 1 }");
  ASSERT_TRUE(only.ok);
  EXPECT_TRUE(only.parser->structures().empty());
  EXPECT_EQ(only.parser->metadata().size(), 1u);

  // A lexical error between top-level structures still extracts what was read.
  const Parsed broken = parseText(kHeader + "<Metadata> { k = 1 } <A> { } @");
  EXPECT_FALSE(broken.ok);
  EXPECT_EQ(broken.dump, "<A>{}\n");
  EXPECT_EQ(broken.parser->metadata().size(), 1u);
}

// Every token the grammar admits converts exactly as strtod does in the C locale.
TEST(ParserZRT, ConvertsNumbersLikeTheCLibrary) {
  const Parsed integers =
      parseText(kHeader + "<A> { k = ( 9223372036854775807 -9223372036854775808 +5 -0 0 ) }");
  ASSERT_TRUE(integers.ok);
  EXPECT_EQ(integers.dump, "<A>{k=(i:9223372036854775807,-9223372036854775808,5,0,0)}\n");

  const std::string reals[] = {"0.1",
                               "-0.0",
                               ".5",
                               "+0.25",
                               "1.7976931348623157E+308",
                               "1.0E+309",
                               "-1.0E+309",
                               "4.9406564584124654E-324",
                               "2.4E-324",
                               "2.5E-324",
                               "1.0E-400",
                               "-1.0E-400",
                               "2.2250738585072011E-308",
                               "123456789012345678901234567890.5",
                               "0.000001",
                               "9007199254740993.0",
                               "1.0E+99999999999999999999",
                               "1.0E-99999999999999999999",
                               "0." + std::string(400, '0') + "1",
                               "1" + std::string(400, '0') + ".0",
                               "0." + std::string(320, '0') + "1E+330",
                               "100.0E-310"};
  ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  for (const std::string& text : reals) {
    SCOPED_TRACE("real: " + text);
    // Each text first and among others in an array: the first number of an array and the ones
    // after it are read by different paths.
    const Parsed parsed = parseText(kHeader + "<A> { k = " + text + " a = ( " + text +
                                    " 7 ) b = ( 0.5 " + text + "\n7 ) }");
    ASSERT_TRUE(parsed.ok);
    const double expected = std::strtod(text.c_str(), nullptr);
    const auto& entries = parsed.parser->structures()[0]->value();
    const double value = entries[0].value().getReal();
    const double first = entries[1].value().getArrayReal()->value()[0];
    const double later = entries[2].value().getArrayReal()->value()[1];
    EXPECT_EQ(std::memcmp(&value, &expected, sizeof value), 0) << number(value);
    EXPECT_EQ(std::memcmp(&first, &expected, sizeof value), 0) << number(first);
    EXPECT_EQ(std::memcmp(&later, &expected, sizeof value), 0) << number(later);
    EXPECT_EQ(entries[1].value().getArrayReal()->value()[1], 7.0);
    EXPECT_EQ(entries[2].value().getArrayReal()->value()[2], 7.0);
  }
  // Integers in a real array convert as reals, whatever their size.
  const Parsed mixed = parseText(kHeader + "<A> { k = ( 0.5 99999999999999999999 -0 ) }");
  ASSERT_TRUE(mixed.ok);
  EXPECT_EQ(mixed.dump, "<A>{k=(r:0.5,1e+20,-0)}\n");
  // Leading zeros end a number; integers of every length, a real among integers.
  const Parsed forms = parseText(kHeader +
                                 "<A> { i = ( 1 0123 -0 +7 999999999999999999 "
                                 "1000000000000000000 -9223372036854775808 ) r = ( 1.5 0123 1.5.5 "
                                 "-.5 2.5e+3 12345678901234567890.5 ) }");
  ASSERT_TRUE(forms.ok) << forms.errors.size();
  EXPECT_EQ(forms.dump,
            "<A>{i=(i:1,0,123,0,7,999999999999999999,1000000000000000000,-9223372036854775808);"
            "r=(r:1.5,0,123,1.5,0.5,-0.5,2500,12345678901234567168)}\n");
  const Parsed realAmongIntegers = parseText(kHeader + "<A> { i = ( 1 2 2.5 ) }");
  EXPECT_FALSE(realAmongIntegers.ok);
  ASSERT_FALSE(realAmongIntegers.errors.empty());
  EXPECT_NE(realAmongIntegers.errors.back().find("'2.5'"), std::string::npos)
      << realAmongIntegers.errors.back();
}

TEST(ParserZRT, ReadsRealsWhateverTheLocale) {
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  const char* candidates[] = {"de_DE.UTF-8", "de_DE.utf8",  "de_DE",       "fr_FR.UTF-8",
                              "fr_FR.utf8",  "fr_FR",       "nl_NL.UTF-8", "ru_RU.UTF-8",
                              "it_IT.UTF-8", "es_ES.UTF-8", "pt_BR.UTF-8"};
  const char* found = nullptr;
  for (const char* candidate : candidates) {
    if (std::setlocale(LC_ALL, candidate) && std::localeconv()->decimal_point[0] == ',') {
      found = candidate;
      break;
    }
  }
  if (!found) {
    std::setlocale(LC_ALL, previous.c_str());
    GTEST_SKIP() << "no locale with a decimal comma is installed";
  }
  const Parsed parsed = parseText(kHeader + "<A> { k = 1.5 a = ( 1.5 2.25E+1 ) }");
  std::setlocale(LC_ALL, previous.c_str());
  ASSERT_TRUE(parsed.ok);
  EXPECT_EQ(parsed.dump, "<A>{k=r1.5;a=(r:1.5,22.5)}\n");
}

// A document of `levels` nested levels, alternating structures and lists, one opener a line: the
// top-level structure is level 1 on line 2, level n stands on line n + 1.
std::string nestedDocument(int levels) {
  std::string open = kHeader + "<A> {";
  std::string close = "}";
  for (int level = 2; level <= levels; ++level) {
    if (level % 2 == 0) {
      open += "\nk = [";
      close = "]" + close;
    } else {
      open += "\n{";
      close = "}" + close;
    }
  }
  return open + close;
}

TEST(ParserZRT, RefusesNestingBeyondTheLimit) {
  const Parsed deep = parseText(nestedDocument(1001));
  EXPECT_FALSE(deep.ok);
  EXPECT_EQ(deep.errors,
            (std::vector<std::string>{
                "Line 1002 : nesting deeper than 1000 levels of structures and lists.\n",
                "Line 1002 : parse error at '{'.\n"}));

  const Parsed atLimit = parseText(nestedDocument(4), 4);
  EXPECT_TRUE(atLimit.ok);
  const Parsed overLimit = parseText(nestedDocument(5), 4);
  EXPECT_FALSE(overLimit.ok);
  EXPECT_EQ(
      overLimit.errors,
      (std::vector<std::string>{"Line 6 : nesting deeper than 4 levels of structures and lists.\n",
                                "Line 6 : parse error at '{'.\n"}));
  const Parsed listOverLimit = parseText(nestedDocument(4), 3);
  EXPECT_EQ(
      listOverLimit.errors,
      (std::vector<std::string>{"Line 5 : nesting deeper than 3 levels of structures and lists.\n",
                                "Line 5 : parse error at '['.\n"}));
}

// The stack budget is promised for optimised builds without AddressSanitizer, where it is tested
// in a thread of its own (Linux).
#if defined(__linux__) && defined(__OPTIMIZE__) && !defined(ZRX_TEST_ASAN)
#define ZRT_TEST_SMALL_STACK 1
#endif

#if defined(ZRT_TEST_SMALL_STACK)
struct DeepParse {
  std::string text;
  bool ok = false;
  size_t errors = 0;
};

void parseDeep(DeepParse* job) {
  Parsed parsed = parseText(job->text);
  job->ok = parsed.ok;
  job->errors = parsed.errors.size();
}  // the tree is freed here too, in the small stack
#endif

TEST(ParserZRT, DefaultLimitFitsAOneMebibyteStack) {
#if !defined(ZRT_TEST_SMALL_STACK)
  GTEST_SKIP() << "the stack budget holds for optimised Linux builds without AddressSanitizer";
#else
  DeepParse job;
  job.text = nestedDocument(zrX::kDefaultMaxDepth);
  ASSERT_TRUE(zrtest::runOnStack(zrtest::kOneMebibyte, [&job] { parseDeep(&job); }));
  EXPECT_TRUE(job.ok);
  EXPECT_EQ(job.errors, 0u);
#endif
}

// A document several chunks long, numbers crossing every chunk boundary.
TEST(ParserZRT, ReadsDocumentsLargerThanAChunk) {
  std::string text = kHeader + "<A> {\n";
  std::vector<std::vector<double>> expected;
  uint32_t seed = 12345;
  for (int array = 0; array < 8; ++array) {
    text += "v = ( ";
    expected.emplace_back();
    for (int i = 0; i < 20000; ++i) {
      seed = seed * 1664525u + 1013904223u;
      char token[48];
      const double magnitude = static_cast<double>(seed % 1000003) / 977.0;
      if (i % 7 == 3) {
        std::snprintf(token, sizeof token, "%u", seed % 100000);
      } else if (i % 5 == 1) {
        std::snprintf(token, sizeof token, "-%.9fE-%02u", magnitude, seed % 40);
      } else {
        std::snprintf(token, sizeof token, "%.6f", magnitude);
      }
      if (i == 0 && std::strchr(token, '.') == nullptr) std::strcat(token, ".0");
      text += token;
      text += i % 10 == 9 ? "\r\n" : " ";
      expected.back().push_back(std::strtod(token, nullptr));
    }
    text += ")\n";
  }
  text += "s = \"" + std::string(200000, 'x') + "\"\n}\n";
  ASSERT_GT(text.size(), 10u * zrX::kZRTChunkSize);

  // In place, and read in pieces of sizes that put chunk boundaries everywhere.
  for (const int64_t step : {int64_t{0}, int64_t{zrX::kZRTChunkSize}, int64_t{4093}, int64_t{7}}) {
    SCOPED_TRACE("read step " + std::to_string(step));
    const Parsed parsed = parseText(text, zrX::kDefaultMaxDepth, step);
    ASSERT_TRUE(parsed.ok);
    const auto& entries = parsed.parser->structures()[0]->value();
    ASSERT_EQ(entries.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i)
      EXPECT_EQ(entries[i].value().getArrayReal()->value(), expected[i]) << "array " << i;
    EXPECT_EQ(entries.back().value().getString().size(), 200000u);
    EXPECT_EQ(entries.back().value().lineNumber(), 3 + 8 * 2001);
  }
}

// Room reserved for a real array while it is read is not kept by a short one.
TEST(ParserZRT, ShortRealArraysKeepLittleMemory) {
  const Parsed parsed = parseText(kHeader + "<A> { k = ( 1.5 2.5 ) }");
  ASSERT_TRUE(parsed.ok);
  const std::vector<double>& values =
      parsed.parser->structures()[0]->value()[0].value().getArrayReal()->value();
  EXPECT_EQ(values, (std::vector<double>{1.5, 2.5}));
  EXPECT_LT(values.capacity(), 16u);
}

TEST(ParserZRT, RuntimeType) {
  zr::ref<ParserZRT> parser = new ParserZRT();
  EXPECT_STREQ(parser->className(), "zrX::ParserZRT");
  EXPECT_TRUE(parser->isOfType(zrX::Parser::Type()));
  EXPECT_EQ(parser->version(), 0);
  ASSERT_NE(parser->tokenizer(), nullptr);
}

}  // namespace
