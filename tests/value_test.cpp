// ZRXValue (kinds, ownership, reference counts, checks) and the tagged nodes.
#include "zrX/Value.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "zrX/Visitor.hpp"

namespace {

using namespace zrX;
using zr::ref;

// Values that would silently turn into Integers must not compile.
static_assert(!std::is_constructible_v<ZRXValue, double>);
static_assert(!std::is_constructible_v<ZRXValue, float>);
static_assert(!std::is_constructible_v<ZRXValue, bool>);
static_assert(std::is_constructible_v<ZRXValue, int>);
static_assert(std::is_constructible_v<ZRXValue, int64_t>);

// A structure that reports its destruction.
class TrackedStructure : public ZRXStructure {
 public:
  TrackedStructure(const char* tag, bool* destroyed) : ZRXStructure(tag), mDestroyed(destroyed) {}
  ~TrackedStructure() override { *mDestroyed = true; }

 private:
  bool* mDestroyed;
};

class TrackedList : public ZRXList {
 public:
  explicit TrackedList(bool* destroyed) : mDestroyed(destroyed) {}
  ~TrackedList() override { *mDestroyed = true; }

 private:
  bool* mDestroyed;
};

// Values: kinds and ownership
// ------------------------------------------------------------------------

TEST(Value, DefaultIsIntegerZeroAtLineZero) {
  ZRXValue v;
  EXPECT_EQ(v.type(), ZRXValue::Integer);
  EXPECT_EQ(v.getInteger(), 0);
  EXPECT_EQ(v.lineNumber(), 0);
  ZRXValue fromInt(-7);
  EXPECT_EQ(fromInt.getInteger(), -7);
}

TEST(Value, SettersAndGettersOfEveryKind) {
  ref<ZRXStructure> structure(new ZRXStructure());
  ref<ZRXList> list(new ZRXList());
  ref<ZRXRawtextBlock> block(new ZRXRawtextBlock());
  ref<ZRXArrayInteger> integers(new ZRXArrayInteger());
  ref<ZRXArrayReal> reals(new ZRXArrayReal());
  ZRXValue v;
  EXPECT_EQ(v.setBool(true), true);
  EXPECT_EQ(v.type(), ZRXValue::Bool);
  EXPECT_TRUE(v.getBool());
  EXPECT_EQ(v.setReal(-0.25), -0.25);
  EXPECT_EQ(v.getReal(), -0.25);
  EXPECT_EQ(v.setInteger(INT64_MIN), INT64_MIN);
  EXPECT_EQ(v.getInteger(), INT64_MIN);
  EXPECT_EQ(v.setString("s"), "s");
  EXPECT_EQ(v.getString(), "s");
  EXPECT_EQ(v.setIdentifier(std::string("ident")), "ident");
  EXPECT_EQ(v.type(), ZRXValue::Identifier);
  EXPECT_EQ(v.getIdentifier(), "ident");
  EXPECT_EQ(v.setID("#7"), "#7");
  EXPECT_EQ(v.getID(), "#7");
  EXPECT_EQ(v.setStructure(structure.get()), structure.get());
  EXPECT_EQ(v.getStructure(), structure.get());
  EXPECT_EQ(v.setList(list.get()), list.get());
  EXPECT_EQ(v.getList(), list.get());
  EXPECT_EQ(v.setRawtextBlock(block.get()), block.get());
  EXPECT_EQ(v.getRawtextBlock(), block.get());
  EXPECT_EQ(v.setArrayInteger(integers.get()), integers.get());
  EXPECT_EQ(v.getArrayInteger(), integers.get());
  EXPECT_EQ(v.setArrayReal(reals.get()), reals.get());
  EXPECT_EQ(v.getArrayReal(), reals.get());
  for (const ZRXValue::EType text : {ZRXValue::String, ZRXValue::Identifier, ZRXValue::ID}) {
    ZRXValue t("abc", text);
    EXPECT_EQ(t.type(), text);
  }
}

TEST(Value, CopiesShareNodesAndDuplicateTexts) {
  ref<ZRXList> list(new ZRXList());
  ZRXValue* a = new ZRXValue;
  a->setList(list.get());
  EXPECT_EQ(list->referenceCount(), 2);
  {
    ZRXValue b(*a);
    EXPECT_EQ(b.getList(), list.get());
    EXPECT_EQ(list->referenceCount(), 3);
  }
  EXPECT_EQ(list->referenceCount(), 2);
  delete a;
  EXPECT_EQ(list->referenceCount(), 1);

  ZRXValue text("hello", ZRXValue::String);
  {
    ZRXValue copy(text);
    EXPECT_NE(&copy.getString(), &text.getString());
    EXPECT_EQ(copy.getString(), "hello");
  }
  EXPECT_EQ(text.getString(), "hello");  // still readable after the copy died
}

TEST(Value, AssignmentReleasesTheOldPayload) {
  ref<ZRXList> list(new ZRXList());
  ZRXValue v;
  v.setString("text");
  ZRXValue real;
  real.setReal(1.5);
  v = real;  // the string is freed (the leak checker would see it otherwise)
  EXPECT_EQ(v.getReal(), 1.5);

  v.setList(list.get());
  EXPECT_EQ(list->referenceCount(), 2);
  v = ZRXValue("s", ZRXValue::String);
  EXPECT_EQ(list->referenceCount(), 1);
  EXPECT_EQ(v.getString(), "s");
}

TEST(Value, SelfAssignmentAndSettingTheHeldNodeChangeNothing) {
  // The value is the node's only holder each time: a release before the take would destroy it.
  bool destroyed = false;
  ZRXValue v;
  ZRXList* list = v.setList(new TrackedList(&destroyed));
  EXPECT_EQ(list->referenceCount(), 1);
  ZRXValue& alias = v;
  v = alias;
  EXPECT_EQ(list->referenceCount(), 1);
  v = std::move(alias);
  EXPECT_EQ(v.getList(), list);
  v.setList(v.getList());
  EXPECT_EQ(list->referenceCount(), 1);
  EXPECT_FALSE(destroyed);

  v.setString("abc");
  v.setString(v.getString());
  EXPECT_EQ(v.getString(), "abc");
  v.setID(v.getString().c_str());
  EXPECT_EQ(v.getID(), "abc");
  v = alias;
  EXPECT_EQ(v.getID(), "abc");

  bool structureGone = false;
  ZRXStructure* s = v.setStructure(new TrackedStructure("<S>", &structureGone));
  v.setStructure(s);
  EXPECT_EQ(s->referenceCount(), 1);
  EXPECT_FALSE(structureGone);
  v.setInteger(1);
  EXPECT_TRUE(structureGone);
  EXPECT_TRUE(destroyed);
}

// The source lives inside a node that only the target keeps alive: taking the source after
// releasing the target would read freed memory.
TEST(Value, AssigningFromInsideANodeOnlyTheTargetKeepsAlive) {
  struct Case {
    const char* name;
    std::function<void(ZRXValue& target, ZRXValue& source)> assign;
  };
  const Case cases[] = {
      {"copy assignment", [](ZRXValue& t, ZRXValue& s) { t = s; }},
      {"move assignment", [](ZRXValue& t, ZRXValue& s) { t = std::move(s); }},
      {"setString from its text", [](ZRXValue& t, ZRXValue& s) { t.setString(s.getString()); }},
      {"setString from its chars",
       [](ZRXValue& t, ZRXValue& s) { t.setString(s.getString().c_str()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool listGone = false;
    ZRXValue target;
    ZRXList* list = target.setList(new TrackedList(&listGone));
    list->value().emplace_back("inner text", ZRXValue::String);
    list->value().back().setLineNumber(33);
    c.assign(target, list->value().back());
    EXPECT_TRUE(listGone);
    EXPECT_EQ(target.getString(), "inner text");
  }

  // A node held inside the released node survives through the new reference.
  bool outerGone = false, innerGone = false;
  ZRXValue target;
  ZRXStructure* outer = target.setStructure(new TrackedStructure("<Outer>", &outerGone));
  auto* inner = new TrackedStructure("<Inner>", &innerGone);
  *outer << "child" << [&] {
    ZRXValue v;
    v.setStructure(inner);
    return v;
  }();
  target = outer->value()[0].value();
  EXPECT_TRUE(outerGone);
  EXPECT_FALSE(innerGone);
  EXPECT_EQ(target.getStructure(), inner);
  EXPECT_EQ(inner->referenceCount(), 1);
  target.setStructure(target.getStructure());
  EXPECT_FALSE(innerGone);
}

TEST(Value, MoveLeavesTheSourceIntegerZero) {
  ref<ZRXList> list(new ZRXList());
  ZRXValue a;
  a.setList(list.get());
  ZRXValue b(std::move(a));
  EXPECT_EQ(a.type(), ZRXValue::Integer);
  EXPECT_EQ(list->referenceCount(), 2);
  ZRXValue c;
  c = std::move(b);
  EXPECT_EQ(b.getInteger(), 0);
  EXPECT_EQ(c.getList(), list.get());
  EXPECT_EQ(list->referenceCount(), 2);
}

TEST(Value, NullStructureIsAStructureWithoutANode) {
  ref<ZRXStructure> s(new ZRXStructure());
  ZRXValue v;
  v.setStructure(s.get());
  EXPECT_EQ(s->referenceCount(), 2);
  EXPECT_EQ(v.setStructure(nullptr), nullptr);
  EXPECT_EQ(s->referenceCount(), 1);
  EXPECT_EQ(v.type(), ZRXValue::Structure);
  EXPECT_EQ(v.getStructure(), nullptr);
  ZRXValue copy(v);
  EXPECT_EQ(copy.getStructure(), nullptr);
  v.setInteger(0);  // releasing a node-less value touches no count
  EXPECT_EQ(s->referenceCount(), 1);
}

TEST(Value, LineNumbersStayThroughSettersAndFollowAssignment) {
  ZRXValue v;
  v.setLineNumber(12);
  v.setInteger(5);
  v.setString("x");
  EXPECT_EQ(v.lineNumber(), 12);
  ZRXValue other(3);
  other.setLineNumber(40);
  v = other;
  EXPECT_EQ(v.lineNumber(), 40);
  ZRXValue copy(v);
  EXPECT_EQ(copy.lineNumber(), 40);
}

TEST(Value, SetArrayDispatchesOnTheExactClass) {
  ref<ZRXArrayInteger> integers(new ZRXArrayInteger());
  ref<ZRXArrayReal> reals(new ZRXArrayReal());
  ZRXValue v;
  EXPECT_EQ(v.setArray(integers.get()), integers.get());
  EXPECT_EQ(v.type(), ZRXValue::ArrayInteger);
  EXPECT_EQ(v.getArrayInteger(), integers.get());
  EXPECT_EQ(integers->referenceCount(), 2);
  EXPECT_EQ(v.setArray(reals.get()), reals.get());
  EXPECT_EQ(v.type(), ZRXValue::ArrayReal);
  EXPECT_EQ(v.getArrayReal(), reals.get());
  EXPECT_EQ(integers->referenceCount(), 1);
  EXPECT_EQ(reals->referenceCount(), 2);
}

// Checks and traps
// ----------------------------------------------------------------------------------

class ValueDeathTest : public testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ValueDeathTest, WrongKindGettersFailTheirCheck) {
  struct Case {
    const char* check;
    std::function<void(const ZRXValue&)> get;
  };
  const Case cases[] = {
      {"mType == Structure", [](const ZRXValue& v) { v.getStructure(); }},
      {"mType == List", [](const ZRXValue& v) { v.getList(); }},
      {"mType == RawtextBlock", [](const ZRXValue& v) { v.getRawtextBlock(); }},
      {"mType == ArrayInteger", [](const ZRXValue& v) { v.getArrayInteger(); }},
      {"mType == ArrayReal", [](const ZRXValue& v) { v.getArrayReal(); }},
      {"mType == String", [](const ZRXValue& v) { v.getString(); }},
      {"mType == Identifier", [](const ZRXValue& v) { v.getIdentifier(); }},
      {"mType == ID", [](const ZRXValue& v) { v.getID(); }},
      {"mType == Real", [](const ZRXValue& v) { v.getReal(); }},
      {"mType == Bool", [](const ZRXValue& v) { v.getBool(); }},
  };
  const ZRXValue integer(1);
  for (const Case& c : cases) {
    EXPECT_DEATH(c.get(integer), std::string("Check failed: ") + c.check + " \\(src/zrX/Value")
        << c.check;
  }
  ZRXValue text("1", ZRXValue::String);
  EXPECT_DEATH(text.getInteger(), "Check failed: mType == Integer \\(src/zrX/Value");
  // Text kinds are not interchangeable.
  EXPECT_DEATH(text.getID(), "Check failed: mType == ID ");
}

TEST_F(ValueDeathTest, NullNodesFailTheirCheck) {
  ZRXValue v;
  EXPECT_DEATH(v.setList(nullptr), "Check failed: list ");
  EXPECT_DEATH(v.setRawtextBlock(nullptr), "Check failed: fblock ");
  EXPECT_DEATH(v.setArrayInteger(nullptr), "Check failed: arr ");
  EXPECT_DEATH(v.setArrayReal(nullptr), "Check failed: arr ");
  EXPECT_DEATH(v.setArray(nullptr), "Check failed: arr ");
  EXPECT_DEATH(v.setString(static_cast<const char*>(nullptr)), "Check failed: text ");
}

// Array classes setArray does not know: one with a runtime type of its own, and one that reports
// the shared template record.
class OtherArray : public ZRXArray {
  ZR_DECLARE_TYPE()
 public:
  void acceptVisitor(Visitor*) override {}
};
ZR_DEFINE_TYPE(OtherArray, ZRXArray, "test::OtherArray")

class BareIntegerTemplate : public ZRXArrayTemplate<int64_t> {
 public:
  void acceptVisitor(Visitor*) override {}
};

TEST_F(ValueDeathTest, SetArrayWithAnotherArrayClassTrapsWithoutAMessage) {
  ref<ZRXArray> other(new OtherArray());
  ref<ZRXArray> bare(new BareIntegerTemplate());
  ZRXValue v;
  EXPECT_EXIT(v.setArray(other.get()), testing::KilledBySignal(SIGABRT), "^$");
  EXPECT_EXIT(v.setArray(bare.get()), testing::KilledBySignal(SIGABRT), "^$");
  EXPECT_EXIT(ZRXValue("x", ZRXValue::Integer), testing::KilledBySignal(SIGABRT), "^$");
  EXPECT_EXIT(ZRXValue("x", ZRXValue::List), testing::KilledBySignal(SIGABRT), "^$");
}

// Nodes
// ---------------------------------------------------------------------------------------------

TEST(Nodes, ConstructionDefaults) {
  ref<ZRXStructure> plain(new ZRXStructure());
  EXPECT_EQ(plain->uid(), "#NULL");
  EXPECT_EQ(plain->tag(), "");
  EXPECT_TRUE(plain->value().empty());
  EXPECT_GE(plain->value().capacity(), 8u);
  EXPECT_EQ(plain->lineNumber(), 0);
  ref<ZRXStructure> tagged(new ZRXStructure("<Mesh>"));
  EXPECT_EQ(tagged->tag(), "<Mesh>");
  EXPECT_EQ(tagged->uid(), "#NULL");

  ref<ZRXList> list(new ZRXList("<L>"));
  EXPECT_EQ(list->tag(), "<L>");
  EXPECT_GE(list->value().capacity(), 8u);
  ref<ZRXRawtextBlock> noText(new ZRXRawtextBlock("<B>", nullptr));
  EXPECT_EQ(noText->value(), "");
  ref<ZRXRawtextBlock> text(new ZRXRawtextBlock(nullptr, "line 1\n  line 2"));
  EXPECT_EQ(text->tag(), "");
  EXPECT_EQ(text->value(), "line 1\n  line 2");
  ref<ZRXArrayReal> reals(new ZRXArrayReal("<R>"));
  EXPECT_EQ(reals->tag(), "<R>");
  EXPECT_TRUE(reals->value().empty());

  tagged->setID("#5");
  tagged->setTag("<Other>");
  tagged->setLineNumber(9);
  EXPECT_EQ(tagged->uid(), "#5");
  EXPECT_EQ(tagged->tag(), "<Other>");
  EXPECT_EQ(tagged->lineNumber(), 9);
}

TEST(Nodes, StructureAppendsKeysAndValuesInOrder) {
  ref<ZRXStructure> s(new ZRXStructure());
  *s << "a" << ZRXValue(1) << "a" << ZRXValue("two", ZRXValue::String) << "bare";
  ASSERT_EQ(s->value().size(), 3u);
  EXPECT_EQ(s->value()[0].key(), "a");
  EXPECT_EQ(s->value()[0].value().getInteger(), 1);
  EXPECT_EQ(s->value()[1].key(), "a");
  EXPECT_EQ(s->value()[1].value().getString(), "two");
  EXPECT_EQ(s->value()[2].key(), "bare");
  EXPECT_EQ(s->value()[2].value().getInteger(), 0);

  // More than the reserved entries, and a value taken from an earlier entry of the same structure.
  for (int i = 0; i < 40; ++i) *s << "n" << ZRXValue(i);
  *s << "copy" << s->value()[1].value();
  EXPECT_EQ(s->value().back().value().getString(), "two");
  EXPECT_EQ(s->value().size(), 44u);

  ZRXStructure::KeyValue entry("k", ZRXValue(4));
  entry.setKey("key");
  entry.setValue(ZRXValue("v", ZRXValue::Identifier));
  EXPECT_EQ(entry.key(), "key");
  EXPECT_EQ(entry.value().getIdentifier(), "v");
  ZRXStructure::KeyValue empty;
  EXPECT_EQ(empty.key(), "");
  EXPECT_EQ(empty.value().getInteger(), 0);
}

TEST_F(ValueDeathTest, StructureMisuseFailsItsChecks) {
  ref<ZRXStructure> s(new ZRXStructure());
  EXPECT_DEATH(*s << ZRXValue(1), "Check failed: !mKeyValue.empty\\(\\)");
  EXPECT_DEATH(*s << static_cast<const char*>(nullptr), "Check failed: key ");
  EXPECT_DEATH(s->setID(static_cast<const char*>(nullptr)), "Check failed: id ");
  EXPECT_DEATH(s->setTag(static_cast<const char*>(nullptr)), "Check failed: tag ");
  EXPECT_DEATH(ZRXStructure::KeyValue(nullptr, ZRXValue()), "Check failed: key ");
}

TEST(Nodes, DestroyingTheLastReferenceReleasesTheSubtree) {
  bool rootGone = false, childGone = false, sharedGone = false, listGone = false;
  auto* root = new TrackedStructure("<Root>", &rootGone);
  ref<ZRXStructure> holder(root);
  auto* child = new TrackedStructure("<Child>", &childGone);
  auto* shared = new TrackedStructure("<Shared>", &sharedGone);
  ref<ZRXStructure> outside(shared);
  auto* list = new TrackedList(&listGone);
  ZRXValue v;
  v.setStructure(child);
  *root << "child" << v;
  v.setList(list);
  *root << "list" << v;
  v.setStructure(shared);
  list->value().push_back(v);
  v.setInteger(0);
  EXPECT_EQ(child->referenceCount(), 1);
  EXPECT_EQ(shared->referenceCount(), 2);

  holder.release();
  EXPECT_TRUE(rootGone);
  EXPECT_TRUE(childGone);
  EXPECT_TRUE(listGone);
  EXPECT_FALSE(sharedGone);  // still held from outside
  EXPECT_EQ(shared->referenceCount(), 1);
}

TEST(Nodes, ALongChainOfStructuresIsReleasedWithoutOverflowingTheStack) {
  // As after linking a document in which each structure refers to the next.
  constexpr int kLength = 300000;
  ref<ZRXStructure> head(new ZRXStructure("<Link>"));
  ZRXStructure* tail = head.get();
  for (int i = 1; i < kLength; ++i) {
    ZRXValue next;
    auto* s = new ZRXStructure("<Link>");
    next.setStructure(s);
    *tail << "next" << next;
    tail = s;
  }
  bool lastGone = false;
  ZRXValue last;
  last.setStructure(new TrackedStructure("<Last>", &lastGone));
  *tail << "next" << last;
  last.setInteger(0);
  head.release();
  EXPECT_TRUE(lastGone);
}

// Records which visit slot each node called.
class RecordingVisitor : public Visitor {
 public:
  void visitStructure(ZRXStructure* s) override { calls.push_back("structure:" + s->tag()); }
  void visitList(ZRXList* l) override { calls.push_back("list:" + l->tag()); }
  void visitRawtextBlock(ZRXRawtextBlock* b) override { calls.push_back("raw:" + b->tag()); }
  void visitArray(ZRXArrayReal* a) override { calls.push_back("real:" + a->tag()); }
  void visitArray(ZRXArrayInteger* a) override { calls.push_back("integer:" + a->tag()); }
  std::vector<std::string> calls;
};

TEST(Nodes, AcceptVisitorCallsExactlyTheMatchingSlot) {
  std::vector<ref<ZRXTaggedValue>> nodes = {
      new ZRXStructure("<S>"), new ZRXList("<L>"),         new ZRXRawtextBlock("<B>"),
      new ZRXArrayReal("<R>"), new ZRXArrayInteger("<I>"),
  };
  // A structure with children: dispatch never recurses by itself.
  ZRXValue child;
  child.setList(new ZRXList("<Inner>"));
  *static_cast<ZRXStructure*>(nodes[0].get()) << "inner" << child;
  RecordingVisitor visitor;
  for (const ref<ZRXTaggedValue>& node : nodes) node->acceptVisitor(&visitor);
  EXPECT_EQ(visitor.calls, (std::vector<std::string>{"structure:<S>", "list:<L>", "raw:<B>",
                                                     "real:<R>", "integer:<I>"}));
}

// The entries' vector does what std::vector does: each operation is applied to both, with
// elements that own heap memory, so a leaked or twice-freed element shows under the sanitizers.
TEST(NodeVector, EveryOperationDoesWhatStdVectorDoes) {
  using Texts = zrX::NodeVector<std::string>;
  using Plain = std::vector<std::string>;
  const std::string longText(40, 'x');  // beyond the small-string buffer
  Texts node;
  Plain plain;
  const auto both = [&](const char* name, const auto& op) {
    op(node);
    op(plain);
    ASSERT_EQ(node.size(), plain.size()) << name;
    EXPECT_TRUE(std::equal(node.begin(), node.end(), plain.begin(), plain.end())) << name;
    EXPECT_GE(node.capacity(), node.size()) << name;
  };
  both("push_back", [&](auto& v) {
    for (int i = 0; i < 9; ++i) v.push_back(longText + char('a' + i));
  });
  both("push_back of its own element", [](auto& v) { v.push_back(v[2]); });
  both("emplace_back", [](auto& v) { v.emplace_back(3, 'e'); });
  both("insert in the middle", [&](auto& v) { v.insert(v.begin() + 1, longText + "i"); });
  both("insert of its own element", [](auto& v) { v.insert(v.begin(), v.back()); });
  both("insert a range", [&](auto& v) {
    const Plain more = {"r1", longText + "r2"};
    v.insert(v.begin() + 2, more.begin(), more.end());
  });
  both("erase one", [](auto& v) { v.erase(v.begin() + 3); });
  both("erase a range", [](auto& v) { v.erase(v.begin() + 1, v.begin() + 4); });
  both("pop_back", [](auto& v) { v.pop_back(); });
  both("resize up", [](auto& v) { v.resize(v.size() + 3); });
  both("resize with a value", [&](auto& v) { v.resize(v.size() + 2, longText + "f"); });
  both("resize down", [](auto& v) { v.resize(4); });
  both("reserve", [](auto& v) { v.reserve(100); });
  both("shrink_to_fit", [](auto& v) { v.shrink_to_fit(); });
  both("copy assignment over held storage", [&](auto& v) {
    auto other = v;
    other.push_back(longText + "c");
    v = other;
  });
  both("self assignment", [](auto& v) {
    auto& same = v;
    v = same;
  });
  both("move assignment", [](auto& v) {
    auto other = v;
    other.erase(other.begin());
    v = std::move(other);
  });
  both("swap", [&](auto& v) {
    std::remove_reference_t<decltype(v)> other;
    other.push_back(longText + "s");
    v.swap(other);
    v.insert(v.end(), other.begin(), other.end());
  });
  both("assign a range", [&](auto& v) {
    const Plain more = {"a1", longText + "a2", "a3"};
    v.assign(more.begin(), more.end());
  });
  both("assign copies", [&](auto& v) { v.assign(5, longText + "n"); });
  both("clear", [](auto& v) { v.clear(); });
  both("grow again after clear", [&](auto& v) { v.push_back(longText); });
  const Texts copy(node);
  EXPECT_TRUE(copy == node);
  EXPECT_EQ(sizeof(Texts), 16u);
}

TEST(Values, MakeFunctionsGiveTheKindAndPayload) {
  EXPECT_TRUE(ZRXValue::makeBool(true).getBool());
  EXPECT_EQ(ZRXValue::makeInteger(INT64_MIN).getInteger(), INT64_MIN);
  EXPECT_EQ(ZRXValue::makeReal(-0.5).getReal(), -0.5);
  EXPECT_EQ(ZRXValue::makeString("a\0b").getString(), "a");  // from a C text: up to the NUL
  EXPECT_EQ(ZRXValue::makeString(std::string("a\0b", 3)).getString().size(), 3u);
  EXPECT_EQ(ZRXValue::makeIdentifier("Fast").type(), ZRXValue::Identifier);
  EXPECT_EQ(ZRXValue::makeID("#a").getID(), "#a");

  zr::ref<zrX::ZRXStructure> structure = new zrX::ZRXStructure;
  zr::ref<zrX::ZRXArrayReal> reals = new zrX::ZRXArrayReal;
  {
    const ZRXValue s = ZRXValue::makeStructure(structure.get());
    const ZRXValue a = ZRXValue::makeArray(reals.get());
    EXPECT_EQ(s.getStructure(), structure.get());
    EXPECT_EQ(a.type(), ZRXValue::ArrayReal);
    EXPECT_EQ(structure->referenceCount(), 2);
    EXPECT_EQ(reals->referenceCount(), 2);
    EXPECT_EQ(ZRXValue::makeStructure(nullptr).getStructure(), nullptr);
  }
  EXPECT_EQ(structure->referenceCount(), 1);
  EXPECT_EQ(reals->referenceCount(), 1);
}

}  // namespace
