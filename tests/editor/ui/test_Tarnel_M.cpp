// The editor window, driven through its handlers and mouse events in the
// offscreen platform, with scripted dialogs and a temporary program folder.
#include <QApplication>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QUrl>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "core/WindowLinks.h"
#include "core/Settings.h"
#include "ui/ChildWindows.h"
#include "ui/Skin.h"
#include "editor/ui/EditorWindows.h"
#include "editor/ui/Tarnel_M.h"
#include "editor/ui/Tarnel_T.h"
#include "imaging/PictureIO.h"
#include "platform/ProgramFolder.h"
#include "ui/widgets/PictureBoxWidget.h"
#include "ui/widgets/Spinner.h"
#include "support/Cli.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"
#include "EditorWindowTest.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;
using test::ScriptedDialogs;
using test::TempDir;

uint32_t patternAt(int x, int y, int seed) {
    return uint32_t((x * 3 + seed) & 0xFF) << 16 | uint32_t((y * 5) & 0xFF) << 8 | uint32_t(seed & 0xFF);
}

std::string writeImage(const TempDir& dir, const std::string& name, int w, int h, int seed) {
    Bitmap b;
    EXPECT_TRUE(b.create(w, h, 32));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.setPixelValue(x, y, patternAt(x, y, seed));
    std::string path = dir.file(name);
    EXPECT_TRUE(SavePictureBMP(b, path));
    return path;
}

uint32_t px(ColorRef c) { return uint32_t(RedOf(c)) << 16 | uint32_t(GreenOf(c)) << 8 | BlueOf(c); }

std::vector<fs::path> frameFolders(const fs::path& programFolder) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(programFolder))
        if (e.is_directory()) out.push_back(e.path());
    return out;
}

class EditorTest : public test::EditorWindowTest {
protected:
    void SetUp() override {
        EditorWindowTest::SetUp();
        RegisterTrimmingWindow();
    }
    void load(int i, int w, int h, int seed = 0) {
        openImage(i, writeImage(sources, "img" + std::to_string(i) + "_" + std::to_string(w) + "x" +
                                             std::to_string(h) + "_" + std::to_string(seed) + ".bmp",
                                w, h, seed));
    }
    std::string settingsFile() const { return programFolder.file("Tarnel.ini"); }
    std::string workingCopy(int i) const {
        return ProcessTempFilePath(programFolder.path().string(), i == 0 ? "temp00.bmp" : "temp01.bmp");
    }
    uint32_t canvasPixel(int i, int x, int y) const { return window->images.P[size_t(i)].image().pixelValue(x, y); }
    static uint32_t canvasPixelOf(const SourceState& s, int x, int y) { return s.picture.bitmap->pixelValue(x, y); }
};

// ---------------------------------------------------------------- start-up

// A settings file that cannot be read is named once at start-up; the
// defaults apply, and it stays as it was.
TEST_F(EditorTest, UnreadableSettingsFileIsReportedAtStart) {
    std::ofstream(settingsFile()) << "[Section]\n行数= 9\n";
    fs::resize_file(settingsFile(), (uintmax_t(16) << 20) + 1);
    open();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text.rfind(kSettingsReadFailedMessage, 0), 0u) << dialogs.messages[0].text;
    EXPECT_NE(dialogs.messages[0].text.find(settingsFile()), std::string::npos);
    EXPECT_EQ(dialogs.messages[0].title, "Tarnel");
    EXPECT_EQ(window->VS_Gyo->value(), 5);
    EXPECT_EQ(fs::file_size(settingsFile()), (uintmax_t(16) << 20) + 1);
}

TEST_F(EditorTest, FirstStartShowsTheDefaults) {
    open();
    Tarnel_M& w = *window;
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(w.width(), 757);
    EXPECT_EQ(w.height(), 509);
    EXPECT_EQ(w.Pic_Base->geometry(), QRect(0, 20, 757, 489));
    EXPECT_EQ(w.VS_Frame->value(), 10);
    EXPECT_EQ(w.lbl_Frame->text(), "10");
    EXPECT_EQ(w.VS_Gyo->value(), 5);
    EXPECT_EQ(w.lbl_Gyo->text(), "5");
    EXPECT_EQ(w.VS_Retu->value(), 5);
    EXPECT_EQ(w.VS_Point->value(), 4);
    EXPECT_EQ(w.lbl_Point->text(), "4");
    EXPECT_EQ(w.VS_Repeat->value(), 5);
    EXPECT_EQ(w.lbl_Repeat->text(), "5回");
    EXPECT_EQ(w.txt_w->text(), "");
    EXPECT_EQ(w.txt_h->text(), "");
    EXPECT_EQ(w.lbl_C_ForeColor[0], RGBColor(255, 0, 0));
    EXPECT_EQ(w.lbl_C_ForeColor[1], RGBColor(0, 255, 0));
    EXPECT_EQ(w.Img_Kind[0]->pixmap().toImage(), Skin::get().optOn.toImage());
    EXPECT_EQ(w.Img_Kind[1]->pixmap().toImage(), Skin::get().optOff.toImage());
    EXPECT_EQ(w.Img_Trans->pixmap().toImage(), Skin::get().switchOff.toImage());
    EXPECT_EQ(w.lbl_Trans[0]->text(), "Off");
    EXPECT_EQ(w.lbl_Stretch[0]->text(), "100%");
    EXPECT_EQ(w.lbl_Size_S[0]->text(), "");
    EXPECT_FALSE(w.lbl_Size[0]->isVisible());
    EXPECT_FALSE(w.lbl_Size[1]->isVisible());
    EXPECT_FALSE(w.lbl_Prog->isVisible());
    EXPECT_FALSE(w.PicProgress->isVisible());
    EXPECT_TRUE(w.Cmd_Start->isVisible());
    EXPECT_EQ(Settings().ImageFolder, programFolder.path().string());
    EXPECT_EQ(Settings().SaveFolder, programFolder.path().string());
    EXPECT_EQ(Settings().FrameInterval, 100);
    EXPECT_EQ(Settings().AviRepeat[2], 5);
}

TEST_F(EditorTest, EnabledStateAtStartUp) {
    open();
    Tarnel_M& w = *window;
    std::vector<QWidget*> disabled = {w.Cmd_Start, w.Cmd_Douki, w.Cmd_C[0], w.Cmd_C[1], w.VS_Frame, w.VS_Gyo,
                                      w.VS_Retu,   w.VS_Point,  w.txt_w,    w.txt_h};
    for (int i = 0; i < 2; ++i)
        for (QWidget* c : std::initializer_list<QWidget*>{w.Cmd_Triming[size_t(i)], w.Cmd_Stretch[size_t(i)],
                                                           w.VS_Stretch[size_t(i)], w.Cmd_Reset[size_t(i)]})
            disabled.push_back(c);
    for (QWidget* c : disabled) EXPECT_FALSE(c->isEnabled()) << c->metaObject()->className();
    for (QWidget* c : std::initializer_list<QWidget*>{w.Cmd_Sanshyo[0], w.Cmd_Sanshyo[1], w.Cmd_Can, w.Cmd_End,
                                                       w.VS_Repeat, w.Img_Kind[0], w.Img_Trans})
        EXPECT_TRUE(c->isEnabled());
}

