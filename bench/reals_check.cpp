// reals_check: proves on a large sample of doubles that every real the ZRT writer writes reads
// back bit for bit through the ZRT reader, and that the writer keeps the six-decimal form exactly
// when that form reads back as the same double.
//
//   reals_check [COUNT]   (default 100000000)
//
// The doubles come in batches of 4096 of one kind, each value negated half of the time: random
// bit patterns (every exponent; NaN and infinities drawn again), values of at most six decimals,
// their neighbours one to three steps away, subnormals, huge values (2^33 and up), the range
// where six decimals stop being enough (2^20 to 2^53), binary fractions with a seventh decimal
// (exact ties at the seventh decimal among them), short decimals (1 to 17 digits at any decimal
// exponent, 0.1234567 or 1e-300 say), and random mantissas at small exponents.
//
// Each batch is written as one document by zrX::writeStructures, once as is (a real array and a
// list of single reals holding the batch) and once in the six-decimal mode (the array), and both
// texts are read back by zrX::readDocument. For every value:
//  - the array element and the single value read back bit for bit;
//  - the six-decimal mode's text reads back as the value (the reader decides) exactly when the
//    writer wrote that same text;
//  - any other text carries the fewest significant digits: the two decimals of one digit fewer
//    around it read back as other doubles;
//  - and it is laid out by the rule: a plain decimal when its decimal exponent is at least -6,
//    else one digit, a point, digits, "e", a sign, the exponent.
// Prints the figures per kind (values, six-decimal texts, formatReal's and formatFixed6's time per
// value), the count of failures and the first few; exit status 1 on any failure.
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "zrCore/VirtualFile.hpp"
#include "zrX/Document.hpp"
#include "zrX/NumberFormat.hpp"

