// tarnel: the editor window and everything it opens.
#include <QApplication>
#include <QFont>
#include <QWidget>

#include "ui/CompressionDialog.h"
#include "ui/Skin.h"
#include "editor/ui/EditorWindows.h"
#include "editor/ui/PreviewWindow.h"
#include "editor/ui/Tarnel_M.h"
#include "output/ui/Composer.h"
#include "output/ui/Viewer.h"
#include "ui/QtDialogs.h"
#include "ui/Translations.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tarnel");
    QApplication::setDesktopFileName("tarnel");
    QFont font = QApplication::font();
    font.setFamilies({"IPAPGothic", "Noto Sans CJK JP"});
    font.setPixelSize(12);
    QApplication::setFont(font);
    QApplication::setWindowIcon(tarnel::Skin::get().icon);
    // Qt's own dialogs everywhere (a desktop's native ones would speak the
    // desktop's language), with Qt's Japanese texts (qt6-translations-l10n).
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    tarnel::InstallQtTranslations(app);

    tarnel::QtDialogs dialogs;
    dialogs.setCompressionDialog(tarnel::ShowCompressionDialog);
    tarnel::SetDialogs(&dialogs);
    // Before the editor exists: it enables its view command from what is registered.
    tarnel::RegisterTrimmingWindow();
    tarnel::RegisterFrameViewer();
    tarnel::RegisterAviWindows();
    tarnel::RegisterGifComposer();
    tarnel::RegisterPreviewWindow();
    int status = 0;
    {
        tarnel::Tarnel_M editor;
        editor.show();
        editor.OfferSessionRestore();
        status = QApplication::exec();
    }
    // A zoom overlay may still be fading out.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (!w->parentWidget()) delete w;
    tarnel::SetDialogs(nullptr);
    return status;
}
