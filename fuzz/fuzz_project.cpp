// The project file reader over arbitrary text. A refused file leaves the
// target alone and says why in one line; an accepted one holds settings in
// their ranges, writes out to text that reads back to the same project, and
// the size checks against any images run on it. The same bytes also load as
// a file, relative image paths then coming out absolute.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "core/ProjectFile.h"

using namespace tarnel;
using tarnel::fuzz::check;

namespace {

bool sameProject(const ProjectData& a, const ProjectData& b) {
    return a.mesh.rows == b.mesh.rows && a.mesh.columns == b.mesh.columns && a.mesh.start == b.mesh.start &&
           a.mesh.end == b.mesh.end && a.startImage == b.startImage && a.endImage == b.endImage &&
           a.startWidth == b.startWidth && a.startHeight == b.startHeight && a.endWidth == b.endWidth &&
           a.endHeight == b.endHeight && a.frames == b.frames && a.saveKind == b.saveKind &&
           a.transparent == b.transparent && a.hasFrames == b.hasFrames && a.hasSaveKind == b.hasSaveKind &&
           a.hasTransparent == b.hasTransparent;
}

bool sizeInRange(int w, int h) {
    return (w == 0 && h == 0) || (w >= 1 && h >= 1 && w <= kMaxProjectImageSide && h <= kMaxProjectImageSide);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzz::ScratchFolder scratch("project");
    static const std::string file = scratch.file("input.tarnel");
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    ProjectData parsed;
    parsed.frames = -3;
    std::string error;
    const bool accepted = ParseProjectFile(text, parsed, error);

    // The file path reads the same bytes, so it must agree.
    ProjectData fromFile;
    fromFile.frames = -3;
    std::string fileError;
    check(fuzz::writeWholeFile(file, data, size));
    check(LoadProjectFile(file, fromFile, fileError) == accepted);

    if (!accepted) {
        check(parsed.frames == -3 && parsed.mesh.start.empty() && parsed.startImage.empty());
        check(fromFile.frames == -3 && error == fileError);
        check(!error.empty() && error.find('\n') == std::string::npos);
        return 0;
    }
    check(parsed.frames >= kMinRunFrames && parsed.frames <= kMaxRunFrames);
    check(parsed.hasFrames || parsed.frames == kDefaultRunFrames);
    check(sizeInRange(parsed.startWidth, parsed.startHeight) && sizeInRange(parsed.endWidth, parsed.endHeight));
    check(parsed.mesh.start.rows() == parsed.mesh.rows && parsed.mesh.end.columns() == parsed.mesh.columns);
    for (const std::string* image : {&fromFile.startImage, &fromFile.endImage})
        check(image->empty() || std::filesystem::path(*image).is_absolute());

    const std::string written = ProjectFileText(parsed, error);
    check(!written.empty());
    ProjectData back;
    check(ParseProjectFile(written, back, error));
    check(sameProject(parsed, back));

    // The checks the editor runs against the images it loaded: a size from
    // the input, and the sizes the project recorded (which always fit).
    const int w = 1 + data[size / 3] * 7, h = 1 + data[size / 2] * 5;
    for (const ProjectSizeMismatch& m : CheckProjectImageSizes(parsed, w, h, w, h))
        check(m.foundWidth == w && m.foundHeight == h &&
              (m.expectedWidth != w || m.expectedHeight != h));
    int meshWidth = 0, meshHeight = 0;
    if (MeshPlacedForSize(parsed.mesh.start, meshWidth, meshHeight)) check(meshWidth > 0 && meshHeight > 0);
    if (parsed.hasStartSize() && parsed.hasEndSize()) {
        for (const ProjectSizeMismatch& m : CheckProjectImageSizes(parsed, parsed.startWidth, parsed.startHeight,
                                                                   parsed.endWidth, parsed.endHeight))
            check(m.kind == ProjectSizeMismatch::Kind::MeshSize);
    }
    return 0;
}
