// zr::String, the core text type (bytes, no encoding), and zr::Say, the message formatter.
//
// Say is built from a format text and fed arguments with <<; converting it to a String fills the
// placeholders in order: "%n" an integer in decimal, "%s" a text, "%c" a character given as an
// integer code. Any other "%" stands for itself, and so does a placeholder left over when the
// arguments have run out; arguments beyond the placeholders are dropped. A text argument fills
// any placeholder with its text, a number fills "%s" with its decimal digits. Both are values:
// no sharing, no locks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zrCore/Export.hpp"

namespace zr {

// How much of a text from a file a message quotes.
constexpr size_t kMessageTextLimit = 64;

class ZRCORE_API String {
 public:
  String() = default;
  String(const char* text) : mText(text ? text : "") {}
  String(const char* text, size_t length) : mText(text, length) {}
  String(std::string text) : mText(std::move(text)) {}

  // `copy` is accepted for compatibility; a String always owns its bytes.
  static String fromStdString(const std::string& text, bool copy = true);
  const std::string& toStdString() const { return mText; }
  const char* c_str() const { return mText.c_str(); }
  size_t length() const { return mText.size(); }
  bool empty() const { return mText.empty(); }

  bool startsWith(const String& prefix) const;
  bool endsWith(const String& suffix) const;
  // right(n): the last n characters for n >= 0; for n < 0, all but the first -n characters.
  String right(int n) const;
  // The folder part of a path, up to and including its last '/' or '\\'; empty without one. A
  // file name appended to it directly gives a path in that folder.
  String extractPath() const;
  // Turns backslashes into slashes and folds runs of slashes into one; returns *this.
  String& normalizeSlashes();

  // printf-style formatting into a new String (any length).
  static String printf(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 1, 2)))
#endif
      ;

  String operator+(const String& other) const { return String(mText + other.mText); }
  String& operator+=(const String& other) {
    mText += other.mText;
    return *this;
  }
  bool operator==(const String& other) const { return mText == other.mText; }
  bool operator!=(const String& other) const { return mText != other.mText; }
  bool operator<(const String& other) const { return mText < other.mText; }

 private:
  std::string mText;
};

class ZRCORE_API Say {
 public:
  explicit Say(const String& format) : mFormat(format.toStdString()) {}
  explicit Say(const char* format) : mFormat(format ? format : "") {}

  Say& operator<<(long long value);
  Say& operator<<(long value) { return *this << static_cast<long long>(value); }
  Say& operator<<(int value) { return *this << static_cast<long long>(value); }
  Say& operator<<(unsigned value) { return *this << static_cast<long long>(value); }
  // Sizes and counts (size_t, uint64_t) print in full, also above the signed range.
  Say& operator<<(unsigned long value) { return *this << static_cast<unsigned long long>(value); }
  Say& operator<<(unsigned long long value);
  Say& operator<<(char value) {
    return *this << static_cast<long long>(static_cast<unsigned char>(value));
  }
  Say& operator<<(const char* text);
  Say& operator<<(const std::string& text);
  Say& operator<<(const String& text) { return *this << text.toStdString(); }

  String str() const;
  operator String() const { return str(); }

 private:
  struct Argument {
    bool isText;
    bool isUnsigned;  // `number` holds the bits of an unsigned long long
    long long number;
    std::string text;
  };
  std::string mFormat;
  std::vector<Argument> mArguments;
};

// Appends `text` to `out` as one line of plain text: control bytes, 0x7F, the backslash and
// `quote` become escapes (\n \r \t \\, a backslash before the quote, \xHH for the rest), and so
// do bytes from 0x80 up when `escapeHighBytes` (otherwise they pass, so UTF-8 stays readable).
ZRCORE_API void appendEscaped(std::string& out, std::string_view text, char quote,
                              bool escapeHighBytes);

// Text from a file as a message quotes it: control bytes, bytes from 0x7F up, the backslash and
// the quote character "'" are written as escapes (\n \r \t \\ \' and \xHH for the rest), so a
// message stays one line of plain text whatever the file holds; a text longer than `limit` bytes
// is cut there and marked "...[N bytes]" with its whole length. Printable text passes unchanged.
ZRCORE_API std::string messageText(std::string_view text, size_t limit = kMessageTextLimit);
// The same for one character.
ZRCORE_API std::string messageText(char c);

}  // namespace zr
