"""The README's Python example runs as written."""

import re

import numpy as np

import zrx
from conftest import SOURCE_DIR, scene


def readme_example():
    text = (SOURCE_DIR / "README.md").read_text(encoding="utf-8")
    section = text[text.index("\n## Python\n"):]
    return re.search(r"```python\n(.*?)```", section, re.S).group(1)


def test_the_readme_example_scales_every_mesh_once(tmp_path, monkeypatch):
    zrx.write(scene(), tmp_path / "scene.zrt")  # two parts share one mesh
    monkeypatch.chdir(tmp_path)
    exec(compile(readme_example(), "README.md", "exec"), {})
    assert zrx.detect(tmp_path / "scene.zrb") == "zrb"
    root = zrx.read(tmp_path / "scene.zrb").structures[0]
    first, second = root["parts"]
    assert first["mesh"] is second["mesh"]
    np.testing.assert_array_equal(first["mesh"]["vertices"], [1.0, 3.0, -4.5, 6.0])
    assert zrx.array_tag(first["mesh"]["vertices"]) == "<Vertices>"
