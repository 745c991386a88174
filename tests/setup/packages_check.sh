#!/usr/bin/env bash
# Runs scripts/packages.sh against stand-ins for dpkg-query, apt-get and id, so the fresh-machine,
# root, non-root and offline paths are exercised on any machine without installing anything.
# Usage: packages_check.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The stand-ins. dpkg-query reports the packages in STUB_INSTALLED as installed, those in
# STUB_REMOVED as removed with their configuration kept, and knows no others. apt-get logs what it
# was asked (options dropped) and fails with 100 at the steps named in STUB_APT_FAIL (update, download, install).
mkdir -p "$work/bin"
cat >"$work/bin/dpkg-query" <<'STUB'
#!/usr/bin/env bash
echo "dpkg-query" >>"$STUB_LOG"
shift 2
status=0
for p in "$@"; do
  if [[ " $STUB_INSTALLED " == *" $p "* ]]; then echo "$p installed"
  elif [[ " ${STUB_REMOVED:-} " == *" $p "* ]]; then echo "$p config-files"
  else echo "dpkg-query: no packages found matching $p" >&2; status=1; fi
done
exit $status
STUB
cat >"$work/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
words=()
while [ $# -gt 0 ]; do
  case $1 in -o) shift 2 ;; -q | -y | --no-install-recommends) shift ;; *) words+=("$1"); shift ;; esac
done
echo "apt-get ${words[*]}" >>"$STUB_LOG"
step=${words[0]}
[[ " ${words[*]} " != *" --download-only "* ]] || step=download
[[ " ${STUB_APT_FAIL:-} " != *" $step "* ]] || exit 100
STUB
cat >"$work/bin/id" <<'STUB'
#!/usr/bin/env bash
echo "${STUB_UID:-0}"
STUB
chmod +x "$work/bin/"*

# A list of its own, so the cases do not depend on the project's: groups over several lines and a
# package in two groups.
mkdir -p "$work/scripts"
cp "$source_dir/scripts/packages.sh" "$work/scripts/"
cat >"$work/scripts/packages.txt" <<'LIST'
# comment
test   pkg-a pkg-b

  # indented comment
test   pkg-c
bench  pkg-b pkg-d
LIST

failures=0
# check NAME SCRIPT_DIR EXPECTED_STATUS EXPECTED_STDERR EXPECTED_LOG ENV... -- GROUPS...
# EXPECTED_STDERR is the last line of standard error; EXPECTED_LOG the calls, joined by '; '.
check() {
  local name=$1 dir=$2 want_status=$3 want_err=$4 want_log=$5
  shift 5
  local env=()
  while [ "$1" != -- ]; do env+=("$1"); shift; done
  shift
  : >"$work/log"
  local status=0
  env STUB_LOG="$work/log" STUB_INSTALLED= "${env[@]}" PATH="$work/bin:$PATH" \
    bash "$dir/scripts/packages.sh" "$@" >"$work/out" 2>"$work/err" || status=$?
  local err log
  err=$(tail -n 1 "$work/err")
  log=$(paste -sd ';' "$work/log" | sed 's/;/; /g')
  if [ "$status" != "$want_status" ] || [ "$err" != "$want_err" ] || [ "$log" != "$want_log" ]; then
    echo "FAIL $name"
    echo "  status $status, wanted $want_status"
    echo "  stderr '$err'"
    echo "  wanted '$want_err'"
    echo "  calls  '$log'"
    echo "  wanted '$want_log'"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

me=scripts/packages.sh
check "everything present: no apt" "$work" 0 "" "dpkg-query" \
  STUB_INSTALLED="pkg-a pkg-b pkg-c pkg-d" -- test bench
check "non-root: one line with the command, no apt" "$work" 1 \
  "$me: missing pkg-b pkg-c; install them with: sudo apt-get install -y pkg-b pkg-c" "dpkg-query" \
  STUB_INSTALLED="pkg-a pkg-d" STUB_UID=1000 -- test
check "removed with its configuration kept counts as missing" "$work" 1 \
  "$me: missing pkg-d; install them with: sudo apt-get install -y pkg-d" "dpkg-query" \
  STUB_INSTALLED="pkg-b" STUB_REMOVED="pkg-d" STUB_UID=1000 -- bench
check "root: update, download, install only what is missing, each package once" "$work" 0 "" \
  "dpkg-query; apt-get update; apt-get install --download-only pkg-a pkg-c pkg-d; apt-get install pkg-a pkg-c pkg-d" \
  STUB_INSTALLED="pkg-b" -- test bench
check "offline: the download fails with one clear line, nothing is unpacked" "$work" 1 \
  "$me: could not download pkg-d: no network, or no package source has them; install by hand: apt-get install -y pkg-d" \
  "dpkg-query; apt-get update; apt-get install --download-only pkg-d" \
  STUB_INSTALLED="pkg-b" STUB_APT_FAIL=download -- bench
check "offline with a failing update: the line says so" "$work" 1 \
  "$me: could not download pkg-d: no network, or no package source has them (apt-get update failed too); install by hand: apt-get install -y pkg-d" \
  "dpkg-query; apt-get update; apt-get install --download-only pkg-d" \
  STUB_INSTALLED="pkg-b" STUB_APT_FAIL="update download" -- bench
check "a failed update alone does not stop an install that works" "$work" 0 "" \
  "dpkg-query; apt-get update; apt-get install --download-only pkg-d; apt-get install pkg-d" \
  STUB_INSTALLED="pkg-b" STUB_APT_FAIL=update -- bench
check "a failed unpack is reported" "$work" 1 \
  "$me: apt-get install failed for pkg-d; install by hand: apt-get install -y pkg-d" \
  "dpkg-query; apt-get update; apt-get install --download-only pkg-d; apt-get install pkg-d" \
  STUB_INSTALLED="pkg-b" STUB_APT_FAIL=install -- bench
check "unknown group" "$work" 2 "$me: no group 'nope' in scripts/packages.txt" "" -- test nope
check "ZRX_SKIP_PACKAGES skips the check" "$work" 0 "" "" ZRX_SKIP_PACKAGES=1 -- test

# The project's own list holds every group the Makefile and CI ask for.
groups=$(grep -oh 'packages\(-\|\.sh \)[a-z]\+' "$source_dir/Makefile" "$source_dir/.ci/run" |
  sed 's/.*[- ]//' | sort -u | tr '\n' ' ')
all=$(grep -v '^[[:space:]]*\(#\|$\)' "$source_dir/scripts/packages.txt" | cut -d' ' -f2- | tr '\n' ' ')
# shellcheck disable=SC2086
check "the project's list has the groups: $groups" "$source_dir" 0 "" "dpkg-query" \
  STUB_INSTALLED="$all" -- $groups

[ $failures = 0 ] || { echo "$failures failed"; exit 1; }
