#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "core/WindowLinks.h"
#include "core/Settings.h"
#include "imaging/jpeg/JpegConvert.h"
#include "imaging/PictureIO.h"
#include "output/FolderChooser.h"
#include "output/ui/Tarnel_F.h"
#include "platform/ProgramFolder.h"
#include "platform/StaleTempFiles.h"
#include "ui/ChildWindows.h"
#include "ui/widgets/PictureBoxWidget.h"
#include "ui/widgets/RaisingScrollBar.h"
#include "support/FFprobe.h"
#include "support/ScriptedDialogs.h"
#include "support/Images.h"
#include "support/TempDir.h"

using namespace tarnel;
using tarnel::test::ScriptedDialogs;
using tarnel::test::solidPicture;
using tarnel::test::TempDir;
namespace fs = std::filesystem;

namespace {

void writeImage(const std::string& path, int w, int h) { ASSERT_TRUE(SavePictureBMP(solidPicture(w, h, 0x4080C0), path)); }

class ChooserTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramFolderOverride(program.path().string());
        Settings() = MorphSettings{};
        Links() = WindowLinks{};
        // As the viewer opens it.
        Links().FolderChoiceCancelled = true;
        Links().AviExportMode = false;
    }
    void TearDown() override { SetProgramFolderOverride(""); }

    std::unique_ptr<Tarnel_F> open(const std::string& folder, std::vector<DriveEntry> drives = {{"/", "/"}}) {
        Settings().SaveFolder = folder;
        return std::make_unique<Tarnel_F>(nullptr, std::move(drives));
    }

    static std::vector<std::string> fileEntries(const Tarnel_F& f) {
        std::vector<std::string> out;
        for (int i = 0; i < f.File1->count(); ++i) out.push_back(f.File1->item(i)->text().toStdString());
        return out;
    }
    static std::string currentFolderEntry(const Tarnel_F& f) {
        return f.dir1->currentItem() ? f.dir1->currentItem()->data(0, Qt::UserRole).toString().toStdString() : "";
    }

    TempDir program;
    ScriptedDialogs dialogs;
};

TEST_F(ChooserTest, FolderChoiceModeIs349PixelsWide) {
    TempDir dir;
    auto f = open(dir.path().string());
    EXPECT_FALSE(f->aviMode());
    EXPECT_EQ(f->face()->size(), QSize(349, 290));
    EXPECT_EQ(f->size(), QSize(349, 310));
    EXPECT_EQ(f->lbl0->text(), QStringLiteral("ﾌｫﾙﾀﾞの選択"));
    EXPECT_FALSE(f->cmd_OK->isHidden());
    EXPECT_EQ(f->cmd_OK->text(), QStringLiteral("OK"));
    EXPECT_EQ(f->Cmd_Can->text(), QStringLiteral("ｷｬﾝｾﾙ"));
    EXPECT_EQ(f->ImgExit->x(), 349 - 21);
    EXPECT_EQ(f->Pic_C, nullptr);
    // Everything lies inside the window: the AVI column is not there.
    for (QWidget* w : f->face()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) EXPECT_LE(w->geometry().right(), 348);
}

TEST_F(ChooserTest, AviModeIsWiderWithoutOK) {
    TempDir dir;
    Links().AviExportMode = true;
    auto f = open(dir.path().string());
    EXPECT_TRUE(f->aviMode());
    EXPECT_EQ(f->size(), QSize(489, 310));
    EXPECT_EQ(f->lbl0->text(), QStringLiteral("AVIﾌｧｲﾙの作成"));
    EXPECT_TRUE(f->cmd_OK->isHidden());
    ASSERT_NE(f->Pic_C, nullptr);
    EXPECT_GE(f->Pic_C->x(), 348);
}

