#pragma once
// The bus port as the exchange logic sees it: bytes queued for output, and a
// handler called with the bytes of each receive event.
//
// Usage over a real line:
//     zuk::MSComm port;                       // transfer/serial_port.h
//     QString why;
//     if (!port.open("/dev/ttyS0", &why)) ... // 19200 8N1, raw, no flow control
//     zuk::BusExchange bus(port);             // transfer/exchange.h
//     bus.setWaitUnitMs(400);
//     zuk::frames::RowData row;
//     bool ok = bus.readExchange(0x80, 3, &row);
// A QCoreApplication (or QApplication) must exist: the exchanges wait on an
// event loop, and receive events arrive through it.

#include <QByteArray>
#include <QString>
#include <functional>

namespace zuk {

enum class LineKind { Serial, Tcp, Rfc2217 };

// tcp://… and rfc2217://… (any case) are network lines; any other name is a
// serial device.
inline LineKind lineKindOf(const QString &name)
{
    if (name.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive))
        return LineKind::Tcp;
    if (name.startsWith(QLatin1String("rfc2217://"), Qt::CaseInsensitive))
        return LineKind::Rfc2217;
    return LineKind::Serial;
}

class BusPort {
public:
    using ReceiveHandler = std::function<void(const QByteArray &bytes)>;
    using LostHandler = std::function<void(const QString &reason)>;
    using WrittenHandler = std::function<void()>;

    virtual ~BusPort() = default;

    // Queues bytes for sending; bytes go out in the order queued, nothing in
    // between. One call per assignment of the request pieces.
    virtual void output(const QByteArray &bytes) = 0;
    // The request queued by output() is whole: hand it to the line now. The
    // written handler is called (at once or from the event loop) when its
    // last byte has been handed over; whatever comes in before that cannot
    // be an answer to it.
    virtual void endRequest() = 0;
    // Delivers at once whatever has already come in and is waiting to be
    // read, so that it is seen before the next request goes out.
    virtual void drainInput() {}

    // The handler is called, from the event loop, once per receive event with
    // the bytes that came in (possibly none).
    void setReceiveHandler(ReceiveHandler handler) { handler_ = std::move(handler); }
    // Called once when the line is gone for good (adapter unplugged, line
    // hung up): no byte will come or go any more.
    void setLostHandler(LostHandler handler) { lost_ = std::move(handler); }
    void setWrittenHandler(WrittenHandler handler) { written_ = std::move(handler); }

protected:
    void deliver(const QByteArray &bytes)
    {
        if (handler_)
            handler_(bytes);
    }
    void reportLost(const QString &reason)
    {
        if (lost_)
            lost_(reason);
    }
    void reportWritten()
    {
        if (written_)
            written_();
    }

private:
    ReceiveHandler handler_;
    LostHandler lost_;
    WrittenHandler written_;
};

}  // namespace zuk
