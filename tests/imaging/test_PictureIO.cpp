#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gif_lib.h>
#include <turbojpeg.h>

#include "imaging/bmp/BmpDecoder.h"
#include "imaging/gif/GifPicture.h"
#include "imaging/jpeg/JpegConvert.h"
#include "imaging/jpeg/JpegDecoder.h"
#include "imaging/PictureIO.h"
#include "imaging/bmp/cDIB.h"
#include "support/FileKinds.h"
#include "support/Files.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"

using namespace tarnel;
using tarnel::test::ScriptedDialogs;
using tarnel::test::readFile;
using tarnel::test::TempDir;
using tarnel::test::writeFile;

namespace {

RGBQuad colourAt(int x, int y) {
    // Smooth enough for JPEG to keep close, varied enough to catch swaps.
    return RGBQuad{uint8_t(40 + 3 * y), uint8_t(200 - 2 * x), uint8_t(20 + 4 * x + y), 0};
}

Bitmap makePicture(int w, int h, int bpp = 32, bool topDown = true) {
    Bitmap b;
    b.create(w, h, bpp, topDown);
    if (bpp <= 8) {
        for (int i = 0; i < b.colorCount(); ++i)
            b.colorTable()[i] = RGBQuad{uint8_t(i * 5), uint8_t(255 - i), uint8_t(i * 9), 0};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) b.setPixelValue(x, y, uint32_t(x + 2 * y) % uint32_t(b.colorCount()));
    } else {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) b.setPixelValue(x, y, b.valueForColor(colourAt(x, y)));
    }
    return b;
}

std::string fixture(const std::string& name) { return std::string(TARNEL_TEST_DATA) + "/bmp/" + name; }

// Every pixel of `a` shows the colour of the same pixel of `b`, give or take.
void expectSamePixels(const Bitmap& a, const Bitmap& b, int tolerance = 0) {
    ASSERT_EQ(a.width(), b.width());
    ASSERT_EQ(a.height(), b.height());
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            RGBQuad p = a.pixelColor(x, y), q = b.pixelColor(x, y);
            ASSERT_NEAR(p.red, q.red, tolerance) << x << "," << y;
            ASSERT_NEAR(p.green, q.green, tolerance) << x << "," << y;
            ASSERT_NEAR(p.blue, q.blue, tolerance) << x << "," << y;
        }
    }
}

