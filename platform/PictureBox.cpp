#include "platform/PictureBox.h"

namespace tarnel {

PictureBox::PictureBox() : image_(std::make_shared<Bitmap>()) { dc_.select(image_.get()); }

void PictureBox::setPicture(const StdPicture& p) {
    picture_ = p;
    if (picture_.isBitmap()) {
        width_ = picture_.width();
        height_ = picture_.height();
    }
    rebuildImage();
}

void PictureBox::resize(int width, int height) {
    width_ = width > 0 ? width : 0;
    height_ = height > 0 ? height : 0;
    picture_ = StdPicture{};
    rebuildImage();
}

void PictureBox::rebuildImage() {
    if (width_ <= 0 || height_ <= 0 || !image_->create(width_, height_, 32, true)) {
        image_->clear();
        return;
    }
    Cls();
}

void PictureBox::Cls() {
    if (image_->empty()) return;
    FillRect(&dc_, Rect{0, 0, image_->width(), image_->height()}, Brush::solid(backColor));
    if (picture_.isBitmap()) {
        DC src;
        src.select(picture_.bitmap.get());
        BitBlt(&dc_, 0, 0, picture_.width(), picture_.height(), &src, 0, 0, SRCCOPY);
    }
}

void PictureBox::setPictureFromImage() {
    // A picture no one else holds takes the copy in place: a GIF run does
    // this once a frame, and a second frame-sized block each time would
    // cost both the allocation and the memory.
    Bitmap* own = picture_.bitmap.use_count() == 1 ? picture_.bitmap.get() : nullptr;
    if (own && !image_->empty() && own->width() == image_->width() && own->height() == image_->height()) {
        *own = *image_;
        return;
    }
    picture_ = imagePicture();
}

StdPicture PictureBox::imagePicture() const {
    StdPicture p;
    if (image_->empty()) return p;
    p.bitmap = std::make_shared<Bitmap>(*image_);
    return p;
}

}  // namespace tarnel
