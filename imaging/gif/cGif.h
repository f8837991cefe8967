#pragma once
// A whole animated GIF in memory. Each frame is an 8-bpp colour image (the
// XOR image) and a 1-bpp mask (the AND mask), so a frame with a transparent
// colour draws onto any surface with two raster operations: the mask with
// SRCAND, then the image with SRCPAINT.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/GcDIB.h"
#include "imaging/LoadBudget.h"
#include "imaging/gif/GifLimits.h"
#include "platform/Colors.h"

namespace tarnel {

struct GifDeltaCoding;

// How cGif::Save codes the frames; the defaults give the plain file.
struct GifSaveOptions {
    // From frame 2 on, a frame without transparency of its own writes the
    // pixels that already show beneath it as an unused index made
    // transparent. An animation that changes everywhere (a morph) keeps
    // many exact colours from frame to frame once reduced to a palette,
    // and runs of one index code far smaller. It displays the same.
    bool interFrameTransparency = false;
    // The same, more thoroughly: frames with a transparent index of their
    // own take part too, and each frame makes transparent only those pixels
    // that shorten its coded data (see GifDeltaCoder.h). Overrides the above.
    bool smallestDelta = false;
};

class cGif {
public:
    cGif() = default;
    ~cGif() { Destroy(); }
    cGif(const cGif&) = delete;
    cGif& operator=(const cGif&) = delete;

    // Any failure empties the container, gives false and leaves the reason in
    // LoadError(). Frames are allocated only once their data has been read,
    // from a budget sized for the input (LoadBudget::ForInput).
    bool LoadFromFile(const std::string& Filename);
    bool LoadFromStream(const uint8_t* Stream, size_t Size);
    bool LoadFromStream(const std::vector<uint8_t>& Stream) { return LoadFromStream(Stream.data(), Stream.size()); }
    // The file up to and including its first image, for showing it as a
    // picture: what follows is not read, so a later image's missing control
    // extension does not matter. Frames come out of `Budget`.
    bool LoadFirstImage(const uint8_t* Stream, size_t Size, LoadBudget& Budget);
    const std::string& LoadError() const { return loadError_; }
    // The file is built in memory, written beside the target and renamed into
    // place, so a failed save never leaves a half-written GIF. False when the
    // container cannot be written as a valid GIF or on any I/O error.
    bool Save(const std::string& Filename) const;
    // `error`, when given, says why a save failed.
    bool Save(const std::string& Filename, const GifSaveOptions& Options, std::string* error = nullptr) const;
    bool SaveToStream(std::vector<uint8_t>& Stream) const;
    bool SaveToStream(std::vector<uint8_t>& Stream, const GifSaveOptions& Options) const;
    void Destroy();

    // Draws one frame at its position scaled by ScaleFactor; disposal is the
    // caller's business.
    void FrameDraw(HDC hDC, int nFrame, int32_t Left, int32_t Top, float ScaleFactor = 1.0f,
                   bool ScreenCrop = false) const;
    // Rebuilds the frame's mask and XOR colour table from its palette.
    void FrameMask(int nFrame, uint8_t TransparentColorIndex);
    // False, with nothing changed, when the surfaces cannot be made at that size.
    bool FrameInsert(int nFrame, int32_t Width, int32_t Height);
    void FrameRemove(int nFrame);
    void FrameMoveUp(int nFrame);
    void FrameMoveDown(int nFrame);
    void CommentAdd();
    void CommentRemove(int nComment);

    // Properties. Frames and comments are numbered from 1; palette entries
    // from 0 to 255. Indices outside raise the subscript error.
    int16_t AnimationLoops() const { return loops_; }
    void SetAnimationLoops(int16_t v) { loops_ = v; }
    int16_t ScreenWidth() const { return screenWidth_; }
    void SetScreenWidth(int16_t v) { screenWidth_ = v; }
    int16_t ScreenHeight() const { return screenHeight_; }
    void SetScreenHeight(int16_t v) { screenHeight_ = v; }
    uint8_t ScreenBackgroundColorIndex() const { return background_; }
    void SetScreenBackgroundColorIndex(uint8_t v) { background_ = v; }
    float ScreenPixelAspectRatio() const;
    void SetScreenPixelAspectRatio(float v);  // raises the overflow error outside the byte range

    uint8_t* lpGlobalPalette() { return globalPalette_.data(); }
    const uint8_t* lpGlobalPalette() const { return globalPalette_.data(); }
    ColorRef GlobalPaletteRGBEntry(int nEntry) const;
    bool GlobalPaletteExists() const { return globalExists_; }
    void SetGlobalPaletteExists(bool v) { globalExists_ = v; }
    bool GlobalPaletteSorted() const { return globalSorted_; }
    void SetGlobalPaletteSorted(bool v) { globalSorted_ = v; }
    int16_t GlobalPaletteEntries() const { return globalEntries_; }
    void SetGlobalPaletteEntries(int16_t v) { globalEntries_ = v; }

    int16_t FramesCount() const { return int16_t(frames_.size()); }
    GcDIB& FrameDIBXOR(int nFrame) { return frame(nFrame).XOR; }
    const GcDIB& FrameDIBXOR(int nFrame) const { return frame(nFrame).XOR; }
    GcDIB& FrameDIBAND(int nFrame) { return frame(nFrame).AND; }
    const GcDIB& FrameDIBAND(int nFrame) const { return frame(nFrame).AND; }

