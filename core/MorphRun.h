#pragma once
// The morph run as engine code: frame folder, the frame loop and the writers.
// It knows the two pictures and the frame canvas's colour, not the canvases:
// the editor window and tarnel-cli both drive it through MorphRunObserver,
// which is handed each frame to show and also gives the user interface its
// one yield per frame.
#include <ctime>
#include <string>
#include <vector>

#include "core/FrameNaming.h"
#include "core/Mesh.h"
#include "core/warp/Warp.h"
#include "platform/Colors.h"
#include "platform/gdi.h"

namespace tarnel {

inline constexpr const char* kSizeMismatchMessage = "ｽﾀｰﾄとｴﾝﾄﾞの画像ｻｲｽﾞが異なります！";

enum class RunPrecondition { Ready, MissingImage, SizeMismatch };

// The start command's checks: both images loaded (a path and a picture
// each), and of the same size.
RunPrecondition CheckRunPreconditions(const std::string& startImagePath, const std::string& endImagePath,
                                      const Bitmap* startPicture, const Bitmap* endPicture);

// A key picture of a chain and its mesh.
struct MorphKey {
    const Bitmap* picture = nullptr;
    const MeshGrid* mesh = nullptr;
};

// Frame files a run may write: the three-digit numbers 000..999.
inline constexpr int kMaxRunFrameFiles = 1000;

// Frames a chain of `keys` key pictures writes with steps 0..lastStep per
// segment: each join once, and with `loop` a last segment back to the first
// key whose final frame (the first key again) is left out.
long long ChainFrameCount(int keys, int lastStep, bool loop);

struct MorphRunRequest {
    // The start and end pictures, read as a canvas of their size shows them.
    // The frames take the start picture's size. Unused when `keys` is given.
    const Bitmap* start = nullptr;
    const Bitmap* end = nullptr;
    // The frame canvas's back colour: what a frame shows where no triangle draws.
    ColorRef background = RGBColor(0, 0, 0);
    const MeshGrid* startMesh = nullptr;
    const MeshGrid* endMesh = nullptr;
    int totalFrames = 9;  // N, the index of the last frame (1..99)
    int saveKind = kSaveBmp;
    bool transparency = false;
    std::string programFolder;
    // Folder name from this local time; the current time when unset.
    const std::tm* startTime = nullptr;
    WarpOptions options;  // the defaults give the plain frames
    // Frames rendered at once, one worker thread each; 0 for one per core.
    int threads = 0;
    // A chain of two or more keys in place of start, end and their meshes:
    // segment k morphs key k on its mesh into key k + 1 on its mesh, frames
    // 0..totalFrames as a run of that pair makes them, the join written once.
    // All keys must then be of one size and their meshes of one grid.
    std::vector<MorphKey> keys;
    // Closes the chain with a segment from the last key back to the first.
    bool loop = false;
};

// Called on the thread that called RunMorph, frame after frame in order,
// whatever the number of worker threads.
class MorphRunObserver {
public:
    virtual ~MorphRunObserver() = default;
    // The folder exists; the editor stores it as SaveFolder.
    virtual void folderCreated(const std::string& folder) = 0;
    // The meshes are good and frames of width x height are about to be made.
    // The editor takes the meshes off its source canvases and blanks its
    // frame canvas here.
    virtual void runStarting(int width, int height) { (void)width, (void)height; }
    // Frame k is the next to be shown and written; lastFrame is the run's
    // last frame file, over all segments of a chain.
    virtual void frameStarting(int k, int lastFrame) { (void)k, (void)lastFrame; }
    // Whether the frames are looked at during the run. When not, only the
    // last frame is shown, which saves a copy of every other frame.
    virtual bool showsFrames() const { return true; }
    // Frame k as it is written, width x height at 32 bpp, top-down; valid
    // during the call only. Comes before frameDone(k), for every frame while
    // showsFrames() and for the last frame always.
    virtual void showFrame(int k, const Bitmap& frame) { (void)k, (void)frame; }
    // Frame k of 0..lastFrame is written.
    // This is the run's one yield per frame; false stops the run here: no
    // later frame is written, whatever the workers had made ahead.
    virtual bool frameDone(int k, int lastFrame) = 0;
};

struct MorphRunResult {
    enum class Status { Completed, Cancelled, Failed };
    Status status = Status::Failed;
    std::string folder;     // the frame folder, when it was created
    int framesWritten = 0;  // frames 0..framesWritten - 1; they stay in the folder
    std::string error;      // names the cause when Failed
    bool ok() const { return status == Status::Completed; }
};

// Worker threads for a request's `threads`: itself, or one per core for 0.
int RunThreadCount(int requested);

MorphRunResult RunMorph(const MorphRunRequest& request, MorphRunObserver& observer);

}  // namespace tarnel
