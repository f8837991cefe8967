#!/usr/bin/env bash
# Runs two builds of tarnel-cli over every command and option and compares
# what they write byte for byte: files, folders, standard output, standard
# error and exit status. For checking that a change of the code's shape
# changes no output.
#
#   tools/compare_cli.sh OLD_CLI NEW_CLI [START END [PICTURE ...]]
#
# START and END (same size) are morphed; every PICTURE (and both of them) is
# also encoded as a GIF. Without pictures, the bundled samples are used, plus
# a JPEG and a GIF made from them. Prints one line per differing case and a
# summary; exits 1 when anything differs. TARNEL_COMPARE_KEEP=1 keeps the
# work folder.
set -uo pipefail
if [ $# -lt 2 ]; then
  sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
old=$(realpath "$1") new=$(realpath "$2")
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/tarnel-compare.XXXXXX)
[ "${TARNEL_COMPARE_KEEP:-0}" = 1 ] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in"

if [ $# -ge 2 ]; then
  start=$(realpath "$1") end=$(realpath "$2")
  shift 2
  pictures=("$start" "$end")
  for p in "$@"; do pictures+=("$(realpath "$p")"); done
else
  start=$root/resources/samples/start.bmp end=$root/resources/samples/end.bmp
  pictures=("$start" "$end")
  if command -v ffmpeg >/dev/null; then
    ffmpeg -v error -i "$start" -q:v 3 "$work/in/start.jpg" && pictures+=("$work/in/start.jpg")
    ffmpeg -v error -i "$end" "$work/in/end.gif" && pictures+=("$work/in/end.gif")
  fi
fi
mesh=$root/resources/samples/demo-mesh.json
if [ "$start" != "$root/resources/samples/start.bmp" ]; then
  # The demo mesh fits only the samples: the default mesh of the given pictures.
  mesh=$work/in/mesh.json
  "$old" mesh "$start" "$end" --rows 4 --columns 5 --out "$mesh" >/dev/null 2>&1 || echo "no mesh for $start and $end" >&2
fi

# Hostile and odd inputs: every command must fail (or succeed) alike on them.
head -c 100 "$start" >"$work/in/truncated.bmp"
printf 'GIF89a\xff\x7f\xff\x7f\x80\x00\x00' >"$work/in/huge.gif"
mkfifo "$work/in/fifo.bmp"
ln -s "$start" "$work/in/link.bmp"
mkdir -p "$work/in/empty" "$work/in/notafolder"
printf 'not json' >"$work/in/bad.json"

differ=0 cases=0
# WebM files carry a random segment id: when only such files differ, their
# decoded frames are compared instead.
same_media() {
  local line o n
  while read -r line; do
    # "Files A and B differ" for WebM files only; anything else (a file on one side only) is a difference.
    case $line in Files\ *.webm\ and\ *.webm\ differ) ;; *) return 1 ;; esac
    o=${line#Files }
    o=${o%% and *}
    n=${line#* and }
    n=${n% differ}
    cmp -s <(ffmpeg -v error -i "$o" -f framemd5 -) <(ffmpeg -v error -i "$n" -f framemd5 -) || return 1
  done < <(diff -rq "$work/old/$1" "$work/new/$1" 2>&1)
  return 0
}
# run NAME ARGS...: runs both builds with @OUT@ standing for a fresh output
# folder of each, then compares.
run() {
  local name=$1
  shift
  cases=$((cases + 1))
  local side bin
  for side in old new; do
    bin=${!side}
    local out=$work/$side/$name
    mkdir -p "$out"
    local args=()
    for a in "$@"; do args+=("${a//@OUT@/$out}"); done
    (cd "$out" && timeout 600 "$bin" "${args[@]}" >"$work/$side/$name.stdout" 2>"$work/$side/$name.stderr" </dev/null)
    echo $? >"$work/$side/$name.status"
    # A morph's dated folder: one name for both sides.
    local dated
    for dated in "$out"/[0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]-[0-9][0-9]; do
      [ -d "$dated" ] && mv "$dated" "$out/RUN"
    done
    sed -i -e "s#$work/$side/#WORK/#g" -e 's#[0-9]\{8\}-[0-9]\{2\}-[0-9]\{2\}-[0-9]\{2\}#RUN#g' \
      "$work/$side/$name.stdout" "$work/$side/$name.stderr"
  done
  local what=""
  cmp -s "$work/old/$name.status" "$work/new/$name.status" || what+=" status"
  cmp -s "$work/old/$name.stdout" "$work/new/$name.stdout" || what+=" stdout"
  cmp -s "$work/old/$name.stderr" "$work/new/$name.stderr" || what+=" stderr"
  diff -rq "$work/old/$name" "$work/new/$name" >/dev/null 2>&1 || same_media "$name" || what+=" files"
  if [ -n "$what" ]; then
    differ=$((differ + 1))
    echo "DIFFERS $name:$what ($*)"
  fi
}

echo "comparing $old and $new" >&2
run version --version
run help --help
for c in morph mesh gif avi video anigif; do run "help-$c" "$c" --help; done
run bad-command frobnicate
run bad-option morph "$start" "$end" --frames 0

# morph: every kind, transparency, sampling, easing, mesh source and thread count.
for kind in bmp jpg gif; do
  for tr in --transparent --no-transparent; do
    run "morph-$kind$tr" morph "$start" "$end" --mesh "$mesh" --frames 6 --kind $kind $tr --out @OUT@
  done
done
run morph-grid morph "$start" "$end" --rows 4 --columns 5 --frames 5 --out @OUT@
run morph-default morph "$start" "$end" --out @OUT@ --threads 2
run morph-threads1 morph "$start" "$end" --mesh "$mesh" --frames 4 --threads 1 --out @OUT@
run morph-bilinear morph "$start" "$end" --mesh "$mesh" --frames 4 --sampling bilinear --out @OUT@
run morph-ease morph "$start" "$end" --mesh "$mesh" --frames 5 --ease smooth --out @OUT@
run morph-warp-ease morph "$start" "$end" --mesh "$mesh" --frames 5 --warp-ease smooth --blend-ease linear --out @OUT@
run morph-blend-ease morph "$start" "$end" --mesh "$mesh" --frames 5 --blend-ease smooth --kind gif --out @OUT@
size=$("$old" gif encode "$start" "$work/in/probe.gif" >/dev/null 2>&1 && "$old" gif info "$work/in/probe.gif" | grep -o '[0-9]\+ *x *[0-9]\+' | head -1 | tr -d ' ')
w=${size%x*} h=${size#*x}
if [ -n "$w" ] && [ -n "$h" ]; then
  cat >"$work/in/project.json" <<EOF
{"rows": 2, "columns": 2, "start": [[0,0],[$((w/2)),0],[$((w-1)),0],[0,$((h/2))],[$((w/2)),$((h/2))],[$((w-1)),$((h/2))],[0,$((h-1))],[$((w/2)),$((h-1))],[$((w-1)),$((h-1))]],
 "end": [[0,0],[$((w/2)),0],[$((w-1)),0],[0,$((h/2))],[$((w/3)),$((h/3))],[$((w-1)),$((h/2))],[0,$((h-1))],[$((w/2)),$((h-1))],[$((w-1)),$((h-1))]],
 "startImage": "$start", "endImage": "$end", "startSize": [$w, $h], "endSize": [$w, $h],
 "frames": 5, "kind": "jpg", "transparent": false}
EOF
  run morph-project morph --mesh "$work/in/project.json" --out @OUT@
  run morph-project-override morph --mesh "$work/in/project.json" --kind gif --frames 3 --out @OUT@
fi
run morph-missing morph "$work/in/nothing.bmp" "$end" --out @OUT@
run morph-truncated morph "$work/in/truncated.bmp" "$end" --out @OUT@
run morph-fifo morph "$work/in/fifo.bmp" "$end" --out @OUT@
run morph-link morph "$work/in/link.bmp" "$end" --frames 3 --out @OUT@
run morph-size-mismatch morph "$start" "${pictures[2]:-$work/in/truncated.bmp}" --out @OUT@
run morph-bad-mesh morph "$start" "$end" --mesh "$work/in/bad.json" --out @OUT@

# mesh
run mesh mesh "$start" "$end" --rows 3 --columns 4 --out @OUT@/mesh.json
run mesh-big mesh "$start" "$end" --rows 20 --columns 20 --out @OUT@/mesh.json
run mesh-bad mesh "$start" "$end" --rows 0 --columns 4 --out @OUT@/mesh.json

# gif encode / info / optimize over every picture and choice.
i=0
for p in "${pictures[@]}" "$work/in/truncated.bmp" "$work/in/huge.gif" "$work/in/fifo.bmp"; do
  i=$((i + 1))
  for pal in cube adaptive adaptive-hq; do
    for d in none ordered diffusion; do
      run "gif-encode-$i-$pal-$d" gif encode "$p" @OUT@/out.gif --palette $pal --dither $d
    done
  done
  run "gif-info-$i" gif info "$p"
done

# A morph's folder and an AVI of it feed the exports and the animation.
frames=$work/in/frames
mkdir -p "$frames"
"$old" morph "$start" "$end" --mesh "$mesh" --frames 8 --out "$frames" >/dev/null 2>&1
folder=$(ls -d "$frames"/*/ | head -1)
folder=${folder%/}
jpgframes=$work/in/jpgframes
mkdir -p "$jpgframes"
"$old" morph "$start" "$end" --mesh "$mesh" --frames 4 --kind jpg --out "$jpgframes" >/dev/null 2>&1
jpgfolder=$(ls -d "$jpgframes"/*/ | head -1)
jpgfolder=${jpgfolder%/}

for codec in raw mjpeg ffv1 mpeg4 h264; do
  run "avi-$codec" avi "$folder" @OUT@/out.avi --codec $codec
  run "avi-$codec-q" avi "$folder" @OUT@/out.avi --codec $codec --quality 30 --keyframes 3 --fps 12
done
run avi-size avi "$folder" @OUT@/out.avi --size 161x97 --fps 30
run avi-jpg avi "$jpgfolder" @OUT@/out.avi
run avi-empty avi "$work/in/empty" @OUT@/out.avi
run avi-bad-size avi "$folder" @OUT@/out.avi --size 0x5

for ext in mp4 webm; do
  run "video-$ext" video "$folder" @OUT@/out.$ext
  run "video-$ext-crf" video "$folder" @OUT@/out.$ext --crf 40 --fps 25 --size 161x97
done
run video-bad-ext video "$folder" @OUT@/out.mkv

"$old" avi "$folder" "$work/in/morph.avi" >/dev/null 2>&1
"$old" avi "$folder" "$work/in/morph-mjpeg.avi" --codec mjpeg >/dev/null 2>&1
for src in "$folder" "$work/in/morph.avi" "$work/in/morph-mjpeg.avi"; do
  tag=$(basename "$src" | tr -c 'a-zA-Z0-9\n-' '-')
  for pal in cube adaptive adaptive-all adaptive-hq; do
    for d in none ordered diffusion; do
      run "anigif-$tag-$pal-$d" anigif "$src" @OUT@/out.gif --palette $pal --dither $d
    done
    run "anigif-$tag-$pal-opt" anigif "$src" @OUT@/out.gif --palette $pal --optimize
    run "anigif-$tag-$pal-max" anigif "$src" @OUT@/out.gif --palette $pal --optimize=max
  done
  run "anigif-$tag-transparent" anigif "$src" @OUT@/out.gif --optimize --transparent-index 7 --delay 9
done
run anigif-jpgfolder anigif "$jpgfolder" @OUT@/out.gif --optimize
run anigif-empty anigif "$work/in/empty" @OUT@/out.gif
run anigif-notvideo anigif "$work/in/truncated.bmp" @OUT@/out.gif
run anigif-fifo anigif "$work/in/fifo.bmp" @OUT@/out.gif

"$old" anigif "$folder" "$work/in/anim.gif" >/dev/null 2>&1
run gif-info-anim gif info "$work/in/anim.gif"
run gif-optimize gif optimize "$work/in/anim.gif" @OUT@/out.gif
run gif-optimize-max gif optimize "$work/in/anim.gif" @OUT@/out.gif --max
run gif-optimize-tr gif optimize "$work/in/anim.gif" @OUT@/out.gif --transparent-index 3
run gif-optimize-bad gif optimize "$work/in/huge.gif" @OUT@/out.gif

echo "$cases cases, $differ differ"
[ "$differ" -eq 0 ]
