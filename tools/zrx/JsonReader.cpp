#include "JsonReader.hpp"

#include <charconv>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "JsonSource.hpp"
#include "Text.hpp"

namespace zrxtool {

namespace {

using zrX::ZRXValue;

// Bytes outside printable ASCII as "\xNN", for quoting what the parser read.
std::string asciiText(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

// The members of the top-level object and of value objects. A value object has exactly one kind
// member; "tag" goes with the node kinds, "id" with structures.
enum Member {
  None,
  Zrx,
  Metadata,
  Structures,
  Tag,
  Id,
  StructureKind,
  ListKind,
  IntegersKind,
  RealsKind,
  RawtextKind,
  IdentifierKind,
  RefKind,
  Base64Kind,
  RealKind,
};
const char* const kMemberNames[] = {"",        "zrx",        "metadata", "structures", "tag",
                                    "id",      "structure",  "list",     "integers",   "reals",
                                    "rawtext", "identifier", "ref",      "base64",     "real"};
bool isKind(int member) { return member >= StructureKind; }
bool takesText(int member) {
  return member == Tag || member == Id || member == RawtextKind || member == IdentifierKind ||
         member == RefKind;
}

const char* const kEntryShape = "an entry is an array [KEY, VALUE]";
const char* const kKeyShape = "a key is a string or {\"base64\": \"...\"}";
const char* const kNotAValue =
    "a JSON array is not a ZRX value (a list is {\"list\": [...]}, arrays are {\"integers\": "
    "[...]} and {\"reals\": [...]})";
const char* const kRealsShape =
    "a real array holds numbers and the texts \"NaN\", \"Infinity\", \"-Infinity\" or \"0x\" "
    "with 16 hex digits";

// What the value of a member must be, for the message when it is something else.
std::string topShape(int member) {
  if (member == Zrx) return "\"zrx\" takes the number 101";
  if (member == Metadata) return "\"metadata\" takes an array of [KEY, VALUE] entries";
  return "\"structures\" takes an array of structures";
}
std::string memberShape(int member) {
  const std::string name = std::string("\"") + kMemberNames[member] + "\"";
  switch (member) {
    case StructureKind:
      return name + " takes an array of [KEY, VALUE] entries";
    case ListKind:
      return name + " takes an array of values";
    case IntegersKind:
    case RealsKind:
      return name + " takes an array of numbers";
    case Base64Kind:
      return name + " takes a string in base64";
    case RealKind:
      return name + " takes \"NaN\", \"Infinity\", \"-Infinity\" or \"0x\" with 16 hex digits";
    default:
      return name + " takes a text: a string or {\"base64\": \"...\"}";
  }
}

constexpr uint64_t kCanonicalNaN = 0x7FF8000000000000ull;
constexpr int64_t kExactIntegers = int64_t{1} << 53;  // every integer up to this is a double

// "NaN", "Infinity", "-Infinity", or "0x" and 16 hex digits giving a double's bits.
bool realFromToken(const std::string& token, double* value) {
  uint64_t bits = 0;
  if (token == "NaN") {
    bits = kCanonicalNaN;
  } else if (token == "Infinity" || token == "-Infinity") {
    *value = token[0] == '-' ? -std::numeric_limits<double>::infinity()
                             : std::numeric_limits<double>::infinity();
    return true;
  } else if (token.size() == 18 && token[0] == '0' && token[1] == 'x') {
    const char* end = token.data() + token.size();
    const auto result = std::from_chars(token.data() + 2, end, bits, 16);
    if (result.ec != std::errc() || result.ptr != end || token[2] == '+' || token[2] == '-')
      return false;
  } else {
    return false;
  }
  std::memcpy(value, &bits, sizeof bits);
  return true;
}

// One scalar of the JSON text, as the parser reports it.
struct Scalar {
  enum Type { Null, Bool, Integer, Real, String, BigInteger, BigReal } type = Null;
  bool boolean = false;
  int64_t integer = 0;
  double real = 0;
  std::string* text = nullptr;       // String (which may be moved from)
  const std::string* raw = nullptr;  // the number's text for BigInteger and BigReal
};

class Handler {
 public:
  Handler(ToolDocument& document, JsonSource& source, int maxDepth)
      : mDocument(document), mSource(source), mMaxDepth(maxDepth) {}

  const std::string& error() const { return mError; }
  bool complete() const { return mComplete; }

  // The SAX interface of nlohmann::json.
  bool null() { return scalar(Scalar{}); }
  bool boolean(bool value) {
    Scalar s;
    s.type = Scalar::Bool;
    s.boolean = value;
    return scalar(s);
  }
  bool number_integer(int64_t value) {
    Scalar s;
    s.type = Scalar::Integer;
    s.integer = value;
    return scalar(s);
  }
  bool number_unsigned(uint64_t value) {
    Scalar s;
    const std::string digits = std::to_string(value);
    if (value <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      s.type = Scalar::Integer;
      s.integer = static_cast<int64_t>(value);
    } else {
      s.type = Scalar::BigInteger;
      s.raw = &digits;
    }
    return scalar(s);
  }
  bool number_float(double, const std::string& raw) {
    // The number is converted again from its text: exactly, whatever the process locale.
    Scalar s;
    s.raw = &raw;
    if (raw.find_first_of(".eE") == std::string::npos) {
      s.type = Scalar::BigInteger;  // an integer beyond 64 bits
    } else {
      const char* end = raw.data() + raw.size();
      const auto result = std::from_chars(raw.data(), end, s.real);
      s.type = result.ec == std::errc() && result.ptr == end ? Scalar::Real : Scalar::BigReal;
    }
    return scalar(s);
  }
  bool string(std::string& value) {
    Scalar s;
    s.type = Scalar::String;
    s.text = &value;
    return scalar(s);
  }
  bool binary(nlohmann::json::binary_t&) { return fail("binary values are not JSON"); }
  bool start_object(size_t);
  bool key(std::string& name);
  bool end_object();
  bool start_array(size_t);
  bool end_array();
  bool parse_error(size_t position, const std::string& lastToken,
                   const nlohmann::detail::exception& error);

 private:
  enum class Kind {
    Top,
    Metadata,
    Structures,
    Entry,
    Object,
    Text,
    Entries,
    List,
    Integers,
    Reals
  };

  struct Frame {
    Kind kind;
    int member = None;  // Top, Object, Text: the member whose value comes next
    unsigned seen = 0;  // Top, Object, Text: the members met, one bit each
    // Entry: the slot that comes next (0 the key, 1 the value, 2 the end), the key and the value.
    int slot = 0;
    std::string key;
    ZRXValue value;
    // Object: the kind member, the texts given, the real, the node being filled.
    int kindMember = None;
    std::string tag, id, payload;
    double real = 0;
    zr::ref<zrX::ZRXTaggedValue> node;
    // Entries, List, Integers, Reals: the node they fill (held by the Object frame below).
    zrX::ZRXTaggedValue* target = nullptr;

    explicit Frame(Kind k) : kind(k) {}
  };

  Frame& top() { return mStack.back(); }

  // Records the first failure, with the place the reader has reached; always false.
  bool fail(const std::string& message) {
    if (mError.empty()) {
      const uint64_t consumed = mSource.consumed();
      mError = mSource.place(consumed ? consumed - 1 : 0) + ": " + message;
    }
    return false;
  }
  static std::string quoted(const std::string& text) { return '"' + safeText(text, 40) + '"'; }

  bool scalar(const Scalar& s);
  bool makeValue(const Scalar& s, ZRXValue* value);
  bool objectText(Frame& frame, std::string&& text);
  bool deliverText(std::string&& text);
  bool deliverValue(ZRXValue&& value);
  bool pushObject() {
    mStack.emplace_back(Kind::Object);
    return true;
  }
  bool pushText() {
    mStack.emplace_back(Kind::Text);
    return true;
  }
  bool enterLevel() {
    if (++mDepth <= mMaxDepth) return true;
    return fail("nesting deeper than " + std::to_string(mMaxDepth) +
                " levels of structures and lists");
  }
  bool finishObject(Frame& frame);

  ToolDocument& mDocument;
  JsonSource& mSource;
  int mMaxDepth;
  int mDepth = 0;
  bool mComplete = false;
  std::vector<Frame> mStack;
  std::string mError;
};

bool Handler::makeValue(const Scalar& s, ZRXValue* value) {
  switch (s.type) {
    case Scalar::Null:
      return fail("null is not a ZRX value");
    case Scalar::Bool:
      value->setBool(s.boolean);
      return true;
    case Scalar::Integer:
      value->setInteger(s.integer);
      return true;
    case Scalar::Real:
      value->setReal(s.real);
      return true;
    case Scalar::String:
      value->setString(std::move(*s.text));
      return true;
    case Scalar::BigInteger:
      return fail("integer " + safeText(*s.raw) + " is out of the 64-bit range");
    case Scalar::BigReal:
      return fail("real " + safeText(*s.raw) + " is out of the range of doubles");
  }
  return false;
}

bool Handler::scalar(const Scalar& s) {
  if (mStack.empty()) return fail("a ZRX JSON document is an object {\"zrx\": 101, ...}");
  Frame& frame = top();
  switch (frame.kind) {
    case Kind::Top:
      if (frame.member != Zrx || s.type != Scalar::Integer) return fail(topShape(frame.member));
      if (s.integer != zrX::kFormatVersion)
        return fail("ZRX version " + std::to_string(s.integer) + " is not supported (101 is)");
      frame.member = None;
      return true;
    case Kind::Metadata:
    case Kind::Entries:
      return fail(kEntryShape);
    case Kind::Structures:
      return fail("a top-level value must be a structure");
    case Kind::Entry:
      if (frame.slot == 0) {
        if (s.type != Scalar::String) return fail(kKeyShape);
        frame.key = std::move(*s.text);
        frame.slot = 1;
        return true;
      }
      if (frame.slot != 1) return fail(kEntryShape);
      if (!makeValue(s, &frame.value)) return false;
      frame.slot = 2;
      return true;
    case Kind::List: {
      ZRXValue value;
      if (!makeValue(s, &value)) return false;
      static_cast<zrX::ZRXList*>(frame.target)->value().push_back(std::move(value));
      return true;
    }
    case Kind::Object:
      if (s.type != Scalar::String) return fail(memberShape(frame.member));
      if (takesText(frame.member)) return objectText(frame, std::move(*s.text));
      if ((frame.member == Base64Kind && !base64Decode(*s.text, &frame.payload)) ||
          (frame.member == RealKind && !realFromToken(*s.text, &frame.real)) ||
          (frame.member != Base64Kind && frame.member != RealKind))
        return fail(memberShape(frame.member));
      frame.member = None;
      return true;
    case Kind::Text:
      if (s.type != Scalar::String || !base64Decode(*s.text, &frame.payload))
        return fail(memberShape(Base64Kind));
      frame.member = None;
      return true;
    case Kind::Integers:
      if (s.type != Scalar::Integer) {
        if (s.type == Scalar::BigInteger) return makeValue(s, nullptr);
        return fail("an integer array holds integers only");
      }
      static_cast<zrX::ZRXArrayInteger*>(frame.target)->value().push_back(s.integer);
      return true;
    case Kind::Reals: {
      double real = s.real;
      if (s.type == Scalar::Integer) {
        if (s.integer < -kExactIntegers || s.integer > kExactIntegers)
          return fail("integer " + std::to_string(s.integer) +
                      " in a real array has no exact real; write it as a real");
        real = static_cast<double>(s.integer);
      } else if (s.type == Scalar::String) {
        if (!realFromToken(*s.text, &real)) return fail(kRealsShape);
      } else if (s.type == Scalar::BigReal || s.type == Scalar::BigInteger) {
        return makeValue(s, nullptr);
      } else if (s.type != Scalar::Real) {
        return fail(kRealsShape);
      }
      static_cast<zrX::ZRXArrayReal*>(frame.target)->value().push_back(real);
      return true;
    }
  }
  return false;
}

bool Handler::objectText(Frame& frame, std::string&& text) {
  switch (frame.member) {
    case Tag:
      frame.tag = std::move(text);
      break;
    case Id:
      frame.id = std::move(text);
      break;
    default:
      frame.payload = std::move(text);
      break;
  }
  frame.member = None;
  return true;
}

bool Handler::deliverText(std::string&& text) {
  Frame& frame = top();
  if (frame.kind == Kind::Entry) {
    frame.key = std::move(text);
    frame.slot = 1;
    return true;
  }
  return objectText(frame, std::move(text));
}

bool Handler::deliverValue(ZRXValue&& value) {
  Frame& frame = top();
  switch (frame.kind) {
    case Kind::Entry:
      frame.value = std::move(value);
      frame.slot = 2;
      return true;
    case Kind::List:
      static_cast<zrX::ZRXList*>(frame.target)->value().push_back(std::move(value));
      return true;
    case Kind::Structures:
      if (value.type() != ZRXValue::Structure) return fail("a top-level value must be a structure");
      mDocument.structures().emplace_back(value.getStructure());
      return true;
    default:
      return false;  // the parser's grammar leaves no other place for a value
  }
}

bool Handler::start_object(size_t) {
  if (mStack.empty()) {
    mStack.emplace_back(Kind::Top);
    return true;
  }
  Frame& frame = top();
  switch (frame.kind) {
    case Kind::Top:
      return fail(topShape(frame.member));
    case Kind::Entry:
      if (frame.slot == 0) return pushText();
      if (frame.slot == 1) return pushObject();
      return fail(kEntryShape);
    case Kind::List:
      return pushObject();
    case Kind::Structures:
      return pushObject();
    case Kind::Object:
      if (takesText(frame.member)) return pushText();
      return fail(memberShape(frame.member));
    case Kind::Metadata:
    case Kind::Entries:
      return fail(kEntryShape);
    case Kind::Integers:
      return fail("an integer array holds integers only");
    case Kind::Reals:
      return fail(kRealsShape);
    case Kind::Text:
      return fail(memberShape(Base64Kind));
  }
  return false;
}

bool Handler::key(std::string& name) {
  Frame& frame = top();
  int member = None;
  if (frame.kind == Kind::Top) {
    for (int m : {Zrx, Metadata, Structures})
      if (name == kMemberNames[m]) member = m;
    if (member == None)
      return fail("unknown member " + quoted(name) +
                  " (a document has \"zrx\", \"metadata\" and \"structures\")");
  } else if (frame.kind == Kind::Text) {
    if (name != "base64")
      return fail("unknown member " + quoted(name) + " (a text object is {\"base64\": \"...\"})");
    member = Base64Kind;
  } else {
    for (int m = Tag; m <= RealKind; ++m)
      if (name == kMemberNames[m]) member = m;
    if (member == None)
      return fail("unknown member " + quoted(name) +
                  " (a value object has one of \"structure\", \"list\", \"integers\", "
                  "\"reals\", \"rawtext\", \"identifier\", \"ref\", \"base64\", \"real\", and "
                  "\"tag\", \"id\")");
    if (isKind(member) && frame.kindMember != None && frame.kindMember != member)
      return fail("a value object holds one value, not both " +
                  quoted(kMemberNames[frame.kindMember]) + " and " + quoted(name));
    if (isKind(member)) frame.kindMember = member;
  }
  if (frame.seen & (1u << member)) return fail("member " + quoted(name) + " is given twice");
  frame.seen |= 1u << member;
  frame.member = member;
  return true;
}

bool Handler::start_array(size_t) {
  if (mStack.empty()) return fail("a ZRX JSON document is an object {\"zrx\": 101, ...}");
  Frame& frame = top();
  switch (frame.kind) {
    case Kind::Top:
      if (frame.member == Metadata) {
        mStack.emplace_back(Kind::Metadata);
        return enterLevel();  // the metadata block is a top-level structure
      }
      if (frame.member == Structures) {
        mStack.emplace_back(Kind::Structures);
        return true;
      }
      return fail(topShape(frame.member));
    case Kind::Metadata:
    case Kind::Entries:
      mStack.emplace_back(Kind::Entry);
      return true;
    case Kind::Entry:
      return fail(frame.slot == 0 ? kKeyShape : frame.slot == 1 ? kNotAValue : kEntryShape);
    case Kind::List:
      return fail(kNotAValue);
    case Kind::Structures:
      return fail("a top-level value must be a structure");
    case Kind::Object: {
      Kind kind = Kind::Entries;
      switch (frame.member) {
        case StructureKind:
          frame.node = new zrX::ZRXStructure(nullptr, 0);
          break;
        case ListKind:
          frame.node = new zrX::ZRXList(nullptr, 0);
          kind = Kind::List;
          break;
        case IntegersKind:
          frame.node = new zrX::ZRXArrayInteger;
          kind = Kind::Integers;
          break;
        case RealsKind:
          frame.node = new zrX::ZRXArrayReal;
          kind = Kind::Reals;
          break;
        default:
          return fail(memberShape(frame.member));
      }
      zrX::ZRXTaggedValue* target = frame.node.get();
      mStack.emplace_back(kind);  // `frame` is not used after this
      top().target = target;
      return kind == Kind::Entries || kind == Kind::List ? enterLevel() : true;
    }
    case Kind::Text:
      return fail(memberShape(Base64Kind));
    case Kind::Integers:
      return fail("an integer array holds integers only");
    case Kind::Reals:
      return fail(kRealsShape);
  }
  return false;
}

bool Handler::end_array() {
  Frame frame = std::move(top());
  mStack.pop_back();
  switch (frame.kind) {
    case Kind::Metadata:
      --mDepth;
      top().member = None;
      return true;
    case Kind::Structures:
      top().member = None;
      return true;
    case Kind::Entry: {
      if (frame.slot != 2) return fail(kEntryShape);
      Frame& parent = top();
      if (parent.kind == Kind::Metadata) {
        if (mDocument.metadata().count(frame.key))
          return fail("metadata key " + quoted(frame.key) + " is given twice");
        mDocument.metadataOrder().push_back(frame.key);
        mDocument.metadata()[frame.key] = std::move(frame.value);
        return true;
      }
      auto& entries = static_cast<zrX::ZRXStructure*>(parent.target)->value();
      entries.emplace_back();
      entries.back().setKey(frame.key);
      entries.back().value() = std::move(frame.value);
      return true;
    }
    case Kind::Entries:
    case Kind::List:
      --mDepth;
      top().member = None;
      return true;
    case Kind::Integers:
    case Kind::Reals:
      top().member = None;
      return true;
    default:
      return false;
  }
}

bool Handler::finishObject(Frame& frame) {
  const int kind = frame.kindMember;
  if (kind == None)
    return fail(
        "a value object names its kind: one of \"structure\", \"list\", \"integers\", \"reals\", "
        "\"rawtext\", \"identifier\", \"ref\", \"base64\", \"real\"");
  if ((frame.seen & (1u << Tag)) &&
      (kind == IdentifierKind || kind == RefKind || kind == Base64Kind || kind == RealKind))
    return fail("\"tag\" does not go with " + quoted(kMemberNames[kind]));
  if ((frame.seen & (1u << Id)) && kind != StructureKind)
    return fail("\"id\" belongs to structures only");
  ZRXValue value;
  switch (kind) {
    case StructureKind: {
      auto* structure = static_cast<zrX::ZRXStructure*>(frame.node.get());
      structure->setTag(frame.tag);
      structure->setID(frame.seen & (1u << Id) ? frame.id : std::string("#NULL"));
      value.setStructure(structure);
      break;
    }
    case ListKind:
      frame.node->setTag(frame.tag);
      value.setList(static_cast<zrX::ZRXList*>(frame.node.get()));
      break;
    case IntegersKind:
    case RealsKind:
      frame.node->setTag(frame.tag);
      value.setArray(static_cast<zrX::ZRXArray*>(frame.node.get()));
      break;
    case RawtextKind: {
      zr::ref<zrX::ZRXRawtextBlock> block = new zrX::ZRXRawtextBlock;
      block->setTag(frame.tag);
      block->setValue(frame.payload);
      value.setRawtextBlock(block.get());
      break;
    }
    case IdentifierKind:
      value.setIdentifier(frame.payload);
      break;
    case RefKind:
      value.setID(frame.payload);
      break;
    case Base64Kind:
      value.setString(frame.payload);
      break;
    case RealKind:
      value.setReal(frame.real);
      break;
  }
  return deliverValue(std::move(value));
}

bool Handler::end_object() {
  Frame frame = std::move(top());
  mStack.pop_back();
  switch (frame.kind) {
    case Kind::Top:
      if (!(frame.seen & (1u << Zrx)))
        return fail("not a ZRX JSON document: \"zrx\": 101 is missing");
      mComplete = true;
      return true;
    case Kind::Text:
      if (!(frame.seen & (1u << Base64Kind))) return fail("a text object is {\"base64\": \"...\"}");
      return deliverText(std::move(frame.payload));
    case Kind::Object:
      return finishObject(frame);
    default:
      return false;
  }
}

bool Handler::parse_error(size_t position, const std::string& lastToken,
                          const nlohmann::detail::exception& error) {
  // nlohmann's text is "[json.exception.parse_error.101] parse error at line 1, column 7: syntax
  // error while parsing value - invalid literal; last read: 'x'". The place is given again in the
  // tool's own terms, and the token read last (any bytes, any length) is quoted by its end, where
  // the parser stopped.
  std::string message = error.what();
  if (message.rfind("[json.exception.", 0) == 0 && message.find("] ") != std::string::npos)
    message = message.substr(message.find("] ") + 2);
  if (message.rfind("parse error", 0) == 0 && message.find(": ") != std::string::npos)
    message = message.substr(message.find(": ") + 2);
  std::string shown = message;
  const size_t token = lastToken.empty() ? std::string::npos : message.rfind(lastToken);
  if (token != std::string::npos) {
    const size_t keep = 40;
    const std::string tail = lastToken.size() > keep
                                 ? "..." + asciiText(lastToken.substr(lastToken.size() - keep))
                                 : asciiText(lastToken);
    shown = asciiText(message.substr(0, token)) + tail +
            asciiText(message.substr(token + lastToken.size()));
  } else {
    shown = asciiText(message.substr(0, 200));
  }
  if (mError.empty()) {
    // `position` counts the bytes read, the one that failed included.
    mError = mSource.place(position ? position - 1 : 0) + ": " + shown;
  }
  return false;
}

}  // namespace

bool readJsonDocument(zr::VirtualFile* file, ToolDocument& document, int maxDepth) {
  ZR_CHECK(file);
  JsonSource source(file);
  if (!source.opened()) {
    zr::Log::error("cannot be read\n");
    return false;
  }
  document.metadata().clear();
  document.metadataOrder().clear();
  // What "zrx": 101 says; JSON text is UTF-8. A byte order mark before it is skipped, and `info`
  // says so.
  document.setHeader(zrX::kFormatVersion, source.startsWithByteOrderMark()
                                              ? "UTF-8 (byte order mark skipped)"
                                              : "UTF-8");
  Handler handler(document, source, maxDepth);
  const bool parsed = nlohmann::json::sax_parse(SourceIterator(&source), SourceIterator(), &handler,
                                                nlohmann::json::input_format_t::json, true, false);
  if (source.readFailed()) {
    zr::Log::error("read error at offset " + std::to_string(source.consumed()) + "\n");
    return false;
  }
  if (!parsed || !handler.complete()) {
    zr::Log::error(
        (handler.error().empty() ? std::string("not a ZRX JSON document") : handler.error()) +
        "\n");
    return false;
  }
  return true;
}

}  // namespace zrxtool
