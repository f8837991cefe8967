#pragma once
// Writing AVI files: our stand-in for the platform's AVI file library, on
// FFmpeg. Shaped like the calls the export makes: create the file, create a
// video stream from a stream header, make a compressed stream from the
// options the user chose, set the frame format from a bitmap info block,
// write one frame per call at a sample position, release. Uncompressed
// frames go into a classic DIB stream written by our own RIFF writer (chunks
// "00db", bottom-up rows exactly as given, idx1 of key frames); the
// compressors go through FFmpeg's encoders and AVI muxer.
//
// The file is written under a temporary name beside the target and renamed
// into place by Commit(), only when every frame was written; releasing an
// uncommitted writer removes the temporary file and leaves an existing file
// of the target's name untouched. FFmpeg never ends or logs over the
// process: every failure is a false result with LastError() saying why.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/AviTypes.h"

namespace tarnel {

// The compressors this FFmpeg build can write into AVI; H.264 only when it has an encoder.
std::vector<AviCodecInfo> AvailableAviCodecs();
// By key; false when unknown or not available.
bool FindAviCodec(const std::string& key, AviCodecInfo* info = nullptr);

class AviWriter {
public:
    AviWriter();
    ~AviWriter();  // Release()
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // AVIFileOpen with OF_CREATE: prepares `path` (an existing file is only
    // replaced on Commit).
    bool FileOpen(const std::string& path, uint32_t mode);
    // AVIFileCreateStream: a video stream from the header (rate/scale frames
    // per second, frame size from rcFrame).
    bool CreateStream(const AVISTREAMINFO& header);
    // AVIMakeCompressedStream with the chosen options.
    bool MakeCompressedStream(const AviCompressOptions& options);
    // AVIStreamSetFormat: a BITMAPINFOHEADER (and colour table) block of the
    // frames that Write will be given.
    bool SetFormat(const uint8_t* bitmapInfo, size_t size);
    // AVIStreamWrite of one sample: `data` is a pixel block in the layout the
    // format block describes (bottom-up rows for a positive height), exactly
    // one frame's bytes. Samples go in rising order; skipped ones are empty
    // (repeated) frames. Uncompressed frames are stored as given with the
    // key-frame flag from `flags`; a compressor makes its key frames by the
    // chosen interval.
    bool Write(int32_t sample, const uint8_t* data, size_t size, uint32_t flags);
    // Finishes the file (index, headers), syncs it and renames it into place.
    // Uncompressed files stay below 1 GB (AVI 1.0, which every reader takes).
    bool Commit();
    // Releases streams and file; an uncommitted file is removed.
    void Release();

    const std::string& LastError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tarnel
