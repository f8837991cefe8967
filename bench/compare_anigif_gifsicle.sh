#!/usr/bin/env bash
# Sizes and times of `tarnel-cli anigif --optimize` against gifsicle -O1 and
# -O3 run on our unoptimised GIF of the same frames, all in one run: a
# 640x480, 30-frame morph of two plasma pictures, as raw and as MJPEG AVI.
# Usage: bench/compare_anigif_gifsicle.sh [BUILD_DIR]   (default: build)
set -euo pipefail
build="${1:-build}"
cli="$build/tarnel-cli"
if ! command -v gifsicle >/dev/null; then echo "gifsicle is not installed: skipped"; exit 0; fi
if ! command -v convert >/dev/null; then echo "ImageMagick's convert is not installed: skipped"; exit 0; fi
[ -x "$cli" ] || { echo "no $cli: build the tarnel-cli target first" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Seconds, to the millisecond, that a command takes.
seconds() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000000 ))" | awk '{ printf "%.3f", $1 / 1000 }'
}
size() { stat -c %s "$1"; }

convert -seed 1 -size 640x480 plasma:fractal "$work/a.bmp"
convert -seed 2 -size 640x480 plasma:fractal "$work/b.bmp"
"$cli" morph "$work/a.bmp" "$work/b.bmp" --rows 4 --columns 4 --frames 30 --out "$work/run" >/dev/null
frames="$(find "$work/run" -mindepth 1 -maxdepth 1 -type d | head -n 1)"

printf '%-6s %-26s %12s %9s\n' codec method bytes seconds
for codec in raw mjpeg; do
  avi="$work/$codec.avi"
  "$cli" avi "$frames" "$avi" --codec "$codec" >/dev/null
  t_plain=$(seconds "$cli" anigif "$avi" "$work/$codec-plain.gif")
  t_ours=$(seconds "$cli" anigif "$avi" "$work/$codec-ours.gif" --optimize)
  t_o1=$(seconds gifsicle -O1 "$work/$codec-plain.gif" -o "$work/$codec-O1.gif")
  t_o3=$(seconds gifsicle -O3 "$work/$codec-plain.gif" -o "$work/$codec-O3.gif")
  printf '%-6s %-26s %12s %9s\n' "$codec" "anigif (unoptimised)" "$(size "$work/$codec-plain.gif")" "$t_plain"
  printf '%-6s %-26s %12s %9s\n' "$codec" "anigif --optimize" "$(size "$work/$codec-ours.gif")" "$t_ours"
  printf '%-6s %-26s %12s %9s\n' "$codec" "gifsicle -O1 (+ anigif)" "$(size "$work/$codec-O1.gif")" "$t_o1"
  printf '%-6s %-26s %12s %9s\n' "$codec" "gifsicle -O3 (+ anigif)" "$(size "$work/$codec-O3.gif")" "$t_o3"
done
echo "gifsicle times are for gifsicle alone, on top of the unoptimised anigif."