TEST_F(ChooserTest, OpensAtSaveFolderWithItsImagesAndAPreview) {
    TempDir dir;
    writeImage(dir.file("001.bmp"), 50, 100);
    writeImage(dir.file("000.bmp"), 200, 150);
    writeImage(dir.file("002.bmp"), 200, 150);
    std::ofstream(dir.file("notes.txt")) << "x";
    fs::create_directory(dir.path() / "sub");
    auto f = open(dir.path().string());
    EXPECT_EQ(f->chooser().folder(), dir.path().string());
    EXPECT_EQ(currentFolderEntry(*f), dir.path().string());
    EXPECT_EQ(fileEntries(*f), (std::vector<std::string>{"000.bmp", "001.bmp", "002.bmp"}));
    EXPECT_EQ(f->File1->currentRow(), 0);
    EXPECT_EQ(f->lbl_Flame->text(), QStringLiteral("3"));
    EXPECT_EQ(f->previewSourceWidth(), 200);
    EXPECT_EQ(f->previewSourceHeight(), 150);
    EXPECT_EQ(f->Pic_Pre->size(), QSize(93, 70));
    EXPECT_FALSE(f->Pic_Pre->isHidden());
    // The folder's subfolder is listed under it.
    ASSERT_EQ(f->dir1->currentItem()->childCount(), 1);
    EXPECT_EQ(f->dir1->currentItem()->child(0)->text(0), QStringLiteral("sub"));
}

TEST_F(ChooserTest, ClickingAnImagePreviewsItWithoutChangingTheCount) {
    TempDir dir;
    writeImage(dir.file("000.bmp"), 200, 150);
    writeImage(dir.file("001.bmp"), 50, 100);
    auto f = open(dir.path().string());
    f->File1->setCurrentRow(1);
    EXPECT_EQ(f->previewSourceWidth(), 50);
    EXPECT_EQ(f->Pic_Pre->size(), QSize(46, 93));  // 46.5 to even
    EXPECT_EQ(f->lbl_Flame->text(), QStringLiteral("2"));
}

TEST_F(ChooserTest, AnEmptyFolderCountsNothingAndShowsNoPreview) {
    TempDir dir, empty;
    writeImage(dir.file("000.bmp"), 20, 20);
    auto f = open(dir.path().string());
    f->dir1_Change(empty.path().string());
    EXPECT_EQ(f->chooser().folder(), empty.path().string());
    EXPECT_EQ(f->lbl_Flame->text(), QStringLiteral("0"));
    EXPECT_TRUE(f->Pic_Pre->isHidden());
    EXPECT_EQ(f->File1->count(), 0);
}

TEST_F(ChooserTest, EnteringAFolderListsIt) {
    TempDir dir;
    fs::create_directories(dir.path() / "a" / "b");
    writeImage((dir.path() / "a" / "000.gif").string(), 4, 4);  // a BMP under another name is still listed
    auto f = open(dir.path().string());
    f->dir1_Change((dir.path() / "a").string());
    EXPECT_EQ(f->chooser().folder(), (dir.path() / "a").string());
    EXPECT_EQ(fileEntries(*f), (std::vector<std::string>{"000.gif"}));
    f->dir1_Change((dir.path() / "gone").string());
    EXPECT_EQ(f->chooser().folder(), (dir.path() / "a").string());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ChooserTest, AMissingSaveFolderOpensTheProgramFolder) {
    auto f = open("/no/such/folder/here");
    EXPECT_EQ(f->chooser().folder(), program.path().string());
}

