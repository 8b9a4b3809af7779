#include "transfer/runs/runs.h"

#include "transfer/runs/runs_shared.h"

namespace zuk {

using runs::kGiveUpAt;
using runs::rowText;

namespace {

QString errorText(qint16 retries)
{
    return QStringLiteral("error  ") + hexText(retries);
}

}  // namespace

QString runs::rowText(const char *lead, int address, int reg, const char *tail)
{
    return QString::fromUtf8(lead) + hexText(address) + QStringLiteral("   регистра $") + hexText(reg)
           + QString::fromUtf8(tail);
}

bool TransferTool::confirming(quint64 anomaliesBefore)
{
    confirm_ = confirm_ || bus_.anomalies() != anomaliesBefore;
    return confirm_;
}

void TransferTool::beginController()
{
    // Something odd on the line during the last controller (a late answer
    // may still be on its way) makes this one confirmed from its start.
    confirm_ = carryConfirm_;
    controllerAnomalies_ = bus_.anomalies();
    controllerExchanges_ = bus_.exchanges();
    controllerRowsByExchange_ = 0;
}

void TransferTool::endController()
{
    carryConfirm_ = bus_.anomalies() != controllerAnomalies_;
}

void TransferTool::rowLoop(const RowJob &job)
{
    retryCount_ = 0;
    beginController();
    int r = 0;
    while (r < job.rows && !stop_ && !bus_.portLost()) {
        if (job.only && !(*job.only)[r]) {
            ++current().unchanged;
            ++r;
            rowFinished(false);
            continue;
        }
        const RowTry tried = job.tryRow(r);
        if (tried == RowTry::Done) {
            setStatus(rowText(job.lead, job.address, r, job.doneTail));
            if (job.freshTries)
                retryCount_ = 0;
            ++r;
            rowFinished();
            continue;
        }
        if (tried == RowTry::Stopped)
            break;
        if (failedTry(job.lead, job.address, r, job.failTail)) {
            if (leftAsSilent(job.address, job.rows, r))
                break;
            ++r;
        }
    }
    endController();
}

TransferTool::RowTry TransferTool::readRow(int address, int reg, frames::RowData *data)
{
    const quint64 before = bus_.anomalies();
    bool ok = answered(bus_.readExchange(address, reg, data));
    traceExchange("чтение", address, reg);
    // After an anomaly a reply counts only when a second read of the
    // row gives the same 8 bytes: the first may be made of stale bytes.
    if (confirming(before) && ok) {
        if (stop_)
            return RowTry::Stopped;   // read, but not confirmed
        // The rest of whatever shifted the first reply may still be
        // coming in, and would shift the second one alike: the
        // confirming read waits until no earlier answer can reach it.
        frames::RowData again{};
        const bool read = answered(bus_.readExchange(address, reg, &again, BusExchange::Read::Confirming));
        ok = read && again == *data;
        traceExchange("повторное чтение", address, reg,
                      read && !ok ? QStringLiteral(", но байты не те, что в первый раз") : QString());
        if (ok)
            ++current().confirmed;
    }
    if (ok)
        return RowTry::Done;
    return stop_ || bus_.portLost() ? RowTry::Stopped : RowTry::Failed;
}

TransferTool::RowTry TransferTool::writeRow(int address, int reg, const frames::RowData &data, bool readBack)
{
    const quint64 before = bus_.anomalies();
    writeSent_ = true;
    bool ok = answered(bus_.writeExchange(address, reg, data));
    traceExchange("запись", address, reg);
    const bool anomalous = confirming(before);
    if ((anomalous || readBack) && ok) {
        if (stop_) {
            current().acknowledged.push_back(reg);   // stored, as far as the controller says
            return RowTry::Stopped;
        }
        // After an anomaly a stray acknowledgement, or the late answer
        // to an earlier read-back, may still come: the read-back waits
        // until none can reach it.
        frames::RowData back{};
        const bool read = answered(bus_.readExchange(
            address, reg, &back, anomalous ? BusExchange::Read::Confirming : BusExchange::Read::Plain));
        if (!read && (stop_ || bus_.portLost())) {
            current().acknowledged.push_back(reg);
            return RowTry::Stopped;
        }
        ok = read && back == data;
        confirming(before);   // a read-back that met an anomaly confirms the rows after it too
        traceExchange("проверка записи", address, reg,
                      read && !ok ? QStringLiteral(", но прочитано не то, что записано") : QString());
        if (ok)
            ++current().verified;
    }
    if (ok)
        return RowTry::Done;
    if (stop_ || bus_.portLost()) {
        current().unconfirmed.push_back(reg);   // sent: the controller may hold it or not
        return RowTry::Stopped;
    }
    return RowTry::Failed;
}

void TransferTool::ReadController(int address, int rows, SlotImage &into)
{
    rowLoop({address, rows, "Чтение из системы адреса $", "  OK  ", "     ERROR", false, nullptr, [&](int r) {
                 frames::RowData data{};
                 const RowTry tried = readRow(address, r, &data);
                 if (tried == RowTry::Done)
                     for (int b = 0; b < kRowBytes; ++b)
                         into[r][b] = data[b];
                 return tried;
             }});
}

void TransferTool::WriteController(int address, int rows, int slot, const std::array<bool, kMaxRows> *only)
{
    // An acknowledgement names no register: one that comes may be a late
    // or a second one of another row. A written row is read back before it
    // counts as written with --verify; in fast mode always, since an
    // exchange there ends at the first acknowledgement and never waits out
    // the time in which a stray one would show; at the fixed wait once an
    // anomaly has been seen on this controller's line.
    const bool always = verify_ || bus_.fastMode() || changedOnly_;
    rowLoop({address, rows, "запись в систему адреса $", "     OK", "  ERROR", true, only, [&](int r) {
                 frames::RowData data{};
                 for (int b = 0; b < kRowBytes; ++b)
                     data[b] = static_cast<std::uint8_t>(reg_image[slot][r][b]);
                 const RowTry tried = writeRow(address, r, data, always);
                 if (tried == RowTry::Done)
                     current().written.push_back(r);
                 return tried;
             }});
    if (!stop_ && !bus_.portLost())
        setStatus(neutralStatus());
}

bool TransferTool::failedTry(const char *lead, int address, int reg, const char *tail)
{
    ++failedTries_;
    if (bus_.exchanges() - exchangesAtStart_ >= quint64(kNoAnswerRequests) && bus_.bytesReceived() == bytesAtStart_
        && record_.kind != RunKind::Scan) {
        noAnswer_ = stop_ = true;   // the loops end as on a stop; visitTicked tells which
        return false;
    }
    ++retryCount_;
    setStatus(errorText(retryCount_));
    if (retryCount_ < kGiveUpAt)
        return false;
    setStatus(rowText(lead, address, reg, tail));
    ++errorTotal_;
    retryCount_ = 0;
    current().givenUp.push_back(reg);
    rowFinished();
    return true;
}

bool TransferTool::answered(bool ok)
{
    if (ok)
        current().answered = true;
    return ok;
}

bool TransferTool::leftAsSilent(int address, int rows, int reg)
{
    ControllerRecord &c = current();
    if (!skipSilent_ || c.answered)
        return false;
    c.silent = true;
    c.rowsDone = 0;   // its row given up is no row done, in a reading pass as in a writing one
    // Its failed tries and its row given up tell nothing of the other controllers.
    failedTries_ -= int(bus_.exchanges() - controllerExchanges_);
    silentExchanges_ += bus_.exchanges() - controllerExchanges_;
    --rowsByExchange_;
    setStatus(QStringLiteral("контроллер адрес $%1 молчит, пропущен").arg(hexText(address)));
    rowsDone_ += rows - reg - 1;   // the rows not tried, for the progress
    if (onProgress)
        onProgress(rowsDone_, rowsToDo(), errorTotal_);
    return true;
}

void TransferTool::rowFinished(bool exchanged)
{
    ++rowsDone_;
    if (exchanged) {
        ++rowsByExchange_;
        ++controllerRowsByExchange_;
    }
    if (!preReading_)
        ++current().rowsDone;
    if (onProgress)
        onProgress(rowsDone_, rowsToDo(), errorTotal_);
}

void TransferTool::traceExchange(const char *what, int address, int reg, const QString &more)
{
    // A request that never went out (the line was already gone) has no verdict.
    if (LineTrace *t = bus_.trace(); t && bus_.lastVerdict().sent)
        t->verdict(QStringLiteral("%1 $%2 регистр $%3: ").arg(QString::fromUtf8(what), hexText(address), hexText(reg))
                   + verdictText(bus_.lastVerdict()) + more);
}

}  // namespace zuk
