#include "transfer/line_trace.h"

namespace zuk {

bool LineTrace::open(const QString &path, QString *why, bool append)
{
    file_.close();
    file_.setFileName(path);
    // Unbuffered: every line goes to the system as it is written.
    if (!file_.open(QIODevice::WriteOnly | (append ? QIODevice::Append : QIODevice::Truncate) | QIODevice::Unbuffered)) {
        if (why)
            *why = file_.errorString();
        return false;
    }
    clock_.start();
    return true;
}

void LineTrace::beginRun(const QString &text)
{
    if (!file_.isOpen())
        return;
    clock_.start();   // the run begins with its line, at 0
    file_.write((lineText(0, '#', text) + QLatin1Char('\n')).toUtf8());
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
        file_.write((lineText(clock_.nsecsElapsed() / 1000, marker, text) + QLatin1Char('\n')).toUtf8());
}

}  // namespace zuk