std::vector<std::string> folderEntries(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A 5 x 3 GIF with a four-colour table, written by giflib.
std::vector<uint8_t> makeGif() {
    std::vector<uint8_t> bytes;
    int error = 0;
    GifFileType* gif = EGifOpen(&bytes, [](GifFileType* g, const GifByteType* data, int n) {
        auto* out = static_cast<std::vector<uint8_t>*>(g->UserData);
        out->insert(out->end(), data, data + n);
        return n;
    }, &error);
    if (!gif) return {};
    GifColorType colours[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    ColorMapObject* map = GifMakeMapObject(4, colours);
    EGifSetGifVersion(gif, true);
    bool ok = EGifPutScreenDesc(gif, 5, 3, 2, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, 5, 3, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < 3; ++y) {
        GifPixelType line[5];
        for (int x = 0; x < 5; ++x) line[x] = GifPixelType((x + y) % 4);
        ok = EGifPutLine(gif, line, 5) == GIF_OK;
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return ok ? bytes : std::vector<uint8_t>();
}

}  // namespace

// ---------------------------------------------------------------- detection and loading

TEST(PictureIO, DetectsTheFormatFromTheContent) {
    struct Case { std::vector<uint8_t> bytes; PictureFormat format; };
    const Case cases[] = {
        {{'B', 'M', 0}, PictureFormat::Bmp},
        {{0xFF, 0xD8, 0xFF, 0xE0}, PictureFormat::Jpeg},
        {{'G', 'I', 'F', '8', '9', 'a'}, PictureFormat::Gif},
        {{'G', 'I', 'F', '8', '7', 'a', 1}, PictureFormat::Gif},
        {{'G', 'I', 'F', '8', '8', 'a'}, PictureFormat::Unknown},
        {{0xFF, 0xD8}, PictureFormat::Unknown},
        {{'B'}, PictureFormat::Unknown},
        {{0x89, 'P', 'N', 'G'}, PictureFormat::Unknown},
        {{}, PictureFormat::Unknown},
    };
    for (const Case& c : cases) EXPECT_EQ(DetectPictureFormat(c.bytes.data(), c.bytes.size()), c.format);
    EXPECT_EQ(DetectPictureFormat(nullptr, 10), PictureFormat::Unknown);
}

TEST(PictureIO, LoadsEveryBmpVariantAs32BppTopDown) {
    for (const char* name : {"core24", "core4", "core8", "info1", "info4", "info8", "info24", "rle8", "v5_24", "v5_555",
                             "v5_565", "v5_argb32"}) {
        SCOPED_TRACE(name);
        StdPicture picture;
        const PictureResult loaded = LoadPicture(fixture(std::string(name) + ".bmp"), picture);
        ASSERT_TRUE(loaded) << loaded.reason;
        ASSERT_TRUE(picture.isBitmap());
        EXPECT_EQ(picture.bitmap->bpp(), 32);
        EXPECT_TRUE(picture.bitmap->topDown());
        std::vector<uint8_t> file = readFile(fixture(std::string(name) + ".bmp"));
        Bitmap direct;
        ASSERT_TRUE(DecodeBmp(file.data(), file.size(), direct));
        expectSamePixels(*picture.bitmap, direct);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) ASSERT_EQ(picture.bitmap->scanline(y)[4 * x + 3], 0);
    }
}

TEST(PictureIO, ToTopDown32KeepsTheColoursOfEveryDepth) {
    for (int bpp : {1, 4, 8, 16, 24, 32}) {
        for (bool topDown : {true, false}) {
            Bitmap src = makePicture(9, 4, bpp, topDown), out;
            ASSERT_TRUE(ToTopDown32(src, out));
            EXPECT_EQ(out.bpp(), 32);
            EXPECT_TRUE(out.topDown());
            expectSamePixels(out, src);
        }
    }
    Bitmap empty, out;
    EXPECT_FALSE(ToTopDown32(empty, out));
}

TEST(PictureIO, TheContentDecidesNotTheName) {
    TempDir dir;
    std::filesystem::copy_file(fixture("info24.bmp"), dir.file("really_a_bmp.jpg"));
    StdPicture picture;
    ASSERT_TRUE(LoadPicture(dir.file("really_a_bmp.jpg"), picture));
    EXPECT_EQ(picture.width(), 37);

    ASSERT_EQ(ConvertBMPtoJPG(fixture("info24.bmp"), dir.file("really_a_jpeg.bmp")), kConvertOk);
    StdPicture jpeg;
    ASSERT_TRUE(LoadPicture(dir.file("really_a_jpeg.bmp"), jpeg));
    EXPECT_EQ(jpeg.height(), 11);

    writeFile(dir.file("really_a_gif.jpg"), makeGif());
    StdPicture gif;
    ASSERT_TRUE(LoadPicture(dir.file("really_a_gif.jpg"), gif));
    EXPECT_EQ(gif.width(), 5);
}

// Each failure says what kind it is, with the cause in words and no path.
TEST(PictureIO, FailuresSayWhatKind) {
    TempDir dir;
    ASSERT_TRUE(test::makeFifo(dir.file("fifo.bmp")));
    writeFile(dir.file("text.bmp"), {'h', 'e', 'l', 'l', 'o'});
    std::vector<uint8_t> bmp = readFile(fixture("info24.bmp"));
    bmp.resize(700);
    writeFile(dir.file("cut.bmp"), bmp);
    std::vector<uint8_t> gif = makeGif();
    gif.resize(13);
    writeFile(dir.file("cut.gif"), gif);
    struct Case { const char* name; std::string path; PictureError kind; const char* reason; };
    const Case cases[] = {
        {"missing", dir.file("missing.bmp"), PictureError::NotFound, "No such file or directory"},
        {"below a file", dir.file("text.bmp") + "/x.bmp", PictureError::NotFound, "Not a directory"},
        {"a folder", dir.path().string(), PictureError::Folder, "Is a directory"},
        {"a FIFO", dir.file("fifo.bmp"), PictureError::NotAFile, "not a regular file (a FIFO)"},
        {"a device", "/dev/zero", PictureError::NotAFile, "not a regular file (a device)"},
        {"no known format", dir.file("text.bmp"), PictureError::UnknownFormat, "not a BMP, JPEG, GIF, PNG or WebP file"},
        {"BMP cut short", dir.file("cut.bmp"), PictureError::Undecodable, "BMP pixel data ends early"},
        {"GIF header only", dir.file("cut.gif"), PictureError::Undecodable, "GIF file could not be decoded: "},
    };
    for (const Case& c : cases) {
        StdPicture picture;
        PictureResult result;
        ASSERT_TRUE(test::returnsWithoutWaitingOnFifo(dir.file("fifo.bmp"), [&] { result = LoadPicture(c.path, picture); }))
            << c.name;
        EXPECT_FALSE(result) << c.name;
        EXPECT_EQ(result.kind, c.kind) << c.name;
        EXPECT_EQ(result.reason.rfind(c.reason, 0), 0u) << c.name << ": " << result.reason;
        EXPECT_EQ(result.reason.find(dir.path().string()), std::string::npos) << c.name << ": " << result.reason;
        EXPECT_FALSE(picture.isBitmap()) << c.name;
    }

    const PictureResult empty = SavePictureBMP(StdPicture{}, dir.file("x.bmp"));
    EXPECT_EQ(empty.kind, PictureError::Empty);
    EXPECT_EQ(empty.reason, "empty picture");
    const PictureResult unwritable = SavePictureBMP(makePicture(3, 2), dir.file("no/folder/x.bmp"));
    EXPECT_EQ(unwritable.kind, PictureError::WriteFailed);
    EXPECT_EQ(unwritable.reason, "No such file or directory");
    const PictureResult saved = SavePictureBMP(makePicture(3, 2), dir.file("x.bmp"));
    EXPECT_TRUE(saved);
    EXPECT_EQ(saved.kind, PictureError::None);
    EXPECT_EQ(saved.reason, "");
}

TEST(PictureIO, GifGoesToTheGifDecoder) {
    std::vector<uint8_t> gif = makeGif();
    ASSERT_FALSE(gif.empty());
    Bitmap direct;
    bool decodes = DecodeGifPicture(gif.data(), gif.size(), direct);
    StdPicture picture;
    const PictureResult loaded = LoadPictureFromMemory(gif.data(), gif.size(), picture);
    const std::string& error = loaded.reason;
    EXPECT_EQ(bool(loaded), decodes) << error;
    if (decodes) {
        EXPECT_EQ(picture.bitmap->bpp(), 32);
        expectSamePixels(*picture.bitmap, direct);
        EXPECT_EQ(picture.bitmap->pixelColor(1, 0), (RGBQuad{0, 0, 255, 0}));
    } else {
        EXPECT_FALSE(picture.isBitmap());
        EXPECT_FALSE(error.empty());
    }
    // A header alone never loads.
    std::vector<uint8_t> stub(gif.begin(), gif.begin() + 13);
    EXPECT_FALSE(LoadPictureFromMemory(stub.data(), stub.size(), picture));
}

TEST(PictureIO, BadFilesFailAndLeaveThePictureAlone) {
    TempDir dir;
    std::vector<uint8_t> bmp = readFile(fixture("info24.bmp"));
    ASSERT_EQ(ConvertBMPtoJPG(fixture("info24.bmp"), dir.file("good.jpg")), kConvertOk);
    std::vector<uint8_t> jpeg = readFile(dir.file("good.jpg"));
    ASSERT_GT(jpeg.size(), 200u);

    struct Case { const char* name; std::vector<uint8_t> bytes; };
    std::vector<Case> cases = {
        {"empty", {}},
        {"text", {'h', 'e', 'l', 'l', 'o'}},
        {"BMP cut in the pixels", std::vector<uint8_t>(bmp.begin(), bmp.begin() + 700)},
        {"BMP headers only", std::vector<uint8_t>(bmp.begin(), bmp.begin() + 54)},
        {"JPEG start only", {0xFF, 0xD8, 0xFF}},
        {"JPEG cut in the headers", std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + 100)},
        {"JPEG cut in the scan", std::vector<uint8_t>(jpeg.begin(), jpeg.end() - 40)},
    };
    std::vector<uint8_t> garbage(jpeg.begin(), jpeg.begin() + 20);
    for (int i = 0; i < 400; ++i) garbage.push_back(uint8_t(i * 37 + 11));
    cases.push_back({"JPEG with garbage after its start", garbage});

    StdPicture keep;
    keep.bitmap = std::make_shared<Bitmap>(makePicture(2, 2));
    auto original = keep.bitmap;
    for (const Case& c : cases) {
        const PictureResult loaded = LoadPictureFromMemory(c.bytes.data(), c.bytes.size(), keep);
        EXPECT_FALSE(loaded) << c.name;
        EXPECT_FALSE(loaded.reason.empty()) << c.name;
        EXPECT_EQ(keep.bitmap, original) << c.name;
        writeFile(dir.file("bad"), c.bytes);
        EXPECT_FALSE(LoadPicture(dir.file("bad"), keep)) << c.name;
        EXPECT_EQ(keep.bitmap, original) << c.name;
    }
    const PictureResult missing = LoadPicture(dir.file("missing.bmp"), keep);
    EXPECT_FALSE(missing);
    EXPECT_FALSE(missing.reason.empty());
    EXPECT_FALSE(LoadPicture(dir.path().string(), keep));
    EXPECT_EQ(keep.bitmap, original);
}

