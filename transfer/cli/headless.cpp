#include "transfer/cli/headless.h"

#include "transfer/runs/history.h"
#include "bus/line_trace.h"
#include "transfer/runs/progress.h"
#include "transfer/runs/runs.h"
#include "lines/line.h"
#include "lines/serial_port.h"
#include "transfer/cli/stop_signal.h"

#include "common/files.h"
#include "common/console.h"
#include "common/stop_signals.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QtGlobal>

#include <algorithm>
#include <csignal>
#include <cstdio>

namespace zuk {

namespace {

// Set once the reader of stdout went away (EPIPE, as after "| head -1"):
// status lines are no longer printed, the run goes on and saves.
bool stdoutClosed = false;

void printLine(FILE *to, const QString &text)
{
    if (to == stdout && stdoutClosed)
        return;
    if (!platform::print(to, text + u'\n') && to == stdout)
        stdoutClosed = true;
}

bool writeReport(const QString &path, const RunRecord &record)
{
    QString why;
    if (saveReport(path, record, &why))
        return true;
    printLine(stderr, QStringLiteral("zuk_2: отчёт %1 не записан: %2").arg(QDir::toNativeSeparators(path), why));
    return false;
}

// The progress line on a terminal's standard error: rows done of rows to
// do, errors, time gone and an estimate of the time left. Any other line
// first clears it.
class ProgressLine {
public:
    // what: the word before the third count ("ошибок").
    ProgressLine(bool terminal, const char *what) : terminal_(terminal), what_(what) { clock_.start(); }
    bool shown() const { return terminal_; }
    void show(int done, int total, int errors, const TransferTool &tool)
    {
        platform::print(stderr, QStringLiteral("\r\033[K%1 / %2, %3 %4, прошло %5, осталось ~%6")
                                    .arg(done)
                                    .arg(total)
                                    .arg(QString::fromUtf8(what_))
                                    .arg(errors)
                                    .arg(clockText(clock_.elapsedMs()), clockText(tool.timeLeftMs(clock_.elapsedMs()))));
        visible_ = true;
    }
    void clear()
    {
        if (visible_)
            platform::print(stderr, QStringLiteral("\r\033[K"));
        visible_ = false;
    }

private:
    bool terminal_;
    const char *what_;
    bool visible_ = false;
    RunClock clock_;
};

// A controller's address as --tick writes it: two hexadecimal digits.
QString tickText(int slot)
{
    return tickAddressText(controllerMap()[slot].address);
}

// A writing run stopped: "; записано 5 (проверено чтением 5)", then the
// rows acknowledged but not yet read back.
QString writtenSoFarText(const RunRecord &record)
{
    int written = 0, verified = 0;
    for (const ControllerRecord &c : record.controllers) {
        written += int(c.written.size());
        verified += c.verified;
    }
    return QStringLiteral("; записано %1 (проверено чтением %2)").arg(written).arg(verified) + acknowledgedText(record);
}

// The exit status of a run that was made or refused (see --help).
int exitStatus(RunOutcome outcome, const TransferTool &tool, const RunRecord &record)
{
    switch (outcome) {
    case RunOutcome::Completed:
        if (record.kind == RunKind::Scan)
            return std::any_of(record.controllers.begin(), record.controllers.end(),
                               [](const ControllerRecord &c) { return c.answered; })
                       ? 0
                       : 1;
        if (record.kind == RunKind::Compare) {
            const bool same = std::all_of(record.controllers.begin(), record.controllers.end(),
                                          [](const ControllerRecord &c) { return c.differences.empty(); });
            return same && tool.errorTotal() == 0 ? 0 : 1;
        }
        if (tool.saveFailed())
            return 3;
        return tool.errorTotal() > 0 ? 1 : 0;
    case RunOutcome::Stopped: {
        const int sig = platform::caughtStopSignal();
        return sig != 0 ? 128 + sig : 1;   // SIGINT 130, SIGTERM 143, SIGHUP 129
    }
    case RunOutcome::PortLost:
    case RunOutcome::NoAnswer:
        return 4;
    case RunOutcome::Refused:
        return tool.saveFailed() ? 3 : 2;   // the house could not be kept: nothing written
    case RunOutcome::PortNotOpen:
    case RunOutcome::Busy:
        break;
    }
    return 2;
}

}  // namespace

int listPorts()
{
    const QStringList lines = serialPortLines();
    if (lines.isEmpty())
        printLine(stderr, QStringLiteral("zuk_2: в системе нет последовательных портов"));
    for (const QString &line : lines)
        printLine(stdout, line);
    return 0;
}

int runDiff(const QString &fileA, const QString &fileB)
{
    RegisterImage a{}, b{};
    for (const auto &[path, image] : {std::pair{fileA, &a}, std::pair{fileB, &b}}) {
        const ImageLoadResult r = loadImageFile(path, *image);
        if (!r.ok) {
            printLine(stderr, QStringLiteral("zuk_2: --diff: файл загружен не полностью: %1").arg(r.failure));
            return 2;
        }
    }
    const std::vector<ByteDifference> differences = imageDifferences(a, b);
    for (const ByteDifference &d : differences)
        printLine(stdout, differenceLine(d));
    printLine(stdout, differenceTotalLine(qsizetype(differences.size())));
    return differences.empty() ? 0 : 1;
}

int listHistory(const QString &folder)
{
    const std::vector<history::Listing> images = history::listing(folder);
    if (images.empty())
        printLine(stderr, QStringLiteral("zuk_2: в папке %1 нет сохранённых образов")
                              .arg(QDir::toNativeSeparators(history::folderOf(folder))));
    for (const history::Listing &l : images)
        printLine(stdout, history::listingLine(l));
    return 0;
}

int runHeadless(const TransferOptions &options)
{
    platform::ignoreClosedOutput();   // a closed stdout must not end the run before it saves
    using Mode = TransferOptions::Mode;
    if (options.mode == Mode::Diff)
        return runDiff(options.diffA, options.diffB);
    if (options.mode == Mode::ListPorts)
        return listPorts();
    if (options.mode == Mode::HistoryList)
        return listHistory(options.dir);

    // From here on SIGINT, SIGTERM and SIGHUP only stop the run: zuk.txt and
    // the report, once begun, are written to their end.
    StopOnSignal stopper;
    const RunKind kind = options.mode == Mode::Read    ? RunKind::Read
                         : options.mode == Mode::Write ? RunKind::Write
                         : options.mode == Mode::Scan  ? RunKind::Scan
                                                       : RunKind::Compare;
    const bool scan = kind == RunKind::Scan;
    auto reportWithoutRun = [&](RunOutcome outcome) {
        if (!options.report.isEmpty())
            writeReport(options.report, recordWithoutRun(kind, outcome, options.port));
    };

    const QDateTime start = QDateTime::currentDateTime();
    if (!scan) {
        removeLeftoverTemporaries(options.dir, {QStringLiteral("zuk.txt")}, start);
        history::removeLeftoverTemporaries(options.dir, start);
    }
    if (!options.report.isEmpty()) {
        const QFileInfo report(options.report);
        removeLeftoverTemporaries(report.absolutePath(), {report.fileName()}, start);
    }
    LineTrace trace;
    Line MSComm1;   // a serial port or a network line, as --port names it
    BusExchange bus(MSComm1);
    TransferTool tool(bus);
    applySettings(options, bus, tool);
    tool.setPauseAtEnd(false);

    if (scan) {
        // The scan asks the whole address map unless --tick names some; it
        // neither loads nor saves zuk.txt.
        tool.ticked.fill(true);
        if (options.tick)
            tool.ticked = *options.tick;
    } else {
        if (!tool.LoadImageFile()) {
            printLine(stderr, QStringLiteral("Ошибка, нет готового файла"));
            printLine(stderr, tool.loadFailure());
        }
        if (options.tick)
            tool.ticked = *options.tick;
        // A run that would do nothing, or a reading run that could not save,
        // is refused before the port is opened.
        const bool noneTicked = std::none_of(tool.ticked.begin(), tool.ticked.end(), [](bool t) { return t; });
        QString refusal = options.tick && noneTicked
                              ? TransferTool::nothingTickedText(kind, QStringLiteral("задано --tick none"))
                              : tool.nothingTickedRefusal(kind);
        if (!refusal.isEmpty())
            refusal += QStringLiteral(" Нужные контроллеры задаёт --tick (например, --tick 00,80 или --tick all).");
        else if (kind == RunKind::Read)
            refusal = tool.readingRunRefusal();
        else if (kind == RunKind::Write && !(refusal = tool.absentRefusal()).isEmpty())
            refusal += QStringLiteral(" Записать всё же: --force-absent.");
        if (!refusal.isEmpty()) {
            printLine(stderr, QStringLiteral("zuk_2: ") + refusal);
            reportWithoutRun(RunOutcome::Refused);
            return 2;
        }
    }
    if (!options.trace.isEmpty()) {
        QString why;
        if (!trace.open(options.trace, &why)) {
            printLine(stderr, QStringLiteral("zuk_2: --trace: файл записи обмена %1 не открыт: %2")
                                  .arg(QDir::toNativeSeparators(options.trace), why));
            reportWithoutRun(RunOutcome::Refused);
            return 2;
        }
        bus.setTrace(&trace);
    }
    QString reason;
    if (!MSComm1.open(options.port, &reason, BusLine::OpenOptions{options.rs485})) {
        printLine(stderr, QStringLiteral("zuk_2: порт %1 не открыт: %2").arg(options.port, reason));
        reportWithoutRun(RunOutcome::PortNotOpen);
        return 2;
    }
    tool.setPort(options.port, true);

    ProgressLine progress(platform::stderrIsTerminal(), scan ? "без ответа" : "ошибок");
    // A scan's standard output holds only the controllers that answered.
    tool.onStatus = [&](const QString &text) {
        if (scan)
            return;
        progress.clear();
        printLine(stdout, text);
    };
    tool.onError = [&](const QString &text) {
        progress.clear();
        printLine(stderr, QStringLiteral("zuk_2: ") + text);
    };
    tool.onNotice = tool.onError;
    if (progress.shown())
        tool.onProgress = [&](int done, int total, int errors) { progress.show(done, total, errors, tool); };

    stopper.setStop([&tool] { tool.requestStop(); });
    // A signal before the run (it reaches the stop only from inside the run's waits) stops it before it begins.
    const bool stoppedBeforeRun = platform::caughtStopSignal() != 0;
    const RunOutcome outcome = stoppedBeforeRun              ? RunOutcome::Stopped
                               : options.mode == Mode::Read  ? tool.readingRun()
                               : options.mode == Mode::Write ? tool.writingRun()
                               : scan                        ? tool.scanRun()
                                                             : tool.comparingRun();
    progress.clear();
    MSComm1.close();

    const RunRecord record = stoppedBeforeRun ? recordWithoutRun(kind, outcome, options.port) : tool.lastRun();
    // A record of the line or a report that is not whole is no record: said,
    // and the run ends with 3 where it would have ended with 0 or 1.
    bool outputsWhole = true;
    if (trace.isOpen() && !trace.close()) {
        printLine(stderr, QStringLiteral("zuk_2: --trace: файл записи обмена %1 записан не целиком: %2")
                              .arg(QDir::toNativeSeparators(options.trace), trace.failure()));
        outputsWhole = false;
    }
    if (!options.report.isEmpty() && !writeReport(options.report, record))
        outputsWhole = false;
    for (const ControllerRecord &c : record.controllers) {
        if (scan) {
            if (c.answered)
                printLine(stdout, QStringLiteral("%1\t%2").arg(tickText(c.slot), controllerMap()[c.slot].caption));
            continue;
        }
        if (const QString line = givenUpLine(c, record.kind); !line.isEmpty())
            printLine(stderr, line);
        if (const QString line = silentLine(c); !line.isEmpty())
            printLine(stderr, line);
    }
    if (const QString kept = keptText(record); !kept.isEmpty())
        printLine(stderr, QStringLiteral("zuk_2: ") + kept);
    if (!record.pruned.isEmpty())
        printLine(stderr, QStringLiteral("zuk_2: --keep: из папки history удалены старые образы: %1")
                              .arg(record.pruned.join(QStringLiteral(", "))));
    if (outcome == RunOutcome::Completed && record.changedOnly) {
        int written = 0, unchanged = 0;
        for (const ControllerRecord &c : record.controllers) {
            QString line = QStringLiteral("$%1: записано %2, без изменений %3")
                               .arg(hexText(controllerMap()[c.slot].address))
                               .arg(c.written.size())
                               .arg(c.unchanged);
            if (!c.givenUp.empty())
                line += QStringLiteral(", не записано %1").arg(c.givenUp.size());
            printLine(stdout, line);
            written += int(c.written.size());
            unchanged += c.unchanged;
        }
        printLine(stdout, QStringLiteral("записано %1, без изменений %2").arg(written).arg(unchanged));
    }
    if (outcome == RunOutcome::Completed && record.kind == RunKind::Compare) {
        qsizetype differences = 0;
        for (const ControllerRecord &c : record.controllers)
            for (const ByteDifference &d : c.differences) {
                printLine(stdout, differenceLine(d));
                ++differences;
            }
        printLine(stdout, differenceTotalLine(differences));
    }
    if (outcome == RunOutcome::Stopped && scan) {
        const int asked = int(std::count_if(record.controllers.begin(), record.controllers.end(),
                                             [](const ControllerRecord &c) { return c.rowsDone > 0; }));
        const int toAsk = int(std::count(tool.ticked.begin(), tool.ticked.end(), true));
        printLine(stderr, QStringLiteral("zuk_2: остановлено: опрошено %1 из %2 %3")
                              .arg(asked)
                              .arg(toAsk)
                              .arg(russianPlural(toAsk, QStringLiteral("контроллера"), QStringLiteral("контроллеров"),
                                                 QStringLiteral("контроллеров"))));
    } else if (outcome == RunOutcome::Stopped) {
        const int toDo = tool.rowsToDo();
        // "из 1 регистра", "из 2 регистров", "из 21 регистра"
        printLine(stderr, QStringLiteral("zuk_2: остановлено: сделано %1 из %2 %3%4")
                              .arg(tool.rowsDone())
                              .arg(toDo)
                              .arg(russianPlural(toDo, QStringLiteral("регистра"), QStringLiteral("регистров"),
                                                 QStringLiteral("регистров")))
                              .arg(options.mode == Mode::Read ? QStringLiteral(", файл zuk.txt не изменён")
                                   : options.mode == Mode::Write ? writtenSoFarText(record)
                                                                 : QString()));
        if (options.mode == Mode::Write)
            printLine(stderr, QStringLiteral("zuk_2: ") + writtenRowsText(record));
    }
    const int status = exitStatus(outcome, tool, record);
    return !outputsWhole && status <= 1 ? 3 : status;
}

}  // namespace zuk
