#include "support/TreeCompare.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "zrX/Visitor.hpp"

namespace zrtest {

using zrX::ZRXList;
using zrX::ZRXStructure;
using zrX::ZRXTaggedValue;
using zrX::ZRXValue;

std::string printable(const std::string& text, size_t limit) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == limit) {
      out += "...(" + std::to_string(text.size()) + " bytes)";
      break;
    }
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\\' || c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

namespace {

const char* kindName(ZRXValue::EType type) {
  static const char* const kNames[] = {"Bool",       "Integer",      "Real",         "String",
                                       "Identifier", "ID",           "RawtextBlock", "List",
                                       "Structure",  "ArrayInteger", "ArrayReal"};
  const int index = static_cast<int>(type);
  return index >= 0 && index <= 10 ? kNames[index] : "?";
}

std::string realText(double value) {
  char text[64];
  uint64_t bits;
  std::memcpy(&bits, &value, 8);
  std::snprintf(text, sizeof text, "%.17g (0x%016llX)", value,
                static_cast<unsigned long long>(bits));
  return text;
}

std::string tagged(const ZRXTaggedValue* node) {
  return node->tag().empty() ? std::string() : "'" + printable(node->tag()) + "' ";
}

class Comparer {
 public:
  explicit Comparer(const CompareOptions& options) : mOptions(options) {}

  void countIDs(const std::vector<const ZRXStructure*>& roots) {
    zrX::VisitorIDCounter counter;
    counter.setIDSet(&mCounts);
    for (const ZRXStructure* root : roots) const_cast<ZRXStructure*>(root)->acceptVisitor(&counter);
  }

  bool structures(const ZRXStructure* e, const ZRXStructure* a) {
    if (!e || !a) {
      if (e != a)
        return differ("structure", e ? "a structure" : "no node", a ? "a structure" : "no node");
      return true;
    }
    bool seen = false;
    if (!enter(e, a, &seen)) return false;
    if (seen) return true;
    if (!node(e, a)) return false;
    if (!ids(e->uid(), a->uid())) return false;
    const auto& ee = e->value();
    const auto& ae = a->value();
    const size_t common = std::min(ee.size(), ae.size());
    for (size_t i = 0; i < common; ++i) {
      mPath.push_back("." + printable(ee[i].key()));
      if (ee[i].key() != ae[i].key())
        return differ("key", "'" + printable(ee[i].key()) + "'",
                      "'" + printable(ae[i].key()) + "'");
      if (!values(ee[i].value(), ae[i].value())) return false;
      mPath.pop_back();
    }
    if (ee.size() != ae.size()) {
      const auto& longer = ee.size() > ae.size() ? ee : ae;
      mPath.push_back("." + printable(longer[common].key()));
      return differ("entry count", std::to_string(ee.size()), std::to_string(ae.size()));
    }
    return true;
  }

  bool values(const ZRXValue& e, const ZRXValue& a) {
    if (e.type() != a.type()) return differ("kind", describeValue(e), describeValue(a));
    if (mOptions.lineNumbers && e.lineNumber() != a.lineNumber())
      return differ("value line", std::to_string(e.lineNumber()), std::to_string(a.lineNumber()));
    switch (e.type()) {
      case ZRXValue::Bool:
        return e.getBool() == a.getBool() || differ("bool", describeValue(e), describeValue(a));
      case ZRXValue::Integer:
        return e.getInteger() == a.getInteger() ||
               differ("integer", describeValue(e), describeValue(a));
      case ZRXValue::Real:
        return sameReal(e.getReal(), a.getReal()) ||
               differ("real", realText(e.getReal()), realText(a.getReal()));
      case ZRXValue::String:
        return e.getString() == a.getString() ||
               differ("string", describeValue(e), describeValue(a));
      case ZRXValue::Identifier:
        return e.getIdentifier() == a.getIdentifier() ||
               differ("identifier", describeValue(e), describeValue(a));
      case ZRXValue::ID:
        return e.getID() == a.getID() || differ("ID value", describeValue(e), describeValue(a));
      case ZRXValue::RawtextBlock: {
        const zrX::ZRXRawtextBlock* eb = e.getRawtextBlock();
        const zrX::ZRXRawtextBlock* ab = a.getRawtextBlock();
        if (!node(eb, ab)) return false;
        return eb->value() == ab->value() ||
               differ("raw text", "\"" + printable(eb->value()) + "\"",
                      "\"" + printable(ab->value()) + "\"");
      }
      case ZRXValue::List:
        return lists(e.getList(), a.getList());
      case ZRXValue::Structure:
        return structures(e.getStructure(), a.getStructure());
      case ZRXValue::ArrayInteger: {
        const auto* ea = e.getArrayInteger();
        const auto* aa = a.getArrayInteger();
        if (!node(ea, aa)) return false;
        return arrays(
            ea->value(), aa->value(), [](int64_t x, int64_t y) { return x == y; },
            [](int64_t x) { return std::to_string(x); });
      }
      case ZRXValue::ArrayReal: {
        const auto* ea = e.getArrayReal();
        const auto* aa = a.getArrayReal();
        if (!node(ea, aa)) return false;
        return arrays(
            ea->value(), aa->value(), [this](double x, double y) { return sameReal(x, y); },
            realText);
      }
    }
    return true;
  }

