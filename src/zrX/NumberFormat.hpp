// NumberFormat: the number texts of ZRT, written fast and independently of the process locale.
//
// formatFixed6 writes exactly the bytes snprintf("%.6f") writes in the "C" locale for every
// double: the value rounded to six decimals (an exact tie to the even last digit), a "-" for
// every negative value (-0.0 and values that round to zero included), no exponent. Values below
// 2^44 in magnitude (all but huge ones) take an exact integer path of a few nanoseconds; the rest,
// and infinities and NaNs, go through std::to_chars, which prints the same text.
//
// formatReal writes a text that reads back (correctly rounded, as the ZRT reader and
// std::from_chars read) as the same double, bit for bit:
//  - formatFixed6's text when that reads back as the value: every value of at most six decimals,
//    -0.0 ("-0.000000"), and every double from 2^33 up in magnitude, huge ones with all their
//    integer digits. The test comes out of the same integer arithmetic and costs next to nothing.
//  - otherwise the shortest digits that read back as the value (std::to_chars), as a plain
//    decimal ("0.1234567", "0.30000000000000004", "0.0000015") when the first significant digit
//    stands before the point or within the six decimals (the decimal exponent is at least
//    kPlainFromExponent), and below that as one digit, a point, the other digits or "0", and an
//    exponent with its sign ("1.0e-7", "2.2250738585072014e-308", "5.0e-324"), the form the ZRT
//    reader takes (an exponent only after a fraction, always signed). These values are all below
//    2^33 in magnitude, so no such text is longer than 25 bytes and none starts "0.000000".
// Infinities and NaNs come out as formatFixed6 writes them (the ZRT writer refuses them).
//
// formatInteger writes what "%lld" writes.
//
// Pure functions; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zrX/Export.hpp"

namespace zrX {

// The longest text any function here writes: "-" and the 309 digits of DBL_MAX, ".", six
// decimals.
constexpr size_t kMaxNumberText = 320;

// formatReal's plain decimals reach down to 10^kPlainFromExponent.
constexpr int kPlainFromExponent = -6;

// Write at `out` (room for kMaxNumberText bytes) and return the end; no terminating NUL.
ZRX_API char* formatFixed6(double value, char* out);
ZRX_API char* formatReal(double value, char* out);
ZRX_API char* formatInteger(int64_t value, char* out);

}  // namespace zrX
