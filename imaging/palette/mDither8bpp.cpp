#include "imaging/palette/mDither8bpp.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imaging/palette/PaletteRefine.h"
#include "imaging/palette/SerpentineDither.h"
#include "platform/RuntimeError.h"

namespace tarnel {

namespace {

constexpr int kBaseMatrix[4][4] = {{1, 9, 3, 11}, {13, 5, 15, 7}, {4, 12, 2, 10}, {16, 8, 14, 6}};

inline int roundHalfEven(double v) { return int(std::nearbyint(v)); }

inline int clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// Index of a pixel from its blue, green and red bytes, one class per palette mode.
struct CubeIndex {
    const uint8_t* r;
    const uint8_t* g;
    const uint8_t* b;
    uint8_t operator()(unsigned blue, unsigned green, unsigned red) const {
        return uint8_t(b[blue] + g[green] + r[red]);
    }
};

struct FineIndex {
    const uint16_t* r;
    const uint16_t* g;
    const uint16_t* b;
    const uint8_t* inverse;
    uint8_t operator()(unsigned blue, unsigned green, unsigned red) const {
        return inverse[b[blue] + g[green] + r[red]];
    }
};

}  // namespace

Dither8bpp::Dither8bpp() { InitDitherTables(); }

Dither8bpp::Dither8bpp(ComputeTables) { computeTables(); }

// ---------------------------------------------------------------- tables and settings

// The fixed tables are the same for every converter, and an import makes a
// converter each time: they are worked out once and copied from then on.
void Dither8bpp::InitDitherTables() {
    static const Dither8bpp computed{ComputeTables{}};
    q6_ = computed.q6_;
    q16_ = computed.q16_;
    matrixB_ = computed.matrixB_;
    matrixT51_ = computed.matrixT51_;
    cube_ = computed.cube_;
    e1_ = computed.e1_;
    e3_ = computed.e3_;
    e5_ = computed.e5_;
    e7_ = computed.e7_;
    shares_ = computed.shares_;
    inverse_.fill(0);
    cubeR_ = computed.cubeR_;
    cubeG_ = computed.cubeG_;
    cubeB_ = computed.cubeB_;
    fineR_ = computed.fineR_;
    fineG_ = computed.fineG_;
    fineB_ = computed.fineB_;
    orderedCube_ = computed.orderedCube_;
    orderedFine_ = computed.orderedFine_;
}

void Dither8bpp::computeTables() {
    for (int k = -51; k <= 280; ++k) q6_[size_t(k + 51)] = uint8_t(std::clamp(roundHalfEven(k / 51.0), 0, 5));
    for (int k = -7; k <= 262; ++k) q16_[size_t(k + 8)] = uint8_t(std::clamp(roundHalfEven(k / 17.0), 0, 15));
    q16_[0] = 0;  // k = -8
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            matrixB_[y][x] = kBaseMatrix[y][x];
            matrixT51_[y][x] = roundHalfEven(kBaseMatrix[y][x] * 51 / 16.0);
        }
    for (int b = 0; b < 6; ++b)
        for (int g = 0; g < 6; ++g)
            for (int r = 0; r < 6; ++r) cube_[size_t(r + 6 * g + 36 * b)] = uint8_t(r + 6 * g + 36 * b);
    for (int e = -255; e <= 255; ++e) {
        const size_t i = size_t(e + 255);
        e1_[i] = int16_t(roundHalfEven(e * 1 / 16.0));
        e3_[i] = int16_t(roundHalfEven(e * 3 / 16.0));
        e5_[i] = int16_t(roundHalfEven(e * 5 / 16.0));
        e7_[i] = int16_t(roundHalfEven(e * 7 / 16.0));
        shares_[i] = ErrorShares{e7_[i], e5_[i], e1_[i], e3_[i]};
    }
    inverse_.fill(0);

    for (int v = 0; v < 256; ++v) {
        const uint8_t l6 = q6_[size_t(v + 51)];
        const uint8_t l16 = q16_[size_t(v + 8)];
        cubeR_[size_t(v)] = l6;
        cubeG_[size_t(v)] = uint8_t(6 * l6);
        cubeB_[size_t(v)] = uint8_t(36 * l6);
        fineR_[size_t(v)] = l16;
        fineG_[size_t(v)] = uint16_t(16 * l16);
        fineB_[size_t(v)] = uint16_t(256 * l16);
        for (int cell = 0; cell < 16; ++cell) {
            const int y = cell / 4, x = cell % 4;
            orderedCube_[size_t(cell)][size_t(v)] = q6_[size_t(v + 26 - matrixT51_[y][x] + 51)];
            orderedFine_[size_t(cell)][size_t(v)] = q16_[size_t(v + 8 - matrixB_[y][x] + 8)];
        }
    }
}

