#!/usr/bin/env bash
# Fidelity and speed of `tarnel-cli gif encode --palette adaptive-hq` against
# ffmpeg (palettegen + paletteuse) and ImageMagick (-colors 256), all in one
# run on the same generated 1920x1080 photo-like pictures (BMP in, GIF out
# for everyone). Without dithering: ours --dither none against
# paletteuse=dither=none and +dither; with dithering: ours --dither diffusion
# against each peer's default. PSNR is over R, G and B of the decoded GIF.
# Times are the best of RUNS runs: wall seconds and CPU seconds (user + sys);
# the ratio column is the peer's CPU time over ours for the same pair. Each
# tool's whole command also reads the BMP and writes a GIF, so a second
# figure takes off what the same tool spends without choosing colours: ours
# the fixed-cube encode, ffmpeg decoding into its null muxer (the quantising
# runs also end there), ImageMagick reading into null: (likewise).
# Usage: bench/compare_palette.sh [BUILD_DIR] [RUNS]   (defaults: build, 3)
set -euo pipefail
build="${1:-build}"
runs="${2:-3}"
cli="$build/tarnel-cli"
here="$(cd "$(dirname "$0")" && pwd)"
[ -x "$cli" ] || { echo "no $cli: build the tarnel-cli target first" >&2; exit 1; }

have_ffmpeg=0; command -v ffmpeg >/dev/null && have_ffmpeg=1
have_magick=0; command -v convert >/dev/null && have_magick=1
[ "$have_ffmpeg" = 1 ] || echo "ffmpeg is not installed: its rows are skipped"
[ "$have_magick" = 1 ] || echo "ImageMagick's convert is not installed: its rows are skipped"

# A Python with PIL measures PSNR; ImageMagick's compare stands in without one.
python=""
for p in /usr/bin/python3 python3; do
  if command -v "$p" >/dev/null && "$p" -c 'import PIL' 2>/dev/null; then python="$p"; break; fi
