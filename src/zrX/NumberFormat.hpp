// NumberFormat: the number texts of ZRT, written fast and independently of the process locale.
//
// formatFixed6 writes exactly the bytes snprintf("%.6f") writes in the "C" locale for every
// double: the value rounded to six decimals (an exact tie to the even last digit), a "-" for
// every negative value (-0.0 and values that round to zero included), no exponent. Values below
// 2^44 in magnitude (all but huge ones) take an exact integer path of a few nanoseconds; the rest,
// and infinities and NaNs, go through std::to_chars, which prints the same text.
// formatInteger writes what "%lld" writes.
//
// Pure functions; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zrX/Export.hpp"

namespace zrX {

// The longest text either function writes: "-" and the 309 digits of DBL_MAX, ".", six decimals.
constexpr size_t kMaxNumberText = 320;

// Write at `out` (room for kMaxNumberText bytes) and return the end; no terminating NUL.
ZRX_API char* formatFixed6(double value, char* out);
ZRX_API char* formatInteger(int64_t value, char* out);

}  // namespace zrX
