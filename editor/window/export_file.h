#pragma once
// The installation on paper: a PDF (QPdfWriter with QTextDocument, which
// needs a QGuiApplication) or an HTML file, by the file's ending.

#include "editor/core/installation_view.h"

#include <QString>

namespace kalvet {

// Writes view to path: ".pdf" a PDF, ".html" or ".htm" an HTML file (UTF-8).
// A file of the installation is never written. False, with *error in
// Russian, when the file was not written.
bool writeInstallationFile(const InstallationView &view, const QString &path, QString *error);

}  // namespace kalvet
