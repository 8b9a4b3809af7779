#pragma once
// One exchange of one register row with a controller: send the request, wait
// one unit while the receive handler collects the reply, judge what came in.
//
// Construct over any BusPort (transfer/port.h): the serial adapter MSComm in
// the programs, a scripted port in tests:
//     zuk::BusExchange bus(port);   // installs its receive handler on port
//     bus.setWaitUnitMs(20);        // 400 by default
//     bus.readExchange(address, reg, &row);  bus.writeExchange(address, reg, row);
// The port must outlive the exchange. Everything runs on one thread.

#include "transfer/frames.h"
#include "transfer/port.h"

#include <QEventLoop>
#include <QTimer>
#include <array>
#include <cstdint>

namespace zuk {

class BusExchange {
public:
    static constexpr int kBufferSize = 32;     // positions of the reply buffer
    static constexpr int kCollected = 24;      // positions that receive reply bytes
    static constexpr qint16 kExchanging = 20;  // exchange state while exchanges run
    static constexpr int kDefaultWaitUnitMs = 400;

    explicit BusExchange(BusPort &port);
    ~BusExchange();
    BusExchange(const BusExchange &) = delete;
    BusExchange &operator=(const BusExchange &) = delete;

    void setWaitUnitMs(int ms) { unitMs_ = ms; }
    int waitUnitMs() const { return unitMs_; }
    // A half-duplex adapter that echoes every byte sent: the request's bytes
    // are expected back, in order, before the reply. They are compared with
    // what was sent and not stored; an echo that differs or does not come
    // back whole fails the try.
    void setEcho(bool on) { echo_ = on; }

    // Whether the port reported the line lost; every exchange after that
    // fails at once without sending.
    bool portLost() const { return lost_; }
    QString lostReason() const { return lostReason_; }

    // Sends the read request for register reg of the controller at address,
    // waits one unit, and yields the 8 data bytes when the reply is right.
    bool readExchange(int address, int reg, frames::RowData *data);
    // Sends the row, waits one unit, and judges the acknowledgement.
    bool writeExchange(int address, int reg, const frames::RowData &data);

    // Waits units x the unit length while events are processed. The wait of an
    // exchange is never cut short; a longer pause ends early on interrupt().
    void Wait(int units);
    // Ends a wait of more than one unit that is in progress (a run being stopped).
    void interrupt();
    bool waiting() const { return Timer1.isActive(); }

    // The receive handler: each byte goes to the next position, at most 24
    // positions, the rest is dropped; nothing is stored while the exchange
    // state is 0.
    void onReceive(const QByteArray &bytes);

    qint16 exchangeState() const { return exchangeState_; }
    void setExchangeState(qint16 state) { exchangeState_ = state; }
    qint16 receiveCount() const { return receiveCount_; }
    void resetReceiveCount() { receiveCount_ = 0; }
    const std::array<std::uint8_t, kBufferSize> &replyBuffer() const { return replyBuffer_; }

    // Stops the timer (shutdown).
    void stopTimer() { Timer1.stop(); }

private:
    void startCollecting();
    void onLost(const QString &reason);
    // The bytes of the request just sent, when they are to come back first.
    void expectEcho(const std::vector<QByteArray> &pieces);
    bool echoOk() const { return !echoBroken_ && echoMatched_ == echoExpected_.size(); }

    BusPort &port_;
    QTimer Timer1;
    std::array<std::uint8_t, kBufferSize> replyBuffer_{};
    qint16 receiveCount_ = 0;
    qint16 exchangeState_ = 0;
    int unitMs_ = kDefaultWaitUnitMs;
    bool interruptible_ = false;
    QEventLoop *loop_ = nullptr;
    bool echo_ = false;
    QByteArray echoExpected_;   // empty: no echo expected
    qsizetype echoMatched_ = 0;
    bool echoBroken_ = false;
    bool lost_ = false;
    QString lostReason_;
};

}  // namespace zuk
