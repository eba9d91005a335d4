#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, run and test Quillmark.
# Idempotent: packages already present are not reinstalled and the ONNX Runtime
# download is reused when it is already unpacked.
#
#   scripts/setup.sh          build, run and test dependencies
#   scripts/setup.sh --bench  also the benchmark-only dependencies
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ort_version="0.4.9"
ort_package="com.github.asus4.onnxruntime"
ort_dir="$root/third_party/onnxruntime"

# Videos are decoded with FFmpeg's own libraries (the lib*-dev packages); the
# SVG icon engine comes with libqt6svg6, the SQLite driver
# with libqt6sql6-sqlite. xvfb and xauth serve the screenshot scripts only.
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev libqt6sql6-sqlite qt6-image-formats-plugins
  libgl-dev libyaml-cpp-dev libsimdjson-dev libsqlite3-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  ffmpeg python3-onnx python3-numpy python3-yaml python3-pil labelme
  fonts-dejavu-core fonts-wqy-microhei xvfb xauth
  nodejs npm
)
if [[ "${1:-}" == "--bench" ]]; then
  packages+=(libbenchmark-dev libopencv-dev)
fi

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  # npm is often installed outside Debian's packages; accept a working one.
  if [[ "$p" == npm && -x "$(command -v npm || true)" ]]; then continue; fi
  if [[ "$p" == nodejs && -x "$(command -v node || true)" ]]; then continue; fi
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if (( ${#missing[@]} )); then
  echo "setup: installing ${missing[*]}"
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# ONNX Runtime: the official Linux x64 build and its headers, taken from the npm package.
if [[ ! -f "$ort_dir/lib/libonnxruntime.so.1" || ! -f "$ort_dir/include/onnxruntime_cxx_api.h" ]]; then
  echo "setup: fetching ONNX Runtime ($ort_package@$ort_version)"
  tmp="$(mktemp -d)"
  trap 'rm -rf "$tmp"' EXIT
  (cd "$tmp" && npm pack --silent "$ort_package@$ort_version" >/dev/null)
  headers="package/Plugins/iOS~/onnxruntime.xcframework/ios-arm64/onnxruntime.framework/Headers"
  tar -xzf "$tmp"/*.tgz -C "$tmp" "package/Plugins/Linux/x64/libonnxruntime.so" "$headers"
  rm -rf "$ort_dir"
  mkdir -p "$ort_dir/lib" "$ort_dir/include"
  cp "$tmp/package/Plugins/Linux/x64/libonnxruntime.so" "$ort_dir/lib/libonnxruntime.so.1"
  ln -sf libonnxruntime.so.1 "$ort_dir/lib/libonnxruntime.so"
  cp "$tmp/$headers"/*.h "$ort_dir/include/"
fi
echo "setup: done"
