"""ZRX documents (ZRT text and ZRB binary, and the zrx tool's JSON form) as Python objects.

A document's tree comes to Python as zrx.Structure, zrx.List and zrx.RawText objects, which are
the library's own nodes (a node reached from two places is one Python object), and its arrays as
numpy arrays over the document's memory. The extension module zrx._zrx holds the classes and the
reading and writing; this file adds what is plain Python: file objects, JSON, the standard
metadata of a new document, and the dict and list methods of the containers.
"""

import copy as _copy
import os as _os
import time as _time

from . import _zrx
from ._zrx import (  # noqa: F401 - the public names of the package
    Document,
    Error,
    Identifier,
    List,
    ParseError,
    RawText,
    Ref,
    Structure,
    WriteRefused,
    array_tag,
    collect,
    set_array_tag,
)

__version__ = _zrx.__version__

__all__ = [
    "Document", "Error", "Identifier", "List", "ParseError", "RawText", "Ref", "Structure",
    "WriteRefused", "array_tag", "collect", "detect", "diff", "from_json", "read", "read_bytes",
    "set_array_tag", "to_json", "write", "write_bytes",
]

#: The Authoring_Tool entry that a document made in Python gets when it is written without one.
AUTHORING_TOOL = f"zrx {__version__} (Python)"

for _cls in (Document, Identifier, List, RawText, Ref, Structure):
    _cls.__module__ = __name__


# Reading ------------------------------------------------------------------------------------------

def read(source, link=True):
    """Reads a document from a path (str, bytes, os.PathLike) or a binary file object.

    The format (ZRT, ZRB or the zrx tool's JSON) is told by the first bytes. With link=True every
    reference becomes the structure it names; with link=False references stay zrx.Ref values.
    Raises ParseError for a document that does not parse or link, OSError (FileNotFoundError,
    PermissionError, ...) for a file that cannot be opened.
    """
    if hasattr(source, "read"):
        data = source.read()
        if not isinstance(data, (bytes, bytearray, memoryview)):
            raise TypeError("read() needs a file opened in binary mode ('rb'), which gives bytes, "
                            f"not {type(data).__name__}")
        return _zrx.read_bytes(data, link)
    return _zrx.read(source, link)


def read_bytes(data, link=True):
    """Reads a document from a bytes-like object, as read() does from a file: bytes are read in
    place, any other buffer is copied once."""
    return _zrx.read_bytes(data, link)


def from_json(text, link=True):
    """A document from the zrx tool's JSON form (a str, or UTF-8 bytes); ParseError for JSON that
    is no such document, with the line and column."""
    data = text.encode("utf-8") if isinstance(text, str) else bytes(text)
    if _zrx.detect_bytes(data) != "json":
        raise ParseError("not a JSON document: it must start with '{'")
    return _zrx.read_bytes(data, link)


def detect(path):
    """'zrt', 'zrb' or 'json' after a file's first bytes, None for anything else; OSError for a
    file that cannot be opened."""
    return _zrx.detect(path)


# Writing ------------------------------------------------------------------------------------------

def _complete(document, authoring_tool):
    """The document to write: one made in Python (version 0) gets the metadata entries a save
    writes, Authoring_Tool, Creation_Date and ZR_Serializer_Version, where it lacks them; one read
    from a file is written as it is. authoring_tool, when given, is written in either case."""
    if not isinstance(document, Document):
        raise TypeError(f"expected a zrx.Document, not {type(document).__name__}")
    metadata = document.metadata
    fresh = document.version == 0
    if authoring_tool is None and (not fresh or all(
            key in metadata for key in ("Authoring_Tool", "Creation_Date", "ZR_Serializer_Version"))):
        return document
    metadata = dict(metadata)
    if fresh:
        metadata.setdefault("Authoring_Tool", AUTHORING_TOOL)
        metadata.setdefault("Creation_Date", _time.ctime())
        metadata.setdefault("ZR_Serializer_Version", 101)
    if authoring_tool is not None:
        metadata["Authoring_Tool"] = authoring_tool
    return Document(document.structures, metadata)


def _format_of_name(name):
    extension = _os.path.splitext(_os.fsdecode(name))[1].lower()
    return {".zrt": "zrt", ".zrb": "zrb", ".json": "json"}.get(extension)


