// ZRXSerializer: converts a host's object graph into a tree of ZRXStructure nodes and back,
// through the ClassWrappers of its Registry. It converts nothing itself: for each object or
// structure it calls the registered wrapper, which calls back importZRX / exportZRX for what it
// refers to.
//
// Every converted pair is remembered until reset(), so an object reached twice, or through a
// cycle, is converted once and comes back as the same structure (and a structure as the same
// object). The first failure sets a sticky error that blocks every later conversion until
// reset() or setError(NoError). Besides, it numbers the IDs that wrappers give to structures,
// carries named string options for the wrappers (directives), the document's metadata, and the
// URL of the document being read, against which wrappers resolve "this:" paths.
//
// Ownership: the two conversion maps hold strong references on every object and structure that
// took part in a conversion; importZRX and exportZRX hand out borrowed pointers that stay valid
// until reset() or destruction. Structures of a graph with a cycle refer to each other; reset()
// and destruction break those cycles (breakCycles, Cycles.hpp) among the structures that nobody
// else holds. A caller that keeps a structure beyond that keeps what it reaches intact, and
// breaks its cycles when it drops it. The serializer holds a strong reference on its registry,
// taken from the default registry (ioZRX.hpp) at construction.
//
// Threads: one thread at a time per serializer. Separate serializers may run in parallel while
// the registry and wrappers they share are not changed.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zrCore/Object.hpp"
#include "zrCore/StackGuard.hpp"
#include "zrCore/String.hpp"
#include "zrCore/VirtualFile.hpp"
#include "zrX/Document.hpp"
#include "zrX/Export.hpp"
#include "zrX/Parser.hpp"
#include "zrX/PointerIndex.hpp"
#include "zrX/Registry.hpp"
#include "zrX/RuntimeType.hpp"
#include "zrX/Value.hpp"
#include "zrX/Visitor.hpp"

namespace zrX {

class DeclaredSession;
struct ZRX_API DeclaredSessionDeleter {
  void operator()(DeclaredSession* session) const;
};

// How importValue treats the structure a value names.
struct ImportRule {
  // "#NULL" (a value that names no structure) is allowed and gives null; otherwise refused.
  bool nullable = true;
  // The importing object owns what the value names, alone: refused when another owner took it
  // already (two owners), and when it is still being imported (it would own itself, through
  // whatever it owns). A structure imported before through a shared reference may be owned.
  bool owned = false;
  // The importing object holds what the value names through a strong reference (zr::ref): an
  // import that would close a cycle of such references among the imports under way is refused,
  // since nothing would ever free it. Owned imports always hold.
  bool holds = false;
};

class ZRX_API ZRXSerializer : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  enum EError : int32_t {
    NoError = 0,
    ImportError = 1,
    ExportError = 2,
    ReadError = 3,  // a load by path found no file there; callers and wrappers may set it too
    WriteError = 4,
  };

  // Takes the default registry (possibly null).
  ZRXSerializer();
  // Copies every field; the maps share their objects and structures with `other`.
  ZRXSerializer(const ZRXSerializer& other);
  // Moves the directives, metadata and conversion maps (`other` is left with them empty);
  // copies the rest.
  ZRXSerializer(ZRXSerializer&& other);
  ZRXSerializer& operator=(const ZRXSerializer& other);
  ZRXSerializer& operator=(ZRXSerializer&& other);
  ~ZRXSerializer() override;

  // --- Conversion ---

  // The object made from `structure`, or null: at once while the error is set; otherwise the
  // object recorded earlier, or what the wrapper registered for the structure's tag makes. A
  // missing or failing wrapper sets ImportError and logs the structure's tag.
  // REQUIRES: `structure` is not null and a registry is set (see canImport); checked, as is the
  // wrapper's duty to register the pair it returns (else the result would dangle).
  zr::Object* importZRX(const ZRXStructure* structure);
  // The structure made from `object`, or null; the mirror image of importZRX, looking the
  // wrapper up by the object's exact runtime type (never a base class's) and setting
  // ExportError. REQUIRES: as for importZRX, with `object`.
  ZRXStructure* exportZRX(const zr::Object* object);

