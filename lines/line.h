#pragma once
// The lines a bus port can run over, all of one shape: opened by a name,
// closed, asked whether open. A serial device (MSComm, serial_port.h), a
// transparent TCP port of a serial server (tcp://HOST:PORT) or a Telnet
// server with the COM-PORT option (rfc2217://HOST:PORT, rfc2217_line.h).
//
//     zuk::Line line;                         // whatever the name names
//     QString why;
//     if (!line.open("rfc2217://10.0.0.7:4002", &why)) ...   // Russian reason
//     zuk::BusExchange bus(line);

#include "bus/port.h"

#include <QObject>
#include <QString>

#include <memory>

namespace zuk {

class BusLine : public QObject, public BusPort {
    Q_OBJECT
public:
    struct OpenOptions {
        bool rs485 = false;           // switch the driver into its RS-485 mode (serial, Linux)
        int connectTimeoutMs = 5000;  // a network line: connection and negotiation together
    };

    explicit BusLine(QObject *parent = nullptr) : QObject(parent) {}

    // Opens the line; on failure *reason holds why, in Russian.
    virtual bool open(const QString &name, QString *reason, const OpenOptions &options) = 0;
    bool open(const QString &name, QString *reason) { return open(name, reason, OpenOptions{}); }
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    QString name() const { return name_; }

protected:
    QString name_;
};

// LineKind and lineKindOf: port.h.
// A new, closed line of the kind the name asks for.
std::unique_ptr<BusLine> makeLine(const QString &name);

// The line the front ends hold: each open() makes the line the name asks
// for (makeLine) and passes its bytes, hang-ups and written requests on,
// so that an exchange bound to it goes on over whatever is opened next.
class Line final : public BusLine {
    Q_OBJECT
public:
    using BusLine::open;
    explicit Line(QObject *parent = nullptr);
    ~Line() override;

    bool open(const QString &name, QString *reason, const OpenOptions &options) override;
    void close() override;
    bool isOpen() const override { return line_ && line_->isOpen(); }

    void output(const QByteArray &bytes) override;
    void endRequest() override;
    void drainInput() override;

private:
    std::unique_ptr<BusLine> line_;
};

}  // namespace zuk
