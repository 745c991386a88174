"""Generated documents (the suite's TreeGen, through the C++ helper) read, changed and written from
Python, compared with the library's own reading by the suite's tree comparison."""

import numpy as np
import pytest

import zrx
from conftest import helper

SEEDS = range(1, 9)


def generated(tmp_path, seed, fmt):
    path = tmp_path / f"generated_{seed}.{fmt}"
    status, output = helper("generate", seed, fmt, path)
    assert status == 0, output
    return path


def ids_for(fmt):
    return "referenced" if fmt == "zrt" else "exact"  # text keeps only the IDs that are needed


@pytest.mark.parametrize("seed", SEEDS)
@pytest.mark.parametrize("source, target", [("zrb", "zrb"), ("zrt", "zrt"), ("zrt", "zrb")])
def test_read_then_write_gives_the_same_document(tmp_path, seed, source, target):
    original = generated(tmp_path, seed, source)
    doc = zrx.read(original)
    written = tmp_path / f"written.{target}"
    zrx.write(doc, written)
    assert helper("compare", original, written, ids_for(source)) == (0, "same")
    if source == target == "zrb":
        assert written.read_bytes() == original.read_bytes()


def change(doc):
    """The change the helper's `changed` command applies in C++."""
    for st in doc.walk():
        for _, value in st:
            if isinstance(value, np.ndarray) and value.dtype == np.int64:
                value += 1
            elif isinstance(value, np.ndarray):
                value *= 2
    for st in doc.structures:
        st.append("touched", True)


@pytest.mark.parametrize("seed", SEEDS)
@pytest.mark.parametrize("fmt", ["zrb", "zrt"])
def test_a_change_made_in_python_is_the_change_made_in_cpp(tmp_path, seed, fmt):
    original = generated(tmp_path, seed, fmt)
    doc = zrx.read(original)
    change(doc)
    written = tmp_path / f"changed.{fmt}"
    zrx.write(doc, written)
    assert helper("changed", original, written, ids_for(fmt)) == (0, "same")
    # ...and the comparison does see a difference that is there.
    assert helper("compare", original, written, ids_for(fmt))[0] == 1


def test_the_comparison_catches_a_changed_value(tmp_path):
    original = generated(tmp_path, 3, "zrb")
    doc = zrx.read(original)
    doc.structures[0].append("extra", 1)
    zrx.write(doc, tmp_path / "extra.zrb")
    status, output = helper("compare", original, tmp_path / "extra.zrb")
    assert status == 1 and "extra" in output
