#include "transfer/runs/runs.h"

#include "common/files.h"
#include "transfer/runs/runs_shared.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <utility>

namespace zuk {

using runs::kGiveUpAt;

namespace {

// The run as the trace's run line names it.
QString traceRunName(RunKind kind)
{
    switch (kind) {
    case RunKind::Read: return QStringLiteral("чтение");
    case RunKind::Write: return QStringLiteral("запись в систему");
    case RunKind::Compare: return QStringLiteral("сравнение");
    case RunKind::Scan: return QStringLiteral("опрос");
    }
    return QString();
}

// Clears the running flag however a run ends.
struct RunGuard {
    bool &flag;
    ~RunGuard() { flag = false; }
};

}  // namespace

TransferTool::TransferTool(BusExchange &bus) : bus_(bus) {}

QString TransferTool::imagePath() const
{
    return QDir(folder_).filePath(QStringLiteral("zuk.txt"));
}

QString TransferTool::neutralStatus()
{
    return QStringLiteral("Статус:") + QString(63, QLatin1Char(' '));
}

QString TransferTool::portNotOpenStatus(const QString &port)
{
    return QStringLiteral("Ошибка: порт %1 не открыт").arg(port);
}

void TransferTool::setStatus(const QString &text)
{
    if (onStatus)
        onStatus(text);
}

bool TransferTool::LoadImageFile()
{
    QByteArray bytes;
    ImageLoadResult result;
    if (readFileBytes(imagePath(), &bytes, &result.failure)) {
        fileBytes_ = bytes;
        result = loadImageBytes(imagePath(), bytes, reg_image);
    } else {
        fileBytes_.reset();
    }
    for (int slot = 0; slot < kSlotCount; ++slot)
        complete_[slot] = slot < result.wholeSlots;
    loadedWhole_ = result.ok;
    loadFailure_ = result.failure;
    if (!result.ok)
        return false;
    for (const ControllerSlot &s : controllerMap())
        if (reg_image[s.slot][0][0] != 0)
            ticked[s.slot] = true;
    return true;
}

QString TransferTool::reloadedText()
{
    return QStringLiteral("zuk.txt изменён другой программой и загружен заново");
}

TransferTool::FileCheck TransferTool::reloadIfChanged(QString *failure)
{
    QByteArray bytes;
    QString why;
    const bool read = readFileBytes(imagePath(), &bytes, &why);
    if (read ? fileBytes_ == bytes : !fileBytes_)
        return FileCheck::Unchanged;
    RegisterImage image = reg_image;
    const ImageLoadResult result = read ? loadImageBytes(imagePath(), bytes, image) : ImageLoadResult{false, why};
    if (!result.ok) {
        if (failure)
            *failure = result.failure;
        return FileCheck::Failed;
    }
    reg_image = image;
    fileBytes_ = bytes;
    complete_.fill(true);
    loadedWhole_ = true;
    loadFailure_.clear();
    if (onNotice)
        onNotice(reloadedText());
    return FileCheck::Reloaded;
}

int TransferTool::rowsToDo() const
{
    int rows = 0;
    for (const ControllerSlot &s : controllerMap())
        if (ticked[s.slot])
            rows += s.rows;
    return rows * passes_;
}

void TransferTool::requestStop()
{
    if (!running_)
        return;
    stop_ = true;
    bus_.interrupt();
}

void TransferTool::startRun()
{
    running_ = true;
    stop_ = false;
    noAnswer_ = false;
    saveFailed_ = false;
    writeSent_ = false;
    errorTotal_ = 0;
    rowsDone_ = 0;
    // A writing run reading first with --changed-only writes only the rows
    // that differ, which its reading pass shows: until then its writing
    // pass counts for nothing; with --backup-first it writes every row.
    std::array<int, kSlotCount> rows{};
    int later = 0;
    for (const ControllerSlot &s : controllerMap())
        rows[s.slot] = s.rows;
    if (record_.kind == RunKind::Write && backupFirst_ && !changedOnly_)
        later = rowsToDo() / 2;
    beginPass(rows, later);
    bus_.takeForeignBytes();   // dropped before this run: not in its trace
    if (bus_.lineNeverQuiet())
        bus_.portReopened();   // the port stayed open: this run tries the line again
    traced_ = true;
    if (LineTrace *t = bus_.trace())
        t->beginRun(QStringLiteral("запуск: %1, порт %2, %3")
                        .arg(traceRunName(record_.kind), portName_,
                             record_.started.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))));
    // Whatever a stopped run or a late controller left on the line goes
    // before the first request; if anything came, the first controller is
    // confirmed from its start.
    const quint64 before = bus_.anomalies();
    bus_.settleLine();
    carryConfirm_ = bus_.anomalies() != before;
}

