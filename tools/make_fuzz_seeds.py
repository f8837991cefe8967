#!/usr/bin/env python3
"""Makes the seed corpora of the fuzz targets (fuzz/corpus/<target>/; the bmp
and gif seeds come from tools/make_*_fixtures.sh) and the dictionaries of all
of them (fuzz/<target>.dict). Deterministic: running it again gives the
same bytes. BMP files are laid out here, so every variant the decoders know
is covered (ImageMagick writes only some of them); JPEG and GIF files come
from PIL, an encoder that is not ours.

    python3 tools/make_fuzz_seeds.py [TARGET...]   (Debian: python3-pil)

With targets named, only their seeds and dictionaries are made; those of
project and session need no PIL.
"""
import io
import json
import os
import shutil
import struct
import sys

try:
    from PIL import Image
except ImportError:  # only the picture seeds need it
    Image = None

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz")
W, H = 7, 5  # odd width: every depth pads its rows


def corpus(name):
    path = os.path.join(ROOT, "corpus", name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def put(folder, name, data):
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def pixel(x, y):
    return (x * 36) & 255, (y * 60) & 255, ((x + y) * 20) & 255


# ---------------------------------------------------------------- BMP


def info_header(width, height, bpp, compression, size_image, colors_used=0, size=40, masks=None):
    head = struct.pack("<IiiHHIIiiII", size, width, height, 1, bpp, compression, size_image, 2835, 2835,
                       colors_used, 0)
    if size > 40:
        extra = struct.pack("<IIII", *(masks or (0, 0, 0, 0)))
        head += extra + b"\0" * (size - 40 - len(extra))
    return head


def palette(count):
    return b"".join(struct.pack("<BBBB", (i * 53) & 255, (i * 97) & 255, (i * 29) & 255, 0) for i in range(count))


def index_of(x, y, bpp):
    return (x + 2 * y) % (1 << bpp)


def rows_plain(bpp, width, height, top_down):
    stride = (width * bpp + 31) // 32 * 4
    out = b""
    order = range(height) if top_down else range(height - 1, -1, -1)
    for y in order:
        row = bytearray()
        if bpp < 8:
            bits, acc = 0, 0
            for x in range(width):
                acc = (acc << bpp) | index_of(x, y, bpp)
                bits += bpp
                if bits == 8:
                    row.append(acc)
                    bits, acc = 0, 0
            if bits:
                row.append(acc << (8 - bits))
        else:
            for x in range(width):
                r, g, b = pixel(x, y)
                if bpp == 8:
                    row.append(index_of(x, y, 8))
                elif bpp == 16:
                    row += struct.pack("<H", ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3))
                elif bpp == 24:
                    row += bytes((b, g, r))
                else:
                    row += bytes((b, g, r, 0))
        out += bytes(row) + b"\0" * (stride - len(row))
    return out


def bmp_file(info, colors, bits):
    off = 14 + len(info) + len(colors)
    return b"BM" + struct.pack("<IHHI", off + len(bits), 0, 0, off) + info + colors + bits


def plain_bmp(bpp, top_down=False, v5=False):
    bits = rows_plain(bpp, W, H, top_down)
    colors = palette(1 << bpp) if bpp <= 8 else b""
    info = info_header(W, -H if top_down else H, bpp, 0, len(bits), 1 << bpp if bpp <= 8 else 0,
                       size=124 if v5 else 40)
    return bmp_file(info, colors, bits)


def bitfields_bmp(bpp, masks):
    width, height = W, H
    stride = (width * bpp + 31) // 32 * 4
    bits = b""
    for y in range(height - 1, -1, -1):
        row = b""
        for x in range(width):
            r, g, b = pixel(x, y)
            if bpp == 16:  # 5-6-5
                row += struct.pack("<H", ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3))
            else:
                row += struct.pack("<I", (r << 16) | (g << 8) | b)
        bits += row + b"\0" * (stride - len(row))
    info = info_header(width, height, bpp, 3, len(bits)) + struct.pack("<III", *masks[:3])
    return bmp_file(info, b"", bits)


def rle8_bmp():
    data = b""
    for y in range(H):
        data += bytes((3, y * 2))                      # encoded run
        if y == 0:
            data += b"\x00\x02\x01\x00"            # delta: skip one pixel
            data += bytes((0, 3)) + bytes(range(3)) + b"\x00"  # absolute run of three, word aligned
        else:
            data += bytes((0, 4)) + bytes(range(4))    # absolute run of four
        data += b"\x00\x00"                          # end of line
    data += b"\x00\x01"                              # end of bitmap
    info = info_header(W, H, 8, 1, len(data), 256)
    return bmp_file(info, palette(256), data)


