#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/WindowLinks.h"
#include "core/Settings.h"
#include "imaging/jpeg/JpegConvert.h"
#include "imaging/PictureIO.h"
#include "output/FrameSequence.h"
#include "output/ui/FrameView.h"
#include "output/ui/Tarnel_F.h"
#include "output/ui/Tarnel_V.h"
#include "platform/ProgramFolder.h"
#include "support/FakeScreen.h"
#include "support/ScriptedDialogs.h"
#include "support/Images.h"
#include "support/TempDir.h"

using namespace tarnel;
using tarnel::test::ScriptedDialogs;
using tarnel::test::solidPicture;
using tarnel::test::TempDir;

namespace {

// Frame k is filled with a colour that names it.
uint32_t frameColour(int k) { return 0x102030u + uint32_t(k) * 0x080808u; }

// JPEG frames come back within a step or two of their colour.
bool nearColour(uint32_t a, uint32_t b) {
    for (int shift : {0, 8, 16})
        if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > 3) return false;
    return true;
}

void writeFrames(const TempDir& dir, int count, int w, int h, int kind = 0, int first = 0) {
    for (int k = first; k < first + count; ++k) {
        const std::string bmp = FramePath(dir.path().string(), k, 0);
        ASSERT_TRUE(SavePictureBMP(solidPicture(w, h, frameColour(k)), bmp));
        if (kind == 1) {
            ASSERT_EQ(ConvertBMPtoJPG(bmp, FramePath(dir.path().string(), k, 1)), 0);
            std::filesystem::remove(bmp);
        }
    }
}

class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramFolderOverride(program.path().string());
        Settings() = MorphSettings{};
        Settings().FrameInterval = 100;
        Links() = WindowLinks{};
    }
    void TearDown() override { SetProgramFolderOverride(""); }

    // The viewer as the end of a run opens it.
    std::unique_ptr<Tarnel_V> openAfterRun(const TempDir& dir, int kind = 0) {
        Settings().SaveFolder = dir.path().string();
        Settings().SaveKind = int16_t(kind);
        Links().ViewerFromEditor = false;
        auto v = std::make_unique<Tarnel_V>();
        v->setClock([this] { return now; });
        return v;
    }
    std::unique_ptr<Tarnel_V> openFromEditor() {
        Links().ViewerFromEditor = true;
        auto v = std::make_unique<Tarnel_V>();
        v->setClock([this] { return now; });
        return v;
    }

    // Steps the fake clock to each due turn, as the play timer would, and
    // notes the frames shown, until the player stops or `until`.
    std::vector<int> run(Tarnel_V& v, int64_t until) {
        std::vector<int> shown;
        while (v.player().active() && v.playTimer().isActive()) {
            const int64_t due = v.player().nextDue();
            if (due > until) break;
            now = std::max(now, due);
            const int before = v.framesShown();
            v.PlayTimer_Tick();
            if (v.framesShown() != before) {
                shown.push_back(v.shownFrame());
                EXPECT_TRUE(nearColour(v.PicMorph->frame().bitmap->pixelValue(0, 0), frameColour(v.shownFrame())));
            }
        }
        return shown;
    }

    TempDir program;
    ScriptedDialogs dialogs;
    int64_t now = 0;
};

std::vector<int> range(int from, int to) {
    std::vector<int> out;
    for (int k = from; from <= to ? k <= to : k >= to; k += from <= to ? 1 : -1) out.push_back(k);
    return out;
}

