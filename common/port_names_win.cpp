// The serial ports' names of common/port_names.h for Windows: COM1 ... COM256.

#include "common/port_names.h"

#include <QRegularExpression>

namespace zuk::platform {

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

}  // namespace zuk::platform
