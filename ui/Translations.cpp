#include "ui/Translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstring>

namespace tarnel {

namespace {

// Texts the file dialog shows that Qt's Japanese catalogue leaves in English
// (the type column). Consulted first; whatever it lacks goes on to Qt's own.
class MissingQtTexts : public QTranslator {
public:
    using QTranslator::QTranslator;

    QString translate(const char* context, const char* source, const char*, int) const override {
        struct Text {
            const char* context;
            const char* source;
            const char* japanese;
        };
        static const Text texts[] = {
            {"QAbstractFileIconProvider", "Folder", "フォルダー"},
            {"QAbstractFileIconProvider", "Drive", "ドライブ"},
            {"QAbstractFileIconProvider", "File", "ファイル"},
            {"QAbstractFileIconProvider", "%1 File", "%1 ファイル"},
            {"QAbstractFileIconProvider", "Unknown", "不明"},
        };
        if (!context || !source) return {};
        for (const Text& t : texts)
            if (std::strcmp(context, t.context) == 0 && std::strcmp(source, t.source) == 0)
                return QString::fromUtf8(t.japanese);
        return {};
    }
    bool isEmpty() const override { return false; }
};

}  // namespace

bool InstallQtTranslations(QCoreApplication& app) {
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    QLocale::setDefault(japanese);

    // Qt's own folder first; a copy beside the program serves where Qt's
    // translations are not installed.
    const QStringList folders = {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                                 QDir(QCoreApplication::applicationDirPath()).filePath("translations")};
    auto* catalogue = new QTranslator(&app);
    bool loaded = false;
    for (const QString& folder : folders) {
        // qtbase holds the widgets' texts; "qt" is the catalogue that gathers it with the other modules.
        for (const char* name : {"qtbase", "qt"}) {
            loaded = catalogue->load(japanese, name, "_", folder);
            if (loaded) break;
        }
        if (loaded) break;
    }
    if (loaded) QCoreApplication::installTranslator(catalogue);
    else delete catalogue;
    // Installed last, so it is asked first.
    QCoreApplication::installTranslator(new MissingQtTexts(&app));
    return loaded;
}

}  // namespace tarnel
