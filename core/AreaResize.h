#pragma once
// Resizing frames for sharing: every output pixel is the average of the
// source area it covers, each source pixel weighted by how much of it lies
// inside (a box filter over exact areas), so a reduced morph keeps its
// detail as averages instead of the aliasing of a nearest-pixel pick.
// Enlarging works the same way and blends only where a source pixel's edge
// falls inside an output pixel.
#include <optional>
#include <string>
#include <vector>

#include "platform/gdi.h"

namespace tarnel {

// A requested size: "WxH", "Wx" or "xH"; 0 for the side left to the
// proportions.
struct FrameSizeRequest {
    int width = 0, height = 0;
    bool empty() const { return width == 0 && height == 0; }
};

// Nothing when the text is not one of those forms or a side is outside
// 1..Bitmap's limit.
std::optional<FrameSizeRequest> ParseFrameSize(const std::string& text);

// The size for frames of sourceWidth x sourceHeight: a missing side follows
// the proportions, rounded to the nearest pixel and at least 1. An empty
// request keeps the source size.
void ResolveFrameSize(const FrameSizeRequest& request, int sourceWidth, int sourceHeight, int& width, int& height);

// `source` (24 or 32 bpp) averaged onto `out`, made 32 bpp top-down of
// width x height (alpha 0). False when the sizes are out of range or memory
// runs out.
bool AreaResize(const Bitmap& source, int width, int height, Bitmap& out);

// The weights of one axis, made once for a whole animation.
class AreaResizer {
public:
    bool Prepare(int sourceWidth, int sourceHeight, int width, int height);
    // `source` must have the prepared size.
    bool Resize(const Bitmap& source, Bitmap& out) const;

private:
    struct Tap {
        int first = 0;  // the first source index of the output index
        int count = 0;  // source indices it covers
        int offset = 0; // into weights_
    };
    struct Axis {
        std::vector<Tap> taps;
        std::vector<float> weights;
    };
    static void MakeAxis(int from, int to, Axis& axis);
    int sourceWidth_ = 0, sourceHeight_ = 0, width_ = 0, height_ = 0;
    Axis x_, y_;
};

}  // namespace tarnel