TEST_F(EditorTest, CaptionsRangesAndCursors) {
    open();
    Tarnel_M& w = *window;
    struct Caption {
        QPushButton* button;
        const char* text;
    } captions[] = {
        {w.Cmd_Sanshyo[0], "参照..."},   {w.Cmd_Triming[1], "ﾄﾘﾐﾝｸﾞ"},      {w.Cmd_Stretch[0], "縮小"},
        {w.Cmd_Reset[1], "ﾘｾｯﾄ"},        {w.Cmd_Douki, "ｻｲｽﾞの同期"},       {w.Cmd_C[0], "..."},
        {w.Cmd_Start, "ﾓｰﾌｨﾝｸﾞｽﾀｰﾄ"},    {w.Cmd_Can, "ｷｬﾝｾﾙ"},               {w.Cmd_Morph_View, "ﾓｰﾌｨﾝｸﾞﾋﾞｭｰｱ"},
        {w.Cmd_Avi, "AVI で保存"},       {w.Cmd_Avi_View, "AVI ﾋﾞｭｰｱ"},      {w.Cmd_AniGif, "ｱﾆﾒGifの作成"},
        {w.Cmd_End, "終了"},
    };
    for (const Caption& c : captions) {
        EXPECT_EQ(c.button->text(), QString::fromUtf8(c.text));
        EXPECT_EQ(c.button->cursor().shape(), Qt::BitmapCursor) << c.text;
    }
    EXPECT_EQ(w.lbl_C[0]->text(), "□");
    EXPECT_EQ(w.lbl_C[1]->text(), "○");
    EXPECT_EQ(w.lbl_Kind[2]->text(), "GIF");
    EXPECT_EQ(w.lbl_Trans[1]->text(), "透過処理");
    struct Range {
        Spinner* spinner;
        int min, max;
    } ranges[] = {{w.VS_Frame, 2, 100}, {w.VS_Gyo, 1, 40},  {w.VS_Retu, 1, 40},
                  {w.VS_Point, 1, 15},  {w.VS_Repeat, 1, 10}, {w.VS_Stretch[0], 10, 100}};
    for (const Range& r : ranges) {
        EXPECT_EQ(r.spinner->minimum(), r.min);
        EXPECT_EQ(r.spinner->maximum(), r.max);
        EXPECT_EQ(r.spinner->cursor().shape(), Qt::BitmapCursor);
        EXPECT_FALSE(r.spinner->setValue(r.max + 1));
    }
    EXPECT_EQ(w.ImgExit->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(w.Img_Kind[1]->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(w.HScroll[0]->cursor().shape(), Qt::BitmapCursor);
    // The views: 300 x 300 boxes with the bars along their edges.
    EXPECT_EQ(w.P[0]->size(), QSize(300, 300));
    EXPECT_EQ(w.VScroll[0]->geometry(), QRect(284, 0, 16, 284));
    EXPECT_EQ(w.HScroll[1]->geometry(), QRect(0, 284, 284, 16));
    EXPECT_EQ(w.Cmd_D[0]->geometry(), QRect(284, 284, 16, 16));
    EXPECT_FALSE(w.P[2]->isVisible());
}

TEST_F(EditorTest, StoredSettingsAreApplied) {
    std::ofstream(settingsFile()) << "[Section]\n総ﾌﾚｰﾑ数= 12\n行数= 8\n列数= 3\nﾗｲﾝの色= 16711680\n"
                                     "ﾄﾘﾐﾝｸﾞｻｲｽﾞ幅= 200\nﾄﾘﾐﾝｸﾞｻｲｽﾞ高さ= 100\nﾎﾟｲﾝﾀの大きさ= 7\n"
                                     "保存ﾌｧｲﾙの種類= 2\n透過処理= 1\nAVIﾘﾋﾟｰﾄ1= 9\n";
    open();
    Tarnel_M& w = *window;
    EXPECT_EQ(w.VS_Frame->value(), 13);
    EXPECT_EQ(w.lbl_Frame->text(), "13");
    EXPECT_EQ(Settings().TotalFrames, 12);
    EXPECT_EQ(w.VS_Gyo->value(), 8);
    EXPECT_EQ(w.VS_Retu->value(), 3);
    EXPECT_EQ(w.VS_Point->value(), 7);
    EXPECT_EQ(w.txt_w->text(), "200");
    EXPECT_EQ(w.txt_h->text(), "100");
    EXPECT_EQ(w.lbl_C_ForeColor[0], RGBColor(0, 0, 255));
    EXPECT_EQ(w.Img_Kind[2]->pixmap().toImage(), Skin::get().optOn.toImage());
    EXPECT_EQ(w.Img_Kind[0]->pixmap().toImage(), Skin::get().optOff.toImage());
    EXPECT_EQ(w.lbl_Trans[0]->text(), "On");
    EXPECT_EQ(w.lbl_Repeat->text(), "9回");
    // The initialising flag kept the grid spinners from building meshes.
    EXPECT_TRUE(w.mesh.StartMesh.empty());
    EXPECT_EQ(w.mesh.Rows, 8);
}

// ---------------------------------------------------------------- shutdown

TEST_F(EditorTest, EndCommandWritesTheFifteenKeys) {
    open();
    load(0, 40, 30);
    window->txt_w->setText("abc");
    QTest::mouseClick(window->Cmd_End, Qt::LeftButton);
    EXPECT_TRUE(window->unloaded());
    EXPECT_FALSE(window->isVisible());
    ASSERT_TRUE(fs::exists(settingsFile()));
    for (const char* key : kSettingsKeys) EXPECT_NE(ReadIniValue("Section", key, settingsFile()), "") << key;
    // Each number with its leading blank, as the file holds it.
    std::ifstream raw(settingsFile());
    std::string text((std::istreambuf_iterator<char>(raw)), std::istreambuf_iterator<char>());
    for (const char* line : {"総ﾌﾚｰﾑ数= 9\n", "行数= 5\n", "列数= 5\n", "ﾗｲﾝの色= 255\n", "ﾎﾟｲﾝﾀの色= 65280\n",
                             "ﾄﾘﾐﾝｸﾞｻｲｽﾞ幅= 0\n", "ﾎﾟｲﾝﾀの大きさ= 4\n", "保存ﾌｧｲﾙの種類= 0\n", "透過処理= 0\n",
                             "AVIﾘﾋﾟｰﾄ1= 5\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    EXPECT_EQ(text.rfind("[Section]", 0), 0u);
    EXPECT_EQ(ReadIniValue("Section", "画像ﾌｧｲﾙのﾊﾟｽ", settingsFile()), sources.path().string());
    EXPECT_FALSE(fs::exists(workingCopy(0)));
    // Exactly fifteen keys under one section.
    std::ifstream in(settingsFile());
    int lines = 0;
    for (std::string line; std::getline(in, line);)
        if (line.find('=') != std::string::npos) ++lines;
    EXPECT_EQ(lines, 15);
}

TEST_F(EditorTest, ExitImageClosesWithoutWritingAndDeletesWorkingCopies) {
    open();
    load(0, 40, 30);
    load(1, 40, 30);
    ASSERT_TRUE(fs::exists(workingCopy(0)));
    ASSERT_TRUE(fs::exists(workingCopy(1)));
    QTest::mouseClick(window->VS_Gyo, Qt::LeftButton, {}, QPoint(7, 4));  // rows 6, then lost
    EXPECT_EQ(window->VS_Gyo->value(), 6);
    QTest::mousePress(window->ImgExit, Qt::LeftButton);
    EXPECT_EQ(window->ImgExit->pixmap().toImage(), Skin::get().exitPressed.toImage());
    QTest::mouseRelease(window->ImgExit, Qt::LeftButton);
    EXPECT_TRUE(window->unloaded());
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(fs::exists(settingsFile()));
    EXPECT_FALSE(fs::exists(workingCopy(0)));
    EXPECT_FALSE(fs::exists(workingCopy(1)));
}

TEST_F(EditorTest, CancelWithoutRunEndsWithoutWriting) {
    open();
    QTest::mouseClick(window->Cmd_Can, Qt::LeftButton);
    EXPECT_TRUE(window->unloaded());
    EXPECT_FALSE(fs::exists(settingsFile()));
}

TEST_F(EditorTest, EscapeDoesNotCloseTheEditor) {
    open();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->unloaded());
}

// ---------------------------------------------------------------- options

TEST_F(EditorTest, TransparencyLabelTogglesLikeTheSwitch) {
    open();
    QTest::mouseClick(window->lbl_Trans[1], Qt::LeftButton);
    EXPECT_EQ(window->lbl_Trans[0]->text(), "On");
    EXPECT_EQ(Settings().Transparency, 1);
    EXPECT_EQ(window->Img_Trans->pixmap().toImage(), Skin::get().switchOn.toImage());
    QTest::mouseClick(window->Img_Trans, Qt::RightButton);
    EXPECT_EQ(window->lbl_Trans[0]->text(), "Off");
    EXPECT_EQ(Settings().Transparency, 0);
    QTest::mouseClick(window->lbl_Trans[0], Qt::LeftButton);
    EXPECT_EQ(Settings().Transparency, 1);
}

TEST_F(EditorTest, OutputKindByImageOrLabel) {
    open();
    QTest::mouseClick(window->lbl_Kind[1], Qt::LeftButton);
    EXPECT_EQ(Settings().SaveKind, 1);
    EXPECT_EQ(window->Img_Kind[1]->pixmap().toImage(), Skin::get().optOn.toImage());
    EXPECT_EQ(window->Img_Kind[0]->pixmap().toImage(), Skin::get().optOff.toImage());
    QTest::mouseClick(window->Img_Kind[2], Qt::MiddleButton);
    EXPECT_EQ(Settings().SaveKind, 2);
    EXPECT_EQ(window->Img_Kind[1]->pixmap().toImage(), Skin::get().optOff.toImage());
}

// PNG, the fourth kind, is the checkable last entry of the views' menu; the
// options show none chosen and the title names it until an option is chosen.
TEST_F(EditorTest, PngKindFromTheViewsMenu) {
    open();
    auto chooseLastMenuEntry = [&] {
        bool shown = false;
        QTimer::singleShot(0, window.get(), [&] {
            QWidget* menu = QApplication::activePopupWidget();
            shown = menu != nullptr;
            if (!menu) return;
            QTest::keyClick(menu, Qt::Key_Up);  // from no entry up to the last one
            QTest::keyClick(menu, Qt::Key_Return);
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), window->PicBack[0]->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(window->PicBack[0], &event);
        return shown;
    };
    const QImage on = Skin::get().optOn.toImage(), off = Skin::get().optOff.toImage();
    ASSERT_TRUE(chooseLastMenuEntry());
    EXPECT_EQ(Settings().SaveKind, 3);
    for (ClickLabel* k : window->Img_Kind) EXPECT_EQ(k->pixmap().toImage(), off);
    EXPECT_EQ(window->lbl_KindTitle->text(), QStringLiteral("保存ﾌｧｲﾙ  PNG"));
    ASSERT_TRUE(chooseLastMenuEntry());  // unchecked: back to BMP
    EXPECT_EQ(Settings().SaveKind, 0);
    EXPECT_EQ(window->Img_Kind[0]->pixmap().toImage(), on);
    ASSERT_TRUE(chooseLastMenuEntry());
    QTest::mouseClick(window->lbl_Kind[2], Qt::LeftButton);
    EXPECT_EQ(Settings().SaveKind, 2);
    EXPECT_EQ(window->lbl_KindTitle->text(), QStringLiteral("保存ﾌｧｲﾙ"));
}

TEST_F(EditorTest, FrameAndRepeatSpinners) {
    open();
    QTest::mouseClick(window->VS_Repeat, Qt::LeftButton, {}, QPoint(7, 15));  // down arrow
    EXPECT_EQ(window->lbl_Repeat->text(), "4回");
    EXPECT_EQ(Settings().AviRepeat[1], 4);
    load(0, 40, 30);
    QTest::mouseClick(window->VS_Frame, Qt::LeftButton, {}, QPoint(7, 4));
    EXPECT_EQ(window->lbl_Frame->text(), "11");
    EXPECT_EQ(Settings().TotalFrames, 10);
}

TEST_F(EditorTest, ColourChoiceRedrawsBothMeshes) {
    open();
    load(0, 100, 100);
    load(1, 100, 100);
    // Point (1, 1) sits at (0, 0); its marker passes (4, 0).
    EXPECT_EQ(canvasPixel(0, 4, 0), px(RGBColor(0, 255, 0)));
    dialogs.colorAnswers.push_back(RGBColor(10, 20, 30));
    QTest::mouseClick(window->Cmd_C[1], Qt::LeftButton);
    EXPECT_EQ(window->lbl_C_ForeColor[1], RGBColor(10, 20, 30));
    EXPECT_EQ(window->lbl_C[1]->palette().color(QPalette::WindowText), QColor(10, 20, 30));
    EXPECT_EQ(Settings().PointerColor, RGBColor(10, 20, 30));
    EXPECT_EQ(canvasPixel(0, 4, 0), px(RGBColor(10, 20, 30)));
    EXPECT_EQ(canvasPixel(1, 4, 0), px(RGBColor(10, 20, 30)));
    // Cancelled: nothing changes.
    dialogs.colorAnswers.push_back(std::nullopt);
    QTest::mouseClick(window->Cmd_C[0], Qt::LeftButton);
    EXPECT_EQ(window->lbl_C_ForeColor[0], RGBColor(255, 0, 0));
    EXPECT_EQ(canvasPixel(0, 0, 50), px(RGBColor(255, 0, 0)));
}

TEST_F(EditorTest, GridChangeResetsBothMeshesMarkerSizeOnlyRedraws) {
    open();
    load(0, 100, 100);
    load(1, 100, 100);
    window->mesh.StartMesh(2, 2) = {33, 44};
    QTest::mouseClick(window->VS_Point, Qt::LeftButton, {}, QPoint(7, 4));
    EXPECT_EQ(Settings().PointerSize, 5);
    EXPECT_EQ(window->mesh.StartMesh(2, 2), (MeshPoint{33, 44}));
    QTest::mouseClick(window->VS_Retu, Qt::LeftButton, {}, QPoint(7, 15));
    EXPECT_EQ(Settings().Columns, 4);
    EXPECT_EQ(window->mesh.StartMesh.columns(), 4);
    EXPECT_EQ(window->mesh.StartMesh(2, 2), (MeshPoint{20, 25}));
}

// ---------------------------------------------------------------- undo, session, drop

TEST_F(EditorTest, UndoAndRedoCoverDragsGridChangesAndImageCommands) {
    open();
    load(0, 100, 100);
    load(1, 100, 100);
    Tarnel_M& w = *window;
    auto undo = [&] { QTest::keyClick(&w, Qt::Key_Z, Qt::ControlModifier); };
    auto redo = [&] { QTest::keyClick(&w, Qt::Key_Y, Qt::ControlModifier); };
    QTest::mousePress(w.P[0], Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseMove(w.P[0], QPoint(50, 45));
    QTest::mouseRelease(w.P[0], Qt::LeftButton, {}, QPoint(50, 45));
    QTest::mouseClick(w.VS_Retu, Qt::LeftButton, {}, QPoint(7, 15));  // 5 -> 4 columns
    w.VS_Stretch[0]->setValue(50);
    w.Cmd_Stretch_Click(0);
    ASSERT_EQ(w.images.P[0].scaleWidth(), 50);
    ASSERT_EQ(w.history.undoCount(), 5u);  // two loads, the drag, the grid, the reduction

    undo();
    EXPECT_EQ(w.images.P[0].scaleWidth(), 100);
    EXPECT_EQ(w.lbl_Size[0]->text(), "100 * 100");
    EXPECT_EQ(w.P[0]->size(), QSize(100, 100));
    undo();
    EXPECT_EQ(w.mesh.Columns, 5);
    EXPECT_EQ(w.lbl_Retu->text(), "5");
    EXPECT_EQ(w.mesh.StartMesh(2, 2), (MeshPoint{50, 45}));
    undo();
    EXPECT_EQ(w.mesh.StartMesh(2, 2), (MeshPoint{20, 20}));
    EXPECT_EQ(canvasPixel(0, 24, 20), px(RGBColor(0, 255, 0)));  // redrawn where it was
    undo();
    EXPECT_FALSE(w.images.loaded(1));
    EXPECT_FALSE(w.Cmd_Start->isEnabled());
    EXPECT_TRUE(w.mesh.EndMesh.empty());
    EXPECT_EQ(canvasPixel(1, 0, 0), px(RGBColor(255, 255, 255)));  // no mesh on the empty view

    redo();
    redo();
    redo();
    EXPECT_TRUE(w.Cmd_Start->isEnabled());
    EXPECT_EQ(w.mesh.Columns, 4);
    EXPECT_EQ(w.mesh.StartMesh.columns(), 4);
    redo();
    EXPECT_EQ(w.images.P[0].scaleWidth(), 50);
    StdPicture copy;
    ASSERT_TRUE(LoadPicture(workingCopy(0), copy));
    EXPECT_EQ(copy.width(), 100);  // reductions still start from the loaded image
    EXPECT_FALSE(w.history.canRedo());
}

TEST_F(EditorTest, SessionComesBackAfterCancelButNotAfterEnd) {
    open();
    load(0, 120, 90);
    load(1, 120, 90);
    window->flushSession();  // written on a worker while the editing goes on
    window->P_MouseDown(0, 1, 0, 24, 18);
    window->P_MouseMove(0, 1, 0, 40, 33);
    window->P_MouseUp(0, 1, 0, 40, 33);
    const EditorState edited = window->captureState();
    window->Cmd_Can_Click();
    window.reset();

    open();
    dialogs.messages.clear();
    ASSERT_TRUE(window->OfferSessionRestore());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, kRestoreSessionQuestion);
    EXPECT_EQ(dialogs.messages[0].buttons, MsgButtons::YesNo);
    EXPECT_TRUE(window->captureState().sameMeshes(edited));
    EXPECT_EQ(window->images.ImagePath, (std::array{edited.sources[0]->path, edited.sources[1]->path}));
    EXPECT_EQ(canvasPixel(1, 50, 40), canvasPixelOf(*edited.sources[1], 50, 40));
    EXPECT_TRUE(window->Cmd_Start->isEnabled());
    EXPECT_EQ(window->lbl_Size[1]->text(), "120 * 90");

    window->Cmd_End_Click();
    window.reset();
    open();
    dialogs.messages.clear();
    EXPECT_FALSE(window->OfferSessionRestore());
    EXPECT_TRUE(dialogs.messages.empty());
}

// Sessions left by ended editors are offered newest first: a no drops that
// one and the next is offered. A running editor's session is never offered.
TEST_F(EditorTest, SessionsOfEndedEditorsAreOfferedNewestFirst) {
    open();
    load(0, 60, 40, 1);
    load(1, 60, 40, 2);
    const EditorState older = window->captureState();
    load(0, 50, 30, 3);
    const EditorState newer = window->captureState();
    window->Cmd_End_Click();
    window.reset();

    const std::string folder = programFolder.path().string();
    std::string error, olderFile, newerFile;
    for (auto [state, file] : {std::pair{&older, &olderFile}, {&newer, &newerFile}}) {
        EditorSession ended(folder);
        ASSERT_TRUE(ended.Save(*state, error)) << error;
        *file = ended.jsonPath();
    }
    fs::last_write_time(olderFile, fs::last_write_time(newerFile) - std::chrono::hours(1));
    EditorSession running(folder);
    ASSERT_TRUE(running.Save(newer, error)) << error;

    open();
    dialogs.messages.clear();
    dialogs.answers = {MsgResult::No, MsgResult::Yes};
    ASSERT_TRUE(window->OfferSessionRestore());
    EXPECT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(window->images.ImagePath, (std::array{older.sources[0]->path, older.sources[1]->path}));
    EXPECT_FALSE(fs::exists(newerFile));
    EXPECT_TRUE(running.Exists());
    window->Cmd_End_Click();
    window.reset();
    EXPECT_FALSE(fs::exists(olderFile));
    EXPECT_TRUE(running.Exists());
}

// A project saved with a reduced start image reopens as it was and runs from
// the command line to the same frames as the editor's run.
TEST_F(EditorTest, ProjectSavedReopenedAndRunFromTheCommandLine) {
    const std::string cli = test::CliPath();
    if (cli.empty()) GTEST_SKIP() << "tarnel-cli is not built";
    open();
    load(0, 80, 60, 1);
    load(1, 40, 30, 2);
    Tarnel_M& w = *window;
    w.VS_Stretch[0]->setValue(50);
    w.Cmd_Stretch_Click(0);
    w.P_MouseDown(0, 1, 0, 8, 6);
    w.P_MouseMove(0, 1, 0, 13, 9);
    w.P_MouseUp(0, 1, 0, 13, 9);
    w.VS_Frame->setValue(4);
    w.Img_Kind_MouseDown(0);
    const std::string project = sources.file("プロジェクト.json");
    ASSERT_TRUE(w.SaveProject(project));
    EXPECT_TRUE(fs::exists(sources.file("プロジェクト.start.bmp")));  // the reduced image goes beside it
    const EditorState saved = w.captureState();
    QTest::mouseClick(w.Cmd_Start, Qt::LeftButton);
    ASSERT_TRUE(w.lastRun().ok());
    const fs::path guiFrames = frameFolders(programFolder.path()).at(0);

    // Another picture and grid, then the project again.
    load(1, 50, 50, 3);
    QTest::mouseClick(w.VS_Retu, Qt::LeftButton, {}, QPoint(7, 15));
    ASSERT_TRUE(w.OpenProject(project));
    EXPECT_TRUE(w.captureState().sameMeshes(saved));
    EXPECT_EQ(w.images.P[0].scaleWidth(), 40);
    EXPECT_EQ(w.images.P[1].scaleWidth(), 40);
    EXPECT_EQ(w.VS_Frame->value(), 4);
    w.Undo();  // opening is one step
    EXPECT_EQ(w.images.P[1].scaleWidth(), 50);

    TempDir out;
    test::CliResult r = test::RunCli(cli, "morph --mesh " + test::ShellQuote(project) + " --out " +
                                              test::ShellQuote(out.path().string()), out.path().string());
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<fs::path> cliFolders;
    for (const auto& e : fs::directory_iterator(out.path()))
        if (e.is_directory()) cliFolders.push_back(e.path());
    ASSERT_EQ(cliFolders.size(), 1u);
    for (const char* f : {"000.bmp", "001.bmp", "002.bmp", "003.bmp"}) {
        std::ifstream a(guiFrames / f, std::ios::binary), b(cliFolders[0] / f, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(a), {}), std::string(std::istreambuf_iterator<char>(b), {}))
            << f;
    }
    EXPECT_FALSE(fs::exists(cliFolders[0] / "004.bmp"));

    // A project whose image has changed size since is refused with both sizes.
    writeImage(sources, "img1_40x30_2.bmp", 44, 30, 2);
    dialogs.messages.clear();
    EXPECT_FALSE(w.OpenProject(project));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].text.find("ｴﾝﾄﾞ ｲﾒｰｼﾞ： ﾌﾟﾛｼﾞｪｸﾄ 40 * 30、画像 44 * 30"), std::string::npos)
        << dialogs.messages[0].text;
}

TEST_F(EditorTest, DroppedFileLoadsIntoTheView) {
    open();
    const std::string path = writeImage(sources, "dropped.bmp", 70, 50, 3);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window->PicBack[1], &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window->PicBack[1], &drop);
    EXPECT_TRUE(drop.isAccepted());
    QCoreApplication::processEvents();
    ASSERT_TRUE(window->images.loaded(1));
    EXPECT_EQ(window->images.ImagePath[1], path);
    EXPECT_EQ(window->P[1]->size(), QSize(70, 50));
    EXPECT_EQ(window->lbl_Size[1]->text(), "70 * 50");
}

