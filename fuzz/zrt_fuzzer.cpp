// libFuzzer entry for the ZRT reader: parses the input bytes with ParserZRT, links the result,
// then frees everything. Linking can close cycles (a structure whose member names its own ID), so
// the trees are handed to breakCycles before the last references go; the leak checker then sees
// every node freed.
//
// An input whose first byte has its high bit set is also read a second way: the rest of the input
// through a file that is not in memory and hands out at most 1 to 64 bytes per read (the first
// byte's low six bits; bit 6 hides the file's size), so every token, line end and number may be
// cut between reads. The
// tokenizer's window over chunks must then read exactly what it reads in place: the same
// messages, and when the read succeeds, the same document (compared as written ZRB bytes).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/TrickleFile.hpp"
#include "zrCore/Log.hpp"
#include "zrCore/VirtualFile.hpp"
#include "zrX/Cycles.hpp"
#include "zrX/Document.hpp"
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

// What a read of `file` gives: its messages, whether it read, and the document as ZRB bytes.
struct Outcome {
  std::string messages;
  bool ok = false;
  std::vector<uint8_t> bytes;
};

std::string* gMessages = nullptr;

Outcome readUnlinked(zr::VirtualFile* file) {
  Outcome outcome;
  gMessages = &outcome.messages;
  zrX::Document document;
  zrX::ReadOptions options;
  options.link = false;
  outcome.ok = zrX::readDocument(file, zrX::Format::ZRT, document, options) == zrX::ReadStatus::Ok;
  gMessages = nullptr;
  if (outcome.ok) {
    zr::ref<zr::MemoryFile> out = new zr::MemoryFile;
    if (zrX::writeDocument(out.get(), zrX::Format::ZRB, document).ok()) outcome.bytes = out->data();
  }
  return outcome;
}

void compareStreamed(const uint8_t* data, size_t size) {
  const size_t step = (data[0] & 0x3F) + 1;
  zr::ref<zr::MemoryFile> inMemory =
      new zr::MemoryFile(std::vector<uint8_t>(data + 1, data + size));
  zr::ref<zrtest::TrickleFile> streamed =
      new zrtest::TrickleFile(std::vector<uint8_t>(data + 1, data + size),
                              static_cast<int64_t>(step), (data[0] & 0x40) == 0);
  const Outcome a = readUnlinked(inMemory.get());
  const Outcome b = readUnlinked(streamed.get());
  if (a.messages != b.messages || a.ok != b.ok || a.bytes != b.bytes) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool silenced = [] {
    zr::Log::setSink([](zr::Log::Level, const std::string& line) {
      if (gMessages) *gMessages += line;
    });
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

  if (size > 0 && (data[0] & 0x80) != 0) compareStreamed(data, size);
  return 0;
}
