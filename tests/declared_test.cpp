// Declared classes: each kind of field in both formats (round trip, wrong kind, missing entry,
// old key, range, length, class, #NULL), ownership and back pointers, evolution (unknown keys,
// strict, versions and upgrades), the checks made when a class is declared, and the low-level
// helpers the declared form is built on (typed loads and imports, non-stopping getters, the
// first failure's message).
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "support/DocumentText.hpp"
#include "support/LogCapture.hpp"
#include "zrX/zrX.hpp"

namespace {

using zr::ref;
using zrX::Format;

struct Vec3 {
  double x = 0, y = 0, z = 0;
  bool operator==(const Vec3& o) const { return x == o.x && y == o.y && z == o.z; }
};

enum class Mode { Off, Slow, Fast };

// One field of every kind the declared form knows.
class Kinds : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  bool flag = false;
  int8_t i8 = 0;
  uint8_t u8 = 0;
  int16_t i16 = 0;
  uint16_t u16 = 0;
  int32_t i32 = 0;
  uint32_t u32 = 0;
  int64_t i64 = 0;
  uint64_t u64 = 0;
  float f = 0;
  double d = 0;
  std::string s;
  Mode mode = Mode::Off;
  double fixed[3] = {0, 0, 0};
  std::array<int32_t, 2> pair = {0, 0};
  std::vector<double> reals;
  std::vector<int64_t> integers;
  std::vector<float> floats;
  std::vector<int16_t> shorts;
  std::vector<std::string> names;
  std::vector<Mode> modes;
  std::optional<int32_t> maybe;
  Vec3 at;
  std::vector<Vec3> path;
  std::optional<Vec3> pin;
  std::string script;
  ref<Kinds> other;
  std::vector<ref<Kinds>> others;
  int hidden() const { return mHidden; }
  void setHidden(int v) { mHidden = v; }
  std::string colour = "red";  // written by custom functions as an identifier

 private:
  int mHidden = 0;
};
ZR_DEFINE_TYPE(Kinds, zr::Object, "test::Kinds")

class Other : public zr::Object {
  ZR_DECLARE_TYPE()
};
ZR_DEFINE_TYPE(Other, zr::Object, "test::Other")

zrX::Declare<Vec3> vec3Declaration() {
  return std::move(
      zrX::Declare<Vec3>("<Vec3>").field("x", &Vec3::x).field("y", &Vec3::y).field("z", &Vec3::z));
}

ref<zrX::Registry> kindsRegistry() {
  const zrX::EnumNames<Mode> modes = {
      {Mode::Off, "Off"}, {Mode::Slow, "Slow"}, {Mode::Fast, "Fast"}};
  const zrX::Declare<Vec3> vec3 = vec3Declaration();
  ref<zrX::Registry> registry = new zrX::Registry;
  registry->add(zrX::Declare<Kinds>("<Kinds>")
                    .id("k")
                    .field("flag", &Kinds::flag)
                    .field("i8", &Kinds::i8)
                    .field("u8", &Kinds::u8)
                    .field("i16", &Kinds::i16)
                    .field("u16", &Kinds::u16)
                    .field("i32", &Kinds::i32)
                    .field("u32", &Kinds::u32)
                    .field("i64", &Kinds::i64)
                    .field("u64", &Kinds::u64)
                    .field("f", &Kinds::f)
                    .field("d", &Kinds::d)
                    .field("s", &Kinds::s)
                    .field("mode", &Kinds::mode, modes)
                    .field("fixed", &Kinds::fixed)
                    .field("pair", &Kinds::pair)
                    .field("reals", &Kinds::reals)
                    .tag("<R>")
                    .field("integers", &Kinds::integers)
                    .field("floats", &Kinds::floats)
                    .field("shorts", &Kinds::shorts)
                    .field("names", &Kinds::names)
                    .field("modes", &Kinds::modes, modes)
                    .field("maybe", &Kinds::maybe)
                    .field("at", &Kinds::at, vec3)
                    .field("path", &Kinds::path, vec3)
                    .field("pin", &Kinds::pin, vec3)
                    .text("script", &Kinds::script)
                    .tag("<Lua>")
                    .field("other", &Kinds::other)
                    .field("others", &Kinds::others)
                    .field("hidden", &Kinds::hidden, &Kinds::setHidden)
                    .custom(
                        "colour",
                        [](const Kinds& k) { return zrX::ZRXValue::makeIdentifier(k.colour); },
                        [](Kinds& k, const zrX::ZRXValue& v) {
                          const std::string* name = v.asIdentifier();
                          if (!name || (*name != "red" && *name != "blue")) return false;
                          k.colour = *name;
                          return true;
                        },
                        "red or blue"));
  registry->add(zrX::Declare<Other>("<Other>"));
  return registry;
}

