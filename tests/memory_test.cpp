// Large blocks: reserveLarge keeps what a vector holds, and asks the system for huge pages over
// the inside of a large block (seen in the mapping's flags on Linux).
#include "zrCore/Memory.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

TEST(Memory, ReserveLargeKeepsTheElements) {
  std::vector<int64_t> values = {1, 2, 3};
  zr::reserveLarge(values, 2);  // room enough already
  EXPECT_EQ(values.capacity(), 3u);
  zr::reserveLarge(values, 3 << 20);
  EXPECT_GE(values.capacity(), size_t{3} << 20);
  EXPECT_EQ(values, (std::vector<int64_t>{1, 2, 3}));
  std::vector<double> empty;
  zr::reserveLarge(empty, 0);
  EXPECT_TRUE(empty.empty());
  zr::adviseHugePages(nullptr, 1 << 30);  // nothing to advise
  zr::adviseHugePages(values.data(), 100);
}

#if defined(__linux__)
// The flags of the mapping that holds `address`, from /proc/self/smaps ("" when not found).
std::string mappingFlags(const void* address) {
  std::ifstream smaps("/proc/self/smaps");
  const auto at = reinterpret_cast<uintptr_t>(address);
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    unsigned long long begin = 0, end = 0;
    if (std::sscanf(line.c_str(), "%llx-%llx ", &begin, &end) == 2) {
      inside = begin <= at && at < end;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return line;
    }
  }
  return std::string();
}

TEST(Memory, ALargeBlockAsksForHugePages) {
  if (!std::filesystem::exists("/sys/kernel/mm/transparent_hugepage/enabled"))
    GTEST_SKIP() << "no transparent huge pages on this system";
  std::vector<double> large;
  zr::reserveLarge(large, size_t{16} << 17);  // 16 MiB of doubles
  const char* middle = reinterpret_cast<const char*>(large.data()) + (size_t{8} << 20);
  EXPECT_NE(mappingFlags(middle).find(" hg"), std::string::npos) << mappingFlags(middle);
  std::vector<double> small;
  zr::reserveLarge(small, 1000);
  EXPECT_EQ(mappingFlags(small.data()).find(" hg"), std::string::npos);
}
#endif

}  // namespace
