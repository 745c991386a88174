"""Names the text format cannot hold are refused where they are set, so that every tree made in
Python can be written in both formats; names read from a file stay as they are."""

import numpy as np
import pytest

import zrx

# (what is set, the bad name, the rule quoted)
REFUSED = [
    ("structure tag", lambda n: zrx.Structure(n), "Mesh", "a tag is '<'"),
    ("structure tag", lambda n: zrx.Structure(n), "<My Mesh>", "a tag is '<'"),
    ("tag set", lambda n: setattr(zrx.Structure(), "tag", n), "<a-b>", "a tag is '<'"),
    ("list tag", lambda n: zrx.List(tag=n), "L", "a tag is '<'"),
    ("list tag set", lambda n: setattr(zrx.List(), "tag", n), "<L", "a tag is '<'"),
    ("raw text tag", lambda n: zrx.RawText("x", tag=n), "<\u00e9>", "a tag is '<'"),
    ("array tag", lambda n: zrx.set_array_tag(np.arange(2), n), "V", "a tag is '<'"),
    ("ID", lambda n: zrx.Structure("<A>", id=n), "foo", "an ID is '#'"),
    ("ID set", lambda n: setattr(zrx.Structure(), "id", n), "#_", "an ID is '#'"),
    ("reference", lambda n: zrx.Ref(n), "nohash", "an ID is '#'"),
    ("key", lambda n: zrx.Structure("<A>", [(n, 1)]), "two words", "a key is a letter"),
    ("key", lambda n: zrx.Structure("<A>", {n: 1}), "ID", "a key is a letter"),
    ("key set", lambda n: zrx.Structure("<A>").__setitem__(n, 1), "id", "a key is a letter"),
    ("key appended", lambda n: zrx.Structure("<A>").append(n, 1), "true", "a key is a letter"),
    ("key updated", lambda n: zrx.Structure("<A>").update({n: 1}), "1st", "a key is a letter"),
    ("identifier", lambda n: zrx.Identifier(n), "false", "an identifier is a letter"),
    ("identifier", lambda n: zrx.Identifier(n), "_", "an identifier is a letter"),
]


@pytest.mark.parametrize("what, set_name, name, rule", REFUSED,
                         ids=[f"{w}-{n}" for w, _, n, _ in REFUSED])
def test_names_the_text_format_cannot_hold_are_refused_when_set(what, set_name, name, rule):
    with pytest.raises(ValueError) as error:
        set_name(name)
    assert str(error.value).startswith(f"{name!r} is not a valid ")
    assert rule in str(error.value)


def test_valid_names_pass_and_no_tag_is_a_tag_of_its_own():
    st = zrx.Structure("<a:B_1>", [("_k", zrx.Identifier("Opaque"))], id="#")
    st.tag, st.id = "<>", "#_a"
    st["Id2"] = zrx.Ref("#NULL")
    assert (zrx.Structure("").tag, zrx.List(tag=None).tag, zrx.RawText().tag) == ("", "", "")
    for fmt in ("zrt", "zrb"):
        zrx.write_bytes(zrx.Document([st]), fmt)


def test_names_read_from_a_file_stay_and_can_be_replaced():
    data = zrx.write_bytes(zrx.Document([zrx.Structure("<A>", [("kk", 1)])]), "zrb")
    st = zrx.read_bytes(data.replace(b"\x02kk", b"\x02k-")).structures[0]
    st["k-"] = 2  # the entry is there: no new name is set
    assert st.items() == [("k-", 2)]
    with pytest.raises(zrx.WriteRefused, match="key 'k-' at /<A>/k-"):
        zrx.write_bytes(zrx.Document([st]), "zrt")
    assert zrx.read_bytes(zrx.write_bytes(zrx.Document([st]), "zrb")).structures[0] == st