// Loads `text` (ZRT, converted to `format`) through `registry`; `error` gets the first failure.
ref<zr::Object> loadText(zrX::Registry* registry, const std::string& text, Format format,
                         std::string* error = nullptr) {
  ref<zr::MemoryFile> file =
      zrtest::documentInFormat("ZRX version=101 encoding=ascii\n" + text + "\n", format);
  zrX::ZRXSerializer serializer;
  serializer.setRegistry(registry);
  ref<zr::Object> loaded = serializer.load(file.get());
  if (error) *error = serializer.errorMessage();
  return loaded;
}

class DeclaredKinds : public ::testing::TestWithParam<Format> {
 protected:
  ref<zrX::Registry> registry = kindsRegistry();
  zrtest::LogCapture log;

  // The object `entries` make, or null with the first failure in `error`.
  ref<Kinds> load(const std::string& entries, std::string* error) {
    ref<zr::Object> loaded =
        loadText(registry.get(), "<Kinds> { " + entries + " }", GetParam(), error);
    EXPECT_TRUE(!loaded || loaded->isOfType(Kinds::Type()));
    return static_cast<Kinds*>(loaded.get());
  }
};

INSTANTIATE_TEST_SUITE_P(Formats, DeclaredKinds, ::testing::Values(Format::ZRT, Format::ZRB),
                         [](const ::testing::TestParamInfo<Format>& info) {
                           return std::string(zrX::formatName(info.param));
                         });

TEST_P(DeclaredKinds, EveryKindMakesTheRoundTrip) {
  ref<Kinds> k = new Kinds;
  k->flag = true;
  k->i8 = -128;
  k->u8 = 255;
  k->i16 = -32768;
  k->u16 = 65535;
  k->i32 = std::numeric_limits<int32_t>::min();
  k->u32 = std::numeric_limits<uint32_t>::max();
  k->i64 = std::numeric_limits<int64_t>::min();
  k->u64 = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  k->f = 0.1f;
  k->d = -2.5;
  k->s = "tab\there \"quoted\"";
  k->mode = Mode::Fast;
  k->fixed[0] = 1.5;
  k->fixed[2] = -3.25;
  k->pair = {-7, 9};
  k->reals = {0.5, 1.5};
  k->integers = {1, -2, 3};
  k->floats = {0.25f, -8.5f};
  k->shorts = {-5, 300};
  k->names = {"a", "", "c"};
  k->modes = {Mode::Slow, Mode::Off};
  k->maybe = 42;
  k->at = {1, 2, 3};
  k->path = {{0.5, 0, 0}, {0, 0.5, 0}};
  k->script = "line one\nline two >} done\n";
  k->setHidden(17);
  k->colour = "blue";
  ref<Kinds> shared = new Kinds;
  shared->s = "shared";
  k->other = shared;
  k->others = {shared, shared, nullptr};

  zrX::ZRXSerializer serializer;
  serializer.setRegistry(registry.get());
  ref<zr::MemoryFile> file = new zr::MemoryFile;
  const bool text = GetParam() == Format::ZRT;
  ASSERT_TRUE(text ? serializer.saveZRT(file.get(), k.get(), true)
                   : serializer.saveZRB(file.get(), k.get(), true))
      << serializer.errorMessage();
  ref<Kinds> b = serializer.loadAs<Kinds>(file.get());
  ASSERT_TRUE(b) << serializer.errorMessage();
  EXPECT_EQ(b->flag, true);
  EXPECT_EQ(b->i8, k->i8);
  EXPECT_EQ(b->u8, k->u8);
  EXPECT_EQ(b->i16, k->i16);
  EXPECT_EQ(b->u16, k->u16);
  EXPECT_EQ(b->i32, k->i32);
  EXPECT_EQ(b->u32, k->u32);
  EXPECT_EQ(b->i64, k->i64);
  EXPECT_EQ(b->u64, k->u64);
  EXPECT_EQ(b->d, k->d);
  EXPECT_EQ(b->f, k->f);
  EXPECT_EQ(b->s, k->s);
  EXPECT_EQ(b->mode, Mode::Fast);
  EXPECT_EQ(std::vector<double>(b->fixed, b->fixed + 3),
            std::vector<double>(k->fixed, k->fixed + 3));
  EXPECT_EQ(b->pair, k->pair);
  EXPECT_EQ(b->reals, k->reals);
  EXPECT_EQ(b->integers, k->integers);
  EXPECT_EQ(b->floats, k->floats);
  EXPECT_EQ(b->shorts, k->shorts);
  EXPECT_EQ(b->names, k->names);
  EXPECT_EQ(b->modes, k->modes);
  EXPECT_EQ(b->maybe, 42);
  EXPECT_EQ(b->at, k->at);
  EXPECT_EQ(b->path, k->path);
  EXPECT_FALSE(b->pin.has_value());
  EXPECT_EQ(b->script, k->script);
  EXPECT_EQ(b->hidden(), 17);
  EXPECT_EQ(b->colour, "blue");
  ASSERT_TRUE(b->other);
  EXPECT_EQ(b->other->s, "shared");
  ASSERT_EQ(b->others.size(), 3u);
  EXPECT_EQ(b->others[0], b->other);  // shared: one object
  EXPECT_EQ(b->others[1], b->other);
  EXPECT_FALSE(b->others[2]);
}

