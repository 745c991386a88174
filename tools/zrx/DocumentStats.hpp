// The document-level helpers of the zrx tool: counts of the nodes, arrays and references of an
// unlinked document tree (`zrx info`), a check that every ID reference of an unlinked tree
// resolves (`zrx check`, `zrx convert`) without linking it, and short printable renderings of
// metadata keys and values.
//
// The tool reads documents without linking them (see DocumentFile.hpp): ID references stay ID
// values, so a converted document keeps its structures where the file has them, and the tree has
// no cycles. Everything here walks such a tree iteratively, so any depth the parsers accept is
// fine. One thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zrX/zrX.hpp"

namespace zrxtool {

struct TreeCounts {
  uint64_t structures = 0, lists = 0, rawTexts = 0;
  uint64_t integerArrays = 0, integerElements = 0;
  uint64_t realArrays = 0, realElements = 0;
  uint64_t ids = 0;         // structures carrying an ID of their own (not empty, not "#NULL")
  uint64_t references = 0;  // ID values, "#NULL" included
  int deepest = 0;          // levels of structures and lists; a top-level structure is 1
};

// Counts over the top-level structures of `document` (read without linking); the metadata entries
// are not counted.
TreeCounts countTree(const zrX::Document& document);

// True when the IDs of `document` (read without linking) are unique and every ID value names one
// of its structures or is "#NULL": exactly what linking the tree would accept, with the linker's
// own messages logged for what it would refuse. The tree is not changed.
bool verifyLinks(const zrX::Document& document, int maxDepth = zrX::kDefaultMaxDepth);

// A text made printable on one line: backslash, double quote and bytes below 0x20 or at 0x7F
// escaped ("\n", "\t", "\x00", ...); other bytes kept.
std::string printable(const std::string& text);

// A one-line rendering of a value: strings quoted and escaped as above, numbers in their shortest
// exact form ("1.5", "nan"), nodes summarised ("integer array of 3").
std::string describeValue(const zrX::ZRXValue& value);

}  // namespace zrxtool
