#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <new>
#include <set>
#include <vector>

#include "imaging/PictureIO.h"
#include "output/FrameSequence.h"
#include "support/Files.h"
#include "support/Images.h"
#include "support/TempDir.h"

using namespace tarnel;
using tarnel::test::TempDir;
using tarnel::test::solidPicture;
using tarnel::test::writeText;

namespace {

// ---------------------------------------------------------------------------
// Names and kind

TEST(FramePath, NamesFramesWithAtLeastThreeDigits) {
    struct Case {
        int index, kind;
        const char* expected;
    } cases[] = {
        {0, 0, "/f/000.bmp"},  {1, 1, "/f/001.jpg"},   {12, 2, "/f/012.gif"},
        {999, 0, "/f/999.bmp"}, {1000, 0, "/f/1000.bmp"}, {-1, 0, "/f/-001.bmp"},
    };
    for (const Case& c : cases) EXPECT_EQ(FramePath("/f", c.index, c.kind), c.expected) << c.index;
    EXPECT_EQ(FramePath("/f/", 3, 1), "/f/003.jpg");
}

TEST(FindFrameKind, TakesTheKindOfFrame000InTheOrderBmpJpgGifPng) {
    TempDir dir;
    const std::string f = dir.path().string();
    EXPECT_EQ(FindFrameKind(f), kFrameKindNone);
    writeText(dir.file("001.bmp"), "x");  // only frame 000 decides
    EXPECT_EQ(FindFrameKind(f), kFrameKindNone);
    writeText(dir.file("000.png"), "x");
    EXPECT_EQ(FindFrameKind(f), 3);
    writeText(dir.file("000.gif"), "x");
    EXPECT_EQ(FindFrameKind(f), 2);
    writeText(dir.file("000.jpg"), "x");
    EXPECT_EQ(FindFrameKind(f), 1);
    writeText(dir.file("000.bmp"), "x");
    EXPECT_EQ(FindFrameKind(f), 0);
}

TEST(FindFrameKind, AFolderNamedLikeAFrameIsNoFrame) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "000.bmp");
    EXPECT_EQ(FindFrameKind(dir.path().string()), kFrameKindNone);
    EXPECT_EQ(FindFrameKind(dir.file("missing")), kFrameKindNone);
}

// ---------------------------------------------------------------------------
// Decoding a frame file

// A BMP file of w x h pixels with a BITMAPINFOHEADER; bpp 24 or 32; rows from
// the top when topDown. Pixel (x, y) is a pattern of x, y.
std::string bmpBytes(int w, int h, int bpp, bool topDown) {
    const int stride = ((w * bpp + 31) / 32) * 4;
    std::string b(54 + size_t(stride) * size_t(h), '\0');
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, uint32_t(b.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, uint32_t(w));
    put32(22, uint32_t(topDown ? -h : h));
    b[26] = 1;
    b[28] = char(bpp);
    for (int y = 0; y < h; ++y) {
        const int stored = topDown ? y : h - 1 - y;
        for (int x = 0; x < w; ++x) {
            size_t at = 54 + size_t(stored) * size_t(stride) + size_t(x) * size_t(bpp / 8);
            b[at] = char(x * 13 + y);
            b[at + 1] = char(y * 7);
            b[at + 2] = char(x ^ y);
            if (bpp == 32) b[at + 3] = char(0x5A);
        }
    }
    return b;
}

void expectSamePicture(const StdPicture& a, const StdPicture& b) {
    ASSERT_TRUE(a.isBitmap());
    ASSERT_TRUE(b.isBitmap());
    ASSERT_EQ(a.width(), b.width());
    ASSERT_EQ(a.height(), b.height());
    EXPECT_EQ(a.bitmap->bpp(), 32);
    EXPECT_TRUE(a.bitmap->topDown());
    for (int y = 0; y < a.height(); ++y)
        ASSERT_EQ(std::memcmp(a.bitmap->scanline(y), b.bitmap->scanline(y), size_t(a.width()) * 4), 0) << "row " << y;
}

