#!/usr/bin/env python3
"""The Python module's speed on the two judged document shapes (bench/Shapes.hpp).

    PYTHONPATH=build/release/python python3 bench/python_bench.py [--build build/release] [--runs 5]

The documents are written by the C++ program zrx_docs (bench/docs.cpp), which also times the
library's own readDocument on them: Python's zrx.read is held against that. Then it checks that
handing the arrays to numpy copies nothing, and times walks over the 300,000 structures of the graph
document, next to the cost of the cheapest call into the module, the floor of any pybind11 binding.
Every figure is the median of the runs (the minimum in brackets). Not part of the test suite.
"""

import argparse
import gc
import os
import pathlib
import statistics
import subprocess
import tempfile
import time

import numpy as np

import zrx


def timed(body, runs, before=None):
    """Median and minimum in ms of `runs` timed runs after one untimed one."""
    times = []
    for i in range(runs + 1):
        if before:
            before()
        start = time.perf_counter()
        body()
        took = (time.perf_counter() - start) * 1e3
        if i:
            times.append(took)
    return statistics.median(times), min(times)


def show(what, figures, per=None, unit="ms"):
    median, least = figures
    line = f"  {what:<44} {median:9.2f} {unit}  (min {least:.2f})"
    if per:
        line += f"   {median * 1e6 / per:7.1f} ns each"
    print(line, flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default="build/release", help="the build with bench/zrx_docs")
    parser.add_argument("--runs", type=int, default=5)
    options = parser.parse_args()
    docs = pathlib.Path(options.build) / "bench" / "zrx_docs"
    load = os.getloadavg()
    print(f"load average before: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f} on {os.cpu_count()} cores")

    with tempfile.TemporaryDirectory() as folder:
        folder = pathlib.Path(folder)
        subprocess.run([docs, "write", folder], check=True)
        arrays, graph = folder / "arrays.zrb", folder / "graph.zrb"

        print(f"arrays: 8 meshes, {arrays.stat().st_size / 1e6:.1f} MB of ZRB")
        cpp = subprocess.run([docs, "read", arrays, str(options.runs)], check=True,
                             capture_output=True, text=True).stdout.split()
        cpp_read = float(cpp[1]), float(cpp[2])
        show("C++ readDocument", cpp_read)
        held = {}
        py_read = timed(lambda: held.update(doc=zrx.read(arrays)), options.runs,
                        before=lambda: (held.clear(), gc.collect()))
        show("zrx.read", py_read)
        print(f"  {'zrx.read / readDocument':<44} {py_read[0] / cpp_read[0]:9.3f}")
        data = arrays.read_bytes()
        show("zrx.read_bytes (bytes read in place)",
             timed(lambda: held.update(doc=zrx.read_bytes(data)), options.runs,
                   before=lambda: (held.clear(), gc.collect())))
        del data
        meshes = held["doc"].structures[0]["meshes"]
        views = []
        show("16 arrays to numpy", timed(lambda: views.extend(
            m[k] for m in meshes for k in ("vertices", "indices")), options.runs,
            before=views.clear), unit="ms")
        copied = sum(v.nbytes for v in views if v.flags.owndata)
        shared = all(np.shares_memory(v, m[k]) for v, (m, k) in zip(
            views, ((m, k) for m in meshes for k in ("vertices", "indices"))))
        print(f"  numpy arrays: {len(views)}, {sum(v.nbytes for v in views) / 1e6:.1f} MB, "
              f"bytes copied {copied}, views of the document: {shared}")
        print(f"  vertices[0][:3] = {views[0][:3]} (k/1e6)")
        views.clear()
        held.clear()
        gc.collect()

        print(f"graph: 300,000 small structures, {graph.stat().st_size / 1e6:.1f} MB of ZRB")
        cpp = subprocess.run([docs, "read", graph, str(options.runs)], check=True,
                             capture_output=True, text=True).stdout.split()
        cpp_read = float(cpp[1]), float(cpp[2])
        show("C++ readDocument", cpp_read)
        py_read = timed(lambda: held.update(doc=zrx.read(graph)), options.runs,
                        before=lambda: (held.clear(), gc.collect()))
        show("zrx.read", py_read)
        print(f"  {'zrx.read / readDocument':<44} {py_read[0] / cpp_read[0]:9.3f}")
        doc = held["doc"]
        found = []
        show("doc.walk(): every structure as a Python object",
             timed(lambda: found.extend(doc.walk()), options.runs, before=found.clear),
             per=300001)
        count = len(found)
        show("len(st) for each: the cheapest call (the floor)",
             timed(lambda: [len(st) for st in found], options.runs), per=count)
        show("st['name'] for each", timed(lambda: [st["name"] for st in found], options.runs),
             per=count)
        entries = sum(len(st) for st in found)
        show(f"for key, value in st: all {entries} entries",
             timed(lambda: [None for st in found for _ in st], options.runs), per=count)
        found.clear()

        def python_walk():
            """Every structure from the top, in Python, through its values."""
            seen, stack = set(), list(doc.structures)  # structures hash by identity
            while stack:
                st = stack.pop()
                if st in seen:
                    continue
                seen.add(st)
                for _, value in st:
                    if isinstance(value, zrx.Structure):
                        stack.append(value)
                    elif isinstance(value, zrx.List):
                        stack.extend(v for v in value if isinstance(v, zrx.Structure))
            found.append(len(seen))

        show("a walk written in Python, through every value",
             timed(python_walk, options.runs, before=found.clear), per=count)
        assert found[0] == count, (found, count)
        del doc
        show("dropping the document (cycles broken)",
             timed(held.clear, options.runs, before=lambda: held.update(doc=zrx.read(graph))))
    load = os.getloadavg()
    print(f"load average after: {load[0]:.2f} {load[1]:.2f} {load[2]:.2f}")


if __name__ == "__main__":
    main()
