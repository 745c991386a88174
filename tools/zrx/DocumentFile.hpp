// Documents as the zrx tool reads and writes them, in any of its three formats: ZRT text and ZRB
// binary through the library, and the tool's JSON form (JsonReader, JsonWriter).
//
// The library keeps a document's metadata in a map, ordered by key, while a file keeps its
// metadata entries in the order they were written (the serializer writes the host's entries,
// then "Authoring_Tool", "Creation_Date" and "ZR_Serializer_Version"). A ToolDocument adds that
// order, so that a document converted to another format and back is the same file again: it comes
// from the keys of the leading "<Metadata>" structures of a ZRB file, from the line numbers of a
// ZRT file's metadata values, and from the order of a JSON file's metadata entries.
//
// A ToolDocument owns its tree. Read without linking (the usual case), ID references stay ID
// values and the tree has no cycles; linked, the Document base breaks the cycles when it goes.
// One thread.
#pragma once

#include <string>
#include <vector>

#include "zrX/zrX.hpp"

namespace zrxtool {

enum class FileFormat { Unknown, ZRT, ZRB, JSON };

// "ZRT", "ZRB", "JSON" or "unknown".
const char* fileFormatName(FileFormat format);
// The format of a file from its first bytes: the library's detection of ZRT and ZRB, else JSON
// when the first byte that is not JSON whitespace (after an optional UTF-8 byte order mark) is
// "{". The file is closed afterwards.
FileFormat detectFileFormat(zr::VirtualFile* file);
// For a file of unknown format: the encoding that a byte order mark at its start names when it is
// not UTF-8 ("UTF-16LE", "UTF-16BE", "UTF-32LE", "UTF-32BE"), so that text which may be JSON in
// an encoding the tool does not read gets a line of its own; null otherwise. The file is closed
// afterwards.
const char* otherByteOrderMark(zr::VirtualFile* file);
// The format a path names by its extension: ".zrt", ".zrb" or ".json" in any letter case.
FileFormat formatFromExtension(const std::string& path);

class ToolDocument : public zrX::Document {
 public:
  ToolDocument() = default;
  ~ToolDocument();

  // Set once the tree's references are replaced by the structures they name.
  bool linked() const { return mLinked; }
  void setLinked(bool linked) { mLinked = linked; }

  // Metadata keys in the order the file has them (keys that metadata() lacks are skipped).
  std::vector<std::string>& metadataOrder() { return mMetadataOrder; }
  const std::vector<std::string>& metadataOrder() const { return mMetadataOrder; }
  // Every key of metadata() once, in the order to write them: those of metadataOrder() first,
  // then the others in key order.
  std::vector<std::string> orderedMetadataKeys() const;

 private:
  bool mLinked = false;
  std::vector<std::string> mMetadataOrder;
};

// Reads `file` (REQUIRES: not null) in `format` into `document` (REQUIRES: empty), linked when
// `link` is set. The reader's and the linker's messages are logged through zr::Log; false when
// the document is bad. The file is closed afterwards.
bool readDocumentFile(zr::VirtualFile* file, FileFormat format, ToolDocument& document, bool link,
                      int maxDepth = zrX::kDefaultMaxDepth);

// Writes `document` (read without linking) to `file` in `format`: a "<Metadata>" structure with
// its metadata entries in orderedMetadataKeys() order (when there are any), then its structures.
// Nothing is logged; a refusal or a failed write is in the result, and the file then keeps its
// previous content. `options` apply to ZRT and ZRB (JSON always writes the shortest exact reals).
zrX::WriteResult writeDocumentFile(zr::VirtualFile* file, FileFormat format,
                                   const ToolDocument& document,
                                   const zrX::WriteOptions& options = zrX::WriteOptions());

// The keys of the "<Metadata>" structures at the start of a ZRB file, in file order (a key that
// appears twice is listed where it appears first). Reads only those structures, skipping their
// values; stops quietly at anything malformed, keeping the keys found so far. The file is closed
// afterwards.
std::vector<std::string> leadingMetadataKeysZRB(zr::VirtualFile* file);

}  // namespace zrxtool
