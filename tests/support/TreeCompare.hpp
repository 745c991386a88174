// TreeCompare: structural comparison of ZRX document trees for tests, with a readable account of
// the first difference.
//
// Two trees are equal when they have the same shape and content: tags, structure IDs (see
// CompareOptions::ids), keys in order, values kind by kind, texts byte for byte, arrays element by
// element (reals bit for bit by default), and the same sharing: where the expected tree reaches
// one structure or list along several paths (or along a cycle), the actual tree reaches one node
// along the same paths, and the other way round. Cycles are followed once. Line numbers are
// ignored unless asked for.
//
// The result is empty when the trees are equal, otherwise one line naming the place
// ("<Scene>.parts[1].size[3]") and both sides. sameTree/sameDocument wrap it for gtest:
//   EXPECT_TRUE(zrtest::sameDocument(expected, parsed));
//
// Nothing is modified; any thread may compare trees that no one else changes meanwhile.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zrX/Value.hpp"

namespace zrtest {

struct CompareOptions {
  enum class IDs {
    Exact,       // every structure's ID must be equal
    Referenced,  // equal where the expected tree needs the ID (reached or named twice or more, as
                 // VisitorIDCounter counts it); elsewhere the actual ID may also be "#NULL" (the
                 // text writer writes only the IDs that are needed)
    Ignore,
  };
  IDs ids = IDs::Exact;
  bool lineNumbers = false;   // compare the line numbers of nodes and values
  bool sharing = true;        // compare which structures and lists are shared
  bool realsBitExact = true;  // otherwise reals compare with ==, and any NaN equals any NaN
};

// Empty when equal, else the first difference.
std::string diffDocuments(const std::vector<zr::ref<zrX::ZRXStructure>>& expected,
                          const std::vector<zr::ref<zrX::ZRXStructure>>& actual,
                          const CompareOptions& options = {});
std::string diffTrees(const zrX::ZRXStructure* expected, const zrX::ZRXStructure* actual,
                      const CompareOptions& options = {});
std::string diffValues(const zrX::ZRXValue& expected, const zrX::ZRXValue& actual,
                       const CompareOptions& options = {});

::testing::AssertionResult sameDocument(const std::vector<zr::ref<zrX::ZRXStructure>>& expected,
                                        const std::vector<zr::ref<zrX::ZRXStructure>>& actual,
                                        const CompareOptions& options = {});
::testing::AssertionResult sameTree(const zrX::ZRXStructure* expected,
                                    const zrX::ZRXStructure* actual,
                                    const CompareOptions& options = {});

// A short printable form of a value for messages: kind and content (texts escaped and cut).
std::string describeValue(const zrX::ZRXValue& value);
// A text with non-printable bytes escaped (\n, \xNN), cut after `limit` bytes.
std::string printable(const std::string& text, size_t limit = 40);

}  // namespace zrtest
