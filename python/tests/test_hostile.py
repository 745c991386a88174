"""Hostile files and hostile Python calls raise; they never crash the interpreter."""

import random

import numpy as np
import pytest

import zrx
from conftest import FUZZ_CORPUS

HEADER = b"ZRX version=101 encoding=ascii\n"
CORPUS = sorted(FUZZ_CORPUS.glob("*/*"))


def touch_everything(doc):
    """Reads every value reachable from the document, the way a careless script would."""
    seen = {}  # by id, holding each value so that no id is reused meanwhile
    stack = list(doc.structures) + list(doc.metadata.values())
    while stack:
        value = stack.pop()
        if id(value) in seen:
            continue
        seen[id(value)] = value
        if isinstance(value, zrx.Structure):
            (value.tag, value.id, value.line, repr(value))
            stack.extend(v for _, v in value)
        elif isinstance(value, zrx.List):
            (value.tag, value[:], repr(value))
            stack.extend(value)
        elif isinstance(value, zrx.RawText):
            (value.tag, value.text)
        elif isinstance(value, np.ndarray):
            (value.tolist(), zrx.array_tag(value))
        else:
            str(value)
    return len(seen)


def load_and_use(data):
    """Reads `data` both ways; whatever parses is used and written in both formats."""
    for link in (True, False):
        try:
            doc = zrx.read_bytes(data, link=link)
        except zrx.ParseError as error:
            assert error.messages and all(isinstance(m, str) for m in error.messages)
            assert len(str(error)) < 2000
            continue
        touch_everything(doc)
        doc.walk()
        for fmt in ("zrt", "zrb"):
            try:
                zrx.read_bytes(zrx.write_bytes(doc, fmt), link=False)
            except zrx.WriteRefused:
                pass


def test_the_fuzz_corpus_is_there():
    assert {path.parent.name for path in CORPUS} == {"zrt", "zrb", "demo"}


@pytest.mark.parametrize("path", CORPUS, ids=lambda p: p.name)
def test_corpus_files_and_their_mutations_raise_or_load(path):
    data = path.read_bytes()
    load_and_use(data)
    rng = random.Random(path.name)
    for cut in range(0, len(data), max(1, len(data) // 40)):
        load_and_use(data[:cut])
    for _ in range(150):
        mutated = bytearray(data)
        for _ in range(rng.randint(1, 4)):
            at = rng.randrange(len(mutated) + 1)
            kind = rng.randrange(3)
            if kind == 0 and at < len(mutated):
                mutated[at] = rng.randrange(256)
            elif kind == 1:
                mutated[at:at] = bytes(rng.randrange(256) for _ in range(rng.randint(1, 8)))
            else:
                del mutated[at:at + rng.randint(1, 8)]
        load_and_use(bytes(mutated))


@pytest.mark.parametrize("data, message", [
    (HEADER + b"<A> { x = " + b"[ " * 100000, "Line 2 : nesting deeper than 1000 levels"),
    (HEADER + b"<A> { x = " + b"<T> { y = " * 5000, "Line 2 : nesting deeper than 1000 levels"),
    (b"\xabZRX\xbb\r\n\x1a\ne\x00ascii\x00\x00\x00\x00\x00\x01\x03<A>\x05#NULL" + b"\xff" * 12,
     "offset"),
], ids=["lists", "structures", "long-integer"])
def test_hostile_documents_fail_with_a_message(data, message):
    with pytest.raises(zrx.ParseError, match=message):
        zrx.read_bytes(data)


def test_trees_too_deep_to_write_are_refused_and_freed():
    root = zrx.Structure("<Deep>")
    node = root
    for _ in range(5000):
        child = zrx.Structure("<Deep>")
        node["child"] = child
        node = child
    node["up"] = root  # and a cycle through all of it
    root.id = "#root"
    assert len(root.walk()) == 5001
    for fmt in ("zrt", "zrb"):
        with pytest.raises(zrx.WriteRefused, match="1000"):
            zrx.write_bytes(zrx.Document([root]), fmt)
    del root, node, child
    zrx.collect()


def test_python_containers_that_never_end_are_refused():
    endless = []
    endless.append(endless)
    nested = [1]
    for _ in range(2000):
        nested = [nested]
    for value in (endless, nested):
        with pytest.raises(ValueError, match="deeper than 1000"):
            zrx.Structure("<A>")["x"] = value


def test_a_list_holding_itself_is_refused_by_the_writers():
    items = zrx.List(tag="<Loop>")
    items.append(items)
    items.append(zrx.Structure("<In>"))
    assert items[0] is items and len(items.walk()) == 1
    for fmt in ("zrt", "zrb"):
        with pytest.raises(zrx.WriteRefused, match="list '<Loop>' is reached a second time"):
            zrx.write_bytes(zrx.Document([zrx.Structure("<A>", [("l", items)])]), fmt)
