// The editor's session file over arbitrary text, read as a start after a
// crash reads it: beside it lie two small pictures and a broken one under the
// names a session uses, and it is found as one left by an editor that no
// longer runs. A refused session leaves the state alone and says
// why; an accepted one holds meshes of the stated size and sides in range,
// and saves into another folder to a session that reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "core/MeshFile.h"
#include "core/ProjectFile.h"
#include "editor/EditorSession.h"
#include "imaging/PictureIO.h"

using namespace tarnel;
using tarnel::fuzz::check;

namespace {

std::vector<uint8_t> bmpOf(int width, int height, uint32_t colour) {
    Bitmap picture;
    check(picture.create(width, height, 32));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) picture.setPixelValue(x, y, colour + uint32_t(x * 0x40 + y * 0x4000));
    std::vector<uint8_t> bytes;
    check(EncodeBmp24(picture, bytes));
    return bytes;
}

// The session's own folder, its pictures made once; only the JSON changes.
const fuzz::ScratchFolder& sessionFolder() {
    static const fuzz::ScratchFolder folder("session");
    static const bool made = [] {
        const std::vector<uint8_t> pictures[] = {bmpOf(3, 2, 0x102030), bmpOf(2, 2, 0x804020),
                                                 {'B', 'M', 0x40, 0, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0}};
        for (size_t n = 0; n < std::size(pictures); ++n) {
            const std::string name = folder.file("Tarnel.session." + std::to_string(n) + ".bmp");
            check(fuzz::writeWholeFile(name, pictures[n].data(), pictures[n].size()));
        }
        return true;
    }();
    (void)made;
    return folder;
}

bool sameColours(const StdPicture& a, const StdPicture& b) {
    if (a.isBitmap() != b.isBitmap()) return false;
    if (!a.isBitmap()) return true;
    const Bitmap &p = *a.bitmap, &q = *b.bitmap;
    if (p.width() != q.width() || p.height() != q.height()) return false;
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x)
            if ((p.pixelValue(x, y) & 0xFFFFFF) != (q.pixelValue(x, y) & 0xFFFFFF)) return false;
    return true;
}

bool sameSource(const SourceState& a, const SourceState& b) {
    return a.path == b.path && a.width == b.width && a.height == b.height && a.sizeLabel == b.sizeLabel &&
           a.sizeLabelS == b.sizeLabelS && a.preparable == b.preparable && a.prepared == b.prepared &&
           sameColours(a.picture, b.picture) && sameColours(a.workingCopy, b.workingCopy);
}

bool sideInRange(int32_t side) { return side >= 0 && side <= kMaxProjectImageSide; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::silenceDialogs();
    const fuzz::ScratchFolder& folder = sessionFolder();
    static const fuzz::ScratchFolder savedFolder("session-saved");

    // Written under the earlier single-session name, whose pictures lie there.
    check(fuzz::writeWholeFile(folder.file("Tarnel.session.json"), data, size));
    auto left = EditorSession::Abandoned(folder.path());
    check(left.size() == 1 && left[0]->id().empty() && left[0]->Exists());
    EditorState state;
    state.rows = -5;
    std::string error;
    if (!left[0]->Load(state, error)) {
        check(state.rows == -5 && state.start.empty() && !state.sources[0] && !state.sources[1]);
        check(!error.empty());
        return 0;
    }
    check(state.start.rows() == state.rows && state.end.rows() == state.rows);
    check(state.start.columns() == state.columns && state.end.columns() == state.columns);
    check(state.rows == 0 || (state.rows >= kMinMeshCells && state.rows <= kMaxMeshCells));
    for (const auto& source : state.sources) {
        check(source != nullptr);
        check(sideInRange(source->width) && sideInRange(source->height));
        check(source->path.empty() == !source->picture.isBitmap());
    }

    // What was restored saves and restores again unchanged.
    savedFolder.clean();
    {
        EditorSession saved(savedFolder.path());
        check(saved.Save(state, error));
        EditorState back;
        check(saved.Load(back, error));
        check(back.sameMeshes(state));
        for (size_t i = 0; i < 2; ++i) check(sameSource(*state.sources[i], *back.sources[i]));
    }
    return 0;
}
