#pragma once
// The smallest coding of a frame some of whose pixels may be written either as
// they are or as the frame's transparent index, because their colour already
// shows beneath. Which ones become transparent changes the LZW data a lot: a
// run of one index codes short, but so does a repeat of strings the table
// already holds. The coder walks the frame in coding order as the encoder
// will, and at each such pixel takes the value that lets the current string
// grow longest in a model of the encoder's table; then it codes the frame
// three ways (as it is, every such pixel transparent, and the walk's choice)
// and keeps the shortest data.
#include <cstdint>
#include <vector>

#include "imaging/GcDIB.h"

namespace tarnel {

struct GifDeltaCoding {
    std::vector<uint8_t> data;  // the LZW sub-blocks written (GifLzwSequence.h)
    int codeSize = 0;           // the data's minimum code size
    int transparent = -1;       // the transparent index of the data; -1: `plain` as it is
};

// `unchanged`, when given, is an 8-bpp mask of `plain`'s size, non-zero
// where the pixel's colour already shows beneath it. `transparent` is the
// frame's own transparent index (`ownIndex`), or an index the frame leaves
// unused, or -1 when it uses them all; without its own, the frame may also
// take an index all of whose pixels may become transparent. `interlaced` as
// the frame is written. The code size is the smallest that holds the pixels
// written.
GifDeltaCoding CodeSmallestDelta(const GcDIB& plain, const GcDIB* unchanged, int transparent, bool ownIndex,
                                 bool interlaced);

}  // namespace tarnel
