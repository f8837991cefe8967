#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given seconds (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNEL_FUZZ=ON \
  -DTARNEL_BUILD_TESTS=OFF -DTARNEL_BUILD_BENCH=OFF -DTARNEL_BUILD_GUI=OFF >/dev/null
targets=$(cd fuzz && ls fuzz_*.cpp 2>/dev/null | sed 's/\.cpp$//')
[ -n "$targets" ] || exit 0
cmake --build build-fuzz -j "$(nproc)" --target $targets
for t in $targets; do
  corpus=fuzz/corpus/${t#fuzz_}
  dict=fuzz/${t#fuzz_}.dict
  regressions=fuzz/regressions/${t#fuzz_}
  mkdir -p "build-fuzz/corpus-$t"
  # Inputs that once crashed or exhausted a target must stay handled.
  if [ -d "$regressions" ] && ls "$regressions"/* >/dev/null 2>&1; then
    if ! build-fuzz/fuzz/"$t" -rss_limit_mb=2048 -timeout=10 "$regressions"/* >"build-fuzz/$t.log" 2>&1; then
      tail -n 40 "build-fuzz/$t.log" >&2
      exit 1
    fi
  fi
  echo "fuzzing $t for ${seconds}s" >&2
  # The whole log stays in build-fuzz; a failure shows how it ended.
  if ! build-fuzz/fuzz/"$t" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -artifact_prefix=build-fuzz/ \
    $( [ -f "$dict" ] && echo "-dict=$dict" ) \
    "build-fuzz/corpus-$t" $( [ -d "$corpus" ] && echo "$corpus" ) >"build-fuzz/$t.log" 2>&1; then
    tail -n 60 "build-fuzz/$t.log" >&2
    exit 1
  fi
  tail -n 1 "build-fuzz/$t.log"
done
