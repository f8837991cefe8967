#include "support/PillowImages.h"

#include <cstdlib>
#include <fstream>

#include "support/Files.h"

namespace tarnel::test {

namespace {

// Pillow writes what it can; ImageMagick the 2- and 4-bit grey levels, the
// 16-bit colour and alpha kinds and the interlaced files, from 16-bit
// PGM/PPM/PAM sources whose low bytes differ from their high bytes.
constexpr const char* kScript = R"PY(
import os, random, struct, subprocess, sys, warnings, zlib
warnings.simplefilter('ignore')
from PIL import Image
out = sys.argv[1]
random.seed(20)
W, H = 37, 23
def path(n): return os.path.join(out, n)
def rnd(n): return [random.randrange(n) for _ in range(W * H)]
def magick(src, dst, *opts):
    subprocess.run(['convert', src, *opts, dst], check=True)

def netpbm16(name, kind, bands):
    # PGM/PPM (1 or 3 bands) or PAM (2 or 4), maxval 65535.
    data = b''.join(struct.pack('>H', random.randrange(65536)) for _ in range(W * H * bands))
    if kind == 'pam':
        tupl = {2: 'GRAYSCALE_ALPHA', 4: 'RGB_ALPHA'}[bands]
        head = 'P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL 65535\nTUPLTYPE %s\nENDHDR\n' % (W, H, bands, tupl)
    else:
        head = '%s\n%d %d\n65535\n' % ('P5' if bands == 1 else 'P6', W, H)
    with open(path(name), 'wb') as f: f.write(head.encode() + data)

def grey_levels(name, bits):
    step = 255 // ((1 << bits) - 1)
    data = bytes(step * v for v in rnd(1 << bits))
    with open(path(name), 'wb') as f: f.write(b'P5\n%d %d\n255\n' % (W, H) + data)

# Pillow's own kinds.
im = Image.new('1', (W, H)); im.putdata([255 * v for v in rnd(2)]); im.save(path('grey1.png'))
im = Image.new('L', (W, H)); im.putdata(rnd(256)); im.save(path('grey8.png'))
im.save(path('grey8_key.png'), transparency=77)
im = Image.new('I;16', (W, H)); im.putdata(rnd(65536)); im.save(path('grey16.png'))
rgb = Image.new('RGB', (W, H)); rgb.putdata([tuple(random.randrange(256) for _ in range(3)) for _ in range(W * H)])
rgb.save(path('rgb8.png')); rgb.save(path('rgb8_key.png'), transparency=rgb.getpixel((3, 4)))
for bits in (1, 2, 4, 8):
    p = Image.new('P', (W, H)); n = 1 << bits
    p.putpalette([random.randrange(256) for _ in range(3 * n)]); p.putdata(rnd(n))
    p.save(path('palette%d.png' % bits), bits=bits)
    p.save(path('palette%d_trns.png' % bits), bits=bits, transparency=bytes(random.randrange(256) for _ in range(n)))
la = Image.new('LA', (W, H)); la.putdata([(random.randrange(256), random.randrange(256)) for _ in range(W * H)])
la.save(path('greyalpha8.png'))
rgba = Image.new('RGBA', (W, H))
rgba.putdata([tuple(random.randrange(256) for _ in range(3)) + (random.choice((0, 0, 128, 255)),) for _ in range(W * H)])
rgba.save(path('rgba8.png'))

# ImageMagick's.
grey_levels('g2.pgm', 2); magick(path('g2.pgm'), path('grey2.png'), '-define', 'png:bit-depth=2', '-define', 'png:color-type=0')
grey_levels('g4.pgm', 4); magick(path('g4.pgm'), path('grey4.png'), '-define', 'png:bit-depth=4', '-define', 'png:color-type=0')
netpbm16('rgb16.ppm', 'ppm', 3); magick(path('rgb16.ppm'), path('rgb16.png'), '-define', 'png:bit-depth=16', '-define', 'png:color-type=2')
netpbm16('ga16.pam', 'pam', 2); magick(path('ga16.pam'), path('greyalpha16.png'), '-define', 'png:bit-depth=16', '-define', 'png:color-type=4')
netpbm16('rgba16.pam', 'pam', 4); magick(path('rgba16.pam'), path('rgba16.png'), '-define', 'png:bit-depth=16', '-define', 'png:color-type=6')
magick(path('rgb8.png'), path('rgb8_interlaced.png'), '-interlace', 'PNG', '-define', 'png:color-type=2')
magick(path('rgba16.png'), path('rgba16_interlaced.png'), '-interlace', 'PNG', '-define', 'png:bit-depth=16', '-define', 'png:color-type=6')
magick(path('palette4.png'), path('palette_interlaced.png'), '-interlace', 'PNG')

# An ancillary chunk that inflates to 64 MB, before IDAT.
raw = open(path('rgb8.png'), 'rb').read()
body = b'Comment\0\0' + zlib.compress(b' ' * (64 << 20), 9)
chunk = struct.pack('>I', len(body)) + b'zTXt' + body + struct.pack('>I', zlib.crc32(b'zTXt' + body))
open(path('rgb8_ztxt_bomb.png'), 'wb').write(raw[:33] + chunk + raw[33:])

# WebP.
rgb.save(path('lossy.webp'), quality=70)
rgb.save(path('lossless.webp'), lossless=True)
rgba.save(path('lossy_alpha.webp'), quality=70)
rgba.save(path('lossless_alpha.webp'), lossless=True, exact=True)
rgb.save(path('animated.webp'), save_all=True, append_images=[rgb.rotate(180)], duration=[40, 60], lossless=True)

# Pillow's decoding: first frame, 16-bit grey by its high byte, alpha dropped.
for name in sorted(os.listdir(out)):
    if not (name.endswith('.png') or name.endswith('.webp')): continue
    # Pillow refuses the chunk bomb; its pixels are those of the file it was made of.
    im = Image.open(path('rgb8.png' if name == 'rgb8_ztxt_bomb.png' else name)); im.seek(0)
    if im.mode in ('I;16', 'I;16B', 'I'):
        im = Image.frombytes('L', im.size, bytes(v >> 8 for v in im.getdata()))
    im = im.convert('RGB')
    with open(path(name + '.rgb'), 'wb') as f:
        f.write(struct.pack('<II', *im.size) + im.tobytes())
)PY";

}  // namespace

