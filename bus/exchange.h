#pragma once
// One exchange of one register row with a controller: send the request, wait
// one unit while the receive handler collects the reply, judge what came in.
//
// Construct over any BusPort (transfer/port.h): the serial adapter MSComm in
// the programs, a scripted port in tests:
//     zuk::BusExchange bus(port);   // installs its receive handler on port
//     bus.setWaitUnitMs(20);        // 400 by default
//     bus.readExchange(address, reg, &row);  bus.writeExchange(address, reg, row);
// The port (and a clock given) must outlive the exchange. Everything runs on
// one thread. Every time the exchange keeps and every wait it makes is on its
// clock (transfer/bus_clock.h): Qt's timers unless another is given, as the
// tests give a virtual one.
//
// Only bytes that come in after the request has been handed to the line
// count for it, and its reply must begin at the first of them. Bytes from
// before (a late reply, a second acknowledgement, the tail of something
// still coming in) are stale: they are dropped, counted as an anomaly, and
// the next request first waits until the line has been quiet for the settle
// time. A failed try, bytes past the 24 positions, a second reply start
// after a complete reply, a reply whose pieces come more than the settle time
// apart and an acknowledgement far later than this controller's usual ones
// are anomalies too; the runs confirm what follows one (transfer/runs.h).
//
// A confirming read (Read::Confirming) goes out only once the line has been
// quiet for longer than the answer window (one wait unit, in fast mode the
// reply timeout) since both the last byte that came in and the last request:
// an answer that begins within the window after its request and whose pieces
// are at most the window apart has then ended, so every byte the confirming
// read collects is of its own answer.
//
// Fast mode (bus.setFastMode(100, 20)) ends each exchange as soon as its
// reply is complete (an acknowledgement when its further bytes have stopped
// coming) and judges it at once; a try with no complete reply
// within the reply timeout fails as a silent one. In both modes the next
// request after a failed try waits until the line has been quiet for the
// settle time, and what arrives meanwhile is dropped. Requests, judgement and
// the longer pauses of Wait() are the same in both modes.

#include "bus/bus_clock.h"
#include "protocol/frames.h"
#include "bus/line_trace.h"
#include "bus/port.h"

#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace zuk {

// What one exchange made of the bytes of its try, for the record of the line.
struct ExchangeVerdict {
    bool ok = false;                 // the exchange's result
    bool lost = false;               // the line was lost
    frames::ReplyFault fault = frames::ReplyFault::NoReply;   // the judge's finding
    bool echoWrong = false;          // the echo differed from the request
    bool echoShort = false;          // the echo did not come back whole
    bool sendingDisturbed = false;   // bytes came while the request went out
    bool unconfirmed = false;        // a confirming read saw an anomaly
    bool gapped = false;             // the reply's pieces came more than the settle time apart
    bool lateAck = false;            // the acknowledgement came far later than this controller's do
    qsizetype foreign = 0;           // bytes dropped since the last exchange: stale, while settling or sending
    bool extra = false;              // bytes after a whole reply, or past the 24 positions
    bool sent = true;                // the request went out (not when the line was gone before)
};
// The verdict in the words of the status line: "ответ верный", "нет ответа",
// "контрольная сумма неверна", "эхо не совпало", then what was dropped
// ("чужой байт отброшен").
QString verdictText(const ExchangeVerdict &verdict);

class BusExchange {
public:
    static constexpr int kBufferSize = 32;     // positions of the reply buffer
    static constexpr int kCollected = 24;      // positions that receive reply bytes
    static constexpr int kDefaultWaitUnitMs = 400;
    static constexpr int kDefaultReplyTimeoutMs = 100;
    static constexpr int kDefaultSettleMs = 20;
    // A line that does not fall quiet for the settle time within this long
    // (a confirming read's quiet: within this plus twice the answer window)
    // is given up as the line lost, lineNeverQuiet() telling why.
    static constexpr int kSettleLimitMs = 2000;
    // An acknowledgement is late, an anomaly, when it begins more than this
    // many times the controller's usual reply time after the request and
    // more than kLateAckMarginMs (about 19 byte times at 19200 baud), or an
    // eighth of the wait unit when that is more, beyond it: room for the
    // jitter of a busy computer, a USB adapter or a network. The usual time
    // is the median of its last kAckHistory acknowledgements, judged once it
    // has kAckJudgedFrom of them.
    static constexpr int kLateAckFactor = 4;
    static constexpr int kLateAckMarginMs = 10;
    static constexpr int kAckHistory = 8;
    static constexpr int kAckJudgedFrom = 3;
    // Fast mode: an acknowledgement (F8 A 01) may carry further bytes (the
    // register, a checksum). Its exchange ends once no byte has come for
    // this long after its third, so that they are not taken as stale bytes
    // of the next request: at 19200 baud a byte takes about 0.5 ms. A
    // confirming read waits the same way after its reply, so that a reply
    // followed at once by more bytes is seen as part of a shifted stream.
    static constexpr int kTailGapMs = 4;
    // A pause inside a reply longer than the settle time, and at least this
    // (about four byte times at 19200 baud), makes it an anomaly.
    static constexpr int kMinPieceGapMs = 2;

