#!/usr/bin/env bash
# Screenshots of the editor's main states for review: builds the review tool, runs it on the current
# DISPLAY (or on a private Xvfb when none is set) and converts the frames to PNG.
# Usage: tests/editor/screenshots.sh [build-dir] [out-dir]
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD=${1:-build}
OUT=${2:-$BUILD/editor-screenshots}
cmake -S . -B "$BUILD" -G Ninja >/dev/null
cmake --build "$BUILD" --target editor_screenshots
mkdir -p "$OUT"
XVFB_PID=""
cleanup() { if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi; }
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY=:${NX_XVFB_DISPLAY:-96}
  Xvfb "$DISPLAY" -screen 0 1920x1200x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  sleep 1
fi
export LIBGL_ALWAYS_SOFTWARE=1
export NEMBRIX_REGISTRY=nembrix_editor_screenshots
export XDG_CONFIG_HOME="$PWD/$BUILD/test-config-screenshots"
mkdir -p "$XDG_CONFIG_HOME"
"$BUILD/tests/editor/editor_screenshots" "$OUT"
for f in "$OUT"/*.ppm; do
  convert "$f" "${f%.ppm}.png" && rm -f "$f"
done
ls "$OUT"
