// ParserZRB: the reader of the ZRB binary format (see ZRBFormat.hpp). It reads one file from a
// VirtualFile into top-level ZRXStructure trees kept by the Parser base, which also supplies the
// metadata extraction and the linking.
//
// Use: setInputFile, parse() (which reads the header itself), then the base's metadata(), link()
// and structures(). parse() closes the file and opens it again for reading, and closes it when it
// returns. It does not empty structures() first.
//
// Hostile input. Every failure logs exactly one message and makes parse() false; nothing in a file
// can crash the parser, make it loop, or make it allocate far beyond the file's own size:
//  - a length or count is checked against the bytes left in the file before anything is sized
//    (a list element takes at least 2 bytes, a structure entry 3, a double 8, a float 4, a packed
//    integer 1); a list or structure grows only as its elements arrive;
//  - integers longer than ten bytes, or whose magnitude exceeds 2^63 (or is 2^63 without the
//    sign), are malformed;
//  - structures and lists nest at most maxDepth() levels (a top-level structure is level 1).
// The offset in "Error parsing binary file at offset %n." is just past the last byte consumed; a
// read that needs more bytes than the file holds counts the file as consumed to its end.
// A list or structure with a negative count is read as empty. Structures keep the ID they carry,
// an empty one included; nothing read has a line number.
//
// A file that holds its content in memory (VirtualFile::contentInMemory: a MemoryFile, a
// MemoryView over borrowed bytes) is read in place, without copying it; real arrays are filled
// straight from its bytes.
//
// The parser keeps a reference on its input file. One parser serves one load on one thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zrCore/VirtualFile.hpp"
#include "zrX/Export.hpp"
#include "zrX/Parser.hpp"

namespace zrX {

class ZRX_API ParserZRB : public Parser {
  ZR_DECLARE_TYPE()
 public:
  ParserZRB() = default;

  // Takes a reference on `file` (may be null).
  void setInputFile(zr::VirtualFile* file) { mInputFile = file; }
  zr::VirtualFile* inputFile() const { return mInputFile.get(); }

  // Reads the 21-byte header from the current position: the magic must match; version(),
  // encoding() and headerWord() are set from what is found, without judging them. False when the
  // magic differs or the file ends inside the header.
  bool parseHeader() override;
  // Reads the whole file. REQUIRES: an input file.
  bool parse() override;

  // The header's 32-bit word as last read; it has no meaning.
  uint32_t headerWord() const { return mHeaderWord; }

 private:
  // Input through a read-ahead buffer; lengths are judged against the size of the file.
  void startInput();
  void stopInput();
  bool fill(size_t wanted);
  int64_t offset() const { return mBufferOffset + static_cast<int64_t>(mBufferPosition); }
  int64_t remaining() const { return mInputEnd - offset(); }
  bool readByte(uint8_t* byte) {
    if (mBufferPosition == mBufferEnd && !fill(1)) return truncated();
    *byte = mBytes[mBufferPosition++];
    return true;
  }
  bool readBytes(void* data, size_t count);
  // Records that a read needed more than the file holds; returns false.
  bool truncated();
  // True when `count` items of at least `bytesEach` bytes can still follow in the file.
  bool fits(int64_t count, int64_t bytesEach);

  bool readChunk(uint8_t* code) { return readByte(code); }
  bool readInteger(int64_t* value);
  bool readString(std::string* text);
  // A string's bytes where they lie when they are all in view, else copied into mScratch; valid
  // until the next read.
  bool readStringView(std::string_view* text);
  // A tag or key, shared with the equal texts read before.
  bool readShared(TextRef* text);
  bool readTag(ZRXTaggedValue* node);
  bool readValue(ZRXValue* value);
  bool readList(ZRXList* list);
  bool readStructure(ZRXStructure* structure);
  bool readArrayReal(ZRXValue* value, bool doubles);
  bool readArrayInteger(ZRXValue* value);
  bool readText(ZRXValue* value, uint8_t code);
  bool readReal(ZRXValue* value);
  bool readRawtextBlock(ZRXValue* value);
  // Decodes a packed block of `blockSize` bytes holding exactly `expected` integers.
  bool decodeIntegers(int64_t blockSize, size_t expected, std::vector<int64_t>* values);

  uint32_t mHeaderWord = 0;
  zr::ref<zr::VirtualFile> mInputFile;

  // Input: mBytes[0, mBufferEnd) holds the bytes from file offset mBufferOffset on, either in
  // mBuffer or, for a file held in memory, the file's own bytes (mInMemory: nothing is copied).
  std::vector<uint8_t> mBuffer;
  const uint8_t* mBytes = nullptr;
  bool mInMemory = false;
  size_t mBufferPosition = 0;
  size_t mBufferEnd = 0;
  int64_t mBufferOffset = 0;  // file offset of mBytes[0]
  int64_t mInputEnd = 0;      // size of the file
  int64_t mFailOffset = -1;   // set when a read ran past the end
  bool mInputStarted = false;
  int mDepth = 0;
  std::string mScratch;
  TextCache mTexts;
  // Where the value being read stands: in the list, or else in the structure, at the index.
  ZRXStructure* mValueStructure = nullptr;
  ZRXList* mValueList = nullptr;
  size_t mValueIndex = 0;
};

}  // namespace zrX
