// The composer's commands: optimise, transparency, picking the transparent
// colour, the background colour and saving.
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPushButton>
#include <algorithm>
#include <cctype>
#include <exception>

#include "core/WindowLinks.h"
#include "imaging/palette/mDither8bpp.h"
#include "imaging/gif/mGIFExt.h"
#include "output/ComposerMedia.h"
#include "output/ui/Tarnel_G.h"
#include "platform/AtomicFile.h"
#include "platform/Dialogs.h"
#include "ui/widgets/PictureBoxWidget.h"
#include "ui/mDialogColor.h"
#include "ui/widgets/ucCanvas.h"
#include "ui/widgets/ucProgress.h"

namespace tarnel {

namespace {

// A pointer shape for as long as the object lives.
class OverridePointer {
public:
    explicit OverridePointer(Qt::CursorShape shape) { QGuiApplication::setOverrideCursor(shape); }
    ~OverridePointer() { QGuiApplication::restoreOverrideCursor(); }
    OverridePointer(const OverridePointer&) = delete;
    OverridePointer& operator=(const OverridePointer&) = delete;
};

bool isWebPPath(const std::string& path) {
    if (path.size() < 5) return false;
    std::string tail = path.substr(path.size() - 5);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return tail == ".webp";
}

}  // namespace

void Tarnel_G::Cmd_Optimize_Click() {
    if (gif_.FramesCount() < 1) return;
    tmrDelay.stop();
    QCoreApplication::processEvents();
    OptimizePalette(gif_, ucProgress);
    if (optimizeMax_) SortPaletteByUse(gif_, ucProgress);
    transparentIndex_ = gif_.FrameTransparentColorIndex(1);
    OptimizeFrames(gif_, ucProgress);
    optimized_ = true;
    StartPreview();
    UpdateInfo();
}

void Tarnel_G::Img_Transparent_Click() {
    if (gif_.FramesCount() < 1) return;
    useTransparency_ = !useTransparency_;
    showSwitch();
    cmdPickColor->setEnabled(useTransparency_);
    applyTransparency();
}

void Tarnel_G::applyTransparency() {
    OverridePointer hourglass(Qt::WaitCursor);
    SetFramesTransparency(gif_, useTransparency_, transparentIndex_, ucProgress);
}

void Tarnel_G::cmdPickColor_Click() {
    if (!useTransparency_) return;
    picking_ = true;
    ucCanvas->SetWorkMode(1);
    tmrDelay.stop();
    currentFrame_ = 1;
    ShowFrame(1);
}

void Tarnel_G::pickAt(int x, int y) {
    if (!picking_ || ucCanvas->DIB().empty() || gif_.FramesCount() < 1) return;
    const GcDIB& image = gif_.FrameDIBXOR(1);
    const int left = gif_.FrameLeft(1), top = gif_.FrameTop(1);
    if (x < left || y < top || x >= left + image.Width() || y >= top + image.Height()) return;
    transparentIndex_ = Dither8bpp::GetPixelIndex(image, x - left, y - top);
}

void Tarnel_G::ucCanvas_MouseDown(int Button, int, int X, int Y) {
    if (Button == kLeftButton) pickAt(X, Y);
}

void Tarnel_G::ucCanvas_MouseMove(int Button, int, int X, int Y) {
    if (Button & kLeftButton) pickAt(X, Y);
}

void Tarnel_G::ucCanvas_MouseUp(int Button, int, int, int) {
    if (Button == kLeftButton && picking_) {
        picking_ = false;
        ucCanvas->SetWorkMode(0);
        applyTransparency();
        tmrDelay.setInterval(1);
        tmrDelay.start();
    } else if (Button == kRightButton) {
        const int32_t colour = ShowColorDialog(this, ucCanvas->BackColor(), false);
        if (colour == -1) return;
        ucCanvas->SetBackColor(uint32_t(colour));
        StartPreview();
    }
}

void Tarnel_G::Cmd_Save_Click() {
    if (gif_.FramesCount() < 1) return;
    WindowLinks& links = Links();
    links.MediaFilePath = "*.gif";
    FileDialogRequest request;
    request.title = "ﾌｧｲﾙ名を付けて保存";
    request.filter = "GIFﾌｧｲﾙ|*.gif|WebP ｱﾆﾒｰｼｮﾝﾌｧｲﾙ|*.webp";
    request.fileName = links.MediaFilePath;
    request.initialFolder = links.MediaFolder;
    request.defaultExtension = "gif";
    request.overwritePrompt = true;
    std::optional<std::string> chosen = Dialogs().saveFile(request);
    if (!chosen) return;
    links.MediaFilePath = chosen->substr(0, chosen->find('\0'));
    QCoreApplication::processEvents();
    const bool webp = isWebPPath(links.MediaFilePath);
    bool saved = false;
    {
        OverridePointer busy(Qt::BusyCursor);
        try {
            if (webp) {
                // The frames as the preview plays them, over its background.
                saved = SaveAnimatedWebP(gif_, links.MediaFilePath, ucCanvas->BackColor());
            } else {
            // Frames with the user's transparent colour keep it as it is.
            GifSaveOptions options;
            options.interFrameTransparency = optimized_ && !useTransparency_;
            if (optimizeMax_) {
                // At max, frames with the user's transparent colour take part
                // too, and the palette order that codes shortest is kept.
                std::vector<uint8_t> bytes;
                saved = CodeSmallestFile(gif_, bytes, nullptr) &&
                        WriteFileReplacing(links.MediaFilePath, bytes.data(), bytes.size(), nullptr, true);
            } else {
                saved = gif_.Save(links.MediaFilePath, options);
            }
            }
        } catch (const std::exception&) {
            // The file is built in memory first; running out of it leaves any old file as it was.
            saved = false;
        }
    }
    if (saved) {
        accept();
        return;
    }
    Dialogs().messageBox(webp ? "Saving Error WebP file" : "Saving Error GIF file", MsgIcon::Exclamation, MsgButtons::OK, kAppTitle);
}

}  // namespace tarnel
