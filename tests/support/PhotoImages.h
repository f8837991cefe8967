#pragma once
// Photo-like 32-bpp pictures made in code for the palette tests, and the
// fidelity of an 8-bpp reduction of them.
#include <cstdint>
#include <string>

#include "imaging/GcDIB.h"

namespace tarnel::test {

enum class Photo {
    Landscape,  // sky gradient over textured hills, with grain
    Plasma,     // smooth random colour fields at several scales
    Portrait,   // a skin-toned blob on a dark cloth, soft shading
    Stripes,    // saturated bands with a fine blue texture
};

const char* photoName(Photo kind);
GcDIB makePhoto(Photo kind, int w, int h, uint32_t seed = 1);

// PSNR in dB over red, green and blue of an 8-bpp surface (through its colour
// table) against the 32-bpp source it was reduced from; 99 when equal.
double Psnr(const GcDIB& source32, const GcDIB& reduced8);

}  // namespace tarnel::test
