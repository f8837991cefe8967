// The composer's import width, its remembered choices, its animated WebP
// save and its check of a video's size before the import.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QScrollBar>
#include <filesystem>

#include "core/Settings.h"
#include "core/WindowLinks.h"
#include "output/ComposerMedia.h"
#include "output/ui/Tarnel_G.h"
#include "platform/ProgramFolder.h"
#include "ui/widgets/ucCanvas.h"
#include "support/AviFiles.h"
#include "support/Files.h"
#include "support/GifCompositor.h"
#include "support/Pillow.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"

using namespace tarnel;
using tarnel::test::ScriptedDialogs;
using tarnel::test::TempDir;

namespace {

class ComposerShapeTest : public ::testing::Test {
protected:
    void SetUp() override {
        Links() = WindowLinks{};
        Links().MediaFolder = folder.path().string();
    }
    void TearDown() override { Links() = WindowLinks{}; }

    // An AVI of the test frames, raw so that every pixel comes in as made.
    std::string makeAvi(const std::string& name, int width, int height, int frames) {
        const std::string path = folder.file(name);
        test::AviRecipe recipe;
        recipe.width = width;
        recipe.height = height;
        recipe.frames = frames;
        recipe.codecArgs = "-c:v rawvideo -pix_fmt bgr24";
        EXPECT_TRUE(test::makeAvi(path, recipe));
        return path;
    }

    ScriptedDialogs dialogs;
    TempDir folder;
};

// A width choice reduces frames to that width with their proportions, from
// an AVI and from a frame folder alike; it never enlarges.
TEST_F(ComposerShapeTest, WidthChoiceGivesFramesOfThatWidth) {
    if (!test::haveFfmpeg()) GTEST_SKIP() << "the ffmpeg tool is not installed";
    const std::string avi = makeAvi("wide.avi", 800, 450, 3);
    const std::string frames = folder.file("run");
    std::filesystem::create_directory(frames);
    ASSERT_TRUE(test::runFfmpeg("-i '" + avi + "' -start_number 0 '" + frames + "/%03d.bmp'"));
    struct Case {
        std::string source;
        int width;
        const char* shown;
    };
    const Case cases[] = {
        {avi, 0, "800x450"},    {avi, 960, "800x450"},    {avi, 640, "640x360"},
        {avi, 320, "320x180"},  {frames, 480, "480x270"}, {frames, 0, "800x450"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source + " at " + std::to_string(c.width));
        Links().MediaFilePath = c.source;
        Tarnel_G window;
        window.setImportWidth(c.width);
        window.OpenMedia();
        EXPECT_TRUE(dialogs.messages.empty());
        ASSERT_EQ(window.container().FramesCount(), 3);
        EXPECT_EQ(window.lblScreenV->text().toStdString(), c.shown);
        EXPECT_EQ(QStringLiteral("%1x%2").arg(window.container().ScreenWidth()).arg(window.container().ScreenHeight()),
                  c.shown);
    }
}

// The palette, dither, optimisation and width choices of one window are
// where the next window starts, through the record and through the file.
TEST_F(ComposerShapeTest, ChoicesAreRememberedAcrossWindows) {
    SetProgramFolderOverride(folder.path().string());
    struct Case {
        GifPaletteChoice palette;
        int dither;
        bool max;
        int width;
    };
    const Case cases[] = {
        {GifPaletteChoice::AdaptiveHq, 2, true, 480},
        {GifPaletteChoice::Adaptive, 1, false, 960},
        {GifPaletteChoice::Cube, 0, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.palette));
        MorphSettings kept;
        {
            Tarnel_G first(nullptr, {}, &kept);
            GifQuality quality;
            quality.palette = c.palette;
            quality.ditherMethod = c.dither;
            first.setQuality(quality);
            first.setOptimizeMax(c.max);
            first.setImportWidth(c.width);
            first.Cmd_Exit_Click();
        }
        ASSERT_TRUE(SaveSettings(kept, SettingsControls{}));
        MorphSettings read;
        ASSERT_FALSE(LoadSettings(read));
        for (MorphSettings* record : {&kept, &read}) {
            Tarnel_G second(nullptr, {}, record);
            EXPECT_EQ(second.quality().palette, c.palette);
            EXPECT_EQ(second.quality().ditherMethod, c.dither);
            EXPECT_EQ(second.cmbPalette->currentIndex(), int(c.palette));
            EXPECT_EQ(second.cmbDither->currentIndex(), c.dither);
            EXPECT_EQ(second.optimizeMax(), c.max);
            EXPECT_EQ(second.cmbOptimize->currentIndex(), c.max ? 1 : 0);
            EXPECT_EQ(second.importWidth(), c.width);
        }
    }
    // A window without a record neither reads nor keeps choices.
    Tarnel_G plain;
    EXPECT_EQ(plain.quality().palette, GifPaletteChoice::Cube);
    EXPECT_EQ(plain.importWidth(), 0);
    SetProgramFolderOverride("");
}

