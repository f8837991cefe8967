#!/usr/bin/env bash
# Frames per second of a whole morph run, `tarnel-cli morph` against the
# classic per-triangle OpenCV morph (bench/peers/opencv_morph.py), on the same
# generated 1920x1080 pictures and the same edited 5x5 mesh, 50 BMP frames
# each, all in one run. Each side runs twice; the better time counts.
# Frames go to /dev/shm when there is one, so the disk stays out of it.
# Usage: bench/compare_run.sh [BUILD_DIR]   (default: build)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-build}"
cli="$build/tarnel-cli"
python=/usr/bin/python3
frames=50
if ! [ -x "$python" ] || ! "$python" -c 'import cv2, numpy' 2>/dev/null; then
  echo "OpenCV for $python (Debian's python3-opencv) is not installed: skipped"
  exit 0
fi
if ! command -v convert >/dev/null; then echo "ImageMagick's convert is not installed: skipped"; exit 0; fi
[ -x "$cli" ] || { echo "no $cli: build the tarnel-cli target first" >&2; exit 1; }

base=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
work="$(mktemp -d "$base/tarnel-compare-run.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# Seconds, to the millisecond, that a command takes; the better of two runs.
# The command's output folder is emptied before each run.
best_seconds() {
  local out="$1" best="" start end ms
  shift
  for _ in 1 2; do
    rm -rf "$out"
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    ms=$(( (end - start) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}

convert -seed 1 -size 1920x1080 plasma:fractal -blur 0x2 "$work/a.bmp"
convert -seed 2 -size 1920x1080 plasma:fractal -blur 0x2 "$work/b.bmp"
"$cli" mesh "$work/a.bmp" "$work/b.bmp" --rows 5 --columns 5 --out "$work/plain.json"
# Inner points dragged by up to a quarter of a cell, the same for both tools.
"$python" - "$work/plain.json" "$work/edited.json" <<'EOF'
import json, random, sys
mesh = json.load(open(sys.argv[1]))
random.seed(7)
across, down = mesh["rows"] + 2, mesh["columns"] + 2
for j in range(2, down - 2):
    for i in range(2, across - 2):
        p = mesh["end"][j * across + i]
        p[0] += random.uniform(-0.25, 0.25) * 1920 / mesh["rows"]
        p[1] += random.uniform(-0.25, 0.25) * 1080 / mesh["columns"]
json.dump(mesh, open(sys.argv[2], "w"))
EOF

cores=$(nproc)
ms_peer=$(best_seconds "$work/peer" "$python" "$here/peers/opencv_morph.py" "$work/a.bmp" "$work/b.bmp" \
  "$work/edited.json" "$frames" "$work/peer")
ms_one=$(best_seconds "$work/one" "$cli" morph --mesh "$work/edited.json" "$work/a.bmp" "$work/b.bmp" \
  --frames "$frames" --kind bmp --threads 1 --out "$work/one")
ms_all=$(best_seconds "$work/all" "$cli" morph --mesh "$work/edited.json" "$work/a.bmp" "$work/b.bmp" \
  --frames "$frames" --kind bmp --out "$work/all")

fps() { awk -v f="$frames" -v ms="$1" 'BEGIN { printf "%.2f", f * 1000 / ms }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2fx", b / a }'; }
printf '%-38s %9s %9s %12s\n' "run (1920x1080, $frames BMP frames)" seconds "frames/s" "vs OpenCV"
printf '%-38s %9.3f %9s %12s\n' "OpenCV per-triangle (python3)" "$(awk -v m="$ms_peer" 'BEGIN{print m/1000}')" \
  "$(fps "$ms_peer")" "1.00x"
printf '%-38s %9.3f %9s %12s\n' "tarnel-cli morph --threads 1" "$(awk -v m="$ms_one" 'BEGIN{print m/1000}')" \
  "$(fps "$ms_one")" "$(ratio "$ms_one" "$ms_peer")"
printf '%-38s %9.3f %9s %12s\n' "tarnel-cli morph (one per core: $cores)" "$(awk -v m="$ms_all" 'BEGIN{print m/1000}')" \
  "$(fps "$ms_all")" "$(ratio "$ms_all" "$ms_peer")"
echo "Whole commands, start-up and image loading included. Target: 8x the OpenCV morph."
