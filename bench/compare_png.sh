#!/usr/bin/env bash
# PNG frames against ImageMagick's default PNG (`convert x.bmp x.png`) of the
# same pictures, and a PNG run against a BMP run, all in one run:
#   1. a 100-frame 1080p morph of two photographs (the crops in /work/photos when
#      they are there, else two plasma pictures) written as BMP and as PNG frames,
#      the better of two runs each, wall and CPU;
#   2. 20 of the BMP frames encoded by our writer (bench_png_frames) and by
#      ImageMagick in one process (mogrify, so its start-up stays out), sizes
#      and CPU time per frame.
# Usage: bench/compare_png.sh [BUILD_DIR]   (default: build)
set -euo pipefail
build="${1:-build}"
cli="$build/tarnel-cli"
bench="$build/bench/bench_png_frames"
if ! command -v mogrify >/dev/null; then echo "ImageMagick is not installed: skipped"; exit 0; fi
[ -x "$cli" ] || { echo "no $cli: build the tarnel-cli target first" >&2; exit 1; }
[ -x "$bench" ] || { echo "no $bench: build the bench_png_frames target first" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

. "$(dirname "$0")/timing.sh"

if [ -f /work/photos/a.jpg ] && [ -f /work/photos/b.bmp ]; then
  start=/work/photos/a.jpg end=/work/photos/b.bmp
else
  convert -seed 1 -size 1920x1080 plasma:fractal "$work/a.bmp"
  convert -seed 2 -size 1920x1080 plasma:fractal "$work/b.bmp"
  start="$work/a.bmp" end="$work/b.bmp"
fi

# 1. Runs.
# Each run writes a new dated folder under its own --out; the first is kept.
run_cmd() { echo "\"$cli\" morph \"$start\" \"$end\" --frames 100 --kind $1 --out \"$work/run-$1\""; }
t_bmp=$(times_of bash -c "$(run_cmd bmp)")
t_png=$(times_of bash -c "$(run_cmd png)")
bmp_dir="$(find "$work/run-bmp" -mindepth 1 -maxdepth 1 -type d | head -n 1)"
png_dir="$(find "$work/run-png" -mindepth 1 -maxdepth 1 -type d | head -n 1)"
printf '%-26s %9s %9s %14s\n' "100 frames at 1080p" wall cpu bytes
printf '%-26s %9s %9s %14s\n' "BMP run" $t_bmp "$(du -sb "$bmp_dir" | cut -f1)"
printf '%-26s %9s %9s %14s\n' "PNG run" $t_png "$(du -sb "$png_dir" | cut -f1)"
echo "PNG run / BMP run: wall $(ratio "${t_png% *}" "${t_bmp% *}"), cpu $(ratio "${t_png#* }" "${t_bmp#* }")"

# 2. The writers on 20 of the frames.
mkdir -p "$work/sample" "$work/magick"
for k in $(seq 0 5 95); do cp "$bmp_dir/$(printf %03d "$k").bmp" "$work/sample/"; done
n=$(ls "$work/sample" | wc -l)
t_magick=$(times_of bash -c "mogrify -path '$work/magick' -format png '$work/sample'/*.bmp")
magick_bytes=$(du -cb "$work/magick"/*.png | tail -n 1 | cut -f1)
ours=$(TARNEL_PNG_FRAMES="$work/sample" "$bench" --benchmark_filter=BM_PngFrame --benchmark_min_time=2 \
  --benchmark_format=csv 2>/dev/null | grep '^"BM_PngFrame"')
# name,iterations,real_time,cpu_time,time_unit,...,bytes,frames
ours_ms=$(echo "$ours" | cut -d, -f4)
ours_bytes=$(echo "$ours" | awk -F, '{ print $(NF-1) }')
magick_ms=$(awk -v c="${t_magick#* }" -v n="$n" 'BEGIN { printf "%.1f", c * 1000 / n }')
printf '\n%-26s %12s %12s\n' "$n frames, per frame" "cpu ms" bytes
printf '%-26s %12s %12.0f\n' "ImageMagick (mogrify)" "$magick_ms" "$(awk -v b="$magick_bytes" -v n="$n" 'BEGIN { print b / n }')"
printf '%-26s %12.1f %12.0f\n' "tarnel PNG frames" "$ours_ms" "$ours_bytes"
echo "size ours / ImageMagick: $(ratio "$ours_bytes" "$(awk -v b="$magick_bytes" -v n="$n" 'BEGIN { print b / n }')")" \
  " speed ImageMagick / ours: $(ratio "$magick_ms" "$ours_ms")"
