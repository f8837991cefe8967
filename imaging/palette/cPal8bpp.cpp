#include "imaging/palette/cPal8bpp.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "platform/RuntimeError.h"

namespace tarnel {

namespace {

// Stand-in handles: distinct, never 0.
uintptr_t newPaletteHandle() {
    static std::atomic<uintptr_t> next{0x5A10};
    uintptr_t h = next.fetch_add(1, std::memory_order_relaxed);
    return h == 0 ? next.fetch_add(1, std::memory_order_relaxed) : h;
}

struct Rgb {
    uint8_t r, g, b;
};

// Entries 0-7 (dark) and 8-15 (bright) of the 16 standard colours.
constexpr Rgb kStandardColors[16] = {
    {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
    {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
    {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
};

inline uint8_t roundedAverage(int64_t sum, int32_t count) {
    return uint8_t(std::clamp(std::nearbyint(double(sum) / double(count)), 0.0, 255.0));
}

}  // namespace

// ---------------------------------------------------------------- life cycle

void cPal8bpp::Initialize(int16_t InitialEntries) {
    Destroy();
    entries_ = InitialEntries;
    palette_.fill(RGBQuad{});
}

void cPal8bpp::BuildLogicalPalette() {
    hPal_ = 0;
    logical_.fill(RGBQuad{});
    // The count is held to the 256 entries that exist.
    logicalCount_ = std::clamp<int>(entries_, 0, 256);
    if (logicalCount_ == 0) return;
    std::copy_n(palette_.begin(), logicalCount_, logical_.begin());
    hPal_ = newPaletteHandle();
}

void cPal8bpp::Destroy() {
    entries_ = 0;
    palette_.fill(RGBQuad{});
    hPal_ = 0;
    logical_.fill(RGBQuad{});
    logicalCount_ = 0;
}

// ---------------------------------------------------------------- lookups

uint8_t cPal8bpp::ClosestIndex(uint8_t R, uint8_t G, uint8_t B) const {
    return uint8_t(NearestIndex(logical_.data(), logicalCount_, R, G, B));
}

void cPal8bpp::ClosestIndexGrid(std::array<uint8_t, 4096>& out) const {
    const int count = logicalCount_;
    if (count <= 1) {
        out.fill(0);
        return;
    }
    // The distinct colours, each under its lowest index (a repeat can never
    // be the answer), in order of the channel they spread most along. A
    // colour's search runs outwards from its own value of that channel and
    // stops each way once that gap alone is beyond the best distance; the
    // previous colour's answer bounds it from the start.
    std::array<std::array<int, 256>, 3> channel{};  // red, green, blue
    std::array<uint8_t, 256> order{};               // the palette index of each
    int n = 0;
    {
        // Colour then index: a repeat follows its lowest index.
        std::array<uint64_t, 256> sorted{};
        for (int i = 0; i < count; ++i) {
            const RGBQuad& q = logical_[size_t(i)];
            sorted[size_t(i)] = (uint64_t(q.red) << 16 | uint64_t(q.green) << 8 | q.blue) << 8 | uint64_t(i);
        }
        std::sort(sorted.begin(), sorted.begin() + count);
        uint64_t last = ~uint64_t(0);
        for (int k = 0; k < count; ++k) {
            const uint64_t colour = sorted[size_t(k)] >> 8;
            if (colour == last) continue;
            last = colour;
            channel[0][size_t(n)] = int(colour >> 16);
            channel[1][size_t(n)] = int(colour >> 8 & 0xFF);
            channel[2][size_t(n)] = int(colour & 0xFF);
            order[size_t(n)] = uint8_t(sorted[size_t(k)] & 0xFF);
            ++n;
        }
    }
    int axis = 0, widest = -1;
    for (int c = 0; c < 3; ++c) {
        const auto [low, high] = std::minmax_element(channel[size_t(c)].begin(), channel[size_t(c)].begin() + n);
        if (*high - *low > widest) {
            widest = *high - *low;
            axis = c;
        }
    }
    if (axis != 0) {
        std::array<int, 256> position{};
        for (int k = 0; k < n; ++k) position[size_t(k)] = k;
        std::stable_sort(position.begin(), position.begin() + n,
                         [&](int a, int b) { return channel[size_t(axis)][size_t(a)] < channel[size_t(axis)][size_t(b)]; });
        std::array<std::array<int, 256>, 3> moved{};
        std::array<uint8_t, 256> movedOrder{};
        for (int k = 0; k < n; ++k) {
            for (size_t c = 0; c < 3; ++c) moved[c][size_t(k)] = channel[c][size_t(position[size_t(k)])];
            movedOrder[size_t(k)] = order[size_t(position[size_t(k)])];
        }
        channel = moved;
        order = movedOrder;
    }
    const std::array<int, 256>& along = channel[size_t(axis)];
    const std::array<int, 256>& red = channel[0];
    const std::array<int, 256>& green = channel[1];
    const std::array<int, 256>& blue = channel[2];
    // The first sorted position of each value of that channel or above.
    std::array<int, 257> from{};
    for (int v = 0, k = 0; v <= 256; ++v) {
        while (k < n && along[size_t(k)] < v) ++k;
        from[size_t(v)] = k;
    }
    int best = 0;
    for (int bl = 0; bl < 16; ++bl) {
        for (int gl = 0; gl < 16; ++gl) {
            for (int rl = 0; rl < 16; ++rl) {
                const int r = 17 * rl, g = 17 * gl, b = 17 * bl;
                const int value = axis == 0 ? r : axis == 1 ? g : b;
                // Nearest first, ties to the lowest palette index.
                auto distance = [&](int k) {
                    const int dr = red[size_t(k)] - r, dg = green[size_t(k)] - g, db = blue[size_t(k)] - b;
                    return dr * dr + dg * dg + db * db;
                };
                int bestDistance = distance(best);
                // Entries are sorted along the axis: once the gap along it
                // alone is beyond the best distance, no further one is nearer.
                auto consider = [&](int k, int gap) {
                    if (gap * gap > bestDistance) return false;
                    const int d = distance(k);
                    if (d < bestDistance || (d == bestDistance && order[size_t(k)] < order[size_t(best)])) {
                        best = k;
                        bestDistance = d;
                    }
                    return true;
                };
                const int start = from[size_t(value)];
                for (int k = start; k < n && consider(k, along[size_t(k)] - value); ++k) {
                }
                for (int k = start - 1; k >= 0 && consider(k, value - along[size_t(k)]); --k) {
                }
                out[size_t(bl * 256 + gl * 16 + rl)] = order[size_t(best)];
            }
        }
    }
}

void cPal8bpp::ClosestColor(uint8_t R, uint8_t G, uint8_t B, uint8_t& cR, uint8_t& cG, uint8_t& cB) const {
    const RGBQuad& q = logical_[ClosestIndex(R, G, B)];
    cR = q.red;
    cG = q.green;
    cB = q.blue;
}

bool cPal8bpp::IsGreyScale() const {
    int count = std::min<int>(entries_, 256);
    if (count <= 0) return false;
    return std::all_of(palette_.begin(), palette_.begin() + count,
                       [](const RGBQuad& q) { return q.red == q.green && q.green == q.blue; });
}

size_t cPal8bpp::checkedEntry(int32_t PalEntry) {
    if (PalEntry < 0 || PalEntry > 255) raiseSubscript();
    return size_t(PalEntry);
}

// ---------------------------------------------------------------- fixed palettes

void cPal8bpp::setEntry(int index, uint8_t r, uint8_t g, uint8_t b) {
    if (index < 0 || index > 255) raiseSubscript();
    palette_[size_t(index)] = RGBQuad{b, g, r, 0};
}

void cPal8bpp::fillDark(int start) {
    for (int i = 0; i < 8; ++i) setEntry(start + i, kStandardColors[i].r, kStandardColors[i].g, kStandardColors[i].b);
}

void cPal8bpp::fillBright(int start) {
    for (int i = 0; i < 8; ++i)
        setEntry(start + i, kStandardColors[8 + i].r, kStandardColors[8 + i].g, kStandardColors[8 + i].b);
}

void cPal8bpp::CreateGreyScale(int32_t GreyLevels) {
    Initialize(0);
    int count;
    switch (GreyLevels) {
        case 0: count = 2; break;
        case 1: count = 16; break;
        case 2: count = 256; break;
        default: throw RuntimeError(RuntimeError::DivisionByZero, "Division by zero");
    }
    int step = 255 / (count - 1);
    for (int i = 0; i < count; ++i) setEntry(i, uint8_t(i * step), uint8_t(i * step), uint8_t(i * step));
    entries_ = int16_t(count);
    BuildLogicalPalette();
}

void cPal8bpp::CreateEGA() {
    Initialize(0);
    entries_ = 16;
    fillDark(0);
    fillBright(8);
    BuildLogicalPalette();
}

void cPal8bpp::CreateHalftone(int32_t HalftoneLevels) {
    Initialize(0);
    static constexpr int kSteps[5] = {256, 128, 85, 64, 51};
    if (HalftoneLevels < 0 || HalftoneLevels > 4) raiseSubscript();
    const int step = kSteps[HalftoneLevels];
    std::vector<uint8_t> values;
    for (int v = 0; v <= 256; v += step) values.push_back(uint8_t(std::min(v, 255)));
    int index = 0;
    for (uint8_t b : values)
        for (uint8_t g : values)
            for (uint8_t r : values) setEntry(index++, r, g, b);
    entries_ = int16_t(index);
    BuildLogicalPalette();
}

void cPal8bpp::CreateWebsafe() {
    Initialize(0);
    entries_ = 256;
    fillDark(0);
    int index = 8;
    for (int b = 0; b <= 255; b += 51)
        for (int g = 0; g <= 255; g += 51)
            for (int r = 0; r <= 255; r += 51) {
                const int sum = r + g + b;
                const int nonZero = (r != 0) + (g != 0) + (b != 0);
                // The eight cube corners are among the standard colours already.
                if (sum == 0 || sum == 765) continue;
                if (sum == 255 && nonZero == 1) continue;
                if (sum == 510 && nonZero == 2) continue;
                setEntry(index++, uint8_t(r), uint8_t(g), uint8_t(b));
            }
    // Entry 216 stays black.
    for (int i = 217; i <= 247; ++i) setEntry(i, uint8_t(8 * (i - 216)), uint8_t(8 * (i - 216)), uint8_t(8 * (i - 216)));
    fillBright(248);
    BuildLogicalPalette();
}

// ---------------------------------------------------------------- adaptive palette

void cPal8bpp::CreateOptimal(const GcDIB& oDIB32, int32_t nColors, int32_t nLevels, float RWeight, float GWeight,
                             float BWeight) {
    if (oDIB32.BPP() != 32) return;
    nColors = std::min(nColors, 256);
    weights_ = {RWeight, GWeight, BWeight};
    resetTree(std::clamp(nLevels, 1, 8));

    const Bitmap& image = *oDIB32.bitmap();
    const int width = image.width(), height = image.height();
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = image.scanline(y);
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = row + 4 * size_t(x);
            insertColor(p[2], p[1], p[0]);
            while (leafCount_ > nColors && reduceOnce()) {
            }
        }
    }
    paletteFromTree();
}

void cPal8bpp::resetTree(int32_t nLevels) {
    nodes_.assign(51, Node{});
    reducible_.fill(0);
    depth_ = uint8_t(nLevels);
    liveNodes_ = 1;  // the root, node 1, an inner node
    freeHead_ = 0;
    leafCount_ = 0;
}

int32_t cPal8bpp::takeNode(int32_t level) {
    int32_t index;
    if (freeHead_ != 0) {
        index = freeHead_;
        freeHead_ = nodes_[size_t(index)].next;
        nodes_[size_t(index)].children.fill(0);
    } else {
        index = liveNodes_ + 1;
        if (size_t(index) >= nodes_.size()) nodes_.resize(size_t(std::nearbyint(index * 1.1)) + 1);
    }
    ++liveNodes_;
    Node& node = nodes_[size_t(index)];
    node.redSum = node.greenSum = node.blueSum = 0;
    node.count = 0;
    node.next = 0;
    node.leaf = level == depth_;
    return index;
}

void cPal8bpp::insertColor(uint8_t r, uint8_t g, uint8_t b) {
    // Weighted values rounded to single precision, as the splits compare them.
    const float weighted[3] = {float(r) * weights_[0], float(g) * weights_[1], float(b) * weights_[2]};
    int lo[3] = {0, 0, 0}, hi[3] = {255, 255, 255};
    int32_t parent = 1;
    for (int32_t level = 1; level <= depth_; ++level) {
        int slot = 0;
        for (int c = 0; c < 3; ++c) {
            const int mid = int(std::nearbyint(lo[c] / 2.0 + hi[c] / 2.0));
            if (weighted[c] > float(mid)) {
                slot |= 1 << c;
                lo[c] = mid;
            } else {
                hi[c] = mid;
            }
        }
        int32_t child = nodes_[size_t(parent)].children[size_t(slot)];
        if (child == 0) {
            child = takeNode(level);  // may grow nodes_
            nodes_[size_t(parent)].children[size_t(slot)] = child;
        }
        Node& node = nodes_[size_t(child)];
        if (node.leaf) {
            if (node.count == 0) ++leafCount_;
            ++node.count;
            node.redSum += r;
            node.greenSum += g;
            node.blueSum += b;
            return;
        }
        if (!node.listed) {
            node.next = reducible_[size_t(level)];
            reducible_[size_t(level)] = child;
            node.listed = true;
        }
        parent = child;
    }
}

bool cPal8bpp::reduceOnce() {
    int level = depth_;
    while (level >= 1 && reducible_[size_t(level)] == 0) --level;
    if (level < 1) return false;

    const int32_t index = reducible_[size_t(level)];
    Node& node = nodes_[size_t(index)];
    reducible_[size_t(level)] = node.next;
    int64_t red = 0, green = 0, blue = 0;
    int32_t count = 0;
    for (int32_t& slot : node.children) {
        if (slot == 0) continue;
        Node& child = nodes_[size_t(slot)];
        red += child.redSum;
        green += child.greenSum;
        blue += child.blueSum;
        count += child.count;
        child.next = freeHead_;
        freeHead_ = slot;
        child.leaf = false;
        child.listed = false;
        --liveNodes_;
        --leafCount_;
        slot = 0;
    }
    node.leaf = true;
    node.redSum = red;
    node.greenSum = green;
    node.blueSum = blue;
    node.count = count;
    ++leafCount_;
    return true;
}

void cPal8bpp::paletteFromTree() {
    Initialize(0);
    int entry = 0;
    for (size_t i = 1; i < nodes_.size() && entry < 256; ++i) {
        const Node& node = nodes_[i];
        if (!node.leaf) continue;
        palette_[size_t(entry++)] = RGBQuad{roundedAverage(node.blueSum, node.count),
                                            roundedAverage(node.greenSum, node.count),
                                            roundedAverage(node.redSum, node.count), 0};
    }
    entries_ = int16_t(entry);
    BuildLogicalPalette();
}

}  // namespace tarnel
