// zrx_py_helper: the C++ side of the Python module's round-trip tests. It writes generated
// documents (the suite's TreeGen) for Python to read, and compares what Python wrote with the
// library's own reading of the original through the suite's tree comparison (TreeCompare).
//
//   zrx_py_helper generate SEED zrt|zrb OUT        a generated document with two metadata entries
//   zrx_py_helper compare EXPECTED ACTUAL [ids]    the same documents, metadata included
//   zrx_py_helper changed ORIGINAL ACTUAL [ids]    ACTUAL is ORIGINAL after the change below
//
// `ids` is "exact" (the default) or "referenced" (for text, which keeps only the IDs something
// needs). The change: in every structure (each once), every real array entry doubled and every
// integer array entry plus one (wrapping); then an entry "touched" = true appended to each
// top-level structure. Prints "same" and exits 0, or prints the first difference and exits 1;
// 2 for a file that cannot be read or written.
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "support/TreeCompare.hpp"
#include "support/TreeGen.hpp"
#include "zrX/zrX.hpp"

namespace {

using zrX::ZRXStructure;
using zrX::ZRXValue;

bool readFile(const char* path, zrX::Document& document) {
  zr::ref<zr::VirtualFile> file = zr::locateFile(zr::String(path));
  if (!file) return false;
  return zrX::readDocument(file.get(), zrX::detectFormat(file.get()), document) ==
         zrX::ReadStatus::Ok;
}

zr::ref<ZRXStructure> metadataStructure(const zrX::MetadataMap& metadata) {
  zr::ref<ZRXStructure> st = new ZRXStructure("<Metadata>");
  for (const auto& [key, value] : metadata) {
    st->value().emplace_back();
    st->value().back().setKey(key);
    st->value().back().setValue(value);
  }
  return st;
}

void change(zrX::Document& document) {
  std::unordered_set<const zrX::ZRXTaggedValue*> seen;
  std::vector<zrX::ZRXTaggedValue*> stack;
  for (auto it = document.structures().rbegin(); it != document.structures().rend(); ++it)
    stack.push_back(it->get());
  auto push = [&stack](const ZRXValue& v) {
    if (v.type() == ZRXValue::Structure && v.getStructure()) stack.push_back(v.getStructure());
    if (v.type() == ZRXValue::List) stack.push_back(v.getList());
  };
  while (!stack.empty()) {
    zrX::ZRXTaggedValue* node = stack.back();
    stack.pop_back();
    if (!seen.insert(node).second) continue;
    if (node->classType() == zrX::ZRXList::Type()) {
      for (const ZRXValue& v : static_cast<zrX::ZRXList*>(node)->value()) push(v);
      continue;
    }
    for (ZRXStructure::KeyValue& entry : static_cast<ZRXStructure*>(node)->value()) {
      ZRXValue& v = entry.value();
      if (v.type() == ZRXValue::ArrayReal)
        for (double& x : v.getArrayReal()->value()) x *= 2;
      if (v.type() == ZRXValue::ArrayInteger)
        for (int64_t& x : v.getArrayInteger()->value())
          x = static_cast<int64_t>(static_cast<uint64_t>(x) + 1);
      push(v);
    }
  }
  for (const zr::ref<ZRXStructure>& st : document.structures())
    *st << "touched" << ZRXValue::makeBool(true);
}

int compare(zrX::Document& expected, zrX::Document& actual, const char* ids) {
  zrtest::CompareOptions options;
  options.ids = ids && std::strcmp(ids, "referenced") == 0 ? zrtest::CompareOptions::IDs::Referenced
                                                           : zrtest::CompareOptions::IDs::Exact;
  std::string diff = zrtest::diffDocuments(expected.structures(), actual.structures(), options);
  if (diff.empty()) {
    zr::ref<ZRXStructure> a = metadataStructure(expected.metadata());
    zr::ref<ZRXStructure> b = metadataStructure(actual.metadata());
    diff = zrtest::diffTrees(a.get(), b.get(), options);
    if (!diff.empty()) diff = "metadata: " + diff;
  }
  std::printf("%s\n", diff.empty() ? "same" : diff.c_str());
  return diff.empty() ? 0 : 1;
}

int usage() {
  std::fprintf(stderr,
               "usage: zrx_py_helper generate SEED zrt|zrb OUT | compare EXPECTED ACTUAL [ids] | "
               "changed ORIGINAL ACTUAL [ids]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return usage();
  const std::string command = argv[1];
  if (command == "generate" && argc == 5) {
    const auto seed = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    const bool text = std::strcmp(argv[3], "zrt") == 0;
    zrtest::TreeGenOptions options =
        text ? zrtest::TreeGenOptions::textSafe(seed) : zrtest::TreeGenOptions();
    options.seed = seed;
    zrX::Document document;
    document.structures() = zrtest::generateDocument(options);
    document.metadata()["Authoring_Tool"] = ZRXValue::makeString("zrx_py_helper");
    document.metadata()["seed"] = ZRXValue::makeInteger(seed);
    zr::ref<zr::VirtualFile> file = new zr::DiskFile(zr::String(argv[4]));
    const zrX::WriteResult result =
        zrX::writeDocument(file.get(), text ? zrX::Format::ZRT : zrX::Format::ZRB, document);
    if (!result.ok()) {
      std::fprintf(stderr, "zrx_py_helper: %s\n", result.message.c_str());
      return 2;
    }
    return 0;
  }
  if ((command == "compare" || command == "changed") && (argc == 4 || argc == 5)) {
    zrX::Document expected, actual;
    if (!readFile(argv[2], expected) || !readFile(argv[3], actual)) {
      std::fprintf(stderr, "zrx_py_helper: cannot read '%s' or '%s'\n", argv[2], argv[3]);
      return 2;
    }
    if (command == "changed") change(expected);
    return compare(expected, actual, argc == 5 ? argv[4] : nullptr);
  }
  return usage();
}
