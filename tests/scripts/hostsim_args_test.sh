#!/usr/bin/env bash
# scripts/hostsim refuses a wrong command line with exit 2 and a usage line,
# before building or running anything.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
touch "$work/a-file"
echo '{}' >"$work/scene.json"
failures=0
refused() {  # refused WHY ARGS...
  local why=$1
  shift
  "$here/scripts/hostsim" "$@" >/dev/null 2>"$work/err"
  local code=$?
  if [ "$code" -ne 2 ] || ! grep -q '^usage: scripts/hostsim' "$work/err"; then
    echo "FAILED: $why: exit $code, said: $(cat "$work/err")" >&2
    failures=$((failures + 1))
  fi
}
refused "no arguments"
refused "one argument" "$work/scene.json"
refused "an OUT that is a file" "$work/scene.json" "$work/a-file"
refused "a scenario that is missing" "$work/missing.json" "$work/out"
refused "--txd without a file" --txd
refused "--txd of a missing file" --txd "$work/missing.txd" "$work/scene.json" "$work/out"
[ "$failures" -eq 0 ] && echo "hostsim_args_test: every wrong command line refused"
exit "$failures"
