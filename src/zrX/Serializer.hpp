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
#include <string>
#include <vector>

#include "zrCore/Object.hpp"
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
  // Sets the error unconditionally, NoError included.
  void setError(EError error) { mError = error; }
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
  // own nesting. A conversion beyond the limit fails with ImportError or ExportError and a message
  // naming the limit, instead of exhausting the stack. The default lets 10,000 levels through:
  // with the demo host's wrappers a level takes about 0.55 KiB of stack in an optimised build
  // (measured: 10,000 levels in 5.4 MiB), so the default fits an 8 MiB main-thread stack; under
  // AddressSanitizer a level takes about 2.6 KiB. Raise it only for conversions on a thread whose
  // stack holds the levels asked for; lower it for wrappers with large frames.
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
      return number == PointerIndex::kNone ? nullptr : mPartners[number].get();
    }
    Partner* end() const { return nullptr; }
    bool contains(const void* key) const { return mIndex.find(key) != PointerIndex::kNone; }
    // False (and nothing changed) when `key` is recorded already.
    bool insert(Key* key, Partner* partner) {
      bool inserted = false;
      mIndex.insert(key, &inserted);
      if (!inserted) return false;
      mKeys.emplace_back(key);
      mPartners.emplace_back(partner);
      return true;
    }
    size_t size() const { return mKeys.size(); }
    bool empty() const { return mKeys.empty(); }
    const std::vector<zr::ref<Key>>& keys() const { return mKeys; }
    const std::vector<zr::ref<Partner>>& partners() const { return mPartners; }
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
      for (zr::ref<Partner>& partner : mPartners) out.emplace_back(std::move(partner));
      clear();
    }

   private:
    PointerIndex mIndex;
    std::vector<zr::ref<Key>> mKeys;
    std::vector<zr::ref<Partner>> mPartners;
  };
  using ImportedMap = IdentityMap<ZRXStructure, zr::Object>;
  using ExportedMap = IdentityMap<zr::Object, ZRXStructure>;

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
  int mMaxDepth = kDefaultMaxDepth;
  bool mSixDecimalReals = false;
  int mMaxConversionDepth = kDefaultMaxConversionDepth;
  int mConversionDepth = 0;  // conversions running now
};

}  // namespace zrX
