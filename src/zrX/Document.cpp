#include "zrX/Document.hpp"

#include <cstring>

#include "zrCore/Check.hpp"
#include "zrCore/Log.hpp"
#include "zrX/Cycles.hpp"
#include "zrX/ParserZRB.hpp"
#include "zrX/ParserZRT.hpp"
#include "zrX/VisitorExportToZRB.hpp"
#include "zrX/VisitorExportToZRT.hpp"

namespace zrX {

namespace {

const char kTextSignature[12] = {'Z', 'R', 'X', ' ', 'v', 'e', 'r', 's', 'i', 'o', 'n', '='};
const unsigned char kBinarySignature[9] = {0xAB, 0x5A, 0x52, 0x58, 0xBB, 0x0D, 0x0A, 0x1A, 0x0A};

// The ID counter of a save, which also refuses a top-level structure that was reached before
// (given twice, or standing inside an earlier one): no format can place it at the top level
// again, and the binary writer would only find out after opening the file.
class TopLevelCounter : public VisitorIDCounter {
 public:
  void countTopLevel(ZRXStructure* structure) {
    if (wasReached(structure)) {
      recordWalkFailure("VisitorIDCounter: top-level structure " +
                        (structure->tag().empty() ? std::string("untagged")
                                                  : "'" + zr::messageText(structure->tag()) + "'") +
                        " is reached before; it cannot stand at the top level again.");
    }
    structure->acceptVisitor(this);
  }
};

// A WriteError saying `what`, with the system's reason when the file knows it.
WriteResult writeError(zr::VirtualFile* file, const std::string& what) {
  WriteResult result;
  result.status = WriteStatus::WriteError;
  result.systemError = file->lastError();
  result.message = what;
  if (result.systemError) result.message += ": " + zr::systemErrorMessage(result.systemError);
  return result;
}

}  // namespace

Format detectFormat(zr::VirtualFile* file) {
  if (!file) return Format::Unknown;
  unsigned char head[12] = {};
  file->close();
  if (file->open(zr::VirtualFile::ReadOnly)) {
    // A file may hand out fewer bytes than asked for before its end.
    int64_t got = 0;
    while (got < static_cast<int64_t>(sizeof head)) {
      const int64_t moved = file->read(head + got, static_cast<int64_t>(sizeof head) - got);
      if (moved <= 0) break;
      got += moved;
    }
  }
  file->close();
  if (std::memcmp(head, kTextSignature, sizeof kTextSignature) == 0) return Format::ZRT;
  if (std::memcmp(head, kBinarySignature, sizeof kBinarySignature) == 0) return Format::ZRB;
  return Format::Unknown;
}

Format formatFromExtension(const std::string& path) {
  if (path.size() < 4) return Format::Unknown;
  std::string extension = path.substr(path.size() - 4);
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (extension == ".zrt") return Format::ZRT;
  if (extension == ".zrb") return Format::ZRB;
  return Format::Unknown;
}

const char* formatName(Format format) {
  switch (format) {
    case Format::ZRT:
      return "ZRT";
    case Format::ZRB:
      return "ZRB";
    default:
      return "unknown";
  }
}

Document::~Document() {
  std::vector<zr::ref<ZRXTaggedValue>> roots;
  roots.reserve(mStructures.size() + mMetadata.size());
  for (zr::ref<ZRXStructure>& structure : mStructures) roots.emplace_back(std::move(structure));
  mStructures.clear();
  for (const auto& entry : mMetadata) appendRoot(roots, entry.second);
  mMetadata.clear();
  dropAndBreakCycles(roots);
}

ReadStatus readDocument(zr::VirtualFile* file, Format format, Document& document,
                        const ReadOptions& options) {
  ZR_CHECK(file);
  zr::ref<Parser> parser;
  bool parsed = false;
  if (format == Format::ZRT) {
    // The tokenizer reads on from wherever an open file stands: start from the beginning, as the
    // binary parser does.
    file->close();
    zr::ref<ParserZRT> text = new ParserZRT;
    text->setMaxDepth(options.maxDepth);
    text->setLinkWhileReading(options.link);
    text->tokenizer()->attachFile(file);
    parser = text;
    parsed = text->parse();
    file->close();
  } else if (format == Format::ZRB) {
    zr::ref<ParserZRB> binary = new ParserZRB;
    binary->setMaxDepth(options.maxDepth);
    binary->setLinkWhileReading(options.link);
    binary->setInputFile(file);
    parser = binary;
    parsed = binary->parse();
    file->close();
  } else {
    zr::Log::error(zr::Say("'%s' is neither a ZRT nor a ZRB document.\n")
                   << zr::messageText(file->path().toStdString()));
    return ReadStatus::ParseError;
  }

  document.setHeader(parser->version(), parser->encoding());
  // Linked before the structures move: the parser knows where the references of its tree are.
  ReadStatus status = ReadStatus::Ok;
  if (parsed) {
    document.metadata() = parser->metadata();
    if (options.link && !parser->linkParsed()) status = ReadStatus::LinkError;
  }
  auto& structures = document.structures();
  structures.insert(structures.end(), parser->structures().begin(), parser->structures().end());
  parser->structures().clear();
  return parsed ? status : ReadStatus::ParseError;
}

WriteResult writeStructures(zr::VirtualFile* file, Format format,
                            const std::vector<zr::ref<ZRXStructure>>& topLevel, int maxDepth) {
  WriteOptions options;
  options.maxDepth = maxDepth;
  return writeStructures(file, format, topLevel, options);
}

WriteResult writeStructures(zr::VirtualFile* file, Format format,
                            const std::vector<zr::ref<ZRXStructure>>& topLevel,
                            const WriteOptions& options) {
  ZR_CHECK(file);
  const int maxDepth = options.maxDepth;
  WriteResult result;
  if (format != Format::ZRT && format != Format::ZRB) {
    result.status = WriteStatus::Refused;
    result.message = "no document format given (ZRT or ZRB)";
    return result;
  }

  // Count IDs over every top-level structure with one counter, so its guard spans them all. The
  // counter also finds what neither format can hold: both refuse it before the file is touched.
  IDCountMap ids;
  TopLevelCounter counter;
  counter.setMaxDepth(maxDepth);
  counter.setTopLevel(&topLevel);
  counter.setIDSet(&ids);
  counter.recordFirstVisits();  // the writer follows this walk
  counter.deferIDCounting();
  if (format == Format::ZRT) counter.checkTextRules();
  for (const zr::ref<ZRXStructure>& structure : topLevel) {
    ZR_CHECK(structure);
    counter.countTopLevel(structure.get());
  }
  counter.finish();
  if (counter.failed()) {
    result.status = WriteStatus::Refused;
    result.message = counter.failure();
    return result;
  }

  if (format == Format::ZRT) {
    VisitorExportToZRT writer;
    writer.setMaxDepth(maxDepth);
    writer.setSixDecimalReals(options.sixDecimalReals);
    writer.setTopLevel(&topLevel);
    writer.setIDSet(&ids);
    writer.followCounter(counter);
    // A tree that passed the counter's text rules goes straight into the file as it is written.
    // Otherwise the writer builds the text in memory first: it refuses the tree, saying what and
    // where, before the file is opened.
    const bool streamed = !counter.textRefused();
    if (!streamed) {
      writer.writeHeader();
      for (const zr::ref<ZRXStructure>& structure : topLevel) structure->acceptVisitor(&writer);
      if (writer.failed()) {
        result.status = WriteStatus::Refused;
        result.message = writer.failure();
        return result;
      }
    }
    if (!file->open(zr::VirtualFile::WriteOnly)) {
      return writeError(file, "cannot open '" + file->path().toStdString() + "' for writing");
    }
    if (streamed) {
      writer.streamTo(file, true);
      writer.writeHeader();
      for (const zr::ref<ZRXStructure>& structure : topLevel) structure->acceptVisitor(&writer);
      if (writer.failed()) {
        // The counter's rules missed what the writer refuses: nothing of it is kept.
        file->abandon();
        result.status = WriteStatus::Refused;
        result.message = writer.failure();
        return result;
      }
    }
    if (!(streamed ? writer.finishStream() : writer.writeTo(file))) {
      WriteResult failed = writeError(file, "short write");
      file->abandon();
      return failed;
    }
    if (!file->close()) return writeError(file, "the file could not be committed");
    return result;
  }

  VisitorExportToZRB writer(file);  // opens the file for writing
  writer.setMaxDepth(maxDepth);
  writer.setTopLevel(&topLevel);
  writer.setIDSet(&ids);
  writer.follow(&counter.firstVisits());
  writer.writeHeader();
  for (const zr::ref<ZRXStructure>& structure : topLevel) structure->acceptVisitor(&writer);
  if (writer.failed()) {
    result.status = writer.writeFailed() ? WriteStatus::WriteError : WriteStatus::Refused;
    result.message = writer.failure();
    if (writer.writeFailed()) result.systemError = file->lastError();
    file->abandon();
    return result;
  }
  if (!file->close()) return writeError(file, "the file could not be committed");
  return result;
}

WriteResult writeDocument(zr::VirtualFile* file, Format format, const Document& document,
                          int maxDepth) {
  WriteOptions options;
  options.maxDepth = maxDepth;
  return writeDocument(file, format, document, options);
}

WriteResult writeDocument(zr::VirtualFile* file, Format format, const Document& document,
                          const WriteOptions& options) {
  std::vector<zr::ref<ZRXStructure>> topLevel;
  topLevel.reserve(document.structures().size() + 1);
  if (!document.metadata().empty()) {
    zr::ref<ZRXStructure> metadata = new ZRXStructure("<Metadata>");
    for (const auto& [key, value] : document.metadata()) {
      metadata->value().emplace_back();
      metadata->value().back().setKey(key);  // the whole key, a NUL byte included
      metadata->value().back().setValue(value);
    }
    topLevel.push_back(metadata);
  }
  topLevel.insert(topLevel.end(), document.structures().begin(), document.structures().end());
  return writeStructures(file, format, topLevel, options);
}

}  // namespace zrX
