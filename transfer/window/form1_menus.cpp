// The window's frame around its own controls: menus, status bar, the
// result of a run, and what the menus change (port, folder, report, record
// of the line, modes).

#include "transfer/window/choices.h"
#include "transfer/window/form1.h"

#include "common/files.h"
#include "common/program_folder.h"
#include "common/text_file.h"
#include "transfer/runs/history.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace zuk {

namespace {

QString kindTitle(RunKind kind)
{
    switch (kind) {
    case RunKind::Read: return QStringLiteral("Чтение: система в файл zuk.txt");
    case RunKind::Write: return QStringLiteral("Запись: из файла zuk.txt в систему");
    case RunKind::Compare: return QStringLiteral("Сравнение системы с файлом zuk.txt");
    case RunKind::Scan: return QStringLiteral("Поиск контроллеров");
    }
    return QString();
}

// The controllers left as silent, "$81, $87, $9D".
QString silentAddresses(const RunRecord &record)
{
    QStringList silent;
    for (const ControllerRecord &c : record.controllers)
        if (c.silent)
            silent << QLatin1Char('$') + hexText(controllerMap()[c.slot].address);
    return silent.join(QStringLiteral(", "));
}

QString outcomeText(const RunRecord &record)
{
    switch (record.outcome) {
    case RunOutcome::Completed: {
        // Rows given up other than the first row of each controller left as silent.
        const bool failed = std::any_of(record.controllers.begin(), record.controllers.end(), [](const ControllerRecord &c) {
            return c.givenUp.size() > (c.silent ? 1u : 0u);
        });
        const QString silent = silentAddresses(record);
        QString text = failed ? QStringLiteral("завершено с ошибками") : QStringLiteral("завершено");
        if (!silent.isEmpty())
            text += QStringLiteral(", пропущены молчащие контроллеры: ") + silent;
        return text;
    }
    case RunOutcome::Stopped:
        return record.kind == RunKind::Read ? QStringLiteral("остановлено, файл zuk.txt не изменён")
                                            : QStringLiteral("остановлено");
    case RunOutcome::PortLost: return QStringLiteral("связь с портом потеряна");
    case RunOutcome::NoAnswer: return TransferTool::kNoAnswerText;
    case RunOutcome::Refused: return QStringLiteral("не начато");
    case RunOutcome::PortNotOpen: return QStringLiteral("порт не открыт");
    case RunOutcome::Busy: return QStringLiteral("идёт другой запуск");
    }
    return QString();
}

// "индикатор часовой $80: сделано 9 из 9; не прочитаны регистры (1): 3"
QString controllerLine(const ControllerRecord &c, RunKind kind)
{
    const ControllerSlot &s = controllerMap()[c.slot];
    if (kind == RunKind::Scan)
        return s.caption + (c.answered      ? QStringLiteral(": отвечает")
                            : c.rowsDone > 0 ? QStringLiteral(": нет ответа")
                                             : QStringLiteral(": не опрошен"));
    QStringList parts{QStringLiteral("%1: сделано %2 из %3").arg(s.caption).arg(c.rowsDone).arg(s.rows)};
    if (!c.givenUp.empty())
        parts << QStringLiteral("%1 (%2): %3")
                     .arg(kind == RunKind::Write ? QStringLiteral("не записаны регистры")
                                                 : QStringLiteral("не прочитаны регистры"))
                     .arg(c.givenUp.size())
                     .arg(rowRanges(c.givenUp));
    if (c.silent)
        parts << QStringLiteral("молчит, пропущен");
    if (kind == RunKind::Write && (c.unchanged > 0 || !c.unread.empty()))
        parts << QStringLiteral("записано %1, без изменений %2").arg(c.written.size()).arg(c.unchanged);
    if (kind == RunKind::Write)
        parts << QStringLiteral("проверено чтением: %1").arg(c.verified);
    else if (c.confirmed > 0)
        parts << QStringLiteral("подтверждено повторным чтением: %1").arg(c.confirmed);
    if (kind == RunKind::Compare)
        parts << differenceTotalLine(qsizetype(c.differences.size()));
    return parts.join(QStringLiteral("; "));
}

}  // namespace

