#pragma once
// The morph run as engine code: frame folder, frame names, the frame loop and
// the writers. The editor window and tarnel-cli both drive it through
// MorphRunObserver, which also gives the user interface its one yield per frame.
#include <ctime>
#include <string>

#include "core/Mesh.h"
#include "core/warp/Warp.h"
#include "platform/PictureBox.h"

namespace tarnel {

enum SaveKindValue { kSaveBmp = 0, kSaveJpg = 1, kSaveGif = 2 };

inline constexpr const char* kSizeMismatchMessage = "ｽﾀｰﾄとｴﾝﾄﾞの画像ｻｲｽﾞが異なります！";

enum class RunPrecondition { Ready, MissingImage, SizeMismatch };

// The start command's checks: both images loaded, and of the same size.
RunPrecondition CheckRunPreconditions(const std::string& startImagePath, const std::string& endImagePath,
                                      const PictureBox& start, const PictureBox& end);

struct MorphRunRequest {
    PictureBox* start = nullptr;  // P(0); its drawing layer is cleared
    PictureBox* end = nullptr;    // P(1); likewise
    PictureBox* frame = nullptr;  // P(2), the frame canvas
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
};

// Called on the thread that called RunMorph, frame after frame in order,
// whatever the number of worker threads.
class MorphRunObserver {
public:
    virtual ~MorphRunObserver() = default;
    // The folder exists; the editor stores it as SaveFolder.
    virtual void folderCreated(const std::string& folder) = 0;
    // Frame k is the next to be shown and written.
    virtual void frameStarting(int k, int lastFrame) { (void)k, (void)lastFrame; }
    // Whether the frame canvas is looked at during the run. When not, only
    // the last frame is put on it, which saves a copy of every other frame.
    virtual bool showsFrames() const { return true; }
    // Frame k of 0..lastFrame is on the frame canvas and written.
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

// "yyyymmdd-hh-mm-ss"
std::string FrameFolderName(const std::tm& localTime);
// "000.bmp", "012.jpg", "100.gif"
std::string FrameFileName(int k, int saveKind);

// Worker threads for a request's `threads`: itself, or one per core for 0.
int RunThreadCount(int requested);

MorphRunResult RunMorph(const MorphRunRequest& request, MorphRunObserver& observer);

}  // namespace tarnel
