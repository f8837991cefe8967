#pragma once
// How an animation is reshaped on its way out, the same for every format:
// played forward then back (a loop without a jump), and reduced to a size by
// area averaging (core/AreaResize.h).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/AreaResize.h"
#include "output/FrameSource.h"

namespace tarnel {

struct AnimationShape {
    bool pingpong = false;
    FrameSizeRequest size;  // empty: the source's size
    bool identity() const { return !pingpong && size.empty(); }
};

// The source frames in the order played: 0..n-1, and with `pingpong` then
// n-2 down to 1, so neither end frame shows twice in a row when it loops.
std::vector<int32_t> PlayOrder(int32_t count, bool pingpong);

// A source seen through a shape: its frames in PlayOrder, each averaged to
// the shape's size (the source's own when that is empty or equal).
class ShapedFrameSource : public FrameSource {
public:
    // False (with the reason) when the size cannot be made.
    bool Open(FrameSource& inner, const AnimationShape& shape, std::string* error = nullptr);
    int32_t Count() const override { return int32_t(order_.size()); }
    int32_t Width() const override { return width_; }
    int32_t Height() const override { return height_; }
    bool Frame(int32_t index, Bitmap& out, std::string* error) override;
    std::unique_ptr<FrameStream> InOrder() override;
    std::string TooManyFrames() const override;
    uint64_t WorkingBytes() const override;
    // The source frame shown as frame `index`.
    int32_t SourceIndex(int32_t index) const { return order_[size_t(index)]; }

private:
    friend class ShapedStream;
    bool shape(Bitmap& frame, std::string* error);
    FrameSource* inner_ = nullptr;
    std::vector<int32_t> order_;
    bool resized_ = false;
    AreaResizer resizer_;
    Bitmap scratch_;
    int32_t width_ = 0, height_ = 0;
};

}  // namespace tarnel
