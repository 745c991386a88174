// Runtime types of zrX classes and of the hosts' serializable classes.
//
// Every class carries a name text and a zr::TypeInfo built from it; the registry finds export
// wrappers by an object's exact runtime type (classType()), and isOfType() walks the class's
// bases. A class declares its members with ZR_DECLARE_TYPE() in its body and defines them with
// ZR_DEFINE_TYPE(Class, Base, "name text") in one source file:
//
//   class Mesh : public zr::Object {
//     ZR_DECLARE_TYPE()
//    public:
//     ...
//   };
//   ZR_DEFINE_TYPE(Mesh, zr::Object, "demo::Mesh")
//
// The name text need not be the class's own name, and two classes with the same text have equal
// records. Records are built once, safely against concurrent first calls.
#pragma once

#include "zrCore/Object.hpp"
#include "zrCore/TypeInfo.hpp"
