// zrx: inspect, check and convert ZRX documents (ZRT text and ZRB binary) at the document level,
// without class wrappers. `zrx --help` lists the commands.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Inspect.hpp"
#include "zrX/zrX.hpp"

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;  // a document is bad, or could not be written
constexpr int kUsage = 2;   // the command line is wrong

const char* const kUsageText =
    "zrx - inspect, check and convert ZRX documents (ZRT text, ZRB binary)\n"
    "\n"
    "Usage:\n"
    "  zrx info FILE...                  format, header, metadata and counts of each document\n"
    "  zrx check FILE...                 parse and link each document: \"FILE: ok\" or its errors\n"
    "  zrx convert IN OUT [--to zrt|zrb] write IN's tree in the format of OUT's extension\n"
    "  zrx dump FILE                     print the document as ZRT text\n"
    "  zrx COMMAND --help                help on one command\n"
    "\n"
    "Exit status: 0 when everything succeeded, 1 when a document is bad or could not be\n"
    "written, 2 for a wrong command line.\n";

const char* const kInfoHelp =
    "Usage: zrx info FILE...\n"
    "Prints, for each document: its format (from the first bytes), the header's version and\n"
    "encoding, the file size, the metadata entries, and counts of top-level structures,\n"
    "structures, lists, raw text blocks, integer and real arrays with their elements, IDs, ID\n"
    "references and the deepest nesting. The metadata block is not counted as a structure.\n";

const char* const kCheckHelp =
    "Usage: zrx check FILE...\n"
    "Parses and links each document. Prints \"FILE: ok\" for a good one; for a bad one, the\n"
    "library's messages on standard error (line numbers for text, byte offsets for binary).\n"
    "The exit status is 0 only when every file is good.\n";

const char* const kConvertHelp =
    "Usage: zrx convert IN OUT [--to zrt|zrb]\n"
    "Reads IN in either format and writes the same tree (the same IDs and sharing, the\n"
    "metadata block first) to OUT, in the format named by --to or by OUT's extension (.zrt or\n"
    ".zrb). A tree the target format cannot hold is refused with the writer's message, and OUT\n"
    "is left untouched, as it is when writing fails.\n";

const char* const kDumpHelp =
    "Usage: zrx dump FILE\n"
    "Prints the document, whatever its format, as ZRT text on standard output.\n";

// The file being worked on, named in front of every library message.
std::string gCurrentFile;

void logToStderr(zr::Log::Level level, const std::string& message) {
  std::string text = message;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  std::fprintf(stderr, "%s: %s%s\n", gCurrentFile.c_str(),
               level == zr::Log::Level::Warning ? "warning: " : "", text.c_str());
}

int usageError(const std::string& message) {
  std::fprintf(stderr, "zrx: %s (see 'zrx --help')\n", message.c_str());
  return kUsage;
}

