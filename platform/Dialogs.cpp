#include "platform/Dialogs.h"

#include <cstdio>

namespace tarnel {

MsgResult DialogService::messageBox(const std::string& text, MsgIcon, MsgButtons buttons, const std::string& title) {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    switch (buttons) {
        case MsgButtons::OK: return MsgResult::OK;
        case MsgButtons::OKCancel:
        case MsgButtons::RetryCancel:
        case MsgButtons::YesNoCancel: return MsgResult::Cancel;
        case MsgButtons::YesNo: return MsgResult::No;
    }
    return MsgResult::OK;
}

std::optional<std::string> DialogService::openFile(const FileDialogRequest&) { return std::nullopt; }
std::optional<std::string> DialogService::saveFile(const FileDialogRequest&) { return std::nullopt; }
std::optional<ColorRef> DialogService::chooseColor(ColorRef, CustomColors*, bool) { return std::nullopt; }
std::optional<AviCompressOptions> DialogService::chooseCompression(const CompressionDialogRequest&) {
    return std::nullopt;
}

namespace {
DialogService& defaultService() {
    static DialogService service;
    return service;
}
DialogService* current = nullptr;
}  // namespace

DialogService& Dialogs() { return current ? *current : defaultService(); }
void SetDialogs(DialogService* service) { current = service; }

}  // namespace tarnel
