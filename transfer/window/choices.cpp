#include "transfer/window/choices.h"

#include "common/program_folder.h"

namespace zuk {

namespace {

const QString kProgram = QStringLiteral("zuk_2");

}  // namespace

WindowChoices rememberedWindowChoices()
{
    const QSettings s = programSettings(kProgram);
    WindowChoices c;
    c.fast = s.value(QStringLiteral("fast"), false).toBool();
    c.verify = s.value(QStringLiteral("verify"), false).toBool();
    // On for a new user: a house seldom has every controller of the map, and
    // each one missing costs minutes of retries otherwise.
    c.skipSilent = s.value(QStringLiteral("skipSilent"), true).toBool();
    c.changedOnly = s.value(QStringLiteral("changedOnly"), false).toBool();
    c.history = s.value(QStringLiteral("history"), true).toBool();
    c.askBeforeWrite = s.value(QStringLiteral("askBeforeWrite"), true).toBool();
    c.reportOn = s.value(QStringLiteral("reportOn"), false).toBool();
    c.reportFile = s.value(QStringLiteral("reportFile")).toString();
    c.traceOn = s.value(QStringLiteral("traceOn"), false).toBool();
    c.traceFile = s.value(QStringLiteral("traceFile")).toString();
    return c;
}

void rememberWindowChoices(const WindowChoices &c)
{
    QSettings s = programSettings(kProgram);
    s.setValue(QStringLiteral("fast"), c.fast);
    s.setValue(QStringLiteral("verify"), c.verify);
    s.setValue(QStringLiteral("skipSilent"), c.skipSilent);
    s.setValue(QStringLiteral("changedOnly"), c.changedOnly);
    s.setValue(QStringLiteral("history"), c.history);
    s.setValue(QStringLiteral("askBeforeWrite"), c.askBeforeWrite);
    s.setValue(QStringLiteral("reportOn"), c.reportOn);
    s.setValue(QStringLiteral("reportFile"), c.reportFile);
    s.setValue(QStringLiteral("traceOn"), c.traceOn);
    s.setValue(QStringLiteral("traceFile"), c.traceFile);
    s.sync();
}

void addRememberedChoices(TransferSettings *settings, const WindowChoices &remembered)
{
    // The command line can only switch these on, so a remembered "on" adds
    // to it and a remembered "off" leaves what it gave.
    settings->fast = settings->fast || remembered.fast;
    settings->verify = settings->verify || remembered.verify;
    settings->skipSilent = settings->skipSilent || remembered.skipSilent;
    settings->changedOnly = settings->changedOnly || remembered.changedOnly;
    if (!settings->historyGiven)   // on unless switched off (--no-history, the menu)
        settings->history = remembered.history;
    if (settings->report.isEmpty() && remembered.reportOn)
        settings->report = remembered.reportFile;
    if (settings->trace.isEmpty() && remembered.traceOn)
        settings->trace = remembered.traceFile;
}

}  // namespace zuk