// ---------------------------------------------------------------- images

TEST_F(EditorTest, CancelledLoadChangesNothing) {
    open();
    const std::string folderBefore = Settings().ImageFolder;
    dialogs.openAnswers.push_back(std::nullopt);
    QTest::mouseClick(window->Cmd_Sanshyo[0], Qt::LeftButton);
    EXPECT_EQ(Settings().ImageFolder, folderBefore);
    EXPECT_FALSE(window->Cmd_Triming[0]->isEnabled());
    EXPECT_FALSE(fs::exists(workingCopy(0)));
}

TEST_F(EditorTest, LoadingTheStartImageOnly) {
    open();
    load(0, 200, 100);
    Tarnel_M& w = *window;
    EXPECT_EQ(w.lbl_Size[0]->text(), "200 * 100");
    EXPECT_TRUE(w.lbl_Size[0]->isVisible());
    EXPECT_EQ(w.lbl_Size_S[0]->text(), "200 * 100");
    EXPECT_EQ(w.P[0]->size(), QSize(200, 100));
    EXPECT_EQ(w.Pic_Pre->size(), QSize(100, 50));
    EXPECT_TRUE(fs::exists(workingCopy(0)));
    for (QWidget* c : std::initializer_list<QWidget*>{w.Cmd_Triming[0], w.Cmd_Stretch[0], w.VS_Stretch[0], w.Cmd_Reset[0],
                                                       w.VS_Frame, w.VS_Gyo, w.VS_Retu, w.Cmd_C[0], w.Cmd_C[1], w.txt_w,
                                                       w.txt_h, w.VS_Point})
        EXPECT_TRUE(c->isEnabled());
    EXPECT_FALSE(w.Cmd_Start->isEnabled());
    EXPECT_FALSE(w.Cmd_Douki->isEnabled());
    EXPECT_FALSE(w.Cmd_Triming[1]->isEnabled());
    // The mesh is drawn: the left border line in red, its markers in green.
    EXPECT_EQ(canvasPixel(0, 0, 50), px(RGBColor(255, 0, 0)));
    EXPECT_EQ(canvasPixel(0, 4, 0), px(RGBColor(0, 255, 0)));
    EXPECT_FALSE(w.HScroll[0]->isVisible());
    EXPECT_FALSE(w.Cmd_D[0]->isVisible());
}

