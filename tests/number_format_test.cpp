// formatFixed6 and formatInteger against the C library's own "%.6f" and "%lld", byte for byte;
// formatReal's texts: six decimals exactly where they read back, else the shortest exact text.
#include <gtest/gtest.h>

#include <cfloat>
#include <charconv>
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

std::string real(double value) {
  char text[zrX::kMaxNumberText];
  return std::string(text, zrX::formatReal(value, text));
}

uint64_t bitsOf(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// What the ZRT reader makes of a number text (it converts as std::from_chars does); NaN when the
// text does not read whole.
double readBack(const std::string& text) {
  double value = std::numeric_limits<double>::quiet_NaN();
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return result.ec == std::errc() && result.ptr == end ? value : std::nan("");
}

TEST(FormatReal, EdgeCasesTable) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      // Six decimals that read back: as "%f" writes them.
      {0.0, "0.000000"},
      {-0.0, "-0.000000"},
      {1.5, "1.500000"},
      {0.1, "0.100000"},
      {-1234.5678, "-1234.567800"},
      {1e-6, "0.000001"},
      // Beyond six decimals: the shortest digits, plain down to 10^-6.
      {0.1234567, "0.1234567"},
      {0.1 + 0.2, "0.30000000000000004"},
      {1.0 / 3, "0.3333333333333333"},
      {-2.0 / 3, "-0.6666666666666666"},
      {123456789.123456789, "123456789.12345679"},
      {1.0000001, "1.0000001"},
      {0.0078125, "0.0078125"},  // an exact tie at the seventh decimal ("%f": 0.007812)
      {999999.9999995, "999999.9999995"},
      {0.9999995, "0.9999995"},  // "%f" rounds it up to 1.000000
      {0.99999949999999996, "0.9999994999999999"},
      {1.5e-6, "0.0000015"},
      {2.5e-6, "0.0000025"},  // "%f": 0.000003
      {0.000001234567, "0.000001234567"},
      {1.0000001e-5, "0.000010000001"},
      // Below 10^-6: a fraction and a signed exponent, never "1e-7" (the reader refuses it).
      {1e-7, "1.0e-7"},
      {5e-7, "5.0e-7"},
      {-0.0000004, "-4.0e-7"},
      {9.9e-7, "9.9e-7"},
      {1.23456e-8, "1.23456e-8"},
      {1e-300, "1.0e-300"},
      {DBL_MIN, "2.2250738585072014e-308"},
      {fromBits(0x000FFFFFFFFFFFFFull), "2.225073858507201e-308"},  // the largest subnormal
      {1e-320, "1.0e-320"},
      {DBL_TRUE_MIN, "5.0e-324"},
      {-DBL_TRUE_MIN, "-5.0e-324"},
      // From 2^33 up every double reads back from six decimals; just below, still these do.
      {8589934591.999999, "8589934591.999999"},
      {8589934592.0000019, "8589934592.000002"},
      {17592186044415.998, "17592186044415.998047"},
      {4503599627370495.5, "4503599627370495.500000"},
      {1e21, "1000000000000000000000.000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(real(c.value), c.text);
    EXPECT_EQ(bitsOf(readBack(real(c.value))), bitsOf(c.value));
  }
  // Huge values keep every digit of "%f".
  for (double huge : {1e300, -1e300, DBL_MAX, -DBL_MAX}) EXPECT_EQ(real(huge), printfFixed6(huge));
  EXPECT_EQ(real(DBL_MAX).size(), 309u + 7u);
}

// Random values of every kind: each text reads back bit for bit; it is "%f"'s exactly when that
// reads back; any other has no more significant digits than the shortest exact text and the
// layout the reader's number rule takes.
TEST(FormatReal, RandomValuesReadBackWithTheFewestDigits) {
  std::mt19937_64 random(1812);
  int failures = 0;
  for (int i = 0; i < 300000 && failures < 5; ++i) {
    double value;
    switch (i % 6) {
      case 0:
        value = fromBits(random());
        if (!std::isfinite(value)) continue;
        break;
      case 1:
        value = static_cast<double>(random() % 4000000000000ull) / 1e6;
        break;
      case 2:
        value = std::nextafter(static_cast<double>(random() % 4000000000000ull) / 1e6,
                               (random() & 1) ? 0.0 : 1e15);
        break;
      case 3:
        value = fromBits(random() >> 12);  // subnormals
        break;
      case 4:
        value = std::ldexp(static_cast<double>(random() >> 11), -static_cast<int>(random() % 90));
        break;
      default:
        value = static_cast<double>(random() % 10000000000ull) *
                std::pow(10.0, -static_cast<int>(random() % 30));
        break;
    }
    if (random() & 1) value = -value;
    const std::string text = real(value);
    const std::string six = fixed6(value);
    const bool sixExact = bitsOf(readBack(six)) == bitsOf(value);
    // The shortest exact digits, as std::to_chars finds them.
    char shortest[64];
    char* end = std::to_chars(shortest, shortest + sizeof shortest, std::fabs(value),
                              std::chars_format::scientific)
                    .ptr;
    const auto mantissaDigits = [](const std::string& t) {
      std::string digits;
      for (char c : t.substr(0, t.find('e')))
        if (c >= '0' && c <= '9' && !(digits.empty() && c == '0')) digits += c;
      while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
      return digits.size();
    };
    const size_t exponentAt = text.find('e');
    bool ok = bitsOf(readBack(text)) == bitsOf(value) && (text == six) == sixExact;
    if (ok && !sixExact) {
      ok = mantissaDigits(text) <= mantissaDigits(std::string(shortest, end)) &&
           text.size() <= 25 && text.find('.') != std::string::npos &&
           text.find('.') > (value < 0 ? 1u : 0u) &&
           (exponentAt == std::string::npos ||
            (text[exponentAt - 1] != '.' &&
             (text[exponentAt + 1] == '-' || text[exponentAt + 1] == '+')));
    }
    if (!ok) {
      ++failures;
      ADD_FAILURE() << "bits " << std::hex << bitsOf(value) << ": " << text << " (six decimals "
                    << six << ", shortest " << std::string(shortest, end) << ")";
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
