// formatFixed6 and formatInteger against the C library's own "%.6f" and "%lld", byte for byte.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "zrX/NumberFormat.hpp"

namespace {

std::string fixed6(double value) {
  char text[zrX::kMaxNumberText];
  return std::string(text, zrX::formatFixed6(value, text));
}

std::string printfFixed6(double value) {
  char text[400];
  std::snprintf(text, sizeof text, "%.6f", value);
  return text;
}

double fromBits(uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

TEST(FormatFixed6, EdgeCasesMatchPrintf) {
  const double kMax = std::numeric_limits<double>::max();
  const double cases[] = {
      0.0, -0.0, 1.0, -1.0, 0.5, 0.1, 1e-6, 5e-7, 4.9999999999999998e-7, 1.5e-6, 2.5e-6,
      // Exact ties: an odd number of 128ths has a 5 as its seventh decimal and nothing after.
      0.0078125, -0.0078125, 1.0078125, 3.0234375, 0.9999995, 0.99999949999999996, 123456.5 / 128,
      // Where the exact integer path ends (2^44) and around it.
      17592186044416.0, 17592186044415.998, 17592186044416.004, -17592186044415.998,
      // Subnormals, the smallest normal, huge values.
      5e-324, -5e-324, fromBits(0x000FFFFFFFFFFFFFull), 2.2250738585072014e-308, 1e21, 1e300, kMax,
      -kMax, 9007199254740993.0, 4503599627370495.5,
      // Values that round up into the next integer or power of ten.
      0.9999996, 9.9999995, 99999.9999995, -0.0000004, -0.0000005, -0.0000006,
      std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  for (double value : cases) {
    SCOPED_TRACE(printfFixed6(value));
    EXPECT_EQ(fixed6(value), printfFixed6(value));
  }
}

TEST(FormatFixed6, RandomValuesOfEveryKindMatchPrintf) {
  // Random bit patterns cover every exponent; six-decimal values, 128ths (ties) and values next
  // to them cover the rounding; nothing here may differ.
  std::mt19937_64 random(101);
  int differences = 0;
  for (int i = 0; i < 400000 && differences < 5; ++i) {
    double value;
    switch (i % 5) {
      case 0:
        value = fromBits(random());
        if (std::isnan(value)) continue;
        break;
      case 1:
        value = std::ldexp(static_cast<double>(random() >> 11), -static_cast<int>(random() % 90));
        break;
      case 2:
        value =
            static_cast<double>(static_cast<int64_t>(random() % 4000000001ull) - 2000000000) / 1e6;
        break;
      case 3:
        value = static_cast<double>(static_cast<int64_t>(random() % 100000000) * 2 + 1) / 128.0;
        break;
      default:
        value = std::nextafter(static_cast<double>(random() % 1000000) / 128.0 + 1.0 / 256,
                               (random() & 1) ? 0.0 : 1e9);
        break;
    }
    if (random() & 1) value = -value;
    const std::string ours = fixed6(value);
    const std::string theirs = printfFixed6(value);
    if (ours != theirs) {
      ++differences;
      ADD_FAILURE() << "bits " << std::hex <<
          [&] {
            uint64_t bits;
            std::memcpy(&bits, &value, sizeof bits);
            return bits;
          }() << ": "
                    << ours << " instead of " << theirs;
    }
  }
}

TEST(FormatInteger, MatchesPrintf) {
  const int64_t cases[] = {0,
                           1,
                           -1,
                           9,
                           10,
                           99,
                           100,
                           -100,
                           999999999,
                           1000000000,
                           INT64_MAX,
                           INT64_MIN,
                           INT64_MIN + 1,
                           1234567890123456789};
  std::mt19937_64 random(7);
  auto check = [](int64_t value) {
    char expected[32];
    std::snprintf(expected, sizeof expected, "%" PRId64, value);
    char text[zrX::kMaxNumberText];
    EXPECT_EQ(std::string(text, zrX::formatInteger(value, text)), expected);
  };
  for (int64_t value : cases) check(value);
  for (int i = 0; i < 10000; ++i) check(static_cast<int64_t>(random()) >> (random() % 64));
}

}  // namespace
