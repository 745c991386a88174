// Reference counting (zr::Object, zr::ref), MurmurHash3 and the runtime type records of every
// class of zrCore and zrX.
#include "zrCore/Object.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "zrCore/ResourceDatabase.hpp"
#include "zrCore/TypeInfo.hpp"
#include "zrCore/VirtualFile.hpp"
#include "zrX/Parser.hpp"
#include "zrX/Value.hpp"
#include "zrX/Visitor.hpp"
#include "zrX/VisitorLinker.hpp"

namespace {

using zr::Object;
using zr::ref;

// An object that reports its destruction into a counter owned by the test.
class Tracked : public Object {
 public:
  explicit Tracked(int* destroyed) : mDestroyed(destroyed) {}
  ~Tracked() override { ++*mDestroyed; }

 private:
  int* mDestroyed;
};

class Derived : public Tracked {
 public:
  using Tracked::Tracked;
};

// Ref counting ------------------------------------------------------------------------------------

TEST(Ref, CopyMoveAndReleaseKeepTheCount) {
  int destroyed = 0;
  auto* object = new Tracked(&destroyed);
  EXPECT_EQ(object->referenceCount(), 0);
  {
    ref<Tracked> a(object);
    EXPECT_EQ(object->referenceCount(), 1);
    ref<Tracked> b(a);
    EXPECT_EQ(object->referenceCount(), 2);
    ref<Tracked> c(std::move(b));
    EXPECT_EQ(object->referenceCount(), 2);
    EXPECT_FALSE(b);
    EXPECT_EQ(c.get(), object);
    c.release();
    EXPECT_FALSE(c);
    EXPECT_EQ(object->referenceCount(), 1);
    EXPECT_EQ(destroyed, 0);
  }
  EXPECT_EQ(destroyed, 1);
}

TEST(Ref, AssignmentReleasesTheOldTargetAndTakesTheNew) {
  int destroyedA = 0, destroyedB = 0;
  auto* a = new Tracked(&destroyedA);
  auto* b = new Tracked(&destroyedB);
  ref<Tracked> holderA(a), holderB(b);
  ref<Tracked> r(a);
  EXPECT_EQ(a->referenceCount(), 2);

  r = holderB;  // copy assignment
  EXPECT_EQ(a->referenceCount(), 1);
  EXPECT_EQ(b->referenceCount(), 2);

  r = ref<Tracked>(a);  // move assignment
  EXPECT_EQ(a->referenceCount(), 2);
  EXPECT_EQ(b->referenceCount(), 1);

  r = b;  // raw pointer assignment
  EXPECT_EQ(a->referenceCount(), 1);
  EXPECT_EQ(b->referenceCount(), 2);

  holderB.release();
  r = nullptr;  // the last reference: b goes
  EXPECT_EQ(destroyedB, 1);
  EXPECT_EQ(destroyedA, 0);
}

TEST(Ref, SelfAssignmentAndAssigningTheHeldObjectKeepItAlive) {
  int destroyed = 0;
  ref<Tracked> r(new Tracked(&destroyed));
  Tracked* object = r.get();

  ref<Tracked>& alias = r;
  r = alias;  // copy self-assignment
  EXPECT_EQ(object->referenceCount(), 1);
  r = std::move(alias);  // move self-assignment
  EXPECT_EQ(r.get(), object);
  EXPECT_EQ(object->referenceCount(), 1);
  r = r.get();  // the object already held, as its only holder
  EXPECT_EQ(r.get(), object);
  EXPECT_EQ(object->referenceCount(), 1);
  EXPECT_EQ(destroyed, 0);
}

TEST(Ref, ConvertsToABaseRefSharingTheCount) {
  int destroyed = 0;
  ref<Derived> derived(new Derived(&destroyed));
  ref<Object> base(derived);
  EXPECT_EQ(derived->referenceCount(), 2);
  ref<Object> assigned;
  assigned = derived;
  EXPECT_EQ(derived->referenceCount(), 3);
  EXPECT_EQ(base.get(), static_cast<Object*>(derived.get()));
  derived.release();
  base.release();
  EXPECT_EQ(destroyed, 0);
  assigned.release();
  EXPECT_EQ(destroyed, 1);
}

TEST(Ref, ComparesByIdentity) {
  int destroyed = 0;
  ref<Tracked> a(new Tracked(&destroyed)), b(new Tracked(&destroyed));
  ref<Tracked> a2(a);
  EXPECT_TRUE(a == a2);
  EXPECT_TRUE(a != b);
  EXPECT_NE(a < b, b < a);
  EXPECT_FALSE(a < a2);
}

TEST(RefDeathTest, DereferencingANullRefFailsTheCheck) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ref<Object> empty;
  EXPECT_DEATH(empty->className(), "Check failed: mObject \\(src/zrCore/Object");
  EXPECT_DEATH((void)*empty, "Check failed: mObject");
}

