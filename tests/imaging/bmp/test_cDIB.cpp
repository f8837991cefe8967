#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <cerrno>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

#include "imaging/bmp/BmpDecoder.h"
#include "imaging/bmp/cDIB.h"
#include "support/AsNobody.h"
#include "support/Bytes.h"
#include "support/FileKinds.h"
#include "support/Files.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"

using namespace tarnel;
using tarnel::test::put16;
using tarnel::test::put32;
using tarnel::test::readFile;
using tarnel::test::ScriptedDialogs;
using tarnel::test::TempDir;
using tarnel::test::writeFile;

namespace {

const std::string kNotFound = "ﾌｧｲﾙが存在しません :";
const std::string kLocked = "ﾌｧｲﾙがﾛｯｸされています :";
const std::string kUnsupported = "ｻﾎﾟｰﾄされていないﾌｧｲﾙﾌｫｰﾏｯﾄです :";
const std::string kColour = "この画像ﾌｧｲﾙの色はｻﾎﾟｰﾄしていません!";

// A BMP file: file header, 40-byte info header, `tableBytes` of colour table,
// then `pixelBytes` pixel bytes (a counting pattern).
struct BmpBytes {
    int32_t width = 3, height = 2;
    uint16_t bpp = 24;
    size_t tableBytes = 0;
    size_t pixelBytes = 24;
    std::optional<uint32_t> sizeImage, offBits;

    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> v(54 + tableBytes + pixelBytes, 0);
        v[0] = 'B';
        v[1] = 'M';
        put32(v, 2, uint32_t(v.size()));
        put32(v, 10, offBits.value_or(uint32_t(54 + tableBytes)));
        put32(v, 14, 40);
        put32(v, 18, uint32_t(width));
        put32(v, 22, uint32_t(height));
        put16(v, 26, 1);
        put16(v, 28, bpp);
        put32(v, 34, sizeImage.value_or(uint32_t(pixelBytes)));
        put32(v, 38, 2835);
        put32(v, 42, 3780);
        put32(v, 46, uint32_t(tableBytes / 4));
        put32(v, 50, 7);
        for (size_t i = 0; i < tableBytes; ++i) v[54 + i] = uint8_t(i * 3);
        for (size_t i = 0; i < pixelBytes; ++i) v[54 + tableBytes + i] = uint8_t(100 + i);
        return v;
    }
};

std::vector<uint8_t> block(const uint8_t* p, size_t n) {
    return p ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>();
}

}  // namespace

TEST(cDIB, ReadsTheHeadersAndBothBlocksAsStored) {
    TempDir dir;
    ScriptedDialogs dialogs;
    BmpBytes layout;
    std::vector<uint8_t> file = layout.bytes();
    writeFile(dir.file("a.bmp"), file);

    cDIB dib;
    ASSERT_TRUE(dib.CreateFromFile(dir.file("a.bmp")));
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(dib.FileType(), 19778);
    EXPECT_EQ(dib.SizeFileHeader(), int32_t(file.size()));
    EXPECT_EQ(dib.BitOffset(), 54);
    EXPECT_EQ(dib.SizeInfoHeader(), 40);
    EXPECT_EQ(dib.Width(), 3);
    EXPECT_EQ(dib.Height(), 2);
    EXPECT_EQ(dib.Planes(), 1);
    EXPECT_EQ(dib.BitCount(), 24);
    EXPECT_EQ(dib.Compression(), 0);
    EXPECT_EQ(dib.SizeImage(), 24);
    EXPECT_EQ(dib.XPPM(), 2835);
    EXPECT_EQ(dib.YPPM(), 3780);
    EXPECT_EQ(dib.ClrUsed(), 0);
    EXPECT_EQ(dib.ClrImportant(), 7);
    EXPECT_EQ(dib.SizeBitmapInfo(), 40);
    EXPECT_EQ(block(dib.PointerToBitmapInfo(), 40), std::vector<uint8_t>(file.begin() + 14, file.begin() + 54));
    EXPECT_EQ(block(dib.PointerToBits(), 24), std::vector<uint8_t>(file.begin() + 54, file.end()));
}

