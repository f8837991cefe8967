#pragma once
// The frame folder as the viewer sees it: the kind of its frames (taken from
// frame 000), the path of frame k, the play schedule of the viewer's passes,
// and a cache that decodes the frames ahead of the schedule on a worker thread.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Picture.h"

namespace tarnel {

// 0 BMP, 1 JPG, 2 GIF, 3 PNG, as SaveKind counts them.
inline constexpr int kFrameKindNone = -1;

// folder + "/" + the index with at least three digits + the extension:
// "000.bmp", "1000.bmp", and "-001.bmp" for the frame before the first.
std::string FramePath(const std::string& folder, int index, int kind);

// The kind of the folder's frames: the first of "000.bmp", "000.jpg",
// "000.gif", "000.png" that exists as a file, tested in that order; kFrameKindNone
// when none does.
int FindFrameKind(const std::string& folder);

// Decodes one frame file into a 32-bpp top-down picture, exactly as
// LoadPicture does. Uncompressed 24-bpp BMP files, the frames a morph run
// writes, are converted in one pass from the file's bytes; every other file
// goes through the picture loader. False when the file is missing or does
// not decode.
bool DecodeFrameFile(const std::string& path, StdPicture& out);

// The viewer's play passes as a schedule over a clock that the caller reads.
// The caller calls tick() whenever the clock reaches nextDue() (a timer does
// it in the window, a test steps a fake clock); a turn shows at most one
// frame, so frames are never shown earlier than one interval apart.
//
// A forward pass starts at frame 0 and shows frame k one interval after frame
// k - 1; it ends one interval after its last frame, when the next frame cannot
// be loaded. A backward pass starts from the frame index where the forward
// pass ended, minus one, so the loop shows the last frame again one interval
// later: the last and the first frame stay for three intervals at each turn.
class FramePlayer {
public:
    // Shows frame `index`; false when it cannot be loaded (the pass ends).
    using FrameLoader = std::function<bool(int index)>;

    enum class Event {
        None,       // not playing, or not yet due
        Shown,      // a frame was shown
        PassEnded,  // a frame could not be loaded: the pass ended
        Stopped,    // playing had been switched off: the pass ended without loading
    };

    // Cmd_Play: a forward pass from frame 0 (a running pass gives way to it).
    void play(int64_t now, int interval);
    // Cmd_Loop: forward and backward passes until pause().
    void loop(int64_t now, int interval);
    // Cmd_Pause: the running pass ends at its next turn.
    void pause();
    // The window unloads: nothing runs any more.
    void stop();
    // HS_Interval changed: takes effect at the next frame.
    void setInterval(int interval) { interval_ = interval; }

    // One turn of the running pass at time `now`.
    Event tick(int64_t now, const FrameLoader& load);

    // A pass is running (tick has work to do).
    bool active() const { return active_; }
    bool playing() const { return playing_; }
    bool looping() const { return looping_; }
    // The next frame the running pass will load, and its step (+1 or -1).
    int frameIndex() const { return index_; }
    int direction() const { return direction_; }
    int interval() const { return interval_; }
    // When tick() next has something to do: one interval after the last
    // frame, or at once when playing was switched off.
    int64_t nextDue() const;

private:
    void startPass(int64_t now, int direction);

    int interval_ = 100;
    bool playing_ = false, looping_ = false;
    bool active_ = false;  // a pass is running; it notices !playing_ at its next turn
    int direction_ = 1;
    int index_ = 0;  // 16-bit in the window's state; a pass ends before it leaves that range
    int64_t lastFrameTime_ = 0;
};

// Decoded frames of one folder, read ahead of the player on a worker thread,
// within a memory budget. The UI thread asks for a frame with take(); when
// the worker has it, the call returns at once.
class FrameCache {
public:
    // Decodes one file; false when it is missing or cannot be decoded.
    using Decoder = std::function<bool(const std::string& path, StdPicture& out)>;

    struct Limits {
        size_t byteBudget = size_t(256) << 20;  // decoded pixels kept, beyond the frame being taken
        int ahead = 24;                          // frames read ahead of the player at most
        int behind = 6;                          // frames kept behind it, for the turn of the loop
        int workers = 1;                         // decoding threads
    };

    FrameCache();  // decodes with DecodeFrameFile
    explicit FrameCache(Decoder decoder, Limits limits);
    FrameCache(Limits limits);
    ~FrameCache();
    FrameCache(const FrameCache&) = delete;
    FrameCache& operator=(const FrameCache&) = delete;

    // A new folder or kind: everything cached is dropped.
    void setSource(const std::string& folder, int kind);
    // The player's position: frames `index`, index + direction, ... are read
    // ahead. With `bounce`, reading turns round at the end of the folder as
    // the loop does.
    void prefetch(int index, int direction, bool bounce);
    // Forget frames that could not be loaded, so files that appeared since
    // are read again (a new pass from the commands).
    void forgetFailures();
    // Frame `index`, decoded by the worker or, when the worker has not
    // started on it, on the calling thread. False when it cannot be loaded.
    bool take(int index, StdPicture& out);

    // For tests: frames decoded so far (by either thread), and the frames
    // held now.
    int decodeCount() const;
    int cachedCount() const;
    // Blocks until the worker has nothing left to read ahead.
    void waitIdle();

private:
    enum class State { Decoding, Ready, Failed };
    struct Entry {
        State state = State::Decoding;
        StdPicture picture;
        size_t bytes = 0;
    };

    void run();
    // Calls visit(index, position) for the frames the player will load next,
    // in order, turning at known ends when bouncing; stops when visit returns false.
    template <typename Visit>
    void forEachUpcoming(Visit visit) const;
    // Upcoming, or just behind the player.
    bool wanted(int index) const;
    size_t evictableBytes() const;
    // The next frame a worker should read, if any fits the budget.
    bool findWork(int& index) const;
    // Drops cached frames that are not wanted, farthest first, until `bytes`
    // more fit the budget; false when they do not fit even then.
    bool makeRoom(size_t bytes);
    bool decode(const std::string& path, StdPicture& out);
    // Files a decoding result under `index`, if its folder is still current.
    void store(int index, uint64_t generation, bool ok, const StdPicture& picture);

    Decoder decoder_;
    Limits limits_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<int, Entry> entries_;
    std::string folder_;
    int kind_ = kFrameKindNone;
    uint64_t generation_ = 0;  // bumped by setSource, so late results of an old folder are dropped
    int cursor_ = 0, direction_ = 1;
    bool bounce_ = false;
    size_t bytes_ = 0;
    int decodes_ = 0;
    int busy_ = 0;  // workers decoding now
    size_t estimate_ = 0;  // largest frame decoded so far: the room a new one needs
    bool quit_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace tarnel
