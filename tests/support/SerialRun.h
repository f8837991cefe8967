#pragma once
// The morph run's frames made the one-frame-at-a-time way, on one canvas:
// clear, warp, save through the picture saver, the BMP-to-JPEG converter or
// the GIF writer. Runs held to it must give the same files.
#include <string>

#include "core/MorphRun.h"

namespace tarnel::test {

// Writes frames 0..request.totalFrames of `request` into `folder` (which must
// exist), named as a run names them. Returns false at the first frame that
// cannot be saved. Its canvases are picture boxes of its own: the pictures
// put on them, the frame canvas in request.background.
bool WriteSerialFrames(const MorphRunRequest& request, const std::string& folder);

}  // namespace tarnel::test