def write(document, target, format=None, *, authoring_tool=None, six_decimals=False):
    """Writes a document to a path or a binary file object.

    format is 'zrt', 'zrb' or 'json', or taken from the file name's extension. A tree the format
    cannot hold raises WriteRefused, naming the place ("/<Scene>/parts[0]/radius"), and leaves the
    file as it was; a failed write raises OSError (with errno and filename), also leaving the
    previous file in place. A document made in Python gets the standard metadata entries (see
    AUTHORING_TOOL); authoring_tool sets the Authoring_Tool entry written. ZRT gives every finite
    real back exactly (six decimals where those say it exactly, else the shortest digits that do);
    six_decimals=True writes every real with six decimals ("%f"), losing what lies beyond.
    """
    document = _complete(document, authoring_tool)
    if hasattr(target, "write"):
        if format is None:
            format = _format_of_name(getattr(target, "name", "") or "")
            if format is None:
                raise ValueError("cannot tell the format from the file object; pass "
                                 "format='zrt', 'zrb' or 'json'")
        target.write(_zrx.write_bytes(document, format, six_decimals=six_decimals))
        return
    _zrx.write(document, target, format, six_decimals=six_decimals)


def write_bytes(document, format, *, authoring_tool=None, six_decimals=False):
    """The bytes write() would write, as bytes."""
    return _zrx.write_bytes(_complete(document, authoring_tool), format, six_decimals=six_decimals)


def to_json(document, *, authoring_tool=None):
    """The document in the zrx tool's JSON form, as a str (see the README's JSON section)."""
    return write_bytes(document, "json", authoring_tool=authoring_tool).decode("utf-8")


def diff(a, b, *, ignore=(), max_lines=0):
    """The differences between two documents as the `zrx diff` tool prints them, one line each
    ("/<Scene>/parts[1]/radius: 0.5 -> 0.75"); an empty list when they are the same. ignore names
    metadata keys to leave out (Creation_Date, say); max_lines > 0 keeps that many lines and then
    one "... and K more differences"."""
    return _zrx.diff(a, b, tuple(ignore), max_lines)


# Documents ----------------------------------------------------------------------------------------

def _document_eq(self, other):
    if not isinstance(other, Document):
        return NotImplemented
    return self.structures == other.structures and self.metadata == other.metadata


def _document_reduce(self):
    return (Document, (self.structures, self.metadata))


Document.__eq__ = _document_eq
Document.__hash__ = None
Document.__reduce__ = _document_reduce


# Walks ----------------------------------------------------------------------------------------------

def _iter(self, tag=None):
    """Every structure this reaches (itself first, for a structure), each once, in document order,
    handed out lazily: a walk that stops early costs only what it saw. With a tag, only the
    structures with that tag, as ElementTree's iter(tag)."""
    roots = self.structures if isinstance(self, Document) else [self]
    seen = {}  # by id, holding each node so that no id is reused meanwhile
    stack = list(reversed(roots))
    while stack:
        node = stack.pop()
        if node is None or id(node) in seen:
            continue
        seen[id(node)] = node
        if isinstance(node, Structure):
            if tag is None or node.tag == tag:
                yield node
            values = [value for _, value in node]
        else:
            values = list(node)
        stack.extend(value for value in reversed(values) if isinstance(value, (Structure, List)))


def _find(self, tag):
    """The first structure with `tag` that iter() meets, or None."""
    return next(_iter(self, tag), None)


def _find_all(self, tag):
    """Every structure with `tag`, each once, in document order."""
    return [st for st in self.walk() if st.tag == tag]


for _cls in (Document, Structure, List):
    _cls.iter = _iter
    _cls.find = _find
    _cls.find_all = _find_all


# Structure: the rest of a dict --------------------------------------------------------------------

_MISSING = object()


def _items(self):
    """The (key, value) pairs in order, repeated keys included, as iteration gives them."""
    return list(self)


def _values(self):
    """The values in order, of repeated keys too."""
    return [value for _, value in self]


def _pop(self, key, default=_MISSING):
    """Removes the first entry with `key` and returns its value; `default`, or KeyError, when
    there is none."""
    if key in self:
        value = self[key]
        del self[key]
        return value
    if default is _MISSING:
        raise KeyError(key)
    return default


def _popitem(self):
    """Removes the last entry and returns it as (key, value); KeyError when empty."""
    if not len(self):
        raise KeyError("popitem(): structure is empty")
    key, value = list(self)[-1]
    self._restore(self.tag, self.id, list(self)[:-1])
    return key, value


def _update(self, other=(), **more):
    """st[key] = value for each pair of a mapping, an iterable of pairs and the keywords."""
    pairs = other.items() if hasattr(other, "items") else other
    for key, value in pairs:
        self[key] = value
    for key, value in more.items():
        self[key] = value


def _setdefault(self, key, default=None):
    """st[key] when there is such an entry; otherwise sets it to `default` and returns what it
    holds now (a Python list comes back as the new zrx.List)."""
    if key not in self:
        self[key] = default
    return self[key]