TEST(Ref, ConcurrentIncrementsAndDecrementsEndAtTheRightCount) {
  int destroyed = 0;
  ref<Tracked> shared(new Tracked(&destroyed));
  constexpr int kThreads = 6;
  constexpr int kRounds = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&shared] {
      std::vector<ref<Tracked>> held;
      for (int i = 0; i < kRounds; ++i) {
        held.emplace_back(shared);             // +1
        shared->incReference();                // +1
        if (held.size() > 8) held.pop_back();  // -1
        shared->decReference();                // -1
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(shared->referenceCount(), 1);
  EXPECT_EQ(destroyed, 0);
  shared.release();
  EXPECT_EQ(destroyed, 1);
}

// A node of a singly linked chain: each holds the next.
class ChainLink : public Object {
 public:
  explicit ChainLink(int* destroyed) : mDestroyed(destroyed) {}
  ~ChainLink() override { ++*mDestroyed; }
  ref<ChainLink> next;

 private:
  int* mDestroyed;
};

TEST(Object, DroppingTheHeadOfALongChainDestroysItWithoutDeepRecursion) {
  // Recursive destruction would need several stack frames per link and overflow the stack.
  constexpr int kLinks = 500000;
  int destroyed = 0;
  ref<ChainLink> head(new ChainLink(&destroyed));
  ChainLink* tail = head.get();
  for (int i = 1; i < kLinks; ++i) {
    tail->next = new ChainLink(&destroyed);
    tail = tail->next.get();
  }
  head.release();
  EXPECT_EQ(destroyed, kLinks);  // all gone before the release returned
}

// An object that, while being destroyed, creates and drops another object.
class MakesGarbage : public Object {
 public:
  MakesGarbage(int* destroyed, int* inner) : mDestroyed(destroyed), mInner(inner) {}
  ~MakesGarbage() override {
    { ref<Tracked> temporary(new Tracked(mInner)); }
    ++*mDestroyed;
  }

 private:
  int* mDestroyed;
  int* mInner;
};

TEST(Object, ObjectsReleasedInsideADestructorAreGoneWhenTheOuterReleaseReturns) {
  int destroyed = 0, inner = 0;
  ref<MakesGarbage> object(new MakesGarbage(&destroyed, &inner));
  object.release();
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(inner, 1);
}

// MurmurHash3
// --------------------------------------------------------------------------------------

struct HashCase {
  std::string bytes;
  uint32_t seed;
  uint32_t expected;
};

TEST(MurmurHash3, MatchesThePublishedVectors) {
  // Reference values of the x86 32-bit variant; the short inputs exercise each tail length.
  const HashCase cases[] = {
      {std::string(), 0, 0x00000000u},
      {std::string(), 1, 0x514E28B7u},
      {std::string(), 0xffffffffu, 0x81F16F39u},
      {std::string("\0\0\0\0", 4), 0, 0x2362F9DEu},
      {std::string("\xff\xff\xff\xff", 4), 0, 0x76293B50u},
      {std::string("\x21\x43\x65\x87", 4), 0, 0xF55B516Bu},
      {std::string("\x21\x43\x65", 3), 0, 0x7E4A8634u},
      {std::string("\x21\x43", 2), 0, 0xA0F7B07Au},
      {std::string("\x21", 1), 0, 0x72661CF4u},
      {"aaaa", 0x9747b28cu, 0x5A97808Au},
      {"aaa", 0x9747b28cu, 0x283E0130u},
      {"aa", 0x9747b28cu, 0x5D211726u},
      {"a", 0x9747b28cu, 0x7FA09EA6u},
      {"abc", 0x9747b28cu, 0xC84A62DDu},
      {"Hello, world!", 1234, 0xFAF6CDB3u},
      {"Hello, world!", 0x9747b28cu, 0x24884CBAu},
      {"The quick brown fox jumps over the lazy dog", 0, 0x2E4FF723u},
  };
  for (const HashCase& c : cases) {
    uint32_t hash = 0xdeadbeef;
    zr::MurmurHash3_x86_32(c.bytes.data(), static_cast<int>(c.bytes.size()), c.seed, &hash);
    EXPECT_EQ(hash, c.expected) << "input of " << c.bytes.size() << " bytes, seed " << c.seed;
  }
}

TEST(MurmurHash3, ReadsUnalignedInput) {
  alignas(8) char buffer[64] = {};
  const char* text = "The quick brown fox jumps over the lazy dog";
  std::memcpy(buffer + 1, text, std::strlen(text));
  uint32_t hash = 0;
  zr::MurmurHash3_x86_32(buffer + 1, static_cast<int>(std::strlen(text)), 0, &hash);
  EXPECT_EQ(hash, 0x2E4FF723u);
}

TEST(TypeInfo, HashesTheNameWithSeedZeroAndComparesByHash) {
  const char* name = "The quick brown fox jumps over the lazy dog";
  zr::TypeInfo info(name);
  EXPECT_EQ(info.hash(), 0x2E4FF723u);
  EXPECT_EQ(info.name(), name);  // not copied

  // Equal names in different storage give equal records.
  static const char kCopy[] = "The quick brown fox jumps over the lazy dog";
  zr::TypeInfo same(kCopy);
  EXPECT_TRUE(info == same);
  EXPECT_FALSE(info != same);
  EXPECT_FALSE(info < same || same < info);
}

// Runtime types
// ------------------------------------------------------------------------------------

// Minimal subclasses that add no runtime type of their own, so they report their base's: they let
// the abstract classes be instantiated.
class PlainTaggedValue : public zrX::ZRXTaggedValue {
 public:
  void acceptVisitor(zrX::Visitor*) override {}
};
class PlainArray : public zrX::ZRXArray {
 public:
  void acceptVisitor(zrX::Visitor*) override {}
};
template <class T>
class PlainArrayTemplate : public zrX::ZRXArrayTemplate<T> {
 public:
  void acceptVisitor(zrX::Visitor*) override {}
};
class PlainVirtualFile : public zr::VirtualFile {
 public:
  bool open(EOpenMode) override { return false; }
  bool isOpen() const override { return false; }
  bool close() override { return true; }
  int64_t read(void*, int64_t) override { return 0; }
  int64_t write(const void*, int64_t) override { return 0; }
  int64_t position() const override { return 0; }
  int64_t size() const override { return -1; }
};
class PlainParser : public zrX::Parser {
 public:
  bool parseHeader() override { return false; }
  bool parse() override { return false; }
};

struct TypeRow {
  const char* expectedName;
  const char* (*name)();
  const zr::TypeInfo& (*type)();
  ref<Object> (*make)();
  std::vector<std::string> ancestors;  // name texts of every class above, zr::Object included
};

template <class T>
ref<Object> makeObject() {
  return ref<Object>(new T());
}

zrX::LinkMap gLinkMap;

const std::vector<TypeRow>& typeRows() {
  using namespace zrX;
  static const std::vector<TypeRow> rows = {
      {"zr::Object", &Object::Name, &Object::Type, [] { return ref<Object>(new Object()); }, {}},
      {"zr::ResourceDatabase",
       &zr::ResourceDatabase::Name,
       &zr::ResourceDatabase::Type,
       &makeObject<zr::ResourceDatabase>,
       {"zr::Object"}},
      {"zr::VirtualFile",
       &zr::VirtualFile::Name,
       &zr::VirtualFile::Type,
       &makeObject<PlainVirtualFile>,
       {"zr::Object"}},
      {"zr::DiskFile",
       &zr::DiskFile::Name,
       &zr::DiskFile::Type,
       [] { return ref<Object>(new zr::DiskFile("unused")); },
       {"zr::VirtualFile", "zr::Object"}},
      {"zr::MemoryFile",
       &zr::MemoryFile::Name,
       &zr::MemoryFile::Type,
       &makeObject<zr::MemoryFile>,
       {"zr::VirtualFile", "zr::Object"}},
      {"zrX::TaggedValue",
       &ZRXTaggedValue::Name,
       &ZRXTaggedValue::Type,
       &makeObject<PlainTaggedValue>,
       {"zr::Object"}},
      {"zrX::Structure",
       &ZRXStructure::Name,
       &ZRXStructure::Type,
       &makeObject<ZRXStructure>,
       {"zrX::TaggedValue", "zr::Object"}},
      {"zrX::List",
       &ZRXList::Name,
       &ZRXList::Type,
       &makeObject<ZRXList>,
       {"zrX::TaggedValue", "zr::Object"}},
      {"zrX::RawtextBlock",
       &ZRXRawtextBlock::Name,
       &ZRXRawtextBlock::Type,
       &makeObject<ZRXRawtextBlock>,
       {"zrX::TaggedValue", "zr::Object"}},
      {"zrX::Array",
       &ZRXArray::Name,
       &ZRXArray::Type,
       &makeObject<PlainArray>,
       {"zrX::TaggedValue", "zr::Object"}},
      {"zrX::ArrayTemplate<T>",
       &ZRXArrayTemplate<int64_t>::Name,
       &ZRXArrayTemplate<int64_t>::Type,
       &makeObject<PlainArrayTemplate<int64_t>>,
       {"zrX::Array", "zrX::TaggedValue", "zr::Object"}},
      {"zrX::ArrayTemplate<T>",
       &ZRXArrayTemplate<double>::Name,
       &ZRXArrayTemplate<double>::Type,
       &makeObject<PlainArrayTemplate<double>>,
       {"zrX::Array", "zrX::TaggedValue", "zr::Object"}},
      {"zrX::ArrayInteger",
       &ZRXArrayInteger::Name,
       &ZRXArrayInteger::Type,
       &makeObject<ZRXArrayInteger>,
       {"zrX::ArrayTemplate<T>", "zrX::Array", "zrX::TaggedValue", "zr::Object"}},
      {"zrX::ArrayReal",
       &ZRXArrayReal::Name,
       &ZRXArrayReal::Type,
       &makeObject<ZRXArrayReal>,
       {"zrX::ArrayTemplate<T>", "zrX::Array", "zrX::TaggedValue", "zr::Object"}},
      {"zrX::Visitor", &Visitor::Name, &Visitor::Type, &makeObject<Visitor>, {"zr::Object"}},
      {"zrX::VisitorCountIDs",
       &VisitorIDCounter::Name,
       &VisitorIDCounter::Type,
       &makeObject<VisitorIDCounter>,
       {"zrX::Visitor", "zr::Object"}},
      {"zrX::VisitorLinkMapper",
       &VisitorLinkMapper::Name,
       &VisitorLinkMapper::Type,
       [] { return ref<Object>(new VisitorLinkMapper(&gLinkMap)); },
       {"zrX::Visitor", "zr::Object"}},
      {"zrX::VisitorLinker",
       &VisitorLinker::Name,
       &VisitorLinker::Type,
       [] { return ref<Object>(new VisitorLinker(&gLinkMap)); },
       {"zrX::Visitor", "zr::Object"}},
      {"zrX::Parser", &Parser::Name, &Parser::Type, &makeObject<PlainParser>, {"zr::Object"}},
  };
  return rows;
}

TEST(RuntimeType, EveryClassReportsItsNameTextAndOneRecord) {
  for (const TypeRow& row : typeRows()) {
    SCOPED_TRACE(row.expectedName);
    EXPECT_STREQ(row.name(), row.expectedName);
    EXPECT_EQ(row.name(), row.name());  // the same text every call
    const zr::TypeInfo& type = row.type();
    EXPECT_EQ(&type, &row.type());  // one record, built once
    EXPECT_EQ(type.name(), row.name());
    uint32_t hash = 0;
    zr::MurmurHash3_x86_32(row.expectedName, static_cast<int>(std::strlen(row.expectedName)), 0,
                           &hash);
    EXPECT_EQ(type.hash(), hash);

    const ref<Object> object = row.make();
    EXPECT_STREQ(object->className(), row.expectedName);
    EXPECT_EQ(&object->classType(), &type);
  }
}

TEST(RuntimeType, IsOfTypeAnswersForTheClassAndEveryClassAbove) {
  for (const TypeRow& row : typeRows()) {
    const ref<Object> object = row.make();
    std::set<std::string> accepted(row.ancestors.begin(), row.ancestors.end());
    accepted.insert(row.expectedName);
    for (const TypeRow& other : typeRows()) {
      EXPECT_EQ(object->isOfType(other.type()), accepted.count(other.expectedName) == 1)
          << row.expectedName << " asked about " << other.expectedName;
    }
  }
}

TEST(RuntimeType, BothArrayTemplateInstantiationsShareOneRecord) {
  using namespace zrX;
  EXPECT_TRUE(ZRXArrayTemplate<int64_t>::Type() == ZRXArrayTemplate<double>::Type());
  ref<ZRXArrayReal> real(new ZRXArrayReal());
  EXPECT_TRUE(real->isOfType(ZRXArrayTemplate<int64_t>::Type()));
  ref<ZRXArrayInteger> integer(new ZRXArrayInteger());
  for (const zr::TypeInfo* type :
       {&ZRXArrayInteger::Type(), &ZRXArrayTemplate<int64_t>::Type(),
        &ZRXArrayTemplate<double>::Type(), &ZRXArray::Type(), &ZRXTaggedValue::Type()}) {
    EXPECT_TRUE(integer->isOfType(*type)) << type->name();
  }
  EXPECT_FALSE(integer->isOfType(ZRXArrayReal::Type()));
  EXPECT_FALSE(integer->isOfType(ZRXStructure::Type()));
}

TEST(RuntimeType, TheIDCounterReportsItsRuntimeNameNotItsClassName) {
  zrX::VisitorIDCounter counter;
  const zrX::Visitor& asVisitor = counter;
  EXPECT_STREQ(asVisitor.className(), "zrX::VisitorCountIDs");
  EXPECT_STREQ(zrX::VisitorIDCounter::Type().name(), "zrX::VisitorCountIDs");
}

}  // namespace
