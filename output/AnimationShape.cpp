#include "output/AnimationShape.h"

#include <utility>

namespace tarnel {

std::vector<int32_t> PlayOrder(int32_t count, bool pingpong) {
    std::vector<int32_t> order;
    if (count <= 0) return order;
    order.reserve(size_t(pingpong ? 2 * count : count));
    for (int32_t i = 0; i < count; ++i) order.push_back(i);
    if (pingpong)
        for (int32_t i = count - 2; i >= 1; --i) order.push_back(i);
    return order;
}

bool ShapedFrameSource::Open(FrameSource& inner, const AnimationShape& shape, std::string* error) {
    inner_ = &inner;
    order_ = PlayOrder(inner.Count(), shape.pingpong);
    ResolveFrameSize(shape.size, inner.Width(), inner.Height(), width_, height_);
    resized_ = width_ != inner.Width() || height_ != inner.Height();
    if (resized_ && !resizer_.Prepare(inner.Width(), inner.Height(), width_, height_)) {
        if (error)
            *error = "cannot make frames of " + std::to_string(width_) + "x" + std::to_string(height_) + " from " +
                     std::to_string(inner.Width()) + "x" + std::to_string(inner.Height());
        return false;
    }
    return true;
}

bool ShapedFrameSource::shape(Bitmap& frame, std::string* error) {
    if (!resized_) return true;
    if (!resizer_.Resize(frame, scratch_)) {
        if (error) *error = "cannot resize a frame (out of memory?)";
        return false;
    }
    std::swap(frame, scratch_);
    return true;
}

bool ShapedFrameSource::Frame(int32_t index, Bitmap& out, std::string* error) {
    if (index < 0 || index >= Count()) {
        if (error) *error = "no frame " + std::to_string(index);
        return false;
    }
    return inner_->Frame(order_[size_t(index)], out, error) && shape(out, error);
}

class ShapedStream : public FrameStream {
public:
    ShapedStream(ShapedFrameSource& source, std::unique_ptr<FrameStream> inner)
        : source_(source), inner_(std::move(inner)) {}
    bool Next(Bitmap& out, std::string* error) override {
        return inner_->Next(out, error) && source_.shape(out, error);
    }

private:
    ShapedFrameSource& source_;
    std::unique_ptr<FrameStream> inner_;
};

std::unique_ptr<FrameStream> ShapedFrameSource::InOrder() {
    // Forward only: the source's own stream (it may decode ahead). Going
    // back needs its frames by number.
    if (order_.size() == size_t(inner_->Count())) return std::make_unique<ShapedStream>(*this, inner_->InOrder());
    return FrameSource::InOrder();
}

std::string ShapedFrameSource::TooManyFrames() const { return inner_->TooManyFrames(); }

uint64_t ShapedFrameSource::WorkingBytes() const {
    uint64_t bytes = inner_->WorkingBytes();
    // The resize's output surface and its rows of floats.
    if (resized_)
        bytes += uint64_t(width_) * uint64_t(height_) * 4 + uint64_t(width_) * 3 * 4 * uint64_t(inner_->Height());
    return bytes;
}

}  // namespace tarnel
