"""The tree as Python objects: the type mapping, Structure, List and RawText, identity, texts."""

import numpy as np
import pytest

import zrx

HEADER = b"ZRX version=101 encoding=ascii\n"


def through(fmt, value):
    """`value` stored in a structure, written in `fmt`, read back."""
    doc = zrx.Document([zrx.Structure("<A>", [("v", value)])])
    return zrx.read_bytes(zrx.write_bytes(doc, fmt)).structures[0]["v"]


# Python value in, the type and value that come back (None: equal to what went in).
MAPPING = [
    (True, bool, None), (False, bool, None),
    (0, int, None), (-2**63, int, None), (2**63 - 1, int, None),
    (1.5, float, None), (-0.25, float, None),
    ("text", str, None), ("h\u00e9 \u2603", str, None), (b"bytes", str, "bytes"),
    (zrx.Identifier("Opaque"), zrx.Identifier, None),
    (None, type(None), None),
    (np.int32(-7), int, -7), (np.uint8(200), int, 200), (np.float32(0.5), float, 0.5),
    (np.bool_(True), bool, True),
]


@pytest.mark.parametrize("fmt", ["zrt", "zrb"])
@pytest.mark.parametrize("value, kind, expected", MAPPING)
def test_scalars_map_to_python_types(fmt, value, kind, expected):
    back = through(fmt, value)
    assert type(back) is kind
    assert back == (value if expected is None else expected)


@pytest.mark.parametrize("fmt", ["zrt", "zrb"])
def test_nodes_map_to_their_classes(fmt):
    raw = zrx.RawText("line\n", tag="<Code>")
    back = through(fmt, [1, "two", [3.0], raw, zrx.Structure("<S>", [("k", 1)])])
    assert isinstance(back, zrx.List) and len(back) == 5
    assert back[0] == 1 and back[1] == "two"
    assert isinstance(back[2], zrx.List) and back[2][0] == 3.0
    assert isinstance(back[3], zrx.RawText) and (back[3].tag, back[3].text) == ("<Code>", "line\n")
    assert isinstance(back[4], zrx.Structure) and back[4]["k"] == 1
    ints, reals = through(fmt, np.arange(3)), through("zrb", np.linspace(0, 1, 3))
    assert (ints.dtype, reals.dtype) == (np.int64, np.float64)


@pytest.mark.parametrize("value, error, message", [
    ({}, TypeError, "a dict cannot be stored"),
    ({1}, TypeError, "a set cannot be stored"),
    (object(), TypeError, "a object cannot be stored"),
    (1j, TypeError, "a complex cannot be stored"),
    (np.array([True]), TypeError, "dtype bool has no ZRX kind"),
    (np.array(["a"]), TypeError, "has no ZRX kind"),
    (np.array([1j]), TypeError, "has no ZRX kind"),
    ([1, {}], TypeError, "a dict cannot be stored"),
    (2**63, OverflowError, ""),
    (np.array([2**63], dtype=np.uint64), ValueError, "beyond the 64-bit signed range"),
    ("\ud800", UnicodeEncodeError, ""),
])
def test_values_of_no_zrx_kind_are_refused(value, error, message):
    st = zrx.Structure("<A>", [("kept", 1)])
    with pytest.raises(error, match=message):
        st["kept"] = value
    with pytest.raises(error):
        st.append("new", value)
    with pytest.raises(error):
        zrx.List().append(value)
    assert list(st) == [("kept", 1)]


def test_names_must_be_texts():
    st = zrx.Structure()
    with pytest.raises(TypeError, match="a key must be str or bytes"):
        st[1] = 2
    with pytest.raises(TypeError, match="a tag must be str or bytes"):
        st.tag = 5
    with pytest.raises(TypeError, match="an ID must be str or bytes"):
        st.id = 5
    with pytest.raises(TypeError, match="an identifier must be str or bytes"):
        zrx.Identifier(3)
    assert 1 not in st


