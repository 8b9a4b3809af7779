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
}

BusExchange::~BusExchange()
{
    port_.setReceiveHandler({});
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
    settle();
    for (const QByteArray &piece : frames::readRequestPieces(address, reg))
        port_.output(piece);
    startCollecting();
    awaitReply(Awaiting::ReadReply);
    // Positions from 1 hold, in order, exactly the bytes of this exchange.
    const bool ok = frames::judgeReadReply(replyBuffer_.data(), receiveCount_, address, reg, data);
    finishTry(ok, Awaiting::ReadReply);
    return ok;
}

bool BusExchange::writeExchange(int address, int reg, const frames::RowData &data)
{
    settle();
    for (const QByteArray &piece : frames::writeRequestPieces(address, reg, data))
        port_.output(piece);
    startCollecting();
    awaitReply(Awaiting::WriteReply);
    const bool ok = frames::judgeWriteReply(replyBuffer_.data(), receiveCount_, address);
    finishTry(ok, Awaiting::WriteReply);
    return ok;
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
            if (static_cast<std::uint8_t>(c) != frames::kReplyStart) {
                --tailLeft_;
                continue;
            }
            tailLeft_ = 0;
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