TEST(DecodeFrameFile, GivesWhatThePictureLoaderGives) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"bottom-up.bmp", bmpBytes(7, 5, 24, false)},  // rows padded
        {"top-down.bmp", bmpBytes(8, 3, 24, true)},
        {"wide.bmp", bmpBytes(333, 2, 24, false)},
        {"bgra.bmp", bmpBytes(5, 4, 32, false)},  // left to the loader
    };
    for (const Case& c : cases) {
        writeText(dir.file(c.name), c.bytes);
        StdPicture fast, loaded;
        ASSERT_TRUE(DecodeFrameFile(dir.file(c.name), fast)) << c.name;
        ASSERT_TRUE(LoadPicture(dir.file(c.name), loaded)) << c.name;
        expectSamePicture(fast, loaded);
    }
    // As the run saves its frames.
    StdPicture frame = solidPicture(19, 11, 0x123456);
    frame.bitmap->setPixelValue(18, 10, 0xFEDCBA);
    ASSERT_TRUE(SavePictureBMP(frame, dir.file("saved.bmp")));
    StdPicture fast;
    ASSERT_TRUE(DecodeFrameFile(dir.file("saved.bmp"), fast));
    expectSamePicture(fast, frame);
}

TEST(DecodeFrameFile, BrokenFilesFailAndLeaveThePictureAlone) {
    TempDir dir;
    std::string full = bmpBytes(6, 6, 24, false);
    std::string headerOnly = full.substr(0, 54);
    std::string hugeHeight = full;
    hugeHeight[22] = hugeHeight[23] = hugeHeight[24] = char(0xFF);
    hugeHeight[25] = char(0x7F);
    std::string negativeWidth = full;
    negativeWidth[21] = char(0xFF);
    std::string badOffset = full;
    badOffset[13] = char(0x7F);
    const std::pair<const char*, std::string> cases[] = {
        {"truncated.bmp", full.substr(0, full.size() - 20)},
        {"header-only.bmp", headerOnly},
        {"huge-height.bmp", hugeHeight},
        {"negative-width.bmp", negativeWidth},
        {"bad-offset.bmp", badOffset},
        {"garbage.bmp", "BM garbage garbage garbage garbage garbage garbage garbage"},
        {"empty.bmp", ""},
    };
    for (const auto& [name, bytes] : cases) {
        writeText(dir.file(name), bytes);
        StdPicture p = solidPicture(1, 1, 0xABCDEF);
        StdPicture loaded;
        EXPECT_EQ(DecodeFrameFile(dir.file(name), p), bool(LoadPicture(dir.file(name), loaded))) << name;
        if (!loaded.isBitmap()) {
            EXPECT_EQ(p.bitmap->pixelValue(0, 0), 0xABCDEFu) << name;
        }
    }
    StdPicture p;
    EXPECT_FALSE(DecodeFrameFile(dir.file("missing.bmp"), p));
    EXPECT_FALSE(DecodeFrameFile(dir.path().string(), p));  // a folder
}

// ---------------------------------------------------------------------------
// The play schedule on a fake clock

struct Shown {
    int64_t time;
    int frame;
    friend bool operator==(const Shown&, const Shown&) = default;
};

// Frames 0..count-1 exist; a frame in `broken` does not decode.
struct FakeFolder {
    int count = 10;
    std::set<int> broken;
    std::vector<Shown> shown;
    std::vector<int> attempts;
    int64_t now = 0;

    FramePlayer::FrameLoader loader() {
        return [this](int index) {
            attempts.push_back(index);
            if (index < 0 || index >= count || broken.count(index)) return false;
            shown.push_back({now, index});
            return true;
        };
    }
    // Steps the clock to each due time, as the window's timer does, until
    // the player stops or `until` is reached.
    void runUntil(FramePlayer& player, int64_t until) {
        while (player.active()) {
            int64_t due = player.nextDue();
            if (due > until) break;
            now = std::max(now, due);
            player.tick(now, loader());
        }
    }
};

std::vector<int> framesOf(const std::vector<Shown>& shown) {
    std::vector<int> out;
    for (const Shown& s : shown) out.push_back(s.frame);
    return out;
}