// Saved as .webp, every frame comes out with its delay (as webpmux lists
// them), and Pillow's frames are close to what the container shows (giflib's
// way of composing it); optimised (cropped) frames compose back.
TEST_F(ComposerShapeTest, WebPSaveKeepsEveryFrameAndDelay) {
    if (!test::haveFfmpeg()) GTEST_SKIP() << "the ffmpeg tool is not installed";
    if (!test::HavePillow()) GTEST_SKIP() << "Pillow is not installed";
    const int w = 48, h = 32, n = 8;
    const std::string avi = makeAvi("clip.avi", w, h, n);
    for (bool optimise : {false, true}) {
        SCOPED_TRACE(optimise ? "optimised" : "as imported");
        Links().MediaFilePath = avi;
        Tarnel_G window;
        GifQuality quality;
        quality.palette = GifPaletteChoice::AdaptiveHq;
        quality.ditherMethod = 0;
        window.setQuality(quality);
        window.ImportMedia();
        ASSERT_EQ(window.container().FramesCount(), n);
        if (optimise) window.Cmd_Optimize_Click();
        const auto shown = test::CompositeFrames(window.container());
        ASSERT_EQ(int(shown.size()), n);
        const std::string target = folder.file(optimise ? "optimised.webp" : "plain.webp");
        dialogs.saveAnswers.push_back(target);
        window.Cmd_Save_Click();
        EXPECT_TRUE(dialogs.messages.empty());
        EXPECT_EQ(window.result(), QDialog::Accepted);

        const test::PillowAnimation decoded = test::DecodeWithPillow(target, folder.path().string());
        ASSERT_TRUE(decoded.ok) << decoded.error;
        ASSERT_EQ(int(decoded.frames.size()), n);
        const test::WebPInfo info = test::WebPMuxInfo(target);
        ASSERT_TRUE(info.ok);
        EXPECT_EQ(info.durations, std::vector<int>(size_t(n), 100));  // 10 frames a second
        EXPECT_EQ(info.loop, 0);
        for (int k = 0; k < n; ++k) {
            Bitmap expected;
            ASSERT_TRUE(expected.create(w, h, 32));
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const uint32_t rgb = shown[size_t(k)][size_t(y) * w + size_t(x)];
                    uint8_t* d = expected.bits() + y * expected.stride() + x * 4;
                    d[0] = uint8_t(rgb), d[1] = uint8_t(rgb >> 8), d[2] = uint8_t(rgb >> 16), d[3] = 0;
                }
            EXPECT_GT(test::RgbPsnr(decoded.frames[size_t(k)], expected), 25.0) << "frame " << k;  // lossy, 4:2:0, on a small frame
        }
    }
}