    int16_t FrameDelay(int nFrame) const { return control(nFrame).FrameDelay; }
    void SetFrameDelay(int nFrame, int16_t v) { control(nFrame).FrameDelay = v; }
    bool FrameInterlaced(int nFrame) const { return frame(nFrame).FrameInterlaced; }
    void SetFrameInterlaced(int nFrame, bool v) { frame(nFrame).FrameInterlaced = v; }
    int16_t FrameLeft(int nFrame) const { return frame(nFrame).FrameLeft; }
    void SetFrameLeft(int nFrame, int16_t v) { frame(nFrame).FrameLeft = v; }
    int16_t FrameTop(int nFrame) const { return frame(nFrame).FrameTop; }
    void SetFrameTop(int nFrame, int16_t v) { frame(nFrame).FrameTop = v; }
    uint8_t FrameDisposalMethod(int nFrame) const { return control(nFrame).FrameDisposalMethod; }
    void SetFrameDisposalMethod(int nFrame, uint8_t v) { control(nFrame).FrameDisposalMethod = v; }
    bool FrameUseTransparentColor(int nFrame) const { return control(nFrame).FrameUseTransparentColor; }
    void SetFrameUseTransparentColor(int nFrame, bool v) { control(nFrame).FrameUseTransparentColor = v; }
    uint8_t FrameTransparentColorIndex(int nFrame) const { return control(nFrame).FrameTransparentColorIndex; }
    void SetFrameTransparentColorIndex(int nFrame, uint8_t v) { control(nFrame).FrameTransparentColorIndex = v; }
    bool FrameUserInput(int nFrame) const { return control(nFrame).FrameUserInput; }
    void SetFrameUserInput(int nFrame, bool v) { control(nFrame).FrameUserInput = v; }

    uint8_t* lpLocalPalette(int nFrame) { return frame(nFrame).Palette.data(); }
    const uint8_t* lpLocalPalette(int nFrame) const { return frame(nFrame).Palette.data(); }
    ColorRef LocalPaletteRGBEntry(int nFrame, int nEntry) const;
    bool LocalPaletteUsed(int nFrame) const { return frame(nFrame).LocalPaletteUsed; }
    void SetLocalPaletteUsed(int nFrame, bool v) { frame(nFrame).LocalPaletteUsed = v; }
    bool LocalPaletteSorted(int nFrame) const { return frame(nFrame).LocalPaletteSorted; }
    void SetLocalPaletteSorted(int nFrame, bool v) { frame(nFrame).LocalPaletteSorted = v; }
    int16_t LocalPaletteEntries(int nFrame) const { return frame(nFrame).LocalPaletteEntries; }
    void SetLocalPaletteEntries(int nFrame, int16_t v) { frame(nFrame).LocalPaletteEntries = v; }

    int16_t CommentsCount() const { return int16_t(comments_.size()); }
    // Raw bytes as stored in the file (the system's ANSI code page).
    const std::string& Comment(int nComment) const;
    void SetComment(int nComment, const std::string& text);

    // "87a" or "89a" after a load, empty otherwise.
    const std::string& Version() const { return version_; }

private:
    // Graphic control extension of one frame.
    struct ControlRecord {
        bool FrameUseTransparentColor = false;
        uint8_t FrameTransparentColorIndex = 0;
        int16_t FrameDelay = 0;
        uint8_t FrameDisposalMethod = 0;
        bool FrameUserInput = false;
    };
    struct FrameRecord {
        GcDIB XOR;
        GcDIB AND;
        int16_t FrameLeft = 0, FrameTop = 0;
        bool FrameInterlaced = false;
        bool LocalPaletteUsed = false;
        bool LocalPaletteSorted = false;
        int16_t LocalPaletteEntries = 0;
        std::array<uint8_t, 1024> Palette{};  // RGBQUAD entries
    };
    class StreamReader;  // bounds-checked cursor over the bytes being parsed

    FrameRecord& frame(int nFrame);
    const FrameRecord& frame(int nFrame) const;
    ControlRecord& control(int nFrame);
    const ControlRecord& control(int nFrame) const;
    void checkComment(int nComment) const;
    static void applyMask(FrameRecord& f, const ControlRecord& c, uint8_t TransparentColorIndex);

    // Reading, one function per section of the file.
    bool load(const uint8_t* Stream, size_t Size, LoadBudget& budget, bool firstImageOnly);
    bool parse(StreamReader& in);
    bool readHeader(StreamReader& in);
    bool readScreenDescriptor(StreamReader& in);
    bool readExtension(StreamReader& in);
    bool readControlExtension(StreamReader& in);
    bool readCommentExtension(StreamReader& in);
    bool readApplicationExtension(StreamReader& in);
    bool readImage(StreamReader& in);
    // Writing: the whole file into `out`; false when it cannot be a valid GIF.
    bool buildFile(std::vector<uint8_t>& out, const GifSaveOptions& options) const;
    // The data of every frame as GifSaveOptions::smallestDelta codes it.
    bool codeSmallestDeltas(std::vector<GifDeltaCoding>& out) const;

    bool initialised_ = false;  // loaded, cleared or given a frame at least once
    std::string signature_, version_;
    int16_t screenWidth_ = 0, screenHeight_ = 0;
    uint8_t screenFlags_ = 0;
    uint8_t background_ = 0;
    uint8_t aspect_ = 0;
    int16_t loops_ = 0;
    bool globalExists_ = false, globalSorted_ = false;
    int16_t globalEntries_ = 0;
    std::array<uint8_t, 1024> globalPalette_{};
    // Control records are kept apart from the frames, as the file holds them:
    // image n takes the n-th graphic control extension. There is always at
    // least one record once initialised, so a first image may go without.
    std::vector<ControlRecord> controls_;
    std::vector<std::unique_ptr<FrameRecord>> frames_;  // stable addresses for FrameDIBXOR references
    std::vector<std::string> comments_;
    std::string loadError_;  // why the last load failed
};

}  // namespace tarnel
