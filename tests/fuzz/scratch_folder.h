#pragma once
// The folder a fuzz target writes files into on every input: in memory
// (/dev/shm) where there is such a folder, so that no input waits for a disk.
// It is removed when the target ends normally (not after a crash).
#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>

inline QTemporaryDir *newScratchFolder(const QString &name)
{
    static QTemporaryDir *folder = nullptr;
    const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    folder = new QTemporaryDir(base + QLatin1Char('/') + name + QStringLiteral("_XXXXXX"));
    std::atexit([] { delete folder; });
    return folder;
}