def rle4_bmp():
    data = b""
    for y in range(H):
        data += bytes((4, 0x12 + y))                   # encoded run, alternating nibbles
        data += bytes((0, 3)) + b"\x34\x50" + b"\x00\x00"  # absolute run of three, word aligned, end of line
    data += b"\x00\x01"
    info = info_header(W, H, 4, 2, len(data), 16)
    return bmp_file(info, palette(16), data)


def core_bmp():
    bits = rows_plain(24, W, H, False)
    info = struct.pack("<IHHHH", 12, W, H, 1, 24)
    return bmp_file(info, b"", bits)


def bmp_seeds():
    seeds = {}
    for bpp in (1, 4, 8, 16, 24, 32):
        seeds["bpp%d.bmp" % bpp] = plain_bmp(bpp)
    seeds["topdown24.bmp"] = plain_bmp(24, top_down=True)
    seeds["topdown8.bmp"] = plain_bmp(8, top_down=True)
    seeds["v5_24.bmp"] = plain_bmp(24, v5=True)
    seeds["bitfields565.bmp"] = bitfields_bmp(16, (0xF800, 0x07E0, 0x001F))
    seeds["bitfields32.bmp"] = bitfields_bmp(32, (0xFF0000, 0x00FF00, 0x0000FF))
    seeds["rle8.bmp"] = rle8_bmp()
    seeds["rle4.bmp"] = rle4_bmp()
    seeds["core24.bmp"] = core_bmp()
    return seeds


# ---------------------------------------------------------------- JPEG / GIF


def sample_image(mode="RGB", size=(W * 3, H * 3)):
    im = Image.new("RGB", size)
    im.putdata([pixel(x, y) for y in range(size[1]) for x in range(size[0])])
    return im.convert(mode)


def encoded(im, fmt, **options):
    out = io.BytesIO()
    im.save(out, fmt, **options)
    return out.getvalue()


def jpeg_seeds():
    return {
        "baseline.jpg": encoded(sample_image(), "JPEG", quality=80),
        "progressive.jpg": encoded(sample_image(), "JPEG", quality=80, progressive=True),
        "gray.jpg": encoded(sample_image("L"), "JPEG", quality=80),
        "cmyk.jpg": encoded(sample_image("CMYK"), "JPEG", quality=80),
        "subsampled420.jpg": encoded(sample_image(size=(17, 9)), "JPEG", quality=60, subsampling=2),
        "restart.jpg": encoded(sample_image(size=(33, 17)), "JPEG", quality=50, restart_marker_blocks=1),
    }


def gif_seeds():
    still = sample_image().convert("P", palette=Image.ADAPTIVE, colors=16)
    frames = [sample_image().rotate(90 * i, expand=False).convert("P", palette=Image.ADAPTIVE, colors=8)
              for i in range(3)]
    seeds = {
        "still87a.gif": encoded(still, "GIF"),
        "transparent89a.gif": encoded(still, "GIF", transparency=3),
        "anim89a.gif": encoded(frames[0], "GIF", save_all=True, append_images=frames[1:], duration=50, loop=0,
                               disposal=2),
        "interlaced.gif": encoded(sample_image(size=(W * 3, 20)).convert("P", palette=Image.ADAPTIVE, colors=16),
                                  "GIF", interlace=True),
    }
    assert seeds["still87a.gif"][:6] == b"GIF87a" and seeds["transparent89a.gif"][:6] == b"GIF89a"
    return seeds


# ---------------------------------------------------------------- settings

SETTINGS_KEYS = ["総ﾌﾚｰﾑ数", "行数", "列数", "ﾗｲﾝの色", "ﾎﾟｲﾝﾀの色", "ﾄﾘﾐﾝｸﾞｻｲｽﾞ幅", "ﾄﾘﾐﾝｸﾞｻｲｽﾞ高さ",
                 "ﾎﾟｲﾝﾀの大きさ", "画像ﾌｧｲﾙのﾊﾟｽ", "ﾌﾚｰﾑｲﾝﾀｰﾊﾞﾙ", "画像保存のﾊﾟｽ", "保存ﾌｧｲﾙの種類", "透過処理",
                 "AVIﾘﾋﾟｰﾄ1", "AVIﾘﾋﾟｰﾄ2"]