def _clear(self):
    """Removes every entry (the tag and ID stay)."""
    self._restore(self.tag, self.id, [])


def _structure_copy(self):
    """A new structure with the same tag, ID and entries (the values shared, as dict.copy())."""
    return _copy.copy(self)


Structure.items = _items
Structure.values = _values
Structure.pop = _pop
Structure.popitem = _popitem
Structure.update = _update
Structure.setdefault = _setdefault
Structure.clear = _clear
Structure.copy = _structure_copy
Structure.__hash__ = None


# List: the rest of a list ---------------------------------------------------------------------------

_list_getitem = List.__getitem__
_list_setitem = List.__setitem__
_list_delitem = List.__delitem__


def _list_setitem_any(self, index, value):
    if isinstance(index, slice):
        items = _list_getitem(self, slice(None))
        items[index] = value  # list's own rules: extended slices need the same length
        self._assign(items)
    else:
        _list_setitem(self, index, value)


def _list_delitem_any(self, index):
    if isinstance(index, slice):
        items = _list_getitem(self, slice(None))
        del items[index]
        self._assign(items)
    else:
        _list_delitem(self, index)


def _index(self, value, start=0, stop=None):
    """The position of the first element equal to `value`; ValueError when there is none."""
    items = _list_getitem(self, slice(None))
    try:
        return items.index(value, start, len(items) if stop is None else stop)
    except ValueError:
        raise ValueError(f"{value!r} is not in zrx.List") from None


def _count(self, value):
    """How many elements equal `value`."""
    return _list_getitem(self, slice(None)).count(value)


def _remove(self, value):
    """Removes the first element equal to `value`; ValueError when there is none."""
    del self[_index(self, value)]


def _list_clear(self):
    """Removes every element (the tag stays)."""
    self._assign([])


def _reverse(self):
    """Reverses the elements in place."""
    self._assign(_list_getitem(self, slice(None, None, -1)))


def _sort(self, *, key=None, reverse=False):
    """Sorts the elements in place, as list.sort()."""
    self._assign(sorted(_list_getitem(self, slice(None)), key=key, reverse=reverse))


def _list_copy(self):
    """A new list with the same tag and elements (shared, as list.copy())."""
    return _copy.copy(self)


def _iadd(self, items):
    self.extend(items)
    return self


List.__setitem__ = _list_setitem_any
List.__delitem__ = _list_delitem_any
List.index = _index
List.count = _count
List.remove = _remove
List.clear = _list_clear
List.reverse = _reverse
List.sort = _sort
List.copy = _list_copy
List.__iadd__ = _iadd
List.__hash__ = None
RawText.__hash__ = None


# Pickling and copying -------------------------------------------------------------------------------
#
# A node pickles as an empty node of its class and a state that fills it in (its tag, ID and
# entries or elements), so that pickle and copy.deepcopy keep what is shared and follow cycles:
# the new node exists, and is remembered, before the values that may refer back to it. Names are
# put back unchecked, as they were. Arrays keep their tags.

class _TaggedArray:
    """An array and its tag inside the state of a pickled node."""

    __slots__ = ("array", "tag")

    def __init__(self, array, tag):
        self.array, self.tag = array, tag

    def __reduce__(self):
        return (_TaggedArray, (self.array, self.tag))


def _pack(value):
    if hasattr(value, "dtype"):
        tag = array_tag(value)
        if tag:
            return _TaggedArray(value, tag)
    return value


def _unpack(value):
    if isinstance(value, _TaggedArray):
        return _zrx._restore_array_tag(value.array, value.tag)
    return value


def _structure_reduce(self):
    return (Structure, (), (self.tag, self.id, [(key, _pack(value)) for key, value in self]))


def _structure_setstate(self, state):
    tag, id_, entries = state
    self._restore(tag, id_, [(key, _unpack(value)) for key, value in entries])


def _list_reduce(self):
    return (List, (), (self.tag, [_pack(value) for value in self]))


def _list_setstate(self, state):
    tag, items = state
    self._restore(tag, [_unpack(value) for value in items])


def _rawtext_reduce(self):
    return (RawText, (), (self.tag, self.text))


def _rawtext_setstate(self, state):
    self._restore(*state)


Structure.__reduce__ = _structure_reduce
Structure.__setstate__ = _structure_setstate
List.__reduce__ = _list_reduce
List.__setstate__ = _list_setstate
RawText.__reduce__ = _rawtext_reduce
RawText.__setstate__ = _rawtext_setstate
