// A run over a chain of key pictures against runs of each pair on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "core/MorphRun.h"
#include "imaging/PictureIO.h"
#include "support/Files.h"
#include "support/Images.h"
#include "support/TempDir.h"

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

StdPicture picture(int w, int h, uint32_t seed) {
    return test::makePicture(w, h, [w, h, seed](int x, int y) {
        uint32_t noise = (uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u ^ seed * 97u) >> 27;
        uint32_t r = uint32_t(x * 255 / w) ^ noise, g = uint32_t(y * 255 / h) + seed * 50, b = (seed * 70 + noise * 3);
        return (r & 0xFF) << 16 | (g & 0xFF) << 8 | (b & 0xFF);
    });
}

// Keys whose meshes differ: some pulled in from the right or the bottom, so
// frames leave pixels no triangle covers (the GIF kind keeps the previous
// frame's there), and bent inside.
struct Chain {
    std::vector<StdPicture> pictures;
    std::vector<MeshGrid> meshes;

    Chain(int count, int w, int h) {
        for (int n = 0; n < count; ++n) {
            pictures.push_back(picture(w, h, uint32_t(n + 1)));
            MeshGrid mesh = DefaultMesh(3, 3, w, h);
            if (n % 2 == 1)
                for (int j = 0; j < mesh.countJ(); ++j) mesh(mesh.countI() - 1, j).x = float(w) * (0.6f + 0.1f * n);
            if (n == 2)
                for (int i = 0; i < mesh.countI(); ++i) mesh(i, mesh.countJ() - 1).y = float(h) * 0.75f;
            mesh(1, 1).x += 3.0f * float(n);
            mesh(2, 2).y -= 2.0f * float(n);
            meshes.push_back(mesh);
        }
    }
    std::vector<MorphKey> keys(std::vector<int> order = {}) const {
        if (order.empty())
            for (int n = 0; n < int(pictures.size()); ++n) order.push_back(n);
        std::vector<MorphKey> out;
        for (int n : order) out.push_back({pictures[size_t(n)].bitmap.get(), &meshes[size_t(n)]});
        return out;
    }
};

class Recorder : public MorphRunObserver {
public:
    void folderCreated(const std::string&) override {}
    bool showsFrames() const override { return false; }
    bool frameDone(int k, int lastFrame) override {
        done.push_back(k);
        last = lastFrame;
        return true;
    }
    std::vector<int> done;
    int last = -1;
};

std::vector<std::string> listFolder(const std::string& folder) {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

MorphRunResult run(MorphRunRequest request, const std::string& programFolder, Recorder* recorder = nullptr) {
    request.programFolder = programFolder;
    fs::create_directories(programFolder);
    Recorder own;
    return RunMorph(request, recorder ? *recorder : own);
}

}  // namespace