TEST(PictureIO, JpegWarningsAreForgivenWhenTheStreamIsWhole) {
    TempDir dir;
    ASSERT_EQ(ConvertBMPtoJPG(fixture("info24.bmp"), dir.file("a.jpg")), kConvertOk);
    std::vector<uint8_t> jpeg = readFile(dir.file("a.jpg"));
    ASSERT_GE(jpeg.size(), 2u);
    // Stray bytes before the end marker: the library warns, the picture is whole.
    std::vector<uint8_t> stray(jpeg.begin(), jpeg.end() - 2);
    stray.insert(stray.end(), {0x12, 0x34, 0x56, 0xFF, 0xD9});
    Bitmap clean, forgiven;
    ASSERT_TRUE(DecodeJpeg(jpeg.data(), jpeg.size(), clean));
    std::string error;
    ASSERT_TRUE(DecodeJpeg(stray.data(), stray.size(), forgiven, &error)) << error;
    expectSamePixels(forgiven, clean);
}

TEST(PictureIO, AbsurdJpegSizesAreRefusedBeforeDecoding) {
    TempDir dir;
    ASSERT_EQ(ConvertBMPtoJPG(fixture("info24.bmp"), dir.file("a.jpg")), kConvertOk);
    std::vector<uint8_t> jpeg = readFile(dir.file("a.jpg"));
    // Baseline frame header: FF C0, length, precision, height, width.
    size_t sof = 0;
    for (size_t i = 2; i + 9 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) { sof = i; break; }
    ASSERT_NE(sof, 0u);
    // Sizes the JPEG library itself accepts (up to 65500) but a surface cannot hold.
    for (auto [w, h] : {std::pair{40000, 8}, std::pair{8, 40000}, std::pair{20000, 20000}}) {
        jpeg[sof + 5] = uint8_t(h >> 8), jpeg[sof + 6] = uint8_t(h);
        jpeg[sof + 7] = uint8_t(w >> 8), jpeg[sof + 8] = uint8_t(w);
        Bitmap out;
        std::string error;
        EXPECT_FALSE(DecodeJpeg(jpeg.data(), jpeg.size(), out, &error)) << w << "x" << h;
        EXPECT_TRUE(out.empty());
        EXPECT_NE(error.find("size out of range"), std::string::npos) << error;
    }
}

