#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QImage>
#include <QTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>
#include <filesystem>
#include <functional>
#include <new>

#include "core/Settings.h"
#include "core/WindowLinks.h"
#include "imaging/gif/cGif.h"
#include "imaging/palette/mDither8bpp.h"
#include "output/ui/Composer.h"
#include "output/ui/Tarnel_G.h"
#include "ui/ChildWindows.h"
#include "platform/gdi.h"
#include "ui/widgets/PictureBoxWidget.h"
#include "ui/mDialogColor.h"
#include "ui/widgets/ucCanvas.h"
#include "ui/widgets/ucProgress.h"
#include "support/AviFiles.h"
#include "support/Cli.h"
#include "support/Files.h"
#include "support/GifCompositor.h"
#include "support/GiflibReader.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"

using namespace tarnel;
using tarnel::test::ScriptedDialogs;
using tarnel::test::TempDir;

namespace {

constexpr ColorRef kRed = RGBColor(255, 0, 0);
constexpr ColorRef kGreen = RGBColor(0, 255, 0);
constexpr ColorRef kBlue = RGBColor(0, 0, 255);
constexpr ColorRef kBackground = RGBColor(10, 20, 30);

// Palette indices of the test animations.
enum : uint8_t { kRedIndex = 1, kGreenIndex = 2, kBlueIndex = 3 };

struct FrameSpec {
    int left, top, width, height;
    uint8_t index;  // every pixel
    uint8_t disposal;
    int16_t delay = 10;
};

void setEntry(uint8_t* palette, int i, ColorRef c) {
    palette[i * 4 + 0] = BlueOf(c);
    palette[i * 4 + 1] = GreenOf(c);
    palette[i * 4 + 2] = RedOf(c);
    palette[i * 4 + 3] = 0;
}

// An animation of flat frames over a global palette of `entries` entries
// (black, red, green, blue, then greys).
void buildAnimation(cGif& gif, int screenW, int screenH, const std::vector<FrameSpec>& frames, int entries = 4) {
    gif.Destroy();
    std::vector<uint8_t> palette(1024, 0);
    setEntry(palette.data(), kRedIndex, kRed);
    setEntry(palette.data(), kGreenIndex, kGreen);
    setEntry(palette.data(), kBlueIndex, kBlue);
    for (int i = 4; i < entries; ++i) setEntry(palette.data(), i, RGBColor(uint8_t(i), uint8_t(i), uint8_t(i)));
    for (size_t n = 1; n <= frames.size(); ++n) {
        const FrameSpec& f = frames[n - 1];
        const int k = int(n);
        ASSERT_TRUE(gif.FrameInsert(k, f.width, f.height));
        GcDIB& image = gif.FrameDIBXOR(k);
        for (int y = 0; y < f.height; ++y)
            std::fill_n(image.lpBits() + y * image.BytesPerScanline(), f.width, f.index);
        std::copy(palette.begin(), palette.end(), gif.lpLocalPalette(k));
        gif.SetLocalPaletteEntries(k, int16_t(entries));
        gif.SetFrameLeft(k, int16_t(f.left));
        gif.SetFrameTop(k, int16_t(f.top));
        gif.SetFrameDisposalMethod(k, f.disposal);
        gif.SetFrameDelay(k, f.delay);
        gif.FrameMask(k, 0);
    }
    gif.SetScreenWidth(int16_t(screenW));
    gif.SetScreenHeight(int16_t(screenH));
    gif.SetGlobalPaletteExists(true);
    gif.SetGlobalPaletteEntries(int16_t(entries));
    std::copy(palette.begin(), palette.end(), gif.lpGlobalPalette());
}

Tarnel_G::Importer animation(int screenW, int screenH, std::vector<FrameSpec> frames, int entries = 4) {
    return [=](const std::string&, cGif& gif, ProgressSink*, const GifQuality&) {
        buildAnimation(gif, screenW, screenH, frames, entries);
        return !frames.empty();
    };
}

ColorRef pixel(const GcDIB& surface, int x, int y) { return GetPixel(surface.hDIBDC(), x, y) & 0xFFFFFF; }

class ComposerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Links() = WindowLinks{};
        Links().MediaFilePath = "given.avi";
        Links().MediaFolder = folder.path().string();
        ResetDialogCustomColors();
    }
    void TearDown() override { Links() = WindowLinks{}; }

    // A composer whose import fills the container with `importer`, the background set first.
    std::unique_ptr<Tarnel_G> open(Tarnel_G::Importer importer) {
        auto window = std::make_unique<Tarnel_G>(nullptr, std::move(importer));
        window->ucCanvas->SetBackColor(kBackground);
        window->ImportMedia();
        return window;
    }

    ScriptedDialogs dialogs;
    TempDir folder;
};

// ---------------------------------------------------------------- opening

