#include "transfer/exchange.h"

#include <QEventLoop>

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
}

bool BusExchange::readExchange(int address, int reg, frames::RowData *data)
{
    for (const QByteArray &piece : frames::readRequestPieces(address, reg))
        port_.output(piece);
    startCollecting();
    Wait(1);
    // Positions from 1 hold, in order, exactly the bytes of this exchange.
    return frames::judgeReadReply(replyBuffer_.data(), receiveCount_, address, reg, data);
}

bool BusExchange::writeExchange(int address, int reg, const frames::RowData &data)
{
    for (const QByteArray &piece : frames::writeRequestPieces(address, reg, data))
        port_.output(piece);
    startCollecting();
    Wait(1);
    return frames::judgeWriteReply(replyBuffer_.data(), receiveCount_, address);
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
        if (receiveCount_ >= kCollected)
            break;
        replyBuffer_[receiveCount_] = static_cast<std::uint8_t>(c);
        ++receiveCount_;
    }
}

}  // namespace zuk