def test_structure_entries_keep_order_and_duplicates():
    st = zrx.Structure("<S>", [("a", 1), ("b", 2)])
    st.append("a", 3)  # a second "a"
    st["b"] = 20       # replaces the first "b"
    st["c"] = 4        # appends
    assert list(st) == [("a", 1), ("b", 20), ("a", 3), ("c", 4)]
    assert (st["a"], st.get_all("a"), st.keys()) == (1, [1, 3], ["a", "b", "a", "c"])
    assert (st.get("x"), st.get("x", 7), "a" in st, "x" in st, len(st)) == (None, 7, True, False, 4)
    del st["a"]        # the first "a"
    assert list(st) == [("b", 20), ("a", 3), ("c", 4)]
    with pytest.raises(KeyError):
        st["x"]
    with pytest.raises(KeyError):
        del st["x"]
    # Order and duplicates survive both formats.
    for fmt in ("zrt", "zrb"):
        back = zrx.read_bytes(zrx.write_bytes(zrx.Document([st]), fmt)).structures[0]
        assert list(back) == list(st)


def test_structures_are_made_from_pairs_or_a_dict():
    assert list(zrx.Structure("<A>", {"a": 1, "b": 2})) == [("a", 1), ("b", 2)]
    assert zrx.Structure(entries=[["k", "v"]])["k"] == "v"
    for bad in (["ab"], [("k",)], [1]):
        with pytest.raises(TypeError, match="a \\(key, value\\) pair"):
            zrx.Structure("<A>", bad)


def test_structure_tag_and_id():
    st = zrx.Structure()
    assert (st.tag, st.id, st.line) == ("", None, 0)
    st.tag, st.id = "<Mesh>", "#m"
    assert (st.tag, st.id) == ("<Mesh>", "#m")
    st.id = None
    assert st.id is None
    doc = zrx.read_bytes(HEADER + b"\n<A>\n{\n  ID = #a\n  me = #a\n}")
    assert (doc.structures[0].line, doc.structures[0].id) == (4, "#a")  # the line of its {


def test_list_behaves_like_a_python_list():
    items = zrx.List([0, 1, 2], tag="<L>")
    items.append(3)
    items.extend([4, 5])
    items.insert(0, -1)
    items.insert(-1, 4.5)
    items.insert(100, 6)
    assert list(items) == [-1, 0, 1, 2, 3, 4, 4.5, 5, 6]
    assert (items[0], items[-1], items[1:4], items[::-3]) == (-1, 6, [0, 1, 2], [6, 4, 1])
    items[1] = "zero"
    del items[-2]
    assert (items.pop(), items.pop(0), items.tag) == (6, -1, "<L>")
    assert list(items) == ["zero", 1, 2, 3, 4, 4.5]
    for bad in (lambda: items[6], lambda: items[-7], lambda: items.__setitem__(6, 0),
                lambda: items.__delitem__(6), lambda: zrx.List().pop()):
        with pytest.raises(IndexError):
            bad()


def test_raw_text_is_verbatim():
    block = zrx.RawText("a {< b >} \\ c\n", tag="<T>")
    block.text += "more"
    back = zrx.read_bytes(zrx.write_bytes(zrx.Document([zrx.Structure("<A>", [("r", block)])]),
                                          "zrb")).structures[0]["r"]
    assert (back.text, back.tag) == ("a {< b >} \\ c\nmore", "<T>")


def test_identifier_and_ref_are_values_of_their_own():
    assert zrx.Identifier("a") == zrx.Identifier("a") != zrx.Identifier("b")
    assert zrx.Identifier("a") != "a" and zrx.Ref("#a") != "#a" and zrx.Ref("#a") != zrx.Identifier("a")
    assert len({zrx.Identifier("a"), zrx.Identifier("a"), zrx.Ref("#a")}) == 2
    assert (repr(zrx.Identifier("x")), str(zrx.Ref("#x")), zrx.Ref("#x").id) == (
        "zrx.Identifier('x')", "#x", "#x")


