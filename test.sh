#!/usr/bin/env bash
# Installs what is missing, builds with tests and runs them all.
# SANITIZE=1 ./test.sh builds a second tree with address and undefined-behaviour sanitizers.
set -euo pipefail
cd "$(dirname "$0")"
./tools/deps.sh
jobs=$(nproc)
if [ "${SANITIZE:-0}" = "1" ]; then
  build=build-sanitize
  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNEL_SANITIZE=ON -DTARNEL_BUILD_BENCH=OFF)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
  build=build
  flags=(-DCMAKE_BUILD_TYPE=Release)
fi
cmake -S . -B "$build" "${flags[@]}" -DTARNEL_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j "$jobs"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 600
