// The editor window: automatic placement of the end mesh.
#include <map>
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
    if (keyCount() > 2) return chainAutoAlign();
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

// Every key but the first placed on the one before it, in order, so each
// placement starts from its predecessor's placed mesh; one undo step, and
// nothing changes when any pair is refused.
bool Tarnel_M::chainAutoAlign() {
    std::vector<ChainKey> chain = ChainKeys(captureState());
    auto pictureOf = [&chain](size_t k) {
        const auto& source = chain[k].source;
        return source && source->picture.isBitmap() ? source->picture.bitmap.get() : nullptr;
    };
    for (size_t k = 0; k < chain.size(); ++k) {
        const Bitmap* b = pictureOf(k);
        if (!b || b->width() != pictureOf(0)->width() || b->height() != pictureOf(0)->height()) {
            Dialogs().messageBox(kSizeMismatchMessage, MsgIcon::Information, MsgButtons::OK, kAppTitle);
            return false;
        }
    }
    std::map<const Bitmap*, AlignedKey> aligned;
    {
        WaitCursor hourglass;
        for (size_t k = 1; k < chain.size(); ++k) {
            const Bitmap* end = pictureOf(k);
            MeshGrid& endMesh = chain[k].mesh;
            auto before = chainAligned_.find(end);
            const bool placedBefore = before != chainAligned_.end() && before->second.mesh.rows() == endMesh.rows() &&
                                      before->second.mesh.columns() == endMesh.columns();
            const MeshGrid reference = placedBefore ? before->second.mesh
                                                    : DefaultMesh(endMesh.rows(), endMesh.columns(), end->width(), end->height());
            AlignRequest request;
            request.start = pictureOf(k - 1);
            request.end = end;
            request.startMesh = &chain[k - 1].mesh;
            request.endMesh = &endMesh;
            request.keep = PointsMovedSince(reference, endMesh);
            AlignResult result = AlignMesh(request);
            if (!result.ok()) {
                Dialogs().messageBox(reasonOf(result) + "\n(ｷｰ画像 " + std::to_string(k) + " → " + std::to_string(k + 1) + ")",
                                     MsgIcon::Exclamation, MsgButtons::OK, kAppTitle);
                return false;
            }
            endMesh = result.end;
            aligned[end] = AlignedKey{std::move(result.end), std::move(result.confidence)};
        }
    }
    EditorState target = captureState();
    SetChainKeys(target, std::move(chain), pair_);
    {
        EditScope edit(*this);
        applyState(target);
    }
    chainAligned_ = std::move(aligned);
    showChainAlignment();
    return true;
}

// The rings of the last placement follow the key in the end view.
void Tarnel_M::showChainAlignment() {
    const Bitmap* end = images.RunPicture(1);
    auto it = end ? chainAligned_.find(end) : chainAligned_.end();
    if (it == chainAligned_.end()) {
        alignedEnd_ = MeshGrid();
        alignConfidence_.clear();
    } else {
        alignedEnd_ = it->second.mesh;
        alignConfidence_ = it->second.confidence;
    }
    Refresh_Mesh(1);
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
