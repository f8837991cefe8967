#!/usr/bin/env bash
# Sizes and times of `tarnel-cli anigif --optimize` and `--optimize=max`
# against gifsicle -O1 and -O3 run on our unoptimised GIF of the same frames,
# all in one run: a 640x480, 30-frame morph of two plasma pictures, read from
# the run's frame folder and from raw and MJPEG AVI files of it. Every time is
# the better of two runs (the machine may be shared).
# Usage: bench/compare_anigif_gifsicle.sh [BUILD_DIR]   (default: build)
set -euo pipefail
build="${1:-build}"
cli="$build/tarnel-cli"
if ! command -v gifsicle >/dev/null; then echo "gifsicle is not installed: skipped"; exit 0; fi
if ! command -v convert >/dev/null; then echo "ImageMagick's convert is not installed: skipped"; exit 0; fi
[ -x "$cli" ] || { echo "no $cli: build the tarnel-cli target first" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Seconds, to the millisecond, that a command takes: the better of two runs.
seconds() {
  local best=""
  for _ in 1 2; do
    local start end ms
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    ms=$(( (end - start) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best" | awk '{ printf "%.3f", $1 / 1000 }'
}
size() { stat -c %s "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

convert -seed 1 -size 640x480 plasma:fractal "$work/a.bmp"
convert -seed 2 -size 640x480 plasma:fractal "$work/b.bmp"
"$cli" morph "$work/a.bmp" "$work/b.bmp" --rows 4 --columns 4 --frames 30 --out "$work/run" >/dev/null
frames="$(find "$work/run" -mindepth 1 -maxdepth 1 -type d | head -n 1)"
"$cli" avi "$frames" "$work/raw.avi" --codec raw >/dev/null
"$cli" avi "$frames" "$work/mjpeg.avi" --codec mjpeg >/dev/null

printf '%-6s %-26s %12s %9s\n' input method bytes seconds
for input in folder raw mjpeg; do
  case "$input" in
    folder) in="$frames" ;;
    *) in="$work/$input.avi" ;;
  esac
  t_plain=$(seconds "$cli" anigif "$in" "$work/$input-plain.gif")
  t_ours=$(seconds "$cli" anigif "$in" "$work/$input-ours.gif" --optimize)
  t_max=$(seconds "$cli" anigif "$in" "$work/$input-max.gif" --optimize=max)
  t_o1=$(seconds gifsicle -O1 "$work/$input-plain.gif" -o "$work/$input-O1.gif")
  t_o3=$(seconds gifsicle -O3 "$work/$input-plain.gif" -o "$work/$input-O3.gif")
  printf '%-6s %-26s %12s %9s\n' "$input" "anigif (unoptimised)" "$(size "$work/$input-plain.gif")" "$t_plain"
  printf '%-6s %-26s %12s %9s\n' "$input" "anigif --optimize" "$(size "$work/$input-ours.gif")" "$t_ours"
  printf '%-6s %-26s %12s %9s\n' "$input" "anigif --optimize=max" "$(size "$work/$input-max.gif")" "$t_max"
  printf '%-6s %-26s %12s %9s\n' "$input" "gifsicle -O1 (+ anigif)" "$(size "$work/$input-O1.gif")" "$t_o1"
  printf '%-6s %-26s %12s %9s\n' "$input" "gifsicle -O3 (+ anigif)" "$(size "$work/$input-O3.gif")" "$t_o3"
  printf '%-6s max/-O3 size %s, max time / (-O3 + unoptimised anigif) %s, max time / -O3 alone %s\n' "$input" \
    "$(ratio "$(size "$work/$input-max.gif")" "$(size "$work/$input-O3.gif")")" \
    "$(ratio "$t_max" "$(awk -v a="$t_o3" -v b="$t_plain" 'BEGIN { print a + b }')")" \
    "$(ratio "$t_max" "$t_o3")"
done
echo "gifsicle times are for gifsicle alone, on top of the unoptimised anigif."