// The canvas opens on the whole frame; zooming in leaves the fit for the
// actual size (or twice it when the fit is the actual size), with scroll bars
// once the frame passes the canvas, and zooming out comes back to the fit.
TEST_F(ComposerShapeTest, CanvasFitsTheFrameAndZoomsInAndOut) {
    struct Case {
        int width, height;
        int firstZoomIn;  // Zoom after one step in from the fit
        bool barsAfterIn;
    };
    const Case cases[] = {{960, 540, 1, true}, {20, 10, 2, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        Tarnel_G window(nullptr, [&](const std::string&, cGif& gif, ProgressSink*, const GifQuality&) {
            gif.Destroy();
            if (!gif.FrameInsert(1, c.width, c.height)) return false;
            gif.SetScreenWidth(int16_t(c.width));
            gif.SetScreenHeight(int16_t(c.height));
            return true;
        });
        Links().MediaFilePath = "given.avi";
        window.show();
        window.ImportMedia();
        ucCanvas& canvas = *window.ucCanvas;
        const CanvasLayout& layout = canvas.layout();
        EXPECT_TRUE(canvas.FitMode());
        EXPECT_LE(layout.PictureWidth(), canvas.width());
        EXPECT_LE(layout.PictureHeight(), canvas.height());
        EXPECT_EQ(layout.ScrollMaxX(), 0);

        window.ZoomStep(1);
        EXPECT_FALSE(canvas.FitMode());
        EXPECT_EQ(canvas.Zoom(), c.firstZoomIn);
        EXPECT_EQ(canvas.horizontalBar()->isVisible(), c.barsAfterIn);
        EXPECT_EQ(layout.ScrollMaxX() > 0, c.barsAfterIn);
        for (int i = 0; i < 12; ++i) window.ZoomStep(1);
        EXPECT_EQ(canvas.Zoom(), Tarnel_G::kMaxZoom);
        for (int i = 0; i < 12; ++i) window.ZoomStep(-1);
        EXPECT_TRUE(canvas.FitMode());
        EXPECT_FALSE(canvas.horizontalBar()->isVisible());
        window.ZoomStep(1);
        window.ZoomFit();
        EXPECT_TRUE(canvas.FitMode());
        window.Cmd_Exit_Click();
    }
}

// Frames too large for an animated GIF at the chosen width are refused with
// the reason before any import runs; a smaller width then imports. Sources
// that no width would bring within the limits, or that fit, go to the import.
TEST_F(ComposerShapeTest, TooLargeVideoIsRefusedBeforeTheImport) {
    struct Case {
        int32_t width, height;
        uint32_t frames;
        int choice;
        bool refused;
    };
    const Case cases[] = {
        {2048, 2048, 130, 0, true},      // 545 M pixels at its own size
        {2048, 2048, 130, 960, false},   // 120 M pixels at 960
        {1920, 1080, 300, 0, true},
        {1920, 1080, 200, 0, false},
        {16, 16, 40000, 0, false},       // too many frames for any width: the import's own reason
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + "x" + std::to_string(c.frames));
        test::HandMadeAvi layout;
        layout.width = c.width;
        layout.height = c.height;
        layout.packets.assign(c.frames, test::rle8Empty());
        Links().MediaFilePath = folder.file("claim.avi");
        test::writeFile(Links().MediaFilePath, test::handMadeAvi(layout));
        dialogs.messages.clear();
        std::vector<int> importedAt;
        Tarnel_G window(nullptr, [&](const std::string&, cGif&, ProgressSink*, const GifQuality&) {
            importedAt.push_back(window.importWidth());
            return false;
        });
        window.setImportWidth(c.choice);
        window.OpenMedia();
        if (!c.refused) {
            EXPECT_EQ(importedAt, std::vector<int>{c.choice});
            continue;
        }
        EXPECT_TRUE(importedAt.empty());
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text,
                  "loading error AVI file.\nﾌﾚｰﾑｻｲｽﾞがｱﾆﾒGIFには大きすぎます (読込ｻｲｽﾞを小さくしてください)");
        EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::Exclamation);
        // The way out: a smaller width imports the same file.
        window.cmbSize->setCurrentIndex(window.cmbSize->findText(QStringLiteral("幅640")));
        window.cmbSize_Change();
        EXPECT_EQ(importedAt, std::vector<int>{640});
    }
}

}  // namespace
