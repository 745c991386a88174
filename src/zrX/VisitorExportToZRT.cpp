#include "zrX/VisitorExportToZRT.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "zrCore/Log.hpp"
#include "zrX/NumberFormat.hpp"
#include "zrX/Parser.hpp"

namespace zrX {

ZR_DEFINE_TYPE(VisitorExportToZRT, Visitor, "zrX::VisitorExportToZRT")

// Numbers ----------------------------------------------------------------------------------------
//
// formatReal (or formatFixed6 in the six-decimal mode) and formatInteger (NumberFormat.hpp) write
// straight into the text, whatever locale the process has set.

namespace {

struct IntegerText {
  char* operator()(int64_t value, char* out) const { return formatInteger(value, out); }
};
struct ExactRealText {
  char* operator()(double value, char* out) const { return formatReal(value, out); }
};
struct SixDecimalText {
  char* operator()(double value, char* out) const { return formatFixed6(value, out); }
};

// Escapes ---------------------------------------------------------------------------------------

// Whether a string's body needs escapes.
bool hasEscapes(std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '"':
      case '\\':
      case '\b':
      case '\f':
      case '\n':
      case '\r':
      case '\t':
        return true;
      default:
        break;
    }
  }
  return false;
}

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

// A text of the tree in a message: quoted, escaped and cut like every text a message quotes.
std::string quote(std::string_view text) { return "'" + zr::messageText(text) + "'"; }

// "structure '<T>'", or "untagged structure".
std::string describe(const char* kind, const ZRXTaggedValue* node) {
  return node->tag().empty() ? "untagged " + std::string(kind)
                             : std::string(kind) + " " + quote(node->tag());
}

bool hasOwnID(const ZRXStructure* structure) { return structure->hasID(); }

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
  if (!mStream) {
    mChunks.clear();
    mCursor = mLimit = nullptr;
  }
  put("ZRX version=" + std::to_string(kFormatVersion) + " encoding=ascii\n\n");
}

namespace {
// The buffer of a streamed text: small enough to stay in the caches and to be taken from memory
// the process has touched before, large enough that handing it over costs nothing to speak of.
constexpr size_t kStreamBuffer = 64 * 1024;
}  // namespace

void VisitorExportToZRT::streamTo(zr::VirtualFile* file, bool checked) {
  mStream = file;
  mChecked = checked;
  mStreamFailed = false;
  mChunks.clear();
  Chunk chunk;
  chunk.size = kStreamBuffer;
  chunk.bytes.reset(new char[chunk.size]);
  mCursor = chunk.bytes.get();
  mLimit = mCursor + chunk.size;
  mChunks.push_back(std::move(chunk));
}

void VisitorExportToZRT::flushStream() {
  char* const begin = mChunks.back().bytes.get();
  const auto count = static_cast<int64_t>(mCursor - begin);
  if (count > 0 && !mStreamFailed && mStream->write(begin, count) != count) mStreamFailed = true;
  mCursor = begin;
}

bool VisitorExportToZRT::finishStream() {
  if (mStream) flushStream();
  return !mStreamFailed;
}

void VisitorExportToZRT::sealChunk() const {
  if (!mChunks.empty())
    mChunks.back().used = static_cast<size_t>(mCursor - mChunks.back().bytes.get());
}

const std::string& VisitorExportToZRT::text() const {
  mText.clear();
  if (mStream) return mText;
  sealChunk();
  mText.reserve(textSize());
  for (const Chunk& chunk : mChunks) mText.append(chunk.bytes.get(), chunk.used);
  return mText;
}

size_t VisitorExportToZRT::textSize() const {
  if (mStream) return 0;
  sealChunk();
  size_t size = 0;
  for (const Chunk& chunk : mChunks) size += chunk.used;
  return size;
}