  // Whether a registry is set and lists a wrapper for the structure's tag / the object's exact
  // runtime type. REQUIRES: the argument is not null.
  bool canImport(const ZRXStructure* structure) const;
  bool canExport(const zr::Object* object) const;

  // --- Documents ---
  // Save `object` as one document: a "<Metadata>" structure (the metadata entries except the
  // reserved "Authoring_Tool", "Creation_Date" and "ZR_Serializer_Version", then fresh values of
  // those three), then the exported root structure. With `reset`, reset() first; while the error
  // is set nothing happens and the result is false. An export that sets the error (even when the
  // wrapper still returns a structure) writes nothing. A tree the format cannot hold (a list or an
  // ID-less structure reached twice, a name or number text cannot carry, nesting beyond
  // maxDepth()) sets ExportError with a message before the file is opened; a failed write sets
  // WriteError and, on a DiskFile, leaves the previous document in place. True when the error
  // is NoError at the end. The path forms write through a zr::DiskFile.
  bool saveZRT(zr::VirtualFile* file, const zr::Object* object, bool reset);
  bool saveZRT(const zr::String& path, const zr::Object* object, bool reset);
  bool saveZRB(zr::VirtualFile* file, const zr::Object* object, bool reset);
  bool saveZRB(const zr::String& path, const zr::Object* object, bool reset);

  // Load a document: with `reset`, reset() first; while the error is set, null at once. Sets the
  // document URL to the file's path, parses (ImportError on a parse or link failure, with the
  // parser's or linker's messages), replaces the metadata by the document's (also when linking
  // fails), links, and imports the first structure besides the metadata; an import that sets the
  // error gives null, whatever the wrapper returned. A document holding only metadata gives null
  // with NoError. The path forms find the file with zr::locateFile; a path that names no file
  // sets ReadError and logs "ZRXSerializer::loadZRT() file not found : <path>\n" (or loadZRB).
  // REQUIRES: the file forms get a file; a save gets an object.
  zr::ref<zr::Object> loadZRT(zr::VirtualFile* file, bool reset);
  zr::ref<zr::Object> loadZRT(const zr::String& path, bool reset);
  zr::ref<zr::Object> loadZRB(zr::VirtualFile* file, bool reset);
  zr::ref<zr::Object> loadZRB(const zr::String& path, bool reset);
  // Either format, told by the file's first bytes; a file of neither sets ImportError with a
  // message. Otherwise as loadZRT / loadZRB.
  zr::ref<zr::Object> load(zr::VirtualFile* file, bool reset = true);
  zr::ref<zr::Object> load(const zr::String& path, bool reset = true);
  // A typed load: as load(), and null with ImportError and a message naming both classes when
  // the document's object is not a T (of T's class or one derived from it).
  template <class T>
  zr::ref<T> loadAs(const zr::String& path, bool reset = true) {
    return zr::ref<T>(static_cast<T*>(checkLoaded(load(path, reset), T::Type()).get()));
  }
  template <class T>
  zr::ref<T> loadAs(zr::VirtualFile* file, bool reset = true) {
    return zr::ref<T>(static_cast<T*>(checkLoaded(load(file, reset), T::Type()).get()));
  }

  // True while loadZRT or loadZRB import the document they have just read: nobody but the
  // serializer holds that tree and nothing reads its arrays again, so a wrapper may take an
  // array's storage (`std::swap` with its value()) instead of copying it. False for structures a
  // caller hands to importZRX, whose tree the caller may still use.
  bool importsOwnDocument() const { return mImportsOwnDocument; }

  // --- Bookkeeping for wrappers ---

  // Record a converted pair; a wrapper calls these before converting what the pair refers to.
  // Recording the same structure (object) twice, or a null partner, fails a check.
  void registerImportedStructure(const ZRXStructure* st, zr::Object* obj);
  void registerExportedObject(const zr::Object* obj, ZRXStructure* st);
  // The partner recorded for a structure (object), or null.
  zr::Object* getImportedStructure(const ZRXStructure* st) const;
  ZRXStructure* getExportedObject(const zr::Object* obj) const;

  using ImportRule = zrX::ImportRule;

