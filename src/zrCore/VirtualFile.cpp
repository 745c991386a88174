#include "zrCore/VirtualFile.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace zr {

ZR_DEFINE_TYPE(VirtualFile, Object, "zr::VirtualFile")
ZR_DEFINE_TYPE(DiskFile, VirtualFile, "zr::DiskFile")
ZR_DEFINE_TYPE(MemoryFile, VirtualFile, "zr::MemoryFile")

namespace {

constexpr bool kHostLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

void swapBytes(uint8_t* p, int width) { std::reverse(p, p + width); }

}  // namespace

int64_t VirtualFile::readSwapped(void* data, int64_t count, int width, bool littleEndian) {
  if (count <= 0 || count > INT64_MAX / width) return 0;
  const int64_t got = read(data, count * width);
  if (littleEndian != kHostLittleEndian) {
    auto* bytes = static_cast<uint8_t*>(data);
    for (int64_t i = 0; i + width <= got; i += width) swapBytes(bytes + i, width);
  }
  return got;
}

int64_t VirtualFile::writeSwapped(const void* data, int64_t count, int width, bool littleEndian) {
  if (count <= 0 || count > INT64_MAX / width) return 0;
  if (littleEndian == kHostLittleEndian) return write(data, count * width);
  std::vector<uint8_t> copy(static_cast<const uint8_t*>(data),
                            static_cast<const uint8_t*>(data) + count * width);
  for (size_t i = 0; i < copy.size(); i += static_cast<size_t>(width)) swapBytes(&copy[i], width);
  return write(copy.data(), static_cast<int64_t>(copy.size()));
}

int64_t VirtualFile::readUInt16(uint16_t* data, int64_t count, bool littleEndian) {
  return readSwapped(data, count, 2, littleEndian);
}
int64_t VirtualFile::readUInt32(uint32_t* data, int64_t count, bool littleEndian) {
  return readSwapped(data, count, 4, littleEndian);
}
int64_t VirtualFile::readFloat(float* data, int64_t count, bool littleEndian) {
  return readSwapped(data, count, 4, littleEndian);
}
int64_t VirtualFile::readDouble(double* data, int64_t count, bool littleEndian) {
  return readSwapped(data, count, 8, littleEndian);
}
int64_t VirtualFile::writeUInt16(uint16_t value, bool littleEndian) {
  return writeSwapped(&value, 1, 2, littleEndian);
}
int64_t VirtualFile::writeUInt32(uint32_t value, bool littleEndian) {
  return writeSwapped(&value, 1, 4, littleEndian);
}
int64_t VirtualFile::writeFloat(const float* data, int64_t count, bool littleEndian) {
  return writeSwapped(data, count, 4, littleEndian);
}
int64_t VirtualFile::writeDouble(double value, bool littleEndian) {
  return writeSwapped(&value, 1, 8, littleEndian);
}
int64_t VirtualFile::writeDouble(const double* data, int64_t count, bool littleEndian) {
  return writeSwapped(data, count, 8, littleEndian);
}

// DiskFile ---------------------------------------------------------------------------------------

namespace {

// A name beside the target that no other writer uses: the start of the target's file name (cut
// so the whole name stays within the usual 255-byte limit of a file name), a process-wide counter
// and random bits.
std::string temporaryNameFor(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  std::random_device device;
  const unsigned long long bits =
      (static_cast<unsigned long long>(device()) << 32) ^
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  const size_t slash = target.find_last_of("/\\");
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  constexpr size_t kKeptNameBytes = 160;
  const std::string kept = target.substr(0, std::min(target.size(), nameStart + kKeptNameBytes));
  return kept + ".zrtmp." + std::to_string(counter.fetch_add(1)) + "." + std::to_string(bits);
}

}  // namespace

DiskFile::~DiskFile() {
  if (mWriting) {
    abandon();
  } else if (mHandle) {
    std::fclose(mHandle);
  }
}

bool DiskFile::open(EOpenMode mode) {
  if (isOpen()) close();
  mPosition = 0;
  mWriteFailed = false;
  if (mode == ReadOnly) {
    mWriting = false;
    // fopen accepts a directory on some systems; reading one only fails later.
    std::error_code error;
    if (std::filesystem::is_directory(path().toStdString(), error)) return false;
    mHandle = std::fopen(path().c_str(), "rb");
    return mHandle != nullptr;
  }
  for (int attempt = 0; attempt < 8 && !mHandle; ++attempt) {
    mTemporaryPath = temporaryNameFor(path().toStdString());
    mHandle = std::fopen(mTemporaryPath.c_str(), "wxb");  // "x": never reuse an existing file
  }
  mWriting = mHandle != nullptr;
  return mWriting;
}

