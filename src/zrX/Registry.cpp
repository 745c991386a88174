#include "zrX/Registry.hpp"

#include "zrCore/Check.hpp"

namespace zrX {

ZR_DEFINE_TYPE(ClassWrapper, zr::Object, "zrX::ClassWrapper")
ZR_DEFINE_TYPE(Registry, zr::Object, "zrX::Registry")

void Registry::registerWrapper(const char* tag, const zr::TypeInfo& type, ClassWrapper* wrapper) {
  ZR_CHECK(tag);
  ZR_CHECK(wrapper);
  mImportWrappers[tag] = wrapper;
  mExportWrappers.insert_or_assign(type, zr::ref<ClassWrapper>(wrapper));
}

}  // namespace zrX