  // A typed import of one value of `in`'s entry `key` (they only name the place in messages):
  // the value must be a Structure naming a structure (or "#NULL", as `rule` allows), the object
  // imported from it must be a T (T's class or one derived from it), and an owned import follows
  // the rule above. Sets `*out` (null for an allowed "#NULL") and returns true; otherwise reports
  // ImportError with a message naming the tag, the key, what was expected and what was found,
  // sets `*out` to null and returns false. A failure of the nested import itself is reported by
  // that import. REQUIRES: `in` and `out` are not null.
  template <class T>
  bool importValue(const ZRXValue& value, const ZRXStructure* in, std::string_view key, T** out,
                   ImportRule rule = ImportRule()) {
    zr::Object* object = nullptr;
    const bool ok = importValueOf(value, in, key, T::Type(), rule, &object);
    *out = static_cast<T*>(object);
    return ok;
  }
  bool importValueOf(const ZRXValue& value, const ZRXStructure* in, std::string_view key,
                     const zr::TypeInfo& type, ImportRule rule, zr::Object** out);

  // Whether `structure` is being imported now: its wrapper registered it and has not returned.
  bool isImporting(const ZRXStructure* structure) const;

  // A new structure ID: "#" + prefix + "id" + the next number (1 after construction or reset();
  // one counter for all prefixes). REQUIRES: `prefix` is not null.
  std::string generateID(const char* prefix);

  // Report a wrapper's failure: the first one logs `message` and sets ImportError
  // (ExportError); while an error is set they do nothing.
  void signalImportError(const zr::String& message);
  void signalExportError(const zr::String& message);

  // Rewrites a path starting with "this:" into the document URL's folder followed by the rest of
  // the path, slashes normalized; any other path is left unchanged.
  void resolvePath(std::string& path) const;

  // --- Error state ---

  EError error() const { return mError; }
  // Sets the error unconditionally, NoError included (which also forgets errorMessage()).
  void setError(EError error) {
    mError = error;
    if (error == NoError) mErrorMessage.clear();
  }
  // The message of the first failure since the error was last clear: what signalImportError or
  // signalExportError were given, the serializer's own message, or a load's first parse or link
  // message (as logged, line end included). "" while the error is NoError, and after setError by a
  // caller. The log receives every message as before.
  const std::string& errorMessage() const { return mErrorMessage; }
  // "NoError", "ImportError", "ExportError", "ReadError"; "WriteError" for 4 and any other value.
  const char* errorString() const;

  // Clears the error, the ID counter and both conversion maps. Directives, metadata, document URL,
  // registry and nesting limit stay.
  void reset();

  // --- Directives: free-form named options that wrappers query ---

  // Inserts or replaces. REQUIRES: neither argument is null (nor in the other calls' names).
  void setDirective(const char* name, const char* value);
  bool hasDirective(const char* name) const;
  // The value, valid until the directive is replaced or erased; for an absent name the text
  // "NO_SUCH_DIRECTIVE".
  const std::string& directive(const char* name) const;
  void eraseDirective(const char* name);
  void eraseAllDirectives() { mDirectives.clear(); }

  // --- Metadata: written into saved documents, replaced by a loaded document's ---

  MetadataMap& metadata() { return mMetadata; }
  const MetadataMap& metadata() const { return mMetadata; }
  // The entry under `key`, or null; valid until the entry is removed or the map replaced.
  ZRXValue* getMetadata(const char* key);
  const ZRXValue* getMetadata(const char* key) const;

  // --- Document URL, registry, nesting limit ---

  const zr::String& documentURL() const { return mDocumentURL; }
  void setDocumentURL(const zr::String& url) { mDocumentURL = url; }

  Registry* registry() { return mRegistry.get(); }
  const Registry* registry() const { return mRegistry.get(); }
  // Holds a strong reference on `registry` (null allowed).
  void setRegistry(const Registry* registry);

  // Nesting limit, in levels of structures and lists, handed to the parsers and writers of
  // document loads and saves.
  int maxDepth() const { return mMaxDepth; }
  void setMaxDepth(int depth) { mMaxDepth = depth; }
  // ZRT saves write every real as "%f" does, six decimals, instead of a text that reads back as
  // the same double (WriteOptions::sixDecimalReals). Off by default.
  bool sixDecimalReals() const { return mSixDecimalReals; }
  void setSixDecimalReals(bool sixDecimals) { mSixDecimalReals = sixDecimals; }

