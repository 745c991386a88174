"""Arrays as numpy arrays over the document's own memory."""

import gc

import numpy as np
import pytest

import zrx
from conftest import scene

HEADER = b"ZRX version=101 encoding=ascii\n"


def mesh_of(doc):
    return doc.structures[0]["parts"][0]["mesh"]


@pytest.mark.parametrize("fmt", ["zrt", "zrb"])
def test_arrays_read_are_views_of_the_document(fmt):
    doc = zrx.read_bytes(zrx.write_bytes(scene(), fmt))
    mesh = mesh_of(doc)
    vertices, indices = mesh["vertices"], mesh["indices"]
    assert (vertices.dtype, indices.dtype, vertices.shape) == (np.float64, np.int64, (4,))
    assert not vertices.flags.owndata and vertices.flags.writeable
    # Two reads of one entry are two views of the same memory: nothing was copied.
    assert np.shares_memory(vertices, mesh["vertices"])
    assert np.shares_memory(indices, doc.structures[0]["parts"][1]["mesh"]["indices"])
    assert zrx.array_tag(vertices) == "<Vertices>" and zrx.array_tag(indices) == ""


@pytest.mark.parametrize("fmt", ["zrt", "zrb"])
def test_a_change_through_numpy_is_what_gets_written(fmt):
    doc = zrx.read_bytes(zrx.write_bytes(scene(), fmt))
    vertices = mesh_of(doc)["vertices"]
    vertices *= 4
    vertices[0] = -1
    mesh_of(doc)["indices"][:] += 10
    back = mesh_of(zrx.read_bytes(zrx.write_bytes(doc, fmt)))
    np.testing.assert_array_equal(back["vertices"], [-1, 6, -9, 12])
    np.testing.assert_array_equal(back["indices"], [10, 11, 12, 11, 12, 13])


def test_a_view_keeps_its_array_alive_after_the_document_is_gone():
    doc = zrx.read_bytes(zrx.write_bytes(scene(), "zrb"))
    vertices = mesh_of(doc)["vertices"]
    reshaped = mesh_of(doc)["indices"].reshape(2, 3)
    del doc
    gc.collect()
    zrx.collect()
    filler = [zrx.Structure("<F>", [("v", np.zeros(4))]) for _ in range(1000)]  # reuse freed memory
    np.testing.assert_array_equal(vertices, [0.5, 1.5, -2.25, 3.0])
    np.testing.assert_array_equal(reshaped, [[0, 1, 2], [1, 2, 3]])
    vertices[1] = 7  # still writable memory of its own node
    assert vertices[1] == 7 and len(filler) == 1000


def test_views_cannot_be_resized():
    mesh = mesh_of(zrx.read_bytes(zrx.write_bytes(scene(), "zrb")))
    vertices = mesh["vertices"]
    with pytest.raises(ValueError):
        vertices.resize(100)
    # Assigning another array replaces the node: the old view stays valid and unchanged.
    mesh["vertices"] = np.arange(100.0)
    np.testing.assert_array_equal(vertices, [0.5, 1.5, -2.25, 3.0])
    assert len(mesh["vertices"]) == 100 and not np.shares_memory(vertices, mesh["vertices"])


def test_a_whole_view_assigned_back_is_its_own_node():
    mesh = mesh_of(zrx.read_bytes(zrx.write_bytes(scene(), "zrb")))
    vertices = mesh["vertices"]
    mesh["vertices"] = vertices               # the same node: no copy, the tag kept
    mesh["grid"] = vertices.reshape(2, 2)     # a whole view in another shape: still the node
    mesh["half"] = vertices[::2]              # part of it: a copy
    assert np.shares_memory(mesh["vertices"], vertices) and np.shares_memory(mesh["grid"], vertices)
    assert zrx.array_tag(mesh["grid"]) == "<Vertices>"
    assert not np.shares_memory(mesh["half"], vertices)
    np.testing.assert_array_equal(mesh["half"], [0.5, -2.25])


def test_a_new_array_is_copied_and_takes_the_tag_of_the_array_it_replaces():
    mesh = mesh_of(zrx.read_bytes(zrx.write_bytes(scene(), "zrb")))
    source = mesh["vertices"] * 2
    mesh["vertices"] = source
    assert not np.shares_memory(mesh["vertices"], source)
    assert zrx.array_tag(mesh["vertices"]) == "<Vertices>"
    mesh["indices"] = source  # another kind: no tag taken over
    assert (mesh["indices"].dtype, zrx.array_tag(mesh["indices"])) == (np.float64, "")
    items = zrx.List([zrx.set_array_tag(np.arange(3), "<I>")])
    items[0] = np.arange(5)
    assert zrx.array_tag(items[0]) == "<I>"


@pytest.mark.parametrize("array, dtype, values", [
    (np.array([1, 2], dtype=np.int8), np.int64, [1, 2]),
    (np.array([2**63 - 1], dtype=np.uint64), np.int64, [2**63 - 1]),
    (np.array([0.5, 1.5], dtype=np.float32), np.float64, [0.5, 1.5]),
    (np.arange(6).reshape(2, 3).T, np.int64, [0, 3, 1, 4, 2, 5]),  # flattened in C order
    (np.array([], dtype=np.float64), np.float64, []),
    (np.array(5), np.int64, [5]),
])
def test_arrays_of_other_dtypes_and_shapes_are_converted(array, dtype, values):
    st = zrx.Structure("<A>", [("a", array)])
    back = zrx.read_bytes(zrx.write_bytes(zrx.Document([st]), "zrb")).structures[0]["a"]
    assert back.dtype == dtype and back.ndim == 1
    np.testing.assert_array_equal(back, values)


def test_set_array_tag():
    plain = np.arange(4.0)
    tagged = zrx.set_array_tag(plain, "<W>")
    assert zrx.array_tag(plain) is None  # a plain numpy array views no node
    assert zrx.array_tag(tagged) == "<W>" and not np.shares_memory(plain, tagged)
    assert zrx.set_array_tag(tagged, "<V>") is tagged and zrx.array_tag(tagged) == "<V>"
    st = zrx.Structure("<A>", [("w", tagged)])
    text = zrx.write_bytes(zrx.Document([st]), "zrt")
    assert b"w = <V> ( 0.000000 1.000000 2.000000 3.000000 )" in text
    with pytest.raises(TypeError):
        zrx.array_tag([1, 2])
    with pytest.raises(TypeError, match="has no ZRX kind"):
        zrx.set_array_tag(np.array([True]), "<B>")


def test_empty_arrays_are_views_too():
    doc = zrx.read_bytes(HEADER + b"<A> { e = <E> ( ) }")
    st = doc.structures[0]
    empty = st["e"]
    assert (empty.dtype, empty.size, zrx.array_tag(empty)) == (np.int64, 0, "<E>")
    st["e"] = empty
    assert b"e = <E> ( )" in zrx.write_bytes(doc, "zrt")
