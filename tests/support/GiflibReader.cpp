#include "support/GiflibReader.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace tarnel::test {

GiflibReader::GiflibReader(std::vector<uint8_t> bytes) : data_(std::move(bytes)) {
    gif_ = DGifOpen(this, &GiflibReader::read, &openError_);
    slurp();
}

GiflibReader::GiflibReader(const std::string& path) {
    gif_ = DGifOpenFileName(path.c_str(), &openError_);
    slurp();
}

GiflibReader::~GiflibReader() {
    int error = 0;
    if (gif_) DGifCloseFile(gif_, &error);
}

void GiflibReader::slurp() {
    if (gif_) slurp_ = DGifSlurp(gif_);
}

int GiflibReader::read(GifFileType* gif, GifByteType* buf, int n) {
    auto* self = static_cast<GiflibReader*>(gif->UserData);
    size_t k = std::min(size_t(n), self->data_.size() - self->pos_);
    std::memcpy(buf, self->data_.data() + self->pos_, k);
    self->pos_ += k;
    return int(k);
}

GraphicsControlBlock GiflibReader::gcb(int i) const {
    GraphicsControlBlock g{};
    DGifSavedExtensionToGCB(gif_, i, &g);
    return g;
}

std::vector<const ExtensionBlock*> GiflibReader::extensions() const {
    std::vector<const ExtensionBlock*> all;
    for (int i = 0; i < gif_->ImageCount; ++i)
        for (int k = 0; k < gif_->SavedImages[i].ExtensionBlockCount; ++k)
            all.push_back(&gif_->SavedImages[i].ExtensionBlocks[k]);
    for (int k = 0; k < gif_->ExtensionBlockCount; ++k) all.push_back(&gif_->ExtensionBlocks[k]);
    return all;
}

std::vector<std::string> GiflibReader::comments() const {
    std::vector<std::string> out;
    bool inComment = false;
    for (const ExtensionBlock* e : extensions()) {
        if (e->Function == COMMENT_EXT_FUNC_CODE) {
            out.emplace_back(reinterpret_cast<const char*>(e->Bytes), size_t(e->ByteCount));
            inComment = true;
        } else if (e->Function == CONTINUE_EXT_FUNC_CODE && inComment) {
            out.back().append(reinterpret_cast<const char*>(e->Bytes), size_t(e->ByteCount));
        } else {
            inComment = false;
        }
    }
    return out;
}

int GiflibReader::loops() const {
    auto all = extensions();
    for (size_t i = 0; i + 1 < all.size(); ++i)
        if (all[i]->Function == APPLICATION_EXT_FUNC_CODE && all[i]->ByteCount == 11 &&
            std::memcmp(all[i]->Bytes, "NETSCAPE2.0", 11) == 0 && all[i + 1]->ByteCount >= 3)
            return all[i + 1]->Bytes[1] | (all[i + 1]->Bytes[2] << 8);
    return 0;
}

}  // namespace tarnel::test