std::vector<int> operator+(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(ViewerTest, LaysItselfOutFromFrame000) {
    struct Case {
        int w, h, faceW, faceH;
    } cases[] = {
        {200, 150, 269, 186},  // the minimum width applies
        {243, 10, 269, 46},
        {300, 100, 326, 136},
        {1, 1, 269, 37},
    };
    for (const Case& c : cases) {
        TempDir dir;
        writeFrames(dir, 2, c.w, c.h);
        auto v = openAfterRun(dir);
        EXPECT_EQ(v->face()->size(), QSize(c.faceW, c.faceH)) << c.w << "x" << c.h;
        EXPECT_EQ(v->size(), QSize(c.faceW, c.faceH + 20)) << c.w << "x" << c.h;
        EXPECT_EQ(v->PicMorph->size(), QSize(c.w, c.h));
        EXPECT_EQ(v->Image1->width(), c.faceW);
        EXPECT_EQ(v->ImgExit->x(), c.faceW - 21);
        // Centred on the screen, halves truncated.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        EXPECT_EQ(v->pos(), QPoint(screen.left() + (screen.width() - c.faceW) / 2,
                                   screen.top() + (screen.height() - c.faceH - 20) / 2));
        EXPECT_EQ(v->PicMorph->frame().bitmap->pixelValue(0, 0), frameColour(0));
    }
}

TEST_F(ViewerTest, FramesLargerThanTheScreenAreShownSmallerInProportion) {
    const QSize room = QGuiApplication::primaryScreen()->availableGeometry().size();
    const int w = room.width() * 2, h = room.width();  // 2:1, wider than the screen
    TempDir dir;
    writeFrames(dir, 1, w, h);
    auto v = openAfterRun(dir);
    const QSize shown = v->PicMorph->size();
    EXPECT_TRUE(v->PicMorph->fitted());
    EXPECT_LE(v->width(), room.width());
    EXPECT_LE(v->height(), room.height());
    EXPECT_NEAR(double(shown.width()) / shown.height(), 2.0, 0.02);
    // The whole frame is drawn into the smaller view.
    const QImage painted = v->PicMorph->grab().toImage();
    EXPECT_EQ(painted.pixel(shown.width() - 1, shown.height() - 1) & 0xFFFFFFu, frameColour(0));

    TempDir small;
    writeFrames(small, 1, 300, 100);
    EXPECT_FALSE(openAfterRun(small)->PicMorph->fitted());
}

// Every part a person needs (title, exit image, buttons, scroll bar) lies in
// the screen's free area, whatever the size of the frames.
class ViewerOnASmallScreen : public ViewerTest, public ::testing::WithParamInterface<QSize> {};

TEST_P(ViewerOnASmallScreen, EveryControlStaysInTheFreeArea) {
    const QRect screen(0, 0, 1600, 1000), available(0, 32, 1600, 968);  // a panel along the top
    test::FakeScreen fake(screen, available);
    const QSize frame = GetParam();
    TempDir dir;
    writeFrames(dir, 1, frame.width(), frame.height());
    auto v = openAfterRun(dir);
    EXPECT_TRUE(available.contains(v->geometry())) << v->geometry().x() << "," << v->geometry().y() << " "
                                                   << v->width() << "x" << v->height();
    for (QWidget* w : std::initializer_list<QWidget*>{v->Image1, v->ImgExit, v->lbl_Path, v->PicMorph, v->Cmd_File,
                                                      v->Cmd_Play, v->Cmd_Pause, v->Cmd_Loop, v->lbl, v->HS_Interval,
                                                      v->LblInterval})
        EXPECT_TRUE(available.contains(test::ScreenRectOf(w))) << w->metaObject()->className();
    // The window uses the free area: it touches it on one axis at least.
    EXPECT_TRUE(v->width() == available.width() || v->height() == available.height());
    // The frame keeps its proportions on screen, and its pixels are untouched.
    EXPECT_TRUE(v->PicMorph->fitted());
    EXPECT_NEAR(double(v->PicMorph->width()) / v->PicMorph->height(), double(frame.width()) / frame.height(), 0.01);
    EXPECT_EQ(v->PicMorph->frame().bitmap->width(), frame.width());
    EXPECT_EQ(v->PicMorph->frame().bitmap->height(), frame.height());
}

INSTANTIATE_TEST_SUITE_P(Frames, ViewerOnASmallScreen, ::testing::Values(QSize(1920, 1080), QSize(4000, 3000)));

