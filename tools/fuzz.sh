#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given seconds
# (default 60); the picture loader and its PNG and WebP decoders share one
# such slot, so the whole run takes as long as it did before they came.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNEL_FUZZ=ON \
  -DTARNEL_BUILD_TESTS=OFF -DTARNEL_BUILD_BENCH=OFF -DTARNEL_BUILD_GUI=OFF >/dev/null
targets=$(cd fuzz && ls fuzz_*.cpp 2>/dev/null | sed 's/\.cpp$//')
# The longest input per target: a little above its largest seed. Every byte
# more raises the load budget by 16 KB, and with it what one execution may
# decode; inputs that grow towards 64 KB slowed the picture targets down to
# a few hundred executions a second without reaching anything new.
max_len_of() {
  case $1 in
    avi) echo 16384 ;;       # seeds up to 13 KB: a few frames of each codec
    gif) echo 8192 ;;        # seeds up to 6.5 KB
    folder) echo 2048 ;;     # up to 32 records of a name and 255 bytes
    png|webp) echo 1024 ;;   # seeds under 500 bytes: small pictures of every kind
    profile) echo 2048 ;;    # every lookup reads the whole file again
    *) echo 4096 ;;          # pictures, DIBs and JSON files under 2 KB
  esac
}
# Seconds of one target: the three picture targets split one slot.
seconds_of() {
  case $1 in
    picture|png|webp) echo $(( (seconds + 2) / 3 )) ;;
    *) echo "$seconds" ;;
  esac
}
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
  t_seconds=$(seconds_of "${t#fuzz_}")
  echo "fuzzing $t for ${t_seconds}s" >&2
  # The whole log stays in build-fuzz; a failure shows how it ended.
  if ! build-fuzz/fuzz/"$t" -max_total_time="$t_seconds" -max_len="$(max_len_of "${t#fuzz_}")" -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix=build-fuzz/ \
    $( [ -f "$dict" ] && echo "-dict=$dict" ) \
    "build-fuzz/corpus-$t" $( [ -d "$corpus" ] && echo "$corpus" ) >"build-fuzz/$t.log" 2>&1; then
    tail -n 60 "build-fuzz/$t.log" >&2
    exit 1
  fi
  # Executions and coverage of the run: "#N DONE cov: .. ft: .." and the rate.
  echo "$t: $(grep -E '^#[0-9]+' "build-fuzz/$t.log" | tail -n 1 | tr -s ' \t' ' ' | cut -d' ' -f1-6)" \
    "$(grep -E '^stat::average_exec_per_sec' "build-fuzz/$t.log" | tr -s ' ')"
done
