#pragma once
// Qt's own texts in the program's language: the standard dialogs (file,
// colour, message box buttons) and the messages Qt shows itself speak
// Japanese, and dates and numbers in them are written the Japanese way.
class QCoreApplication;

namespace tarnel {

// Makes Japanese the default locale and installs Qt's Japanese catalogue
// (qtbase, from Qt's translations folder or a "translations" folder beside
// the program) with the few texts it lacks. The translators belong to `app`.
// False when no catalogue was found: Qt's texts then stay English.
bool InstallQtTranslations(QCoreApplication& app);

}  // namespace tarnel