// One entry at a time: what loads, and the first failure of what does not.
TEST_P(DeclaredKinds, EachEntryIsCheckedForKindRangeAndLength) {
  struct Case {
    const char* entries;
    const char* error;  // null: loads
  };
  const Case cases[] = {
      {"flag = 1", "<Kinds>: entry 'flag' is not true or false (found the integer 1)."},
      {"i8 = -129",
       "<Kinds>: entry 'i8' is not an integer from -128 to 127 (found the integer -129)."},
      {"i8 = 127", nullptr},
      {"u8 = -1", "<Kinds>: entry 'u8' is not an integer from 0 to 255 (found the integer -1)."},
      {"u8 = 256", "<Kinds>: entry 'u8' is not an integer from 0 to 255 (found the integer 256)."},
      {"u16 = 65536",
       "<Kinds>: entry 'u16' is not an integer from 0 to 65535 (found the integer 65536)."},
      {"i32 = 2147483648",
       "<Kinds>: entry 'i32' is not an integer from -2147483648 to 2147483647 (found the integer "
       "2147483648)."},
      {"u32 = 4294967295", nullptr},
      {"u64 = -1",
       "<Kinds>: entry 'u64' is not an integer from 0 to 18446744073709551615 (found the integer "
       "-1)."},
      {"i64 = 1.5", "<Kinds>: entry 'i64' is not an integer (found the real 1.5)."},
      {"d = 3", "<Kinds>: entry 'd' is not a real (found the integer 3)."},
      {"f = 1.0e+300",
       "<Kinds>: entry 'f' is not a real within the range of a float (found the real 1e+300)."},
      {"f = -0.5", nullptr},
      {"s = name", "<Kinds>: entry 's' is not a string (found the identifier name)."},
      {"s = \"a\\tb\"", nullptr},
      {"mode = Turbo",
       "<Kinds>: entry 'mode' is not Off, Slow or Fast (found the identifier Turbo)."},
      {"mode = \"Fast\"",
       "<Kinds>: entry 'mode' is not Off, Slow or Fast (found the string 'Fast')."},
      {"fixed = ( 1.5 2.5 )",
       "<Kinds>: entry 'fixed' is not a real array of 3 values (found a real array of 2 values)."},
      {"fixed = ( 1 2 3 )",
       "<Kinds>: entry 'fixed' is not a real array of 3 values (found an integer array of 3 "
       "values)."},
      {"pair = ( 1 2 )", nullptr},
      {"pair = ( 1 4294967296 )",
       "<Kinds>: entry 'pair' is not an integer array of values from -2147483648 to 2147483647 of "
       "2 values (found the integer 4294967296 at [1])."},
      {"reals = ( )", nullptr},  // the text format's empty real array
      {"reals = ( 1 2 )",
       "<Kinds>: entry 'reals' is not a real array (found an integer array of 2 values)."},
      {"integers = ( 1.5 )",
       "<Kinds>: entry 'integers' is not an integer array (found a real array of 1 value)."},
      {"shorts = ( 1 40000 )",
       "<Kinds>: entry 'shorts' is not an integer array of values from -32768 to 32767 (found the "
       "integer 40000 at [1])."},
      {"names = [ \"a\" 5 ]", "<Kinds>: entry 'names[1]' is not a string (found the integer 5)."},
      {"names = \"a\"", "<Kinds>: entry 'names' is not a list (found the string 'a')."},
      {"modes = [ Slow Stop ]",
       "<Kinds>: entry 'modes[1]' is not Off, Slow or Fast (found the identifier Stop)."},
      {"maybe = \"x\"",
       "<Kinds>: entry 'maybe' is not an integer from -2147483648 to 2147483647 (found the string "
       "'x')."},
      {"at = <Vec3> { x = 1.5 y = \"no\" }",
       "<Kinds>: entry 'at/y' is not a real (found the string 'no')."},
      {"at = 5", "<Kinds>: entry 'at' is not a structure (found the integer 5)."},
      {"path = [ <Vec3> { x = 1.5 } <Vec3> { z = true } ]",
       "<Kinds>: entry 'path[1]/z' is not a real (found true)."},
      {"pin = <Vec3> { }", nullptr},
      {"script = \"text\"",
       "<Kinds>: entry 'script' is not a raw text block (found the string 'text')."},
      {"other = #NULL", nullptr},
      {"other = 5", "<Kinds>: entry 'other' is not a structure (found the integer 5)."},
      {"other = <Other> { }",
       "<Kinds>: entry 'other' names an object of the wrong class (a 'test::Other', not a "
       "'test::Kinds')."},
      {"others = [ #NULL <Kinds> { } ]", nullptr},
      {"hidden = false",
       "<Kinds>: entry 'hidden' is not an integer from -2147483648 to 2147483647 (found false)."},
      {"colour = green",
       "<Kinds>: entry 'colour' is not red or blue (found the identifier green)."},
      {"s = \"a\" s = \"b\"", "<Kinds>: entry 's' appears more than once."},
      {"future = [ 1 2 ] s = \"kept\"", nullptr},  // unknown entries are skipped
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entries);
    std::string error;
    ref<Kinds> k = load(c.entries, &error);
    if (c.error) {
      EXPECT_FALSE(k);
      EXPECT_EQ(error, c.error);
    } else {
      EXPECT_TRUE(k) << error;
    }
  }
}

