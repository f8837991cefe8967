// The AVI reader against files made and decoded by the ffmpeg tool.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/media/AviReader.h"
#include "support/AviFiles.h"
#include "support/Cli.h"
#include "support/Files.h"
#include "support/Images.h"
#include "support/TempDir.h"

using namespace tarnel;
using namespace tarnel::test;

namespace {

struct CodecCase {
    const char* name;
    const char* encoder;  // skipped when ffmpeg lacks it
    const char* args;
    int maxChannelError;  // against ffmpeg's own decoding; 0 for lossless codecs
    bool knownPixels;     // lossless from the input: the frames are the test frames
    int width = 32, height = 16;
};

std::ostream& operator<<(std::ostream& os, const CodecCase& c) { return os << c.name; }

// Largest difference of any channel between our frame and B, G, R bytes.
int largestDifference(const Bitmap& frame, const std::vector<uint8_t>& bgr) {
    int worst = 0;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x) {
            const uint8_t* ours = frame.scanline(y) + 4 * x;
            const uint8_t* ref = &bgr[(size_t(y) * size_t(frame.width()) + size_t(x)) * 3];
            for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(int(ours[c]) - int(ref[c])));
        }
    return worst;
}

class AviReaderCodecs : public ::testing::TestWithParam<CodecCase> {
protected:
    void SetUp() override {
        if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg tool";
        if (!haveEncoder(GetParam().encoder)) GTEST_SKIP() << "ffmpeg has no " << GetParam().encoder;
    }
    TempDir dir_;
};

TEST_P(AviReaderCodecs, ReadsEveryFrameAsFfmpegDecodesIt) {
    const CodecCase& c = GetParam();
    AviRecipe recipe;
    recipe.width = c.width;
    recipe.height = c.height;
    recipe.frames = 10;
    recipe.codecArgs = c.args;
    const std::string path = dir_.file("video.avi");
    ASSERT_TRUE(makeAvi(path, recipe));
    auto reference = decodeWithFfmpeg(path, recipe.width, recipe.height);
    ASSERT_EQ(reference.size(), 10u);

    AviReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(path, &error)) << error;
    EXPECT_EQ(reader.Length(), 10);
    EXPECT_EQ(reader.Width(), c.width);
    EXPECT_EQ(reader.Height(), c.height);
    EXPECT_DOUBLE_EQ(reader.FramesPerSecond(), 10.0);
    EXPECT_EQ(reader.SampleToTime(10), 1000);
    Bitmap frame;
    for (int k = 0; k < 10; ++k) {
        ASSERT_TRUE(reader.GetFrame(k, frame, &error)) << "frame " << k << ": " << error;
        ASSERT_EQ(frame.bpp(), 32);
        ASSERT_EQ(frame.width(), c.width);
        ASSERT_EQ(frame.height(), c.height);
        EXPECT_LE(largestDifference(frame, reference[size_t(k)]), c.maxChannelError) << "frame " << k;
        if (c.knownPixels) {
            EXPECT_EQ(largestDifference(frame, testFrameBgr(c.width, c.height, k)), 0) << "frame " << k;
        }
    }
    EXPECT_FALSE(reader.GetFrame(10, frame));
}

const CodecCase kCodecs[] = {
    // Negative height, rows top-down (the muxer's default for raw RGB).
    {"raw_top_down", "rawvideo", "-c:v rawvideo -pix_fmt bgr24", 0, true},
    // Positive height, rows bottom-up: the muxer only marks them, so flip them first.
    {"raw_bottom_up", "rawvideo", "-vf vflip -c:v rawvideo -pix_fmt bgr24 -flipped_raw_rgb 1", 0, true},
    {"pal8", "rawvideo", "-c:v rawvideo -pix_fmt pal8", 0, false},
    {"ffv1", "ffv1", "-c:v ffv1 -pix_fmt bgr0", 0, true},
    // Lossy codecs: ffmpeg's colour conversion may round differently from ours.
    {"mjpeg", "mjpeg", "-c:v mjpeg -q:v 2", 12, false},
    {"mpeg4", "mpeg4", "-c:v mpeg4 -q:v 2", 12, false},
    {"h264", "libx264", "-c:v libx264 -qp 0 -pix_fmt yuv444p", 12, false},
    // Rows narrower than the converter's vector writes.
    {"h264_8x8", "libx264", "-c:v libx264 -qp 0 -pix_fmt yuv420p", 40, false, 8, 8},
    {"raw_13x7", "rawvideo", "-c:v rawvideo -pix_fmt bgr24", 0, true, 13, 7},
};

