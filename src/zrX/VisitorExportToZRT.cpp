#include "zrX/VisitorExportToZRT.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

#include "zrCore/Log.hpp"
#include "zrX/Parser.hpp"

namespace zrX {

ZR_DEFINE_TYPE(VisitorExportToZRT, Visitor, "zrX::VisitorExportToZRT")

// Lexical rules ----------------------------------------------------------------------------------

namespace zrt {
namespace {

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isWordChar(char c) { return isLetter(c) || isDigit(c) || c == '_'; }

}  // namespace

bool isIdentifierToken(std::string_view text) {
  if (text.empty() || !(isLetter(text[0]) || text[0] == '_') || text == "_") return false;
  return std::all_of(text.begin(), text.end(), isWordChar);
}

bool isValidIdentifier(std::string_view text) {
  return isIdentifierToken(text) && text != "true" && text != "false";
}

bool isValidKey(std::string_view text) {
  bool isIDMember =
      text.size() == 2 && (text[0] == 'I' || text[0] == 'i') && (text[1] == 'D' || text[1] == 'd');
  return isValidIdentifier(text) && !isIDMember;
}

bool isValidID(std::string_view text) {
  if (text.empty() || text[0] != '#' || text == "#_") return false;
  return std::all_of(text.begin() + 1, text.end(), isWordChar);
}

bool isValidTag(std::string_view text) {
  if (text.size() < 2 || text.front() != '<' || text.back() != '>') return false;
  return std::all_of(text.begin() + 1, text.end() - 1,
                     [](char c) { return isWordChar(c) || c == ':'; });
}

}  // namespace zrt

// Numbers ----------------------------------------------------------------------------------------
//
// Formatted with std::to_chars straight into the output: the same bytes as "%lld" and "%f" in the
// "C" locale, whatever locale the process has set.

namespace {

// Room per number on the fast path, its following space included: an int64 needs at most 21, a
// real below 1e15 in magnitude at most 25.
constexpr size_t kNumberSlot = 32;
// The longest fixed form of a double: "-" and the 309 digits of DBL_MAX, ".", six decimals.
constexpr size_t kLongestNumber = 320;
constexpr size_t kBatch = 1024;

std::to_chars_result formatNumber(char* first, char* last, int64_t value) {
  return std::to_chars(first, last, value);
}

std::to_chars_result formatNumber(char* first, char* last, double value) {
  return std::to_chars(first, last, value, std::chars_format::fixed, 6);
}

// Appends count numbers, each followed by `separator`.
template <class T>
void appendNumbers(std::string& out, const T* values, size_t count, char separator) {
  size_t used = out.size();
  size_t i = 0;
  while (i < count) {
    size_t stop = i + std::min(count - i, kBatch);
    out.resize(used + (stop - i) * kNumberSlot);
    char* p = &out[used];
    char* end = &out[0] + out.size();
    for (; i < stop; ++i) {
      std::to_chars_result r = formatNumber(p, end - 1, values[i]);
      if (r.ec != std::errc()) {
        // A real too large for the room left: make room for the longest form.
        used = static_cast<size_t>(p - out.data());
        out.resize(used + kLongestNumber + (stop - i) * kNumberSlot);
        p = &out[used];
        end = &out[0] + out.size();
        r = formatNumber(p, end - 1, values[i]);
      }
      p = r.ptr;
      *p++ = separator;
    }
    used = static_cast<size_t>(p - out.data());
  }
  out.resize(used);
}

// Makes room at once for a long array's text, estimated from a sample of its values, so that the
// text is not copied on every doubling of the string while the array is written.
template <class T>
void reserveForNumbers(std::string& out, const T* values, size_t count) {
  constexpr size_t kSamples = 16;
  if (count < 4 * kBatch) return;
  char sample[kLongestNumber];
  size_t sampled = 0;
  for (size_t k = 0; k < kSamples; ++k) {
    std::to_chars_result r =
        formatNumber(sample, sample + sizeof sample, values[k * (count / kSamples)]);
    sampled += static_cast<size_t>(r.ptr - sample) + 1;
  }
  out.reserve(out.size() + count / kSamples * sampled * 9 / 8 + kBatch * kNumberSlot);
}

// Escapes ---------------------------------------------------------------------------------------

void appendEscapedString(std::string& out, std::string_view text) {
  size_t runStart = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char escape;
    switch (text[i]) {
      case '"':
        escape = '"';
        break;
      case '\\':
        escape = '\\';
        break;
      case '\b':
        escape = 'b';
        break;
      case '\f':
        escape = 'f';
        break;
      case '\n':
        escape = 'n';
        break;
      case '\r':
        escape = 'r';
        break;
      case '\t':
        escape = 't';
        break;
      default:
        continue;
    }
    out.append(text.data() + runStart, i - runStart);
    out += '\\';
    out += escape;
    runStart = i + 1;
  }
  out.append(text.data() + runStart, text.size() - runStart);
}

void appendEscapedRawtext(std::string& out, std::string_view text) {
  size_t runStart = 0;
  for (size_t found = text.find(">}"); found != std::string_view::npos;
       found = text.find(">}", found + 2)) {
    out.append(text.data() + runStart, found - runStart);
    out += '\\';
    runStart = found;
  }
  out.append(text.data() + runStart, text.size() - runStart);
}

std::string quote(std::string_view text) { return "'" + std::string(text) + "'"; }

// "structure '<T>'", or "untagged structure".
std::string describe(const char* kind, const ZRXTaggedValue* node) {
  return node->tag().empty() ? "untagged " + std::string(kind)
                             : std::string(kind) + " " + quote(node->tag());
}

bool hasOwnID(const ZRXStructure* structure) {
  return !structure->uid().empty() && structure->uid() != "#NULL";
}

}  // namespace