SETTINGS_VALUES = [" 9", " 5", " 5", " 255", " 65280", " 320", " 240", " 4", "/home/user/画像", " 100",
                   "/home/user/ﾓｰﾌ", " 0", " 0", " 5", " 5"]


def settings_text(values, eol="\n", section="Section"):
    lines = ["[%s]" % section] + ["%s=%s" % kv for kv in zip(SETTINGS_KEYS, values)]
    return eol.join(lines) + eol


def profile_seeds():
    odd = ["&H63", "1,000", "2.5", "-3", "1E1", "&O17", "\"7\"", "'1'", "&HFFFFFFFF", "3.5D0", "junk", "",
           "'quoted folder'", "99999999999", " 2 "]
    return {
        "utf8.ini": settings_text(SETTINGS_VALUES).encode("utf-8"),
        "utf8_bom_crlf.ini": b"\xEF\xBB\xBF" + settings_text(SETTINGS_VALUES, "\r\n").encode("utf-8"),
        "cp932.ini": settings_text(SETTINGS_VALUES).encode("cp932"),
        "cp932_crlf.ini": settings_text(SETTINGS_VALUES, "\r\n").encode("cp932"),
        "odd_values.ini": settings_text(odd).encode("utf-8"),
        "lower_section.ini": ("; comment\n[other]\nkey=1\n\n" + settings_text(SETTINGS_VALUES, section="SECTION") +
                              "[Section]\n行数=40\n").encode("utf-8"),
        "empty.ini": b"",
    }


# ---------------------------------------------------------------- mesh