done
psnr() {
  if [ -n "$python" ]; then "$python" "$here/psnr.py" "$1" "$2"
  elif [ "$have_magick" = 1 ]; then compare -metric PSNR "$1" "$2" null: 2>&1 | awk '{ printf "%.3f\n", $1 }'
  else echo "n/a"; fi
}
if [ -z "$python" ] && [ "$have_magick" = 0 ]; then echo "no Python with PIL and no ImageMagick: PSNR is not measured"; fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The best wall and CPU seconds of RUNS runs of a command: "wall cpu".
timed() {
  local best_wall="" best_cpu="" i out
  for ((i = 0; i < runs; i++)); do
    out=$( { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>&1; } 2>&1 | tail -n 1)
    read -r w u s <<<"$out"
    local c; c=$(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.3f", u + s }')
    if [ -z "$best_wall" ] || awk -v a="$w" -v b="$best_wall" 'BEGIN { exit !(a < b) }'; then best_wall=$w; fi
    if [ -z "$best_cpu" ] || awk -v a="$c" -v b="$best_cpu" 'BEGIN { exit !(a < b) }'; then best_cpu=$c; fi
  done
  echo "$best_wall $best_cpu"
}

# Photo-like pictures: fractal plasma, a soft plasma, a sky-to-grass gradient
# with grainy texture, a real photograph enlarged with sensor noise, and
# blurred turbulence. ImageMagick makes them; without it, ffmpeg's sources.
pictures=()
if [ "$have_magick" = 1 ]; then
  convert -size 1920x1080 -seed 7 plasma:fractal "$work/plasma.bmp"
  convert -size 1920x1080 -seed 3 plasma:tomato-steelblue -blur 0x1 "$work/soft.bmp"
  convert -size 1920x1080 gradient:skyblue-darkolivegreen \
    \( -size 1920x1080 xc: -seed 5 +noise Random -blur 0x3 -colorspace gray -auto-level \) \
    -compose overlay -composite "$work/field.bmp"
  convert rose: -resize '1920x1080!' -seed 4 -attenuate 0.3 +noise Gaussian "$work/rose.bmp"
  convert -size 1920x1080 xc: -seed 9 +noise Random -virtual-pixel tile -blur 0x12 -auto-level "$work/turbulence.bmp"
  pictures=(plasma soft field rose turbulence)
elif [ "$have_ffmpeg" = 1 ]; then
  ffmpeg -nostdin -v error -y -f lavfi -i mandelbrot=size=1920x1080 -frames:v 1 "$work/mandelbrot.bmp"
  ffmpeg -nostdin -v error -y -f lavfi -i gradients=size=1920x1080:seed=3 \
    -vf "format=yuv444p,noise=alls=12:allf=t,format=bgr24" -frames:v 1 "$work/gradients.bmp"
  pictures=(mandelbrot gradients)
else
  echo "neither ImageMagick nor ffmpeg is installed: nothing to compare against"; exit 0
fi

printf '%-11s %-9s %-36s %8s %8s %7s %7s %7s\n' picture dither method "PSNR dB" "vs ours" "wall s" "cpu s" "x ours"
# One table row; sets psnr_out (dB) and diff_out (this row's dB minus ours).
row() {  # picture dither method gif wall cpu ours_psnr ours_cpu
  psnr_out=$(psnr "$work/$1.bmp" "$4")
  diff_out=""
  local x=""
  if [ "$psnr_out" != "n/a" ] && [ -n "$7" ] && [ "$7" != "n/a" ]; then
    diff_out=$(awk -v a="$psnr_out" -v b="$7" 'BEGIN { printf "%+.2f", a - b }')
  fi
  [ -n "$8" ] && x=$(awk -v a="$6" -v b="$8" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }')
  printf '%-11s %-9s %-36s %8s %8s %7s %7s %7s\n' "$1" "$2" "$3" "$psnr_out" "$diff_out" "$5" "$6" "$x"
}
# Sums over the pictures of ours minus each peer, of the peers' CPU time
# over ours, and of the same for the colour work alone.
declare -A gain=() ratio=() qratio=()
add() { gain[$1]=$(awk -v a="${gain[$1]:-0}" -v d="$2" 'BEGIN { print a - d }')
        ratio[$1]=$(awk -v a="${ratio[$1]:-0}" -v x="$3" 'BEGIN { print a + x }'); }
addq() { qratio[$1]=$(awk -v a="${qratio[$1]:-0}" -v p="$2" -v o="$3" 'BEGIN { print a + (o > 0 ? p / o : 0) }'); }
# CPU seconds minus a baseline, never below a millisecond.
minus() { awk -v a="$1" -v b="$2" 'BEGIN { d = a - b; printf "%.3f", (d < 0.001 ? 0.001 : d) }'; }
count=0
quant_lines=()
for pic in "${pictures[@]}"; do
  in="$work/$pic.bmp"
  read -r _ base_ours <<<"$(timed "$cli" gif encode "$in" "$work/cube.gif" --palette cube)"
  [ "$have_ffmpeg" = 1 ] && read -r _ base_ff <<<"$(timed ffmpeg -nostdin -v error -y -i "$in" -frames:v 1 -f null -)"
  [ "$have_magick" = 1 ] && read -r _ base_im <<<"$(timed convert "$in" null:)"
  for dither in none diffusion; do
    read -r w c <<<"$(timed "$cli" gif encode "$in" "$work/ours-$dither.gif" --palette adaptive-hq --dither "$dither")"
    row "$pic" "$dither" "tarnel adaptive-hq" "$work/ours-$dither.gif" "$w" "$c" "" ""
    ours=$psnr_out; ours_cpu=$c
    if [ "$dither" = none ]; then
      read -r w c <<<"$(timed "$cli" gif encode "$in" "$work/octree.gif" --palette adaptive --dither none)"
      row "$pic" none "tarnel adaptive (octree)" "$work/octree.gif" "$w" "$c" "$ours" "$ours_cpu"
    fi
    if [ "$have_ffmpeg" = 1 ]; then
      use="paletteuse"; [ "$dither" = none ] && use="paletteuse=dither=none"
      read -r w c <<<"$(timed ffmpeg -nostdin -v error -y -i "$in" -lavfi "split[a][b];[a]palettegen[p];[b][p]$use" -frames:v 1 "$work/ff.gif")"
      row "$pic" "$dither" "ffmpeg palettegen+$use" "$work/ff.gif" "$w" "$c" "$ours" "$ours_cpu"
      add "ffmpeg-$dither" "${diff_out:-0}" "$(awk -v a="$c" -v b="$ours_cpu" 'BEGIN { print (b > 0 ? a / b : 0) }')"
      read -r _ cq <<<"$(timed ffmpeg -nostdin -v error -y -i "$in" -lavfi "split[a][b];[a]palettegen[p];[b][p]$use" -frames:v 1 -f null -)"
      pq=$(minus "$cq" "$base_ff"); oq=$(minus "$ours_cpu" "$base_ours")
      addq "ffmpeg-$dither" "$pq" "$oq"
      quant_lines+=("$(printf '%-11s %-9s %-36s %8s %8s %7.1f' "$pic" "$dither" "ffmpeg" "$pq" "$oq" "$(awk -v p="$pq" -v o="$oq" 'BEGIN { print p / o }')")")
    fi
    if [ "$have_magick" = 1 ]; then
      opt=(-colors 256); label="convert -colors 256"
      [ "$dither" = none ] && { opt=(+dither -colors 256); label="convert +dither -colors 256"; }
      read -r w c <<<"$(timed convert "$in" "${opt[@]}" "$work/im.gif")"
      row "$pic" "$dither" "$label" "$work/im.gif" "$w" "$c" "$ours" "$ours_cpu"
      add "magick-$dither" "${diff_out:-0}" "$(awk -v a="$c" -v b="$ours_cpu" 'BEGIN { print (b > 0 ? a / b : 0) }')"
      read -r _ cq <<<"$(timed convert "$in" "${opt[@]}" null:)"
      pq=$(minus "$cq" "$base_im"); oq=$(minus "$ours_cpu" "$base_ours")
      addq "magick-$dither" "$pq" "$oq"
      quant_lines+=("$(printf '%-11s %-9s %-36s %8s %8s %7.1f' "$pic" "$dither" "ImageMagick" "$pq" "$oq" "$(awk -v p="$pq" -v o="$oq" 'BEGIN { print p / o }')")")
    fi
  done
  count=$((count + 1))
done
echo
echo "colour work alone (CPU seconds less each tool's own read-and-write baseline):"
printf '%-11s %-9s %-36s %8s %8s %7s\n' picture dither peer "peer s" "ours s" "x ours"
for line in "${quant_lines[@]}"; do echo "$line"; done
echo
echo "over $count pictures: mean dB of ours above the peer; mean of the peer's CPU time over ours,"
echo "whole commands and colour work alone"
for key in ffmpeg-none ffmpeg-diffusion magick-none magick-diffusion; do
  [ -n "${gain[$key]:-}" ] || continue
  awk -v k="$key" -v g="${gain[$key]}" -v x="${ratio[$key]}" -v q="${qratio[$key]}" -v n="$count" \
    'BEGIN { printf "  %-18s %+6.2f dB   %5.1fx   %5.1fx\n", k, g / n, x / n, q / n }'
done
echo "(the machine may be shared with other work: CPU seconds are the fairer speed figure)"
