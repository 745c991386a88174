#include "Text.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "zrCore/String.hpp"

namespace zrxtool {

namespace {

const char kHex[] = "0123456789abcdef";
const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Digit(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

bool isUtf8(const std::string& text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* end = p + text.size();
  while (p < end) {
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    // The second byte's range depends on the first (Unicode table 3-7): that excludes overlong
    // forms, surrogates and code points beyond U+10FFFF.
    int length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (end - p < length) return false;
    if (p[1] < low || p[1] > high) return false;
    for (int i = 2; i < length; ++i)
      if (p[i] < 0x80 || p[i] > 0xBF) return false;
    p += length;
  }
  return true;
}

std::string base64Encode(const std::string& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t group = uint32_t{p[i]} << 16 | uint32_t{p[i + 1]} << 8 | p[i + 2];
    out += kBase64[group >> 18];
    out += kBase64[(group >> 12) & 63];
    out += kBase64[(group >> 6) & 63];
    out += kBase64[group & 63];
  }
  if (i + 1 == bytes.size()) {
    const uint32_t group = uint32_t{p[i]} << 16;
    out += kBase64[group >> 18];
    out += kBase64[(group >> 12) & 63];
    out += "==";
  } else if (i + 2 == bytes.size()) {
    const uint32_t group = uint32_t{p[i]} << 16 | uint32_t{p[i + 1]} << 8;
    out += kBase64[group >> 18];
    out += kBase64[(group >> 12) & 63];
    out += kBase64[(group >> 6) & 63];
    out += '=';
  }
  return out;
}

bool base64Decode(const std::string& text, std::string* bytes) {
  bytes->clear();
  if (text.size() % 4 != 0) return false;
  bytes->reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int digits[4];
    int padding = 0;
    for (int k = 0; k < 4; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      if (c == '=' && last && k >= 2) {
        digits[k] = 0;
        ++padding;
        continue;
      }
      if (padding > 0) return false;  // a digit after "="
      digits[k] = base64Digit(c);
      if (digits[k] < 0) return false;
    }
    const uint32_t group =
        static_cast<uint32_t>(digits[0] << 18 | digits[1] << 12 | digits[2] << 6 | digits[3]);
    // Canonical form only: the bits that padding leaves unused must be zero.
    if ((padding == 1 && (group & 0xFF) != 0) || (padding == 2 && (group & 0xFFFF) != 0))
      return false;
    *bytes += static_cast<char>(group >> 16);
    if (padding < 2) *bytes += static_cast<char>((group >> 8) & 0xFF);
    if (padding < 1) *bytes += static_cast<char>(group & 0xFF);
  }
  return true;
}

void appendJsonString(std::string& out, const std::string& text) {
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          out += "\\u00";
          out += kHex[byte >> 4];
          out += kHex[byte & 15];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

std::string formatReal(double value) {
  char digits[64];
  const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  std::string out(static_cast<const char*>(digits), end);
  if (std::isfinite(value) && out.find_first_of(".e") == std::string::npos) out += ".0";
  return out;
}

std::string safeText(const std::string& text, size_t limit) {
  const bool cut = text.size() > limit;
  std::string out;
  out.reserve((cut ? limit : text.size()) + 8);
  zr::appendEscaped(out, std::string_view(text).substr(0, cut ? limit : text.size()), '"', true);
  if (cut) out += "...";
  return out;
}

}  // namespace zrxtool