INSTANTIATE_TEST_SUITE_P(Codecs, AviReaderCodecs, ::testing::ValuesIn(kCodecs),
                         [](const auto& info) { return std::string(info.param.name); });

class AviReaderFile : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg tool";
        recipe_.codecArgs = "-c:v rawvideo -pix_fmt bgr24";
        ASSERT_TRUE(makeAvi(path_, recipe_));
    }
    TempDir dir_;
    std::string path_ = dir_.file("raw.avi");
    AviRecipe recipe_;
};

TEST_F(AviReaderFile, RawFramesHoldTheKnownPixels) {
    AviReader reader;
    ASSERT_TRUE(reader.Open(path_));
    Bitmap frame;
    for (int k : {0, 9}) {
        ASSERT_TRUE(reader.GetFrame(k, frame));
        EXPECT_EQ(largestDifference(frame, testFrameBgr(recipe_.width, recipe_.height, k)), 0) << "frame " << k;
    }
}

TEST_F(AviReaderFile, GoingBackGivesTheSameFrameAsReadingForward) {
    AviReader reader;
    ASSERT_TRUE(reader.Open(path_));
    Bitmap forward, again;
    ASSERT_TRUE(reader.GetFrame(7, forward));
    ASSERT_TRUE(reader.GetFrame(7, again));  // the same frame twice
    EXPECT_EQ(largestDifference(again, testFrameBgr(recipe_.width, recipe_.height, 7)), 0);
    ASSERT_TRUE(reader.GetFrame(2, again));
    EXPECT_EQ(largestDifference(again, testFrameBgr(recipe_.width, recipe_.height, 2)), 0);
    ASSERT_TRUE(reader.GetFrame(3, again));
    EXPECT_EQ(largestDifference(again, testFrameBgr(recipe_.width, recipe_.height, 3)), 0);
    EXPECT_FALSE(reader.GetFrame(-1, again));
    EXPECT_FALSE(reader.GetFrame(recipe_.frames, again));
}

TEST_F(AviReaderFile, MemoryGivesWhatTheFileGives) {
    std::vector<uint8_t> bytes = readFile(path_);
    AviReader reader;
    ASSERT_TRUE(reader.OpenMemory(bytes.data(), bytes.size()));
    EXPECT_EQ(reader.Length(), recipe_.frames);
    Bitmap frame;
    ASSERT_TRUE(reader.GetFrame(4, frame));
    EXPECT_EQ(largestDifference(frame, testFrameBgr(recipe_.width, recipe_.height, 4)), 0);
    ASSERT_TRUE(reader.GetFrame(1, frame));
    EXPECT_EQ(largestDifference(frame, testFrameBgr(recipe_.width, recipe_.height, 1)), 0);
}

TEST_F(AviReaderFile, RateOfFifteenFramesASecond) {
    AviRecipe recipe = recipe_;
    recipe.frames = 15;
    recipe.rate = "15";
    const std::string path = dir_.file("fifteen.avi");
    ASSERT_TRUE(makeAvi(path, recipe));
    AviReader reader;
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.Length(), 15);
    EXPECT_EQ(reader.SampleToTime(15), 1000);
    EXPECT_EQ(reader.SampleToTime(1), 67);
}

// A header that claims far more frames than the file holds.
TEST_F(AviReaderFile, LengthComesFromWhatIsThereNotFromTheHeader) {
    std::vector<uint8_t> bytes = readFile(path_);
    // dwTotalFrames of the main header and dwLength of the stream header.
    auto find = [&](const char* tag) {
        for (size_t i = 0; i + 4 <= bytes.size(); ++i)
            if (std::equal(tag, tag + 4, bytes.begin() + long(i))) return i;
        return size_t(0);
    };
    size_t avih = find("avih"), strh = find("strh");
    ASSERT_NE(avih, 0u);
    ASSERT_NE(strh, 0u);
    for (size_t at : {avih + 8 + 16, strh + 8 + 32}) {
        bytes[at] = 0x00;
        bytes[at + 1] = 0x94;
        bytes[at + 2] = 0x35;
        bytes[at + 3] = 0x77;  // 2,000,000,000
    }
    AviReader reader;
    ASSERT_TRUE(reader.OpenMemory(bytes.data(), bytes.size()));
    EXPECT_EQ(reader.Length(), recipe_.frames);
    // Without the index the frames are counted.
    bytes.resize(find("idx1"));
    ASSERT_TRUE(reader.OpenMemory(bytes.data(), bytes.size()));
    EXPECT_EQ(reader.Length(), recipe_.frames);
    Bitmap frame;
    EXPECT_TRUE(reader.GetFrame(recipe_.frames - 1, frame));
}