TEST_F(ChooserTest, OKAcceptsAFolderWithFrame000) {
    for (const char* frame : {"000.bmp", "000.jpg", "000.gif"}) {
        TempDir dir;
        writeImage(dir.file("bmp.bmp"), 8, 8);
        if (std::string(frame) == "000.jpg")
            ASSERT_EQ(ConvertBMPtoJPG(dir.file("bmp.bmp"), dir.file(frame)), 0);
        else
            writeImage(dir.file(frame), 8, 8);
        Links().FolderChoiceCancelled = true;
        Settings().SaveFolder = "";
        auto f = open(dir.path().string());
        Settings().SaveFolder = "";
        f->cmd_OK_Click();
        EXPECT_EQ(f->result(), QDialog::Accepted) << frame;
        EXPECT_FALSE(Links().FolderChoiceCancelled) << frame;
        EXPECT_EQ(Settings().SaveFolder, dir.path().string()) << frame;
    }
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ChooserTest, OKRefusesAFolderWithoutFrame000) {
    TempDir dir;
    writeImage(dir.file("frame1.bmp"), 8, 8);
    writeImage(dir.file("001.bmp"), 8, 8);
    auto f = open(dir.path().string());
    f->cmd_OK_Click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "ﾌｫﾙﾀﾞの中にﾓｰﾌ画像ﾃﾞｰﾀが見つかりません！");
    EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::Information);
    EXPECT_EQ(dialogs.messages[0].buttons, MsgButtons::OK);
    EXPECT_EQ(dialogs.messages[0].title, "Tarnel");
    EXPECT_EQ(f->result(), 0);  // still open
    EXPECT_TRUE(Links().FolderChoiceCancelled);
    EXPECT_EQ(Settings().SaveFolder, dir.path().string());
}

TEST_F(ChooserTest, CancelAndTheExitImageLeaveTheChoiceCancelled) {
    TempDir dir;
    writeImage(dir.file("000.bmp"), 8, 8);
    auto f = open(dir.path().string());
    Links().FolderChoiceCancelled = false;
    f->Cmd_Can_Click();
    EXPECT_EQ(f->result(), QDialog::Rejected);
    EXPECT_TRUE(Links().FolderChoiceCancelled);

    auto g = open(dir.path().string());
    g->ImgExit_MouseDown();
    g->ImgExit_MouseUp();
    EXPECT_EQ(g->result(), QDialog::Rejected);
    EXPECT_TRUE(Links().FolderChoiceCancelled);
    EXPECT_EQ(Settings().SaveFolder, dir.path().string());
}

TEST_F(ChooserTest, ADriveThatIsNotReadyAsksToRetryOrCancel) {
    TempDir dir;
    const std::string usb = dir.file("usb");
    auto f = open(dir.path().string(), {{"/", "/"}, {"USB", usb}});
    dialogs.answers = {MsgResult::Retry, MsgResult::Cancel};
    f->drv1->setCurrentIndex(1);
    ASSERT_EQ(dialogs.messages.size(), 2u);
    for (const auto& m : dialogs.messages) {
        EXPECT_EQ(m.text, "ﾄﾞﾗｲﾌﾞUSB は、準備されていません。");
        EXPECT_EQ(m.icon, MsgIcon::Exclamation);
        EXPECT_EQ(m.buttons, MsgButtons::RetryCancel);
        EXPECT_EQ(m.title, "Tarnel");
    }
    // Cancel puts the drive list back to the drive of the folder shown.
    EXPECT_EQ(f->drv1->currentIndex(), 0);
    EXPECT_EQ(f->chooser().folder(), dir.path().string());
}

// Plugs the media in while the message is up, then answers retry.
class PlugInOnRetry : public ScriptedDialogs {
public:
    explicit PlugInOnRetry(std::string folder) : folder_(std::move(folder)) {}
    MsgResult messageBox(const std::string& text, MsgIcon icon, MsgButtons buttons, const std::string& title) override {
        ScriptedDialogs::messageBox(text, icon, buttons, title);
        fs::create_directory(folder_);
        std::ofstream(folder_ + "/000.bmp") << "x";
        return MsgResult::Retry;
    }

private:
    std::string folder_;
};

