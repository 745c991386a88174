"""Reading, writing and telling the formats apart, and the exceptions of each."""

import re
import threading

import numpy as np
import pytest

import zrx
from conftest import METADATA, scene

HEADER = b"ZRX version=101 encoding=ascii\n"
SCENE_ZRB = zrx.write_bytes(scene(), "zrb")


@pytest.mark.parametrize("fmt", ["zrt", "zrb"])
def test_a_document_goes_through_a_file_in_both_formats(tmp_path, scene_doc, fmt):
    path = tmp_path / f"scene.{fmt}"
    zrx.write(scene_doc, path)
    assert zrx.detect(path) == fmt
    assert path.read_bytes() == zrx.write_bytes(scene_doc, fmt)

    doc = zrx.read(str(path))
    assert (doc.version, doc.encoding) == (101, "ascii")
    assert doc.metadata == METADATA
    [root] = doc.structures
    assert (root.tag, root["name"], root["scale"], root["visible"]) == ("<Scene>", "demo", 1.5, True)
    assert root["blend"] == zrx.Identifier("Opaque")
    assert root["shader"].text == "void main() {}\n" and root["shader"].tag == "<GLSL>"
    first, second = root["parts"]
    assert first["mesh"] is second["mesh"]  # linked: one structure reached from two places
    assert first["parent"] is root and second["parent"] is root
    np.testing.assert_array_equal(first["mesh"]["indices"], [0, 1, 2, 1, 2, 3])

    again = zrx.read_bytes(path.read_bytes())
    assert zrx.write_bytes(again, fmt) == path.read_bytes()


def test_read_bytes_takes_any_bytes_like_object():
    for data in (SCENE_ZRB, bytearray(SCENE_ZRB), memoryview(SCENE_ZRB)):
        assert zrx.read_bytes(data).structures[0]["name"] == "demo"
    with pytest.raises(TypeError):
        zrx.read_bytes(SCENE_ZRB.decode("latin-1"))


@pytest.mark.parametrize("name, fmt, written", [
    ("a.zrt", None, "zrt"), ("a.ZRB", None, "zrb"), ("a.txt", "zrb", "zrb"), ("a.zrt", "ZRB", "zrb"),
])
def test_write_takes_the_format_from_the_argument_or_the_extension(tmp_path, scene_doc, name, fmt,
                                                                   written):
    zrx.write(scene_doc, tmp_path / name, format=fmt)
    assert zrx.detect(tmp_path / name) == written


def test_write_rejects_wrong_arguments_before_touching_anything(tmp_path, scene_doc):
    with pytest.raises(ValueError, match="cannot tell the format"):
        zrx.write(scene_doc, tmp_path / "a.txt")
    with pytest.raises(ValueError, match="'zrt', 'zrb' or 'json', not 'xml'"):
        zrx.write(scene_doc, tmp_path / "a.zrt", format="xml")
    with pytest.raises(TypeError, match="zrx.Document"):
        zrx.write(scene_doc.structures[0], tmp_path / "a.zrt")
    with pytest.raises(TypeError, match="only zrx.Structure"):
        zrx.write(zrx.Document(["<A>"]), tmp_path / "a.zrt")
    with pytest.raises(TypeError, match="metadata key"):
        zrx.write(zrx.Document(metadata={1: 2}), tmp_path / "a.zrt")
    with pytest.raises(TypeError, match="cannot be stored"):
        zrx.write(zrx.Document(metadata={"k": {}}), tmp_path / "a.zrt")
    with pytest.raises(ValueError, match="null byte"):
        zrx.write(scene_doc, str(tmp_path / "a\0.zrt"))
    assert list(tmp_path.iterdir()) == []


def test_detect_names_the_format_from_the_first_bytes(tmp_path):
    files = {"text": HEADER, "binary.zrt": SCENE_ZRB, "other.zrt": b"ZRX version", "empty": b""}
    for name, data in files.items():
        (tmp_path / name).write_bytes(data)
    assert {name: zrx.detect(tmp_path / name) for name in files} == {
        "text": "zrt", "binary.zrt": "zrb", "other.zrt": None, "empty": None}