void TransferTool::beginPass(const std::array<int, kSlotCount> &rows, int laterRows)
{
    currentSlot_ = -1;   // every controller is still to come in this pass
    passExchanges_ = bus_.exchanges();
    silentExchanges_ = 0;
    passRows_ = rows;
    laterPassRows_ = laterRows;
    failedTries_ = 0;
    rowsByExchange_ = 0;
}

qint64 TransferTool::timeLeftMs(qint64 elapsedMs) const
{
    const quint64 done = bus_.exchanges() - exchangesAtStart_;
    if (!running_ || done == 0)
        return 0;
    if (record_.kind == RunKind::Scan) {
        const int total = int(record_.controllers.size());
        const int asked = int(std::count_if(record_.controllers.begin(), record_.controllers.end(),
                                            [](const ControllerRecord &c) { return c.rowsDone > 0; }));
        return asked > 0 ? elapsedMs * std::max(0, total - asked) / asked : 0;
    }
    // A row of the controller in progress and of the next costs one
    // exchange, two where it is read back or confirmed, and the failed tries
    // per row seen so far in this pass; a row of a later controller what a
    // row has cost on average in this pass, confirmations included.
    const bool writing = record_.kind == RunKind::Write && !preReading_;
    const bool readBack = writing && (verify_ || bus_.fastMode() || changedOnly_);
    const double retries = rowsByExchange_ > 0 ? double(failedTries_) / rowsByExchange_ : 0;
    const double average =
        rowsByExchange_ > 0 ? double(bus_.exchanges() - passExchanges_ - silentExchanges_) / rowsByExchange_ : 1.0;
    int ahead = 0;   // controllers after the one in progress
    double exchangesLeft = 0;
    // A controller is confirmed from its start after anything odd on the
    // line of the one before (a silent one included).
    bool confirmed = currentSlot_ < 0 ? carryConfirm_ : confirm_;
    for (const ControllerRecord &c : record_.controllers) {
        if (c.slot < currentSlot_)
            continue;
        const bool current = c.slot == currentSlot_;
        bool odd = current && bus_.anomalies() != controllerAnomalies_;
        if (!current && skipSilent_ && !c.answered && !c.silent && reg_image[c.slot][0][0] == 0) {
            // zuk.txt marks it absent: most likely skipped as silent after the tries of its first row.
            exchangesLeft += kGiveUpAt;
            odd = true;
        } else if (!c.silent && !(current && skipSilent_ && !c.answered && !c.givenUp.empty())) {
            // (a controller in progress that gave its first row up without a reply is about to be left)
            const int rows = std::max(0, passRows_[c.slot] - (current ? controllerRowsByExchange_ : 0));
            const double known = (readBack || confirmed ? 2.0 : 1.0) + retries;
            exchangesLeft += rows * (current || ahead == 0 || confirmed ? known : std::max(known, average));
        }
        if (!current)
            ++ahead;
        confirmed = odd;
    }
    // The writing pass after a reading one (--backup-first).
    exchangesLeft += laterPassRows_ * ((verify_ || bus_.fastMode() ? 2.0 : 1.0) + retries);
    return qint64(double(elapsedMs) / double(done) * exchangesLeft);
}

void TransferTool::beginRecord(RunKind kind)
{
    record_ = RunRecord{};
    record_.kind = kind;
    passes_ = kind == RunKind::Write && (changedOnly_ || backupFirst_) ? 2 : 1;
    record_.port = portName_;
    record_.started = QDateTime::currentDateTime();
    exchangesAtStart_ = bus_.exchanges();
    anomaliesAtStart_ = bus_.anomalies();
    bytesAtStart_ = bus_.bytesReceived();
    for (const ControllerSlot &s : controllerMap())
        if (ticked[s.slot]) {
            record_.controllers.push_back(ControllerRecord{});
            record_.controllers.back().slot = s.slot;
        }
}

RunOutcome TransferTool::endRecord(RunOutcome outcome)
{
    // Bytes that came after the last exchange: no verdict of an exchange names them.
    const bool traced = std::exchange(traced_, false);
    if (const qsizetype n = bus_.takeForeignBytes(); n > 0 && traced)
        if (LineTrace *t = bus_.trace())
            t->verdict(QStringLiteral("после последнего обмена: %1")
                           .arg(n == 1 ? QStringLiteral("чужой байт отброшен")
                                       : QStringLiteral("чужие байты отброшены: %1").arg(n)));
    record_.outcome = outcome;
    record_.errorTotal = errorTotal_;
    record_.finished = QDateTime::currentDateTime();
    record_.exchanges = bus_.exchanges() - exchangesAtStart_;
    record_.anomalies = bus_.anomalies() - anomaliesAtStart_;
    return outcome;
}

