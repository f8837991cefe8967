#pragma once
// Automatic placement of the end mesh: every inner point of the end mesh goes
// to the feature of the end picture that matches what its start point covers.
// A global fit on matched features takes the large motion, dense optical flow
// the local one; points whose flow does not agree forward and backward are
// filled from reliable neighbours, and the result never turns a triangle over.
#include <string>
#include <vector>

#include "core/Mesh.h"
#include "platform/gdi.h"

namespace tarnel {

struct AlignRequest {
    // The two prepared pictures, of one size.
    const Bitmap* start = nullptr;
    const Bitmap* end = nullptr;
    const MeshGrid* startMesh = nullptr;
    // The end mesh as it stands: its border points and the points in `keep`
    // stay where they are.
    const MeshGrid* endMesh = nullptr;
    // Per point, flat index of the mesh: placed by hand, kept, and taken as a
    // correspondence for its neighbourhood. Empty: none.
    std::vector<bool> keep;
};

struct AlignResult {
    enum class Status {
        Aligned,
        TooFewMatches,  // the pictures have too little in common
        Invalid,        // no pictures, sizes or meshes that differ
        Failed,         // a fit that cannot be used, or no fold-free placement
    };
    Status status = Status::Failed;
    MeshGrid end;  // the aligned end mesh; a copy of the request's when not aligned
    // Per point, flat index: 0 (a guess filled from neighbours) to 1 (the
    // pictures agree there). Kept and border points are 1.
    std::vector<float> confidence;
    int matches = 0;          // consistent feature matches found
    int requiredMatches = 0;  // the fewest that are accepted
    std::string error;        // English, for the command line and logs

    bool ok() const { return status == Status::Aligned; }
};

// A point below this is drawn as one to check.
inline constexpr float kLowAlignConfidence = 0.5f;

// True for the points alignment moves: neither the outer ring nor the border.
inline bool IsInnerMeshPoint(const MeshGrid& mesh, int i, int j) {
    return i >= 2 && j >= 2 && i <= mesh.rows() && j <= mesh.columns();
}

AlignResult AlignMesh(const AlignRequest& request);

// Per point, flat index: the points of `current` that differ from
// `reference` (the last aligned or default end mesh) by more than a hundredth
// of a pixel, i.e. what the user moved since.
std::vector<bool> PointsMovedSince(const MeshGrid& reference, const MeshGrid& current);

}  // namespace tarnel
