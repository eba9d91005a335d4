#!/usr/bin/env bash
# Sets up the machine if needed, builds Quillmark and starts it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" --target quillmark
exec "$root/build/src/quillmark" "$@"
