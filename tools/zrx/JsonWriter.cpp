#include "JsonWriter.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "Text.hpp"

namespace zrxtool {

namespace {

using zrX::ZRXValue;

constexpr size_t kFlushSize = 1 << 20;

// The bits of the NaN that "NaN" stands for (what std::nan("") and quiet_NaN() give).
constexpr uint64_t kCanonicalNaN = 0x7FF8000000000000ull;

class JsonWriter {
 public:
  explicit JsonWriter(zr::VirtualFile* file) : mFile(file) {
    mOpen = mFile->open(zr::VirtualFile::WriteOnly);
    mOut.reserve(kFlushSize + 4096);
  }

  zrX::WriteResult write(const ToolDocument& document) {
    zrX::WriteResult result;
    if (!mOpen) {
      result.status = zrX::WriteStatus::WriteError;
      result.message = "cannot open '" + mFile->path().toStdString() + "' for writing";
      return result;
    }
    mOut += "{\n  \"zrx\": 101,\n  \"metadata\": [";
    const std::vector<std::string> keys = document.orderedMetadataKeys();
    for (size_t i = 0; i < keys.size(); ++i) {
      mOut += i ? ",\n    [" : "\n    [";
      text(keys[i]);
      mOut += ", ";
      value(document.metadata().at(keys[i]), 2, true);
      drain();
    }
    mOut += keys.empty() ? "],\n  \"structures\": [" : "\n  ],\n  \"structures\": [";
    const auto& structures = document.structures();
    for (size_t i = 0; i < structures.size(); ++i) {
      mOut += i ? ",\n    " : "\n    ";
      ZRXValue root;
      root.setStructure(structures[i].get());
      value(root, 2, false);
      drain();
    }
    mOut += structures.empty() ? "]\n}\n" : "\n  ]\n}\n";
    flush();
    if (mFailed) {
      mFile->abandon();
      result.status = zrX::WriteStatus::WriteError;
      result.message = "write error at offset " + std::to_string(mWritten);
    } else if (!mFile->close()) {
      result.status = zrX::WriteStatus::WriteError;
      result.message = "the file could not be committed";
    }
    return result;
  }

 private:
  // A structure or list whose elements are being written; `level` is the indentation of the
  // line it opened on.
  struct Frame {
    const zrX::ZRXStructure* structure;
    const zrX::ZRXList* list;
    size_t next;
    int level;
    bool inEntry;  // the node is the value of a [KEY, VALUE] pair, which it closes
  };

  void indent(int level) { mOut.append(static_cast<size_t>(level) * 2, ' '); }

  void text(const std::string& t) {
    if (isUtf8(t)) {
      appendJsonString(mOut, t);
    } else {
      mOut += "{\"base64\": \"";
      mOut += base64Encode(t);
      mOut += "\"}";
    }
  }

  void tag(const zrX::ZRXTaggedValue* node) {
    if (node->tag().empty()) return;
    mOut += "\"tag\": ";
    text(node->tag());
    mOut += ", ";
  }

  void integer(int64_t v) {
    char digits[24];
    mOut.append(digits, std::to_chars(digits, digits + sizeof digits, v).ptr);
  }

  // A real that is not a JSON number: "NaN", "Infinity", "-Infinity", or the bits of any other
  // NaN as "0x" and 16 hex digits.
  static std::string realToken(double v) {
    if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
    uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    if (bits == kCanonicalNaN) return "NaN";
    char hex[17];
    for (int i = 15; i >= 0; --i, bits >>= 4) hex[i] = "0123456789abcdef"[bits & 15];
    return "0x" + std::string(hex, 16);
  }

  void real(double v, bool inArray) {
    if (std::isfinite(v)) {
      mOut += formatReal(v);
    } else if (inArray) {
      mOut += '"' + realToken(v) + '"';
    } else {
      mOut += "{\"real\": \"" + realToken(v) + "\"}";
    }
  }

