// Where the settings of common/program_folder.h live on Linux and other POSIX
// systems: INI files under ~/.config.

#include "common/program_folder.h"

namespace zuk::platform {

QSettings::Format settingsFormat()
{
    return QSettings::IniFormat;
}

void useSettingsFilesForTests() {}

}  // namespace zuk::platform
