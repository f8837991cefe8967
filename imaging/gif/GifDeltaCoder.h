#pragma once
// The smallest coding of a frame some of whose pixels may be written either as
// they are or as the frame's transparent index, because their colour already
// shows beneath. Which ones become transparent changes the LZW data a lot: a
// run of one index codes short, but so does a repeat of strings the table
// already holds. The coder walks the frame in coding order, coding as it
// goes, and at each such pixel takes the value that lets the current string
// grow longest in its table (a short look-ahead over both values). The frame
// is also coded as it is, with every such pixel transparent, and with runs
// of such pixels transparent where they hold more than one colour. The
// shortest data is coded again with other moments to clear the string table
// (GifLzwSequence.h), and the shortest of all is kept.
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