TEST(PictureIO, CmykJpegsComeOutAsRgb) {
    const int w = 8, h = 8;
    std::vector<uint8_t> cmyk(size_t(w * h * 4));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            RGBQuad c = colourAt(x, y);
            uint8_t* p = cmyk.data() + size_t((y * w + x) * 4);
            p[0] = c.red, p[1] = c.green, p[2] = c.blue, p[3] = 255;  // stored inverted, as Adobe writes
        }
    }
    tjhandle tj = tjInitCompress();
    ASSERT_NE(tj, nullptr);
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(tjCompress2(tj, cmyk.data(), w, w * 4, h, TJPF_CMYK, &buf, &size, TJSAMP_444, 100, 0), 0);
    std::vector<uint8_t> jpeg(buf, buf + size);
    tjFree(buf);
    tjDestroy(tj);

    Bitmap out;
    std::string error;
    ASSERT_TRUE(DecodeJpeg(jpeg.data(), jpeg.size(), out, &error)) << error;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            RGBQuad p = out.pixelColor(x, y), q = colourAt(x, y);
            EXPECT_NEAR(p.red, q.red, 4);
            EXPECT_NEAR(p.green, q.green, 4);
            EXPECT_NEAR(p.blue, q.blue, 4);
        }
    }
}

// ---------------------------------------------------------------- hostile JPEGs

