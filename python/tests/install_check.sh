#!/usr/bin/env bash
# Installs the build into a scratch prefix, then imports the installed zrx module from there with
# nothing but PYTHONPATH set: it has to find the zrX libraries by itself.
# Usage: install_check.sh BUILD_DIR PYTHON MODULE_DIR (MODULE_DIR relative to the prefix)
set -euo pipefail
build=$1
python=$2
module_dir=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
env -u LD_LIBRARY_PATH -u LD_PRELOAD PYTHONPATH="$work/prefix/$module_dir" PYTHONDONTWRITEBYTECODE=1 \
  ZRX_PREFIX="$work/prefix" "$python" -c '
import os, numpy, zrx
assert zrx.__file__.startswith(os.environ["ZRX_PREFIX"]), zrx.__file__
here = os.path.dirname(zrx.__file__)
assert all(os.path.isfile(os.path.join(here, f)) for f in ("__init__.pyi", "py.typed")), here
doc = zrx.Document([zrx.Structure("<A>", [("v", numpy.arange(3.0))])])
back = zrx.read_bytes(zrx.write_bytes(doc, "zrb"))
assert list(back.structures[0]["v"]) == [0.0, 1.0, 2.0]
print("installed zrx", zrx.__version__, "imports and works")'
