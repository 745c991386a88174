#include "DocumentDiff.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Text.hpp"

namespace zrxtool {

namespace {

using zrX::ZRXStructure;
using zrX::ZRXValue;

constexpr size_t kShown = 60;       // bytes of a text shown in a line
constexpr size_t kPathShown = 200;  // bytes of an "also at" path shown in a line
constexpr size_t kContext = 20;     // bytes shown before the first difference of a long text
constexpr uint64_t kNaN = 0x7FF8000000000000ull;

uint64_t bitsOf(double value) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

std::string renderReal(double value) {
  if (!std::isnan(value)) return formatReal(value);
  if (bitsOf(value) == kNaN) return "nan";
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (uint64_t bits = bitsOf(value), i = 0; i < 16; ++i, bits <<= 4) hex += kHex[bits >> 60];
  return "nan(0x" + hex + ")";
}

// A text quoted for a line, showing the part from `from` on; cut texts say their size.
std::string quote(const std::string& text, size_t from = 0) {
  if (text.size() <= kShown) return '"' + safeText(text, kShown) + '"';
  if (from + kShown > text.size()) from = text.size() > kShown ? text.size() - kShown : 0;
  std::string out = from ? "\"..." : "\"";
  out += safeText(text.substr(from), kShown);  // ends in "..." when more follows
  return out + "\" (" + std::to_string(text.size()) + " bytes)";
}

// Both texts, shown around the first byte where they differ.
std::pair<std::string, std::string> quoteDifference(const std::string& a, const std::string& b) {
  size_t first = 0;
  while (first < a.size() && first < b.size() && a[first] == b[first]) ++first;
  const size_t from = first > kContext ? first - kContext : 0;
  return {quote(a, from), quote(b, from)};
}

std::string tagText(const zrX::ZRXTaggedValue* node) {
  return node->tag().empty() ? std::string() : safeText(node->tag(), kShown) + " ";
}

// One value, short: scalars in full (texts cut), nodes by kind, tag and size.
std::string render(const ZRXValue& v) {
  switch (v.type()) {
    case ZRXValue::Bool:
      return v.getBool() ? "true" : "false";
    case ZRXValue::Integer:
      return std::to_string(v.getInteger());
    case ZRXValue::Real:
      return renderReal(v.getReal());
    case ZRXValue::String:
      return quote(v.getString());
    case ZRXValue::Identifier:
      return "identifier " + safeText(v.getIdentifier(), kShown);
    case ZRXValue::ID:
      return "reference " + safeText(v.getID(), kShown);
    case ZRXValue::RawtextBlock:
      return tagText(v.getRawtextBlock()) + "raw text " + quote(v.getRawtextBlock()->value());
    case ZRXValue::List:
      return tagText(v.getList()) + "list of " + std::to_string(v.getList()->value().size());
    case ZRXValue::Structure:
      if (!v.getStructure()) return "#NULL";
      return tagText(v.getStructure()) + "structure";
    case ZRXValue::ArrayInteger:
      return tagText(v.getArrayInteger()) + "integer array of " +
             std::to_string(v.getArrayInteger()->value().size());
    case ZRXValue::ArrayReal:
      return tagText(v.getArrayReal()) + "real array of " +
             std::to_string(v.getArrayReal()->value().size());
  }
  return std::string();
}

// A structure that can be reached twice is one with an ID: only those can be named.
bool canBeShared(const ZRXStructure* s) { return s->uid() != "#NULL"; }

class Differ {
 public:
  Differ(const DiffOptions& options, const std::function<void(const std::string&)>& line)
      : mOptions(options), mLine(line) {}

  uint64_t run(const ToolDocument& a, const ToolDocument& b) {
    compareMetadata(a.metadata(), b.metadata());
    const auto& as = a.structures();
    const auto& bs = b.structures();
    // A top-level structure is named by its tag, with its position when the tag repeats.
    std::map<std::string, int> tagsA, tagsB;
    for (const auto& s : as) ++tagsA[s->tag()];
    for (const auto& s : bs) ++tagsB[s->tag()];
    for (size_t i = 0; i < as.size() || i < bs.size(); ++i) {
      const ZRXStructure* sa = i < as.size() ? as[i].get() : nullptr;
      const ZRXStructure* sb = i < bs.size() ? bs[i].get() : nullptr;
      const std::string& tag = (sa ? sa : sb)->tag();
      std::string segment = "/" + safeText(tag, kShown);
      if (tagsA[tag] > 1 || tagsB[tag] > 1) segment += "[" + std::to_string(i) + "]";
      ZRXValue va, vb;
      if (sa) va.setStructure(const_cast<ZRXStructure*>(sa));
      if (sb) vb.setStructure(const_cast<ZRXStructure*>(sb));
      if (!sa || !sb) {
        report(segment, (sa ? render(va) : "(none)") + " -> " + (sb ? render(vb) : "(none)"));
        continue;
      }
      compare(va, vb, segment);
      drain();
    }
    return mCount;
  }

