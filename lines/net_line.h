#pragma once
// TcpLine: the bus over a TCP connection to a serial server (a gateway in
// front of the RS-485 line), the connection carrying the line's bytes as they
// are (tcp://HOST:PORT). Rfc2217Line (rfc2217_line.h) is the same connection
// with a Telnet server's COM-PORT option on it.

#include "lines/line.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QTcpSocket>

namespace zuk {

class TcpLine : public BusLine {
    Q_OBJECT
public:
    using BusLine::open;
    explicit TcpLine(QObject *parent = nullptr);
    ~TcpLine() override;

    // name: SCHEME://HOST:PORT. Refused when the connection (and what
    // startLine does on it) is not made within options.connectTimeoutMs, and
    // with options.rs485.
    bool open(const QString &name, QString *reason, const OpenOptions &options) override;
    void close() override;
    bool isOpen() const override { return open_; }

    void output(const QByteArray &bytes) override;
    void endRequest() override;
    void drainInput() override;

protected:
    // What happens on a new connection before the line counts as open. Busy:
    // the gateway hung up on it, as one that serves another connection does.
    enum class Start { Open, Busy, Failed };
    virtual Start startLine(int timeoutMs, QString *reason);
    // The line's bytes as they go on the connection, and the line's bytes in
    // what comes from it.
    virtual QByteArray toConnection(const QByteArray &data) { return data; }
    virtual QByteArray fromConnection(const QByteArray &bytes) { return bytes; }
    // At close: what the connection agreed is forgotten.
    virtual void forgetConnection() {}
    // An example of the name, for the message about a malformed one.
    virtual QString exampleName() const { return QStringLiteral("tcp://10.0.0.7:4001"); }
    // Sends bytes of the connection's own (not the line's) at once, while connected.
    void sendNow(const QByteArray &bytes);
    // A time in seconds, for the messages.
    static QString seconds(int ms);

    QTcpSocket socket_;

private:
    bool connectUntil(const QString &host, int port, const OpenOptions &options, QString *reason);
    void onReadyRead();
    void onBytesWritten();
    void onGone(const QString &reason);

    bool open_ = false;
    bool requestPending_ = false;
    QByteArray queued_;   // the request's pieces, until endRequest
};

}  // namespace zuk
