// The test helpers that round-trip tests rely on: TreeCompare must see every kind of difference
// (a comparison that always agrees would make those tests empty), and TreeGen must be
// reproducible and keep its text-safe promises.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "support/TreeCompare.hpp"
#include "support/TreeGen.hpp"
#include "zrX/Cycles.hpp"
#include "zrX/Value.hpp"

namespace {

using zr::ref;
using zrtest::CompareOptions;
using zrX::ZRXList;
using zrX::ZRXStructure;
using zrX::ZRXValue;

ZRXValue real(double value) {
  ZRXValue out;
  out.setReal(value);
  return out;
}

// A small document; `change` alters the copy to compare against.
ref<ZRXStructure> sample(const std::function<void(ZRXStructure*, ZRXStructure*)>& change = {}) {
  ref<ZRXStructure> root(new ZRXStructure("<Root>"));
  ZRXValue child;
  ZRXStructure* inner = child.setStructure(new ZRXStructure("<Inner>"));
  inner->setID("#inner");
  *inner << "x" << ZRXValue(int64_t{1}) << "r" << real(0.0);
  ZRXValue list;
  list.setList(new ZRXList)->value().push_back(child);
  *root << "child" << child << "list" << list;
  if (change) change(root.get(), inner);
  return root;
}

TEST(TreeCompare, SeesEveryKindOfDifference) {
  const auto same = [](ZRXStructure*, ZRXStructure*) {};
  const struct {
    const char* name;
    std::function<void(ZRXStructure*, ZRXStructure*)> change;
    std::string expected;
  } cases[] = {
      {"nothing", same, ""},
      {"tag", [](ZRXStructure*, ZRXStructure* s) { s->setTag("<Other>"); },
       "document[0] <Root>.child: tag differs: expected '<Inner>', actual '<Other>'"},
      {"ID", [](ZRXStructure*, ZRXStructure* s) { s->setID("#other"); },
       "document[0] <Root>.child: structure ID differs: expected '#inner', actual '#other'"},
      {"key", [](ZRXStructure*, ZRXStructure* s) { s->value()[0].setKey("y"); },
       "document[0] <Root>.child.x: key differs: expected 'x', actual 'y'"},
      {"kind", [](ZRXStructure*, ZRXStructure* s) { s->value()[0].value().setBool(true); },
       "document[0] <Root>.child.x: kind differs: expected Integer 1, actual Bool true"},
      {"-0.0", [](ZRXStructure*, ZRXStructure* s) { s->value()[1].value().setReal(-0.0); },
       "document[0] <Root>.child.r: real differs: expected 0 (0x0000000000000000), actual -0 "
       "(0x8000000000000000)"},
      {"entry count", [](ZRXStructure*, ZRXStructure* s) { *s << "z"; },
       "document[0] <Root>.child.z: entry count differs: expected 2, actual 3"},
      {"sharing",
       [](ZRXStructure* root, ZRXStructure*) {
         ZRXValue copy;
         ZRXStructure* twin = copy.setStructure(new ZRXStructure("<Inner>"));
         twin->setID("#inner");
         *twin << "x" << ZRXValue(int64_t{1}) << "r" << real(0.0);
         root->value()[1].value().getList()->value()[0] = copy;
       },
       "document[0] <Root>.list[0]: sharing differs: expected the node first met at "
       "document[0] <Root>.child, actual a node not met before"},
  };
  ref<ZRXStructure> expected = sample();
  for (const auto& c : cases) {
    ref<ZRXStructure> actual = sample(c.change);
    EXPECT_EQ(zrtest::diffTrees(expected.get(), actual.get()), c.expected) << c.name;
  }
  // Options relax what they name, and nothing else.
  CompareOptions loose;
  loose.realsBitExact = false;
  loose.sharing = false;
  ref<ZRXStructure> negativeZero =
      sample([](ZRXStructure*, ZRXStructure* s) { s->value()[1].value().setReal(-0.0); });
  EXPECT_EQ(zrtest::diffTrees(expected.get(), negativeZero.get(), loose), "");
  EXPECT_EQ(zrtest::diffTrees(expected.get(), sample(cases[7].change).get(), loose), "");
  EXPECT_NE(zrtest::diffTrees(expected.get(), sample(cases[4].change).get(), loose), "");
}

TEST(TreeCompare, IDModes) {
  // "#inner" is reached twice in the expected tree, "#once" once.
  ref<ZRXStructure> expected =
      sample([](ZRXStructure* root, ZRXStructure*) { root->setID("#once"); });
  ref<ZRXStructure> onceDropped = sample();
  ref<ZRXStructure> sharedDropped = sample([](ZRXStructure* root, ZRXStructure* s) {
    root->setID("#once");
    s->setID("#NULL");
  });
  CompareOptions referenced;
  referenced.ids = CompareOptions::IDs::Referenced;
  CompareOptions ignore;
  ignore.ids = CompareOptions::IDs::Ignore;
  EXPECT_NE(zrtest::diffTrees(expected.get(), onceDropped.get()), "");
  EXPECT_EQ(zrtest::diffTrees(expected.get(), onceDropped.get(), referenced), "");
  EXPECT_NE(zrtest::diffTrees(expected.get(), sharedDropped.get(), referenced), "");
  EXPECT_EQ(zrtest::diffTrees(expected.get(), sharedDropped.get(), ignore), "");
}

TEST(TreeCompare, NaNComparesByItsBitsAndCyclesEnd) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(zrtest::diffValues(real(nan), real(nan)), "");
  EXPECT_NE(zrtest::diffValues(real(nan), real(-nan)), "");
  CompareOptions loose;
  loose.realsBitExact = false;
  EXPECT_EQ(zrtest::diffValues(real(nan), real(-nan), loose), "");

