// The editor window: automatic placement of the end mesh.
#include <string>

#include "core/align/MeshAlign.h"
#include "editor/ui/Tarnel_M.h"
#include "editor/ui/WaitCursor.h"
#include "platform/Dialogs.h"

namespace tarnel {

namespace {

constexpr const char* kTooLittleInCommon = "共通する特徴が少なすぎます";
constexpr const char* kCannotAlign = "自動配置できません";

// The second line of a refusal, in the user's words.
std::string reasonOf(const AlignResult& result) {
    switch (result.status) {
        case AlignResult::Status::TooFewMatches:
            return std::string(kTooLittleInCommon) + "\n(一致した特徴: " + std::to_string(result.matches) + " / 必要: " +
                   std::to_string(result.requiredMatches) + ")";
        case AlignResult::Status::Invalid: return kSizeMismatchMessage;
        case AlignResult::Status::Failed:
        case AlignResult::Status::Aligned: break;
    }
    return std::string(kCannotAlign) + "\n" + result.error;
}

}  // namespace

bool Tarnel_M::AutoAlign() {
    if (running_ || meshEditor.dragging() || !images.bothLoaded()) return false;
    const Bitmap* start = images.RunPicture(0);
    const Bitmap* end = images.RunPicture(1);
    if (CheckRunPreconditions(images.ImagePath[0], images.ImagePath[1], start, end) == RunPrecondition::SizeMismatch) {
        Dialogs().messageBox(kSizeMismatchMessage, MsgIcon::Information, MsgButtons::OK, kAppTitle);
        return false;
    }
    // What the user moved since the last placement (or since the default
    // placement) stays and counts as a correspondence.
    const MeshGrid& endMesh = mesh.EndMesh;
    const bool placedBefore =
        alignedEnd_.rows() == endMesh.rows() && alignedEnd_.columns() == endMesh.columns();
    const MeshGrid reference =
        placedBefore ? alignedEnd_ : DefaultMesh(endMesh.rows(), endMesh.columns(), end->width(), end->height());
    AlignRequest request;
    request.start = start;
    request.end = end;
    request.startMesh = &mesh.StartMesh;
    request.endMesh = &endMesh;
    request.keep = PointsMovedSince(reference, endMesh);
    AlignResult result;
    {
        WaitCursor hourglass;
        result = AlignMesh(request);
    }
    if (!result.ok()) {
        Dialogs().messageBox(reasonOf(result), MsgIcon::Exclamation, MsgButtons::OK, kAppTitle);
        return false;
    }
    {
        EditScope edit(*this);
        mesh.EndMesh = result.end;
    }
    alignedEnd_ = std::move(result.end);
    alignConfidence_ = std::move(result.confidence);
    Refresh_Mesh(1);
    return true;
}

std::vector<bool> Tarnel_M::pointsToCheck() const {
    const MeshGrid& endMesh = mesh.EndMesh;
    std::vector<bool> check(endMesh.points().size(), false);
    if (alignedEnd_.rows() != endMesh.rows() || alignedEnd_.columns() != endMesh.columns() ||
        alignConfidence_.size() != check.size())
        return check;
    const std::vector<bool> moved = PointsMovedSince(alignedEnd_, endMesh);
    for (size_t k = 0; k < check.size(); ++k) check[k] = !moved[k] && alignConfidence_[k] < kLowAlignConfidence;
    return check;
}

}  // namespace tarnel
