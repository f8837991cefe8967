#pragma once
// Animated WebP files through libwebp's animation encoder: open with the
// frame size and the coding, add one picture per call with how long it
// shows, commit. Frames are 24- or 32-bpp BGR bitmaps, stored opaque.
//
// A frame identical to the one before is merged into its duration. Lossless
// animations go through libwebp's animation encoder, which keeps only what
// changed (a sub-rectangle, blended or not). Lossy frames are not coded over
// the decoded frame before: a morph changes every pixel a little each frame,
// and the animation encoder leaves pixels that changed "little" to the
// previous decoded frame, whose errors then pile up frame by frame. Here each
// lossy frame is a picture of its own: the rectangle of the pixels that
// changed at all, coded independently (so frames are coded on all cores at
// once) and placed over the frame before without blending.
//
// The file is assembled in memory and written under a temporary name, then
// renamed into place by Commit(); an existing file of the target's name is
// replaced only then. libwebp never ends the process: every failure is a
// false result with LastError() saying why.
#include <memory>
#include <string>

#include "platform/gdi.h"

namespace tarnel {

// Lossy quality 0-100 (higher is better).
inline constexpr int kDefaultWebPQuality = 85;
// Encoder effort 0-6 (higher is slower and smaller).
inline constexpr int kDefaultWebPMethod = 4;

struct WebPAnimOptions {
    int width = 0, height = 0;  // of the frames that Write will be given
    bool lossless = false;
    int quality = kDefaultWebPQuality;  // lossy: 0-100; lossless: the effort of the search, 0-100
    int method = kDefaultWebPMethod;
    int loops = 0;  // times played, 0 = forever (up to 65535)
    // Lossy frames coded at once; 0: one per core.
    int threads = 0;
};

class WebPAnimWriter {
public:
    WebPAnimWriter();
    ~WebPAnimWriter();  // Release()
    WebPAnimWriter(const WebPAnimWriter&) = delete;
    WebPAnimWriter& operator=(const WebPAnimWriter&) = delete;

    // Starts the encoder; the file is only written by Commit.
    bool Open(const std::string& path, const WebPAnimOptions& options);
    // One frame shown for `milliseconds` (at least 1).
    bool Write(const Bitmap& frame, int milliseconds);
    // Assembles the animation and writes the file into place. At least one
    // frame must have been written.
    bool Commit();
    // Ends the encoder; nothing is written.
    void Release();

    int framesWritten() const;
    // Bytes of the committed file.
    size_t fileBytes() const;
    const std::string& LastError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarnel
