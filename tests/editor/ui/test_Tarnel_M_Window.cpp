// The editor window as a whole, offscreen: its layout at the design size and
// larger, its place kept in the settings, the question at the end command,
// the focus after a dialog, the end during a run, the session's zoom, the
// linked view and the preview beside it.
#include <QApplication>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "core/Settings.h"
#include "core/WindowLinks.h"
#include "editor/ui/EditorWindows.h"
#include "editor/ui/PreviewWindow.h"
#include "editor/ui/Tarnel_M.h"
#include "imaging/PictureIO.h"
#include "platform/ProgramFolder.h"
#include "platform/StaleTempFiles.h"
#include "ui/ChildWindows.h"
#include "ui/widgets/ClickLabel.h"
#include "ui/widgets/PictureBoxWidget.h"
#include "ui/widgets/Spinner.h"
#include "support/FakeScreen.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"
#include "EditorWindowTest.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;
using test::ScriptedDialogs;
using test::TempDir;

const QRect kScreen(0, 0, 1600, 1000);
const QRect kFree(0, 32, 1600, 968);  // a panel along the top

class WindowTest : public test::EditorWindowTest {
protected:
    test::FakeScreen screen{kScreen, kFree};

    void SetUp() override {
        EditorWindowTest::SetUp();
        RegisterPreviewWindow();
        open();
    }
    void reopen() {
        window.reset();
        open();
    }
    std::string picture(int w, int h, int seed) {
        Bitmap b;
        EXPECT_TRUE(b.create(w, h, 32));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) b.setPixelValue(x, y, uint32_t((x * 3 + seed) & 0xFF) << 16 | uint32_t(y & 0xFF) << 8);
        const std::string path = sources.file(QStringLiteral("p%1x%2_%3.bmp").arg(w).arg(h).arg(seed).toStdString());
        EXPECT_TRUE(SavePictureBMP(b, path));
        return path;
    }
    void loadBoth(int w, int h) {
        for (int i = 0; i < 2; ++i) openImage(i, picture(w, h, i));
        ASSERT_TRUE(window->images.bothLoaded());
    }
    void dragPoint(int i, QPoint from, QPoint to) {
        window->P_MouseDown(i, 1, 0, float(from.x()), float(from.y()));
        window->P_MouseMove(i, 1, 0, float(to.x()), float(to.y()));
        window->P_MouseUp(i, 1, 0, float(to.x()), float(to.y()));
    }
    // A control's rectangle in the face.
    QRect inFace(const QWidget* w) const {
        return QRect(w->mapTo(window->face(), QPoint(0, 0)), w->size());
    }
    std::string settingsFile() const { return programFolder.file("Tarnel.ini"); }
};

// ---------------------------------------------------------------- layout

