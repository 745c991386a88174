// JsonReader: reads a document in the zrx tool's JSON form (see JsonWriter.hpp and the README)
// into the library's tree, without linking: "ref" values become ID values, as in a ZRT or ZRB
// file read without linking.
//
// The JSON is read with nlohmann/json's SAX parser, straight into the tree as the file streams
// by: no JSON DOM is built, so memory is the tree's own plus one buffer. The reading is strict:
// members that the mapping does not name, a kind of value where another is needed, integers
// outside 64 bits, reals outside the double range, malformed base64 and nesting deeper than the
// limit are refused like bad JSON, with one message "line L, column C: ..." logged through
// zr::Log (lines and columns count from 1, columns in bytes; the place is where the reader
// stood when it noticed). One thread.
#pragma once

#include "DocumentFile.hpp"

namespace zrxtool {

// Reads `file` from its start (closed afterwards) into `document`: its structures are appended,
// its metadata and metadata order replaced. False, with the message logged, on bad input; the
// document is then incomplete and fit only to be dropped.
bool readJsonDocument(zr::VirtualFile* file, ToolDocument& document,
                      int maxDepth = zrX::kDefaultMaxDepth);

}  // namespace zrxtool
