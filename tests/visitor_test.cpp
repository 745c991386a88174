// The Visitor guard and VisitorIDCounter: counts, warnings and the failures it records.
#include "zrX/Visitor.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/LogCapture.hpp"
#include "zrX/Value.hpp"

namespace {

using namespace zrX;
using zr::ref;

const char kListWarning[] = "VisitorIDCounter: cycle detected on ZRXList.\n";

ref<ZRXStructure> makeStructure(const char* tag, const char* id = "#NULL") {
  ref<ZRXStructure> s(new ZRXStructure(tag));
  s->setID(id);
  return s;
}

// Walks `roots` with one counter and returns the map.
struct Count {
  IDCountMap ids;
  VisitorIDCounter counter;
  explicit Count(const std::vector<ZRXStructure*>& roots, int maxDepth = kDefaultMaxDepth) {
    counter.setIDSet(&ids);
    counter.setMaxDepth(maxDepth);
    for (ZRXStructure* root : roots) root->acceptVisitor(&counter);
  }
};

TEST(Visitor, IsVisitedTestsAndMarksInOneCall) {
  Visitor visitor;
  int a = 0, b = 0;
  EXPECT_FALSE(visitor.isVisited(&a));
  EXPECT_TRUE(visitor.isVisited(&a));
  EXPECT_TRUE(visitor.isVisited(&a));
  EXPECT_FALSE(visitor.isVisited(&b));
  EXPECT_FALSE(visitor.failed());
  EXPECT_EQ(visitor.maxDepth(), kDefaultMaxDepth);
}

TEST(IDCounter, CountsReachesPlusReferences) {
  // root
  //   once    = <Once> #1                 (reached once, not referenced)
  //   shared  = <Shared> #2               (reached from root and from <Holder>)
  //   holder  = <Holder> { again = <Shared> #2, refs = [ID #3, ID #3] }
  //   named   = <Named> #3 { self = ID #NULL }
  //   noID    = <Plain> #NULL, empty = <Empty> ""
  //   raw, arrays, a node-less structure value, scalars
  ref<ZRXStructure> root = makeStructure("<Root>", "#0");
  ref<ZRXStructure> once = makeStructure("<Once>", "#1");
  ref<ZRXStructure> shared = makeStructure("<Shared>", "#2");
  *shared << "inside" << ZRXValue::makeID("#9");  // counted once although <Shared> is reached twice
  ref<ZRXStructure> holder = makeStructure("<Holder>");
  ref<ZRXList> refs(new ZRXList());
  refs->value() = {ZRXValue::makeID("#3"), ZRXValue::makeID("#3")};
  *holder << "again" << ZRXValue::makeStructure(shared.get()) << "refs"
          << ZRXValue::makeList(refs.get());
  ref<ZRXStructure> named = makeStructure("<Named>", "#3");
  *named << "self" << ZRXValue::makeID("#NULL");
  ref<ZRXRawtextBlock> raw(new ZRXRawtextBlock("<Raw>", "ID = #1"));
  ref<ZRXArrayInteger> integers(new ZRXArrayInteger());
  ref<ZRXArrayReal> reals(new ZRXArrayReal());
  ZRXValue rawValue, integerValue, realValue;
  rawValue.setRawtextBlock(raw.get());
  integerValue.setArrayInteger(integers.get());
  realValue.setArrayReal(reals.get());
  *root << "once" << ZRXValue::makeStructure(once.get()) << "shared"
        << ZRXValue::makeStructure(shared.get()) << "holder"
        << ZRXValue::makeStructure(holder.get()) << "named" << ZRXValue::makeStructure(named.get())
        << "noID" << ZRXValue::makeStructure(makeStructure("<Plain>").get()) << "empty"
        << ZRXValue::makeStructure(makeStructure("<Empty>", "").get()) << "raw" << rawValue
        << "ints" << integerValue << "reals" << realValue << "nothing"
        << ZRXValue::makeStructure(nullptr) << "text" << ZRXValue("#1", ZRXValue::String)
        << "number" << ZRXValue(2);

  Count count({root.get()});
  const IDCountMap expected = {{"#0", 1}, {"#1", 1}, {"#2", 2}, {"#3", 3}, {"#9", 1}, {"#NULL", 1}};
  EXPECT_EQ(count.ids, expected);
  EXPECT_FALSE(count.counter.failed()) << count.counter.failure();
  // Raw text blocks and arrays are not remembered by the guard.
  EXPECT_FALSE(count.counter.isVisited(raw.get()));
  EXPECT_FALSE(count.counter.isVisited(integers.get()));
  EXPECT_FALSE(count.counter.isVisited(reals.get()));
  EXPECT_TRUE(count.counter.isVisited(refs.get()));
}

TEST(IDCounter, TheGuardSpansSeveralWalksWithOneCounter) {
  // As in a save: the metadata structure first, then the root, with one counter and one map.
  ref<ZRXStructure> metadata = makeStructure("<Metadata>");
  ref<ZRXStructure> common = makeStructure("<Common>", "#4");
  *metadata << "thumb" << ZRXValue::makeStructure(common.get());
  ref<ZRXStructure> root = makeStructure("<Root>");
  *root << "common" << ZRXValue::makeStructure(common.get()) << "ref" << ZRXValue::makeID("#4");
  Count count({metadata.get(), root.get()});
  EXPECT_EQ(count.ids, (IDCountMap{{"#4", 3}}));
  EXPECT_FALSE(count.counter.failed());
}

TEST(IDCounter, ASharedStructureWithAnIDInACycleIsCountedAndNotReentered) {
  ref<ZRXStructure> a = makeStructure("<A>", "#a");
  ref<ZRXStructure> b = makeStructure("<B>", "#b");
  *a << "b" << ZRXValue::makeStructure(b.get());
  *b << "back" << ZRXValue::makeStructure(a.get());
  Count count({a.get()});
  EXPECT_EQ(count.ids, (IDCountMap{{"#a", 2}, {"#b", 1}}));
  EXPECT_FALSE(count.counter.failed());
  b->value().clear();  // break the cycle
}

TEST(IDCounter, AListReachedAgainWarnsEachTimeAndRecordsAFailure) {
  zrtest::LogCapture log;
  ref<ZRXStructure> root = makeStructure("<Root>");
  ref<ZRXList> list(new ZRXList("<Items>"));
  list->value() = {ZRXValue::makeID("#x")};
  list->value().push_back(ZRXValue::makeList(list.get()));  // reached again through itself
  *root << "first" << ZRXValue::makeList(list.get()) << "second" << ZRXValue::makeList(list.get());
  Count count({root.get()});
  EXPECT_EQ(count.ids, (IDCountMap{{"#x", 1}}));  // walked once
  EXPECT_EQ(log.warnings(), (std::vector<std::string>{kListWarning, kListWarning}));
  EXPECT_TRUE(log.errors().empty());
  EXPECT_TRUE(count.counter.failed());
  EXPECT_NE(count.counter.failure().find("<Items>"), std::string::npos) << count.counter.failure();
  list->value().clear();
}

struct FailureCase {
  const char* name;
  const char* id;  // of the structure reached twice
  bool failed;
};

TEST(IDCounter, AStructureWithoutAnIDReachedTwiceIsAFailure) {
  const FailureCase cases[] = {
      {"#NULL ID", "#NULL", true},
      {"empty ID", "", true},
      {"own ID", "#7", false},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    ref<ZRXStructure> root = makeStructure("<Root>");
    ref<ZRXStructure> twice = makeStructure("<Twice>", c.id);
    *root << "a" << ZRXValue::makeStructure(twice.get()) << "b"
          << ZRXValue::makeStructure(twice.get());
    Count count({root.get()});
    EXPECT_EQ(count.counter.failed(), c.failed);
    if (c.failed) {
      EXPECT_NE(count.counter.failure().find("<Twice>"), std::string::npos)
          << count.counter.failure();
      EXPECT_TRUE(count.ids.empty());
    }
  }
}

TEST(IDCounter, TwoStructuresCarryingOneIDAreAFailure) {
  // Written out, the document could not be loaded again: its IDs would clash.
  ref<ZRXStructure> root = makeStructure("<Root>");
  *root << "a" << ZRXValue::makeStructure(makeStructure("<First>", "#1").get()) << "b"
        << ZRXValue::makeStructure(makeStructure("<Second>", "#1").get());
  Count count({root.get()});
  EXPECT_EQ(count.ids, (IDCountMap{{"#1", 2}}));
  ASSERT_TRUE(count.counter.failed());
  EXPECT_NE(count.counter.failure().find("'#1'"), std::string::npos) << count.counter.failure();
  EXPECT_NE(count.counter.failure().find("<Second>"), std::string::npos);
}

TEST(IDCounter, KeepsTheFirstFailure) {
  zrtest::LogCapture log;
  ref<ZRXStructure> root = makeStructure("<Root>");
  ref<ZRXStructure> plain = makeStructure("<Plain>");
  ref<ZRXList> list(new ZRXList("<List>"));
  *root << "a" << ZRXValue::makeStructure(plain.get()) << "b"
        << ZRXValue::makeStructure(plain.get()) << "c" << ZRXValue::makeList(list.get()) << "d"
        << ZRXValue::makeList(list.get());
  Count count({root.get()});
  EXPECT_NE(count.counter.failure().find("<Plain>"), std::string::npos);
  EXPECT_EQ(count.counter.failure().find("<List>"), std::string::npos);
}

// Appends `value` to a structure (under the key "v") or to a list.
void append(ZRXTaggedValue* node, const ZRXValue& value) {
  if (node->isOfType(ZRXList::Type())) {
    static_cast<ZRXList*>(node)->value().push_back(value);
  } else {
    *static_cast<ZRXStructure*>(node) << "v" << value;
  }
}

// `levels` nested nodes, alternately structures and lists (both count as levels), the root a
// structure; the innermost holds the ID value "#deep".
ref<ZRXStructure> nested(int levels) {
  ref<ZRXStructure> root = makeStructure("<Level>");
  ZRXTaggedValue* at = root.get();
  for (int level = 2; level <= levels; ++level) {
    ZRXValue child;
    ZRXTaggedValue* node = level % 2 == 0
                               ? static_cast<ZRXTaggedValue*>(child.setList(new ZRXList("<Level>")))
                               : child.setStructure(new ZRXStructure("<Level>"));
    append(at, child);
    at = node;
  }
  append(at, ZRXValue::makeID("#deep"));
  return root;
}

TEST(IDCounter, NestingDeeperThanMaxDepthIsAFailure) {
  struct Case {
    int levels;
    int maxDepth;
    bool failed;
  };
  const Case cases[] = {{5, 5, false}, {6, 5, true}, {7, 6, true}, {1, 1, false}, {2, 1, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.levels) + " levels, limit " + std::to_string(c.maxDepth));
    ref<ZRXStructure> root = nested(c.levels);
    Count count({root.get()}, c.maxDepth);
    EXPECT_EQ(count.counter.failed(), c.failed) << count.counter.failure();
    EXPECT_EQ(count.ids.count("#deep"), c.failed ? 0u : 1u);
    if (c.failed) {
      EXPECT_NE(count.counter.failure().find("VisitorIDCounter"), std::string::npos);
    }
  }
}