  // Limit of nested conversions: an importZRX or exportZRX called from within a wrapper's call is
  // one level deeper than that call, so an object graph chained through references (each object
  // the only child of the one before) nests as deep as its chain is long, whatever the document's
  // own nesting. Two guards stop a conversion, with ImportError or ExportError and a message
  // saying which, instead of letting it exhaust the stack:
  // - the stack: where the system tells the thread's stack bounds (Linux, macOS, Windows; see
  //   zr::StackGuard), a conversion is refused when less than 64 KiB of the stack is left (a
  //   quarter of the stack when that is less; 256 KiB under AddressSanitizer), whatever its level,
  //   so a worker thread with a small stack fails cleanly where the count alone would let it
  //   crash. The outermost conversion on a thread reads the bounds; each level then costs one
  //   comparison.
  // - the count: a conversion deeper than this limit is refused on any system. The default lets
  //   10,000 levels through: with the demo host's wrappers a level takes about 0.55 KiB of stack
  //   in an optimised build (10,000 levels in 5.4 MiB, within an 8 MiB main thread), about
  //   2.6 KiB under AddressSanitizer. Raise it for longer chains on threads with the stack for
  //   them; where the stack guard works, the stack then sets the bound.
  int maxConversionDepth() const { return mMaxConversionDepth; }
  void setMaxConversionDepth(int depth) { mMaxConversionDepth = depth; }
  static constexpr int kDefaultMaxConversionDepth = 10000;

 private:
  // A map keyed by identity: each entry holds strong references on both partners. Lookups take a
  // borrowed pointer and touch no reference count; entries keep their order of registration.
  template <class Key, class Partner>
  class IdentityMap {
   public:
    // The partner of `key`, or end() (null) when `key` is not recorded.
    Partner* find(const void* key) const {
      const uint32_t number = mIndex.find(key);
      return number == PointerIndex::kNone ? nullptr : mPartners[number].partner.get();
    }
    Partner* end() const { return nullptr; }
    bool contains(const void* key) const { return mIndex.find(key) != PointerIndex::kNone; }
    // The number of `key` in registration order, or PointerIndex::kNone.
    uint32_t number(const void* key) const { return mIndex.find(key); }
    Partner* partnerAt(uint32_t number) const { return mPartners[number].partner.get(); }
    // A byte of the serializer's own per pair, beside the partner (so reading both costs one
    // cache miss).
    uint8_t& flagsAt(uint32_t number) { return mPartners[number].flags; }
    uint8_t flagsAt(uint32_t number) const { return mPartners[number].flags; }
    void clearFlags(uint8_t mask) {
      for (Entry& entry : mPartners) entry.flags &= static_cast<uint8_t>(~mask);
    }
    // False (and nothing changed) when `key` is recorded already.
    bool insert(Key* key, Partner* partner) {
      bool inserted = false;
      mIndex.insert(key, &inserted);
      if (!inserted) return false;
      mKeys.emplace_back(key);
      mPartners.push_back(Entry{zr::ref<Partner>(partner), 0});
      return true;
    }
    size_t size() const { return mKeys.size(); }
    bool empty() const { return mKeys.empty(); }
    const std::vector<zr::ref<Key>>& keys() const { return mKeys; }
    void clear() {
      mIndex.clear();
      mKeys.clear();
      mPartners.clear();
    }
    // Empties the map, moving the references it held on one side of each pair to `out` (no count
    // changes) and dropping the other side.
    template <class Node>
    void moveKeysTo(std::vector<zr::ref<Node>>& out) {
      for (zr::ref<Key>& key : mKeys) out.emplace_back(std::move(key));
      clear();
    }
    template <class Node>
    void movePartnersTo(std::vector<zr::ref<Node>>& out) {
      for (Entry& entry : mPartners) out.emplace_back(std::move(entry.partner));
      clear();
    }

   private:
    PointerIndex mIndex;
    std::vector<zr::ref<Key>> mKeys;
    struct Entry {
      zr::ref<Partner> partner;
      uint8_t flags;
    };
    std::vector<Entry> mPartners;
  };
  using ImportedMap = IdentityMap<ZRXStructure, zr::Object>;
  using ExportedMap = IdentityMap<zr::Object, ZRXStructure>;