bool VisitorExportToZRT::writeTo(zr::VirtualFile* file) const {
  if (mStream) return true;
  sealChunk();
  for (const Chunk& chunk : mChunks) {
    const auto count = static_cast<int64_t>(chunk.used);
    if (count > 0 && file->write(chunk.bytes.get(), count) != count) return false;
  }
  return true;
}

void VisitorExportToZRT::makeRoom(size_t count) {
  if (mStream) {
    flushStream();
    if (count <= mChunks.back().size) return;
    // One piece larger than the buffer (a long string or raw text): a buffer that holds it.
    mChunks.back().bytes.reset(new char[count]);
    mChunks.back().size = count;
    mCursor = mChunks.back().bytes.get();
    mLimit = mCursor + count;
    return;
  }
  // Chunks start small (a short document costs little) and grow to a mebibyte.
  constexpr size_t kFirstChunk = 4096;
  constexpr size_t kLargestChunk = 1 << 20;
  sealChunk();
  const size_t last = mChunks.empty() ? 0 : mChunks.back().size;
  Chunk chunk;
  chunk.size = std::max(count, last == 0 ? kFirstChunk : std::min(last * 2, kLargestChunk));
  chunk.bytes.reset(new char[chunk.size]);
  mCursor = chunk.bytes.get();
  mLimit = mCursor + chunk.size;
  mChunks.push_back(std::move(chunk));
}

void VisitorExportToZRT::writeIndent() {
  if (mSkipIndent) {
    mSkipIndent = false;
    return;
  }
  const auto tabs = static_cast<size_t>(mIndent > 0 ? mIndent : 0);
  std::memset(room(tabs), '\t', tabs);
  mCursor += tabs;
}

template <class T, class Text>
void VisitorExportToZRT::appendNumber(T value, char separator, Text text) {
  char* p = text(value, room(kMaxNumberText + 1));
  *p++ = separator;
  mCursor = p;
}

template <class T, class Text>
void VisitorExportToZRT::appendNumbers(const T* values, size_t count, char separator, Text text) {
  // In runs of as many values as surely fit the room left, the cursor kept in a register.
  constexpr size_t kMost = kMaxNumberText + 1;  // a number and its separator
  while (count > 0) {
    const size_t fit = static_cast<size_t>(mLimit - mCursor) / kMost;
    if (fit == 0) {
      makeRoom(kMost);
      continue;
    }
    const size_t run = std::min(fit, count);
    char* p = mCursor;
    for (size_t i = 0; i < run; ++i) {
      p = text(values[i], p);
      *p++ = separator;
    }
    mCursor = p;
    values += run;
    count -= run;
  }
}

std::string VisitorExportToZRT::place() const { return "at " + placePath(mPlaceValue); }

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
  if (!mChecked && !textHoldsName(NameKind::Tag, node->tag()))
    fail("tag " + quote(node->tag()) + " " + place() + " is not a valid tag (" +
         nameRule(NameKind::Tag) + ")");
  put(node->tag());
}

ZRX_OUT_OF_LINE void VisitorExportToZRT::writeStructureReference(const ZRXStructure* structure) {
  if (mDepth == 0) {
    fail("top-level " + describe("structure", structure) +
         " was written before; a top-level place needs the whole structure");
  } else if (!hasOwnID(structure)) {
    fail(describe("structure", structure) + " without an ID is reached a second time " + place() +
         "; only a structure with an ID can be referenced");
  } else if (mIDSet && !mCounter && !isIDReferenced(structure->uid())) {
    // (A structure the followed counter met twice has its ID counted twice.)
    fail(describe("structure", structure) + " is reached a second time " + place() +
         ", but its ID " + quote(structure->uid()) +
         " was counted less than twice and was not written");
  }
  writeIndent();
  put(structure->uid().empty() ? std::string_view("#NULL") : std::string_view(structure->uid()));
  put('\n');
}

