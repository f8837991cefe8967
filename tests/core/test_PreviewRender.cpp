#include <gtest/gtest.h>

#include "core/MorphRun.h"
#include "core/PreviewRender.h"
#include "imaging/PictureIO.h"
#include "platform/PictureBox.h"
#include "support/Images.h"
#include "support/TempDir.h"

using namespace tarnel;

namespace {

StdPicture noisePicture(int w, int h, uint32_t seed) {
    return test::makePicture(w, h, [seed](int x, int y) {
        uint32_t v = (uint32_t(x) * 2654435761u) ^ (uint32_t(y) * 40503u) ^ seed;
        return (v ^ (v >> 13)) & 0x00FFFFFFu;
    });
}

// Inner points moved, and the end mesh's right border pulled inwards so part
// of later frames stays background.
void moveMeshes(MeshGrid& start, MeshGrid& end) {
    uint32_t seed = 7;
    for (MeshGrid* mesh : {&start, &end})
        for (int j = 2; j < mesh->countJ() - 1; ++j)
            for (int i = 2; i < mesh->countI() - 1; ++i) {
                (*mesh)(i, j).x += float(int(test::lcg(seed) % 9) - 4);
                (*mesh)(i, j).y += float(int(test::lcg(seed) % 9) - 4);
            }
    for (int j = 0; j < end.countJ(); ++j) end(end.countI() - 1, j).x -= 6.0f;
}

class NoObserver : public MorphRunObserver {
    void folderCreated(const std::string&) override {}
    bool frameDone(int, int) override { return true; }
};

// Compares the colours only: the run's frames went through 24-bpp BMP files.
::testing::AssertionResult sameColours(const Bitmap& a, const Bitmap& b) {
    if (a.width() != b.width() || a.height() != b.height())
        return ::testing::AssertionFailure() << "sizes " << a.width() << "x" << a.height() << " and " << b.width()
                                             << "x" << b.height();
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if ((a.pixelValue(x, y) & 0xFFFFFF) != (b.pixelValue(x, y) & 0xFFFFFF))
                return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") differs";
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST(PreviewRender, FullSizeFrameAtKOverNIsTheRunsFrameK) {
    test::TempDir dir;
    const StdPicture start = noisePicture(53, 41, 1), end = noisePicture(53, 41, 2);
    MeshGrid startMesh = DefaultMesh(4, 3, 53, 41), endMesh = DefaultMesh(4, 3, 53, 41);
    moveMeshes(startMesh, endMesh);
    MorphRunRequest request;
    request.start = start.bitmap.get();
    request.end = end.bitmap.get();
    request.startMesh = &startMesh;
    request.endMesh = &endMesh;
    request.totalFrames = 7;
    request.programFolder = dir.path().string();
    NoObserver observer;
    const MorphRunResult run = RunMorph(request, observer);
    ASSERT_TRUE(run.ok()) << run.error;

    PreviewRender preview;
    ASSERT_TRUE(preview.setSources(start, end));
    Bitmap rendered;
    for (int k = 0; k <= 7; ++k) {
        StdPicture written;
        ASSERT_TRUE(LoadPicture(run.folder + "/" + FrameFileName(k, kSaveBmp), written));
        ASSERT_TRUE(preview.renderFull(startMesh, endMesh, double(k) / 7, rendered));
        EXPECT_TRUE(sameColours(rendered, *written.bitmap)) << "frame " << k;
    }
}

TEST(PreviewRender, EndsOfAnUneditedMeshAreTheSources) {
    const StdPicture a = noisePicture(60, 45, 3), b = noisePicture(60, 45, 4);
    struct Case {
        int rows, columns;
    };
    for (Case c : {Case{1, 1}, Case{5, 4}, Case{12, 9}}) {
        const MeshGrid mesh = DefaultMesh(c.rows, c.columns, 60, 45);
        PreviewRender preview;
        ASSERT_TRUE(preview.setSources(a, b));
        Bitmap frame;
        ASSERT_TRUE(preview.renderFull(mesh, mesh, 0.0, frame));
        EXPECT_TRUE(sameColours(frame, *a.bitmap)) << c.rows << "x" << c.columns << " at t = 0";
        ASSERT_TRUE(preview.renderFull(mesh, mesh, 1.0, frame));
        EXPECT_TRUE(sameColours(frame, *b.bitmap)) << c.rows << "x" << c.columns << " at t = 1";
    }
}

TEST(PreviewRender, ReducedFrameHasTheSizeAndSamplesTheDownscaledSources) {
    const StdPicture a = noisePicture(80, 60, 5), b = noisePicture(80, 60, 6);
    const MeshGrid mesh = DefaultMesh(4, 3, 80, 60);
    PreviewRender preview;
    ASSERT_TRUE(preview.setSources(a, b));
    PixelArray full, half;
    PictureBox box;
    box.setPicture(a);
    ASSERT_FALSE(ReadPicturePixels(box.image(), full));
    ASSERT_TRUE(DownscalePixels(full, 40, 30, half));

    Bitmap frame;
    ASSERT_TRUE(preview.render(mesh, mesh, 0.0, {40, 30}, frame));
    ASSERT_EQ(frame.width(), 40);
    ASSERT_EQ(frame.height(), 30);
    // The scaled mesh is the identity on the reduced frame.
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_EQ(frame.pixelValue(x, y) & 0xFFFFFF, half(x, y)) << x << ", " << y;

    ASSERT_TRUE(preview.render(mesh, mesh, 0.5, {27, 20}, frame));
    EXPECT_EQ(frame.width(), 27);
    EXPECT_EQ(frame.height(), 20);
}

TEST(PreviewRender, NewSourcesReplaceTheCachedReducedCopies) {
    const MeshGrid mesh = DefaultMesh(2, 2, 20, 20);
    PreviewRender preview;
    Bitmap frame;
    ASSERT_TRUE(preview.setSources(test::solidPicture(20, 20, 0x102030), test::solidPicture(20, 20, 0x102030)));
    ASSERT_TRUE(preview.render(mesh, mesh, 0.0, {10, 10}, frame));
    EXPECT_EQ(frame.pixelValue(5, 5) & 0xFFFFFF, 0x102030u);
    ASSERT_TRUE(preview.setSources(test::solidPicture(20, 20, 0xA0B0C0), test::solidPicture(20, 20, 0xA0B0C0)));
    ASSERT_TRUE(preview.render(mesh, mesh, 0.0, {10, 10}, frame));
    EXPECT_EQ(frame.pixelValue(5, 5) & 0xFFFFFF, 0xA0B0C0u);
}

TEST(PreviewRender, RefusesWhatItCannotRender) {
    const StdPicture a = noisePicture(20, 20, 1);
    const MeshGrid mesh = DefaultMesh(2, 2, 20, 20), other = DefaultMesh(3, 2, 20, 20);
    PreviewRender preview;
    Bitmap frame;
    EXPECT_FALSE(preview.renderFull(mesh, mesh, 0.5, frame)) << "no sources";
    EXPECT_FALSE(preview.setSources(a, StdPicture{}));
    EXPECT_FALSE(preview.hasSources());
    ASSERT_TRUE(preview.setSources(a, a));
    EXPECT_FALSE(preview.renderFull(mesh, other, 0.5, frame)) << "different grids";
    EXPECT_FALSE(preview.renderFull(MeshGrid{}, MeshGrid{}, 0.5, frame)) << "empty meshes";
    EXPECT_FALSE(preview.render(mesh, mesh, 0.5, {21, 20}, frame)) << "above full size";
    EXPECT_TRUE(frame.empty());
}

TEST(PreviewRender, DownscaleTakesTheMeanOfEachBlock) {
    PixelArray source, target;
    ASSERT_TRUE(source.resize(4, 2));
    // Left block: red 10, 20, 30, 41 -> 25.25 -> 25; right block: blue 0, 0, 0, 3 -> 0.75 -> 1.
    source(0, 0) = 0x0A0000, source(1, 0) = 0x140000, source(0, 1) = 0x1E0000, source(1, 1) = 0x290000;
    source(3, 1) = 0x000003;
    ASSERT_TRUE(DownscalePixels(source, 2, 1, target));
    EXPECT_EQ(target(0, 0), 0x190000u);
    EXPECT_EQ(target(1, 0), 0x000001u);
    EXPECT_FALSE(DownscalePixels(source, 5, 1, target));
}

TEST(PreviewRender, FitKeepsTheAspectAndNeverEnlarges) {
    struct Case {
        int w, h, maxW, maxH;
        FrameSize fit;
    };
    for (Case c : {Case{1920, 1080, 960, 600, {960, 540}}, Case{4000, 3000, 960, 540, {720, 540}},
                   Case{100, 50, 960, 600, {100, 50}}, Case{3000, 1, 300, 300, {300, 1}}, Case{0, 5, 10, 10, {}}})
        EXPECT_EQ(FitFrameSize(c.w, c.h, c.maxW, c.maxH), c.fit) << c.w << "x" << c.h;
}
