#include "transfer/runs.h"

#include <QDir>

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
    if (!result.ok) {
        loadFailure_ = result.failure;
        imageIncomplete_ = true;
        return false;
    }
    loadFailure_.clear();
    imageIncomplete_ = false;
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

bool TransferTool::startRun()
{
    if (running_)
        return false;
    running_ = true;
    stop_ = false;
    saveFailed_ = false;
    errorTotal_ = 0;
    rowsDone_ = 0;
    return true;
}

void TransferTool::rowFinished()
{
    ++rowsDone_;
    if (onProgress)
        onProgress(rowsDone_, rowsToDo(), errorTotal_);
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

RunOutcome TransferTool::readingRun()
{
    if (running_)
        return RunOutcome::Busy;
    if (!portOpen_) {
        setStatus(portNotOpenStatus(portName_));
        return RunOutcome::PortNotOpen;
    }
    startRun();
    RunGuard guard{running_};
    for (const ControllerSlot &s : controllerMap()) {
        if (ticked[s.slot])
            ReadController(s.address, s.rows, s.slot);
        else
            reg_image[s.slot][0][0] = 0;
        if (stop_)
            return RunOutcome::Stopped;
    }
    imageIncomplete_ = false;
    QString why;
    QByteArray bytes;
    if (!imageFileBytes(reg_image, &bytes, &why) || !saveFileAtomically(imagePath(), bytes, &why)) {
        saveFailed_ = true;
        if (onError)
            onError(QStringLiteral("Файл не сохранён: ") + why);
    }
    showErrorTotal();
    return RunOutcome::Completed;
}

void TransferTool::ReadController(int address, int rows, int slot)
{
    retryCount_ = 0;
    int r = 0;
    while (r < rows && !stop_) {
        frames::RowData data{};
        if (bus_.readExchange(address, r, &data)) {
            for (int b = 0; b < kRowBytes; ++b)
                reg_image[slot][r][b] = data[b];
            setStatus(rowText("Чтение из системы адреса $", address, r, "  OK  "));
            ++r;
            rowFinished();
            continue;
        }
        if (failedTry("Чтение из системы адреса $", address, r, "     ERROR"))
            ++r;
    }
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

RunOutcome TransferTool::writingRun()
{
    if (running_)
        return RunOutcome::Busy;
    if (!portOpen_) {
        setStatus(portNotOpenStatus(portName_));
        return RunOutcome::PortNotOpen;
    }
    if (imageIncomplete_) {
        if (onError)
            onError(QStringLiteral("Запись в систему не начата, ничего не отправлено: образ из %1 загружен не "
                                   "полностью (%2). Прочитайте систему в файл или исправьте файл и "
                                   "запустите программу снова.")
                        .arg(QDir::toNativeSeparators(imagePath()), loadFailure_));
        return RunOutcome::Refused;
    }
    const QString bad = firstUnsendableValue();
    if (!bad.isEmpty()) {
        if (onError)
            onError(QStringLiteral("Запись в систему не начата, ничего не отправлено. В образе из %1 есть "
                                   "значение, которое не является байтом: %2")
                        .arg(QDir::toNativeSeparators(imagePath()), bad));
        return RunOutcome::Refused;
    }
    startRun();
    RunGuard guard{running_};
    for (const ControllerSlot &s : controllerMap()) {
        if (ticked[s.slot])
            WriteController(s.address, s.rows, s.slot);
        if (stop_)
            return RunOutcome::Stopped;
    }
    if (errorTotal_ != 0)
        showErrorTotal();
    return RunOutcome::Completed;
}

void TransferTool::WriteController(int address, int rows, int slot)
{
    retryCount_ = 0;
    int r = 0;
    while (r < rows && !stop_) {
        frames::RowData data{};
        for (int b = 0; b < kRowBytes; ++b)
            data[b] = static_cast<std::uint8_t>(reg_image[slot][r][b]);
        if (bus_.writeExchange(address, r, data)) {
            setStatus(rowText("запись в систему адреса $", address, r, "     OK"));
            retryCount_ = 0;
            ++r;
            rowFinished();
            continue;
        }
        if (failedTry("запись в систему адреса $", address, r, "  ERROR"))
            ++r;
    }
    if (!stop_)
        setStatus(neutralStatus());
}

}  // namespace zuk
