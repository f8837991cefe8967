#!/usr/bin/env bash
# Makes the seed corpus of fuzz_avi in fuzz/corpus/avi: tiny AVIs of three
# 8 x 8 frames in each codec the reader is meant for, written by the ffmpeg
# tool. The files are committed; run this again only to change them.
set -euo pipefail
cd "$(dirname "$0")"
out=corpus/avi
mkdir -p "$out"
command -v ffmpeg >/dev/null || { echo "ffmpeg missing (apt-get install ffmpeg)" >&2; exit 1; }
src="-f lavfi -i testsrc=size=8x8:rate=10"
make() {  # name, codec arguments
    ffmpeg -nostdin -hide_banner -v error -y $src -frames:v 3 $2 -f avi "$out/$1.avi"
}
make raw_top_down "-c:v rawvideo -pix_fmt bgr24"
make raw_bottom_up "-c:v rawvideo -pix_fmt bgr24 -flipped_raw_rgb 1"
make pal8 "-c:v rawvideo -pix_fmt pal8"
make mjpeg "-c:v mjpeg -q:v 5"
make ffv1 "-c:v ffv1"
make mpeg4 "-c:v mpeg4"
if ffmpeg -hide_banner -encoders 2>/dev/null | grep -w libx264 >/dev/null; then
    make h264 "-c:v libx264 -pix_fmt yuv420p"
fi
# A video stream beside an audio stream.
ffmpeg -nostdin -hide_banner -v error -y $src -f lavfi -i sine=duration=0.3:sample_rate=8000 \
    -frames:v 3 -c:v mjpeg -c:a pcm_u8 -f avi "$out/with_audio.avi"
