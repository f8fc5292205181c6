#!/usr/bin/env bash
# Drives scripts/setup with stand-in apt-get, dpkg and dpkg-query on PATH that
# fail as a Debian mirror in the middle of a sync does.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check NAME CONDITION-COMMAND...
  local name=$1
  shift
  if "$@"; then echo "ok: $name"; else echo "FAILED: $name" >&2; failures=$((failures + 1)); fi
}

# stand-ins: every package missing, i386 known; apt-get behaves as $APT_MODE says
mkdir -p "$work/bin"
cat >"$work/bin/dpkg-query" <<'STUB'
#!/bin/sh
exit 1
STUB
cat >"$work/bin/dpkg" <<'STUB'
#!/bin/sh
[ "$1" = "--print-foreign-architectures" ] && echo i386
exit 0
STUB
cat >"$work/bin/gcc" <<'STUB'
#!/bin/sh
exit 1
STUB
cat >"$work/bin/apt-get" <<'STUB'
#!/bin/sh
echo "apt-get $*" >>"$APT_LOG"
case "$1" in
  update)
    n=$(grep -c '^apt-get update' "$APT_LOG")
    if [ "$n" -le "${UPDATE_FAILURES:-0}" ]; then
      echo "E: Failed to fetch http://mirror/debian-security/dists/x/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
      exit 100
    fi
    exit 0 ;;
  install)
    case " $* " in
      *" -t "*) exit 0 ;;
    esac
    if [ "${INSTALL_UNRESOLVABLE:-0}" = 1 ]; then
      echo "The following packages have unmet dependencies:" >&2
      echo " libcurl4:i386 : Depends: zlib1g:i386 (>= 1:1.1.4) but it is not going to be installed" >&2
      echo "E: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages." >&2
      exit 100
    fi
    exit 0 ;;
esac
exit 0
STUB
chmod +x "$work/bin/"*
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")

run_setup() {  # run_setup NAME, with the stand-ins' settings in the environment
  APT_LOG="$work/$1.apt" PATH="$work/bin:$PATH" SETUP_RETRY_PAUSE=0 \
    bash "$here/scripts/setup" >"$work/$1.out" 2>&1 && echo 0 >"$work/$1.rc" || echo $? >"$work/$1.rc"
}

# An update that fails twice, then succeeds: retried, and the install goes on.
UPDATE_FAILURES=2 run_setup retry
check "a failing update is retried until it succeeds" grep -q '^0$' "$work/retry.rc"
check "three updates were made" test "$(grep -c '^apt-get update' "$work/retry.apt")" -eq 3
check "the install ran once" test "$(grep -c '^apt-get install' "$work/retry.apt")" -eq 1

# An index that never comes right: go on with the others and say so in one line.
UPDATE_FAILURES=99 run_setup partial
check "an update whose indexes partly fail for good does not stop setup" grep -q '^0$' "$work/partial.rc"
check "it says which index failed" grep -q 'some package indexes could not be fetched.*Mirror sync in progress' "$work/partial.out"
check "the install still ran" grep -q '^apt-get install' "$work/partial.apt"

# Suites out of step: the install is retried with the distribution's own suite.
UPDATE_FAILURES=99 INSTALL_UNRESOLVABLE=1 run_setup unresolvable
check "an unresolvable install is retried with -t $codename and succeeds" grep -q '^0$' "$work/unresolvable.rc"
check "the retry names the target release" grep -q "apt-get install .* -t $codename" "$work/unresolvable.apt"
check "it says so in one line" test "$(grep -c "retrying with target release $codename" "$work/unresolvable.out")" -eq 1

if [ "$failures" -ne 0 ]; then
  echo "setup_test: $failures check(s) failed; outputs:" >&2
  tail -n +1 "$work"/*.out >&2
  exit 1
fi
echo "setup_test: all checks passed"
