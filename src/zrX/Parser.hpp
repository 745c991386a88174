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
#include <vector>

#include "zrX/Export.hpp"
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
  void recordIDValue(ZRXStructure* owner, size_t index) {
    mRecordedIDValues.push_back({owner, index});
  }
  void recordIDValue(ZRXList* owner, size_t index) {
    mRecordedIDValues.push_back({owner, index | kInList});
  }
  void forgetRecords();

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
  };
  std::vector<RecordedTop> mRecordedTops;
  std::vector<ZRXStructure*> mRecordedStructures;
  std::vector<RecordedIDValue> mRecordedIDValues;
};

}  // namespace zrX
