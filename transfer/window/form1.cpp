#include "transfer/window/form1.h"

#include "common/files.h"
#include "common/text_file.h"
#include "common/twips.h"
#include "transfer/runs/history.h"
#include "transfer/window/choices.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFontMetrics>
#include <QInputDialog>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace zuk {

namespace {

// Whether a run with this outcome began its exchanges, so that it has a result to show.
bool ranOnBus(RunOutcome outcome)
{
    return outcome == RunOutcome::Completed || outcome == RunOutcome::Stopped || outcome == RunOutcome::PortLost
           || outcome == RunOutcome::NoAnswer;
}

QRect twips(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

struct BoxPlace {
    int left, top, width, height;
};

// Check box places in slot order.
constexpr std::array<BoxPlace, kSlotCount> kBoxPlaces = {{
    {240, 480, 2055, 255},   {240, 960, 2055, 375},   {240, 1440, 2175, 375},  {240, 1920, 2175, 495},
    {240, 2520, 2295, 255},  {240, 3000, 2415, 375},  {240, 3600, 2295, 255},  {240, 4080, 2055, 375},
    {3600, 360, 2295, 495},  {3600, 960, 2295, 375},  {3600, 1440, 2415, 375}, {3600, 1920, 2295, 375},
    {3600, 2400, 2415, 375}, {3600, 2880, 2175, 495}, {3600, 3600, 2175, 255}, {3600, 4080, 2415, 375},
    {240, 4680, 3255, 375},  {3600, 4680, 3015, 375}, {240, 5160, 3255, 495},  {3600, 5160, 2895, 375},
}};

}  // namespace

Form1::Form1(const Settings &settings, QWidget *parent)
    : Form1(nullptr, std::make_unique<Line>(), settings, parent)
{
}

Form1::Form1(BusPort &port, const Settings &settings, QWidget *parent)
    : Form1(&port, nullptr, settings, parent)
{
}

Form1::Form1(BusPort *port, std::unique_ptr<Line> line, const Settings &settings, QWidget *parent)
    : QMainWindow(parent),
      settings_(settings),
      MSComm1(std::move(line)),
      port_(port ? port : MSComm1.get()),
      bus_(*port_),
      tool_(bus_)
{
    setObjectName(QStringLiteral("Form1"));
    applySettings(settings, bus_, tool_);
    tool_.onStatus = [this](const QString &text) { Label2->setText(text); };
    tool_.onError = [this](const QString &text) { showMessage(text); };
    tool_.onProgress = [this](int done, int total, int errors) { showProgress(done, total, errors); };
    // A notice covers the port and folder for a while; one that comes during
    // a run waits for its end, so that the progress stays in sight.
    tool_.onNotice = [this](const QString &text) {
        if (tool_.running())
            pendingNotice_ = text;
        else
            showNotice(text);
    };
    watcher_ = new QFileSystemWatcher(this);
    changeTimer_ = new QTimer(this);
    changeTimer_->setSingleShot(true);
    changeTimer_->setInterval(200);
    connect(changeTimer_, &QTimer::timeout, this, &Form1::imageFileChanged);
    connect(watcher_, &QFileSystemWatcher::fileChanged, changeTimer_, qOverload<>(&QTimer::start));
    connect(watcher_, &QFileSystemWatcher::directoryChanged, changeTimer_, qOverload<>(&QTimer::start));
    tool_.onClosingPause = [this] {
        // The bar at its end during the closing pause, which Стоп would only cut short.
        progressBar->setValue(progressBar->maximum());
        progressBar->setFormat(QStringLiteral("%1 / %1").arg(progressBar->maximum()));
        timeLeftLabel->clear();
        stopButton->setEnabled(false);
    };
    askYesNo = [this](const QString &text) { return absentQuestion(this, text)->exec() == QMessageBox::Yes; };
    confirmWrite = [this](const QString &text, bool *dontAskAgain) {
        const std::unique_ptr<QMessageBox> box = writeQuestion(this, text);
        const bool yes = box->exec() == QMessageBox::Yes;
        *dontAskAgain = box->checkBox()->isChecked();
        return yes;
    };
    showMessage = [this](const QString &text) {
        // Every message of the window tells of a problem but the one of a restore done.
        QMessageBox box(text.startsWith(QStringLiteral("zuk.txt восстановлен из")) ? QMessageBox::Information
                                                                                   : QMessageBox::Warning,
                        Form1::kTitle, text, QMessageBox::Ok, this);
        box.exec();
    };
    listPorts = [] { return serialPortLines(); };
    choosePort = [this](const QString &text, const QStringList &lines) {
        QStringList items;
        for (const QString &line : lines) {
            QStringList known = line.split(QLatin1Char('\t')).mid(1);
            known.removeAll(QString());
            items << portNameOfLine(line) + (known.isEmpty() ? QString() : QStringLiteral("  (") + known.join(", ") + ')');
        }
        // One of the ports listed, or any name typed into the line.
        QInputDialog dialog(this);
        dialog.setWindowTitle(Form1::kTitle);
        dialog.setLabelText(text);
        dialog.setComboBoxItems(items);
        dialog.setComboBoxEditable(true);
        dialog.setOkButtonText(QStringLiteral("OK"));
        dialog.setCancelButtonText(QStringLiteral("Отмена"));
        if (dialog.exec() != QDialog::Accepted)
            return QString();
        const QString value = dialog.textValue().trimmed();
        const qsizetype at = items.indexOf(value);
        return at >= 0 ? portNameOfLine(lines[at]) : value;
    };
    typePort = [this](const QString &current) {
        QInputDialog dialog(this);
        dialog.setWindowTitle(Form1::kTitle);
        dialog.setLabelText(QStringLiteral("Имя порта (например /dev/ttyUSB0, COM3) или сетевого шлюза\n"
                                           "(tcp://УЗЕЛ:ПОРТ, rfc2217://УЗЕЛ:ПОРТ):"));
        dialog.setTextValue(current);
        dialog.setOkButtonText(QStringLiteral("OK"));
        dialog.setCancelButtonText(QStringLiteral("Отмена"));
        return dialog.exec() == QDialog::Accepted ? dialog.textValue().trimmed() : QString();
    };
    chooseFolder = [this](const QString &current) {
        return QFileDialog::getExistingDirectory(this, QStringLiteral("Папка установки умного дома"), current);
    };
    chooseReportFile = [this](const QString &current) {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Файл отчёта о запусках"), current,
                                            QStringLiteral("Отчёт JSON (*.json);;Все файлы (*)"));
    };
    chooseTraceFile = [this](const QString &current) {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Файл записи обмена"), current,
                                            QStringLiteral("Текст (*.txt);;Все файлы (*)"));
    };
    bus_.setTrace(&trace_);
    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("central"));
    setCentralWidget(central);
    buildControls(central);
    buildMenus();
    buildStatusBar();
    buildResultDialog();
    buildHistoryDialog();
    showPlace();
    // The window takes the size of its central area, menu bar and status bar.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