namespace {

// A w x h JPEG of a smooth picture through TurboJPEG (baseline or progressive).
std::vector<uint8_t> makeJpeg(int w, int h, bool progressive, int subsampling = TJSAMP_420) {
    std::vector<uint8_t> rgb(size_t(w) * size_t(h) * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = rgb.data() + (size_t(y) * size_t(w) + size_t(x)) * 3;
            p[0] = uint8_t(x / 8), p[1] = uint8_t(y / 8), p[2] = 90;
        }
    tjhandle tj = tjInitCompress();
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    const int flags = progressive ? TJFLAG_PROGRESSIVE : 0;
    std::vector<uint8_t> jpeg;
    if (tj && tjCompress2(tj, rgb.data(), w, w * 3, h, TJPF_RGB, &buf, &size, subsampling, 85, flags) == 0)
        jpeg.assign(buf, buf + size);
    tjFree(buf);
    if (tj) tjDestroy(tj);
    return jpeg;
}

// Offsets of the marker segments: {marker, start, end}, an SOS segment's end
// taken after its entropy-coded data.
struct Segment { uint8_t marker; size_t start, end; };
std::vector<Segment> segments(const std::vector<uint8_t>& j) {
    std::vector<Segment> out;
    size_t at = 2;
    while (at + 3 < j.size() && j[at] == 0xFF && j[at + 1] != 0xD9) {
        const uint8_t marker = j[at + 1];
        size_t end = at + 2 + (size_t(j[at + 2]) << 8 | j[at + 3]);
        if (marker == 0xDA)
            while (end + 1 < j.size() && !(j[end] == 0xFF && j[end + 1] != 0 && (j[end + 1] < 0xD0 || j[end + 1] > 0xD7)))
                ++end;
        out.push_back({marker, at, end});
        at = end;
    }
    return out;
}

// The frame header made to claim another size.
std::vector<uint8_t> withSize(std::vector<uint8_t> j, int w, int h) {
    for (const Segment& s : segments(j))
        if (s.marker >= 0xC0 && s.marker <= 0xC2) {
            j[s.start + 5] = uint8_t(h >> 8), j[s.start + 6] = uint8_t(h);
            j[s.start + 7] = uint8_t(w >> 8), j[s.start + 8] = uint8_t(w);
        }
    return j;
}

// The last scan sent `extra` more times: each copy repeats a refinement the
// decoder has had, so it only warns, and every copy sweeps the whole picture.
std::vector<uint8_t> withLastScanRepeated(const std::vector<uint8_t>& j, int extra) {
    Segment last{0, 0, 0};
    for (const Segment& s : segments(j))
        if (s.marker == 0xDA) last = s;
    std::vector<uint8_t> out(j.begin(), j.begin() + long(last.end));
    for (int i = 0; i < extra; ++i) out.insert(out.end(), j.begin() + long(last.start), j.begin() + long(last.end));
    out.insert(out.end(), j.begin() + long(last.end), j.end());
    return out;
}

}  // namespace

TEST(PictureIO, JpegsLargerThanTheirDataAreRefusedBeforeDecoding) {
    const std::vector<uint8_t> small = makeJpeg(64, 64, false), smallProgressive = makeJpeg(64, 64, true);
    ASSERT_FALSE(small.empty());
    struct Case { const char* name; std::vector<uint8_t> bytes; };
    const Case cases[] = {
        {"16384x16384 in a few hundred bytes", withSize(small, 16384, 16384)},
        {"8000x4000 in a few hundred bytes", withSize(small, 8000, 4000)},
        {"progressive 16384x16384", withSize(smallProgressive, 16384, 16384)},
    };
    for (const Case& c : cases) {
        Bitmap out;
        std::string error;
        EXPECT_FALSE(DecodeJpeg(c.bytes.data(), c.bytes.size(), out, &error)) << c.name;
        EXPECT_NE(error.find("implausible"), std::string::npos) << c.name << ": " << error;
        EXPECT_TRUE(out.empty());
    }
    // A flat picture is the densest real data there is; a large one loads.
    const std::vector<uint8_t> flat = makeJpeg(3000, 2000, false);
    Bitmap out;
    std::string error;
    EXPECT_TRUE(DecodeJpeg(flat.data(), flat.size(), out, &error)) << flat.size() << " bytes: " << error;
}

