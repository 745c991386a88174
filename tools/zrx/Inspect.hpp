// Document statistics for `zrx info`: counts of the nodes, arrays and references of an unlinked
// document tree, and a short text for a metadata value.
#pragma once

#include <cstdint>
#include <string>

#include "zrX/zrX.hpp"

namespace zrxtool {

struct TreeCounts {
  uint64_t structures = 0, lists = 0, rawTexts = 0;
  uint64_t integerArrays = 0, integerElements = 0;
  uint64_t realArrays = 0, realElements = 0;
  uint64_t ids = 0;         // structures carrying an ID of their own
  uint64_t references = 0;  // ID values
  int deepest = 0;          // levels of structures and lists; a top-level structure is 1
};

// Counts over the top-level structures of `document` (read without linking). Iterative: any
// depth the parsers accept is fine.
TreeCounts countTree(const zrX::Document& document);

// A one-line rendering of a value: strings quoted, numbers as written in text, nodes summarised.
std::string describeValue(const zrX::ZRXValue& value);

}  // namespace zrxtool