def mesh_json(rows, columns, scale=10.0, offset=0.0):
    count = (rows + 2) * (columns + 2)
    start = [[(n % (rows + 2)) * scale - scale, (n // (rows + 2)) * scale - scale] for n in range(count)]
    end = [[x + offset, y - offset] for x, y in start]
    return {"rows": rows, "columns": columns, "start": start, "end": end}


def mesh_seeds():
    seeds = {
        "one_by_one.json": json.dumps(mesh_json(1, 1)),
        "two_by_three.json": json.dumps(mesh_json(2, 3, 12.5, 0.25), indent=2),
        "floats.json": json.dumps(mesh_json(1, 2, 1e-7, 3.4e38 / 2)),
        "wrong_count.json": json.dumps({**mesh_json(2, 2), "rows": 3}),
        "too_many_rows.json": json.dumps({**mesh_json(1, 1), "rows": 41}),
        "not_object.json": "[1, 2, 3]",
        "huge_number.json": '{"rows": 1, "columns": 1, "start": [[1e400, 0]], "end": []}',
    }
    return {name: text.encode("utf-8") for name, text in seeds.items()}


# ---------------------------------------------------------------- frame folders


def record(name, content=b"", folder=False, small_bmp=False):
    flags = (1 if folder else 0) | (2 if small_bmp else 0)
    raw = name.encode("utf-8")
    return bytes((flags, len(raw))) + raw + bytes((len(content),)) + content


def folder_seeds():
    return {
        "bmp_frames.bin": b"".join(record("%03d.bmp" % k, small_bmp=True) for k in range(4)),
        "gap.bin": record("000.bmp", small_bmp=True) + record("002.bmp", small_bmp=True) + record("001.BMP"),
        "kinds.bin": record("000.gif", b"GIF89a") + record("000.jpg", b"\xFF\xD8\xFF\xE0") + record("001.jpg"),
        "mixed.bin": (record("b.bmp") + record("A.GIF") + record("a.gif") + record(".hidden.jpg") +
                      record("sub", folder=True) + record(".dot", folder=True) + record("000.bmp", folder=True) +
                      record("notes.txt", b"x") + record(".bmp")),
        "negative.bin": record("-001.bmp", small_bmp=True) + record("1000.bmp", small_bmp=True) +
                        record("000.jpg", small_bmp=True),
        # Frame 001 is 7 x 5, frame 000 3 x 2: the import refuses the folder.
        "sizes.bin": record("000.bmp", small_bmp=True) + record("001.bmp", plain_bmp(24)),
    }


# ---------------------------------------------------------------- project and session files


def compact(doc):
    return json.dumps(doc, separators=(",", ":"), ensure_ascii=False).encode("utf-8")


def project_seeds():
    # Rows 2 x columns 2 placed for a 20 x 20 picture: the ring sits at -10.
    mesh = mesh_json(2, 2)
    full = {"project": 1, "startImage": "photos/a.jpg", "endImage": "/tmp/b.bmp", "startSize": [20, 20],
            "endSize": [33, 7], "frames": 24, "kind": "gif", "transparent": True, **mesh}
    return {
        "mesh_only.json": compact(mesh_json(1, 1)),
        "full.json": compact(full),
        "later_version.json": compact({**full, "project": 2}),
        "bad_settings.json": compact({**mesh, "frames": 101, "kind": "png", "startSize": [0, 65537]}),
        "nul_path.json": compact({**mesh, "endImage": "a\u0000b", "transparent": "yes"}),
    }


def session_seeds():
    # The fuzz target keeps Tarnel.session.0.bmp (3 x 2), .1.bmp (2 x 2) and a
    # broken .2.bmp beside the session.
    def source(path, picture, working, width, height):
        return {"path": path, "picture": picture, "workingCopy": working, "width": width, "height": height,
                "sizeLabel": "%d x %d" % (width, height), "sizeLabelS": "%dx%d" % (width, height),
                "preparable": True, "prepared": False}
    both = [source("/p/a.bmp", "Tarnel.session.0.bmp", "Tarnel.session.0.bmp", 3, 2),
            source("/p/b.jpg", "Tarnel.session.1.bmp", "Tarnel.session.0.bmp", 2, 2)]
    return {
        "empty.json": compact({"version": 1, "sources": [{}, {}]}),
        "meshes_and_pictures.json": compact({"version": 1, **mesh_json(1, 1), "sources": both}),
        "no_path.json": compact({"version": 1, "sources": [source("", "Tarnel.session.1.bmp", "", 2, 2), {}]}),
        "broken_picture.json": compact({"version": 1, "sources": [{}, source("/p/c.gif", "Tarnel.session.2.bmp",
                                                                             "", 9, 9)]}),
        "outside.json": compact({"version": 1, "sources": [source("/p", "../Tarnel.session.0.bmp", "", 1, 1), {}]}),
        "huge_width.json": b'{"sources":[{"path":"/p","picture":"Tarnel.session.0.bmp","width":1e300},{}]}',
    }


# ---------------------------------------------------------------- dictionaries


def dict_entry(token):
    if isinstance(token, str):
        token = token.encode("utf-8")
    text = "".join(chr(b) if 0x20 <= b < 0x7F and b not in (0x22, 0x5C) else "\\x%02X" % b for b in token)
    return '"%s"' % text


def write_dict(name, tokens):
    seen, lines = set(), []
    for token in tokens:
        entry = dict_entry(token)
        if entry not in seen:
            seen.add(entry)
            lines.append(entry)
    with open(os.path.join(ROOT, name + ".dict"), "w") as f:
        f.write("# Made by tools/make_fuzz_seeds.py.\n" + "\n".join(lines) + "\n")


BMP_TOKENS = [b"BM", struct.pack("<I", 12), struct.pack("<I", 40), struct.pack("<I", 56), struct.pack("<I", 108),
              struct.pack("<I", 124), b"\x01\x00\x01\x00", b"\x01\x00\x04\x00", b"\x01\x00\x08\x00",
              b"\x01\x00\x10\x00", b"\x01\x00\x18\x00", b"\x01\x00\x20\x00", struct.pack("<I", 1),
              struct.pack("<I", 2), struct.pack("<I", 3), struct.pack("<I", 0xF800), struct.pack("<I", 0x07E0),
              struct.pack("<I", 0xFF000000), struct.pack("<i", -1), b"\x00\x00", b"\x00\x01", b"\x00\x02",
              b"\xFF\xFF\xFF\x7F"]
JPEG_TOKENS = [b"\xFF\xD8\xFF", b"\xFF\xE0", b"JFIF\x00", b"\xFF\xEE", b"Adobe", b"\xFF\xDB", b"\xFF\xC0", b"\xFF\xC1",
               b"\xFF\xC2", b"\xFF\xC4", b"\xFF\xDD", b"\xFF\xDA", b"\xFF\xD0", b"\xFF\xD9", b"\xFF\xFE", b"\xFF\x00"]
GIF_TOKENS = [b"GIF87a", b"GIF89a", b"\x21\xF9\x04", b"\x21\xFE", b"\x21\xFF\x0BNETSCAPE2.0", b"\x21\x01", b"\x2C",
              b"\x3B", b"\x00"]


JSON_TOKENS = ["{", "}", "[", "]", ":", ",", "true", "false", "null", "-0", "1e300", "\\u0000", '"', "[[0, 0]]"]


def main(only):
    def wanted(target):
        return not only or target in only

    seeds = {"picture": lambda: {**bmp_seeds(), **jpeg_seeds(), **gif_seeds()},
             "cdib": bmp_seeds, "profile": profile_seeds, "mesh": mesh_seeds, "folder": folder_seeds,
             "project": project_seeds, "session": session_seeds}
    for target, make in seeds.items():
        if not wanted(target):
            continue
        folder = corpus(target)
        for name, data in sorted(make().items()):
            put(folder, name, data)
    # Packed DIBs for cDIB: the info header straight followed by the pixels.
    if wanted("cdib"):
        cdib = os.path.join(ROOT, "corpus", "cdib")
        for name, data in sorted(bmp_seeds().items()):
            bpp = struct.unpack_from("<H", data, 28)[0]
            if bpp > 15 and struct.unpack_from("<I", data, 14)[0] == 40:
                off = struct.unpack_from("<I", data, 10)[0]
                put(cdib, name.replace(".bmp", ".dib"), data[14:54] + data[off:])

    dicts = {
        "avi": ["RIFF", "AVI ", "AVIX", "LIST", "hdrl", "avih", "strl", "strh", "strf", "strn", "vids", "auds", "movi",
                "rec ", "idx1", "indx", "odml", "dmlh", "JUNK", "00dc", "00db", "01wb", "ix00", "MJPG", "H264", "FFV1",
                "FMP4", "DIB ", struct.pack("<I", 40), struct.pack("<I", 1), struct.pack("<I", 0x10),
                struct.pack("<I", 0x7FFFFFFF)],
        "picture": BMP_TOKENS + JPEG_TOKENS + GIF_TOKENS,
        "cdib": BMP_TOKENS,
        "bmp": BMP_TOKENS,
        "gif": GIF_TOKENS + [b"\x00\x00\x00", b"\xFF\xFF", b"\x04\x01\x00"],
        "profile": ["[Section]", "[", "]", "=", ";", "\r\n", "\n", "\"", "'", "&H", "&h", "&O", "E+", "D-",
                    "1,000", ".5", "-", " ", "\t", b"\xEF\xBB\xBF", "99999999999", "&HFFFF", "&HFFFFFFFF"] +
                   SETTINGS_KEYS + [key.encode("cp932") for key in SETTINGS_KEYS] + ["Section".encode("cp932")],
        "mesh": ['"rows"', '"columns"', '"start"', '"end"', "{", "}", "[", "]", ":", ",", "true", "false",
                 "null", "-0", "1e38", "3.4028235e38", "3.4028236e38", "1e-45", "40", "41", "\\u0000",
                 '"', "[[0, 0]]"],
        "folder": [b"\x00\x07000.bmp", b"\x02\x07000.bmp", b"\x02\x07001.bmp", b"\x02\x07002.bmp",
                   b"\x00\x07000.jpg", b"\x00\x07000.gif", b"\x01\x03sub", "000.bmp", "001.bmp", ".bmp",
                   ".BMP", ".jpg", ".Jpg", ".gif", ".GIF", "-001", "1000", b"\x00", b"\x01", b"\x02"],
        "project": ['"project"', '"startImage"', '"endImage"', '"startSize"', '"endSize"', '"frames"', '"kind"',
                    '"transparent"', '"rows"', '"columns"', '"start"', '"end"', '"bmp"', '"jpg"', '"gif"', "2",
                    "100", "65536", "65537", "[20, 20]", "-10", "../", "/"] + JSON_TOKENS,
        "session": ['"version"', '"sources"', '"path"', '"picture"', '"workingCopy"', '"width"', '"height"',
                    '"sizeLabel"', '"sizeLabelS"', '"preparable"', '"prepared"', '"rows"', '"columns"', '"start"',
                    '"end"', '"Tarnel.session.0.bmp"', '"Tarnel.session.1.bmp"', '"Tarnel.session.2.bmp"',
                    '"Tarnel.session.3.bmp"', '"Tarnel.session.0123456789abcdef.0.bmp"', "65536", "{}"] +
                   JSON_TOKENS,
    }
    for target, tokens in dicts.items():
        if wanted(target):
            write_dict(target, tokens)


if __name__ == "__main__":
    main(set(sys.argv[1:]))
