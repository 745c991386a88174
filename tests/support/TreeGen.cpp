#include "support/TreeGen.hpp"

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <string>

namespace zrtest {

using zrX::ZRXArrayInteger;
using zrX::ZRXArrayReal;
using zrX::ZRXList;
using zrX::ZRXRawtextBlock;
using zrX::ZRXStructure;
using zrX::ZRXValue;

TreeGenOptions TreeGenOptions::textSafe(uint32_t seed) {
  TreeGenOptions options;
  options.seed = seed;
  options.validNames = true;
  options.anyBytes = false;
  options.nonFiniteReals = false;
  options.sixDecimalReals = true;
  options.emptyRealArrays = false;
  options.tagsOnEmptyLists = false;
  options.rawtextSpecials = false;
  options.unreferencedIDs = false;
  return options;
}

namespace {

const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_";
const char kNameChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_0123456789";

bool reservedName(const std::string& name) {
  if (name == "_" || name == "true" || name == "false") return true;
  // "ID" in any letter case is the ID member of the text format.
  return name.size() == 2 && (name[0] == 'i' || name[0] == 'I') &&
         (name[1] == 'd' || name[1] == 'D');
}

class Generator {
 public:
  explicit Generator(const TreeGenOptions& options) : mOptions(options), mRandom(options.seed) {}

  std::vector<zr::ref<ZRXStructure>> document() {
    std::vector<zr::ref<ZRXStructure>> roots;
    const int count = std::max(1, mOptions.topLevelStructures);
    for (int i = 0; i < count; ++i) {
      zr::ref<ZRXStructure> root(new ZRXStructure);
      root->setTag(tag(true));
      roots.push_back(root);
      mRoots.push_back(root.get());
      fillStructure(root.get(), 1);
      mAllByRoot.push_back(mAll.size());
    }
    resolveReferences();
    return roots;
  }

 private:
  // Where an ID value waits for its target: element `index` of a list or entry `index` of a
  // structure (indices stay valid while containers grow).
  struct Pending {
    ZRXStructure* structure;
    ZRXList* list;
    size_t index;
    size_t root;  // the top-level structure it lies in
  };

  uint64_t next() { return mRandom(); }
  size_t below(size_t n) { return n ? static_cast<size_t>(next() % n) : 0; }
  bool chance(int percent) { return below(100) < static_cast<size_t>(percent); }

  void fillStructure(ZRXStructure* structure, int depth) {
    mAll.push_back(structure);
    if (mOptions.unreferencedIDs && chance(25)) structure->setID(newID());
    const size_t count = below(static_cast<size_t>(mOptions.maxEntries) + 1);
    for (size_t i = 0; i < count; ++i) {
      // One random draw per statement: argument order differs between compilers.
      const std::string entryKey = key();
      structure->value().emplace_back(entryKey.c_str(), value(depth));
      if (mPendingReference)
        mPending.push_back({structure, nullptr, structure->value().size() - 1, mRoots.size() - 1});
      mPendingReference = false;
    }
    mFinished.push_back(structure);
  }

  void fillList(ZRXList* list, int depth) {
    const size_t count = below(static_cast<size_t>(mOptions.maxEntries) + 1);
    if (count == 0 && !mOptions.tagsOnEmptyLists) list->setTag("");
    for (size_t i = 0; i < count; ++i) {
      list->value().push_back(value(depth));
      if (mPendingReference)
        mPending.push_back({nullptr, list, list->value().size() - 1, mRoots.size() - 1});
      mPendingReference = false;
    }
  }

  // One value inside a container of level `depth`.
  ZRXValue value(int depth) {
    mPendingReference = false;
    ZRXValue out;
    const bool nest = depth < mOptions.maxDepth;
    for (;;) {
      switch (below(13)) {
        case 0:
          out.setBool(chance(50));
          return out;
        case 1:
          out.setInteger(integer());
          return out;
        case 2:
          out.setReal(real());
          return out;
        case 3:
          out.setString(text(mOptions.anyBytes, true));
          return out;
        case 4:
          out.setIdentifier(identifier());
          return out;
        case 5:
          if (mOptions.nullReferences && chance(15)) {
            out.setID("#NULL");
            return out;
          }
          if (!mOptions.idReferences) continue;
          out.setID("#NULL");  // the target is chosen once the whole document exists
          mPendingReference = true;
          return out;
        case 6: {
          const std::string blockTag = tag(false);
          out.setRawtextBlock(new ZRXRawtextBlock(blockTag.c_str(), rawtext().c_str()));
          return out;
        }
        case 7:
        case 8: {
          if (!nest) continue;
          if (below(2) == 0) {
            fillList(out.setList(new ZRXList(tag(false).c_str())), depth + 1);
          } else {
            fillStructure(out.setStructure(new ZRXStructure(tag(false).c_str())), depth + 1);
          }
          return out;
        }
        case 9:
          if (!mOptions.sharedStructures || mFinished.empty()) continue;
          {
            ZRXStructure* shared = mFinished[below(mFinished.size())];
            ensureID(shared);
            out.setStructure(shared);
          }
          return out;
        case 10:
          out.setArrayInteger(integerArray());
          return out;
        default:
          out.setArrayReal(realArray());
          return out;
      }
    }
  }