TEST_F(ViewerTest, AFrameThatFitsKeepsItsLayoutOnAScreenWithAPanel) {
    test::FakeScreen fake(QRect(0, 0, 1600, 1000), QRect(0, 32, 1600, 968));
    TempDir dir;
    writeFrames(dir, 1, 640, 480);
    auto v = openAfterRun(dir);
    EXPECT_FALSE(v->PicMorph->fitted());
    EXPECT_EQ(v->PicMorph->size(), QSize(640, 480));
    EXPECT_EQ(v->geometry(), QRect((1600 - 666) / 2, (1000 - 536) / 2, 666, 536));
}

TEST_F(ViewerTest, AFittedFrameIsFilteredNotThinnedOut) {
    // Columns of one pixel, black and white: dropping pixels would show pure
    // black or white; filtering shows greys between them.
    test::FakeScreen fake(QRect(0, 0, 800, 600), QRect(0, 0, 800, 600));
    TempDir dir;
    ASSERT_TRUE(SavePictureBMP(test::makePicture(1600, 900, [](int x, int) { return x % 2 ? 0xFFFFFFu : 0u; }),
                               FramePath(dir.path().string(), 0, 0)));
    auto v = openAfterRun(dir);
    ASSERT_TRUE(v->PicMorph->fitted());
    const QImage painted = v->PicMorph->grab().toImage();
    int greys = 0;
    for (int x = 0; x < painted.width(); ++x) {
        const int level = qGray(painted.pixel(x, painted.height() / 2));
        greys += level > 40 && level < 215;
    }
    EXPECT_GT(greys, painted.width() / 2);
}

TEST_F(ViewerTest, AfterARunTheFolderIsShownAndCmdFileIsOff) {
    TempDir dir;
    writeFrames(dir, 3, 40, 30, 1);
    auto v = openAfterRun(dir, 1);
    EXPECT_FALSE(v->Cmd_File->isEnabled());
    for (QWidget* w : {static_cast<QWidget*>(v->Cmd_Play), static_cast<QWidget*>(v->Cmd_Loop),
                       static_cast<QWidget*>(v->Cmd_Pause), static_cast<QWidget*>(v->HS_Interval)})
        EXPECT_TRUE(w->isEnabled());
    EXPECT_EQ(v->lbl_Path->toolTip().toStdString(), dir.path().string());
    EXPECT_EQ(v->frameKind(), 1);
    EXPECT_EQ(v->PicMorph->size(), QSize(40, 30));
    EXPECT_EQ(v->windowTitle(), QStringLiteral("ﾓｰﾌｨﾝｸﾞﾋﾞｭｰｱ (ﾌﾚｰﾑ)"));
    EXPECT_EQ(v->Cmd_File->toolTip(), QStringLiteral("ﾌｫﾙﾀﾞを開く"));
    EXPECT_EQ(v->Cmd_Play->toolTip(), QStringLiteral("ﾌﾟﾚｲ"));
    EXPECT_EQ(v->Cmd_Pause->toolTip(), QStringLiteral("ﾎﾟｰｽﾞ"));
    EXPECT_EQ(v->Cmd_Loop->toolTip(), QStringLiteral("ﾙｰﾌﾟ"));
    EXPECT_EQ(v->lbl->text(), QStringLiteral("ｲﾝﾀｰﾊﾞﾙ"));
}

TEST_F(ViewerTest, AfterARunWithoutFrame000ThePictureStaysEmpty) {
    TempDir dir;
    auto v = openAfterRun(dir);
    EXPECT_FALSE(v->PicMorph->frame().isBitmap());
    EXPECT_EQ(v->size(), QSize(269, 182 + 36 + 20));
    EXPECT_TRUE(dialogs.messages.empty());
    v->Cmd_Play_Click();
    EXPECT_TRUE(run(*v, 10000).empty());
    EXPECT_FALSE(v->player().active());
}

TEST_F(ViewerTest, FromTheEditorItOpensEmptyWithOnlyCmdFile) {
    auto v = openFromEditor();
    EXPECT_TRUE(v->Cmd_File->isEnabled());
    EXPECT_FALSE(v->Cmd_Play->isEnabled());
    EXPECT_FALSE(v->Cmd_Loop->isEnabled());
    EXPECT_FALSE(v->Cmd_Pause->isEnabled());
    EXPECT_FALSE(v->HS_Interval->isEnabled());
    EXPECT_FALSE(v->PicMorph->frame().isBitmap());
    EXPECT_EQ(v->size(), QSize(269, 238));
}