TEST_F(ChooserTest, RetryReadsTheDriveAgain) {
    TempDir dir;
    const std::string usb = dir.file("usb");
    auto f = open(dir.path().string(), {{"/", "/"}, {"USB", usb}});
    PlugInOnRetry plug(usb);
    f->drv1->setCurrentIndex(1);
    EXPECT_EQ(plug.messages.size(), 1u);
    EXPECT_EQ(f->drv1->currentIndex(), 1);
    EXPECT_EQ(f->chooser().folder(), usb);
    EXPECT_EQ(fileEntries(*f), (std::vector<std::string>{"000.bmp"}));
    EXPECT_TRUE(f->Pic_Pre->isHidden());  // "x" is no picture
}

TEST_F(ChooserTest, TheDriveListShowsTheDrives) {
    TempDir dir;
    auto f = open(dir.path().string(), {{"/", "/"}, {dir.path().string(), dir.path().string()}});
    ASSERT_EQ(f->drv1->count(), 2);
    EXPECT_EQ(f->drv1->itemText(1).toStdString(), dir.path().string());
    EXPECT_EQ(f->drv1->currentIndex(), 1);  // the deepest drive holding SaveFolder
    f->drv1->setCurrentIndex(0);
    EXPECT_EQ(f->chooser().folder(), "/");
    EXPECT_TRUE(dialogs.messages.empty());
}

// ---------------------------------------------------------------- AVI mode

// Frames 000.bmp ... of w x h, each a different grey.
void writeFrames(const TempDir& dir, int count, int w, int h) {
    for (int i = 0; i < count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%03d.bmp", i);
        const uint32_t grey = uint32_t(20 * i) & 0xFF;
        ASSERT_TRUE(SavePictureBMP(solidPicture(w, h, grey * 0x010101u), dir.file(name)));
    }
}

class AviExportTest : public ChooserTest {
protected:
    void SetUp() override {
        ChooserTest::SetUp();
        Links().AviExportMode = true;
        Settings().AviRepeat = {1, 1, 1};
        savedOpeners = ChildWindows();
    }
    void TearDown() override {
        ChildWindows() = savedOpeners;
        ChooserTest::TearDown();
    }
    // Cmd_Avi_Save answered by the scripted save and compression dialogs.
    void exportTo(Tarnel_F& f, const std::string& path, std::optional<AviCompressOptions> options = AviCompressOptions{}) {
        dialogs.saveAnswers.push_back(path);
        dialogs.compressionAnswers.push_back(options);
        f.Cmd_Avi_Save_Click();
    }

    ChildWindowOpeners savedOpeners;
    TempDir frames, out;
};

TEST_F(AviExportTest, LaysOutTheAviPanel) {
    auto f = open(frames.path().string());
    EXPECT_EQ(f->size(), QSize(489, 310));
    EXPECT_EQ(f->ImgExit->x(), 489 - 21);
    EXPECT_TRUE(f->cmd_OK->isHidden());
    ASSERT_NE(f->Pic_C, nullptr);
    EXPECT_LE(f->Pic_C->geometry().right(), 488);
    for (QWidget* w : std::initializer_list<QWidget*>{f->lbl_Flame, f->txtFPS, f->txtWidth, f->txtHeight, f->Cmd_Avi_Save,
                                                       f->Cmd_Viewer, f->VS_Repeat, f->lbl_Repeat})
        EXPECT_EQ(w->parentWidget(), f->Pic_C);
    // The message in the row OK leaves free, clear of the cancel button.
    EXPECT_FALSE(f->lbl_Message->geometry().intersects(f->Cmd_Can->geometry()));
    EXPECT_EQ(f->txtFPS->text(), QStringLiteral("20"));
    EXPECT_EQ(f->Cmd_Avi_Save->text(), QStringLiteral("AVI ﾌｧｨﾙの作成"));
    EXPECT_EQ(f->Cmd_Viewer->text(), QStringLiteral("AVI ﾋﾞｭｰｱ"));
    EXPECT_EQ(f->lbl_Message->text(), QStringLiteral("AVI ﾌｧｲﾙを作成しました！！"));
    EXPECT_TRUE(f->lbl_Message->isHidden());
    EXPECT_FALSE(f->Cmd_Viewer->isEnabled());
    EXPECT_TRUE(f->Cmd_Avi_Save->isEnabled());
}

