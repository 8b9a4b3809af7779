// The copy of missing reference files from the sample installation at
// start-up: never over a file that exists; the name files are made empty of
// names, as a save of an installation without names writes them.
#include "editor/core/form.h"
#include "editor/core/installation_files.h"

#include "common/files.h"
#include "common/text_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace kalvet {

using namespace files;

namespace {

bool present(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();   // a dangling link is no gap to fill
}

// The scenario codes of a scenario file (its last section, as a load leaves
// them in Label14); "F0", as the window starts, where it has none.
QStringList scenarioCodesOf(const QString &path)
{
    QStringList codes(kScenarios, QStringLiteral("F0"));
    QByteArray bytes;
    QString error;
    if (!zuk::readFileBytes(path, &bytes, &error))
        return codes;
    zuk::ItemReader reader = zuk::ItemReader::fromBytes(bytes);
    QString item;
    for (int c = 0; c < kControllers && reader.readText(&item); ++c)
        for (int s = 0; s < kScenarios && reader.readText(&item); ++s) {
            codes[s] = item;
            if (!reader.readText(&item))
                return codes;
        }
    return codes;
}

bool writeNewFile(const QString &path, const QByteArray &bytes, QString *error)
{
    QFile file(path);
    // NewOnly: a file that came into being meanwhile is not replaced.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(bytes) != bytes.size()
        || !file.flush()) {
        *error = QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), file.errorString());
        return false;
    }
    return true;
}

}  // namespace

QStringList EditorForm::missingInstallationFiles() const
{
    QStringList missing;
    for (const QString &name : kReferenceFiles + kNameFiles)
        if (!present(filePath(name)))
            missing << name;
    return missing;
}

bool EditorForm::copyMissingFiles(QStringList *written, QString *error) const
{
    const QDir sample(sample_);
    QStringList failed;
    for (const QString &name : missingInstallationFiles()) {
        const QString to = filePath(name);
        QString why;
        bool ok;
        if (kNameFiles.contains(name)) {
            // Empty of names, as a save of an installation without names
            // writes it; the scenario codes are the sample's.
            QByteArray bytes;
            const NameTables none;
            ok = name == QStringLiteral("szenar.txt")
                     ? scenarioFileBytes(none, scenarioCodesOf(sample.filePath(name)), &bytes, &why)
                     : namesFileBytes(none, &bytes, &why);
            ok = ok && writeNewFile(to, bytes, &why);
        } else {
            // QFile::copy never replaces a file that exists.
            QFile from(sample.filePath(name));
            ok = from.copy(to);
            if (!ok)
                why = QStringLiteral("%1: %2").arg(name, from.errorString());
        }
        if (ok)
            *written << name;
        else
            failed << why;
    }
    if (!failed.isEmpty())
        *error = failed.join(QStringLiteral("; "));
    return failed.isEmpty();
}

void EditorForm::offerMissingFiles()
{
    if (sample_.isEmpty() || !host_ || !QFileInfo(sample_).isDir()
        || QFileInfo(sample_).canonicalFilePath() == QFileInfo(folder_).canonicalFilePath())
        return;
    const QStringList missing = missingInstallationFiles();
    if (std::none_of(missing.begin(), missing.end(), [](const QString &n) { return kReferenceFiles.contains(n); }))
        return;
    const QString question =
        QStringLiteral("В папке %1 нет файлов установки:\n%2\n\n"
                       "Скопировать недостающие файлы из образца установки (%3)?\n"
                       "Файлы, которые в папке есть, не заменяются; zuk.txt не создаётся, "
                       "недостающие файлы имён создаются без имён.\n"
                       "«Нет» — продолжить без них.")
            .arg(QDir::toNativeSeparators(folder_), missing.join(QStringLiteral(", ")),
                 QDir::toNativeSeparators(sample_));
    if (!host_->confirm(question))
        return;
    QStringList written;
    QString error;
    if (!copyMissingFiles(&written, &error))
        host_->message(QStringLiteral("Не все файлы скопированы: %1.\nСкопированы: %2.")
                           .arg(error, written.isEmpty() ? QStringLiteral("ни одного") : written.join(QStringLiteral(", "))));
}

}  // namespace kalvet
