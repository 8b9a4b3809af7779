// The serial ports' names of common/port_names.h for Linux and other POSIX
// systems: device paths.

#include "common/port_names.h"

namespace zuk::platform {

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

}  // namespace zuk::platform