TEST(AviReaderPaths, RefusesWhatIsNotARegularFile) {
    TempDir dir;
    const std::string fifo = dir.file("pipe.avi");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    AviReader reader;
    std::string error;
    EXPECT_FALSE(reader.Open(fifo, &error));  // must not block
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    EXPECT_FALSE(reader.Open(dir.path().string()));
    EXPECT_FALSE(reader.Open(dir.file("missing.avi")));
    EXPECT_FALSE(reader.IsOpen());
    Bitmap frame;
    EXPECT_FALSE(reader.GetFrame(0, frame));
}

// Inputs that must give false, with nothing crashing.
struct BadInput {
    const char* name;
    std::vector<uint8_t> (*make)(const std::vector<uint8_t>& good, const TempDir& dir);
};

std::vector<uint8_t> truncatedHalf(const std::vector<uint8_t>& good, const TempDir&) {
    return std::vector<uint8_t>(good.begin(), good.begin() + long(good.size() / 2));
}
std::vector<uint8_t> corruptHeader(const std::vector<uint8_t>& good, const TempDir&) {
    std::vector<uint8_t> bad = good;
    for (size_t i = 12; i < 200 && i < bad.size(); ++i) bad[i] = uint8_t(0xA5 ^ i);
    return bad;
}
std::vector<uint8_t> zeroLength(const std::vector<uint8_t>&, const TempDir&) { return {}; }
std::vector<uint8_t> randomBytes(const std::vector<uint8_t>& good, const TempDir&) {
    std::vector<uint8_t> bytes(good.size());
    uint32_t s = 12345;
    for (uint8_t& b : bytes) b = uint8_t(lcg(s));
    return bytes;
}
std::vector<uint8_t> audioOnly(const std::vector<uint8_t>&, const TempDir& dir) {
    std::string path = dir.file("audio.avi");
    if (!runFfmpeg("-f lavfi -i sine=frequency=440:duration=0.2 -c:a pcm_s16le " + ShellQuote(path))) return {1};
    return readFile(path);
}
std::vector<uint8_t> absurdSize(const std::vector<uint8_t>& good, const TempDir&) {
    // biWidth and biHeight of the stream format, and the main header's size.
    std::vector<uint8_t> bad = good;
    for (size_t i = 0; i + 16 <= bad.size(); ++i) {
        if (std::equal(bad.begin() + long(i), bad.begin() + long(i) + 4, "strf")) {
            bad[i + 8 + 4 + 2] = 0x40;  // width 0x00400000 + low bytes
            bad[i + 8 + 8 + 2] = 0x40;
        }
    }
    return bad;
}

TEST(AviReaderBadInput, EveryCaseIsRefused) {
    if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg tool";
    TempDir dir;
    AviRecipe recipe;
    recipe.codecArgs = "-c:v rawvideo -pix_fmt bgr24";
    ASSERT_TRUE(makeAvi(dir.file("good.avi"), recipe));
    const std::vector<uint8_t> good = readFile(dir.file("good.avi"));
    const BadInput cases[] = {
        {"truncated", truncatedHalf}, {"corrupt", corruptHeader}, {"zero-length", zeroLength},
        {"random", randomBytes},      {"audio only", audioOnly},  {"absurd size", absurdSize},
    };
    for (const BadInput& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = c.make(good, dir);
        const std::string path = dir.file("bad.avi");
        writeFile(path, bytes);
        for (int viaMemory = 0; viaMemory < 2; ++viaMemory) {
            AviReader reader;
            bool opened = viaMemory ? reader.OpenMemory(bytes.data(), bytes.size()) : reader.Open(path);
            if (!opened) continue;
            // Opening may succeed on what looks like a header; a full read may not.
            Bitmap frame;
            bool all = reader.Length() > 0;
            for (int k = 0; all && k < reader.Length(); ++k) all = reader.GetFrame(k, frame);
            EXPECT_FALSE(all) << "every frame read from a bad file";
        }
    }
}

}  // namespace

