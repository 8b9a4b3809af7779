// The file calls of common/file_system.h for Windows.

#include "common/file_system.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>

#include <io.h>
#include <windows.h>

namespace zuk::platform {

namespace {

LPCWSTR wide(const QString &text) { return reinterpret_cast<LPCWSTR>(text.utf16()); }
QString nativePath(const QString &path) { return QDir::toNativeSeparators(path); }

// The system's own text for an error code, in the user's language.
QString systemText(DWORD code)
{
    wchar_t *buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                       | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    QString text = n ? QString::fromWCharArray(buffer, int(n)).trimmed() : QString();
    LocalFree(buffer);
    return QStringLiteral("%1 (код %2)").arg(text, QString::number(code));
}

// The cause of a failed call, in Russian where users meet it.
QString causeOf(DWORD code)
{
    switch (code) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return QStringLiteral("на диске нет места");
    case ERROR_WRITE_PROTECT:
        return QStringLiteral("диск доступен только для чтения");
    case ERROR_ACCESS_DENIED:
        return QStringLiteral("нет прав доступа");
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return QStringLiteral("файл открыт другой программой");
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return QStringLiteral("файл или папка не найдены");
    default:
        return systemText(code);
    }
}

}  // namespace

// ---- opening ----

struct SourceFile::State {
    QFile file;
};

SourceFile::SourceFile() : state_(std::make_unique<State>()) {}

SourceFile::~SourceFile() = default;

SourceFile::Opened SourceFile::open(const QString &path, QString *cause)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return Opened::NotRegular;
    state_->file.setFileName(path);
    if (!state_->file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        *cause = state_->file.errorString();
        return Opened::Failed;
    }
    return Opened::Ok;
}

qint64 SourceFile::size() const
{
    return state_->file.size();
}

qint64 SourceFile::read(char *to, qint64 n, QString *cause)
{
    qint64 got = 0;
    while (got < n) {
        const qint64 r = state_->file.read(to + got, n - got);
        if (r < 0 || state_->file.error() != QFileDevice::NoError) {
            *cause = state_->file.errorString();
            return -1;
        }
        if (r == 0)
            break;
        got += r;
    }
    return got;
}

bool openForWriting(QFile &file, const QString &path, bool append, QString *cause)
{
    // No open blocks here: a file, a device or a pipe opens at once or fails.
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | (append ? QIODevice::Append : QIODevice::Truncate) | QIODevice::Unbuffered)) {
        *cause = file.errorString();
        return false;
    }
    return true;
}

// ---- the atomic save: flushing and renaming ----

bool syncToDisk(QFileDevice &file, QString *cause)
{
    if (!FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle())))) {
        *cause = QStringLiteral("данные не записаны на диск: %1").arg(causeOf(GetLastError()));
        return false;
    }
    return true;
}

void syncFolder(const QString &)
{
    // MOVEFILE_WRITE_THROUGH: a rename is on the disk when it returns.
}

bool renameReplacing(const QString &from, const QString &to, QString *cause)
{
    if (!MoveFileExW(wide(nativePath(from)), wide(nativePath(to)), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *cause = causeOf(GetLastError());
        return false;
    }
    return true;
}

bool renameNoReplace(const QString &from, const QString &to, bool *taken, QString *cause)
{
    if (!MoveFileExW(wide(nativePath(from)), wide(nativePath(to)), MOVEFILE_WRITE_THROUGH)) {
        const DWORD e = GetLastError();
        *taken = e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS;
        *cause = causeOf(e);
        return false;
    }
    return true;
}

// ---- names, links and real paths ----

QString realFolder(const QString &folder)
{
    const QString real = QFileInfo(folder).canonicalFilePath();
    return !real.isEmpty() && QFileInfo(real).isDir() ? real : QString();
}

bool followLinks(const QString &path, QString *end)
{
    constexpr int kMaxLinks = 40;
    QString p = path;
    for (int hops = 0; QFileInfo(p).isSymbolicLink(); ++hops) {
        if (hops == kMaxLinks)
            return false;
        p = QFileInfo(p).symLinkTarget();
    }
    *end = p;
    return true;
}

bool sameFile(const QString &a, const QString &b)
{
    auto identity = [](const QString &path, BY_HANDLE_FILE_INFORMATION *info) {
        const HANDLE h = CreateFileW(wide(nativePath(path)), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        const bool ok = GetFileInformationByHandle(h, info) != 0;
        CloseHandle(h);
        return ok;
    };
    BY_HANDLE_FILE_INFORMATION ia {}, ib {};
    return identity(a, &ia) && identity(b, &ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber
           && ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

Qt::CaseSensitivity fileNameCase()
{
    return Qt::CaseInsensitive;
}

}  // namespace zuk::platform
