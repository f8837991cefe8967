#include "editor/EditorSession.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/TempDir.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

StdPicture picture(int w, int h, uint32_t seed) {
    StdPicture p;
    p.bitmap = std::make_shared<Bitmap>();
    EXPECT_TRUE(p.bitmap->create(w, h, 32));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) p.bitmap->setPixelValue(x, y, (uint32_t(x * 7 + y) * seed) & 0xFFFFFF);
    return p;
}

bool samePixels(const StdPicture& a, const StdPicture& b) {
    if (a.width() != b.width() || a.height() != b.height()) return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if ((a.bitmap->pixelValue(x, y) & 0xFFFFFF) != (b.bitmap->pixelValue(x, y) & 0xFFFFFF)) return false;
    return true;
}

EditorState sample() {
    EditorState s;
    s.rows = 3;
    s.columns = 2;
    s.start = MeshGrid(3, 2);
    s.end = MeshGrid(3, 2);
    s.start.at(2, 1) = {12.25f, 7.5f};
    s.end.at(1, 2) = {-3.0f, 40.125f};
    auto a = std::make_shared<SourceState>();
    a->path = "/photos/開始.jpg";
    a->picture = picture(40, 30, 3);
    a->workingCopy = a->picture;
    a->width = 40;
    a->height = 30;
    a->sizeLabel = a->sizeLabelS = "40 * 30";
    a->preparable = true;
    auto b = std::make_shared<SourceState>(*a);
    b->path = "/photos/end.bmp";
    b->picture = picture(20, 15, 5);  // reduced from its working copy
    b->workingCopy = picture(40, 30, 9);
    b->sizeLabel = "20 * 15";
    b->prepared = true;
    s.sources = {a, b};
    return s;
}

size_t sessionPictures(const TempDir& dir) {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir.path()))
        if (e.path().extension() == ".bmp") ++n;
    return n;
}

TEST(EditorSession, RoundTripKeepsMeshesPicturesAndLabels) {
    TempDir dir;
    EditorSession session(dir.path().string());
    EXPECT_FALSE(session.Exists());
    EditorState saved = sample();
    std::string error;
    ASSERT_TRUE(session.Save(saved, error)) << error;
    EXPECT_EQ(sessionPictures(dir), 3u);  // a picture that is its own working copy is written once

    EditorState back;
    ASSERT_TRUE(EditorSession(dir.path().string()).Load(back, error)) << error;
    EXPECT_TRUE(back.sameMeshes(saved));
    for (int i = 0; i < 2; ++i) {
        const SourceState& a = *saved.sources[size_t(i)];
        const SourceState& b = *back.sources[size_t(i)];
        EXPECT_EQ(b.path, a.path);
        EXPECT_EQ(b.sizeLabel, a.sizeLabel);
        EXPECT_EQ(b.width, a.width);
        EXPECT_EQ(b.preparable, a.preparable);
        EXPECT_EQ(b.prepared, a.prepared);
        EXPECT_TRUE(samePixels(b.picture, a.picture)) << i;
        EXPECT_TRUE(samePixels(b.workingCopy, a.workingCopy)) << i;
    }
    EXPECT_EQ(back.sources[0]->picture.bitmap, back.sources[0]->workingCopy.bitmap);

    // A mesh edit writes no picture; a new picture replaces the one it follows.
    saved.start.at(1, 1).x = 99;
    const auto before = fs::last_write_time(dir.file("Tarnel.session.0.bmp"));
    ASSERT_TRUE(session.Save(saved, error));
    EXPECT_EQ(fs::last_write_time(dir.file("Tarnel.session.0.bmp")), before);
    auto changed = std::make_shared<SourceState>(*saved.sources[1]);
    changed->picture = picture(10, 8, 11);
    saved.sources[1] = changed;
    ASSERT_TRUE(session.Save(saved, error));
    EXPECT_EQ(sessionPictures(dir), 3u);
    ASSERT_TRUE(session.Load(back, error));
    EXPECT_EQ(back.start.at(1, 1).x, 99);
    EXPECT_TRUE(samePixels(back.sources[1]->picture, changed->picture));

    session.Remove();
    EXPECT_FALSE(session.Exists());
    EXPECT_EQ(sessionPictures(dir), 0u);
}

TEST(EditorSession, DamagedSessionsAreRefused) {
    const char* texts[] = {
        "{\"version\": 1, \"sources\": [{}, {\"path\": \"/a.bmp\", \"picture\": \"../../etc/passwd\"}]}",
        "{\"version\": 1, \"sources\": [{}, {\"path\": \"/a.bmp\", \"picture\": \"Tarnel.session.7.bmp\"}]}",
        "{\"version\": 1, \"sources\": [{}]}",
        "{\"version\": 1, \"sources\": 5}",
        "{\"version\": 1, \"sources\": [{}, {\"path\": 3}]}",
        "{\"version\": 1, \"sources\": [",
        "",
    };
    for (const char* text : texts) {
        TempDir dir;
        std::ofstream(dir.file("Tarnel.session.json")) << text;
        EditorState out;
        std::string error;
        EXPECT_FALSE(EditorSession(dir.path().string()).Load(out, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

}  // namespace
}  // namespace tarnel