TEST(PictureIO, JpegScanBombsAreRefused) {
    const std::vector<uint8_t> progressive = makeJpeg(256, 256, true);
    ASSERT_FALSE(progressive.empty());
    Bitmap out;
    std::string error;
    ASSERT_TRUE(DecodeJpeg(progressive.data(), progressive.size(), out, &error)) << error;
    struct Case { const char* name; int extra; };
    for (Case c : {Case{"a refinement sent twice", 1}, Case{"50 repeated scans", 50}, Case{"600 scans", 600}}) {
        const std::vector<uint8_t> bomb = withLastScanRepeated(progressive, c.extra);
        error.clear();
        EXPECT_FALSE(DecodeJpeg(bomb.data(), bomb.size(), out, &error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
        EXPECT_TRUE(out.empty()) << c.name;
    }
    // Scans that each sweep a picture bigger than the data holds are refused
    // before any is decoded, whatever the library would make of them.
    const std::vector<uint8_t> sweeps = withLastScanRepeated(withSize(progressive, 2048, 2048), 400);
    EXPECT_FALSE(DecodeJpeg(sweeps.data(), sweeps.size(), out, &error));
    EXPECT_NE(error.find("too many scans"), std::string::npos) << error;
}

TEST(PictureIO, ShortJpegsAreCalledTruncated) {
    const std::vector<uint8_t> jpeg = makeJpeg(16, 16, false);
    size_t sos = 0;
    for (const Segment& s : segments(jpeg))
        if (s.marker == 0xDA && sos == 0) sos = s.start;
    ASSERT_GT(sos, 20u);
    for (size_t keep : {size_t(3), size_t(20), sos}) {
        const std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + long(keep));
        Bitmap out;
        std::string error;
        EXPECT_FALSE(DecodeJpeg(cut.data(), cut.size(), out, &error)) << keep;
        EXPECT_NE(error.find("truncated or not a JPEG"), std::string::npos) << keep << ": " << error;
    }
}

TEST(PictureIO, TheLoadCapComesFromTheEnvironment) {
    struct Case { const char* value; uint64_t cap; };
    const Case cases[] = {
        {nullptr, uint64_t(1) << 30}, {"", uint64_t(1) << 30},  {"abc", uint64_t(1) << 30},
        {"0", uint64_t(1) << 30},     {"-5", uint64_t(1) << 30}, {"12x", uint64_t(1) << 30},
        {"2", uint64_t(2) << 20},     {"4096", uint64_t(4096) << 20},
    };
    for (const Case& c : cases) {
        if (c.value) setenv("TARNEL_MAX_LOAD_MB", c.value, 1);
        else unsetenv("TARNEL_MAX_LOAD_MB");
        EXPECT_EQ(LoadMemoryCap(), c.cap) << (c.value ? c.value : "unset");
    }
    // A 1000x1000 picture needs 4 MB: refused under a 2 MB cap, whatever the format.
    TempDir dir;
    const std::vector<uint8_t> jpeg = makeJpeg(1000, 1000, false);
    std::vector<uint8_t> bmp;
    ASSERT_TRUE(EncodeBmp24(makePicture(1000, 1000), bmp));
    for (const auto& bytes : {jpeg, bmp}) {
        StdPicture picture;
        setenv("TARNEL_MAX_LOAD_MB", "2", 1);
        PictureResult loaded = LoadPictureFromMemory(bytes.data(), bytes.size(), picture);
        EXPECT_FALSE(loaded);
        EXPECT_NE(loaded.reason.find("more memory than allowed"), std::string::npos) << loaded.reason;
        unsetenv("TARNEL_MAX_LOAD_MB");
        loaded = LoadPictureFromMemory(bytes.data(), bytes.size(), picture);
        EXPECT_TRUE(loaded) << loaded.reason;
    }
}

// ---------------------------------------------------------------- saving

TEST(PictureIO, SavedBmpIs24BppBottomUpAndReadsBack) {
    for (int bpp : {1, 4, 8, 16, 24, 32}) {
        SCOPED_TRACE(bpp);
        TempDir dir;
        ScriptedDialogs dialogs;
        Bitmap src = makePicture(13, 5, bpp, bpp != 24);
        StdPicture picture;
        picture.bitmap = std::make_shared<Bitmap>(src);
        std::string path = dir.file("saved.bmp");
        const PictureResult saved = SavePictureBMP(picture, path);
        ASSERT_TRUE(saved) << saved.reason;

        cDIB dib;
        ASSERT_TRUE(dib.CreateFromFile(path));
        EXPECT_EQ(dib.BitCount(), 24);
        EXPECT_EQ(dib.Width(), 13);
        EXPECT_EQ(dib.Height(), 5);  // positive: bottom-up
        EXPECT_EQ(dib.SizeInfoHeader(), 40);
        EXPECT_EQ(dib.Compression(), 0);
        EXPECT_EQ(dib.Planes(), 1);
        EXPECT_EQ(dib.SizeImage(), 40 * 5);  // 39 bytes a row, padded to 40
        EXPECT_EQ(dib.BitOffset(), 54);
        EXPECT_EQ(dib.SizeFileHeader(), 54 + 200);
        EXPECT_EQ(std::filesystem::file_size(path), 254u);
        EXPECT_TRUE(dialogs.messages.empty());

        StdPicture back;
        const PictureResult loaded = LoadPicture(path, back);
        ASSERT_TRUE(loaded) << loaded.reason;
        expectSamePixels(*back.bitmap, src);
        EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"saved.bmp"});
    }
}

