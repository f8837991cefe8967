#include "output/FrameSequence.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <new>
#include <system_error>
#include <vector>

#include "core/FrameNaming.h"
#include "imaging/PictureIO.h"

namespace tarnel {

namespace {

// The window keeps the frame index in 16 bits; a pass ends where it would leave them.
constexpr int kMinFrameIndex = std::numeric_limits<int16_t>::min();
constexpr int kMaxFrameIndex = std::numeric_limits<int16_t>::max();

bool isFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

}  // namespace

bool DecodeFrameFile(const std::string& path, StdPicture& out) {
    // One buffer per decoding thread, so a pass does not allocate a file's
    // worth of memory per frame; a very large one is not kept.
    thread_local std::vector<uint8_t> bytes;
    StdPicture picture;
    const bool ok = bool(LoadPicture(path, picture, bytes));
    if (ok) out = std::move(picture);
    if (bytes.capacity() > (size_t(64) << 20)) std::vector<uint8_t>().swap(bytes);
    return ok;
}

std::string FramePath(const std::string& folder, int index, int kind) {
    std::string path = folder;
    if (path.empty() || path.back() != '/') path += '/';
    return path + FrameFileName(index, kind);
}

int FindFrameKind(const std::string& folder) {
    for (int kind : {kSaveBmp, kSaveJpg, kSaveGif, kSavePng})
        if (isFile(FramePath(folder, 0, kind))) return kind;
    return kFrameKindNone;
}

// ---------------------------------------------------------------------------
// FramePlayer

void FramePlayer::startPass(int64_t now, int direction) {
    playing_ = true;
    active_ = true;
    direction_ = direction;
    lastFrameTime_ = now;
    // Forwards from the first frame; backwards from the one before where the
    // forward pass stopped, which is the frame it showed last.
    index_ = direction > 0 ? 0 : index_ - 1;
}

void FramePlayer::play(int64_t now, int interval) {
    interval_ = interval;
    startPass(now, +1);
}

void FramePlayer::loop(int64_t now, int interval) {
    interval_ = interval;
    looping_ = true;
    startPass(now, +1);
}

void FramePlayer::pause() {
    playing_ = false;
    looping_ = false;
}

void FramePlayer::stop() {
    pause();
    active_ = false;
}

int64_t FramePlayer::nextDue() const {
    if (!active_) return std::numeric_limits<int64_t>::max();
    if (!playing_) return lastFrameTime_;
    return lastFrameTime_ + interval_;
}

FramePlayer::Event FramePlayer::tick(int64_t now, const FrameLoader& load) {
    if (!active_) return Event::None;
    if (!playing_) {
        active_ = false;
        return Event::Stopped;
    }
    if (now - lastFrameTime_ < interval_) return Event::None;
    const bool inRange = index_ >= kMinFrameIndex && index_ <= kMaxFrameIndex;
    if (!inRange || !load(index_)) {
        playing_ = false;
        active_ = false;
        if (looping_) startPass(now, -direction_);
        return Event::PassEnded;
    }
    index_ += direction_;
    lastFrameTime_ = now;
    return Event::Shown;
}

// ---------------------------------------------------------------------------
// FrameCache

FrameCache::FrameCache() : FrameCache(Limits{}) {}

FrameCache::FrameCache(Limits limits)
    : FrameCache([](const std::string& path, StdPicture& out) { return DecodeFrameFile(path, out); }, limits) {}

FrameCache::FrameCache(Decoder decoder, Limits limits) : decoder_(std::move(decoder)), limits_(limits) {
    limits_.ahead = std::max(limits_.ahead, 1);
    limits_.behind = std::max(limits_.behind, 0);
    limits_.workers = std::clamp(limits_.workers, 1, 8);
    for (int i = 0; i < limits_.workers; ++i) workers_.emplace_back([this] { run(); });
}

FrameCache::~FrameCache() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : workers_) t.join();
}

void FrameCache::setSource(const std::string& folder, int kind) {
    {
        std::lock_guard lock(mutex_);
        ++generation_;
        entries_.clear();
        bytes_ = 0;
        estimate_ = 0;
        folder_ = folder;
        kind_ = kind;
        cursor_ = 0;
        direction_ = 1;
        bounce_ = false;
    }
    changed_.notify_all();
}

void FrameCache::prefetch(int index, int direction, bool bounce) {
    {
        std::lock_guard lock(mutex_);
        cursor_ = index;
        direction_ = direction < 0 ? -1 : 1;
        bounce_ = bounce;
    }
    changed_.notify_all();
}

void FrameCache::forgetFailures() {
    {
        std::lock_guard lock(mutex_);
        std::erase_if(entries_, [](const auto& e) { return e.second.state == State::Failed; });
    }
    changed_.notify_all();
}