// Larger faces: the views share the extra width equally and take all the
// extra height; each control keeps its distance to the edges it belongs to,
// as measured at the design size.
TEST_F(WindowTest, ViewsShareTheExtraRoomAndControlsKeepToTheirEdges) {
    Tarnel_M& w = *window;
    const QSize design(Tarnel_M::kFaceWidth, Tarnel_M::kFaceHeight);
    ASSERT_EQ(w.face()->size(), design);
    struct Edge {
        const char* name;
        QWidget* control;
        bool right, bottom;  // measured from the face's (or its view's) right / bottom edge
        int view;            // -1: from the face's edges; else from view i's frame
    } edges[] = {
        {"start command", w.Cmd_Start, true, false, -1},   {"cancel", w.Cmd_Can, true, false, -1},
        {"end command", w.Cmd_End, true, true, -1},        {"avi viewer", w.Cmd_Avi_View, true, true, -1},
        {"repeat spinner", w.VS_Repeat, true, true, -1},   {"option panel", w.Pic_C, false, true, -1},
        {"load 0", w.Cmd_Sanshyo[0], false, true, 0},      {"reset 1", w.Cmd_Reset[1], false, true, 1},
        {"size 1", w.lbl_Size[1], true, false, 1},         {"zoom 0", w.lbl_Zoom[0], true, false, 0},
        {"reduced size 1", w.lbl_Size_S[1], true, true, 1}, {"reduce 0", w.Cmd_Stretch[0], false, true, 0},
    };
    auto measure = [&](const Edge& e) {
        const QRect r = inFace(e.control);
        const QRect ref = e.view < 0 ? QRect(QPoint(0, 0), w.face()->size()) : inFace(w.PicBack[size_t(e.view)]);
        return QPoint(e.right ? ref.right() - r.right() : r.left() - ref.left(),
                      e.bottom ? ref.bottom() - r.top() : r.top() - ref.top());
    };
    std::vector<QPoint> atDesign;
    for (const Edge& e : edges) atDesign.push_back(measure(e));
    const QSize views[] = {w.PicBack[0]->size(), w.PicBack[1]->size()};

    for (const QSize grow : {QSize(200, 100), QSize(301, 0), QSize(0, 257)}) {
        w.resize(design.width() + grow.width(), design.height() + 20 + grow.height());
        ASSERT_EQ(w.face()->size(), design + grow);
        const QSize v0 = w.PicBack[0]->size(), v1 = w.PicBack[1]->size();
        EXPECT_EQ(v0.width() + v1.width(), views[0].width() + views[1].width() + grow.width()) << grow.width();
        EXPECT_LE(std::abs(v0.width() - v1.width()), 1) << grow.width();
        EXPECT_EQ(v0.height(), views[0].height() + grow.height());
        EXPECT_EQ(v1.height(), views[1].height() + grow.height());
        EXPECT_EQ(w.viewSize(1), v1 - QSize(2, 2));
        // The end image's view starts where it did, past the start image's grown view.
        EXPECT_EQ(inFace(w.PicBack[1]).left() - inFace(w.PicBack[0]).right(), 314 - 302 + 1);
        for (size_t k = 0; k < std::size(edges); ++k)
            EXPECT_EQ(measure(edges[k]), atDesign[k]) << edges[k].name << " at +" << grow.width() << "x" << grow.height();
    }
    // Back to the design size: everything where it was designed.
    w.resize(design.width(), design.height() + 20);
    for (size_t k = 0; k < std::size(edges); ++k) EXPECT_EQ(measure(edges[k]), atDesign[k]) << edges[k].name;
    EXPECT_EQ(w.PicBack[0]->size(), views[0]);
}

// Maximised, the window fills the free area and its views follow: a picture
// shown whole fits the larger view. Back again, it is where it was.
TEST_F(WindowTest, MaximisedFillsTheFreeAreaAndTheViewsFollow) {
    Tarnel_M& w = *window;
    loadBoth(1200, 600);
    const QRect before = w.geometry();
    QTest::mouseClick(w.lbl_Zoom[0], Qt::LeftButton);  // 100 % -> the whole picture
    ASSERT_NE(w.ImgMax, nullptr);
    QTest::mouseClick(w.ImgMax, Qt::LeftButton);
    EXPECT_TRUE(w.maximised());
    EXPECT_EQ(w.geometry(), kFree);
    const QSize view = w.viewSize(0);
    EXPECT_GT(view.width(), 600);
    // 1200 x 600 in the view, at the factor its own size gives.
    EXPECT_EQ(w.lbl_Zoom[0]->text(), QString::number(std::lround(std::min(view.width() / 1200.0, view.height() / 600.0) * 100)) + "%");
    EXPECT_TRUE(w.HScroll[0]->isHidden());
    // The other view stayed at 100 %: its bars cover the larger image.
    EXPECT_EQ(w.HScroll[1]->maximum(), 1200 - w.viewSize(1).width());
    QTest::mouseDClick(w.Image1, Qt::LeftButton);
    EXPECT_FALSE(w.maximised());
    EXPECT_EQ(w.geometry(), before);
}

