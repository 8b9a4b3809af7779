// zuk_2: the bus transfer tool, with its window or headless.

#include "common/about.h"
#include "common/files.h"
#include "common/console.h"
#include "common/program_folder.h"
#include "common/start_up.h"
#include "transfer/cli/headless.h"
#include "transfer/cli/cli_options.h"
#include "transfer/runs/report.h"
#include "transfer/cli/stop_signal.h"
#include "transfer/window/choices.h"
#include "transfer/window/form1.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <cstdio>

namespace {

void printLine(std::FILE *to, const QString &text)
{
    zuk::platform::print(to, text + u'\n');
}

// The window's folder of zuk.txt: --dir (remembered), the program's own
// folder, the remembered one, or (first start of an installed program) the
// user's choice.
QString windowFolder(const QString &given)
{
    const zuk::ProgramFolder f = zuk::resolveProgramFolder({QStringLiteral("zuk_2"), given,
                                                            QCoreApplication::applicationDirPath(),
                                                            QStringLiteral("zuk.txt"), true, QDir::currentPath()});
    if (f.source != zuk::ProgramFolder::Source::Ask)
        return f.folder;
    const QString chosen = QFileDialog::getExistingDirectory(nullptr, QStringLiteral("Папка установки умного дома"),
                                                             QDir::homePath());
    if (!chosen.isEmpty())
        zuk::rememberProgramFolder(QStringLiteral("zuk_2"), chosen);
    return chosen;
}

// A file that zuk_2 is to write, named by an option (--report, --trace; what: "отчёт"):
// refused, before anything runs, when it cannot be written or when it is one
// of the files of the installation, which it would replace. True when refused.
bool outputFileRefused(const QString &option, const QString &what, const QString &path, const QString &folder)
{
    const QString why = zuk::reportFileRefusal(path, folder);
    if (why.isEmpty())
        return false;
    printLine(stderr, QStringLiteral("zuk_2: %1: %2 %3 нельзя записать: %4")
                          .arg(option, what, zuk::visibleText(QDir::toNativeSeparators(path), 200), why));
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    const QStringList args = zuk::platform::arguments(argc, argv);
    zuk::TransferOptions options;
    QString error;
    if (!zuk::parseTransferOptions(args, &options, &error)) {
        printLine(stderr, QStringLiteral("zuk_2: %1\nzuk_2 --help: описание параметров.").arg(error));
        return 2;
    }
    if (options.mode == zuk::TransferOptions::Mode::Help) {
        zuk::platform::print(stdout, zuk::transferUsage());
        return 0;
    }
    if (options.mode == zuk::TransferOptions::Mode::Version) {
        zuk::platform::print(stdout, zuk::versionLine(QStringLiteral("zuk_2")) + QLatin1Char('\n'));
        return 0;
    }
    if (!options.dir.isEmpty() && !QFileInfo(options.dir).isDir()) {
        printLine(stderr, QStringLiteral("zuk_2: папка %1 не найдена").arg(QDir::toNativeSeparators(options.dir)));
        return 2;
    }
    if (!options.portGiven)
        options.port = zuk::rememberedPortName(options.port);
    // Checked once the folder is known and before anything runs, so that a
    // script never waits a whole run for a report that cannot be.
    auto reportRefused = [&options] {
        return !options.report.isEmpty()
               && outputFileRefused(QStringLiteral("--report"), QStringLiteral("отчёт"), options.report, options.dir);
    };
    // The record of the line (--trace) is refused as the report is.
    auto traceRefused = [&options] {
        return !options.trace.isEmpty()
               && outputFileRefused(QStringLiteral("--trace"), QStringLiteral("файл записи обмена"), options.trace,
                                    options.dir);
    };
    // One file cannot hold both: the report would replace the trace.
    auto sameOutputs = [&options] {
        if (options.report.isEmpty() || options.trace.isEmpty())
            return false;
        // Compared as the files they name, also when one is a link to a
        // file that does not exist yet.
        const bool same = zuk::sameRealFile(options.report, options.trace);
        if (same)
            printLine(stderr, QStringLiteral("zuk_2: --report и --trace называют один и тот же файл; укажите для них "
                                             "разные файлы"));
        return same;
    };
    if (options.mode != zuk::TransferOptions::Mode::Window) {
        QCoreApplication app(argc, argv);
        zuk::installQtTranslations({QStringLiteral("qtbase"), QStringLiteral("qtserialport")});
        // A script works where it says: --dir, else the current folder.
        // Nothing is remembered, so the window's next folder stays its own.
        options.dir = QDir(options.dir.isEmpty() ? QDir::currentPath() : options.dir).absolutePath();
        if (options.mode != zuk::TransferOptions::Mode::Diff && options.mode != zuk::TransferOptions::Mode::ListPorts)
            printLine(stderr, QStringLiteral("zuk_2: папка ") + QDir::toNativeSeparators(options.dir));
        if (reportRefused() || traceRefused() || sameOutputs())
            return 2;
        return zuk::runHeadless(options);
    }

    QApplication app(argc, argv);
    // File dialogs and standard buttons in the user's language.
    zuk::installQtTranslations({QStringLiteral("qtbase"), QStringLiteral("qtserialport")});
    options.dir = windowFolder(options.dir);
    if (options.dir.isEmpty()) {
        printLine(stderr, QStringLiteral("zuk_2: папка не выбрана"));
        return 2;
    }
    if (reportRefused() || traceRefused() || sameOutputs())
        return 2;
    // The menus' remembered choices, where the command line said nothing.
    zuk::addRememberedChoices(&options, zuk::rememberedWindowChoices());
    zuk::Form1 form(options);   // its settings: the line's and the runs'
    // SIGINT, SIGTERM or SIGHUP close the window as the user would: a run ends
    // after its exchange in progress, a reading run saves nothing, the report
    // is written; a further signal changes nothing of that.
    const zuk::StopOnSignal stopper([&form] { form.closeWithoutAsking(); });
    form.show();
    form.startUp();
    return app.exec();
}