ZRX_OUT_OF_LINE void VisitorExportToZRT::openStructure(const ZRXStructure* structure,
                                                       size_t record) {
  if (mDepth == 1 && structure->tag().empty())
    fail("top-level structure without a tag; the reader needs one before '{'");
  if (!structure->tag().empty()) {
    writeIndent();
    writeTag(structure);
    put('\n');
  } else if (mSkipIndent) {
    mSkipIndent = false;
    put('\n');
  }
  writeIndent();
  put("{\n");
  ++mIndent;
  mPlaceStructure = structure;

  const std::string& id = structure->uid();
  if (!hasOwnID(structure)) return;
  if (mCounter) {
    // The counter knows: for a structure it recorded, by its place in the record; one held once
    // and not recorded is reached once, so only ID values can name it.
    if (record != kNotRecorded ? !mCounter->isReferencedRecord(record)
                               : mCounter->idValues() == 0 || !isIDReferenced(id))
      return;
  } else if (!isIDReferenced(id)) {
    return;
  }
  if (!mChecked && !textHoldsName(NameKind::ID, id))
    fail("ID " + quote(id) + " " + place() + " is not a valid ID (" + nameRule(NameKind::ID) + ")");
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
  put("ID = ");
  put(id);
  put('\n');
}

ZRX_OUT_OF_LINE void VisitorExportToZRT::writeKey(const std::string& key) {
  if (!mChecked && !textHoldsName(NameKind::Key, key))
    fail("key " + quote(key) + " " + place() + " is not a valid key (" + nameRule(NameKind::Key) +
         ")");
  writeIndent();
  put(key);
  put(" = ");
  mSkipIndent = true;
}

void VisitorExportToZRT::visitStructure(ZRXStructure* structure) {
  if (failed()) return;
  const bool guarded = isGuarded(structure);
  if (isVisitedIfShared(structure)) {
    writeStructureReference(structure);
    return;
  }
  const size_t record = guarded && following() ? lastFollowed() : kNotRecorded;
  if (!enterLevel("VisitorExportToZRT", structure)) return;
  const ZRXStructure* outerStructure = mPlaceStructure;
  openStructure(structure, record);
  for (const ZRXStructure::KeyValue& entry : structure->value()) {
    mPlaceValue = &entry.value();
    writeKey(entry.key());
    writeValue(entry.value());
  }
  --mIndent;
  writeIndent();
  put("}\n");
  mPlaceStructure = outerStructure;
  leaveLevel();
}

ZRX_OUT_OF_LINE void VisitorExportToZRT::writeRepeatedList(const ZRXList* list) {
  zr::Log::warning("VisitorExportToZRT: cycle detected on ZRXList.\n");
  fail(describe("list", list) + " is reached a second time " + place() +
       "; a list can stand in one place only");
  writeIndent();
  put("[ ]\n");
}

ZRX_OUT_OF_LINE bool VisitorExportToZRT::openList(const ZRXList* list) {
  if (list->value().empty()) {
    // An empty list keeps its tag on its line, so that it reads back tagged.
    writeIndent();
    if (!list->tag().empty()) {
      writeTag(list);
      put(' ');
    }
    put("[ ]\n");
    return false;
  }
  if (!list->tag().empty()) {
    writeIndent();
    writeTag(list);
    put('\n');
  } else if (mSkipIndent) {
    mSkipIndent = false;
    put('\n');
  }
  writeIndent();
  put("[\n");
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
    for (const ZRXValue& element : list->value()) {
      mPlaceValue = &element;
      writeValue(element);
    }
    --mIndent;
    writeIndent();
    put("]\n");
  }
  leaveLevel();
}

