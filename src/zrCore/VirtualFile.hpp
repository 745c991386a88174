// Files as zrX sees them: VirtualFile, the abstract byte file with typed little-endian readers
// and writers; DiskFile, a file on disk whose writes replace the target atomically; MemoryFile, a
// file over a byte buffer; and locateFile, which finds a document file by path.
//
// A file is reference counted (zr::Object) and used by one thread at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "zrCore/Export.hpp"
#include "zrCore/Object.hpp"
#include "zrCore/String.hpp"

namespace zr {

class ZRCORE_API VirtualFile : public Object {
  ZR_DECLARE_TYPE()
 public:
  enum EOpenMode { ReadOnly = 0, WriteOnly = 1 };

  explicit VirtualFile(const String& path = String()) : mPath(path) {}

  // Opens for reading (0) or writing (1, which starts the file empty). Opening an open file
  // closes it first. Returns success.
  virtual bool open(EOpenMode mode) = 0;
  virtual bool isOpen() const = 0;
  // Closes the file. For a file open for writing, false means the written bytes could not be
  // committed (a write, the flush or the final rename failed). Closing a closed file is true.
  virtual bool close() = 0;
  // Closes a file open for writing without committing: a DiskFile removes its temporary and keeps
  // the previous file. Writers call it instead of close() once a write has failed. For files
  // without a commit step it is close().
  virtual void abandon() { close(); }
  // Moves up to `count` bytes; returns how many were moved (0 when closed or at the end).
  virtual int64_t read(void* data, int64_t count) = 0;
  virtual int64_t write(const void* data, int64_t count) = 0;
  // Current byte offset.
  virtual int64_t position() const = 0;
  // Size in bytes of the file's content (of the data written so far while writing); -1 when
  // unknown.
  virtual int64_t size() const = 0;
  // The whole content, size() bytes, for a file that holds it in memory and is open for reading:
  // readers then scan it in place instead of copying it out piece by piece. Null for other files
  // (and for an empty one). The bytes stay valid and unchanged while the file stays open for
  // reading; read() and position() go on as usual beside it.
  virtual const uint8_t* contentInMemory() const { return nullptr; }

  const String& path() const { return mPath; }
  void setPath(const String& path) { mPath = path; }

  // The system's error number (errno) of the last open, write or commit that failed, so that a
  // caller can say why; 0 when none failed or the file has no such number.
  virtual int lastError() const { return 0; }

  // Typed readers: read `count` values into `data`; `littleEndian` says the file's byte order.
  // Each returns the number of bytes read (count times the width when all arrived; 0 for a count
  // whose byte size does not fit in 64 bits).
  int64_t readUInt8(uint8_t* data, int64_t count = 1) { return read(data, count); }
  int64_t readUInt16(uint16_t* data, int64_t count, bool littleEndian);
  int64_t readUInt32(uint32_t* data, int64_t count, bool littleEndian);
  int64_t readFloat(float* data, int64_t count, bool littleEndian);
  int64_t readDouble(double* data, int64_t count, bool littleEndian);

  // Typed writers; each returns the number of bytes written.
  int64_t writeUInt8(uint8_t value) { return write(&value, 1); }
  int64_t writeUInt8(const uint8_t* data, int64_t count) { return write(data, count); }
  int64_t writeUInt16(uint16_t value, bool littleEndian);
  int64_t writeUInt32(uint32_t value, bool littleEndian);
  int64_t writeFloat(const float* data, int64_t count, bool littleEndian);
  int64_t writeDouble(double value, bool littleEndian);
  int64_t writeDouble(const double* data, int64_t count, bool littleEndian);

 private:
  int64_t readSwapped(void* data, int64_t count, int width, bool littleEndian);
  int64_t writeSwapped(const void* data, int64_t count, int width, bool littleEndian);

  String mPath;
};

// A file on disk. Reading reads the file at path(). Writing never touches the target until
// close(): the bytes go to a temporary file in the target's folder, and close() puts that in
// place of the target only when every write succeeded; otherwise, and when the DiskFile is
// abandoned or destroyed while still open for writing, the temporary goes and the previous file
// stays as it was. A replaced file keeps its permission bits; opening a folder for reading fails.
//
// Durability (POSIX systems): close() flushes the data to the device (fsync) before the temporary
// replaces the target, and the folder after the rename, so a crash or power loss leaves either the
// previous document or the whole new one, never a part. On Linux the temporary is an unnamed file
// (O_TMPFILE) that the system removes by itself whatever ends the process; at commit it is linked
// under a fresh name beside the target ("TARGET.zrtmp.N.R") and renamed over the target at once,
// so only a kill between those two calls can leave that name behind (holding the complete new
// document). Where unnamed files are not available (other systems, file systems that refuse them,
// no /proc) the temporary is that named file from the start, and a process killed while writing
// leaves it behind; the previous document is intact either way.
// The system's text for an error number ("No such file or directory"), safe from any thread.
ZRCORE_API std::string systemErrorMessage(int error);

//
// Reading (POSIX systems): a file open for reading hands its content to the readers in place
// (contentInMemory) through a read-only mapping of the file, made on the first request, so a load
// from a file in the page cache scans the cached pages instead of copying them into buffers.
// Files under 16 KiB, systems without mappings and mappings the system refuses fall back to
// read(). The size is taken when the file is opened and the mapping covers that many bytes. A
// mapped file must not shrink while it is being read: the system reports an access past its
// new end with a signal (SIGBUS) instead of a short read. Where other programs may truncate the
// documents being loaded, turn mappings off with setMappedReads(false).
class ZRCORE_API DiskFile : public VirtualFile {
  ZR_DECLARE_TYPE()
 public:
  explicit DiskFile(const String& path) : VirtualFile(path) {}
  ~DiskFile() override;

