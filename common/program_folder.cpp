#include "common/program_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace zuk {

namespace {

const QString kFolderKey = QStringLiteral("folder");

}  // namespace

QSettings programSettings(const QString &program)
{
    return QSettings(platform::settingsFormat(), QSettings::UserScope, QStringLiteral("zuk"), program);
}

QString rememberedProgramFolder(const QString &program)
{
    const QString folder = programSettings(program).value(kFolderKey).toString();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return {};
    return folder;
}

void rememberProgramFolder(const QString &program, const QString &folder)
{
    QSettings settings = programSettings(program);
    settings.setValue(kFolderKey, QDir(folder).absolutePath());
    settings.sync();
}

ProgramFolder resolveProgramFolder(const ProgramFolderQuery &query)
{
    using Source = ProgramFolder::Source;
    if (!query.given.isEmpty()) {
        const QString folder = QDir(query.given).absolutePath();
        if (QFileInfo(folder).isDir())   // a folder that is not there is no choice to keep
            rememberProgramFolder(query.program, folder);
        return {Source::Given, folder};
    }
    if (QFileInfo::exists(QDir(query.programDir).filePath(query.marker)))
        return {Source::Program, QDir(query.programDir).absolutePath()};
    if (const QString remembered = rememberedProgramFolder(query.program); !remembered.isEmpty())
        return {Source::Remembered, remembered};
    if (query.window)
        return {Source::Ask, {}};
    return {Source::Current, QDir(query.currentDir).absolutePath()};
}

}  // namespace zuk
