#include "DocumentFile.hpp"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "JsonReader.hpp"
#include "JsonWriter.hpp"

namespace zrxtool {

namespace {

// Sequential reads from the start of a file, bounded by the file's size.
class ByteReader {
 public:
  explicit ByteReader(zr::VirtualFile* file) : mFile(file) {
    mFile->close();
    mOpen = mFile->open(zr::VirtualFile::ReadOnly);
    mLeft = mOpen ? mFile->size() : 0;
  }
  ~ByteReader() { mFile->close(); }
  ByteReader(const ByteReader&) = delete;
  ByteReader& operator=(const ByteReader&) = delete;

  // Bytes left in the file from the current position.
  int64_t left() const { return mLeft + static_cast<int64_t>(mEnd - mPosition); }

  bool byte(uint8_t* out) {
    if (mPosition == mEnd && !fill(1)) return false;
    *out = mBuffer[mPosition++];
    return true;
  }
  bool bytes(std::string* out, int64_t count) {
    if (count < 0 || count > left()) return false;
    out->clear();
    while (count > 0) {
      if (mPosition == mEnd && !fill(1)) return false;
      const size_t take = std::min(mEnd - mPosition, static_cast<size_t>(count));
      out->append(reinterpret_cast<const char*>(mBuffer + mPosition), take);
      mPosition += take;
      count -= static_cast<int64_t>(take);
    }
    return true;
  }
  bool skip(int64_t count) {
    if (count < 0 || count > left()) return false;
    while (count > 0) {
      if (mPosition == mEnd && !fill(1)) return false;
      const size_t take = std::min(mEnd - mPosition, static_cast<size_t>(count));
      mPosition += take;
      count -= static_cast<int64_t>(take);
    }
    return true;
  }
  bool integer(int64_t* value) {
    fill(zrX::kZRBMaxIntegerBytes);
    const uint8_t* next = nullptr;
    if (zrX::decodeZRBInteger(mBuffer + mPosition, mBuffer + mEnd, value, &next) !=
        zrX::ZRBDecode::Ok)
      return false;
    mPosition = static_cast<size_t>(next - mBuffer);
    return true;
  }
  // A count of items taking at least `bytesEach` bytes each; negative counts read as 0, as the
  // library's reader does.
  bool count(int64_t* value, int64_t bytesEach) {
    if (!integer(value)) return false;
    if (*value < 0) *value = 0;
    return *value <= left() / bytesEach;
  }
  bool string(std::string* out) {
    int64_t length = 0;
    return integer(&length) && bytes(out, length);
  }
  bool skipString() {
    int64_t length = 0;
    return integer(&length) && skip(length);
  }

 private:
  // Makes at least `wanted` bytes available, or as many as the file still has; false when none.
  bool fill(size_t wanted) {
    if (mEnd - mPosition >= wanted) return true;
    std::memmove(mBuffer, mBuffer + mPosition, mEnd - mPosition);
    mEnd -= mPosition;
    mPosition = 0;
    while (mOpen && mEnd < wanted && mLeft > 0) {
      const int64_t room = static_cast<int64_t>(sizeof mBuffer - mEnd);
      const int64_t got = mFile->read(mBuffer + mEnd, std::min(room, mLeft));
      if (got <= 0) {
        mLeft = 0;
        break;
      }
      mEnd += static_cast<size_t>(got);
      mLeft -= got;
    }
    return mEnd > mPosition;
  }

