#pragma once
// What both programs do at start besides choosing their folder
// (program_folder.h): Qt's own texts in the user's language, and command
// line mistakes told in Russian.

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

namespace zuk {

// Installs Qt's translations of the given catalogs ("qtbase": file dialogs,
// standard buttons, Qt's error texts; "qtserialport") for the user's
// language (QLocale()), from Qt's translations folder (Debian package
// qt6-translations-l10n). Needs a QCoreApplication, which owns the
// translators. A language without translations keeps Qt's English. Returns
// how many catalogs were installed.
int installQtTranslations(const QStringList &catalogs = {QStringLiteral("qtbase")});

// The complaint of a parser whose parse() failed, in Russian: "неизвестный
// аргумент: --x", "нет значения у --dir", "лишнее значение у --help".
QString commandLineError(const QCommandLineParser &parser);

}  // namespace zuk
