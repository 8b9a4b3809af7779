// The lines' system calls of transfer/line_system.h for Linux.

#include "lines/line_system.h"

#include <cerrno>
#include <cstring>

#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>

namespace zuk::line_system {

bool lockExclusively(SerialHandle handle, QString *detail)
{
    if (::flock(handle, LOCK_EX | LOCK_NB) != 0) {
        *detail = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

bool enableRs485(SerialHandle handle, QString *reason)
{
    // The driver's settings (the delays around sending, receiving while
    // sending, the bus termination) come from the driver or the device
    // tree: only the flags this line needs are changed.
    serial_rs485 mode{};
    const char *call = "TIOCGRS485";
    if (::ioctl(handle, TIOCGRS485, &mode) == 0) {
        mode.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;   // RTS on while sending,
        mode.flags &= ~__u32(SER_RS485_RTS_AFTER_SEND);            // off again after sending
        call = "TIOCSRS485";
        if (::ioctl(handle, TIOCSRS485, &mode) == 0)
            return true;
    }
    *reason = QStringLiteral("драйвер не включил режим RS-485 (%1): %2")
                  .arg(QLatin1String(call), QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

void askLowLatency(SerialHandle handle)
{
    // A USB adapter's driver may hold received bytes for some milliseconds
    // to fill a packet; every exchange would wait for that. Drivers that
    // have no such setting (a pseudo-terminal, a built-in UART) refuse, and
    // the line works as it is.
    serial_struct serial{};
    if (::ioctl(handle, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(handle, TIOCSSERIAL, &serial);
    }
}

bool serialInputWaiting(SerialHandle handle)
{
    pollfd p{handle, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

bool socketInputWaiting(qintptr descriptor)
{
    pollfd p{int(descriptor), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP));
}

}  // namespace zuk::line_system