  const std::string& result() const { return mResult; }
  std::vector<std::string>& path() { return mPath; }

 private:
  bool lists(const ZRXList* e, const ZRXList* a) {
    bool seen = false;
    if (!enter(e, a, &seen)) return false;
    if (seen) return true;
    if (!node(e, a)) return false;
    const size_t common = std::min(e->value().size(), a->value().size());
    for (size_t i = 0; i < common; ++i) {
      mPath.push_back("[" + std::to_string(i) + "]");
      if (!values(e->value()[i], a->value()[i])) return false;
      mPath.pop_back();
    }
    if (e->value().size() != a->value().size())
      return differ("list length", std::to_string(e->value().size()),
                    std::to_string(a->value().size()));
    return true;
  }

  template <class T, class Same, class Text>
  bool arrays(const std::vector<T>& e, const std::vector<T>& a, Same same, Text text) {
    const size_t common = std::min(e.size(), a.size());
    for (size_t i = 0; i < common; ++i) {
      if (!same(e[i], a[i])) {
        mPath.push_back("[" + std::to_string(i) + "]");
        return differ("array element", text(e[i]), text(a[i]));
      }
    }
    if (e.size() != a.size())
      return differ("array length", std::to_string(e.size()), std::to_string(a.size()));
    return true;
  }

  bool node(const ZRXTaggedValue* e, const ZRXTaggedValue* a) {
    if (e->tag() != a->tag())
      return differ("tag", "'" + printable(e->tag()) + "'", "'" + printable(a->tag()) + "'");
    if (mOptions.lineNumbers && e->lineNumber() != a->lineNumber())
      return differ("node line", std::to_string(e->lineNumber()), std::to_string(a->lineNumber()));
    return true;
  }

  bool ids(const std::string& e, const std::string& a) {
    if (mOptions.ids == CompareOptions::IDs::Ignore || e == a) return true;
    if (mOptions.ids == CompareOptions::IDs::Referenced && a == "#NULL") {
      const int32_t* found = mCounts.find(e);
      if (!found || *found < 2) return true;
    }
    return differ("structure ID", "'" + printable(e) + "'", "'" + printable(a) + "'");
  }

  // Pairs node e of the expected tree with node a of the actual tree. Sets *seen when the pair
  // was met before (so it is not walked again); a node paired with two different partners is a
  // sharing difference.
  bool enter(const void* e, const void* a, bool* seen) {
    if (mPairs.count({e, a})) {
      *seen = true;
      return true;
    }
    if (mOptions.sharing) {
      auto forward = mForward.find(e);
      auto backward = mBackward.find(a);
      if (forward != mForward.end() || backward != mBackward.end()) {
        const std::string& first =
            forward != mForward.end() ? mFirstPath[e] : mFirstPath[backward->second];
        return differ(
            "sharing",
            forward != mForward.end() ? "the node first met at " + first : "a node not met before",
            backward != mBackward.end() ? "the node first met at " + first
                                        : "a node not met before");
      }
      mForward[e] = a;
      mBackward[a] = e;
      mFirstPath[e] = joined();
    }
    mPairs.insert({e, a});
    return true;
  }

  bool sameReal(double x, double y) const {
    if (mOptions.realsBitExact) return std::memcmp(&x, &y, sizeof x) == 0;
    return x == y || (x != x && y != y);
  }

  std::string joined() const {
    std::string out;
    for (const std::string& part : mPath) out += part;
    return out;
  }