QString runResultText(const RunRecord &record)
{
    QStringList lines{kindTitle(record.kind) + QStringLiteral(" — ") + outcomeText(record)};
    lines << QStringLiteral("Порт %1; начало %2, конец %3 (%4)")
                 .arg(record.port, record.started.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")),
                      record.finished.toString(QStringLiteral("HH:mm:ss")),
                      clockText(record.started.msecsTo(record.finished)));
    if (record.kind == RunKind::Scan)
        lines << QStringLiteral("Отвечают: %1 из %2; обменов: %3")
                     .arg(std::count_if(record.controllers.begin(), record.controllers.end(),
                                        [](const ControllerRecord &c) { return c.answered; }))
                     .arg(record.controllers.size())
                     .arg(record.exchanges);
    else
        lines << QStringLiteral("Ошибок: %1; обменов: %2; сбоев обмена: %3")
                     .arg(record.errorTotal)
                     .arg(record.exchanges)
                     .arg(record.anomalies)
              << QStringLiteral("  ошибок — регистров, не удавшихся и после всех попыток (они сохранили прежние "
                                "значения);")
              << QStringLiteral("  сбоев обмена — неудачных попыток и лишних байтов на линии (нет ответа, неверная "
                                "контрольная сумма, чужой ответ); повторы их исправляют.");
    // What went wrong first, in the lines of the headless program.
    QStringList problems;
    for (const ControllerRecord &c : record.controllers)
        for (const QString &line : {givenUpLine(c, record.kind), silentLine(c)})
            if (!line.isEmpty())
                problems << line;
    if (!problems.isEmpty())
        lines << QString() << problems;
    if (record.nothingRead)
        lines << QString() << nothingReadText();
    // What the house holds after a writing run that ended early.
    if (record.kind == RunKind::Write && record.outcome == RunOutcome::Stopped) {
        QString written = writtenRowsText(record);
        written[0] = written[0].toUpper();
        lines << QString() << written + QLatin1Char('.');
    }
    lines << QString();
    if (record.controllers.empty())
        lines << QStringLiteral("Ни один контроллер не отмечен.");
    for (const ControllerRecord &c : record.controllers)
        lines << controllerLine(c, record.kind);
    if (record.kind == RunKind::Compare && record.outcome == RunOutcome::Completed) {
        lines << QString();
        qsizetype total = 0;
        for (const ControllerRecord &c : record.controllers)
            for (const ByteDifference &d : c.differences) {
                lines << differenceLine(d);
                ++total;
            }
        lines << differenceTotalLine(total);
    }
    if (QString kept = keptText(record); !kept.isEmpty()) {
        kept[0] = kept[0].toUpper();
        lines << QString() << kept;
    }
    return lines.join(QLatin1Char('\n'));
}