std::string VisitorExportToZRT::escapeString(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  appendEscapedString(out, text);
  return out;
}

std::string VisitorExportToZRT::escapeRawtext(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 32);
  appendEscapedRawtext(out, text);
  return out;
}

// Writer -----------------------------------------------------------------------------------------
//
// visitStructure, visitList and writeValue recurse once per nesting level, so they stay lean: the
// checks, scalar writes and failure messages (string temporaries) live in helpers that are kept
// out of line, whose frames are gone before the walk descends.

#if defined(__GNUC__) || defined(__clang__)
#define ZRX_OUT_OF_LINE __attribute__((noinline))
#else
#define ZRX_OUT_OF_LINE
#endif

void VisitorExportToZRT::writeHeader() {
  mOutput = "ZRX version=" + std::to_string(kFormatVersion) + " encoding=ascii\n\n";
  mOutput.reserve(64 * 1024);
}

void VisitorExportToZRT::writeIndent() {
  if (mSkipIndent) {
    mSkipIndent = false;
    return;
  }
  mOutput.append(static_cast<size_t>(mIndent), '\t');
}

std::string VisitorExportToZRT::place() const {
  if (!mPlaceStructure) return "at the top level";
  std::string where = "in " + describe("structure", mPlaceStructure);
  if (mPlaceKey) where += ", key " + quote(*mPlaceKey);
  return where;
}

ZRX_OUT_OF_LINE void VisitorExportToZRT::fail(const std::string& what) {
  recordFailure("VisitorExportToZRT: " + what + ".");
}

ZRX_OUT_OF_LINE bool VisitorExportToZRT::isIDReferenced(const std::string& id) {
  if (!mIDSet) return true;
  const int32_t* found = mIDSet->find(id);
  if (!found) {
    fail("ID " + quote(id) + " " + place() +
         " is missing from the ID counts; count the IDs of the same tree right before writing");
    return false;
  }
  return *found > 1;
}

ZRX_OUT_OF_LINE void VisitorExportToZRT::writeTag(const ZRXTaggedValue* node) {
  if (!zrt::isValidTag(node->tag()))
    fail("tag " + quote(node->tag()) + " " + place() + " is not a valid tag");
  mOutput += node->tag();
}

ZRX_OUT_OF_LINE void VisitorExportToZRT::writeStructureReference(const ZRXStructure* structure) {
  if (mDepth == 0) {
    fail("top-level " + describe("structure", structure) +
         " was written before; a top-level place needs the whole structure");
  } else if (!hasOwnID(structure)) {
    fail(describe("structure", structure) + " without an ID is reached a second time " + place() +
         "; only a structure with an ID can be referenced");
  } else if (mIDSet && !isIDReferenced(structure->uid())) {
    fail(describe("structure", structure) + " is reached a second time " + place() +
         ", but its ID " + quote(structure->uid()) +
         " was counted less than twice and was not written");
  }
  writeIndent();
  mOutput += structure->uid().empty() ? std::string("#NULL") : structure->uid();
  mOutput += '\n';
}

