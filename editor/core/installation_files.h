#pragma once
// The files of an installation as the editor reads and writes them: their
// names, how many items each must hold, where the delay boxes lie in the
// image, the builders of the two name files and the words of a failed read.
#include "common/text_file.h"
#include "editor/core/form.h"

#include <QString>
#include <QStringList>

namespace kalvet::files {

constexpr int kControllers = 16;       // controllers in the names and scenario files
constexpr int kNameLines = 16;
constexpr int kScenarios = 38;
constexpr int kDelayTexts = 254;

inline const QString kSectionHeader = QStringLiteral("Адрес контроллера - ");
inline const QStringList kDataFiles = {QStringLiteral("zuk.txt"), QStringLiteral("szenar.txt"),
                                       QStringLiteral("out_in_ik.txt")};
inline const QStringList kNameFiles = {QStringLiteral("out_in_ik.txt"), QStringLiteral("szenar.txt")};
inline const QStringList kReferenceFiles = {QStringLiteral("adres.ini"),  QStringLiteral("timer.ini"),
                                            QStringLiteral("opis_0.ini"), QStringLiteral("in_0.ini"),
                                            QStringLiteral("ff.ini"),     QStringLiteral("bisnes.ini"),
                                            QStringLiteral("uslov_0.ini")};

// Items each file must hold.
constexpr int kAdresItems = 8 * 3;
constexpr int kNamesItems = kControllers * (2 + kNameLines * 4);
constexpr int kScenarioItems = kControllers * (1 + kScenarios * 2);
constexpr int kOpisItems = kRecordCount * (1 + RecordLine::kCount);

// Delay box d shows byte kDelayByte[d] of row kDelayRow[d].
constexpr int kDelayRow[12] = {58, 58, 58, 58, 58, 58, 58, 59, 59, 59, 59, 59};
constexpr int kDelayByte[12] = {1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 5};

// What went wrong while reading the items of a file that needs `needed` items.
// place: where in the file that is, in words (may be empty).
QString readFailure(const QString &name, const zuk::ItemReader &reader, int needed, const QString &place = {});

// szenar.txt and out_in_ik.txt for the tables: all 16 controllers, the
// scenario codes in every section.
bool scenarioFileBytes(const NameTables &names, const QStringList &codes, QByteArray *out, QString *error);
bool namesFileBytes(const NameTables &names, QByteArray *out, QString *error);

}  // namespace kalvet::files
