#!/usr/bin/env bash
# Each folder includes only from the folders beneath it: lib/ from nothing of
# the project's, src/ from lib/, sim/ from src/ and lib/, tools/ from those.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
status=0
check() {  # FOLDER PATTERN-OF-FORBIDDEN-ROOTS
  local found
  found=$(grep -rnE "#include \"($2)/" "$1" --include='*.cpp' --include='*.h' || true)
  if [ -n "$found" ]; then
    echo "include_layers: $1 includes from above it:" >&2
    echo "$found" >&2
    status=1
  fi
}
check lib 'overlay|hooking|host|platform|sim|tools|tests|bench'
check src 'sim|tools|tests|bench'
check sim 'tools|tests|bench'
check tools 'tests|bench'
[ "$status" -eq 0 ] && echo "include_layers: every folder includes only from beneath it"
exit "$status"