TEST(cDIB, InfoBlockRunsUpToThePixelsAndPixelBlockFollowsBiSizeImage) {
    TempDir dir;
    ScriptedDialogs dialogs;
    BmpBytes layout;
    layout.bpp = 8;
    layout.tableBytes = 1024;
    layout.pixelBytes = 8;
    layout.sizeImage = 5;  // taken as it stands, never worked out from the size
    std::vector<uint8_t> file = layout.bytes();
    writeFile(dir.file("p.bmp"), file);

    cDIB dib;
    ASSERT_TRUE(dib.CreateFromFile(dir.file("p.bmp")));
    EXPECT_EQ(dib.SizeBitmapInfo(), 40 + 1024);
    EXPECT_EQ(dib.ClrUsed(), 256);
    EXPECT_EQ(dib.BitmapInfo(), std::vector<uint8_t>(file.begin() + 14, file.begin() + 14 + 1064));
    EXPECT_EQ(dib.Bits(), std::vector<uint8_t>(file.begin() + 1078, file.begin() + 1083));
}

TEST(cDIB, MissingFileIsReported) {
    TempDir dir;
    ScriptedDialogs dialogs;
    cDIB dib;
    std::string name = dir.file("nothing.bmp");
    EXPECT_FALSE(dib.CreateFromFile(name));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, kNotFound + "\n" + name);
    EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::Critical);
    EXPECT_EQ(dialogs.messages[0].buttons, MsgButtons::OK);
    EXPECT_EQ(dialogs.messages[0].title, "Tarnel");
}

// Run as nobody: root reads any file whatever its permissions.
TEST(cDIB, LockedFileIsReported) {
    TempDir dir;
    std::string name = dir.file("locked.bmp");
    writeFile(name, BmpBytes{}.bytes());
    test::ShareWithNobody(dir.path());
    std::filesystem::permissions(name, std::filesystem::perms::none);
    const std::optional<std::string> report = test::RunAsNobody([&] {
        ScriptedDialogs dialogs;
        cDIB dib;
        if (dib.CreateFromFile(name)) return std::string("read");
        std::string seen;
        for (const auto& m : dialogs.messages)
            seen += m.text + "|" + std::to_string(int(m.icon)) + "|" + m.title + "\n";
        return seen;
    });
    std::filesystem::permissions(name, std::filesystem::perms::owner_all);
    ASSERT_TRUE(report) << "the child could not run as nobody";
    EXPECT_EQ(*report, kLocked + "\n" + name + "|" + std::to_string(int(MsgIcon::Critical)) + "|Tarnel\n");
}

TEST(cDIB, OtherOpenErrorsShowTheirOwnDescription) {
#ifdef __SANITIZE_ADDRESS__
    // The sanitizer runtime needs descriptors of its own while the limit holds.
    GTEST_SKIP() << "needs a process without sanitizers";
#endif
    TempDir dir;
    std::string name = dir.file("a.bmp");
    writeFile(name, BmpBytes{}.bytes());
    ScriptedDialogs dialogs;
    cDIB dib;
    // No file descriptor to spare: the file exists but cannot be opened.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit none = old;
    none.rlim_cur = 0;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
    bool ok = dib.CreateFromFile(name);
    ::setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_FALSE(ok);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, std::strerror(EMFILE));
    EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::Information);
    EXPECT_EQ(dialogs.messages[0].title, "Tarnel");
}

