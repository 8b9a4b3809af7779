#include "transfer/headless.h"

#include "transfer/runs.h"
#include "transfer/serial_port.h"

#include "common/files.h"

#include <QDateTime>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace zuk {

namespace {

// Set once the reader of stdout went away (EPIPE, as after "| head -1"):
// status lines are no longer printed, the run goes on and saves.
bool stdoutClosed = false;

void printLine(FILE *to, const QString &text)
{
    if (to == stdout && stdoutClosed)
        return;
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
    std::fputc('\n', to);
    if (std::fflush(to) != 0 && to == stdout)
        stdoutClosed = true;
}

}  // namespace

int runHeadless(const TransferOptions &options)
{
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);   // a closed stdout must not end the run before it saves
#endif
    removeLeftoverTemporaries(options.dir, {QStringLiteral("zuk.txt")}, QDateTime::currentDateTime());
    MSComm MSComm1;
    QString reason;
    if (!MSComm1.open(options.port, &reason)) {
        printLine(stderr, QStringLiteral("zuk_2: порт %1 не открыт: %2").arg(options.port, reason));
        return 2;
    }
    BusExchange bus(MSComm1);
    bus.setWaitUnitMs(options.waitUnitMs);
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
    if (terminal)
        tool.onProgress = [&](int done, int total, int errors) {
            std::fprintf(stderr, "\r\033[K%d / %d, ошибок %d", done, total, errors);
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
