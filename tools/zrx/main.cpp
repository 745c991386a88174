// zrx: inspect, check and convert ZRX documents (ZRT text, ZRB binary, and their JSON form) at
// the document level, without class wrappers. `zrx --help` lists the commands.
//
// Output: results on standard output, every complaint on standard error as one line naming the
// file ("FILE: ..."); the library's messages are passed through the same way. Documents are read
// without linking (ID references stay ID values), so `convert` and `dump` write the structures
// where the file has them; `check` and `diff` link, and `convert` verifies the references as
// linking would.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "DocumentDiff.hpp"
#include "DocumentFile.hpp"
#include "DocumentStats.hpp"
#include "Progress.hpp"
#include "Text.hpp"
#include "zrX/zrX.hpp"

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;  // a document is bad, or could not be written
constexpr int kUsage = 2;   // the command line is wrong

const char* const kUsageText =
    "zrx - inspect, check and convert ZRX documents (ZRT text, ZRB binary, JSON)\n"
    "\n"
    "Usage:\n"
    "  zrx info FILE...              format, header, metadata and counts of each document\n"
    "  zrx check FILE...             parse and link each document; \"FILE: ok\" or errors\n"
    "  zrx convert IN OUT [--to F]   write IN's document to OUT in format F: zrt, zrb or json\n"
    "  zrx dump FILE                 print the document as ZRT text\n"
    "  zrx diff A B [OPTION]...      compare two documents: one line per difference\n"
    "  zrx help [COMMAND], zrx [COMMAND] --help\n"
    "  zrx --version                 the version of the tool and its library\n"
    "\n"
    "Every command reads all three formats. The format of a file is told by its first bytes, not\n"
    "by its name (a JSON document starts with \"{\"). \"--\" ends the options. While standard\n"
    "error is a terminal, reading a document over 50 MB, or for more than a second, shows its\n"
    "progress there.\n"
    "Exit status: 0 when everything succeeded, 1 when a file is missing or bad or could not be\n"
    "written, 2 when the command line is wrong; for diff see 'zrx help diff'.\n";

const char* const kInfoHelp =
    "Usage: zrx info FILE...\n"
    "\n"
    "Prints, for each document: its format (from the first bytes), the header's version and\n"
    "encoding, the file size, the metadata entries, and counts of top-level structures,\n"
    "structures, lists, raw text blocks, integer and real arrays with their elements, IDs\n"
    "(structures carrying one) and ID references, and the deepest nesting (levels of structures\n"
    "and lists; a top-level structure is level 1). The metadata block is listed, not counted.\n"
    "The document is parsed but not linked: use 'zrx check' to see that its references resolve.\n";

const char* const kCheckHelp =
    "Usage: zrx check FILE...\n"
    "\n"
    "Parses and links each document. Prints \"FILE: ok\" on standard output for a good one; for a\n"
    "bad one, the reader's messages on standard error (line numbers for text, byte offsets for\n"
    "binary). The exit status is 0 only when every file is good.\n";

const char* const kConvertHelp =
    "Usage: zrx convert IN OUT [--to zrt|zrb|json] [--six-decimals]\n"
    "\n"
    "Reads IN in any format, checks that its references resolve, and writes the same tree to OUT\n"
    "in the format given by --to, or else by OUT's extension (.zrt, .zrb or .json): the same\n"
    "structures, IDs and sharing, with the metadata block first and its entries in IN's order.\n"
    "Text keeps only the IDs that something refers to. JSON holds everything ZRB holds, so\n"
    "ZRB -> JSON -> ZRB gives the same bytes (the README describes the JSON form). A tree the\n"
    "target format cannot hold (in text: reals that are not finite, NUL bytes in strings, keys\n"
    "or tags that are not ZRT names, ...) is refused with the writer's message; OUT is then left\n"
    "untouched, as it is whenever the conversion fails. Bad JSON is reported with its line and\n"
    "column.\n"
    "Text gives every finite real back bit for bit: with six decimals where those say it\n"
    "exactly (1.500000), else with the shortest digits that do (0.1234567, 1.0e-7).\n"
    "  --six-decimals   write every real of a ZRT OUT with six decimals (\"%f\"), as earlier\n"
    "                   versions did, losing what lies beyond the sixth decimal\n";

