#pragma once
// The export window's writer without the window: the images of a frame
// folder, in the file list's order, stretched to the AVI size and written as
// key frames through the AVI library, each frame passed through a temporary
// 24-bpp BMP that cDIB reads back. The window and `tarnel-cli avi` both run it.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "imaging/Progress.h"
#include "platform/StaleTempFiles.h"
#include "platform/media/AviWriter.h"

namespace tarnel {

inline constexpr const char* kAviImageLoadFailed = "画像ﾌｧｲﾙのﾛｰﾄﾞで失敗しました!";
inline constexpr const char* kAviWriteFailed = "Aviﾌｧｲﾙの作成は失敗しました!";

struct AviExportRequest {
    std::vector<std::string> framePaths;  // full paths, in list order
    std::string outputPath;
    int width = 0, height = 0;  // the AVI frame size (picSave)
    int framesPerSecond = 20;   // clamped to 1..30 for the stream header
    std::string tempBmpPath;    // the temporary BMP the frames pass through
    // When given, the frames pass through this file (opened at tempBmpPath
    // unless it is held there already), and it stays held after the export:
    // a window keeps its staging file locked from one export to the next, so
    // that no other process's sweep takes it for litter. Without it the
    // export holds the file only while it runs.
    LockedTempFile* staging = nullptr;
};

enum class AviExportResult {
    Written,          // every frame written, the file in place
    Cancelled,        // the compression dialog was cancelled: no message
    ImageLoadFailed,  // a frame's temporary BMP could not be read back: kAviImageLoadFailed
    WriteFailed,      // file, stream, compression, format or frame write failed: kAviWriteFailed
    Abandoned,        // an image could not be loaded: no message
    StagingFailed,    // the temporary BMP could not be created or written: no message
};

// Called at step 4 with the stream made; nothing means the user cancelled.
using AviOptionsChooser = std::function<std::optional<AviCompressOptions>()>;

// Writes the AVI. Progress counts frames written. Shows no message itself
// (the caller shows the one its result names; cDIB's own boxes are kept
// quiet); `error` says what went wrong for a log or the command line.
// Whatever the result, no partial file is left at outputPath and an existing
// file there is replaced only on success; the temporary BMP is left for the
// caller to delete (the window deletes it on unload, with its lock). Without a chooser the
// frames are written uncompressed.
AviExportResult ExportAvi(const AviExportRequest& request, const AviOptionsChooser& chooseOptions,
                          ProgressSink* progress = nullptr, std::string* error = nullptr);

// The stream rate for a requested frame rate: below 1 gives 1, above 30 gives 30.
int ClampAviFrameRate(int framesPerSecond);

}  // namespace tarnel
