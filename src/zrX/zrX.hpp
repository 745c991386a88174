// zrX, the whole public API in one include: the core layer it stands on, the document model, the
// visitors, and the serializer and I/O functions as they are built.
#pragma once

#include "zrCore/Check.hpp"
#include "zrCore/Log.hpp"
#include "zrCore/Object.hpp"
#include "zrCore/ResourceDatabase.hpp"
#include "zrCore/String.hpp"
#include "zrCore/TypeInfo.hpp"
#include "zrCore/VirtualFile.hpp"
#include "zrX/Export.hpp"
#include "zrX/RuntimeType.hpp"
#include "zrX/Value.hpp"
#include "zrX/Cycles.hpp"
#include "zrX/Parser.hpp"
#include "zrX/Visitor.hpp"
#include "zrX/VisitorLinker.hpp"
