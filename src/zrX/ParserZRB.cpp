#include "zrX/ParserZRB.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "zrCore/Check.hpp"
#include "zrCore/Log.hpp"
#include "zrCore/Memory.hpp"
#include "zrCore/String.hpp"
#include "zrX/ZRBFormat.hpp"

namespace zrX {

ZR_DEFINE_TYPE(ParserZRB, Parser, "zrX::ParserZRB")

namespace {

constexpr size_t kBufferSize = 64 * 1024;
// The most entries or elements a structure or list makes room for before they arrive.
constexpr int64_t kReservedEntries = 64;

// The room for the next entries of a node that claims `count`: double what has arrived, never
// beyond the claim.
size_t grownRoom(size_t size, int64_t count) {
  return static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(size) * 2));
}

constexpr bool kHostLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

uint32_t loadLittleEndian32(const uint8_t* in) {
  return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
         static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

uint64_t loadLittleEndian64(const uint8_t* in) {
  return static_cast<uint64_t>(loadLittleEndian32(in)) |
         static_cast<uint64_t>(loadLittleEndian32(in + 4)) << 32;
}

// Reads doubles stored in host order at any alignment, for filling a vector in one pass.
class UnalignedDoubles {
 public:
  using iterator_category = std::random_access_iterator_tag;
  using value_type = double;
  using difference_type = std::ptrdiff_t;
  using pointer = const double*;
  using reference = double;

  explicit UnalignedDoubles(const uint8_t* at) : mAt(at) {}
  double operator*() const {
    double value;
    std::memcpy(&value, mAt, sizeof value);
    return value;
  }
  UnalignedDoubles& operator++() {
    mAt += sizeof(double);
    return *this;
  }
  UnalignedDoubles& operator--() {
    mAt -= sizeof(double);
    return *this;
  }
  UnalignedDoubles& operator-=(difference_type n) { return *this += -n; }
  UnalignedDoubles operator-(difference_type n) const { return *this + -n; }
  UnalignedDoubles operator++(int) {
    UnalignedDoubles before = *this;
    ++*this;
    return before;
  }
  difference_type operator-(const UnalignedDoubles& other) const {
    return (mAt - other.mAt) / static_cast<difference_type>(sizeof(double));
  }
  UnalignedDoubles& operator+=(difference_type n) {
    mAt += n * static_cast<difference_type>(sizeof(double));
    return *this;
  }
  UnalignedDoubles operator+(difference_type n) const {
    UnalignedDoubles moved = *this;
    return moved += n;
  }
  double operator[](difference_type n) const { return *(*this + n); }
  bool operator==(const UnalignedDoubles& other) const { return mAt == other.mAt; }
  bool operator!=(const UnalignedDoubles& other) const { return mAt != other.mAt; }
  bool operator<(const UnalignedDoubles& other) const { return mAt < other.mAt; }

 private:
  const uint8_t* mAt;
};

double doubleFromBits(uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace

// Input ------------------------------------------------------------------------------------------

void ParserZRB::startInput() {
  mBufferPosition = 0;
  mBufferEnd = 0;
  mBufferOffset = mInputFile->position();
  mFailOffset = -1;
  mDepth = 0;
  mInputStarted = true;
  const int64_t size = mInputFile->size();
  // A file in memory is read in place: the "buffer" is the rest of the file.
  const uint8_t* content = mInputFile->contentInMemory();
  if (content && size >= mBufferOffset) {
    mInMemory = true;
    mBytes = content + mBufferOffset;
    mBufferEnd = static_cast<size_t>(size - mBufferOffset);
    mInputEnd = size;
    return;
  }
  mInMemory = false;
  mBuffer.assign(kBufferSize, 0);
  mBytes = mBuffer.data();
  if (size >= 0) {
    mInputEnd = size;
    return;
  }
  // A file that cannot tell its size is read whole, so lengths can still be judged against it.
  for (;;) {
    if (mBufferEnd == mBuffer.size()) {
      mBuffer.resize(mBuffer.size() * 2);
      mBytes = mBuffer.data();
    }
    const int64_t got = mInputFile->read(mBuffer.data() + mBufferEnd,
                                         static_cast<int64_t>(mBuffer.size() - mBufferEnd));
    if (got <= 0) break;
    mBufferEnd += static_cast<size_t>(got);
  }
  mInputEnd = mBufferOffset + static_cast<int64_t>(mBufferEnd);
}

void ParserZRB::stopInput() {
  std::vector<uint8_t>().swap(mBuffer);
  std::string().swap(mScratch);
  mBytes = nullptr;
  mBufferPosition = mBufferEnd = 0;
  mInputStarted = false;
  mInMemory = false;
}

bool ParserZRB::fill(size_t wanted) {
  size_t available = mBufferEnd - mBufferPosition;
  if (available >= wanted) return true;
  if (mInMemory) return false;  // the whole file is in view already
  if (mBufferPosition > 0) {
    std::memmove(mBuffer.data(), mBuffer.data() + mBufferPosition, available);
    mBufferOffset += static_cast<int64_t>(mBufferPosition);
    mBufferPosition = 0;
    mBufferEnd = available;
  }
  while (available < wanted) {
    const int64_t got = mInputFile->read(mBuffer.data() + mBufferEnd,
                                         static_cast<int64_t>(mBuffer.size() - mBufferEnd));
    if (got <= 0) return false;
    mBufferEnd += static_cast<size_t>(got);
    available += static_cast<size_t>(got);
  }
  return true;
}

bool ParserZRB::readBytes(void* data, size_t count) {
  if (count == 0) return true;  // `data` may be null then (an empty vector's)
  auto* out = static_cast<uint8_t*>(data);
  const size_t buffered = std::min(count, mBufferEnd - mBufferPosition);
  std::memcpy(out, mBytes + mBufferPosition, buffered);
  mBufferPosition += buffered;
  out += buffered;
  count -= buffered;
  if (count == 0) return true;
  if (mInMemory) return truncated();
  if (count < mBuffer.size() / 2) {
    if (!fill(count)) return truncated();
    std::memcpy(out, mBytes + mBufferPosition, count);
    mBufferPosition += count;
    return true;
  }
  // Bulk data goes straight from the file into place. The buffer is empty here.
  mBufferOffset += static_cast<int64_t>(mBufferEnd);
  mBufferPosition = mBufferEnd = 0;
  while (count > 0) {
    const int64_t got = mInputFile->read(out, static_cast<int64_t>(count));
    if (got <= 0) return truncated();
    mBufferOffset += got;
    out += got;
    count -= static_cast<size_t>(got);
  }
  return true;
}

bool ParserZRB::truncated() {
  mFailOffset = std::max(mInputEnd, offset());
  return false;
}

bool ParserZRB::fits(int64_t count, int64_t bytesEach) {
  if (count > remaining() / bytesEach) return truncated();
  return true;
}

bool ParserZRB::readInteger(int64_t* value) {
  if (mBufferEnd - mBufferPosition < static_cast<size_t>(kZRBMaxIntegerBytes))
    fill(kZRBMaxIntegerBytes);  // near the end of the file fewer bytes may come
  const uint8_t* start = mBytes + mBufferPosition;
  const uint8_t* next = start;
  const ZRBDecode status = decodeZRBInteger(start, mBytes + mBufferEnd, value, &next);
  mBufferPosition += static_cast<size_t>(next - start);
  if (status == ZRBDecode::Truncated) return truncated();
  return status == ZRBDecode::Ok;
}

bool ParserZRB::readString(std::string* text) {
  int64_t length = 0;
  if (!readInteger(&length) || length < 0 || !fits(length, 1)) return false;
  const size_t count = static_cast<size_t>(length);
  if (count <= mBufferEnd - mBufferPosition) {
    text->assign(reinterpret_cast<const char*>(mBytes + mBufferPosition), count);
    mBufferPosition += count;
    return true;
  }
  text->resize(count);
  return readBytes(&(*text)[0], count);
}

bool ParserZRB::readStringView(std::string_view* text) {
  int64_t length = 0;
  if (!readInteger(&length) || length < 0 || !fits(length, 1)) return false;
  const size_t count = static_cast<size_t>(length);
  if (count <= mBufferEnd - mBufferPosition) {
    *text = std::string_view(reinterpret_cast<const char*>(mBytes + mBufferPosition), count);
    mBufferPosition += count;
    return true;
  }
  mScratch.resize(count);
  if (!readBytes(&mScratch[0], count)) return false;
  *text = mScratch;
  return true;
}

// Header and document ----------------------------------------------------------------------------

bool ParserZRB::parseHeader() {
  mVersion = 0;
  mEncoding.clear();
  mHeaderWord = 0;
  if (!mInputStarted) startInput();
  uint8_t magic[sizeof kZRBMagic] = {};
  if (!readBytes(magic, sizeof magic) || std::memcmp(magic, kZRBMagic, sizeof magic) != 0)
    return false;
  uint8_t word[4];
  if (!readBytes(word, 2)) return false;
  mVersion = static_cast<uint16_t>(word[0] | word[1] << 8);
  for (;;) {
    uint8_t byte = 0;
    if (!readByte(&byte)) return false;
    if (byte == 0) break;
    mEncoding += static_cast<char>(byte);
  }
  if (!readBytes(word, 4)) return false;
  mHeaderWord = loadLittleEndian32(word);
  return true;
}

bool ParserZRB::parse() {
  ZR_CHECK(mInputFile);
  // Closes the file and drops the read buffer on every way out.
  struct CloseFile {
    ParserZRB* parser;
    zr::ref<zr::VirtualFile> file;
    ~CloseFile() {
      parser->stopInput();
      file->close();
    }
  } guard{this, mInputFile};

  mInputFile->close();
  mInputFile->open(zr::VirtualFile::ReadOnly);  // a file that cannot open fails the header read
  mMetadata.clear();
  forgetRecords();
  mVersion = 0;
  mEncoding.clear();
  startInput();

  if (!parseHeader()) {
    zr::Log::error("ParserZRB : error parsing ZRB header.\n");
    return false;
  }
  if (mVersion != kFormatVersion) {
    zr::Log::error("ZRX version not supported.\n");
    return false;
  }
  if (mEncoding != "ascii") {
    zr::Log::error("Encoding not supported.\n");
    return false;
  }
  for (;;) {
    uint8_t code = 0;
    if (!readChunk(&code)) break;  // the end of the file between structures ends the document
    if (code != ChunkStructure) {
      zr::Log::error(zr::Say("Error parsing binary file at offset %n. Expected chunk structure.\n")
                     << static_cast<long long>(offset()));
      abandonRead(nullptr);
      return false;
    }
    zr::ref<ZRXStructure> structure(new ZRXStructure(nullptr, 0));
    recordTopLevel(structure.get());
    recordStructure(structure.get());
    mFailOffset = -1;
    bool ok = mDepth < mMaxDepth;
    if (ok) {
      mDepth = 1;
      ok = readStructure(structure.get());
      mDepth = 0;
    }
    if (!ok) {
      const int64_t at = mFailOffset >= 0 ? mFailOffset : offset();
      zr::Log::error(zr::Say("Error parsing binary file at offset %n.\n")
                     << static_cast<long long>(at));
      abandonRead(&structure);
      return false;
    }
    mStructures.push_back(structure);
  }
  parseMetadata();
  return true;
}

// Chunks -----------------------------------------------------------------------------------------

bool ParserZRB::readShared(TextRef* text) {
  std::string_view view;
  if (!readStringView(&view)) return false;
  *text = mTexts.get(view);
  return true;
}

bool ParserZRB::readTag(ZRXTaggedValue* node) {
  TextRef tag;
  if (!readShared(&tag)) return false;
  node->setTag(std::move(tag));
  return true;
}

bool ParserZRB::readStructure(ZRXStructure* structure) {
  int64_t count = 0;
  std::string_view id;
  if (!readTag(structure) || !readStringView(&id)) return false;
  structure->setID(id);
  if (mDepth == 1) setReadingMetadata(structure->tag() == "<Metadata>");
  declareWhileReading(structure);
  if (!readInteger(&count)) return false;
  if (count <= 0) return true;  // a negative count reads as empty
  if (!fits(count, 3)) return false;
  ZRXStructure::Entries& entries = structure->value();
  // Room for the announced entries, up to a bound: a count is only a claim until the entries
  // have arrived, and nested claims must not add up beyond the file.
  entries.reserve(static_cast<size_t>(std::min<int64_t>(count, kReservedEntries)));
  for (int64_t i = 0; i < count; ++i) {
    // Entries grow as they arrive, doubling up to the claim, so an honest count ends exact; the
    // reference stays valid while nested nodes are read.
    if (entries.size() == entries.capacity()) entries.reserve(grownRoom(entries.size(), count));
    entries.emplace_back();
    ZRXStructure::KeyValue& entry = entries.back();
    TextRef key;
    if (!readShared(&key)) return false;
    entry.setKey(std::move(key));
    mValueStructure = structure;
    mValueList = nullptr;
    mValueIndex = static_cast<size_t>(i);
    if (!readValue(&entry.value())) return false;
  }
  return true;
}

bool ParserZRB::readList(ZRXList* list) {
  int64_t count = 0;
  if (!readTag(list) || !readInteger(&count)) return false;
  if (count <= 0) return true;  // a negative count reads as empty
  if (!fits(count, 2)) return false;
  ZRXList::Elements& elements = list->value();
  elements.reserve(static_cast<size_t>(std::min<int64_t>(count, kReservedEntries)));
  for (int64_t i = 0; i < count; ++i) {
    if (elements.size() == elements.capacity()) elements.reserve(grownRoom(elements.size(), count));
    elements.emplace_back();
    mValueList = list;
    mValueIndex = static_cast<size_t>(i);
    if (!readValue(&elements.back())) return false;
  }
  return true;
}

bool ParserZRB::readValue(ZRXValue* value) {
  uint8_t code = 0;
  if (!readChunk(&code)) return false;
  switch (code) {
    case ChunkStructure:
    case ChunkList: {
      if (mDepth >= mMaxDepth) return false;
      ++mDepth;
      bool ok;
      if (code == ChunkStructure) {
        ZRXStructure* structure = value->setStructure(new ZRXStructure(nullptr, 0));
        recordStructure(structure);
        ok = readStructure(structure);
      } else {
        ok = readList(value->setList(new ZRXList(nullptr, 0)));
      }
      --mDepth;
      return ok;
    }
    case ChunkArrayRealDouble:
      return readArrayReal(value, true);
    case ChunkArrayRealFloat:
      return readArrayReal(value, false);
    case ChunkArrayInteger:
      return readArrayInteger(value);
    case ChunkRawtextBlock:
      return readRawtextBlock(value);
    case ChunkString:
    case ChunkIdentifier:
    case ChunkID:
      return readText(value, code);
    case ChunkReal:
      return readReal(value);
    case ChunkInteger: {
      int64_t integer = 0;
      if (!readInteger(&integer)) return false;
      value->setInteger(integer);
      return true;
    }
    case ChunkBool: {
      uint8_t byte = 0;
      if (!readByte(&byte)) return false;
      value->setBool(byte != 0);
      return true;
    }
    default:
      return false;  // codes 0 and 13 to 255
  }
}

bool ParserZRB::readText(ZRXValue* value, uint8_t code) {
  std::string_view text;
  if (!readStringView(&text)) return false;
  if (code == ChunkString) {
    value->setString(text);
  } else if (code == ChunkIdentifier) {
    value->setIdentifier(text);
  } else {
    const bool linked = linkWhileReading(*value, text);
    if (!linked) value->setID(text);
    // The value stands where its owner's loop put the owner and index.
    if (mValueList) {
      recordIDValue(mValueList, mValueIndex, linked);
    } else {
      recordIDValue(mValueStructure, mValueIndex, linked);
    }
  }
  return true;
}

bool ParserZRB::readReal(ZRXValue* value) {
  uint8_t bytes[8];
  if (!fits(1, 8) || !readBytes(bytes, 8)) return false;
  value->setReal(doubleFromBits(loadLittleEndian64(bytes)));
  return true;
}

bool ParserZRB::readRawtextBlock(ZRXValue* value) {
  ZRXRawtextBlock* block = value->setRawtextBlock(new ZRXRawtextBlock);
  return readTag(block) && readString(&block->value());
}

bool ParserZRB::readArrayReal(ZRXValue* value, bool doubles) {
  ZRXArrayReal* array = value->setArrayReal(new ZRXArrayReal);
  int64_t count = 0;
  if (!readTag(array) || !readInteger(&count) || count < 0) return false;
  if (!fits(count, doubles ? 8 : 4)) return false;
  std::vector<double>& out = array->value();
  if (doubles && kHostLittleEndian && count > 0 &&
      static_cast<size_t>(count) <= (mBufferEnd - mBufferPosition) / 8) {
    // Straight from the bytes into place, each element written once (resize would write zeros
    // first).
    const uint8_t* from = mBytes + mBufferPosition;
    zr::reserveLarge(out, static_cast<size_t>(count));
    out.assign(UnalignedDoubles(from), UnalignedDoubles(from + 8 * count));
    mBufferPosition += 8 * static_cast<size_t>(count);
    return true;
  }
  zr::reserveLarge(out, static_cast<size_t>(count));
  out.resize(static_cast<size_t>(count));
  if (doubles) {
    if (!readBytes(out.data(), out.size() * sizeof(double))) return false;
    if (!kHostLittleEndian) {
      for (double& element : out) {
        uint8_t bytes[8];
        std::memcpy(bytes, &element, 8);
        element = doubleFromBits(loadLittleEndian64(bytes));
      }
    }
    return true;
  }
  // Floats are widened straight out of the read buffer.
  size_t done = 0;
  while (done < out.size()) {
    size_t available = (mBufferEnd - mBufferPosition) / 4;
    if (available == 0) {
      if (!fill(4)) return truncated();
      continue;
    }
    const size_t n = std::min(available, out.size() - done);
    const uint8_t* in = mBytes + mBufferPosition;
    for (size_t i = 0; i < n; ++i) {
      const uint32_t bits = loadLittleEndian32(in + 4 * i);
      float narrow;
      std::memcpy(&narrow, &bits, 4);
      out[done + i] = narrow;
    }
    mBufferPosition += 4 * n;
    done += n;
  }
  return true;
}

bool ParserZRB::readArrayInteger(ZRXValue* value) {
  ZRXArrayInteger* array = value->setArrayInteger(new ZRXArrayInteger);
  int64_t count = 0;
  if (!readTag(array) || !readInteger(&count) || count < 0) return false;
  if (count == 0) return true;  // no byte count follows
  int64_t blockSize = 0;
  if (!readInteger(&blockSize) || blockSize < 0 || !fits(blockSize, 1)) return false;
  if (count > blockSize) return false;  // every packed integer takes at least one byte
  return decodeIntegers(blockSize, static_cast<size_t>(count), &array->value());
}

bool ParserZRB::decodeIntegers(int64_t blockSize, size_t expected, std::vector<int64_t>* values) {
  // The block is read whole before its values are judged: a block that does not hold exactly the
  // announced values fails at its end.
  const int64_t blockEnd = offset() + blockSize;
  auto badBlock = [&] {
    mFailOffset = blockEnd;
    return false;
  };
  // Filled by appending into reserved room: each element is written once.
  zr::reserveLarge(*values, expected);
  size_t count = 0;
  int64_t left = blockSize;
  while (left > 0) {
    // At least one whole integer (or the rest of the block) lies in the buffer.
    const size_t wanted = static_cast<size_t>(std::min<int64_t>(left, kZRBMaxIntegerBytes));
    if (!fill(wanted)) return truncated();
    const size_t span = static_cast<size_t>(
        std::min<int64_t>(left, static_cast<int64_t>(mBufferEnd - mBufferPosition)));
    const uint8_t* start = mBytes + mBufferPosition;
    const uint8_t* limit = start + span;
    const uint8_t* p = start;
    ZRBDecode status = ZRBDecode::Ok;
    while (p < limit && count < expected) {
      const uint8_t* next;
      int64_t value;
      status = decodeZRBInteger(p, limit, &value, &next);
      if (status != ZRBDecode::Ok) {
        if (status == ZRBDecode::Malformed) p = next;
        break;
      }
      values->push_back(value);
      ++count;
      p = next;
    }
    const bool blockEndsInSpan = static_cast<int64_t>(span) == left;
    mBufferPosition += static_cast<size_t>(p - start);
    left -= p - start;
    if (status == ZRBDecode::Malformed) return badBlock();
    // A value cut by the end of the block, or bytes left over after N values.
    if (status == ZRBDecode::Truncated && blockEndsInSpan) return badBlock();
    if (count == expected && left > 0) return badBlock();
  }
  return count == expected || badBlock();
}

}  // namespace zrX