TEST_P(DeclaredKinds, ValuesTheirFieldsCannotHoldFailTheSave) {
  const bool text = GetParam() == Format::ZRT;
  auto save = [&](const Kinds* k, std::string* error) {
    zrX::ZRXSerializer serializer;
    serializer.setRegistry(registry.get());
    ref<zr::MemoryFile> file = new zr::MemoryFile;
    const bool ok =
        text ? serializer.saveZRT(file.get(), k, true) : serializer.saveZRB(file.get(), k, true);
    *error = serializer.errorMessage();
    EXPECT_EQ(ok, error->empty());
    return ok;
  };
  std::string error;
  ref<Kinds> k = new Kinds;
  k->u64 = std::numeric_limits<uint64_t>::max();
  EXPECT_FALSE(save(k.get(), &error));
  EXPECT_EQ(error,
            "<Kinds>: field 'u64' of a 'test::Kinds' holds 18446744073709551615, beyond the "
            "formats' 64-bit signed integers.");
  k = new Kinds;
  k->mode = static_cast<Mode>(7);
  EXPECT_FALSE(save(k.get(), &error));
  EXPECT_EQ(error,
            "<Kinds>: field 'mode' of a 'test::Kinds' holds the value 7, which has no name in the "
            "declaration.");
}

TEST_P(DeclaredKinds, AMissingEntryKeepsTheDefault) {
  std::string error;
  ref<Kinds> k = load("s = \"only\"", &error);
  ASSERT_TRUE(k) << error;
  EXPECT_EQ(k->colour, "red");
  EXPECT_EQ(k->mode, Mode::Off);
  EXPECT_FALSE(k->maybe.has_value());
  EXPECT_EQ(k->at, Vec3{});
}

// The objects of the declared form's own hostile documents; the kinds table above covers one
// value at a time.
class Prefab : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  enum class Kind { Static, Moving };
  std::string name;
  double scale[3] = {1, 1, 1};
  Kind kind = Kind::Static;
};
ZR_DEFINE_TYPE(Prefab, zr::Object, "game::Prefab")

class Entity : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  std::string name;
  ref<Prefab> prefab;
  Entity* parent = nullptr;
  std::vector<ref<Entity>> children;
  std::string script;
  std::vector<float> weights;
};
ZR_DEFINE_TYPE(Entity, zr::Object, "game::Entity")

class Level : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  std::vector<ref<Entity>> entities;
  std::vector<ref<Prefab>> prefabs;
};
ZR_DEFINE_TYPE(Level, zr::Object, "game::Level")

// The three-class game level as a new user declares it.
ref<zrX::Registry> levelRegistry(int prefabVersion = 1) {
  ref<zrX::Registry> registry = new zrX::Registry;
  registry->add(zrX::Declare<Level>("<Level>")
                    .children("entities", &Level::entities)
                    .field("prefabs", &Level::prefabs));
  zrX::Declare<Prefab> prefab("<Prefab>");
  prefab.field("name", &Prefab::name)
      .required()
      .field("scale", &Prefab::scale)
      .alias("size")
      .field("kind", &Prefab::kind,
             {{Prefab::Kind::Static, "Static"}, {Prefab::Kind::Moving, "Moving"}});
  if (prefabVersion > 1) {
    // Version 2 stores the scale in percent.
    prefab.version(2).upgrade(1, [](zrX::ZRXStructure& st) {
      for (auto& entry : st.value()) {
        zrX::ZRXArrayReal* scale = entry.value().asArrayReal();
        if (scale && (entry.key() == "scale" || entry.key() == "size"))
          for (double& v : scale->value()) v *= 100;
      }
    });
  }
  registry->add(prefab);
  registry->add(zrX::Declare<Entity>("<Entity>")
                    .field("name", &Entity::name)
                    .field("prefab", &Entity::prefab)
                    .children("children", &Entity::children, &Entity::parent)
                    .parent("parent", &Entity::parent)
                    .text("script", &Entity::script)
                    .field("weights", &Entity::weights));
  return registry;
}

