// OutputFile: the file that zrx.write_bytes writes into. It keeps what it is given in blocks that
// fill in turn, so nothing written is ever moved or copied while the document grows; bytes()
// then copies it once into a new Python bytes object of the exact size. (A MemoryFile's single
// vector moves everything each time it grows, and touches twice the pages.)
//
// Written without the GIL by the one write that owns it; bytes() needs the GIL.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <vector>

#include "zrX/zrX.hpp"

namespace zrxpy {

class OutputFile : public zr::VirtualFile {
 public:
  OutputFile() : zr::VirtualFile(zr::String("<bytes>")) {}

  bool open(EOpenMode mode) override;
  bool isOpen() const override { return mOpen; }
  bool close() override;
  int64_t read(void*, int64_t) override { return 0; }
  int64_t write(const void* data, int64_t count) override;
  int64_t position() const override { return mSize; }
  int64_t size() const override { return mSize; }

  // The bytes written, as a new bytes object. REQUIRES: the GIL.
  pybind11::bytes bytes() const;

 private:
  struct Block {
    std::unique_ptr<char[]> bytes;
    size_t size = 0;
    size_t used = 0;
  };
  std::vector<Block> mBlocks;
  int64_t mSize = 0;
  bool mOpen = false;
};

}  // namespace zrxpy
