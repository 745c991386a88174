#include "zrCore/String.hpp"

#include <charconv>
#include <cstdarg>
#include <cstdio>

namespace zr {

String String::fromStdString(const std::string& text, bool /*copy*/) { return String(text); }

bool String::startsWith(const String& prefix) const {
  return mText.compare(0, prefix.mText.size(), prefix.mText) == 0 &&
         mText.size() >= prefix.mText.size();
}

bool String::endsWith(const String& suffix) const {
  return mText.size() >= suffix.mText.size() &&
         mText.compare(mText.size() - suffix.mText.size(), suffix.mText.size(), suffix.mText) == 0;
}

String String::right(int n) const {
  const size_t size = mText.size();
  if (n >= 0) {
    const size_t keep = static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size;
    return String(mText.substr(size - keep));
  }
  const size_t skip = static_cast<size_t>(-static_cast<long long>(n));
  return skip >= size ? String() : String(mText.substr(skip));
}

String String::extractPath() const {
  const size_t slash = mText.find_last_of("/\\");
  return slash == std::string::npos ? String() : String(mText.substr(0, slash + 1));
}

String& String::normalizeSlashes() {
  std::string out;
  out.reserve(mText.size());
  for (char c : mText) {
    if (c == '\\') c = '/';
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  mText.swap(out);
  return *this;
}

String String::printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (needed > 0) {
    text.resize(static_cast<size_t>(needed));
    std::vsnprintf(&text[0], text.size() + 1, format, args);
  }
  va_end(args);
  return String(std::move(text));
}

Say& Say::operator<<(long long value) {
  mArguments.push_back({false, false, value, std::string()});
  return *this;
}

Say& Say::operator<<(unsigned long long value) {
  mArguments.push_back({false, true, static_cast<long long>(value), std::string()});
  return *this;
}

Say& Say::operator<<(const char* text) {
  mArguments.push_back({true, false, 0, text ? text : ""});
  return *this;
}

Say& Say::operator<<(const std::string& text) {
  mArguments.push_back({true, false, 0, text});
  return *this;
}

String Say::str() const {
  std::string out;
  out.reserve(mFormat.size() + 16 * mArguments.size());
  size_t next = 0;
  for (size_t i = 0; i < mFormat.size(); ++i) {
    const char c = mFormat[i];
    const char kind = i + 1 < mFormat.size() ? mFormat[i + 1] : '\0';
    if (c != '%' || (kind != 'n' && kind != 's' && kind != 'c') || next >= mArguments.size()) {
      out += c;
      continue;
    }
    const Argument& argument = mArguments[next++];
    ++i;
    if (argument.isText) {
      out += argument.text;
    } else if (kind == 'c') {
      out += static_cast<char>(argument.number);
    } else {
      char digits[24];
      const auto result = argument.isUnsigned
                              ? std::to_chars(digits, digits + sizeof digits,
                                              static_cast<unsigned long long>(argument.number))
                              : std::to_chars(digits, digits + sizeof digits, argument.number);
      out.append(digits, result.ptr);
    }
  }
  return String(std::move(out));
}

void appendEscaped(std::string& out, std::string_view text, char quote, bool escapeHighBytes) {
  static const char kHex[] = "0123456789abcdef";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == quote) {
      out += '\\';
      out += c;
      continue;
    }
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F || (escapeHighBytes && byte > 0x7F)) {
          out += "\\x";
          out += kHex[byte >> 4];
          out += kHex[byte & 0xF];
        } else {
          out += c;
        }
    }
  }
}

std::string messageText(std::string_view text, size_t limit) {
  const size_t shown = text.size() > limit ? limit : text.size();
  std::string out;
  out.reserve(shown + 16);
  appendEscaped(out, text.substr(0, shown), '\'', true);
  if (shown < text.size()) out += "...[" + std::to_string(text.size()) + " bytes]";
  return out;
}

std::string messageText(char c) { return messageText(std::string_view(&c, 1)); }

}  // namespace zr
