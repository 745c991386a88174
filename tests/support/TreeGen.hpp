// TreeGen: seeded random ZRX documents for round-trip tests.
//
// generateDocument builds top-level structures holding every kind of value: scalars with their
// edge values (int64 extremes, -0.0, denormals, NaN, infinities), texts, raw text blocks, integer
// and real arrays (float-exact ones and ones that need doubles, empty ones), nested structures and
// lists. Sharing comes in two forms:
//  - a structure reached a second time: a finished structure (never an ancestor, so the tree
//    itself has no cycle) is placed again under another parent;
//  - ID values naming a structure of the document anywhere, before or after it, an ancestor
//    included; after linking these become shared edges and cycles. They name only structures made
//    for the same or an earlier top-level structure: linked, a later top-level structure would
//    otherwise stand inside an earlier one, and a writer would write it there, not at the top.
// Every shared or named structure has an ID, and IDs are unique in a document. No structure is
// tagged "<Metadata>". The same options and seed give the same document.
//
// A document with ID values is best compared after linking both sides (zrX::Parser::link): then
// the expected and the parsed tree have the same sharing. Linked documents hold cycles; break
// them before dropping the roots, or they leak.
//
// TreeGenOptions::textSafe restricts the content to what the ZRT text format carries exactly:
// lexically valid keys, tags, identifiers and IDs, finite reals, printable texts (no NUL; raw texts
// without CR or backslash), no empty real arrays, no tags on empty lists, and IDs only where they
// are needed. Its reals are whole millionths, of moderate size (tests may scale them); text holds
// any finite real exactly, which sixDecimalReals = false with realsOfEveryKind tries.
#pragma once

#include <cstdint>
#include <vector>

#include "zrX/Value.hpp"

namespace zrtest {

struct TreeGenOptions {
  uint32_t seed = 1;
  int topLevelStructures = 2;
  int maxDepth = 5;    // levels of structures and lists; a top-level structure is level 1
  int maxEntries = 6;  // per structure and per list
  int maxArrayLength = 24;
  int maxTextLength = 12;

  bool validNames = false;        // keys, tags, identifiers and IDs follow the ZRT lexical rules
  bool anyBytes = true;           // texts, keys and tags may hold any byte, NUL included
  bool nonFiniteReals = true;     // NaN and infinities
  bool sixDecimalReals = false;   // reals are whole millionths (what "%f" writes exactly)
  bool realsOfEveryKind = false;  // beyond random bits: millionths and their neighbours, short
                                  // decimals, binary fractions, subnormals, huge values
  bool emptyRealArrays = true;
  bool tagsOnEmptyLists = true;
  bool rawtextSpecials = true;   // raw texts may hold CR and backslashes
  bool sharedStructures = true;  // a finished structure placed again under another parent
  bool idReferences = true;      // ID values naming structures of the document
  bool nullReferences = true;    // ID values "#NULL"
  bool unreferencedIDs = true;   // some structures carry an ID that nothing needs

  // The restrictions of the text format, with the given seed.
  static TreeGenOptions textSafe(uint32_t seed);
};

std::vector<zr::ref<zrX::ZRXStructure>> generateDocument(const TreeGenOptions& options);

}  // namespace zrtest