TEST(cDIB, BrokenFilesGiveTheUnsupportedFormatMessageAndKeepTheOldBlocks) {
    struct Case { const char* name; std::function<std::vector<uint8_t>()> make; };
    const Case cases[] = {
        {"not BM", [] { auto v = BmpBytes{}.bytes(); v[0] = 'P'; return v; }},
        {"empty file", [] { return std::vector<uint8_t>(); }},
        {"shorter than the file header", [] { return std::vector<uint8_t>{'B', 'M', 0, 0}; }},
        {"shorter than the info header", [] { auto v = BmpBytes{}.bytes(); v.resize(40); return v; }},
        {"pixel block past the end", [] { BmpBytes b; b.sizeImage = 25; return b.bytes(); }},
        {"absurd biSizeImage", [] { BmpBytes b; b.sizeImage = 0xFFFFFFF0; return b.bytes(); }},
        {"biSizeImage 2^31", [] { BmpBytes b; b.sizeImage = 0x80000000; return b.bytes(); }},
        {"biSizeImage 0", [] { BmpBytes b; b.sizeImage = 0; return b.bytes(); }},
        {"bfOffBits inside the headers", [] { BmpBytes b; b.offBits = 53; return b.bytes(); }},
        {"bfOffBits zero", [] { BmpBytes b; b.offBits = 0; return b.bytes(); }},
        {"bfOffBits past the end", [] { BmpBytes b; b.offBits = 1000; b.sizeImage = 1; return b.bytes(); }},
        {"bfOffBits huge", [] { BmpBytes b; b.offBits = 0xFFFFFFFF; return b.bytes(); }},
        {"info block past the end",
         [] {
             BmpBytes b;
             b.tableBytes = 64, b.pixelBytes = 0, b.sizeImage = 1, b.offBits = 200;
             return b.bytes();
         }},
    };
    TempDir dir;
    std::string good = dir.file("good.bmp");
    std::vector<uint8_t> goodBytes = BmpBytes{}.bytes();
    writeFile(good, goodBytes);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDialogs dialogs;
        cDIB dib;
        ASSERT_TRUE(dib.CreateFromFile(good));
        std::string name = dir.file("bad.bmp");
        writeFile(name, c.make());
        EXPECT_FALSE(dib.CreateFromFile(name));
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text, kUnsupported + "\n" + name);
        EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::Information);
        EXPECT_EQ(dialogs.messages[0].title, "Tarnel");
        // The earlier file's blocks are still there.
        EXPECT_EQ(dib.SizeImage(), 24);
        EXPECT_EQ(dib.Bits(), std::vector<uint8_t>(goodBytes.begin() + 54, goodBytes.end()));
        EXPECT_EQ(dib.SizeBitmapInfo(), 40);
    }
}

// ---------------------------------------------------------------- packed DIB

namespace {
std::vector<uint8_t> packedDib(uint16_t bpp, uint32_t sizeImage, size_t pixelBytes) {
    BmpBytes b;
    b.bpp = bpp;
    b.sizeImage = sizeImage;
    b.pixelBytes = pixelBytes;
    std::vector<uint8_t> file = b.bytes();
    return std::vector<uint8_t>(file.begin() + 14, file.end());
}
}  // namespace

TEST(cDIB, PackedDibBecomesAFileImage) {
    for (uint16_t bpp : {16, 24, 32}) {
        ScriptedDialogs dialogs;
        std::vector<uint8_t> packed = packedDib(bpp, 24, 24);
        cDIB dib;
        ASSERT_TRUE(dib.CreateFromPackedDIBPointer(packed.data(), packed.size())) << bpp;
        EXPECT_TRUE(dialogs.messages.empty());
        EXPECT_EQ(dib.BitCount(), bpp);
        EXPECT_EQ(dib.FileType(), 19778);
        EXPECT_EQ(dib.SizeFileHeader(), 24 + 54);
        EXPECT_EQ(dib.BitOffset(), 54);
        EXPECT_EQ(dib.SizeBitmapInfo(), 40);
        EXPECT_EQ(dib.BitmapInfo(), std::vector<uint8_t>(packed.begin(), packed.begin() + 40));
        EXPECT_EQ(dib.Bits(), std::vector<uint8_t>(packed.begin() + 40, packed.end()));
    }
}

TEST(cDIB, PackedPaletteDibsAreRefusedWithTheColourMessage) {
    for (uint16_t bpp : {1, 4, 8, 15}) {
        ScriptedDialogs dialogs;
        std::vector<uint8_t> packed = packedDib(bpp, 8, 8);
        cDIB dib;
        EXPECT_FALSE(dib.CreateFromPackedDIBPointer(packed.data(), packed.size()));
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text, kColour);
        EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::None);
        EXPECT_EQ(dialogs.messages[0].buttons, MsgButtons::OK);
        EXPECT_EQ(dialogs.messages[0].title, "Tarnel");
        EXPECT_EQ(dib.SizeBitmapInfo(), 0);
        EXPECT_EQ(dib.PointerToBits(), nullptr);
    }
}

