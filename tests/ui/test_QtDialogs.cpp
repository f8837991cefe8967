#include <gtest/gtest.h>

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QTreeView>
#include <QLineEdit>
#include <QTimer>
#include <functional>

#include "ui/QtDialogs.h"
#include "support/TempDir.h"

namespace tarnel {
namespace {

// Runs `answer` on the dialog once it is up (the dialogs are modal: exec() waits for it).
template <class Dialog>
void whenShown(std::function<void(Dialog*)> answer) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        if (auto* d = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            answer(d);
        }
    });
    poll->start(10);
}

FileDialogRequest gifRequest(const std::string& folder) {
    FileDialogRequest r;
    r.title = "save";
    r.filter = "GIF|*.gif";
    r.initialFolder = folder;
    r.defaultExtension = "gif";
    r.fileName = "*.gif";
    return r;
}

void typeNameAndAccept(QFileDialog* d, const QString& name, QString* offered) {
    auto* edit = d->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(edit, nullptr);
    *offered = edit->text();
    edit->setText(name);
    QMetaObject::invokeMethod(d, "accept");
}

TEST(QtDialogs, WildcardNameIsNeitherOfferedNorReturned) {
    test::TempDir dir;
    QtDialogs dialogs;
    QString offered = "unset";
    whenShown<QFileDialog>([&](QFileDialog* d) { typeNameAndAccept(d, "*.gif", &offered); });
    EXPECT_EQ(dialogs.saveFile(gifRequest(dir.path().string())), std::nullopt);
    EXPECT_EQ(offered, "");

    whenShown<QFileDialog>([&](QFileDialog* d) { typeNameAndAccept(d, "clip", &offered); });
    EXPECT_EQ(dialogs.saveFile(gifRequest(dir.path().string())), dir.file("clip.gif"));
}

TEST(QtDialogs, ANameWithoutExtensionTakesTheChosenTypes) {
    test::TempDir dir;
    QtDialogs dialogs;
    FileDialogRequest request = gifRequest(dir.path().string());
    request.filter = "GIF|*.gif|PNG|*.png;*.apng|Any|*";
    struct Case {
        int filter;  // 0-based, chosen in the dialog before typing
        const char* typed;
        const char* saved;
    };
    const Case cases[] = {{0, "clip", "clip.gif"}, {1, "clip", "clip.png"}, {1, "clip.webp", "clip.webp"},
                          {2, "clip", "clip.gif"}};
    for (const Case& c : cases) {
        QString offered;
        whenShown<QFileDialog>([&](QFileDialog* d) {
            const QStringList filters = d->nameFilters();
            ASSERT_EQ(filters.size(), 3);
            d->selectNameFilter(filters[c.filter]);
            // As the type list does when the user picks an entry.
            emit d->filterSelected(filters[c.filter]);
            typeNameAndAccept(d, c.typed, &offered);
        });
        EXPECT_EQ(dialogs.saveFile(request), dir.file(c.saved)) << c.filter << " " << c.typed;
    }
}

TEST(QtDialogs, ColourDialogOffersAndKeepsTheCallersCustomColours) {
    QtDialogs dialogs;
    CustomColors colours{};
    for (int i = 0; i < 16; ++i) colours[size_t(i)] = RGBColor(uint8_t(i), uint8_t(2 * i), uint8_t(3 * i));
    QColor offered;
    whenShown<QColorDialog>([&](QColorDialog* d) {
        offered = QColorDialog::customColor(7);
        QColorDialog::setCustomColor(2, QColor(9, 8, 7));
        d->setCurrentColor(QColor(1, 2, 3));
        d->accept();
    });
    EXPECT_EQ(dialogs.chooseColor(RGBColor(50, 60, 70), &colours, false), RGBColor(1, 2, 3));
    EXPECT_EQ(offered, QColor(7, 14, 21));
    EXPECT_EQ(colours[2], RGBColor(9, 8, 7));
    EXPECT_EQ(colours[7], RGBColor(7, 14, 21));

    // Cancelled: no colour, but the changed custom colours stay.
    whenShown<QColorDialog>([&](QColorDialog* d) {
        QColorDialog::setCustomColor(4, QColor(200, 0, 0));
        d->reject();
    });
    EXPECT_EQ(dialogs.chooseColor(RGBColor(50, 60, 70), &colours, true), std::nullopt);
    EXPECT_EQ(colours[4], RGBColor(200, 0, 0));
}

TEST(QtDialogs, FileDialogsAreQtsOwnAndShowEveryColumnOfTheDetailView) {
    test::TempDir dir;
    QtDialogs dialogs;
    const QSize room = QGuiApplication::primaryScreen()->availableGeometry().size();
    for (bool save : {false, true}) {
        QSize shown;
        bool native = true;
        QFileDialog::ViewMode mode = QFileDialog::List;
        std::vector<std::pair<int, int>> columns;  // left and width of name, size, type, date
        int viewportWidth = 0;
        whenShown<QFileDialog>([&](QFileDialog* d) {
            shown = d->size();
            native = !d->testOption(QFileDialog::DontUseNativeDialog);
            mode = d->viewMode();
            if (auto* view = d->findChild<QTreeView*>("treeView")) {
                viewportWidth = view->viewport()->width();
                for (int c = 0; c < 4; ++c)
                    columns.emplace_back(view->header()->sectionViewportPosition(c), view->header()->sectionSize(c));
            }
            d->reject();
        });
        FileDialogRequest request = gifRequest(dir.path().string());
        if (save) dialogs.saveFile(request);
        else dialogs.openFile(request);
        EXPECT_EQ(shown, QtDialogs::kFileDialogSize.boundedTo(room)) << save;
        EXPECT_FALSE(native);
        EXPECT_EQ(mode, QFileDialog::Detail);
        ASSERT_EQ(columns.size(), 4u);
        EXPECT_GE(columns[0].second, 200) << "the name column";
        for (const auto& [left, width] : columns) {
            EXPECT_GE(left, 0);
            EXPECT_GE(width, 80);
            EXPECT_LE(left + width, viewportWidth);
        }
    }
}

TEST(QtDialogs, ColourDialogIsQtsOwn) {
    QtDialogs dialogs;
    bool native = true;
    whenShown<QColorDialog>([&](QColorDialog* d) {
        native = !d->testOption(QColorDialog::DontUseNativeDialog);
        d->reject();
    });
    dialogs.chooseColor(RGBColor(1, 2, 3));
    EXPECT_FALSE(native);
}

}  // namespace
}  // namespace tarnel
