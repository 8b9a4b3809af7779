#pragma once
// Paths as the files of common/files.h take them apart: as text, never
// cleaned, since "link/../x" means what the system makes of it, which
// cleaning would change when "link" is a link. For the files_*.cpp and
// installation_files.cpp of common/ only.

#include <QString>

namespace zuk::file_paths {

// A path as a message shows it: the system's separators, control
// characters made visible, at most 200 characters.
QString native(const QString &path);
// The folder part of a path ("." for a bare name, "/" at the root) and its
// last name.
QString folderOf(const QString &path);
QString nameOf(const QString &path);
QString joined(const QString &folder, const QString &name);

}  // namespace zuk::file_paths
