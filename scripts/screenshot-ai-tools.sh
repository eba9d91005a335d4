#!/usr/bin/env bash
# Walks through the AI tools in the real main window under Xvfb, with the tiny
# generated test models in a models folder and a few generated JPEG pictures,
# in the light and the dark theme. Prints every step; the screenshots of the AI
# dialogs over the window land in <build>/screenshots/ai/. The tour keeps its
# settings in a home folder of its own.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QUILLMARK_BUILD_DIR:-$root/build}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DQUILLMARK_BUILD_TESTS=ON >/dev/null
fi
cmake --build "$build" --target ai_tools_tour qm_ai_test_models qm_facepose_test_models qm_sam_test_models
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
generated="$build/tests/ai"
mkdir -p "$work/models/detection" "$work/models/segmentation" "$work/models/face" "$work/pictures"
cp "$generated/models/det_names.onnx" "$work/models/detection/yolov8n.onnx"
cp "$generated/models/seg.onnx" "$work/models/segmentation/yolov8n-seg.onnx"
cp "$generated/sam_models/sam_blocks.onnx" "$work/models/segmentation/segmentation_mobile_sam.onnx"
cp "$generated/sam_models/sam3/"sam3_* "$work/models/segmentation/"
cp "$generated/facepose-models/face_landmarks.onnx" "$work/models/face/yolov8n-face.onnx"
cp "$generated/facepose-models/pose_17.onnx" "$work/models/body.onnx"
cp "$generated/facepose-models/pose_21.onnx" "$work/models/hand.onnx"
ffmpeg -loglevel error -f lavfi -i testsrc2=size=1280x720:rate=1 -frames:v 3 "$work/pictures/street_%02d.jpg"
ffmpeg -loglevel error -f lavfi -i testsrc=size=720x960:rate=1 -frames:v 1 "$work/pictures/portrait_01.jpg"
mkdir -p "$build/screenshots"
status=0
for theme in light dark; do
  (cd "$work" && HOME="$work" QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 ${QUILLMARK_SCREEN:-1600x900}x24" \
    "$build/ai-tour/ai_tools_tour" "$work/pictures" "$build/screenshots/ai" "$theme") || status=1
done
exit $status
