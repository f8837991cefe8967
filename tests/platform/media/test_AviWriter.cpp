// The AVI writer, checked by reading its files back with our own RIFF reader
// and with ffprobe / ffmpeg.
#include "platform/media/AviWriter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/StaleTempFiles.h"
#include "support/AsNobody.h"
#include "support/FileSizeLimit.h"
#include "support/FFprobe.h"
#include "support/Files.h"
#include "support/RiffReader.h"
#include "support/TempDir.h"

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

// A BITMAPINFOHEADER of an uncompressed DIB.
std::vector<uint8_t> dibHeader(int width, int height, int bpp) {
    std::vector<uint8_t> h(40, 0);
    auto put = [&](size_t at, uint32_t v, int n) {
        for (int i = 0; i < n; ++i) h[at + size_t(i)] = uint8_t(v >> (8 * i));
    };
    const uint32_t stride = uint32_t(((width * bpp + 31) / 32) * 4);
    put(0, 40, 4);
    put(4, uint32_t(width), 4);
    put(8, uint32_t(height), 4);
    put(12, 1, 2);
    put(14, uint32_t(bpp), 2);
    put(20, stride * uint32_t(std::abs(height)), 4);
    return h;
}

AVISTREAMINFO videoHeader(int width, int height, uint32_t rate, uint32_t suggested) {
    AVISTREAMINFO h;
    h.fccType = mmioStringToFOURCC("vids");
    h.dwScale = 1;
    h.dwRate = rate;
    h.dwSuggestedBufferSize = suggested;
    h.rcFrame = Rect{0, 0, width, height};
    return h;
}

// Frame n of a w x h 24-bpp bottom-up DIB: every byte different from its neighbours and across frames.
std::vector<uint8_t> pattern(int w, int h, int n) {
    const size_t stride = size_t(((w * 24 + 31) / 32) * 4);
    std::vector<uint8_t> bits(stride * size_t(h));
    for (size_t i = 0; i < bits.size(); ++i) bits[i] = uint8_t(i * 7 + size_t(n) * 31 + (i / stride) * 3);
    return bits;
}

// Writes `frames` frames through a fresh writer with the given options (raw when none).
bool writeAvi(const std::string& path, int w, int h, int frames, const AviCompressOptions* options,
              std::string* error = nullptr) {
    AviWriter writer;
    const std::vector<uint8_t> format = dibHeader(w, h, 24);
    const size_t size = pattern(w, h, 0).size();
    bool ok = writer.FileOpen(path, OF_CREATE) && writer.CreateStream(videoHeader(w, h, 20, uint32_t(size))) &&
              (!options || writer.MakeCompressedStream(*options)) && writer.SetFormat(format.data(), format.size());
    for (int i = 0; ok && i < frames; ++i) {
        std::vector<uint8_t> bits = pattern(w, h, i);
        ok = writer.Write(i, bits.data(), bits.size(), AVIIF_KEYFRAME);
    }
    ok = ok && writer.Commit();
    if (error) *error = writer.LastError();
    return ok;
}

std::vector<std::string> folderEntries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(mmioStringToFOURCC, PacksFourCharactersPaddedWithSpaces) {
    struct Case {
        const char* text;
        uint32_t code;
    } cases[] = {
        {"vids", 0x73646976u}, {"DIB", 0x20424944u}, {"", 0x20202020u}, {"00dbXX", 0x62643030u}};
    for (const Case& c : cases) EXPECT_EQ(mmioStringToFOURCC(c.text), c.code) << c.text;
}

TEST(AviCodecs, RawComesFirstWithTheDialogLabels) {
    std::vector<AviCodecInfo> codecs = AvailableAviCodecs();
    ASSERT_GE(codecs.size(), 4u);
    EXPECT_EQ(codecs[0].key, "raw");
    EXPECT_EQ(codecs[0].label, "ﾌﾙ ﾌﾚｰﾑ (非圧縮)");
    EXPECT_EQ(codecs[1].label, "Motion JPEG");
    EXPECT_EQ(codecs[2].label, "FFV1 (ﾛｽﾚｽ)");
    EXPECT_EQ(codecs[3].label, "MPEG-4 Part 2");
    EXPECT_TRUE(FindAviCodec("ffv1"));
    EXPECT_FALSE(FindAviCodec("divx"));
}

