#pragma once
// The picture-box model behind the canvases: a picture (what was loaded or
// assigned) and a persistent image (the picture plus whatever was drawn on
// it). Cls puts the picture back into the image. Drawing, saving and pixel
// reads act on the image. The widget that shows a box only paints the image.
#include <memory>

#include "platform/Picture.h"
#include "platform/gdi.h"

namespace tarnel {

class PictureBox {
public:
    PictureBox();

    // picture := p; the box takes the picture's size (auto-size) and its
    // image becomes a 32-bpp copy of the picture. An empty picture clears the
    // picture and fills the image with the background colour.
    void setPicture(const StdPicture& p);
    const StdPicture& picture() const { return picture_; }
    bool hasPicture() const { return picture_.isBitmap(); }

    // The persistent image, 32 bpp, top-down; empty while the box is 0 x 0.
    Bitmap& image() { return *image_; }
    const Bitmap& image() const { return *image_; }
    HDC hDC() { return &dc_; }
    // A picture holding a copy of the current image (the box's Image property).
    StdPicture imagePicture() const;
    // picture := a copy of the image; the image, already equal to it, stays.
    void setPictureFromImage();

    // image := picture, or the background colour where there is none.
    void Cls();
    // Resizes the box (and its image) without a picture: the image is
    // re-created at the new size and filled with the background colour.
    void resize(int width, int height);

    int scaleWidth() const { return width_; }
    int scaleHeight() const { return height_; }
    ColorRef backColor = RGBColor(0, 0, 0);

private:
    void rebuildImage();

    StdPicture picture_;
    std::shared_ptr<Bitmap> image_;
    DC dc_;
    int width_ = 0, height_ = 0;
};

}  // namespace tarnel