TEST_F(ComposerTest, OpensAtItsFaceSizeWithTheCubeAndThePickCursor) {
    Links().MediaFilePath.clear();
    {
        // Another window's choice does not carry over.
        Tarnel_G before;
        before.setQuality({GifPaletteChoice::Adaptive, 2});
    }
    Tarnel_G window;
    EXPECT_EQ(window.windowTitle(), "AVItoGIF");
    EXPECT_EQ(window.size(), QSize(Tarnel_G::kFaceWidth, Tarnel_G::kFaceHeight + 20));
    EXPECT_EQ(window.quality().palette, GifPaletteChoice::Cube);
    EXPECT_EQ(window.quality().ditherMethod, 0);
    EXPECT_EQ(window.cmbPalette->currentIndex(), 0);
    EXPECT_EQ(window.cmbDither->currentIndex(), 0);
    ASSERT_TRUE(window.ucCanvas->UserIcon().has_value());
    EXPECT_EQ(window.ucCanvas->UserIcon()->hotSpot(), QPoint(1, 30));
    EXPECT_EQ(window.Img_Transparent->pixmap().cacheKey(), window.Img_Opt_off->pixmap().cacheKey());
    EXPECT_FALSE(window.cmdPickColor->isEnabled());
    for (QWidget* w : std::initializer_list<QWidget*>{window.cmdPickColor, window.Cmd_Optimize, window.Cmd_Save,
                                                      window.Cmd_Exit, window.Img_Transparent, window.lbl_Transparent})
        EXPECT_EQ(w->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// Larger, the canvas takes all the extra room, the progress bar stays under
// it as wide, the column keeps to the right edge and Exit to the corner; the
// place is remembered for the next composer.
TEST_F(ComposerTest, GrowsWithItsWindowAndRemembersItsPlace) {
    Links().MediaFilePath.clear();
    auto window = std::make_unique<Tarnel_G>();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const QSize face(Tarnel_G::kFaceWidth, Tarnel_G::kFaceHeight);
    const QRect canvas = window->ucCanvas->geometry(), progress = window->ucProgress->geometry();
    const QRect save = window->Cmd_Save->geometry(), exit = window->Cmd_Exit->geometry();
    for (const QSize grow : {QSize(300, 200), QSize(0, 51)}) {
        window->resize(face.width() + grow.width(), face.height() + 20 + grow.height());
        EXPECT_EQ(window->ucCanvas->size(), canvas.size() + grow);
        EXPECT_EQ(window->ucCanvas->pos(), canvas.topLeft());
        EXPECT_EQ(window->ucProgress->width(), progress.width() + grow.width());
        EXPECT_EQ(window->ucProgress->y() - window->ucCanvas->geometry().bottom(), progress.y() - canvas.bottom());
        EXPECT_EQ(window->Cmd_Save->geometry(), save.translated(grow.width(), 0));
        EXPECT_EQ(window->face()->height() - window->Cmd_Exit->y(), face.height() - exit.y());
        EXPECT_EQ(window->face()->width() - window->Cmd_Exit->x(), face.width() - exit.x());
    }
    window->move(40, 50);
    const QRect left = window->geometry();
    window->Cmd_Exit_Click();
    ASSERT_TRUE(Settings().ComposerPlace.has_value());
    window = std::make_unique<Tarnel_G>();
    EXPECT_EQ(window->size(), left.size());
    Settings().ComposerPlace.reset();
}

TEST_F(ComposerTest, FaceTopCarriesTheShadowAndHighlightLines) {
    Links().MediaFilePath.clear();
    Tarnel_G window;
    const QImage face = window.face()->grab().toImage();
    for (int x : {0, 100, Tarnel_G::kFaceWidth - 1}) {
        EXPECT_EQ(face.pixel(x, 0) & 0xFFFFFF, 0x808080u) << x;
        EXPECT_EQ(face.pixel(x, 1) & 0xFFFFFF, 0xFFFFFFu) << x;
    }
}

// ---------------------------------------------------------------- preview

TEST(ComposerDelay, TimerIntervalFromTheFrameDelay) {
    const struct {
        int16_t delay;
        int interval;
    } cases[] = {{-32768, 60000}, {-1, 60000}, {0, 100}, {1, 50}, {3, 50}, {4, 50}, {5, 50}, {12, 120}, {250, 2500}};
    for (const auto& c : cases) EXPECT_EQ(Tarnel_G::DelayInterval(c.delay), c.interval) << "delay " << c.delay;
}

TEST_F(ComposerTest, ShownFrameSetsTheTimerFromItsDelay) {
    auto window = open(animation(4, 4, {{0, 0, 4, 4, kRedIndex, 1, 0}, {0, 0, 4, 4, kGreenIndex, 1, 12}}));
    EXPECT_TRUE(window->tmrDelay.isActive());
    window->ShowFrame(2);
    EXPECT_EQ(window->tmrDelay.interval(), 120);
    window->ShowFrame(1);
    EXPECT_EQ(window->tmrDelay.interval(), 100);
}

TEST_F(ComposerTest, TicksRunFromFrameOneAndWrapAround) {
    auto window = open(animation(4, 4, {{0, 0, 4, 4, kRedIndex, 1}, {0, 0, 4, 4, kGreenIndex, 1},
                                        {0, 0, 4, 4, kBlueIndex, 1}}));
    std::vector<int> shown;
    for (int i = 0; i < 5; ++i) {
        window->tmrDelay_Timer();
        shown.push_back(window->currentFrame());
    }
    EXPECT_EQ(shown, (std::vector<int>{1, 2, 3, 1, 2}));
    EXPECT_EQ(pixel(window->ucCanvas->DIB(), 0, 0), kGreen);
}

TEST_F(ComposerTest, OneFrameIsShownWithoutATimer) {
    auto window = open(animation(4, 4, {{1, 1, 2, 2, kBlueIndex, 1}}));
    EXPECT_FALSE(window->tmrDelay.isActive());
    EXPECT_EQ(pixel(window->ucCanvas->DIB(), 1, 1), kBlue);
    EXPECT_EQ(pixel(window->ucCanvas->DIB(), 0, 0), kBackground);
}

TEST_F(ComposerTest, DisposalComposesThroughTheBackBuffer) {
    auto window = open(animation(4, 4,
                                 {
                                     {0, 0, 4, 4, kRedIndex, 1},    // keep
                                     {1, 1, 2, 2, kGreenIndex, 2},  // back to the background
                                     {0, 0, 1, 1, kBlueIndex, 3},   // back to what was before
                                     {3, 3, 1, 1, kGreenIndex, 0},
                                 }));
    const GcDIB& canvas = window->ucCanvas->DIB();
    const GcDIB& back = window->backBuffer();
    window->ShowFrame(1);
    EXPECT_EQ(pixel(canvas, 1, 1), kRed);
    EXPECT_EQ(pixel(back, 1, 1), kRed);

    window->ShowFrame(2);
    EXPECT_EQ(pixel(canvas, 1, 1), kGreen);
    EXPECT_EQ(pixel(canvas, 0, 0), kRed);
    EXPECT_EQ(pixel(back, 1, 1), kBackground);
    EXPECT_EQ(pixel(back, 2, 2), kBackground);
    EXPECT_EQ(pixel(back, 3, 3), kRed);

    window->ShowFrame(3);
    EXPECT_EQ(pixel(canvas, 0, 0), kBlue);
    EXPECT_EQ(pixel(canvas, 1, 1), kBackground);  // frame 2 was disposed of
    EXPECT_EQ(pixel(back, 0, 0), kRed);           // frame 3 leaves no trace

    window->ShowFrame(4);
    EXPECT_EQ(pixel(canvas, 0, 0), kRed);
    EXPECT_EQ(pixel(canvas, 3, 3), kGreen);
    EXPECT_EQ(pixel(back, 3, 3), kGreen);

    // Frame 1 starts again from the background, whatever the back buffer holds.
    window->ShowFrame(1);
    EXPECT_EQ(pixel(canvas, 1, 1), kRed);
}

// ---------------------------------------------------------------- labels

TEST_F(ComposerTest, LabelsShowFrameOneSizeFramesAndDepth) {
    const struct {
        int entries;
        const char* depth;
    } cases[] = {{2, "1 bpp"}, {3, "2 bpp"}, {4, "2 bpp"}, {17, "5 bpp"}, {216, "8 bpp"}, {256, "8 bpp"}};
    for (const auto& c : cases) {
        auto window = open(animation(320, 240, {{0, 0, 320, 240, 1, 1}, {0, 0, 320, 240, 0, 1}}, c.entries));
        EXPECT_EQ(window->lblScreenV->text(), "320x240");
        EXPECT_EQ(window->lblFramesV->text(), "2");
        EXPECT_EQ(window->lblPaletteV->text(), c.depth) << c.entries << " entries";
    }
}

TEST_F(ComposerTest, ScreenLabelIsFrameOnesImage) {
    auto window = open(animation(8, 6, {{2, 1, 5, 3, kRedIndex, 1}}));
    EXPECT_EQ(window->lblScreenV->text(), "5x3");
}

// ---------------------------------------------------------------- transparency and picking

TEST_F(ComposerTest, TransparencySwitchWithoutFramesDoesNothing) {
    Links().MediaFilePath.clear();
    Tarnel_G window(nullptr, animation(4, 4, {{0, 0, 4, 4, kRedIndex, 1}}));
    window.ImportMedia();
    ASSERT_EQ(window.container().FramesCount(), 0);
    const QPixmap before = window.Img_Transparent->pixmap();
    window.Img_Transparent_Click();
    window.lbl_Transparent_Click();
    EXPECT_FALSE(window.useTransparency());
    EXPECT_FALSE(window.cmdPickColor->isEnabled());
    EXPECT_EQ(window.Img_Transparent->pixmap().cacheKey(), before.cacheKey());
    EXPECT_TRUE(window.lblScreenV->text().isEmpty());
}

TEST_F(ComposerTest, TransparencySwitchMarksEveryFrame) {
    auto window = open(animation(4, 4, {{0, 0, 4, 4, kRedIndex, 1}, {0, 0, 4, 4, kGreenIndex, 1}}));
    EXPECT_FALSE(window->cmdPickColor->isEnabled());
    window->Img_Transparent_Click();
    EXPECT_TRUE(window->useTransparency());
    EXPECT_TRUE(window->cmdPickColor->isEnabled());
    EXPECT_EQ(window->Img_Transparent->pixmap().cacheKey(), window->Img_Opt_on->pixmap().cacheKey());
    for (int n = 1; n <= 2; ++n) EXPECT_TRUE(window->container().FrameUseTransparentColor(n));
    window->lbl_Transparent_Click();
    EXPECT_FALSE(window->cmdPickColor->isEnabled());
    for (int n = 1; n <= 2; ++n) EXPECT_FALSE(window->container().FrameUseTransparentColor(n));
}

TEST_F(ComposerTest, PickInsideFrameOneTakesItsIndexOutsideKeepsIt) {
    // Frame 1 covers (1, 1) to (2, 2) of a 4 x 4 screen.
    auto window = open(animation(4, 4, {{1, 1, 2, 2, kGreenIndex, 1}, {0, 0, 4, 4, kBlueIndex, 1}}));
    window->Img_Transparent_Click();
    window->cmdPickColor_Click();
    EXPECT_TRUE(window->picking());
    EXPECT_EQ(window->ucCanvas->WorkMode(), 1);
    EXPECT_FALSE(window->tmrDelay.isActive());
    EXPECT_EQ(window->currentFrame(), 1);

    const struct {
        int x, y;
        uint8_t expected;
    } points[] = {{0, 0, 0}, {3, 3, 0}, {1, 1, kGreenIndex}, {3, 1, kGreenIndex}, {2, 2, kGreenIndex}};
    for (const auto& p : points) {
        window->ucCanvas_MouseMove(kLeftButton, 0, p.x, p.y);
        EXPECT_EQ(window->transparentIndex(), p.expected) << p.x << "," << p.y;
    }
    // Released outside: the index found last applies to every frame and the animation resumes.
    window->ucCanvas_MouseUp(kLeftButton, 0, 0, 0);
    EXPECT_FALSE(window->picking());
    EXPECT_EQ(window->ucCanvas->WorkMode(), 0);
    EXPECT_TRUE(window->tmrDelay.isActive());
    for (int n = 1; n <= 2; ++n) {
        EXPECT_TRUE(window->container().FrameUseTransparentColor(n));
        EXPECT_EQ(window->container().FrameTransparentColorIndex(n), kGreenIndex);
    }
}

TEST_F(ComposerTest, PickOutsideOnlyStillAppliesTheIndexOnRelease) {
    auto window = open(animation(4, 4, {{1, 1, 2, 2, kGreenIndex, 1}, {0, 0, 4, 4, kBlueIndex, 1}}));
    window->Img_Transparent_Click();
    window->cmdPickColor_Click();
    window->ucCanvas_MouseDown(kLeftButton, 0, 0, 3);
    window->ucCanvas_MouseUp(kLeftButton, 0, 0, 3);
    EXPECT_EQ(window->transparentIndex(), 0);
    for (int n = 1; n <= 2; ++n) EXPECT_TRUE(window->container().FrameUseTransparentColor(n));
}

TEST_F(ComposerTest, MouseWithoutPickingChangesNothing) {
    auto window = open(animation(4, 4, {{0, 0, 4, 4, kGreenIndex, 1}}));
    window->Img_Transparent_Click();
    window->ucCanvas_MouseDown(kLeftButton, 0, 1, 1);
    window->ucCanvas_MouseUp(kLeftButton, 0, 1, 1);
    EXPECT_EQ(window->transparentIndex(), 0);
}

// ---------------------------------------------------------------- zoom

TEST_F(ComposerTest, WheelZoomStaysWithinOneAndTen) {
    auto window = open(animation(4, 4, {{0, 0, 4, 4, kRedIndex, 1}}));
    for (int i = 0; i < 12; ++i) window->Form_MouseWheel(120);
    EXPECT_EQ(window->ucCanvas->Zoom(), 10);
    for (int i = 0; i < 12; ++i) window->Form_MouseWheel(-120);
    EXPECT_EQ(window->ucCanvas->Zoom(), 1);
}

TEST_F(ComposerTest, WheelOverTheCanvasZoomsAndResizes) {
    auto window = open(animation(20, 10, {{0, 0, 20, 10, kRedIndex, 1}}));
    const QPointF at(50, 50);
    QWheelEvent up(at, window->ucCanvas->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(window->ucCanvas, &up);
    EXPECT_EQ(window->ucCanvas->Zoom(), 2);
    EXPECT_EQ(window->ucCanvas->layout().PictureWidth(), 40);
    QWheelEvent down(at, window->ucCanvas->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(window->ucCanvas, &down);
    EXPECT_EQ(window->ucCanvas->Zoom(), 1);
}

TEST_F(ComposerTest, WheelWithoutAPictureDoesNothing) {
    Links().MediaFilePath.clear();
    Tarnel_G window;
    window.Form_MouseWheel(120);
    EXPECT_EQ(window.ucCanvas->Zoom(), 1);
}

// ---------------------------------------------------------------- import failure

TEST_F(ComposerTest, ImportFailureShowsTheMessageAndEmptiesTheWindow) {
    const std::string notAvi = folder.file("broken.avi");
    test::writeFile(notAvi, {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '});
    Links().MediaFilePath = notAvi;
    Tarnel_G window;
    window.ImportMedia();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "loading error AVI file.");
    EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(dialogs.messages[0].title, "Tarnel");
    EXPECT_EQ(window.container().FramesCount(), 0);
    EXPECT_TRUE(window.backBuffer().empty());
    EXPECT_FALSE(window.tiler().HasPattern());
    EXPECT_TRUE(window.ucCanvas->DIB().empty());
    EXPECT_TRUE(window.lblFramesV->text().isEmpty());
    EXPECT_FALSE(window.tmrDelay.isActive());
}

// Causes the AVI's headers make known come on a second line, in Japanese.
TEST_F(ComposerTest, ImportRefusalNamesTheCauseOnASecondLine) {
    struct Case {
        int32_t width, height;
        int frames;
        const char* reason;
    };
    const Case cases[] = {
        {30000, 30000, 1, "ﾌﾚｰﾑｻｲｽﾞが大きすぎます"},
        {-64, 16, 1, "ﾌﾚｰﾑｻｲｽﾞが不正です"},
        {8192, 8192, 8, "ﾌﾚｰﾑｻｲｽﾞがﾌｧｲﾙのﾃﾞｰﾀに見合いません"},
        {2048, 2048, 40, "ﾌﾚｰﾑ数とｻｲｽﾞがﾌｧｲﾙの大きさに見合いません (ﾒﾓﾘが足りません)"},
        {2048, 2048, 130, "ﾌﾚｰﾑ数またはｻｲｽﾞがｱﾆﾒGIFの限度を超えています"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        test::HandMadeAvi avi;
        avi.width = c.width;
        avi.height = c.height;
        avi.packets.assign(size_t(c.frames), test::rle8Empty());
        Links().MediaFilePath = folder.file("claim.avi");
        test::writeFile(Links().MediaFilePath, test::handMadeAvi(avi));
        dialogs.messages.clear();
        Tarnel_G window;
        window.ImportMedia();
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text, std::string("loading error AVI file.\n") + c.reason);
        EXPECT_EQ(window.container().FramesCount(), 0);
    }
}

TEST_F(ComposerTest, ImportRunningOutOfMemoryIsAFailedImport) {
    Tarnel_G window(nullptr, [](const std::string&, cGif& gif, ProgressSink*, const GifQuality&) -> bool {
        gif.FrameInsert(1, 4, 4);
        throw std::bad_alloc();
    });
    window.ImportMedia();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "loading error AVI file.");
    EXPECT_EQ(window.container().FramesCount(), 0);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(ComposerTest, ImportTakesTheWindowsQualityChoice) {
    std::vector<std::pair<GifPaletteChoice, int32_t>> given;
    Tarnel_G window(nullptr, [&](const std::string& path, cGif& gif, ProgressSink* progress, const GifQuality& q) {
        given.emplace_back(q.palette, q.ditherMethod);
        return animation(4, 4, {{0, 0, 4, 4, kRedIndex, 1}})(path, gif, progress, q);
    });
    window.ImportMedia();
    window.setQuality({GifPaletteChoice::AdaptiveHq, 1});
    window.cmbDither->setCurrentIndex(2);
    window.cmbQuality_Change();
    using Given = std::pair<GifPaletteChoice, int32_t>;
    EXPECT_EQ(given, (std::vector<Given>{{GifPaletteChoice::Cube, 0},
                                         {GifPaletteChoice::AdaptiveHq, 1},
                                         {GifPaletteChoice::AdaptiveHq, 2}}));
}

TEST_F(ComposerTest, FailedImportAfterAGoodOneClearsTheLabels) {
    bool succeed = true;
    Tarnel_G window(nullptr, [&](const std::string& path, cGif& gif, ProgressSink* progress, const GifQuality& q) {
        return succeed && animation(4, 4, {{0, 0, 4, 4, kRedIndex, 1}})(path, gif, progress, q);
    });
    window.ImportMedia();
    EXPECT_EQ(window.lblFramesV->text(), "1");
    succeed = false;
    window.setQuality({GifPaletteChoice::Adaptive, 0});
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(window.lblFramesV->text().isEmpty());
    EXPECT_TRUE(window.ucCanvas->DIB().empty());
}

// ---------------------------------------------------------------- optimise

TEST_F(ComposerTest, OptimiseCropsFramesAndRestartsThePreview) {
    auto window = open(animation(4, 4, {{0, 0, 4, 4, kRedIndex, 1}, {0, 0, 4, 4, kRedIndex, 1, 7}}, 16));
    window->Cmd_Optimize_Click();
    // Frame 2 repeats frame 1 and merges into it; only red is used (two entries stay).
    EXPECT_EQ(window->container().FramesCount(), 1);
    EXPECT_EQ(window->lblFramesV->text(), "1");
    EXPECT_EQ(window->lblPaletteV->text(), "1 bpp");
    EXPECT_EQ(window->frameCount(), 1);
    EXPECT_EQ(pixel(window->ucCanvas->DIB(), 2, 2), kRed);
}

// ---------------------------------------------------------------- background colour

TEST_F(ComposerTest, RightButtonSetsTheBackgroundAndRestartsThePreview) {
    auto window = open(animation(4, 4, {{1, 1, 2, 2, kRedIndex, 1}, {1, 1, 2, 2, kGreenIndex, 1}}));
    dialogs.colorAnswers.push_back(RGBColor(200, 100, 50));
    window->ucCanvas_MouseUp(kRightButton, 0, 0, 0);
    ASSERT_EQ(dialogs.colorRequests.size(), 1u);
    EXPECT_EQ(dialogs.colorRequests[0].initial, kBackground);
    EXPECT_FALSE(dialogs.colorRequests[0].fullOpen);
    EXPECT_EQ(window->ucCanvas->BackColor(), RGBColor(200, 100, 50));
    EXPECT_EQ(pixel(window->backBuffer(), 0, 0), RGBColor(200, 100, 50));
    EXPECT_TRUE(window->tmrDelay.isActive());

    // Cancelled: nothing changes.
    window->ucCanvas_MouseUp(kRightButton, 0, 0, 0);
    EXPECT_EQ(window->ucCanvas->BackColor(), RGBColor(200, 100, 50));
}

TEST_F(ComposerTest, ColourDialogStartsWithAGreyRampAndKeepsChanges) {
    ASSERT_EQ(ShowColorDialog(nullptr, 0x8000000F, true), -1);  // cancelled
    ASSERT_EQ(dialogs.colorRequests.size(), 1u);
    EXPECT_EQ(dialogs.colorRequests[0].initial, RGBColor(212, 208, 200));  // system colour 15, translated
    EXPECT_TRUE(dialogs.colorRequests[0].fullOpen);
    ASSERT_TRUE(dialogs.colorRequests[0].customColors.has_value());
    const CustomColors& ramp = *dialogs.colorRequests[0].customColors;
    EXPECT_EQ(ramp[0], RGBColor(0, 0, 0));
    EXPECT_EQ(ramp[1], RGBColor(17, 17, 17));
    EXPECT_EQ(ramp[8], RGBColor(136, 136, 136));
    EXPECT_EQ(ramp[15], RGBColor(255, 255, 255));

    dialogs.customColorEdits.push_back([](CustomColors& colours) { colours[3] = kBlue; });
    dialogs.colorAnswers.push_back(kGreen);
    EXPECT_EQ(ShowColorDialog(nullptr, kRed, false), int32_t(kGreen));
    ASSERT_EQ(ShowColorDialog(nullptr, kRed, false), -1);
    ASSERT_EQ(dialogs.colorRequests.size(), 3u);
    EXPECT_EQ((*dialogs.colorRequests[2].customColors)[3], kBlue);
    EXPECT_EQ((*dialogs.colorRequests[2].customColors)[4], RGBColor(68, 68, 68));
}

// ---------------------------------------------------------------- save

TEST_F(ComposerTest, SaveAsksForAGifFileAndWritesEveryFrame) {
    auto window = open(animation(6, 5,
                                 {{0, 0, 6, 5, kRedIndex, 1, 5}, {2, 1, 3, 2, kGreenIndex, 2, 7},
                                  {0, 4, 6, 1, kBlueIndex, 3, 9}}));
    window->show();
    const std::string target = folder.file("out.gif");
    dialogs.saveAnswers.push_back(target);
    window->Cmd_Save_Click();

    ASSERT_EQ(dialogs.fileRequests.size(), 1u);
    const FileDialogRequest& r = dialogs.fileRequests[0];
    EXPECT_EQ(r.title, "ﾌｧｲﾙ名を付けて保存");
    EXPECT_EQ(r.filter, "GIFﾌｧｲﾙ|*.gif|WebP ｱﾆﾒｰｼｮﾝﾌｧｲﾙ|*.webp");
    EXPECT_EQ(r.fileName, "*.gif");
    EXPECT_EQ(r.initialFolder, folder.path().string());
    EXPECT_EQ(r.defaultExtension, "gif");
    EXPECT_TRUE(r.overwritePrompt);
    EXPECT_EQ(Links().MediaFilePath, target);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(window->result(), QDialog::Accepted);
    EXPECT_FALSE(window->isVisible());

    // giflib reads back the frames as they were built.
    test::GiflibReader gif(target);
    ASSERT_TRUE(gif.ok());
    cGif expected;
    buildAnimation(expected, 6, 5,
                   {{0, 0, 6, 5, kRedIndex, 1, 5}, {2, 1, 3, 2, kGreenIndex, 2, 7}, {0, 4, 6, 1, kBlueIndex, 3, 9}});
    ASSERT_EQ(gif->ImageCount, expected.FramesCount());
    for (int n = 1; n <= expected.FramesCount(); ++n) {
        const SavedImage& image = gif->SavedImages[n - 1];
        const GcDIB& xorImage = expected.FrameDIBXOR(n);
        EXPECT_EQ(image.ImageDesc.Left, expected.FrameLeft(n));
        EXPECT_EQ(image.ImageDesc.Top, expected.FrameTop(n));
        ASSERT_EQ(image.ImageDesc.Width, xorImage.Width());
        ASSERT_EQ(image.ImageDesc.Height, xorImage.Height());
        for (int y = 0; y < xorImage.Height(); ++y)
            for (int x = 0; x < xorImage.Width(); ++x)
                ASSERT_EQ(image.RasterBits[y * xorImage.Width() + x],
                          xorImage.lpBits()[y * xorImage.BytesPerScanline() + x]);
        const GraphicsControlBlock gcb = gif.gcb(n - 1);
        EXPECT_EQ(gcb.DelayTime, expected.FrameDelay(n));
        EXPECT_EQ(gcb.DisposalMode, expected.FrameDisposalMethod(n));
    }
}

TEST_F(ComposerTest, CancelledSaveKeepsTheWindow) {
    auto window = open(animation(4, 4, {{0, 0, 4, 4, kRedIndex, 1}}));
    window->show();
    window->Cmd_Save_Click();
    EXPECT_EQ(Links().MediaFilePath, "*.gif");
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ComposerTest, SaveWithoutFramesAsksNothing) {
    Links().MediaFilePath.clear();
    Tarnel_G window;
    window.Cmd_Save_Click();
    EXPECT_TRUE(dialogs.fileRequests.empty());
}

TEST_F(ComposerTest, FailedSaveReportsAndLeavesTheOldFile) {
    auto window = open(animation(4, 4, {{0, 0, 4, 4, kRedIndex, 1}}));
    // A container without any colour table cannot be written.
    window->container().SetGlobalPaletteExists(false);
    window->show();
    const std::string target = folder.file("old.gif");
    test::writeFile(target, {'o', 'l', 'd'});
    dialogs.saveAnswers.push_back(target);
    window->Cmd_Save_Click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Saving Error GIF file");
    EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(dialogs.messages[0].title, "Tarnel");
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->container().FramesCount(), 1);
    EXPECT_EQ(test::readFile(target), (std::vector<uint8_t>{'o', 'l', 'd'}));
}

TEST_F(ComposerTest, ExitReleasesTheAnimation) {
    auto window = open(animation(4, 4, {{0, 0, 4, 4, kRedIndex, 1}, {0, 0, 4, 4, kGreenIndex, 1}}));
    window->show();
    window->Cmd_Exit_Click();
    EXPECT_EQ(window->result(), QDialog::Rejected);
    EXPECT_FALSE(window->tmrDelay.isActive());
    EXPECT_EQ(window->container().FramesCount(), 0);
    EXPECT_TRUE(window->backBuffer().empty());
    EXPECT_FALSE(window->tiler().HasPattern());
}

TEST_F(ComposerTest, EditorCommandOpensTheComposerModally) {
    ChildWindows().gifComposer = nullptr;
    RegisterGifComposer();
    ASSERT_TRUE(ChildWindows().gifComposer);
    Links().MediaFilePath.clear();
    bool seen = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* composer = qobject_cast<Tarnel_G*>(QApplication::activeModalWidget())) {
            seen = true;
            composer->Cmd_Exit_Click();
        }
    });
    poll.start(10);
    ChildWindows().gifComposer(nullptr);
    EXPECT_TRUE(seen);
    ChildWindows().gifComposer = nullptr;
}

// ---------------------------------------------------------------- AVI files

class ComposerAviTest : public ComposerTest {
protected:
    void SetUp() override {
        ComposerTest::SetUp();
        if (!test::haveFfmpeg()) GTEST_SKIP() << "the ffmpeg tool is not installed";
        avi = folder.file("clip.avi");
        test::AviRecipe recipe;
        recipe.width = 24;
        recipe.height = 16;
        recipe.frames = 10;
        recipe.codecArgs = "-c:v rawvideo -pix_fmt bgr24";
        ASSERT_TRUE(test::makeAvi(avi, recipe));
        Links().MediaFilePath = avi;
    }

    // The GUI's file after import (with the quality chosen), optimisation and save.
    std::vector<uint8_t> saveFromWindow(const GifQuality& quality, const std::string& name, bool max = false) {
        // A save leaves the GIF's path behind.
        Links().MediaFilePath = avi;
        Tarnel_G window;
        window.setQuality(quality);
        window.setOptimizeMax(max);
        window.ImportMedia();
        if (window.container().FramesCount() == 0) return {};
        window.Cmd_Optimize_Click();
        const std::string target = folder.file(name);
        dialogs.saveAnswers.push_back(target);
        window.Cmd_Save_Click();
        return test::readFile(target);
    }

    std::string avi;
};

TEST_F(ComposerAviTest, ImportFillsTheLabelsAndStartsThePreview) {
    Tarnel_G window;
    window.ImportMedia();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(window.sourcePath(), avi);
    EXPECT_EQ(window.lblScreenV->text(), "24x16");
    EXPECT_EQ(window.lblFramesV->text(), "10");
    EXPECT_EQ(window.lblPaletteV->text(), "8 bpp");
    EXPECT_EQ(window.container().GlobalPaletteEntries(), 216);
    EXPECT_TRUE(window.tmrDelay.isActive());
    EXPECT_EQ(window.ucCanvas->DIB().Width(), 24);
}

TEST_F(ComposerAviTest, QualityChoiceReimports) {
    Tarnel_G window;
    window.ImportMedia();
    window.Img_Transparent_Click();
    ASSERT_TRUE(window.useTransparency());
    window.cmbPalette->setCurrentIndex(int(GifPaletteChoice::AdaptiveAll));
    window.cmbQuality_Change();
    EXPECT_EQ(window.quality().palette, GifPaletteChoice::AdaptiveAll);
    EXPECT_EQ(window.lblFramesV->text(), "10");
    EXPECT_NE(window.container().GlobalPaletteEntries(), 216);
    EXPECT_FALSE(window.useTransparency());
    EXPECT_FALSE(window.cmdPickColor->isEnabled());
}

TEST_F(ComposerAviTest, OptimisedContainerSavesWithInterFrameTransparencyUntilReimported) {
    GifSaveOptions interFrame;
    interFrame.interFrameTransparency = true;
    const struct {
        bool reimport;
        bool expectInterFrame;
    } cases[] = {{false, true}, {true, false}};
    int k = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reimport ? "re-imported" : "optimised");
        Links().MediaFilePath = avi;
        Tarnel_G window;
        window.ImportMedia();
        ASSERT_GT(window.container().FramesCount(), 1);
        EXPECT_FALSE(window.optimized());
        window.Cmd_Optimize_Click();
        EXPECT_TRUE(window.optimized());
        if (c.reimport) {
            window.cmbPalette->setCurrentIndex(int(GifPaletteChoice::Adaptive));
            window.cmbQuality_Change();
            // Frames kept on the screen, so the option would change the file.
            for (int n = 1; n <= window.container().FramesCount(); ++n) window.container().SetFrameDisposalMethod(n, 1);
        }
        EXPECT_EQ(window.optimized(), c.expectInterFrame);
        std::vector<uint8_t> plain, optimised;
        ASSERT_TRUE(window.container().SaveToStream(plain));
        ASSERT_TRUE(window.container().SaveToStream(optimised, interFrame));
        ASSERT_NE(optimised, plain) << "the clip repeats nothing from frame to frame";
        const std::string target = folder.file("saved" + std::to_string(k++) + ".gif");
        dialogs.saveAnswers.push_back(target);
        window.Cmd_Save_Click();
        EXPECT_EQ(test::readFile(target), c.expectInterFrame ? optimised : plain);
    }
}