bool wantsHelp(const std::vector<std::string>& args) {
  for (const std::string& a : args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

// Reads `path` into `document`; prints one line and returns false when it is missing, not a ZRX
// document, or bad (the library's messages are printed through the log sink).
bool readFile(const std::string& path, zrX::Document& document, bool link,
              zrX::Format* format = nullptr, int64_t* size = nullptr) {
  gCurrentFile = path;
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    std::fprintf(stderr, "%s: no such file\n", path.c_str());
    return false;
  }
  if (!std::filesystem::is_regular_file(path, error)) {
    std::fprintf(stderr, "%s: not a regular file\n", path.c_str());
    return false;
  }
  if (std::FILE* probe = std::fopen(path.c_str(), "rb")) {
    std::fclose(probe);
  } else {
    std::fprintf(stderr, "%s: cannot be read: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  zr::ref<zr::VirtualFile> file = zr::locateFile(zr::String(path));
  const zrX::Format detected = zrX::detectFormat(file.get());
  if (format) *format = detected;
  if (size) *size = file->size();
  if (detected == zrX::Format::Unknown) {
    std::fprintf(stderr, "%s: not a ZRX document (neither ZRT text nor ZRB binary)\n",
                 path.c_str());
    return false;
  }
  zrX::ReadOptions options;
  options.link = link;
  return zrX::readDocument(file.get(), detected, document, options) == zrX::ReadStatus::Ok;
}

int info(const std::vector<std::string>& files) {
  int status = kOk;
  bool first = true;
  for (const std::string& path : files) {
    zrX::Document document;
    zrX::Format format = zrX::Format::Unknown;
    int64_t size = 0;
    if (!readFile(path, document, false, &format, &size)) {
      status = kFailed;
      continue;
    }
    if (!first) std::printf("\n");
    first = false;
    const zrxtool::TreeCounts c = zrxtool::countTree(document);
    std::printf("%s\n", path.c_str());
    std::printf("  format:               %s\n", zrX::formatName(format));
    std::printf("  version:              %u\n", static_cast<unsigned>(document.version()));
    std::printf("  encoding:             %s\n", document.encoding().c_str());
    std::printf("  file size:            %lld bytes\n", static_cast<long long>(size));
    std::printf("  metadata:             %zu entries\n", document.metadata().size());
    for (const auto& [key, value] : document.metadata())
      std::printf("    %s = %s\n", key.c_str(), zrxtool::describeValue(value).c_str());
    std::printf("  top-level structures: %zu\n", document.structures().size());
    std::printf("  structures:           %llu\n", static_cast<unsigned long long>(c.structures));
    std::printf("  lists:                %llu\n", static_cast<unsigned long long>(c.lists));
    std::printf("  raw text blocks:      %llu\n", static_cast<unsigned long long>(c.rawTexts));
    std::printf("  integer arrays:       %llu (%llu elements)\n",
                static_cast<unsigned long long>(c.integerArrays),
                static_cast<unsigned long long>(c.integerElements));
    std::printf("  real arrays:          %llu (%llu elements)\n",
                static_cast<unsigned long long>(c.realArrays),
                static_cast<unsigned long long>(c.realElements));
    std::printf("  IDs:                  %llu\n", static_cast<unsigned long long>(c.ids));
    std::printf("  ID references:        %llu\n", static_cast<unsigned long long>(c.references));
    std::printf("  deepest nesting:      %d\n", c.deepest);
  }
  return status;
}

int check(const std::vector<std::string>& files) {
  int status = kOk;
  for (const std::string& path : files) {
    zrX::Document document;
    if (readFile(path, document, true)) {
      std::printf("%s: ok\n", path.c_str());
    } else {
      status = kFailed;
    }
  }
  return status;
}

// Writes `document` as `format` to `file`; prints the reason and returns false when refused or
// failed.
bool write(zr::VirtualFile* file, zrX::Format format, const zrX::Document& document,
           const std::string& in, const std::string& out) {
  const zrX::WriteResult result = zrX::writeDocument(file, format, document);
  if (result.status == zrX::WriteStatus::Refused) {
    std::fprintf(stderr, "%s: cannot be written as %s: %s\n", in.c_str(), zrX::formatName(format),
                 result.message.c_str());
    return false;
  }
  if (result.status == zrX::WriteStatus::WriteError) {
    std::fprintf(stderr, "%s: writing failed: %s\n", out.c_str(), result.message.c_str());
    return false;
  }
  return true;
}

int convert(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  zrX::Format target = zrX::Format::Unknown;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--to") {
      if (i + 1 >= args.size()) return usageError("convert: --to needs zrt or zrb");
      const std::string& name = args[++i];
      target = name == "zrt" ? zrX::Format::ZRT : name == "zrb" ? zrX::Format::ZRB : target;
      if (target == zrX::Format::Unknown)
        return usageError("convert: --to takes zrt or zrb, not '" + name + "'");
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      return usageError("convert: unknown option '" + args[i] + "'");
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.size() != 2) return usageError("convert needs IN and OUT");
  const std::string& in = files[0];
  const std::string& out = files[1];
  if (target == zrX::Format::Unknown) target = zrX::formatFromExtension(out);
  if (target == zrX::Format::Unknown)
    return usageError("convert: cannot tell the format of '" + out + "'; use --to zrt|zrb");

  // The tree is written as read, references as references; a first, linked read proves that
  // every reference resolves.
  {
    zrX::Document linked;
    if (!readFile(in, linked, true)) return kFailed;
  }
  zrX::Document document;
  if (!readFile(in, document, false)) return kFailed;
  gCurrentFile = out;
  zr::ref<zr::DiskFile> file = new zr::DiskFile(zr::String(out));
  return write(file.get(), target, document, in, out) ? kOk : kFailed;
}

int dump(const std::vector<std::string>& files) {
  if (files.size() != 1) return usageError("dump takes exactly one FILE");
  zrX::Document document;
  if (!readFile(files[0], document, false)) return kFailed;
  zr::ref<zr::MemoryFile> text = new zr::MemoryFile(zr::String("<stdout>"));
  if (!write(text.get(), zrX::Format::ZRT, document, files[0], "standard output")) return kFailed;
  std::fwrite(text->data().data(), 1, text->data().size(), stdout);
  return std::fflush(stdout) == 0 ? kOk : kFailed;
}

// The arguments that name files: anything but options, which are refused.
int filesOnly(const std::string& command, const std::vector<std::string>& args,
              std::vector<std::string>& files) {
  for (const std::string& a : args) {
    if (a.size() > 1 && a[0] == '-') return usageError(command + ": unknown option '" + a + "'");
    files.push_back(a);
  }
  if (files.empty()) return usageError(command + " needs at least one FILE");
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usageError("no command given");
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsageText, stdout);
    return kOk;
  }
  zr::Log::setSink(logToStderr);

  const char* help = command == "info"      ? kInfoHelp
                     : command == "check"   ? kCheckHelp
                     : command == "convert" ? kConvertHelp
                     : command == "dump"    ? kDumpHelp
                                            : nullptr;
  if (!help) return usageError("unknown command '" + command + "'");
  if (wantsHelp(args)) {
    std::fputs(help, stdout);
    return kOk;
  }
  if (command == "convert") return convert(args);
  std::vector<std::string> files;
  if (int status = filesOnly(command, args, files)) return status;
  if (command == "info") return info(files);
  if (command == "check") return check(files);
  return dump(files);
}