TEST(MorphRunChain, EverySegmentIsTheRunOfItsPairWithTheJoinsWrittenOnce) {
    const int w = 41, h = 33, last = 4;  // five frames per segment
    const Chain chain(4, w, h);
    struct Case {
        int kind;
        bool transparency;
        int keys;
        bool loop;
        int threads;
    };
    const Case cases[] = {
        {kSaveBmp, false, 4, false, 1}, {kSaveBmp, false, 3, true, 3}, {kSaveGif, false, 4, false, 3},
        {kSaveGif, true, 4, true, 1},   {kSaveGif, false, 3, true, 4}, {kSaveJpg, false, 3, false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << ", " << c.keys << " keys, loop " << c.loop
                                        << ", threads " << c.threads);
        test::TempDir dir;
        MorphRunRequest request;
        request.keys = chain.keys();
        request.keys.resize(size_t(c.keys));
        request.totalFrames = last;
        request.saveKind = c.kind;
        request.transparency = c.transparency;
        request.options.warpEase = WarpEase::Smooth;  // restarts in every segment
        request.loop = c.loop;
        request.threads = c.threads;
        Recorder recorder;
        const MorphRunResult chained = run(request, dir.file("chain"), &recorder);
        ASSERT_TRUE(chained.ok()) << chained.error;

        // K keys: (K - 1) x 4 + 1 frames, or K x 4 closed into a loop.
        const int expected = c.loop ? c.keys * last : (c.keys - 1) * last + 1;
        const std::vector<std::string> files = listFolder(chained.folder);
        ASSERT_EQ(int(files.size()), expected);
        EXPECT_EQ(files.front(), FrameFileName(0, c.kind));
        EXPECT_EQ(files.back(), FrameFileName(expected - 1, c.kind));
        EXPECT_EQ(chained.framesWritten, expected);
        EXPECT_EQ(recorder.last, expected - 1);
        EXPECT_EQ(int(recorder.done.size()), expected);

        const int segments = c.loop ? c.keys : c.keys - 1;
        for (int s = 0; s < segments; ++s) {
            MorphRunRequest pair = request;
            pair.keys.clear();
            pair.loop = false;
            pair.threads = 1;
            const int next = (s + 1) % c.keys;
            pair.start = chain.pictures[size_t(s)].bitmap.get();
            pair.end = chain.pictures[size_t(next)].bitmap.get();
            pair.startMesh = &chain.meshes[size_t(s)];
            pair.endMesh = &chain.meshes[size_t(next)];
            const MorphRunResult alone = run(pair, dir.file("pair" + std::to_string(s)));
            ASSERT_TRUE(alone.ok()) << alone.error;
            // The join is the previous segment's; the loop's last step is key 1.
            const int lastStep = c.loop && s == segments - 1 ? last - 1 : last;
            for (int step = s == 0 ? 0 : 1; step <= lastStep; ++step) {
                const int file = s * last + step;
                EXPECT_EQ(test::readFile(chained.folder + "/" + FrameFileName(file, c.kind)),
                          test::readFile(alone.folder + "/" + FrameFileName(step, c.kind)))
                    << "segment " << s << " step " << step << " is frame " << file;
            }
        }
    }
}

TEST(MorphRunChain, RefusedBeforeAnythingIsWritten) {
    const Chain chain(4, 41, 33);
    const StdPicture wider = picture(42, 33, 9);
    const MeshGrid widerMesh = DefaultMesh(3, 3, 42, 33);
    struct Case {
        const char* name;
        std::vector<MorphKey> keys;
        int last;
        bool loop;
        const char* expected;  // empty: the run goes ahead
    };
    std::vector<MorphKey> mismatched = chain.keys({0, 1});
    mismatched.push_back({wider.bitmap.get(), &widerMesh});
    const Case cases[] = {
        {"1000 frames fit", chain.keys(), 333, false, ""},
        {"1001 frames", chain.keys({0, 1}), 1000, false, "1001"},
        {"1332 frames of a loop", chain.keys(), 333, true, "1332"},
        {"a third key of another size", mismatched, 2, false, "42x33"},
        {"two keys of other sizes looped", {mismatched[0], mismatched[2]}, 2, true, "41x33"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        MorphRunRequest request;
        request.keys = c.keys;
        request.totalFrames = c.last;
        request.loop = c.loop;
        request.threads = 2;
        const MorphRunResult r = run(request, dir.file("runs"));
        if (!*c.expected) {
            ASSERT_TRUE(r.ok()) << r.error;
            EXPECT_EQ(listFolder(r.folder).back(), "999.bmp");
            continue;
        }
        EXPECT_FALSE(r.ok());
        EXPECT_NE(r.error.find(c.expected), std::string::npos) << r.error;
        if (std::string(c.expected).find('x') != std::string::npos) {
            EXPECT_NE(r.error.find("41x33"), std::string::npos);
        }
        EXPECT_TRUE(listFolder(dir.file("runs")).empty());
    }
}