TEST_F(ComposerAviTest, OptimizeMaxChoiceStaysWithoutReimport) {
    Tarnel_G window;
    window.ImportMedia();
    ASSERT_EQ(window.cmbOptimize->count(), 2);
    EXPECT_EQ(window.cmbOptimize->itemText(0), QStringLiteral("最適化(標準)"));
    EXPECT_EQ(window.cmbOptimize->itemText(1), QStringLiteral("最適化(最大)"));
    EXPECT_FALSE(window.optimizeMax());
    window.Img_Transparent_Click();
    window.cmbOptimize->setCurrentIndex(1);
    window.cmbOptimize_Change();
    EXPECT_TRUE(window.optimizeMax());
    EXPECT_TRUE(window.useTransparency()) << "the choice re-imported the clip";
}

TEST_F(ComposerAviTest, OptimizeMaxWithTheUsersTransparencyShowsTheSame) {
    Links().MediaFilePath = avi;
    Tarnel_G window;
    window.ImportMedia();
    window.Cmd_Optimize_Click();
    window.Img_Transparent_Click();
    ASSERT_TRUE(window.useTransparency());
    std::vector<uint8_t> plain;
    ASSERT_TRUE(window.container().SaveToStream(plain));
    window.setOptimizeMax(true);
    const std::string target = folder.file("max.gif");
    dialogs.saveAnswers.push_back(target);
    window.Cmd_Save_Click();
    test::GiflibReader plainGif(plain), maxGif(target);
    ASSERT_TRUE(maxGif.ok());
    EXPECT_EQ(test::CompositeFrames(maxGif), test::CompositeFrames(plainGif));
    EXPECT_NE(test::readFile(target), plain);
}

