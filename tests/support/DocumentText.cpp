#include "support/DocumentText.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace zrtest {

zr::ref<zr::MemoryFile> documentInFormat(const std::string& zrtText, zrX::Format format,
                                         const char* name) {
  zr::ref<zr::MemoryFile> text =
      new zr::MemoryFile(std::vector<uint8_t>(zrtText.begin(), zrtText.end()), name);
  if (format == zrX::Format::ZRT) return text;
  zrX::Document document;
  zrX::ReadOptions options;
  options.link = false;
  zr::ref<zr::MemoryFile> binary = new zr::MemoryFile(name);
  if (zrX::readDocument(text.get(), zrX::Format::ZRT, document, options) != zrX::ReadStatus::Ok) {
    ADD_FAILURE() << "not a ZRT document:\n" << zrtText.substr(0, 200);
    return binary;
  }
  const zrX::WriteResult written = zrX::writeDocument(binary.get(), zrX::Format::ZRB, document);
  EXPECT_TRUE(written.ok()) << written.message;
  return binary;
}

}  // namespace zrtest
