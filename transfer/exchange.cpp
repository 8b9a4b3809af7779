#include "transfer/exchange.h"

#include <QEventLoop>

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
}

bool BusExchange::readExchange(int address, int reg, frames::RowData *data)
{
    if (lost_)
        return false;
    const std::vector<QByteArray> pieces = frames::readRequestPieces(address, reg);
    for (const QByteArray &piece : pieces)
        port_.output(piece);
    expectEcho(pieces);
    startCollecting();
    Wait(1);
    // Positions from 1 hold, in order, exactly the bytes of this exchange.
    return echoOk() && frames::judgeReadReply(replyBuffer_.data(), receiveCount_, address, reg, data);
}

bool BusExchange::writeExchange(int address, int reg, const frames::RowData &data)
{
    if (lost_)
        return false;
    const std::vector<QByteArray> pieces = frames::writeRequestPieces(address, reg, data);
    for (const QByteArray &piece : pieces)
        port_.output(piece);
    expectEcho(pieces);
    startCollecting();
    Wait(1);
    return echoOk() && frames::judgeWriteReply(replyBuffer_.data(), receiveCount_, address);
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

void BusExchange::Wait(int units)
{
    QEventLoop loop;
    QEventLoop *outer = loop_;
    const bool outerInterruptible = interruptible_;
    loop_ = &loop;
    interruptible_ = units > 1;
    const auto connection = QObject::connect(&Timer1, &QTimer::timeout, &loop, &QEventLoop::quit);
    Timer1.start(units * unitMs_);
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
    if (exchangeState_ != kExchanging)
        return;
    for (char c : bytes) {
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
}

}  // namespace zuk
