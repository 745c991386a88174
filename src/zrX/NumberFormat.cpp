#include "zrX/NumberFormat.hpp"

#include <charconv>
#include <cstdio>
#include <cstring>

#if defined(__GNUC__) || defined(__clang__)
#define ZRX_NOINLINE __attribute__((noinline))
#define ZRX_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define ZRX_NOINLINE
#define ZRX_ALWAYS_INLINE inline
#endif

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

// The six-decimal text of `value` (what snprintf("%.6f") writes), and in `exact` whether that text
// reads back as `value` itself. Inlined into both callers; formatFixed6 drops the exactness.
//
// The text t = m / 10^6 (m the rounded millionths) reads back as the nearest double, so as v =
// M * 2^-s when |t - v| is below half the gap between v and its neighbour on t's side. In units
// of 2^-s / 10^6 the distance is d = |m * 2^s - M * 10^6|: the remainder r = M * 10^6 mod 2^s when
// m was rounded down, 2^s - r when up. Half the gap is 500000 units (the gap 2^-s), or 250000
// below a power of two, where the gap below halves. Hence:
//  - d is a multiple of 2^6, so it never equals half a gap: the reader meets no tie;
//  - below a power of two (M = 2^52) r is 0 for s <= 58 and otherwise a multiple of 2^58 (as is
//    2^s - r), so the narrower half gap changes nothing and 500000 serves everywhere;
//  - for s >= 20 half of 2^s exceeds 500000, so d < 500000 means r < 500000 (rounded down) or
//    r > 2^s - 500000 (rounded up): exactly when (r + 500000) mod 2^s is below 10^6. For s < 20
//    (|v| of 2^33 and more) 2^s itself is below 10^6: always exact, and so is the test.
ZRX_ALWAYS_INLINE char* fixed6(double value, char* out, bool& exact) {
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
  exact = true;
  if (biased == 0x7FF) {
    // Infinities and NaNs: the C library's own words ("inf", "-nan").
    const int written = std::snprintf(out, kMaxNumberText, "%.6f", value);
    return out + (written > 0 ? written : 0);
  }
  if (exponent > -9) {
    // 2^44 or more: beyond the exact integer path below. Exact, as is every double from 2^33 up:
    // their gap, 2^-19 or more, is over twice the largest rounding error, half a millionth.
    return std::to_chars(out, out + kMaxNumberText, value, std::chars_format::fixed, 6).ptr;
  }
  // |value| = mantissa * 2^exponent, below 2^44. Its millionths, rounded to the nearest and an
  // exact tie to even (as printf rounds), are below 2^64: compute them exactly in 128 bits.
  const int shift = -exponent;  // at least 9
  uint64_t millionths = 0;
  if (shift < 64) {
    // The common case (|value| from 2^-11 up): the remainder lies in the product's low word.
    const Wide product = static_cast<Wide>(mantissa) * 1000000u;
    const auto low = static_cast<uint64_t>(product);
    const auto high = static_cast<uint64_t>(product >> 64);
    millionths = (low >> shift) | (high << (64 - shift));
    const uint64_t mask = (uint64_t{1} << shift) - 1;
    const uint64_t rest = low & mask;
    const uint64_t half = uint64_t{1} << (shift - 1);
    if (rest > half || (rest == half && (millionths & 1))) ++millionths;
    exact = ((low + 500000u) & mask) < 1000000u;
  } else if (shift < 74) {  // from 74 on the product (below 2^73) is less than half a millionth
    const Wide product = static_cast<Wide>(mantissa) * 1000000u;
    millionths = static_cast<uint64_t>(product >> shift);
    const Wide mask = (static_cast<Wide>(1) << shift) - 1;
    const Wide rest = product & mask;
    const Wide half = static_cast<Wide>(1) << (shift - 1);
    if (rest > half || (rest == half && (millionths & 1))) ++millionths;
    exact = ((product + 500000u) & mask) < 1000000u;
  } else {
    exact = mantissa == 0;  // zero; anything else is below half a millionth, and written as 0
  }
  if (negative) *out++ = '-';
  out = writeUnsigned(millionths / 1000000, out);
  *out++ = '.';
  writeSixDigits(static_cast<uint32_t>(millionths % 1000000), out);
  return out + 6;
}

// The shortest decimal digits that read back as `value` (finite, not six-decimal exact, so below
// 2^33 in magnitude and not zero), laid out as formatReal's header describes.
ZRX_NOINLINE char* writeShortest(double value, char* out) {
  char scientific[40];  // "-d.dddddddddddddddde-308"
  const char* const end = std::to_chars(scientific, scientific + sizeof scientific, value,
                                        std::chars_format::scientific)
                              .ptr;
  const char* p = scientific;
  if (*p == '-') *out++ = *p++;
  char digits[20];
  int count = 0;
  for (; *p != 'e'; ++p)
    if (*p != '.') digits[count++] = *p;
  ++p;  // 'e'
  const bool negativeExponent = *p++ == '-';
  int exponent = 0;
  for (; p != end; ++p) exponent = exponent * 10 + (*p - '0');
  if (negativeExponent) exponent = -exponent;

  if (exponent >= kPlainFromExponent) {
    if (exponent < 0) {  // "0.", zeros, the digits
      *out++ = '0';
      *out++ = '.';
      for (int i = -1; i > exponent; --i) *out++ = '0';
      std::memcpy(out, digits, static_cast<size_t>(count));
      return out + count;
    }
    // The integer digits, then the rest (a fraction is always there for the values that come
    // here; at least "0" for any other).
    const int whole = exponent + 1;
    for (int i = 0; i < whole; ++i) *out++ = i < count ? digits[i] : '0';
    *out++ = '.';
    if (count <= whole) {
      *out++ = '0';
      return out;
    }
    std::memcpy(out, digits + whole, static_cast<size_t>(count - whole));
    return out + (count - whole);
  }
  // One digit, the point, the others or "0", the exponent with its sign.
  *out++ = digits[0];
  *out++ = '.';
  if (count == 1) {
    *out++ = '0';
  } else {
    std::memcpy(out, digits + 1, static_cast<size_t>(count - 1));
    out += count - 1;
  }
  *out++ = 'e';
  *out++ = exponent < 0 ? '-' : '+';
  return writeUnsigned(static_cast<uint64_t>(exponent < 0 ? -exponent : exponent), out);
}

}  // namespace

char* formatFixed6(double value, char* out) {
  bool exact;
  return fixed6(value, out, exact);
}

char* formatReal(double value, char* out) {
  bool exact;
  char* const end = fixed6(value, out, exact);
  return exact ? end : writeShortest(value, out);
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
