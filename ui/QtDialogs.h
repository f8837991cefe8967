#pragma once
// The dialog service with real Qt dialogs (Qt's own, never the desktop's):
// message boxes titled "Tarnel", the open and save file dialogs and the
// colour dialog. The compression
// dialog is drawn in the windows' skin, one layer up: the application hands
// it in with setCompressionDialog.
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>

#include "platform/Dialogs.h"

class QWidget;

namespace tarnel {

class QtDialogs : public DialogService {
public:
    // The open and save dialogs' size where the screen has room for it.
    static constexpr QSize kFileDialogSize{900, 560};

    MsgResult messageBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                         const std::string& title) override;
    std::optional<std::string> openFile(const FileDialogRequest& request) override;
    std::optional<std::string> saveFile(const FileDialogRequest& request) override;
    std::optional<ColorRef> chooseColor(ColorRef initial, CustomColors* customColors = nullptr,
                                        bool fullOpen = false) override;
    // Without a dialog handed in, cancels as the default service does.
    std::optional<AviCompressOptions> chooseCompression(const CompressionDialogRequest& request) override;

    using CompressionDialogFn = std::function<std::optional<AviCompressOptions>(const CompressionDialogRequest&)>;
    void setCompressionDialog(CompressionDialogFn dialog) { compressionDialog_ = std::move(dialog); }

    // "説明|*.bmp;*.jpg|..." as the windows pass it, as Qt name filters
    // ("説明 (*.bmp *.jpg)").
    static QStringList nameFilters(const std::string& filter);

private:
    static QWidget* owner();
    CompressionDialogFn compressionDialog_;
};

}  // namespace tarnel
