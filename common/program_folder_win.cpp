// Where the settings of common/program_folder.h live on Windows: the
// registry under HKEY_CURRENT_USER\Software, INI files for the tests that ask.

#include "common/program_folder.h"

namespace zuk::platform {

namespace {
bool settingsFiles = false;
}

QSettings::Format settingsFormat()
{
    return settingsFiles ? QSettings::IniFormat : QSettings::NativeFormat;
}

void useSettingsFilesForTests()
{
    settingsFiles = true;
}

}  // namespace zuk::platform