void Form1::buildMenus()
{
    auto locked = [this](QAction *action) {
        lockedInRun_.push_back(action);
        return action;
    };

    fileMenu = menuBar()->addMenu(QStringLiteral("&Файл"));
    folderAction = locked(fileMenu->addAction(QStringLiteral("&Папка…"), this, [this] {
        setFolder(chooseFolder(settings_.dir));
    }));
    fileMenu->addSeparator();
    reportAction = locked(fileMenu->addAction(QStringLiteral("&Отчёт о каждом запуске")));
    reportAction->setCheckable(true);
    reportAction->setChecked(!settings_.report.isEmpty());
    connect(reportAction, &QAction::toggled, this, [this](bool on) { setOutputOn(reportOutput(), on); });
    reportFileAction = locked(fileMenu->addAction(QStringLiteral("Файл о&тчёта…"), this,
                                                  [this] { chooseOutput(reportOutput()); }));
    fileMenu->addSeparator();
    // The record of the line: every byte sent and received in a run, and each exchange's verdict.
    traceAction = locked(fileMenu->addAction(QStringLiteral("Записывать об&мен в файл…")));
    traceAction->setCheckable(true);
    traceAction->setChecked(!settings_.trace.isEmpty());
    traceAction->setToolTip(QStringLiteral("Каждый байт, отправленный и полученный за запуск, с временем, "
                                           "и итог каждого обмена"));
    connect(traceAction, &QAction::toggled, this, [this](bool on) { setOutputOn(traceOutput(), on); });
    traceFileAction = locked(fileMenu->addAction(QStringLiteral("Файл записи о&бмена…"), this,
                                                 [this] { chooseOutput(traceOutput()); }));
    fileMenu->addSeparator();
    historyListAction = locked(fileMenu->addAction(QStringLiteral("&История образов…"), this, &Form1::showHistory));
    exitAction = fileMenu->addAction(QStringLiteral("&Выход"), this, &QWidget::close);
    exitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    portMenu = menuBar()->addMenu(QStringLiteral("&Порт"));
    connect(portMenu, &QMenu::aboutToShow, this, &Form1::fillPortMenu);
    portMenu->addSeparator();
    typePortAction = locked(portMenu->addAction(QStringLiteral("&Другой порт…"), this, [this] {
        switchPort(typePort(settings_.port));
    }));
    reopenAction = locked(portMenu->addAction(QStringLiteral("&Открыть порт снова"), this, [this] {
        switchPort(settings_.port);
    }));

    modeMenu = menuBar()->addMenu(QStringLiteral("&Режим"));
    auto mode = [&](const QString &text, bool on) {
        QAction *action = locked(modeMenu->addAction(text));
        action->setCheckable(true);
        action->setChecked(on);
        connect(action, &QAction::toggled, this, &Form1::modeChanged);
        return action;
    };
    fastAction = mode(QStringLiteral("&Быстрый обмен"), settings_.fast);
    verifyAction = mode(QStringLiteral("&Проверять каждую запись чтением"), settings_.verify);
    skipSilentAction = mode(QStringLiteral("Пропускать &молчащие контроллеры"), settings_.skipSilent);
    modeMenu->addSeparator();
    changedOnlyAction = mode(QStringLiteral("Записывать только &изменённое"), settings_.changedOnly);
    changedOnlyAction->setToolTip(QStringLiteral("Запись сначала читает каждый регистр и записывает только те, что "
                                                 "отличаются от файла; систему до записи сохраняет в папке history"));
    historyAction = mode(QStringLiteral("Хранить прежние &образы в папке history"), settings_.history);
    historyAction->setToolTip(QStringLiteral("Чтение, заменяющее zuk.txt другим, сначала сохраняет прежний zuk.txt "
                                             "в папке history"));
    modeMenu->setToolTipsVisible(true);

    actionsMenu = menuBar()->addMenu(QStringLiteral("&Действия"));
    readAction = locked(actionsMenu->addAction(QStringLiteral("&Чтение: система в файл zuk.txt"), this,
                                               &Form1::Command1_Click));
    writeAction = locked(actionsMenu->addAction(QStringLiteral("&Запись: из файла zuk.txt в систему"), this,
                                                &Form1::Command2_Click));
    compareAction = locked(actionsMenu->addAction(QStringLiteral("&Сравнение системы с файлом zuk.txt"), this,
                                                  &Form1::compareClicked));
    actionsMenu->addSeparator();
    scanAction = locked(actionsMenu->addAction(QStringLiteral("&Поиск контроллеров"), this, &Form1::scanClicked));
    readAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    writeAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    compareAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    scanAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));

    help = addHelpMenu(this, QStringLiteral("zuk_2"), QStringLiteral("Программа чтения и записи ЕЕ контроллеров системы умного дома"),
                       [this](const QString &text) { showMessage(text); });
}

void Form1::fillPortMenu()
{
    delete portGroup_;   // and the entries of the last time with it
    portActions_.clear();
    QAction *before = portMenu->actions().value(0);
    QStringList lines = listPorts();
    // The port in use is offered too when the system does not list it (a
    // name typed, a pseudo-terminal).
    if (std::none_of(lines.begin(), lines.end(), [this](const QString &l) { return portNameOfLine(l) == settings_.port; }))
        lines.prepend(settings_.port);
    // And the ports used before that the system does not list now (a gateway, an adapter unplugged).
    for (const QString &name : recentPortNames())
        if (std::none_of(lines.begin(), lines.end(), [&name](const QString &l) { return portNameOfLine(l) == name; }))
            lines << name;
    auto *group = portGroup_ = new QActionGroup(portMenu);
    for (const QString &line : lines) {
        const QString name = portNameOfLine(line);
        QStringList known = line.split(QLatin1Char('\t')).mid(1);
        known.removeAll(QString());
        auto *action = new QAction(
            name + (known.isEmpty() ? QString() : QStringLiteral("  (") + known.join(QStringLiteral(", ")) + ')'),
            group);
        action->setCheckable(true);
        action->setChecked(name == settings_.port);
        action->setEnabled(!tool_.running());
        connect(action, &QAction::triggered, this, [this, name] { switchPort(name); });
        portActions_.push_back(action);
    }
    portMenu->insertActions(before, group->actions());
}

