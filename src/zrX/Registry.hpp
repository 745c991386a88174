// Registry and ClassWrapper: how the serializer finds the code that converts a host's class.
//
// A ClassWrapper turns objects of one host class into tagged structures and back. A Registry lists
// wrappers twice over: by the structure tag they import (exact, byte-for-byte match) and by the
// exact runtime type of the objects they export (an object's classType(), never a base class's).
// The library ships no wrappers; the modules owning the serialized classes write them and the
// host fills a registry, usually installing it as the default (ioZRX.hpp).
//
// Ownership: a registry holds a strong reference on every wrapper it lists; one wrapper may stand
// in both maps. Serializers hold a strong reference on their registry.
//
// Threads: no locks. Fill a registry before serializers use it; serializers on several threads
// may then read one registry at the same time.
#pragma once

#include <map>
#include <string>

#include "zrCore/Object.hpp"
#include "zrX/Export.hpp"
#include "zrX/RuntimeType.hpp"
#include "zrX/Value.hpp"

namespace zrX {

class ZRXSerializer;
class DeclaredClassBase;

// The contract a host's wrapper fulfils (both calls are made by ZRXSerializer only):
//
// importObject creates the object `structure` describes, registers the pair with
// serializer.registerImportedStructure(structure, object) BEFORE it imports anything the
// structure refers to (serializer.importZRX), then fills the object and returns it. Registering
// is what keeps the new object alive (importZRX hands out a borrowed pointer) and what makes a
// structure reached twice, or through a cycle, come back as the one object already made.
//
// exportObject is the mirror image: create the structure (tagged with the tag the importing
// wrapper is registered under; its ID may come from serializer.generateID), register the pair
// with serializer.registerExportedObject(object, structure) BEFORE exporting what the object
// refers to (serializer.exportZRX), fill the structure and return it.
//
// On failure either returns null, after reporting the cause with serializer.signalImportError /
// signalExportError if it has one to tell. A structure read from a file may hold anything: check
// the kind of every value before reading it (ZRXValue getters fail a check on the wrong kind).
class ZRX_API ClassWrapper : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  virtual zr::ref<zr::Object> importObject(ZRXSerializer& serializer,
                                           const ZRXStructure* structure) = 0;
  virtual zr::ref<ZRXStructure> exportObject(ZRXSerializer& serializer,
                                             const zr::Object* object) = 0;
};

class ZRX_API Registry : public zr::Object {
  ZR_DECLARE_TYPE()
 public:
  // Structure tag (angle brackets included) -> the wrapper importing structures with that tag.
  using ImportWrappers = std::map<std::string, zr::ref<ClassWrapper>>;
  // Exact runtime type -> the wrapper exporting objects of that type.
  using ExportWrappers = std::map<zr::TypeInfo, zr::ref<ClassWrapper>>;

  Registry() = default;

  ImportWrappers& importWrappers() { return mImportWrappers; }
  const ImportWrappers& importWrappers() const { return mImportWrappers; }
  ExportWrappers& exportWrappers() { return mExportWrappers; }
  const ExportWrappers& exportWrappers() const { return mExportWrappers; }

  // Enters `wrapper` as the importer of structures tagged `tag` and the exporter of objects whose
  // runtime type is `type`, replacing whatever stood under either key. `tag` and `wrapper` must
  // not be null. A wrapper that only imports or only exports goes into one map directly.
  void registerWrapper(const char* tag, const zr::TypeInfo& type, ClassWrapper* wrapper);
  // Enters the wrapper of a declared class (Declare.hpp) under its tag and runtime type, as
  // registerWrapper does. A plain struct's declaration, or a class without a way to make one,
  // stops the process with a message (a programming error).
  void add(const DeclaredClassBase& declaration);

 private:
  ImportWrappers mImportWrappers;
  ExportWrappers mExportWrappers;
};

}  // namespace zrX
