// VisitorExportToZRB: the visitor that writes a ZRX document tree into a VirtualFile in the ZRB
// binary format (see ZRBFormat.hpp).
//
// Use: construct on the file (it is closed and opened again for writing), setIDSet, writeHeader,
// then let each top-level structure accept the writer in file order; the caller closes the file.
// Bytes are gathered in an internal buffer and handed to the file whenever it fills and before
// every top-level call (writeHeader, a visit from outside a walk) returns, so after each such call
// everything is in the file. The visited set spans all top-level structures of one writer: a
// structure is written in full where it is first reached, and every later occurrence (a second
// reference, or a reference back into itself) as an ID value holding its ID, which linking turns
// back into the structure after reading.
//
// Failures. writeFailed() says the file refused bytes (or could not be opened): the first short or
// failed write is recorded with its offset ("VisitorExportToZRB: write error at offset N") and
// nothing further is written. failed()/failure() of the Visitor base also report what the tree
// holds that this format cannot carry; for each the writer still writes a placeholder so the file
// stays well formed:
//  - a list reached a second time (also logged as a warning): an empty list with its tag;
//  - a structure without an ID (empty or "#NULL") reached a second time: an ID value with its ID;
//  - a structure or list deeper than maxDepth(): an ID value "#NULL", or an empty list;
//  - a top-level structure already written (inside an earlier one, or given twice): nothing.
// A Structure value without a node (a linked reference to nothing) is written as the ID value
// "#NULL", which links back to a Structure value without a node.
//
// The writer does not own the ID map; it keeps a reference on the file. One writer serves one
// save on one thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zrCore/VirtualFile.hpp"
#include "zrX/Export.hpp"
#include "zrX/Visitor.hpp"
#include "zrX/ZRBFormat.hpp"

namespace zrX {

class ZRX_API VisitorExportToZRB : public Visitor {
  ZR_DECLARE_TYPE()
 public:
  explicit VisitorExportToZRB(zr::VirtualFile* file = nullptr);

  // Takes a reference on `file` (may be null) and closes and reopens it for writing; a file that
  // cannot be opened is recorded as a write failure. Resets the byte count.
  void setOutputFile(zr::VirtualFile* file);
  zr::VirtualFile* outputFile() const { return mOutputFile.get(); }

  // The counts of VisitorIDCounter. No byte depends on them (every structure's ID is written);
  // kept for symmetry with the text writer. Not owned.
  void setIDSet(IDCountMap* ids) { mIDSet = ids; }

  // Writes the 21-byte header. REQUIRES: an output file.
  void writeHeader();

  void visitStructure(ZRXStructure* structure) override;
  void visitList(ZRXList* list) override;
  void visitArray(ZRXArrayReal* array) override;
  void visitArray(ZRXArrayInteger* array) override;

  // Hands the buffered bytes to the file (done by every top-level call already).
  void flush();

  // True once the file refused a write; failed() is then true as well.
  bool writeFailed() const { return mWriteFailed; }
  // Bytes accepted by the file so far.
  int64_t bytesWritten() const { return mBytesWritten; }

  // True when a real array must be written with doubles: some element is NaN, or does not come
  // back equal after a round trip through a 32-bit float. Infinities and -0.0 fit in floats.
  static bool needsDoublePrecision(const double* data, size_t count);

 private:
  void writeValue(const ZRXValue& value);
  void writeIDValue(const std::string& id);
  void writeRepeatedStructure(ZRXStructure* structure);
  void writeRepeatedList(ZRXList* list);
  void writeEmptyList(ZRXList* list);
  void writeNullStructure();
  void writeString(const std::string& text);
  void writeInteger(int64_t value) {
    if (mBuffer.size() - mUsed < kZRBMaxIntegerBytes) flush();
    mUsed = static_cast<size_t>(encodeZRBInteger(value, mBuffer.data() + mUsed) - mBuffer.data());
  }
  void writeByte(uint8_t byte) {
    if (mUsed == mBuffer.size()) flush();
    mBuffer[mUsed++] = byte;
  }
  void writeBytes(const void* data, size_t count);
  void writeDoubles(const double* data, size_t count);
  void writeFloats(const double* data, size_t count);
  void writePackedIntegers(const int64_t* data, size_t count);
  void writeToFile(const void* data, size_t count);

  IDCountMap* mIDSet = nullptr;
  zr::ref<zr::VirtualFile> mOutputFile;
  std::vector<uint8_t> mBuffer;
  size_t mUsed = 0;
  int64_t mBytesWritten = 0;
  bool mWriteFailed = false;
};

}  // namespace zrX
