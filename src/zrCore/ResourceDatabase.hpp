// zr::ResourceDatabase: an object holding an ordered list of resources (any zr::Object). It is
// what the resource-database save and load functions of zrX take and return; the hosts'
// wrappers decide how it is written. Not thread-safe; the list holds strong references.
#pragma once

#include <vector>

#include "zrCore/Export.hpp"
#include "zrCore/Object.hpp"

namespace zr {

class ZRCORE_API ResourceDatabase : public Object {
  ZR_DECLARE_TYPE()
 public:
  std::vector<ref<Object>>& resources() { return mResources; }
  const std::vector<ref<Object>>& resources() const { return mResources; }

 private:
  std::vector<ref<Object>> mResources;
};

}  // namespace zr
