#include <gtest/gtest.h>

#include "platform/PictureBox.h"

using namespace tarnel;

namespace {

StdPicture solid(int w, int h, ColorRef colour) {
    StdPicture p;
    p.bitmap = std::make_shared<Bitmap>();
    p.bitmap->create(w, h, 32);
    DC dc;
    dc.select(p.bitmap.get());
    FillRect(&dc, Rect{0, 0, w, h}, Brush::solid(colour));
    return p;
}

}  // namespace

// The picture taken from the image is the image at that moment, whether the
// box's own picture is reused or a new one made, and a copy someone else
// holds never changes.
TEST(PictureBox, PictureFromImageIsTheImageAndLeavesOtherHoldersAlone) {
    const ColorRef red = RGBColor(255, 0, 0), blue = RGBColor(0, 0, 255), green = RGBColor(0, 255, 0);
    struct Case {
        const char* name;
        bool shared;  // someone else holds the box's picture
        int w, h;     // the box's size when the picture is taken again
    };
    const Case cases[] = {{"own picture", false, 6, 4}, {"shared picture", true, 6, 4}, {"new size", false, 3, 5}};
    for (const Case& c : cases) {
        PictureBox box;
        box.setPicture(solid(6, 4, red));
        box.setPictureFromImage();
        StdPicture held;
        if (c.shared) held = box.picture();
        if (c.w != 6 || c.h != 4) box.setPicture(solid(c.w, c.h, red));
        FillRect(box.hDC(), Rect{0, 0, 1, 1}, Brush::solid(blue));
        box.setPictureFromImage();
        FillRect(box.hDC(), Rect{0, 0, 1, 1}, Brush::solid(green));
        EXPECT_EQ(GetPixel(box.hDC(), 0, 0), green) << c.name;
        box.Cls();  // back to the picture: blue at (0, 0)
        EXPECT_EQ(GetPixel(box.hDC(), 0, 0), blue) << c.name;
        EXPECT_EQ(GetPixel(box.hDC(), c.w - 1, c.h - 1), red) << c.name;
        EXPECT_EQ(box.picture().width(), c.w) << c.name;
        if (c.shared) {
            EXPECT_EQ(held.bitmap->pixelColor(0, 0), (RGBQuad{0, 0, 255, 0})) << c.name;  // still red
        }
    }
}
