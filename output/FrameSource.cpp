#include "output/FrameSource.h"

namespace tarnel {

namespace {

class SequentialFrames : public FrameStream {
public:
    explicit SequentialFrames(FrameSource& source) : source_(source) {}
    bool Next(Bitmap& out, std::string* error) override { return source_.Frame(next_++, out, error); }

private:
    FrameSource& source_;
    int32_t next_ = 0;
};

}  // namespace

std::unique_ptr<FrameStream> FrameSource::InOrder() { return std::make_unique<SequentialFrames>(*this); }

}  // namespace tarnel
