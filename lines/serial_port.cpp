#include "lines/serial_port.h"

#include "common/platform.h"
#include "common/program_folder.h"

#include <QFileInfo>
#include <QSerialPortInfo>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstring>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#endif

namespace zuk {

namespace {

QString inUse(const QString &detail)
{
    return QStringLiteral("порт занят: его держит другая программа (%1)").arg(detail);
}

}  // namespace

MSComm::MSComm(QObject *parent) : BusLine(parent)
{
    connect(&port_, &QSerialPort::readyRead, this, &MSComm::onReadyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &MSComm::onError);
    connect(&port_, &QSerialPort::bytesWritten, this, &MSComm::onBytesWritten);
}

MSComm::~MSComm()
{
    close();
}

bool MSComm::open(const QString &name, QString *reason, const OpenOptions &options)
{
    close();
    name_ = name;
    QString why;
    // QSerialPort takes a bare name as a device under /dev; a path (a pseudo-
    // terminal or a link to one) is used as it is.
    const QFileInfo info(name);
    port_.setPortName(info.isAbsolute() ? info.absoluteFilePath() : platform::normalPortName(name));
    if (!port_.open(QIODevice::ReadWrite)) {
        // The lock file of a port that another program holds shows as a
        // permission error about locking, in Qt's words of the language
        // installed (Russian: "Ошибка доступа в процессе блокировки устройства").
        if (port_.error() == QSerialPort::PermissionError
            && (port_.errorString().contains(QLatin1String("lock"))
                || port_.errorString() == QSerialPort::tr("Permission error while locking the device")))
            why = inUse(port_.errorString());
        else
            why = port_.errorString();
    } else if (!port_.setBaudRate(QSerialPort::Baud19200) || !port_.setDataBits(QSerialPort::Data8)
               || !port_.setParity(QSerialPort::NoParity) || !port_.setStopBits(QSerialPort::OneStop)
               || !port_.setFlowControl(QSerialPort::NoFlowControl)) {
        why = port_.errorString();
    } else if (lockExclusively(&why) && (!options.rs485 || enableRs485(&why))) {
        askLowLatency();
        port_.clear();
        return true;
    }
    if (reason)
        *reason = why;
    if (port_.isOpen())
        port_.close();
    return false;
}

bool MSComm::lockExclusively(QString *reason)
{
#ifdef Q_OS_LINUX
    // Besides the lock file, an advisory lock on the device itself, so that
    // no two runs (and no program that locks the same way) share one bus.
    if (::flock(int(port_.handle()), LOCK_EX | LOCK_NB) != 0) {
        *reason = inUse(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
#else
    Q_UNUSED(reason);   // Windows opens a COM port for one program only
#endif
    return true;
}

bool MSComm::enableRs485(QString *reason)
{
#ifdef Q_OS_LINUX
    // The driver's settings (the delays around sending, receiving while
    // sending, the bus termination) come from the driver or the device
    // tree: only the flags this line needs are changed.
    const int fd = int(port_.handle());
    serial_rs485 mode{};
    const char *call = "TIOCGRS485";
    if (::ioctl(fd, TIOCGRS485, &mode) == 0) {
        mode.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;   // RTS on while sending,
        mode.flags &= ~__u32(SER_RS485_RTS_AFTER_SEND);            // off again after sending
        call = "TIOCSRS485";
        if (::ioctl(fd, TIOCSRS485, &mode) == 0)
            return true;
    }
    *reason = QStringLiteral("драйвер не включил режим RS-485 (%1): %2")
                  .arg(QLatin1String(call), QString::fromLocal8Bit(std::strerror(errno)));
    return false;
#else
    *reason = QStringLiteral("режим RS-485 драйвера (--rs485) есть только в Linux");
    return false;
#endif
}

void MSComm::askLowLatency()
{
#ifdef Q_OS_LINUX
    // A USB adapter's driver may hold received bytes for some milliseconds
    // to fill a packet; every exchange would wait for that. Drivers that
    // have no such setting (a pseudo-terminal, a built-in UART) refuse, and
    // the line works as it is.
    const int fd = int(port_.handle());
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
#endif
}

void MSComm::close()
{
    requestPending_ = false;
    if (port_.isOpen())
        port_.close();
}

void MSComm::output(const QByteArray &bytes)
{
    if (port_.isOpen())
        port_.write(bytes);
}

void MSComm::endRequest()
{
    if (!port_.isOpen())
        return;
    // The pieces wait in QSerialPort's buffer; flush() writes them to the
    // driver now, before any receive event is handled.
    requestPending_ = true;
    port_.flush();
    onBytesWritten();
}

void MSComm::onBytesWritten()
{
    if (!requestPending_ || port_.bytesToWrite() > 0)
        return;   // the rest goes out when the driver takes it (bytesWritten)
    requestPending_ = false;
    reportWritten();
}

void MSComm::drainInput()
{
    if (!port_.isOpen())
        return;
#ifdef Q_OS_LINUX
    // Bytes the driver holds but no receive event has brought yet.
    pollfd p{int(port_.handle()), POLLIN, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN))
        port_.waitForReadyRead(0);   // reads them and raises readyRead at once
#endif
    if (port_.isOpen() && port_.bytesAvailable() > 0)
        onReadyRead();
}

void MSComm::onReadyRead()
{
    deliver(port_.readAll());
}

void MSComm::onError(QSerialPort::SerialPortError error)
{
    if (!port_.isOpen())
        return;
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError && error != QSerialPort::WriteError)
        return;
    // A serial line that fails like this has as a rule been hung up: the
    // adapter unplugged or reset. The system's own words follow.
    const QString reason = QStringLiteral("%1: адаптер отключён или линия оборвана (система: %2)")
                               .arg(error == QSerialPort::ResourceError ? QStringLiteral("устройство пропало")
                                    : error == QSerialPort::ReadError   ? QStringLiteral("ошибка чтения")
                                                                        : QStringLiteral("ошибка записи"),
                                    port_.errorString());
    port_.close();
    reportLost(reason);
}

QStringList serialPortLines()
{
    QStringList lines;
    for (const QSerialPortInfo &p : QSerialPortInfo::availablePorts()) {
        const QString name = platform::listedPortName(p.portName(), p.systemLocation());
        const QString usb = p.hasVendorIdentifier() && p.hasProductIdentifier()
                                ? QStringLiteral("%1:%2")
                                      .arg(p.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                                      .arg(p.productIdentifier(), 4, 16, QLatin1Char('0'))
                                : QString();
        QStringList fields{name, p.description(), p.manufacturer(), p.serialNumber(), usb};
        for (QString &f : fields)
            f.replace(QLatin1Char('\t'), QLatin1Char(' '));
        lines << fields.join(QLatin1Char('\t'));
    }
    return lines;
}

QString portNameOfLine(const QString &line)
{
    return line.section(QLatin1Char('\t'), 0, 0);
}

QString rememberedPortName(const QString &fallback)
{
    return programSettings(QStringLiteral("zuk_2")).value(QStringLiteral("port"), fallback).toString();
}

void rememberPortName(const QString &name)
{
    QSettings settings = programSettings(QStringLiteral("zuk_2"));
    settings.setValue(QStringLiteral("port"), name);
    QStringList recent = settings.value(QStringLiteral("recentPorts")).toStringList();
    recent.removeAll(name);
    recent.prepend(name);
    settings.setValue(QStringLiteral("recentPorts"), recent.mid(0, kRecentPorts));
}

QStringList recentPortNames()
{
    return programSettings(QStringLiteral("zuk_2")).value(QStringLiteral("recentPorts")).toStringList().mid(0, kRecentPorts);
}

}  // namespace zuk
