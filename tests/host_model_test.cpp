// The test host model (support/HostModel) against hostile documents, loaded with the one-call
// functions in both formats: back pointers come from the owners and a "parent" entry is only
// cross-checked, a node that would own itself or have two owners is refused, trees are limited in
// depth. Each document fails with its first message or loads with the ownership rules holding.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/DocumentText.hpp"
#include "support/HostModel.hpp"
#include "support/LogCapture.hpp"
#include "zrX/ioZRX.hpp"

namespace {

using zr::ref;
using zrtest::Node;
using zrX::Format;

std::string zrt(const std::string& body) {
  return "ZRX version=101 encoding=ascii\n" + body + "\n";
}

// Where a loaded database breaks the ownership rules, or "": every child points back at the node
// whose list holds it, and a resource node with a parent is in that parent's list. Following
// each parent pointer also lets AddressSanitizer see one that dangles.
std::string ownershipFault(const zr::ResourceDatabase* database) {
  std::vector<const Node*> pending;
  for (const ref<zr::Object>& resource : database->resources()) {
    if (!resource->isOfType(Node::Type())) continue;
    const auto* node = static_cast<const Node*>(resource.get());
    if (!node->parent) {
      pending.push_back(node);
      continue;
    }
    bool listed = false;
    for (const ref<Node>& child : node->parent->children) listed |= child.get() == node;
    if (!listed) return "resource node '" + node->name + "' has a parent that does not own it";
  }
  std::set<const Node*> seen;
  while (!pending.empty()) {
    const Node* node = pending.back();
    pending.pop_back();
    if (!seen.insert(node).second) return "node '" + node->name + "' is owned twice";
    for (const ref<Node>& child : node->children) {
      if (child->parent != node) return "child '" + child->name + "' points elsewhere";
      pending.push_back(child.get());
    }
  }
  return "";
}

class HostModelHostile : public ::testing::TestWithParam<Format> {
 protected:
  HostModelHostile() { zrX::setDefZRXRegistry(registry.get()); }
  ~HostModelHostile() override { zrX::setDefZRXRegistry(nullptr); }

  ref<zrX::Registry> registry = zrtest::makeHostRegistry();
  zrtest::LogCapture log;
};

INSTANTIATE_TEST_SUITE_P(Formats, HostModelHostile, ::testing::Values(Format::ZRT, Format::ZRB),
                         [](const ::testing::TestParamInfo<Format>& info) {
                           return std::string(zrX::formatName(info.param));
                         });

TEST_P(HostModelHostile, DocumentsLoadCleanlyOrFailCleanly) {
  const std::string db = "<ResourceDatabase> { resources = [ ";
  const std::string end = " ] }";
  struct Case {
    const char* what;
    std::string text;
    const char* error;  // null: loads
  };
  const Case cases[] = {
      {"a child reached before its parent, shared with the database",
       zrt(db + "#a #r" + end + "\n<Node> { ID = #r name = \"root\" children = [ #a ] }" +
           "\n<Node> { ID = #a name = \"a\" parent = #r }"),
       nullptr},
      {"a root whose parent entry names nothing",
       zrt(db + "<Node> { name = \"root\" parent = #NULL }" + end), nullptr},
      {"a child naming a parent that nothing owns",
       zrt(db +
           "<Node> { name = \"root\" children = [ <Node> { name = \"child\" parent = <Node> { "
           "name = \"ghost\" } } ] }" +
           end),
       "<Node> 'child': entry 'parent' does not name the node that owns it."},
      {"a root naming a parent that nothing owns",
       zrt(db + "<Node> { name = \"root\" parent = <Node> { name = \"ghost\" } }" + end),
       "<Node> 'root': entry 'parent' does not name the node that owns it."},
      {"a node listing itself",
       zrt(db + "<Node> { ID = #n name = \"loop\" children = [ #n ] }" + end),
       "<Node> 'loop' would own itself: it is listed below itself."},
      {"three nodes in a ring",
       zrt(db + "#a" + end + "\n<Node> { ID = #a name = \"a\" children = [ #b ] }" +
           "\n<Node> { ID = #b name = \"b\" children = [ #c ] }" +
           "\n<Node> { ID = #c name = \"c\" children = [ #a ] }"),
       "<Node> 'b' would own itself: it is listed below itself."},
      {"a node with two owners",
       zrt(db +
           "<Node> { name = \"p\" children = [ #c ] } <Node> { name = \"q\" children = [ #c ] }" +
           end + "\n<Node> { ID = #c name = \"c\" }"),
       "<Node> 'c' is listed as a child more than once."},
      {"a parent entry of the wrong kind", zrt(db + "<Node> { parent = 3 }" + end),
       "<Node>: entry 'parent' is not a structure."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    log.clear();
    ref<zr::MemoryFile> file = zrtest::documentInFormat(c.text, GetParam());
    ref<zr::ResourceDatabase> database =
        GetParam() == Format::ZRT ? zrX::loadZRT(file.get()) : zrX::loadZRB(file.get());
    if (database) {
      EXPECT_EQ(ownershipFault(database.get()), "");
    }
    if (c.error) {
      EXPECT_FALSE(database);
      EXPECT_EQ(log.errors().empty() ? "(nothing logged)" : log.errors().front(), c.error);
    } else {
      EXPECT_TRUE(database) << log.all();
      EXPECT_TRUE(log.errors().empty()) << log.all();
    }
  }
}

}  // namespace