ZRX_OUT_OF_LINE void VisitorExportToZRT::openStructure(const ZRXStructure* structure) {
  if (mDepth == 1 && structure->tag().empty())
    fail("top-level structure without a tag; the reader needs one before '{'");
  if (!structure->tag().empty()) {
    writeIndent();
    writeTag(structure);
    mOutput += '\n';
  } else if (mSkipIndent) {
    mSkipIndent = false;
    mOutput += '\n';
  }
  writeIndent();
  mOutput += "{\n";
  ++mIndent;
  mPlaceStructure = structure;
  mPlaceKey = nullptr;

  const std::string& id = structure->uid();
  if (!hasOwnID(structure) || !isIDReferenced(id)) return;
  if (!zrt::isValidID(id)) fail("ID " + quote(id) + " " + place() + " is not a valid ID");
  // A writer that follows the ID counter's walk writes a tree whose IDs the counter found unique.
  bool fresh = true;
  const uint32_t number = following() ? 0 : mWrittenIDs.insert(id, &fresh);
  if (fresh) {
    if (!following()) mWrittenOwners.push_back(structure);
  } else if (mWrittenOwners[number] != structure) {
    fail("ID " + quote(id) + " " + place() + " is already the ID of " +
         describe("structure", mWrittenOwners[number]) + "; an ID must name one structure");
  }
  writeIndent();
  mOutput += "ID = ";
  mOutput += id;
  mOutput += '\n';
}

ZRX_OUT_OF_LINE void VisitorExportToZRT::writeKey(const std::string& key) {
  mPlaceKey = &key;
  if (!zrt::isValidKey(key))
    fail("key " + quote(key) + " in " + describe("structure", mPlaceStructure) +
         " is not a valid key");
  writeIndent();
  mOutput += key;
  mOutput += " = ";
  mSkipIndent = true;
}

void VisitorExportToZRT::visitStructure(ZRXStructure* structure) {
  if (failed()) return;
  if (isVisitedIfShared(structure)) {
    writeStructureReference(structure);
    return;
  }
  if (!enterLevel("VisitorExportToZRT", structure)) return;
  const ZRXStructure* outerStructure = mPlaceStructure;
  const std::string* outerKey = mPlaceKey;
  openStructure(structure);
  for (const ZRXStructure::KeyValue& entry : structure->value()) {
    writeKey(entry.key());
    writeValue(entry.value());
  }
  --mIndent;
  writeIndent();
  mOutput += "}\n";
  mPlaceStructure = outerStructure;
  mPlaceKey = outerKey;
  leaveLevel();
}

ZRX_OUT_OF_LINE void VisitorExportToZRT::writeRepeatedList(const ZRXList* list) {
  zr::Log::warning("VisitorExportToZRT: cycle detected on ZRXList.\n");
  fail(describe("list", list) + " is reached a second time " + place() +
       "; a list can stand in one place only");
  writeIndent();
  mOutput += "[ ]\n";
}

ZRX_OUT_OF_LINE bool VisitorExportToZRT::openList(const ZRXList* list) {
  if (list->value().empty()) {
    // An empty list keeps its tag on its line, so that it reads back tagged.
    writeIndent();
    if (!list->tag().empty()) {
      writeTag(list);
      mOutput += ' ';
    }
    mOutput += "[ ]\n";
    return false;
  }
  if (!list->tag().empty()) {
    writeIndent();
    writeTag(list);
    mOutput += '\n';
  } else if (mSkipIndent) {
    mSkipIndent = false;
    mOutput += '\n';
  }
  writeIndent();
  mOutput += "[\n";
  ++mIndent;
  return true;
}

void VisitorExportToZRT::visitList(ZRXList* list) {
  if (failed()) return;
  if (isVisitedIfShared(list)) {
    writeRepeatedList(list);
    return;
  }
  if (!enterLevel("VisitorExportToZRT", list)) return;
  if (openList(list)) {
    for (const ZRXValue& element : list->value()) writeValue(element);
    --mIndent;
    writeIndent();
    mOutput += "]\n";
  }
  leaveLevel();
}

void VisitorExportToZRT::visitArray(ZRXArrayReal* array) {
  const std::vector<double>& values = array->value();
  auto bad = std::find_if(values.begin(), values.end(), [](double v) { return !std::isfinite(v); });
  if (bad != values.end()) {
    fail(describe("real array", array) + " " + place() + " holds " +
         std::string(std::isnan(*bad) ? "NaN" : "an infinity") + " at index " +
         std::to_string(bad - values.begin()) + "; the text format has no form for it");
  }
  writeIndent();
  if (!array->tag().empty()) {
    writeTag(array);
    mOutput += ' ';
  }
  mOutput += "( ";
  reserveForNumbers(mOutput, values.data(), values.size());
  appendNumbers(mOutput, values.data(), values.size(), ' ');
  mOutput += ")\n";
}

