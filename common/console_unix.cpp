// The command line and the console of common/console.h for Linux and other
// POSIX systems.

#include "common/console.h"

#include <QFile>

#include <csignal>

#include <unistd.h>

namespace zuk::platform {

QStringList arguments(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QFile::decodeName(argv[i]);
    return args;
}

bool print(std::FILE *to, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
    return std::fflush(to) == 0;
}

bool stderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

void ignoreClosedOutput()
{
    std::signal(SIGPIPE, SIG_IGN);
}

void useSystemFontsOffscreen() {}

}  // namespace zuk::platform
