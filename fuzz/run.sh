#!/usr/bin/env bash
# Runs every fuzz target built in $1 for FUZZ_SECONDS seconds on a scratch copy of its seed
# corpus (fuzz/corpus/<name>/). Fails when a target finds a crash, a leak or a timeout.
set -euo pipefail
build=$(cd "${1:-build/fuzz}" && pwd)
seconds=${FUZZ_SECONDS:-60}
here=$(cd "$(dirname "$0")" && pwd)
status=0
for fuzzer in "$build"/fuzz/*_fuzzer; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer" _fuzzer)
  work=$(mktemp -d)
  cp -r "$here/corpus/$name/." "$work/" 2>/dev/null || true
  echo "== fuzzing $name for ${seconds}s"
  if ! (cd "$work" && "$fuzzer" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 "$work" >"$work/log" 2>&1); then
    tail -n 60 "$work/log"
    echo "== $name: FINDING (artifacts above)"
    status=1
  else
    tail -n 4 "$work/log"
  fi
  rm -rf "$work"
done
exit $status
