#pragma once
// What both programs do at start besides choosing their folder
// (program_folder.h): Qt's own texts in Russian, and command line mistakes
// told in Russian.

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

namespace zuk {

// Installs Qt's Russian translations of the given catalogs ("qtbase": file
// dialogs, standard buttons, Qt's error texts; "qtserialport") whatever the
// user's locale, since the whole interface is Russian (LANG=C included),
// from Qt's translations folder (Debian package qt6-translations-l10n), and
// the few texts of Qt's dialogs that its catalog lacks. Needs a
// QCoreApplication, which owns the translators. Returns how many catalogs
// were installed.
int installQtTranslations(const QStringList &catalogs = {QStringLiteral("qtbase")});

// The complaint of a parser whose parse() failed, in Russian: "неизвестный
// аргумент: --x", "нет значения у --dir", "лишнее значение у --help".
QString commandLineError(const QCommandLineParser &parser);

}  // namespace zuk
