// OutputFile: the file that zrx.write_bytes writes into, made to cost what the writing costs.
//
// A fresh buffer costs a page fault per page touched, and a buffer that grows moves what it holds;
// for tens of megabytes each costs as much as the writing itself. So the file writes straight
// into the bytes object it hands out: at the start it takes a bytes object far larger than any
// document it expects (a quarter of the memory, at most 16 GiB, only reserved: pages that are
// never touched cost nothing), asks for huge pages there, and at the end shrinks it to the size
// written, which moves nothing. Where that reservation fails (strict overcommit, address space
// limits) or is not made (sanitizer builds, other systems), or a document outgrows it, the bytes go
// into blocks that fill in turn and are copied once into a bytes object of the exact size.
//
// open(), close() and write() run without the GIL in the one write that owns the file; start()
// and bytes() need the GIL.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <vector>

#include "zrX/zrX.hpp"

namespace zrxpy {

class OutputFile : public zr::VirtualFile {
 public:
  OutputFile() : zr::VirtualFile(zr::String("<bytes>")) {}

  // Takes the reserved bytes object, when it can. REQUIRES: the GIL.
  void start();

  bool open(EOpenMode mode) override;
  bool isOpen() const override { return mOpen; }
  bool close() override;
  int64_t read(void*, int64_t) override { return 0; }
  int64_t write(const void* data, int64_t count) override;
  int64_t position() const override { return mSize; }
  int64_t size() const override { return mSize; }

  // The bytes written, as a bytes object of their size. Call once. REQUIRES: the GIL.
  pybind11::bytes bytes();

 private:
  struct Block {
    std::unique_ptr<char[]> bytes;
    size_t size = 0;
    size_t used = 0;
  };
  void writeToBlocks(const char* data, size_t count);

  pybind11::object mReserved;  // the bytes object written into, or None
  char* mDirect = nullptr;     // its storage
  size_t mDirectSize = 0;      // its size, reserved
  size_t mDirectUsed = 0;      // bytes in it
  std::vector<Block> mBlocks;  // what did not fit, in order
  int64_t mSize = 0;
  bool mOpen = false;
};

}  // namespace zrxpy