TEST_F(AviExportTest, TheFolderChangeTakesTheFirstImagesSizeAndResetsThePlayer) {
    writeFrames(frames, 3, 320, 240);
    TempDir other;
    writeImage(other.file("a.bmp"), 64, 48);
    writeImage(other.file("b.bmp"), 200, 100);
    auto f = open(frames.path().string());
    EXPECT_EQ(f->txtWidth->text(), QStringLiteral("320"));
    EXPECT_EQ(f->txtHeight->text(), QStringLiteral("240"));
    EXPECT_EQ(f->lbl_Flame->text(), QStringLiteral("3"));

    f->Cmd_Viewer->setEnabled(true);
    f->lbl_Message->show();
    f->dir1_Change(other.path().string());
    EXPECT_EQ(f->txtWidth->text(), QStringLiteral("64"));
    EXPECT_EQ(f->txtHeight->text(), QStringLiteral("48"));
    EXPECT_EQ(f->lbl_Flame->text(), QStringLiteral("2"));
    EXPECT_FALSE(f->Cmd_Viewer->isEnabled());
    EXPECT_TRUE(f->lbl_Message->isHidden());
    // Clicking another image previews it; the AVI size stays.
    f->File1->setCurrentRow(1);
    EXPECT_EQ(f->previewSourceWidth(), 200);
    EXPECT_EQ(f->txtWidth->text(), QStringLiteral("64"));
}

TEST_F(AviExportTest, TheRepeatSpinnerShowsAndStoresThePlays) {
    Settings().AviRepeat[2] = 7;
    auto f = open(frames.path().string());
    EXPECT_EQ(f->VS_Repeat->count(), 7);
    EXPECT_EQ(f->lbl_Repeat->text(), QStringLiteral("7回"));
    f->VS_Repeat->setCount(3);
    EXPECT_EQ(f->lbl_Repeat->text(), QStringLiteral("3回"));
    EXPECT_EQ(Settings().AviRepeat[2], 3);
}

TEST_F(AviExportTest, TheUpArrowOfTheRepeatSpinnerRaisesTheCount) {
    auto f = open(frames.path().string());
    f->VS_Repeat->setCount(4);
    f->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f.get()));
    RaisingScrollBar* bar = f->VS_Repeat;
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, 3));
    EXPECT_EQ(bar->count(), 5);
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, bar->height() - 3));
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, bar->height() - 3));
    EXPECT_EQ(bar->count(), 3);
    EXPECT_EQ(f->lbl_Repeat->text(), QStringLiteral("3回"));
    f->reject();
}

TEST_F(AviExportTest, ExportsTheFolderAsAnAviOfItsImages) {
    writeFrames(frames, 10, 320, 240);
    auto f = open(frames.path().string());
    const std::string avi = out.file("run.avi");
    exportTo(*f, avi);

    ASSERT_TRUE(fs::exists(avi));
    if (tarnel::test::HaveFFprobe()) {
        const tarnel::test::ProbedVideo probed = tarnel::test::ProbeVideo(avi);
        ASSERT_TRUE(probed.ok);
        EXPECT_EQ(probed.frames, 10);
        EXPECT_EQ(probed.width, 320);
        EXPECT_EQ(probed.height, 240);
        EXPECT_EQ(probed.frameRate, "20/1");
        const auto frames = tarnel::test::DecodeBgr24(avi, 320, 240);
        ASSERT_EQ(frames.size(), 10u);
        const size_t at = (5 * 320 + 5) * 3;
        EXPECT_EQ(frames[9][at + 2], 180);  // the tenth image
        EXPECT_EQ(frames[3][at + 2], 60);
    }

    EXPECT_TRUE(f->Cmd_Viewer->isEnabled());
    EXPECT_FALSE(f->lbl_Message->isHidden());
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(Links().MediaFilePath, avi);
    EXPECT_EQ(Settings().SaveFolder, out.path().string());
    EXPECT_EQ(f->picSaveWidth(), 320);
    EXPECT_EQ(f->picSaveHeight(), 240);
}

