// Equality: whether two values are equal as trees, for == on zrx.Structure and zrx.List.
//
// Kinds must match; scalars compare by value (reals as numbers, with NaN equal to NaN, so that a
// tree equals its copy), texts byte for byte, arrays element by element, and nodes by tag, ID (for
// structures), and then their entries (keys in order) or elements. Sharing and cycles: a pair of
// structures or lists met again counts as equal, so that the walk ends; the first meeting decides.
// No Python code runs: the trees cannot change under it. Uses its own stack, so any depth is fine.
#pragma once

#include "zrX/zrX.hpp"

namespace zrxpy {

bool equalTrees(const zrX::ZRXValue& a, const zrX::ZRXValue& b);

}  // namespace zrxpy
