// The run on worker threads against the same frames made one at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "core/MorphRun.h"
#include "imaging/PictureIO.h"
#include "support/Files.h"
#include "support/Images.h"
#include "support/SerialRun.h"
#include "support/TempDir.h"

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

// Photo-like enough: smooth gradients with some noise, different per image.
StdPicture picture(int w, int h, uint32_t seed) {
    return test::makePicture(w, h, [w, h, seed](int x, int y) {
        uint32_t noise = (uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u ^ seed) >> 27;
        uint32_t r = uint32_t(x * 255 / w) ^ noise, g = uint32_t(y * 255 / h), b = (seed * 40 + noise * 3) & 0xFF;
        return (r & 0xFF) << 16 | (g & 0xFF) << 8 | b;
    });
}

// Both images, a 3 x 3 mesh whose end mesh is pulled in from the right and
// the bottom (so later frames leave pixels uncovered) and bent inside.
struct Scene {
    StdPicture start, end;
    MeshGrid startMesh, endMesh;
    MorphRunRequest request;

    Scene(int w, int h, int totalFrames, int kind, bool transparency) {
        start = picture(w, h, 1);
        end = picture(w, h, 2);
        startMesh = DefaultMesh(3, 3, w, h);
        endMesh = DefaultMesh(3, 3, w, h);
        for (int j = 0; j < endMesh.countJ(); ++j) endMesh(endMesh.countI() - 1, j).x = float(w) * 0.7f;
        for (int i = 0; i < endMesh.countI(); ++i) endMesh(i, endMesh.countJ() - 1).y = float(h) * 0.8f;
        endMesh(1, 1).x += 5.0f;
        endMesh(2, 1).y -= 4.0f;
        request.start = start.bitmap.get();
        request.end = end.bitmap.get();
        request.startMesh = &startMesh;
        request.endMesh = &endMesh;
        request.totalFrames = totalFrames;
        request.saveKind = kind;
        request.transparency = transparency;
    }
};

class Recorder : public MorphRunObserver {
public:
    void folderCreated(const std::string&) override {}
    bool showsFrames() const override { return watching; }
    void frameStarting(int k, int) override {
        onCaller = onCaller && std::this_thread::get_id() == caller_;
        started.push_back(k);
    }
    void showFrame(int k, const Bitmap& frame) override {
        onCaller = onCaller && std::this_thread::get_id() == caller_;
        shownFrames.push_back(k);
        canvas_ = frame;
    }
    bool frameDone(int k, int) override {
        onCaller = onCaller && std::this_thread::get_id() == caller_;
        done.push_back(k);
        shown.push_back(canvas_);
        if (k == throwAt) throw std::runtime_error("observer gave up");
        return k != stopAfter;
    }
    std::vector<int> started, done, shownFrames;
    std::vector<Bitmap> shown;  // the frame last shown, at each frameDone
    bool onCaller = true, watching = true;
    int stopAfter = -1, throwAt = -1;

private:
    Bitmap canvas_;
    std::thread::id caller_ = std::this_thread::get_id();
};

std::vector<std::string> listFolder(const std::string& folder) {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<int> upTo(int n) {
    std::vector<int> v(size_t(n), 0);
    for (int i = 0; i < n; ++i) v[size_t(i)] = i;
    return v;
}

// The serial frames of the same scene, in a folder of their own.
std::string serialFrames(const test::TempDir& dir, int w, int h, int frames, int kind, bool transparency,
                         const WarpOptions& options = {}) {
    Scene s(w, h, frames, kind, transparency);
    s.request.options = options;
    const std::string folder = dir.file("serial");
    fs::create_directories(folder);
    EXPECT_TRUE(test::WriteSerialFrames(s.request, folder));
    return folder;
}

struct KindCase {
    const char* name;
    int kind;
    bool transparency;
};
const KindCase kKinds[] = {
    {"bmp", kSaveBmp, false}, {"jpg", kSaveJpg, false}, {"gif", kSaveGif, false}, {"gif transparent", kSaveGif, true}};

}  // namespace

