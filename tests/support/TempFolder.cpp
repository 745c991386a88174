#include "support/TempFolder.hpp"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

namespace zrtest {

namespace fs = std::filesystem;

TempFolder::TempFolder(const std::string& prefix) {
  std::random_device device;
  std::mt19937_64 random(
      (static_cast<uint64_t>(device()) << 32) ^
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 16; ++attempt) {
    mFolder = fs::temp_directory_path() / (prefix + "_" + std::to_string(random()));
    std::error_code error;
    if (fs::create_directory(mFolder, error)) return;
  }
  throw std::runtime_error("TempFolder: cannot create a folder under " +
                           fs::temp_directory_path().string());
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(mFolder, ignored);
}

std::vector<std::string> TempFolder::entries() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(mFolder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void TempFolder::writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string TempFolder::readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace zrtest
