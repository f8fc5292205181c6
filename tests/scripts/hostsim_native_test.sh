#!/usr/bin/env bash
# The native simulator runs the demo scene through the natively built plugin
# as hostsim runs the shipped one under Wine: same log, same summary, and a
# settings file and a key press reach the plugin through the platform seam.
set -uo pipefail
native=${1:?usage: hostsim_native_test.sh HOSTSIM_NATIVE PLUGIN_MODULE TXD SCENARIO}
module=$2
txd=$3
scenario=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

"$native" --plugin "$module" --txd "$txd" --scenario "$scenario" --out "$work/demo" >/dev/null 2>"$work/err" ||
  fail "demo run: exit $?, said: $(cat "$work/err")"
log=$(tr -d '\r' <"$work/demo/game/scripts/MorvaHealthRing.log" 2>/dev/null)
grep -qx 'frame 600: loaded=1 peds_in_range=5400 rings_drawn=5400 projection_failed=0 (counts since last line)' <<<"$log" ||
  fail "demo log: $log"
grep -q '"sites_restored":true,"protections_restored":true,"register_mismatches":0' "$work/demo/summary.json" ||
  fail "demo summary: $(cat "$work/demo/summary.json")"
[ -s "$work/demo/preview.png" ] || fail "no preview.png"

cat >"$work/toggle.json" <<'SCENE'
{"peds": [{"slot": 3, "position": [2, 0, 0]}], "ini": "[Rings]\nToggleKey=F7\n",
 "key_presses": [{"frame": 100, "key": "F7", "frames": 5}, {"frame": 300, "key": "F7"}]}
SCENE
"$native" --plugin "$module" --txd "$txd" --scenario "$work/toggle.json" --out "$work/toggle" >/dev/null 2>"$work/err" ||
  fail "toggle run: exit $?, said: $(cat "$work/err")"
log=$(tr -d '\r' <"$work/toggle/game/scripts/MorvaHealthRing.log" 2>/dev/null)
for line in 'settings: 1 values read from MorvaHealthRing.ini' 'rings hidden (toggle key)' 'rings shown (toggle key)' \
            'frame 600: loaded=1 peds_in_range=400 rings_drawn=400 projection_failed=0 (counts since last line)'; do
  grep -qxF "$line" <<<"$log" || fail "toggle log lacks '$line': $log"
done
"$native" --scenario "$scenario" >/dev/null 2>"$work/err"
[ $? -eq 2 ] && grep -q '^hostsim: usage' "$work/err" || fail "a wrong command line: $(cat "$work/err")"
[ "$failures" -eq 0 ] && echo "hostsim_native: the demo, the settings file and the key press all as expected"
[ "$failures" -eq 0 ]