Form1::~Form1()
{
    shutDown();
}

void Form1::buildControls(QWidget *central)
{
    central->setFixedSize(twipsToPixels(6360), twipsToPixels(7185));
    // The captions are laid out for a narrow sans-serif face of 8 points.
    QFont base = central->font();
    base.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
                      base.family()});
    base.setPointSize(8);
    central->setFont(base);

    Label1 = new QLabel(QStringLiteral("Программа чтения и записи ЕЕ контроллеров системы умного дома"), central);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(twips(960, 0, 4335, 255));
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont title = base;
    title.setPointSize(12);
    title.setBold(true);
    Label1->setFont(title);
    // One full line of the title face, so that its descenders are not cut.
    Label1->resize(Label1->width(), std::max(Label1->height(), QFontMetrics(title).height()));

    for (const ControllerSlot &s : controllerMap()) {
        auto *box = new QCheckBox(s.caption, central);
        box->setObjectName(QString::fromLatin1(s.boxName));
        const BoxPlace &p = kBoxPlaces[s.slot];
        box->setGeometry(twips(p.left, p.top, p.width, p.height));
        if (s.slot >= 16) {
            QFont bold = base;
            bold.setBold(true);
            box->setFont(bold);
        }
        connect(box, &QCheckBox::toggled, this, [this, slot = s.slot](bool on) { boxChanged(slot, on); });
        boxes[s.slot] = box;
    }

    QFont buttonFont = base;
    buttonFont.setPointSizeF(9.75);
    Command1 = new QPushButton(QStringLiteral("система в файл zuk.txt"), central);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(twips(240, 5880, 2655, 495));
    Command1->setFont(buttonFont);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    Command2 = new QPushButton(QStringLiteral("из файла zuk.txt в систему"), central);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(twips(3360, 5880, 2775, 495));
    Command2->setFont(buttonFont);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);

    Label2 = new QLabel(QStringLiteral("Статус:"), central);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(twips(240, 6600, 5895, 255));
}

