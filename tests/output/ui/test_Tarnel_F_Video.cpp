// The export window writing MP4 and WebM files: chosen by the save dialog's
// file type or the typed extension.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>

#include "core/Settings.h"
#include "core/WindowLinks.h"
#include "output/ui/Tarnel_F.h"
#include "platform/ProgramFolder.h"
#include "support/FFprobe.h"
#include "support/Pillow.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"
#include "support/VideoFrames.h"

using namespace tarnel;
using tarnel::test::ScriptedDialogs;
using tarnel::test::TempDir;
namespace fs = std::filesystem;

namespace {

class VideoSaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramFolderOverride(program.path().string());
        Settings() = MorphSettings{};
        Links() = WindowLinks{};
        Links().AviExportMode = true;
        Settings().AviRepeat = {1, 1, 1};
    }
    void TearDown() override { SetProgramFolderOverride(""); }

    std::unique_ptr<Tarnel_F> open() {
        Settings().SaveFolder = frames.path().string();
        return std::make_unique<Tarnel_F>(nullptr, std::vector<DriveEntry>{{"/", "/"}});
    }
    void save(Tarnel_F& f, const std::string& path) {
        dialogs.saveAnswers.push_back(path);
        f.Cmd_Avi_Save_Click();
    }

    TempDir program, frames, out;
    ScriptedDialogs dialogs;
};

// The file written for each name the dialog returns.
struct SaveCase {
    const char* file;
    const char* codec;
    const char* message;
};

class VideoSave : public VideoSaveTest, public ::testing::WithParamInterface<SaveCase> {};

TEST_P(VideoSave, WritesTheFolderAtTheWindowsSizeAndRate) {
    const SaveCase c = GetParam();
    ASSERT_TRUE(test::writeMovingFrames(frames.path().string(), 5, 40, 30));
    auto f = open();
    f->txtWidth->setText(QStringLiteral("33"));
    f->txtHeight->setText(QStringLiteral("25"));
    f->txtFPS->setText(QStringLiteral("8"));
    Links().MediaFilePath = "/earlier.avi";
    const std::string path = out.file(c.file);
    save(*f, path);

    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text;
    EXPECT_TRUE(dialogs.compressionRequests.empty()) << "no AVI compressor to choose";
    ASSERT_TRUE(fs::exists(path));
    EXPECT_EQ(test::listFolder(out.path().string()).size(), 1u);
    EXPECT_FALSE(f->lbl_Message->isHidden());
    EXPECT_EQ(f->lbl_Message->text().toStdString(), c.message);
    EXPECT_TRUE(f->lbl_Progress->isHidden());
    EXPECT_EQ(f->lbl_Progress->text(), QStringLiteral("5 / 5"));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(Links().MediaFilePath, "/earlier.avi") << "the player keeps the last AVI";
    EXPECT_EQ(Settings().SaveFolder, out.path().string());
    EXPECT_EQ(f->picSaveWidth(), 33);

    if (!test::HaveFFprobe()) GTEST_SKIP() << "ffprobe is not installed";
    const test::ProbedVideo v = test::ProbeVideo(path);
    EXPECT_EQ(v.codec, c.codec);
    EXPECT_EQ(v.frames, 5);
    EXPECT_EQ(v.frameRate, "8/1");
    EXPECT_EQ(v.height, std::string(c.codec) == "h264" ? 26 : 25);
}

INSTANTIATE_TEST_SUITE_P(Types, VideoSave,
                         ::testing::Values(SaveCase{"a.mp4", "h264", "MP4 ﾌｧｲﾙを作成しました！！"},
                                           SaveCase{"b.MP4", "h264", "MP4 ﾌｧｲﾙを作成しました！！"},
                                           SaveCase{"c.webm", "vp9", "WebM ﾌｧｲﾙを作成しました！！"},
                                           SaveCase{"d.WebM", "vp9", "WebM ﾌｧｲﾙを作成しました！！"}));

