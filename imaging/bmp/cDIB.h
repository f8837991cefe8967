#pragma once
// A plain reader and writer of uncompressed BMP files, held as two byte
// blocks: the info block (header plus colour table or masks) and the pixel
// block. The AVI export reads its saved frames back through it.
// Nothing is decoded: the blocks are what the headers point at, whatever the
// depth, compression or header version, so this reader shares the headers
// with DecodeBmp but not its checks; and it reads only those blocks from the
// file, never the whole file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/bmp/BmpFormat.h"

namespace tarnel {

class cDIB {
public:
    // Reads a BMP file; problems are shown to the user and give false, and
    // the blocks then keep what they held before.
    bool CreateFromFile(const std::string& Filename);
    // The same without a message box: the message that would have been shown
    // goes to `problem`. For callers that report the failure themselves.
    bool CreateFromFile(const std::string& Filename, std::string* problem);
    // A BITMAPINFOHEADER directly followed by the pixels, no colour table;
    // `available` is the number of readable bytes at pDIB.
    bool CreateFromPackedDIBPointer(const uint8_t* pDIB, size_t available);
    // Writes file header, info block and pixel block, replacing any existing
    // file. False when nothing is held or the file cannot be written.
    bool WriteToFile(const std::string& Filename) const;

    int32_t BitCount() const { return info_.biBitCount; }
    int32_t Height() const { return info_.biHeight; }
    int32_t Width() const { return info_.biWidth; }
    int32_t Compression() const { return int32_t(info_.biCompression); }
    int32_t SizeInfoHeader() const { return int32_t(info_.biSize); }
    int32_t SizeImage() const { return int32_t(info_.biSizeImage); }
    int32_t Planes() const { return info_.biPlanes; }
    int32_t ClrImportant() const { return int32_t(info_.biClrImportant); }
    int32_t ClrUsed() const { return int32_t(info_.biClrUsed); }
    int32_t XPPM() const { return info_.biXPelsPerMeter; }
    int32_t YPPM() const { return info_.biYPelsPerMeter; }
    int32_t FileType() const { return file_.bfType; }
    int32_t SizeFileHeader() const { return int32_t(file_.bfSize); }
    int32_t BitOffset() const { return int32_t(file_.bfOffBits); }

    // First byte of the pixel block / of the info block; null while empty.
    const uint8_t* PointerToBits() const { return bits_.empty() ? nullptr : bits_.data(); }
    const uint8_t* PointerToBitmapInfo() const { return infoBlock_.empty() ? nullptr : infoBlock_.data(); }
    int32_t SizeBitmapInfo() const { return int32_t(infoBlock_.size()); }

    // The blocks themselves, for code that wants their sizes.
    const std::vector<uint8_t>& Bits() const { return bits_; }
    const std::vector<uint8_t>& BitmapInfo() const { return infoBlock_; }

private:
    BITMAPFILEHEADER file_;
    BITMAPINFOHEADER info_;
    std::vector<uint8_t> infoBlock_;
    std::vector<uint8_t> bits_;
};

}  // namespace tarnel
