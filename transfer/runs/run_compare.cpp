#include "transfer/runs/runs.h"

#include "transfer/runs/runs_shared.h"

#include <algorithm>

namespace zuk {

using runs::notStarted;


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

}  // namespace zuk