ref<Level> makeLevel() {
  ref<Level> level = new Level;
  ref<Prefab> crate = new Prefab;
  crate->name = "crate";
  crate->scale[1] = 2;
  crate->kind = Prefab::Kind::Moving;
  level->prefabs.push_back(crate);
  for (int i = 0; i < 2; ++i) {
    ref<Entity> e = new Entity;
    e->name = "e" + std::to_string(i);
    e->prefab = crate;
    e->script = "print('hi')\nreturn 1\n";
    e->weights = {0.5f, 0.25f};
    ref<Entity> child = new Entity;
    child->name = e->name + ".child";
    child->parent = e.get();
    e->children.push_back(child);
    level->entities.push_back(e);
  }
  return level;
}

class DeclaredLevel : public ::testing::TestWithParam<Format> {
 protected:
  ref<zrX::Registry> registry = levelRegistry();
  zrtest::LogCapture log;

  ref<Level> load(const std::string& text, std::string* error, zrX::Registry* with = nullptr) {
    ref<zr::Object> loaded = loadText(with ? with : registry.get(), text, GetParam(), error);
    return loaded && loaded->isOfType(Level::Type()) ? static_cast<Level*>(loaded.get()) : nullptr;
  }
  std::string save(const zr::Object* object, zrX::Registry* with = nullptr) {
    zrX::ZRXSerializer serializer;
    serializer.setRegistry(with ? with : registry.get());
    ref<zr::MemoryFile> file = new zr::MemoryFile;
    const bool ok = serializer.saveZRT(file.get(), object, true);
    EXPECT_TRUE(ok) << serializer.errorMessage();
    return std::string(file->data().begin(), file->data().end());
  }
};

INSTANTIATE_TEST_SUITE_P(Formats, DeclaredLevel, ::testing::Values(Format::ZRT, Format::ZRB),
                         [](const ::testing::TestParamInfo<Format>& info) {
                           return std::string(zrX::formatName(info.param));
                         });

TEST_P(DeclaredLevel, ALevelMakesTheRoundTripWithSharingAndBackPointers) {
  ref<Level> level = makeLevel();
  const std::string text = save(level.get());
  std::string error;
  ref<Level> back = load(text.substr(text.find('\n') + 1), &error);
  ASSERT_TRUE(back) << error;
  ASSERT_EQ(back->entities.size(), 2u);
  ASSERT_EQ(back->prefabs.size(), 1u);
  for (const ref<Entity>& e : back->entities) {
    EXPECT_EQ(e->prefab, back->prefabs[0]);
    EXPECT_EQ(e->parent, nullptr);
    EXPECT_EQ(e->script, "print('hi')\nreturn 1\n");
    EXPECT_EQ(e->weights, (std::vector<float>{0.5f, 0.25f}));
    ASSERT_EQ(e->children.size(), 1u);
    EXPECT_EQ(e->children[0]->parent, e.get());
  }
  EXPECT_EQ(back->prefabs[0]->kind, Prefab::Kind::Moving);
  EXPECT_EQ(back->prefabs[0]->scale[1], 2.0);
}

