// The lines' system calls of transfer/line_system.h for Windows: Qt's serial
// port and socket do what they need.

#include "lines/line_system.h"

namespace zuk::line_system {

bool lockExclusively(SerialHandle, QString *)
{
    return true;   // Windows opens a COM port for one program only
}

bool enableRs485(SerialHandle, QString *reason)
{
    *reason = QStringLiteral("режим RS-485 драйвера (--rs485) есть только в Linux");
    return false;
}

void askLowLatency(SerialHandle) {}

bool serialInputWaiting(SerialHandle)
{
    return false;
}

bool socketInputWaiting(qintptr)
{
    return false;
}

}  // namespace zuk::line_system
