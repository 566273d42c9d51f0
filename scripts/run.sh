#!/usr/bin/env bash
# The main job: installs the dependencies, builds the deliverables, installs them into ~/.vst3 and
# ~/.clap, and renders a demo through them.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${NX_JOBS:-$(nproc)}

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DNX_BUILD_TESTS=OFF >/dev/null
cmake --build build -j "$JOBS"
cmake --install build >/dev/null

echo "Installed:"
echo "  $HOME/.vst3/Nembrix.vst3"
echo "  $HOME/.clap/Nembrix.clap"

if [ -x scripts/demo.sh ]; then
  scripts/demo.sh
fi
