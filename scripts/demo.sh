#!/usr/bin/env bash
# Renders the demo: synthesises a plucked melody and a drum loop, renders the melody through Nembrix
# (CLAP, RECV mode) with the drum loop played by a second instance in SEND mode as its peer, and prints
# where the files are. Expects a build in ./build (scripts/run.sh makes it); NX_BUILD_DIR overrides.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${NX_BUILD_DIR:-build}
OUT="$(pwd)/$BUILD/demo"

for tool in nembrix-demo-material nembrix-render; do
  if [ ! -x "$BUILD/tools/$tool" ]; then
    echo "demo: $BUILD/tools/$tool is missing; build first (scripts/run.sh)" >&2
    exit 1
  fi
done

mkdir -p "$OUT"
"$BUILD/tools/nembrix-demo-material" "$OUT" >/dev/null
"$BUILD/tools/nembrix-render" "$OUT/melody.wav" --peer "$OUT/drums.wav" --bpm 120 \
  -o "$OUT/melody-with-phantom.wav" >/dev/null

echo "Demo rendered:"
echo "  dry melody:           $OUT/melody.wav"
echo "  drum loop (the peer): $OUT/drums.wav"
echo "  melody with Nembrix:  $OUT/melody-with-phantom.wav"