void DiskFile::abandon() {
  if (!mWriting) {
    close();
    return;
  }
  if (mHandle) std::fclose(mHandle);
  mHandle = nullptr;
  std::error_code ignored;
  std::filesystem::remove(mTemporaryPath, ignored);
  mWriting = false;
}

bool DiskFile::close() {
  if (!mHandle) return true;
  if (!mWriting) {
    std::fclose(mHandle);
    mHandle = nullptr;
    return true;
  }
  const bool closed = std::fclose(mHandle) == 0;
  mHandle = nullptr;
  mWriting = false;
  std::error_code error;
  if (closed && !mWriteFailed) {
    const std::string target = path().toStdString();
    // Keep the replaced file's permission bits (the temporary got the process defaults).
    const auto previous = std::filesystem::status(target, error);
    if (!error && std::filesystem::exists(previous)) {
      std::filesystem::permissions(mTemporaryPath, previous.permissions(),
                                   std::filesystem::perm_options::replace, error);
    }
    std::filesystem::rename(mTemporaryPath, target, error);
    if (!error) return true;
  }
  std::filesystem::remove(mTemporaryPath, error);
  return false;
}

int64_t DiskFile::read(void* data, int64_t count) {
  if (!mHandle || mWriting || count <= 0) return 0;
  const size_t got = std::fread(data, 1, static_cast<size_t>(count), mHandle);
  mPosition += static_cast<int64_t>(got);
  return static_cast<int64_t>(got);
}

int64_t DiskFile::write(const void* data, int64_t count) {
  if (!mHandle || !mWriting) return 0;
  if (count <= 0) return 0;
  const size_t put = std::fwrite(data, 1, static_cast<size_t>(count), mHandle);
  if (put != static_cast<size_t>(count)) mWriteFailed = true;
  mPosition += static_cast<int64_t>(put);
  return static_cast<int64_t>(put);
}

int64_t DiskFile::size() const {
  if (mWriting) return mPosition;
  std::error_code error;
  const auto bytes = std::filesystem::file_size(path().toStdString(), error);
  return error ? -1 : static_cast<int64_t>(bytes);
}

// MemoryFile -------------------------------------------------------------------------------------

MemoryFile::MemoryFile(const String& path) : VirtualFile(path) {}

MemoryFile::MemoryFile(std::vector<uint8_t> data, const String& path)
    : VirtualFile(path), mData(std::move(data)) {}

bool MemoryFile::open(EOpenMode mode) {
  mOpen = true;
  mWriting = mode == WriteOnly;
  mPosition = 0;
  if (mWriting) mData.clear();
  return true;
}

bool MemoryFile::close() {
  mOpen = false;
  mWriting = false;
  return true;
}

int64_t MemoryFile::read(void* data, int64_t count) {
  if (!mOpen || mWriting || count <= 0) return 0;
  const int64_t left = static_cast<int64_t>(mData.size()) - mPosition;
  const int64_t n = std::min(count, left);
  if (n <= 0) return 0;
  std::memcpy(data, mData.data() + mPosition, static_cast<size_t>(n));
  mPosition += n;
  return n;
}

int64_t MemoryFile::write(const void* data, int64_t count) {
  if (!mOpen || !mWriting || count <= 0) return 0;
  const auto* bytes = static_cast<const uint8_t*>(data);
  const size_t at = static_cast<size_t>(mPosition);
  if (at == mData.size()) {
    mData.insert(mData.end(), bytes, bytes + count);
  } else {
    if (at + static_cast<size_t>(count) > mData.size())
      mData.resize(at + static_cast<size_t>(count));
    std::memcpy(mData.data() + at, bytes, static_cast<size_t>(count));
  }
  mPosition += count;
  return count;
}

ref<VirtualFile> locateFile(const String& path) {
  std::error_code error;
  if (path.empty() || !std::filesystem::is_regular_file(path.toStdString(), error)) return nullptr;
  return ref<VirtualFile>(new DiskFile(path));
}

}  // namespace zr
