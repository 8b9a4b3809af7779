#include "transfer/runs/runs.h"

#include "common/files.h"
#include "transfer/runs/history.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>

namespace zuk {


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

}  // namespace zuk
