"""The README's Python example runs as written."""

import re

import numpy as np

import zrx
from conftest import SOURCE_DIR, scene


def readme_examples():
    text = (SOURCE_DIR / "README.md").read_text(encoding="utf-8")
    section = text[text.index("\n## Python\n"):]
    section = section[:section.index("\n## ", 1)]
    return re.findall(r"```python\n(.*?)```", section, re.S)


def test_the_readme_example_scales_every_mesh_once(tmp_path, monkeypatch):
    zrx.write(scene(), tmp_path / "scene.zrt")  # two parts share one mesh
    monkeypatch.chdir(tmp_path)
    first, second = readme_examples()
    exec(compile(first, "README.md", "exec"), {})
    assert zrx.detect(tmp_path / "scene.zrb") == "zrb"
    root = zrx.read(tmp_path / "scene.zrb").structures[0]
    first, second = root["parts"]
    assert first["mesh"] is second["mesh"]
    np.testing.assert_array_equal(first["mesh"]["vertices"], [1.0, 3.0, -4.5, 6.0])
    assert zrx.array_tag(first["mesh"]["vertices"]) == "<Vertices>"


def test_the_readme_conveniences_run_as_written(tmp_path, monkeypatch, capsys):
    zrx.write(scene(), tmp_path / "scene.zrb")
    monkeypatch.chdir(tmp_path)
    exec(compile("import zrx\n" + readme_examples()[1], "README.md", "exec"), {})
    lines = capsys.readouterr().out.splitlines()
    assert '/<Scene>/parts[0]/mesh/name: "wheel" -> "wheel 2"' in lines
    assert "/<Scene>/parts[0]/visible: (none) -> true" in lines
    doc = zrx.read(tmp_path / "scene.zrt")
    assert zrx.from_json((tmp_path / "scene.json").read_text()).structures == doc.structures
    assert doc.metadata["Authoring_Tool"] == "Pipeline 3"
    assert doc.find("<Mesh>")["name"] == "wheel 2"