TEST(MorphRunThreads, EveryFileEqualsTheSerialRunsWhateverTheThreadCount) {
    const int w = 61, h = 47, last = 7;
    for (const KindCase& c : kKinds) {
        test::TempDir dir;
        const std::string serial = serialFrames(dir, w, h, last, c.kind, c.transparency);
        for (int threads : {1, 3, 0, -3}) {
            // -3: three threads, nobody watching the canvas until the end.
            const bool watching = threads >= 0;
            threads = std::abs(threads);
            SCOPED_TRACE(testing::Message() << c.name << ", threads " << threads << ", watching " << watching);
            Scene s(w, h, last, c.kind, c.transparency);
            s.request.threads = threads;
            s.request.programFolder = dir.file("runs");
            fs::create_directories(s.request.programFolder);
            Recorder rec;
            rec.watching = watching;
            MorphRunResult r = RunMorph(s.request, rec);
            ASSERT_TRUE(r.ok()) << r.error;
            EXPECT_EQ(r.framesWritten, last + 1);
            EXPECT_EQ(rec.started, upTo(last + 1));
            EXPECT_EQ(rec.done, upTo(last + 1));
            EXPECT_TRUE(rec.onCaller);
            // Every frame when watched, else the last one alone.
            EXPECT_EQ(rec.shownFrames, watching ? upTo(last + 1) : std::vector<int>{last});
            ASSERT_EQ(listFolder(r.folder), listFolder(serial));
            for (int k = 0; k <= last; ++k) {
                const std::string name = FrameFileName(k, c.kind);
                EXPECT_EQ(test::readFile(r.folder + "/" + name), test::readFile(serial + "/" + name)) << name;
            }
            if (c.kind == kSaveBmp) {
                // Each frame was shown before its frameDone came, as its
                // file holds it; the last one at least when nobody watched.
                for (int k = watching ? 0 : last; k <= last; ++k) {
                    StdPicture file;
                    ASSERT_TRUE(LoadPicture(r.folder + "/" + FrameFileName(k, c.kind), file));
                    for (int y = 0; y < h; ++y)
                        for (int x = 0; x < w; ++x)
                            ASSERT_EQ(rec.shown[size_t(k)].pixelColor(x, y), file.bitmap->pixelColor(x, y))
                                << k << " " << x << "," << y;
                }
            }
        }
    }
}

TEST(MorphRunThreads, RunOptionsReachEveryFrame) {
    const int w = 40, h = 30, last = 4;
    WarpOptions smooth;
    smooth.warpEase = WarpEase::Smooth;
    smooth.blendEase = WarpEase::Smooth;
    WarpOptions bilinear;
    bilinear.sampling = WarpSampling::Bilinear;
    bilinear.blendEase = WarpEase::Smooth;
    const struct {
        const char* name;
        int kind;
        WarpOptions options;
    } cases[] = {{"bmp smooth", kSaveBmp, smooth}, {"gif bilinear", kSaveGif, bilinear}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string plain = serialFrames(dir, w, h, last, c.kind, false);
        fs::rename(plain, dir.file("plain"));
        const std::string expected = serialFrames(dir, w, h, last, c.kind, false, c.options);
        Scene s(w, h, last, c.kind, false);
        s.request.options = c.options;
        s.request.threads = 2;
        s.request.programFolder = dir.file("runs");
        fs::create_directories(s.request.programFolder);
        Recorder rec;
        MorphRunResult r = RunMorph(s.request, rec);
        ASSERT_TRUE(r.ok()) << r.error;
        for (int k = 0; k <= last; ++k) {
            const std::string name = FrameFileName(k, c.kind);
            EXPECT_EQ(test::readFile(r.folder + "/" + name), test::readFile(expected + "/" + name)) << name;
        }
        // The eased dissolve moves the middle frames away from the plain ones.
        const std::string middle = FrameFileName(1, c.kind);
        EXPECT_NE(test::readFile(r.folder + "/" + middle), test::readFile(dir.file("plain") + "/" + middle));
    }
}