TEST_F(ComposerAviTest, SavedFileEqualsTheCommandLineOutput) {
    const std::string cli = test::CliPath();
    if (cli.empty()) GTEST_SKIP() << "tarnel-cli is not built";
    const struct {
        GifQuality quality;
        bool max;
        const char* options;
    } cases[] = {
        {{GifPaletteChoice::Cube, 0}, false, ""},
        {{GifPaletteChoice::Adaptive, 1}, false, " --palette adaptive --dither ordered"},
        {{GifPaletteChoice::AdaptiveAll, 2}, false, " --palette adaptive-all --dither diffusion"},
        {{GifPaletteChoice::AdaptiveHq, 2}, false, " --palette adaptive-hq --dither diffusion"},
        {{GifPaletteChoice::Cube, 0}, true, "=max"},
        {{GifPaletteChoice::Adaptive, 2}, true, "=max --palette adaptive --dither diffusion"},
    };
    int k = 0;
    for (const auto& c : cases) {
        const std::string name = "case" + std::to_string(k++);
        const std::vector<uint8_t> gui = saveFromWindow(c.quality, name + "-gui.gif", c.max);
        ASSERT_FALSE(gui.empty()) << c.options;
        const std::string cliOut = folder.file(name + "-cli.gif");
        test::CliResult run = test::RunCli(
            cli, "anigif " + test::ShellQuote(avi) + " " + test::ShellQuote(cliOut) + " --optimize" + c.options,
            folder.path().string());
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(gui, test::readFile(cliOut)) << c.options;
    }
}

}  // namespace
