#include "core/MorphRun.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>

#include "core/FramePipeline.h"
#include "core/warp/Warp.h"
#include "imaging/jpeg/JpegConvert.h"
#include "imaging/PictureIO.h"
#include "platform/AtomicFile.h"
#include "platform/NumText.h"
#include "platform/StaleTempFiles.h"

namespace tarnel {

namespace fs = std::filesystem;

RunPrecondition CheckRunPreconditions(const std::string& startImagePath, const std::string& endImagePath,
                                      const PictureBox& start, const PictureBox& end) {
    if (startImagePath.empty() || endImagePath.empty()) return RunPrecondition::MissingImage;
    if (start.scaleHeight() != end.scaleHeight() || start.scaleWidth() != end.scaleWidth())
        return RunPrecondition::SizeMismatch;
    return RunPrecondition::Ready;
}

std::string FrameFolderName(const std::tm& t) {
    char name[32];
    std::snprintf(name, sizeof name, "%04d%02d%02d-%02d-%02d-%02d", (t.tm_year + 1900) % 10000, (t.tm_mon + 1) % 100,
                  t.tm_mday % 100, t.tm_hour % 100, t.tm_min % 100, t.tm_sec % 100);
    return name;
}

int RunThreadCount(int requested) {
    if (requested > 0) return requested;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? int(cores) : 1;
}

std::string FrameFileName(int k, int saveKind) {
    static const char* const extensions[] = {".bmp", ".jpg", ".gif"};
    return FormatNumber(k, "000") + (saveKind >= 0 && saveKind <= 2 ? extensions[saveKind] : "");
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

bool isFrameFolderName(std::string_view name) {
    // "yyyymmdd-hh-mm-ss", perhaps followed by "-2", "-3", ...
    constexpr std::string_view pattern = "dddddddd-dd-dd-dd";
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (name.size() < pattern.size()) return false;
    for (size_t i = 0; i < pattern.size(); ++i)
        if (pattern[i] == 'd' ? !digit(name[i]) : name[i] != '-') return false;
    std::string_view suffix = name.substr(pattern.size());
    if (suffix.empty()) return true;
    if (suffix.size() < 2 || suffix.front() != '-') return false;
    for (char c : suffix.substr(1))
        if (!digit(c)) return false;
    return true;
}

// A run killed while writing leaves temporary files in the program folder
// and in its frame folder, which no later run writes into again.
void removeRunLitter(const std::string& programFolder) {
    RemoveStaleTempFiles(programFolder);
    std::error_code ec;
    for (fs::directory_iterator it(programFolder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (isFrameFolderName(it->path().filename().string()) && it->is_directory(typeError))
            RemoveStaleTempFiles(it->path().string());
    }
}

// Puts frame k's staged file in place; false with the error text its kind
// has always given.
bool commitFrame(const std::string& path, FrameOutput& frame, int saveKind, std::string& error) {
    if (saveKind < kSaveBmp || saveKind > kSaveGif) return true;  // an unknown kind saves nothing
    std::string why = frame.writeError;
    if (why.empty()) {
        if (std::error_code ec = frame.file.commit()) why = ec.message();
        else return true;
    }
    switch (saveKind) {
        case kSaveBmp: error = "ﾌﾚｰﾑを保存できません: " + path + " (" + why + ")"; break;
        case kSaveJpg:
            error = "JPGに変換できません: " + path + " (code " + std::to_string(int(kConvertWriteFailed)) + ")";
            break;
        default: error = "ﾌﾚｰﾑを保存できません: " + path + " (" + path + ": " + why + ")"; break;
    }
    return false;
}

// The canvas shows the frame. In GIF runs the frame also becomes the canvas's
// picture, so clearing the canvas restores it rather than black.
void showOnCanvas(PictureBox& canvas, const FrameOutput& frame, int saveKind) {
    frame.show(canvas.image());
    if (saveKind == kSaveGif) canvas.setPictureFromImage();
}

}  // namespace

MorphRunResult RunMorph(const MorphRunRequest& request, MorphRunObserver& observer) {
    MorphRunResult result;
    if (!request.start || !request.end || !request.frame || !request.startMesh || !request.endMesh) {
        result.error = "internal error: incomplete run request";
        return result;
    }
    PictureBox& start = *request.start;
    PictureBox& end = *request.end;
    PictureBox& frame = *request.frame;
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

    start.Cls();
    end.Cls();
    frame.setPicture(StdPicture{});
    frame.resize(start.scaleWidth(), start.scaleHeight());

    PixelArray startPixels, endPixels;
    ReadPicturePixels(start, startPixels);  // a failed read leaves black frames, as before
    ReadPicturePixels(end, endPixels);

    FrameJob job;
    job.startTriangles = &startTriangles;
    job.endTriangles = &endTriangles;
    job.startPixels = &startPixels;
    job.endPixels = &endPixels;
    job.startWidth = start.scaleWidth();
    job.startHeight = start.scaleHeight();
    job.width = frame.image().width();
    job.height = frame.image().height();
    job.lastFrame = last;
    job.options = request.options;
    job.saveKind = request.saveKind;
    job.transparency = request.transparency;
    if (!frame.image().empty()) std::memcpy(&job.background, frame.image().scanline(0), 4);  // the cleared canvas
    job.folder = result.folder;

    std::optional<FramePipeline> pipeline;
    try {
        pipeline.emplace(job, RunThreadCount(request.threads));
    } catch (const std::system_error& e) {
        result.error = std::string("cannot start the run's threads (") + e.what() + ")";
        return finish(MorphRunResult::Status::Failed);
    }
    const bool showFrames = observer.showsFrames();
    // Frames come in order. A cancel writes nothing more: the frames the
    // workers have made ahead are dropped, as if never started.
    for (int k = 0; k <= last; ++k) {
        observer.frameStarting(k, last);
        FrameOutput& out = pipeline->wait(k);
        if (!out.error.empty()) {
            result.error = out.error;
            return finish(MorphRunResult::Status::Failed);
        }
        // The last frame stays on the canvas however the run is watched.
        if (showFrames || k == last) showOnCanvas(frame, out, request.saveKind);
        const std::string path = result.folder + "/" + FrameFileName(k, request.saveKind);
        if (!commitFrame(path, out, request.saveKind, result.error)) return finish(MorphRunResult::Status::Failed);
        pipeline->release(k);
        ++result.framesWritten;
        if (!observer.frameDone(k, last)) return finish(MorphRunResult::Status::Cancelled);
    }
    return finish(MorphRunResult::Status::Completed);
}

}  // namespace tarnel