bool Form1::openPort()
{
    if (!MSComm1)
        return true;
    const BusLine::OpenOptions options{settings_.rs485};
    QString reason;
    if (MSComm1->open(settings_.port, &reason, options))
        return true;
    for (;;) {
        const QString text = QStringLiteral("Порт %1 не открыт: %2\nЧтение и запись невозможны.").arg(settings_.port, reason);
        const QStringList lines = listPorts();
        const QString chosen = choosePort(text + (lines.isEmpty() ? QStringLiteral("\n\nПортов в системе не найдено; "
                                                                                  "введите имя порта (сетевой шлюз: "
                                                                                  "tcp://УЗЕЛ:ПОРТ, rfc2217://УЗЕЛ:ПОРТ):")
                                                                   : QStringLiteral("\n\nВыберите порт или введите его имя "
                                                                                    "(сетевой шлюз: tcp://УЗЕЛ:ПОРТ, "
                                                                                    "rfc2217://УЗЕЛ:ПОРТ):")),
                                          lines);
        if (chosen.isEmpty())
            return false;
        settings_.port = chosen;
        showPlace();
        if (MSComm1->open(chosen, &reason, options)) {
            rememberPortName(chosen);
            return true;
        }
    }
}

void Form1::startUp()
{
    const bool open = openPort();
    tool_.setPort(settings_.port, open);
    bus_.resetReceiveCount();
    const QDateTime start = QDateTime::currentDateTime();
    removeLeftoverTemporaries(settings_.dir, {QStringLiteral("zuk.txt")}, start);
    history::removeLeftoverTemporaries(settings_.dir, start);
    if (!settings_.report.isEmpty()) {
        const QFileInfo report(settings_.report);
        removeLeftoverTemporaries(report.absolutePath(), {report.fileName()}, start);
    }
    if (!tool_.LoadImageFile())
        showMessage(QStringLiteral("Ошибка, нет готового файла"));
    watchImageFile();
    showTicks();
    showPlace();
}

void Form1::showNotice(const QString &text)
{
    statusBar()->showMessage(text, kNoticeMs);
}

void Form1::watchImageFile()
{
    if (const QStringList watched = watcher_->files() + watcher_->directories(); !watched.isEmpty())
        watcher_->removePaths(watched);
    // The folder too: a save that renames a new file over zuk.txt ends the watch of the old one.
    watcher_->addPath(settings_.dir);
    if (QFileInfo::exists(tool_.imagePath()))
        watcher_->addPath(tool_.imagePath());
}

void Form1::imageFileChanged()
{
    if (shutDown_)
        return;
    if (!watcher_->files().contains(tool_.imagePath()) && QFileInfo::exists(tool_.imagePath()))
        watcher_->addPath(tool_.imagePath());
    if (tool_.running())
        return;   // the run goes on with what it has; the next one loads the file again
    QString why;
    switch (tool_.reloadIfChanged(&why)) {
    case TransferTool::FileCheck::Reloaded:
        showTicks();
        break;
    case TransferTool::FileCheck::Failed:
        showNotice(QStringLiteral("zuk.txt изменён другой программой и не загружается: %1").arg(why));
        break;
    case TransferTool::FileCheck::Unchanged:
        break;
    }
}

void Form1::showTicks()
{
    for (const ControllerSlot &s : controllerMap()) {
        const QSignalBlocker block(boxes[s.slot]);
        boxes[s.slot]->setChecked(tool_.ticked[s.slot]);
    }
}

void Form1::boxChanged(int slot, bool checked)
{
    if (tool_.running() || shutDown_) {
        // The runs go by the ticks they started with.
        const QSignalBlocker block(boxes[slot]);
        boxes[slot]->setChecked(tool_.ticked[slot]);
        return;
    }
    tool_.ticked[slot] = checked;
}

void Form1::Command1_Click()
{
    startRun(RunKind::Read, [this] { return tool_.readingRun(); });
}