TEST_F(EditorTest, LoadingBothEnablesRunAndSynchronise) {
    open();
    load(0, 60, 40);
    load(1, 60, 40);
    EXPECT_TRUE(window->Cmd_Start->isEnabled());
    EXPECT_TRUE(window->Cmd_Douki->isEnabled());
    EXPECT_EQ(window->P[0]->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(window->P[1]->cursor().shape(), Qt::BitmapCursor);
}

// No button is a default button: Enter in a size box, after a reset or on
// a focused button opens nothing and changes no image.
TEST_F(EditorTest, EnterPressesNoButton) {
    open();
    load(0, 80, 60);
    load(1, 80, 60);
    const size_t dialogsBefore = dialogs.fileRequests.size();
    for (QLineEdit* box : {window->txt_w, window->txt_h}) {
        box->setFocus();
        QTest::keyClicks(box, "40");
        QTest::keyClick(box, Qt::Key_Return);
        QTest::keyClick(box, Qt::Key_Enter);
        EXPECT_EQ(box->selectedText(), box->text());
    }
    QTest::mouseClick(window->Cmd_Reset[0], Qt::LeftButton);
    window->Cmd_Reset[0]->setFocus();
    QTest::keyClick(window->Cmd_Reset[0], Qt::Key_Return);
    QTest::keyClick(window.get(), Qt::Key_Return);
    EXPECT_EQ(dialogs.fileRequests.size(), dialogsBefore);
    EXPECT_TRUE(dialogs.messages.empty());
    for (QPushButton* b : window->findChildren<QPushButton*>()) EXPECT_FALSE(b->autoDefault() || b->isDefault());
}

TEST_F(EditorTest, UndecodableFileShowsItsNameAndKeepsThePicture) {
    open();
    load(1, 80, 60);
    std::string bad = sources.file("bad.gif");
    std::ofstream(bad) << "GIF89a but not really";
    dialogs.openAnswers.push_back(bad);
    QTest::mouseClick(window->Cmd_Sanshyo[1], Qt::LeftButton);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].text.find(bad), std::string::npos);
    EXPECT_EQ(dialogs.messages[0].title, "Tarnel");
    EXPECT_EQ(window->P[1]->size(), QSize(80, 60));
    EXPECT_EQ(window->lbl_Size[1]->text(), "80 * 60");
}