void Form1::buildStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setSizeGripEnabled(false);
    portLabel = new QLabel(bar);
    portLabel->setObjectName(QStringLiteral("portLabel"));
    folderLabel = new QLabel(bar);
    folderLabel->setObjectName(QStringLiteral("folderLabel"));
    // Long paths are elided, so that they never widen the window.
    folderLabel->setMinimumWidth(1);
    folderLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    bar->addWidget(portLabel);
    bar->addWidget(folderLabel, 1);

    progressBar = new QProgressBar(bar);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setTextVisible(true);
    errorsLabel = new QLabel(bar);
    timeLeftLabel = new QLabel(bar);
    stopButton = new QPushButton(QStringLiteral("Стоп"), bar);
    stopButton->setObjectName(QStringLiteral("stopButton"));
    connect(stopButton, &QPushButton::clicked, this, [this] {
        // As SIGINT does headless: the run ends after the exchange in progress.
        stopButton->setEnabled(false);
        tool_.requestStop();
    });
    bar->addWidget(progressBar, 1);
    bar->addWidget(errorsLabel);
    bar->addWidget(timeLeftLabel);
    bar->addWidget(stopButton);
    for (QWidget *w : {static_cast<QWidget *>(progressBar), static_cast<QWidget *>(errorsLabel),
                       static_cast<QWidget *>(timeLeftLabel), static_cast<QWidget *>(stopButton)})
        w->hide();
}

void Form1::buildResultDialog()
{
    resultDialog = new QDialog(this);
    resultDialog->setObjectName(QStringLiteral("resultDialog"));
    resultDialog->setWindowTitle(kTitle + QStringLiteral(" — итог запуска"));
    resultView = new QPlainTextEdit(resultDialog);
    resultView->setObjectName(QStringLiteral("resultView"));
    resultView->setReadOnly(true);
    resultView->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    auto *buttons = new QDialogButtonBox(resultDialog);
    QPushButton *copy = buttons->addButton(QStringLiteral("Копировать"), QDialogButtonBox::ActionRole);
    QPushButton *closeButton = buttons->addButton(QStringLiteral("Закрыть"), QDialogButtonBox::RejectRole);
    connect(copy, &QPushButton::clicked, this, [this] {
        QApplication::clipboard()->setText(resultView->toPlainText());
    });
    connect(closeButton, &QPushButton::clicked, resultDialog, &QDialog::reject);
    auto *layout = new QVBoxLayout(resultDialog);
    layout->addWidget(resultView);
    layout->addWidget(buttons);
    resultDialog->resize(560, 360);
}