TEST_P(DeclaredLevel, OwnershipAndBackPointersAreKeptByTheLibrary) {
  struct Case {
    const char* what;
    const char* text;
    const char* error;  // null: loads
  };
  const Case cases[] = {
      {"a child's parent entry names its owner",
       "<Level> { entities = [ <Entity> { ID = #a children = [ <Entity> { parent = #a } ] } ] }",
       nullptr},
      {"a top-level entity names no parent",
       "<Level> { entities = [ <Entity> { parent = #NULL } ] }", nullptr},
      {"a parent entry naming another entity",
       "<Level> { entities = [ <Entity> { ID = #a } <Entity> { children = [ <Entity> { parent = "
       "#a } ] } ] }",
       "<Entity>: entry 'parent' does not name the object that owns this one."},
      {"a parent entry on an entity nobody's children list",
       "<Level> { entities = [ <Entity> { ID = #a } <Entity> { parent = #a } ] }",
       "<Entity>: entry 'parent' does not name the object that owns this one."},
      {"a parent entry naming a structure nothing imports",
       "<Level> { entities = [ <Entity> { parent = <Entity> { } } ] }",
       "<Entity>: entry 'parent' does not name the object that owns this one."},
      {"a parent entry that is no structure", "<Level> { entities = [ <Entity> { parent = 3 } ] }",
       "<Entity>: entry 'parent' is not a structure (found the integer 3)."},
      {"an entity listed below itself",
       "<Level> { entities = [ <Entity> { ID = #a children = [ #a ] } ] }",
       "<Entity>: entry 'children[0]' lists <Entity> '#a', which would then own itself."},
      {"an entity listed below its own child",
       "<Level> { entities = [ <Entity> { ID = #a children = [ <Entity> { children = [ #a ] } ] } "
       "] }",
       "<Entity>: entry 'children[0]' lists <Entity> '#a', which would then own itself."},
      {"an entity with two owners",
       "<Level> { entities = [ <Entity> { children = [ #c ] } <Entity> { children = [ <Entity> { "
       "ID = #c } ] } ] }",
       "<Entity>: entry 'children[0]' lists <Entity> '#c', which already has an owner."},
      {"an entity listed twice by one owner",
       "<Level> { entities = [ <Entity> { children = [ <Entity> { ID = #c } #c ] } ] }",
       "<Entity>: entry 'children[1]' lists <Entity> '#c', which already has an owner."},
      {"an entity owned by the level and by an entity",
       "<Level> { entities = [ <Entity> { children = [ <Entity> { ID = #c } ] } #c ] }",
       "<Level>: entry 'entities[1]' lists <Entity> '#c', which already has an owner."},
      {"a prefab shared by two entities and listed by the level",
       "<Level> { entities = [ <Entity> { prefab = <Prefab> { ID = #p name = \"p\" } } <Entity> "
       "{ prefab = #p } ] prefabs = [ #p ] }",
       nullptr},
      {"no holes in a children list", "<Level> { entities = [ #NULL ] }",
       "<Level>: entry 'entities[0]' names no structure."},
      {"a child of the wrong class", "<Level> { entities = [ <Prefab> { name = \"p\" } ] }",
       "<Level>: entry 'entities[0]' names an object of the wrong class (a 'game::Prefab', not a "
       "'game::Entity')."},
      {"a required entry missing", "<Level> { prefabs = [ <Prefab> { } ] }",
       "<Prefab>: entry 'name' is missing, and the field is required."},
      {"an old key", "<Level> { prefabs = [ <Prefab> { name = \"p\" size = ( 1.0 2.0 3.0 ) } ] }",
       nullptr},
      {"an old key beside the new one",
       "<Level> { prefabs = [ <Prefab> { name = \"p\" size = ( 1.0 2.0 3.0 ) scale = ( 1.0 2.0 "
       "3.0 ) } ] }",
       "<Prefab>: entry 'scale' appears more than once."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    ref<Level> level = load(c.text, &error);
    if (c.error) {
      EXPECT_FALSE(level);
      EXPECT_EQ(error, c.error);
      continue;
    }
    ASSERT_TRUE(level) << error;
    for (const ref<Entity>& e : level->entities) {
      EXPECT_EQ(e->parent, nullptr);
      for (const ref<Entity>& child : e->children) EXPECT_EQ(child->parent, e.get());
    }
  }
}

// Shared references that would hold each other are refused: nothing would ever free them.
class Link : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  std::vector<ref<Link>> next;
  Link* first = nullptr;  // one of the links that list this one
};
ZR_DEFINE_TYPE(Link, zr::Object, "test::Link")

TEST_P(DeclaredLevel, SharedReferencesNeverCloseACycleAndSharedBackPointersAreChecked) {
  ref<zrX::Registry> links = new zrX::Registry;
  links->add(zrX::Declare<Link>("<Link>")
                 .field("next", &Link::next)
                 .parent("first", &Link::first, &Link::next));
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"<Link> { ID = #a next = [ #a ] }",
       "<Link>: entry 'next[0]' names <Link> '#a', which holds this object already: a cycle of "
       "references that nothing frees."},
      {"<Link> { ID = #a next = [ <Link> { next = [ #a ] } ] }",
       "<Link>: entry 'next[0]' names <Link> '#a', which holds this object already: a cycle of "
       "references that nothing frees."},
      {"<Link> { ID = #a next = [ <Link> { ID = #b first = #a } <Link> { next = [ #b ] } ] }",
       nullptr},
      {"<Link> { ID = #a next = [ <Link> { ID = #b } <Link> { next = [ #b ] first = #b } ] }",
       "<Link>: entry 'first' does not name an object that lists this one."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    ref<zr::Object> loaded = loadText(links.get(), c.text, GetParam(), &error);
    EXPECT_EQ(error, c.error ? c.error : "");
    EXPECT_EQ(!loaded, c.error != nullptr);
    if (loaded) {
      const auto* a = static_cast<const Link*>(loaded.get());
      ASSERT_EQ(a->next.size(), 2u);
      EXPECT_EQ(a->next[0]->first, a);  // shared by a and the second link, first names a
      EXPECT_EQ(a->next[1]->first, nullptr);
    }
  }
}

TEST_P(DeclaredLevel, UnknownEntriesAreSkippedUnlessTheClassIsStrict) {
  ref<zrX::Registry> strict = new zrX::Registry;
  strict->add(zrX::Declare<Level>("<Level>").strict().field("prefabs", &Level::prefabs));
  strict->add(zrX::Declare<Prefab>("<Prefab>").field("name", &Prefab::name));
  const std::string text = "<Level> { prefabs = [ ] future = 3 }";
  std::string error;
  EXPECT_TRUE(load(text, &error)) << error;
  EXPECT_FALSE(load(text, &error, strict.get()));
  EXPECT_EQ(error,
            "<Level>: entry 'future' is not an entry of this class, which reads only its own.");
}

