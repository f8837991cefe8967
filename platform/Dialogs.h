#pragma once
// One injectable service for message boxes and the common dialogs. The GUI
// installs a Qt implementation, tests a scripted one; the default writes
// messages to standard error and cancels every dialog.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "platform/media/AviTypes.h"
#include "platform/Colors.h"

namespace tarnel {

enum class MsgIcon { None, Information, Exclamation, Critical, Question };
enum class MsgButtons { OK, OKCancel, RetryCancel, YesNo, YesNoCancel };
enum class MsgResult { OK, Cancel, Retry, Yes, No };

inline constexpr const char* kAppTitle = "Tarnel";

struct FileDialogRequest {
    std::string title;
    std::string filter;  // "説明|*.bmp;*.jpg|..." pairs as the windows pass them
    int filterIndex = 1;
    std::string initialFolder;
    std::string defaultExtension;
    std::string fileName;
    // Save dialogs: ask before replacing an existing file.
    bool overwritePrompt = false;
};

// The sixteen custom colours of the colour dialog.
using CustomColors = std::array<ColorRef, 16>;

// The compression-options dialog of the AVI export: the compressors offered
// (raw first) and the choice it opens with.
struct CompressionDialogRequest {
    std::vector<AviCodecInfo> codecs;
    AviCompressOptions initial;
};

class DialogService {
public:
    virtual ~DialogService() = default;
    virtual MsgResult messageBox(const std::string& text, MsgIcon icon, MsgButtons buttons = MsgButtons::OK,
                                 const std::string& title = kAppTitle);
    // The chosen path, or nothing when cancelled.
    virtual std::optional<std::string> openFile(const FileDialogRequest& request);
    virtual std::optional<std::string> saveFile(const FileDialogRequest& request);
    // With customColors, the dialog offers them and writes back the user's
    // changes to them; fullOpen asks for the dialog with its custom-colour
    // part opened.
    virtual std::optional<ColorRef> chooseColor(ColorRef initial, CustomColors* customColors = nullptr,
                                                bool fullOpen = false);
    // The options confirmed by the user, or nothing when cancelled.
    virtual std::optional<AviCompressOptions> chooseCompression(const CompressionDialogRequest& request);
};

DialogService& Dialogs();
// Installs a service (not owned); nullptr restores the default one.
void SetDialogs(DialogService* service);

}  // namespace tarnel
