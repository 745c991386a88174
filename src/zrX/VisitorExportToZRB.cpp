#include "zrX/VisitorExportToZRB.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "zrCore/Check.hpp"
#include "zrCore/Log.hpp"
#include "zrCore/String.hpp"
#include "zrX/Parser.hpp"

// Rare paths stay out of line so the recursive walk keeps small stack frames.
#if defined(__GNUC__)
#define ZRX_COLD __attribute__((noinline, cold))
#else
#define ZRX_COLD
#endif

namespace zrX {

ZR_DEFINE_TYPE(VisitorExportToZRB, Visitor, "zrX::VisitorExportToZRB")

namespace {

constexpr size_t kBufferSize = 64 * 1024;
constexpr bool kHostLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

void storeLittleEndian32(uint8_t* out, uint32_t bits) {
  out[0] = static_cast<uint8_t>(bits);
  out[1] = static_cast<uint8_t>(bits >> 8);
  out[2] = static_cast<uint8_t>(bits >> 16);
  out[3] = static_cast<uint8_t>(bits >> 24);
}

void storeLittleEndian64(uint8_t* out, uint64_t bits) {
  storeLittleEndian32(out, static_cast<uint32_t>(bits));
  storeLittleEndian32(out + 4, static_cast<uint32_t>(bits >> 32));
}

// ": No such file or directory", or nothing without an error number.
std::string errorSuffix(int error) {
  return error ? ": " + zr::systemErrorMessage(error) : std::string();
}

bool hasOwnID(const ZRXStructure* structure) { return structure->hasID(); }

std::string describe(const ZRXTaggedValue* node) {
  return node->tag().empty() ? std::string("untagged") : "'" + zr::messageText(node->tag()) + "'";
}

}  // namespace

VisitorExportToZRB::VisitorExportToZRB(zr::VirtualFile* file) : mBuffer(kBufferSize) {
  setOutputFile(file);
}

void VisitorExportToZRB::setOutputFile(zr::VirtualFile* file) {
  mOutputFile = file;
  mUsed = 0;
  mBytesWritten = 0;
  if (!file) return;
  file->close();
  if (!file->open(zr::VirtualFile::WriteOnly)) {
    mWriteFailed = true;
    recordFailure("VisitorExportToZRB: cannot open '" + file->path().toStdString() +
                  "' for writing" + errorSuffix(file->lastError()));
  }
}

void VisitorExportToZRB::writeHeader() {
  writeBytes(kZRBMagic, sizeof kZRBMagic);
  writeByte(static_cast<uint8_t>(kFormatVersion & 0xFF));
  writeByte(static_cast<uint8_t>(kFormatVersion >> 8));
  writeBytes("ascii", 6);  // the name and its terminating 0 byte
  writeBytes("\0\0\0\0", 4);
  flush();
}

// Output buffer ----------------------------------------------------------------------------------

void VisitorExportToZRB::flush() {
  if (mUsed == 0) return;
  writeToFile(mBuffer.data(), mUsed);
  mUsed = 0;
}

void VisitorExportToZRB::writeToFile(const void* data, size_t count) {
  if (mWriteFailed) return;  // once a write failed, nothing further reaches the file
  const int64_t wanted = static_cast<int64_t>(count);
  const int64_t moved = mOutputFile->write(data, wanted);
  if (moved > 0) mBytesWritten += moved;
  if (moved != wanted) {
    mWriteFailed = true;
    recordFailure((zr::Say("VisitorExportToZRB: write error at offset %n")
                   << static_cast<long long>(mBytesWritten))
                      .str()
                      .toStdString() +
                  errorSuffix(mOutputFile->lastError()));
  }
}

void VisitorExportToZRB::writeBytes(const void* data, size_t count) {
  if (count <= mBuffer.size() - mUsed) {
    std::memcpy(mBuffer.data() + mUsed, data, count);
    mUsed += count;
    return;
  }
  flush();
  if (count >= mBuffer.size() / 2) {
    writeToFile(data, count);  // bulk data goes straight to the file
  } else {
    std::memcpy(mBuffer.data(), data, count);
    mUsed = count;
  }
}

void VisitorExportToZRB::writeString(const std::string& text) {
  // The whole string, 0 bytes included: the reader takes exactly the announced bytes.
  writeInteger(static_cast<int64_t>(text.size()));
  writeBytes(text.data(), text.size());
}

void VisitorExportToZRB::writeDoubles(const double* data, size_t count) {
  if (kHostLittleEndian) {
    writeBytes(data, count * sizeof(double));
    return;
  }
  for (size_t i = 0; i < count; ++i) {
    if (mBuffer.size() - mUsed < 8) flush();
    uint64_t bits;
    std::memcpy(&bits, &data[i], 8);
    storeLittleEndian64(mBuffer.data() + mUsed, bits);
    mUsed += 8;
  }
}

void VisitorExportToZRB::writeFloats(const double* data, size_t count) {
  size_t done = 0;
  while (done < count) {
    const size_t room = (mBuffer.size() - mUsed) / 4;
    if (room == 0) {
      flush();
      continue;
    }
    const size_t n = std::min(room, count - done);
    uint8_t* out = mBuffer.data() + mUsed;
    for (size_t i = 0; i < n; ++i) {
      const float narrow = static_cast<float>(data[done + i]);
      uint32_t bits;
      std::memcpy(&bits, &narrow, 4);
      storeLittleEndian32(out + 4 * i, bits);
    }
    mUsed += 4 * n;
    done += n;
  }
}

void VisitorExportToZRB::writePackedIntegers(const int64_t* data, size_t count) {
  // The byte count comes first, so size the block before encoding it into the buffer.
  int64_t blockSize = 0;
  for (size_t i = 0; i < count; ++i) blockSize += zrbIntegerSize(data[i]);
  writeInteger(blockSize);
  // Local pointers: stores through a byte pointer would otherwise reload the members each time.
  uint8_t* const begin = mBuffer.data();
  uint8_t* const end = begin + mBuffer.size();
  uint8_t* out = begin + mUsed;
  for (size_t i = 0; i < count; ++i) {
    if (end - out < kZRBMaxIntegerBytes) {
      mUsed = static_cast<size_t>(out - begin);
      flush();
      out = begin + mUsed;
    }
    out = encodeZRBInteger(data[i], out);
  }
  mUsed = static_cast<size_t>(out - begin);
}

bool VisitorExportToZRB::needsDoublePrecision(const double* data, size_t count) {
  constexpr double kFloatMax = std::numeric_limits<float>::max();
  for (size_t i = 0; i < count; ++i) {
    const double value = data[i];
    if (!(std::fabs(value) <= kFloatMax)) {  // NaN, infinity, or beyond the float range
      if (std::isinf(value)) continue;
      return true;
    }
    if (static_cast<double>(static_cast<float>(value)) != value) return true;
  }
  return false;
}

// Walk -------------------------------------------------------------------------------------------

void VisitorExportToZRB::visitStructure(ZRXStructure* structure) {
  if (isVisitedIfShared(structure)) {
    writeRepeatedStructure(structure);
  } else if (!enterLevel("VisitorExportToZRB", structure)) {
    writeNullStructure();
  } else {
    writeByte(ChunkStructure);
    writeString(structure->tag());
    writeString(structure->uid());
    writeInteger(static_cast<int64_t>(structure->value().size()));
    for (const ZRXStructure::KeyValue& entry : structure->value()) {
      writeString(entry.key());
      writeValue(entry.value());
    }
    leaveLevel();
  }
  if (mDepth == 0) flush();
}

void VisitorExportToZRB::visitList(ZRXList* list) {
  if (isVisitedIfShared(list)) {
    writeRepeatedList(list);
  } else if (!enterLevel("VisitorExportToZRB", list)) {
    writeEmptyList(list);
  } else {
    writeByte(ChunkList);
    writeString(list->tag());
    writeInteger(static_cast<int64_t>(list->value().size()));
    for (const ZRXValue& element : list->value()) writeValue(element);
    leaveLevel();
  }
  if (mDepth == 0) flush();
}

void VisitorExportToZRB::visitArray(ZRXArrayReal* array) {
  const std::vector<double>& values = array->value();
  const bool doubles = !values.empty() && needsDoublePrecision(values.data(), values.size());
  writeByte(doubles ? ChunkArrayRealDouble : ChunkArrayRealFloat);
  writeString(array->tag());
  writeInteger(static_cast<int64_t>(values.size()));
  if (doubles) {
    writeDoubles(values.data(), values.size());
  } else {
    writeFloats(values.data(), values.size());
  }
  if (mDepth == 0) flush();
}

void VisitorExportToZRB::visitArray(ZRXArrayInteger* array) {
  const std::vector<int64_t>& values = array->value();
  writeByte(ChunkArrayInteger);
  writeString(array->tag());
  writeInteger(static_cast<int64_t>(values.size()));
  if (!values.empty()) writePackedIntegers(values.data(), values.size());
  if (mDepth == 0) flush();
}

void VisitorExportToZRB::writeValue(const ZRXValue& value) {
  mPlaceValue = &value;
  switch (value.type()) {
    case ZRXValue::Bool:
      writeByte(ChunkBool);
      writeByte(value.getBool() ? 1 : 0);
      break;
    case ZRXValue::Integer:
      writeByte(ChunkInteger);
      writeInteger(value.getInteger());
      break;
    case ZRXValue::Real: {
      writeByte(ChunkReal);
      const double real = value.getReal();
      writeDoubles(&real, 1);
      break;
    }
    case ZRXValue::String:
      writeByte(ChunkString);
      writeString(value.getString());
      break;
    case ZRXValue::Identifier:
      writeByte(ChunkIdentifier);
      writeString(value.getIdentifier());
      break;
    case ZRXValue::ID:
      writeIDValue(value.getID());
      break;
    case ZRXValue::RawtextBlock: {
      const ZRXRawtextBlock* block = value.getRawtextBlock();
      writeByte(ChunkRawtextBlock);
      writeString(block->tag());
      writeString(block->value());
      break;
    }
    case ZRXValue::List:
      value.getList()->acceptVisitor(this);
      break;
    case ZRXValue::Structure:
      if (ZRXStructure* structure = value.getStructure()) {
        structure->acceptVisitor(this);
      } else {
        writeNullStructure();
      }
      break;
    case ZRXValue::ArrayInteger:
      value.getArrayInteger()->acceptVisitor(this);
      break;
    case ZRXValue::ArrayReal:
      value.getArrayReal()->acceptVisitor(this);
      break;
  }
}

void VisitorExportToZRB::writeIDValue(const std::string& id) {
  writeByte(ChunkID);
  writeString(id);
}

ZRX_COLD void VisitorExportToZRB::writeRepeatedStructure(ZRXStructure* structure) {
  if (mDepth == 0) {
    // A file holds only structure chunks at the top level, never an ID value.
    recordFailure("VisitorExportToZRB: top-level structure " + describe(structure) +
                  " was already written; it cannot stand at the top level again.");
    return;
  }
  if (!hasOwnID(structure)) {
    recordFailure("VisitorExportToZRB: structure " + describe(structure) +
                  " without an ID is reached a second time at " + placePath(mPlaceValue) +
                  "; only a structure with an ID can be shared.");
  }
  writeIDValue(structure->uid());
}

ZRX_COLD void VisitorExportToZRB::writeRepeatedList(ZRXList* list) {
  zr::Log::warning("VisitorExportToZRB: cycle detected on ZRXList.\n");
  recordFailure("VisitorExportToZRB: list " + describe(list) + " is reached a second time at " +
                placePath(mPlaceValue) + "; a list can stand in one place only.");
  writeEmptyList(list);
}

ZRX_COLD void VisitorExportToZRB::writeEmptyList(ZRXList* list) {
  // An empty list keeps the enclosing count right, so the file stays readable.
  writeByte(ChunkList);
  writeString(list->tag());
  writeInteger(0);
}

ZRX_COLD void VisitorExportToZRB::writeNullStructure() { writeIDValue("#NULL"); }

}  // namespace zrX
