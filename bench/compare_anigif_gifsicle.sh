#!/usr/bin/env bash
# Sizes and times of `tarnel-cli anigif --optimize` and `--optimize=max`
# against gifsicle -O1 and -O3 run on our unoptimised GIF of the same frames,
# all in one run: a 640x480, 30-frame morph of two plasma pictures, read from
# the run's frame folder and from raw and MJPEG AVI files of it; then 480x270
# morphs of 20-30 frames between real photographs (PHOTOS, default
# /work/photos/x/usr/share/backgrounds/mate/nature, when it exists) in every
# palette choice, --optimize=max against gifsicle -O3. Every time is the
# better of two runs (the machine may be shared), wall and CPU.
# Usage: bench/compare_anigif_gifsicle.sh [BUILD_DIR]   (default: build)
set -euo pipefail
build="${1:-build}"
cli="$build/tarnel-cli"
if ! command -v gifsicle >/dev/null; then echo "gifsicle is not installed: skipped"; exit 0; fi
if ! command -v convert >/dev/null; then echo "ImageMagick's convert is not installed: skipped"; exit 0; fi
[ -x "$cli" ] || { echo "no $cli: build the tarnel-cli target first" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

. "$(dirname "$0")/timing.sh"

convert -seed 1 -size 640x480 plasma:fractal "$work/a.bmp"
convert -seed 2 -size 640x480 plasma:fractal "$work/b.bmp"
"$cli" morph "$work/a.bmp" "$work/b.bmp" --rows 4 --columns 4 --frames 30 --out "$work/run" >/dev/null
frames="$(find "$work/run" -mindepth 1 -maxdepth 1 -type d | head -n 1)"
"$cli" avi "$frames" "$work/raw.avi" --codec raw >/dev/null
"$cli" avi "$frames" "$work/mjpeg.avi" --codec mjpeg >/dev/null

printf '%-6s %-26s %12s %9s %9s\n' input method bytes wall cpu
row() { printf '%-6s %-26s %12s %9s %9s\n' "$1" "$2" "$(size "$3")" $4; }
for input in folder raw mjpeg; do
  case "$input" in
    folder) in="$frames" ;;
    *) in="$work/$input.avi" ;;
  esac
  t_plain=$(times_of "$cli" anigif "$in" "$work/$input-plain.gif")
  t_ours=$(times_of "$cli" anigif "$in" "$work/$input-ours.gif" --optimize)
  t_max=$(times_of "$cli" anigif "$in" "$work/$input-max.gif" --optimize=max)
  t_o1=$(times_of gifsicle -O1 "$work/$input-plain.gif" -o "$work/$input-O1.gif")
  t_o3=$(times_of gifsicle -O3 "$work/$input-plain.gif" -o "$work/$input-O3.gif")
  row "$input" "anigif (unoptimised)" "$work/$input-plain.gif" "$t_plain"
  row "$input" "anigif --optimize" "$work/$input-ours.gif" "$t_ours"
  row "$input" "anigif --optimize=max" "$work/$input-max.gif" "$t_max"
  row "$input" "gifsicle -O1 (+ anigif)" "$work/$input-O1.gif" "$t_o1"
  row "$input" "gifsicle -O3 (+ anigif)" "$work/$input-O3.gif" "$t_o3"
  set -- $t_max; max_wall=$1 max_cpu=$2
  set -- $t_o3; o3_wall=$1 o3_cpu=$2
  printf '%-6s max/-O3: size %s, wall %s, cpu %s (our whole command against gifsicle alone)\n' "$input" \
    "$(ratio "$(size "$work/$input-max.gif")" "$(size "$work/$input-O3.gif")")" \
    "$(ratio "$max_wall" "$o3_wall")" "$(ratio "$max_cpu" "$o3_cpu")"
done
echo "gifsicle times are for gifsicle alone, on top of the unoptimised anigif."

photos="${PHOTOS:-/work/photos/x/usr/share/backgrounds/mate/nature}"
[ -d "$photos" ] || { echo "no photo folder $photos: the photo morphs are skipped"; exit 0; }
echo
echo "480x270 photo morphs: anigif --optimize=max, and gif optimize --max on our unoptimised GIF,"
echo "against gifsicle -O3 on that GIF"
printf '%-26s %-12s %10s %10s %7s %14s %14s %14s\n' morph palette max -O3 max/O3 "anigif wall/cpu" "gif wall/cpu" "-O3 wall/cpu"
for p in Aqua:Dune:24 Garden:LadyBird:30 Storm:TwoWings:20 FreshFlower:YellowFlower:20 Blinds:Wood:25 RainDrops:GreenMeadow:30; do
  IFS=: read -r a b n <<<"$p"
  [ -f "$photos/$a.jpg" ] && [ -f "$photos/$b.jpg" ] || continue
  for x in "$a" "$b"; do
    convert "$photos/$x.jpg" -resize 480x270^ -gravity center -extent 480x270 -type TrueColor "BMP3:$work/$x.bmp"
  done
  "$cli" morph "$work/$a.bmp" "$work/$b.bmp" --frames "$n" --out "$work/photo-$a" >/dev/null
  frames="$(find "$work/photo-$a" -mindepth 1 -maxdepth 1 -type d | head -n 1)"
  for pal in cube adaptive adaptive-all adaptive-hq; do
    "$cli" anigif "$frames" "$work/p-plain.gif" --palette $pal
    t_max=$(times_of "$cli" anigif "$frames" "$work/p-max.gif" --palette $pal --optimize=max)
    t_gif=$(times_of "$cli" gif optimize "$work/p-plain.gif" "$work/p-gmax.gif" --max)
    t_o3=$(times_of gifsicle -O3 "$work/p-plain.gif" -o "$work/p-O3.gif")
    set -- $t_max; mw=$1 mc=$2
    set -- $t_gif; gw=$1 gc=$2
    set -- $t_o3; ow=$1 oc=$2
    printf '%-26s %-12s %10s %10s %7s %14s %14s %14s\n' "$a-$b" $pal "$(size "$work/p-max.gif")" "$(size "$work/p-O3.gif")" \
      "$(ratio "$(size "$work/p-max.gif")" "$(size "$work/p-O3.gif")")" "$mw/$mc" "$gw/$gc" "$ow/$oc"
  done
done
echo "anigif times are our whole command (import included); gif optimize and -O3 work on the same"
echo "unoptimised GIF. Times include each process's start."
