#pragma once
// The frames of a morph run made on worker threads: each worker takes the
// next frame, renders it, encodes it (BMP, JPG, GIF or PNG bytes), writes the file
// under a temporary name and hands it back; the caller takes the frames in
// order, shows them and renames their files into place. At most workers + 1
// frames are held at once. With one worker no thread starts: the caller
// makes each frame itself when it asks for it.
//
// GIF frames keep the previous frame where no triangle draws (the canvas's
// picture is the previous frame). A worker renders over a marker value no
// triangle writes, then, strictly in frame order, fills the marked pixels
// from the previous frame, which its slot keeps until then; the encoding
// runs in parallel again after that.
//
// BMP frames are held as their file only: the 24-bit file is the frame's
// colours exactly, and the canvas is filled from it.
//
// A chain of key pictures is a list of segments, each a morph of one key
// into the next, and a schedule of the frames to make. A segment's first
// frame is the join its previous segment already wrote; GIF frames still
// make it, unwritten, since the segment's next frame keeps its pixels as a
// two-key morph of that pair would.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/Mesh.h"
#include "core/warp/Warp.h"
#include "platform/AtomicFile.h"
#include "platform/gdi.h"

namespace tarnel {

struct FrameEncoders;

// One morph of a chain: from one key picture into the next.
struct FrameSegment {
    const std::vector<MeshTriangle>* startTriangles = nullptr;
    const std::vector<MeshTriangle>* endTriangles = nullptr;
    const PixelArray* startPixels = nullptr;
    const PixelArray* endPixels = nullptr;
};

// One frame to make: step 0..lastFrame of a segment, written as file number
// `file` unless it is a join made only for the frame after it.
struct ScheduledFrame {
    int segment = 0;
    int step = 0;
    int file = 0;
    bool written = true;
};

// What every frame of a run shares. The pointed-to data must outlive the
// pipeline and stay unchanged while it runs.
struct FrameJob {
    std::vector<FrameSegment> segments;
    std::vector<ScheduledFrame> frames;  // in the order they are made and taken
    int startWidth = 0, startHeight = 0;  // the start picture's size
    int width = 0, height = 0;            // the frames
    int lastFrame = 1;                    // each segment's steps 0..lastFrame
    WarpOptions options;
    int saveKind = 0;
    bool transparency = false;
    uint32_t background = 0;  // the cleared canvas's pixel value
    std::string folder;       // frame paths in error texts
};

// One finished frame, valid from wait() to release().
struct FrameOutput {
    Bitmap pixels;               // the frame as the canvas shows it; empty for BMP frames
    std::vector<uint8_t> bytes;  // the file's content; empty for a kind that saves nothing
    std::string error;           // why the frame cannot be made; bytes are then empty
    // The file, written beside its place by the worker; the caller renames
    // it into place in frame order. When it could not be written, why.
    StagedFile file;
    std::string writeError;

    // Puts the frame on a canvas image of the frame's size (32 bpp, top-down).
    void show(Bitmap& image) const;
};

class FramePipeline {
public:
    // Starts `workers` threads, none for one worker. Throws std::system_error
    // when not even one thread can start.
    FramePipeline(const FrameJob& job, int workers);
    // Stops the workers and waits for them; frames made ahead are dropped.
    ~FramePipeline();
    FramePipeline(const FramePipeline&) = delete;
    FramePipeline& operator=(const FramePipeline&) = delete;

    // Blocks until scheduled frame k is done. Frames are taken in order
    // 0, 1, ..., each released before the next is asked for.
    FrameOutput& wait(int k);
    void release(int k);
    int workerCount() const { return int(threads_.size()); }

    // Where no triangle drew; 32-bpp frames hold 0x00RRGGBB only.
    static constexpr uint32_t kUncovered = 0xFF000000u;

private:
    struct Slot {
        // Written: the caller is done, the next GIF frame still reads it.
        enum class State { Free, Busy, Ready, Written };
        State state = State::Free;
        int frame = -1;
        FrameOutput output;
    };

    void work();
    // Renders, composites, encodes and stages scheduled frame k into its claimed slot.
    // False when the run was stopped meanwhile.
    bool make(int k, Slot& slot, FrameEncoders& encoders, Bitmap& bmpPixels);
    bool render(int k, Bitmap& pixels, std::string& error);
    void composite(int k, Bitmap& pixels);
    void encode(int k, const Bitmap& pixels, FrameOutput& out, FrameEncoders& encoders);
    void abort();

    const FrameJob job_;
    std::vector<Slot> slots_;

    std::mutex mutex_;
    std::condition_variable changed_;
    int nextFrame_ = 0;      // the next frame to start
    int endFrame_ = 0;       // frames from here on are not started
    int compositeTurn_ = 0;  // GIF: the frame whose turn it is to composite
    bool aborted_ = false;
    std::vector<std::thread> threads_;
    bool inline_ = false;  // one worker: the caller's own thread
    std::unique_ptr<FrameEncoders> inlineEncoders_;
    Bitmap inlineBmpPixels_;
};

}  // namespace tarnel
