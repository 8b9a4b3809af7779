#include "bus/exchange.h"

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
    if (v.gapped)
        text += QStringLiteral(", ответ пришёл частями с паузой дольше времени затишья");
    if (v.lateAck)
        text += QStringLiteral(", подтверждение пришло позже обычного");
    if (v.extra)
        text += QStringLiteral(", после ответа пришли ещё байты");
    if (v.foreign == 1)
        text += QStringLiteral(", чужой байт отброшен");
    else if (v.foreign > 1)
        text += QStringLiteral(", чужие байты отброшены: %1").arg(v.foreign);
    return text;
}

namespace {
constexpr qint64 kNsPerMs = 1000000;
}

BusExchange::BusExchange(BusPort &port, BusClock *clock)
    : port_(port), ownClock_(clock ? nullptr : std::make_unique<BusTimers>()), clock_(clock ? *clock : *ownClock_)
{
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
    phase_ = Phase::Sending;
    staleWhileSending_ = false;
    complete_ = false;
    extra_ = false;
    gapped_ = false;
    lastPieceNs_ = firstReplyNs_ = -1;
}

void BusExchange::onWritten()
{
    if (phase_ == Phase::Sending) {
        phase_ = Phase::Collecting;
        writtenNs_ = clock_.nowNs();
    }
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
    if (how == Read::Confirming) {
        port_.drainInput();
        quietBeyondWindow();
    }
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
    const bool ok = echoOk() && fault == frames::ReplyFault::None;
    verdict_.lateAck = false;
    if (ok && !staleWhileSending_)
        judgeAckTime(address);
    return finishTry(ok, fault);
}

void BusExchange::judgeAckTime(int address)
{
    if (firstReplyNs_ < 0 || writtenNs_ < 0)
        return;
    const qint64 took = firstReplyNs_ - writtenNs_;
    std::vector<qint64> &times = ackTimes_[size_t(address & 0xFF)];
    if (int(times.size()) >= kAckJudgedFrom) {
        std::vector<qint64> sorted = times;
        std::nth_element(sorted.begin(), sorted.begin() + qsizetype(sorted.size() / 2), sorted.end());
        const qint64 usual = sorted[sorted.size() / 2];
        const qint64 marginNs = qint64(std::max(kLateAckMarginMs, unitMs_ / 8)) * kNsPerMs;
        if (took > kLateAckFactor * usual && took > usual + marginNs) {
            // An acknowledgement at an odd moment may be a stray one of an
            // earlier write: the row is read back before it counts.
            verdict_.lateAck = true;
            anomaly();
        }
    }
    times.push_back(took);
    if (int(times.size()) > kAckHistory)
        times.erase(times.begin());
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
    endPause();   // nothing more can come: no wait is worth finishing
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
    verdict_.gapped = gapped_;
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
    settleStartNs_ = clock_.nowNs();
    runLoop(settleMs_, false);
    settling_ = false;
    settleBeforeNext_ = false;
}

void BusExchange::quietBeyondWindow()
{
    // Why this keeps every earlier answer out of the confirming read: an
    // answer begins at most the window after its request, and its pieces
    // follow each other at most the window apart. The request goes out only
    // when more than the window has passed since the last request and since
    // the last byte. So every earlier answer has begun by then, and begun no
    // later than the last byte; if it had a piece still to come, that piece
    // would have followed within the window of the last byte - but nothing
    // came. What the confirming read collects is therefore of its own answer.
    const qint64 needNs = (qint64(answerWindowMs()) + 1) * kNsPerMs;
    const qint64 limitMs = kSettleLimitMs + 2 * qint64(answerWindowMs());
    settling_ = quietWait_ = true;
    settleStartNs_ = clock_.nowNs();
    while (!lost_) {
        const qint64 now = clock_.nowNs();
        const qint64 left = std::max(lastByteNs_, writtenNs_) + needNs - now;
        if (left <= 0)
            break;
        if ((now - settleStartNs_) / kNsPerMs > limitMs) {
            neverQuiet(answerWindowMs() + 1, limitMs);
            break;
        }
        runLoop(int(std::min<qint64>((left + kNsPerMs - 1) / kNsPerMs, limitMs)), false);
    }
    settling_ = quietWait_ = false;
    settleBeforeNext_ = false;
}

