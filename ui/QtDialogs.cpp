#include "ui/QtDialogs.h"

#include <QApplication>
#include <algorithm>
#include <QAbstractButton>
#include <QColorDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QTreeView>
#include <QMessageBox>

namespace tarnel {

namespace {

QMessageBox::Icon qtIcon(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::None: return QMessageBox::NoIcon;
        case MsgIcon::Information: return QMessageBox::Information;
        case MsgIcon::Exclamation: return QMessageBox::Warning;
        case MsgIcon::Critical: return QMessageBox::Critical;
        case MsgIcon::Question: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons qtButtons(MsgButtons buttons) {
    switch (buttons) {
        case MsgButtons::OK: return QMessageBox::Ok;
        case MsgButtons::OKCancel: return QMessageBox::Ok | QMessageBox::Cancel;
        case MsgButtons::RetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
        case MsgButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
        case MsgButtons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

MsgResult fromQt(int button, MsgButtons buttons) {
    switch (button) {
        case QMessageBox::Ok: return MsgResult::OK;
        case QMessageBox::Cancel: return MsgResult::Cancel;
        case QMessageBox::Retry: return MsgResult::Retry;
        case QMessageBox::Yes: return MsgResult::Yes;
        case QMessageBox::No: return MsgResult::No;
        default: break;
    }
    // Closed without a button: the box's escape answer.
    switch (buttons) {
        case MsgButtons::OK: return MsgResult::OK;
        case MsgButtons::YesNo: return MsgResult::No;
        default: return MsgResult::Cancel;
    }
}

// A name such as "*.gif" is a pattern, not a file: the filter already shows
// it, and a dialog that took it as the name would write a file called "*.gif".
bool hasWildcard(const QString& name) { return name.contains('*') || name.contains('?'); }

QString startPath(const FileDialogRequest& request) {
    QString folder = QString::fromStdString(request.initialFolder);
    if (request.fileName.empty() || hasWildcard(QString::fromStdString(request.fileName))) return folder;
    if (folder.isEmpty()) return QString::fromStdString(request.fileName);
    return folder + "/" + QString::fromStdString(request.fileName);
}

// "gif" of "GIF (*.gif *.png)": the extension of the filter's first pattern,
// empty when that is no plain "*.ext".
QString firstSuffix(const QString& nameFilter) {
    const qsizetype open = nameFilter.lastIndexOf('(');
    if (open < 0) return QString();
    const QString first = nameFilter.mid(open + 1).section(')', 0, 0).trimmed().section(' ', 0, 0);
    if (!first.startsWith("*.")) return QString();
    const QString suffix = first.mid(2);
    return hasWildcard(suffix) || suffix.isEmpty() ? QString() : suffix;
}

// The file list with the dates written in the program's locale: Qt's model
// writes them in the system's, which is often English.
class LocalDates : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    static constexpr int kDateColumn = 3;
    QVariant data(const QModelIndex& index, int role) const override {
        if (role == Qt::DisplayRole && index.column() == kDateColumn)
            if (auto* files = qobject_cast<QFileSystemModel*>(sourceModel())) {
                const QDateTime modified = files->lastModified(mapToSource(index));
                if (modified.isValid()) return QLocale().toString(modified, QLocale::ShortFormat);
            }
        return QIdentityProxyModel::data(index, role);
    }
};

// Qt's own dialog (its texts are the program's language), in the detail view,
// large enough for the name, size, type and date columns but never larger
// than the free area of the screen it opens on.
void prepare(QFileDialog& dialog, QWidget* owner) {
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setProxyModel(new LocalDates(&dialog));
    dialog.setViewMode(QFileDialog::Detail);
    QSize size = QtDialogs::kFileDialogSize;
    QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen) size = size.boundedTo(screen->availableGeometry().size());
    dialog.resize(size);
    if (auto* view = dialog.findChild<QTreeView*>("treeView")) {
        // The name takes what the other columns leave.
        QHeaderView* header = view->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        const int widths[] = {0, 100, 150, 170};
        for (int column = 1; column < header->count() && column < 4; ++column)
            header->resizeSection(column, widths[column]);
    }
}

}  // namespace

QWidget* QtDialogs::owner() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w) w = QApplication::activeWindow();
    return w;
}

