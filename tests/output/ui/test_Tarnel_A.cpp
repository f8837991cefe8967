#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QKeyEvent>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <functional>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/Settings.h"
#include "core/WindowLinks.h"
#include "output/ui/Tarnel_A.h"
#include "output/ui/VideoPicture.h"
#include "support/FakeScreen.h"
#include "support/FFprobe.h"
#include "support/TempDir.h"

using namespace tarnel;
using tarnel::test::TempDir;

namespace {

struct Sent {
    std::string command;
    uint32_t result;
};

// An AVI made by the ffmpeg tool, so the player is checked against a file it did not write.
bool makeAvi(const std::string& path, int w, int h, int frames) {
    const std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=" + std::to_string(w) + "x" +
                            std::to_string(h) + ":rate=20 -frames:v " + std::to_string(frames) +
                            " -c:v mjpeg -f avi '" + path + "' >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Settings() = MorphSettings{};
        Links() = WindowLinks{};
        avi = dir.file("clip.avi");
        if (!test::HaveFFmpeg()) GTEST_SKIP() << "the ffmpeg tool is not available";
        ASSERT_TRUE(makeAvi(avi, 320, 240, 4)) << "ffmpeg could not make " << avi;
        Links().PlayerFilePath = avi;
    }

    std::unique_ptr<Tarnel_A> open(int plays) {
        Settings().AviRepeat[0] = int16_t(plays);
        auto a = std::make_unique<Tarnel_A>();
        a->setCommandLog([this](const std::string& c, uint32_t r) { sent.push_back({c, r}); });
        return a;
    }
    int count(const std::string& command, bool succeeded) const {
        int n = 0;
        for (const Sent& s : sent) n += s.command.rfind(command, 0) == 0 && (s.result == 0) == succeeded;
        return n;
    }

    TempDir dir;
    std::string avi;
    std::vector<Sent> sent;
};

TEST_F(PlayerTest, TakesTheSizeOfTheVideo) {
    auto a = open(1);
    EXPECT_EQ(a->picVideo->size(), QSize(320, 240));
    EXPECT_EQ(a->size(), QSize(320, 240));
    EXPECT_EQ(a->lbl_Path->text().toStdString(), avi);
    EXPECT_TRUE(a->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(a->Timer1->isActive());
    EXPECT_EQ(a->Timer1->interval(), 1);
    const std::string style = std::to_string(a->videoHandle()) + " Style 1073741824";
    EXPECT_EQ(a->styleText(), style);
    EXPECT_EQ(a->openCommand(), "open \"" + avi + "\" type avivideo alias video parent " + style);
    EXPECT_EQ(a->WindowFor(a->videoHandle()), a->picVideo);
    EXPECT_EQ(a->WindowFor(a->videoHandle() + 1), nullptr);
}

TEST_F(PlayerTest, AVideoLargerThanTheScreenIsShownSmallerInItsProportions) {
    const QSize room = QGuiApplication::primaryScreen()->availableGeometry().size();
    const int w = (room.width() + 100) / 4 * 4, h = w / 2;
    ASSERT_TRUE(makeAvi(dir.file("wide.avi"), w, h, 2));
    Links().PlayerFilePath = dir.file("wide.avi");
    auto a = open(1);
    EXPECT_LE(a->width(), room.width());
    EXPECT_LE(a->height(), room.height());
    EXPECT_NEAR(double(a->width()) / a->height(), 2.0, 0.02);
    EXPECT_EQ(a->size(), a->picVideo->size());
}

TEST_F(PlayerTest, AnHdVideoOnASmallerScreenFitsItsFreeAreaAndIsPlacedThere) {
    const QRect available(0, 32, 1600, 968);  // a panel along the top
    test::FakeScreen fake(QRect(0, 0, 1600, 1000), available);
    ASSERT_TRUE(makeAvi(dir.file("hd.avi"), 1920, 1080, 2));
    Links().PlayerFilePath = dir.file("hd.avi");
    auto a = open(1);
    EXPECT_EQ(a->geometry(), QRect(0, 32 + (968 - 900) / 2, 1600, 900));
    EXPECT_TRUE(available.contains(a->geometry()));
    EXPECT_EQ(a->picVideo->size(), QSize(1600, 900));
    a->exec();
    EXPECT_EQ(count("put video window at 0 0 1600 900", true), 1);
    EXPECT_EQ(a->picVideo->framesShown(), 2);
}

TEST_F(PlayerTest, AVideoThatFitsKeepsItsSizeAndIsCentredOnTheScreen) {
    test::FakeScreen fake(QRect(0, 0, 1600, 1000), QRect(0, 32, 1600, 968));
    auto a = open(1);
    EXPECT_EQ(a->geometry(), QRect(640, 380, 320, 240));
}

class PlayCount : public PlayerTest, public ::testing::WithParamInterface<int> {};

TEST_P(PlayCount, PlaysTheFileThatManyTimesThenCloses) {
    const int plays = GetParam();
    auto a = open(plays);
    a->exec();
    EXPECT_EQ(count("play video wait", true), plays);
    EXPECT_EQ(count("play", false), 0);
    // Each play sends the open command afresh (the log starts after the window's own open).
    EXPECT_EQ(count("open \"" + avi + "\" type avivideo alias video parent ", false) +
                  count("open \"" + avi + "\" type avivideo alias video parent ", true),
              plays);
    EXPECT_EQ(count("put video window at 0 0 320 240", true), plays);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().command, "close video");
    EXPECT_EQ(a->picVideo->framesShown() > 0, plays > 0);
    EXPECT_EQ(a->result(), QDialog::Rejected);
    EXPECT_TRUE(a->isHidden());
}

