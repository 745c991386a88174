#include "zrCore/VirtualFile.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#define ZR_DISKFILE_POSIX 1
#endif

namespace zr {

ZR_DEFINE_TYPE(VirtualFile, Object, "zr::VirtualFile")
ZR_DEFINE_TYPE(DiskFile, VirtualFile, "zr::DiskFile")
ZR_DEFINE_TYPE(MemoryFile, VirtualFile, "zr::MemoryFile")
ZR_DEFINE_TYPE(MemoryView, VirtualFile, "zr::MemoryView")

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

#if defined(ZR_DISKFILE_POSIX)

// The folder that holds `target`: where its temporary is made and what is flushed after the
// rename.
std::string folderOf(const std::string& target) {
  const size_t slash = target.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : target.substr(0, slash);
}

// An unnamed file in `folder`, open for writing; -1 when there is none, with `unsupported` true
// when the system or the file system offers no such files (the caller then takes a named one)
// and false when the folder itself refuses (missing, not writable).
int openUnnamed(const std::string& folder, bool* unsupported) {
  *unsupported = true;
#if defined(O_TMPFILE)
  // Linking the file needs its /proc entry (linkat with AT_EMPTY_PATH needs a privilege).
  static const bool procFds = ::access("/proc/self/fd", X_OK) == 0;
  if (!procFds) return -1;
  int fd;
  do {
    fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  // Kernels without O_TMPFILE see a folder opened for writing (EISDIR); file systems without it
  // answer EOPNOTSUPP, some EINVAL.
  if (fd < 0) *unsupported = errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL;
  return fd;
#else
  (void)folder;
  return -1;
#endif
}

// Gives the unnamed file `fd` the name `path`; false with errno set when it cannot.
bool linkUnnamed(int fd, const std::string& path) {
  char entry[48];
  std::snprintf(entry, sizeof entry, "/proc/self/fd/%d", fd);
  if (::linkat(AT_FDCWD, entry, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
#if defined(AT_EMPTY_PATH)
  if (errno == ENOENT || errno == EPERM)
    return ::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0;
#endif
  return false;
}

bool syncToDevice(int fd) {
  int result;
  do {
    result = ::fsync(fd);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// Flushes the folder's entries, so a rename in it survives a power loss. Best effort: the
// target is already replaced when this runs, and some file systems refuse to flush a folder.
void syncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  syncToDevice(fd);
  ::close(fd);
}

#endif

}  // namespace

namespace {

std::atomic<bool> gMappedReads{true};

// Below this size a mapping costs more than reading the file into the readers' buffers.
constexpr int64_t kSmallestMappedFile = 16 * 1024;

}  // namespace

void DiskFile::setMappedReads(bool allowed) { gMappedReads.store(allowed); }

bool DiskFile::mappedReads() { return gMappedReads.load(); }

DiskFile::~DiskFile() {
  if (mWriting) {
    abandon();
  } else if (mHandle) {
    close();
  }
}

const uint8_t* DiskFile::contentInMemory() const {
  if (!mHandle || mWriting) return nullptr;
#if defined(ZR_DISKFILE_POSIX)
  if (!mMapTried) {
    mMapTried = true;
    if (mMayMap) {
      // Populated at once: the readers go through the whole content, and the pages are in the
      // page cache for a file read recently.
      int flags = MAP_PRIVATE;
#if defined(MAP_POPULATE)
      flags |= MAP_POPULATE;
#endif
      void* mapping =
          ::mmap(nullptr, static_cast<size_t>(mReadSize), PROT_READ, flags, ::fileno(mHandle), 0);
      if (mapping != MAP_FAILED) mMapped = static_cast<const uint8_t*>(mapping);
    }
  }
#endif
  return mMapped;
}

void DiskFile::unmap() {
#if defined(ZR_DISKFILE_POSIX)
  if (mMapped) ::munmap(const_cast<uint8_t*>(mMapped), static_cast<size_t>(mReadSize));
#endif
  mMapped = nullptr;
  mMapTried = false;
  mMayMap = false;
  mReadSize = -1;
}

std::string systemErrorMessage(int error) {
  char buffer[256] = {};
  // The GNU strerror_r may return a static text instead of filling the buffer.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  return ::strerror_r(error, buffer, sizeof buffer);
#else
  if (::strerror_r(error, buffer, sizeof buffer) != 0) return "error " + std::to_string(error);
  return buffer;
#endif
}

bool DiskFile::open(EOpenMode mode) {
  if (isOpen()) close();
  mPosition = 0;
  mWriteFailed = false;
  mLastError = 0;
  mTemporaryPath.clear();
  if (mode == ReadOnly) {
    mWriting = false;
    // fopen accepts a directory on some systems; reading one only fails later.
    std::error_code error;
    if (std::filesystem::is_directory(path().toStdString(), error)) {
      mLastError = EISDIR;
      return false;
    }
    errno = 0;
    mHandle = std::fopen(path().c_str(), "rb");
    if (!mHandle) {
      mLastError = errno;
      return false;
    }
#if defined(ZR_DISKFILE_POSIX)
    struct stat status {};
    if (::fstat(::fileno(mHandle), &status) == 0 && S_ISREG(status.st_mode)) {
      mReadSize = static_cast<int64_t>(status.st_size);
      mMayMap = mappedReads() && mReadSize >= kSmallestMappedFile &&
                static_cast<uint64_t>(mReadSize) <= SIZE_MAX;
    }
#endif
    return true;
  }
  errno = 0;
  mWriting = openForWriting();
  if (!mWriting) mLastError = errno ? errno : EIO;
  return mWriting;
}

bool DiskFile::openForWriting() {
  const std::string target = path().toStdString();
#if defined(ZR_DISKFILE_POSIX)
  bool unsupported = true;
  int fd = mUnnamedAllowed ? openUnnamed(folderOf(target), &unsupported) : -1;
  for (int attempt = 0; fd < 0 && unsupported && attempt < 8; ++attempt) {
    mTemporaryPath = temporaryNameFor(target);
    fd = ::open(mTemporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;  // "x": never reuse an existing file
  }
  if (fd >= 0) mHandle = ::fdopen(fd, "wb");
  if (!mHandle) {
    if (fd >= 0) ::close(fd);
    if (fd >= 0 && !mTemporaryPath.empty()) ::unlink(mTemporaryPath.c_str());
    mTemporaryPath.clear();
  }
#else
  for (int attempt = 0; attempt < 8 && !mHandle; ++attempt) {
    mTemporaryPath = temporaryNameFor(target);
    mHandle = std::fopen(mTemporaryPath.c_str(), "wxb");  // "x": never reuse an existing file
  }
#endif
  return mHandle != nullptr;
}

void DiskFile::abandon() {
  if (!mWriting) {
    close();
    return;
  }
  if (mHandle) std::fclose(mHandle);  // an unnamed temporary vanishes with its last descriptor
  mHandle = nullptr;
  if (!mTemporaryPath.empty()) {
    std::error_code ignored;
    std::filesystem::remove(mTemporaryPath, ignored);
  }
  mTemporaryPath.clear();
  mWriting = false;
}

bool DiskFile::close() {
  if (!mHandle) return true;
  if (!mWriting) {
    unmap();
    std::fclose(mHandle);
    mHandle = nullptr;
    return true;
  }
  const bool committed = commit();
  mHandle = nullptr;
  mTemporaryPath.clear();
  mWriting = false;
  return committed;
}

// Puts the written bytes in the target's place: flush our buffer, take over the replaced file's
// permission bits (the temporary got the process defaults), put the data on the device, then
// rename the temporary over the target and flush the folder. Any failure before the rename keeps
// the previous file and removes the temporary. Closes the handle in every case.
bool DiskFile::commit() {
  const std::string target = path().toStdString();
#if defined(ZR_DISKFILE_POSIX)
  const int fd = ::fileno(mHandle);
  errno = 0;
  bool ok = !mWriteFailed && std::fflush(mHandle) == 0;
  // The first failure's error number stays: a failed write's, else the flush's, the sync's or the
  // rename's.
  const auto noteError = [this](bool fine) {
    if (!fine && mLastError == 0) mLastError = errno ? errno : EIO;
    return fine;
  };
  noteError(ok);
  // Best effort, as before: some file systems (FAT) refuse modes they cannot store.
  struct stat previous;
  if (ok && ::stat(target.c_str(), &previous) == 0) ::fchmod(fd, previous.st_mode & 07777);
  ok = ok && noteError(syncToDevice(fd));
  std::string named = mTemporaryPath;
  if (ok && named.empty()) {
    // An unnamed file gets a fresh name first: linkat cannot replace an existing name. A kill
    // between here and the rename leaves that name, holding the whole new document.
    ok = false;
    for (int attempt = 0; attempt < 8 && !ok; ++attempt) {
      named = temporaryNameFor(target);
      ok = linkUnnamed(fd, named);
      if (!ok && errno != EEXIST) break;
    }
    if (!ok) named.clear();
  }
  if (!ok) noteError(false);
  ok = ok && noteError(::rename(named.c_str(), target.c_str()) == 0);
  // Once the data are on the device, a complaint of the final close changes nothing.
  std::fclose(mHandle);
  if (ok) {
    syncFolder(folderOf(target));
    return true;
  }
  if (!named.empty()) ::unlink(named.c_str());
  return false;
#else
  const bool closed = std::fclose(mHandle) == 0;
  std::error_code error;
  if (closed && !mWriteFailed) {
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
#endif
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
  errno = 0;
  const size_t put = std::fwrite(data, 1, static_cast<size_t>(count), mHandle);
  if (put != static_cast<size_t>(count)) {
    mWriteFailed = true;
    mLastError = errno ? errno : EIO;
  }
  mPosition += static_cast<int64_t>(put);
  return static_cast<int64_t>(put);
}

int64_t DiskFile::size() const {
  if (mWriting) return mPosition;
  if (mHandle && mReadSize >= 0) return mReadSize;  // what a mapping covers
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

// MemoryView --------------------------------------------------------------------------------------

MemoryView::MemoryView(const void* data, size_t size, const String& path)
    : VirtualFile(path), mData(static_cast<const uint8_t*>(data)), mSize(data ? size : 0) {}

bool MemoryView::open(EOpenMode mode) {
  mPosition = 0;
  mOpen = mode == ReadOnly;
  return mOpen;
}

bool MemoryView::close() {
  mOpen = false;
  return true;
}

int64_t MemoryView::read(void* data, int64_t count) {
  if (!mOpen || count <= 0) return 0;
  const int64_t left = static_cast<int64_t>(mSize) - mPosition;
  const int64_t n = std::min(count, left);
  if (n <= 0) return 0;
  std::memcpy(data, mData + mPosition, static_cast<size_t>(n));
  mPosition += n;
  return n;
}

ref<VirtualFile> locateFile(const String& path) {
  std::error_code error;
  if (path.empty() || !std::filesystem::is_regular_file(path.toStdString(), error)) return nullptr;
  return ref<VirtualFile>(new DiskFile(path));
}

}  // namespace zr
