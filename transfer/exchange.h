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
//
// Fast mode (bus.setFastMode(100, 20)) ends each exchange as soon as its
// reply is complete and judges it at once; a try with no complete reply
// within the reply timeout fails as a silent one. After a failed try the
// next request waits until the line has been quiet for the settle time, and
// what arrives meanwhile is dropped. An acknowledgement may carry further
// bytes after its 3 (the register, a checksum) that are still coming in
// when the next request has gone out: in the exchange after an
// acknowledgement, bytes before the first F8 are that tail and are dropped.
// Requests, judgement and the longer pauses of Wait() are the same in both
// modes.

#include "transfer/frames.h"
#include "transfer/port.h"

#include <QElapsedTimer>
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
    static constexpr int kDefaultReplyTimeoutMs = 100;
    static constexpr int kDefaultSettleMs = 20;
    // A line that never falls quiet this long is taken as settled anyway;
    // the next reply is then judged as any other.
    static constexpr int kSettleLimitMs = 2000;
    // Most bytes taken for the tail of an acknowledgement (fast mode).
    static constexpr int kAckTailMax = kCollected - 3;

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
    // Fast mode with its reply timeout (at least 1) and settle time (ms).
    void setFastMode(int replyTimeoutMs, int settleMs);
    // Back to the fixed wait of one unit per exchange (the default).
    void setFixedWait() { replyTimeoutMs_ = 0; }
    bool fastMode() const { return replyTimeoutMs_ > 0; }

    // Sends the read request for register reg of the controller at address,
    // waits one unit (fast mode: for the reply), and yields the 8 data bytes
    // when the reply is right.
    bool readExchange(int address, int reg, frames::RowData *data);
    // Sends the row, waits one unit (fast mode: for the acknowledgement), and
    // judges the acknowledgement.
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
    enum class Awaiting { Nothing, ReadReply, WriteReply };
    void startCollecting();
    // Sends the request and waits for its reply (settling first when the
    // last try failed in fast mode); false when the line is lost.
    bool sendAndAwait(const std::vector<QByteArray> &pieces, Awaiting kind);
    void onLost(const QString &reason);
    // The bytes of the request just sent, when they are to come back first.
    void expectEcho(const std::vector<QByteArray> &pieces);
    bool echoOk() const { return !echoBroken_ && echoMatched_ == echoExpected_.size(); }
    // Waits for this exchange's reply: one whole unit, or in fast mode until
    // the reply is complete or the reply timeout has passed.
    void awaitReply(Awaiting kind);
    // Fast mode, after a failed try: waits before the request until the line
    // has been quiet for the settle time, dropping whatever comes in.
    void settle();
    void finishTry(bool ok, Awaiting kind);
    bool replyComplete() const;
    // Processes events until Timer1 fires after ms (or quit by a complete
    // reply, or by interrupt() when interruptible).
    void runLoop(int ms, bool interruptible);

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
    int replyTimeoutMs_ = 0;   // 0: the fixed wait
    int settleMs_ = kDefaultSettleMs;
    Awaiting awaiting_ = Awaiting::Nothing;
    bool settling_ = false;
    bool settleBeforeNext_ = false;
    bool afterAck_ = false;    // the last exchange was an acknowledged write
    int tailLeft_ = 0;         // bytes that may still be dropped as an acknowledgement's tail
    QElapsedTimer settleClock_;
};

}  // namespace zuk
