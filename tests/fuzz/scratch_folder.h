#pragma once
// The folder a fuzz target writes files into on every input: in memory
// (/dev/shm) where there is such a folder, so that no input waits for a disk.
#include <QDir>
#include <QTemporaryDir>

inline QTemporaryDir *newScratchFolder(const QString &name)
{
    const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    return new QTemporaryDir(base + QLatin1Char('/') + name + QStringLiteral("_XXXXXX"));
}
