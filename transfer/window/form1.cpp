#include "transfer/window/form1.h"

#include "common/files.h"
#include "common/twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDateTime>
#include <QFileInfo>
#include <QFontMetrics>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>

namespace zuk {

namespace {

const QString kTitle = QStringLiteral("умный дом");

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
    : Form1(nullptr, std::make_unique<MSComm>(), settings, parent)
{
}

Form1::Form1(BusPort &port, const Settings &settings, QWidget *parent)
    : Form1(&port, nullptr, settings, parent)
{
}

Form1::Form1(BusPort *port, std::unique_ptr<MSComm> serial, const Settings &settings, QWidget *parent)
    : QWidget(parent),
      settings_(settings),
      MSComm1(std::move(serial)),
      port_(port ? port : MSComm1.get()),
      bus_(*port_),
      tool_(bus_)
{
    setObjectName(QStringLiteral("Form1"));
    applySettings(settings, bus_, tool_);
    tool_.onStatus = [this](const QString &text) { Label2->setText(text); };
    tool_.onError = [this](const QString &text) { showMessage(text); };
    tool_.onProgress = [this](int done, int total, int errors) { showProgress(done, total, errors); };
    showMessage = [this](const QString &text) {
        QMessageBox::information(this, kTitle, text, QMessageBox::Ok);
    };
    listPorts = [] { return serialPortLines(); };
    choosePort = [this](const QString &text, const QStringList &lines) {
        QStringList items;
        for (const QString &line : lines) {
            QStringList known = line.split(QLatin1Char('\t')).mid(1);
            known.removeAll(QString());
            items << portNameOfLine(line) + (known.isEmpty() ? QString() : QStringLiteral("  (") + known.join(", ") + ')');
        }
        QInputDialog dialog(this);
        dialog.setWindowTitle(kTitle);
        dialog.setLabelText(text);
        dialog.setComboBoxItems(items);
        dialog.setComboBoxEditable(false);
        dialog.setOkButtonText(QStringLiteral("OK"));
        dialog.setCancelButtonText(QStringLiteral("Отмена"));
        const qsizetype at = dialog.exec() == QDialog::Accepted ? items.indexOf(dialog.textValue()) : -1;
        return at >= 0 ? portNameOfLine(lines[at]) : QString();
    };
    buildControls();
}

Form1::~Form1()
{
    shutDown();
}

void Form1::buildControls()
{
    setWindowTitle(kTitle);
    setFixedSize(twipsToPixels(6360), twipsToPixels(7185));
    // The captions are laid out for a narrow sans-serif face of 8 points.
    QFont base = font();
    base.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
                      base.family()});
    base.setPointSize(8);
    setFont(base);

    Label1 = new QLabel(QStringLiteral("Программа чтения и записи ЕЕ контроллеров системы умного дома"), this);
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
        auto *box = new QCheckBox(s.caption, this);
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
    Command1 = new QPushButton(QStringLiteral("система в файл zuk.txt"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(twips(240, 5880, 2655, 495));
    Command1->setFont(buttonFont);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    Command2 = new QPushButton(QStringLiteral("из файла zuk.txt в систему"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(twips(3360, 5880, 2775, 495));
    Command2->setFont(buttonFont);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);

    Label2 = new QLabel(QStringLiteral("Статус:"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(twips(240, 6600, 5895, 255));
}

bool Form1::openPort()
{
    if (!MSComm1)
        return true;
    const MSComm::OpenOptions options{settings_.rs485};
    QString reason;
    if (MSComm1->open(settings_.port, &reason, options))
        return true;
    for (;;) {
        const QString text = QStringLiteral("Порт %1 не открыт: %2\nЧтение и запись невозможны.").arg(settings_.port, reason);
        const QStringList lines = listPorts();
        if (lines.isEmpty()) {
            showMessage(text);
            return false;
        }
        const QString chosen = choosePort(text + QStringLiteral("\n\nВыберите порт:"), lines);
        if (chosen.isEmpty())
            return false;
        settings_.port = chosen;
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
    if (!settings_.report.isEmpty()) {
        const QFileInfo report(settings_.report);
        removeLeftoverTemporaries(report.absolutePath(), {report.fileName()}, start);
    }
    if (!tool_.LoadImageFile())
        showMessage(QStringLiteral("Ошибка, нет готового файла"));
    showTicks();
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
    if (tool_.running() || shutDown_)
        return;
    // zuk.txt made read-only is not replaced: no exchange is begun for a file that cannot be saved.
    if (const QString readOnly = readOnlyFileText(tool_.imagePath()); !readOnly.isEmpty()) {
        showMessage(QStringLiteral("Чтение не начато, ничего не отправлено: ") + readOnly);
        writeReport(recordWithoutRun(RunKind::Read, RunOutcome::Refused, settings_.port));
        return;
    }
    afterRun(tool_.readingRun());
}

void Form1::Command2_Click()
{
    if (tool_.running() || shutDown_)
        return;
    afterRun(tool_.writingRun());
}

void Form1::showProgress(int done, int total, int errors)
{
    setWindowTitle(QStringLiteral("%1 — %2 / %3, ошибок %4").arg(kTitle).arg(done).arg(total).arg(errors));
}

void Form1::afterRun(RunOutcome outcome)
{
    setWindowTitle(kTitle);
    if (outcome != RunOutcome::Busy)
        writeReport(tool_.lastRun());
    if (closePending_)
        QTimer::singleShot(0, this, &QWidget::close);
}

void Form1::writeReport(const RunRecord &record)
{
    QString why;
    if (!settings_.report.isEmpty() && !saveReport(settings_.report, record, &why) && !closePending_)
        showMessage(QStringLiteral("Отчёт %1 не записан: %2").arg(QDir::toNativeSeparators(settings_.report), why));
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (tool_.running()) {
        // The run ends after its current exchange; the window closes then.
        closePending_ = true;
        tool_.requestStop();
        event->ignore();
        return;
    }
    shutDown();
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
    bus_.stopTimer();
}

}  // namespace zuk
