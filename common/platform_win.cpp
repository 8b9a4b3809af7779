// The system interface of common/platform.h for Windows.

#include "common/platform.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QRegularExpression>
#include <QWinEventNotifier>

#include <atomic>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

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

// ---- the command line and the console ----

QStringList arguments(int, char **)
{
    // The command line as the system keeps it, in UTF-16: argv holds it in
    // the ANSI code page, where Cyrillic may have no bytes.
    int n = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &n);
    QStringList args;
    for (int i = 1; i < n; ++i)
        args << QString::fromWCharArray(argv[i]);
    LocalFree(argv);
    return args;
}

bool print(std::FILE *to, const QString &text)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(to)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        // A console: the text itself, whatever the console's code page; the
        // progress line's escape sequences drawn as on a terminal.
        std::fflush(to);
        SetConsoleMode(handle, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
        DWORD written = 0;
        return WriteConsoleW(handle, wide(text), DWORD(text.size()), &written, nullptr) != 0;
    }
    // A file or a pipe: the UTF-8 bytes, \n as it is (the stream is binary),
    // so that the output is the same as on Linux.
    static const bool binary = [] {
        _setmode(_fileno(stdout), _O_BINARY);
        _setmode(_fileno(stderr), _O_BINARY);
        return true;
    }();
    Q_UNUSED(binary);
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
    return std::fflush(to) == 0;
}

bool stderrIsTerminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void useSystemFontsOffscreen()
{
    if (qEnvironmentVariableIsSet("QT_QPA_FONTDIR"))
        return;
    wchar_t windows[MAX_PATH] = {};
    const UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
    if (n > 0 && n < MAX_PATH)
        qputenv("QT_QPA_FONTDIR", (QString::fromWCharArray(windows, int(n)) + QStringLiteral("\\Fonts")).toLocal8Bit());
}

// ---- the stop signals ----

namespace {

// SIGHUP as on POSIX: the console the program ran in was closed.
constexpr int kConsoleClosed = 1;

std::atomic<int> firstSignal{0};
std::atomic<int> signalCount{0};
HANDLE signalEvent = nullptr;   // set by the handler, watched by the event loop
std::atomic<bool> exiting{false};

void record(int sig)
{
    int none = 0;
    firstSignal.compare_exchange_strong(none, sig);
    ++signalCount;
    SetEvent(signalEvent);
}

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        record(SIGINT);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The system ends the process as soon as this returns (at the latest
        // after some seconds): the run stops after its exchange and writes
        // what it has while this waits; the program's exit ends the wait.
        record(kConsoleClosed);
        for (int i = 0; i < 100 && !exiting; ++i)
            Sleep(50);
        return TRUE;
    default:
        return FALSE;
    }
}

extern "C" void onTerminate(int sig)
{
    std::signal(sig, onTerminate);   // the runtime resets it to the default action
    record(sig);
}

}  // namespace

int installStopSignals()
{
    if (!signalEvent) {
        signalEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        SetConsoleCtrlHandler(onConsoleEvent, TRUE);
        std::signal(SIGTERM, onTerminate);
        std::atexit([] { exiting = true; });
    }
    return -1;
}

void drainStopSignals() {}

int caughtStopSignal()
{
    return firstSignal.load();
}

int stopSignalCount()
{
    return signalCount.load();
}

std::unique_ptr<QObject> watchStopSignals(std::function<void()> onSignal)
{
    installStopSignals();
    auto notifier = std::make_unique<QWinEventNotifier>(signalEvent);
    QObject::connect(notifier.get(), &QWinEventNotifier::activated, [onSignal = std::move(onSignal)] { onSignal(); });
    return notifier;
}

// ---- files ----

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

// ---- the serial line and the settings ----

QString defaultPortName()
{
    return QStringLiteral("COM1");
}

QString listedPortName(const QString &portName, const QString &)
{
    return portName;
}

QString normalPortName(const QString &typed)
{
    static const QRegularExpression com(QStringLiteral("^(?:\\\\\\\\\\.\\\\)?COM([1-9][0-9]{0,2})$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = com.match(typed);
    if (!m.hasMatch() || m.captured(1).toInt() > 256)
        return typed;
    return QStringLiteral("COM") + m.captured(1);
}

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