void Form1::Command2_Click()
{
    // What is written is the file as it is now; controllers it marks absent
    // are written only when the user says so.
    const bool loads = tool_.running() || shutDown_ || tool_.reloadIfChanged() != TransferTool::FileCheck::Failed;
    showTicks();
    const bool mayRun = !tool_.running() && !shutDown_ && loads && tool_.runRefusal(RunKind::Write).isEmpty()
                        && tool_.writeRefusal().isEmpty();
    // A house is written only when the user says so, until told not to ask.
    if (mayRun && rememberedWindowChoices().askBeforeWrite) {
        int controllers = 0, rows = 0;
        for (const ControllerSlot &s : controllerMap())
            if (tool_.ticked[s.slot]) {
                ++controllers;
                rows += s.rows;
            }
        bool dontAsk = false;
        const bool yes = confirmWrite(writeQuestionText(controllers, rows), &dontAsk);
        if (dontAsk && yes) {
            WindowChoices remembered = rememberedWindowChoices();
            remembered.askBeforeWrite = false;
            rememberWindowChoices(remembered);
        }
        if (!yes)
            return;
    }
    const QStringList absent = tool_.absentTicked();
    if (mayRun && !absent.isEmpty() && !askYesNo(absentQuestionText(absent)))
        return;
    tool_.setForceAbsent(settings_.forceAbsent || !absent.isEmpty());
    startRun(RunKind::Write, [this] { return tool_.writingRun(); });
    tool_.setForceAbsent(settings_.forceAbsent);
}

QString Form1::absentQuestionText(const QStringList &addresses)
{
    return QStringLiteral("Запись в систему: ") + TransferTool::absentText(addresses)
           + QStringLiteral(". Записать всё же?");
}

QString Form1::writeQuestionText(int controllers, int rows)
{
    return QStringLiteral("Записать %1 %2 (%3 %4) в систему?")
        .arg(controllers)
        .arg(russianPlural(controllers, QStringLiteral("контроллер"), QStringLiteral("контроллера"),
                           QStringLiteral("контроллеров")))
        .arg(rows)
        .arg(russianPlural(rows, QStringLiteral("регистр"), QStringLiteral("регистра"), QStringLiteral("регистров")));
}

std::unique_ptr<QMessageBox> Form1::writeQuestion(QWidget *parent, const QString &text)
{
    std::unique_ptr<QMessageBox> box = absentQuestion(parent, text);
    box->setIcon(QMessageBox::Question);
    box->setCheckBox(new QCheckBox(QStringLiteral("Больше не спрашивать")));
    return box;
}

std::unique_ptr<QMessageBox> Form1::absentQuestion(QWidget *parent, const QString &text)
{
    auto box = std::make_unique<QMessageBox>(QMessageBox::Warning, kTitle, text, QMessageBox::Yes | QMessageBox::No,
                                             parent);
    box->button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
    box->button(QMessageBox::No)->setText(QStringLiteral("Нет"));
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
    return box;
}

void Form1::compareClicked()
{
    startRun(RunKind::Compare, [this] { return tool_.comparingRun(); });
}

void Form1::scanClicked()
{
    if (tool_.running() || shutDown_)
        return;   // a run in progress keeps its ticks
    // The whole address map is asked; what answers is ticked afterwards.
    const std::array<bool, kSlotCount> before = tool_.ticked;
    tool_.ticked.fill(true);
    const bool made = startRun(RunKind::Scan, [this] { return tool_.scanRun(); });
    tool_.ticked = before;
    if (made && tool_.lastRun().kind == RunKind::Scan && tool_.lastRun().outcome == RunOutcome::Completed)
        for (const ControllerRecord &c : tool_.lastRun().controllers)
            tool_.ticked[c.slot] = c.answered;
    showTicks();
}