@pytest.mark.parametrize("call", [zrx.read, zrx.detect])
def test_files_that_cannot_be_opened_raise_os_errors(tmp_path, call):
    with pytest.raises(FileNotFoundError) as missing:
        call(tmp_path / "none.zrt")
    assert missing.value.filename == str(tmp_path / "none.zrt")
    with pytest.raises(IsADirectoryError):
        call(tmp_path)


def test_a_failed_write_raises_os_error(tmp_path, scene_doc):
    for fmt in ("zrt", "zrb"):
        with pytest.raises(OSError, match="no-such-folder"):
            zrx.write(scene_doc, tmp_path / "no-such-folder" / "a.zrx", format=fmt)


# Documents that do not parse or link, and the library's message for each.
PARSE_ERRORS = [
    (HEADER + b"<A> { x = ( 1 2 x ) }", ["Line 2 : parse error at 'x'."]),
    (HEADER + b'<A> { s = "abc', ['Line 2 : end of file found before end of string, did you '
                                  'forget a "?.', "Line 2 : parse error at 'abc'."]),
    (b"ZRX version=101 encoding=utf8\n<A> { }", ["Line 1 : error parsing ZRT header at 'utf8'."]),
    (b"ZRX version=102 encoding=ascii\n<A> { }", ["ZRX version not supported."]),
    (HEADER + b"<A> { x = #nope }", ["Could not link ID '#nope' to anything!"]),
    (HEADER + b"<A> { ID = #a } <B> { ID = #a }",
     ["ID '#a' used by '<B>' is already assigned to another node '<A>'!"]),
    (SCENE_ZRB[:40], ["Error parsing binary file at offset 40."]),
    (b"plain text", ["'<bytes>' is neither a ZRT, a ZRB nor a JSON document."]),
    (b"", ["'<bytes>' is neither a ZRT, a ZRB nor a JSON document."]),
]


@pytest.mark.parametrize("data, messages", PARSE_ERRORS)
def test_parse_errors_carry_the_library_messages(data, messages):
    with pytest.raises(zrx.ParseError) as error:
        zrx.read_bytes(data)
    assert error.value.messages == messages
    assert str(error.value) == "\n".join(messages)
    assert error.value.path is None
    assert isinstance(error.value, zrx.Error)


def test_a_parse_error_of_a_file_starts_with_its_path(tmp_path):
    path = tmp_path / "broken.zrt"
    path.write_bytes(HEADER + b"<A> { x = ( 1 2 x ) }")
    with pytest.raises(zrx.ParseError) as error:
        zrx.read(path)
    assert str(error.value) == f"{path}: Line 2 : parse error at 'x'."
    assert error.value.path == str(path)


def test_many_messages_are_cut_in_the_text_and_kept_whole_in_messages():
    refs = b" ".join(b"k%d = #missing%d" % (i, i) for i in range(8))
    with pytest.raises(zrx.ParseError) as error:
        zrx.read_bytes(HEADER + b"<A> { " + refs + b" }")
    assert len(error.value.messages) == 8
    lines = str(error.value).split("\n")
    assert lines[:5] == error.value.messages[:5] and lines[5] == "(and 3 more)"


def test_without_linking_references_stay_ref_values():
    data = HEADER + b"<A> { ID = #a self = #a none = #NULL }"
    st = zrx.read_bytes(data, link=False).structures[0]
    assert (st["self"], st["none"]) == (zrx.Ref("#a"), zrx.Ref("#NULL"))
    linked = zrx.read_bytes(data).structures[0]
    assert linked["self"] is linked and linked["none"] is None
    assert linked.id == "#a"
    # References in the metadata are never linked.
    doc = zrx.read_bytes(HEADER + b"<Metadata> { owner = #a } <A> { ID = #a }")
    assert doc.metadata == {"owner": zrx.Ref("#a")}


