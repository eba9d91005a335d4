#!/usr/bin/env bash
# Sets up the machine if needed, builds Quillmark with its tests and runs every test.
# Extra arguments go to ctest (for example: -L formats).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QUILLMARK_BUILD_DIR:-$root/build}"
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLMARK_BUILD_TESTS=ON >/dev/null
cmake --build "$build"
jobs=$(nproc 2>/dev/null || echo 2)
cd "$build"
set +e
ctest --output-on-failure --no-label-summary -j "$jobs" "$@" 2>&1 | tee "$build/ctest.log"
status=${PIPESTATUS[0]}
set -e
# End with CTest's summary line.
grep -E 'tests passed|tests failed' "$build/ctest.log" | tail -n 1
exit "$status"