TEST_P(DeclaredLevel, AnOlderVersionIsUpgradedAndANewerOneRefused) {
  ref<zrX::Registry> v2 = levelRegistry(2);
  ref<Level> level = makeLevel();
  // Written by version 1: no version recorded, the scale read by version 2 is upgraded to percent.
  const std::string v1Text = save(level.get());
  EXPECT_EQ(v1Text.find("Class_Versions"), std::string::npos);
  std::string error;
  ref<Level> back = load(v1Text.substr(v1Text.find('\n') + 1), &error, v2.get());
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->prefabs[0]->scale[1], 200.0);
  // Written by version 2: recorded once, read back as it is by version 2, refused by version 1.
  const std::string v2Text = save(level.get(), v2.get());
  EXPECT_NE(v2Text.find("Class_Versions = \n\t[\n\t\t<Prefab> ( 2 )\n\t]\n"), std::string::npos)
      << v2Text;
  back = load(v2Text.substr(v2Text.find('\n') + 1), &error, v2.get());
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->prefabs[0]->scale[1], 2.0);
  EXPECT_FALSE(load(v2Text.substr(v2Text.find('\n') + 1), &error));
  EXPECT_EQ(
      error,
      "<Prefab>: was written by version 2 of its class; this program reads versions up to 1.");
  EXPECT_FALSE(
      load("<Metadata> { Class_Versions = 2 } <Level> { prefabs = [ <Prefab> { name = "
           "\"p\" } ] }",
           &error, v2.get()));
  EXPECT_EQ(error,
            "The metadata entry 'Class_Versions' is not a list of class tags, each with its "
            "version (such as <Entity> ( 3 )).");
}

// Declaring what a format cannot hold stops at the declaration, saying why.
TEST(DeclaredDeath, ADeclarationThatCannotBeWrittenStopsWithAMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(zrX::Declare<Level>("<Level>").field("id", &Level::entities),
               "key 'id' cannot be written: a key is .*'ID' in any letter case");
  EXPECT_DEATH(zrX::Declare<Level>("<Level>").field("true", &Level::entities),
               "key 'true' cannot be written: a key is");
  EXPECT_DEATH(zrX::Declare<Level>("Level"), "tag 'Level' cannot be written");
  EXPECT_DEATH(zrX::Declare<Level>("<Level>").id("a-b"), "ID prefix 'a-b' cannot be written");
  EXPECT_DEATH(zrX::Declare<Level>("<Level>")
                   .field("a", &Level::entities)
                   .field("b", &Level::prefabs)
                   .alias("a"),
               "key 'a' is declared twice");
  EXPECT_DEATH(zrX::Declare<Prefab>("<Prefab>")
                   .field("kind", &Prefab::kind, {{Prefab::Kind::Static, "static thing"}}),
               "enum name 'static thing' cannot be written");
  EXPECT_DEATH(zrX::Declare<Level>("<Level>").required(), "applies to the field declared last");
}

// The low-level helpers, for hand-written wrappers.
TEST(DeclaredHelpers, TypedLoadTypedImportAndTheFirstMessage) {
  zrtest::LogCapture log;
  ref<zrX::Registry> registry = levelRegistry();
  ref<zr::MemoryFile> file = zrtest::documentInFormat(
      "ZRX version=101 encoding=ascii\n<Prefab> { name = \"p\" }\n", Format::ZRB);
  zrX::ZRXSerializer serializer;
  serializer.setRegistry(registry.get());
  EXPECT_TRUE(serializer.loadAs<Prefab>(file.get()));
  EXPECT_FALSE(serializer.loadAs<Level>(file.get()));
  EXPECT_EQ(serializer.error(), zrX::ZRXSerializer::ImportError);
  EXPECT_EQ(
      serializer.errorMessage(),
      "ZRXSerializer::loadAs() : the document holds a 'game::Prefab', not a 'game::Level'.\n");
  ASSERT_FALSE(log.errors().empty());
  EXPECT_EQ(log.errors().front(), serializer.errorMessage());  // the log sees it as before

  // A parse error's first line is the serializer's message too.
  ref<zr::MemoryFile> broken = zrtest::documentInFormat(
      "ZRX version=101 encoding=ascii\n<Prefab> { name = \"p\" }\n", Format::ZRT);
  broken->data().resize(broken->data().size() - 3);
  EXPECT_FALSE(serializer.load(broken.get()));
  EXPECT_NE(serializer.errorMessage().find("Line 2"), std::string::npos)
      << serializer.errorMessage();
  serializer.setError(zrX::ZRXSerializer::NoError);
  EXPECT_EQ(serializer.errorMessage(), "");

  // importValue: structure, #NULL, class.
  zrX::ZRXStructure holder("<Holder>");
  ref<zrX::ZRXStructure> prefab = new zrX::ZRXStructure("<Prefab>");
  *prefab << "name" << zrX::ZRXValue::makeString("p");
  holder << "good" << zrX::ZRXValue::makeStructure(prefab.get()) << "none"
         << zrX::ZRXValue::makeStructure(nullptr) << "number" << zrX::ZRXValue(int64_t{4});
  serializer.reset();
  Prefab* out = nullptr;
  EXPECT_TRUE(serializer.importValue(holder.value()[0].value(), &holder, "good", &out));
  EXPECT_NE(out, nullptr);
  EXPECT_TRUE(serializer.importValue(holder.value()[1].value(), &holder, "none", &out));
  EXPECT_EQ(out, nullptr);
  zrX::ZRXSerializer::ImportRule required;
  required.nullable = false;
  EXPECT_FALSE(serializer.importValue(holder.value()[1].value(), &holder, "none", &out, required));
  EXPECT_EQ(serializer.errorMessage(), "<Holder>: entry 'none' names no structure.");
  serializer.reset();
  Level* level = nullptr;
  EXPECT_FALSE(serializer.importValue(holder.value()[0].value(), &holder, "good", &level));
  EXPECT_EQ(serializer.errorMessage(),
            "<Holder>: entry 'good' names an object of the wrong class (a 'game::Prefab', not a "
            "'game::Level').");
  serializer.reset();
  EXPECT_FALSE(serializer.importValue(holder.value()[2].value(), &holder, "number", &out));
  EXPECT_EQ(serializer.errorMessage(),
            "<Holder>: entry 'number' is not a structure (found the integer 4).");
}

