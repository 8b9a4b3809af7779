// The system interface of common/platform.h for Linux and other POSIX systems.

#include "common/platform.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zuk::platform {

namespace {

// The cause of a failed system call, in Russian where users meet it.
QString causeOf(int err)
{
    switch (err) {
    case ENOSPC:
        return QStringLiteral("на диске нет места");
#ifdef EDQUOT
    case EDQUOT:
        return QStringLiteral("исчерпана дисковая квота");
#endif
    case EROFS:
        return QStringLiteral("диск доступен только для чтения");
    case EACCES:
    case EPERM:
        return QStringLiteral("нет прав доступа");
    case ENOENT:
        return QStringLiteral("файл или папка не найдены");
    case EIO:
        return QStringLiteral("ошибка ввода-вывода");
    case ELOOP:
        return QStringLiteral("слишком много символических ссылок");
    case EISDIR:
        return QStringLiteral("это папка");
    default:
        return QString::fromLocal8Bit(std::strerror(err));
    }
}

QByteArray encoded(const QString &path) { return QFile::encodeName(path); }

}  // namespace

// ---- the command line and the console ----

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

void useSystemFontsOffscreen() {}

// ---- the stop signals ----

namespace {

std::atomic<int> firstSignal{0};
std::atomic<int> signalCount{0};
bool installed = false;

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Made once and never closed: the handlers outlive everything else.
// Non-blocking, so that the handler never waits for a full pipe (a byte
// already in it wakes the loop all the same).
int signalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int sig)
{
    const int savedErrno = errno;
    int none = 0;
    firstSignal.compare_exchange_strong(none, sig);
    ++signalCount;
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
    errno = savedErrno;
}

}  // namespace

int installStopSignals()
{
    if (installed)
        return signalPipe[0];
    if (::pipe(signalPipe) != 0)
        return -1;
    for (int fd : signalPipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;   // a write of a file goes on after the handler
    for (int sig : kStopSignals)
        ::sigaction(sig, &sa, nullptr);
    installed = true;
    return signalPipe[0];
}

void drainStopSignals()
{
    char bytes[64];
    while (signalPipe[0] >= 0 && ::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
}

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
    const int fd = installStopSignals();
    if (fd < 0)
        return nullptr;
    auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [onSignal = std::move(onSignal)] {
        drainStopSignals();
        onSignal();
    });
    return notifier;
}

// ---- files ----

struct SourceFile::State {
    int fd = -1;
    qint64 size = 0;
};

SourceFile::SourceFile() : state_(std::make_unique<State>()) {}

SourceFile::~SourceFile()
{
    if (state_->fd >= 0)
        ::close(state_->fd);
}

SourceFile::Opened SourceFile::open(const QString &path, QString *cause)
{
    state_->fd = ::open(encoded(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (state_->fd < 0) {
        *cause = causeOf(errno);
        return Opened::Failed;
    }
    struct stat st {};
    if (::fstat(state_->fd, &st) != 0 || !S_ISREG(st.st_mode))
        return Opened::NotRegular;
    state_->size = st.st_size;
    return Opened::Ok;
}

qint64 SourceFile::size() const
{
    return state_->size;
}

qint64 SourceFile::read(char *to, qint64 n, QString *cause)
{
    qint64 got = 0;
    while (got < n) {
        const ssize_t r = ::read(state_->fd, to + got, size_t(n - got));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0) {
            *cause = causeOf(errno);
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
    int rc;
    do
        rc = ::fsync(file.handle());
    while (rc != 0 && errno == EINTR);   // a signal that only stops a run
    if (rc != 0) {
        *cause = causeOf(errno);
        return false;
    }
    return true;
}

void syncFolder(const QString &folder)
{
#ifdef O_DIRECTORY
    const int fd = ::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(folder);
#endif
}

bool renameReplacing(const QString &from, const QString &to, QString *cause)
{
    if (::rename(encoded(from).constData(), encoded(to).constData()) != 0) {
        *cause = causeOf(errno);
        return false;
    }
    return true;
}

bool renameNoReplace(const QString &from, const QString &to, bool *taken, QString *cause)
{
    // A hard link is made only where no name exists; then the temporary goes.
    if (::link(encoded(from).constData(), encoded(to).constData()) != 0) {
        *taken = errno == EEXIST;
        *cause = causeOf(errno);
        return false;
    }
    ::unlink(encoded(from).constData());
    return true;
}

QString realFolder(const QString &folder)
{
    char *resolved = ::realpath(encoded(folder).constData(), nullptr);
    if (!resolved)
        return QString();
    const QString real = QFile::decodeName(resolved);
    ::free(resolved);
    return QFileInfo(real).isDir() ? real : QString();
}

bool followLinks(const QString &path, QString *end)
{
    constexpr int kMaxLinks = 40;
    QByteArray p = encoded(path);
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(p.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        if (hops == kMaxLinks)
            return false;
        QByteArray target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(p.constData(), target.data(), size_t(target.size()));
        if (n < 0)
            break;
        target.truncate(n);
        if (!target.startsWith('/')) {
            const qsizetype at = p.lastIndexOf('/');
            target = (at < 0 ? QByteArray(".") : at == 0 ? QByteArray("") : p.left(at)) + '/' + target;
        }
        p = target;
    }
    *end = QFile::decodeName(p);
    return true;
}

bool sameFile(const QString &a, const QString &b)
{
    struct stat sa {}, sb {};
    return ::stat(encoded(a).constData(), &sa) == 0 && ::stat(encoded(b).constData(), &sb) == 0
           && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

Qt::CaseSensitivity fileNameCase()
{
#ifdef Q_OS_MACOS
    return Qt::CaseInsensitive;
#else
    return Qt::CaseSensitive;
#endif
}

// ---- the serial line and the settings ----

QString defaultPortName()
{
    return QStringLiteral("/dev/ttyS0");
}

QString listedPortName(const QString &, const QString &systemLocation)
{
    return systemLocation;
}

QString normalPortName(const QString &typed)
{
    return typed;
}

QSettings::Format settingsFormat()
{
    return QSettings::IniFormat;
}

void useSettingsFilesForTests() {}

}  // namespace zuk::platform
