// fixed6_check: proves formatFixed6 identical to snprintf("%.6f") on a large sample of doubles.
//
//   fixed6_check [COUNT]   (default 100000000)
//
// A fifth each of: random bit patterns (every exponent, subnormals and huge values included),
// random mantissas at small exponents, six-decimal values, exact ties (odd numbers of 128ths) and
// the doubles next to ties; each also negated half of the time. Prints the count, the number of
// differences (and the first few) and both formatters' speed; exit status 1 on any difference.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "zrX/NumberFormat.hpp"

int main(int argc, char** argv) {
  const long long count = argc > 1 ? std::atoll(argv[1]) : 100000000LL;
  std::mt19937_64 random(20261210);
  long long differences = 0, nans = 0;
  double oursSeconds = 0, theirsSeconds = 0;
  char ours[zrX::kMaxNumberText + 1];
  char theirs[400];
  for (long long i = 0; i < count; ++i) {
    double value;
    switch (i % 5) {
      case 0: {
        const uint64_t bits = random();
        std::memcpy(&value, &bits, sizeof value);
        break;
      }
      case 1:
        value = std::ldexp(static_cast<double>(random() >> 11), -static_cast<int>(random() % 90));
        break;
      case 2:
        value = static_cast<double>(static_cast<long long>(random() % 4000000001ull) - 2000000000) /
                1e6;
        break;
      case 3:
        value = static_cast<double>(static_cast<long long>(random() % 1000000000) * 2 + 1) / 128.0;
        break;
      default:
        value = std::nextafter(static_cast<double>(random() % 100000000) / 128.0 + 1.0 / 256,
                               (random() & 1) ? 0.0 : 1e12);
        break;
    }
    if (random() & 1) value = -value;
    if (std::isnan(value)) ++nans;
    const auto t0 = std::chrono::steady_clock::now();
    *zrX::formatFixed6(value, ours) = '\0';
    const auto t1 = std::chrono::steady_clock::now();
    std::snprintf(theirs, sizeof theirs, "%.6f", value);
    const auto t2 = std::chrono::steady_clock::now();
    oursSeconds += std::chrono::duration<double>(t1 - t0).count();
    theirsSeconds += std::chrono::duration<double>(t2 - t1).count();
    if (std::strcmp(ours, theirs) != 0 && differences++ < 10)
      std::printf("difference at %.17g: %s instead of %s\n", value, ours, theirs);
  }
  std::printf(
      "%lld doubles (%lld NaN), %lld differences; formatFixed6 %.1f ns, snprintf %.1f ns "
      "per value (timer included)\n",
      count, nans, differences, oursSeconds * 1e9 / count, theirsSeconds * 1e9 / count);
  return differences == 0 ? 0 : 1;
}
