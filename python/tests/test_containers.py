"""Structure and List against dict and list: the same operations give the same results; equality,
copies and pickles of cyclic trees."""

import copy
import pickle

import numpy as np
import pytest

import zrx

# Operations on a mapping: each returns what the call returned (or the exception's type).
DICT_OPERATIONS = [
    ("get present", lambda m: m.get("a")),
    ("get missing", lambda m: m.get("x", 7)),
    ("items", lambda m: list(m.items())),
    ("values", lambda m: list(m.values())),
    ("keys", lambda m: list(m.keys())),
    ("pop present", lambda m: m.pop("b")),
    ("pop missing with default", lambda m: m.pop("x", None)),
    ("pop missing", lambda m: m.pop("x")),
    ("popitem", lambda m: m.popitem()),
    ("update from a mapping", lambda m: m.update({"a": 10, "d": 4})),
    ("update from pairs and keywords", lambda m: m.update([("e", 5)], c=30)),
    ("setdefault present", lambda m: m.setdefault("a", 99)),
    ("setdefault missing", lambda m: m.setdefault("z", 26)),
    ("clear", lambda m: m.clear()),
    ("del missing", lambda m: m.__delitem__("x")),
    ("getitem missing", lambda m: m["x"]),
    ("contains", lambda m: ("a" in m, "x" in m)),
    ("len", lambda m: len(m)),
]


def outcome(operation, container):
    try:
        return operation(container)
    except Exception as error:  # noqa: BLE001 - the exception's type is the result
        return type(error)


@pytest.mark.parametrize("name, operation", DICT_OPERATIONS, ids=[n for n, _ in DICT_OPERATIONS])
def test_structure_methods_do_what_dict_methods_do(name, operation):
    entries = {"a": 1, "b": 2.5, "c": "three"}
    st, d = zrx.Structure("<S>", entries, id="#s"), dict(entries)
    assert outcome(operation, st) == outcome(operation, d), name
    assert st.items() == list(d.items())
    assert (st.tag, st.id) == ("<S>", "#s")


LIST_OPERATIONS = [
    ("slice", lambda s: s[1:4]),
    ("set a slice to more", lambda s: s.__setitem__(slice(1, 3), [7, 8, 9])),
    ("set a slice to fewer", lambda s: s.__setitem__(slice(0, 4), ["x"])),
    ("set an extended slice", lambda s: s.__setitem__(slice(None, None, 2), [0, 0, 0])),
    ("set an extended slice of the wrong length", lambda s: s.__setitem__(slice(None, None, 2), [0])),
    ("del a slice", lambda s: s.__delitem__(slice(1, None, 2))),
    ("index", lambda s: s.index(3)),
    ("index from", lambda s: s.index(1, 1)),
    ("index missing", lambda s: s.index(42)),
    ("count", lambda s: s.count(1)),
    ("remove", lambda s: s.remove(1)),
    ("remove missing", lambda s: s.remove(42)),
    ("clear", lambda s: s.clear()),
    ("reverse", lambda s: s.reverse()),
    ("sort", lambda s: s.sort()),
    ("sort with a key, reversed", lambda s: s.sort(key=lambda v: -v, reverse=True)),
    ("iadd", lambda s: s.__iadd__([5, 6]) is s),
    ("pop", lambda s: (s.pop(), s.pop(0))),
    ("insert", lambda s: s.insert(-2, 0.5)),
    ("contains", lambda s: (3 in s, 42 in s)),
]


@pytest.mark.parametrize("name, operation", LIST_OPERATIONS, ids=[n for n, _ in LIST_OPERATIONS])
def test_list_methods_do_what_list_methods_do(name, operation):
    values = [1, 2, 3, 1, 4]
    items, plain = zrx.List(values, tag="<L>"), list(values)
    assert outcome(operation, items) == outcome(operation, plain), name
    assert list(items) == plain and items.tag == "<L>"