ControllerRecord &TransferTool::current()
{
    for (ControllerRecord &c : record_.controllers)
        if (c.slot == currentSlot_)
            return c;
    Q_ASSERT(false);
    return record_.controllers.front();
}

RunOutcome TransferTool::portLost()
{
    // A line that never falls quiet is given up as a lost one, but the
    // port itself is still open.
    portOpen_ = bus_.lineNeverQuiet();
    QString text = bus_.lineNeverQuiet()
                       ? QStringLiteral("Запуск остановлен на порту %1: %2").arg(portName_, bus_.lostReason())
                       : QStringLiteral("Связь через %1 %2 потеряна: %3. Запуск остановлен")
                             .arg(lineKindOf(portName_) != LineKind::Serial ? QStringLiteral("сетевой шлюз")
                                                           : QStringLiteral("последовательный порт"),
                                  portName_, bus_.lostReason());
    if (LineTrace *t = bus_.trace())
        t->note(QStringLiteral("связь потеряна: ") + bus_.lostReason());
    if (record_.kind == RunKind::Write) {
        QStringList written;
        for (const ControllerRecord &c : record_.controllers)
            if (!c.written.empty())
                written << QStringLiteral("$%1: %2").arg(hexText(controllerMap()[c.slot].address), rowRanges(c.written));
        if (!writeSent_)
            text += QStringLiteral("; ни один регистр не записан: связь потеряна до первой записи.");
        else
            text += (written.isEmpty() ? QStringLiteral("; ни один регистр не записан")
                                       : QStringLiteral("; до потери записаны регистры %1")
                                             .arg(written.join(QStringLiteral("; "))))
                    + QStringLiteral(" (регистр, записывавшийся в момент потери, мог записаться или нет)")
                    + acknowledgedText(record_) + QLatin1Char('.');
    } else {
        text += QStringLiteral("; файл zuk.txt не изменён.");
    }
    if (onError)
        onError(text);
    setStatus(portNotOpenStatus(portName_));
    return endRecord(RunOutcome::PortLost);
}

RunOutcome TransferTool::noAnswer()
{
    const QString tail = record_.kind == RunKind::Read    ? QStringLiteral("; файл zuk.txt не изменён.")
                         : record_.kind == RunKind::Write ? QStringLiteral("; ни одна запись не подтверждена.")
                                                          : QStringLiteral(".");
    if (onError)
        onError(QStringLiteral("Порт %1: %2. Запуск остановлен после %3 запросов без единого байта в ответ%4")
                    .arg(portName_, kNoAnswerText)
                    .arg(kNoAnswerRequests)
                    .arg(tail));
    if (LineTrace *t = bus_.trace())
        t->note(kNoAnswerText);
    setStatus(neutralStatus());
    return endRecord(RunOutcome::NoAnswer);
}

void TransferTool::showErrorTotal()
{
    showClosingStatus(QStringLiteral("Произошло       ") + QString::number(errorTotal_) + QStringLiteral("       ошибок"));
}

// The last line of a run stays for the end-of-run pause, then the neutral one.
void TransferTool::showClosingStatus(const QString &text)
{
    setStatus(text);
    if (pauseAtEnd_ && !stop_) {
        if (onClosingPause)
            onClosingPause();
        bus_.Wait(20);
    }
    if (!stop_)
        setStatus(neutralStatus());
}

RunOutcome TransferTool::runOverTicked(RunKind kind, const std::function<QString()> &refusal,
                                       const std::function<void(const ControllerSlot &)> &step,
                                       const std::function<void(const ControllerSlot &)> &unticked,
                                       const std::function<RunOutcome()> &first)
{
    if (running_)
        return RunOutcome::Busy;   // the running run keeps its record
    beginRecord(kind);
    if (!portOpen_) {
        setStatus(portNotOpenStatus(portName_));
        return endRecord(RunOutcome::PortNotOpen);
    }
    if (const QString why = refusal ? refusal() : QString(); !why.isEmpty()) {
        if (onError)
            onError(why);
        return endRecord(RunOutcome::Refused);
    }
    startRun();
    RunGuard guard{running_};
    if (first)
        if (const RunOutcome outcome = first(); outcome != RunOutcome::Completed)
            return outcome;
    return visitTicked(step, unticked);
}

RunOutcome TransferTool::visitTicked(const std::function<void(const ControllerSlot &)> &step,
                                     const std::function<void(const ControllerSlot &)> &unticked)
{
    for (const ControllerSlot &s : controllerMap()) {
        if (ticked[s.slot]) {
            currentSlot_ = s.slot;
            step(s);
        } else if (unticked) {
            unticked(s);
        }
        if (bus_.portLost())
            return portLost();
        if (noAnswer_)
            return noAnswer();
        if (stop_)
            return endRecord(RunOutcome::Stopped);
    }
    return RunOutcome::Completed;
}

}  // namespace zuk