TEST(DeclaredHelpers, GettersOfAnotherKindAnswerNothing) {
  zrX::ZRXValue number(int64_t{3});
  EXPECT_EQ(number.asInteger(), 3);
  EXPECT_FALSE(number.asReal());
  EXPECT_EQ(number.asString(), nullptr);
  EXPECT_EQ(number.asStructure(), nullptr);
  EXPECT_EQ(number.asArrayReal(), nullptr);
  zrX::ZRXValue text = zrX::ZRXValue::makeString("t");
  ASSERT_NE(text.asString(), nullptr);
  EXPECT_EQ(*text.asString(), "t");
  EXPECT_EQ(text.asIdentifier(), nullptr);
  EXPECT_FALSE(text.asBool());
}

// A plain struct may hold itself (a tree of values); a file that links one into a cycle nests the
// reader without end, and the conversion limit stops it cleanly.
struct Branch {
  std::string name;
  std::vector<Branch> branches;
};

class Tree : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  Branch trunk;
};
ZR_DEFINE_TYPE(Tree, zr::Object, "test::Tree")

TEST(DeclaredNesting, AStructHoldingItselfMakesTheRoundTripAndACycleFailsCleanly) {
  zrtest::LogCapture log;
  zrX::Declare<Branch> branch("<Branch>");
  branch.field("name", &Branch::name).field("branches", &Branch::branches, branch);
  ref<zrX::Registry> registry = new zrX::Registry;
  registry->add(zrX::Declare<Tree>("<Tree>").field("trunk", &Tree::trunk, branch));

  ref<Tree> tree = new Tree;
  tree->trunk.name = "trunk";
  tree->trunk.branches = {{"a", {{"a1", {}}}}, {"b", {}}};
  zrX::ZRXSerializer serializer;
  serializer.setRegistry(registry.get());
  ref<zr::MemoryFile> file = new zr::MemoryFile;
  ASSERT_TRUE(serializer.saveZRB(file.get(), tree.get(), true)) << serializer.errorMessage();
  ref<Tree> back = serializer.loadAs<Tree>(file.get());
  ASSERT_TRUE(back) << serializer.errorMessage();
  ASSERT_EQ(back->trunk.branches.size(), 2u);
  EXPECT_EQ(back->trunk.branches[0].branches[0].name, "a1");

  std::string error;
  EXPECT_FALSE(loadText(registry.get(), "<Tree> { trunk = <Branch> { ID = #b branches = [ #b ] } }",
                        Format::ZRB, &error));
  EXPECT_NE(error.find("<Tree>: entry 'trunk/branches[0]/branches[0]/"), std::string::npos)
      << error;
  EXPECT_NE(error.find("nests structures deeper than"), std::string::npos) << error;
}

TEST(DeclaredNesting, EmptyContainersCanBeLeftOut) {
  ref<zrX::Registry> registry = new zrX::Registry;
  registry->add(zrX::Declare<Level>("<Level>").field("prefabs", &Level::prefabs).omitEmpty());
  ref<Level> level = new Level;
  zrX::ZRXSerializer serializer;
  serializer.setRegistry(registry.get());
  ref<zr::MemoryFile> file = new zr::MemoryFile;
  ASSERT_TRUE(serializer.saveZRT(file.get(), level.get(), true));
  const std::string text(file->data().begin(), file->data().end());
  EXPECT_EQ(text.find("prefabs"), std::string::npos) << text;
  EXPECT_TRUE(serializer.loadAs<Level>(file.get()));
}

}  // namespace
