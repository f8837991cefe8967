#pragma once
// A small reader of RIFF files for tests, written from the format alone:
// chunks and lists as a tree, and the pieces of an AVI file the tests look at
// (main and stream headers, the frame format, the movi chunks, idx1).
#include <cstdint>
#include <string>
#include <vector>

namespace tarnel::test {

struct RiffChunk {
    std::string id;        // "RIFF", "LIST", "avih", "00db", ...
    std::string listType;  // for RIFF and LIST: "AVI ", "hdrl", "movi", ...
    size_t offset = 0;     // file offset of the chunk's id
    size_t dataOffset = 0; // first byte after the size (for lists: the type)
    uint32_t size = 0;     // as stored
    std::vector<RiffChunk> children;

    // The first child with this id (or list type), or null.
    const RiffChunk* child(const std::string& idOrListType) const;
};

// Parses the whole file; false with `error` when a chunk runs past its parent.
bool ParseRiff(const std::vector<uint8_t>& bytes, RiffChunk& root, std::string& error);

struct AviMainHeader {
    uint32_t microSecPerFrame, maxBytesPerSec, paddingGranularity, flags, totalFrames, initialFrames, streams,
        suggestedBufferSize, width, height;
};

struct AviStreamHeader {
    std::string fccType, fccHandler;
    uint32_t flags, initialFrames, scale, rate, start, length, suggestedBufferSize, quality, sampleSize;
    int16_t left, top, right, bottom;
};

struct AviBitmapHeader {
    uint32_t size;
    int32_t width, height;
    uint16_t planes, bitCount;
    uint32_t compression, sizeImage;
};

struct AviIndexEntry {
    std::string id;
    uint32_t flags, offset, size;
};

struct AviFrameChunk {
    std::string id;
    size_t dataOffset;
    uint32_t size;
};

struct AviContents {
    AviMainHeader main{};
    AviStreamHeader stream{};
    AviBitmapHeader format{};
    std::vector<AviFrameChunk> frames;  // the movi chunks in file order
    std::vector<AviIndexEntry> index;
    size_t moviListType = 0;            // file offset of the 'movi' fourcc
};

// The first video stream of an AVI file; false with `error` for anything missing.
bool ReadAvi(const std::vector<uint8_t>& bytes, AviContents& avi, std::string& error);

}  // namespace tarnel::test