  // The state the declared classes of a registry keep per serializer (Declare.cpp); made on
  // first use, dropped by reset() and never copied.
  DeclaredSession& declaredSession();
  friend class DeclaredSession;
  friend class DeclaredClassWrapper;
  friend class DeclaredEngine;
  friend class FieldContext;
  // importZRX for declared classes: `strong` says that the importing object will hold the result
  // through a strong reference (a cycle of such imports is refused by them).
  zr::Object* importZRX(const ZRXStructure* structure, bool strong);
  // Whether importing `structure` now, still being imported, through a strong reference from the
  // current import, closes a cycle of strong references among declared imports.
  bool closesStrongCycle(const ZRXStructure* structure) const;
  // importValueOf with the entry's place made only for a message (few arguments, so that the
  // callers' calls stay in registers: it runs once per reference, nested as deep as they chain).
  struct ValuePlace {
    const ZRXStructure* in;
    std::string (*place)(const void*);
    const void* argument;
  };
  // The object, or null: for an allowed "#NULL" with the error still NoError, otherwise after
  // reporting.
  zr::Object* importValueAt(const ZRXValue& value, const zr::TypeInfo& type, ImportRule rule,
                            const ValuePlace& where);
  enum class ValueRefusal { NotStructure, Null, OwnsItself, SecondOwner, Cycle, WrongClass };
  zr::Object* refuseValue(ValueRefusal why, const ZRXValue& value, const zr::Object* object,
                          const zr::TypeInfo& type, const ValuePlace& where);
  zr::ref<zr::Object> checkLoaded(zr::ref<zr::Object> loaded, const zr::TypeInfo& type);
  // Sets the error (when it is NoError), logs `message` and keeps it as errorMessage().
  void fail(EError error, const std::string& message);
  // Logs `message` whatever the error state (each failing level of nested conversions logs its
  // line); sets the error and keeps the message only when the error is NoError.
  void failAgain(EError error, const std::string& message);

  zr::Object* reportImportFailure(const ZRXStructure* st, bool noWrapper);
  ZRXStructure* reportExportFailure(const zr::TypeInfo& type, bool noWrapper);

  zr::ref<ZRXStructure> makeMetadataStructure() const;
  void refuseDeepImport(const ZRXStructure* st);
  void refuseDeepExport(const zr::TypeInfo& type);
  bool save(zr::VirtualFile* file, const zr::Object* object, bool resetFirst, Format format);
  zr::ref<zr::Object> load(zr::VirtualFile* file, bool resetFirst, Format format);
  zr::ref<zr::Object> loadByPath(const zr::String& path, bool resetFirst, Format format);

  // Drops both conversion maps (and the metadata if asked), clearing the entries of every
  // structure and list that only a reference cycle among them would keep alive.
  void releaseConversions(bool withMetadata);

  zr::String mDocumentURL;
  std::map<std::string, std::string, std::less<>> mDirectives;
  EError mError = NoError;
  bool mImportsOwnDocument = false;
  int32_t mIDCounter = 0;
  ImportedMap mImportedStructures;
  ExportedMap mExportedObjects;
  MetadataMap mMetadata;
  zr::ref<Registry> mRegistry;
  zr::StackGuard mStackGuard;  // armed by the outermost conversion
  int mMaxDepth = kDefaultMaxDepth;
  bool mSixDecimalReals = false;
  int mMaxConversionDepth = kDefaultMaxConversionDepth;
  int mConversionDepth = 0;  // conversions running now
  std::string mErrorMessage;

  // Imports under way, outermost first, with how each was reached (strong: through a declared
  // strong reference). Their structures' flags below say "in progress".
  struct ImportFrame {
    const ZRXStructure* structure;
    bool strong;
  };
  std::vector<ImportFrame> mImportFrames;
  bool mNextImportStrong = false;
  // Flags of an imported structure (mImportedStructures.flagsAt).
  enum : uint8_t { kInProgress = 1, kOwned = 2 };

  std::unique_ptr<DeclaredSession, DeclaredSessionDeleter> mDeclared;
};

}  // namespace zrX