  zr::VirtualFile* mFile;
  bool mOpen = false;
  int64_t mLeft = 0;  // bytes of the file not yet in the buffer
  uint8_t mBuffer[16384];
  size_t mPosition = 0, mEnd = 0;
};

// Skips one value chunk and everything inside it, without recursion. Nesting is bounded as the
// library's reader bounds it, so the pending counts stay few.
bool skipValue(ByteReader& in) {
  struct Pending {
    int64_t items;
    bool keyed;  // structure entries: a key before each value
  };
  std::vector<Pending> pending{{1, false}};
  while (!pending.empty()) {
    if (pending.back().items == 0) {
      pending.pop_back();
      continue;
    }
    --pending.back().items;
    if (pending.back().keyed && !in.skipString()) return false;
    uint8_t code = 0;
    int64_t n = 0;
    if (!in.byte(&code)) return false;
    switch (code) {
      case zrX::ChunkStructure:
        if (!in.skipString() || !in.skipString() || !in.count(&n, 3)) return false;
        pending.push_back({n, true});
        break;
      case zrX::ChunkList:
        if (!in.skipString() || !in.count(&n, 2)) return false;
        pending.push_back({n, false});
        break;
      case zrX::ChunkArrayRealDouble:
      case zrX::ChunkArrayRealFloat: {
        const int64_t width = code == zrX::ChunkArrayRealDouble ? 8 : 4;
        if (!in.skipString() || !in.count(&n, width) || !in.skip(n * width)) return false;
        break;
      }
      case zrX::ChunkArrayInteger:
        if (!in.skipString() || !in.count(&n, 1)) return false;
        if (n > 0 && (!in.count(&n, 1) || !in.skip(n))) return false;
        break;
      case zrX::ChunkRawtextBlock:
        if (!in.skipString() || !in.skipString()) return false;
        break;
      case zrX::ChunkString:
      case zrX::ChunkIdentifier:
      case zrX::ChunkID:
        if (!in.skipString()) return false;
        break;
      case zrX::ChunkReal:
        if (!in.skip(8)) return false;
        break;
      case zrX::ChunkInteger:
        if (!in.integer(&n)) return false;
        break;
      case zrX::ChunkBool:
        if (!in.skip(1)) return false;
        break;
      default:
        return false;
    }
    if (static_cast<int>(pending.size()) > zrX::kDefaultMaxDepth) return false;
  }
  return true;
}

// The metadata order of a ZRT document: by the line each value stands on (values read from text
// carry it), keys on one line in key order.
std::vector<std::string> metadataKeysByLine(const zrX::MetadataMap& metadata) {
  std::vector<std::pair<int, std::string>> lines;
  for (const auto& [key, value] : metadata) lines.emplace_back(value.lineNumber(), key);
  std::stable_sort(lines.begin(), lines.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> keys;
  for (auto& line : lines) keys.push_back(std::move(line.second));
  return keys;
}

}  // namespace

const char* fileFormatName(FileFormat format) {
  switch (format) {
    case FileFormat::ZRT:
      return "ZRT";
    case FileFormat::ZRB:
      return "ZRB";
    case FileFormat::JSON:
      return "JSON";
    default:
      return "unknown";
  }
}

FileFormat detectFileFormat(zr::VirtualFile* file) {
  switch (zrX::detectFormat(file)) {
    case zrX::Format::ZRT:
      return FileFormat::ZRT;
    case zrX::Format::ZRB:
      return FileFormat::ZRB;
    default:
      break;
  }
  ByteReader in(file);
  uint8_t byte = 0;
  int64_t position = 0;
  const uint8_t bom[3] = {0xEF, 0xBB, 0xBF};
  while (in.byte(&byte)) {
    if (position < 3 && byte == bom[position]) {
      ++position;
      continue;
    }
    if (position > 0 && position < 3) return FileFormat::Unknown;  // a cut byte order mark
    position = 3;
    if (byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r') continue;
    return byte == '{' ? FileFormat::JSON : FileFormat::Unknown;
  }
  return FileFormat::Unknown;
}

const char* otherByteOrderMark(zr::VirtualFile* file) {
  ByteReader in(file);
  std::string start;
  if (!in.bytes(&start, std::min<int64_t>(4, in.left()))) return nullptr;
  const struct {
    const char* mark;
    size_t size;
    const char* encoding;
  } marks[] = {
      // UTF-32LE first: its mark begins with UTF-16LE's.
      {"\xFF\xFE\x00\x00", 4, "UTF-32LE"},
      {"\x00\x00\xFE\xFF", 4, "UTF-32BE"},
      {"\xFF\xFE", 2, "UTF-16LE"},
      {"\xFE\xFF", 2, "UTF-16BE"},
  };
  for (const auto& mark : marks) {
    if (start.compare(0, mark.size, mark.mark, mark.size) == 0) return mark.encoding;
  }
  return nullptr;
}

FileFormat formatFromExtension(const std::string& path) {
  switch (zrX::formatFromExtension(path)) {
    case zrX::Format::ZRT:
      return FileFormat::ZRT;
    case zrX::Format::ZRB:
      return FileFormat::ZRB;
    default:
      break;
  }
  if (path.size() < 5) return FileFormat::Unknown;
  std::string extension = path.substr(path.size() - 5);
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return extension == ".json" ? FileFormat::JSON : FileFormat::Unknown;
}

ToolDocument::~ToolDocument() {
  // Without links the tree has no cycles: reference counting alone frees it, and the Document
  // base need not walk it all once more to break cycles.
  if (!mLinked) {
    std::vector<zr::ref<zrX::ZRXStructure>> roots;
    roots.swap(structures());
  }
}

std::vector<std::string> ToolDocument::orderedMetadataKeys() const {
  std::vector<std::string> keys;
  std::set<std::string> placed;
  for (const std::string& key : mMetadataOrder)
    if (metadata().count(key) && placed.insert(key).second) keys.push_back(key);
  for (const auto& entry : metadata())
    if (!placed.count(entry.first)) keys.push_back(entry.first);
  return keys;
}

std::vector<std::string> leadingMetadataKeysZRB(zr::VirtualFile* file) {
  std::vector<std::string> keys;
  std::set<std::string> seen;
  ByteReader in(file);
  std::string header;
  if (!in.bytes(&header, zrX::kZRBHeaderSize) ||
      std::memcmp(header.data(), zrX::kZRBMagic, sizeof zrX::kZRBMagic) != 0)
    return keys;
  for (;;) {
    uint8_t code = 0;
    std::string tag;
    int64_t entries = 0;
    if (!in.byte(&code) || code != zrX::ChunkStructure || !in.string(&tag) || tag != "<Metadata>" ||
        !in.skipString() || !in.count(&entries, 3))
      return keys;
    for (int64_t i = 0; i < entries; ++i) {
      std::string key;
      if (!in.string(&key)) return keys;
      if (seen.insert(key).second) keys.push_back(key);
      if (!skipValue(in)) return keys;
    }
  }
}

bool readDocumentFile(zr::VirtualFile* file, FileFormat format, ToolDocument& document, bool link,
                      int maxDepth) {
  ZR_CHECK(file);
  if (format == FileFormat::JSON) {
    if (!readJsonDocument(file, document, maxDepth)) return false;
    if (!link) return true;
    std::vector<zr::ref<zrX::ZRXTaggedValue>> nodes(document.structures().begin(),
                                                    document.structures().end());
    document.setLinked(true);
    return zrX::Parser::link(nodes, maxDepth);
  }
  if (format != FileFormat::ZRT && format != FileFormat::ZRB) {
    zr::Log::error("not a ZRX document\n");
    return false;
  }
  if (format == FileFormat::ZRB) document.metadataOrder() = leadingMetadataKeysZRB(file);
  zrX::ReadOptions options;
  options.link = link;
  options.maxDepth = maxDepth;
  document.setLinked(link);
  const zrX::ReadStatus status = zrX::readDocument(
      file, format == FileFormat::ZRT ? zrX::Format::ZRT : zrX::Format::ZRB, document, options);
  if (format == FileFormat::ZRT) document.metadataOrder() = metadataKeysByLine(document.metadata());
  return status == zrX::ReadStatus::Ok;
}

zrX::WriteResult writeDocumentFile(zr::VirtualFile* file, FileFormat format,
                                   const ToolDocument& document, const zrX::WriteOptions& options) {
  if (format == FileFormat::JSON) return writeJsonDocument(file, document);
  std::vector<zr::ref<zrX::ZRXStructure>> topLevel;
  topLevel.reserve(document.structures().size() + 1);
  if (!document.metadata().empty()) {
    zr::ref<zrX::ZRXStructure> metadata = new zrX::ZRXStructure("<Metadata>");
    for (const std::string& key : document.orderedMetadataKeys()) {
      metadata->value().emplace_back();
      metadata->value().back().setKey(key);
      metadata->value().back().setValue(document.metadata().at(key));
    }
    topLevel.push_back(metadata);
  }
  topLevel.insert(topLevel.end(), document.structures().begin(), document.structures().end());
  const zrX::Format target = format == FileFormat::ZRT   ? zrX::Format::ZRT
                             : format == FileFormat::ZRB ? zrX::Format::ZRB
                                                         : zrX::Format::Unknown;
  return zrX::writeStructures(file, target, topLevel, options);
}

}  // namespace zrxtool
