#include "imaging/bmp/cDIB.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include <unistd.h>

#include "platform/AtomicFile.h"
#include "platform/Dialogs.h"
#include "platform/FileRead.h"

namespace tarnel {

namespace {

constexpr const char* kNotFound = "ﾌｧｲﾙが存在しません :";
constexpr const char* kLocked = "ﾌｧｲﾙがﾛｯｸされています :";
constexpr const char* kUnsupported = "ｻﾎﾟｰﾄされていないﾌｧｲﾙﾌｫｰﾏｯﾄです :";
constexpr const char* kColourUnsupported = "この画像ﾌｧｲﾙの色はｻﾎﾟｰﾄしていません!";

// Shows the problem, or hands it to a caller that reports it itself.
struct Teller {
    std::string* problem;
    bool operator()(const std::string& text, MsgIcon icon) const {
        if (problem)
            *problem = text;
        else
            Dialogs().messageBox(text, icon, MsgButtons::OK, kAppTitle);
        return false;
    }
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool readAt(std::FILE* f, uint64_t offset, uint8_t* dst, size_t count) {
    if (count == 0) return true;
    if (offset > uint64_t(INT64_MAX) || fseeko(f, off_t(offset), SEEK_SET) != 0) return false;
    return std::fread(dst, 1, count, f) == count;
}

}  // namespace

bool cDIB::CreateFromFile(const std::string& Filename) { return CreateFromFile(Filename, nullptr); }

bool cDIB::CreateFromFile(const std::string& Filename, std::string* problem) {
    const Teller tell{problem};
    // Regular files only: a FIFO would block the open for ever.
    std::error_code ec;
    const int fd = OpenRegularFile(Filename, ec);
    // What is not a regular file counts as missing, as a folder always did.
    if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory ||
        ec == std::errc::is_a_directory || ec.category() == FileTypeErrorCategory())
        return tell(std::string(kNotFound) + "\n" + Filename, MsgIcon::Critical);
    if (ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted)
        return tell(std::string(kLocked) + "\n" + Filename, MsgIcon::Critical);
    if (ec) return tell(ec.message(), MsgIcon::Information);
    File file(::fdopen(fd, "rb"));
    if (!file) {
        int err = errno;
        ::close(fd);
        return tell(std::strerror(err ? err : EIO), MsgIcon::Information);
    }
    const std::string unsupported = std::string(kUnsupported) + "\n" + Filename;

    // Measure the open file itself, not the path, and hold every block to it:
    // a block reaching past the end is a broken file, not something to read.
    if (fseeko(file.get(), 0, SEEK_END) != 0) return tell(std::strerror(errno), MsgIcon::Information);
    off_t length = ftello(file.get());
    if (length < 0) return tell(std::strerror(errno), MsgIcon::Information);
    const uint64_t fileSize = uint64_t(length);

    uint8_t head[BITMAPFILEHEADER::kSize + BITMAPINFOHEADER::kSize] = {};
    if (fileSize < BITMAPFILEHEADER::kSize) return tell(unsupported, MsgIcon::Information);
    if (!readAt(file.get(), 0, head, BITMAPFILEHEADER::kSize)) return tell(std::strerror(EIO), MsgIcon::Information);
    BITMAPFILEHEADER fileHeader = BITMAPFILEHEADER::read(head);
    if (fileHeader.bfType != kBmpSignature) return tell(unsupported, MsgIcon::Information);

    constexpr uint64_t kHeaders = BITMAPFILEHEADER::kSize + BITMAPINFOHEADER::kSize;
    if (fileSize < kHeaders) return tell(unsupported, MsgIcon::Information);
    if (!readAt(file.get(), BITMAPFILEHEADER::kSize, head + BITMAPFILEHEADER::kSize, BITMAPINFOHEADER::kSize))
        return tell(std::strerror(EIO), MsgIcon::Information);
    BITMAPINFOHEADER infoHeader = BITMAPINFOHEADER::read(head + BITMAPFILEHEADER::kSize);

    const uint64_t offBits = fileHeader.bfOffBits;
    const uint64_t sizeImage = infoHeader.biSizeImage;
    if (offBits < kHeaders || offBits > fileSize) return tell(unsupported, MsgIcon::Information);
    if (sizeImage == 0 || sizeImage > uint64_t(INT32_MAX) || sizeImage > fileSize - offBits)
        return tell(unsupported, MsgIcon::Information);

    std::vector<uint8_t> bits, infoBlock;
    try {
        bits.resize(size_t(sizeImage));
        infoBlock.resize(size_t(offBits - BITMAPFILEHEADER::kSize));
    } catch (const std::bad_alloc&) {
        return tell(std::strerror(ENOMEM), MsgIcon::Information);
    }
    if (!readAt(file.get(), offBits, bits.data(), bits.size()) ||
        !readAt(file.get(), BITMAPFILEHEADER::kSize, infoBlock.data(), infoBlock.size()))
        return tell(std::strerror(EIO), MsgIcon::Information);

    file_ = fileHeader;
    info_ = infoHeader;
    bits_ = std::move(bits);
    infoBlock_ = std::move(infoBlock);
    return true;
}

bool cDIB::CreateFromPackedDIBPointer(const uint8_t* pDIB, size_t available) {
    if (!pDIB || available < BITMAPINFOHEADER::kSize) return false;
    BITMAPINFOHEADER infoHeader = BITMAPINFOHEADER::read(pDIB);
    if (infoHeader.biBitCount <= 15) {
        Dialogs().messageBox(kColourUnsupported, MsgIcon::None, MsgButtons::OK, kAppTitle);
        return false;
    }
    if (int32_t(infoHeader.biSizeImage) <= 0) return false;
    const size_t sizeImage = infoHeader.biSizeImage;
    if (sizeImage > available - BITMAPINFOHEADER::kSize) return false;

    std::vector<uint8_t> bits, infoBlock;
    try {
        bits.assign(pDIB + BITMAPINFOHEADER::kSize, pDIB + BITMAPINFOHEADER::kSize + sizeImage);
        infoBlock.assign(pDIB, pDIB + BITMAPINFOHEADER::kSize);
    } catch (const std::bad_alloc&) {
        return false;
    }
    info_ = infoHeader;
    file_ = BITMAPFILEHEADER{};
    file_.bfType = kBmpSignature;
    file_.bfSize = uint32_t(sizeImage + 54);
    file_.bfOffBits = 54;
    bits_ = std::move(bits);
    infoBlock_ = std::move(infoBlock);
    return true;
}

bool cDIB::WriteToFile(const std::string& Filename) const {
    if (infoBlock_.empty()) return false;
    std::string bytes(BITMAPFILEHEADER::kSize, '\0');
    file_.write(reinterpret_cast<uint8_t*>(bytes.data()));
    bytes.append(reinterpret_cast<const char*>(infoBlock_.data()), infoBlock_.size());
    bytes.append(reinterpret_cast<const char*>(bits_.data()), bits_.size());
    // Replaced as a whole: never half-written, never a device or FIFO written
    // (or waited on) in place of a file.
    return !WriteFileAtomically(Filename, bytes, false);
}

}  // namespace tarnel
