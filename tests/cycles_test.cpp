#include "zrX/Cycles.hpp"

#include <gtest/gtest.h>

namespace {

using zr::ref;
using zrX::ZRXList;
using zrX::ZRXStructure;
using zrX::ZRXTaggedValue;
using zrX::ZRXValue;

// A structure that reports its destruction.
class Probe : public ZRXStructure {
 public:
  Probe(const char* tag, int* destroyed) : ZRXStructure(tag), mDestroyed(destroyed) {}
  ~Probe() override { ++*mDestroyed; }

 private:
  int* mDestroyed;
};

void link(ZRXStructure* from, const char* key, ZRXStructure* to) {
  ZRXValue value;
  value.setStructure(to);
  *from << key << value;
}

TEST(BreakCycles, FreesAParentChildCycle) {
  int destroyed = 0;
  {
    ref<ZRXStructure> parent = new Probe("<Parent>", &destroyed);
    ZRXStructure* child = new Probe("<Child>", &destroyed);
    auto* list = new ZRXList;
    ZRXValue element;
    element.setStructure(child);
    list->value().push_back(element);
    ZRXValue children;
    children.setList(list);
    *parent << "children" << children;
    link(child, "parent", parent.get());
    element.setInteger(0);
    children.setInteger(0);

    std::vector<ref<ZRXTaggedValue>> roots{parent};
    parent = nullptr;
    zrX::breakCycles(roots);
  }
  EXPECT_EQ(destroyed, 2);
}

TEST(BreakCycles, KeepsWhatIsHeldFromOutside) {
  int destroyed = 0;
  ref<ZRXStructure> kept;
  {
    ref<ZRXStructure> a = new Probe("<A>", &destroyed);
    ref<ZRXStructure> b = new Probe("<B>", &destroyed);
    ref<ZRXStructure> c = new Probe("<C>", &destroyed);
    link(a.get(), "b", b.get());
    link(b.get(), "a", a.get());  // a <-> b cycle
    link(b.get(), "c", c.get());
    link(c.get(), "b", b.get());  // b <-> c cycle
    kept = b;                     // held from outside: b and all it reaches stay
    std::vector<ref<ZRXTaggedValue>> roots{a};
    a = nullptr;
    b = nullptr;
    c = nullptr;
    zrX::breakCycles(roots);
  }
  EXPECT_EQ(destroyed, 0);
  ASSERT_EQ(kept->value().size(), 2u);
  ZRXStructure* a = kept->value()[0].value().getStructure();
  ASSERT_EQ(a->value().size(), 1u);  // a is reached from b, so it is intact too
  EXPECT_EQ(a->value()[0].value().getStructure(), kept.get());

  // Handing over the last outside reference frees all three.
  std::vector<ref<ZRXTaggedValue>> roots{kept};
  kept = nullptr;
  zrX::breakCycles(roots);
  roots.clear();
  EXPECT_EQ(destroyed, 3);
}

TEST(BreakCycles, DeepChainsAndSelfReferences) {
  int destroyed = 0;
  {
    ref<ZRXStructure> top = new Probe("<Top>", &destroyed);
    ZRXStructure* at = top.get();
    for (int i = 0; i < 900; ++i) {
      auto* next = new Probe("<Level>", &destroyed);
      link(at, "next", next);
      link(next, "self", next);
      link(next, "top", top.get());
      at = next;
    }
    std::vector<ref<ZRXTaggedValue>> roots{top, top};  // the same root twice is fine
    top = nullptr;
    zrX::breakCycles(roots);
  }
  EXPECT_EQ(destroyed, 901);
}

TEST(BreakCycles, LeavesAcyclicTreesToTheCounts) {
  int destroyed = 0;
  ref<ZRXStructure> shared = new Probe("<Shared>", &destroyed);
  *shared << "n" << ZRXValue(int64_t{7});
  {
    ref<ZRXStructure> root = new Probe("<Root>", &destroyed);
    link(root.get(), "x", shared.get());
    link(root.get(), "y", shared.get());
    std::vector<ref<ZRXTaggedValue>> roots{root};
    root = nullptr;
    zrX::breakCycles(roots);
  }
  EXPECT_EQ(destroyed, 1);
  ASSERT_EQ(shared->value().size(), 1u);
  EXPECT_EQ(shared->value()[0].value().getInteger(), 7);
}

}  // namespace