TEST(AviWriter, RawFramesAreStoredAsGivenWithAKeyFrameIndex) {
    test::TempDir dir;
    const std::string path = dir.file("raw.avi");
    const int w = 5, h = 3, frames = 4;  // 15-byte rows padded to 16
    ASSERT_TRUE(writeAvi(path, w, h, frames, nullptr));

    const std::vector<uint8_t> bytes = test::readFile(path);
    test::AviContents avi;
    std::string error;
    ASSERT_TRUE(test::ReadAvi(bytes, avi, error)) << error;
    EXPECT_EQ(avi.main.totalFrames, uint32_t(frames));
    EXPECT_EQ(avi.main.streams, 1u);
    EXPECT_EQ(avi.main.microSecPerFrame, 50000u);
    EXPECT_EQ(avi.main.width, uint32_t(w));
    EXPECT_EQ(avi.main.height, uint32_t(h));
    EXPECT_EQ(avi.main.flags & 0x10, 0x10u);  // AVIF_HASINDEX
    EXPECT_EQ(avi.stream.fccType, "vids");
    EXPECT_EQ(avi.stream.fccHandler, "DIB ");
    EXPECT_EQ(avi.stream.scale, 1u);
    EXPECT_EQ(avi.stream.rate, 20u);
    EXPECT_EQ(avi.stream.length, uint32_t(frames));
    EXPECT_EQ(avi.stream.suggestedBufferSize, 48u);
    EXPECT_EQ(avi.stream.right, w);
    EXPECT_EQ(avi.stream.bottom, h);
    EXPECT_EQ(avi.format.width, w);
    EXPECT_EQ(avi.format.height, h);  // positive: bottom-up
    EXPECT_EQ(avi.format.bitCount, 24);
    EXPECT_EQ(avi.format.compression, 0u);

    ASSERT_EQ(avi.frames.size(), size_t(frames));
    ASSERT_EQ(avi.index.size(), size_t(frames));
    for (int i = 0; i < frames; ++i) {
        const std::vector<uint8_t> expected = pattern(w, h, i);
        const test::AviFrameChunk& chunk = avi.frames[size_t(i)];
        EXPECT_EQ(chunk.id, "00db");
        ASSERT_EQ(chunk.size, expected.size());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin() + long(chunk.dataOffset))) << i;
        const test::AviIndexEntry& entry = avi.index[size_t(i)];
        EXPECT_EQ(entry.id, "00db");
        EXPECT_EQ(entry.flags, AVIIF_KEYFRAME);
        EXPECT_EQ(entry.size, expected.size());
        EXPECT_EQ(avi.moviListType + entry.offset, chunk.dataOffset - 8) << "idx1 offsets count from 'movi'";
    }
    EXPECT_EQ(bytes.size(), size_t(test::readFile(path).size()));
    EXPECT_EQ(uint32_t(bytes[4] | bytes[5] << 8 | bytes[6] << 16 | bytes[7] << 24), bytes.size() - 8);
}

