#include "transfer/runs/runs.h"

#include "transfer/runs/runs_shared.h"

namespace zuk {


using runs::kScanTries;


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
    showClosingStatus(QStringLiteral("Отвечают %1 из %2").arg(done - silent).arg(candidates));
    return endRecord(RunOutcome::Completed);
}

}  // namespace zuk
