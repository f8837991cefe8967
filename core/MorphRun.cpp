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

long long ChainFrameCount(int keys, int lastStep, bool loop) {
    if (keys < 2 || lastStep < 1) return 0;
    const long long segments = keys - 1, step = lastStep;
    return loop ? (segments + 1) * step : segments * step + 1;
}

namespace {

std::string sizeText(const Bitmap& b) { return std::to_string(b.width()) + "x" + std::to_string(b.height()); }

// Which frames a run makes, in order. Segment 0 writes steps 0..last; a
// later one starts at the join its previous segment wrote, which GIF frames
// still make (unwritten) as the base of the next step; the loop's segment
// leaves out its last step, the first key again.
std::vector<ScheduledFrame> scheduleFrames(int segments, int last, bool loop, int saveKind) {
    std::vector<ScheduledFrame> frames;
    int file = 0;
    for (int segment = 0; segment < segments; ++segment) {
        const bool closing = loop && segment == segments - 1;
        const int lastStep = closing ? last - 1 : last;
        for (int step = 0; step <= lastStep; ++step) {
            const bool join = segment > 0 && step == 0;
            if (join) {
                if (saveKind == kSaveGif && step < lastStep) frames.push_back({segment, step, file - 1, false});
                continue;
            }
            frames.push_back({segment, step, file++, true});
        }
    }
    return frames;
}

}  // namespace

MorphRunResult RunMorph(const MorphRunRequest& request, MorphRunObserver& observer) {
    MorphRunResult result;
    std::vector<MorphKey> keys = request.keys;
    if (keys.empty()) keys = {{request.start, request.startMesh}, {request.end, request.endMesh}};
    bool complete = keys.size() >= 2;
    for (const MorphKey& key : keys) complete = complete && key.picture && key.mesh;
    if (!complete) {
        result.error = "internal error: incomplete run request";
        return result;
    }
    const Bitmap& start = *keys[0].picture;
    const int last = request.totalFrames;
    if (last < 1) {
        result.error = "ﾌﾚｰﾑ数が足りません";
        return result;
    }
    // A chain's segments share one frame size; a lone pair keeps its old
    // leniency, its callers having checked the sizes.
    if (keys.size() > 2 || request.loop) {
        for (size_t n = 1; n < keys.size(); ++n) {
            const Bitmap& b = *keys[n].picture;
            if (b.width() != start.width() || b.height() != start.height()) {
                result.error = "ｷｰ画像のｻｲｽﾞが異なります: 1枚目 " + sizeText(start) + ", " + std::to_string(n + 1) +
                               "枚目 " + sizeText(b);
                return result;
            }
        }
    }
    const long long fileCount = ChainFrameCount(int(keys.size()), last, request.loop);
    if (fileCount > kMaxRunFrameFiles) {
        result.error = "ﾌﾚｰﾑ数が多すぎます: " + std::to_string(fileCount) + " (最大 " +
                       std::to_string(kMaxRunFrameFiles) + ")";
        return result;
    }
    const int lastFile = int(fileCount) - 1;

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

    // Each key's triangles and pixels once; a middle key serves two segments.
    std::vector<std::vector<MeshTriangle>> triangles(keys.size());
    for (size_t n = 0; n < keys.size(); ++n) {
        triangles[n] = BuildTriangleList(*keys[n].mesh);
        if (triangles[n].empty() || triangles[n].size() != triangles[0].size()) {
            result.error = "ﾒｯｼｭが不正です";
            return finish(MorphRunResult::Status::Failed);
        }
    }

    const int width = start.width(), height = start.height();
    observer.runStarting(width, height);

    std::vector<PixelArray> pixels(keys.size());
    for (size_t n = 0; n < keys.size(); ++n)
        ReadPicturePixels(*keys[n].picture, pixels[n]);  // a failed read leaves blank frames, as before

    FrameJob job;
    const size_t segmentCount = request.loop ? keys.size() : keys.size() - 1;
    for (size_t n = 0; n < segmentCount; ++n) {
        const size_t next = (n + 1) % keys.size();
        job.segments.push_back({&triangles[n], &triangles[next], &pixels[n], &pixels[next]});
    }
    job.frames = scheduleFrames(int(segmentCount), last, request.loop, request.saveKind);
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
    for (size_t i = 0; i < job.frames.size(); ++i) {
        const ScheduledFrame& scheduled = job.frames[i];
        const int k = scheduled.file;
        if (scheduled.written) observer.frameStarting(k, lastFile);
        FrameOutput& out = pipeline->wait(int(i));
        if (!out.error.empty()) {
            result.error = out.error;
            return finish(MorphRunResult::Status::Failed);
        }
        if (!scheduled.written) {
            pipeline->release(int(i));
            continue;
        }
        // The last frame is shown however the run is watched.
        if (showFrames || k == lastFile) {
            if (const Bitmap* shown = shownFrame(out, width, height, unpacked)) observer.showFrame(k, *shown);
        }
        const std::string path = result.folder + "/" + FrameFileName(k, request.saveKind);
        if (!commitFrame(path, out, request.saveKind, result.error)) return finish(MorphRunResult::Status::Failed);
        pipeline->release(int(i));
        ++result.framesWritten;
        if (!observer.frameDone(k, lastFile)) return finish(MorphRunResult::Status::Cancelled);
    }
    return finish(MorphRunResult::Status::Completed);
}

}  // namespace tarnel
