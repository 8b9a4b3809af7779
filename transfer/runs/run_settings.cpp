#include "transfer/runs/run_settings.h"

#include "transfer/runs/runs.h"

namespace zuk {

void applySettings(const TransferSettings &settings, BusExchange &bus, TransferTool &tool)
{
    bus.setWaitUnitMs(settings.waitUnitMs);
    bus.setEcho(settings.echo);
    bus.setSettleMs(settings.settleMs);
    if (settings.fast)
        bus.setFastMode(settings.replyTimeoutMs, settings.settleMs);
    else
        bus.setFixedWait();
    tool.setFolder(settings.dir);
    tool.setVerify(settings.verify);
    tool.setSkipSilent(settings.skipSilent);
    tool.setChangedOnly(settings.changedOnly);
    tool.setBackupFirst(settings.backupFirst);
    tool.setHistory(settings.history);
    tool.setKeep(settings.keep);
    tool.setForceAbsent(settings.forceAbsent);
}

}  // namespace zuk