// The end command keeps the size and place in the settings; the next editor
// opens there, kept inside the screen. A window left as it opened adds nothing.
TEST_F(WindowTest, SizeAndPlaceAreRememberedAndKeptOnTheScreen) {
    window->Cmd_End_Click();
    EXPECT_EQ(ReadIniValue(kWindowSection, "Editor", settingsFile()), "");
    reopen();
    const struct {
        QRect left;
        bool maximised;
        QRect expected;
    } cases[] = {
        {QRect(100, 80, 1000, 700), false, QRect(100, 80, 1000, 700)},
        {QRect(1500, 900, 1000, 700), false, QRect(600, 300, 1000, 700)},  // pulled back onto the screen
        {QRect(100, 80, 900, 600), true, kFree},
    };
    for (const auto& c : cases) {
        window->setGeometry(c.left);
        if (c.maximised) window->setMaximised(true);
        window->Cmd_End_Click();
        ASSERT_NE(ReadIniValue(kWindowSection, "Editor", settingsFile()), "");
        reopen();
        EXPECT_EQ(window->geometry(), c.expected) << c.left.x();
        EXPECT_EQ(window->maximised(), c.maximised);
        window->setMaximised(false);
    }
    // A place far too large shrinks to the free area, never below the design size.
    ASSERT_TRUE(WriteIniValue(kWindowSection, "Editor", "-50 -50 4000 3000 0", settingsFile()));
    reopen();
    EXPECT_EQ(window->geometry(), kFree);
}

// ---------------------------------------------------------------- end question

// The end command asks when the meshes or pictures changed since the project
// was saved or opened (from the start without one): yes saves and ends, a
// save that does not happen keeps the editor, no ends, cancel keeps editing.
TEST_F(WindowTest, EndAsksAboutUnsavedChanges) {
    const struct {
        const char* name;
        std::optional<MsgResult> answer;  // nothing: no question expected
        bool saveChosen;                  // the save dialog is answered
        bool ends;
    } cases[] = {
        {"yes_saves_then_ends", MsgResult::Yes, true, true},
        {"yes_but_save_cancelled", MsgResult::Yes, false, false},
        {"no_ends_without_saving", MsgResult::No, false, true},
        {"cancel_stays", MsgResult::Cancel, false, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        reopen();
        fs::remove(settingsFile());
        loadBoth(60, 40);
        dragPoint(0, {24, 16}, {30, 20});
        EXPECT_TRUE(window->hasUnsavedChanges());
        EXPECT_TRUE(window->windowTitle().endsWith(" *")) << c.name;
        dialogs.messages.clear();
        dialogs.answers = {*c.answer};
        const std::string project = sources.file(QStringLiteral("p%1.json").arg(n++).toStdString());
        if (c.saveChosen) dialogs.saveAnswers.push_back(project);
        else dialogs.saveAnswers.push_back(std::nullopt);
        window->Cmd_End_Click();
        ASSERT_FALSE(dialogs.messages.empty()) << c.name;
        EXPECT_EQ(dialogs.messages[0].text, kSaveChangesQuestion);
        EXPECT_EQ(dialogs.messages[0].buttons, MsgButtons::YesNoCancel);
        EXPECT_EQ(window->unloaded(), c.ends) << c.name;
        EXPECT_EQ(fs::exists(project), c.saveChosen) << c.name;
        if (!c.ends) {
            EXPECT_TRUE(window->isVisible()) << c.name;
            EXPECT_FALSE(fs::exists(settingsFile())) << c.name;
        }
        dialogs.saveAnswers.clear();
    }
    // Saved, then nothing more changed: no question; the title names the project.
    reopen();
    loadBoth(60, 40);
    const std::string project = sources.file("kept.json");
    ASSERT_TRUE(window->SaveProject(project));
    EXPECT_EQ(window->windowTitle().toStdString().rfind("Tarnel - kept.json", 0), 0u);
    EXPECT_FALSE(window->windowTitle().contains('*'));
    dragPoint(0, {24, 16}, {30, 20});
    EXPECT_TRUE(window->windowTitle().contains('*'));
    window->Undo();  // back to what was saved
    EXPECT_FALSE(window->hasUnsavedChanges());
    dialogs.messages.clear();
    window->Cmd_End_Click();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(window->unloaded());
}

// ---------------------------------------------------------------- focus, run

// After a modal dialog closes, the editor's keys work without a click.
TEST_F(WindowTest, FocusComesBackAfterAModalDialog) {
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QDialog dialog(window.get());
    QTimer::singleShot(50, &dialog, [&dialog] { dialog.accept(); });
    dialog.exec();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == window.get(); }, 2000));
    QTest::keyClick(window.get(), Qt::Key_P);
    ASSERT_NE(window->preview(), nullptr);
}