TEST(AviWriter, RawFileDecodesWithFFmpegRightSideUp) {
    if (!test::HaveFFmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    test::TempDir dir;
    const std::string path = dir.file("raw.avi");
    const int w = 6, h = 4;
    ASSERT_TRUE(writeAvi(path, w, h, 2, nullptr));
    auto frames = test::DecodeBgr24(path, w, h);
    ASSERT_EQ(frames.size(), 2u);
    const std::vector<uint8_t> bits = pattern(w, h, 1);
    const size_t stride = 20;
    for (int y = 0; y < h; ++y)  // the decoder's top row is the DIB's last stored row
        EXPECT_TRUE(std::equal(bits.begin() + long(stride * size_t(h - 1 - y)),
                               bits.begin() + long(stride * size_t(h - 1 - y) + size_t(w) * 3),
                               frames[1].begin() + long(size_t(y) * size_t(w) * 3)))
            << "row " << y;
}

TEST(AviWriter, SkippedSamplesAreEmptyChunksAndEarlierOnesAreRefused) {
    test::TempDir dir;
    const std::string path = dir.file("gaps.avi");
    AviWriter writer;
    const std::vector<uint8_t> format = dibHeader(4, 2, 24);
    const std::vector<uint8_t> bits = pattern(4, 2, 0);
    ASSERT_TRUE(writer.FileOpen(path, OF_CREATE));
    ASSERT_TRUE(writer.CreateStream(videoHeader(4, 2, 10, 0)));
    ASSERT_TRUE(writer.SetFormat(format.data(), format.size()));
    ASSERT_TRUE(writer.Write(0, bits.data(), bits.size(), AVIIF_KEYFRAME));
    ASSERT_TRUE(writer.Write(2, bits.data(), bits.size(), AVIIF_KEYFRAME));
    EXPECT_FALSE(writer.Write(1, bits.data(), bits.size(), AVIIF_KEYFRAME));
    EXPECT_FALSE(writer.Write(3, bits.data(), bits.size() - 1, AVIIF_KEYFRAME)) << "a short frame";
    EXPECT_FALSE(writer.LastError().empty());
    ASSERT_TRUE(writer.Commit()) << "refused frames leave the file whole";

    test::AviContents avi;
    std::string error;
    ASSERT_TRUE(test::ReadAvi(test::readFile(path), avi, error)) << error;
    ASSERT_EQ(avi.frames.size(), 3u);
    EXPECT_EQ(avi.frames[1].size, 0u);
    EXPECT_EQ(avi.index[1].flags, 0u);
    EXPECT_EQ(avi.stream.length, 3u);
    EXPECT_EQ(avi.stream.suggestedBufferSize, bits.size()) << "taken from the frames when the header gives none";
}

TEST(AviWriter, NothingAppearsUntilCommitAndReleaseLeavesNoTrace) {
    test::TempDir dir;
    const std::string path = dir.file("movie.avi");
    test::writeText(path, "old contents");
    {
        AviWriter writer;
        const std::vector<uint8_t> format = dibHeader(4, 2, 24);
        const std::vector<uint8_t> bits = pattern(4, 2, 0);
        ASSERT_TRUE(writer.FileOpen(path, OF_CREATE));
        ASSERT_TRUE(writer.CreateStream(videoHeader(4, 2, 10, 0)));
        ASSERT_TRUE(writer.SetFormat(format.data(), format.size()));
        ASSERT_TRUE(writer.Write(0, bits.data(), bits.size(), AVIIF_KEYFRAME));
        std::vector<std::string> names = folderEntries(dir.path());
        ASSERT_EQ(names.size(), 2u);
        EXPECT_EQ(names[0].rfind(".movie.avi.tarnel-tmp-", 0), 0u) << names[0];
        EXPECT_EQ(RemoveStaleTempFiles(dir.path().string()), 0u);  // a live writer's
        EXPECT_EQ(test::readText(path), "old contents");
    }  // released without Commit
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"movie.avi"});
    EXPECT_EQ(test::readText(path), "old contents");
}