TEST_F(AviExportTest, TheSaveDialogAsksForAnAviFile) {
    auto f = open(frames.path().string());
    dialogs.saveAnswers.push_back(std::nullopt);
    f->Cmd_Avi_Save_Click();
    ASSERT_EQ(dialogs.fileRequests.size(), 1u);
    const FileDialogRequest& r = dialogs.fileRequests[0];
    EXPECT_EQ(r.title, "ﾌｧｲﾙ名を付けて保存");
    EXPECT_EQ(r.filter, "AVI Videoﾌｧｲﾙ|*.avi|MP4 Videoﾌｧｲﾙ|*.mp4|WebM Videoﾌｧｲﾙ|*.webm|WebP ｱﾆﾒｰｼｮﾝﾌｧｲﾙ|*.webp|"
                        "APNG ｱﾆﾒｰｼｮﾝﾌｧｲﾙ|*.apng;*.png");
    EXPECT_EQ(r.fileName, "*.avi");
    EXPECT_EQ(r.initialFolder, frames.path().string());
    EXPECT_EQ(r.defaultExtension, "avi");
    EXPECT_TRUE(r.overwritePrompt);
}

TEST_F(AviExportTest, ACancelledSaveDialogDoesNothing) {
    writeFrames(frames, 2, 16, 16);
    auto f = open(frames.path().string());
    Links().MediaFilePath = "/earlier.avi";
    dialogs.saveAnswers.push_back(std::nullopt);
    f->Cmd_Avi_Save_Click();
    EXPECT_TRUE(dialogs.compressionRequests.empty());
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(Links().MediaFilePath, "/earlier.avi");
    EXPECT_EQ(Settings().SaveFolder, frames.path().string());
    EXPECT_TRUE(fs::is_empty(out.path()));
}

TEST_F(AviExportTest, ACancelledCompressionDialogWritesNothingAndSaysNothing) {
    writeFrames(frames, 2, 16, 16);
    auto f = open(frames.path().string());
    const std::string avi = out.file("x.avi");
    exportTo(*f, avi, std::nullopt);
    EXPECT_EQ(dialogs.compressionRequests.size(), 1u);
    EXPECT_FALSE(fs::exists(avi));
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_FALSE(f->Cmd_Viewer->isEnabled());
    EXPECT_TRUE(f->lbl_Message->isHidden());
}

TEST_F(AviExportTest, TheCompressionDialogOffersTheCodecsAndTheLastChoice) {
    writeFrames(frames, 2, 16, 16);
    auto f = open(frames.path().string());
    AviCompressOptions mjpeg;
    mjpeg.codec = AviCodec::MJpeg;
    mjpeg.quality = 42;
    exportTo(*f, out.file("a.avi"), mjpeg);
    exportTo(*f, out.file("b.avi"), std::nullopt);
    exportTo(*f, out.file("c.avi"));
    ASSERT_EQ(dialogs.compressionRequests.size(), 3u);
    const auto& first = dialogs.compressionRequests[0];
    ASSERT_FALSE(first.codecs.empty());
    EXPECT_EQ(first.codecs.size(), AvailableAviCodecs().size());
    EXPECT_EQ(first.codecs[0].codec, AviCodec::Raw);
    // A cancel does not forget the confirmed choice.
    for (size_t i : {size_t(1), size_t(2)}) {
        EXPECT_EQ(dialogs.compressionRequests[i].initial.codec, AviCodec::MJpeg) << i;
        EXPECT_EQ(dialogs.compressionRequests[i].initial.quality, 42) << i;
    }
}

