#include "sim/pty.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace zuk::sim {

namespace {

QString systemText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

}  // namespace

bool openPty(Pty *pty, QString *error)
{
    char name[256] = {};
    if (::openpty(&pty->master, &pty->slave, name, nullptr, nullptr) != 0) {
        *error = QStringLiteral("openpty failed: %1").arg(systemText());
        return false;
    }
    termios tio{};
    ::tcgetattr(pty->slave, &tio);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B19200);
    ::cfsetospeed(&tio, B19200);
    ::tcsetattr(pty->slave, TCSANOW, &tio);
    ::fcntl(pty->master, F_SETFL, ::fcntl(pty->master, F_GETFL) | O_NONBLOCK);
    pty->path = name;
    return true;
}

void closePty(Pty *pty)
{
    for (int *fd : {&pty->slave, &pty->master})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
}

bool linkPty(const Pty &pty, const QString &link, QString *error)
{
    const QByteArray path = QFile::encodeName(link);
    if (QFileInfo(link).isSymLink())
        ::unlink(path.constData());
    if (::symlink(pty.path.constData(), path.constData()) != 0) {
        *error = QStringLiteral("cannot make link %1: %2").arg(link, systemText());
        return false;
    }
    return true;
}

void unlinkPty(const Pty &pty, const QString &link)
{
    if (QFileInfo(link).symLinkTarget() == QFile::decodeName(pty.path))
        ::unlink(QFile::encodeName(link).constData());
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, bytes.size() - done);
        if (n > 0) {
            done += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 50);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace zuk::sim
