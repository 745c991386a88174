"""Shared fixtures of the zrx module's tests.

ctest runs them with PYTHONPATH on the built module and ZRX_PY_HELPER naming the C++ helper
(python/tests/helper.cpp); by hand, set both the same way.
"""

import os
import pathlib
import subprocess

import numpy as np
import pytest

import zrx

SOURCE_DIR = pathlib.Path(__file__).resolve().parents[2]
FUZZ_CORPUS = SOURCE_DIR / "fuzz" / "corpus"
SANITIZED = os.environ.get("ZRX_SANITIZED") == "1"


def helper(*args):
    """Runs the C++ helper; returns (exit status, first line of its output)."""
    program = os.environ.get("ZRX_PY_HELPER")
    if not program:
        pytest.skip("ZRX_PY_HELPER is not set")
    env = dict(os.environ)
    if SANITIZED:  # the helper is instrumented itself: no preloading, and leaks are errors
        env.pop("LD_PRELOAD", None)
        env["ASAN_OPTIONS"] = "detect_leaks=1"
    done = subprocess.run([program, *map(str, args)], capture_output=True, text=True,
                          timeout=300, env=env)
    return done.returncode, (done.stdout + done.stderr).strip()


# The scene's metadata: complete, so that writing it adds no entry (such as a Creation_Date).
METADATA = {"Authoring_Tool": "tests", "Creation_Date": "Thu Jan  1 00:00:00 2026",
            "ZR_Serializer_Version": 101}


def scene():
    """A small scene: a root with two parts sharing one mesh, parts pointing back at the root,
    and a few values of every kind."""
    mesh = zrx.Structure("<Mesh>", id="#mesh", entries=[
        ("name", "wheel"),
        ("vertices", zrx.set_array_tag(np.array([0.5, 1.5, -2.25, 3.0]), "<Vertices>")),
        ("indices", np.array([0, 1, 2, 1, 2, 3], dtype=np.int64)),
    ])
    root = zrx.Structure("<Scene>", id="#root")
    parts = zrx.List(tag="<Parts>")
    for i in range(2):
        parts.append(zrx.Structure("<Part>", entries=[
            ("index", i), ("mesh", mesh), ("parent", root)]))
    root["name"] = "demo"
    root["scale"] = 1.5
    root["visible"] = True
    root["blend"] = zrx.Identifier("Opaque")
    root["parts"] = parts
    root["shader"] = zrx.RawText("void main() {}\n", tag="<GLSL>")
    return zrx.Document([root], METADATA)


@pytest.fixture
def scene_doc():
    return scene()