void Form1::buildHistoryDialog()
{
    historyDialog = new QDialog(this);
    historyDialog->setObjectName(QStringLiteral("historyDialog"));
    historyDialog->setWindowTitle(kTitle + QStringLiteral(" — история образов"));
    auto *note = new QLabel(QStringLiteral("Образы в папке history, новые сверху. Восстановление сначала сохраняет "
                                           "нынешний zuk.txt в этой же папке."),
                            historyDialog);
    note->setWordWrap(true);
    historyList = new QTreeWidget(historyDialog);
    historyList->setObjectName(QStringLiteral("historyList"));
    historyList->setRootIsDecorated(false);
    historyList->setHeaderLabels({QStringLiteral("Время"), QStringLiteral("Контроллеры"),
                                  QStringLiteral("Отличий от zuk.txt, байт"), QStringLiteral("Файл")});
    auto *buttons = new QDialogButtonBox(historyDialog);
    QPushButton *restore = buttons->addButton(QStringLiteral("Восстановить в zuk.txt"), QDialogButtonBox::ActionRole);
    restore->setObjectName(QStringLiteral("restoreButton"));
    restore->setEnabled(false);
    QPushButton *closeButton = buttons->addButton(QStringLiteral("Закрыть"), QDialogButtonBox::RejectRole);
    connect(historyList, &QTreeWidget::currentItemChanged, restore,
            [restore](QTreeWidgetItem *item) { restore->setEnabled(item != nullptr); });
    connect(restore, &QPushButton::clicked, this, [this] {
        if (QTreeWidgetItem *item = historyList->currentItem())
            restoreImage(item->data(0, Qt::UserRole).toString());
    });
    connect(closeButton, &QPushButton::clicked, historyDialog, &QDialog::reject);
    auto *layout = new QVBoxLayout(historyDialog);
    layout->addWidget(note);
    layout->addWidget(historyList);
    layout->addWidget(buttons);
    historyDialog->resize(780, 360);
}

void Form1::fillHistory()
{
    historyList->clear();
    for (const history::Listing &l : history::listing(settings_.dir)) {
        auto *item = new QTreeWidgetItem(historyList);
        item->setText(0, QLocale().toString(l.entry.time, QStringLiteral("dd.MM.yyyy HH:mm:ss"))
                             + (l.entry.number > 1 ? QStringLiteral(" (%1)").arg(l.entry.number) : QString()));
        item->setText(1, l.loaded ? l.present : QStringLiteral("файл повреждён"));
        item->setText(2, l.differences < 0 ? QStringLiteral("?") : QString::number(l.differences));
        item->setText(3, l.entry.name);
        item->setData(0, Qt::UserRole, l.entry.path);
    }
    for (int c = 0; c < historyList->columnCount(); ++c)
        historyList->resizeColumnToContents(c);
    if (historyList->topLevelItemCount() > 0)
        historyList->setCurrentItem(historyList->topLevelItem(0));
}

void Form1::showHistory()
{
    if (tool_.running())
        return;
    fillHistory();
    historyDialog->show();
    historyDialog->raise();
}

bool Form1::restoreImage(const QString &historyPath)
{
    if (tool_.running())
        return false;
    QString kept, why;
    const QString name = QFileInfo(historyPath).fileName();
    if (!tool_.restoreFromHistory(historyPath, &kept, &why)) {
        showMessage(QStringLiteral("zuk.txt не восстановлен из %1: %2").arg(name, why));
        return false;
    }
    showTicks();
    fillHistory();
    showMessage(QStringLiteral("zuk.txt восстановлен из %1 и загружен.").arg(name)
                + (kept.isEmpty() ? QString()
                                  : QStringLiteral(" Прежний zuk.txt сохранён как %1.").arg(QFileInfo(kept).fileName())));
    return true;
}

void Form1::setRunning(bool running)
{
    Command1->setEnabled(!running);
    Command2->setEnabled(!running);
    for (QCheckBox *box : boxes)
        box->setEnabled(!running);
    for (QAction *action : lockedInRun_)
        action->setEnabled(!running);
    for (QAction *action : portActions_)
        action->setEnabled(!running);
    if (running)
        statusBar()->clearMessage();   // a notice would hide the progress
    portLabel->setVisible(!running);
    folderLabel->setVisible(!running);
    for (QWidget *w : {static_cast<QWidget *>(progressBar), static_cast<QWidget *>(errorsLabel),
                       static_cast<QWidget *>(timeLeftLabel), static_cast<QWidget *>(stopButton)})
        w->setVisible(running);
    stopButton->setEnabled(running);
    if (running)
        resultDialog->hide();   // the next result takes its place
    // The history may stay open beside a run: nothing is restored while the
    // run goes on, and the list shows what the run has kept once it ends.
    if (historyDialog) {
        if (auto *restore = historyDialog->findChild<QPushButton *>(QStringLiteral("restoreButton")))
            restore->setEnabled(!running);
        if (!running && historyDialog->isVisible())
            fillHistory();
    }
}

