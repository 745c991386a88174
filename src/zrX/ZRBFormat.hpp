// ZRBFormat: the constants and the integer codec of the ZRB binary format, shared by its writer
// (VisitorExportToZRB) and its reader (ParserZRB).
//
// A ZRB file is a 21-byte header (magic, version 101 as unsigned 16-bit, the encoding name
// "ascii" ended by a 0 byte, a 32-bit word written 0) followed by top-level structure chunks up to
// the end of the file. Numbers are little-endian, nothing is aligned.
//
// Integers are 1 to 10 bytes, least significant group first: the first byte holds the
// continuation bit (0x80), the sign (0x40) and the low six bits of the magnitude; each further
// byte the continuation bit and seven more bits. Every signed 64-bit value has an encoding: the
// magnitude of -2^63 takes the ten-byte form C0 80 80 80 80 80 80 80 80 02.
//
// Pure functions and constants; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace zrX {

// One unsigned byte before every chunk; each code stands for one kind of value.
enum ChunkCode : uint8_t {
  ChunkStructure = 1,
  ChunkList = 2,
  ChunkArrayRealDouble = 3,
  ChunkArrayRealFloat = 4,
  ChunkArrayInteger = 5,
  ChunkRawtextBlock = 6,
  ChunkString = 7,
  ChunkIdentifier = 8,
  ChunkID = 9,
  ChunkReal = 10,
  ChunkInteger = 11,
  ChunkBool = 12,
};

// The first nine bytes of every ZRB file.
constexpr uint8_t kZRBMagic[9] = {0xAB, 0x5A, 0x52, 0x58, 0xBB, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr int kZRBHeaderSize = 21;
// The longest integer encoding.
constexpr int kZRBMaxIntegerBytes = 10;

// The magnitude of `value` in unsigned arithmetic, without a branch: -2^63 gives 2^63.
inline uint64_t zrbMagnitude(int64_t value) {
  const uint64_t sign = value < 0 ? ~uint64_t{0} : 0;  // compiles to a shift, no branch
  return (static_cast<uint64_t>(value) ^ sign) - sign;
}

namespace detail {

// Encoded size by the count of leading zero bits of the magnitude (never 0 here, so at most 63
// zeros): one byte up to six significant bits, then one more per started group of seven.
struct ZRBSizeTable {
  uint8_t size[64];
  constexpr ZRBSizeTable() : size{} {
    for (int zeros = 0; zeros < 64; ++zeros)
      size[zeros] = static_cast<uint8_t>(1 + (64 - zeros) / 7);
  }
};
constexpr ZRBSizeTable kZRBSizes;

inline int leadingZeros(uint64_t bits) {  // bits != 0
#if defined(__GNUC__)
  return __builtin_clzll(bits);
#else
  int zeros = 0;
  for (uint64_t probe = uint64_t{1} << 63; !(bits & probe); probe >>= 1) ++zeros;
  return zeros;
#endif
}

}  // namespace detail

// The number of bytes encodeZRBInteger writes for `value`: one byte below 2^6, then one more per
// started group of seven bits.
inline int zrbIntegerSize(int64_t value) {
  // 0 and 1 both take one byte; a table instead of a division keeps the writer's sizing pass
  // over a large array short.
  return detail::kZRBSizes.size[detail::leadingZeros(zrbMagnitude(value) | 1)];
}

// Writes the encoding of `value` at `out` (room for kZRBMaxIntegerBytes) and returns the end.
// (A branch-free form that stores a whole word at once measured slower on index arrays, whose
// lengths repeat and so predict well.)
inline uint8_t* encodeZRBInteger(int64_t value, uint8_t* out) {
  uint64_t magnitude = zrbMagnitude(value);
  uint8_t first = static_cast<uint8_t>((value < 0 ? 0x40 : 0x00) | (magnitude & 0x3F));
  magnitude >>= 6;
  if (magnitude) first |= 0x80;
  *out++ = first;
  while (magnitude) {
    uint8_t next = static_cast<uint8_t>(magnitude & 0x7F);
    magnitude >>= 7;
    if (magnitude) next |= 0x80;
    *out++ = next;
  }
  return out;
}

enum class ZRBDecode { Ok, Truncated, Malformed };

// Decodes one integer from [p, limit). On Ok stores it in `value`; `*next` is always set past the
// bytes looked at. Truncated: the bytes ran out with the continuation bit set. Malformed: more
// than ten bytes, or a magnitude above 2^63, or 2^63 without the sign. Never shifts by 64 or more.
// A negative zero (41 or longer forms) and non-minimal forms are read as their value.
inline ZRBDecode decodeZRBInteger(const uint8_t* p, const uint8_t* limit, int64_t* value,
                                  const uint8_t** next) {
  if (p >= limit) {
    *next = p;
    return ZRBDecode::Truncated;
  }
  uint8_t byte = *p++;
  const bool negative = (byte & 0x40) != 0;
  uint64_t magnitude = byte & 0x3F;
  int shift = 6;
  while (byte & 0x80) {
    if (p >= limit) {
      *next = p;
      return ZRBDecode::Truncated;
    }
    byte = *p++;
    if (shift == 62) {
      // The tenth byte holds bit 62 and bit 63 only, and ends the encoding.
      if (byte > 2 || (byte == 2 && (magnitude != 0 || !negative))) {
        *next = p;
        return ZRBDecode::Malformed;
      }
      if (byte == 2) {
        *next = p;
        *value = std::numeric_limits<int64_t>::min();
        return ZRBDecode::Ok;
      }
      magnitude |= static_cast<uint64_t>(byte) << 62;
      break;
    }
    magnitude |= static_cast<uint64_t>(byte & 0x7F) << shift;
    shift += 7;
  }
  *next = p;
  // magnitude < 2^63 here, so the negation cannot overflow.
  *value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  return ZRBDecode::Ok;
}

}  // namespace zrX
