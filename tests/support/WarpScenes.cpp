#include "tests/support/WarpScenes.h"

#include <gtest/gtest.h>

namespace tarnel::test {

PixelArray warpTestImage(int w, int h, uint32_t seed, int kind, bool topBits) {
    PixelArray p;
    EXPECT_TRUE(p.resize(w, h));
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t value;
            switch (kind % 3) {
                case 0: value = rng() & 0x00FFFFFFu; break;
                case 1: value = uint32_t(x * 255 / w) << 16 | uint32_t(y * 255 / h) << 8 | ((x + y) & 255); break;
                default: value = ((x / 7 + y / 5) & 1) ? 0xFA0A00u | (seed & 255) : 0x05F080u; break;
            }
            if (topBits) value |= rng() & 0xFF000000u;
            p(x, y) = value;
        }
    return p;
}

Bitmap warpFrameSurface(int w, int h, uint32_t background) {
    Bitmap b;
    EXPECT_TRUE(b.create(w, h, 32));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.setPixelValue(x, y, background);
    return b;
}

int64_t differingPixels(const Bitmap& a, const Bitmap& b) {
    EXPECT_EQ(a.width(), b.width());
    EXPECT_EQ(a.height(), b.height());
    int64_t n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) n += a.pixelValue(x, y) != b.pixelValue(x, y);
    return n;
}

int64_t differingPixels(const Bitmap& a, const PixelArray& image) {
    int64_t n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) n += a.pixelValue(x, y) != image(x, y);
    return n;
}

MeshGrid draggedMesh(MeshGrid mesh, std::mt19937& rng, float amount) {
    std::uniform_real_distribution<float> d(-amount, amount);
    for (int j = 1; j < mesh.countJ(); ++j)
        for (int i = 1; i < mesh.countI(); ++i) {
            mesh(i, j).x += d(rng);
            mesh(i, j).y += d(rng);
        }
    return mesh;
}

}  // namespace tarnel::test