    // clock: nullptr waits on Qt's timers (BusTimers).
    explicit BusExchange(BusPort &port, BusClock *clock = nullptr);
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
    // The line was given up because it never fell quiet (not the port): the
    // port is still open, and the next run may try again (portReopened).
    bool lineNeverQuiet() const { return neverQuiet_; }
    // The port has been opened again (the same line or another one): the
    // exchanges send again.
    void portReopened()
    {
        lost_ = false;
        neverQuiet_ = false;
        lostReason_.clear();
    }
    // Fast mode with its reply timeout (at least 1) and settle time (ms).
    void setFastMode(int replyTimeoutMs, int settleMs);
    // Back to the fixed wait of one unit per exchange (the default).
    void setFixedWait() { replyTimeoutMs_ = 0; }
    bool fastMode() const { return replyTimeoutMs_ > 0; }
    // Quiet time the line must keep before a request that follows an anomaly.
    void setSettleMs(int ms);
    int settleMs() const { return settleMs_; }
    // The longest an answer may be late, and the longest gap between its
    // pieces, that a confirming read is safe from: the wait unit, in fast
    // mode the reply timeout.
    int answerWindowMs() const { return fastMode() ? replyTimeoutMs_ : unitMs_; }

    // Waits until the line has been quiet for the settle time, dropping (and
    // counting) whatever comes meanwhile: the start of a run. No quiet within
    // kSettleLimitMs gives the line up (lineNeverQuiet()).
    void settleLine();
    // Anomalies seen so far: failed tries, stale or dropped bytes, bytes past
    // the 24 positions or after a complete reply, a reply in pieces more than
    // the settle time apart, a late acknowledgement. Only ever grows.
    quint64 anomalies() const { return anomalies_; }
    // Requests sent so far.
    quint64 exchanges() const { return exchanges_; }
    // Bytes that came in from the line so far, whatever became of them.
    quint64 bytesReceived() const { return bytesReceived_; }

    // The record of the line: every request sent and every receive event's
    // bytes are written to it while it is open; nullptr: none.
    void setTrace(LineTrace *trace) { trace_ = trace; }
    LineTrace *trace() const { return trace_ && trace_->isOpen() ? trace_ : nullptr; }
    // What the last exchange made of its bytes.
    const ExchangeVerdict &lastVerdict() const { return verdict_; }
    // Bytes dropped since the last exchange was judged (none is to follow
    // them when a run ends); counted from 0 again.
    qsizetype takeForeignBytes() { return std::exchange(foreign_, 0); }

    // Sends the read request for register reg of the controller at address,
    // waits one unit (fast mode: for the reply), and yields the 8 data bytes
    // when the reply is right. A confirming read first waits until the line
    // has been quiet for longer than answerWindowMs() since the last byte and
    // the last request, and fails as well when the exchange saw an anomaly
    // (in fast mode it waits for a quiet line after the reply to see one).
    enum class Read { Plain, Confirming };
    bool readExchange(int address, int reg, frames::RowData *data, Read how = Read::Plain);
    // Sends the row, waits one unit (fast mode: for the acknowledgement), and
    // judges the acknowledgement.
    bool writeExchange(int address, int reg, const frames::RowData &data);

    // Waits units x the unit length while events are processed. The wait of an
    // exchange is never cut short; a longer pause ends early on interrupt()
    // or when the line is lost.
    void Wait(int units);
    // Ends a wait of more than one unit that is in progress (a run being stopped).
    void interrupt();

    // The receive handler: each byte goes to the next position, at most 24
    // positions, the rest is dropped; nothing is stored unless an exchange
    // is in progress and its request has been handed to the line.
    void onReceive(const QByteArray &bytes);

