// zuk_sim: a simulated installation on a pseudo-terminal.

#include "common/about.h"
#include "common/files.h"
#include "common/stop_signals.h"
#include "sim/options.h"
#include "sim/pty.h"
#include "sim/serve.h"

#include <QFile>
#include <QStringList>

#include <csignal>
#include <cstdio>

using namespace zuk;
using namespace zuk::sim;

namespace {

int usageError(const QString &text)
{
    std::fprintf(stderr, "zuk_sim: %s\n(see zuk_sim --help)\n", qPrintable(text));
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    SimOptions opt;
    QString error;
    if (!parseSimOptions(args, &opt, &error))
        return usageError(error);
    if (opt.help) {
        std::fputs(qPrintable(helpText()), stdout);
        return 0;
    }
    if (opt.version) {
        std::fputs((versionLine(QStringLiteral("zuk_sim")) + QLatin1Char('\n')).toUtf8().constData(), stdout);
        return 0;
    }
    if (!opt.save.isEmpty() && !checkSavePath(opt.save, &error))
        return usageError(error);

    Installation inst;
    inst.faults = opt.faults;
    if (!opt.image.isEmpty()) {
        if (!inst.loadImage(opt.image, &error))
            return usageError(error);
        inst.presenceFromMarkers();
    }
    if (!opt.present.isEmpty() && !parsePresence(opt.present, &inst.present, &error))
        return usageError(error);
    if (opt.randomFaults)
        inst.setRandomFaults(opt.seed, opt.rate, opt.lateMs);

    QFile log;
    if (!opt.log.isEmpty()) {
        log.setFileName(opt.log);
        if (!log.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            return usageError(QStringLiteral("cannot open log %1: %2").arg(opt.log, log.errorString()));
    }
    QFile bytesLog;
    if (!opt.bytesLog.isEmpty()) {
        bytesLog.setFileName(opt.bytesLog);
        if (!bytesLog.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return usageError(QStringLiteral("cannot open %1: %2").arg(opt.bytesLog, bytesLog.errorString()));
    }
    Pty pty;
    if (!openPty(&pty, &error))
        return usageError(error);
    if (!opt.link.isEmpty() && !linkPty(pty, opt.link, &error))
        return usageError(error);
    const int signalFd = platform::installStopSignals();
    if (signalFd < 0)
        return usageError(QStringLiteral("pipe failed"));
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("%s\n", pty.path.constData());
    std::fflush(stdout);
    serve(opt, inst, pty, signalFd, log.isOpen() ? &log : nullptr, bytesLog.isOpen() ? &bytesLog : nullptr);

    if (!opt.faults.empty())
        std::fprintf(stderr, "zuk_sim: listed faults applied: %d\n", inst.listedFaultsApplied);
    if (opt.randomFaults)
        std::fprintf(stderr, "zuk_sim: random faults injected: %d\n", inst.randomFaultsInjected);
    int rc = 0;
    if (!opt.save.isEmpty() && !saveFileAtomically(opt.save, imageFileBytes(inst.memory), &error)) {
        std::fprintf(stderr, "zuk_sim: %s\n", qPrintable(error));
        rc = 1;
    }
    if (!opt.link.isEmpty())
        unlinkPty(pty, opt.link);
    closePty(&pty);
    return rc;
}