void Dither8bpp::SetPaletteMode(int32_t Mode) {
    if (Mode == 0 || Mode == 1) paletteMode_ = Mode;
}

void Dither8bpp::SetDitherMethod(int32_t Method) {
    if (Method >= 0 && Method <= 2) ditherMethod_ = Method;
}

void Dither8bpp::BuildInverseTable(const cPal8bpp& Palette) { Palette.ClosestIndexGrid(inverse_); }

uint8_t Dither8bpp::GetPixelIndex(const GcDIB& DIB, int32_t x, int32_t y) {
    if (DIB.BPP() != 8 || x < 0 || y < 0 || x >= DIB.Width() || y >= DIB.Height()) raiseSubscript();
    return DIB.bitmap()->scanline(y)[x];
}

// ---------------------------------------------------------------- conversion

void Dither8bpp::DitherTo8bpp(const GcDIB& Source, GcDIB& Target, cPal8bpp& Palette, bool KeepPalette) {
    if (Source.BPP() != 32) return;
    if (&Source == &Target) {
        // Target is re-created, so the source must outlive that.
        GcDIB result;
        DitherTo8bpp(Source, result, Palette, KeepPalette);
        Target = std::move(result);
        return;
    }
    const int32_t width = Source.Width(), height = Source.Height();

    const bool refined = refined_ && paletteMode_ == 1;
    if (!KeepPalette) {
        if (refined) {
            CreateRefinedPalette(Source, Palette);
        } else if (paletteMode_ == 0) {
            Palette.CreateHalftone(4);
        } else {
            // Stretching straight from the source gives the pixels of a copy
            // resized with stretching, read top row first whatever the source's
            // row order. A fitted side of 0 (a very thin source) is held to 1 so
            // that a palette is still built.
            int32_t bfx = 0, bfy = 0, bfW = 0, bfH = 0;
            Source.GetBestFitInfo(50, 50, bfx, bfy, bfW, bfH, false);
            bfW = std::max(bfW, 1);
            bfH = std::max(bfH, 1);
            GcDIB fitted;
            if (fitted.Create(bfW, bfH, 32))
                Source.Stretch(fitted.hDIBDC(), 0, 0, bfW, bfH, 0, 0, width, height, SRCCOPY);
            Palette.CreateOptimal(fitted, 256, 6, 1.0f, 1.0f, 1.0f);
            BuildInverseTable(Palette);
        }
    }
    std::memcpy(paletteCopy_.data(), Palette.lpPalette(), sizeof(paletteCopy_));

    if (!Target.Create(width, height, 8)) return;
    std::memcpy(Target.colorTable(), paletteCopy_.data(), sizeof(paletteCopy_));

    const Bitmap& source = *Source.bitmap();
    Bitmap& target = *Target.bitmap();
    if (refined) {
        lookup_.SetPalette(paletteCopy_.data(), Palette.Entries());
        ReduceToPalette(source, target, lookup_, paletteCopy_.data(), ditherMethod_);
        return;
    }
    switch (ditherMethod_) {
        case 0: ditherNearest(source, target); break;
        case 1: ditherOrdered(source, target); break;
        default: ditherDiffusion(source, target); break;
    }
}

void Dither8bpp::ditherNearest(const Bitmap& source, Bitmap& target) const {
    if (paletteMode_ == 0) nearestRows<0>(source, target);
    else nearestRows<1>(source, target);
}

void Dither8bpp::ditherOrdered(const Bitmap& source, Bitmap& target) const {
    if (paletteMode_ == 0) orderedRows<0>(source, target);
    else orderedRows<1>(source, target);
}

void Dither8bpp::ditherDiffusion(const Bitmap& source, Bitmap& target) const {
    if (paletteMode_ == 0) diffusionRows<0>(source, target);
    else diffusionRows<1>(source, target);
}

template <int Mode>
void Dither8bpp::nearestRows(const Bitmap& source, Bitmap& target) const {
    const int width = source.width(), height = source.height();
    const CubeIndex cube{cubeR_.data(), cubeG_.data(), cubeB_.data()};
    const FineIndex fine{fineR_.data(), fineG_.data(), fineB_.data(), inverse_.data()};
    for (int y = 0; y < height; ++y) {
        const uint8_t* s = source.scanline(y);
        uint8_t* t = target.scanline(y);
        for (int x = 0; x < width; ++x, s += 4) {
            if constexpr (Mode == 0) t[x] = cube(s[0], s[1], s[2]);
            else t[x] = fine(s[0], s[1], s[2]);
        }
    }
}

