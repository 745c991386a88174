// Progress of the zrx tool on long reads: a line on standard error, redrawn in place, with the
// bytes read of the file's size, the rate and the time left, for a document that is big (over
// 50 MB) or slow (still being read after a second). It is shown only while standard error is a
// terminal, so scripts and logs stay clean, and the line is cleared when the reading ends.
//
// The figures come from the reader itself: ProgressFile wraps the document's file and reports how
// far the parser has read, at every read the parser makes. One thread; one meter at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "zrX/zrX.hpp"

namespace zrxtool {

class ProgressMeter {
 public:
  // `name` labels the line; `size` is the file's size in bytes.
  ProgressMeter(const std::string& name, int64_t size);
  // Clears the line if one was drawn.
  ~ProgressMeter();
  ProgressMeter(const ProgressMeter&) = delete;
  ProgressMeter& operator=(const ProgressMeter&) = delete;

  // The reader has reached byte `position` of the file; redraws at most four times a second.
  void update(int64_t position);
  // Removes the line from the terminal (when drawn); the next update may draw it again.
  void clear();

  // Clears the line of the meter in use, if any, so that a message can be written to standard
  // error on a line of its own.
  static void clearActive();

  // The text of the line for `read` bytes of `size` after `seconds` (0: no rate yet), cut to
  // `width` columns: "NAME: 12.5 of 51.0 MB (24%), 70.1 MB/s, 0:01 left".
  static std::string line(const std::string& name, int64_t read, int64_t size, double seconds,
                          size_t width);

 private:
  std::string mName;
  int64_t mSize;
  bool mEnabled;  // standard error is a terminal
  bool mDrawn = false;
  std::chrono::steady_clock::time_point mStart, mLastDraw;
};

// A file that tells a meter how far it has been read, passing everything else to the file it
// wraps (which it holds a reference on, as it does the meter's lifetime: the meter must outlive
// the wrapper's reads).
class ProgressFile : public zr::VirtualFile {
 public:
  ProgressFile(zr::VirtualFile* file, ProgressMeter* meter)
      : VirtualFile(file->path()), mFile(file), mMeter(meter) {}

  bool open(EOpenMode mode) override { return mFile->open(mode); }
  bool isOpen() const override { return mFile->isOpen(); }
  bool close() override { return mFile->close(); }
  void abandon() override { mFile->abandon(); }
  int64_t read(void* data, int64_t count) override {
    const int64_t got = mFile->read(data, count);
    if (mMeter) mMeter->update(mFile->position());
    return got;
  }
  int64_t write(const void* data, int64_t count) override { return mFile->write(data, count); }
  int64_t position() const override { return mFile->position(); }
  int64_t size() const override { return mFile->size(); }

 private:
  zr::ref<zr::VirtualFile> mFile;
  ProgressMeter* mMeter;
};

}  // namespace zrxtool