// The cancel command during a run ends the program after the frame in hand:
// every frame written is whole, nothing half-written is left, the session stays.
TEST_F(WindowTest, CancelDuringARunLeavesOnlyWholeFrames) {
    loadBoth(64, 48);
    Tarnel_M& w = *window;
    w.Img_Kind_MouseDown(kSaveJpg);
    w.onFrameYield = [&](int k, int) {
        if (k == 2) w.Cmd_Can_Click();
    };
    w.Cmd_Start_Click();
    ASSERT_EQ(w.lastRun().status, MorphRunResult::Status::Cancelled);
    const fs::path folder = w.lastRun().folder;
    int frames = 0;
    for (const auto& e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        EXPECT_FALSE(IsTempFileName(name)) << name;
        StdPicture frame;
        EXPECT_TRUE(LoadPicture(e.path().string(), frame)) << name;
        EXPECT_EQ(frame.width(), 64) << name;
        ++frames;
    }
    EXPECT_EQ(frames, 3);
    EXPECT_EQ(w.lastRun().framesWritten, 3);
    window.reset();
    EXPECT_EQ(EditorSession::Abandoned(programFolder.path().string()).size(), 1u);
}

// ---------------------------------------------------------------- views

// A restored session comes back at the zoom and scroll it was left at.
TEST_F(WindowTest, RestoredSessionComesBackAtItsZoom) {
    loadBoth(900, 700);
    window->ZoomView(0, ZoomLevel{false, 200}, QPointF(0, 0));
    window->HScroll[0]->setValue(150);
    window->ZoomView(1, ZoomLevel{true, 100}, QPointF(0, 0));
    const QString zoomText = window->lbl_Zoom[1]->text();
    window->Cmd_Can_Click();
    reopen();
    ASSERT_TRUE(window->OfferSessionRestore());
    EXPECT_EQ(window->lbl_Zoom[0]->text(), "200%");
    EXPECT_EQ(window->HScroll[0]->value(), 150);
    EXPECT_EQ(window->lbl_Zoom[1]->text(), zoomText);
    EXPECT_TRUE(window->HScroll[1]->isHidden());
}

// With 連動 on, the partner view brings the point it follows to its middle,
// not just inside its edge.
TEST_F(WindowTest, LinkedViewCentresThePartnerPoint) {
    loadBoth(1600, 1200);
    Tarnel_M& w = *window;
    ASSERT_TRUE(w.linkedViews);
    // The grid point (3, 3) of a 5 x 5 mesh: far right and down in both images.
    const MeshPoint p = w.mesh.mesh(1)(3, 3);
    const QPoint from(int(p.x), int(p.y));
    w.HScroll[0]->setValue(int(p.x) - 100);
    w.VScroll[0]->setValue(int(p.y) - 100);
    w.P_MouseDown(0, 1, 0, float(from.x()), float(from.y()));
    w.P_MouseMove(0, 1, 0, float(from.x() + 2), float(from.y() + 2));
    const QSize view = w.viewSize(1);
    const int visibleW = view.width() - kScrollBarSize, visibleH = view.height() - kScrollBarSize;
    EXPECT_NEAR(p.x - w.HScroll[1]->value(), visibleW / 2.0, 1.0);
    EXPECT_NEAR(p.y - w.VScroll[1]->value(), visibleH / 2.0, 1.0);
    w.P_MouseUp(0, 1, 0, float(from.x() + 2), float(from.y() + 2));
}

// Opening the preview leaves the editor where the user put it; the preview
// goes beside it, or to the screen's edge when there is too little room.
TEST_F(WindowTest, PreviewLeavesTheEditorWhereItIs) {
    loadBoth(320, 240);
    const struct {
        QPoint editorAt;
        bool besideRight;
    } cases[] = {{QPoint(421, 245), false}, {QPoint(40, 100), true}};
    for (const auto& c : cases) {
        reopen();
        loadBoth(320, 240);
        window->move(c.editorAt);
        window->OpenPreview();
        ASSERT_NE(window->preview(), nullptr);
        auto* preview = dynamic_cast<QWidget*>(window->preview());
        ASSERT_NE(preview, nullptr);
        EXPECT_EQ(window->pos(), c.editorAt);
        EXPECT_TRUE(kFree.contains(preview->frameGeometry())) << c.editorAt.x();
        if (c.besideRight) {
            EXPECT_GE(preview->x(), window->frameGeometry().right());
        }
    }
}

}  // namespace
}  // namespace tarnel
