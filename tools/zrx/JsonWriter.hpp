// JsonWriter: writes a document in the zrx tool's JSON form, the mapping that the README's
// "JSON" section documents (JsonReader reads it back). In short:
//
//   {"zrx": 101, "metadata": [[KEY, VALUE], ...], "structures": [STRUCTURE, ...]}
//
// A value is true/false (Bool), an integer number (Integer), a number with a point or an exponent
// (Real), a string (String), or an object naming its kind: {"real": "NaN"} for reals that JSON
// numbers cannot hold, {"identifier": T}, {"ref": T} (an ID value), {"rawtext": T},
// {"list": [VALUE, ...]}, {"structure": [[KEY, VALUE], ...], "id": T}, {"integers": [...]},
// {"reals": [...]}, with "tag": T on nodes that have one. A text T (also every key, tag and ID)
// is a string when its bytes are well-formed UTF-8, else {"base64": "..."}.
//
// The tree is written as it stands: it must come from a file read without linking, where no node
// is reached twice. The walk uses its own stack, so any depth is fine. One thread.
#pragma once

#include "DocumentFile.hpp"

namespace zrxtool {

// Writes `document` to `file` (opened for writing here; closed, or abandoned on failure so that a
// DiskFile keeps its previous content). Never Refused: JSON holds every tree.
zrX::WriteResult writeJsonDocument(zr::VirtualFile* file, const ToolDocument& document);

}  // namespace zrxtool