    qint16 receiveCount() const { return receiveCount_; }
    void resetReceiveCount() { receiveCount_ = 0; }
    const std::array<std::uint8_t, kBufferSize> &replyBuffer() const { return replyBuffer_; }

private:
    enum class Awaiting { Nothing, ReadReply, WriteReply };
    // Where the exchange stands: between exchanges, request queued but not
    // yet handed to the line, collecting its reply.
    enum class Phase { Idle, Sending, Collecting };
    void startCollecting();
    void onWritten();
    void anomaly();
    // A byte that came in where no reply can be: dropped and counted.
    void stale(qsizetype n);
    // Sends the request and waits for its reply (settling first after an
    // anomaly); false when the line is lost.
    bool sendAndAwait(const std::vector<QByteArray> &pieces, Awaiting kind);
    void onLost(const QString &reason);
    // The bytes of the request just sent, when they are to come back first.
    void expectEcho(const std::vector<QByteArray> &pieces);
    bool echoOk() const { return !echoBroken_ && echoMatched_ == echoExpected_.size(); }
    // Waits for this exchange's reply: one whole unit, or in fast mode until
    // the reply is complete or the reply timeout has passed.
    void awaitReply();
    // After an anomaly: waits before the request until the line has been
    // quiet for the settle time, dropping whatever comes in.
    void settle();
    // Before a confirming read: waits until the line has been quiet for more
    // than answerWindowMs() since the last byte and the last request.
    void quietBeyondWindow();
    // Gives the line up: it did not fall quiet for `quietMs` within `withinMs`.
    void neverQuiet(int quietMs, qint64 withinMs);
    // Judges how late the acknowledgement just accepted came for this
    // controller, and learns its reply time.
    void judgeAckTime(int address);
    // Ends the exchange: a failed try is an anomaly, and so is a stale byte
    // seen while the request went out. The verdict gets the judge's fault.
    bool finishTry(bool ok, frames::ReplyFault fault);
    bool replyComplete() const;
    // One wait on the clock: until its deadline, which the receive handler
    // may move, or until it is ended (a complete reply, the line lost, and
    // interrupt() when interruptible).
    struct Pause {
        qint64 deadlineNs;
        bool interruptible;
        bool over = false;
    };
    // Processes events for ms, or until the pause is ended.
    void runLoop(int ms, bool interruptible);
    // The pause in progress ends now, or ms from now.
    void endPause();
    void restartPause(int ms);

    BusPort &port_;
    std::unique_ptr<BusClock> ownClock_;   // when none was given
    BusClock &clock_;
    Pause *pause_ = nullptr;   // the innermost wait in progress
    std::array<std::uint8_t, kBufferSize> replyBuffer_{};
    qint16 receiveCount_ = 0;
    int unitMs_ = kDefaultWaitUnitMs;
    bool echo_ = false;
    QByteArray echoExpected_;   // empty: no echo expected
    qsizetype echoMatched_ = 0;
    bool echoBroken_ = false;
    bool lost_ = false;
    bool neverQuiet_ = false;
    QString lostReason_;
    int replyTimeoutMs_ = 0;   // 0: the fixed wait
    int settleMs_ = kDefaultSettleMs;
    Awaiting awaiting_ = Awaiting::Nothing;
    Phase phase_ = Phase::Idle;
    bool staleWhileSending_ = false;
    bool complete_ = false;    // this exchange's reply is whole
    bool untilQuiet_ = false;  // fast mode: the exchange ends on a quiet line after the reply
    bool settling_ = false;
    bool quietWait_ = false;     // settling before a confirming read: every byte restarts the count
    bool settleBeforeNext_ = false;
    quint64 anomalies_ = 0;
    quint64 exchanges_ = 0;
    quint64 bytesReceived_ = 0;
    qint64 settleStartNs_ = 0;     // when the settle or quiet wait in progress began
    // Times on the clock (ns):
    qint64 lastByteNs_ = -1;       // the last byte that came in
    qint64 writtenNs_ = -1;        // the last request handed to the line
    qint64 lastPieceNs_ = -1;      // the last piece of this exchange's reply
    qint64 firstReplyNs_ = -1;     // this exchange's first reply byte (after the echo)
    bool gapped_ = false;
    // Per address, the reply times (ns) of its last acknowledgements, newest last.
    std::array<std::vector<qint64>, 256> ackTimes_{};
    LineTrace *trace_ = nullptr;
    ExchangeVerdict verdict_;
    qsizetype foreign_ = 0;   // bytes dropped since the last verdict
    bool extra_ = false;      // bytes after a whole reply or past the positions, in this exchange
};

}  // namespace zuk