TEST(PictureIO, SavingReplacesAnOldFileAndLeavesNoTemporaryFiles) {
    TempDir dir;
    std::string path = dir.file("frame.bmp");
    writeFile(path, std::vector<uint8_t>(10000, 0x55));
    ASSERT_TRUE(SavePictureBMP(makePicture(3, 2), path));
    EXPECT_EQ(std::filesystem::file_size(path), 54u + 12u * 2u);
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"frame.bmp"});
}

TEST(PictureIO, SaveFailuresAreReported) {
    TempDir dir;
    const PictureResult saved = SavePictureBMP(makePicture(3, 2), dir.file("no/folder/x.bmp"));
    EXPECT_FALSE(saved);
    EXPECT_FALSE(saved.reason.empty());
    EXPECT_FALSE(SavePictureBMP(StdPicture{}, dir.file("x.bmp")));
    EXPECT_FALSE(SavePictureBMP(Bitmap{}, dir.file("x.bmp")));
    std::filesystem::create_directory(dir.file("taken"));
    std::filesystem::path inner = std::filesystem::path(dir.file("taken")) / "child";
    writeFile(inner.string(), {1});
    EXPECT_FALSE(SavePictureBMP(makePicture(3, 2), dir.file("taken")));  // a folder that is not empty
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"taken"});
}

// ---------------------------------------------------------------- JPEG converter

TEST(JpegConvert, WritesABaseline444JpegCloseToTheBmp) {
    for (const char* name : {"info24", "rle8", "info1", "v5_565", "core4"}) {
        SCOPED_TRACE(name);
        TempDir dir;
        std::string jpg = dir.file("000.jpg");
        ASSERT_EQ(ConvertBMPtoJPG(fixture(std::string(name) + ".bmp"), jpg, -1, 100, -1), kConvertOk);
        std::vector<uint8_t> jpeg = readFile(jpg);
        ASSERT_GE(jpeg.size(), 4u);
        EXPECT_EQ(jpeg[0], 0xFF);
        EXPECT_EQ(jpeg[1], 0xD8);

        tjhandle tj = tjInitDecompress();
        int w = 0, h = 0, subsampling = -1, colourspace = -1;
        ASSERT_EQ(tjDecompressHeader3(tj, jpeg.data(), static_cast<unsigned long>(jpeg.size()), &w, &h, &subsampling,
                                      &colourspace), 0);
        tjDestroy(tj);
        EXPECT_EQ(subsampling, TJSAMP_444);
        EXPECT_EQ(w, 37);
        EXPECT_EQ(h, 11);
        bool baseline = false, progressive = false;
        for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
            if (jpeg[i] != 0xFF) continue;
            baseline |= jpeg[i + 1] == 0xC0;
            progressive |= jpeg[i + 1] == 0xC2;
        }
        EXPECT_TRUE(baseline);
        EXPECT_FALSE(progressive);

        std::vector<uint8_t> bmp = readFile(fixture(std::string(name) + ".bmp"));
        Bitmap source;
        ASSERT_TRUE(DecodeBmp(bmp.data(), bmp.size(), source));
        StdPicture back;
        ASSERT_TRUE(LoadPicture(jpg, back));
        // Quality 100 without chroma subsampling: every channel within a few levels.
        expectSamePixels(*back.bitmap, source, 12);
        EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"000.jpg"});
    }
}