namespace {

// Hand-made files whose headers claim what their data cannot hold: each is
// refused at opening, or at its first frame, with a reason naming the cause.
struct ClaimCase {
    const char* name;
    HandMadeAvi avi;
    const char* reason;  // a part of the error
    bool atOpen;         // refused by Open, not only by GetFrame
};

std::ostream& operator<<(std::ostream& os, const ClaimCase& c) { return os << c.name; }

HandMadeAvi avi(int32_t w, int32_t h, uint32_t compression, uint16_t bits, std::vector<std::vector<uint8_t>> packets,
                uint32_t junk = 0) {
    HandMadeAvi a;
    a.width = w;
    a.height = h;
    a.compression = compression;
    a.bitCount = bits;
    a.packets = std::move(packets);
    a.junkBytes = junk;
    return a;
}

class AviReaderClaims : public ::testing::TestWithParam<ClaimCase> {};

TEST_P(AviReaderClaims, RefusedWithTheCause) {
    const ClaimCase& c = GetParam();
    const std::vector<uint8_t> bytes = handMadeAvi(c.avi);
    AviReader reader;
    std::string error;
    bool refused = !reader.OpenMemory(bytes.data(), bytes.size(), &error);
    EXPECT_EQ(refused, c.atOpen) << error;
    if (!refused) {
        Bitmap frame;
        refused = !reader.GetFrame(0, frame, &error);
    }
    EXPECT_TRUE(refused);
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
}

const ClaimCase kClaims[] = {
    {"huge", avi(30000, 30000, 1, 8, {rle8Empty()}), "30000 x 30000 is too large", true},
    {"negative width", avi(-64, 16, 1, 8, {rle8Empty()}), "-64 x 16 is invalid", true},
    {"rle bomb", avi(8192, 8192, 1, 8, std::vector<std::vector<uint8_t>>(8, rle8Empty())), "8192 x 8192 is implausible", true},
    {"mjpeg bomb", avi(8192, 8192, fourCC("MJPG"), 24, {std::vector<uint8_t>(3000, 0)}), "8192 x 8192 is implausible", true},
    {"raw short", avi(4096, 4096, 0, 24, {std::vector<uint8_t>(3000, 0)}), "4096 x 4096 is implausible", true},
    // The file is large enough, the frame's own data is not.
    {"rle frame", avi(4096, 4096, 1, 8, {rle8Empty(), rle8Fill(4096, 4096, 1)}, 200000),
     "frame 1 of 4096 x 4096 pixels is implausible for the 2 bytes", false},
    {"mjpeg frame", avi(2048, 4096, fourCC("MJPG"), 24, {std::vector<uint8_t>(3000, 0)}, 10000),
     "frame 1 of 2048 x 4096 pixels is implausible for the 3000 bytes", false},
    {"raw frame", avi(64, 64, 0, 24, {std::vector<uint8_t>(3000, 0)}, 20000),
     "frame 1 of 64 x 64 pixels is implausible for the 3000 bytes", false},
};

// Past the floor, a frame whose runs paint it is read.
TEST(AviReaderClaimsBacked, RunsThatPaintTheFrameAreRead) {
    const std::vector<uint8_t> bytes = handMadeAvi(avi(2560, 2048, 1, 8, {rle8Fill(2560, 2048, 7)}));
    AviReader reader;
    std::string error;
    ASSERT_TRUE(reader.OpenMemory(bytes.data(), bytes.size(), &error)) << error;
    Bitmap frame;
    ASSERT_TRUE(reader.GetFrame(0, frame, &error)) << error;
    EXPECT_EQ(frame.scanline(2047)[4 * 2559], 7);
}

INSTANTIATE_TEST_SUITE_P(Claims, AviReaderClaims, ::testing::ValuesIn(kClaims),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             for (char& ch : n) if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

}  // namespace