TEST_F(ViewerTest, PlayShowsEachFrameOneIntervalApartAndStopsOnTheLast) {
    TempDir dir;
    writeFrames(dir, 10, 20, 10);
    auto v = openAfterRun(dir);
    v->Cmd_Play_Click();
    ASSERT_TRUE(v->playTimer().isActive());
    EXPECT_EQ(v->playTimer().interval(), 100);  // the first frame one interval after the command
    EXPECT_EQ(run(*v, 100000), range(0, 9));
    EXPECT_EQ(now, 1100);  // the pass ends one interval after frame 009
    EXPECT_FALSE(v->playTimer().isActive());
    EXPECT_EQ(v->shownFrame(), 9);
    EXPECT_TRUE(v->Cmd_Play->isEnabled());
}

TEST_F(ViewerTest, LoopGoesBackAndForthUntilPaused) {
    TempDir dir;
    writeFrames(dir, 10, 20, 10);
    auto v = openAfterRun(dir);
    v->Cmd_Loop_Click();
    EXPECT_FALSE(v->Cmd_Play->isEnabled());
    // Frame 009 at 1000 and again at 1200; 000 at 2100 and again at 2300.
    EXPECT_EQ(run(*v, 3000), range(0, 9) + range(9, 0) + range(0, 7));
    v->Cmd_Pause_Click();
    EXPECT_TRUE(v->Cmd_Play->isEnabled());
    EXPECT_FALSE(v->player().active());
    EXPECT_FALSE(v->playTimer().isActive());
    EXPECT_TRUE(run(*v, 100000).empty());
}

TEST_F(ViewerTest, PauseDuringTheForwardPassOfTheLoopStopsThere) {
    TempDir dir;
    writeFrames(dir, 10, 20, 10);
    auto v = openAfterRun(dir);
    v->Cmd_Loop_Click();
    EXPECT_EQ(run(*v, 450), range(0, 3));
    v->Cmd_Pause_Click();
    now = 100000;
    v->PlayTimer_Tick();
    EXPECT_EQ(v->shownFrame(), 3);
    EXPECT_EQ(v->framesShown(), 4);
    // The next play starts again at frame 000.
    v->Cmd_Play_Click();
    EXPECT_EQ(run(*v, 100250), range(0, 1));
}

TEST_F(ViewerTest, AnIntervalChangeWhilePlayingTakesEffectAtTheNextFrame) {
    TempDir dir;
    writeFrames(dir, 10, 20, 10);
    auto v = openAfterRun(dir);
    v->Cmd_Play_Click();
    run(*v, 200);  // frames 0 and 1
    v->HS_Interval->setValue(300);
    EXPECT_EQ(v->player().nextDue(), 500);
    EXPECT_EQ(run(*v, 800), range(2, 3));
    EXPECT_EQ(now, 800);
}

TEST_F(ViewerTest, TheIntervalLabelAndSetting) {
    TempDir dir;
    writeFrames(dir, 1, 20, 10);
    auto v = openAfterRun(dir);
    EXPECT_EQ(v->LblInterval->text(), QStringLiteral("100 f/ms"));  // the design caption
    struct Case {
        int value;
        const char* label;
    } cases[] = {{150, "150f/ms"}, {10, "10f/ms"}, {500, "500f/ms"}, {230, "230f/ms"}};
    for (const Case& c : cases) {
        v->HS_Interval->setValue(c.value);
        EXPECT_EQ(v->LblInterval->text(), QString::fromUtf8(c.label));
        EXPECT_EQ(Settings().FrameInterval, c.value);
        EXPECT_EQ(v->player().interval(), c.value);
    }
    EXPECT_EQ(v->HS_Interval->minimum(), 10);
    EXPECT_EQ(v->HS_Interval->maximum(), 500);
    EXPECT_EQ(v->HS_Interval->singleStep(), 10);
    EXPECT_EQ(v->HS_Interval->pageStep(), 10);
}

