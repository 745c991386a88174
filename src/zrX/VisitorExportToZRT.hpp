// VisitorExportToZRT: the writer of ZRT text. It walks a document tree and either builds the
// whole text in memory (text(), writeTo()) or hands it to an open file as it goes (streamTo(), for
// a tree checked beforehand: writeStructures streams what VisitorIDCounter's text rules passed).
// The layout is canonical: tab indentation, one member or item per line, tags before their
// nodes, arrays on one line, and an "ID = " member only for structures whose ID is referenced.
//
// Use: count IDs over every top-level structure with one VisitorIDCounter into one IDCountMap;
// construct the writer; setIDSet(&map); writeHeader(); let each top-level structure accept the
// writer, in order; check failed(); write text(). The visited set spans all top-level structures,
// so a structure written under one is only referenced under the next.
//
// The writer never produces text that the ZRT reader would reject or read back differently, apart
// from what the format cannot say (see Numbers below; an empty real array reads back as an
// empty integer array). Anything else it cannot represent is recorded as a failure (failed(),
// failure(), a message starting "VisitorExportToZRT: " that names the tag, key or text involved)
// and the caller must discard the text: a list reached a second time (also logged as the warning
// "VisitorExportToZRT: cycle detected on ZRXList.\n"); a structure reached a second time whose ID
// is empty or "#NULL", or whose ID was not counted twice; two structures written with the same
// ID; an ID value that names no structure (its count shows only itself); a top-level structure
// without a tag, or reached again; a real that is not finite; a key, identifier, tag or ID
// breaking the lexical rules below; a string holding a NUL byte; a raw text ending with a
// backslash or holding a CR; nesting deeper than maxDepth(). Numbers are formatted independently of
// the process locale.
//
// Numbers: integers as "%lld" writes them. A finite real reads back bit for bit (formatReal in
// NumberFormat.hpp): as "%f" writes it, six decimals, when that text reads back as the same
// double, so that a file whose reals all survived six decimals comes out byte for byte as it
// always did; otherwise as the shortest text that reads back exactly, a plain decimal
// ("0.1234567") or, below 10^-6, a fraction with a signed exponent ("1.0e-7"), which the reader
// takes. setSixDecimalReals(true) writes "%f" for every real instead, losing what lies beyond the
// sixth decimal.
//
// Layout choices: an empty list is written "[ ]" with its tag before it on the same line
// ("key = <L> [ ]"), so that the tag is kept; a Structure value that holds no node (a linked
// "#NULL") is written "#NULL". No piece of text has a length limit.
//
// A writer, its map and the tree belong to one thread for one save. The map must outlive the walk.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zrCore/VirtualFile.hpp"
#include "zrX/Export.hpp"
#include "zrX/FormatRules.hpp"
#include "zrX/Value.hpp"
#include "zrX/Visitor.hpp"

namespace zrX {

class ZRX_API VisitorExportToZRT : public Visitor {
  ZR_DECLARE_TYPE()
 public:
  VisitorExportToZRT() = default;

  // The ID counts that decide which IDs are written (count 2 or more). Without a map every
  // structure whose ID is neither empty nor "#NULL" gets its ID member. Not owned.
  void setIDSet(const IDCountMap* ids) { mIDSet = ids; }

  // Follows `counter`'s walk (recordFirstVisits) over the same tree: the writer then keeps no
  // visited set, and takes from the counter which IDs to write. `counter` must outlive the walk.
  void followCounter(const VisitorIDCounter& counter) {
    follow(&counter.firstVisits());
    mCounter = &counter;
  }

  // Reals as "%f" writes them, six decimals each, instead of texts that read back exactly (the
  // default, see the header comment). For hosts that need the old form; it loses what lies
  // beyond the sixth decimal.
  void setSixDecimalReals(bool sixDecimals) { mSixDecimalReals = sixDecimals; }
  bool sixDecimalReals() const { return mSixDecimalReals; }

  // Replaces the text with the header "ZRX version=101 encoding=ascii" and one empty line. Call
  // once, before the first structure.
  void writeHeader();

  // Hands the text to `file` (open for writing) as it is made, through a buffer of the writer's
  // own that is used again and again, instead of keeping it: text(), writeTo() and textSize() then
  // hold nothing. Call before writeHeader(); the file must outlive the walk. A failure recorded
  // meanwhile leaves a part in the file, so the caller checks the tree first (writeStructures
  // does, with VisitorIDCounter::checkTextRules) and abandons the file after one. finishStream()
  // hands over the rest; false when the file took fewer bytes than given at any point.
  // `checked`: the tree passed those rules, so the writer leaves out the checks they made.
  void streamTo(zr::VirtualFile* file, bool checked);
  bool finishStream();