TEST_F(EditorTest, LargeImageGetsScrollBars) {
    open();
    load(0, 640, 480);
    Tarnel_M& w = *window;
    EXPECT_TRUE(w.HScroll[0]->isVisible());
    EXPECT_TRUE(w.VScroll[0]->isVisible());
    EXPECT_TRUE(w.Cmd_D[0]->isVisible());
    EXPECT_EQ(w.HScroll[0]->maximum(), 356);
    EXPECT_EQ(w.VScroll[0]->maximum(), 196);
    w.HScroll[0]->setValue(100);
    w.VScroll[0]->setValue(50);
    EXPECT_EQ(w.P[0]->pos(), QPoint(-100, -50));
    // A small image afterwards sits at the corner again, without bars.
    load(0, 320, 200);
    EXPECT_TRUE(w.HScroll[0]->isVisible());
    EXPECT_FALSE(w.VScroll[0]->isVisible());
    EXPECT_EQ(w.HScroll[0]->maximum(), 20);
    EXPECT_EQ(w.P[0]->pos(), QPoint(0, 0));
    load(0, 100, 100);
    EXPECT_FALSE(w.HScroll[0]->isVisible());
    EXPECT_FALSE(w.Cmd_D[0]->isVisible());
}

TEST_F(EditorTest, ReduceAndReset) {
    open();
    load(0, 400, 300);
    Tarnel_M& w = *window;
    for (int k = 0; k < 5; ++k) QTest::mouseClick(w.VS_Stretch[0], Qt::LeftButton, {}, QPoint(7, 15));
    EXPECT_EQ(w.VS_Stretch[0]->value(), 95);
    w.VS_Stretch[0]->setValue(50);
    EXPECT_EQ(w.lbl_Stretch[0]->text(), "50%");
    EXPECT_EQ(w.lbl_Size_S[0]->text(), "200 * 150");
    QTest::mouseClick(w.Cmd_Stretch[0], Qt::LeftButton);
    EXPECT_EQ(w.P[0]->size(), QSize(200, 150));
    EXPECT_EQ(w.lbl_Size[0]->text(), "200 * 150");
    EXPECT_FALSE(w.HScroll[0]->isVisible());
    QTest::mouseClick(w.Cmd_Stretch[0], Qt::LeftButton);
    EXPECT_EQ(w.P[0]->size(), QSize(200, 150));
    EXPECT_EQ(w.mesh.StartMesh(6, 6), (MeshPoint{200, 150}));
    QTest::mouseClick(w.Cmd_Reset[0], Qt::LeftButton);
    EXPECT_EQ(w.P[0]->size(), QSize(400, 300));
    EXPECT_EQ(w.VS_Stretch[0]->value(), 100);
    EXPECT_EQ(w.lbl_Size[0]->text(), "400 * 300");
    EXPECT_EQ(w.lbl_Size_S[0]->text(), "400 * 300");
}

