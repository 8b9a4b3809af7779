#include "transfer/runs/runs.h"

#include "transfer/runs/runs_shared.h"

#include <QStringList>

#include <algorithm>

namespace zuk {



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

}  // namespace zuk
