#!/usr/bin/env bash
# Frames per second of a whole morph run, `tarnel-cli morph` against the
# classic per-triangle OpenCV morph (bench/peers/opencv_morph.py), on the same
# generated 1920x1080 pictures and the same edited 5x5 mesh, 50 BMP frames
# each, all in one run. Each side runs three times; the best time counts.
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

# One run of a command: "wall-ms cpu-ms", the CPU time being user + system of
# all its threads (the work it does, whatever else the machine runs). The
# command's output folder is emptied first.
run_once() {
  local out="$1" start end used="-"
  shift
  rm -rf "$out"
  start=$(date +%s%N)
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f '%U %S' -o "$work/cpu" "$@" >/dev/null
    used=$(awk '{ printf "%d", ($1 + $2) * 1000 }' "$work/cpu")
  else
    "$@" >/dev/null
  fi
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000000 )) $used"
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
# Three rounds, the tools taking turns so a busy spell hits them alike; the
# best wall time of each counts, with the CPU time of that run.
declare -A wall cpu
for _ in 1 2 3; do
  for tool in peer one all; do
    case $tool in
      peer) result=$(run_once "$work/peer" "$python" "$here/peers/opencv_morph.py" "$work/a.bmp" "$work/b.bmp" \
              "$work/edited.json" "$frames" "$work/peer") ;;
      one) result=$(run_once "$work/one" "$cli" morph --mesh "$work/edited.json" "$work/a.bmp" "$work/b.bmp" \
              --frames "$frames" --kind bmp --threads 1 --out "$work/one") ;;
      all) result=$(run_once "$work/all" "$cli" morph --mesh "$work/edited.json" "$work/a.bmp" "$work/b.bmp" \
              --frames "$frames" --kind bmp --out "$work/all") ;;
    esac
    read -r ms used <<<"$result"
    if [ -z "${wall[$tool]:-}" ] || [ "$ms" -lt "${wall[$tool]}" ]; then wall[$tool]=$ms; cpu[$tool]=$used; fi
  done
done
ms_peer=${wall[peer]} cpu_peer=${cpu[peer]}
ms_one=${wall[one]} cpu_one=${cpu[one]}
ms_all=${wall[all]} cpu_all=${cpu[all]}

row() {  # name wall-ms cpu-ms
  awk -v n="$1" -v ms="$2" -v cpu="$3" -v f="$frames" -v pms="$ms_peer" -v pcpu="$cpu_peer" 'BEGIN {
    c = (cpu == "-" || pcpu == "-") ? "-" : sprintf("%.2fx", pcpu / cpu)
    printf "%-38s %8.3f %9.2f %10s %12.2fx %12s\n", n, ms / 1000, f * 1000 / ms,
      cpu == "-" ? "-" : sprintf("%.1f", cpu / f), pms / ms, c }'
}
printf '%-38s %8s %9s %10s %13s %12s\n' "run (1920x1080, $frames BMP frames)" seconds "frames/s" "CPU ms/f" \
  "vs OpenCV" "CPU vs OpenCV"
row "OpenCV per-triangle (python3)" "$ms_peer" "$cpu_peer"
row "tarnel-cli morph --threads 1" "$ms_one" "$cpu_one"
row "tarnel-cli morph (one per core: $cores)" "$ms_all" "$cpu_all"
echo "Whole commands, start-up and image loading included; the best of three runs each."
echo "Target: 8x the OpenCV morph's frames per second. Load average now: $(cut -d' ' -f1-3 /proc/loadavg)."
