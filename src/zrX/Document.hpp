// Documents at the tree level: read a file of either format into its top-level structures and
// metadata, write structures and metadata in either format, tell the formats apart. No class
// wrappers are involved; the serializer's saves and loads go through these same functions, and so
// does the zrx tool.
//
// A Document owns its tree. Linked trees may hold reference cycles (a structure shared by two
// places, a reference back to a parent); the Document breaks them when it is destroyed (in its
// structures and in the structures and lists of its metadata), keeping whatever a caller still
// holds from outside, and what that reaches, intact. Everything here is used by one thread at a
// time.
#pragma once

#include <string>
#include <vector>

#include "zrCore/VirtualFile.hpp"
#include "zrX/Export.hpp"
#include "zrX/Parser.hpp"
#include "zrX/Value.hpp"
#include "zrX/Visitor.hpp"

namespace zrX {

enum class Format { Unknown = 0, ZRT = 1, ZRB = 2 };

// The format a file holds, from its first bytes: "ZRX version=" for text, the 9-byte magic for
// binary. Null or unreadable files are Unknown. The file is closed afterwards.
ZRX_API Format detectFormat(zr::VirtualFile* file);
// The format a path names by its extension, ".zrt" or ".zrb" in any letter case; Unknown else.
ZRX_API Format formatFromExtension(const std::string& path);
// "ZRT", "ZRB" or "unknown".
ZRX_API const char* formatName(Format format);

class ZRX_API Document {
 public:
  Document() = default;
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // The top-level structures in file order, without the "<Metadata>" structures.
  std::vector<zr::ref<ZRXStructure>>& structures() { return mStructures; }
  const std::vector<zr::ref<ZRXStructure>>& structures() const { return mStructures; }
  // The entries of the document's "<Metadata>" structures (a later equal key wins).
  MetadataMap& metadata() { return mMetadata; }
  const MetadataMap& metadata() const { return mMetadata; }

  // What the header of the document read last said (0 and empty before a read).
  uint16_t version() const { return mVersion; }
  const std::string& encoding() const { return mEncoding; }
  void setHeader(uint16_t version, const std::string& encoding) {
    mVersion = version;
    mEncoding = encoding;
  }

 private:
  std::vector<zr::ref<ZRXStructure>> mStructures;
  MetadataMap mMetadata;
  uint16_t mVersion = 0;
  std::string mEncoding;
};

struct ReadOptions {
  // Replace ID values by the structures they name. Without linking, references stay ID values
  // (which the writers write back unchanged).
  bool link = true;
  int maxDepth = kDefaultMaxDepth;
};

enum class ReadStatus { Ok, ParseError, LinkError };

// Reads `file` from its start (closed afterwards) in `format` into `document`: its structures
// are appended and its metadata replaced. The parser's and the linker's messages are logged. On
// ParseError the metadata is left as it was; on LinkError the structures and metadata are filled
// but references are only partly linked. Unknown format is a ParseError with a message, and the
// file is not touched. REQUIRES: `file` is not null.
ZRX_API ReadStatus readDocument(zr::VirtualFile* file, Format format, Document& document,
                                const ReadOptions& options = ReadOptions());

enum class WriteStatus {
  Ok,
  Refused,     // the tree holds what the format cannot represent; the file was not touched
  WriteError,  // writing or committing the file failed; a DiskFile keeps its previous content
};

struct WriteResult {
  WriteStatus status = WriteStatus::Ok;
  // What and where, for Refused (the place in the zrx tool's path syntax, "/<Scene>/parts[0]/x");
  // the failure, for WriteError.
  std::string message;
  // For WriteError: the system's error number (errno) when the file knew it, else 0.
  int systemError = 0;
  bool ok() const { return status == WriteStatus::Ok; }
};

struct WriteOptions {
  int maxDepth = kDefaultMaxDepth;
  // ZRT only: every real as "%f" writes it, six decimals, instead of a text that reads back as
  // the same double (VisitorExportToZRT describes both). For hosts that need the old form. ZRB
  // stores reals bit for bit either way.
  bool sixDecimalReals = false;
};

// Writes `topLevel` in order as one document in `format` (ZRT or ZRB). IDs are counted over all
// of them first, so a structure's ID is written (text) where it is needed and later occurrences
// become references. A tree the format cannot hold (see VisitorIDCounter and the writers; also a
// top-level structure given twice or standing inside an earlier one) is refused before the file is
// opened. A failed write abandons the file (a DiskFile keeps its previous content). Nothing is
// logged; the caller reports the result. REQUIRES: `file` and every element are not null.
ZRX_API WriteResult writeStructures(zr::VirtualFile* file, Format format,
                                    const std::vector<zr::ref<ZRXStructure>>& topLevel,
                                    const WriteOptions& options);
ZRX_API WriteResult writeStructures(zr::VirtualFile* file, Format format,
                                    const std::vector<zr::ref<ZRXStructure>>& topLevel,
                                    int maxDepth = kDefaultMaxDepth);

// Writes `document`: a "<Metadata>" structure holding its metadata entries in key order (when
// there are any), then its structures.
ZRX_API WriteResult writeDocument(zr::VirtualFile* file, Format format, const Document& document,
                                  const WriteOptions& options);
ZRX_API WriteResult writeDocument(zr::VirtualFile* file, Format format, const Document& document,
                                  int maxDepth = kDefaultMaxDepth);

}  // namespace zrX
