// Qt's own dialogs in the program's language, with the loader the
// application runs at start.
#include <gtest/gtest.h>

#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <filesystem>
#include <fstream>

#include "ui/QtDialogs.h"
#include "ui/Translations.h"
#include "support/TempDir.h"

namespace tarnel {
namespace {

// Japanese text holds characters beyond ASCII; Qt's English texts do not.
bool looksJapanese(const QString& text) {
    for (QChar c : text)
        if (c.unicode() >= 0x3000) return true;
    return false;
}

class Translations : public ::testing::Test {
protected:
    static void SetUpTestSuite() { installed_ = InstallQtTranslations(*QCoreApplication::instance()); }
    void SetUp() override {
        if (!installed_) GTEST_SKIP() << "Qt's Japanese translations (qt6-translations-l10n) are not installed";
    }
    static bool installed_;
};
bool Translations::installed_ = false;

TEST_F(Translations, MessageBoxButtons) {
    QMessageBox box(QMessageBox::Information, "Tarnel", "text",
                    QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes | QMessageBox::No | QMessageBox::Retry);
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), "キャンセル");
    for (auto b : {QMessageBox::Cancel, QMessageBox::Yes, QMessageBox::No, QMessageBox::Retry})
        EXPECT_TRUE(looksJapanese(box.button(b)->text())) << box.button(b)->text().toStdString();
}

TEST_F(Translations, FileDialogLabelsTypesAndDates) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.path() / "frames");
    std::ofstream(dir.file("a.bmp")) << "x";
    QtDialogs dialogs;
    QString nameLabel, typeLabel, folderType, date;
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [&, poll] {
        auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!d) return;
        auto* view = d->findChild<QTreeView*>("treeView");
        if (!view || !view->model() || view->model()->rowCount(view->rootIndex()) < 2) return;
        poll->stop();
        poll->deleteLater();
        nameLabel = d->findChild<QLabel*>("fileNameLabel")->text();
        typeLabel = d->findChild<QLabel*>("fileTypeLabel")->text();
        for (int row = 0; row < 2; ++row) {
            const QModelIndex name = view->model()->index(row, 0, view->rootIndex());
            if (name.data().toString() != "frames") continue;
            folderType = name.siblingAtColumn(2).data().toString();
            date = name.siblingAtColumn(3).data().toString();
        }
        d->reject();
    });
    poll->start(10);
    // A listing that never comes fails the test instead of hanging it.
    QTimer::singleShot(10000, [] {
        if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) d->reject();
    });
    FileDialogRequest request;
    request.title = "open";
    request.filter = "BMP|*.bmp";
    request.initialFolder = dir.path().string();
    dialogs.openFile(request);

    EXPECT_TRUE(looksJapanese(nameLabel)) << nameLabel.toStdString();
    EXPECT_TRUE(looksJapanese(typeLabel)) << typeLabel.toStdString();
    EXPECT_EQ(folderType, "フォルダー");
    // Year first, as dates are written in Japanese.
    const QString year = QString::number(QDate::currentDate().year());
    EXPECT_TRUE(date.startsWith(year + "/")) << date.toStdString();
}

TEST_F(Translations, ColourDialogAndFileTypes) {
    QColorDialog dialog;
    dialog.setOption(QColorDialog::DontUseNativeDialog, true);
    int japanese = 0;
    for (QPushButton* b : dialog.findChildren<QPushButton*>()) japanese += looksJapanese(b->text());
    EXPECT_GE(japanese, 3) << "custom colours, screen colour, cancel";
    EXPECT_EQ(QLocale().language(), QLocale::Japanese);
    EXPECT_EQ(QAbstractFileIconProvider().type(QFileInfo(QDir::tempPath())), "フォルダー");
}

}  // namespace
}  // namespace tarnel
