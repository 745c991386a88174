// Parser: the base of the two document readers (ParserZRT, ParserZRB). It holds what a parse
// produces — the header's version and encoding, the top-level structures in file order, the
// document metadata — pulls the "<Metadata>" structures out into the metadata map, and links the
// ID references of the parsed structures.
//
// Use: construct the format's parser, give it its input, parse(); on success read metadata(),
// call link(), then take structures(). A parser reads one document, on one thread; the structures
// outlive it through the references the caller takes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "zrX/Export.hpp"
#include "zrX/IDMaps.hpp"
#include "zrX/Value.hpp"
#include "zrX/Visitor.hpp"

namespace zrX {

// The version number that both formats write and require.
constexpr uint16_t kFormatVersion = 101;

using MetadataMap = std::map<std::string, ZRXValue>;

class ZRX_API Parser : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  Parser() = default;
  // Breaks the cycles of the structures still held (links made while reading may have made some).
  ~Parser() override;

  // Reads and checks the header: sets version() and encoding() (reset to 0 and empty first).
  virtual bool parseHeader() = 0;
  // Reads the whole document: clears the metadata, checks the header (version 101, encoding
  // "ascii"), appends every top-level structure to structures() and ends with parseMetadata().
  // Logs the cause of a failure.
  virtual bool parse() = 0;

  // Moves every top-level structure tagged exactly "<Metadata>" out of structures(), merging its
  // entries into metadata() in order (a later equal key wins).
  void parseMetadata();
  // Links the ID references of structures(); false (with the messages logged) when an ID is
  // declared twice or a reference names nothing.
  bool link();
  // The two-pass linking over a list of top-level nodes, refusing nesting beyond `maxDepth`.
  static bool link(const std::vector<zr::ref<ZRXTaggedValue>>& nodes,
                   int maxDepth = kDefaultMaxDepth);
  // Lets the reader link each ID value to the structure it names as it reads, when that structure
  // was read already (most references point back); linkParsed() then links the rest. Off by
  // default: then parse() leaves every reference an ID value. A document with a duplicate ID, or
  // anything linkParsed() cannot vouch for, is linked from the records as if nothing had been
  // linked on the way (the links made are undone first), so results and messages do not change.
  void setLinkWhileReading(bool on) { mLinkWhileReading = on; }

  // link() for the tree the last parse() built, by what the reader recorded while building it
  // (every structure and every ID value, in the order the linking walks meet them), so no walk of
  // the tree is needed: the same result and the same messages, in the same order. Forgets the
  // records. REQUIRES: parse() succeeded and structures() still holds what it built, unchanged.
  bool linkParsed();

  std::vector<zr::ref<ZRXStructure>>& structures() { return mStructures; }
  MetadataMap& metadata() { return mMetadata; }
  const std::string& encoding() const { return mEncoding; }
  uint16_t version() const { return mVersion; }

  // Input nested deeper than this many levels of structures and lists is refused with a message.
  int maxDepth() const { return mMaxDepth; }
  void setMaxDepth(int depth) { mMaxDepth = depth; }

 protected:
  // The readers' records for linkParsed(): call recordTopLevel before reading a top-level
  // structure, recordStructure for every structure as it starts (the top-level one included),
  // recordIDValue for every ID value, naming the structure or list that holds it and its index.
  void recordTopLevel(ZRXStructure* structure) {
    mRecordedTops.push_back({structure, mRecordedStructures.size(), mRecordedIDValues.size()});
  }
  void recordStructure(ZRXStructure* structure) { mRecordedStructures.push_back(structure); }
  // `linked`: linkWhileReading made it a Structure value already.
  void recordIDValue(ZRXStructure* owner, size_t index, bool linked) {
    mRecordedIDValues.push_back({owner, index, linked});
  }
  void recordIDValue(ZRXList* owner, size_t index, bool linked) {
    mRecordedIDValues.push_back({owner, index | kInList, linked});
  }
  void forgetRecords();

  // Linking while reading. The readers say where the metadata starts and ends (it is not linked),
  // declare each structure as soon as its ID is known, and offer each ID value to
  // linkWhileReading before they make it one: true when it became a Structure value instead.
  void setReadingMetadata(bool metadata) { mReadingMetadata = metadata; }
  void declareWhileReading(ZRXStructure* structure);
  bool linkWhileReading(ZRXValue& value, std::string_view id);
  // After a failed read: turns what was linked while reading back into ID values (so a failed
  // parse gives what it gave before), forgets the records and drops the top-level structure that
  // failed (may be null), with the cycles its links made.
  void abandonRead(zr::ref<ZRXStructure>* failing);

  std::string mEncoding;
  uint16_t mVersion = 0;
  std::vector<zr::ref<ZRXStructure>> mStructures;
  MetadataMap mMetadata;
  int mMaxDepth = kDefaultMaxDepth;

 private:
  static constexpr size_t kInList = size_t{1} << (sizeof(size_t) * 8 - 1);
  struct RecordedTop {
    ZRXStructure* structure;
    size_t structures;  // where its records start
    size_t idValues;
  };
  struct RecordedIDValue {
    ZRXTaggedValue* owner;
    size_t index;  // with kInList when the owner is a list
    bool linked;   // by linkWhileReading
  };
  ZRXValue& recordedValue(const RecordedIDValue& record) const;
  // Turns the values linked while reading back into ID values.
  void undoLinksWhileReading();
  std::vector<RecordedTop> mRecordedTops;
  std::vector<ZRXStructure*> mRecordedStructures;
  std::vector<RecordedIDValue> mRecordedIDValues;
  bool mLinkWhileReading = false;
  bool mReadingMetadata = false;
  bool mConflictWhileReading = false;  // a duplicate ID: linking goes by the records alone
  LinkMap mReadMap;                    // the IDs declared while reading
};

}  // namespace zrX