 private:
  static constexpr size_t kNoPlace = static_cast<size_t>(-1);

  // A place the walk has reached: a path segment below the place of its parent. Places stay for
  // the whole walk (one per structure and list compared), so a pairing names where it was made
  // without a copy of its path; paths are spelled out only for the lines handed out.
  struct Place {
    size_t parent;
    std::string segment;
  };

  // Entries of two structures paired by key: index in A or -1, index in B or -1, and which
  // occurrence of the key it is (from 0).
  struct EntryPair {
    long a, b;
    size_t occurrence;
  };

  // A structure or a list being compared element by element, standing at `place`.
  struct Frame {
    size_t place = kNoPlace;
    const ZRXStructure* sa = nullptr;
    const ZRXStructure* sb = nullptr;
    const zrX::ZRXList* la = nullptr;
    const zrX::ZRXList* lb = nullptr;
    std::vector<EntryPair> pairs;  // for structures, in the order of the lines
    size_t next = 0;
  };

  struct Pairing {
    const ZRXStructure* partner;
    size_t place;  // where the walk met the pair first
  };

  // The segments of the path of `place`, from the top.
  std::vector<const std::string*> segmentsOf(size_t place) const {
    std::vector<const std::string*> segments;
    for (; place != kNoPlace; place = mPlaces[place].parent)
      segments.push_back(&mPlaces[place].segment);
    std::reverse(segments.begin(), segments.end());
    return segments;
  }

  std::string pathOf(size_t place) const {
    std::string out;
    for (const std::string* segment : segmentsOf(place)) out += *segment;
    return out;
  }

  // The path of the segment `segment` below the innermost open frame.
  std::string path(const std::string& segment) const {
    return (mStack.empty() ? std::string() : pathOf(mStack.back().place)) + segment;
  }

  // A new place for `segment` below the innermost open frame.
  size_t newPlace(const std::string& segment) {
    mPlaces.push_back({mStack.empty() ? kNoPlace : mStack.back().place, segment});
    return mPlaces.size() - 1;
  }

  // Where a pair was met first, for an "also at" note: a path longer than kPathShown bytes is cut
  // like a quoted text, after its last segment that fits (the first one at least), with "..."
  // and its size.
  std::string shortPathOf(size_t place) const {
    const std::vector<const std::string*> segments = segmentsOf(place);
    size_t bytes = 0;
    for (const std::string* segment : segments) bytes += segment->size();
    if (bytes <= kPathShown) return pathOf(place);
    std::string out;
    for (const std::string* segment : segments) {
      if (!out.empty() && out.size() + segment->size() > kPathShown) break;
      out += *segment;
    }
    return out + "... (" + std::to_string(bytes) + " bytes)";
  }

  static std::string entrySegment(const std::string& key, size_t occurrence) {
    std::string s = "/" + safeText(key, kShown);
    if (occurrence > 0) s += "@" + std::to_string(occurrence + 1);
    return s;
  }

  void report(const std::string& segment, const std::string& what) {
    ++mCount;
    if (mOptions.maxLines == 0 || mCount <= mOptions.maxLines) mLine(path(segment) + ": " + what);
  }

  void compareMetadata(const zrX::MetadataMap& a, const zrX::MetadataMap& b) {
    std::set<std::string> keys;
    for (const auto& entry : a) keys.insert(entry.first);
    for (const auto& entry : b) keys.insert(entry.first);
    for (const std::string& key : keys) {
      if (mOptions.ignoredMetadata.count(key)) continue;
      const auto ia = a.find(key);
      const auto ib = b.find(key);
      const std::string segment = "/<Metadata>/" + safeText(key, kShown);
      if (ia == a.end() || ib == b.end()) {
        report(segment, (ia == a.end() ? "(none)" : render(ia->second)) + " -> " +
                            (ib == b.end() ? "(none)" : render(ib->second)));
        continue;
      }
      compare(ia->second, ib->second, segment);
      drain();
    }
  }