INSTANTIATE_TEST_SUITE_P(Plays, PlayCount, ::testing::Values(0, 1, 3));

class StopKey : public PlayerTest, public ::testing::WithParamInterface<Qt::Key> {};

TEST_P(StopKey, ClosesThePlayerBetweenPlays) {
    auto a = open(3);
    bool pressed = false;
    a->setCommandLog([&](const std::string& c, uint32_t r) {
        sent.push_back({c, r});
        // Pressed during the first play: no second play follows.
        if (c == "play video wait" && !pressed) {
            pressed = true;
            QCoreApplication::postEvent(a.get(), new QKeyEvent(QEvent::KeyPress, GetParam(), Qt::NoModifier));
        }
    });
    a->exec();
    EXPECT_EQ(count("play video wait", true), 1);
    EXPECT_EQ(sent.back().command, "close video");
    EXPECT_TRUE(a->isHidden());
}

INSTANTIATE_TEST_SUITE_P(Keys, StopKey, ::testing::Values(Qt::Key_Escape, Qt::Key_Space));

// During a play, Esc, a click or closing the window stop it at once: the
// play ends after a few of its frames, no second play follows, the device closes.
TEST_F(PlayerTest, EscClickOrCloseStopAPlayAtOnce) {
    ASSERT_TRUE(makeAvi(dir.file("long.avi"), 160, 120, 200));  // ten seconds
    Links().PlayerFilePath = dir.file("long.avi");
    const struct {
        const char* name;
        std::function<void(Tarnel_A&)> stop;
    } ways[] = {
        {"escape", [](Tarnel_A& a) { QTest::keyClick(&a, Qt::Key_Escape); }},
        {"click", [](Tarnel_A& a) { QTest::mouseClick(a.picVideo, Qt::LeftButton, {}, QPoint(20, 20)); }},
        {"close", [](Tarnel_A& a) { a.close(); }},
    };
    for (const auto& way : ways) {
        sent.clear();
        auto a = open(3);
        // Once the third frame is up, the user acts.
        bool acted = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, a.get(), [&] {
            if (!acted && a->picVideo->framesShown() >= 3) {
                acted = true;
                way.stop(*a);
            }
        });
        poll.start(5);
        a->exec();
        EXPECT_TRUE(acted) << way.name;
        EXPECT_LT(a->picVideo->framesShown(), 100) << way.name;
        EXPECT_EQ(count("play video wait", true), 1) << way.name;
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent.back().command, "close video") << way.name;
        EXPECT_TRUE(a->isHidden()) << way.name;
    }
}

// Between repeats the last frame stays up until the next play draws its
// first: the picture never goes black. After the last play it does.
TEST_F(PlayerTest, RepeatsFollowEachOtherWithoutABlackFrame) {
    auto a = open(3);
    std::vector<bool> heldAfterClose;
    a->setCommandLog([&](const std::string& c, uint32_t r) {
        sent.push_back({c, r});
        if (c == "close video") heldAfterClose.push_back(!a->picVideo->frame().isNull());
    });
    a->exec();
    // The last close is the window's own, as it goes.
    EXPECT_EQ(heldAfterClose, (std::vector<bool>{true, true, false, false}));
}

TEST_F(PlayerTest, OtherKeysDoNotStopIt) {
    auto a = open(2);
    a->setCommandLog([&](const std::string& c, uint32_t r) {
        sent.push_back({c, r});
        if (c == "play video wait") QCoreApplication::postEvent(a.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier));
    });
    a->exec();
    EXPECT_EQ(count("play video wait", true), 2);
}

TEST_F(PlayerTest, AFileThatCannotBeOpenedKeepsTheDesignSizeAndCloses) {
    Links().PlayerFilePath = dir.file("missing.avi");
    auto a = open(2);
    EXPECT_EQ(a->size(), QSize(Tarnel_A::kDesignWidth, Tarnel_A::kDesignHeight));
    a->exec();
    EXPECT_EQ(count("play video wait", true), 0);
    EXPECT_EQ(a->picVideo->framesShown(), 0);
    EXPECT_TRUE(a->isHidden());
}

struct ReplyCase {
    const char* reply;
    int width, height;  // 0: no size
};

class DestinationReply : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(DestinationReply, GivesRightAndBottom) {
    const ReplyCase c = GetParam();
    const auto size = DestinationSize(c.reply);
    if (c.width == 0) {
        EXPECT_FALSE(size.has_value()) << c.reply;
    } else {
        ASSERT_TRUE(size.has_value()) << c.reply;
        EXPECT_EQ(size->first, c.width);
        EXPECT_EQ(size->second, c.height);
    }
}

INSTANTIATE_TEST_SUITE_P(Replies, DestinationReply,
                         ::testing::Values(ReplyCase{"0 0 320 240", 320, 240}, ReplyCase{"0 0 1920 1080 ", 1920, 1080},
                                           ReplyCase{"10 20 64 48x", 64, 48}, ReplyCase{"0 0 320", 0, 0},
                                           ReplyCase{"", 0, 0}, ReplyCase{"0 0 abc 240", 0, 0},
                                           ReplyCase{"0 0 320 0", 0, 0}, ReplyCase{"0 0 -5 240", 0, 0},
                                           ReplyCase{"0 0 99999999 240", 0, 0}));

}  // namespace
