#pragma once
// Command line of kalvet:
//   kalvet [--dir FOLDER]                       the window
//   kalvet --export FILE [--dir FOLDER]         the installation on paper
//   kalvet --diff FILE_A FILE_B [--dir FOLDER]  differences of two images
//   kalvet --help | --version
// Read before the window system is touched, so that --help and mistakes are
// answered without a display.

#include <QString>
#include <QStringList>

namespace kalvet {

struct KalvetOptions {
    enum class Mode { Window, Help, Export, Diff, Version };
    Mode mode = Mode::Window;
    QString dir;          // empty: see common/program_folder.h
    QString exportFile;
    QString diffA, diffB;
};

// Parses the arguments (without the program name); on failure *error says
// in Russian what is wrong.
bool parseKalvetOptions(const QStringList &args, KalvetOptions *out, QString *error);

// The text of --help, in Russian.
QString kalvetUsage();

}  // namespace kalvet
