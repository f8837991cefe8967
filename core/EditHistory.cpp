#include "core/EditHistory.h"

#include <unordered_set>
#include <utility>

namespace tarnel {

bool EditorState::sameSource(int i, const EditorState& o) const {
    const auto& a = sources[size_t(i)];
    const auto& b = o.sources[size_t(i)];
    if (a == b) return true;
    if (!a || !b) return false;
    return a->samePicture(*b);
}

bool EditorState::sameHidden(const EditorState& o) const {
    if (pair != o.pair || hidden.size() != o.hidden.size()) return false;
    for (size_t k = 0; k < hidden.size(); ++k) {
        const auto& a = hidden[k].source;
        const auto& b = o.hidden[k].source;
        if (a != b && (!a || !b || !a->samePicture(*b))) return false;
        if (!(hidden[k].mesh == o.hidden[k].mesh)) return false;
    }
    return true;
}

EditHistory::EditHistory(size_t maxSteps, size_t maxPictureBytes)
    : maxSteps_(maxSteps < 1 ? 1 : maxSteps), maxPictureBytes_(maxPictureBytes) {}

void EditHistory::record(EditorState before, const EditorState& after) {
    if (before == after) return;
    undo_.push_back(std::move(before));
    redo_.clear();
    trim();
}

std::optional<EditorState> EditHistory::undo(EditorState current) {
    if (undo_.empty()) return std::nullopt;
    EditorState back = std::move(undo_.back());
    undo_.pop_back();
    redo_.push_back(std::move(current));
    return back;
}

std::optional<EditorState> EditHistory::redo(EditorState current) {
    if (redo_.empty()) return std::nullopt;
    EditorState forward = std::move(redo_.back());
    redo_.pop_back();
    undo_.push_back(std::move(current));
    return forward;
}

void EditHistory::clear() {
    undo_.clear();
    redo_.clear();
}

size_t EditHistory::pictureBytes() const {
    std::unordered_set<const Bitmap*> seen;
    size_t bytes = 0;
    auto count = [&](const StdPicture& p) {
        if (p.isBitmap() && seen.insert(p.bitmap.get()).second)
            bytes += size_t(p.bitmap->width()) * size_t(p.bitmap->height()) * 4;
    };
    for (const auto* stack : {&undo_, &redo_})
        for (const EditorState& s : *stack) {
            for (const auto& source : s.sources)
                if (source) {
                    count(source->picture);
                    count(source->workingCopy);
                }
            for (const HiddenKey& key : s.hidden)
                if (key.source) {
                    count(key.source->picture);
                    count(key.source->workingCopy);
                }
        }
    return bytes;
}

void EditHistory::trim() {
    while (undo_.size() > maxSteps_) undo_.pop_front();
    while (undo_.size() > 1 && pictureBytes() > maxPictureBytes_) undo_.pop_front();
}

}  // namespace tarnel