void Form1::showResult(const RunRecord &record)
{
    resultView->setPlainText(runResultText(record)
                             + (settings_.trace.isEmpty()
                                    ? QString()
                                    : QStringLiteral("\n\nЗапись обмена добавлена в файл %1 (после прежних запусков).")
                                          .arg(QDir::toNativeSeparators(settings_.trace))));
    if (!resultPlaced_) {
        // Beside the window when the screen has room, so that both can be
        // seen; else where the system puts it. The user's place is kept.
        resultPlaced_ = true;
        const QRect frame = frameGeometry();
        const QRect room = screen()->availableGeometry();
        const int width = resultDialog->frameGeometry().width();
        if (frame.right() + 8 + width <= room.right())
            resultDialog->move(frame.right() + 8, frame.top());
        else if (frame.left() - 8 - width >= room.left())
            resultDialog->move(frame.left() - 8 - width, frame.top());
    }
    resultDialog->show();
    resultDialog->raise();
}

void Form1::showPlace()
{
    const QString folder = QDir::toNativeSeparators(settings_.dir);
    setWindowTitle(folder.isEmpty() ? kTitle : kTitle + QStringLiteral(" — ") + folder);
    portLabel->setText(QStringLiteral("Порт: %1%2").arg(settings_.port, tool_.portOpen() ? QString()
                                                                                      : QStringLiteral(" (не открыт)")));
    folderLabel->setText(QStringLiteral("Папка: ") + folder);
    folderLabel->setToolTip(folder);
    reopenAction->setText(tool_.portOpen() ? QStringLiteral("&Открыть порт снова")
                                           : QStringLiteral("&Открыть порт %1 снова").arg(settings_.port));
}

void Form1::switchPort(const QString &name)
{
    if (tool_.running() || shutDown_ || name.isEmpty())
        return;
    const QString before = settings_.port;
    const bool wasOpen = tool_.portOpen();
    QString reason;
    if (MSComm1 && !MSComm1->open(name, &reason, BusLine::OpenOptions{settings_.rs485})) {
        QString text = QStringLiteral("Порт %1 не открыт: %2").arg(name, reason);
        // Back to the port in use before, when there was one.
        if (wasOpen && name != before && MSComm1->open(before, nullptr, BusLine::OpenOptions{settings_.rs485})) {
            text += QStringLiteral("\nРабота продолжается через порт %1.").arg(before);
        } else {
            settings_.port = name;
            tool_.setPort(name, false);
            text += QStringLiteral("\nЧтение и запись невозможны.");
        }
        showPlace();
        showMessage(text);
        return;
    }
    settings_.port = name;
    bus_.portReopened();
    bus_.resetReceiveCount();
    tool_.setPort(name, true);
    rememberPortName(name);
    showPlace();
    // "Ошибка: порт … не открыт" of the status line no longer holds.
    Label2->setText(TransferTool::neutralStatus());
    statusBar()->showMessage(QStringLiteral("Порт %1 открыт").arg(name), 10000);
}

void Form1::setFolder(const QString &folder)
{
    if (tool_.running() || shutDown_ || folder.isEmpty())
        return;
    settings_.dir = QDir(folder).absolutePath();
    tool_.setFolder(settings_.dir);
    rememberProgramFolder(QStringLiteral("zuk_2"), settings_.dir);
    removeLeftoverTemporaries(settings_.dir, {QStringLiteral("zuk.txt")}, QDateTime::currentDateTime());
    // The image and the ticks of this folder only, as at a start.
    tool_.reg_image = {};
    tool_.ticked = {};
    if (!tool_.LoadImageFile())
        showMessage(QStringLiteral("Ошибка, нет готового файла"));
    watchImageFile();
    showTicks();
    showPlace();
}

struct Form1::OutputFile {
    QAction *Form1::*toggle;
    QString TransferSettings::*path;
    bool WindowChoices::*on;
    QString WindowChoices::*file;
    std::function<QString(const QString &)> Form1::*dialog;
    const char *what;        // how messages name it, at the start of a sentence
    const char *suggested;   // the name first offered, in the folder
};

const Form1::OutputFile &Form1::reportOutput()
{
    static const OutputFile report{&Form1::reportAction, &TransferSettings::report, &WindowChoices::reportOn,
                                   &WindowChoices::reportFile, &Form1::chooseReportFile, "Отчёт", "отчёт.json"};
    return report;
}

