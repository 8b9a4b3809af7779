#include "transfer/headless.h"

#include "transfer/runs.h"
#include "transfer/serial_port.h"

#include <QElapsedTimer>

#include <cstdio>
#include <unistd.h>

namespace zuk {

namespace {

void printLine(FILE *to, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
    std::fputc('\n', to);
    std::fflush(to);
}

// "4:08", "1:02:09"
QByteArray clockText(qint64 ms)
{
    const qint64 s = (ms + 500) / 1000;
    return (s >= 3600 ? QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                      : QStringLiteral("%1").arg(s / 60))
               .append(QStringLiteral(":%1").arg(s % 60, 2, 10, QLatin1Char('0')))
               .toLatin1();
}

}  // namespace

int runHeadless(const TransferOptions &options)
{
    MSComm MSComm1;
    QString reason;
    if (!MSComm1.open(options.port, &reason)) {
        printLine(stderr, QStringLiteral("zuk_2: порт %1 не открыт: %2").arg(options.port, reason));
        return 2;
    }
    BusExchange bus(MSComm1);
    bus.setWaitUnitMs(options.waitUnitMs);
    if (options.fast)
        bus.setFastMode(options.replyTimeoutMs, options.settleMs);
    bus.resetReceiveCount();
    TransferTool tool(bus);
    tool.setFolder(options.dir);
    tool.setPort(options.port, true);
    tool.setPauseAtEnd(false);

    if (!tool.LoadImageFile()) {
        printLine(stderr, QStringLiteral("Ошибка, нет готового файла"));
        printLine(stderr, tool.loadFailure());
    }
    if (options.tick)
        tool.ticked = *options.tick;

    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    bool progressShown = false;
    tool.onStatus = [&](const QString &text) {
        if (progressShown) {
            std::fputs("\r\033[K", stderr);
            progressShown = false;
        }
        printLine(stdout, text);
    };
    tool.onError = [](const QString &text) { printLine(stderr, QStringLiteral("zuk_2: ") + text); };
    QElapsedTimer runClock;
    runClock.start();
    if (terminal)
        tool.onProgress = [&](int done, int total, int errors) {
            const qint64 elapsed = runClock.elapsed();
            const qint64 left = done > 0 ? elapsed * (total - done) / done : 0;
            std::fprintf(stderr, "\r\033[K%d / %d, ошибок %d, прошло %s, осталось ~%s", done, total, errors,
                         clockText(elapsed).constData(), clockText(left).constData());
            std::fflush(stderr);
            progressShown = true;
        };

    const RunOutcome outcome =
        options.mode == TransferOptions::Mode::Read ? tool.readingRun() : tool.writingRun();
    if (progressShown)
        std::fputs("\r\033[K", stderr);
    MSComm1.close();
    bus.stopTimer();
    switch (outcome) {
    case RunOutcome::Completed:
        if (tool.saveFailed())
            return 3;
        return tool.errorTotal() > 0 ? 1 : 0;
    case RunOutcome::Stopped:
        return 1;
    case RunOutcome::Refused:
    case RunOutcome::PortNotOpen:
    case RunOutcome::Busy:
        break;
    }
    return 2;
}

}  // namespace zuk