TEST_F(AviExportTest, ABadFrameRateWritesNothing) {
    writeFrames(frames, 2, 16, 16);
    auto f = open(frames.path().string());
    for (const char* text : {"abc", "", "70000"}) {
        f->txtFPS->setText(QString::fromUtf8(text));
        exportTo(*f, out.file("x.avi"));
        EXPECT_FALSE(fs::exists(out.file("x.avi"))) << text;
    }
    EXPECT_TRUE(dialogs.compressionRequests.empty());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(AviExportTest, ABadSizeKeepsTheSizeOfTheLastExport) {
    writeFrames(frames, 2, 32, 24);
    auto f = open(frames.path().string());
    exportTo(*f, out.file("first.avi"));
    ASSERT_EQ(f->picSaveWidth(), 32);
    int n = 0;
    for (const char* text : {"abc", "40000", "0", "-8"}) {
        f->txtWidth->setText(QString::fromUtf8(text));
        f->txtHeight->setText(QStringLiteral("12"));
        const std::string avi = out.file("w" + std::to_string(n++) + ".avi");
        exportTo(*f, avi);
        EXPECT_EQ(f->picSaveWidth(), 32) << text;
        EXPECT_EQ(f->picSaveHeight(), 24) << text;
        ASSERT_TRUE(fs::exists(avi)) << text;
        if (tarnel::test::HaveFFprobe()) {
            EXPECT_EQ(tarnel::test::ProbeVideo(avi).width, 32) << text;
        }
    }
}

TEST_F(AviExportTest, ABadSizeBeforeAnyExportWritesNothing) {
    writeFrames(frames, 2, 32, 24);
    auto f = open(frames.path().string());
    f->txtHeight->setText(QStringLiteral("x"));
    exportTo(*f, out.file("x.avi"));
    EXPECT_FALSE(fs::exists(out.file("x.avi")));
    EXPECT_TRUE(dialogs.compressionRequests.empty());
}

TEST_F(AviExportTest, AFileThatCannotBeCreatedIsReported) {
    writeFrames(frames, 2, 16, 16);
    auto f = open(frames.path().string());
    exportTo(*f, out.file("no/such/folder/x.avi"));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Aviﾌｧｲﾙの作成は失敗しました!");
    EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(dialogs.messages[0].title, "Tarnel");
    EXPECT_FALSE(f->Cmd_Viewer->isEnabled());
}

// What the window makes of each outcome of the writer.
struct OutcomeCase {
    AviExportResult result;
    const char* message;  // nullptr: none
    bool playable;
};

class AviExportOutcome : public AviExportTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(AviExportOutcome, ShowsItsMessage) {
    const OutcomeCase c = GetParam();
    writeFrames(frames, 3, 40, 30);
    auto f = open(frames.path().string());
    f->txtWidth->setText(QStringLiteral("20"));
    f->txtHeight->setText(QStringLiteral("10"));
    f->txtFPS->setText(QStringLiteral("12"));
    AviExportRequest seen;
    f->setExporter([&](const AviExportRequest& r, const AviOptionsChooser&, ProgressSink* progress) {
        seen = r;
        if (progress) {
            progress->SetMax(3);
            for (int i = 1; i <= 3; ++i) progress->SetValue(i);
        }
        return c.result;
    });
    dialogs.saveAnswers.push_back(out.file("o.avi"));
    f->Cmd_Avi_Save_Click();

    EXPECT_EQ(seen.framePaths, (std::vector<std::string>{frames.file("000.bmp"), frames.file("001.bmp"), frames.file("002.bmp")}));
    EXPECT_EQ(seen.outputPath, out.file("o.avi"));
    EXPECT_EQ(seen.width, 20);
    EXPECT_EQ(seen.height, 10);
    EXPECT_EQ(seen.framesPerSecond, 12);
    EXPECT_EQ(seen.tempBmpPath, Tarnel_F::TempBmpPath());
    EXPECT_EQ(fs::path(seen.tempBmpPath).parent_path(), program.path());
    if (c.message) {
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text, c.message);
        EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::Exclamation);
        EXPECT_EQ(dialogs.messages[0].buttons, MsgButtons::OK);
        EXPECT_EQ(dialogs.messages[0].title, "Tarnel");
    } else {
        EXPECT_TRUE(dialogs.messages.empty());
    }
    EXPECT_EQ(f->Cmd_Viewer->isEnabled(), c.playable);
    EXPECT_EQ(f->lbl_Message->isHidden(), !c.playable);
    EXPECT_TRUE(f->lbl_Progress->isHidden());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Results, AviExportOutcome,
                         ::testing::Values(OutcomeCase{AviExportResult::Written, nullptr, true},
                                           OutcomeCase{AviExportResult::Cancelled, nullptr, false},
                                           OutcomeCase{AviExportResult::Abandoned, nullptr, false},
                                           OutcomeCase{AviExportResult::ImageLoadFailed, "画像ﾌｧｲﾙのﾛｰﾄﾞで失敗しました!", false},
                                           OutcomeCase{AviExportResult::WriteFailed, "Aviﾌｧｲﾙの作成は失敗しました!", false}));

