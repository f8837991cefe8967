#!/usr/bin/env bash
# Makes the GIF fixtures in tests/data/gif with tools other than ours:
# gifbuild (giflib-tools) compiles a text description into a GIF, which gives
# exact control of palettes, transparency, disposal, comments, interlace and
# loops; ImageMagick's convert writes what a common encoder writes.
# gifsicle's encoder keeps coding against a full LZW table and clears only
# when compression drops, a stream shape the others never write.
# The files are committed; run this again only to change them.
#   apt-get install -y giflib-tools imagemagick gifsicle python3-pil
set -euo pipefail
cd "$(dirname "$0")/.."
out=tests/data/gif
mkdir -p "$out"
command -v gifbuild >/dev/null || { echo "gifbuild missing (apt-get install giflib-tools)" >&2; exit 1; }
command -v convert >/dev/null || { echo "convert missing (apt-get install imagemagick)" >&2; exit 1; }
command -v gifsicle >/dev/null || { echo "gifsicle missing (apt-get install gifsicle)" >&2; exit 1; }

# --- gifbuild -------------------------------------------------------------

# Every disposal method, offsets, transparency, a local palette, loops.
# Screen 8x6, background index 1 (red). Palette: a black, b red, c green,
# d blue. Expected composites are spelled out in test_GifFixtures.cpp.
gifbuild >"$out/gb_disposal.gif" <<'EOF'
screen width 8
screen height 6
screen colors 4
screen background 1
screen map
	rgb 0 0 0 is a
	rgb 255 0 0 is b
	rgb 0 255 0 is c
	rgb 0 0 255 is d
end
netscape loop 5

graphics control
	disposal mode 0
	delay 10
end
image
image left 0
image top 0
image bits 8 by 6
cccccccc
cccccccc
cccccccc
cccccccc
cccccccc
cccccccc

graphics control
	disposal mode 1
	delay 20
	transparent index 0
end
image
image left 1
image top 1
image bits 4 by 3
dddd
dada
dddd

graphics control
	disposal mode 2
	delay 30
end
image
image left 4
image top 3
image bits 3 by 2
bab
bbb

graphics control
	disposal mode 3
	delay 40
	user input flag on
end
image
image left 0
image top 4
image map
	rgb 255 255 255 is w
	rgb 255 255 0 is y
end
image bits 2 by 2
wy
yw

graphics control
	disposal mode 1
	delay 50
	transparent index 3
end
image
image left 6
image top 0
image bits 2 by 6
ad
da
ad
da
ad
da
EOF

# Interlaced frames: 11 rows (all four passes), 4 rows (short), and a
# non-interlaced one between them; every row distinct.
gifbuild >"$out/gb_interlaced.gif" <<'EOF'
screen width 5
screen height 11
screen colors 16
screen map
	rgb 0 0 0 is 0
	rgb 17 0 0 is 1
	rgb 34 0 0 is 2
	rgb 51 0 0 is 3
	rgb 68 0 0 is 4
	rgb 85 0 0 is 5
	rgb 102 0 0 is 6
	rgb 119 0 0 is 7
	rgb 136 0 0 is 8
	rgb 153 0 0 is 9
	rgb 170 0 0 is A
	rgb 187 0 0 is B
	rgb 204 0 0 is C
	rgb 221 0 0 is D
	rgb 238 0 0 is E
	rgb 255 0 0 is F
end
graphics control
	delay 5
end
image
image interlaced
image bits 5 by 11
00000
11111
22222
33333
44444
55555
66666
77777
88888
99999
AAAAA
graphics control
	delay 5
end
image
image left 1
image top 2
image bits 3 by 5
012
345
678
9AB
CDE
graphics control
	delay 5
end
image
image interlaced
image left 0
image top 7
image bits 5 by 4
F0F0F
E1E1E
D2D2D
C3C3C
EOF

