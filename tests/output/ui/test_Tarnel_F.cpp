#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "core/WindowLinks.h"
#include "core/Settings.h"
#include "imaging/JpegConvert.h"
#include "imaging/PictureIO.h"
#include "output/FolderChooser.h"
#include "output/ui/Tarnel_F.h"
#include "platform/ProgramFolder.h"
#include "platform/ui/PictureBoxWidget.h"
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

}  // namespace
