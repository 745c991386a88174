#include "zrCore/ResourceDatabase.hpp"

namespace zr {

ZR_DEFINE_TYPE(ResourceDatabase, Object, "zr::ResourceDatabase")

}  // namespace zr