TEST_F(EditorTest, SynchroniseSizes) {
    open();
    load(0, 640, 480);
    load(1, 320, 400, 9);
    Tarnel_M& w = *window;
    w.mesh.EndMesh(2, 2) = {1, 2};
    QTest::mouseClick(w.Cmd_Douki, Qt::LeftButton);
    EXPECT_EQ(w.P[0]->size(), QSize(320, 400));
    EXPECT_EQ(w.P[1]->size(), QSize(320, 400));
    EXPECT_EQ(w.lbl_Size[0]->text(), "320 * 400");
    EXPECT_EQ(w.lbl_Size[1]->text(), "320 * 400");
    EXPECT_EQ(w.lbl_Size_S[0]->text(), "640 * 480");
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(w.Cmd_Triming[size_t(i)]->isEnabled());
        EXPECT_FALSE(w.Cmd_Stretch[size_t(i)]->isEnabled());
        EXPECT_FALSE(w.VS_Stretch[size_t(i)]->isEnabled());
        EXPECT_TRUE(w.Cmd_Reset[size_t(i)]->isEnabled());
    }
    // The end image kept its size, so its mesh kept its edit.
    EXPECT_EQ(w.mesh.EndMesh(2, 2), (MeshPoint{1, 2}));
    EXPECT_EQ(w.Pic_Pre->size(), QSize(80, 100));
    QTest::mouseClick(w.Cmd_Reset[0], Qt::LeftButton);
    EXPECT_TRUE(w.Cmd_Triming[0]->isEnabled());
    EXPECT_FALSE(w.Cmd_Triming[1]->isEnabled());
}

// ---------------------------------------------------------------- trimming

TEST_F(EditorTest, TrimmingMessages) {
    open();
    QTest::mouseClick(window->Cmd_Sanshyo[0], Qt::LeftButton);  // cancelled: nothing loaded
    load(0, 640, 480);
    window->Cmd_Triming_Click(1);  // disabled button; the handler still checks
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "ﾄﾘﾐﾝｸﾞのｻｲｽﾞを入力してください");
    window->txt_w->setText("200");
    window->txt_h->setText("100");
    window->Cmd_Triming_Click(1);
    EXPECT_EQ(dialogs.messages.back().text, "ﾄﾘﾐﾝｸﾞの画像をﾛｰﾄﾞしてください");
    window->txt_w->setText("700");
    QTest::mouseClick(window->Cmd_Triming[0], Qt::LeftButton);
    EXPECT_EQ(dialogs.messages.back().text, "ﾄﾘﾐﾝｸﾞのｻｲｽﾞ幅(Max) = 640");
    EXPECT_EQ(dialogs.messages.back().icon, MsgIcon::Information);
    window->txt_w->setText("0");
    QTest::mouseClick(window->Cmd_Triming[0], Qt::LeftButton);
    EXPECT_EQ(dialogs.messages.back().text, "ﾄﾘﾐﾝｸﾞのｻｲｽﾞを入力してください");
    EXPECT_EQ(dialogs.messages.size(), 4u);
}

// Runs `act` on the trimming window once it is shown modally.
void whenTrimmingOpens(std::function<void(Tarnel_T&)> act) {
    QTimer::singleShot(0, [act] {
        auto* t = qobject_cast<Tarnel_T*>(QApplication::activeModalWidget());
        ASSERT_NE(t, nullptr);
        act(*t);
    });
}

TEST_F(EditorTest, TrimmingWithOkCutsTheRectangle) {
    open();
    load(0, 640, 480, 3);
    window->txt_w->setText("200");
    window->txt_h->setText("100");
    whenTrimmingOpens([](Tarnel_T& t) {
        EXPECT_EQ(t.lbl[0]->text(), "ﾄﾘﾐﾝｸﾞのｻｲｽﾞ： 200 * 100");
        QTest::mouseClick(t.Cmd_End, Qt::LeftButton);
    });
    QTest::mouseClick(window->Cmd_Triming[0], Qt::LeftButton);
    EXPECT_TRUE(Links().TrimAccepted);
    EXPECT_EQ(Links().TrimTarget, 0);
    EXPECT_EQ(window->P[0]->size(), QSize(200, 100));
    EXPECT_EQ(window->lbl_Size[0]->text(), "200 * 100");
    EXPECT_EQ(window->Pic_Pre->size(), QSize(100, 50));
    EXPECT_EQ(window->images.P[0].picture().bitmap->pixelValue(0, 1), patternAt(80, 131, 3));
    EXPECT_EQ(window->images.P[0].picture().bitmap->pixelValue(199, 99), patternAt(279, 229, 3));
    StdPicture copy;
    ASSERT_TRUE(LoadPicture(workingCopy(0), copy));
    EXPECT_EQ(copy.width(), 200);
    EXPECT_EQ(window->mesh.StartMesh(6, 6), (MeshPoint{200, 100}));
}

TEST_F(EditorTest, TrimmingAfterDraggingTheImage) {
    open();
    load(1, 640, 480, 5);
    window->txt_w->setText("200");
    window->txt_h->setText("100");
    whenTrimmingOpens([](Tarnel_T& t) {
        QTest::mousePress(t.P, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseMove(t.P, QPoint(25, 15));
        QTest::mouseMove(t.P, QPoint(10 + 30, 10 + 10) - QPoint(15, 5));  // P has moved by (15, 5) already
        QTest::mouseRelease(t.P, Qt::LeftButton, {}, QPoint(25, 15));
        EXPECT_EQ(t.P->pos(), QPoint(30, 10));
        t.Cmd_End_Click();
    });
    window->Cmd_Triming_Click(1);
    EXPECT_EQ(window->images.P[1].picture().bitmap->pixelValue(0, 0), patternAt(50, 120, 5));
}

TEST_F(EditorTest, TrimmingCancelledOrClosedChangesNothing) {
    open();
    load(0, 320, 240);
    window->txt_w->setText("100");
    window->txt_h->setText("100");
    whenTrimmingOpens([](Tarnel_T& t) { QTest::mouseClick(t.Cmd_Can, Qt::LeftButton); });
    window->Cmd_Triming_Click(0);
    EXPECT_FALSE(Links().TrimAccepted);
    EXPECT_EQ(window->P[0]->size(), QSize(320, 240));
    whenTrimmingOpens([](Tarnel_T& t) {
        QTest::mousePress(t.ImgExit, Qt::LeftButton);
        QTest::mouseRelease(t.ImgExit, Qt::LeftButton);
    });
    window->Cmd_Triming_Click(0);
    EXPECT_FALSE(Links().TrimAccepted);
    EXPECT_EQ(window->lbl_Size[0]->text(), "320 * 240");
    StdPicture copy;
    ASSERT_TRUE(LoadPicture(workingCopy(0), copy));
    EXPECT_EQ(copy.width(), 320);
}

// ---------------------------------------------------------------- meshes

TEST_F(EditorTest, GrabbingNeedsBothImages) {
    open();
    load(0, 100, 100);
    QTest::mousePress(window->P[0], Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_FALSE(window->meshEditor.dragging());
    QTest::mouseRelease(window->P[0], Qt::LeftButton, {}, QPoint(20, 20));
}

TEST_F(EditorTest, GrabAndDragAPointWithThePartnerMarked) {
    open();
    load(0, 100, 100);
    load(1, 100, 100);
    Tarnel_M& w = *window;
    // Point (2, 2) of the 5 x 5 grid sits at (20, 20); 3 pixels away still grabs it.
    QTest::mousePress(w.P[0], Qt::LeftButton, {}, QPoint(23, 20));
    ASSERT_TRUE(w.meshEditor.dragging());
    EXPECT_EQ(w.meshEditor.selectedI(), 2);
    EXPECT_EQ(w.meshEditor.selectedJ(), 2);
    // The partner: a ring in the pointer colour edged in black, beyond its own marker.
    EXPECT_EQ(canvasPixel(1, 24, 20), px(RGBColor(0, 255, 0)));
    EXPECT_EQ(canvasPixel(1, 25, 20), px(RGBColor(0, 0, 0)));
    EXPECT_EQ(canvasPixel(1, 26, 20), px(RGBColor(0, 255, 0)));
    QTest::mouseMove(w.P[0], QPoint(50, 45));
    EXPECT_EQ(w.mesh.StartMesh(2, 2), (MeshPoint{50, 45}));
    EXPECT_EQ(canvasPixel(0, 54, 45), px(RGBColor(0, 255, 0)));
    EXPECT_NE(canvasPixel(0, 24, 20), px(RGBColor(0, 255, 0)));
    QTest::mouseRelease(w.P[0], Qt::LeftButton, {}, QPoint(50, 45));
    EXPECT_FALSE(w.meshEditor.dragging());
    QTest::mouseMove(w.P[0], QPoint(60, 60));
    EXPECT_EQ(w.mesh.StartMesh(2, 2), (MeshPoint{50, 45}));
    EXPECT_EQ(w.mesh.EndMesh(2, 2), (MeshPoint{20, 20}));
}

TEST_F(EditorTest, DragBoundsAndOtherButtons) {
    open();
    load(0, 100, 100);
    load(1, 100, 100);
    Tarnel_M& w = *window;
    // A press exactly 4 pixels away does not grab.
    QTest::mousePress(w.P[1], Qt::LeftButton, {}, QPoint(44, 40));
    EXPECT_FALSE(w.meshEditor.dragging());
    QTest::mouseRelease(w.P[1], Qt::LeftButton, {}, QPoint(44, 40));
    QTest::mousePress(w.P[1], Qt::RightButton, {}, QPoint(40, 40));
    EXPECT_FALSE(w.meshEditor.dragging());
    QTest::mouseRelease(w.P[1], Qt::RightButton, {}, QPoint(40, 40));
    // Dragging past the left edge keeps x at the last position inside.
    w.P_MouseDown(1, 1, 0, 40, 40);
    ASSERT_TRUE(w.meshEditor.dragging());
    w.P_MouseMove(1, 1, 0, 5, 42);
    w.P_MouseMove(1, 1, 0, -8, 47);
    EXPECT_EQ(w.mesh.EndMesh(3, 3), (MeshPoint{5, 47}));
    w.P_MouseMove(1, 3, 0, 30, 30);  // left and right held
    EXPECT_EQ(w.mesh.EndMesh(3, 3), (MeshPoint{5, 47}));
}

// ---------------------------------------------------------------- the run

TEST_F(EditorTest, DifferentSizesRefuseTheRun) {
    open();
    load(0, 300, 200);
    load(1, 300, 201);
    QTest::mouseClick(window->Cmd_Start, Qt::LeftButton);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "ｽﾀｰﾄとｴﾝﾄﾞの画像ｻｲｽﾞが異なります！");
    EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::Information);
    EXPECT_EQ(dialogs.messages[0].title, "Tarnel");
    EXPECT_TRUE(frameFolders(programFolder.path()).empty());
    EXPECT_TRUE(window->Cmd_Start->isVisible());
}

