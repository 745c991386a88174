#include "zrX/Registry.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "support/HostModel.hpp"
#include "zrX/Serializer.hpp"
#include "zrX/ioZRX.hpp"

namespace {

using zr::ref;
using zrX::ClassWrapper;
using zrX::Registry;
using zrX::ZRXSerializer;
using zrX::ZRXStructure;

class NullWrapper : public ClassWrapper {
 public:
  ref<zr::Object> importObject(ZRXSerializer&, const ZRXStructure*) override { return nullptr; }
  ref<ZRXStructure> exportObject(ZRXSerializer&, const zr::Object*) override { return nullptr; }
};

TEST(Registry, RegisterWrapperEntersBothMapsAndReplaces) {
  ref<Registry> registry = new Registry;
  ref<ClassWrapper> first = new NullWrapper;
  ref<ClassWrapper> second = new NullWrapper;

  registry->registerWrapper("<Node>", zrtest::Node::Type(), first.get());
  EXPECT_EQ(registry->importWrappers().at("<Node>"), first);
  EXPECT_EQ(registry->exportWrappers().at(zrtest::Node::Type()), first);
  EXPECT_EQ(first->referenceCount(), 3);  // one wrapper, two map entries

  registry->registerWrapper("<Node>", zrtest::Node::Type(), second.get());
  EXPECT_EQ(registry->importWrappers().size(), 1u);
  EXPECT_EQ(registry->exportWrappers().size(), 1u);
  EXPECT_EQ(registry->exportWrappers().at(zrtest::Node::Type()), second);
  EXPECT_EQ(first->referenceCount(), 1);

  // Tags match byte for byte; types by their exact record.
  const Registry& view = *registry;
  EXPECT_EQ(view.importWrappers().count("<node>"), 0u);
  EXPECT_EQ(view.importWrappers().count("<Node> "), 0u);
  EXPECT_EQ(view.exportWrappers().count(zrtest::Material::Type()), 0u);
}

TEST(Registry, ClassNames) {
  EXPECT_STREQ(Registry::Name(), "zrX::Registry");
  EXPECT_STREQ(ClassWrapper::Name(), "zrX::ClassWrapper");
  ref<ClassWrapper> wrapper = new NullWrapper;
  EXPECT_TRUE(wrapper->isOfType(ClassWrapper::Type()));
  EXPECT_TRUE(wrapper->isOfType(zr::Object::Type()));
}

TEST(DefaultRegistry, StartsNullAndIsCopiedByNewSerializers) {
  ASSERT_EQ(zrX::defZRXRegistry(), nullptr);
  ZRXSerializer before;
  EXPECT_EQ(before.registry(), nullptr);

  ref<Registry> registry = zrtest::makeHostRegistry();
  zrX::setDefZRXRegistry(registry.get());
  EXPECT_EQ(zrX::defZRXRegistry(), registry.get());
  EXPECT_EQ(registry->referenceCount(), 2);
  zrX::setDefZRXRegistry(registry.get());  // the same again: count raised before dropped
  EXPECT_EQ(registry->referenceCount(), 2);

  ZRXSerializer during;
  EXPECT_EQ(during.registry(), registry.get());
  EXPECT_EQ(before.registry(), nullptr);  // later defaults do not reach existing serializers

  zrX::setDefZRXRegistry(nullptr);
  EXPECT_EQ(zrX::defZRXRegistry(), nullptr);
  EXPECT_EQ(during.registry(), registry.get());
  EXPECT_EQ(registry->referenceCount(), 2);  // `registry` and `during`
}

// Reports its destruction, with what a serializer constructed at that moment finds.
class ExitProbe : public NullWrapper {
 public:
  ~ExitProbe() override {
    ZRXSerializer late;
    std::fprintf(stderr, "probe released; a serializer made now has %s registry\n",
                 late.registry() ? "a" : "no");
  }
};

TEST(DefaultRegistryDeathTest, IsReleasedWhenTheLibraryUnloads) {
  EXPECT_EXIT(
      {
        ref<Registry> registry = new Registry;
        registry->registerWrapper("<Probe>", zrtest::Node::Type(), new ExitProbe);
        zrX::setDefZRXRegistry(registry.get());
        registry.release();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "probe released; a serializer made now has no registry");
}

}  // namespace
