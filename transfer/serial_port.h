#pragma once
// MSComm: the bus port over a serial device (QSerialPort), 19200 baud,
// 8 data bits, no parity, 1 stop bit, no flow control, raw bytes.
// See transfer/port.h for how the exchange logic is put on top of it.

#include "transfer/port.h"

#include <QObject>
#include <QSerialPort>
#include <QString>

namespace zuk {

// The port used when none is named: the first serial port of the system.
inline QString defaultPortName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM1");
#else
    return QStringLiteral("/dev/ttyS0");
#endif
}

class MSComm : public QObject, public BusPort {
    Q_OBJECT
public:
    explicit MSComm(QObject *parent = nullptr);
    ~MSComm() override;

    // Opens the device by name (/dev/ttyS0, /dev/ttyUSB0, COM3, a pty path).
    // On failure *reason holds the system's reason.
    bool open(const QString &name, QString *reason);
    void close();
    bool isOpen() const { return port_.isOpen(); }
    QString name() const { return name_; }

    void output(const QByteArray &bytes) override;

private:
    void onReadyRead();

    QSerialPort port_;
    QString name_;
};

}  // namespace zuk