void BusExchange::neverQuiet(int quietMs, qint64 withinMs)
{
    if (lost_)
        return;
    neverQuiet_ = true;
    onLost(QStringLiteral("линия не затихает: за %1 мс не было паузы в %2 мс, байты приходят без перерыва "
                          "(помехи на линии, второй ведущий или неверная скорость)")
               .arg(withinMs)
               .arg(quietMs));
}

void BusExchange::Wait(int units)
{
    runLoop(units * unitMs_, units > 1);
}

void BusExchange::runLoop(int ms, bool interruptible)
{
    Pause pause{clock_.nowNs() + qint64(ms) * kNsPerMs, interruptible};
    Pause *outer = std::exchange(pause_, &pause);
    // The receive handler may end the pause or move its deadline; either
    // wakes the clock, and the wait goes on to the deadline as it stands.
    // A pause of 0 ms still serves the events already waiting.
    do
        clock_.waitUntil(pause.deadlineNs);
    while (!pause.over && clock_.nowNs() < pause.deadlineNs);
    pause_ = outer;
}

void BusExchange::endPause()
{
    if (!pause_)
        return;
    pause_->over = true;
    clock_.wake();
}

void BusExchange::restartPause(int ms)
{
    if (!pause_)
        return;
    pause_->deadlineNs = clock_.nowNs() + qint64(ms) * kNsPerMs;
    clock_.wake();
}

void BusExchange::interrupt()
{
    if (pause_ && pause_->interruptible)
        endPause();
}

void BusExchange::onReceive(const QByteArray &bytes)
{
    bytesReceived_ += quint64(bytes.size());
    if (LineTrace *t = trace())
        t->received(bytes);   // every byte that comes in, whatever becomes of it
    const qint64 now = clock_.nowNs();
    if (!bytes.isEmpty())
        lastByteNs_ = now;
    if (settling_) {
        if (!bytes.isEmpty()) {
            stale(bytes.size());
            if (quietWait_) {
                endPause();   // the quiet time counts anew from this byte
            } else if ((now - settleStartNs_) / kNsPerMs < kSettleLimitMs) {
                restartPause(settleMs_);
            } else {
                neverQuiet(settleMs_, kSettleLimitMs);
            }
        }
        return;
    }
    // Nothing is stored while no exchange is in progress or before its
    // request has been handed to the line.
    if (phase_ != Phase::Collecting) {
        stale(bytes.size());
        return;
    }
    bool piece = false;   // this event brought reply bytes
    for (char c : bytes) {
        if (echoMatched_ < echoExpected_.size()) {   // our own request, coming back first
            echoBroken_ = echoBroken_ || c != echoExpected_[echoMatched_];
            ++echoMatched_;
            continue;
        }
        if (!piece) {
            piece = true;
            if (firstReplyNs_ < 0) {
                firstReplyNs_ = now;
            } else if (!complete_ && !gapped_ && !untilQuiet_
                       && now - lastPieceNs_ > qint64(std::max(settleMs_, kMinPieceGapMs)) * kNsPerMs) {
                // A pause inside the reply longer than the line's quiet time:
                // the bytes before it may belong to something else. (A
                // confirming read is safe from that: it waited for a quiet
                // line, so its pieces are all of its own answer.)
                gapped_ = true;
                anomaly();
            }
            lastPieceNs_ = now;
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
    if (!fastMode() || !complete_ || !pause_)
        return;
    if (awaiting_ == Awaiting::ReadReply && !untilQuiet_)
        endPause();
    else
        restartPause(kTailGapMs);   // ends once the line is quiet after the reply
}

}  // namespace zuk