TEST(IDCounter, AVeryDeepTreeStopsAtTheDefaultLimitWithoutExhaustingTheStack) {
  ref<ZRXStructure> root = nested(200000);
  Count count({root.get()});
  EXPECT_TRUE(count.counter.failed());
  EXPECT_NE(count.counter.failure().find(std::to_string(kDefaultMaxDepth)), std::string::npos);
}

TEST(IDCounterDeathTest, WalkingWithoutAMapFailsTheCheck) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ref<ZRXStructure> root = makeStructure("<Root>");
  VisitorIDCounter counter;
  EXPECT_DEATH(root->acceptVisitor(&counter), "Check failed: mIDSet");
}

}  // namespace

namespace {

// The counter a writer follows (recorded, IDs counted afterwards) and the ordinary one must agree:
// the same failure, and, when there is none, for every recorded node the same answer to "is its
// ID written".
struct BothCounts {
  IDCountMap ordinaryIDs, deferredIDs;
  VisitorIDCounter ordinary, deferred;
  BothCounts(const std::vector<ZRXStructure*>& roots, int maxDepth) {
    ordinary.setIDSet(&ordinaryIDs);
    ordinary.setMaxDepth(maxDepth);
    ordinary.recordFirstVisits();
    deferred.setIDSet(&deferredIDs);
    deferred.setMaxDepth(maxDepth);
    deferred.recordFirstVisits();
    deferred.deferIDCounting();
    for (ZRXStructure* root : roots) {
      root->acceptVisitor(&ordinary);
      root->acceptVisitor(&deferred);
    }
    deferred.finish();
  }
};

ref<ZRXStructure> holding(const char* tag, const char* id,
                          const std::vector<std::pair<const char*, ZRXValue>>& entries) {
  ref<ZRXStructure> s = makeStructure(tag, id);
  for (const auto& [key, value] : entries) *s << key << value;
  return s;
}

ZRXValue structureValue(const ref<ZRXStructure>& s) { return ZRXValue::makeStructure(s.get()); }

}  // namespace

