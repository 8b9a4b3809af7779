// The file calls of common/file_system.h for Linux and other POSIX systems.

#include "common/file_system.h"

#include <QFile>
#include <QFileDevice>
#include <QFileInfo>

#include <cerrno>
#include <climits>
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

// ---- opening ----

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

bool openForWriting(QFile &file, const QString &path, bool append, QString *cause)
{
    file.setFileName(path);
    const int fd = ::open(encoded(path).constData(),
                          O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC) | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        *cause = errno == ENXIO ? QStringLiteral("это канал (FIFO), а не файл") : QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
        *cause = QStringLiteral("это канал (FIFO) или сокет, а не файл");
        ::close(fd);
        return false;
    }
    if (S_ISREG(st.st_mode))
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        *cause = file.errorString();
        ::close(fd);
        return false;
    }
    return true;
}

// ---- the atomic save: flushing and renaming ----

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

// ---- names, links and real paths ----

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

}  // namespace zuk::platform