TEST_F(AviExportTest, AnImageThatCannotBeLoadedAbandonsTheExportWithoutAMessage) {
    writeFrames(frames, 2, 16, 16);
    auto f = open(frames.path().string());
    // The first image goes bad after the folder was read.
    std::ofstream(frames.file("000.bmp"), std::ios::trunc) << "not a picture";
    exportTo(*f, out.file("x.avi"));
    EXPECT_FALSE(fs::exists(out.file("x.avi")));
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_FALSE(f->Cmd_Viewer->isEnabled());
    EXPECT_TRUE(f->lbl_Message->isHidden());
}

TEST_F(AviExportTest, UnloadingDeletesTheTemporaryFile) {
    writeFrames(frames, 2, 16, 16);
    auto f = open(frames.path().string());
    exportTo(*f, out.file("x.avi"));
    std::ofstream(Tarnel_F::TempBmpPath()) << "x";
    f->Cmd_Can_Click();
    EXPECT_FALSE(fs::exists(Tarnel_F::TempBmpPath()));
}

TEST_F(AviExportTest, TheStagingFileStaysLockedFromExportToExportUntilUnload) {
    writeFrames(frames, 2, 16, 16);
    auto f = open(frames.path().string());
    const std::string staging = Tarnel_F::TempBmpPath();
    // A sweep of the program folder, as another process's next write makes
    // it, finds the file held after each export and leaves it.
    for (const char* name : {"a.avi", "b.avi"}) {
        exportTo(*f, out.file(name));
        ASSERT_TRUE(fs::exists(out.file(name))) << name;
        ASSERT_TRUE(fs::exists(staging)) << name;
        EXPECT_EQ(RemoveStaleTempFiles(program.path().string()), 0u) << name;
        EXPECT_TRUE(fs::exists(staging)) << name;
    }
    f->Cmd_Can_Click();
    EXPECT_FALSE(fs::exists(staging));
}

TEST_F(AviExportTest, TheViewerPlaysTheNewFileTheChosenNumberOfTimes) {
    writeFrames(frames, 2, 16, 16);
    auto f = open(frames.path().string());
    std::string played;
    int16_t plays = 0;
    ChildWindows().aviPlayer = [&](QWidget* owner) {
        EXPECT_EQ(owner, f.get());
        played = Links().PlayerFilePath;
        plays = Settings().AviRepeat[0];
    };
    exportTo(*f, out.file("x.avi"));
    f->VS_Repeat->setCount(4);
    ASSERT_TRUE(f->Cmd_Viewer->isEnabled());
    f->Cmd_Viewer->click();
    EXPECT_EQ(played, out.file("x.avi"));
    EXPECT_EQ(plays, 4);
}

}  // namespace
