#pragma once
// Reduces a 32-bpp surface to an 8-bpp one: a fixed 216-colour cube or an
// adaptive 256-colour palette (palette mode 0 / 1), by nearest colour,
// ordered 4 x 4 dithering or Floyd-Steinberg error diffusion (method 0 / 1 / 2).
// Every per-pixel decision is a table lookup. The refined setting trades
// some speed for fidelity in the adaptive mode: a refined palette of every
// pixel, exact nearest entries and serpentine diffusion.
#include <array>
#include <cstdint>

#include "imaging/GcDIB.h"
#include "imaging/palette/PaletteLookup.h"
#include "imaging/palette/cPal8bpp.h"
#include "platform/gdi.h"

namespace tarnel {

// A converter's settings and tables; whoever reduces owns one. The settings
// stay in force until changed; the palette copy and the inverse table stay
// until a call that does not keep the palette. One conversion at a time per
// object.
class Dither8bpp {
public:
    Dither8bpp();

    // Rebuilds the fixed tables and clears the inverse table. The constructor
    // has already done it once.
    void InitDitherTables();
    // 0 = 216-colour cube, 1 = adaptive palette; other values are ignored.
    void SetPaletteMode(int32_t Mode);
    // 0 = nearest colour, 1 = ordered, 2 = error diffusion; other values are ignored.
    void SetDitherMethod(int32_t Method);
    int32_t PaletteMode() const { return paletteMode_; }
    int32_t DitherMethod() const { return ditherMethod_; }
    // In palette mode 1 only: the palette is the refined one of the whole
    // Source (see PaletteRefine.h), not the octree of a 50 x 50 copy, and each
    // pixel goes to its exact nearest entry (ordered: after a 4 x 4 offset;
    // diffusion: serpentine, see SerpentineDither.h). No inverse table is
    // built or read. Off by default.
    void SetRefinedPalette(bool On) { refined_ = On; }
    bool RefinedPalette() const { return refined_; }

    // Re-creates Target as the 8-bpp reduction of Source with all 256 entries
    // of Palette as its colour table. Unless KeepPalette, the palette is built
    // first (mode 0: the 216-colour cube; mode 1: an adaptive palette from a
    // copy of Source fitted into 50 x 50, plus a new inverse table). A Source
    // that is empty or not 32 bpp is left alone and nothing at all happens:
    // Target, Palette and the tables keep what they held. Source and Target
    // may be the same surface.
    void DitherTo8bpp(const GcDIB& Source, GcDIB& Target, cPal8bpp& Palette, bool KeepPalette);

    // The byte at (x, y), row y from the top, of an 8-bpp surface. A point
    // outside the surface, or a surface that is not 8 bpp, raises the
    // subscript error.
    static uint8_t GetPixelIndex(const GcDIB& DIB, int32_t x, int32_t y);

    // Entry [b * 256 + g * 16 + r] (levels 0 … 15) = Palette's closest index to (17r, 17g, 17b).
    void BuildInverseTable(const cPal8bpp& Palette);

    const std::array<uint8_t, 4096>& InverseTable() const { return inverse_; }
    const std::array<RGBQuad, 256>& PaletteCopy() const { return paletteCopy_; }

private:
    struct ComputeTables {};
    explicit Dither8bpp(ComputeTables);
    void computeTables();
    void ditherNearest(const Bitmap& source, Bitmap& target) const;
    void ditherOrdered(const Bitmap& source, Bitmap& target) const;
    void ditherDiffusion(const Bitmap& source, Bitmap& target) const;
    template <int Mode>
    void nearestRows(const Bitmap& source, Bitmap& target) const;
    template <int Mode>
    void orderedRows(const Bitmap& source, Bitmap& target) const;
    template <int Mode>
    void diffusionRows(const Bitmap& source, Bitmap& target) const;

    int32_t paletteMode_ = 0;
    int32_t ditherMethod_ = 0;
    bool refined_ = false;
    PaletteLookup lookup_;  // the refined reduction's search, kept while the palette is

    // Tables as defined: quantisers Q6 (k = -51 … 280) and Q16 (k = -8 … 262),
    // the threshold matrices, the cube index table, the error fractions.
    std::array<uint8_t, 332> q6_{};
    std::array<uint8_t, 271> q16_{};
    std::array<std::array<int, 4>, 4> matrixB_{};
    std::array<std::array<int, 4>, 4> matrixT51_{};
    std::array<uint8_t, 216> cube_{};
    std::array<int16_t, 511> e1_{}, e3_{}, e5_{}, e7_{};
    std::array<uint8_t, 4096> inverse_{};
    std::array<RGBQuad, 256> paletteCopy_{};

    // Combined tables derived from the above so that a pixel's index is a
    // sum of three reads (nearest), or a read per channel from the table of
    // its matrix cell (ordered).
    std::array<uint8_t, 256> cubeR_{}, cubeG_{}, cubeB_{};       // Q6(v), 6 Q6(v), 36 Q6(v)
    std::array<uint16_t, 256> fineR_{}, fineG_{}, fineB_{};      // Q16(v), 16 Q16(v), 256 Q16(v)
    std::array<std::array<uint8_t, 256>, 16> orderedCube_{};    // [cell][v] = Q6(v + 26 - T51)
    std::array<std::array<uint8_t, 256>, 16> orderedFine_{};    // [cell][v] = Q16(v + 8 - B)
    struct ErrorShares {
        int16_t e7, e5, e1, e3;
    };
    std::array<ErrorShares, 511> shares_{};  // [e + 255]
};

// Dither8bpp::GetPixelIndex, which needs no converter.
uint8_t GetPixelIndex(const GcDIB& DIB, int32_t x, int32_t y);

}  // namespace tarnel
