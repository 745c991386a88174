#!/usr/bin/env python3
"""The Python module's speed on the two judged document shapes (bench/Shapes.hpp).

    PYTHONPATH=build/release/python python3 bench/python_bench.py [--build build/release] [--runs 5]

The documents are written by the C++ program zrx_docs (bench/docs.cpp), which also times the
library's own readDocument and writeDocument on them: Python's zrx.read, zrx.write and
zrx.write_bytes are held against those. writeDocument is timed into a zr::MemoryFile kept across
runs (as zrx_shapes does: its pages are touched once, before the timing), into a fresh one each
run, and onto disk; write_bytes must hand out a new bytes object each call, so the kept file is
the hard figure to meet. Then it checks that handing the arrays to numpy copies nothing, times walks
over the 300,000 structures of the graph document, next to the cost of the cheapest call into the
module, the floor of any pybind11 binding, and how reads and writes of a 20 MB document scale over
4 threads. Every figure is the median of the runs (the minimum in brackets). Not part of the test
suite.
"""

import argparse
import gc
import os
import pathlib
import statistics
import subprocess
import tempfile
import threading
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


def cpp_writes(docs, path, runs):
    """{(format, 'memory'|'fresh'|'disk'): (median, min)} of the library's writeDocument."""
    lines = subprocess.run([docs, "writes", path, str(runs)], check=True, capture_output=True,
                           text=True).stdout.splitlines()
    return {(f, where): (float(median), float(least))
            for f, where, median, least in (line.split() for line in lines)}


def show_writes(doc, cpp, folder, runs):
    """zrx.write_bytes and zrx.write of `doc` in both formats against writeDocument."""
    for fmt in ("zrb", "zrt"):
        show(f"C++ writeDocument {fmt.upper()} into a kept MemoryFile", cpp[fmt, "memory"])
        show(f"C++ writeDocument {fmt.upper()} into a fresh MemoryFile", cpp[fmt, "fresh"])
        py_bytes = timed(lambda: zrx.write_bytes(doc, fmt), runs)
        show(f"zrx.write_bytes {fmt.upper()}", py_bytes)
        print(f"  {'  / kept MemoryFile (minimums)':<44} {py_bytes[1] / cpp[fmt, 'memory'][1]:9.3f}")
        show(f"C++ writeDocument {fmt.upper()} onto disk", cpp[fmt, "disk"])
        target = folder / f"out.{fmt}"
        py_disk = timed(lambda: zrx.write(doc, target), runs)
        show(f"zrx.write {fmt.upper()} onto disk", py_disk)
        print(f"  {'  / writeDocument onto disk (minimums)':<44} "
              f"{py_disk[1] / cpp[fmt, 'disk'][1]:9.3f}")
        target.unlink()


def in_threads(body, count=4):
    """Seconds for `count` threads running body() once each, all at once."""
    threads = [threading.Thread(target=body) for _ in range(count)]
    start = time.perf_counter()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return time.perf_counter() - start


def show_scaling(doc, runs):
    """4 reads and 4 writes one after the other, then from 4 threads at once."""
    kept = []  # results are dropped outside the timings

    def drop():
        kept.clear()
        gc.collect()

    for fmt in ("zrb", "zrt"):
        data = zrx.write_bytes(doc, fmt)
        for what, body in (("read_bytes", lambda: kept.append(zrx.read_bytes(data))),
                           ("write_bytes", lambda: kept.append(zrx.write_bytes(doc, fmt)))):
            one = min(timed(body, runs, before=drop))
            four = []
            for _ in range(runs):
                drop()
                four.append(in_threads(body) * 1e3)
            four = min(four)
            drop()
            print(f"  {fmt.upper()} {what:<12} 4 in a row {4 * one:8.1f} ms, in 4 threads "
                  f"{four:8.1f} ms: {4 * one / four:5.2f}x (minimums)", flush=True)


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
        show_writes(held["doc"], cpp_writes(docs, arrays, options.runs), folder, options.runs)
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
        part = zrx.Document([zrx.Structure("<Arrays>", [("meshes", list(meshes)[:3])])],
                            {"Creation_Date": "-", "Authoring_Tool": "-", "ZR_Serializer_Version": 101})
        print(f"threads: 3 of the meshes, {len(zrx.write_bytes(part, 'zrb')) / 1e6:.1f} MB of ZRB, "
              f"on {os.cpu_count()} cores")
        show_scaling(part, options.runs)
        del part, meshes
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
        show_writes(doc, cpp_writes(docs, graph, options.runs), folder, options.runs)
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
            # By identity (structures compare by value), each held so that no id is reused.
            seen, stack = {}, list(doc.structures)
            while stack:
                st = stack.pop()
                if id(st) in seen:
                    continue
                seen[id(st)] = st
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