const char* const kDumpHelp =
    "Usage: zrx dump FILE [--six-decimals]\n"
    "\n"
    "Prints the document, whatever its format, as ZRT text on standard output: what 'zrx convert\n"
    "FILE OUT.zrt' would write. A tree the text format cannot hold is refused the same way, and\n"
    "nothing is printed.\n"
    "  --six-decimals   every real with six decimals (\"%f\"), as for convert\n";

const char* const kDiffHelp =
    "Usage: zrx diff A B [--ignore KEY]... [--max N]\n"
    "\n"
    "Compares the documents A and B, whatever their formats, and prints one line per\n"
    "difference, \"PATH: A's value -> B's value\", with (none) for a side that lacks it. The\n"
    "path starts at the top: /<Metadata>/KEY for a metadata entry, /<Tag> for a top-level\n"
    "structure ([i] after the tag when top-level tags repeat), then /key for an entry (/key@2\n"
    "for the second entry with that key) and [i] for a list or array element, counted from 0:\n"
    "  /<Scene>/parts[1]/radius: 0.5 -> 0.75\n"
    "Reals are compared bit for bit, texts byte for byte. References are compared by the\n"
    "structures they point to, not by their ID texts, and a structure shared in one document\n"
    "but not in the other is a difference. Texts are quoted with control bytes and bytes from\n"
    "0x7F up escaped, long ones cut around their first difference.\n"
    "  --ignore KEY   leave the metadata entry KEY out (repeatable): --ignore Creation_Date\n"
    "  --max N        print at most N lines (default 50, 0 for all), then how many more\n"
    "Exit status: 0 when the documents are equal, 1 when they differ, 2 when the command line\n"
    "is wrong or a document cannot be read.\n";

// The file being worked on, named in front of every library message.
std::string gCurrentFile;

void logToStderr(zr::Log::Level level, const std::string& message) {
  zrxtool::ProgressMeter::clearActive();  // a message gets a line of its own
  std::string text = message;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  std::fprintf(stderr, "%s: %s%s\n", gCurrentFile.c_str(),
               level == zr::Log::Level::Warning ? "warning: " : "", text.c_str());
}

int usageError(const std::string& message) {
  std::fprintf(stderr, "zrx: %s (see 'zrx --help')\n", message.c_str());
  return kUsage;
}

// A command's arguments: the help flag, options with their values, and the operands. "--" ends
// the options; "-" alone is an operand.
struct Arguments {
  bool help = false;
  std::string to;            // the value of --to, for convert
  bool sixDecimals = false;  // --six-decimals, for convert and dump
  zrxtool::DiffOptions diff;
  std::vector<std::string> operands;
};

// An option's value: from "--name=value" or from the next argument; false (reported) without.
bool optionValue(const std::string& command, const std::string& name,
                 const std::vector<std::string>& args, size_t& i, std::string& value) {
  const std::string& a = args[i];
  if (a.size() > name.size()) {
    value = a.substr(name.size() + 1);
    return true;
  }
  if (i + 1 < args.size()) {
    value = args[++i];
    return true;
  }
  usageError(command + ": " + name + " needs a value");
  return false;
}

// Fills `parsed` from `args`; a usage error (reported) is kUsage.
int parseArguments(const std::string& command, const std::vector<std::string>& args,
                   Arguments& parsed) {
  bool options = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!options || a.size() < 2 || a[0] != '-') {
      parsed.operands.push_back(a);
    } else if (a == "--") {
      options = false;
    } else if (a == "--help" || a == "-h") {
      parsed.help = true;
    } else if (command == "diff" && (a == "--ignore" || a.rfind("--ignore=", 0) == 0)) {
      std::string key;
      if (!optionValue(command, "--ignore", args, i, key)) return kUsage;
      parsed.diff.ignoredMetadata.insert(key);
    } else if (command == "diff" && (a == "--max" || a.rfind("--max=", 0) == 0)) {
      std::string count;
      if (!optionValue(command, "--max", args, i, count)) return kUsage;
      const char* end = count.data() + count.size();
      const auto result = std::from_chars(count.data(), end, parsed.diff.maxLines);
      if (count.empty() || result.ec != std::errc() || result.ptr != end)
        return usageError("diff: --max takes a count of lines, not '" + zrxtool::safeText(count) +
                          "'");
    } else if ((command == "convert" || command == "dump") && a == "--six-decimals") {
      parsed.sixDecimals = true;
    } else if (command == "convert" && (a == "--to" || a.rfind("--to=", 0) == 0)) {
      if (a == "--to") {
        if (i + 1 >= args.size()) return usageError("convert: --to needs zrt, zrb or json");
        parsed.to = args[++i];
      } else {
        parsed.to = a.substr(5);
      }
      if (parsed.to != "zrt" && parsed.to != "zrb" && parsed.to != "json")
        return usageError("convert: --to takes zrt, zrb or json, not '" +
                          zrxtool::safeText(parsed.to) + "'");
    } else {
      return usageError(command + ": unknown option '" + zrxtool::safeText(a) + "'");
    }
  }
  return kOk;
}

