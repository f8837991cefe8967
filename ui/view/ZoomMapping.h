#pragma once
// How a picture shown at a zoom maps to the screen: image coordinate k is the
// centre of image pixel k, screen coordinate s the centre of screen pixel s,
// and image pixel k covers the screen pixels from k * zoom up to
// (k + 1) * zoom. At zoom 1 both mappings are the identity.

namespace tarnel {

// Screen pixels of an image length at a zoom: at least 1, exact at 1.
int ZoomedLength(int length, double zoom);
double ImageToScreen(double image, double zoom);
double ScreenToImage(double screen, double zoom);

}  // namespace tarnel
