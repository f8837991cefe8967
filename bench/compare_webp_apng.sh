#!/usr/bin/env bash
# Animated WebP and APNG of photo morphs against the peer tools, in one run:
#  - `tarnel-cli video OUT.webp` (default quality) against our best GIF of the
#    same frames (`anigif --optimize=max --palette adaptive-hq`): size ratio and
#    luma SSIM (11x11 Gaussian, bench/ssim_luma.py) of each, and img2webp at the
#    same quality (its defaults, and every frame a key frame) for size, SSIM
#    and time;
#  - `tarnel-cli video OUT.apng` against `ffmpeg -i %03d.bmp -plays 0 -f apng`:
#    size ratio, time, and whether FFmpeg decodes both to exactly the frames.
# The morphs are 480x270 runs between real photographs when the photo folder
# exists (PHOTOS, default /work/photos/x/usr/share/backgrounds/mate/nature),
# else between plasma pictures. Times are the better of two runs, wall and CPU.
# Usage: bench/compare_webp_apng.sh [BUILD_DIR]   (default: build)
set -euo pipefail
build="${1:-build}"
cli="$build/tarnel-cli"
here="$(cd "$(dirname "$0")" && pwd)"
photos="${PHOTOS:-/work/photos/x/usr/share/backgrounds/mate/nature}"
py=/usr/bin/python3
for tool in img2webp ffmpeg convert; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed: skipped"; exit 0; }
done
"$py" -c 'import PIL, numpy' 2>/dev/null || { echo "Pillow and NumPy are needed: skipped"; exit 0; }
[ -x "$cli" ] || { echo "no $cli: build the tarnel-cli target first" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

. "$(dirname "$0")/timing.sh"
ssim() { "$py" "$here/ssim_luma.py" "$1" "$2"; }

# Pairs of pictures and frame counts.
pairs=()
if [ -d "$photos" ]; then
  for p in Aqua:Dune:24 Garden:LadyBird:30 Storm:TwoWings:20 FreshFlower:YellowFlower:20; do
    IFS=: read -r a b n <<<"$p"
    [ -f "$photos/$a.jpg" ] && [ -f "$photos/$b.jpg" ] || continue
    for x in "$a" "$b"; do
      convert "$photos/$x.jpg" -resize 480x270^ -gravity center -extent 480x270 -type TrueColor "BMP3:$work/$x.bmp"
    done
    pairs+=("$a:$b:$n")
  done
fi
if [ ${#pairs[@]} -eq 0 ]; then
  convert -seed 1 -size 480x270 plasma:fractal "BMP3:$work/p1.bmp"
  convert -seed 2 -size 480x270 plasma:fractal "BMP3:$work/p2.bmp"
  pairs=("p1:p2:24")
fi

quality=$("$cli" video --help 2>&1 | sed -n 's/.*--quality 0-100 (default \([0-9]*\)).*/\1/p' | head -n 1)
quality=${quality:-85}
printf 'WebP (ours at the default quality %s) against our best GIF and img2webp -q %s -m 4\n' "$quality" "$quality"
printf '%-22s %-30s %10s %7s %7s %8s %8s\n' morph file bytes /GIF ssim wall cpu
for p in "${pairs[@]}"; do
  IFS=: read -r a b n <<<"$p"
  name="$a-$b"
  "$cli" morph "$work/$a.bmp" "$work/$b.bmp" --frames "$n" --out "$work/run-$name" >/dev/null
  frames="$(find "$work/run-$name" -mindepth 1 -maxdepth 1 -type d | head -n 1)"
  mkdir -p "$work/png-$name"
  for f in "$frames"/*.bmp; do convert "$f" "$work/png-$name/$(basename "$f" .bmp).png"; done
  t_gif=$(times_of "$cli" anigif "$frames" "$work/$name.gif" --optimize=max --palette adaptive-hq)
  t_ours=$(times_of "$cli" video "$frames" "$work/$name.webp")
  t_img=$(times_of img2webp -lossy -q "$quality" -m 4 -d 50 "$work/png-$name"/*.png -o "$work/$name-img2webp.webp")
  t_key=$(times_of img2webp -kmax 1 -lossy -q "$quality" -m 4 -d 50 "$work/png-$name"/*.png -o "$work/$name-img2webp-k1.webp")
  gif=$(size "$work/$name.gif")
  row() { printf '%-22s %-30s %10s %7s %7s %8s %8s\n' "$name" "$1" "$(size "$2")" "$(ratio "$(size "$2")" "$gif")" "$(ssim "$frames" "$2")" $3; }
  row "anigif max adaptive-hq" "$work/$name.gif" "$t_gif"
  row "video .webp (ours)" "$work/$name.webp" "$t_ours"
  row "img2webp -q $quality" "$work/$name-img2webp.webp" "$t_img"
  row "img2webp -q $quality -kmax 1" "$work/$name-img2webp-k1.webp" "$t_key"
  set -- $t_ours; ow=$1 oc=$2
  set -- $t_img; iw=$1 ic=$2
  printf '%-22s ours/img2webp time: wall %s, cpu %s (ours reads BMP, img2webp PNG)\n' "$name" "$(ratio "$ow" "$iw")" "$(ratio "$oc" "$ic")"

  t_apng=$(times_of "$cli" video "$frames" "$work/$name.apng")
  t_ff=$(times_of ffmpeg -v error -y -i "$frames/%03d.bmp" -plays 0 -f apng "$work/$name-ffmpeg.apng")
  ref=$(ffmpeg -v error -i "$frames/%03d.bmp" -pix_fmt rgb24 -f framemd5 - | grep -v '^#' | awk -F, '{ print $NF }' | md5sum)
  exact() { [ "$(ffmpeg -v error -i "$1" -pix_fmt rgb24 -f framemd5 - | grep -v '^#' | awk -F, '{ print $NF }' | md5sum)" = "$ref" ] && echo exact || echo DIFFERENT; }
  printf '%-22s %-30s %10s %7s %7s %8s %8s\n' "$name" "video .apng (ours)" "$(size "$work/$name.apng")" "" "$(exact "$work/$name.apng")" $t_apng
  printf '%-22s %-30s %10s %7s %7s %8s %8s\n' "$name" "ffmpeg -f apng" "$(size "$work/$name-ffmpeg.apng")" "" "$(exact "$work/$name-ffmpeg.apng")" $t_ff
  printf '%-22s ours/ffmpeg APNG size %s\n' "$name" "$(ratio "$(size "$work/$name.apng")" "$(size "$work/$name-ffmpeg.apng")")"
done