// The two animation types after the videos: the window's size and rate,
// read back by Pillow (frames, size, each frame's time at 8 frames a second).
TEST_F(VideoSaveTest, AnimationTypesWriteAtTheWindowsSizeAndRate) {
    if (!test::HavePillow()) GTEST_SKIP() << "Pillow is not installed";
    ASSERT_TRUE(test::writeMovingFrames(frames.path().string(), 5, 40, 30));
    const struct {
        const char* file;
        const char* message;
    } cases[] = {{"e.webp", "WebP ﾌｧｲﾙを作成しました！！"},
                 {"f.apng", "APNG ﾌｧｲﾙを作成しました！！"},
                 {"g.PNG", "APNG ﾌｧｲﾙを作成しました！！"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        auto f = open();
        f->txtWidth->setText(QStringLiteral("33"));
        f->txtHeight->setText(QStringLiteral("25"));
        f->txtFPS->setText(QStringLiteral("8"));
        const std::string path = out.file(c.file);
        save(*f, path);
        EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text;
        EXPECT_TRUE(dialogs.compressionRequests.empty());
        EXPECT_EQ(f->lbl_Message->text().toStdString(), c.message);
        EXPECT_EQ(f->lbl_Progress->text(), QStringLiteral("5 / 5"));
        test::TempDir scratch;
        const test::PillowAnimation a = test::DecodeWithPillow(path, scratch.path().string());
        ASSERT_TRUE(a.ok) << a.error;
        ASSERT_EQ(a.frames.size(), 5u);
        EXPECT_EQ(a.frames[0].width(), 33);
        EXPECT_EQ(a.frames[0].height(), 25);
        EXPECT_EQ(a.loop, 0);
        if (std::string(c.file).find("webp") == std::string::npos) {
            EXPECT_EQ(a.durations, std::vector<int>(5, 125));
        }
    }
}

TEST_F(VideoSaveTest, AnAviAfterAVideoSaysAviAgain) {
    ASSERT_TRUE(test::writeMovingFrames(frames.path().string(), 2, 16, 16));
    auto f = open();
    save(*f, out.file("a.webm"));
    ASSERT_EQ(f->lbl_Message->text(), QStringLiteral("WebM ﾌｧｲﾙを作成しました！！"));
    dialogs.compressionAnswers.push_back(AviCompressOptions{});
    save(*f, out.file("a.avi"));
    EXPECT_EQ(f->lbl_Message->text(), QStringLiteral("AVI ﾌｧｲﾙを作成しました！！"));
    EXPECT_TRUE(f->Cmd_Viewer->isEnabled());
    EXPECT_EQ(Links().MediaFilePath, out.file("a.avi"));
}

// What the window shows for each outcome of the video writer.
struct OutcomeCase {
    const char* file;
    VideoExportResult result;
    const char* message;  // nullptr: none
};

class VideoSaveOutcome : public VideoSaveTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(VideoSaveOutcome, ShowsItsMessage) {
    const OutcomeCase c = GetParam();
    ASSERT_TRUE(test::writeMovingFrames(frames.path().string(), 3, 20, 10));
    auto f = open();
    f->txtFPS->setText(QStringLiteral("70"));
    VideoExportRequest seen;
    bool aviCalled = false;
    f->setExporter([&](const AviExportRequest&, const AviOptionsChooser&, ProgressSink*) {
        aviCalled = true;
        return AviExportResult::Written;
    });
    f->setVideoExporter([&](const VideoExportRequest& r, ProgressSink*) {
        seen = r;
        return c.result;
    });
    save(*f, out.file(c.file));

    EXPECT_FALSE(aviCalled);
    EXPECT_EQ(seen.outputPath, out.file(c.file));
    EXPECT_EQ(seen.framePaths.size(), 3u);
    EXPECT_EQ(seen.width, 20);
    EXPECT_EQ(seen.height, 10);
    EXPECT_EQ(seen.framesPerSecond, 70) << "beyond the AVI's 30";
    if (c.message) {
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text, c.message);
        EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::Exclamation);
        EXPECT_EQ(dialogs.messages[0].buttons, MsgButtons::OK);
        EXPECT_EQ(dialogs.messages[0].title, "Tarnel");
        EXPECT_TRUE(f->lbl_Message->isHidden());
    } else {
        EXPECT_TRUE(dialogs.messages.empty());
        EXPECT_FALSE(f->lbl_Message->isHidden());
    }
    EXPECT_TRUE(f->lbl_Progress->isHidden());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Results, VideoSaveOutcome,
    ::testing::Values(OutcomeCase{"a.mp4", VideoExportResult::Written, nullptr},
                      OutcomeCase{"a.mp4", VideoExportResult::Unsupported, "この形式で保存できません： MP4 (libx264 がありません)"},
                      OutcomeCase{"a.webm", VideoExportResult::Unsupported,
                                  "この形式で保存できません： WebM (libvpx-vp9 がありません)"},
                      OutcomeCase{"a.webm", VideoExportResult::ImageLoadFailed, "画像ﾌｧｲﾙのﾛｰﾄﾞで失敗しました!"},
                      OutcomeCase{"a.mp4", VideoExportResult::WriteFailed, "動画ﾌｧｲﾙの作成は失敗しました!"},
                      OutcomeCase{"a.mp4", VideoExportResult::NoFrames, "ﾌｫﾙﾀﾞの中にﾓｰﾌ画像ﾃﾞｰﾀが見つかりません！"}));

TEST_F(VideoSaveTest, AFileThatCannotBeCreatedIsReported) {
    ASSERT_TRUE(test::writeMovingFrames(frames.path().string(), 2, 16, 16));
    auto f = open();
    save(*f, out.file("no/such/folder/x.webm"));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "動画ﾌｧｲﾙの作成は失敗しました!");
    EXPECT_TRUE(fs::is_empty(out.path()));
}

TEST_F(VideoSaveTest, ABadRateWritesNothing) {
    ASSERT_TRUE(test::writeMovingFrames(frames.path().string(), 2, 16, 16));
    auto f = open();
    for (const char* text : {"abc", "", "70000"}) {
        f->txtFPS->setText(QString::fromUtf8(text));
        save(*f, out.file("x.mp4"));
    }
    EXPECT_TRUE(fs::is_empty(out.path()));
    EXPECT_TRUE(dialogs.messages.empty());
}

}  // namespace