QStringList QtDialogs::nameFilters(const std::string& filter) {
    QStringList parts = QString::fromStdString(filter).split('|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        out << parts[i] + " (" + patterns.trimmed() + ")";
    }
    if (out.isEmpty()) out << "* (*)";
    return out;
}

MsgResult QtDialogs::messageBox(const std::string& text, MsgIcon icon, MsgButtons buttons, const std::string& title) {
    QMessageBox box(qtIcon(icon), QString::fromStdString(title), QString::fromStdString(text), qtButtons(buttons),
                    owner());
    if (buttons == MsgButtons::YesNoCancel) {
        // The three answers of the save question, in the windows' own words.
        box.button(QMessageBox::Yes)->setText(QStringLiteral("はい(&Y)"));
        box.button(QMessageBox::No)->setText(QStringLiteral("いいえ(&N)"));
        box.button(QMessageBox::Cancel)->setText(QStringLiteral("ｷｬﾝｾﾙ"));
        box.setDefaultButton(QMessageBox::Yes);
    }
    return fromQt(box.exec(), buttons);
}

std::optional<std::string> QtDialogs::openFile(const FileDialogRequest& request) {
    QFileDialog dialog(owner(), QString::fromStdString(request.title), startPath(request));
    prepare(dialog, owner());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    QStringList filters = nameFilters(request.filter);
    dialog.setNameFilters(filters);
    if (request.filterIndex >= 1 && request.filterIndex <= filters.size())
        dialog.selectNameFilter(filters[request.filterIndex - 1]);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

std::optional<std::string> QtDialogs::saveFile(const FileDialogRequest& request) {
    QFileDialog dialog(owner(), QString::fromStdString(request.title), startPath(request));
    prepare(dialog, owner());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    QStringList filters = nameFilters(request.filter);
    dialog.setNameFilters(filters);
    if (request.filterIndex >= 1 && request.filterIndex <= filters.size())
        dialog.selectNameFilter(filters[request.filterIndex - 1]);
    if (!request.defaultExtension.empty()) {
        dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
        // A name typed without an extension takes the one of the type chosen in the dialog.
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
            const QString suffix = firstSuffix(filter);
            if (!suffix.isEmpty()) dialog.setDefaultSuffix(suffix);
        });
    }
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    const QString chosen = dialog.selectedFiles().first();
    if (hasWildcard(QFileInfo(chosen).fileName())) return std::nullopt;
    return chosen.toStdString();
}

std::optional<ColorRef> QtDialogs::chooseColor(ColorRef initial, CustomColors* customColors, bool) {
    // Qt's dialog always shows its custom colours, so the full-open request
    // needs nothing more. Without colours of the caller, the custom colours
    // come from the system colour table, as the editor's colour command has
    // always offered them.
    const int count = std::min(16, QColorDialog::customCount());
    for (int k = 0; k < count; ++k) {
        ColorRef c = customColors ? (*customColors)[size_t(k)] : GetSysColor(k);
        QColorDialog::setCustomColor(k, QColor(RedOf(c), GreenOf(c), BlueOf(c)));
    }
    QColorDialog dialog(QColor(RedOf(initial), GreenOf(initial), BlueOf(initial)), owner());
    dialog.setWindowTitle(QString::fromStdString(kAppTitle));
    dialog.setOption(QColorDialog::DontUseNativeDialog, true);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    // Changes to the custom colours count even when the dialog is cancelled.
    if (customColors)
        for (int k = 0; k < count; ++k) {
            QColor c = QColorDialog::customColor(k);
            (*customColors)[size_t(k)] = RGBColor(uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue()));
        }
    if (!accepted) return std::nullopt;
    QColor c = dialog.selectedColor();
    if (!c.isValid()) return std::nullopt;
    return RGBColor(uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue()));
}

std::optional<AviCompressOptions> QtDialogs::chooseCompression(const CompressionDialogRequest& request) {
    if (!compressionDialog_) return DialogService::chooseCompression(request);
    return compressionDialog_(request);
}

}  // namespace tarnel
