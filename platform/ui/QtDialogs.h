#pragma once
// The dialog service with real Qt dialogs: message boxes titled "Tarnel",
// the open and save file dialogs and the colour dialog.
#include <QString>
#include <QStringList>

#include "platform/Dialogs.h"

class QWidget;

namespace tarnel {

class QtDialogs : public DialogService {
public:
    MsgResult messageBox(const std::string& text, MsgIcon icon, MsgButtons buttons,
                         const std::string& title) override;
    std::optional<std::string> openFile(const FileDialogRequest& request) override;
    std::optional<std::string> saveFile(const FileDialogRequest& request) override;
    std::optional<ColorRef> chooseColor(ColorRef initial, CustomColors* customColors = nullptr,
                                        bool fullOpen = false) override;

    // "説明|*.bmp;*.jpg|..." as the windows pass it, as Qt name filters
    // ("説明 (*.bmp *.jpg)").
    static QStringList nameFilters(const std::string& filter);

private:
    static QWidget* owner();
};

}  // namespace tarnel
