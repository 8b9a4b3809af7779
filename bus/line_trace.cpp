#include "bus/line_trace.h"

#include "common/file_system.h"

#include <QFileInfo>

namespace zuk {

bool LineTrace::open(const QString &path, QString *why, bool append)
{
    file_.close();
    failure_.clear();
    // Never blocks: a FIFO with no reader would hold the open until one
    // came, deaf to every signal (common/file_system.h).
    QString reason;
    if (!platform::openForWriting(file_, path, append, &reason)) {
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
