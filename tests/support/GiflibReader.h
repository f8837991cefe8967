#pragma once
// giflib, a decoder that is not ours, reading a whole GIF (DGifSlurp) from
// memory or from a file: the reference that tests compare our codec with.
#include <gif_lib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnel::test {

class GiflibReader {
public:
    explicit GiflibReader(std::vector<uint8_t> bytes);
    explicit GiflibReader(const std::string& path);
    ~GiflibReader();
    GiflibReader(const GiflibReader&) = delete;
    GiflibReader& operator=(const GiflibReader&) = delete;

    // Opened and slurped without error.
    bool ok() const { return gif_ && slurp_ == GIF_OK; }
    // Null when giflib could not open the data; openError() says why.
    GifFileType* get() const { return gif_; }
    GifFileType* operator->() const { return gif_; }
    int openError() const { return openError_; }
    // What DGifSlurp returned (GIF_ERROR when the data did not open).
    int slurpResult() const { return slurp_; }

    // Image i's graphic control block; giflib's defaults where it has none.
    GraphicsControlBlock gcb(int i) const;
    // Every extension block in file order (before each image, then trailing ones).
    std::vector<const ExtensionBlock*> extensions() const;
    std::vector<std::string> comments() const;
    // The looping extension's count, 0 without one.
    int loops() const;

private:
    static int read(GifFileType* gif, GifByteType* buf, int n);
    void slurp();

    std::vector<uint8_t> data_;
    size_t pos_ = 0;
    GifFileType* gif_ = nullptr;
    int openError_ = 0;
    int slurp_ = GIF_ERROR;
};

}  // namespace tarnel::test
