// DocumentDiff: the comparison behind `zrx diff`. Two linked documents are walked side by side
// from the top, and every difference becomes one line "PATH: A -> B":
//
//   /<Metadata>/Creation_Date: "Mon Jan  1 ..." -> "Tue Jan  2 ..."
//   /<Scene>/parts[1]/radius: 0.5 -> 0.75
//   /<Scene>/color: (none) -> "red"
//
// A path starts with the metadata block or a top-level structure's tag (followed by its position
// "[i]" when top-level tags repeat), then names entries by key ("/key", and "/key@2" for the
// second entry with that key in one structure) and list and array elements by index ("[i]", from
// 0). Values are compared kind by kind: reals bit for bit, texts byte for byte, arrays element by
// element, entries by key (one line when the same entries stand in another order), lists by
// position. References are compared by what they point to: the documents are linked, and a
// structure of A is paired with the structure of B where the walk first meets them; meeting
// either again with another partner is a difference of sharing, shown as
// "/<Scene>/parts[1]: <Part> structure (also at /<Scene>/parts[0]) -> <Part> structure". ID texts
// themselves are not compared (text documents keep only the IDs something refers to). Cycles end at
// the pairing.
//
// Lines quote file content safely: control bytes and bytes from 0x7F up are escaped, long texts
// are cut around their first difference with "..." and their size, and an "also at" path longer
// than 200 bytes is cut after its last whole segment within them, also with "..." and its size.
//
// Time and memory are linear in the size of the documents, however deep the walk goes (a chain of
// references nests as deep as it is long): the walk uses its own stack, and keeps each place it
// reaches as one segment below its parent's, so a path is spelled out only for a line handed out.
// One thread.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>

#include "DocumentFile.hpp"

namespace zrxtool {

struct DiffOptions {
  std::set<std::string> ignoredMetadata;  // metadata keys left out of the comparison
  uint64_t maxLines = 50;                 // lines handed out at most; 0 means no limit
};

// Compares `a` and `b` (both linked), hands each of the first maxLines differences to `line`
// (without a line end), and returns how many differences there are in all.
uint64_t diffDocuments(const ToolDocument& a, const ToolDocument& b, const DiffOptions& options,
                       const std::function<void(const std::string&)>& line);

}  // namespace zrxtool
