// libFuzzer entry for the ZRB reader. Parses the input from a MemoryFile; when it parses, writes
// the structures back, parses that and writes it again, and traps unless both writes give the same
// bytes (the reader and the writer agree on everything the reader accepts). Then links the parsed
// document and frees it, cycles broken, so nothing leaks.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "zrCore/Log.hpp"
#include "zrCore/VirtualFile.hpp"
#include "zrX/Cycles.hpp"
#include "zrX/ParserZRB.hpp"
#include "zrX/VisitorExportToZRB.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

// Parses `bytes` into `parser`; true on success.
bool parse(zrX::ParserZRB& parser, Bytes bytes) {
  zr::ref<zr::MemoryFile> file(new zr::MemoryFile(std::move(bytes)));
  parser.setInputFile(file.get());
  return parser.parse();
}

Bytes write(const std::vector<zr::ref<zrX::ZRXStructure>>& structures) {
  zr::ref<zr::MemoryFile> file(new zr::MemoryFile);
  zrX::VisitorExportToZRB writer(file.get());
  writer.writeHeader();
  for (const zr::ref<zrX::ZRXStructure>& structure : structures) structure->acceptVisitor(&writer);
  if (writer.failed()) __builtin_trap();  // a parsed, unlinked tree is always writable
  file->close();
  return file->data();
}

void release(std::vector<zr::ref<zrX::ZRXStructure>>& structures) {
  std::vector<zr::ref<zrX::ZRXTaggedValue>> nodes(structures.begin(), structures.end());
  structures.clear();
  zrX::breakCycles(nodes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool silenced = [] {
    zr::Log::setSink([](zr::Log::Level, const std::string&) {});
    return true;
  }();
  (void)silenced;

  zrX::ParserZRB parser;
  if (parse(parser, Bytes(data, data + size))) {
    const Bytes first = write(parser.structures());
    zrX::ParserZRB again;
    if (!parse(again, first)) __builtin_trap();
    if (write(again.structures()) != first) __builtin_trap();
    parser.link();
  }
  release(parser.structures());
  return 0;
}
