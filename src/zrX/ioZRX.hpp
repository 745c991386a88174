// ioZRX: the process-wide default registry, which every ZRXSerializer constructed afterwards
// copies into its own reference; the one-call save and load of a whole zr::ResourceDatabase; and
// the detection of a file's format from its first bytes.
//
// The default is null when the library is loaded and released when it is unloaded (at process
// exit); after that it stays null, so a serializer constructed during static destruction simply
// has no registry. It is a plain shared reference without a lock: set it before other threads
// construct serializers.
#pragma once

#include "zrCore/ResourceDatabase.hpp"
#include "zrCore/String.hpp"
#include "zrCore/VirtualFile.hpp"
#include "zrX/Export.hpp"
#include "zrX/Registry.hpp"

namespace zrX {

// The default registry, or null while none is set. Does not create one.
ZRX_API Registry* defZRXRegistry();

// Makes `registry` (null allowed) the default, holding a strong reference on it. Setting the
// registry that is already the default is safe. Once the library has released the default at
// unload, the call holds nothing and the default stays null.
ZRX_API void setDefZRXRegistry(Registry* registry);

// Save or load a whole resource database with one call. Each call makes its own ZRXSerializer,
// so it uses the default registry, which must hold wrappers for the database and everything in
// it. On failure the serializer's messages are followed by one line naming its error
// ("zrX::saveZRT : zrX::ZRXSerializer reported: ExportError.\n"). A load gives null also when the
// document holds nothing but metadata, or when its object is not a resource database (without a
// message). A load by path whose file does not exist, and a load handed a null file ("zr::loadZRT :
// no file given.\n"), report ReadError. The path saves write through a zr::DiskFile: a failed
// save leaves the previous file as it was.
// REQUIRES: `res_db` is not null; the saves on a file need a file.
ZRX_API zr::ref<zr::ResourceDatabase> loadZRT(zr::VirtualFile* file);
ZRX_API zr::ref<zr::ResourceDatabase> loadZRT(const zr::String& path);
ZRX_API zr::ref<zr::ResourceDatabase> loadZRB(zr::VirtualFile* file);
ZRX_API zr::ref<zr::ResourceDatabase> loadZRB(const zr::String& path);
ZRX_API bool saveZRT(zr::VirtualFile* file, const zr::ResourceDatabase* res_db);
ZRX_API bool saveZRT(const zr::String& path, const zr::ResourceDatabase* res_db);
ZRX_API bool saveZRB(zr::VirtualFile* file, const zr::ResourceDatabase* res_db);
ZRX_API bool saveZRB(const zr::String& path, const zr::ResourceDatabase* res_db);

// Whether a file starts with the text header "ZRX version=" (isZRT) or the 9-byte binary
// signature (isZRB). Null, missing, unreadable and short files give false. The file is closed
// afterwards, even if it was open before (its position is lost).
ZRX_API bool isZRT(zr::VirtualFile* file);
ZRX_API bool isZRT(const zr::String& path);
ZRX_API bool isZRB(zr::VirtualFile* file);
ZRX_API bool isZRB(const zr::String& path);

}  // namespace zrX