  void resolveReferences() {
    for (const Pending& pending : mPending) {
      // Only structures made for this or an earlier top-level structure: then, linked, no later
      // top-level structure is reachable from an earlier one.
      ZRXStructure* target = mAll[below(mAllByRoot[pending.root])];
      ensureID(target);
      ZRXValue& slot = pending.structure ? pending.structure->value()[pending.index].value()
                                         : pending.list->value()[pending.index];
      slot.setID(target->uid());
    }
  }

  void ensureID(ZRXStructure* structure) {
    if (structure->uid() == "#NULL") structure->setID(newID());
  }

  std::string newID() {
    for (;;) {
      std::string id = "#";
      if (mOptions.validNames) {
        id += name(kNameChars, 1 + below(6));
        id += std::to_string(mIDs.size());
      } else {
        id += text(mOptions.anyBytes, false) + std::to_string(mIDs.size());
      }
      if (id != "#NULL" && id != "#_" && mIDs.insert(id).second) return id;
    }
  }

  std::string name(const char* first, size_t length) {
    std::string out(1, first[below(std::strlen(first))]);
    for (size_t i = 1; i < length; ++i) out += kNameChars[below(sizeof kNameChars - 1)];
    return out;
  }

  std::string identifierText() {
    for (;;) {
      std::string out = name(kLetters, 1 + below(static_cast<size_t>(mOptions.maxTextLength)));
      if (!reservedName(out)) return out;
    }
  }

  std::string key() {
    if (mOptions.validNames) return identifierText();
    return text(mOptions.anyBytes, false);
  }

  std::string identifier() {
    if (mOptions.validNames) return identifierText();
    std::string out = text(mOptions.anyBytes, false);
    return out.empty() ? "x" : out;
  }

  std::string tag(bool topLevel) {
    if (!topLevel && chance(40)) return std::string();
    std::string out;
    if (mOptions.validNames) {
      static const char kTagChars[] =
          "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_:0123456789";
      out = "<";
      const size_t length = below(static_cast<size_t>(mOptions.maxTextLength) + 1);
      for (size_t i = 0; i < length; ++i) out += kTagChars[below(sizeof kTagChars - 1)];
      out += ">";
    } else {
      out = "<" + text(mOptions.anyBytes, false) + ">";
    }
    return out == "<Metadata>" ? "<Data>" : out;
  }

  // Random bytes: any byte, or printable ASCII (with tab and line feed when `controls`).
  std::string text(bool anyByte, bool controls) {
    const size_t length = below(static_cast<size_t>(mOptions.maxTextLength) + 1);
    std::string out;
    for (size_t i = 0; i < length; ++i) {
      if (anyByte) {
        out += static_cast<char>(below(256));
      } else if (controls && chance(10)) {
        out += chance(50) ? '\n' : '\t';
      } else {
        out += static_cast<char>(0x20 + below(0x5F));
      }
    }
    return out;
  }

  std::string rawtext() {
    if (mOptions.rawtextSpecials) {
      std::string out = text(mOptions.anyBytes, true);
      if (!out.empty() && chance(30)) out += chance(50) ? "\r\n" : "\\";
      return out;
    }
    std::string out;
    const size_t length = below(static_cast<size_t>(mOptions.maxTextLength) * 2 + 1);
    for (size_t i = 0; i < length; ++i) {
      char c = chance(10) ? '\n' : static_cast<char>(0x20 + below(0x5F));
      if (c == '\\') c = '>';  // keeps ">}" sequences frequent, and no backslash
      out += c;
    }
    return out;
  }

  int64_t integer() {
    static const int64_t kEdges[] = {0,
                                     1,
                                     -1,
                                     63,
                                     64,
                                     -64,
                                     8191,
                                     8192,
                                     -8192,
                                     1000000,
                                     std::numeric_limits<int64_t>::max(),
                                     std::numeric_limits<int64_t>::min(),
                                     std::numeric_limits<int64_t>::min() + 1};
    if (chance(30)) return kEdges[below(sizeof kEdges / sizeof kEdges[0])];
    const uint64_t drawn = next();
    const uint64_t bits = drawn >> below(64);  // every magnitude size
    const int64_t magnitude = static_cast<int64_t>(bits >> 1);
    return chance(50) ? -magnitude : magnitude;
  }

