// ioZRX: the process-wide default registry, which every ZRXSerializer constructed afterwards
// copies into its own reference.
//
// The default is null when the library is loaded and released when it is unloaded (at process
// exit); after that it stays null, so a serializer constructed during static destruction simply
// has no registry. It is a plain shared reference without a lock: set it before other threads
// construct serializers.
#pragma once

#include "zrX/Export.hpp"
#include "zrX/Registry.hpp"

namespace zrX {

// The default registry, or null while none is set. Does not create one.
ZRX_API Registry* defZRXRegistry();

// Makes `registry` (null allowed) the default, holding a strong reference on it. Setting the
// registry that is already the default is safe. Once the library has released the default at
// unload, the call holds nothing and the default stays null.
ZRX_API void setDefZRXRegistry(Registry* registry);

}  // namespace zrX
