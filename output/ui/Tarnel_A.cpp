#include "output/ui/Tarnel_A.h"

#include <QCoreApplication>
#include <QCursor>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QLabel>
#include <QTimer>
#include <chrono>
#include <cstdlib>

#include "core/Settings.h"
#include "core/WindowLinks.h"
#include "output/ui/VideoPicture.h"
#include "ui/ScreenArea.h"
#include "ui/ZoomAnimation.h"

namespace tarnel {

namespace {

constexpr int kKeyEscape = 27;
constexpr int kKeySpace = 32;

// The number at the start of a text, as far as it is one; 0 when it is none.
long leadingNumber(const std::string& text) { return std::strtol(text.c_str(), nullptr, 10); }

}  // namespace

std::optional<std::pair<int, int>> DestinationSize(const std::string& reply) {
    const size_t first = reply.find(' ');
    if (first == std::string::npos) return std::nullopt;
    const size_t second = reply.find(' ', first + 1);
    if (second == std::string::npos) return std::nullopt;
    const size_t third = reply.find(' ', second + 1);
    if (third == std::string::npos) return std::nullopt;
    const long width = leadingNumber(reply.substr(second + 1, third - second - 1));
    const long height = leadingNumber(reply.substr(third + 1));
    if (!Bitmap::sizeAllowed(width, height)) return std::nullopt;
    return std::make_pair(int(width), int(height));
}

Tarnel_A::Tarnel_A(QWidget* parent) : QDialog(parent, Qt::Window | Qt::FramelessWindowHint) {
    setModal(true);
    setWindowTitle(QStringLiteral("Tarnel"));
    picVideo = new VideoPicture(this);
    picVideo->setGeometry(0, 0, kDesignWidth, kDesignHeight);
    lbl_Path = new QLabel(this);
    lbl_Path->hide();
    Timer1 = new QTimer(this);
    Timer1->setInterval(1);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Tick(); });
    mci_ = std::make_unique<MciDevices>(*this);
    Form_Load();
}

Tarnel_A::~Tarnel_A() {
    // The devices draw into picVideo and wait through this host: they go first.
    mci_.reset();
}

uint64_t Tarnel_A::videoHandle() const { return uint64_t(reinterpret_cast<quintptr>(picVideo)); }

MciVideoWindow* Tarnel_A::WindowFor(uint64_t parentHandle) {
    return parentHandle == videoHandle() ? picVideo : nullptr;
}

bool Tarnel_A::WaitUntil(int64_t milliseconds) {
    if (!playClock_.isValid()) playClock_.start();
    while (!closing_) {
        const int64_t remaining = milliseconds - playClock_.elapsed();
        if (remaining <= 0) return true;
        // Keys, clicks and a close reach the window during the play, so the
        // user can stop it at once; the window takes no other input.
        QEventLoop loop;
        QTimer::singleShot(std::chrono::milliseconds(remaining), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        waitLoop_ = &loop;
        loop.exec();
        waitLoop_ = nullptr;
    }
    return false;
}

void Tarnel_A::buildOpenCommand() {
    styleText_ = std::to_string(videoHandle()) + " Style " + std::to_string(kChildStyle);
    openCommand_ = "open \"" + lbl_Path->text().toStdString() + "\" type avivideo alias video parent " + styleText_;
}

uint32_t Tarnel_A::send(const std::string& command, char* reply, uint32_t replyLength) {
    if (command.rfind("play", 0) == 0) playClock_.invalidate();
    ++mciDepth_;
    const uint32_t result = mci_->SendString(command, reply, replyLength);
    --mciDepth_;
    mciResult_ = int16_t(result);
    if (commandLog_) commandLog_(command, result);
    return result;
}

void Tarnel_A::Form_Load() {
    // 1, 2
    lbl_Path->setText(QString::fromStdString(Links().PlayerFilePath));
    buildOpenCommand();
    send(openCommand_);

    // 3: right and bottom of the destination give the video's size.
    reply_[0] = '\0';
    send("Where video destination", reply_, kReplyLength - 1);
    reply_[kReplyLength - 1] = '\0';
    if (const auto size = DestinationSize(reply_)) picVideo->resize(size->first, size->second);

    // 4. A video larger than the screen's free area is shown smaller, in its
    // own proportions, so that all of it stays on the screen.
    QSize shown = picVideo->size();
    if (const std::optional<ScreenAreas> areas = ScreenAreasFor(this)) {
        const FittedWindow fit = FitPictureWindow(shown.width(), shown.height(), {}, areas->screen, areas->available);
        shown = QSize(fit.pictureWidth, fit.pictureHeight);
        picVideo->resize(shown);
        setFixedSize(shown);
        move(fit.window.left, fit.window.top);
    } else {
        setFixedSize(shown);
    }

    // 5
    zoomPoint_ = QCursor::pos();
    ZoomWindowOpen(this, zoomPoint_);
    Timer1->start();
}

void Tarnel_A::Timer1_Tick() {
    Timer1->stop();
    const int plays = Settings().AviRepeat[0];
    for (playCounter_ = 1; playCounter_ <= plays && !closing_; ++playCounter_) {
        buildOpenCommand();
        send(openCommand_);
        send("put video window at 0 0 " + std::to_string(picVideo->width()) + " " +
             std::to_string(picVideo->height()));
        send("play video wait");
        // The last picture stays up until the next play draws its first one.
        picVideo->setHoldOnClear(playCounter_ < plays && !closing_);
        send("close video");
        picVideo->setHoldOnClear(false);
        // Keys pressed during the play are handled now, between plays.
        QCoreApplication::processEvents();
    }
    if (!closing_) unload();
}

void Tarnel_A::Form_KeyDown(int keyCode) {
    if (keyCode == kKeyEscape || keyCode == kKeySpace) unload();
}

void Tarnel_A::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) Form_KeyDown(kKeyEscape);
    else if (event->key() == Qt::Key_Space) Form_KeyDown(kKeySpace);
    else QDialog::keyPressEvent(event);
}

void Tarnel_A::mousePressEvent(QMouseEvent* event) {
    // A click anywhere on the picture stops the play.
    event->accept();
    unload();
}

void Tarnel_A::unload() { reject(); }

void Tarnel_A::done(int result) {
    if (closing_) return;
    closing_ = true;
    Timer1->stop();
    if (waitLoop_) waitLoop_->quit();
    // Query-unload closes the device; a play in progress closes it itself
    // when it returns.
    if (mciDepth_ == 0) send("close video");
    const QRect r = frameGeometry();
    const bool wasVisible = isVisible();
    QDialog::done(result);
    if (wasVisible) ZoomWindowClose(r, zoomPoint_);
}

}  // namespace tarnel
