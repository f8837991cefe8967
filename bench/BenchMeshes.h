#pragma once
// Meshes as a user leaves them, for the benchmarks.
#include <cstdint>
#include <random>

#include "core/Mesh.h"

namespace tarnel::bench {

// A cells x cells mesh over w x h whose points in rows and columns
// from..count-1-toEnd are moved by up to 30 % of a cell, as a user's drags would.
inline MeshGrid DraggedMesh(int cells, int w, int h, uint32_t seed, int from = 1, int toEnd = 0) {
    MeshGrid mesh = DefaultMesh(cells, cells, w, h);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dx(-0.3f * float(w) / float(cells), 0.3f * float(w) / float(cells));
    std::uniform_real_distribution<float> dy(-0.3f * float(h) / float(cells), 0.3f * float(h) / float(cells));
    for (int j = from; j < mesh.countJ() - toEnd; ++j)
        for (int i = from; i < mesh.countI() - toEnd; ++i) mesh(i, j).x += dx(rng), mesh(i, j).y += dy(rng);
    return mesh;
}

}  // namespace tarnel::bench