TEST(cDIB, PackedDibsWithoutTheirBytesAreRefusedQuietly) {
    ScriptedDialogs dialogs;
    cDIB dib;
    std::vector<uint8_t> zero = packedDib(24, 0, 8);
    EXPECT_FALSE(dib.CreateFromPackedDIBPointer(zero.data(), zero.size()));
    std::vector<uint8_t> negative = packedDib(24, 0x80000000u, 8);
    EXPECT_FALSE(dib.CreateFromPackedDIBPointer(negative.data(), negative.size()));
    std::vector<uint8_t> shortOne = packedDib(24, 24, 23);  // one pixel byte missing
    EXPECT_FALSE(dib.CreateFromPackedDIBPointer(shortOne.data(), shortOne.size()));
    EXPECT_FALSE(dib.CreateFromPackedDIBPointer(shortOne.data(), 39));
    EXPECT_FALSE(dib.CreateFromPackedDIBPointer(nullptr, 1000));
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(dib.SizeBitmapInfo(), 0);
}

// ---------------------------------------------------------------- writing

TEST(cDIB, WriteToFileReproducesTheFileAndReplacesALongerOne) {
    TempDir dir;
    ScriptedDialogs dialogs;
    std::vector<uint8_t> original = BmpBytes{}.bytes();
    writeFile(dir.file("in.bmp"), original);
    cDIB dib;
    ASSERT_TRUE(dib.CreateFromFile(dir.file("in.bmp")));

    std::string out = dir.file("out.bmp");
    writeFile(out, std::vector<uint8_t>(5000, 0xEE));  // an older, longer file
    ASSERT_TRUE(dib.WriteToFile(out));
    EXPECT_EQ(readFile(out), original);
}

TEST(cDIB, PackedDibWrittenToFileDecodes) {
    TempDir dir;
    ScriptedDialogs dialogs;
    // 2 x 2 at 24 bpp: rows of 6 bytes padded to 8, bottom row first.
    std::vector<uint8_t> packed = packedDib(24, 16, 16);
    packed[4] = 2;  // biWidth
    packed[8] = 2;  // biHeight
    for (size_t i = 40; i < packed.size(); ++i) packed[i] = uint8_t(i);
    cDIB dib;
    ASSERT_TRUE(dib.CreateFromPackedDIBPointer(packed.data(), packed.size()));
    ASSERT_TRUE(dib.WriteToFile(dir.file("frame.bmp")));
    std::vector<uint8_t> file = readFile(dir.file("frame.bmp"));
    ASSERT_EQ(file.size(), 70u);
    Bitmap bitmap;
    std::string error;
    ASSERT_TRUE(DecodeBmp(file.data(), file.size(), bitmap, &error)) << error;
    EXPECT_EQ(bitmap.pixelValue(0, 1), 0x2A2928u);  // bottom row: bytes 40, 41, 42 = B, G, R
    EXPECT_EQ(bitmap.pixelValue(1, 0), 0x353433u);  // top row starts at byte 48
}

TEST(cDIB, WriteFailuresAreReported) {
    TempDir dir;
    ScriptedDialogs dialogs;
    cDIB empty;
    EXPECT_FALSE(empty.WriteToFile(dir.file("empty.bmp")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("empty.bmp")));

    std::vector<uint8_t> packed = packedDib(24, 24, 24);
    cDIB dib;
    ASSERT_TRUE(dib.CreateFromPackedDIBPointer(packed.data(), packed.size()));
    EXPECT_FALSE(dib.WriteToFile(dir.file("no/such/folder/x.bmp")));
    EXPECT_FALSE(dib.WriteToFile(dir.path().string()));  // a folder
    // A full device of our own (every write fails: no space), where one may be made.
    const std::string full = dir.file("full.bmp");
    if (test::makeCharDevice(full, 1, 7)) {
        EXPECT_FALSE(dib.WriteToFile(full));
        EXPECT_EQ(std::filesystem::symlink_status(full).type(), std::filesystem::file_type::character);
    }
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST(cDIBQuiet, ProblemsGoToTheCallerInsteadOfAMessageBox) {
    ScriptedDialogs dialogs;
    TempDir dir;
    writeFile(dir.file("not.bmp"), {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0});
    const struct {
        std::string path;
        const char* starts;
    } cases[] = {{dir.file("missing.bmp"), "ﾌｧｲﾙが存在しません :"},
                 {dir.file("not.bmp"), "ｻﾎﾟｰﾄされていないﾌｧｲﾙﾌｫｰﾏｯﾄです :"}};
    for (const auto& c : cases) {
        cDIB dib;
        std::string problem;
        EXPECT_FALSE(dib.CreateFromFile(c.path, &problem));
        EXPECT_EQ(problem.rfind(c.starts, 0), 0u) << problem;
    }
    EXPECT_TRUE(dialogs.messages.empty());
}
