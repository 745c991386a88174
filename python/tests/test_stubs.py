"""The type stubs shipped with the package: they cover every public name, and mypy --strict
accepts a script that uses the module as the README does (and rejects a wrong one)."""

import ast
import os
import pathlib
import shutil
import subprocess

import pytest

import zrx

STUBS = pathlib.Path(zrx.__file__).with_name("__init__.pyi")

SAMPLE = '''
import io
from typing import List, Optional

import numpy as np

import zrx

doc: zrx.Document = zrx.read("scene.zrt")
meshes: List[zrx.Structure] = doc.find_all("<Mesh>")
first: Optional[zrx.Structure] = doc.find("<Mesh>")
for st in doc.iter("<Mesh>"):
    st["vertices"] = np.zeros(3)
    st.update({"name": "m"}, scale=2.0)
    st.setdefault("parts", [])
items = zrx.List([1, 2.5, "x"], tag="<L>")
items[1:2] = [3, 4]
del items[::2]
items.sort(key=str)
data: bytes = zrx.write_bytes(doc, "zrb", authoring_tool="sample")
zrx.write(doc, io.BytesIO(), format="zrt")
lines: List[str] = zrx.diff(doc, zrx.from_json(zrx.to_json(doc)), ignore=["Creation_Date"])
tag: Optional[str] = zrx.array_tag(zrx.set_array_tag(np.arange(3.0), "<V>"))
try:
    zrx.read_bytes(data, link=False)
except zrx.ParseError as error:
    messages: List[str] = error.messages
'''


def stub_names():
    """{name: set of member names} of the stub's classes, and the module-level names as ''."""
    tree = ast.parse(STUBS.read_text())
    names = {"": set()}
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            names[""].add(node.name)
            names[node.name] = {n.name for n in node.body if isinstance(n, ast.FunctionDef)} | {
                n.target.id for n in node.body if isinstance(n, ast.AnnAssign)}
        elif isinstance(node, ast.FunctionDef):
            names[""].add(node.name)
        elif isinstance(node, ast.AnnAssign):
            names[""].add(node.target.id)
    return names


def test_the_stubs_and_the_marker_ship_beside_the_module():
    assert STUBS.is_file() and STUBS.with_name("py.typed").is_file()


def test_the_stubs_cover_every_public_name():
    names = stub_names()
    assert set(zrx.__all__) | {"AUTHORING_TOOL", "__version__"} <= names[""]
    for cls in (zrx.Document, zrx.Structure, zrx.List, zrx.RawText, zrx.Identifier, zrx.Ref):
        public = {n for n in dir(cls) if not n.startswith("_")}
        assert public <= names[cls.__name__], cls.__name__


def test_public_functions_have_real_signatures():
    import inspect
    assert str(inspect.signature(zrx.read)) == "(source, link=True)"
    assert "authoring_tool" in inspect.signature(zrx.write).parameters
    assert zrx.Document.metadata.__doc__ and zrx.Document.structures.__doc__


@pytest.mark.skipif(not shutil.which("mypy"), reason="mypy is not installed")
def test_mypy_strict_accepts_the_sample_and_rejects_a_mistake(tmp_path):
    env = dict(os.environ, MYPYPATH=str(STUBS.parent.parent))
    env.pop("LD_PRELOAD", None)  # mypy is not part of what the sanitizers look at
    for script, expected in ((SAMPLE, 0), (SAMPLE + "wrong: int = zrx.read('x')\n", 1)):
        (tmp_path / "sample.py").write_text(script)
        done = subprocess.run(["mypy", "--strict", "--no-incremental", "--cache-dir", os.devnull,
                               "sample.py"], cwd=tmp_path, env=env, capture_output=True, text=True,
                              timeout=300)
        assert done.returncode == expected, done.stdout + done.stderr
    assert 'variable has type "int"' in done.stdout
