#include "transfer/runs.h"

#include "common/files.h"

#include <QDir>
#include <QStringList>

#include <algorithm>

namespace zuk {

namespace {

constexpr int kGiveUpAt = 10;

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
    const ImageLoadResult result = loadImageFile(imagePath(), reg_image);
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

int TransferTool::rowsToDo() const
{
    int rows = 0;
    for (const ControllerSlot &s : controllerMap())
        if (ticked[s.slot])
            rows += s.rows;
    return rows;
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
    saveFailed_ = false;
    errorTotal_ = 0;
    rowsDone_ = 0;
    // Whatever a stopped run or a late controller left on the line goes
    // before the first request; if anything came, the first controller is
    // confirmed from its start.
    const quint64 before = bus_.anomalies();
    bus_.settleLine();
    carryConfirm_ = bus_.anomalies() != before;
}

void TransferTool::rowFinished()
{
    ++rowsDone_;
    ++current().rowsDone;
    if (onProgress)
        onProgress(rowsDone_, rowsToDo(), errorTotal_);
}

void TransferTool::beginRecord(RunKind kind)
{
    record_ = RunRecord{};
    record_.kind = kind;
    record_.port = portName_;
    record_.started = QDateTime::currentDateTime();
    exchangesAtStart_ = bus_.exchanges();
    anomaliesAtStart_ = bus_.anomalies();
    for (const ControllerSlot &s : controllerMap())
        if (ticked[s.slot]) {
            record_.controllers.push_back(ControllerRecord{});
            record_.controllers.back().slot = s.slot;
        }
}

RunOutcome TransferTool::endRecord(RunOutcome outcome)
{
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
    portOpen_ = false;
    QString text = QStringLiteral("Связь через порт %1 потеряна: %2. Запуск остановлен")
                       .arg(portName_, bus_.lostReason());
    if (record_.kind == RunKind::Write) {
        QStringList written;
        for (const ControllerRecord &c : record_.controllers)
            if (!c.written.empty())
                written << QStringLiteral("$%1: %2").arg(hexText(controllerMap()[c.slot].address), rowRanges(c.written));
        text += written.isEmpty() ? QStringLiteral("; ни один регистр не записан")
                                  : QStringLiteral("; до потери записаны регистры %1").arg(written.join(QStringLiteral("; ")));
        text += QStringLiteral(" (регистр, записывавшийся в момент потери, мог записаться или нет).");
    } else {
        text += QStringLiteral("; файл zuk.txt не изменён.");
    }
    if (onError)
        onError(text);
    setStatus(portNotOpenStatus(portName_));
    return endRecord(RunOutcome::PortLost);
}

bool TransferTool::failedTry(const char *lead, int address, int reg, const char *tail)
{
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

void TransferTool::showErrorTotal()
{
    setStatus(QStringLiteral("Произошло       ") + QString::number(errorTotal_) + QStringLiteral("       ошибок"));
    if (pauseAtEnd_ && !stop_)
        bus_.Wait(20);
    if (!stop_)
        setStatus(neutralStatus());
}

RunOutcome TransferTool::runOverTicked(RunKind kind, const std::function<QString()> &refusal,
                                       const std::function<void(const ControllerSlot &)> &step,
                                       const std::function<void(const ControllerSlot &)> &unticked)
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
    for (const ControllerSlot &s : controllerMap()) {
        if (ticked[s.slot]) {
            currentSlot_ = s.slot;
            step(s);
        } else if (unticked) {
            unticked(s);
        }
        if (bus_.portLost())
            return portLost();
        if (stop_)
            return endRecord(RunOutcome::Stopped);
    }
    return RunOutcome::Completed;
}

RunOutcome TransferTool::readingRun()
{
    const RunOutcome outcome = runOverTicked(
        RunKind::Read, nullptr,
        [this](const ControllerSlot &s) {
            ReadController(s.address, s.rows, reg_image[s.slot]);
            if (!stop_ && current().givenUp.empty())
                complete_[s.slot] = true;
        },
        [this](const ControllerSlot &s) { reg_image[s.slot][0][0] = 0; });
    if (outcome != RunOutcome::Completed)
        return outcome;
    QString why;
    // A file that did not load whole is kept beside, never lost.
    const bool mayReplace = loadedWhole_ || keepDamagedImage(imagePath(), &why);
    if (!why.isEmpty() && onError)
        onError(why);
    if (!mayReplace) {
        saveFailed_ = true;
    } else if (QByteArray bytes; !imageFileBytes(reg_image, &bytes, &why) || !saveFileAtomically(imagePath(), bytes, &why)) {
        saveFailed_ = true;
        if (onError)
            onError(QStringLiteral("Файл не сохранён: ") + why);
    } else {
        loadedWhole_ = true;   // zuk.txt now holds this image, whole
    }
    showErrorTotal();
    return endRecord(RunOutcome::Completed);
}

RunOutcome TransferTool::comparingRun()
{
    auto refusal = [this] {
        return loadedWhole_ ? QString()
                            : QStringLiteral("Сравнение не начато, ничего не отправлено: файл загружен не полностью (%1).")
                                  .arg(loadFailure_);
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
        bool ok = bus_.readExchange(address, r, &data);
        // After an anomaly a reply counts only when a second read of the
        // row gives the same 8 bytes: the first may be made of stale bytes.
        if (confirming(before) && ok) {
            if (stop_)
                break;   // read, but not confirmed
            // The rest of whatever shifted the first reply may still be
            // coming in, and would shift the second one alike.
            bus_.settleLine();
            frames::RowData again{};
            ok = bus_.readExchange(address, r, &again, BusExchange::Read::Confirming) && again == data;
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
        if (failedTry("Чтение из системы адреса $", address, r, "     ERROR"))
            ++r;
    }
    endController();
    bus_.setExchangeState(0);
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
    const RunOutcome outcome =
        runOverTicked(RunKind::Write, [this] { return writeRefusal(); },
                      [this](const ControllerSlot &s) { WriteController(s.address, s.rows, s.slot); });
    if (outcome != RunOutcome::Completed)
        return outcome;
    if (errorTotal_ != 0)
        showErrorTotal();
    return endRecord(RunOutcome::Completed);
}

void TransferTool::WriteController(int address, int rows, int slot)
{
    retryCount_ = 0;
    beginController();
    // An acknowledgement names no register: one that comes may be a late
    // or a second one of another row. A written row is read back before it
    // counts as written with --verify; in fast mode always, since an
    // exchange there ends at the first acknowledgement and never waits out
    // the time in which a stray one would show; at the fixed wait once an
    // anomaly has been seen on this controller's line.
    const bool always = verify_ || bus_.fastMode();
    int r = 0;
    while (r < rows && !stop_ && !bus_.portLost()) {
        const quint64 before = bus_.anomalies();
        frames::RowData data{};
        for (int b = 0; b < kRowBytes; ++b)
            data[b] = static_cast<std::uint8_t>(reg_image[slot][r][b]);
        bool ok = bus_.writeExchange(address, r, data);
        const bool anomalous = confirming(before);
        if ((anomalous || always) && ok) {
            if (stop_)
                break;   // acknowledged, but not confirmed
            if (anomalous)
                bus_.settleLine();   // a stray acknowledgement goes before the read-back
            frames::RowData back{};
            ok = bus_.readExchange(address, r, &back) && back == data;
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
        if (stop_ || bus_.portLost())
            break;
        if (failedTry("запись в систему адреса $", address, r, "  ERROR"))
            ++r;
    }
    endController();
    bus_.setExchangeState(0);
    if (!stop_ && !bus_.portLost())
        setStatus(neutralStatus());
}

}  // namespace zuk
