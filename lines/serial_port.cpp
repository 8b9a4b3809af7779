#include "lines/serial_port.h"

#include "lines/line_system.h"

#include "common/port_names.h"
#include "common/program_folder.h"

#include <QFileInfo>
#include <QSerialPortInfo>

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
    } else if (QString detail; !line_system::lockExclusively(port_.handle(), &detail)) {
        why = inUse(detail);
    } else if (!options.rs485 || line_system::enableRs485(port_.handle(), &why)) {
        line_system::askLowLatency(port_.handle());
        port_.clear();
        return true;
    }
    if (reason)
        *reason = why;
    if (port_.isOpen())
        port_.close();
    return false;
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
    // Bytes the driver holds but no receive event has brought yet.
    if (line_system::serialInputWaiting(port_.handle()))
        port_.waitForReadyRead(0);   // reads them and raises readyRead at once
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