# Comments (one with bytes above 0x7F, kept as they are), an unknown
# extension label, and a sorted global table with aspect byte 49.
gifbuild >"$out/gb_comments.gif" <<'EOF'
screen width 3
screen height 2
screen colors 2
screen background 0
pixel aspect byte 49
screen map
	sort flag on
	rgb 255 255 255 is w
	rgb 0 0 0 is k
end
comment
first comment
end
extension 7f
zzzz
end
image
image bits 3 by 2
wkw
kwk
comment
\x83\x65\x83\x58\x83\x67 second
end
EOF

# No extension at all: written as GIF87a.
gifbuild >"$out/gb_87a.gif" <<'EOF'
screen width 4
screen height 3
screen colors 4
screen map
	rgb 0 0 0 is a
	rgb 255 255 255 is b
	rgb 128 64 32 is c
	rgb 1 2 3 is d
end
image
image bits 4 by 3
abcd
dcba
aabb
EOF

# The second image has no graphic control extension of its own. Image n
# takes the n-th extension of the file, so this file does not load here,
# though it is a valid GIF.
gifbuild >"$out/gb_missing_control.gif" <<'EOF'
screen width 2
screen height 1
screen colors 2
screen map
	rgb 0 0 0 is a
	rgb 255 255 255 is b
end
graphics control
	delay 5
end
image
image bits 2 by 1
ab
image
image bits 2 by 1
ba
EOF

# --- ImageMagick ----------------------------------------------------------

# A 40x30 picture with many colours, interlaced.
convert -size 40x30 gradient:'#ff0000-#0000ff' \
  \( -size 40x30 gradient:'#00ff00-#000000' -rotate 90 -resize 40x30! \) \
  -compose plus -composite -colors 200 -interlace GIF "$out/im_interlaced.gif"

# GIF87a through ImageMagick's own coder.
convert -size 13x7 xc:'#336699' -fill '#ffcc00' -draw 'rectangle 3,2 9,4' "gif87:$out/im_87a.gif"

# An animation that ImageMagick optimises into cropped frames with
# transparency and disposal: a blue square moving over a green field with a
# red bar. test_GifFixtures.cpp draws the same frames to compare.
frames=()
for i in 0 1 2 3 4; do
  x=$((2 + 3 * i))
  frames+=( \( -size 24x16 xc:'#00ff00' -fill '#ff0000' -draw 'rectangle 0,12 23,13'
               -fill '#0000ff' -draw "rectangle $x,3 $((x + 4)),7" \) )
done
convert -delay 12 -loop 0 "${frames[@]}" -layers Optimize "$out/im_anim.gif"

# --- gifsicle -------------------------------------------------------------

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# A 640x160 interlaced 256-colour picture (smooth waves over a fine product
# pattern) that gifsicle codes with two codes sent after the table filled
# and before the next clear.
/usr/bin/python3 - "$tmp/waves.gif" <<'EOF'
import math, sys
from PIL import Image
w, h, i = 640, 160, 18
im = Image.new('RGB', (w, h))
px = im.load()
for y in range(h):
    for x in range(w):
        px[x, y] = (int(128 + 127 * math.sin((x + i * 7) * 0.02) * math.cos(y * 0.015)),
                    (x * y // 97 + i * 5) % 256,
                    int(128 + 100 * math.sin(x * 0.01 + y * 0.013 + i * 0.2)))
im.convert('P', palette=Image.ADAPTIVE, colors=256).save(sys.argv[1])
EOF
gifsicle "$tmp/waves.gif" -o "$out/gs_full_table.gif"

# Two GIF87a images, so no graphic control extension at all: an animation
# of the old kind.
convert -size 6x4 xc:'#336699' -fill '#ffcc00' -draw 'point 1,1' "gif87:$tmp/a1.gif"
convert -size 6x4 xc:'#ff0000' -fill '#00ff00' -draw 'point 4,2' "gif87:$tmp/a2.gif"
gifsicle "$tmp/a1.gif" "$tmp/a2.gif" -o "$out/gs_87a_anim.gif"


ls -l "$out"