TEST(MorphRunThreads, ACancelWritesNoFrameAfterTheOneShown) {
    const int w = 33, h = 21, last = 19, stopAfter = 4;
    for (const KindCase& c : kKinds) {
        test::TempDir dir;
        const std::string serial = serialFrames(dir, w, h, last, c.kind, c.transparency);
        for (int threads : {1, 3}) {
            SCOPED_TRACE(testing::Message() << c.name << ", threads " << threads);
            Scene s(w, h, last, c.kind, c.transparency);
            s.request.threads = threads;
            s.request.programFolder = dir.file("runs");
            fs::create_directories(s.request.programFolder);
            Recorder rec;
            rec.stopAfter = stopAfter;
            MorphRunResult r = RunMorph(s.request, rec);
            EXPECT_EQ(r.status, MorphRunResult::Status::Cancelled) << r.error;
            EXPECT_EQ(rec.done, upTo(stopAfter + 1));
            EXPECT_EQ(r.framesWritten, stopAfter + 1);
            std::vector<std::string> expected;
            for (int k = 0; k <= stopAfter; ++k) expected.push_back(FrameFileName(k, c.kind));
            // Only whole frames, numbered from 000, none of those made ahead.
            ASSERT_EQ(listFolder(r.folder), expected);
            for (const std::string& name : expected)
                EXPECT_EQ(test::readFile(r.folder + "/" + name), test::readFile(serial + "/" + name)) << name;
        }
    }
}

TEST(MorphRunThreads, AFrameThatCannotBeWrittenEndsTheRunWithItsKindsMessage) {
    const int w = 20, h = 16, last = 9, blocked = 3;
    struct Case {
        KindCase kind;
        std::string (*message)(const std::string& path);
    };
    const Case cases[] = {
        {kKinds[0], [](const std::string& p) { return "ﾌﾚｰﾑを保存できません: " + p + " ("; }},
        {kKinds[1], [](const std::string& p) { return "JPGに変換できません: " + p + " ("; }},
        {kKinds[3], [](const std::string& p) { return "ﾌﾚｰﾑを保存できません: " + p + " (" + p + ": "; }},
    };
    for (const Case& c : cases)
        for (int threads : {1, 3}) {
            SCOPED_TRACE(testing::Message() << c.kind.name << ", threads " << threads);
            test::TempDir dir;
            Scene s(w, h, last, c.kind.kind, c.kind.transparency);
            s.request.threads = threads;
            s.request.programFolder = dir.path().string();
            struct Blocker : Recorder {
                using Recorder::Recorder;
                int kind = 0;
                void folderCreated(const std::string& folder) override {
                    // A folder in the way of the frame's file.
                    fs::create_directory(folder + "/" + FrameFileName(blocked, kind));
                }
            } rec;
            rec.kind = c.kind.kind;
            MorphRunResult r = RunMorph(s.request, rec);
            EXPECT_EQ(r.status, MorphRunResult::Status::Failed);
            EXPECT_EQ(r.framesWritten, blocked);
            EXPECT_EQ(rec.done, upTo(blocked));
            const std::string path = r.folder + "/" + FrameFileName(blocked, c.kind.kind);
            EXPECT_EQ(r.error.rfind(c.message(path), 0), 0u) << r.error;
            // The cause, never a bare result code.
            EXPECT_EQ(r.error.find("(code"), std::string::npos) << r.error;
            EXPECT_GT(r.error.size(), c.message(path).size() + 1) << r.error;
            std::vector<std::string> expected;
            for (int k = 0; k <= blocked; ++k) expected.push_back(FrameFileName(k, c.kind.kind));
            EXPECT_EQ(listFolder(r.folder), expected);  // frame 3 is the folder in the way
            EXPECT_TRUE(fs::is_directory(path));
        }
}

TEST(MorphRunThreads, AnObserverThatThrowsStopsTheWorkersAndPassesItOn) {
    test::TempDir dir;
    for (int threads : {1, 3}) {
        Scene s(24, 18, 30, kSaveGif, false);
        s.request.threads = threads;
        s.request.programFolder = dir.path().string();
        Recorder rec;
        rec.throwAt = 2;
        EXPECT_THROW(RunMorph(s.request, rec), std::runtime_error);
        EXPECT_EQ(rec.done, upTo(3));
    }
}

TEST(MorphRunThreads, ThreadCountZeroMeansOnePerCore) {
    EXPECT_EQ(RunThreadCount(1), 1);
    EXPECT_EQ(RunThreadCount(5), 5);
    EXPECT_EQ(RunThreadCount(0), int(std::max(1u, std::thread::hardware_concurrency())));
}
