// The container's frames, comments and properties, and drawing. Reading
// lives in cGifRead.cpp, writing in cGifWrite.cpp.
#include "imaging/gif/cGif.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "platform/RuntimeError.h"

namespace tarnel {

namespace {

// Nearest integer, ties to even; the overflow error when it does not fit.
int32_t roundToLong(double v) {
    double r = std::nearbyint(v);
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) raiseOverflow();
    return int32_t(r);
}

void setMaskColours(GcDIB& mask) {
    if (mask.BPP() != 1) return;
    mask.SetPalette({0, 0, 0, 0, 255, 255, 255, 0});
}

}  // namespace

void cGif::Destroy() {
    signature_.clear();
    version_.clear();
    screenWidth_ = screenHeight_ = 0;
    screenFlags_ = background_ = aspect_ = 0;
    globalPalette_.fill(0);
    globalExists_ = globalSorted_ = false;
    globalEntries_ = 0;
    loops_ = 0;
    frames_.clear();
    controls_.assign(1, ControlRecord{});
    comments_.clear();
    initialised_ = true;
}

// ---------------------------------------------------------------- indices

cGif::FrameRecord& cGif::frame(int nFrame) {
    if (nFrame < 1 || size_t(nFrame) > frames_.size()) raiseSubscript();
    return *frames_[size_t(nFrame) - 1];
}

const cGif::FrameRecord& cGif::frame(int nFrame) const {
    if (nFrame < 1 || size_t(nFrame) > frames_.size()) raiseSubscript();
    return *frames_[size_t(nFrame) - 1];
}

cGif::ControlRecord& cGif::control(int nFrame) {
    if (nFrame < 1 || size_t(nFrame) > frames_.size()) raiseSubscript();
    return controls_[size_t(nFrame) - 1];
}

const cGif::ControlRecord& cGif::control(int nFrame) const {
    if (nFrame < 1 || size_t(nFrame) > frames_.size()) raiseSubscript();
    return controls_[size_t(nFrame) - 1];
}

void cGif::checkComment(int nComment) const {
    if (nComment < 1 || size_t(nComment) > comments_.size()) raiseSubscript();
}

// ---------------------------------------------------------------- properties

float cGif::ScreenPixelAspectRatio() const { return float(aspect_ + 15) / 64.0f; }

void cGif::SetScreenPixelAspectRatio(float v) {
    float byteValue = std::nearbyint(v * 64.0f - 15.0f);
    if (!(byteValue >= 0.0f && byteValue <= 255.0f)) raiseOverflow();
    aspect_ = uint8_t(byteValue);
}

ColorRef cGif::GlobalPaletteRGBEntry(int nEntry) const {
    if (nEntry < 0 || nEntry > 255) raiseSubscript();
    if (!globalExists_) return 0;
    const uint8_t* q = globalPalette_.data() + 4 * nEntry;
    return RGBColor(q[2], q[1], q[0]);
}

ColorRef cGif::LocalPaletteRGBEntry(int nFrame, int nEntry) const {
    const FrameRecord& f = frame(nFrame);
    if (nEntry < 0 || nEntry > 255) raiseSubscript();
    const uint8_t* q = f.Palette.data() + 4 * nEntry;
    return RGBColor(q[2], q[1], q[0]);
}

const std::string& cGif::Comment(int nComment) const {
    checkComment(nComment);
    return comments_[size_t(nComment) - 1];
}

void cGif::SetComment(int nComment, const std::string& text) {
    checkComment(nComment);
    comments_[size_t(nComment) - 1] = text;
}

// ---------------------------------------------------------------- drawing

void cGif::FrameDraw(HDC hDC, int nFrame, int32_t Left, int32_t Top, float ScaleFactor, bool ScreenCrop) const {
    const FrameRecord& f = frame(nFrame);
    const ControlRecord& c = control(nFrame);
    int32_t w = f.XOR.Width(), h = f.XOR.Height();
    if (ScreenCrop) {
        if (f.FrameLeft + w > screenWidth_) w = screenWidth_ - f.FrameLeft;
        if (f.FrameTop + h > screenHeight_) h = screenHeight_ - f.FrameTop;
        if (w < 0) w = 0;
        if (h < 0) h = 0;
    }
    int32_t x = roundToLong(double(ScaleFactor * float(f.FrameLeft)) + Left);
    int32_t y = roundToLong(double(ScaleFactor * float(f.FrameTop)) + Top);
    int32_t dw = roundToLong(double(ScaleFactor) * w);
    int32_t dh = roundToLong(double(ScaleFactor) * h);
    // A zero-sized source would mean "whole surface" to Stretch.
    if (w == 0 || h == 0) return;
    if (c.FrameUseTransparentColor) {
        f.AND.Stretch(hDC, x, y, dw, dh, 0, 0, w, h, SRCAND);
        f.XOR.Stretch(hDC, x, y, dw, dh, 0, 0, w, h, SRCPAINT);
    } else {
        f.XOR.Stretch(hDC, x, y, dw, dh, 0, 0, w, h, SRCCOPY);
    }
}

