#!/usr/bin/env bash
# `make demo` on a machine without the test framework, the benchmark library or any other
# package: runs the README's command in a scratch build folder with every package lookup the
# project makes switched off, then checks that the configuration found no package at all and that
# the demo ran. Usage: demo_check.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Run from inside ctest, possibly under make: the inner make gets no jobserver of the outer one.
env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -C "$source_dir" --no-print-directory demo \
  DEMO_BUILD="$work/demo" \
  DEMO_CMAKE_ARGS="--no-warn-unused-cli -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON"

# A package found by find_package leaves its <Name>_DIR in the cache.
found=$(grep -E '^[A-Za-z0-9_]+_DIR:PATH=' "$work/demo/CMakeCache.txt" | grep -v -- '-NOTFOUND$' || true)
if [ -n "$found" ]; then
  echo "the demo's configuration found packages; make demo must need none:"
  echo "$found"
  exit 1
fi
for format in zrt zrb; do
  [ -s "$work/demo/demo-output/scene.$format" ] || { echo "no scene.$format written"; exit 1; }
done
echo "make demo: built and ran with no package found"