// Reads `path` into `document`, linked when `link` is set. Prints one line and returns false when
// the file is missing, unreadable or not a ZRX document; the reader's and the linker's messages
// when it is bad.
bool readFile(const std::string& path, zrxtool::ToolDocument& document, bool link,
              zrxtool::FileFormat* format = nullptr, int64_t* size = nullptr) {
  gCurrentFile = path;
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) {
    std::fprintf(stderr, "%s: no such file\n", path.c_str());
    return false;
  }
  if (std::filesystem::is_directory(status)) {
    std::fprintf(stderr, "%s: is a folder, not a document\n", path.c_str());
    return false;
  }
  if (!std::filesystem::is_regular_file(status)) {
    std::fprintf(stderr, "%s: not a regular file\n", path.c_str());
    return false;
  }
  if (std::FILE* probe = std::fopen(path.c_str(), "rb")) {
    std::fclose(probe);
  } else {
    std::fprintf(stderr, "%s: cannot be read: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  zr::ref<zr::VirtualFile> disk = zr::locateFile(zr::String(path));
  if (!disk) {
    std::fprintf(stderr, "%s: cannot be read\n", path.c_str());
    return false;
  }
  // Every read goes through the meter, which shows on a terminal how far the reader has got.
  zrxtool::ProgressMeter meter(path, disk->size());
  zr::ref<zr::VirtualFile> file = new zrxtool::ProgressFile(disk.get(), &meter);
  const zrxtool::FileFormat detected = zrxtool::detectFileFormat(file.get());
  if (format) *format = detected;
  if (size) *size = file->size();
  if (detected == zrxtool::FileFormat::Unknown) {
    meter.clear();
    if (const char* encoding = zrxtool::otherByteOrderMark(file.get()))
      std::fprintf(stderr,
                   "%s: not a ZRX document: text in %s (by its byte order mark); JSON is "
                   "read as UTF-8 only\n",
                   path.c_str(), encoding);
    else
      std::fprintf(stderr, "%s: not a ZRX document (neither ZRT text, ZRB binary nor JSON)\n",
                   path.c_str());
    return false;
  }
  return zrxtool::readDocumentFile(file.get(), detected, document, link);
}

void printCount(const char* label, uint64_t count) {
  std::printf("  %-21s %llu\n", label, static_cast<unsigned long long>(count));
}

void printArrays(const char* label, uint64_t arrays, uint64_t elements) {
  std::printf("  %-21s %llu (%llu elements)\n", label, static_cast<unsigned long long>(arrays),
              static_cast<unsigned long long>(elements));
}

int info(const std::vector<std::string>& files) {
  int status = kOk;
  bool first = true;
  for (const std::string& path : files) {
    zrxtool::ToolDocument document;
    zrxtool::FileFormat format = zrxtool::FileFormat::Unknown;
    int64_t size = 0;
    if (!readFile(path, document, false, &format, &size)) {
      status = kFailed;
      continue;
    }
    if (!first) std::printf("\n");
    first = false;
    const zrxtool::TreeCounts c = zrxtool::countTree(document);
    std::printf("%s\n", path.c_str());
    std::printf("  %-21s %s\n", "format:", zrxtool::fileFormatName(format));
    std::printf("  %-21s %u\n", "version:", static_cast<unsigned>(document.version()));
    std::printf("  %-21s %s\n", "encoding:", zrxtool::printable(document.encoding()).c_str());
    std::printf("  %-21s %lld bytes\n", "file size:", static_cast<long long>(size));
    std::printf("  %-21s %zu %s\n", "metadata:", document.metadata().size(),
                document.metadata().size() == 1 ? "entry" : "entries");
    for (const std::string& key : document.orderedMetadataKeys())
      std::printf("    %s = %s\n", zrxtool::printable(key).c_str(),
                  zrxtool::describeValue(document.metadata().at(key)).c_str());
    printCount("top-level structures:", document.structures().size());
    printCount("structures:", c.structures);
    printCount("lists:", c.lists);
    printCount("raw text blocks:", c.rawTexts);
    printArrays("integer arrays:", c.integerArrays, c.integerElements);
    printArrays("real arrays:", c.realArrays, c.realElements);
    printCount("IDs:", c.ids);
    printCount("ID references:", c.references);
    printCount("deepest nesting:", static_cast<uint64_t>(c.deepest));
  }
  return status;
}

int check(const std::vector<std::string>& files) {
  int status = kOk;
  for (const std::string& path : files) {
    zrxtool::ToolDocument document;
    if (readFile(path, document, true)) {
      std::printf("%s: ok\n", path.c_str());
    } else {
      status = kFailed;
    }
  }
  return status;
}

// A folder to write OUT into must exist, and OUT must not be a folder; one line otherwise.
bool writablePlace(const std::string& out) {
  std::error_code error;
  const std::filesystem::path path(out);
  if (std::filesystem::is_directory(path, error)) {
    std::fprintf(stderr, "%s: is a folder\n", out.c_str());
    return false;
  }
  const std::filesystem::path folder = path.parent_path();
  if (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
    std::fprintf(stderr, "%s: no such folder '%s'\n", out.c_str(), folder.string().c_str());
    return false;
  }
  return true;
}

int convert(const Arguments& args) {
  if (args.operands.size() != 2) return usageError("convert needs IN and OUT");
  const std::string& in = args.operands[0];
  const std::string& out = args.operands[1];
  using zrxtool::FileFormat;
  const FileFormat target = args.to == "zrt"    ? FileFormat::ZRT
                            : args.to == "zrb"  ? FileFormat::ZRB
                            : args.to == "json" ? FileFormat::JSON
                                                : zrxtool::formatFromExtension(out);
  if (target == FileFormat::Unknown)
    return usageError("convert: cannot tell the format of '" + out + "'; use --to zrt|zrb|json");
  if (args.sixDecimals && target != FileFormat::ZRT)
    return usageError("convert: --six-decimals applies to ZRT output only");

  // The tree is written as read, references as references, so a structure stays where the file
  // has it; the references are verified as linking would.
  zrxtool::ToolDocument document;
  if (!readFile(in, document, false)) return kFailed;
  if (!zrxtool::verifyLinks(document)) return kFailed;
  if (!writablePlace(out)) return kFailed;
  zr::ref<zr::DiskFile> file = new zr::DiskFile(zr::String(out));
  zrX::WriteOptions options;
  options.sixDecimalReals = args.sixDecimals;
  const zrX::WriteResult result = zrxtool::writeDocumentFile(file.get(), target, document, options);
  if (result.status == zrX::WriteStatus::Refused) {
    std::fprintf(stderr, "%s: cannot be written as %s: %s\n", in.c_str(),
                 zrxtool::fileFormatName(target), result.message.c_str());
  } else if (result.status == zrX::WriteStatus::WriteError) {
    std::fprintf(stderr, "%s: writing failed: %s\n", out.c_str(), result.message.c_str());
  }
  return result.ok() ? kOk : kFailed;
}

// Standard output as a write-only file: the text writer hands it the whole document in one write.
class StandardOutput : public zr::VirtualFile {
 public:
  StandardOutput() : VirtualFile(zr::String("standard output")) {}
  bool open(EOpenMode mode) override {
    mOpen = mode == WriteOnly;
    return mOpen;
  }
  bool isOpen() const override { return mOpen; }
  bool close() override {
    mOpen = false;
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
  }
  int64_t read(void*, int64_t) override { return 0; }
  int64_t write(const void* data, int64_t count) override {
    if (!mOpen || count <= 0) return 0;
    const size_t written = std::fwrite(data, 1, static_cast<size_t>(count), stdout);
    mWritten += static_cast<int64_t>(written);
    return static_cast<int64_t>(written);
  }
  int64_t position() const override { return mWritten; }
  int64_t size() const override { return mWritten; }

 private:
  bool mOpen = false;
  int64_t mWritten = 0;
};

int dump(const Arguments& args) {
  const std::vector<std::string>& files = args.operands;
  if (files.size() != 1) return usageError("dump takes exactly one FILE");
  zrxtool::ToolDocument document;
  if (!readFile(files[0], document, false)) return kFailed;
  zr::ref<StandardOutput> output = new StandardOutput;
  zrX::WriteOptions options;
  options.sixDecimalReals = args.sixDecimals;
  const zrX::WriteResult result =
      zrxtool::writeDocumentFile(output.get(), zrxtool::FileFormat::ZRT, document, options);
  if (result.status == zrX::WriteStatus::Refused) {
    // What only the text writer refuses (a NaN, a NUL byte, a name outside its rules), the other
    // formats hold.
    const bool othersHoldIt = result.message.rfind("VisitorExportToZRT: ", 0) == 0;
    std::fprintf(
        stderr, "%s: cannot be written as ZRT: %s%s\n", files[0].c_str(), result.message.c_str(),
        othersHoldIt ? " ZRB and JSON hold it: zrx convert FILE OUT --to json (or zrb)" : "");
  }
  // A write that standard output refused is reported by main, once.
  return result.ok() ? kOk : kFailed;
}

int diff(const Arguments& args) {
  if (args.operands.size() != 2) return usageError("diff needs A and B");
  // A document that cannot be read is trouble, not a difference: status 2, as diff(1) has it.
  zrxtool::ToolDocument a, b;
  if (!readFile(args.operands[0], a, true) || !readFile(args.operands[1], b, true)) return kUsage;
  const uint64_t count = zrxtool::diffDocuments(
      a, b, args.diff, [](const std::string& line) { std::printf("%s\n", line.c_str()); });
  const uint64_t shown = args.diff.maxLines;
  if (shown != 0 && count > shown)
    std::printf("... and %llu more difference%s\n", static_cast<unsigned long long>(count - shown),
                count - shown == 1 ? "" : "s");
  return count == 0 ? kOk : kFailed;
}

const char* helpOf(const std::string& command) {
  if (command == "info") return kInfoHelp;
  if (command == "check") return kCheckHelp;
  if (command == "convert") return kConvertHelp;
  if (command == "dump") return kDumpHelp;
  if (command == "diff") return kDiffHelp;
  return nullptr;
}

int run(int argc, char** argv) {
  if (argc < 2) return usageError("no command given");
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--version" && args.empty()) {
    std::printf("zrx %s\n", ZRX_VERSION);
    return kOk;
  }
  if (command == "--help" || command == "-h" || command == "help") {
    if (args.empty()) {
      std::fputs(kUsageText, stdout);
      return kOk;
    }
    const char* help = helpOf(args[0]);
    if (!help || args.size() > 1)
      return usageError("help takes one of: info check convert dump diff");
    std::fputs(help, stdout);
    return kOk;
  }
  const char* help = helpOf(command);
  if (!help) {
    if (command.size() > 1 && command[0] == '-')
      return usageError("unknown option '" + command + "'");
    return usageError("unknown command '" + command + "'");
  }

  Arguments parsed;
  if (const int status = parseArguments(command, args, parsed)) return status;
  if (parsed.help) {
    std::fputs(help, stdout);
    return kOk;
  }
  zr::Log::setSink(logToStderr);
  if (command == "convert") return convert(parsed);
  if (command == "diff") return diff(parsed);
  if (parsed.operands.empty()) return usageError(command + " needs a FILE");
  if (command == "info") return info(parsed.operands);
  if (command == "check") return check(parsed.operands);
  return dump(parsed);
}

}  // namespace

int main(int argc, char** argv) {
  int status = run(argc, argv);
  // Output that did not reach its destination (a full disk, a closed pipe) is a failure too.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "zrx: cannot write to standard output\n");
    if (status == kOk) status = kFailed;
  }
  return status;
}
