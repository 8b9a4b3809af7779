#pragma once
// Rfc2217Line: the bus over a Telnet connection to a serial server whose
// COM-PORT option (RFC 2217) sets the server's port to 19200 baud, 8 data
// bits, no parity, 1 stop bit and no flow control (rfc2217://HOST:PORT).
// The TCP connection is TcpLine's; what goes on it, the escaped data and the
// negotiation, is TelnetCodec's.

#include "lines/net_line.h"
#include "lines/telnet_codec.h"

namespace zuk {

class Rfc2217Line final : public TcpLine {
    Q_OBJECT
public:
    explicit Rfc2217Line(QObject *parent = nullptr) : TcpLine(parent) {}

protected:
    // The option negotiated and the five settings answered as asked.
    Start startLine(int timeoutMs, QString *reason) override;
    QByteArray toConnection(const QByteArray &data) override { return codec_.encode(data); }
    QByteArray fromConnection(const QByteArray &bytes) override;
    void forgetConnection() override { codec_.reset(); }
    QString exampleName() const override { return QStringLiteral("rfc2217://10.0.0.7:4002"); }

private:
    TelnetCodec codec_;
};

}  // namespace zuk
