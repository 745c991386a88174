"""File objects, JSON, finding structures, differences, the metadata of a new document, and writes
running beside other threads."""

import io
import json
import threading
import time

import numpy as np
import pytest

import zrx
from conftest import scene


@pytest.mark.parametrize("fmt", ["zrt", "zrb", "json"])
def test_file_objects_read_and_write_like_paths(tmp_path, fmt):
    doc = scene()
    buffer = io.BytesIO()
    zrx.write(doc, buffer, format=fmt)
    assert buffer.getvalue() == zrx.write_bytes(doc, fmt)
    with open(tmp_path / f"scene.{fmt}", "wb") as out:
        zrx.write(doc, out)  # the format from the file's name
    with open(tmp_path / f"scene.{fmt}", "rb") as source:
        assert zrx.read(source) == doc
    assert zrx.read(io.BytesIO(buffer.getvalue())) == doc
    with pytest.raises(ValueError, match="cannot tell the format"):
        zrx.write(doc, io.BytesIO())
    with pytest.raises(TypeError, match="binary mode"):
        zrx.read(io.StringIO("{}"))


def test_json_is_the_tools_mapping_and_reads_back():
    doc = scene()
    text = zrx.to_json(doc)
    tree = json.loads(text)
    assert tree["zrx"] == 101 and dict(tree["metadata"])["Authoring_Tool"] == "tests"
    root = tree["structures"][0]
    assert root["tag"] == "<Scene>" and root["id"] == "#root"
    parts = dict(root["structure"])["parts"]["list"]
    assert parts[1]["structure"][1][1] == {"ref": "#mesh"}  # shared: written once, then named
    back = zrx.from_json(text)
    assert back == doc and back.structures[0]["parts"][0]["mesh"] is back.structures[0]["parts"][1]["mesh"]
    assert zrx.from_json(text.encode(), link=False).structures[0]["parts"][1]["mesh"] == zrx.Ref("#mesh")
    with pytest.raises(zrx.ParseError, match="line 1, column"):
        zrx.from_json('{"zrx": 101, "oops": 1}')
    with pytest.raises(zrx.ParseError, match="must start with"):
        zrx.from_json("[]")


def test_find_iter_and_find_all_follow_document_order():
    doc = scene()
    root = doc.structures[0]
    parts = root["parts"]
    assert doc.find("<Mesh>") is parts[0]["mesh"] and doc.find("<None>") is None
    assert [st.tag for st in doc.iter()] == ["<Scene>", "<Part>", "<Mesh>", "<Part>"]
    assert doc.find_all("<Part>") == [parts[0], parts[1]] and parts.find_all("<Mesh>") == [parts[0]["mesh"]]
    walk = root.iter("<Part>")
    assert next(walk) is parts[0]
    parts[1]["extra"] = zrx.Structure("<Late>")  # lazy: what is reached later is seen as it is then
    assert [st.tag for st in walk] == ["<Part>"] and root.find("<Late>") is not None


def test_diff_gives_the_tools_lines():
    a, b = scene(), scene()
    assert zrx.diff(a, b) == []
    b.structures[0]["scale"] = 2.0
    b.structures[0]["parts"][1]["mesh"] = zrx.Structure("<Mesh>", id="#other")
    b.metadata["Creation_Date"] = "later"
    lines = zrx.diff(a, b)
    assert "/<Scene>/scale: 1.5 -> 2.0" in lines
    assert any(line.startswith("/<Scene>/parts[1]/mesh: <Mesh> structure (also at ") for line in lines)
    assert not any("Creation_Date" in line for line in zrx.diff(a, b, ignore=["Creation_Date"]))
    assert zrx.diff(a, b, max_lines=1)[1:] == [f"... and {len(lines) - 1} more differences"]


def test_a_new_document_gets_the_standard_metadata_when_written():
    doc = zrx.Document([zrx.Structure("<A>")])
    back = zrx.read_bytes(zrx.write_bytes(doc, "zrb"))
    assert set(back.metadata) == {"Authoring_Tool", "Creation_Date", "ZR_Serializer_Version"}
    assert back.metadata["Authoring_Tool"] == zrx.AUTHORING_TOOL
    assert back.metadata["ZR_Serializer_Version"] == 101 and doc.metadata == {}
    again = zrx.read_bytes(zrx.write_bytes(back, "zrt", authoring_tool="Pipeline 3"))
    assert again.metadata["Authoring_Tool"] == "Pipeline 3"
    assert again.metadata["Creation_Date"] == back.metadata["Creation_Date"]  # read: kept
    assert zrx.write_bytes(back, "zrb") == zrx.write_bytes(zrx.read_bytes(zrx.write_bytes(back, "zrb")), "zrb")