TEST_F(EditorTest, RunWritesEveryFrameAndReturnsToIdle) {
    open();
    load(0, 60, 40, 1);
    load(1, 60, 40, 2);
    Tarnel_M& w = *window;
    w.VS_Frame->setValue(3);  // frames 000..002
    std::vector<std::string> progress;
    std::vector<bool> locked;
    w.onFrameYield = [&](int, int) {
        progress.push_back(w.lbl_Prog->text().toStdString());
        locked.push_back(!w.Cmd_Sanshyo[0]->isEnabled() && !w.VS_Gyo->isEnabled() && !w.Cmd_Douki->isEnabled() &&
                         !w.Cmd_Reset[1]->isEnabled());
        EXPECT_TRUE(w.PicProgress->isVisible());
        EXPECT_FALSE(w.Cmd_Start->isVisible());
        EXPECT_NE(QGuiApplication::overrideCursor(), nullptr);
    };
    QTest::mouseClick(w.Cmd_Start, Qt::LeftButton);
    EXPECT_EQ(progress, (std::vector<std::string>{"1/3", "2/3", "3/3"}));
    EXPECT_EQ(locked, (std::vector<bool>{true, true, true}));
    ASSERT_TRUE(w.lastRun().ok());
    std::vector<fs::path> folders = frameFolders(programFolder.path());
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(Settings().SaveFolder, folders[0].string());
    for (const char* f : {"000.bmp", "001.bmp", "002.bmp"}) EXPECT_TRUE(fs::exists(folders[0] / f)) << f;
    EXPECT_FALSE(fs::exists(folders[0] / "003.bmp"));
    // Frame 000 is the start image, the last frame the end image.
    StdPicture first, last;
    ASSERT_TRUE(LoadPicture((folders[0] / "000.bmp").string(), first));
    ASSERT_TRUE(LoadPicture((folders[0] / "002.bmp").string(), last));
    EXPECT_EQ(first.bitmap->pixelValue(17, 9) & 0xFFFFFF, patternAt(17, 9, 1));
    EXPECT_EQ(last.bitmap->pixelValue(33, 21) & 0xFFFFFF, patternAt(33, 21, 2));
    // Idle again.
    EXPECT_FALSE(w.running());
    EXPECT_TRUE(w.Cmd_Start->isVisible());
    EXPECT_FALSE(w.PicProgress->isVisible());
    EXPECT_FALSE(w.lbl_Prog->isVisible());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(w.Cmd_Sanshyo[0]->isEnabled());
    EXPECT_TRUE(w.VS_Gyo->isEnabled());
    EXPECT_EQ(canvasPixel(0, 6, 0), px(RGBColor(255, 0, 0)));  // meshes drawn again
    // The progress box was filled in three steps and cleared at the end.
    EXPECT_EQ(w.progressBox.image().pixelValue(w.progressBox.scaleWidth() - 1, 5),
              px(w.progressBox.backColor));
    EXPECT_FALSE(w.unloaded());
}

TEST_F(EditorTest, ProgressFillsInEqualSteps) {
    open();
    load(0, 30, 20);
    load(1, 30, 20);
    Tarnel_M& w = *window;
    w.VS_Frame->setValue(2);
    std::vector<int> filled;
    w.onFrameYield = [&](int, int) {
        const Bitmap& bar = w.progressBox.image();
        int n = 0;
        while (n < bar.width() && bar.pixelValue(n, 3) != px(w.progressBox.backColor)) ++n;
        filled.push_back(n);
    };
    w.Cmd_Start_Click();
    const int width = w.progressBox.scaleWidth();
    ASSERT_EQ(filled.size(), 2u);
    EXPECT_EQ(filled[0], int(std::nearbyint(width / 2.0)));
    EXPECT_EQ(filled[1], width);
}