def test_a_structure_reached_twice_is_one_python_object():
    doc = zrx.read_bytes(HEADER + b"<A> { ID = #a  kids = [ <B> { ID = #b up = #a } #b ] }")
    root = doc.structures[0]
    kids = root["kids"]
    assert kids[0] is kids[1]
    assert kids[0]["up"] is root
    assert root["kids"] is kids  # the same list node, the same object
    assert doc.walk() == [root, kids[0]]


def test_walk_visits_each_structure_once_in_document_order():
    leaf = zrx.Structure("<Leaf>", id="#leaf")
    mid = zrx.Structure("<Mid>", [("leaf", leaf), ("again", [leaf, [leaf]])])
    root = zrx.Structure("<Root>", [("first", mid), ("second", zrx.Structure("<Other>")),
                                    ("leaf", leaf)])
    root["self"] = root
    assert [st.tag for st in root.walk()] == ["<Root>", "<Mid>", "<Leaf>", "<Other>"]
    assert [st.tag for st in mid["again"].walk()] == ["<Leaf>"]


def test_texts_keep_every_byte():
    # ZRB carries any byte in keys, tags, IDs and texts: bytes that are not UTF-8 come to Python as
    # surrogateescape, and go back as the same bytes.
    # Python sets only names that ZRT can hold, so the odd names are put into the bytes.
    raw = b"\xff\xfe\x00\x80 ok"
    st = zrx.Structure(b"<Q>", [(b"k" * len(raw), raw), (b"i", zrx.Identifier(b"j" * len(raw)))],
                       id=b"#Z")
    st["r"] = zrx.RawText(raw)
    data = zrx.write_bytes(zrx.Document([st], {"k": 1}), "zrb")
    for placeholder, odd in ((b"<Q>", b"<\xc3>"), (b"k" * len(raw), raw), (b"j" * len(raw), raw),
                             (b"#Z", b"#\xfa")):
        assert data.count(placeholder) == 1
        data = data.replace(placeholder, odd)
    back = zrx.read_bytes(data).structures[0]
    text = raw.decode("utf-8", "surrogateescape")
    assert back.keys() == [text, "i", "r"]
    assert (back[text], back["i"].name, back["r"].text) == (text, text, text)
    assert (back.tag, back.id) == ("<\udcc3>", "#\udcfa")
    assert zrx.write_bytes(zrx.read_bytes(data), "zrb") == data
    assert back[raw] == text  # bytes keys find the same entry


def test_python_code_that_changes_the_tree_during_a_conversion_cannot_break_it():
    st = zrx.Structure("<A>", [("a", 1)])

    class Sneaky:
        def __index__(self):
            for i in range(100):
                st.append(f"k{i}", i)
            del st["a"]
            return 42

    st["a"] = Sneaky()  # "a" is gone meanwhile: the value is appended
    assert len(st) == 101 and st["a"] == 42
    items = zrx.List([1, 2, 3])

    class Shrinker:
        def __index__(self):
            while len(items):
                items.pop()
            return 7

    with pytest.raises(IndexError):
        items[2] = Shrinker()


def test_objects_never_initialised_are_refused():
    blank = zrx.Structure.__new__(zrx.Structure)
    with pytest.raises(TypeError, match="never initialised"):
        zrx.Structure("<A>")["x"] = blank
    with pytest.raises(TypeError, match="never initialised"):
        zrx.write_bytes(zrx.Document([blank]), "zrb")
    for call in (lambda: len(blank), lambda: blank.tag, lambda: blank["x"], lambda: blank.walk()):
        with pytest.raises((TypeError, RuntimeError)):
            call()
    with pytest.raises(TypeError):
        class Derived(zrx.Structure):  # noqa: F841 - the classes are final
            pass
