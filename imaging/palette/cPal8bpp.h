#pragma once
// One palette of up to 256 colours for 8-bpp images: fixed palettes (grey
// ramps, the 16 standard colours, halftone cubes, web-safe) or an adaptive one
// built from a 32-bpp image by a weighted octree.
#include <array>
#include <cstdint>
#include <vector>

#include "imaging/GcDIB.h"
#include "platform/gdi.h"

namespace tarnel {

class cPal8bpp {
public:
    cPal8bpp() = default;
    ~cPal8bpp() { Destroy(); }
    // A logical palette has one owner.
    cPal8bpp(const cPal8bpp&) = delete;
    cPal8bpp& operator=(const cPal8bpp&) = delete;

    void Initialize(int16_t InitialEntries);
    // Snapshots the first Entries entries as the logical palette that the
    // nearest-colour lookups search. With no entries there is no logical
    // palette (hPal 0).
    void BuildLogicalPalette();
    void Destroy();

    // Nearest entry of the logical palette by squared RGB distance, ties to
    // the lowest index. Without a logical palette: index 0 and black.
    void ClosestColor(uint8_t R, uint8_t G, uint8_t B, uint8_t& cR, uint8_t& cG, uint8_t& cB) const;
    uint8_t ClosestIndex(uint8_t R, uint8_t G, uint8_t B) const;
    // ClosestIndex of every colour (17 r, 17 g, 17 b), levels 0 … 15, at
    // [b * 256 + g * 16 + r]: the same answers, found without measuring every
    // entry for every colour.
    void ClosestIndexGrid(std::array<uint8_t, 4096>& out) const;

    bool IsGreyScale() const;
    // GreyLevels 0, 1, 2: 2, 16 or 256 grey entries. Other values raise the
    // division-by-zero error.
    void CreateGreyScale(int32_t GreyLevels);
    void CreateEGA();
    // HalftoneLevels 0 … 4: cubes of 2 … 6 values per channel. Other values
    // raise the subscript error.
    void CreateHalftone(int32_t HalftoneLevels);
    void CreateWebsafe();
    // Adaptive palette of at most nColors colours; does nothing unless oDIB32
    // is 32 bpp. nColors is held to 256 and nLevels to 1 … 8, the sizes the
    // palette and the tree's level lists have room for.
    void CreateOptimal(const GcDIB& oDIB32, int32_t nColors, int32_t nLevels, float RWeight, float GWeight,
                       float BWeight);

    // 1,024 bytes: 256 RGBQUAD entries (blue, green, red, reserved). The
    // storage always exists; a destroyed palette reads as all zero.
    const uint8_t* lpPalette() const { return reinterpret_cast<const uint8_t*>(palette_.data()); }
    const RGBQuad* entries() const { return palette_.data(); }
    uintptr_t hPal() const { return hPal_; }
    int16_t Entries() const { return entries_; }
    // Changes only the count; the logical palette is not rebuilt. Readers of
    // the entries hold the count to 0 … 256.
    void SetEntries(int16_t value) { entries_ = value; }
    // One channel of an entry (0 … 255; other entries raise the subscript
    // error). Writing does not rebuild the logical palette.
    uint8_t rgbR(int32_t PalEntry) const { return palette_[checkedEntry(PalEntry)].red; }
    uint8_t rgbG(int32_t PalEntry) const { return palette_[checkedEntry(PalEntry)].green; }
    uint8_t rgbB(int32_t PalEntry) const { return palette_[checkedEntry(PalEntry)].blue; }
    void SetRgbR(int32_t PalEntry, uint8_t value) { palette_[checkedEntry(PalEntry)].red = value; }
    void SetRgbG(int32_t PalEntry, uint8_t value) { palette_[checkedEntry(PalEntry)].green = value; }
    void SetRgbB(int32_t PalEntry, uint8_t value) { palette_[checkedEntry(PalEntry)].blue = value; }

private:
    struct Node {
        bool leaf = false;
        bool listed = false;
        // Wider than the tree's 32-bit sums so that a large image cannot overflow them.
        int64_t redSum = 0, greenSum = 0, blueSum = 0;
        int32_t count = 0;
        std::array<int32_t, 8> children{};
        int32_t next = 0;
    };

    static size_t checkedEntry(int32_t PalEntry);
    void setEntry(int index, uint8_t r, uint8_t g, uint8_t b);
    void fillDark(int start);
    void fillBright(int start);

    void resetTree(int32_t nLevels);
    int32_t takeNode(int32_t level);
    void insertColor(uint8_t r, uint8_t g, uint8_t b);
    bool reduceOnce();
    void paletteFromTree();

    std::array<RGBQuad, 256> palette_{};
    int16_t entries_ = 0;
    uintptr_t hPal_ = 0;
    std::array<RGBQuad, 256> logical_{};
    int logicalCount_ = 0;

    // Octree of CreateOptimal; nodes_[0] is unused so indices start at 1.
    std::array<float, 3> weights_{1.0f, 1.0f, 1.0f};  // red, green, blue
    std::vector<Node> nodes_;
    std::array<int32_t, 9> reducible_{};  // list heads of levels 1 … 8
    int32_t freeHead_ = 0;
    int32_t liveNodes_ = 0;
    int32_t leafCount_ = 0;
    uint8_t depth_ = 0;
};

}  // namespace tarnel