TEST_F(EditorTest, CancelDuringTheRunEndsTheProgramBetweenFrames) {
    open();
    load(0, 40, 30);
    load(1, 40, 30);
    Tarnel_M& w = *window;
    int yields = 0;
    w.onFrameYield = [&](int k, int) {
        ++yields;
        if (k == 1) QTest::mouseClick(w.Cmd_Can, Qt::LeftButton);
    };
    QTest::mouseClick(w.Cmd_Start, Qt::LeftButton);
    EXPECT_EQ(yields, 2);
    EXPECT_EQ(w.lastRun().status, MorphRunResult::Status::Cancelled);
    EXPECT_TRUE(w.unloaded());
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(fs::exists(settingsFile()));
    EXPECT_FALSE(fs::exists(workingCopy(0)));
    std::vector<fs::path> folders = frameFolders(programFolder.path());
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_TRUE(fs::exists(folders[0] / "001.bmp"));
    EXPECT_FALSE(fs::exists(folders[0] / "002.bmp"));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(EditorTest, EndCommandDuringTheRunSavesThenEnds) {
    open();
    load(0, 40, 30);
    load(1, 40, 30);
    Tarnel_M& w = *window;
    w.onFrameYield = [&](int k, int) {
        if (k == 0) w.Cmd_End_Click();
    };
    w.Cmd_Start_Click();
    EXPECT_TRUE(w.unloaded());
    EXPECT_TRUE(fs::exists(settingsFile()));
    EXPECT_EQ(ReadIniValue("Section", "画像保存のﾊﾟｽ", settingsFile()), w.lastRun().folder);
}

TEST_F(EditorTest, FailedRunRestoresTheWindowAndNamesTheCause) {
    open();
    load(0, 40, 30);
    load(1, 40, 30);
    Tarnel_M& w = *window;
    // Frame 001 cannot be written: a folder already has its name.
    w.onFrameYield = [&](int k, int) {
        if (k == 0) fs::create_directory(fs::path(Settings().SaveFolder) / "001.bmp");
    };
    QTest::mouseClick(w.Cmd_Start, Qt::LeftButton);
    EXPECT_EQ(w.lastRun().status, MorphRunResult::Status::Failed);
    EXPECT_EQ(w.lastRun().framesWritten, 1);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(dialogs.messages[0].title, "Tarnel");
    EXPECT_NE(dialogs.messages[0].text.find("001.bmp"), std::string::npos);
    EXPECT_TRUE(w.Cmd_Start->isVisible());
    EXPECT_FALSE(w.PicProgress->isVisible());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(w.Cmd_Sanshyo[0]->isEnabled());
    EXPECT_FALSE(w.unloaded());
}

TEST_F(EditorTest, FrameFolderThatCannotBeMadeIsReported) {
    open();
    load(0, 40, 30);
    load(1, 40, 30);
    // The program folder is now a file: no frame folder can be made in it.
    std::string blocker = sources.file("not-a-folder");
    std::ofstream(blocker) << "x";
    SetProgramFolderOverride(blocker);
    QTest::mouseClick(window->Cmd_Start, Qt::LeftButton);
    SetProgramFolderOverride(programFolder.path().string());
    EXPECT_EQ(window->lastRun().status, MorphRunResult::Status::Failed);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].icon, MsgIcon::Exclamation);
    EXPECT_TRUE(window->Cmd_Start->isVisible());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(EditorTest, JpgRunLeavesNoTemporaryFile) {
    open();
    load(0, 40, 30);
    load(1, 40, 30);
    QTest::mouseClick(window->lbl_Kind[1], Qt::LeftButton);
    window->VS_Frame->setValue(2);
    window->Cmd_Start_Click();
    ASSERT_TRUE(window->lastRun().ok());
    EXPECT_FALSE(fs::exists(ProcessTempPath(programFolder.path().string(), "Dumy.bmp")));
    fs::path folder = window->lastRun().folder;
    EXPECT_TRUE(fs::exists(folder / "000.jpg"));
    EXPECT_TRUE(fs::exists(folder / "001.jpg"));
    EXPECT_FALSE(fs::exists(folder / "000.bmp"));
}

// ---------------------------------------------------------------- the window

TEST_F(EditorTest, DraggingByTheTitleImageMovesTheWindow) {
    open();
    const QPoint before = window->pos();
    QTest::mousePress(window->Image1, Qt::LeftButton, {}, QPoint(100, 10));
    EXPECT_TRUE(window->draggingWindow());
    window->Image1_MouseMove(window->Image1->mapToGlobal(QPoint(100, 10)) + QPoint(40, 25));
    EXPECT_EQ(window->pos(), before + QPoint(40, 25));
    QTest::mouseRelease(window->Image1, Qt::LeftButton, {}, QPoint(140, 35));
    EXPECT_FALSE(window->draggingWindow());
    window->Image1_MouseMove(QPoint(0, 0));
    EXPECT_EQ(window->pos(), before + QPoint(40, 25));
    // The right button does not drag.
    QTest::mousePress(window->Image1, Qt::RightButton, {}, QPoint(100, 10));
    EXPECT_FALSE(window->draggingWindow());
}

// ---------------------------------------------------------------- other windows

TEST_F(EditorTest, WindowCommandsNeedTheirWindows) {
    open();
    EXPECT_FALSE(window->Cmd_Morph_View->isEnabled());
    EXPECT_FALSE(window->Cmd_Avi->isEnabled());
    EXPECT_FALSE(window->Cmd_Avi_View->isEnabled());
    EXPECT_FALSE(window->Cmd_AniGif->isEnabled());
}

TEST_F(EditorTest, ViewerAndExportOpenWithTheirModes) {
    std::vector<std::string> opened;
    ChildWindows().viewer = [&](QWidget* owner) {
        EXPECT_EQ(owner, window.get());
        opened.push_back(Links().ViewerFromEditor ? "viewer(editor)" : "viewer(run)");
    };
    ChildWindows().aviExport = [&](QWidget*) { opened.push_back(Links().AviExportMode ? "export" : "chooser"); };
    open();
    ASSERT_TRUE(window->Cmd_Morph_View->isEnabled());
    QTest::mouseClick(window->Cmd_Morph_View, Qt::LeftButton);
    QTest::mouseClick(window->Cmd_Avi, Qt::LeftButton);
    load(0, 20, 20);
    load(1, 20, 20);
    window->VS_Frame->setValue(2);
    QTest::mouseClick(window->Cmd_Start, Qt::LeftButton);
    EXPECT_EQ(opened, (std::vector<std::string>{"viewer(editor)", "export", "viewer(run)"}));
}

TEST_F(EditorTest, AviPlayerGetsThePathAndThePlayCount) {
    int played = 0;
    ChildWindows().aviPlayer = [&](QWidget*) { ++played; };
    open();
    Settings().SaveFolder = "/frames/here";
    window->VS_Repeat->setValue(7);
    dialogs.openAnswers.push_back(std::string("/videos/a.avi\0junk", 18));
    QTest::mouseClick(window->Cmd_Avi_View, Qt::LeftButton);
    ASSERT_EQ(dialogs.fileRequests.size(), 1u);
    EXPECT_EQ(dialogs.fileRequests[0].title, "AVIﾌｧｲﾙを選択");
    EXPECT_EQ(dialogs.fileRequests[0].filter, "AVI Videoﾌｧｲﾙ (avi)|*.avi");
    EXPECT_EQ(dialogs.fileRequests[0].initialFolder, "/frames/here");
    EXPECT_EQ(Links().PlayerFilePath, "/videos/a.avi");
    EXPECT_EQ(Settings().AviRepeat[0], 7);
    EXPECT_EQ(played, 1);
    dialogs.openAnswers.push_back(std::nullopt);
    QTest::mouseClick(window->Cmd_Avi_View, Qt::LeftButton);
    EXPECT_EQ(played, 1);
}

TEST_F(EditorTest, ComposerGetsTheFileAndItsFolderUnderTheHourglass) {
    bool busy = false;
    ChildWindows().gifComposer = [&](QWidget*) {
        busy = QGuiApplication::overrideCursor() && QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
    };
    open();
    dialogs.openAnswers.push_back(std::nullopt);
    QTest::mouseClick(window->Cmd_AniGif, Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);  // cancelled: pointer unchanged
    EXPECT_EQ(Links().MediaFilePath, "");
    dialogs.openAnswers.push_back("/videos/clip.avi");
    QTest::mouseClick(window->Cmd_AniGif, Qt::LeftButton);
    EXPECT_TRUE(busy);
    EXPECT_EQ(Links().MediaFilePath, "/videos/clip.avi");
    EXPECT_EQ(Links().MediaFolder, "/videos");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(EditorTest, MeshControlsRestDuringTheRun) {
    open();
    load(0, 40, 40);
    load(1, 40, 40);
    Tarnel_M& w = *window;
    w.VS_Frame->setValue(2);
    bool checked = false;
    w.onFrameYield = [&](int k, int) {
        if (k != 0) return;
        checked = true;
        EXPECT_FALSE(w.VS_Point->isEnabled());
        EXPECT_FALSE(w.Cmd_C[1]->isEnabled());
        EXPECT_TRUE(w.Cmd_Can->isEnabled());
        EXPECT_TRUE(w.Cmd_End->isEnabled());
        // No mesh on the canvas, and no grabbing of its points.
        EXPECT_EQ(canvasPixel(0, 0, 20), patternAt(0, 20, 0));
        w.P_MouseDown(0, 1, 0, 0, 0);
        EXPECT_FALSE(w.meshEditor.dragging());
    };
    w.Cmd_Start_Click();
    EXPECT_TRUE(checked);
    EXPECT_TRUE(w.VS_Point->isEnabled());
    EXPECT_TRUE(w.Cmd_C[1]->isEnabled());
}

}  // namespace
}  // namespace tarnel
