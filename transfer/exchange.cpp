#include "transfer/exchange.h"

#include <QEventLoop>

#include <algorithm>
#include <utility>

namespace zuk {

BusExchange::BusExchange(BusPort &port) : port_(port)
{
    Timer1.setSingleShot(true);
    Timer1.setTimerType(Qt::PreciseTimer);
    port_.setReceiveHandler([this](const QByteArray &bytes) { onReceive(bytes); });
    port_.setLostHandler([this](const QString &reason) { onLost(reason); });
}

BusExchange::~BusExchange()
{
    port_.setReceiveHandler({});
    port_.setLostHandler({});
}

void BusExchange::startCollecting()
{
    receiveCount_ = 0;
    exchangeState_ = kExchanging;
    tailLeft_ = fastMode() && afterAck_ ? kAckTailMax : 0;
}

void BusExchange::setFastMode(int replyTimeoutMs, int settleMs)
{
    replyTimeoutMs_ = std::max(1, replyTimeoutMs);
    settleMs_ = std::max(0, settleMs);
}

bool BusExchange::readExchange(int address, int reg, frames::RowData *data)
{
    if (!sendAndAwait(frames::readRequestPieces(address, reg), Awaiting::ReadReply))
        return false;
    // Positions from 1 hold, in order, exactly the bytes of this exchange.
    const bool ok = echoOk() && frames::judgeReadReply(replyBuffer_.data(), receiveCount_, address, reg, data);
    finishTry(ok, Awaiting::ReadReply);
    return ok;
}

bool BusExchange::writeExchange(int address, int reg, const frames::RowData &data)
{
    if (!sendAndAwait(frames::writeRequestPieces(address, reg, data), Awaiting::WriteReply))
        return false;
    const bool ok = echoOk() && frames::judgeWriteReply(replyBuffer_.data(), receiveCount_, address);
    finishTry(ok, Awaiting::WriteReply);
    return ok;
}

bool BusExchange::sendAndAwait(const std::vector<QByteArray> &pieces, Awaiting kind)
{
    settle();
    if (lost_)
        return false;
    for (const QByteArray &piece : pieces)
        port_.output(piece);
    expectEcho(pieces);
    startCollecting();
    awaitReply(kind);
    return true;
}

void BusExchange::expectEcho(const std::vector<QByteArray> &pieces)
{
    echoExpected_ = echo_ ? frames::joined(pieces) : QByteArray();
    echoMatched_ = 0;
    echoBroken_ = false;
}

void BusExchange::onLost(const QString &reason)
{
    if (lost_)
        return;
    lost_ = true;
    lostReason_ = reason;
    if (loop_)
        loop_->quit();   // nothing more can come: no wait is worth finishing
}

bool BusExchange::replyComplete() const
{
    switch (awaiting_) {
    case Awaiting::ReadReply:
        return frames::readReplyComplete(replyBuffer_.data(), receiveCount_);
    case Awaiting::WriteReply:
        return frames::writeReplyComplete(replyBuffer_.data(), receiveCount_);
    case Awaiting::Nothing:
        break;
    }
    return false;
}

void BusExchange::awaitReply(Awaiting kind)
{
    if (!fastMode()) {
        Wait(1);
        return;
    }
    awaiting_ = kind;
    // An exchange ends with its reply or its timeout, never on interrupt().
    runLoop(replyTimeoutMs_, false);
    awaiting_ = Awaiting::Nothing;
}

void BusExchange::finishTry(bool ok, Awaiting kind)
{
    settleBeforeNext_ = fastMode() && !ok;
    afterAck_ = ok && kind == Awaiting::WriteReply;
}

void BusExchange::settle()
{
    if (!fastMode() || !std::exchange(settleBeforeNext_, false))
        return;
    // Every byte that comes in restarts the quiet time (onReceive) and is dropped.
    settling_ = true;
    settleClock_.start();
    runLoop(settleMs_, false);
    settling_ = false;
}

void BusExchange::Wait(int units)
{
    runLoop(units * unitMs_, units > 1);
}

void BusExchange::runLoop(int ms, bool interruptible)
{
    QEventLoop loop;
    QEventLoop *outer = loop_;
    const bool outerInterruptible = interruptible_;
    loop_ = &loop;
    interruptible_ = interruptible;
    const auto connection = QObject::connect(&Timer1, &QTimer::timeout, &loop, &QEventLoop::quit);
    Timer1.start(ms);
    loop.exec();
    QObject::disconnect(connection);
    Timer1.stop();
    loop_ = outer;
    interruptible_ = outerInterruptible;
}

void BusExchange::interrupt()
{
    if (loop_ && interruptible_)
        loop_->quit();
}

void BusExchange::onReceive(const QByteArray &bytes)
{
    if (settling_) {
        if (!bytes.isEmpty() && settleClock_.elapsed() < kSettleLimitMs)
            Timer1.start(settleMs_);
        return;
    }
    if (exchangeState_ != kExchanging)
        return;
    for (char c : bytes) {
        if (tailLeft_ > 0) {
            // What may follow the tail: the echo of our request, or the reply.
            const bool echoNext = echoMatched_ < echoExpected_.size();
            const std::uint8_t next = echoNext ? std::uint8_t(echoExpected_[echoMatched_]) : frames::kReplyStart;
            if (static_cast<std::uint8_t>(c) != next) {
                --tailLeft_;
                continue;
            }
            tailLeft_ = 0;
        }
        if (echoMatched_ < echoExpected_.size()) {   // our own request, coming back first
            echoBroken_ = echoBroken_ || c != echoExpected_[echoMatched_];
            ++echoMatched_;
            continue;
        }
        if (receiveCount_ >= kCollected)
            break;
        replyBuffer_[receiveCount_] = static_cast<std::uint8_t>(c);
        ++receiveCount_;
    }
    if (awaiting_ != Awaiting::Nothing && replyComplete() && loop_)
        loop_->quit();
}

}  // namespace zuk
