// Memory: help for the large blocks a document holds (arrays of millions of numbers).
//
// Touching fresh memory costs a page fault per 4 KiB page, which on some machines decides much of
// a load's time. allocateLarge reserves a vector's room and, for a block of several megabytes on
// a system that offers transparent huge pages on request (Linux), asks for them over the block
// before anything touches it: a fault then maps 2 MiB at once. The request is a hint; where the
// system declines it, or elsewhere, the room is ordinary memory.
//
// Pure functions over their arguments; safe from any thread.
#pragma once

#include <cstddef>
#include <vector>

#include "zrCore/Export.hpp"

namespace zr {

// Asks for huge pages over the whole 2 MiB pages inside [data, data + bytes); does nothing for
// blocks under 4 MiB or where the system has no such request.
ZRCORE_API void adviseHugePages(void* data, size_t bytes);

// vector.reserve(count), with huge pages asked for when the new room is large. The vector's
// elements stay as they were.
template <class T>
void reserveLarge(std::vector<T>& vector, size_t count) {
  if (count <= vector.capacity()) return;
  vector.reserve(count);
  adviseHugePages(vector.data() + vector.size(), (vector.capacity() - vector.size()) * sizeof(T));
}

}  // namespace zr