  std::vector<ref<ZRXStructure>> a{new ZRXStructure("<Loop>")}, b{new ZRXStructure("<Loop>")};
  for (auto* roots : {&a, &b}) {
    ZRXValue self;
    self.setStructure((*roots)[0].get());
    (*roots)[0]->setID("#loop");
    *(*roots)[0] << "self" << self;
  }
  EXPECT_TRUE(zrtest::sameDocument(a, b));
  for (auto* roots : {&a, &b}) {
    std::vector<ref<zrX::ZRXTaggedValue>> nodes(roots->begin(), roots->end());
    roots->clear();
    zrX::breakCycles(nodes);
  }
}

// Calls `f` on every value of the document (each structure and list once).
void forEachValue(const std::vector<ref<ZRXStructure>>& roots,
                  const std::function<void(const ZRXValue&)>& f) {
  std::vector<const zrX::ZRXTaggedValue*> pending;
  for (const ref<ZRXStructure>& root : roots) pending.push_back(root.get());
  std::vector<const void*> seen;
  while (!pending.empty()) {
    const zrX::ZRXTaggedValue* node = pending.back();
    pending.pop_back();
    if (std::find(seen.begin(), seen.end(), node) != seen.end()) continue;
    seen.push_back(node);
    auto visit = [&](const ZRXValue& value) {
      f(value);
      if (value.type() == ZRXValue::Structure && value.getStructure())
        pending.push_back(value.getStructure());
      if (value.type() == ZRXValue::List) pending.push_back(value.getList());
    };
    if (auto* s = dynamic_cast<const ZRXStructure*>(node)) {
      for (const auto& entry : s->value()) visit(entry.value());
    } else {
      for (const auto& element : static_cast<const ZRXList*>(node)->value()) visit(element);
    }
  }
}

TEST(TreeGen, ReproducibleAndTextSafe) {
  zrtest::TreeGenOptions options;
  options.seed = 42;
  EXPECT_TRUE(
      zrtest::sameDocument(zrtest::generateDocument(options), zrtest::generateDocument(options)));
  zrtest::TreeGenOptions other = options;
  other.seed = 43;
  EXPECT_FALSE(
      zrtest::sameDocument(zrtest::generateDocument(options), zrtest::generateDocument(other)));

  for (uint32_t seed = 1; seed <= 50; ++seed) {
    const std::vector<ref<ZRXStructure>> roots =
        zrtest::generateDocument(zrtest::TreeGenOptions::textSafe(seed));
    for (const ref<ZRXStructure>& root : roots) EXPECT_FALSE(root->tag().empty());
    forEachValue(roots, [seed](const ZRXValue& value) {
      if (value.type() == ZRXValue::Real) {
        // Six decimals say it exactly.
        char text[64];
        std::snprintf(text, sizeof text, "%f", value.getReal());
        EXPECT_EQ(std::strtod(text, nullptr), value.getReal()) << seed << " " << text;
      }
      if (value.type() == ZRXValue::ArrayReal) {
        EXPECT_FALSE(value.getArrayReal()->value().empty()) << seed;
        for (double element : value.getArrayReal()->value()) EXPECT_TRUE(std::isfinite(element));
      }
      if (value.type() == ZRXValue::List && value.getList()->value().empty()) {
        EXPECT_EQ(value.getList()->tag(), "") << seed;
      }
      if (value.type() == ZRXValue::String) {
        EXPECT_EQ(value.getString().find('\0'), std::string::npos) << seed;
      }
      if (value.type() == ZRXValue::RawtextBlock) {
        EXPECT_EQ(value.getRawtextBlock()->value().find_first_of("\r\\"), std::string::npos);
      }
    });
  }
}

}  // namespace
