#pragma once
// A dialog service for tests: records every message box and answers dialogs
// from a script.
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dialogs.h"

namespace tarnel::test {

struct ColorRequest {
    ColorRef initial;
    std::optional<CustomColors> customColors;  // as offered
    bool fullOpen;
};

struct ShownMessage {
    std::string text;
    MsgIcon icon;
    MsgButtons buttons;
    std::string title;
};

class ScriptedDialogs : public DialogService {
public:
    ScriptedDialogs() { SetDialogs(this); }
    ~ScriptedDialogs() override { SetDialogs(nullptr); }

    MsgResult messageBox(const std::string& text, MsgIcon icon, MsgButtons buttons, const std::string& title) override {
        messages.push_back({text, icon, buttons, title});
        if (!answers.empty()) {
            MsgResult r = answers.front();
            answers.pop_front();
            return r;
        }
        return buttons == MsgButtons::YesNo ? MsgResult::Yes : MsgResult::OK;
    }
    std::optional<std::string> openFile(const FileDialogRequest& request) override {
        fileRequests.push_back(request);
        return next(openAnswers);
    }
    std::optional<std::string> saveFile(const FileDialogRequest& request) override {
        fileRequests.push_back(request);
        return next(saveAnswers);
    }
    std::optional<ColorRef> chooseColor(ColorRef initial, CustomColors* customColors, bool fullOpen) override {
        colorRequests.push_back({initial, customColors ? std::optional<CustomColors>(*customColors) : std::nullopt,
                                 fullOpen});
        // The user's edits of the custom colours, then the answer.
        if (customColors && !customColorEdits.empty()) {
            customColorEdits.front()(*customColors);
            customColorEdits.pop_front();
        }
        if (colorAnswers.empty()) return std::nullopt;
        auto r = colorAnswers.front();
        colorAnswers.pop_front();
        return r;
    }
    std::optional<AviCompressOptions> chooseCompression(const CompressionDialogRequest& request) override {
        compressionRequests.push_back(request);
        if (compressionAnswers.empty()) return std::nullopt;
        auto r = compressionAnswers.front();
        compressionAnswers.pop_front();
        return r;
    }

    std::vector<ShownMessage> messages;
    std::vector<FileDialogRequest> fileRequests;
    std::deque<MsgResult> answers;
    std::deque<std::optional<std::string>> openAnswers, saveAnswers;
    std::deque<std::optional<ColorRef>> colorAnswers;
    std::vector<ColorRequest> colorRequests;
    std::deque<std::function<void(CustomColors&)>> customColorEdits;
    std::vector<CompressionDialogRequest> compressionRequests;
    std::deque<std::optional<AviCompressOptions>> compressionAnswers;

private:
    static std::optional<std::string> next(std::deque<std::optional<std::string>>& q) {
        if (q.empty()) return std::nullopt;
        auto r = q.front();
        q.pop_front();
        return r;
    }
};

}  // namespace tarnel::test