TEST(AviWriter, CommitReplacesAFileKeepingItsPermissions) {
    test::TempDir dir;
    const std::string path = dir.file("movie.avi");
    test::writeText(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(writeAvi(path, 4, 2, 1, nullptr));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(test::readText(path).substr(0, 4), "RIFF");
    EXPECT_EQ(folderEntries(dir.path()).size(), 1u);
}

TEST(AviWriter, RefusesTargetsThatAreNotRegularFilesOrFolders) {
    test::TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo.avi").c_str(), 0600), 0);
    fs::create_directory(dir.path() / "folder.avi");
    for (const std::string& path :
         {dir.file("fifo.avi"), dir.file("folder.avi"), dir.file("missing/movie.avi")}) {
        AviWriter writer;
        EXPECT_FALSE(writer.FileOpen(path, OF_CREATE)) << path;
        EXPECT_FALSE(writer.LastError().empty());
    }
    EXPECT_TRUE(fs::is_fifo(dir.path() / "fifo.avi"));
    EXPECT_EQ(folderEntries(dir.path()).size(), 2u) << "no temporary file left";
}

TEST(AviWriter, WritesThroughASymbolicLinkAndKeepsTheLink) {
    test::TempDir dir;
    fs::create_directory(dir.path() / "real");
    test::writeText(dir.path() / "real" / "movie.avi", "old");
    fs::create_symlink("real/movie.avi", dir.path() / "link.avi");
    ASSERT_TRUE(writeAvi(dir.file("link.avi"), 4, 2, 1, nullptr));
    EXPECT_TRUE(fs::is_symlink(dir.path() / "link.avi"));
    EXPECT_EQ(test::readText(dir.path() / "real" / "movie.avi").substr(0, 4), "RIFF");
    EXPECT_EQ(folderEntries(dir.path() / "real").size(), 1u);
}

// Run as nobody: root writes into read-only folders.
TEST(AviWriter, ReadOnlyFolderFailsAtOpen) {
    test::TempDir dir;
    fs::create_directory(dir.path() / "ro");
    fs::permissions(dir.path() / "ro", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                           fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    test::ShareWithNobody(dir.path());
    const std::optional<std::string> report = test::RunAsNobody([&] {
        AviWriter writer;
        return writer.FileOpen(dir.file("ro/movie.avi"), OF_CREATE) ? std::string("opened") : writer.LastError();
    });
    fs::permissions(dir.path() / "ro", fs::perms::owner_all);
    ASSERT_TRUE(report) << "the child could not run as nobody";
    EXPECT_NE(report->find("Permission denied"), std::string::npos) << *report;
    EXPECT_TRUE(fs::is_empty(dir.path() / "ro"));
}

TEST(AviWriter, AFailedWriteIsNeverCommitted) {
    test::TempDir dir;
    const std::string path = dir.file("movie.avi");
    test::writeText(path, "keep me");
    const std::vector<uint8_t> format = dibHeader(64, 64, 24);
    const std::vector<uint8_t> bits = pattern(64, 64, 0);  // 12 KB
    AviWriter writer;
    ASSERT_TRUE(writer.FileOpen(path, OF_CREATE));
    ASSERT_TRUE(writer.CreateStream(videoHeader(64, 64, 10, 0)));
    ASSERT_TRUE(writer.SetFormat(format.data(), format.size()));

    bool failed = false;
    {
        test::FileSizeLimit limit(30 * 1024);
        ASSERT_TRUE(limit.ok());
        for (int i = 0; i < 4 && !failed; ++i) failed = !writer.Write(i, bits.data(), bits.size(), AVIIF_KEYFRAME);
    }

    ASSERT_TRUE(failed);
    EXPECT_FALSE(writer.Write(5, bits.data(), bits.size(), AVIIF_KEYFRAME));
    EXPECT_FALSE(writer.Commit());
    writer.Release();
    EXPECT_EQ(test::readText(path), "keep me");
    EXPECT_EQ(folderEntries(dir.path()).size(), 1u);
}

TEST(AviWriter, CommitWithoutAFormatFails) {
    test::TempDir dir;
    AviWriter writer;
    ASSERT_TRUE(writer.FileOpen(dir.file("empty.avi"), OF_CREATE));
    ASSERT_TRUE(writer.CreateStream(videoHeader(4, 2, 10, 0)));
    EXPECT_FALSE(writer.Commit());
    writer.Release();
    EXPECT_TRUE(folderEntries(dir.path()).empty());
}

TEST(AviWriter, FailingCompressorSaysWhyWithoutWritingToStderr) {
    // MPEG-4 Part 2 takes no time base beyond 1/65535, and FFmpeg logs why.
    test::TempDir dir;
    const std::vector<uint8_t> format = dibHeader(16, 16, 24);
    AviCompressOptions options;
    options.codec = AviCodec::Mpeg4;
    AviWriter writer;
    ASSERT_TRUE(writer.FileOpen(dir.file("fast.avi"), OF_CREATE));
    ASSERT_TRUE(writer.CreateStream(videoHeader(16, 16, 100000, 0)));
    ASSERT_TRUE(writer.MakeCompressedStream(options));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(writer.SetFormat(format.data(), format.size()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(writer.LastError().empty());
    writer.Release();
    EXPECT_TRUE(folderEntries(dir.path()).empty());
}

TEST(AviWriter, H264RefusesOddSizes) {
    if (!FindAviCodec("h264")) GTEST_SKIP() << "no H.264 encoder";
    test::TempDir dir;
    AviCompressOptions options;
    options.codec = AviCodec::H264;
    std::string error;
    EXPECT_FALSE(writeAvi(dir.file("odd.avi"), 33, 24, 1, &options, &error));
    EXPECT_NE(error.find("even"), std::string::npos) << error;
    EXPECT_TRUE(folderEntries(dir.path()).empty());
}

struct CodecCase {
    AviCodec codec;
    const char* key;
    const char* ffprobeName;
    int keyFrameEvery;
};

class AviWriterCodec : public ::testing::TestWithParam<CodecCase> {};

TEST_P(AviWriterCodec, FFprobeSeesCodecSizeAndFrames) {
    if (!test::HaveFFprobe()) GTEST_SKIP() << "ffprobe is not installed";
    const CodecCase& c = GetParam();
    if (!FindAviCodec(c.key)) GTEST_SKIP() << c.key << " not available";
    test::TempDir dir;
    const std::string path = dir.file("movie.avi");
    AviCompressOptions options;
    options.codec = c.codec;
    options.keyFrameEvery = c.keyFrameEvery;
    std::string error;
    ASSERT_TRUE(writeAvi(path, 32, 24, 6, &options, &error)) << error;
    test::ProbedVideo v = test::ProbeVideo(path);
    ASSERT_TRUE(v.ok);
    EXPECT_EQ(v.codec, c.ffprobeName);
    EXPECT_EQ(v.width, 32);
    EXPECT_EQ(v.height, 24);
    EXPECT_EQ(v.frames, 6);
    EXPECT_EQ(v.frameRate, "20/1");
    ASSERT_EQ(v.keyFrames.size(), 6u);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(v.keyFrames[i], i % size_t(c.keyFrameEvery) == 0 ? 'K' : '-') << "frame " << i;
}

INSTANTIATE_TEST_SUITE_P(Codecs, AviWriterCodec,
                         ::testing::Values(CodecCase{AviCodec::MJpeg, "mjpeg", "mjpeg", 1},
                                           CodecCase{AviCodec::FFV1, "ffv1", "ffv1", 1},
                                           CodecCase{AviCodec::FFV1, "ffv1", "ffv1", 3},
                                           CodecCase{AviCodec::Mpeg4, "mpeg4", "mpeg4", 2},
                                           CodecCase{AviCodec::H264, "h264", "h264", 3}),
                         [](const auto& info) {
                             return std::string(info.param.key) + "_every" + std::to_string(info.param.keyFrameEvery);
                         });

TEST(AviWriter, FFV1DecodesToTheExactFrames) {
    if (!test::HaveFFmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    test::TempDir dir;
    const std::string path = dir.file("lossless.avi");
    const int w = 7, h = 5, count = 3;  // odd sizes: padded rows
    AviCompressOptions options;
    options.codec = AviCodec::FFV1;
    std::string error;
    ASSERT_TRUE(writeAvi(path, w, h, count, &options, &error)) << error;
    auto frames = test::DecodeBgr24(path, w, h);
    ASSERT_EQ(frames.size(), size_t(count));
    const size_t stride = size_t(((w * 24 + 31) / 32) * 4);
    for (int n = 0; n < count; ++n) {
        const std::vector<uint8_t> bits = pattern(w, h, n);
        for (int y = 0; y < h; ++y)
            EXPECT_TRUE(std::equal(bits.begin() + long(stride * size_t(h - 1 - y)),
                                   bits.begin() + long(stride * size_t(h - 1 - y) + size_t(w) * 3),
                                   frames[size_t(n)].begin() + long(size_t(y) * size_t(w) * 3)))
                << "frame " << n << " row " << y;
    }
}