  bool differ(const std::string& what, const std::string& expected, const std::string& actual) {
    mResult = joined() + ": " + what + " differs: expected " + expected + ", actual " + actual;
    return false;
  }

  CompareOptions mOptions;
  zrX::IDCountMap mCounts;
  std::set<std::pair<const void*, const void*>> mPairs;
  std::map<const void*, const void*> mForward;
  std::map<const void*, const void*> mBackward;
  std::map<const void*, std::string> mFirstPath;
  std::vector<std::string> mPath;
  std::string mResult;
};

}  // namespace

std::string describeValue(const ZRXValue& value) {
  std::string kind = kindName(value.type());
  switch (value.type()) {
    case ZRXValue::Bool:
      return kind + " " + (value.getBool() ? "true" : "false");
    case ZRXValue::Integer:
      return kind + " " + std::to_string(value.getInteger());
    case ZRXValue::Real:
      return kind + " " + realText(value.getReal());
    case ZRXValue::String:
      return kind + " \"" + printable(value.getString()) + "\"";
    case ZRXValue::Identifier:
      return kind + " " + printable(value.getIdentifier());
    case ZRXValue::ID:
      return kind + " " + printable(value.getID());
    case ZRXValue::RawtextBlock:
      return kind + " " + tagged(value.getRawtextBlock()) + "\"" +
             printable(value.getRawtextBlock()->value()) + "\"";
    case ZRXValue::List:
      return kind + " " + tagged(value.getList()) + "of " +
             std::to_string(value.getList()->value().size());
    case ZRXValue::Structure:
      if (!value.getStructure()) return kind + " without a node";
      return kind + " " + tagged(value.getStructure()) + "ID '" +
             printable(value.getStructure()->uid()) + "'";
    case ZRXValue::ArrayInteger:
      return kind + " " + tagged(value.getArrayInteger()) + "of " +
             std::to_string(value.getArrayInteger()->value().size());
    case ZRXValue::ArrayReal:
      return kind + " " + tagged(value.getArrayReal()) + "of " +
             std::to_string(value.getArrayReal()->value().size());
  }
  return kind;
}

namespace {

std::string diffRoots(const std::vector<const ZRXStructure*>& expected,
                      const std::vector<const ZRXStructure*>& actual,
                      const CompareOptions& options) {
  Comparer comparer(options);
  if (options.ids == CompareOptions::IDs::Referenced) comparer.countIDs(expected);
  const size_t common = std::min(expected.size(), actual.size());
  for (size_t i = 0; i < common; ++i) {
    comparer.path().assign(1,
                           "document[" + std::to_string(i) + "] " + printable(expected[i]->tag()));
    if (!comparer.structures(expected[i], actual[i])) return comparer.result();
  }
  if (expected.size() != actual.size())
    return "document: top-level structure count differs: expected " +
           std::to_string(expected.size()) + ", actual " + std::to_string(actual.size());
  return std::string();
}

std::vector<const ZRXStructure*> pointers(const std::vector<zr::ref<ZRXStructure>>& roots) {
  std::vector<const ZRXStructure*> out;
  for (const zr::ref<ZRXStructure>& root : roots) out.push_back(root.get());
  return out;
}

}  // namespace

std::string diffDocuments(const std::vector<zr::ref<ZRXStructure>>& expected,
                          const std::vector<zr::ref<ZRXStructure>>& actual,
                          const CompareOptions& options) {
  return diffRoots(pointers(expected), pointers(actual), options);
}

std::string diffTrees(const ZRXStructure* expected, const ZRXStructure* actual,
                      const CompareOptions& options) {
  return diffRoots({expected}, {actual}, options);
}

std::string diffValues(const ZRXValue& expected, const ZRXValue& actual,
                       const CompareOptions& options) {
  Comparer comparer(options);
  comparer.path().assign(1, "value");
  return comparer.values(expected, actual) ? std::string() : comparer.result();
}

::testing::AssertionResult sameDocument(const std::vector<zr::ref<ZRXStructure>>& expected,
                                        const std::vector<zr::ref<ZRXStructure>>& actual,
                                        const CompareOptions& options) {
  const std::string difference = diffDocuments(expected, actual, options);
  if (difference.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << difference;
}

::testing::AssertionResult sameTree(const ZRXStructure* expected, const ZRXStructure* actual,
                                    const CompareOptions& options) {
  const std::string difference = diffTrees(expected, actual, options);
  if (difference.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << difference;
}

}  // namespace zrtest
