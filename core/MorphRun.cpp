#include "core/MorphRun.h"

#include <filesystem>
#include <optional>
#include <system_error>
#include <thread>

#include "core/FramePipeline.h"
#include "core/warp/Warp.h"
#include "platform/AtomicFile.h"
#include "platform/StaleTempFiles.h"

namespace tarnel {

namespace fs = std::filesystem;

RunPrecondition CheckRunPreconditions(const std::string& startImagePath, const std::string& endImagePath,
                                      const Bitmap* startPicture, const Bitmap* endPicture) {
    if (startImagePath.empty() || endImagePath.empty() || !startPicture || !endPicture)
        return RunPrecondition::MissingImage;
    if (startPicture->height() != endPicture->height() || startPicture->width() != endPicture->width())
        return RunPrecondition::SizeMismatch;
    return RunPrecondition::Ready;
}

int RunThreadCount(int requested) {
    if (requested > 0) return requested;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? int(cores) : 1;
}

namespace {

// Creates program folder / name, or name-2, name-3, ... when a run in the
// same second already took the name.
bool createFrameFolder(const std::string& programFolder, const std::string& name, std::string& folder,
                       std::string& error) {
    std::error_code ec;
    for (int attempt = 1; attempt < 1000; ++attempt) {
        folder = programFolder + "/" + name;
        if (attempt > 1) {
            folder += '-';
            folder += std::to_string(attempt);
        }
        if (fs::create_directory(folder, ec)) return true;
        if (ec) {
            error = "ﾌﾚｰﾑﾌｫﾙﾀﾞを作成できません: " + folder + " (" + ec.message() + ")";
            return false;
        }
    }
    error = "ﾌﾚｰﾑﾌｫﾙﾀﾞを作成できません: " + folder;
    return false;
}

// A run killed while writing leaves temporary files in the program folder
// and in its frame folder, which no later run writes into again.
void removeRunLitter(const std::string& programFolder) {
    RemoveStaleTempFiles(programFolder);
    std::error_code ec;
    for (fs::directory_iterator it(programFolder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (IsFrameFolderName(it->path().filename().string()) && it->is_directory(typeError))
            RemoveStaleTempFiles(it->path().string());
    }
}

// Puts frame k's staged file in place; false with the error text its kind
// has always given.
bool commitFrame(const std::string& path, FrameOutput& frame, int saveKind, std::string& error) {
    if (saveKind < kSaveBmp || saveKind > kSavePng) return true;  // an unknown kind saves nothing
    std::string why = frame.writeError;
    if (why.empty()) {
        if (std::error_code ec = frame.file.commit()) why = ec.message();
        else return true;
    }
    switch (saveKind) {
        case kSaveBmp: error = "ﾌﾚｰﾑを保存できません: " + path + " (" + why + ")"; break;
        case kSaveJpg: error = "JPGに変換できません: " + path + " (" + why + ")"; break;
        default: error = "ﾌﾚｰﾑを保存できません: " + path + " (" + path + ": " + why + ")"; break;
    }
    return false;
}

// The frame as the observer sees it. BMP frames are held as their file only
// and are unpacked into `scratch`; the other kinds have their pixels.
const Bitmap* shownFrame(const FrameOutput& frame, int width, int height, Bitmap& scratch) {
    if (!frame.pixels.empty()) return &frame.pixels;
    if (scratch.width() != width || scratch.height() != height || scratch.bpp() != 32 || !scratch.topDown()) {
        if (!scratch.create(width, height, 32, true)) return nullptr;
    }
    frame.show(scratch);
    return &scratch;
}

}  // namespace

MorphRunResult RunMorph(const MorphRunRequest& request, MorphRunObserver& observer) {
    MorphRunResult result;
    if (!request.start || !request.end || !request.startMesh || !request.endMesh) {
        result.error = "internal error: incomplete run request";
        return result;
    }
    const Bitmap& start = *request.start;
    const Bitmap& end = *request.end;
    const int last = request.totalFrames;
    if (last < 1) {
        result.error = "ﾌﾚｰﾑ数が足りません";
        return result;
    }

    std::tm now{};
    if (request.startTime) {
        now = *request.startTime;
    } else {
        std::time_t t = std::time(nullptr);
        localtime_r(&t, &now);
    }
    removeRunLitter(request.programFolder);
    if (!createFrameFolder(request.programFolder, FrameFolderName(now), result.folder, result.error)) return result;
    observer.folderCreated(result.folder);

    // Frames are not synced one by one: the folder and its entry in the
    // program folder are, once, however the run ends.
    auto finish = [&](MorphRunResult::Status status) {
        result.status = status;
        std::error_code ec = SyncFolder(result.folder);
        if (!ec) ec = SyncFolder(request.programFolder);
        if (ec && status != MorphRunResult::Status::Failed) {
            result.status = MorphRunResult::Status::Failed;
            result.error = "ﾌﾚｰﾑﾌｫﾙﾀﾞを保存できません: " + result.folder + " (" + ec.message() + ")";
        }
        return result;
    };

    std::vector<MeshTriangle> startTriangles = BuildTriangleList(*request.startMesh);
    std::vector<MeshTriangle> endTriangles = BuildTriangleList(*request.endMesh);
    if (startTriangles.empty() || startTriangles.size() != endTriangles.size()) {
        result.error = "ﾒｯｼｭが不正です";
        return finish(MorphRunResult::Status::Failed);
    }

    const int width = start.width(), height = start.height();
    observer.runStarting(width, height);

    PixelArray startPixels, endPixels;
    ReadPicturePixels(start, startPixels);  // a failed read leaves blank frames, as before
    ReadPicturePixels(end, endPixels);

    FrameJob job;
    job.startTriangles = &startTriangles;
    job.endTriangles = &endTriangles;
    job.startPixels = &startPixels;
    job.endPixels = &endPixels;
    job.startWidth = width;
    job.startHeight = height;
    job.width = width;
    job.height = height;
    job.lastFrame = last;
    job.options = request.options;
    job.saveKind = request.saveKind;
    job.transparency = request.transparency;
    // The cleared canvas's pixel value.
    job.background = uint32_t(RedOf(request.background)) << 16 | uint32_t(GreenOf(request.background)) << 8 |
                     BlueOf(request.background);
    job.folder = result.folder;

    std::optional<FramePipeline> pipeline;
    try {
        pipeline.emplace(job, RunThreadCount(request.threads));
    } catch (const std::system_error& e) {
        result.error = std::string("cannot start the run's threads (") + e.what() + ")";
        return finish(MorphRunResult::Status::Failed);
    }
    const bool showFrames = observer.showsFrames();
    Bitmap unpacked;
    // Frames come in order. A cancel writes nothing more: the frames the
    // workers have made ahead are dropped, as if never started.
    for (int k = 0; k <= last; ++k) {
        observer.frameStarting(k, last);
        FrameOutput& out = pipeline->wait(k);
        if (!out.error.empty()) {
            result.error = out.error;
            return finish(MorphRunResult::Status::Failed);
        }
        // The last frame is shown however the run is watched.
        if (showFrames || k == last) {
            if (const Bitmap* shown = shownFrame(out, width, height, unpacked)) observer.showFrame(k, *shown);
        }
        const std::string path = result.folder + "/" + FrameFileName(k, request.saveKind);
        if (!commitFrame(path, out, request.saveKind, result.error)) return finish(MorphRunResult::Status::Failed);
        pipeline->release(k);
        ++result.framesWritten;
        if (!observer.frameDone(k, last)) return finish(MorphRunResult::Status::Cancelled);
    }
    return finish(MorphRunResult::Status::Completed);
}

}  // namespace tarnel