TEST(IDCounter, CountingAfterTheWalkAgreesWithCountingOnTheWay) {
  zrtest::LogCapture log;
  struct Case {
    const char* name;
    std::vector<ref<ZRXStructure>> roots;
    int maxDepth = kDefaultMaxDepth;
  };
  std::vector<Case> cases;
  {
    // Shared structures with and without ID values naming them, one not shared.
    ref<ZRXStructure> shared = holding("<S>", "#s", {});
    ref<ZRXStructure> named = holding("<N>", "#n", {});
    ref<ZRXStructure> alone = holding("<A>", "#a", {});
    cases.push_back({"sharing",
                     {holding("<Root>", "#root",
                              {{"x", structureValue(shared)},
                               {"y", structureValue(shared)},
                               {"n", structureValue(named)},
                               {"r", ZRXValue::makeID("#n")},
                               {"a", structureValue(alone)}})}});
  }
  {
    // Two IDs carried twice each: the walk meets the second "#a" first.
    cases.push_back({"duplicates",
                     {holding("<Root>", "#NULL",
                              {{"p", structureValue(holding("<P>", "#b", {}))},
                               {"q", structureValue(holding("<Q>", "#a", {}))},
                               {"r", structureValue(holding("<R>", "#a", {}))},
                               {"s", structureValue(holding("<S>", "#b", {}))}})}});
  }
  {
    // A structure without an ID reached twice before a duplicate, and after one.
    ref<ZRXStructure> plain = holding("<Plain>", "#NULL", {});
    cases.push_back({"plain first",
                     {holding("<Root>", "#NULL",
                              {{"a", structureValue(plain)},
                               {"b", structureValue(plain)},
                               {"c", structureValue(holding("<C>", "#d", {}))},
                               {"d", structureValue(holding("<D>", "#d", {}))}})}});
    ref<ZRXStructure> later = holding("<Later>", "#NULL", {});
    cases.push_back({"duplicate first",
                     {holding("<Root>", "#NULL",
                              {{"c", structureValue(holding("<C>", "#d", {}))},
                               {"d", structureValue(holding("<D>", "#d", {}))},
                               {"a", structureValue(later)},
                               {"b", structureValue(later)}})}});
  }
  {
    // A list reached twice after a duplicate; nesting beyond the limit before one.
    ref<ZRXList> list(new ZRXList("<L>"));
    cases.push_back({"list",
                     {holding("<Root>", "#NULL",
                              {{"c", structureValue(holding("<C>", "#d", {}))},
                               {"d", structureValue(holding("<D>", "#d", {}))},
                               {"l", ZRXValue::makeList(list.get())},
                               {"m", ZRXValue::makeList(list.get())}})}});
    cases.push_back({"deep",
                     {holding("<Root>", "#NULL",
                              {{"deep", structureValue(nested(6))},
                               {"c", structureValue(holding("<C>", "#d", {}))},
                               {"d", structureValue(holding("<D>", "#d", {}))}})},
                     4});
  }
  {
    // Duplicates across two top-level structures, and a top-level one carrying an ID.
    ref<ZRXStructure> first = holding("<First>", "#t", {{"x", ZRXValue::makeID("#t")}});
    cases.push_back({"top level", {first, holding("<Second>", "#t", {})}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<ZRXStructure*> roots;
    for (const ref<ZRXStructure>& root : c.roots) roots.push_back(root.get());
    const BothCounts both(roots, c.maxDepth);
    EXPECT_EQ(both.deferred.failure(), both.ordinary.failure());
    if (both.ordinary.failed()) continue;  // no writer follows a failed count
    ASSERT_EQ(both.deferred.firstVisits(), both.ordinary.firstVisits());
    for (size_t record = 0; record < both.ordinary.firstVisits().size(); ++record)
      EXPECT_EQ(both.deferred.isReferencedRecord(record), both.ordinary.isReferencedRecord(record))
          << "record " << record;
  }
}