def test_refusals_name_the_place_in_python_words(tmp_path):
    root = zrx.Structure("<Scene>", [("parts", [zrx.Structure("<Part>", [("radius", float("nan"))])])])
    with pytest.raises(zrx.WriteRefused) as error:
        zrx.write_bytes(zrx.Document([root, zrx.Structure("<Scene>")]), "zrt")
    assert str(error.value) == ("cannot write ZRT: NaN at /<Scene>[0]/parts[0]/radius; the text "
                                "format has no form for a real that is not finite.")
    assert error.value.messages[0].startswith("VisitorExportToZRT: NaN at /<Scene>[0]/")
    shared = zrx.List([1])
    with pytest.raises(zrx.WriteRefused, match=r"^cannot write ZRB: untagged list is reached a "
                                               r"second time at /<A>/b@2; a list"):
        zrx.write_bytes(zrx.Document([zrx.Structure("<A>", [("b", shared), ("b", shared)])]), "zrb")
    with pytest.raises(zrx.WriteRefused, match=r"an infinity at /<A>/v\[1\] in untagged real array"):
        zrx.write_bytes(zrx.Document([zrx.Structure("<A>", [("v", np.array([1, np.inf]))])]), "zrt")


def test_writes_run_beside_threads_that_change_and_read_other_trees():
    arrays = [np.zeros(1_000_000), np.ones(1_000_000)]
    big = zrx.Document([zrx.Structure("<Big>", [("v", arrays[0])])], {"Creation_Date": "-"})
    root = big.structures[0]
    # A write sees the tree before or after each change, never in between.
    expected = set()
    for array in arrays:
        root["v"] = array
        expected.add(zrx.write_bytes(big, "zrb"))
    small = zrx.Structure("<Small>", [("n", 0)])
    stop, failures = threading.Event(), []

    def writer():
        for _ in range(10):
            if zrx.write_bytes(big, "zrb") not in expected:
                failures.append("a write differs")

    def changer():
        while not stop.is_set():
            small["n"] += 1  # another tree
            # The tree being written: a new array node replaces the one a write may be reading
            # (and frees it), so this waits for the writes to end.
            root["v"] = arrays[small["n"] % 2]

    threads = [threading.Thread(target=writer) for _ in range(3)] + [threading.Thread(target=changer)]
    for thread in threads:
        thread.start()
    for thread in threads[:3]:
        thread.join()
    stop.set()
    threads[3].join()
    assert failures == [] and small["n"] > 0


def test_a_write_lets_other_threads_run():
    big = zrx.Document([zrx.Structure("<Big>", [("v", np.arange(4e6))])], {"Creation_Date": "-"})
    ticks = []
    done = threading.Event()

    def ticker():
        while not done.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0.0005)

    thread = threading.Thread(target=ticker)
    thread.start()
    time.sleep(0.01)
    start = time.perf_counter()
    for _ in range(3):
        zrx.write_bytes(big, "zrt")
    end = time.perf_counter()
    done.set()
    thread.join()
    assert sum(start < t < end for t in ticks) > 3  # the ticker ran during the writes


def test_a_change_waits_for_the_write_of_its_tree(tmp_path):
    doc = zrx.Document([zrx.Structure("<Big>", [("v", np.arange(4e6))])], {"Creation_Date": "-"})
    root = doc.structures[0]
    for _ in range(5):
        times = {}

        def write():
            times["start"] = time.perf_counter()
            zrx.write(doc, tmp_path / "big.zrt")  # the write ends with its file
            times["end"] = time.perf_counter()

        thread = threading.Thread(target=write)
        thread.start()
        time.sleep(0.03)
        root["n"] = 1  # waits while the write runs
        changed = time.perf_counter()
        thread.join()
        if changed > times["start"]:  # else the write had not begun: try again
            # Waited until the write was done (give or take the thread switch after it).
            took = times["end"] - times["start"]
            assert changed - times["start"] >= 0.8 * took, (changed - times["start"], took)
            return
    pytest.skip("the write never began before the change")