TEST(JpegConvert, NumericArgumentsChooseQualitySamplingAndProgression) {
    TempDir dir;
    const std::string src = fixture("info24.bmp");
    ASSERT_EQ(ConvertBMPtoJPG(src, dir.file("q100.jpg")), kConvertOk);
    ASSERT_EQ(ConvertBMPtoJPG(src, dir.file("q30.jpg"), -1, 30, -1), kConvertOk);
    EXPECT_LT(std::filesystem::file_size(dir.file("q30.jpg")), std::filesystem::file_size(dir.file("q100.jpg")));

    ASSERT_EQ(ConvertBMPtoJPG(src, dir.file("420.jpg"), TJSAMP_420, 100, -1), kConvertOk);
    std::vector<uint8_t> jpeg = readFile(dir.file("420.jpg"));
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, subsampling = -1, colourspace = -1;
    ASSERT_EQ(tjDecompressHeader3(tj, jpeg.data(), static_cast<unsigned long>(jpeg.size()), &w, &h, &subsampling,
                                  &colourspace), 0);
    tjDestroy(tj);
    EXPECT_EQ(subsampling, TJSAMP_420);

    ASSERT_EQ(ConvertBMPtoJPG(src, dir.file("p.jpg"), -1, 100, kJpegProgressive), kConvertOk);
    jpeg = readFile(dir.file("p.jpg"));
    bool progressive = false;
    for (size_t i = 0; i + 1 < jpeg.size(); ++i) progressive |= jpeg[i] == 0xFF && jpeg[i + 1] == 0xC2;
    EXPECT_TRUE(progressive);
}

TEST(JpegConvert, FailuresReturnNonZeroAndLeaveNoFile) {
    TempDir dir;
    writeFile(dir.file("text.bmp"), {'n', 'o', 't', ' ', 'a', ' ', 'b', 'm', 'p'});
    std::vector<uint8_t> cut = readFile(fixture("info24.bmp"));
    cut.resize(600);
    writeFile(dir.file("cut.bmp"), cut);
    const std::string good = fixture("info24.bmp");
    struct Case { const char* name; std::string bmp, jpg; int a, q, c; int result; };
    const Case cases[] = {
        {"missing BMP", dir.file("missing.bmp"), dir.file("a.jpg"), -1, 100, -1, kConvertReadFailed},
        {"BMP is a folder", dir.path().string(), dir.file("a.jpg"), -1, 100, -1, kConvertReadFailed},
        {"not a BMP", dir.file("text.bmp"), dir.file("a.jpg"), -1, 100, -1, kConvertDecodeFailed},
        {"BMP cut short", dir.file("cut.bmp"), dir.file("a.jpg"), -1, 100, -1, kConvertDecodeFailed},
        {"JPEG into a missing folder", good, dir.file("no/a.jpg"), -1, 100, -1, kConvertWriteFailed},
        {"quality 0", good, dir.file("a.jpg"), -1, 0, -1, kConvertBadArguments},
        {"quality 101", good, dir.file("a.jpg"), -1, 101, -1, kConvertBadArguments},
        {"subsampling 7", good, dir.file("a.jpg"), 7, 100, -1, kConvertBadArguments},
        {"options 8", good, dir.file("a.jpg"), -1, 100, 8, kConvertBadArguments},
        {"no JPEG name", good, "", -1, 100, -1, kConvertBadArguments},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ConvertBMPtoJPG(c.bmp, c.jpg, c.a, c.q, c.c), c.result) << c.name;
        EXPECT_FALSE(std::filesystem::exists(dir.file("a.jpg"))) << c.name;
    }
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{"cut.bmp", "text.bmp"}));
}