bool Form1::startRun(RunKind kind, const std::function<RunOutcome()> &run)
{
    if (tool_.running() || shutDown_)
        return false;
    // A run that would do nothing or could not save (nothing ticked, zuk.txt
    // or its folder not writable) is not begun: nothing is sent.
    if (const QString why = tool_.runRefusal(kind); !why.isEmpty()) {
        showMessage(why);
        writeReport(recordWithoutRun(kind, RunOutcome::Refused, settings_.port));
        return false;
    }
    // The record of the line, each run added to the earlier ones, so that
    // the run that went wrong is still there after the next; a run is not
    // begun without the record asked for.
    if (!settings_.trace.isEmpty()) {
        QString why = reportFileRefusal(settings_.trace, settings_.dir);
        if (why.isEmpty())
            trace_.open(settings_.trace, &why, true);
        if (!trace_.isOpen()) {
            showMessage(QStringLiteral("Запуск не начат: файл записи обмена %1 нельзя записать: %2")
                            .arg(QDir::toNativeSeparators(settings_.trace), why));
            return false;
        }
    }
    runWithWindow(kind, run);
    if (!trace_.close())
        showMessage(QStringLiteral("Файл записи обмена %1 записан не целиком: %2")
                        .arg(QDir::toNativeSeparators(settings_.trace), trace_.failure()));
    return true;
}

void Form1::runWithWindow(RunKind kind, const std::function<RunOutcome()> &run)
{
    runKind_ = kind;
    const bool resultShown = resultDialog->isVisible();
    setRunning(true);
    clock_.start();
    // A scan counts controllers, the other runs rows.
    showProgress(0, kind == RunKind::Scan ? int(std::count(tool_.ticked.begin(), tool_.ticked.end(), true))
                                          : tool_.rowsToDo(),
                 0);
    const RunOutcome outcome = run();
    setRunning(false);
    if (!pendingNotice_.isEmpty())
        showNotice(std::exchange(pendingNotice_, QString()));
    imageFileChanged();   // a change made during the run is loaded and told now
    afterRun(outcome);
    // A run that did not begin leaves the last result as it was.
    if (resultShown && !resultDialog->isVisible() && !ranOnBus(outcome) && !closePending_)
        resultDialog->show();
}

void Form1::showProgress(int done, int total, int errors)
{
    progressBar->setRange(0, std::max(total, 1));
    progressBar->setValue(std::min(done, std::max(total, 1)));
    progressBar->setFormat(QStringLiteral("%1 / %2").arg(done).arg(total));
    errorsLabel->setText((runKind_ == RunKind::Scan ? QStringLiteral("без ответа %1") : QStringLiteral("ошибок %1"))
                             .arg(errors));
    timeLeftLabel->setText(done > 0 ? QStringLiteral("осталось ~") + clockText(tool_.timeLeftMs(clock_.elapsedMs()))
                                    : QString());
}

void Form1::afterRun(RunOutcome outcome)
{
    showPlace();   // a lost line leaves the port closed
    if (outcome != RunOutcome::Busy)
        writeReport(tool_.lastRun());
    if (closePending_) {
        // The user who stopped a write by closing is told what the house holds.
        if (askedToStopWrite_ && ranOnBus(outcome))
            showMessage(runResultText(tool_.lastRun()));
        QTimer::singleShot(0, this, &QWidget::close);
        return;
    }
    if (ranOnBus(outcome))
        showResult(tool_.lastRun());
}

void Form1::writeReport(const RunRecord &record)
{
    if (settings_.report.isEmpty())
        return;
    // The folder may have changed since the file was chosen.
    QString why = reportFileRefusal(settings_.report, settings_.dir);
    if ((!why.isEmpty() || !saveReport(settings_.report, record, &why)) && !closePending_)
        showMessage(QStringLiteral("Отчёт %1 не записан: %2").arg(QDir::toNativeSeparators(settings_.report), why));
}

void Form1::closeWithoutAsking()
{
    closeAsked_ = true;
    close();
}

void Form1::closeEvent(QCloseEvent *event)
{
    // A writing run stopped half-way leaves the house half written: asked first.
    if (tool_.running() && runKind_ == RunKind::Write && !closeAsked_ && !closePending_) {
        if (!askYesNo(stopWriteQuestion())) {
            event->ignore();
            return;
        }
        closeAsked_ = true;
        askedToStopWrite_ = true;
    }
    if (tool_.running()) {
        // The run ends after its current exchange; the window closes then.
        closePending_ = true;
        tool_.requestStop();
        event->ignore();
        return;
    }
    shutDown();
    resultDialog->close();
    event->accept();
}

void Form1::shutDown()
{
    if (shutDown_)
        return;
    shutDown_ = true;
    QApplication::beep();
    if (MSComm1)
        MSComm1->close();
}

}  // namespace zuk