TEST(FramePlayer, PlayShowsEveryFrameOneIntervalApartAndStopsOnTheLast) {
    FakeFolder folder;
    FramePlayer player;
    player.play(0, 100);
    folder.runUntil(player, 100000);
    ASSERT_EQ(folder.shown.size(), 10u);
    for (int k = 0; k < 10; ++k) EXPECT_EQ(folder.shown[size_t(k)], (Shown{100 * (k + 1), k}));
    // The pass ends one interval after the last frame, when frame 010 is missing.
    EXPECT_EQ(folder.attempts.back(), 10);
    EXPECT_EQ(folder.now, 1100);
    EXPECT_FALSE(player.playing());
    EXPECT_FALSE(player.active());
}

TEST(FramePlayer, AFinerClockGivesTheSameSchedule) {
    // Polling every millisecond, as a loop that yields on each turn would.
    FakeFolder folder;
    FramePlayer player;
    player.play(0, 30);
    for (folder.now = 0; folder.now <= 1000 && player.active(); ++folder.now) player.tick(folder.now, folder.loader());
    ASSERT_EQ(folder.shown.size(), 10u);
    for (int k = 0; k < 10; ++k) EXPECT_EQ(folder.shown[size_t(k)].time, 30 * (k + 1));
}

TEST(FramePlayer, ALateClockNeverShowsAFrameEarly) {
    FakeFolder folder;
    FramePlayer player;
    player.play(0, 100);
    const int64_t late[] = {130, 200, 229, 230, 345, 400};
    for (int64_t t : late) {
        folder.now = t;
        player.tick(t, folder.loader());
    }
    // Each frame waits a full interval after the one before.
    ASSERT_EQ(framesOf(folder.shown), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(folder.shown[1].time, 230);
    EXPECT_EQ(folder.shown[2].time, 345);
    EXPECT_EQ(player.nextDue(), 445);
}

TEST(FramePlayer, NotDueMeansNothingHappens) {
    FakeFolder folder;
    FramePlayer player;
    player.play(1000, 100);
    EXPECT_EQ(player.tick(1099, folder.loader()), FramePlayer::Event::None);
    EXPECT_TRUE(folder.attempts.empty());
    EXPECT_EQ(player.tick(1100, folder.loader()), FramePlayer::Event::Shown);
    EXPECT_EQ(player.frameIndex(), 1);
}

TEST(FramePlayer, LoopGoesBackAndForthHoldingTheEndsForThreeIntervals) {
    FakeFolder folder;
    FramePlayer player;
    player.loop(0, 100);
    folder.runUntil(player, 3550);
    std::vector<int> expected;
    for (int k = 0; k <= 9; ++k) expected.push_back(k);
    for (int k = 9; k >= 0; --k) expected.push_back(k);
    for (int k = 0; k <= 9; ++k) expected.push_back(k);
    for (int k = 9; k >= 8; --k) expected.push_back(k);
    EXPECT_EQ(framesOf(folder.shown), expected);
    EXPECT_TRUE(player.looping());

    auto timeOf = [&](size_t i) { return folder.shown[i].time; };
    // Frame 9 at 1000 and again at 1200; frame 8 follows at 1300: 9 stays three intervals.
    EXPECT_EQ(timeOf(9), 1000);
    EXPECT_EQ(timeOf(10), 1200);
    EXPECT_EQ(timeOf(11), 1300);
    // Frame 0 at 2100, again at 2300, frame 1 at 2400.
    EXPECT_EQ(timeOf(19), 2100);
    EXPECT_EQ(timeOf(20), 2300);
    EXPECT_EQ(timeOf(21), 2400);
    // Each turn tries the frame beyond the end: 10, then -1.
    EXPECT_EQ(std::count(folder.attempts.begin(), folder.attempts.end(), 10), 2);
    EXPECT_EQ(std::count(folder.attempts.begin(), folder.attempts.end(), -1), 1);
}

TEST(FramePlayer, PauseDuringTheForwardPassOfTheLoopStopsWithoutABackwardPass) {
    FakeFolder folder;
    FramePlayer player;
    player.loop(0, 100);
    folder.runUntil(player, 450);
    ASSERT_EQ(framesOf(folder.shown), (std::vector<int>{0, 1, 2, 3}));
    player.pause();
    EXPECT_FALSE(player.playing());
    EXPECT_FALSE(player.looping());
    // The pass notices at its next turn, without loading anything.
    EXPECT_LE(player.nextDue(), 450);
    EXPECT_EQ(player.tick(450, folder.loader()), FramePlayer::Event::Stopped);
    EXPECT_FALSE(player.active());
    folder.runUntil(player, 100000);
    EXPECT_EQ(folder.shown.size(), 4u);
    EXPECT_EQ(folder.attempts.size(), 4u);
}

TEST(FramePlayer, PlayAfterPauseStartsAgainAtFrame000) {
    FakeFolder folder;
    FramePlayer player;
    player.play(0, 100);
    folder.runUntil(player, 550);
    player.pause();
    player.tick(550, folder.loader());
    player.play(600, 100);
    folder.runUntil(player, 800);
    EXPECT_EQ(framesOf(folder.shown), (std::vector<int>{0, 1, 2, 3, 4, 0, 1}));
    EXPECT_EQ(folder.shown[5].time, 700);
}

TEST(FramePlayer, PlayDuringAPassRestartsFromFrame000) {
    FakeFolder folder;
    FramePlayer player;
    player.play(0, 100);
    folder.runUntil(player, 350);
    player.play(350, 100);
    folder.runUntil(player, 100000);
    EXPECT_EQ(framesOf(folder.shown), (std::vector<int>{0, 1, 2, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_FALSE(player.active());
}

TEST(FramePlayer, AnIntervalChangeTakesEffectAtTheNextFrame) {
    FakeFolder folder;
    FramePlayer player;
    player.play(0, 100);
    folder.runUntil(player, 200);  // frames 0 and 1
    player.setInterval(250);
    folder.runUntil(player, 1000);
    ASSERT_GE(folder.shown.size(), 4u);
    EXPECT_EQ(folder.shown[2].time, 450);
    EXPECT_EQ(folder.shown[3].time, 700);
}

TEST(FramePlayer, AFrameThatDoesNotDecodeEndsThePassQuietly) {
    FakeFolder folder;
    folder.broken = {5};
    FramePlayer player;
    player.play(0, 100);
    folder.runUntil(player, 100000);
    EXPECT_EQ(framesOf(folder.shown), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_FALSE(player.playing());
}

TEST(FramePlayer, TheLoopTurnsAtAFrameThatDoesNotDecode) {
    FakeFolder folder;
    folder.broken = {5};
    FramePlayer player;
    player.loop(0, 100);
    folder.runUntil(player, 1550);
    EXPECT_EQ(framesOf(folder.shown), (std::vector<int>{0, 1, 2, 3, 4, 4, 3, 2, 1, 0, 0, 1, 2}));
}

TEST(FramePlayer, AnEmptyFolderLoopsWithoutSpinning) {
    FakeFolder folder;
    folder.count = 0;
    FramePlayer player;
    player.loop(0, 50);
    int turns = 0;
    for (; turns < 10 && player.active(); ++turns) {
        int64_t due = player.nextDue();
        EXPECT_GT(due, folder.now);  // every attempt waits an interval
        folder.now = due;
        player.tick(due, folder.loader());
    }
    EXPECT_TRUE(folder.shown.empty());
    EXPECT_EQ(folder.now, 500);
    player.pause();
    EXPECT_EQ(player.tick(500, folder.loader()), FramePlayer::Event::Stopped);
}

TEST(FramePlayer, ThePassEndsWhereTheSixteenBitIndexWouldOverflow) {
    FakeFolder folder;
    folder.count = 1 << 20;
    FramePlayer player;
    player.play(0, 10);
    folder.runUntil(player, int64_t(1) << 40);
    ASSERT_EQ(folder.shown.size(), 32768u);
    EXPECT_EQ(folder.shown.back().frame, 32767);
    EXPECT_FALSE(player.active());
}

TEST(FramePlayer, StopEndsEverything) {
    FakeFolder folder;
    FramePlayer player;
    player.loop(0, 100);
    folder.runUntil(player, 300);
    player.stop();
    EXPECT_FALSE(player.active());
    EXPECT_EQ(player.tick(100000, folder.loader()), FramePlayer::Event::None);
}

// ---------------------------------------------------------------------------
// The decode-ahead cache

// A decoder over frames 0..count-1 named by FramePath: a 2 x 1 picture whose
// first pixel is the frame's number.
struct FakeDecoder {
    std::atomic<int> count{10};
    std::atomic<int> calls{0};
    std::mutex m;
    std::multiset<int> decoded;
    bool throwOnSeven = false;

    FrameCache::Decoder decoder() {
        return [this](const std::string& path, StdPicture& out) {
            ++calls;
            std::string name = std::filesystem::path(path).stem().string();
            int index = std::stoi(name);
            {
                std::lock_guard lock(m);
                decoded.insert(index);
            }
            if (throwOnSeven && index == 7) throw std::bad_alloc();
            if (index < 0 || index >= count) return false;
            out = solidPicture(2, 1, uint32_t(index));
            return true;
        };
    }
};

int frameNumber(const StdPicture& p) { return int(p.bitmap->pixelValue(0, 0)); }

TEST(FrameCache, ReadsAheadFromFrame000AsSoonAsItHasAFolder) {
    FakeDecoder fake;
    fake.count = 100;
    FrameCache cache(fake.decoder(), {1 << 20, 8, 2, 1});
    cache.setSource("/frames", 0);
    cache.waitIdle();
    EXPECT_EQ(cache.decodeCount(), 8);
    EXPECT_EQ(cache.cachedCount(), 8);
    StdPicture p;
    ASSERT_TRUE(cache.take(7, p));
    EXPECT_EQ(frameNumber(p), 7);
    EXPECT_EQ(cache.decodeCount(), 8);  // served from the cache
}

TEST(FrameCache, APlayedPassDecodesEveryFrameOnce) {
    FakeDecoder fake;
    fake.count = 40;
    FrameCache cache(fake.decoder(), {1 << 20, 6, 2, 2});
    cache.setSource("/frames", 0);
    StdPicture p;
    int k = 0;
    for (;; ++k) {
        if (!cache.take(k, p)) break;
        EXPECT_EQ(frameNumber(p), k);
        cache.prefetch(k + 1, +1, false);
    }
    EXPECT_EQ(k, 40);
    cache.waitIdle();
    std::lock_guard lock(fake.m);
    for (int i = 0; i <= 40; ++i) EXPECT_EQ(fake.decoded.count(i), 1u) << i;
}

TEST(FrameCache, KeepsWithinItsBudget) {
    FakeDecoder fake;
    fake.count = 100;
    const size_t frameBytes = solidPicture(2, 1, 0).bitmap->sizeBytes();
    FrameCache cache(fake.decoder(), {3 * frameBytes, 20, 2, 1});
    cache.setSource("/frames", 0);
    cache.waitIdle();
    EXPECT_LE(cache.cachedCount(), 3);
    EXPECT_GE(cache.cachedCount(), 1);
    StdPicture p;
    for (int k = 0; k < 30; ++k) {
        ASSERT_TRUE(cache.take(k, p));
        EXPECT_EQ(frameNumber(p), k);
        cache.prefetch(k + 1, +1, false);
        cache.waitIdle();
        EXPECT_LE(cache.cachedCount(), 4);  // the budget and at most the frame being taken
    }
}

TEST(FrameCache, BouncingReadsRoundTheTurnOfTheLoop) {
    FakeDecoder fake;
    fake.count = 10;
    FrameCache cache(fake.decoder(), {1 << 20, 6, 0, 1});
    cache.setSource("/frames", 0);
    cache.waitIdle();
    cache.prefetch(8, +1, true);
    cache.waitIdle();
    std::lock_guard lock(fake.m);
    // 8, 9, the end at 10, then back over 9 to 8, 7, 6, 5.
    EXPECT_EQ(fake.decoded.count(10), 1u);
    for (int k : {5, 6, 7, 8, 9}) EXPECT_EQ(fake.decoded.count(k), 1u) << k;
}

TEST(FrameCache, BouncingAtTheStartTurnsForwardsFromFrame000) {
    FakeDecoder fake;
    fake.count = 10;
    FrameCache cache(fake.decoder(), {1 << 20, 4, 0, 1});
    cache.setSource("/frames", 0);
    cache.waitIdle();
    StdPicture p;
    EXPECT_FALSE(cache.take(-1, p));  // the backward pass's end
    cache.prefetch(1, -1, true);
    cache.waitIdle();
    EXPECT_EQ(cache.decodeCount(), 5);  // frames 0..3 and the end, each once
    std::lock_guard lock(fake.m);
    EXPECT_EQ(fake.decoded.count(-1), 1u);
}

TEST(FrameCache, MissingAndFailingFramesAreFailures) {
    FakeDecoder fake;
    fake.count = 10;
    fake.throwOnSeven = true;
    FrameCache cache(fake.decoder(), {1 << 20, 2, 0, 1});
    cache.setSource("/frames", 0);
    StdPicture p = solidPicture(1, 1, 0x123456);
    EXPECT_FALSE(cache.take(12, p));
    EXPECT_FALSE(cache.take(7, p));
    EXPECT_EQ(p.bitmap->pixelValue(0, 0), 0x123456u);  // untouched on failure
    ASSERT_TRUE(cache.take(6, p));
    EXPECT_EQ(frameNumber(p), 6);
}

TEST(FrameCache, WithoutAFolderNothingIsRead) {
    FakeDecoder fake;
    FrameCache cache(fake.decoder(), {1 << 20, 4, 0, 1});
    StdPicture p;
    EXPECT_FALSE(cache.take(0, p));
    cache.setSource("/frames", kFrameKindNone);
    cache.waitIdle();
    EXPECT_FALSE(cache.take(0, p));
    EXPECT_EQ(fake.calls.load(), 0);
}

TEST(FrameCache, ANewFolderDropsEverythingCached) {
    TempDir a, b;
    ASSERT_TRUE(SavePictureBMP(solidPicture(4, 3, 0x0000FF), a.file("000.bmp")));
    ASSERT_TRUE(SavePictureBMP(solidPicture(5, 2, 0x00FF00), b.file("000.bmp")));
    FrameCache cache;
    cache.setSource(a.path().string(), 0);
    StdPicture p;
    ASSERT_TRUE(cache.take(0, p));
    EXPECT_EQ(p.width(), 4);
    EXPECT_EQ(p.bitmap->pixelValue(1, 1), 0x0000FFu);
    cache.setSource(b.path().string(), 0);
    ASSERT_TRUE(cache.take(0, p));
    EXPECT_EQ(p.width(), 5);
    EXPECT_EQ(p.bitmap->pixelValue(1, 1), 0x00FF00u);
}

TEST(FrameCache, RealFilesDecodeAndACorruptFrameFails) {
    TempDir dir;
    for (int k = 0; k < 4; ++k)
        ASSERT_TRUE(SavePictureBMP(solidPicture(8, 6, uint32_t(k * 0x101010)), FramePath(dir.path().string(), k, 0)));
    writeText(FramePath(dir.path().string(), 2, 0), "BM this is not a bitmap");
    FrameCache cache;
    cache.setSource(dir.path().string(), 0);
    StdPicture p;
    ASSERT_TRUE(cache.take(1, p));
    EXPECT_EQ(p.bitmap->pixelValue(3, 3), 0x101010u);
    EXPECT_FALSE(cache.take(2, p));
    ASSERT_TRUE(cache.take(3, p));
    EXPECT_FALSE(cache.take(4, p));
}

TEST(FrameCache, ForgottenFailuresAreReadAgain) {
    TempDir dir;
    const std::string f = dir.path().string();
    FrameCache cache;
    cache.setSource(f, 0);
    StdPicture p;
    EXPECT_FALSE(cache.take(0, p));
    ASSERT_TRUE(SavePictureBMP(solidPicture(3, 3, 0xABCDEF), FramePath(f, 0, 0)));
    EXPECT_FALSE(cache.take(0, p));  // still known as missing
    cache.forgetFailures();
    ASSERT_TRUE(cache.take(0, p));
    EXPECT_EQ(p.bitmap->pixelValue(0, 0), 0xABCDEFu);
}

}  // namespace
