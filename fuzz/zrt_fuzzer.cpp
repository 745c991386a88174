// libFuzzer entry for the ZRT reader: parses the input bytes with ParserZRT, links the result,
// then frees everything. Linking can close cycles (a structure whose member names its own ID), so
// the trees are handed to breakCycles before the last references go; the leak checker then sees
// every node freed.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "zrCore/Log.hpp"
#include "zrCore/VirtualFile.hpp"
#include "zrX/Cycles.hpp"
#include "zrX/ParserZRT.hpp"

namespace {

void addNode(const zrX::ZRXValue& value, std::vector<zr::ref<zrX::ZRXTaggedValue>>& roots) {
  switch (value.type()) {
    case zrX::ZRXValue::Structure:
      if (value.getStructure()) roots.emplace_back(value.getStructure());
      break;
    case zrX::ZRXValue::List:
      roots.emplace_back(value.getList());
      break;
    default:
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool silenced = [] {
    zr::Log::setSink([](zr::Log::Level, const std::string&) {});
    return true;
  }();
  (void)silenced;

  zr::ref<zr::MemoryFile> file = new zr::MemoryFile(std::vector<uint8_t>(data, data + size));
  zr::ref<zrX::ParserZRT> parser = new zrX::ParserZRT();
  parser->tokenizer()->attachFile(file.get());
  if (parser->parse()) parser->link();

  std::vector<zr::ref<zrX::ZRXTaggedValue>> roots(parser->structures().begin(),
                                                  parser->structures().end());
  for (const auto& entry : parser->metadata()) addNode(entry.second, roots);
  parser->structures().clear();
  parser->metadata().clear();
  zrX::breakCycles(roots);
  return 0;
}
