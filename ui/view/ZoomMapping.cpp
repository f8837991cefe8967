#include "ui/view/ZoomMapping.h"

#include <algorithm>
#include <cmath>

namespace tarnel {

int ZoomedLength(int length, double zoom) {
    if (length <= 0) return 0;
    if (zoom == 1.0) return length;
    return std::max(1, int(std::nearbyint(length * zoom)));
}

double ImageToScreen(double image, double zoom) { return zoom == 1.0 ? image : (image + 0.5) * zoom - 0.5; }

double ScreenToImage(double screen, double zoom) { return zoom == 1.0 ? screen : (screen + 0.5) / zoom - 0.5; }

}  // namespace tarnel