template <int Mode>
void Dither8bpp::orderedRows(const Bitmap& source, Bitmap& target) const {
    const int width = source.width(), height = source.height();
    const auto& cells = Mode == 0 ? orderedCube_ : orderedFine_;
    const uint8_t* inverse = inverse_.data();
    // The same cell serves all three channels of a pixel.
    auto index = [inverse](const uint8_t* level, const uint8_t* p) -> uint8_t {
        if constexpr (Mode == 0) {
            (void)inverse;
            return uint8_t(level[p[2]] + 6 * level[p[1]] + 36 * level[p[0]]);
        } else {
            return inverse[level[p[2]] | (level[p[1]] << 4) | (level[p[0]] << 8)];
        }
    };
    for (int y = 0; y < height; ++y) {
        const uint8_t* s = source.scanline(y);
        uint8_t* t = target.scanline(y);
        const uint8_t* c0 = cells[size_t(4 * (y & 3) + 0)].data();
        const uint8_t* c1 = cells[size_t(4 * (y & 3) + 1)].data();
        const uint8_t* c2 = cells[size_t(4 * (y & 3) + 2)].data();
        const uint8_t* c3 = cells[size_t(4 * (y & 3) + 3)].data();
        int x = 0;
        for (; x + 4 <= width; x += 4, s += 16) {
            t[x] = index(c0, s);
            t[x + 1] = index(c1, s + 4);
            t[x + 2] = index(c2, s + 8);
            t[x + 3] = index(c3, s + 12);
        }
        const uint8_t* tail[3] = {c0, c1, c2};
        for (int i = 0; x < width; ++x, ++i, s += 4) t[x] = index(tail[i], s);
    }
}

// Errors travel only through the working copy, and only to pixels not yet
// visited: the rest of the current row and the next row. Two rolling rows hold
// exactly the working copy's values for those, so the whole copy is never made.
template <int Mode>
void Dither8bpp::diffusionRows(const Bitmap& source, Bitmap& target) const {
    const int width = source.width(), height = source.height();
    const int maxX = width - 1, maxY = height - 1;
    const size_t rowBytes = 4 * size_t(width);
    std::vector<uint8_t> rowA(rowBytes), rowB(rowBytes);
    uint8_t* cur = rowA.data();
    uint8_t* next = rowB.data();
    std::memcpy(cur, source.scanline(0), rowBytes);

    const CubeIndex cube{cubeR_.data(), cubeG_.data(), cubeB_.data()};
    const FineIndex fine{fineR_.data(), fineG_.data(), fineB_.data(), inverse_.data()};
    const RGBQuad* pal = paletteCopy_.data();
    const ErrorShares* shares = shares_.data() + 255;

    for (int y = 0; y <= maxY; ++y) {
        const bool hasNext = y < maxY;
        if (hasNext) std::memcpy(next, source.scanline(y + 1), rowBytes);
        uint8_t* t = target.scanline(y);
        // The pixel being quantised, carried in registers along the row.
        int b = cur[0], g = cur[1], r = cur[2];
        for (int x = 0; x <= maxX; ++x) {
            uint8_t index;
            if constexpr (Mode == 0) index = cube(unsigned(b), unsigned(g), unsigned(r));
            else index = fine(unsigned(b), unsigned(g), unsigned(r));
            t[x] = index;
            const RGBQuad q = pal[index];
            const int eB = b - q.blue, eG = g - q.green, eR = r - q.red;
            const bool hasRight = x < maxX;
            int nb = 0, ng = 0, nr = 0;
            if (hasRight) {
                const uint8_t* right = cur + 4 * size_t(x + 1);
                nb = right[0];
                ng = right[1];
                nr = right[2];
            }
            if (std::abs(eB) + std::abs(eG) + std::abs(eR) >= 4) {
                const ErrorShares sB = shares[eB], sG = shares[eG], sR = shares[eR];
                if (hasRight) {
                    nb = clamp255(nb + sB.e7);
                    ng = clamp255(ng + sG.e7);
                    nr = clamp255(nr + sR.e7);
                }
                if (hasNext) {
                    uint8_t* below = next + 4 * size_t(x);
                    below[0] = uint8_t(clamp255(below[0] + sB.e5));
                    below[1] = uint8_t(clamp255(below[1] + sG.e5));
                    below[2] = uint8_t(clamp255(below[2] + sR.e5));
                    if (hasRight) {
                        below[4] = uint8_t(clamp255(below[4] + sB.e1));
                        below[5] = uint8_t(clamp255(below[5] + sG.e1));
                        below[6] = uint8_t(clamp255(below[6] + sR.e1));
                    }
                    if (x > 0) {
                        below[-4] = uint8_t(clamp255(below[-4] + sB.e3));
                        below[-3] = uint8_t(clamp255(below[-3] + sG.e3));
                        below[-2] = uint8_t(clamp255(below[-2] + sR.e3));
                    }
                }
            }
            b = nb;
            g = ng;
            r = nr;
        }
        std::swap(cur, next);
    }
}

uint8_t GetPixelIndex(const GcDIB& DIB, int32_t x, int32_t y) { return Dither8bpp::GetPixelIndex(DIB, x, y); }

}  // namespace tarnel
