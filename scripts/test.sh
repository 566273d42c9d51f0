#!/usr/bin/env bash
# Installs the dependencies, builds from nothing and runs every test: the release build with all tests,
# the unit tests again under AddressSanitizer + UndefinedBehaviorSanitizer, the lock-free paths under
# ThreadSanitizer, and a bounded fuzz run of the state and preset readers.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=${NX_JOBS:-$(nproc)}

scripts/setup.sh

# A real X server for the editor tests when none is given.
XVFB_PID=""
cleanup() { if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi; }
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY=:${NX_XVFB_DISPLAY:-97}
  Xvfb "$DISPLAY" -screen 0 1920x1200x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  sleep 1
fi
export LIBGL_ALWAYS_SOFTWARE=1

# Tests never write into the user's real preset folder.
export XDG_CONFIG_HOME="$ROOT/build/test-config"
mkdir -p "$XDG_CONFIG_HOME"

echo "== release build and all tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$JOBS"
ctest --test-dir build --output-on-failure -j "$JOBS"

echo "== unit tests under AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNX_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j "$JOBS"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -L unit --output-on-failure -j "$JOBS"

echo "== lock-free paths under ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNX_SANITIZE=thread -DNX_BUILD_UI=OFF >/dev/null
cmake --build build-tsan -j "$JOBS"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan -L tsan --output-on-failure -j "$JOBS"

if [ -x scripts/fuzz.sh ]; then
  echo "== bounded fuzz run"
  scripts/fuzz.sh
fi
echo "== all tests passed"
