#pragma once
// Where a window built around a picture goes on the screen. A picture whose
// window fits the screen's free area keeps its window exactly; a larger one
// is shown smaller, in its own proportions, so that the whole window (title,
// exit image, controls) stays in the free area. Plain arithmetic: the
// windows hand in the screen and its free area.

namespace tarnel {

struct ScreenRect {
    int left = 0, top = 0, width = 0, height = 0;

    int right() const { return left + width; }    // one past the last column
    int bottom() const { return top + height; }  // one past the last row
    bool contains(const ScreenRect& r) const {
        return r.left >= left && r.top >= top && r.right() <= right() && r.bottom() <= bottom();
    }
    bool operator==(const ScreenRect&) const = default;
};

// What a window adds around its picture (skin, title strip, control rows),
// and the least size of the window.
struct WindowMargins {
    int extraWidth = 0, extraHeight = 0;
    int minWidth = 0, minHeight = 0;
};

struct FittedWindow {
    double scale = 1.0;                      // shown picture / picture; 1 when it fits
    int pictureWidth = 0, pictureHeight = 0;  // the picture as shown
    ScreenRect window;
};

// A window of w x h: centred on the screen (halves truncated) and, where that
// reaches under a panel or off the free area, moved into it; left and top
// edges win when it is larger than the free area, so its title stays reachable.
ScreenRect PlaceWindow(int width, int height, const ScreenRect& screen, const ScreenRect& available);

// The window around a picture of w x h pixels, its picture made smaller where
// the window would not fit the free area; the smaller window is centred in it.
FittedWindow FitPictureWindow(int pictureWidth, int pictureHeight, const WindowMargins& margins,
                              const ScreenRect& screen, const ScreenRect& available);

// A tool window beside its owner: the largest part of the free area to the
// right of, left of, below or above the owner (that order on ties), and
// where the owner should move first so that this part is at least
// `wantWidth` wide: to the free area's left edge when the part to its right
// is too narrow and moving makes it wider. The owner stays where it is
// otherwise (ownerAt == owner).
struct BesidePlacement {
    ScreenRect region;  // empty when the owner covers the whole free area
    ScreenRect ownerAt;
};
BesidePlacement PlaceBeside(const ScreenRect& owner, const ScreenRect& available, int wantWidth);

}  // namespace tarnel