namespace {

constexpr size_t kBatch = 4096;

const char* const kKindNames[] = {"random bits",      "six decimals",   "next to six decimals",
                                  "subnormal",        "2^33 and up",    "2^20 to 2^53",
                                  "binary fractions", "short decimals", "small exponents"};
constexpr int kKinds = sizeof kKindNames / sizeof kKindNames[0];

uint64_t bitsOf(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

double fromBits(uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

double draw(int kind, std::mt19937_64& random) {
  switch (kind) {
    case 0:
      for (;;) {
        const double value = fromBits(random());
        if (std::isfinite(value)) return value;
      }
    case 1:
    case 2: {
      // k millionths, k of 1 to 16 digits (below 2^53, so k itself is exact).
      const uint64_t limit = uint64_t{10} << (random() % 50);
      const double value = static_cast<double>(random() % limit) / 1e6;
      if (kind == 1) return value;
      double near = value;
      const bool up = random() & 1;
      for (int steps = 1 + static_cast<int>(random() % 3); steps > 0; --steps)
        near = std::nextafter(near, up ? INFINITY : 0.0);
      return near;
    }
    case 3:
      return fromBits((random() & ((uint64_t{1} << 52) - 1)) >> (random() % 53));
    case 4:
      return fromBits((random() & ((uint64_t{1} << 52) - 1)) |
                      static_cast<uint64_t>(1023 + 33 + random() % (2047 - 1023 - 33)) << 52);
    case 5:
      return fromBits((random() & ((uint64_t{1} << 52) - 1)) |
                      static_cast<uint64_t>(1023 + 20 + random() % 33) << 52);
    case 6: {
      // An odd number of 2^-k, k from 7 (a 5 as the seventh decimal: a tie) to 40.
      const int k = 7 + static_cast<int>(random() % 34);
      const uint64_t odd = ((random() >> (random() % 40)) | 1) & ((uint64_t{1} << 52) - 1);
      return std::ldexp(static_cast<double>(odd), -k);
    }
    case 7: {
      char text[48];
      const int digits = 1 + static_cast<int>(random() % 17);
      uint64_t mantissa = random() % 100000000000000000ull;
      for (int i = digits; i < 17; ++i) mantissa /= 10;
      const int exponent = static_cast<int>(random() % 345) - 325;
      const int length = std::snprintf(text, sizeof text, "%llue%d",
                                       static_cast<unsigned long long>(mantissa), exponent);
      double value = 0;
      std::from_chars(text, text + length, value);
      return value;
    }
    default:
      return std::ldexp(static_cast<double>(random() >> 11), -static_cast<int>(random() % 90));
  }
}

// Writes `values` as a real array "a" and, unless `sixDecimals`, as a list "s" of single reals.
std::vector<uint8_t> writeBatch(const std::vector<double>& values, bool sixDecimals) {
  zr::ref<zrX::ZRXStructure> batch = new zrX::ZRXStructure("<Batch>");
  zr::ref<zrX::ZRXArrayReal> array = new zrX::ZRXArrayReal();
  array->value() = values;
  *batch << "a" << zrX::ZRXValue::makeArray(array.get());
  if (!sixDecimals) {
    zr::ref<zrX::ZRXList> list = new zrX::ZRXList();
    for (double value : values) list->value().push_back(zrX::ZRXValue::makeReal(value));
    *batch << "s" << zrX::ZRXValue::makeList(list.get());
  }
  zr::ref<zr::MemoryFile> file = new zr::MemoryFile;
  zrX::WriteOptions options;
  options.sixDecimalReals = sixDecimals;
  const zrX::WriteResult result =
      zrX::writeStructures(file.get(), zrX::Format::ZRT, {batch}, options);
  if (!result.ok()) {
    std::printf("write refused: %s\n", result.message.c_str());
    std::exit(2);
  }
  return file->data();
}

// What the reader makes of a written batch: the array and, if there, the list of single values.
struct ReadBack {
  std::vector<double> array;
  std::vector<double> singles;
};

ReadBack readBatch(const std::vector<uint8_t>& text) {
  zr::ref<zr::MemoryFile> file = new zr::MemoryFile(text);
  zrX::Document document;
  if (zrX::readDocument(file.get(), zrX::Format::ZRT, document) != zrX::ReadStatus::Ok ||
      document.structures().size() != 1) {
    std::printf("the reader refused a written batch\n");
    std::exit(2);
  }
  ReadBack back;
  for (const auto& entry : document.structures()[0]->value()) {
    const zrX::ZRXValue& value = entry.value();
    if (entry.key() == "a" && value.type() == zrX::ZRXValue::ArrayReal) {
      back.array = value.getArrayReal()->value();
    } else if (entry.key() == "s" && value.type() == zrX::ZRXValue::List) {
      for (const zrX::ZRXValue& single : value.getList()->value())
        back.singles.push_back(single.type() == zrX::ZRXValue::Real ? single.getReal() : NAN);
    }
  }
  return back;
}

// The texts of the array's elements, in order, from the line "\ta = ( ... )".
std::vector<std::string_view> arrayTexts(const std::vector<uint8_t>& text) {
  const std::string_view all(reinterpret_cast<const char*>(text.data()), text.size());
  std::vector<std::string_view> texts;
  const size_t open = all.find("a = ( ");
  const size_t close = all.find(" )\n", open);
  if (open == std::string_view::npos || close == std::string_view::npos) return texts;
  for (size_t at = open + 6; at <= close;) {
    const size_t space = all.find(' ', at);
    texts.push_back(all.substr(at, space - at));
    at = space + 1;
  }
  return texts;
}

// Reads `text` with std::from_chars (the reader's own conversion for every number it does not
// take in one exact step); NaN when it does not read whole.
double fromText(std::string_view text) {
  double value = NAN;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size() ? value : NAN;
}

// Checks a text other than the six-decimal one: its layout and that it has the fewest digits.
// Returns what is wrong, or an empty string.
std::string checkShortest(std::string_view text, double value) {
  std::string_view rest = text;
  if (!rest.empty() && rest[0] == '-') rest.remove_prefix(1);
  const size_t e = rest.find('e');
  const std::string_view mantissa = rest.substr(0, e);
  const size_t point = mantissa.find('.');
  if (point == std::string_view::npos || point == 0 || point + 1 == mantissa.size())
    return "no digits on both sides of a point";
  int exponentPart = 0;
  if (e != std::string_view::npos) {
    const std::string_view exponent = rest.substr(e + 1);
    if (exponent.size() < 2 || (exponent[0] != '-' && exponent[0] != '+')) return "bad exponent";
    std::from_chars(exponent.data() + (exponent[0] == '+'), exponent.data() + exponent.size(),
                    exponentPart);
    if (point != 1 || mantissa[0] == '0') return "exponent form without one leading digit";
  }
  // The significant digits and the decimal exponent of the first one.
  std::string digits;
  int firstAt = 0;  // position of the first significant digit relative to the point
  for (size_t i = 0; i < mantissa.size(); ++i) {
    if (mantissa[i] == '.') continue;
    if (digits.empty() && mantissa[i] == '0') continue;
    if (digits.empty())
      firstAt = static_cast<int>(point) - static_cast<int>(i) - (i < point ? 1 : 0);
    digits += mantissa[i];
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  if (digits.empty()) return "no significant digit";
  const int decimalExponent = firstAt + exponentPart;
  const bool plain = e == std::string_view::npos;
  if (plain != (decimalExponent >= zrX::kPlainFromExponent))
    return "layout does not follow the rule for decimal exponent " +
           std::to_string(decimalExponent);
  if (digits.size() == 1) return "";
  // The decimals of one digit fewer on both sides of the text.
  const std::string shorter = digits.substr(0, digits.size() - 1);
  uint64_t down = 0;
  std::from_chars(shorter.data(), shorter.data() + shorter.size(), down);
  const int scale = decimalExponent - static_cast<int>(shorter.size()) + 1;
  for (uint64_t candidate : {down, down + 1}) {
    const std::string other = std::to_string(candidate) + "e" + std::to_string(scale);
    const double back = fromText(other);
    if (bitsOf(std::fabs(value)) == bitsOf(back))
      return "not the shortest: " + other + " reads back";
  }
  return "";
}

struct Figures {
  long long values = 0;
  long long sixDecimal = 0;
  double realSeconds = 0;
  double fixedSeconds = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const long long count = argc > 1 ? std::atoll(argv[1]) : 100000000LL;
  std::mt19937_64 random(20261211);
  Figures figures[kKinds];
  long long failures = 0;
  auto fail = [&](double value, const std::string& what) {
    if (failures++ < 12)
      std::printf("failure at %.17g (bits %016llx): %s\n", value,
                  static_cast<unsigned long long>(bitsOf(value)), what.c_str());
  };
  std::vector<double> values(kBatch);
  std::vector<char> buffer(kBatch * (zrX::kMaxNumberText + 1));
  const auto start = std::chrono::steady_clock::now();
  long long done = 0;
  for (long long batch = 0; done < count; ++batch) {
    const int kind = static_cast<int>(batch % kKinds);
    const size_t n = static_cast<size_t>(std::min<long long>(kBatch, count - done));
    values.resize(n);
    for (double& value : values) {
      value = draw(kind, random);
      if (random() & 1) value = -value;
    }
    done += static_cast<long long>(n);
    Figures& f = figures[kind];
    f.values += static_cast<long long>(n);

    // The formatters alone, over the batch.
    auto t0 = std::chrono::steady_clock::now();
    char* p = buffer.data();
    for (double value : values) *(p = zrX::formatReal(value, p))++ = ' ';
    auto t1 = std::chrono::steady_clock::now();
    p = buffer.data();
    for (double value : values) *(p = zrX::formatFixed6(value, p))++ = ' ';
    auto t2 = std::chrono::steady_clock::now();
    f.realSeconds += std::chrono::duration<double>(t1 - t0).count();
    f.fixedSeconds += std::chrono::duration<double>(t2 - t1).count();

    const std::vector<uint8_t> exactText = writeBatch(values, false);
    const std::vector<uint8_t> fixedText = writeBatch(values, true);
    const ReadBack exact = readBatch(exactText);
    const ReadBack fixed = readBatch(fixedText);
    const std::vector<std::string_view> exactTexts = arrayTexts(exactText);
    const std::vector<std::string_view> fixedTexts = arrayTexts(fixedText);
    if (exact.array.size() != n || exact.singles.size() != n || fixed.array.size() != n ||
        exactTexts.size() != n || fixedTexts.size() != n) {
      fail(values[0], "a batch came back with another number of values");
      continue;
    }
    for (size_t i = 0; i < n; ++i) {
      const double value = values[i];
      const uint64_t bits = bitsOf(value);
      if (bitsOf(exact.array[i]) != bits) fail(value, "array element read back differently");
      if (bitsOf(exact.singles[i]) != bits) fail(value, "single value read back differently");
      const bool sixDecimalsExact = bitsOf(fixed.array[i]) == bits;
      const bool sixDecimalsWritten = exactTexts[i] == fixedTexts[i];
      if (sixDecimalsExact != sixDecimalsWritten) {
        fail(value, std::string(sixDecimalsExact ? "six decimals exact but not written: "
                                                 : "six decimals written but not exact: ") +
                        std::string(exactTexts[i]));
      }
      if (sixDecimalsWritten) {
        ++f.sixDecimal;
      } else {
        const std::string wrong = checkShortest(exactTexts[i], value);
        if (!wrong.empty()) fail(value, std::string(exactTexts[i]) + ": " + wrong);
      }
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::printf("%-22s %12s %12s %14s %14s\n", "kind", "values", "six-decimal", "formatReal ns",
              "formatFixed6 ns");
  Figures all;
  for (int kind = 0; kind < kKinds; ++kind) {
    const Figures& f = figures[kind];
    if (f.values == 0) continue;
    std::printf("%-22s %12lld %12lld %14.1f %14.1f\n", kKindNames[kind], f.values, f.sixDecimal,
                f.realSeconds * 1e9 / static_cast<double>(f.values),
                f.fixedSeconds * 1e9 / static_cast<double>(f.values));
    all.values += f.values;
    all.sixDecimal += f.sixDecimal;
    all.realSeconds += f.realSeconds;
    all.fixedSeconds += f.fixedSeconds;
  }
  std::printf("%-22s %12lld %12lld %14.1f %14.1f\n", "all", all.values, all.sixDecimal,
              all.realSeconds * 1e9 / static_cast<double>(all.values),
              all.fixedSeconds * 1e9 / static_cast<double>(all.values));
  std::printf("%lld doubles written and read back in %.0f s, %lld failures\n", all.values, seconds,
              failures);
  return failures == 0 ? 0 : 1;
}