  // Writes `v` at the current place. A non-empty structure or list only opens here: its frame
  // writes the elements and the close.
  void value(const ZRXValue& v, int level, bool inEntry) {
    const char* close = inEntry ? "]" : "";
    switch (v.type()) {
      case ZRXValue::Bool:
        mOut += v.getBool() ? "true" : "false";
        break;
      case ZRXValue::Integer:
        integer(v.getInteger());
        break;
      case ZRXValue::Real:
        real(v.getReal(), false);
        break;
      case ZRXValue::String:
        text(v.getString());
        break;
      case ZRXValue::Identifier:
        mOut += "{\"identifier\": ";
        text(v.getIdentifier());
        mOut += '}';
        break;
      case ZRXValue::ID:
        mOut += "{\"ref\": ";
        text(v.getID());
        mOut += '}';
        break;
      case ZRXValue::RawtextBlock:
        mOut += '{';
        tag(v.getRawtextBlock());
        mOut += "\"rawtext\": ";
        text(v.getRawtextBlock()->value());
        mOut += '}';
        break;
      case ZRXValue::ArrayInteger: {
        mOut += '{';
        tag(v.getArrayInteger());
        mOut += "\"integers\": [";
        bool first = true;
        for (const int64_t element : v.getArrayInteger()->value()) {
          if (!first) mOut += ", ";
          first = false;
          integer(element);
          if (mOut.size() >= kFlushSize) flush();
        }
        mOut += "]}";
        break;
      }
      case ZRXValue::ArrayReal: {
        mOut += '{';
        tag(v.getArrayReal());
        mOut += "\"reals\": [";
        bool first = true;
        for (const double element : v.getArrayReal()->value()) {
          if (!first) mOut += ", ";
          first = false;
          real(element, true);
          if (mOut.size() >= kFlushSize) flush();
        }
        mOut += "]}";
        break;
      }
      case ZRXValue::List: {
        const zrX::ZRXList* list = v.getList();
        mOut += '{';
        tag(list);
        mOut += "\"list\": [";
        if (list->value().empty()) {
          mOut += "]}";
          break;
        }
        mStack.push_back({nullptr, list, 0, level, inEntry});
        return;  // the frame closes the pair
      }
      case ZRXValue::Structure: {
        const zrX::ZRXStructure* structure = v.getStructure();
        if (!structure) {  // a linked reference to nothing: what it was written as
          mOut += "{\"ref\": \"#NULL\"}";
          break;
        }
        mOut += '{';
        tag(structure);
        if (structure->uid() != "#NULL") {
          mOut += "\"id\": ";
          text(structure->uid());
          mOut += ", ";
        }
        mOut += "\"structure\": [";
        if (structure->value().empty()) {
          mOut += "]}";
          break;
        }
        mStack.push_back({structure, nullptr, 0, level, inEntry});
        return;
      }
    }
    mOut += close;
  }

  // Writes the elements of every open frame, depth first, and closes them.
  void drain() {
    while (!mStack.empty()) {
      if (mOut.size() >= kFlushSize) flush();
      Frame& frame = mStack.back();
      const size_t count =
          frame.structure ? frame.structure->value().size() : frame.list->value().size();
      if (frame.next == count) {
        mOut += '\n';
        indent(frame.level);
        mOut += frame.inEntry ? "]}]" : "]}";
        mStack.pop_back();
        continue;
      }
      const size_t index = frame.next++;
      const int level = frame.level + 1;
      mOut += index ? ",\n" : "\n";
      indent(level);
      if (frame.structure) {
        const zrX::ZRXStructure::KeyValue& entry = frame.structure->value()[index];
        mOut += '[';
        text(entry.key());
        mOut += ", ";
        value(entry.value(), level, true);  // may push a frame: `frame` is not used after this
      } else {
        value(frame.list->value()[index], level, false);
      }
    }
  }

  void flush() {
    if (mOut.empty()) return;
    if (!mFailed) {
      const int64_t size = static_cast<int64_t>(mOut.size());
      const int64_t written = mFile->write(mOut.data(), size);
      if (written > 0) mWritten += written;
      if (written != size) mFailed = true;
    }
    mOut.clear();
  }

  zr::VirtualFile* mFile;
  bool mOpen = false;
  bool mFailed = false;
  int64_t mWritten = 0;
  std::string mOut;
  std::vector<Frame> mStack;
};

}  // namespace

zrX::WriteResult writeJsonDocument(zr::VirtualFile* file, const ToolDocument& document) {
  ZR_CHECK(file);
  JsonWriter writer(file);
  return writer.write(document);
}

}  // namespace zrxtool