def test_a_slice_keeps_the_nodes_it_moves():
    child, block = zrx.Structure("<C>"), zrx.RawText("t")
    items = zrx.List([child, 1, block])
    items[0:2] = [block, "new"]
    assert items[0] is block and items[2] is block  # a raw text may stand twice in Python
    del items[1:]
    items[:0] = [child]
    assert items[0] is child and len(items) == 2


def cyclic_document():
    """A root whose parts name the root, share one mesh and hold a tagged array; a list of them."""
    root = zrx.Structure("<Scene>", id="#root")
    mesh = zrx.Structure("<Mesh>", [("v", zrx.set_array_tag(np.array([0.5, np.nan]), "<V>"))],
                         id="#mesh")
    parts = zrx.List([zrx.Structure("<Part>", [("mesh", mesh), ("up", root), ("k", i)])
                      for i in range(2)], tag="<Parts>")
    root["parts"] = parts
    root["self"] = root
    root["code"] = zrx.RawText("x", tag="<C>")
    return zrx.Document([root], {"Authoring_Tool": "t", "owner": zrx.Ref("#root")})


def shape_holds(doc):
    """The copy is a tree of its own with the original's sharing and cycles."""
    root = doc.structures[0]
    first, second = root["parts"]
    assert root["self"] is root and first["up"] is root and second["up"] is root
    assert first["mesh"] is second["mesh"]
    assert zrx.array_tag(first["mesh"]["v"]) == "<V>"


@pytest.mark.parametrize("how", [
    copy.deepcopy, lambda doc: pickle.loads(pickle.dumps(doc)),
    lambda doc: pickle.loads(pickle.dumps(doc, protocol=2)),
], ids=["deepcopy", "pickle", "pickle-2"])
def test_deep_copies_and_pickles_of_cyclic_documents_are_equal_and_apart(how):
    doc = cyclic_document()
    other = how(doc)
    assert other == doc and other.structures[0] == doc.structures[0]
    assert other.structures[0] is not doc.structures[0]
    shape_holds(other)
    other.structures[0]["parts"][0]["k"] = 5
    assert other != doc and doc.structures[0]["parts"][0]["k"] == 0
    mesh = other.structures[0]["parts"][0]["mesh"]
    assert not np.shares_memory(mesh["v"], doc.structures[0]["parts"][0]["mesh"]["v"])


def test_shallow_copies_share_the_values():
    st = zrx.Structure("<S>", [("child", zrx.Structure("<C>")), ("n", 1)], id="#s")
    again = st.copy()
    assert again == st and again is not st and again["child"] is st["child"]
    items = zrx.List([st], tag="<L>")
    assert items.copy()[0] is st and items.copy() == items


@pytest.mark.parametrize("change", [
    lambda root: root.__setitem__("extra", 1),
    lambda root: setattr(root, "tag", "<Other>"),
    lambda root: setattr(root, "id", "#other"),
    lambda root: root["parts"][1].__setitem__("k", 1.0),  # 1 and 1.0 are kinds apart
    lambda root: root["code"].__setattr__("text", "y"),
    lambda root: root["parts"][0]["mesh"]["v"].__setitem__(0, 0.25),
    lambda root: zrx.set_array_tag(root["parts"][0]["mesh"]["v"], "<W>"),
    lambda root: root["parts"].append(None),
    lambda root: setattr(root["parts"][0], "id", "#p"),
])
def test_equality_sees_every_difference(change):
    doc, other = cyclic_document(), cyclic_document()
    assert doc == other
    change(other.structures[0])
    assert doc != other and doc.structures[0] != other.structures[0]


def test_equality_follows_sharing_and_cycles_without_ending_in_a_loop():
    a, b = zrx.Structure("<N>", id="#n"), zrx.Structure("<N>", id="#n")
    a["next"], b["next"] = a, b
    assert a == b
    c = zrx.Structure("<N>", id="#n")
    c["next"] = zrx.Structure("<N>", id="#n", entries=[("next", c)])
    assert a == c  # unrolled once: the same values all the way
    assert zrx.Structure("<A>") != zrx.List() and zrx.List() == zrx.List()
    with pytest.raises(TypeError):
        hash(a)