bool PillowAvailable() {
    static const bool present =
        std::system("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1 && convert -version >/dev/null 2>&1") == 0;
    return present;
}

bool MakePillowFixtures(const std::filesystem::path& folder) {
    const std::filesystem::path script = folder / "make_fixtures.py";
    writeText(script, kScript);
    const std::string command = "/usr/bin/python3 '" + script.string() + "' '" + folder.string() + "'";
    return std::system(command.c_str()) == 0;
}

bool PillowSeesSamePixels(const std::vector<std::pair<std::string, std::string>>& pairs) {
    std::string command = "/usr/bin/python3 -c 'import sys\nfrom PIL import Image\n"
                          "a = sys.argv[1:]\n"
                          "for p, q in zip(a[0::2], a[1::2]):\n"
                          "    x, y = Image.open(p), Image.open(q)\n"
                          "    if x.mode != \"RGB\" or y.mode != \"RGB\" or x.size != y.size or x.tobytes() != y.tobytes(): sys.exit(1)\n'";
    for (const auto& [a, b] : pairs) command += " '" + a + "' '" + b + "'";
    return !pairs.empty() && std::system(command.c_str()) == 0;
}

RgbPicture ReadRgbFile(const std::filesystem::path& path) {
    const std::vector<uint8_t> bytes = readFile(path);
    RgbPicture picture;
    if (bytes.size() < 8) return picture;
    auto u32 = [&](size_t at) { return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 | uint32_t(bytes[at + 3]) << 24; };
    const uint64_t w = u32(0), h = u32(4);
    if (bytes.size() != 8 + w * h * 3) return picture;
    picture.width = int(w);
    picture.height = int(h);
    picture.rgb.assign(bytes.begin() + 8, bytes.end());
    return picture;
}

}  // namespace tarnel::test
