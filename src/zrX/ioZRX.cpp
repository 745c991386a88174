#include "zrX/ioZRX.hpp"

#include "zrCore/Check.hpp"
#include "zrCore/Log.hpp"
#include "zrX/Document.hpp"
#include "zrX/Serializer.hpp"

namespace zrX {

namespace {

// A plain pointer owning one reference: constant-initialised and trivially destructible, so it
// is valid (null or live) at every moment of static construction and destruction.
Registry* gDefaultRegistry = nullptr;
bool gUnloaded = false;

// Releases the default registry when the library is unloaded.
struct DefaultRegistryRelease {
  ~DefaultRegistryRelease() {
    gUnloaded = true;
    setHeld(nullptr);
  }
  static void setHeld(Registry* registry) {
    if (registry) registry->incReference();
    Registry* old = gDefaultRegistry;
    gDefaultRegistry = registry;
    if (old) old->decReference();
  }
};

const DefaultRegistryRelease gDefaultRegistryRelease;

}  // namespace

Registry* defZRXRegistry() { return gDefaultRegistry; }

void setDefZRXRegistry(Registry* registry) {
  if (gUnloaded) registry = nullptr;
  DefaultRegistryRelease::setHeld(registry);
}

// Resource databases ---------------------------------------------------------------------------

namespace {

zr::ref<zr::ResourceDatabase> loadDatabase(zr::VirtualFile* file, const zr::String* path,
                                           bool text) {
  ZRXSerializer serializer;
  zr::ref<zr::Object> loaded;
  if (file) {
    loaded = text ? serializer.loadZRT(file, true) : serializer.loadZRB(file, true);
  } else if (path) {
    loaded = text ? serializer.loadZRT(*path, true) : serializer.loadZRB(*path, true);
  } else {
    zr::Log::error(zr::Say("%s : no file given.\n") << (text ? "zr::loadZRT" : "zr::loadZRB"));
    serializer.setError(ZRXSerializer::ReadError);
  }
  if (serializer.error() != ZRXSerializer::NoError) {
    zr::Log::error(zr::Say("%s : zrX::ZRXSerializer reported: %s.\n")
                   << (text ? "zr::loadZRT" : "zr::loadZRB") << serializer.errorString());
  }
  if (loaded && loaded->isOfType(zr::ResourceDatabase::Type()))
    return zr::ref<zr::ResourceDatabase>(static_cast<zr::ResourceDatabase*>(loaded.get()));
  return nullptr;
}

bool saveDatabase(zr::VirtualFile* file, const zr::String* path, const zr::ResourceDatabase* res_db,
                  bool text) {
  ZR_CHECK(res_db);
  ZRXSerializer serializer;
  if (file) {
    text ? serializer.saveZRT(file, res_db, true) : serializer.saveZRB(file, res_db, true);
  } else {
    text ? serializer.saveZRT(*path, res_db, true) : serializer.saveZRB(*path, res_db, true);
  }
  if (serializer.error() != ZRXSerializer::NoError) {
    zr::Log::error(zr::Say("%s : zrX::ZRXSerializer reported: %s.\n")
                   << (text ? "zrX::saveZRT" : "zrX::saveZRB") << serializer.errorString());
  }
  return serializer.error() == ZRXSerializer::NoError;
}

}  // namespace

zr::ref<zr::ResourceDatabase> loadZRT(zr::VirtualFile* file) {
  return loadDatabase(file, nullptr, true);
}
zr::ref<zr::ResourceDatabase> loadZRT(const zr::String& path) {
  return loadDatabase(nullptr, &path, true);
}
zr::ref<zr::ResourceDatabase> loadZRB(zr::VirtualFile* file) {
  return loadDatabase(file, nullptr, false);
}
zr::ref<zr::ResourceDatabase> loadZRB(const zr::String& path) {
  return loadDatabase(nullptr, &path, false);
}

bool saveZRT(zr::VirtualFile* file, const zr::ResourceDatabase* res_db) {
  ZR_CHECK(file);
  return saveDatabase(file, nullptr, res_db, true);
}
bool saveZRT(const zr::String& path, const zr::ResourceDatabase* res_db) {
  return saveDatabase(nullptr, &path, res_db, true);
}
bool saveZRB(zr::VirtualFile* file, const zr::ResourceDatabase* res_db) {
  ZR_CHECK(file);
  return saveDatabase(file, nullptr, res_db, false);
}
bool saveZRB(const zr::String& path, const zr::ResourceDatabase* res_db) {
  return saveDatabase(nullptr, &path, res_db, false);
}

bool isZRT(zr::VirtualFile* file) { return detectFormat(file) == Format::ZRT; }
bool isZRT(const zr::String& path) { return isZRT(zr::locateFile(path).get()); }
bool isZRB(zr::VirtualFile* file) { return detectFormat(file) == Format::ZRB; }
bool isZRB(const zr::String& path) { return isZRB(zr::locateFile(path).get()); }

}  // namespace zrX
