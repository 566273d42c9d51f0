#!/usr/bin/env bash
# Bounded fuzz run of the readers of outside input: the state chunk and the preset file reader.
# Builds with clang (libFuzzer + AddressSanitizer + UndefinedBehaviorSanitizer) in build-fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${NX_FUZZ_SECONDS:-60}
JOBS=${NX_JOBS:-$(nproc)}

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNX_FUZZ=ON -DNX_BUILD_UI=OFF -DNX_SANITIZE=address,undefined \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build build-fuzz -j "$JOBS" --target nx_fuzz_state_chunk nx_fuzz_preset_reader

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run() {
  local bin=$1; shift
  local corpus=build-fuzz/corpus/$(basename "$bin")
  mkdir -p "$corpus"
  echo "fuzzing $(basename "$bin") for ${SECONDS_PER_TARGET}s"
  "$bin" -max_total_time="$SECONDS_PER_TARGET" -print_final_stats=0 "$corpus" "$@" 2>build-fuzz/$(basename "$bin").log ||
    { tail -40 build-fuzz/$(basename "$bin").log; return 1; }
}
run build-fuzz/fuzz/nx_fuzz_state_chunk fuzz/corpus_state
run build-fuzz/tests/presets/nx_fuzz_preset_reader tests/presets/fuzz_corpus