  double real() {
    if (mOptions.sixDecimalReals) {
      const int64_t millionths = static_cast<int64_t>(below(4000000001ULL)) - 2000000000;
      return static_cast<double>(millionths) / 1e6;
    }
    static const double kEdges[] = {0.0,
                                    -0.0,
                                    1.0,
                                    0.5,
                                    0.1,
                                    1e300,
                                    -1e-300,
                                    5e-324,
                                    2.5e-308,
                                    std::numeric_limits<double>::max(),
                                    -std::numeric_limits<double>::max(),
                                    std::numeric_limits<float>::max(),
                                    16777217.0,
                                    3.141592653589793};
    if (chance(30)) return kEdges[below(sizeof kEdges / sizeof kEdges[0])];
    if (mOptions.realsOfEveryKind && chance(60)) return chance(50) ? -realOfAKind() : realOfAKind();
    if (mOptions.nonFiniteReals && chance(10)) {
      switch (below(3)) {
        case 0:
          return std::numeric_limits<double>::quiet_NaN();
        case 1:
          return std::numeric_limits<double>::infinity();
        default:
          return -std::numeric_limits<double>::infinity();
      }
    }
    for (;;) {
      const uint64_t bits = next();
      double out;
      std::memcpy(&out, &bits, sizeof out);
      if (std::isfinite(out)) return out;
      if (mOptions.nonFiniteReals) return out;  // NaN with any payload, or an infinity
    }
  }

  // A finite real of one of the kinds that test a text form: millionths, their neighbours, short
  // decimals, binary fractions (ties at the seventh decimal among them), subnormals, huge ones.
  double realOfAKind() {
    switch (below(6)) {
      case 0:
        return static_cast<double>(next() % 4000000000000ull) / 1e6;
      case 1:
        return std::nextafter(static_cast<double>(next() % 4000000000000ull) / 1e6,
                              chance(50) ? 0.0 : 1e300);
      case 2:
        return static_cast<double>(next() % 100000000) *
               std::pow(10.0, -static_cast<int>(below(320)));
      case 3:
        return std::ldexp(static_cast<double>((next() >> 12) | 1),
                          -static_cast<int>(7 + below(60)));
      case 4: {
        const uint64_t bits = next() >> 12;  // a subnormal (or zero)
        double out;
        std::memcpy(&out, &bits, sizeof out);
        return out;
      }
      default:
        return std::ldexp(1.0 + static_cast<double>(next() >> 12) / 4503599627370496.0,
                          static_cast<int>(20 + below(1000)));
    }
  }

  double floatExactReal() {
    if (mOptions.sixDecimalReals) return static_cast<double>(below(2001)) / 8.0 - 125.0;
    switch (below(8)) {
      case 0:
        return -0.0;
      case 1:
        return mOptions.nonFiniteReals ? std::numeric_limits<double>::infinity() : 1.5;
      default: {
        uint32_t bits = static_cast<uint32_t>(next());
        float narrow;
        std::memcpy(&narrow, &bits, sizeof narrow);
        if (!std::isfinite(narrow)) narrow = 0.25f;  // a float NaN would make it a double array
        return narrow;
      }
    }
  }

  ZRXArrayInteger* integerArray() {
    auto* array = new ZRXArrayInteger(tag(false).c_str());
    const size_t length = below(static_cast<size_t>(mOptions.maxArrayLength) + 1);
    for (size_t i = 0; i < length; ++i) array->value().push_back(integer());
    return array;
  }

  ZRXArrayReal* realArray() {
    auto* array = new ZRXArrayReal(tag(false).c_str());
    size_t length = below(static_cast<size_t>(mOptions.maxArrayLength) + 1);
    if (length == 0 && !mOptions.emptyRealArrays) length = 1;
    const bool floats = chance(50);
    for (size_t i = 0; i < length; ++i)
      array->value().push_back(floats ? floatExactReal() : real());
    return array;
  }

  TreeGenOptions mOptions;
  std::mt19937_64 mRandom;
  std::vector<ZRXStructure*> mRoots;
  std::vector<ZRXStructure*> mAll;       // every structure in the order made, for ID references
  std::vector<size_t> mAllByRoot;        // how many were made up to the end of each root
  std::vector<ZRXStructure*> mFinished;  // structures complete, for sharing
  std::vector<Pending> mPending;
  std::set<std::string> mIDs;
  bool mPendingReference = false;
};

}  // namespace

std::vector<zr::ref<ZRXStructure>> generateDocument(const TreeGenOptions& options) {
  return Generator(options).document();
}

}  // namespace zrtest