void VisitorExportToZRT::visitArray(ZRXArrayReal* array) {
  const std::vector<double>& values = array->value();
  auto bad = mChecked ? values.end() : std::find_if(values.begin(), values.end(), [](double v) {
    return !textHoldsReal(v);
  });
  if (bad != values.end()) {
    fail(std::string(std::isnan(*bad) ? "NaN" : "an infinity") + " at " + placePath(mPlaceValue) +
         "[" + std::to_string(bad - values.begin()) + "] in " + describe("real array", array) +
         "; the text format has no form for a real that is not finite");
  }
  writeIndent();
  if (!array->tag().empty()) {
    writeTag(array);
    put(' ');
  }
  put("( ");
  if (mSixDecimalReals) {
    appendNumbers(values.data(), values.size(), ' ', SixDecimalText());
  } else {
    appendNumbers(values.data(), values.size(), ' ', ExactRealText());
  }
  put(")\n");
}

void VisitorExportToZRT::visitArray(ZRXArrayInteger* array) {
  writeIndent();
  if (!array->tag().empty()) {
    writeTag(array);
    put(' ');
  }
  put("( ");
  appendNumbers(array->value().data(), array->value().size(), ' ', IntegerText());
  put(")\n");
}

void VisitorExportToZRT::writeRawtextBlock(const ZRXRawtextBlock* block) {
  const std::string& text = block->value();
  if (!mChecked && !textHoldsRawtext(text)) {
    if (!text.empty() && text.back() == '\\') {
      fail(describe("raw text", block) + " " + place() +
           " ends with a backslash, which would escape its closing '>}'");
    } else {
      fail(describe("raw text", block) + " " + place() +
           " holds a CR, which the reader would turn into a line end (LF)");
    }
  }
  if (!block->tag().empty()) writeTag(block);
  put('\n');
  writeIndent();
  put("{<\n");
  if (text.find(">}") == std::string::npos) {
    put(text);
  } else {
    put(escapeRawtext(text));
  }
  put(">}\n");
}

void VisitorExportToZRT::writeIDValue(const std::string& id) {
  if (mChecked) {
    // The counter's rules hold: a valid ID naming a structure (or "#NULL").
  } else if (id.empty()) {
    fail("empty ID value " + place());
  } else if (!textHoldsName(NameKind::ID, id)) {
    fail("ID value " + quote(id) + " " + place() + " is not a valid ID (" + nameRule(NameKind::ID) +
         ")");
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
  put(id);
  put('\n');
}

ZRX_OUT_OF_LINE void VisitorExportToZRT::writeLeaf(const ZRXValue& value) {
  switch (value.type()) {
    case ZRXValue::Bool:
      writeIndent();
      put(value.getBool() ? "true\n" : "false\n");
      break;
    case ZRXValue::Integer: {
      writeIndent();
      const int64_t number = value.getInteger();
      appendNumber(number, '\n', IntegerText());
      break;
    }
    case ZRXValue::Real: {
      const double number = value.getReal();
      if (!mChecked && !textHoldsReal(number)) {
        fail(std::string(std::isnan(number) ? "NaN" : "an infinity") + " " + place() +
             "; the text format has no form for a real that is not finite");
      }
      writeIndent();
      if (mSixDecimalReals) {
        appendNumber(number, '\n', SixDecimalText());
      } else {
        appendNumber(number, '\n', ExactRealText());
      }
      break;
    }
    case ZRXValue::String: {
      const std::string& text = value.getString();
      if (!mChecked && !textHoldsString(text))
        fail("string " + place() + " holds a NUL byte, which the text format cannot carry");
      writeIndent();
      put('"');
      if (hasEscapes(text)) {
        put(escapeString(text));
      } else {
        put(text);
      }
      put("\"\n");
      break;
    }
    case ZRXValue::Identifier: {
      const std::string& text = value.getIdentifier();
      if (mChecked) {
        // A valid identifier, as the counter's rules found.
      } else if (text.empty()) {
        fail("empty identifier value " + place());
      } else if (!textHoldsName(NameKind::Identifier, text)) {
        fail("identifier value " + quote(text) + " " + place() + " is not a valid identifier (" +
             nameRule(NameKind::Identifier) + ")");
      }
      writeIndent();
      put(text);
      put('\n');
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
      put("#NULL\n");
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
