#pragma once
// MSComm: the bus port over a serial device (QSerialPort), 19200 baud,
// 8 data bits, no parity, 1 stop bit, no flow control, raw bytes.
// See transfer/port.h for how the exchange logic is put on top of it.

#include "lines/line.h"

#include <QSerialPort>
#include <QString>
#include <QStringList>

namespace zuk {

class MSComm final : public BusLine {
    Q_OBJECT
public:
    using BusLine::open;
    explicit MSComm(QObject *parent = nullptr);
    ~MSComm() override;

    // Opens the device by name (/dev/ttyS0, /dev/ttyUSB0, COM3, a pty path),
    // for this program alone: a port another program holds is refused. On
    // failure *reason holds the reason in Russian with the system's words.
    // On Linux the driver is asked for low latency (no holding back of
    // received bytes) where it can give it.
    bool open(const QString &name, QString *reason, const OpenOptions &options) override;
    void close() override;
    bool isOpen() const override { return port_.isOpen(); }

    void output(const QByteArray &bytes) override;
    void endRequest() override;
    void drainInput() override;

private:
    void onReadyRead();
    void onBytesWritten();
    void onError(QSerialPort::SerialPortError error);

    QSerialPort port_;
    bool requestPending_ = false;   // a request not yet wholly handed to the driver
};

// One line per serial port the system knows: the name to give to --port
// (the device path; COMn on Windows), then description, manufacturer, serial
// number and USB vendor:product id, tab-separated (empty where unknown).
QStringList serialPortLines();
// The name to give to --port, from one of those lines.
QString portNameOfLine(const QString &line);

// The port remembered from the window's last choice (QSettings), or fallback.
QString rememberedPortName(const QString &fallback);
void rememberPortName(const QString &name);
// The last ports opened, newest first, at most kRecentPorts (the window's
// Порт menu offers them beside the ports of the system).
constexpr int kRecentPorts = 5;
QStringList recentPortNames();

}  // namespace zuk
