#pragma once
// The picture object: a reference-counted bitmap, as the picture loader
// returns it and as pictures are handed between windows and surfaces.
#include <memory>

#include "platform/gdi.h"

namespace tarnel {

struct StdPicture {
    std::shared_ptr<Bitmap> bitmap;

    bool isBitmap() const { return bitmap && !bitmap->empty(); }
    int width() const { return isBitmap() ? bitmap->width() : 0; }
    int height() const { return isBitmap() ? bitmap->height() : 0; }
};

}  // namespace tarnel
