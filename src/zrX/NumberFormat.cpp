#include "zrX/NumberFormat.hpp"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace zrX {

namespace {

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The number of decimal digits of `value` (1 for zero).
int digitCount(uint64_t value) {
  static constexpr uint64_t kPowers[] = {1ull,
                                         10ull,
                                         100ull,
                                         1000ull,
                                         10000ull,
                                         100000ull,
                                         1000000ull,
                                         10000000ull,
                                         100000000ull,
                                         1000000000ull,
                                         10000000000ull,
                                         100000000000ull,
                                         1000000000000ull,
                                         10000000000000ull,
                                         100000000000000ull,
                                         1000000000000000ull,
                                         10000000000000000ull,
                                         100000000000000000ull,
                                         1000000000000000000ull,
                                         10000000000000000000ull};
  // About 1233/4096 decimal digits per bit; the table corrects the estimate by one.
  const int bits = 64 - __builtin_clzll(value | 1);
  const int estimate = (bits * 1233) >> 12;
  return estimate + (value >= kPowers[estimate] ? 1 : 0);
}

// The decimal digits of `value`, without leading zeros ("0" for zero).
char* writeUnsigned(uint64_t value, char* out) {
  if (value < 10) {
    *out = static_cast<char>('0' + value);
    return out + 1;
  }
  char* const end = out + digitCount(value);
  char* p = end;
  while (value >= 100) {
    const auto pair = static_cast<unsigned>(value % 100);
    value /= 100;
    p -= 2;
    std::memcpy(p, kDigitPairs + 2 * pair, 2);
  }
  if (value >= 10) {
    std::memcpy(p - 2, kDigitPairs + 2 * value, 2);
  } else {
    p[-1] = static_cast<char>('0' + value);
  }
  return end;
}

// Six digits, with leading zeros. REQUIRES: value < 1000000.
void writeSixDigits(uint32_t value, char* out) {
  const uint32_t high = value / 10000;
  const uint32_t low = value % 10000;
  std::memcpy(out, kDigitPairs + 2 * high, 2);
  std::memcpy(out + 2, kDigitPairs + 2 * (low / 100), 2);
  std::memcpy(out + 4, kDigitPairs + 2 * (low % 100), 2);
}

__extension__ typedef unsigned __int128 Wide;

}  // namespace

char* formatFixed6(double value, char* out) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const bool negative = (bits >> 63) != 0;
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
  int exponent = -1074;  // subnormal
  if (biased != 0) {
    mantissa |= uint64_t{1} << 52;
    exponent = biased - 1075;
  }
  if (biased == 0x7FF) {
    // Infinities and NaNs: the C library's own words ("inf", "-nan").
    const int written = std::snprintf(out, kMaxNumberText, "%.6f", value);
    return out + (written > 0 ? written : 0);
  }
  if (exponent > -9) {
    // 2^44 or more: beyond the exact integer path below.
    return std::to_chars(out, out + kMaxNumberText, value, std::chars_format::fixed, 6).ptr;
  }
  // |value| = mantissa * 2^exponent, below 2^44. Its millionths, rounded to the nearest and an
  // exact tie to even (as printf rounds), are below 2^64: compute them exactly in 128 bits.
  const int shift = -exponent;  // at least 9
  uint64_t millionths = 0;
  if (shift < 74) {  // from 74 on the product (below 2^73) is less than half a millionth
    const Wide product = static_cast<Wide>(mantissa) * 1000000u;
    millionths = static_cast<uint64_t>(product >> shift);
    const Wide rest = product & ((static_cast<Wide>(1) << shift) - 1);
    const Wide half = static_cast<Wide>(1) << (shift - 1);
    if (rest > half || (rest == half && (millionths & 1))) ++millionths;
  }
  if (negative) *out++ = '-';
  out = writeUnsigned(millionths / 1000000, out);
  *out++ = '.';
  writeSixDigits(static_cast<uint32_t>(millionths % 1000000), out);
  return out + 6;
}

char* formatInteger(int64_t value, char* out) {
  uint64_t magnitude = static_cast<uint64_t>(value);
  if (value < 0) {
    *out++ = '-';
    magnitude = 0 - magnitude;  // also right for the most negative value
  }
  return writeUnsigned(magnitude, out);
}

}  // namespace zrX