def read_back_changed(structure, old, new):
    """`structure` written as ZRB with the bytes `old` changed to `new` (of the same length) and
    read back: names that Python refuses to set, as a file from elsewhere may hold them."""
    data = zrx.write_bytes(zrx.Document([structure]), "zrb")
    assert data.count(old) == 1
    return zrx.read_bytes(data.replace(old, new)).structures[0]


def refused_trees():
    shared, listed, top = zrx.Structure("<S>"), zrx.List(), zrx.Structure("<T>")
    return [
        ("zrt", [zrx.Structure("<A>", [("x", float("nan"))])],
         "VisitorExportToZRT: NaN at /<A>/x; the text format has no form for a real that is not "
         "finite."),
        ("zrt", [zrx.Structure("<A>", [("s", "a\0b")])],
         "VisitorExportToZRT: string at /<A>/s holds a NUL byte, which the text format cannot "
         "carry."),
        ("zrt", [read_back_changed(zrx.Structure("<Mesh>"), b"<Mesh>", b"(Mesh)")],
         "VisitorExportToZRT: tag '(Mesh)' at /(Mesh) is not a valid tag (a tag is '<', then "
         "letters, digits, '_' or ':', then '>')."),
        ("zrt", [read_back_changed(zrx.Structure("<A>", [("trux", 1)]), b"trux", b"true")],
         "VisitorExportToZRT: key 'true' at /<A>/true is not a valid key (a key is a letter or "
         "'_', then letters, digits and '_'; not '_', 'true', 'false' or 'ID' in any letter "
         "case)."),
        ("zrb", [zrx.Structure("<A>", [("a", shared), ("b", shared)])],
         "VisitorIDCounter: structure '<S>' without an ID is reached a second time at /<A>/b; "
         "only a structure with an ID can be shared."),
        ("zrb", [zrx.Structure("<A>", [("a", zrx.List([1, listed])), ("b", listed)])],
         "VisitorIDCounter: untagged list is reached a second time at /<A>/b; a list can stand "
         "in one place only."),
        ("zrt", [top, top],
         "VisitorIDCounter: top-level structure '<T>' is reached before; it cannot stand at the top "
         "level again."),
    ]


@pytest.mark.parametrize("fmt, structures, message", refused_trees())
def test_a_tree_the_format_cannot_hold_is_refused_and_the_file_kept(tmp_path, fmt, structures,
                                                                      message):
    path = tmp_path / f"kept.{fmt}"
    path.write_bytes(b"previous content")
    with pytest.raises(zrx.WriteRefused) as error:
        zrx.write(zrx.Document(structures), path)
    # The library's own line in `messages`; the text says what and where, in Python's words.
    assert error.value.messages[0] == message
    what = message.split(": ", 1)[1]
    assert str(error.value).split("\n")[0] == f"{path}: cannot write {fmt.upper()}: {what}"
    assert path.read_bytes() == b"previous content"
    assert [p.name for p in tmp_path.iterdir()] == ["kept." + fmt]
    with pytest.raises(zrx.WriteRefused, match="^" + re.escape(f"cannot write {fmt.upper()}: {what}")):
        zrx.write_bytes(zrx.Document(structures), fmt)


def test_reads_in_threads_keep_their_messages_apart():
    broken = {i: HEADER + b"<A> { x = #missing%d }" % i for i in range(4)}
    failures = []

    def reader(i):
        for _ in range(50):
            try:
                zrx.read_bytes(broken[i])
                failures.append(f"{i}: read")
            except zrx.ParseError as error:
                if error.messages != [f"Could not link ID '#missing{i}' to anything!"]:
                    failures.append(f"{i}: {error.messages}")
            if zrx.read_bytes(SCENE_ZRB).structures[0]["name"] != "demo":
                failures.append(f"{i}: scene")

    threads = [threading.Thread(target=reader, args=(i,)) for i in broken]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []
