#!/usr/bin/env bash
# Makes the BMP fixtures of tests/data/bmp with ImageMagick, an encoder that is
# not ours: each X.bmp comes with X.ppm, the same pixels as ImageMagick decodes
# them, which the decoder tests compare against. BMP3 would choose RLE8 for
# 8-bit palettes on its own, hence -compress None; BMP writes a V5 header.
set -euo pipefail
cd "$(dirname "$0")/../tests/data/bmp"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# 37 x 11: flat blocks on the left (runs for RLE), a gradient on the right
# (absolute runs), odd width so every depth needs row padding.
convert -size 37x11 xc: -fx 'i<18 ? (floor(i/6)+floor(j/4))%3/2 : (i-18)/18*0.5+j/20' \
  -channel G -fx 'i<18 ? floor(j/4)/2 : 1-j/10' \
  -channel B -fx 'i<18 ? floor(i/6)/2 : (i*j)%7/6' +channel "$tmp/src.png"

make() {  # name, format (BMP2 core header, BMP3 info header, BMP v4/v5), options...
  local name=$1 format=$2
  shift 2
  convert "$tmp/src.png" "$@" "$format:$name.bmp"
  convert "$name.bmp" -alpha off -depth 8 "PPM:$name.ppm"
}

make core24 BMP2
make core4 BMP2 -colors 16
make core8 BMP2 -colors 100
make info1 BMP3 -colors 2
make info4 BMP3 -colors 16
make info8 BMP3 -colors 100 -compress None
make info24 BMP3
make rle8 BMP3 -colors 100 -compress RLE
make v5_24 BMP
make v5_555 BMP -define bmp:subtype=RGB555
make v5_565 BMP -define bmp:subtype=RGB565
make v5_argb32 BMP -alpha on -channel A -fx 0.5 +channel

# Seeds for fuzz/fuzz_bmp.cpp: a few of the small fixtures, plus two files
# ImageMagick does not write, laid out by hand: a 4 x 2 RLE4 bitmap and a
# packed 2 x 2 24-bpp DIB (info header straight followed by the pixels).
seeds=../../../fuzz/corpus/bmp
mkdir -p "$seeds"
cp info1.bmp info4.bmp core4.bmp rle8.bmp v5_565.bmp "$seeds"/
le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16 & 65535)); }
info() {  # width height bpp compression sizeImage clrUsed
  le32 40; le32 "$1"; le32 "$2"; le16 1; le16 "$3"; le32 "$4"; le32 "$5"; le32 0; le32 0; le32 "$6"; le32 0
}
{
  printf 'BM'; le32 128; le32 0; le32 118
  info 4 2 4 2 10 16
  for i in $(seq 0 15); do le32 $((i * 0x100F11)); done
  printf '\x04\x12\x00\x00\x00\x04\x34\x56\x00\x01'  # run, end of line, absolute run, end of bitmap
} > "$seeds/rle4.bmp"
{
  info 2 2 24 0 16 0
  printf '\x10\x20\x30\x40\x50\x60\x00\x00\x70\x80\x90\xa0\xb0\xc0\x00\x00'
} > "$seeds/packed24.dib"