  // Whether files opened for reading from now on may map their content (on by default); any
  // thread may call it.
  static void setMappedReads(bool allowed);
  static bool mappedReads();

  bool open(EOpenMode mode) override;
  bool isOpen() const override { return mHandle != nullptr; }
  bool close() override;
  void abandon() override;
  int64_t read(void* data, int64_t count) override;
  int64_t write(const void* data, int64_t count) override;
  int64_t position() const override { return mPosition; }
  int64_t size() const override;
  int lastError() const override { return mLastError; }
  const uint8_t* contentInMemory() const override;
  // Whether the content handed out by contentInMemory is a mapping of the file.
  bool isMapped() const { return mMapped != nullptr; }

  // Whether later writes may use an unnamed temporary (on by default). Off, they take the named
  // fallback, as on a system without unnamed files; for tests of that path.
  void setUnnamedTemporaryAllowed(bool allowed) { mUnnamedAllowed = allowed; }
  // Whether the write in progress uses an unnamed temporary (false when not writing).
  bool writesUnnamedTemporary() const { return mWriting && mTemporaryPath.empty(); }

 protected:
  // For subclasses that detect a fault of their own while writing: the file then behaves as after
  // a failed write (close() returns false and keeps the previous file).
  void markWriteFailed() { mWriteFailed = true; }

 private:
  bool openForWriting();
  bool commit();
  void unmap();

  std::FILE* mHandle = nullptr;
  bool mWriting = false;
  bool mWriteFailed = false;
  bool mUnnamedAllowed = true;
  int mLastError = 0;
  int64_t mPosition = 0;
  std::string mTemporaryPath;  // the named temporary; empty for an unnamed one
  int64_t mReadSize = -1;      // the size when opened for reading, -1 when unknown
  bool mMayMap = false;        // whether contentInMemory may still try to map the file
  mutable const uint8_t* mMapped = nullptr;
  mutable bool mMapTried = false;
};

// A file over a byte buffer owned by the file. Opening for writing empties the buffer; the
// buffer survives close(), so a document written to a MemoryFile can be read back from it.
class ZRCORE_API MemoryFile : public VirtualFile {
  ZR_DECLARE_TYPE()
 public:
  explicit MemoryFile(const String& path = String("memory"));
  MemoryFile(std::vector<uint8_t> data, const String& path = String("memory"));

  bool open(EOpenMode mode) override;
  bool isOpen() const override { return mOpen; }
  bool close() override;
  int64_t read(void* data, int64_t count) override;
  int64_t write(const void* data, int64_t count) override;
  int64_t position() const override { return mPosition; }
  int64_t size() const override { return static_cast<int64_t>(mData.size()); }

  const uint8_t* contentInMemory() const override {
    return mOpen && !mWriting && !mData.empty() ? mData.data() : nullptr;
  }

  const std::vector<uint8_t>& data() const { return mData; }
  std::vector<uint8_t>& data() { return mData; }
  std::string text() const { return std::string(mData.begin(), mData.end()); }

 private:
  std::vector<uint8_t> mData;
  int64_t mPosition = 0;
  bool mOpen = false;
  bool mWriting = false;
};

// A read-only file over bytes the caller owns, for loading a document that is already in memory
// without copying it: the bytes must stay valid and unchanged while the view is used. Opening it
// for writing fails.
class ZRCORE_API MemoryView : public VirtualFile {
  ZR_DECLARE_TYPE()
 public:
  MemoryView(const void* data, size_t size, const String& path = String("memory"));

  bool open(EOpenMode mode) override;
  bool isOpen() const override { return mOpen; }
  bool close() override;
  int64_t read(void* data, int64_t count) override;
  int64_t write(const void*, int64_t) override { return 0; }
  int64_t position() const override { return mPosition; }
  int64_t size() const override { return static_cast<int64_t>(mSize); }
  const uint8_t* contentInMemory() const override { return mOpen && mSize ? mData : nullptr; }

 private:
  const uint8_t* mData;
  size_t mSize;
  int64_t mPosition = 0;
  bool mOpen = false;
};

// A DiskFile for `path` when a regular file exists there, null otherwise.
ZRCORE_API ref<VirtualFile> locateFile(const String& path);

}  // namespace zr
