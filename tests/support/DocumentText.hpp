// DocumentText: documents written by hand as ZRT text, handed to a loader in either format. The
// binary form is the same tree read without linking and written as ZRB, so ID references (and
// hostile ones) reach the binary reader as they stand in the text.
#pragma once

#include <string>

#include "zrCore/Object.hpp"
#include "zrCore/VirtualFile.hpp"
#include "zrX/Document.hpp"

namespace zrtest {

// A MemoryFile named `name` holding `zrtText` as a document in `format` (ZRT or ZRB). A text that
// does not parse fails the calling test and gives an empty file.
zr::ref<zr::MemoryFile> documentInFormat(const std::string& zrtText, zrX::Format format,
                                         const char* name = "document");

}  // namespace zrtest
