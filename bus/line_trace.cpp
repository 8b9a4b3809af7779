#include "bus/line_trace.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zuk {

bool LineTrace::open(const QString &path, QString *why, bool append)
{
    file_.close();
    failure_.clear();
    file_.setFileName(path);
    QString reason;
#ifdef Q_OS_UNIX
    // Never blocks: a FIFO with no reader would hold open() until one
    // came, deaf to every signal. A FIFO or a socket is refused; a device
    // (/dev/null, a terminal) is written without blocking.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC) | O_NONBLOCK | O_CLOEXEC, 0666);
    struct stat st {};
    if (fd < 0) {
        reason = errno == ENXIO ? QStringLiteral("это канал (FIFO), а не файл") : QString::fromLocal8Bit(std::strerror(errno));
    } else if (::fstat(fd, &st) != 0 || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
        reason = QStringLiteral("это канал (FIFO) или сокет, а не файл");
        ::close(fd);
    } else {
        if (S_ISREG(st.st_mode))
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        // Unbuffered: every line goes to the system as it is written.
        if (!file_.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
            reason = file_.errorString();
            ::close(fd);
        }
    }
#else
    if (!file_.open(QIODevice::WriteOnly | (append ? QIODevice::Append : QIODevice::Truncate) | QIODevice::Unbuffered))
        reason = file_.errorString();
#endif
    if (!reason.isEmpty()) {
        if (why)
            *why = reason;
        return false;
    }
    clock_.start();
    return true;
}

bool LineTrace::close()
{
    if (!file_.isOpen())
        return failure_.isEmpty();
    if (!file_.flush() && failure_.isEmpty())
        failure_ = file_.errorString();
    file_.close();
    if (file_.error() != QFileDevice::NoError && failure_.isEmpty())
        failure_ = file_.errorString();
    return failure_.isEmpty();
}

void LineTrace::beginRun(const QString &text)
{
    if (!file_.isOpen())
        return;
    clock_.start();   // the run begins with its line, at 0
    write(lineText(0, '#', text));
}

QString LineTrace::lineText(qint64 microseconds, char marker, const QString &text)
{
    return QString::number(microseconds / 1000000) + QLatin1Char('.')
           + QString::number(microseconds % 1000000).rightJustified(6, QLatin1Char('0')) + QLatin1Char(' ')
           + QLatin1Char(marker) + QLatin1Char(' ') + text;
}

void LineTrace::bytesLine(char marker, const QByteArray &bytes)
{
    if (!bytes.isEmpty())
        line(marker, QString::fromLatin1(bytes.toHex(' ').toUpper()));
}

void LineTrace::line(char marker, const QString &text)
{
    if (file_.isOpen())
        write(lineText(clock_.nsecsElapsed() / 1000, marker, text));
}

void LineTrace::write(const QString &line)
{
    if (!failure_.isEmpty())
        return;   // the record has a hole already: nothing after it is worth a line
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    if (file_.write(bytes) != bytes.size())
        failure_ = file_.errorString().isEmpty() ? QStringLiteral("строка записана не целиком") : file_.errorString();
}

}  // namespace zuk
