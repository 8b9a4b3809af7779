#include "transfer/exchange.h"

#include <QEventLoop>

#include <algorithm>
#include <utility>

namespace zuk {

QString verdictText(const ExchangeVerdict &v)
{
    using frames::ReplyFault;
    QString text;
    if (v.lost && !v.ok)
        text = QStringLiteral("связь потеряна");
    else if (v.echoWrong)
        text = QStringLiteral("эхо не совпало");
    else if (v.echoShort)
        text = QStringLiteral("эхо пришло не целиком");
    else
        switch (v.fault) {
        case ReplyFault::None:
            text = QStringLiteral("ответ верный");
            if (v.sendingDisturbed)
                text += QStringLiteral(", но не засчитан: байты пришли во время отправки запроса");
            else if (v.unconfirmed)
                text += QStringLiteral(", но не засчитан: на линии был сбой");
            break;
        case ReplyFault::NoReply: text = QStringLiteral("нет ответа"); break;
        case ReplyFault::WrongStart: text = QStringLiteral("ответ начинается не с F8"); break;
        case ReplyFault::OtherAddress: text = QStringLiteral("ответ другого адреса"); break;
        case ReplyFault::WrongCommand: text = QStringLiteral("неверная команда в ответе"); break;
        case ReplyFault::OtherRegister: text = QStringLiteral("ответ другого регистра"); break;
        case ReplyFault::Incomplete: text = QStringLiteral("ответ неполный"); break;
        case ReplyFault::BadChecksum: text = QStringLiteral("контрольная сумма неверна"); break;
        }
    if (v.lost && v.ok)
        text += QStringLiteral(", затем связь потеряна");
    if (v.extra)
        text += QStringLiteral(", после ответа пришли ещё байты");
    if (v.foreign == 1)
        text += QStringLiteral(", чужой байт отброшен");
    else if (v.foreign > 1)
        text += QStringLiteral(", чужие байты отброшены: %1").arg(v.foreign);
    return text;
}

BusExchange::BusExchange(BusPort &port) : port_(port)
{
    Timer1.setSingleShot(true);
    Timer1.setTimerType(Qt::PreciseTimer);
    port_.setReceiveHandler([this](const QByteArray &bytes) { onReceive(bytes); });
    port_.setLostHandler([this](const QString &reason) { onLost(reason); });
    port_.setWrittenHandler([this] { onWritten(); });
}

BusExchange::~BusExchange()
{
    port_.setReceiveHandler({});
    port_.setLostHandler({});
    port_.setWrittenHandler({});
}

void BusExchange::startCollecting()
{
    receiveCount_ = 0;
    exchangeState_ = kExchanging;
    phase_ = Phase::Sending;
    staleWhileSending_ = false;
    complete_ = false;
    extra_ = false;
}

void BusExchange::onWritten()
{
    if (phase_ == Phase::Sending)
        phase_ = Phase::Collecting;
}

void BusExchange::setFastMode(int replyTimeoutMs, int settleMs)
{
    replyTimeoutMs_ = std::max(1, replyTimeoutMs);
    setSettleMs(settleMs);
}

void BusExchange::setSettleMs(int ms)
{
    settleMs_ = std::max(0, ms);
}

void BusExchange::anomaly()
{
    ++anomalies_;
    settleBeforeNext_ = true;
}

void BusExchange::stale(qsizetype n)
{
    if (n <= 0)
        return;
    anomaly();
    foreign_ += n;
    if (phase_ == Phase::Sending)
        staleWhileSending_ = true;
}

bool BusExchange::readExchange(int address, int reg, frames::RowData *data, Read how)
{
    const quint64 before = anomalies_;
    untilQuiet_ = how == Read::Confirming;
    const bool sent = sendAndAwait(frames::readRequestPieces(address, reg), Awaiting::ReadReply);
    untilQuiet_ = false;
    if (!sent)
        return false;
    // The buffer holds, from its first position, exactly the bytes of this exchange.
    const frames::ReplyFault fault = frames::readReplyFault(replyBuffer_.data(), receiveCount_, address, reg, data);
    const bool ok = echoOk() && fault == frames::ReplyFault::None;
    verdict_.unconfirmed = how == Read::Confirming && anomalies_ != before;
    return finishTry(ok && !verdict_.unconfirmed, fault);
}

bool BusExchange::writeExchange(int address, int reg, const frames::RowData &data)
{
    if (!sendAndAwait(frames::writeRequestPieces(address, reg, data), Awaiting::WriteReply))
        return false;
    const frames::ReplyFault fault = frames::writeReplyFault(replyBuffer_.data(), receiveCount_, address);
    verdict_.unconfirmed = false;
    return finishTry(echoOk() && fault == frames::ReplyFault::None, fault);
}

bool BusExchange::sendAndAwait(const std::vector<QByteArray> &pieces, Awaiting kind)
{
    port_.drainInput();   // what came since the last exchange is seen as stale now
    settle();
    if (lost_) {
        verdict_ = ExchangeVerdict{};
        verdict_.lost = true;
        verdict_.sent = false;
        verdict_.foreign = takeForeignBytes();
        return false;
    }
    expectEcho(pieces);
    startCollecting();
    awaiting_ = kind;
    ++exchanges_;
    if (LineTrace *t = trace())
        t->sent(frames::joined(pieces));   // handed to the line together, nothing in between
    for (const QByteArray &piece : pieces)
        port_.output(piece);
    port_.endRequest();
    awaitReply();
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

void BusExchange::awaitReply()
{
    if (!fastMode())
        Wait(1);
    else
        runLoop(replyTimeoutMs_, false);   // ends with the reply or the timeout, never on interrupt()
}

bool BusExchange::finishTry(bool ok, frames::ReplyFault fault)
{
    verdict_.fault = fault;
    verdict_.sent = true;
    verdict_.lost = lost_;
    verdict_.echoWrong = echoBroken_;
    verdict_.echoShort = !echoBroken_ && echoMatched_ < echoExpected_.size();
    verdict_.sendingDisturbed = staleWhileSending_;
    verdict_.extra = extra_;
    verdict_.foreign = takeForeignBytes();
    // Bytes that came while the request went out: something else is on the
    // line, and what followed them may be its rest.
    ok = ok && !staleWhileSending_;
    verdict_.ok = ok;
    if (!ok)
        anomaly();
    phase_ = Phase::Idle;
    awaiting_ = Awaiting::Nothing;
    return ok;
}

void BusExchange::settle()
{
    if (std::exchange(settleBeforeNext_, false))
        settleLine();
}

void BusExchange::settleLine()
{
    // Every byte that comes in restarts the quiet time (onReceive) and is dropped.
    port_.drainInput();
    settling_ = true;
    settleClock_.start();
    runLoop(settleMs_, false);
    settling_ = false;
    settleBeforeNext_ = false;
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
    bytesReceived_ += quint64(bytes.size());
    if (LineTrace *t = trace())
        t->received(bytes);   // every byte that comes in, whatever becomes of it
    if (settling_) {
        if (!bytes.isEmpty()) {
            stale(bytes.size());
            if (settleClock_.elapsed() < kSettleLimitMs)
                Timer1.start(settleMs_);
        }
        return;
    }
    // Nothing is stored while no exchange is in progress (state other than
    // kExchanging) or before the request has been handed to the line.
    if (exchangeState_ != kExchanging || phase_ != Phase::Collecting) {
        stale(bytes.size());
        return;
    }
    for (char c : bytes) {
        if (echoMatched_ < echoExpected_.size()) {   // our own request, coming back first
            echoBroken_ = echoBroken_ || c != echoExpected_[echoMatched_];
            ++echoMatched_;
            continue;
        }
        // After a whole reply: a read reply has nothing more, and an
        // acknowledgement's further bytes never start another reply.
        if (complete_ && (awaiting_ == Awaiting::ReadReply || std::uint8_t(c) == frames::kReplyStart)) {
            anomaly();
            extra_ = true;
        }
        if (receiveCount_ >= kCollected) {
            anomaly();   // past the 24 positions: dropped
            extra_ = true;
            break;
        }
        replyBuffer_[receiveCount_] = static_cast<std::uint8_t>(c);
        ++receiveCount_;
        complete_ = complete_ || replyComplete();
    }
    if (!fastMode() || !complete_ || !loop_)
        return;
    if (awaiting_ == Awaiting::ReadReply && !untilQuiet_)
        loop_->quit();
    else
        Timer1.start(kTailGapMs);   // ends once the line is quiet after the reply
}

}  // namespace zuk
