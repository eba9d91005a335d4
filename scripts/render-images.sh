#!/usr/bin/env bash
# Renders the art SVGs under src/resources/art to the PNG images the program
# embeds (src/resources/images). Run after changing the art, then commit the PNGs.
# The SVGs themselves come from scripts/draw-resource-art.py.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TMPDIR:-/tmp}/quillmark-render-images"
cmake -S "$root/scripts/render-images" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" >/dev/null
"$build/render-images" "$root/src/resources/art" "$root/src/resources/images"
ls -l "$root/src/resources/images"