const Form1::OutputFile &Form1::traceOutput()
{
    static const OutputFile trace{&Form1::traceAction, &TransferSettings::trace,       &WindowChoices::traceOn,
                                  &WindowChoices::traceFile, &Form1::chooseTraceFile, "Файл записи обмена",
                                  "обмен.txt"};
    return trace;
}

QString Form1::askOutputFile(const OutputFile &output, const QString &current)
{
    const QString suggested =
        current.isEmpty() ? QDir(settings_.dir).filePath(QString::fromUtf8(output.suggested)) : current;
    const QString file = (this->*output.dialog)(suggested);
    if (file.isEmpty())
        return QString();
    if (const QString why = outputRefusal(output, file); !why.isEmpty()) {
        showMessage(QStringLiteral("%1 %2 нельзя записать: %3")
                        .arg(QString::fromUtf8(output.what), QDir::toNativeSeparators(file), why));
        return QString();
    }
    return QDir::cleanPath(QFileInfo(file).absoluteFilePath());
}

// Why a file cannot take this output: a file of the installation, or the
// file the other output writes (the report would replace the record).
QString Form1::outputRefusal(const OutputFile &output, const QString &file) const
{
    if (QString why = reportFileRefusal(file, settings_.dir); !why.isEmpty())
        return why;
    const QString &other = output.path == &TransferSettings::report ? settings_.trace : settings_.report;
    if (!other.isEmpty() && sameRealFile(file, other))
        return output.path == &TransferSettings::report ? QStringLiteral("в него записывается обмен; укажите другой файл")
                                                        : QStringLiteral("в него записывается отчёт; укажите другой файл");
    return QString();
}

void Form1::setOutputOn(const OutputFile &output, bool on)
{
    if (tool_.running() || shutDown_)
        return;
    WindowChoices remembered = rememberedWindowChoices();
    if (on) {
        // The file chosen once serves from then on; chosen anew only when it no longer can.
        QString file = remembered.*output.file;
        if (file.isEmpty() || !outputRefusal(output, file).isEmpty())
            file = askOutputFile(output, file);
        if (file.isEmpty()) {
            const QSignalBlocker block(this->*output.toggle);
            (this->*output.toggle)->setChecked(false);
            return;
        }
        settings_.*output.path = file;
        remembered.*output.file = file;
    } else {
        (settings_.*output.path).clear();
    }
    remembered.*output.on = on;
    rememberWindowChoices(remembered);
}

void Form1::chooseOutput(const OutputFile &output)
{
    if (tool_.running() || shutDown_)
        return;
    WindowChoices remembered = rememberedWindowChoices();
    const QString now = settings_.*output.path;
    const QString file = askOutputFile(output, now.isEmpty() ? remembered.*output.file : now);
    if (file.isEmpty())
        return;
    settings_.*output.path = file;
    {
        const QSignalBlocker block(this->*output.toggle);
        (this->*output.toggle)->setChecked(true);
    }
    remembered.*output.file = file;
    remembered.*output.on = true;
    rememberWindowChoices(remembered);
}

void Form1::modeChanged()
{
    if (tool_.running())
        return;
    WindowChoices remembered = rememberedWindowChoices();
    // Only the choice that changed is remembered: an option of the command
    // line holds for its start alone.
    if (fastAction->isChecked() != settings_.fast)
        remembered.fast = settings_.fast = fastAction->isChecked();
    if (verifyAction->isChecked() != settings_.verify)
        remembered.verify = settings_.verify = verifyAction->isChecked();
    if (skipSilentAction->isChecked() != settings_.skipSilent)
        remembered.skipSilent = settings_.skipSilent = skipSilentAction->isChecked();
    if (changedOnlyAction->isChecked() != settings_.changedOnly)
        remembered.changedOnly = settings_.changedOnly = changedOnlyAction->isChecked();
    if (historyAction->isChecked() != settings_.history)
        remembered.history = settings_.history = historyAction->isChecked();
    applySettings(settings_, bus_, tool_);
    rememberWindowChoices(remembered);
}

}  // namespace zuk
