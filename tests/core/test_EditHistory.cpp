#include "core/EditHistory.h"

#include <gtest/gtest.h>

#include <memory>

namespace tarnel {
namespace {

EditorState meshState(float x) {
    EditorState s;
    s.rows = s.columns = 2;
    s.start = MeshGrid(2, 2);
    s.end = MeshGrid(2, 2);
    s.start.at(1, 1).x = x;
    return s;
}

EditorState pictureState(int w, int h) {
    EditorState s = meshState(0);
    auto source = std::make_shared<SourceState>();
    source->path = "/p.bmp";
    source->picture.bitmap = std::make_shared<Bitmap>();
    EXPECT_TRUE(source->picture.bitmap->create(w, h, 32));
    s.sources[0] = source;
    return s;
}

TEST(EditHistory, UndoAndRedoWalkTheSteps) {
    EditHistory h;
    EditorState s0 = meshState(0), s1 = meshState(1), s2 = meshState(2);
    h.record(s0, s1);
    h.record(s1, s2);
    h.record(s2, s2);  // no change, no step
    EXPECT_EQ(h.undoCount(), 2u);
    EXPECT_EQ(h.redo(s2), std::nullopt);

    auto back = h.undo(s2);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, s1);
    back = h.undo(*back);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, s0);
    EXPECT_EQ(h.undo(*back), std::nullopt);

    auto forward = h.redo(s0);
    ASSERT_TRUE(forward);
    EXPECT_EQ(*forward, s1);
    // A new edit drops what could be redone.
    h.record(s1, meshState(5));
    EXPECT_FALSE(h.canRedo());
    EXPECT_EQ(h.undoCount(), 2u);
}

TEST(EditHistory, KeepsTheNewestStepsWithinItsLimits) {
    EditHistory bySteps(100);
    for (int k = 0; k < 150; ++k) bySteps.record(meshState(float(k)), meshState(float(k + 1)));
    EXPECT_EQ(bySteps.undoCount(), 100u);
    EditorState s = meshState(150);
    for (int k = 149; k >= 50; --k) s = *bySteps.undo(s);
    EXPECT_EQ(s, meshState(50));

    // Three 1000 x 1000 pictures are 12 MB; a budget of 9 MB keeps two.
    EditHistory byBytes(100, 9u << 20);
    EditorState p0 = pictureState(1000, 1000), p1 = pictureState(1000, 1000), p2 = pictureState(1000, 1000);
    byBytes.record(p0, p1);
    byBytes.record(p1, p2);
    byBytes.record(p2, pictureState(1000, 1000));
    EXPECT_EQ(byBytes.undoCount(), 2u);
    EXPECT_LE(byBytes.pictureBytes(), size_t(9u << 20));
    // One step always stays.
    EditHistory tiny(100, 1);
    tiny.record(p0, p1);
    tiny.record(p1, p2);
    EXPECT_EQ(tiny.undoCount(), 1u);
}

}  // namespace
}  // namespace tarnel