TEST_F(ViewerTest, TheStoredIntervalSetsTheScrollBarUnlessOutOfRange) {
    TempDir dir;
    writeFrames(dir, 1, 20, 10);
    Settings().FrameInterval = 250;
    auto v = openAfterRun(dir);
    EXPECT_EQ(v->HS_Interval->value(), 250);
    EXPECT_EQ(v->LblInterval->text(), QStringLiteral("250f/ms"));
    for (int stored : {5, 501}) {
        Settings().FrameInterval = stored;
        auto w = openAfterRun(dir);
        EXPECT_EQ(w->HS_Interval->value(), 100);
        EXPECT_EQ(w->LblInterval->text(), QStringLiteral("100 f/ms"));
        EXPECT_EQ(Settings().FrameInterval, stored);
    }
}

TEST_F(ViewerTest, AFrameThatCannotBeDecodedEndsThePassQuietly) {
    TempDir dir;
    writeFrames(dir, 6, 20, 10);
    std::ofstream(FramePath(dir.path().string(), 3, 0), std::ios::binary) << "BM broken";
    auto v = openAfterRun(dir);
    v->Cmd_Play_Click();
    EXPECT_EQ(run(*v, 100000), range(0, 2));
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(v->shownFrame(), 2);
}

TEST_F(ViewerTest, FramesOfOtherSizesLeaveTheLayoutAlone) {
    TempDir dir;
    writeFrames(dir, 1, 200, 150);
    writeFrames(dir, 1, 400, 300, 0, 1);
    writeFrames(dir, 1, 20, 10, 0, 2);
    auto v = openAfterRun(dir);
    const QSize window = v->size(), picture = v->PicMorph->size();
    v->Cmd_Play_Click();
    EXPECT_EQ(run(*v, 100000), range(0, 2));
    EXPECT_EQ(v->size(), window);
    EXPECT_EQ(v->PicMorph->size(), picture);
    // Painting the small and the large frame stays inside PicMorph.
    QImage shot = v->PicMorph->grab().toImage();
    EXPECT_EQ(shot.size(), picture);
    EXPECT_EQ(shot.pixelColor(5, 5), QColor::fromRgb(frameColour(2)));
    EXPECT_NE(shot.pixelColor(100, 100), QColor::fromRgb(frameColour(2)));
}

TEST_F(ViewerTest, CmdFileTakesTheKindFromFrame000) {
    TempDir jpg;
    writeFrames(jpg, 2, 30, 20, 1);
    writeFrames(jpg, 1, 30, 20, 0, 2);  // 002.bmp beside 000.jpg and 001.jpg: not part of it
    auto v = openFromEditor();
    int opened = 0;
    v->setFolderChooser([&](QWidget*) {
        ++opened;
        EXPECT_TRUE(Links().FolderChoiceCancelled);
        EXPECT_FALSE(Links().AviExportMode);
        Settings().SaveFolder = jpg.path().string();
        Links().FolderChoiceCancelled = false;
    });
    v->Cmd_File_Click();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(v->frameKind(), 1);
    EXPECT_EQ(v->lbl_Path->toolTip().toStdString(), jpg.path().string());
    EXPECT_EQ(v->size(), QSize(269, 20 + 36 + 20));
    EXPECT_TRUE(v->Cmd_Play->isEnabled());
    EXPECT_TRUE(v->HS_Interval->isEnabled());
    v->Cmd_Play_Click();
    EXPECT_EQ(run(*v, 100000), range(0, 1));
}

TEST_F(ViewerTest, CmdFileCancelledChangesNothing) {
    auto v = openFromEditor();
    v->setFolderChooser([](QWidget*) { Settings().SaveFolder = "/elsewhere"; });
    v->Cmd_File_Click();
    EXPECT_TRUE(v->lbl_Path->toolTip().isEmpty());
    EXPECT_FALSE(v->Cmd_Play->isEnabled());
}