  // The text built so far (a copy, assembled on each call).
  const std::string& text() const;
  // Hands the text to `file` piece by piece, without assembling it; false when the file took
  // fewer bytes than given.
  bool writeTo(zr::VirtualFile* file) const;
  // Its size in bytes.
  size_t textSize() const;

  // Plain appends to the text (not virtual: nothing writes around them).
  void append(const char* text) { put(std::string_view(text)); }
  void append(const std::string& text) { put(text); }
  // Writes the current indentation (one tab per level), or nothing once right after "key = ".
  void writeIndent();

  // True when the ID must be written: no map is set, or its count is 2 or more. An ID missing
  // from a set map (the tree changed between counting and writing) records a failure and answers
  // false.
  bool isIDReferenced(const std::string& id);

  // Writes one value at the current place (a member's value after "key = ", or a list item).
  void writeValue(const ZRXValue& value);

  // The body of a ZRT string (without the quotes): '"', '\\', backspace, form feed, LF, CR and
  // tab become two-character escapes; every other byte is kept. A NUL byte is kept as well; the
  // writer refuses such strings before escaping.
  static std::string escapeString(std::string_view text);
  // The body of a raw text block: every ">}" becomes "\>}". A text ending with a backslash or
  // holding a CR cannot be written faithfully; the writer refuses it before escaping.
  static std::string escapeRawtext(std::string_view text);

  void visitStructure(ZRXStructure* structure) override;
  void visitList(ZRXList* list) override;
  void visitArray(ZRXArrayReal* array) override;
  void visitArray(ZRXArrayInteger* array) override;

 private:
  void writeTag(const ZRXTaggedValue* node);
  void writeStructureReference(const ZRXStructure* structure);
  // Tag, "{" and the ID member; makes `structure` the place of messages. `record` is the
  // structure's place in the followed counter's record, or kNotRecorded.
  void openStructure(const ZRXStructure* structure, size_t record);
  static constexpr size_t kNotRecorded = SIZE_MAX;
  void writeKey(const std::string& key);
  void writeRepeatedList(const ZRXList* list);
  // Tag and "[" (true), or the whole empty list (false).
  bool openList(const ZRXList* list);
  // Every value that holds no structure, list or array.
  void writeLeaf(const ZRXValue& value);
  void writeRawtextBlock(const ZRXRawtextBlock* block);
  void writeIDValue(const std::string& id);
  // "at /<T>/k": where the walk stands, for failure messages.
  std::string place() const;
  void fail(const std::string& what);

  // The text is kept in chunks that fill in turn (no piece is ever moved to grow it); the last
  // chunk's room runs from mCursor to mLimit.
  char* room(size_t count) {
    if (static_cast<size_t>(mLimit - mCursor) < count) makeRoom(count);
    return mCursor;
  }
  void makeRoom(size_t count);
  void put(char c) {
    *room(1) = c;
    ++mCursor;
  }
  void put(std::string_view text) {
    std::memcpy(room(text.size()), text.data(), text.size());
    mCursor += text.size();
  }
  // Each value through `text` (a formatter of NumberFormat.hpp), followed by `separator`.
  template <class T, class Text>
  void appendNumber(T value, char separator, Text text);
  template <class T, class Text>
  void appendNumbers(const T* values, size_t count, char separator, Text text);
  // Closes the last chunk at the cursor.
  void sealChunk() const;
  // While streaming: hands the buffer to the file and starts it again.
  void flushStream();

  struct Chunk {
    std::unique_ptr<char[]> bytes;
    size_t size = 0;
    mutable size_t used = 0;
  };
  std::vector<Chunk> mChunks;
  char* mCursor = nullptr;
  char* mLimit = nullptr;
  mutable std::string mText;  // text()'s copy
  zr::VirtualFile* mStream = nullptr;
  bool mStreamFailed = false;
  bool mChecked = false;  // the counter's text rules passed: the lexical checks are done

  const IDCountMap* mIDSet = nullptr;
  const VisitorIDCounter* mCounter = nullptr;
  bool mSixDecimalReals = false;
  int32_t mIndent = 0;
  bool mSkipIndent = false;
  // The innermost structure being written, for messages.
  const ZRXStructure* mPlaceStructure = nullptr;
  // The structure each written ID member belongs to, to refuse one ID on two structures.
  TextIndex mWrittenIDs;
  std::vector<const ZRXStructure*> mWrittenOwners;  // by the number of the ID
};

}  // namespace zrX
