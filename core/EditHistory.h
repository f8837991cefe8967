#pragma once
// Undo and redo for the editor: each step keeps the whole editing state as it
// was before a change (both meshes with their grid, and both source pictures
// with what belongs to them). Pictures are shared between steps, so a point
// drag costs only the meshes; a step that changed a picture holds that picture
// until the step is dropped.
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Mesh.h"
#include "platform/Picture.h"

namespace tarnel {

// One source image as the editor holds it.
struct SourceState {
    StdPicture picture;      // what the canvas shows (empty: not loaded)
    StdPicture workingCopy;  // what the working copy file holds
    std::string path;        // the file it was loaded from ("" while not loaded)
    int32_t width = 0, height = 0;  // ImgW, ImgH
    std::string sizeLabel, sizeLabelS;
    bool preparable = false;  // trimming and reduction allowed (not after a synchronisation)
    bool prepared = false;    // trimmed, reduced or cut since it was loaded: no longer the file's picture

    bool samePicture(const SourceState& o) const {
        return picture.bitmap == o.picture.bitmap && path == o.path && workingCopy.bitmap == o.workingCopy.bitmap &&
               preparable == o.preparable && prepared == o.prepared;
    }
};

// A key picture of a chain that the views do not show, with its mesh.
struct HiddenKey {
    std::shared_ptr<const SourceState> source;
    MeshGrid mesh;
};

struct EditorState {
    int rows = 0, columns = 0;
    MeshGrid start, end;
    std::array<std::shared_ptr<const SourceState>, 2> sources;
    // A chain of three or more keys: the keys the views do not show, in
    // order, with the shown pair (sources, start and end) as keys `pair` and
    // `pair + 1` of the chain. Empty with two keys.
    std::vector<HiddenKey> hidden;
    int pair = 0;

    bool sameMeshes(const EditorState& o) const {
        return rows == o.rows && columns == o.columns && start == o.start && end == o.end;
    }
    bool sameSource(int i, const EditorState& o) const;
    bool sameHidden(const EditorState& o) const;
    bool operator==(const EditorState& o) const {
        return sameMeshes(o) && sameSource(0, o) && sameSource(1, o) && sameHidden(o);
    }
};

class EditHistory {
public:
    // At most `maxSteps` undo steps; the oldest are also dropped while the
    // distinct pictures of all steps take more than `maxPictureBytes` (one
    // step is always kept).
    explicit EditHistory(size_t maxSteps = 200, size_t maxPictureBytes = size_t(768) << 20);

    // `before` is the state an edit started from; the redo steps go. A step
    // equal to the state after it (`after`) is not recorded.
    void record(EditorState before, const EditorState& after);
    // The state to return to, with `current` kept for redo; nothing when
    // there is nothing to undo.
    std::optional<EditorState> undo(EditorState current);
    std::optional<EditorState> redo(EditorState current);

    bool canUndo() const { return !undo_.empty(); }
    bool canRedo() const { return !redo_.empty(); }
    size_t undoCount() const { return undo_.size(); }
    size_t redoCount() const { return redo_.size(); }
    void clear();

    // Bytes of the distinct pictures the steps hold.
    size_t pictureBytes() const;

private:
    void trim();

    size_t maxSteps_, maxPictureBytes_;
    std::deque<EditorState> undo_, redo_;
};

}  // namespace tarnel