  void compareTags(const zrX::ZRXTaggedValue* a, const zrX::ZRXTaggedValue* b,
                   const std::string& segment) {
    if (a->tag() == b->tag()) return;
    const auto shown = [](const std::string& tag) {
      return tag.empty() ? std::string("(no tag)") : safeText(tag, kShown);
    };
    report(segment, "tag " + shown(a->tag()) + " -> " + shown(b->tag()));
  }

  template <class T, class Render>
  void compareArrays(const std::vector<T>& a, const std::vector<T>& b, const std::string& segment,
                     Render renderElement) {
    if (a.size() != b.size())
      report(segment,
             std::to_string(a.size()) + " elements -> " + std::to_string(b.size()) + " elements");
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
      const bool same = std::memcmp(&a[i], &b[i], sizeof(T)) == 0;
      if (!same)
        report(segment + "[" + std::to_string(i) + "]",
               renderElement(a[i]) + " -> " + renderElement(b[i]));
    }
  }

  // Compares `a` and `b` at `segment` below the current frame; a structure or list pair becomes
  // a frame of its own, compared by drain().
  void compare(const ZRXValue& a, const ZRXValue& b, const std::string& segment) {
    if (a.type() != b.type()) {
      report(segment, render(a) + " -> " + render(b));
      return;
    }
    switch (a.type()) {
      case ZRXValue::Bool:
        if (a.getBool() != b.getBool()) report(segment, render(a) + " -> " + render(b));
        return;
      case ZRXValue::Integer:
        if (a.getInteger() != b.getInteger()) report(segment, render(a) + " -> " + render(b));
        return;
      case ZRXValue::Real:
        if (bitsOf(a.getReal()) != bitsOf(b.getReal()))
          report(segment, render(a) + " -> " + render(b));
        return;
      case ZRXValue::String:
      case ZRXValue::Identifier:
      case ZRXValue::ID: {
        const std::string& ta = a.type() == ZRXValue::String       ? a.getString()
                                : a.type() == ZRXValue::Identifier ? a.getIdentifier()
                                                                   : a.getID();
        const std::string& tb = b.type() == ZRXValue::String       ? b.getString()
                                : b.type() == ZRXValue::Identifier ? b.getIdentifier()
                                                                   : b.getID();
        if (ta == tb) return;
        if (a.type() != ZRXValue::String) {
          report(segment, render(a) + " -> " + render(b));
        } else {
          const auto [qa, qb] = quoteDifference(ta, tb);
          report(segment, qa + " -> " + qb);
        }
        return;
      }
      case ZRXValue::RawtextBlock: {
        compareTags(a.getRawtextBlock(), b.getRawtextBlock(), segment);
        const std::string& ta = a.getRawtextBlock()->value();
        const std::string& tb = b.getRawtextBlock()->value();
        if (ta == tb) return;
        const auto [qa, qb] = quoteDifference(ta, tb);
        report(segment, "raw text " + qa + " -> " + qb);
        return;
      }
      case ZRXValue::ArrayInteger:
        compareTags(a.getArrayInteger(), b.getArrayInteger(), segment);
        compareArrays(a.getArrayInteger()->value(), b.getArrayInteger()->value(), segment,
                      [](int64_t v) { return std::to_string(v); });
        return;
      case ZRXValue::ArrayReal:
        compareTags(a.getArrayReal(), b.getArrayReal(), segment);
        compareArrays(a.getArrayReal()->value(), b.getArrayReal()->value(), segment, renderReal);
        return;
      case ZRXValue::List: {
        compareTags(a.getList(), b.getList(), segment);
        Frame frame;
        frame.place = newPlace(segment);
        frame.la = a.getList();
        frame.lb = b.getList();
        mStack.push_back(std::move(frame));
        return;
      }
      case ZRXValue::Structure:
        compareStructures(a, b, segment);
        return;
    }
  }

  std::string describe(const ZRXValue& v, const Pairing* pairing) const {
    return pairing ? render(v) + " (also at " + shortPathOf(pairing->place) + ")" : render(v);
  }

