"""Cyclic trees are freed when Python drops them: no growth over many rounds."""

import gc
import os

import numpy as np

import zrx

ROUNDS = 1000
# A leak would keep every round's tree (hundreds of kilobytes each): the bound is generous.
BOUND = 48 * 2**20


def resident():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def cyclic_tree(nodes):
    """A root whose children point back at it and at themselves, with some data each."""
    root = zrx.Structure("<Root>", id="#root")
    children = zrx.List(tag="<Children>")
    for i in range(nodes):
        child = zrx.Structure("<Node>", id=f"#n{i}", entries=[
            ("parent", root), ("data", np.arange(32.0)), ("name", f"node {i}" * 4)])
        child["self"] = child
        children.append(child)
    root["children"] = children
    return root


def growth(one_round):
    """How much the process grew over ROUNDS rounds, after a warm-up."""
    for _ in range(50):
        one_round()
    gc.collect()
    before = resident()
    for _ in range(ROUNDS):
        one_round()
    gc.collect()  # Python's own collector only: the module must free its trees by itself
    return resident() - before


def test_reading_and_dropping_a_cyclic_document():
    data = zrx.write_bytes(zrx.Document([cyclic_tree(500)]), "zrb")
    kept = []

    def one_round():
        doc = zrx.read_bytes(data)
        root = doc.structures[0]
        child = root["children"][7]
        assert child["parent"] is root and child["self"] is child
        kept[:] = [child]  # a structure outlives its document, until the next round

    assert growth(one_round) < BOUND


def test_building_and_dropping_cyclic_trees_in_python():
    def one_round():
        root = cyclic_tree(100)
        assert root["children"][0]["parent"] is root

    assert growth(one_round) < BOUND


def test_a_tree_still_held_survives_the_collection_of_its_document():
    doc = zrx.read_bytes(zrx.write_bytes(zrx.Document([cyclic_tree(20)]), "zrb"))
    child = doc.structures[0]["children"][3]
    del doc
    zrx.collect()
    root = child["parent"]
    assert root.tag == "<Root>" and len(root["children"]) == 20
    assert root["children"][3] is child and child["data"][31] == 31.0
