// Text helpers of the zrx tool: strict UTF-8 validation, base64, JSON string escaping, the tool's
// rendering of reals, and quoting of file content for one-line messages.
//
// Pure functions over bytes; safe from any thread.
#pragma once

#include <cstddef>
#include <string>

namespace zrxtool {

// True when `text` is well-formed UTF-8: no stray continuation bytes, no overlong forms, no
// surrogates (U+D800..U+DFFF), nothing above U+10FFFF. Such text survives any JSON parser's
// decoding and encoding unchanged; other bytes need base64.
bool isUtf8(const std::string& text);

// Base64 with the standard alphabet and "=" padding (RFC 4648).
std::string base64Encode(const std::string& bytes);
// False for anything but canonical base64: a length that is not a multiple of 4, a byte outside
// the alphabet, padding anywhere but at the end, or padding bits that are not zero.
bool base64Decode(const std::string& text, std::string* bytes);

// Appends `text` (well-formed UTF-8) as a JSON string literal: quotes, backslash and control
// characters escaped ("\n", "\t", "\u0000", ...), DEL as "\u007f", everything else as it is.
void appendJsonString(std::string& out, const std::string& text);

// A real as the tool writes it: the shortest text that reads back to the same double, always
// with a decimal point or an exponent ("1.0", "-0.0", "0.1", "1e+300"), so it never reads as an
// integer. Not for NaN or infinities: those give "nan", "inf" and "-inf".
std::string formatReal(double value);

// `text` for a one-line message: backslash, double quote and every byte outside printable ASCII
// escaped ("\n", "\t", "\x00", "\xc3"); a text longer than `limit` bytes is cut to its first
// `limit` bytes, with "..." after the escaped part. The result is plain printable ASCII.
std::string safeText(const std::string& text, size_t limit = 60);

}  // namespace zrxtool