  void compareStructures(const ZRXValue& a, const ZRXValue& b, const std::string& segment) {
    const ZRXStructure* sa = a.getStructure();
    const ZRXStructure* sb = b.getStructure();
    const auto ia = sa && canBeShared(sa) ? mPairsA.find(sa) : mPairsA.end();
    const auto ib = sb && canBeShared(sb) ? mPairsB.find(sb) : mPairsB.end();
    const Pairing* pa = ia == mPairsA.end() ? nullptr : &ia->second;
    const Pairing* pb = ib == mPairsB.end() ? nullptr : &ib->second;
    if (!sa || !sb) {  // "#NULL" on one side at least
      if (sa != sb) report(segment, describe(a, pa) + " -> " + describe(b, pb));
      return;
    }
    if (pa && pa->partner == sb) return;  // met together before: compared, or being compared
    if (pa || pb) {
      report(segment, describe(a, pa) + " -> " + describe(b, pb));
      return;
    }
    compareTags(sa, sb, segment);

    Frame frame;
    frame.place = newPlace(segment);
    if (canBeShared(sa)) mPairsA[sa] = {sb, frame.place};
    if (canBeShared(sb)) mPairsB[sb] = {sa, frame.place};
    frame.sa = sa;
    frame.sb = sb;
    // Entries pair by key: the n-th entry with a key in A with the n-th with that key in B.
    std::unordered_map<std::string, std::vector<long>> inB;
    for (size_t j = 0; j < sb->value().size(); ++j)
      inB[sb->value()[j].key()].push_back(static_cast<long>(j));
    std::unordered_map<std::string, size_t> seen;
    std::vector<bool> usedB(sb->value().size(), false);
    long lastB = -1;
    bool reordered = false;
    for (size_t i = 0; i < sa->value().size(); ++i) {
      const std::string& key = sa->value()[i].key();
      const size_t n = seen[key]++;
      const auto found = inB.find(key);
      long j = -1;
      if (found != inB.end() && n < found->second.size()) {
        j = found->second[n];
        usedB[static_cast<size_t>(j)] = true;
        if (j < lastB) reordered = true;
        lastB = j;
      }
      frame.pairs.push_back({static_cast<long>(i), j, n});
    }
    std::unordered_map<std::string, size_t> seenB;
    for (size_t j = 0; j < sb->value().size(); ++j) {
      const size_t n = seenB[sb->value()[j].key()]++;
      if (usedB[j]) continue;
      frame.pairs.push_back({-1, static_cast<long>(j), n});
    }
    if (reordered) report(segment, "the entries stand in another order");
    mStack.push_back(std::move(frame));
  }

  // Compares the elements of every open frame, depth first.
  void drain() {
    while (!mStack.empty()) {
      Frame& frame = mStack.back();
      if (frame.sa) {
        if (frame.next == frame.pairs.size()) {
          mStack.pop_back();
          continue;
        }
        const size_t k = frame.next++;
        const auto [i, j, occurrence] = frame.pairs[k];
        const ZRXStructure::KeyValue& named = i < 0 ? frame.sb->value()[static_cast<size_t>(j)]
                                                    : frame.sa->value()[static_cast<size_t>(i)];
        const std::string segment = entrySegment(named.key(), occurrence);
        if (i < 0 || j < 0) {
          report(
              segment,
              (i < 0 ? "(none)" : render(frame.sa->value()[static_cast<size_t>(i)].value())) +
                  " -> " +
                  (j < 0 ? "(none)" : render(frame.sb->value()[static_cast<size_t>(j)].value())));
          continue;
        }
        const ZRXValue& va = frame.sa->value()[static_cast<size_t>(i)].value();
        const ZRXValue& vb = frame.sb->value()[static_cast<size_t>(j)].value();
        compare(va, vb, segment);
      } else {
        const auto& ea = frame.la->value();
        const auto& eb = frame.lb->value();
        if (frame.next == std::max(ea.size(), eb.size())) {
          mStack.pop_back();
          continue;
        }
        const size_t k = frame.next++;
        const std::string segment = "[" + std::to_string(k) + "]";
        if (k >= ea.size() || k >= eb.size()) {
          report(segment, (k < ea.size() ? render(ea[k]) : "(none)") + " -> " +
                              (k < eb.size() ? render(eb[k]) : "(none)"));
          continue;
        }
        compare(ea[k], eb[k], segment);
      }
    }
  }

  const DiffOptions& mOptions;
  const std::function<void(const std::string&)>& mLine;
  uint64_t mCount = 0;
  std::vector<Frame> mStack;
  std::vector<Place> mPlaces;
  std::unordered_map<const ZRXStructure*, Pairing> mPairsA, mPairsB;
};

}  // namespace

uint64_t diffDocuments(const ToolDocument& a, const ToolDocument& b, const DiffOptions& options,
                       const std::function<void(const std::string&)>& line) {
  Differ differ(options, line);
  return differ.run(a, b);
}

}  // namespace zrxtool