template <typename Visit>
void FrameCache::forEachUpcoming(Visit visit) const {
    int index = cursor_, direction = direction_;
    int counted = 0;
    // Each turn of a bounce costs a step, so two failed ends cannot spin.
    for (int steps = 0; counted < limits_.ahead && steps < 2 * limits_.ahead + 4; ++steps) {
        auto it = entries_.find(index);
        const bool fails = index < kMinFrameIndex || index > kMaxFrameIndex ||
                           (it != entries_.end() && it->second.state == State::Failed);
        if (fails) {
            if (!bounce_) return;
            // The loop turns where a pass ends: back from the frame before
            // the failed one, or forwards again from the first frame.
            index = direction > 0 ? index - 1 : 0;
            direction = -direction;
            continue;
        }
        if (!visit(index, counted)) return;
        ++counted;
        index += direction;
    }
}

bool FrameCache::wanted(int index) const {
    for (int k = 1; k <= limits_.behind; ++k)
        if (index == cursor_ - k * direction_) return true;
    bool found = false;
    forEachUpcoming([&](int i, int) { return !(found = (i == index)); });
    return found;
}

size_t FrameCache::evictableBytes() const {
    size_t total = 0;
    for (const auto& [index, e] : entries_)
        if (e.state == State::Ready && !wanted(index)) total += e.bytes;
    return total;
}

bool FrameCache::findWork(int& index) const {
    if (kind_ == kFrameKindNone || folder_.empty()) return false;
    bool found = false;
    forEachUpcoming([&](int i, int position) {
        if (entries_.count(i)) return true;
        // The player's next frame is always read; others while they fit.
        if (position > 0 && bytes_ + estimate_ > limits_.byteBudget + evictableBytes()) return false;
        index = i;
        found = true;
        return false;
    });
    return found;
}

bool FrameCache::makeRoom(size_t bytes) {
    while (bytes_ + bytes > limits_.byteBudget) {
        auto victim = entries_.end();
        int distance = -1;
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->second.state != State::Ready || wanted(it->first)) continue;
            int d = std::abs(it->first - cursor_);
            if (d > distance) distance = d, victim = it;
        }
        if (victim == entries_.end()) return false;
        bytes_ -= victim->second.bytes;
        entries_.erase(victim);
    }
    return true;
}

bool FrameCache::decode(const std::string& path, StdPicture& out) {
    try {
        return decoder_(path, out) && out.isBitmap();
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void FrameCache::store(int index, uint64_t generation, bool ok, const StdPicture& picture) {
    ++decodes_;
    if (generation != generation_) return;
    auto it = entries_.find(index);
    if (it == entries_.end()) return;
    if (!ok) {
        it->second.state = State::Failed;
        return;
    }
    const size_t bytes = picture.bitmap->sizeBytes();
    estimate_ = std::max(estimate_, bytes);
    // A frame no longer wanted, or one that does not fit, is not kept; the
    // player's next frame is kept even beyond the budget.
    if (!wanted(index) || (!makeRoom(bytes) && index != cursor_)) {
        entries_.erase(it);
        return;
    }
    it->second.state = State::Ready;
    it->second.picture = picture;
    it->second.bytes = bytes;
    bytes_ += bytes;
}

void FrameCache::run() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        int index = 0;
        if (!findWork(index)) {
            changed_.wait(lock);
            continue;
        }
        makeRoom(estimate_);
        entries_[index] = Entry{};
        const std::string path = FramePath(folder_, index, kind_);
        const uint64_t generation = generation_;
        ++busy_;
        lock.unlock();
        StdPicture picture;
        const bool ok = decode(path, picture);
        lock.lock();
        --busy_;
        store(index, generation, ok, picture);
        changed_.notify_all();
    }
}

bool FrameCache::take(int index, StdPicture& out) {
    std::unique_lock lock(mutex_);
    for (;;) {
        auto it = entries_.find(index);
        if (it == entries_.end()) break;
        if (it->second.state == State::Ready) {
            out = it->second.picture;
            return true;
        }
        if (it->second.state == State::Failed) return false;
        changed_.wait(lock);  // a worker is decoding it
    }
    if (kind_ == kFrameKindNone || folder_.empty()) return false;
    // Nobody has started on it: read it here rather than wait for the worker.
    entries_[index] = Entry{};
    const std::string path = FramePath(folder_, index, kind_);
    const uint64_t generation = generation_;
    lock.unlock();
    StdPicture picture;
    const bool ok = decode(path, picture);
    lock.lock();
    store(index, generation, ok, picture);
    lock.unlock();
    changed_.notify_all();
    if (ok) out = picture;
    return ok;
}

int FrameCache::decodeCount() const {
    std::lock_guard lock(mutex_);
    return decodes_;
}

int FrameCache::cachedCount() const {
    std::lock_guard lock(mutex_);
    return int(std::count_if(entries_.begin(), entries_.end(),
                             [](const auto& e) { return e.second.state == State::Ready; }));
}

void FrameCache::waitIdle() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] {
        int index = 0;
        return busy_ == 0 && !findWork(index);
    });
}

}  // namespace tarnel
