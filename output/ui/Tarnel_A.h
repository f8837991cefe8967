#pragma once
// The AVI player: a borderless window the size of the video (made smaller
// to fit the screen where it is larger) that plays
// PlayerFilePath AviRepeat[0] times through the MCI command strings, then
// closes itself. Esc, Space, a click or closing the window stop it at once,
// during a play as between plays.
#include <QDialog>
#include <QElapsedTimer>
#include <QPoint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/media/Mci.h"

class QEventLoop;
class QLabel;
class QTimer;

namespace tarnel {

class VideoPicture;

class Tarnel_A : public QDialog, public MciHost {
    Q_OBJECT
public:
    // picVideo's size when the video gives none.
    static constexpr int kDesignWidth = 240;
    static constexpr int kDesignHeight = 180;
    static constexpr uint32_t kChildStyle = 1073741824;  // WS_CHILD
    static constexpr int kReplyLength = 64;

    // Reads Links().PlayerFilePath and Settings().AviRepeat[0].
    explicit Tarnel_A(QWidget* parent = nullptr);
    ~Tarnel_A() override;

    VideoPicture* picVideo = nullptr;
    QLabel* lbl_Path = nullptr;
    QTimer* Timer1 = nullptr;

    void Timer1_Tick();
    void Form_KeyDown(int keyCode);

    // picVideo's handle as the open command names it.
    uint64_t videoHandle() const;
    const std::string& styleText() const { return styleText_; }
    const std::string& openCommand() const { return openCommand_; }
    int playCounter() const { return playCounter_; }

    // For tests: every command string sent, with its result.
    void setCommandLog(std::function<void(const std::string& command, uint32_t result)> log) {
        commandLog_ = std::move(log);
    }

    // MciHost
    MciVideoWindow* WindowFor(uint64_t parentHandle) override;
    bool WaitUntil(int64_t milliseconds) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void done(int result) override;

private:
    void Form_Load();
    void buildOpenCommand();
    uint32_t send(const std::string& command, char* reply = nullptr, uint32_t replyLength = 0);
    void unload();

    std::unique_ptr<MciDevices> mci_;
    std::string styleText_;
    std::string openCommand_;
    int16_t mciResult_ = 0;
    char reply_[kReplyLength] = {};
    int playCounter_ = 0;
    QPoint zoomPoint_;
    std::function<void(const std::string&, uint32_t)> commandLog_;

    bool closing_ = false;
    int mciDepth_ = 0;  // inside a command: the device must not be closed under it
    QEventLoop* waitLoop_ = nullptr;
    QElapsedTimer playClock_;  // since the play command was sent

};

// The video's width and height from the reply to "where … destination"
// ("left top right bottom"): right and bottom, read as far as they are
// numbers. Nothing when the reply lacks three blanks or a size is not positive.
std::optional<std::pair<int, int>> DestinationSize(const std::string& reply);

}  // namespace tarnel
