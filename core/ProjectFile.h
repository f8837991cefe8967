#pragma once
// The project file: a mesh file (core/MeshFile.h) with the two source images
// and the run settings beside the meshes,
//   {"project": 1,
//    "rows": R, "columns": C, "start": [[x, y], ...], "end": [[x, y], ...],
//    "startImage": "photos/a.jpg", "endImage": "/home/me/b.jpg",
//    "startSize": [w, h], "endSize": [w, h],
//    "frames": N, "kind": "bmp" | "jpg" | "gif", "transparent": false}
// Every key but the four mesh keys may be missing, so a plain mesh file is a
// project without images or settings. "frames" is the number of frames
// (2..100, the run's last frame index plus one). The sizes are those of the
// images the meshes were made for. Image paths are UTF-8; a relative one is
// relative to the folder of the project file. Unknown keys are ignored.
//
// A chain of three or more key pictures is written in place of the start
// and end members, as version 2 (which older readers refuse by its number):
//   {"project": 2, "frames": N, "kind": ..., "transparent": ..., "loop": true,
//    "rows": R, "columns": C,
//    "keys": [{"image": "a.jpg", "size": [w, h], "mesh": [[x, y], ...]}, ...]}
// Each key's "image" and "size" may be missing, so the keys form without
// them is the chain's mesh file. Two keys are always written in the first
// form; the reader takes either. "loop" (a run closing the chain back to its
// first key) is written only when true.
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/MeshFile.h"
#include "core/FrameNaming.h"

namespace tarnel {

inline constexpr int kProjectFileVersion = 1;
// A chain of more than two keys.
inline constexpr int kChainProjectFileVersion = 2;
inline constexpr int kMaxChainKeys = 64;
// Values of the largest chain file (64 meshes of 42 x 42 points), with room.
inline constexpr size_t kMaxProjectFileValues = size_t(1) << 19;
inline constexpr int kMinRunFrames = 2, kMaxRunFrames = 100, kDefaultRunFrames = 10;
// Image sides a project may name; anything larger is no picture we load.
inline constexpr int kMaxProjectImageSide = 1 << 16;

// A key picture of a chain and its mesh.
struct ProjectKey {
    std::string image;  // empty when the file names none
    int width = 0, height = 0;  // 0 when the file gives no size
    MeshGrid mesh;
};

struct ProjectData {
    // The first two keys of a chain: start and end.
    MeshFileData mesh;
    // Empty when the file names no image. After LoadProjectFile, absolute.
    std::string startImage, endImage;
    // 0 when the file gives no size.
    int startWidth = 0, startHeight = 0;
    int endWidth = 0, endHeight = 0;
    int frames = kDefaultRunFrames;  // 2..100
    int saveKind = kSaveBmp;         // SaveKindValue
    bool transparent = false;
    // Which run settings the file held; a plain mesh file holds none, and
    // the three fields above then keep their defaults.
    bool hasFrames = false, hasSaveKind = false, hasTransparent = false;
    // Keys 3, 4, ... of a chain, after start and end; their meshes have the
    // rows and columns of mesh.
    std::vector<ProjectKey> laterKeys;
    bool loop = false;  // written only when true

    int keyCount() const { return 2 + int(laterKeys.size()); }

    bool hasStartSize() const { return startWidth > 0 && startHeight > 0; }
    bool hasEndSize() const { return endWidth > 0 && endHeight > 0; }
    // True when anything beyond the meshes is present.
    bool isProject() const {
        return !startImage.empty() || !endImage.empty() || hasStartSize() || hasEndSize() || hasFrames ||
               hasSaveKind || hasTransparent || !laterKeys.empty() || loop;
    }
};

// Every key in order, start and end first.
std::vector<ProjectKey> ProjectKeys(const ProjectData& data);
// Puts two or more keys into data (start, end, later keys) and sets the
// mesh's rows and columns from the first key's mesh.
void SetProjectKeys(ProjectData& data, std::vector<ProjectKey> keys);

// Parses project or mesh-file text; image paths stay as written. On failure
// returns false, leaves out unchanged and sets error to one line (the mesh
// file's reasons, a version above kProjectFileVersion, an image path that is
// not a non-empty string, a size that is not [w, h] of 1..65536, frames
// outside 2..100, an unknown kind, a transparency that is not true/false).
bool ParseProjectFile(std::string_view text, ProjectData& out, std::string& error);

// The JSON text of a project, paths as they stand in data; the extras that
// are absent (empty path, size 0, has... false) are left out. Empty with
// error set when the meshes are empty or differ in dimensions, a setting is
// out of range, or a path is not valid UTF-8.
std::string ProjectFileText(const ProjectData& data, std::string& error);

// Reads a regular file only (at most kMaxMeshFileBytes) and resolves relative
// image paths against the folder of the file (symbolic links followed).
// Errors give the cause; the caller names the file.
bool LoadProjectFile(const std::filesystem::path& path, ProjectData& out, std::string& error);

// Writes atomically, like SaveMeshFile. An image in or under the project's
// folder is stored relative to it (so the folder can be moved as a whole),
// any other as an absolute path.
bool SaveProjectFile(const std::filesystem::path& path, const ProjectData& data, std::string& error);

// The image path as a project in `projectFolder` stores it: relative when the
// image lies in or under that folder, else absolute.
std::string ProjectImagePath(const std::string& image, const std::filesystem::path& projectFolder);

// What does not fit between a project and the images loaded for it.
struct ProjectSizeMismatch {
    enum class Image { Start, End };
    // ImageSize: the loaded image is not the size the project recorded.
    // MeshSize: the mesh of that image was placed for an image of another
    // size (told by its outer ring, which editing never moves).
    enum class Kind { ImageSize, MeshSize };
    Image image = Image::Start;
    Kind kind = Kind::ImageSize;
    int expectedWidth = 0, expectedHeight = 0;  // what the project or mesh was made for
    int foundWidth = 0, foundHeight = 0;        // the loaded image
    int key = 0;                                // 0 for Start, 1 for End, 2... for later keys
};

// Empty when everything fits. Sizes the project does not give are not
// checked; a mesh whose ring tells no size (not the default placement's
// ring) is not checked either.
std::vector<ProjectSizeMismatch> CheckProjectImageSizes(const ProjectData& project, int startWidth, int startHeight,
                                                        int endWidth, int endHeight);

// The same for every key of a chain: sizes[n] is key n's loaded picture
// ({0, 0} where none is loaded).
std::vector<ProjectSizeMismatch> CheckProjectKeySizes(const ProjectData& project,
                                                      const std::vector<std::pair<int, int>>& sizes);

// The size a mesh was placed for, from its outer ring: the default placement
// puts ring column i = 0 at x = -width / rows and ring row j = 0 at
// y = -height / columns. False when the ring is not such a placement.
bool MeshPlacedForSize(const MeshGrid& mesh, int& width, int& height);

}  // namespace tarnel
