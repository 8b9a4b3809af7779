#pragma once
// NetLine: the bus over a TCP connection to a serial server (a gateway in
// front of the RS-485 line). Raw: the connection carries the line's bytes
// as they are. RFC 2217: a Telnet connection whose COM-PORT option sets the
// server's port to 19200 baud, 8 data bits, no parity, 1 stop bit and no
// flow control; the byte FF of the data goes doubled both ways, and Telnet
// commands and the server's COM-PORT notices are taken out of what comes in.

#include "lines/line.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QTcpSocket>

#include <array>

namespace zuk {

class NetLine final : public BusLine {
    Q_OBJECT
public:
    enum class Protocol { Raw, Rfc2217 };

    using BusLine::open;
    explicit NetLine(Protocol protocol, QObject *parent = nullptr);
    ~NetLine() override;

    // name: tcp://HOST:PORT or rfc2217://HOST:PORT. Refused when the
    // connection (and for RFC 2217 the option and the line settings) is not
    // made within options.connectTimeoutMs, and with options.rs485.
    bool open(const QString &name, QString *reason, const OpenOptions &options) override;
    void close() override;
    bool isOpen() const override { return open_; }

    void output(const QByteArray &bytes) override;
    void endRequest() override;
    void drainInput() override;

private:
    bool negotiate(int timeoutMs, QString *reason);
    void sendCommand(const QByteArray &bytes);   // Telnet commands, unescaped
    // Takes Telnet commands out of bytes (RFC 2217) and answers them;
    // returns the line's data.
    QByteArray fromServer(const QByteArray &bytes);
    void onOption(quint8 verb, quint8 option);
    void onSubnegotiation(const QByteArray &sub);
    void onReadyRead();
    void onBytesWritten();
    void onGone(const QString &reason);

    Protocol protocol_;
    QTcpSocket socket_;
    bool open_ = false;
    bool hungUp_ = false;   // the server hung up during the negotiation: busy with another connection
    bool requestPending_ = false;
    QByteArray queued_;   // the request's pieces, until endRequest

    // Telnet: where the parser is, the subnegotiation being read, and which
    // options each side has agreed to.
    enum class Parse { Data, Iac, Verb, Sub, SubIac };
    Parse parse_ = Parse::Data;
    quint8 verb_ = 0;
    bool afterCr_ = false;   // a CR came in while the server's side is not binary
    QByteArray sub_;
    std::array<bool, 256> weDo_{}, theyDo_{}, askedWill_{}, askedDo_{};
    enum class ComPort { Asked, Accepted, Refused };
    ComPort comPort_ = ComPort::Asked;
    // The five line settings sent, by command (1..5): answered by the server,
    // and the first answer that differs from what was asked, in words.
    std::array<bool, 6> settingAnswered_{};
    QString settingWrong_;
};

}  // namespace zuk
