#!/usr/bin/env bash
# scripts/packages.sh GROUP...
# Installs the Debian packages that the groups of scripts/packages.txt name and this machine lacks.
# Presence is one dpkg-query call, so a machine that has everything never runs apt. As root the
# missing packages are installed with apt-get; otherwise the script stops with one line that gives
# the install command. The network steps are bounded: without a network the install fails with a
# clear line instead of hanging. ZRX_SKIP_PACKAGES=1 skips the check (a machine that provides the
# libraries some other way); so does a machine without dpkg-query.
set -euo pipefail
me=scripts/packages.sh
list="$(cd "$(dirname "$0")" && pwd)/packages.txt"

if [ $# -eq 0 ]; then
  echo "usage: $me GROUP... (groups are in scripts/packages.txt)" >&2
  exit 2
fi
[ -z "${ZRX_SKIP_PACKAGES:-}" ] || exit 0

wanted=()
declare -A seen=()
for group in "$@"; do
  known=0
  while read -r name packages; do
    [ "$name" = "$group" ] || continue
    known=1
    for package in $packages; do
      [ -n "${seen[$package]:-}" ] || wanted+=("$package")
      seen[$package]=1
    done
  done < <(grep -v '^[[:space:]]*\(#\|$\)' "$list")
  if [ $known = 0 ]; then
    echo "$me: no group '$group' in scripts/packages.txt" >&2
    exit 2
  fi
done
[ ${#wanted[@]} -gt 0 ] || exit 0

if ! command -v dpkg-query >/dev/null; then
  echo "$me: no dpkg-query on this machine; not checking for ${wanted[*]}" >&2
  exit 0
fi
installed=$(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${wanted[@]}" 2>/dev/null || true)
missing=()
for package in "${wanted[@]}"; do
  grep -qx "$package installed" <<<"$installed" || missing+=("$package")
done
[ ${#missing[@]} -gt 0 ] || exit 0

if [ "$(id -u)" != 0 ]; then
  echo "$me: missing ${missing[*]}; install them with: sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi

# Bounded network steps: apt gives up on a silent server after 15 s and tries once more, and the
# outer timeouts cap what is left. Only the download is bounded from outside; the unpacking that
# follows is local and is never interrupted. A held dpkg lock is waited for, not failed on.
export DEBIAN_FRONTEND=noninteractive
apt=(apt-get -q -o Acquire::Retries=1 -o Acquire::http::Timeout=15 -o Acquire::https::Timeout=15
  -o DPkg::Lock::Timeout=300)
fail() {
  echo "$me: $1; install by hand: apt-get install -y ${missing[*]}" >&2
  exit 1
}
echo "$me: installing ${missing[*]}"
# A failed update is not final: the lists may still be good enough; the download says.
updated=""
timeout 600 "${apt[@]}" update || updated=" (apt-get update failed too)"
timeout 1800 "${apt[@]}" install -y --no-install-recommends --download-only "${missing[@]}" ||
  fail "could not download ${missing[*]}: no network, or no package source has them$updated"
"${apt[@]}" install -y --no-install-recommends "${missing[@]}" ||
  fail "apt-get install failed for ${missing[*]}"