void VisitorExportToZRT::visitArray(ZRXArrayInteger* array) {
  writeIndent();
  if (!array->tag().empty()) {
    writeTag(array);
    mOutput += ' ';
  }
  mOutput += "( ";
  reserveForNumbers(mOutput, array->value().data(), array->value().size());
  appendNumbers(mOutput, array->value().data(), array->value().size(), ' ');
  mOutput += ")\n";
}

void VisitorExportToZRT::writeRawtextBlock(const ZRXRawtextBlock* block) {
  const std::string& text = block->value();
  if (!text.empty() && text.back() == '\\') {
    fail(describe("raw text", block) + " " + place() +
         " ends with a backslash, which would escape its closing '>}'");
  }
  if (text.find('\r') != std::string::npos) {
    fail(describe("raw text", block) + " " + place() +
         " holds a CR, which the reader would turn into a line end (LF)");
  }
  if (!block->tag().empty()) writeTag(block);
  mOutput += '\n';
  writeIndent();
  mOutput += "{<\n";
  appendEscapedRawtext(mOutput, text);
  mOutput += ">}\n";
}

void VisitorExportToZRT::writeIDValue(const std::string& id) {
  if (id.empty()) {
    fail("empty ID value " + place());
  } else if (!zrt::isValidID(id)) {
    fail("ID value " + quote(id) + " " + place() + " is not a valid ID");
  } else if (mIDSet && id != "#NULL") {
    // The count holds this value itself; below 2 no structure carries the ID.
    const int32_t* found = mIDSet->find(id);
    if (!found) {
      isIDReferenced(id);
    } else if (*found < 2) {
      fail("ID value " + quote(id) + " " + place() + " names no structure");
    }
  }
  writeIndent();
  mOutput += id;
  mOutput += '\n';
}

ZRX_OUT_OF_LINE void VisitorExportToZRT::writeLeaf(const ZRXValue& value) {
  switch (value.type()) {
    case ZRXValue::Bool:
      writeIndent();
      mOutput += value.getBool() ? "true\n" : "false\n";
      break;
    case ZRXValue::Integer: {
      writeIndent();
      int64_t number = value.getInteger();
      appendNumbers(mOutput, &number, 1, '\n');
      break;
    }
    case ZRXValue::Real: {
      double number = value.getReal();
      if (!std::isfinite(number)) {
        fail(std::string(std::isnan(number) ? "NaN" : "an infinity") + " " + place() +
             "; the text format has no form for a real that is not finite");
      }
      writeIndent();
      appendNumbers(mOutput, &number, 1, '\n');
      break;
    }
    case ZRXValue::String: {
      const std::string& text = value.getString();
      if (text.find('\0') != std::string::npos)
        fail("string " + place() + " holds a NUL byte, which the text format cannot carry");
      writeIndent();
      mOutput += '"';
      appendEscapedString(mOutput, text);
      mOutput += "\"\n";
      break;
    }
    case ZRXValue::Identifier: {
      const std::string& text = value.getIdentifier();
      if (text.empty()) {
        fail("empty identifier value " + place());
      } else if (!zrt::isValidIdentifier(text)) {
        fail("identifier value " + quote(text) + " " + place() + " is not a valid identifier");
      }
      writeIndent();
      mOutput += text;
      mOutput += '\n';
      break;
    }
    case ZRXValue::ID:
      writeIDValue(value.getID());
      break;
    case ZRXValue::RawtextBlock:
      writeRawtextBlock(value.getRawtextBlock());
      break;
    default:
      // A Structure value without a node (a linked "#NULL") names no structure.
      writeIndent();
      mOutput += "#NULL\n";
      break;
  }
}

void VisitorExportToZRT::writeValue(const ZRXValue& value) {
  switch (value.type()) {
    case ZRXValue::List:
      value.getList()->acceptVisitor(this);
      break;
    case ZRXValue::Structure:
      if (ZRXStructure* child = value.getStructure()) {
        child->acceptVisitor(this);
        break;
      }
      writeLeaf(value);
      break;
    case ZRXValue::ArrayInteger:
      value.getArrayInteger()->acceptVisitor(this);
      break;
    case ZRXValue::ArrayReal:
      value.getArrayReal()->acceptVisitor(this);
      break;
    default:
      writeLeaf(value);
      break;
  }
}

}  // namespace zrX
