#pragma once
// Single frames of a morph for a live preview: the two pictures and meshes
// as the editor holds them, rendered at any t in 0..1 through the warp
// engine. At full size the frame at t = k / N is the run's frame k, pixel for
// pixel; at a reduced size the meshes are scaled and the sources are
// downscaled copies, kept until the pictures or the size change. Buffers
// live from one render to the next; a render allocates only when a size, the
// sources or a mesh changed. One renderer serves one thread at a time.
#include <vector>

#include "core/Mesh.h"
#include "core/warp/Warp.h"
#include "platform/Picture.h"

namespace tarnel {

struct FrameSize {
    int width = 0, height = 0;
    friend bool operator==(const FrameSize&, const FrameSize&) = default;
};

// width x height shrunk to fit within maxWidth x maxHeight with its aspect
// kept, never enlarged, each side at least 1. {0, 0} for an empty size.
FrameSize FitFrameSize(int width, int height, int maxWidth, int maxHeight);

// A box-filtered copy of `source` at width x height (no larger than the
// source): each target pixel is the mean of the source pixels it covers,
// rounded to nearest. False for an empty source or a size of 0.
bool DownscalePixels(const PixelArray& source, int width, int height, PixelArray& target);

class PreviewRender {
public:
    // Reads both pictures as the run reads them (a 32-bpp copy of
    // the picture, top byte cleared). False when either holds no bitmap or
    // memory runs out; the renderer then has no sources.
    bool setSources(const StdPicture& start, const StdPicture& end);
    void clearSources();
    bool hasSources() const { return !start_.empty() && !end_.empty(); }
    // The full frame size: the start picture's, as the run's frame canvas.
    FrameSize fullSize() const { return {start_.width(), start_.height()}; }

    // Renders the frame at t (limited to 0..1) for the two meshes into
    // `frame`, which takes the given size (32 bpp, re-created only when its
    // size or depth differs). The full size renders exactly what the run
    // renders; a smaller size scales both meshes by size / full size. The
    // background where no triangle reaches is black, as on the run's frame
    // canvas. False, frame untouched, without sources, for empty meshes or
    // meshes of different grids, or a size of 0 or above the full size.
    bool render(const MeshGrid& startMesh, const MeshGrid& endMesh, double t, FrameSize size, Bitmap& frame);
    bool renderFull(const MeshGrid& startMesh, const MeshGrid& endMesh, double t, Bitmap& frame) {
        return render(startMesh, endMesh, t, fullSize(), frame);
    }

private:
    bool prepareSources(FrameSize size);
    bool prepareTriangles(const MeshGrid& startMesh, const MeshGrid& endMesh, FrameSize size);

    PixelArray start_, end_;
    // Downscaled sources for reducedSize_.
    PixelArray reducedStart_, reducedEnd_;
    FrameSize reducedSize_;
    // Triangle lists for the meshes and size they were built from.
    MeshGrid builtStart_, builtEnd_;
    FrameSize builtSize_;
    bool trianglesValid_ = false;
    MeshGrid scaled_;
    std::vector<MeshTriangle> startTriangles_, endTriangles_, mid_;
};

}  // namespace tarnel
