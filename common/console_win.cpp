// The command line and the console of common/console.h for Windows.

#include "common/console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

namespace zuk::platform {

namespace {

LPCWSTR wide(const QString &text) { return reinterpret_cast<LPCWSTR>(text.utf16()); }

}  // namespace

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

void ignoreClosedOutput()
{
    // No SIGPIPE: a write into a closed pipe fails and the program goes on.
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

}  // namespace zuk::platform