void cGif::applyMask(FrameRecord& f, const ControlRecord& c, uint8_t TransparentColorIndex) {
    GcDIB& xorImage = f.XOR;
    GcDIB& mask = f.AND;
    std::vector<uint8_t> palette(f.Palette.begin(), f.Palette.end());
    setMaskColours(mask);
    if (c.FrameUseTransparentColor && xorImage.BPP() == 8 && mask.BPP() == 1) {
        // Mask bit 1 exactly where the pixel is the transparent index; only
        // the part both surfaces cover is touched, as a block transfer would.
        const int w = std::min(xorImage.Width(), mask.Width());
        const int h = std::min(xorImage.Height(), mask.Height());
        const uint8_t t = TransparentColorIndex;
        for (int y = 0; y < h; ++y) {
            const uint8_t* s = xorImage.bitmap()->scanline(y);
            uint8_t* m = mask.bitmap()->scanline(y);
            int x = 0;
            for (; x + 8 <= w; x += 8) {
                uint8_t bits = 0;
                for (int k = 0; k < 8; ++k) bits = uint8_t(bits | (uint8_t(s[x + k] == t) << (7 - k)));
                m[x >> 3] = bits;
            }
            for (; x < w; ++x) {
                uint8_t bit = uint8_t(0x80u >> (x & 7));
                m[x >> 3] = s[x] == t ? uint8_t(m[x >> 3] | bit) : uint8_t(m[x >> 3] & ~bit);
            }
        }
    } else if (!mask.empty()) {
        std::memset(mask.lpBits(), 0, size_t(mask.Size()));
    }
    if (c.FrameUseTransparentColor) {
        size_t at = size_t(TransparentColorIndex) * 4;
        palette[at] = palette[at + 1] = palette[at + 2] = 0;
    }
    xorImage.SetPalette(palette);
}

void cGif::FrameMask(int nFrame, uint8_t TransparentColorIndex) {
    applyMask(frame(nFrame), control(nFrame), TransparentColorIndex);
}

// ---------------------------------------------------------------- frames and comments

bool cGif::FrameInsert(int nFrame, int32_t Width, int32_t Height) {
    const int oldCount = int(frames_.size());
    if (oldCount > 0 && nFrame < 1) raiseSubscript();
    if (oldCount >= kMaxGifFrames) raiseOverflow();
    auto f = std::make_unique<FrameRecord>();
    if (!f->XOR.Create(Width, Height, 8) || !f->AND.Create(Width, Height, 1)) return false;
    setMaskColours(f->AND);
    if (!initialised_) Destroy();
    controls_.resize(size_t(oldCount));  // drops the empty element, or records left over from a load
    controls_.push_back(ControlRecord{});
    frames_.push_back(std::move(f));
    if (oldCount == 0) {
        screenWidth_ = int16_t(Width);
        screenHeight_ = int16_t(Height);
    } else {
        for (int i = oldCount; i >= nFrame; --i) FrameMoveDown(i);
    }
    return true;
}

void cGif::FrameRemove(int nFrame) {
    frame(nFrame);  // range check
    frames_.erase(frames_.begin() + (nFrame - 1));
    controls_.erase(controls_.begin() + (nFrame - 1));
    if (frames_.empty()) controls_.assign(1, ControlRecord{});
}

void cGif::FrameMoveUp(int nFrame) {
    frame(nFrame);
    frame(nFrame - 1);
    std::swap(frames_[size_t(nFrame) - 1], frames_[size_t(nFrame) - 2]);
    std::swap(controls_[size_t(nFrame) - 1], controls_[size_t(nFrame) - 2]);
}

void cGif::FrameMoveDown(int nFrame) {
    frame(nFrame);
    frame(nFrame + 1);
    std::swap(frames_[size_t(nFrame) - 1], frames_[size_t(nFrame)]);
    std::swap(controls_[size_t(nFrame) - 1], controls_[size_t(nFrame)]);
}

void cGif::CommentAdd() {
    if (comments_.size() >= 32767) raiseOverflow();
    comments_.emplace_back();
}

void cGif::CommentRemove(int nComment) {
    checkComment(nComment);
    comments_.erase(comments_.begin() + (nComment - 1));
}

}  // namespace tarnel
