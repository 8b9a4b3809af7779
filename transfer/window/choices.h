#pragma once
// The choices made in the window's menus, remembered from one start to the
// next in the program's settings (common/program_folder.h, programSettings
// of "zuk_2"; the port and the folder are remembered there too, by
// rememberPortName and rememberProgramFolder).

#include "transfer/runs/run_settings.h"

#include <QString>

namespace zuk {

struct WindowChoices {
    bool fast = false;
    bool verify = false;
    bool skipSilent = true;   // on until the user switches it off
    bool reportOn = false;
    QString reportFile;   // the file chosen once for the reports; kept while they are off
    bool traceOn = false;
    QString traceFile;    // the file chosen once for the record of the line; kept while it is off
    bool changedOnly = false;   // Режим > Записывать только изменённое
    bool history = true;        // Режим > Хранить прежние образы в папке history (on for a new user)
    bool askBeforeWrite = true; // the question before a writing run, until "Больше не спрашивать"
};

WindowChoices rememberedWindowChoices();
void rememberWindowChoices(const WindowChoices &choices);

// The settings of a window start: what the command line gave (--fast,
// --verify, --report, --trace) wins for this start; what it left open comes from the
// remembered choices.
void addRememberedChoices(TransferSettings *settings, const WindowChoices &remembered);

}  // namespace zuk