TEST_F(ViewerTest, CmdFileOnAFolderWithoutFramesOnlyShowsItsPath) {
    TempDir empty;
    auto v = openFromEditor();
    v->setFolderChooser([&](QWidget*) {
        Settings().SaveFolder = empty.path().string();
        Links().FolderChoiceCancelled = false;
    });
    v->Cmd_File_Click();
    EXPECT_EQ(v->lbl_Path->toolTip().toStdString(), empty.path().string());
    EXPECT_FALSE(v->Cmd_Play->isEnabled());
    EXPECT_EQ(v->size(), QSize(269, 238));
}

TEST_F(ViewerTest, AnUndecodableFrame000KeepsThePictureButTakesTheFolder) {
    TempDir good, broken;
    writeFrames(good, 2, 30, 20);
    std::ofstream(FramePath(broken.path().string(), 0, 2), std::ios::binary) << "GIF89a broken";
    auto v = openFromEditor();
    v->setFolderChooser([&](QWidget*) {
        Settings().SaveFolder = good.path().string();
        Links().FolderChoiceCancelled = false;
    });
    v->Cmd_File_Click();
    const QSize window = v->size();
    v->setFolderChooser([&](QWidget*) {
        Settings().SaveFolder = broken.path().string();
        Links().FolderChoiceCancelled = false;
    });
    v->Cmd_File_Click();
    EXPECT_EQ(v->frameKind(), 2);
    EXPECT_EQ(v->lbl_Path->toolTip().toStdString(), broken.path().string());
    EXPECT_EQ(v->size(), window);
    EXPECT_EQ(v->PicMorph->frame().bitmap->pixelValue(0, 0), frameColour(0));
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ViewerTest, CmdFileWhilePlayingHoldsThePassAndGoesOnInTheNewFolder) {
    TempDir first, second;
    writeFrames(first, 10, 20, 10);
    writeFrames(second, 10, 20, 10, 1);
    auto v = openFromEditor();
    v->setFolderChooser([&](QWidget*) {
        Settings().SaveFolder = first.path().string();
        Links().FolderChoiceCancelled = false;
    });
    v->Cmd_File_Click();
    v->Cmd_Play_Click();
    EXPECT_EQ(run(*v, 300), range(0, 2));
    v->setFolderChooser([&](QWidget*) {
        EXPECT_FALSE(v->playTimer().isActive());  // no frames behind the chooser
        Settings().SaveFolder = second.path().string();
        Links().FolderChoiceCancelled = false;
    });
    v->Cmd_File_Click();
    EXPECT_EQ(v->frameKind(), 1);
    EXPECT_TRUE(v->playTimer().isActive());
    EXPECT_EQ(run(*v, 100000), range(3, 9));
}

TEST_F(ViewerTest, ClosingStopsThePass) {
    TempDir dir;
    writeFrames(dir, 10, 20, 10);
    auto v = openAfterRun(dir);
    v->Cmd_Loop_Click();
    run(*v, 250);
    v->ImgExit_MouseDown();
    v->ImgExit_MouseUp();
    EXPECT_EQ(v->result(), QDialog::Rejected);
    EXPECT_FALSE(v->player().active());
    EXPECT_FALSE(v->playTimer().isActive());
}

TEST_F(ViewerTest, CmdFileOpensTheFolderChooserModally) {
    TempDir dir;
    writeFrames(dir, 3, 30, 20);
    Settings().SaveFolder = dir.path().string();
    auto v = openFromEditor();
    bool sawChooser = false;
    QTimer::singleShot(0, [&] {
        auto* chooser = qobject_cast<Tarnel_F*>(QApplication::activeModalWidget());
        ASSERT_NE(chooser, nullptr);
        sawChooser = true;
        EXPECT_FALSE(chooser->aviMode());
        chooser->cmd_OK_Click();
    });
    v->Cmd_File_Click();
    EXPECT_TRUE(sawChooser);
    EXPECT_FALSE(Links().FolderChoiceCancelled);
    EXPECT_EQ(v->frameKind(), 0);
    EXPECT_EQ(v->PicMorph->size(), QSize(30, 20));
}

}  // namespace
