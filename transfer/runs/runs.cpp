#include "transfer/runs/runs.h"

#include "common/files.h"
#include "transfer/runs/history.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryFile>

#include <algorithm>
#include <utility>

namespace zuk {

namespace {

constexpr int kGiveUpAt = 10;
constexpr int kScanTries = 3;

// The opening of every refusal: which run did not begin.
QString notStarted(RunKind kind)
{
    switch (kind) {
    case RunKind::Read: return QStringLiteral("Чтение не начато, ничего не отправлено, файл zuk.txt не изменён");
    case RunKind::Write: return QStringLiteral("Запись в систему не начата, ничего не отправлено");
    case RunKind::Compare: return QStringLiteral("Сравнение не начато, ничего не отправлено");
    case RunKind::Scan: return QStringLiteral("Опрос не начат, ничего не отправлено");
    }
    return QString();
}

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

QString rowText(const char *lead, int address, int reg, const char *tail)
{
    return QString::fromUtf8(lead) + hexText(address) + QStringLiteral("   регистра $") + hexText(reg)
           + QString::fromUtf8(tail);
}

QString errorText(qint16 retries)
{
    return QStringLiteral("error  ") + hexText(retries);
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

QString TransferTool::reloadRefusal(RunKind kind)
{
    QString why;
    if (reloadIfChanged(&why) != FileCheck::Failed)
        return QString();
    if (kind == RunKind::Read) {
        // The file on disk is no longer the one loaded: kept beside before the run replaces it.
        loadedWhole_ = false;
        return QString();
    }
    return notStarted(kind) + QStringLiteral(": файл zuk.txt изменён и не загружается (Ошибка, нет готового файла): %1")
                                  .arg(why);
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

void TransferTool::traceExchange(const char *what, int address, int reg, const QString &more)
{
    // A request that never went out (the line was already gone) has no verdict.
    if (LineTrace *t = bus_.trace(); t && bus_.lastVerdict().sent)
        t->verdict(QStringLiteral("%1 $%2 регистр $%3: ").arg(QString::fromUtf8(what), hexText(address), hexText(reg))
                   + verdictText(bus_.lastVerdict()) + more);
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
                             .arg(isNetworkLine(portName_) ? QStringLiteral("сетевой шлюз")
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

void TransferTool::showErrorTotal()
{
    setStatus(QStringLiteral("Произошло       ") + QString::number(errorTotal_) + QStringLiteral("       ошибок"));
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

QString TransferTool::nothingTickedText(RunKind kind, const QString &why)
{
    return notStarted(kind) + QStringLiteral(": ни один контроллер не отмечен (%1).").arg(why);
}

QString TransferTool::nothingTickedRefusal(RunKind kind) const
{
    if (kind == RunKind::Scan || std::any_of(ticked.begin(), ticked.end(), [](bool t) { return t; }))
        return QString();
    QString why;
    if (!loadedWhole_ && !loadFailure_.isEmpty())
        why = QStringLiteral("файл zuk.txt не загружен: %1").arg(loadFailure_);
    else if (std::none_of(controllerMap().begin(), controllerMap().end(),
                          [this](const ControllerSlot &s) { return reg_image[s.slot][0][0] != 0; }))
        why = QStringLiteral("в файле zuk.txt ни один контроллер не отмечен присутствующим");
    else
        why = QStringLiteral("все отметки сняты");
    return nothingTickedText(kind, why);
}

QString TransferTool::readingRunRefusal(const QString &imagePath)
{
    const QString lead = notStarted(RunKind::Read) + QStringLiteral(": ");
    if (const QString readOnly = readOnlyFileText(imagePath); !readOnly.isEmpty())
        return lead + readOnly;
    // zuk.txt is replaced by a file made beside the one it names (after
    // links): one is made and removed here, as the save will.
    QString why;
    const QString target = saveTarget(imagePath, &why);
    if (target.isEmpty())
        return lead + why;
    const QFileInfo info(target);
    const QString folder = QDir::toNativeSeparators(info.absolutePath());
    QTemporaryFile probe(info.absoluteDir().filePath(info.fileName() + QStringLiteral(".tmp-XXXXXX")));
    if (!probe.open())
        return lead + QStringLiteral("в папке %1 нельзя создать файл: %2").arg(folder, probe.errorString());
    if (!probe.remove())
        return lead + QStringLiteral("в папке %1 нельзя удалить созданный файл: %2").arg(folder, probe.errorString());
    return QString();
}

QString TransferTool::runRefusal(RunKind kind) const
{
    QString why = nothingTickedRefusal(kind);
    if (why.isEmpty() && kind == RunKind::Read)
        why = readingRunRefusal();
    return why;
}

RunOutcome TransferTool::readingRun()
{
    const RunOutcome outcome = runOverTicked(
        RunKind::Read,
        [this] {
            const QString why = reloadRefusal(RunKind::Read);
            return why.isEmpty() ? runRefusal(RunKind::Read) : why;
        },
        [this](const ControllerSlot &s) {
            ReadController(s.address, s.rows, reg_image[s.slot]);
            if (!stop_ && current().givenUp.empty())
                complete_[s.slot] = true;
        },
        [this](const ControllerSlot &s) { reg_image[s.slot][0][0] = 0; });
    if (outcome != RunOutcome::Completed)
        return outcome;
    QString why;
    // A run in which nothing answered holds nothing new: the file stays.
    const bool readAny = std::any_of(record_.controllers.begin(), record_.controllers.end(), [](const ControllerRecord &c) {
        return c.rowsDone > int(c.givenUp.size());
    });
    if (!readAny) {
        record_.nothingRead = true;
        if (onError)
            onError(nothingReadText());
        showErrorTotal();
        return endRecord(RunOutcome::Completed);
    }
    // A file that did not load whole is kept beside, never lost.
    const bool mayReplace = loadedWhole_ || keepDamagedImage(imagePath(), &why);
    if (!why.isEmpty() && onError)
        onError(why);
    if (!mayReplace) {
        saveFailed_ = true;
    } else if (QByteArray bytes; !imageFileBytes(reg_image, &bytes, &why) || !keepReplaced(bytes, &why)
                                 || !saveFileAtomically(imagePath(), bytes, &why)) {
        saveFailed_ = true;
        if (onError)
            onError(QStringLiteral("Файл не сохранён: ") + why);
    } else {
        loadedWhole_ = true;   // zuk.txt now holds this image, whole
        fileBytes_ = bytes;
    }
    showErrorTotal();
    return endRecord(RunOutcome::Completed);
}

bool TransferTool::keepInHistory(const QByteArray &bytes, QString *error)
{
    QString path;
    if (!history::keep(folder_, bytes, QDateTime::currentDateTime(), &path, error))
        return false;
    record_.kept = path;
    QString notPruned;
    history::prune(folder_, keep_, &notPruned, {path}, &record_.pruned);
    if (!notPruned.isEmpty() && onError)
        onError(notPruned);
    return true;
}

bool TransferTool::keepReplaced(const QByteArray &bytes, QString *error)
{
    // A zuk.txt that did not load whole has been kept beside already.
    if (!history_ || !loadedWhole_ || !QFileInfo::exists(imagePath()))
        return true;
    QByteArray old;
    if (!readFileBytes(imagePath(), &old, error))
        return false;
    if (old == bytes)
        return true;
    if (keepInHistory(old, error))
        return true;
    *error = QStringLiteral("прежний файл не сохранён в папке history: ") + *error;
    return false;
}

bool TransferTool::restoreFromHistory(const QString &historyPath, QString *kept, QString *error)
{
    QByteArray bytes, old;
    RegisterImage check{};
    if (const ImageLoadResult r = loadImageFile(historyPath, check); !r.ok) {
        *error = r.failure;
        return false;
    }
    if (!readFileBytes(historyPath, &bytes, error))
        return false;
    kept->clear();
    if (QFileInfo::exists(imagePath())) {
        if (!readFileBytes(imagePath(), &old, error))
            return false;
        if (old != bytes && !history::keep(folder_, old, QDateTime::currentDateTime(), kept, error))
            return false;
    }
    if (!saveFileAtomically(imagePath(), bytes, error))
        return false;
    // Only once zuk.txt holds the image: neither the copy just kept nor the
    // image restored goes.
    if (!kept->isEmpty())
        history::prune(folder_, keep_, nullptr, {*kept, historyPath});
    ticked.fill(false);
    LoadImageFile();
    return true;
}

RunOutcome TransferTool::comparingRun()
{
    auto refusal = [this] {
        if (const QString why = reloadRefusal(RunKind::Compare); !why.isEmpty())
            return why;
        if (const QString why = runRefusal(RunKind::Compare); !why.isEmpty())
            return why;
        return loadedWhole_ ? QString()
                            : notStarted(RunKind::Compare)
                                  + QStringLiteral(": файл загружен не полностью (%1).").arg(loadFailure_);
    };
    const RunOutcome outcome = runOverTicked(RunKind::Compare, refusal, [this](const ControllerSlot &s) {
        SlotImage system = reg_image[s.slot];
        ReadController(s.address, s.rows, system);
        if (stop_ || bus_.portLost())
            return;
        ControllerRecord &c = current();
        for (int r = 0; r < s.rows; ++r)
            if (std::find(c.givenUp.begin(), c.givenUp.end(), r) == c.givenUp.end())
                addRowDifferences(s.slot, r, reg_image[s.slot][r], system[r], &c.differences);
    });
    if (outcome != RunOutcome::Completed)
        return outcome;
    showErrorTotal();
    return endRecord(RunOutcome::Completed);
}

RunOutcome TransferTool::scanRun()
{
    int candidates = 0, done = 0, silent = 0;
    for (bool t : ticked)
        candidates += t;
    const RunOutcome outcome = runOverTicked(RunKind::Scan, nullptr, [&](const ControllerSlot &s) {
        ControllerRecord &c = current();
        // Replies are judged by their address and register, so a late
        // reply of another controller never counts for this one.
        for (int t = 0; t < kScanTries && !c.answered && !stop_ && !bus_.portLost(); ++t) {
            frames::RowData data{};
            answered(bus_.readExchange(s.address, 0, &data));
            traceExchange("опрос", s.address, 0);
        }
        if (!c.answered && (stop_ || bus_.portLost()))
            return;   // not asked to its end
        ++done;
        ++c.rowsDone;
        silent += !c.answered;
        setStatus(QStringLiteral("Опрос адреса $%1  %2")
                      .arg(hexText(s.address), c.answered ? QStringLiteral("отвечает") : QStringLiteral("нет ответа")));
        if (onProgress)
            onProgress(done, candidates, silent);
    });
    if (outcome != RunOutcome::Completed)
        return outcome;
    setStatus(QStringLiteral("Отвечают %1 из %2").arg(done - silent).arg(candidates));
    if (pauseAtEnd_ && !stop_) {
        if (onClosingPause)
            onClosingPause();
        bus_.Wait(20);
    }
    if (!stop_)
        setStatus(neutralStatus());
    return endRecord(RunOutcome::Completed);
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

void TransferTool::ReadController(int address, int rows, SlotImage &into)
{
    retryCount_ = 0;
    beginController();
    int r = 0;
    while (r < rows && !stop_ && !bus_.portLost()) {
        const quint64 before = bus_.anomalies();
        frames::RowData data{};
        bool ok = answered(bus_.readExchange(address, r, &data));
        traceExchange("чтение", address, r);
        // After an anomaly a reply counts only when a second read of the
        // row gives the same 8 bytes: the first may be made of stale bytes.
        if (confirming(before) && ok) {
            if (stop_)
                break;   // read, but not confirmed
            // The rest of whatever shifted the first reply may still be
            // coming in, and would shift the second one alike: the
            // confirming read waits until no earlier answer can reach it.
            frames::RowData again{};
            const bool read = answered(bus_.readExchange(address, r, &again, BusExchange::Read::Confirming));
            ok = read && again == data;
            traceExchange("повторное чтение", address, r,
                          read && !ok ? QStringLiteral(", но байты не те, что в первый раз") : QString());
            if (ok)
                ++current().confirmed;
        }
        if (ok) {
            for (int b = 0; b < kRowBytes; ++b)
                into[r][b] = data[b];
            setStatus(rowText("Чтение из системы адреса $", address, r, "  OK  "));
            ++r;
            rowFinished();
            continue;
        }
        if (stop_ || bus_.portLost())
            break;
        if (failedTry("Чтение из системы адреса $", address, r, "     ERROR")) {
            if (leftAsSilent(address, rows, r))
                break;
            ++r;
        }
    }
    endController();
}

QString TransferTool::firstUnsendableValue() const
{
    for (const ControllerSlot &s : controllerMap()) {
        if (!ticked[s.slot])
            continue;
        for (int r = 0; r < s.rows; ++r)
            for (int b = 0; b < kRowBytes; ++b) {
                const int v = reg_image[s.slot][r][b];
                if (v < 0 || v > 255)
                    return QStringLiteral("контроллер $%1, регистр $%2, байт %3: значение %4 вне 0..255")
                        .arg(hexText(s.address), hexText(r))
                        .arg(b)
                        .arg(v);
            }
    }
    return QString();
}

QStringList TransferTool::absentTicked() const
{
    QStringList absent;
    for (const ControllerSlot &s : controllerMap())
        if (ticked[s.slot] && reg_image[s.slot][0][0] == 0)
            absent << QStringLiteral("$") + hexText(s.address);
    return absent;
}

QString TransferTool::absentText(const QStringList &addresses)
{
    const bool one = addresses.size() == 1;
    return QStringLiteral("файл zuk.txt отмечает %1 %2 %3 (байт присутствия, байт 0 регистра 0, равен 0), "
                          "и этот 0 был бы записан в %4")
        .arg(one ? QStringLiteral("контроллер") : QStringLiteral("контроллеры"), addresses.join(QStringLiteral(", ")),
             one ? QStringLiteral("отсутствующим") : QStringLiteral("отсутствующими"),
             one ? QStringLiteral("него") : QStringLiteral("них"));
}

QString TransferTool::absentRefusal() const
{
    const QStringList absent = absentTicked();
    if (forceAbsent_ || absent.isEmpty())
        return QString();
    return notStarted(RunKind::Write) + QStringLiteral(": ") + absentText(absent) + QLatin1Char('.');
}

QString TransferTool::writeRefusal() const
{
    QStringList incomplete;
    for (const ControllerSlot &s : controllerMap())
        if (ticked[s.slot] && !complete_[s.slot])
            incomplete << QStringLiteral("$") + hexText(s.address);
    if (!incomplete.isEmpty()) {
        const bool one = incomplete.size() == 1;
        return QStringLiteral("Запись в систему не начата, ничего не отправлено: образ %1 %2 неполный. Файл "
                              "загружен не полностью (%3), и %4 с тех пор не прочитан%5 из системы целиком. "
                              "Прочитайте %6 из системы или исправьте файл и запустите программу снова.")
            .arg(one ? QStringLiteral("контроллера") : QStringLiteral("контроллеров"),
                 incomplete.join(QStringLiteral(", ")), loadFailure_, one ? QStringLiteral("он") : QStringLiteral("они"),
                 one ? QString() : QStringLiteral("ы"), one ? QStringLiteral("его") : QStringLiteral("их"));
    }
    const QString bad = firstUnsendableValue();
    if (!bad.isEmpty())
        return QStringLiteral("Запись в систему не начата, ничего не отправлено. В образе из %1 есть "
                              "значение, которое не является байтом: %2")
            .arg(QDir::toNativeSeparators(imagePath()), bad);
    return QString();
}

RunOutcome TransferTool::writingRun()
{
    const bool readFirst = changedOnly_ || backupFirst_;
    RegisterImage before{};
    std::array<std::array<bool, kMaxRows>, kSlotCount> toWrite{};
    const RunOutcome outcome = runOverTicked(
        RunKind::Write,
        [this] {
            QString why = reloadRefusal(RunKind::Write);
            if (why.isEmpty())
                why = runRefusal(RunKind::Write);
            if (why.isEmpty())
                why = writeRefusal();
            return why.isEmpty() ? absentRefusal() : why;
        },
        [&](const ControllerSlot &s) {
            if (!readFirst)
                WriteController(s.address, s.rows, s.slot);
            else if (!current().silent)
                WriteController(s.address, s.rows, s.slot, &toWrite[s.slot]);
            else
                rowsDone_ += s.rows;   // left as silent while reading
        },
        {}, readFirst ? std::function<RunOutcome()>([&] { return readBeforeWriting(before, toWrite); }) : nullptr);
    if (outcome != RunOutcome::Busy)
        record_.changedOnly = changedOnly_;
    if (outcome != RunOutcome::Completed)
        return outcome;
    if (errorTotal_ != 0)
        showErrorTotal();
    return endRecord(RunOutcome::Completed);
}

RunOutcome TransferTool::readBeforeWriting(RegisterImage &before,
                                           std::array<std::array<bool, kMaxRows>, kSlotCount> &toWrite)
{
    preReading_ = true;
    const RunOutcome read = visitTicked([&](const ControllerSlot &s) {
        ReadController(s.address, s.rows, before[s.slot]);
        ControllerRecord &c = current();
        if (!changedOnly_ || c.silent)
            return;
        // A row not read is written as a plain writing run writes it; its
        // failed reading is no error of the run.
        errorTotal_ -= int(c.givenUp.size());
        c.unread = c.givenUp;
        c.givenUp.clear();
    });
    preReading_ = false;
    if (read != RunOutcome::Completed)
        return read;
    bool anything = false;
    QStringList unread;
    for (ControllerRecord &c : record_.controllers) {
        const ControllerSlot &s = controllerMap()[c.slot];
        if (!changedOnly_ && !c.givenUp.empty())
            unread << givenUpLine(c, RunKind::Read);
        for (int r = 0; r < s.rows; ++r) {
            const bool notRead = std::find(c.unread.begin(), c.unread.end(), r) != c.unread.end();
            toWrite[c.slot][r] = !changedOnly_ || notRead || before[c.slot][r] != reg_image[c.slot][r];
            anything = anything || toWrite[c.slot][r];
        }
    }
    if (!unread.isEmpty()) {
        // --backup-first: a copy with rows missing keeps nothing to go back to.
        for (ControllerRecord &c : record_.controllers) {
            c.unread = c.givenUp;
            c.givenUp.clear();
        }
        if (onError)
            onError(QStringLiteral("Запись в систему не начата, ничего не записано: копия системы неполная (%1); "
                                   "копия не сохранена.")
                        .arg(unread.join(QStringLiteral("; "))));
        return endRecord(RunOutcome::Refused);
    }
    // The writing pass: only the rows to write take exchanges.
    std::array<int, kSlotCount> rows{};
    for (const ControllerRecord &c : record_.controllers)
        rows[c.slot] = c.silent ? 0 : int(std::count(toWrite[c.slot].begin(), toWrite[c.slot].end(), true));
    beginPass(rows, 0);
    if (!anything)
        return RunOutcome::Completed;   // no write frame follows: nothing to keep
    QByteArray bytes;
    QString why;
    if (!imageFileBytes(before, &bytes, &why) || !keepInHistory(bytes, &why)) {
        saveFailed_ = true;
        if (onError)
            onError(QStringLiteral("Запись в систему не начата, ничего не записано: копия системы не сохранена в "
                                   "папке history: ")
                    + why);
        return endRecord(RunOutcome::Refused);
    }
    return RunOutcome::Completed;
}

void TransferTool::WriteController(int address, int rows, int slot, const std::array<bool, kMaxRows> *only)
{
    retryCount_ = 0;
    beginController();
    // An acknowledgement names no register: one that comes may be a late
    // or a second one of another row. A written row is read back before it
    // counts as written with --verify; in fast mode always, since an
    // exchange there ends at the first acknowledgement and never waits out
    // the time in which a stray one would show; at the fixed wait once an
    // anomaly has been seen on this controller's line.
    const bool always = verify_ || bus_.fastMode() || changedOnly_;
    int r = 0;
    while (r < rows && !stop_ && !bus_.portLost()) {
        if (only && !(*only)[r]) {
            ++current().unchanged;
            ++r;
            rowFinished(false);
            continue;
        }
        const quint64 before = bus_.anomalies();
        frames::RowData data{};
        for (int b = 0; b < kRowBytes; ++b)
            data[b] = static_cast<std::uint8_t>(reg_image[slot][r][b]);
        writeSent_ = true;
        bool ok = answered(bus_.writeExchange(address, r, data));
        traceExchange("запись", address, r);
        const bool anomalous = confirming(before);
        if ((anomalous || always) && ok) {
            if (stop_) {
                current().acknowledged.push_back(r);   // stored, as far as the controller says
                break;
            }
            // After an anomaly a stray acknowledgement, or the late answer
            // to an earlier read-back, may still come: the read-back waits
            // until none can reach it.
            frames::RowData back{};
            const bool read = answered(bus_.readExchange(
                address, r, &back, anomalous ? BusExchange::Read::Confirming : BusExchange::Read::Plain));
            if (!read && (stop_ || bus_.portLost())) {
                current().acknowledged.push_back(r);
                break;
            }
            ok = read && back == data;
            confirming(before);   // a read-back that met an anomaly confirms the rows after it too
            traceExchange("проверка записи", address, r,
                          read && !ok ? QStringLiteral(", но прочитано не то, что записано") : QString());
            if (ok)
                ++current().verified;
        }
        if (ok) {
            setStatus(rowText("запись в систему адреса $", address, r, "     OK"));
            current().written.push_back(r);
            retryCount_ = 0;
            ++r;
            rowFinished();
            continue;
        }
        if (stop_ || bus_.portLost()) {
            current().unconfirmed.push_back(r);   // sent: the controller may hold it or not
            break;
        }
        if (failedTry("запись в систему адреса $", address, r, "  ERROR")) {
            if (leftAsSilent(address, rows, r))
                break;
            ++r;
        }
    }
    endController();
    if (!stop_ && !bus_.portLost())
        setStatus(neutralStatus());
}

}  // namespace zuk
