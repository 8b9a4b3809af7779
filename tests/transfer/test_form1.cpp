#include "fake_port.h"
#include "common/program_folder.h"
#include "common/files.h"
#include "common/program_folder.h"
#include "transfer/window/choices.h"
#include "transfer/runs/history.h"
#include "transfer/window/form1.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QTreeWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#ifdef Q_OS_LINUX
#include <pty.h>
#include <unistd.h>
#endif
#include <gtest/gtest.h>

using namespace zuk;
using namespace zuk::test;

namespace {

struct FormTest : ::testing::Test {
    void SetUp() override
    {
        ensureApp();
        // The menus remember their choices: in a settings file of this test.
        platform::useSettingsFilesForTests();
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
        settings.port = dir.filePath("no-such-port");
        settings.dir = dir.path();
        settings.waitUnitMs = 25;   // room for a loaded machine
        port.responder = [this](const QByteArray &req) { return bus.answer(req); };
    }
    std::unique_ptr<Form1> makeForm(bool fakePort = true)
    {
        auto form = fakePort ? std::make_unique<Form1>(port, settings) : std::make_unique<Form1>(settings);
        form->showMessage = [this](const QString &t) { messages.push_back(t); };
        form->listPorts = [this] { return offered; };
        form->choosePort = [this](const QString &text, const QStringList &lines) {
            messages.push_back(text);
            EXPECT_EQ(lines, offered);
            return answer;
        };
        form->typePort = [this](const QString &) { return typed; };
        form->chooseFolder = [this](const QString &) { return folder; };
        form->chooseReportFile = [this](const QString &) { return reportFile; };
        form->chooseTraceFile = [this](const QString &) { return traceFile; };
        form->askYesNo = [this](const QString &t) {
            messages.push_back(t);
            return yes;
        };
        form->confirmWrite = [this](const QString &t, bool *dontAsk) {
            writeQuestions.push_back(t);
            *dontAsk = dontAskAgain;
            return writeAnswer;
        };
        form->startUp();
        return form;
    }
    QString image() const { return QDir(dir.path()).filePath("zuk.txt"); }
    QByteArray bytesOf(const QString &path) const
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QString result(const Form1 &form) const
    {
        return form.resultDialog->isVisible() ? form.resultView->toPlainText() : QString();
    }
    QTemporaryDir dir, settingsDir;
    Form1::Settings settings;
    FakePort port;
    Bus bus;
    std::vector<QString> messages;
    QStringList offered;   // the ports the window may offer
    QString answer;        // the user's pick among them, empty: cancel
    QString typed, folder, reportFile, traceFile;   // what the user types or chooses in the menus' dialogs
    bool yes = false;                               // the answer to a question
    std::vector<QString> writeQuestions;            // asked before writing runs
    bool writeAnswer = true, dontAskAgain = false;  // and the user's answer
};

}  // namespace

TEST_F(FormTest, ControlsAndStartUp)
{
    RegisterImage img{};
    img[2][0][0] = img[18][0][0] = 1;
    QString why;
    ASSERT_TRUE(saveFileAtomically(QDir(dir.path()).filePath("zuk.txt"), imageFileBytes(img), &why));
    auto form = makeForm();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("умный дом — ") + QDir::toNativeSeparators(dir.path()));
    EXPECT_EQ(form->centralWidget()->size(), QSize(424, 479));
    EXPECT_EQ(form->boxes[8]->geometry(), QRect(240, 24, 153, 33));   // twips / 15
    EXPECT_EQ(form->Label2->geometry(), QRect(16, 440, 393, 17));
    for (const ControllerSlot &s : controllerMap()) {
        auto *box = form->findChild<QCheckBox *>(s.boxName);
        ASSERT_EQ(box, form->boxes[s.slot]);
        EXPECT_EQ(box->text(), s.caption);
        EXPECT_EQ(box->font().bold(), s.slot >= 16);
        EXPECT_EQ(box->isChecked(), s.slot == 2 || s.slot == 18);
    }
    EXPECT_EQ(form->Command2->text(), QStringLiteral("из файла zuk.txt в систему"));
    // No zuk.txt and a port that does not open: both said, the window opens, a click runs nothing.
    QFile::remove(QDir(dir.path()).filePath("zuk.txt"));
    form = makeForm(false);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[0].contains(settings.port));
    EXPECT_EQ(messages[1], QStringLiteral("Ошибка, нет готового файла"));
    EXPECT_EQ(form->portLabel->text(), QStringLiteral("Порт: %1 (не открыт)").arg(settings.port));
    form->boxes[0]->setChecked(true);
    form->Command1->click();
    EXPECT_EQ(form->Label2->text(), QStringLiteral("Ошибка: порт %1 не открыт").arg(settings.port));
    EXPECT_FALSE(QFile::exists(form->tool().imagePath()));
}

TEST_F(FormTest, ClickRunsAndInputDuringTheRunDoesNothing)
{
    bus.memory(0x81) = pattern(2);
    settings.verify = true;
    settings.report = dir.filePath("report.json");
    auto form = makeForm();   // no zuk.txt: every controller's image incomplete
    form->boxes[9]->setChecked(true);   // $81
    port.responder = [&](const QByteArray &req) {
        if (bus.exchanges == 3) {
            form->boxes[0]->setChecked(true);
            form->boxes[9]->setChecked(false);
            form->Command2->click();
            form->Command1->click();
        }
        return bus.answer(req);
    };
    form->Command1->click();
    EXPECT_EQ(port.requests.size(), 9u);
    for (const QByteArray &r : port.requests)
        EXPECT_EQ(r[2], frames::kReadCommand);
    EXPECT_FALSE(form->boxes[0]->isChecked());
    EXPECT_TRUE(form->boxes[9]->isChecked());
    EXPECT_EQ(form->tool().reg_image[9][8], pattern(2)[8]);
    EXPECT_EQ(form->Label2->text(), TransferTool::neutralStatus());
    EXPECT_TRUE(QFile::exists(form->tool().imagePath()));
    form->Command2->click();   // $81 was read whole: it may be written, each row read back
    EXPECT_EQ(port.requests.size(), 27u);
    QFile reportFile(settings.report);
    ASSERT_TRUE(reportFile.open(QIODevice::ReadOnly));
    const QJsonObject report = QJsonDocument::fromJson(reportFile.readAll()).object();
    reportFile.close();   // Windows replaces no file that is open
    EXPECT_EQ(report["run"].toString(), "write");
    EXPECT_EQ(report["controllers"][0]["verified"].toInt(), 9);
    form->boxes[8]->setChecked(true);   // $80, never read
    form->Command2->click();
    EXPECT_EQ(port.requests.size(), 27u);
    ASSERT_FALSE(messages.empty());
    EXPECT_TRUE(messages.back().contains("$80")) << messages.back().toStdString();
    EXPECT_FALSE(messages.back().contains("$81")) << messages.back().toStdString();
    form->boxes[8]->setChecked(false);
    // Closing during a run ends it after the exchange in progress, without saving.
    QFile::remove(form->tool().imagePath());
    form->show();
    port.responder = [&](const QByteArray &req) {
        if (bus.exchanges == 28)
            form->close();
        return bus.answer(req);
    };
    form->Command1->click();
    EXPECT_EQ(bus.exchanges, 29);
    QCoreApplication::processEvents();   // the close comes once the run has ended
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(QFile::exists(form->tool().imagePath()));
}

TEST_F(FormTest, ReadOnlyZukTxtIsNeverReplacedAndTheReportsLeftoversGo)
{
    // What a killed save of the report left goes at start; a user's own file stays.
    settings.report = dir.filePath("report.json");
    const QString leftover = settings.report + ".tmp-Ab3xY9", own = settings.report + ".tmp-mine";
    for (const QString &path : {leftover, own}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
    }
    const QString image = QDir(dir.path()).filePath("zuk.txt");
    const QByteArray bytes = imageFileBytes(RegisterImage{});
    QString why;
    ASSERT_TRUE(saveFileAtomically(image, bytes, &why));
    ASSERT_TRUE(QFile::setPermissions(image, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    bus.memory(0x81) = pattern(2);
    auto form = makeForm();
    EXPECT_FALSE(QFile::exists(leftover));
    EXPECT_TRUE(QFile::exists(own));
    form->boxes[9]->setChecked(true);
    form->Command1->click();   // refused before any exchange
    EXPECT_TRUE(port.requests.empty());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains(QDir::toNativeSeparators(image))) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("только для чтения"))) << messages[0].toStdString();
    QFile file(image);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), bytes);
    QFile reportFile(settings.report);
    ASSERT_TRUE(reportFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(QJsonDocument::fromJson(reportFile.readAll())["outcome"].toString(), "refused");
    yes = true;   // to writing $81, which the file marks absent
    form->Command2->click();   // the writing run only reads zuk.txt
    EXPECT_EQ(port.requests.size(), 9u);
}

#ifdef Q_OS_LINUX
TEST_F(FormTest, AnotherPortIsOfferedOrTypedAndTheChoiceIsRemembered)
{
    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    offered = {QString::fromLatin1(name) + "\tpseudo-terminal\t\t\t"};
    auto form = makeForm(false);   // cancelled: the buttons stay inactive
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[0].contains(settings.port)) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("Выберите порт"))) << messages[0].toStdString();
    EXPECT_FALSE(form->tool().portOpen());
    EXPECT_EQ(rememberedPortName("none"), "none");
    answer = QString::fromLatin1(name);
    form.reset();   // one window holds a port at a time
    form = makeForm(false);
    EXPECT_TRUE(form->tool().portOpen());
    EXPECT_EQ(form->portName(), answer);
    EXPECT_EQ(rememberedPortName("none"), answer);
    // No port listed: the name is typed into the same choice.
    offered.clear();
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.filePath("typed"));
    form.reset();
    form = makeForm(false);
    EXPECT_TRUE(form->tool().portOpen());
    EXPECT_EQ(rememberedPortName("none"), answer);
    // Порт > Другой порт: a name that does not open leaves the open port in use; one that does is taken.
    typed = dir.filePath("no-such-port-either");
    form->typePortAction->trigger();
    EXPECT_TRUE(messages.back().contains(typed)) << messages.back().toStdString();
    EXPECT_TRUE(messages.back().contains(answer)) << messages.back().toStdString();
    EXPECT_TRUE(form->tool().portOpen());
    EXPECT_EQ(form->portName(), answer);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.filePath("menu"));
    answer.clear();
    form.reset();
    form = makeForm(false);   // the first port, cancelled
    typed = QString::fromLatin1(name);
    form->typePortAction->trigger();
    EXPECT_TRUE(form->tool().portOpen());
    EXPECT_EQ(form->portName(), typed);
    EXPECT_EQ(rememberedPortName("none"), typed);
    EXPECT_EQ(form->portLabel->text(), QStringLiteral("Порт: ") + typed);
    form.reset();
    ::close(master);
    ::close(slave);
}
#endif

// Порт > Другой порт takes a network line: a gateway that does not answer
// is a port not opened; runs go over one that does; a gateway that closes
// the connection during a run is the line lost, and Открыть порт снова
// connects again.
TEST_F(FormTest, ATypedNetworkLineRunsIsLostAndOpensAgain)
{
    QTcpServer gateway;
    ASSERT_TRUE(gateway.listen(QHostAddress::LocalHost));
    int closeAt = -1;   // the exchange after which the gateway hangs up
    QObject::connect(&gateway, &QTcpServer::newConnection, [&] {
        QTcpSocket *peer = gateway.nextPendingConnection();
        QObject::connect(peer, &QTcpSocket::readyRead, peer, [&, peer] {
            for (const QByteArray &piece : bus.answer(peer->readAll()))
                peer->write(piece);
            if (bus.exchanges == closeAt)
                peer->disconnectFromHost();
        });
    });
    quint16 nobody = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        nobody = probe.serverPort();
    }
    bus.memory(0x81) = pattern(2);
    auto form = makeForm(false);   // its own port does not open, nothing chosen
    typed = QStringLiteral("tcp://127.0.0.1:%1").arg(nobody);
    form->typePortAction->trigger();
    EXPECT_TRUE(messages.back().contains(typed)) << messages.back().toStdString();
    EXPECT_TRUE(messages.back().contains(QStringLiteral("не открыт"))) << messages.back().toStdString();
    EXPECT_FALSE(form->tool().portOpen());

    typed = QStringLiteral("tcp://127.0.0.1:%1").arg(gateway.serverPort());
    form->typePortAction->trigger();
    ASSERT_TRUE(form->tool().portOpen());
    EXPECT_EQ(form->portLabel->text(), QStringLiteral("Порт: ") + typed);
    form->boxes[9]->setChecked(true);
    form->Command1->click();
    EXPECT_TRUE(result(*form).startsWith(QStringLiteral("Чтение: система в файл zuk.txt — завершено")));
    EXPECT_EQ(form->tool().reg_image[9][8], pattern(2)[8]);

    const QByteArray saved = bytesOf(image());
    closeAt = bus.exchanges + 3;
    form->Command1->click();
    EXPECT_EQ(bus.exchanges, closeAt);
    EXPECT_TRUE(messages.back().contains(QStringLiteral("потеряна"))) << messages.back().toStdString();
    EXPECT_TRUE(messages.back().contains(typed)) << messages.back().toStdString();
    EXPECT_FALSE(form->tool().portOpen());
    EXPECT_EQ(bytesOf(image()), saved);

    form->reopenAction->trigger();
    ASSERT_TRUE(form->tool().portOpen());
    form->Command1->click();
    EXPECT_TRUE(result(*form).startsWith(QStringLiteral("Чтение: система в файл zuk.txt — завершено")));
}

TEST_F(FormTest, ProgressAndLockedControlsDuringAFastRunAndTheResultAfterIt)
{
    bus.memory(0x81) = pattern(2);
    bus.fail(0x81, 4, 10);   // row 4 given up
    settings.waitUnitMs = 400;      // a unit per exchange would take over 40 s
    settings.fast = true;
    settings.replyTimeoutMs = 30;
    settings.settleMs = 0;
    auto form = makeForm();
    form->tool().setPauseAtEnd(false);
    form->boxes[9]->setChecked(true);
    form->fillPortMenu();
    struct Seen {
        int value, maximum;
        QString errors;
        bool locked, stop;
    };
    std::vector<Seen> seen;
    port.responder = [&](const QByteArray &req) {
        bool locked = true;
        for (QWidget *w : {(QWidget *)form->Command1, (QWidget *)form->Command2, (QWidget *)form->boxes[0]})
            locked = locked && !w->isEnabled();
        for (QAction *a : {form->readAction, form->scanAction, form->folderAction, form->typePortAction,
                           form->fastAction, form->reportAction})
            locked = locked && !a->isEnabled();
        for (QAction *a : form->portMenu->actions())
            locked = locked && (a->isSeparator() || !a->isEnabled());
        seen.push_back({form->progressBar->value(), form->progressBar->maximum(), form->errorsLabel->text(),
                        locked && form->exitAction->isEnabled(),
                        !form->stopButton->isHidden() && form->stopButton->isEnabled()});
        return bus.answer(req);
    };
    QElapsedTimer t;
    t.start();
    form->Command1->click();
    EXPECT_LT(t.elapsed(), 20000);
    ASSERT_EQ(seen.size(), 9u + 9 + 4);   // after the give-up, rows 5-8 are read twice
    for (const Seen &s : seen) {
        EXPECT_TRUE(s.locked);
        EXPECT_TRUE(s.stop);
        EXPECT_EQ(s.maximum, 9);
    }
    EXPECT_EQ(seen[0].value, 0);
    EXPECT_EQ(seen[4].value, 4);
    EXPECT_EQ(seen[4].errors, QStringLiteral("ошибок 0"));
    EXPECT_EQ(seen[14].value, 5);   // after the ten tries of row 4
    EXPECT_EQ(seen[14].errors, QStringLiteral("ошибок 1"));
    // Afterwards everything is enabled again, the progress gone, the result shown until closed.
    EXPECT_TRUE(form->Command1->isEnabled());
    EXPECT_TRUE(form->boxes[0]->isEnabled());
    EXPECT_TRUE(form->readAction->isEnabled());
    EXPECT_TRUE(form->fastAction->isEnabled());
    EXPECT_TRUE(form->progressBar->isHidden());
    EXPECT_TRUE(form->stopButton->isHidden());
    EXPECT_FALSE(form->portLabel->isHidden());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("умный дом — ") + QDir::toNativeSeparators(dir.path()));
    EXPECT_EQ(form->tool().reg_image[9][8], pattern(2)[8]);
    const QString text = result(*form);
    EXPECT_TRUE(text.contains(QStringLiteral("\n$81: регистр 4 не прочитан\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("\nиндикатор часовой $81: сделано 9 из 9; не прочитаны регистры (1): 4")))
        << text.toStdString();
    form->resultDialog->close();
    EXPECT_EQ(result(*form), QString());
}

TEST_F(FormTest, LostPortStopsTheRunAtOnceAndTheWindowSaysSo)
{
    bus.memory(0x81) = pattern(2);
    auto form = makeForm();
    form->boxes[9]->setChecked(true);
    port.responder = [&](const QByteArray &req) {
        if (bus.exchanges == 3)
            port.lose("gone");
        return bus.answer(req);
    };
    form->Command1->click();
    EXPECT_EQ(bus.exchanges, 4);   // the exchange in progress, then nothing
    ASSERT_FALSE(messages.empty());
    EXPECT_TRUE(messages.back().contains(QStringLiteral("потеряна: gone"))) << messages.back().toStdString();
    EXPECT_TRUE(messages.back().contains("zuk.txt")) << messages.back().toStdString();
    EXPECT_FALSE(QFile::exists(form->tool().imagePath()));
    const QString notOpen = QStringLiteral("Ошибка: порт %1 не открыт").arg(settings.port);
    EXPECT_EQ(form->Label2->text(), notOpen);
    form->Label2->clear();
    form->Command2->click();
    EXPECT_EQ(form->Label2->text(), notOpen);
    EXPECT_EQ(bus.exchanges, 4);
    EXPECT_TRUE(result(*form).contains(QStringLiteral("связь с портом потеряна")));
    // Порт > Открыть порт снова: the runs go on over it.
    form->reopenAction->trigger();
    EXPECT_TRUE(form->tool().portOpen());
    EXPECT_EQ(form->portLabel->text(), QStringLiteral("Порт: ") + settings.port);
    port.responder = [&](const QByteArray &req) { return bus.answer(req); };
    form->Command1->click();
    EXPECT_TRUE(result(*form).startsWith(QStringLiteral("Чтение: система в файл zuk.txt — завершено")));
    EXPECT_EQ(form->tool().reg_image[9][8], pattern(2)[8]);
    EXPECT_EQ(bytesOf(image()), imageFileBytes(form->tool().reg_image));
}

TEST_F(FormTest, MenuRunsWithVerifyAndStopLeavesZukTxtAsItWas)
{
    bus.memory(0x81) = pattern(2);
    settings.report = dir.filePath("report.json");
    RegisterImage img{};
    img[9] = pattern(5);
    img[9][0][0] = 1;   // $81 present
    QString why;
    ASSERT_TRUE(saveFileAtomically(image(), imageFileBytes(img), &why));
    const QByteArray before = bytesOf(image());
    auto form = makeForm();
    form->boxes[9]->setChecked(false);
    form->readAction->trigger();   // nothing ticked: refused, nothing sent
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("ни один контроллер не отмечен"))) << messages[0].toStdString();
    EXPECT_TRUE(port.requests.empty());
    form->boxes[9]->setChecked(true);
    // Режим > Проверять каждую запись чтением: remembered, and every written row read back.
    form->verifyAction->trigger();
    EXPECT_TRUE(rememberedWindowChoices().verify);
    EXPECT_FALSE(rememberedWindowChoices().fast);
    form->writeAction->trigger();
    ASSERT_EQ(port.requests.size(), 18u);
    for (size_t i = 0; i < port.requests.size(); ++i)
        EXPECT_EQ(port.requests[i][2], i % 2 ? frames::kReadCommand : frames::kWriteCommand) << i;
    EXPECT_EQ(bus.memory(0x81)[8], img[9][8]);
    EXPECT_TRUE(result(*form).contains(QStringLiteral("проверено чтением: 9"))) << result(*form).toStdString();
    // Стоп in the middle of a reading run: the run ends after the exchange in progress, zuk.txt stays as it was.
    bus.memory(0x81) = pattern(3);
    port.responder = [&](const QByteArray &req) {
        if (bus.exchanges == 18 + 4)
            form->stopButton->click();
        return bus.answer(req);
    };
    form->readAction->trigger();
    EXPECT_EQ(bus.exchanges, 18 + 5);
    EXPECT_EQ(bytesOf(image()), before);
    EXPECT_TRUE(result(*form).contains(QStringLiteral("остановлено, файл zuk.txt не изменён")));
    EXPECT_EQ(QJsonDocument::fromJson(bytesOf(settings.report))["outcome"].toString(), "stopped");
    EXPECT_TRUE(form->Command1->isEnabled());
}

TEST_F(FormTest, CompareAndScanFromTheMenu)
{
    RegisterImage img{};
    img[9] = bus.memory(0x81) = pattern(2);
    img[9][0][0] = bus.memory(0x81)[0][0] = 1;
    bus.memory(0x81)[3][5] = 200;
    bus.memory(0x90) = pattern(4);
    QString why;
    ASSERT_TRUE(saveFileAtomically(image(), imageFileBytes(img), &why));
    settings.fast = true;   // absent controllers: a short reply timeout per try
    settings.replyTimeoutMs = 30;
    settings.settleMs = 0;
    auto form = makeForm();
    form->tool().setPauseAtEnd(false);
    form->compareAction->trigger();
    EXPECT_EQ(port.requests.size(), 9u);
    const QString text = result(*form);
    EXPECT_TRUE(text.contains(differenceLine({9, 3, 5, img[9][3][5], 200}) + QStringLiteral("\nразличий: 1")))
        << text.toStdString();
    // After a scan exactly the controllers that answered are ticked.
    form->boxes[0]->setChecked(true);
    form->scanAction->trigger();
    EXPECT_EQ(port.requests.size(), 9u + 2 + 18 * 3);
    for (const ControllerSlot &s : controllerMap())
        EXPECT_EQ(form->boxes[s.slot]->isChecked(), s.address == 0x81 || s.address == 0x90) << s.slot;
    EXPECT_TRUE(result(*form).contains(QStringLiteral("клавиатурный $90: отвечает\nсистемный $98: нет ответа")))
        << result(*form).toStdString();
    // A zuk.txt that did not load whole is not compared.
    QFile::resize(image(), 5000);
    form.reset();   // one window over the port at a time
    form = makeForm();
    form->boxes[9]->setChecked(true);
    messages.clear();
    form->compareAction->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Сравнение не начато"))) << messages[0].toStdString();
}

TEST_F(FormTest, FolderReportAndTraceChosenInTheMenusAreRemembered)
{
    QTemporaryDir other;
    RegisterImage img{};
    img[2][0][0] = 1;
    QString why;
    ASSERT_TRUE(saveFileAtomically(QDir(other.path()).filePath("zuk.txt"), imageFileBytes(img), &why));
    auto form = makeForm();
    form->boxes[9]->setChecked(true);
    folder = other.path();
    form->folderAction->trigger();   // zuk.txt of the folder loaded, the ticks taken anew
    for (const ControllerSlot &s : controllerMap())
        EXPECT_EQ(form->boxes[s.slot]->isChecked(), s.slot == 2) << s.slot;
    EXPECT_EQ(form->tool().imagePath(), QDir(other.path()).filePath("zuk.txt"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("умный дом — ") + QDir::toNativeSeparators(other.path()));
    EXPECT_EQ(rememberedProgramFolder("zuk_2"), other.path());
    // A report file of the installation is refused; another is taken, remembered and written after each run.
    reportFile = QDir(other.path()).filePath("zuk.txt");
    form->reportAction->trigger();
    EXPECT_FALSE(form->reportAction->isChecked());
    EXPECT_TRUE(messages.back().contains(QStringLiteral("укажите другой файл"))) << messages.back().toStdString();
    reportFile = dir.filePath("r.json");
    form->reportAction->trigger();
    EXPECT_TRUE(form->reportAction->isChecked());
    // The record of the line too, refused and chosen the same way.
    traceFile = QDir(other.path()).filePath("zuk.txt");
    form->traceAction->trigger();
    EXPECT_FALSE(form->traceAction->isChecked());
    traceFile = reportFile;   // nor the report's file, which would replace it
    form->traceAction->trigger();
    EXPECT_FALSE(form->traceAction->isChecked());
    EXPECT_TRUE(messages.back().contains(QStringLiteral("в него записывается отчёт"))) << messages.back().toStdString();
    traceFile = dir.filePath("trace.txt");
    form->traceAction->trigger();
    EXPECT_TRUE(form->traceAction->isChecked());
    form->skipSilentAction->trigger();   // $02 is absent: left after its first row
    form->Command2->click();
    EXPECT_EQ(port.requests.size(), 10u);
    const QString trace = QString::fromUtf8(bytesOf(traceFile));
    EXPECT_TRUE(trace.startsWith(QStringLiteral("0.000000 # запуск: запись в систему"))) << trace.toStdString();
    EXPECT_EQ(trace.count(QStringLiteral(" > F0 02 08 00 ")), 10);
    EXPECT_EQ(trace.count(QStringLiteral(" = запись $2 регистр $0: нет ответа\n")), 10);
    form->Command2->click();   // the next run is added after the first, and the result names the file
    EXPECT_EQ(QString::fromUtf8(bytesOf(traceFile)).count(QStringLiteral("# запуск: запись в систему")), 2);
    EXPECT_TRUE(result(*form).contains(QDir::toNativeSeparators(traceFile))) << result(*form).toStdString();
    EXPECT_TRUE(result(*form).contains(silentLine(form->tool().lastRun().controllers.at(0))));
    EXPECT_EQ(QJsonDocument::fromJson(bytesOf(reportFile))["run"].toString(), "write");
    const WindowChoices remembered = rememberedWindowChoices();
    EXPECT_TRUE(remembered.reportOn);
    EXPECT_EQ(remembered.reportFile, reportFile);
    EXPECT_TRUE(remembered.skipSilent);
    EXPECT_TRUE(remembered.traceOn);
    EXPECT_EQ(remembered.traceFile, traceFile);
    // Off and on again: the file chosen once serves without asking.
    form->reportAction->trigger();
    EXPECT_FALSE(rememberedWindowChoices().reportOn);
    reportFile.clear();
    form->reportAction->trigger();
    EXPECT_EQ(form->settings().report, remembered.reportFile);
    // What the command line gives wins for its start; the rest comes from the menus' choices.
    TransferSettings given;
    given.report = dir.filePath("given.json");
    addRememberedChoices(&given, {true, false, false, true, remembered.reportFile, true, remembered.traceFile});
    EXPECT_TRUE(given.fast);
    EXPECT_FALSE(given.verify);
    EXPECT_EQ(given.report, dir.filePath("given.json"));
    EXPECT_EQ(given.trace, remembered.traceFile);
}

TEST_F(FormTest, AbsentControllersAreWrittenOnlyAfterYesAndRestoreKeepsTheCurrentImage)
{
    const std::unique_ptr<QMessageBox> box = Form1::absentQuestion(nullptr, Form1::absentQuestionText({"$82"}));
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
    EXPECT_EQ(box->escapeButton(), box->button(QMessageBox::No));

    RegisterImage img{};
    img[0][0][0] = 1;   // $82 (slot 10) marked absent
    QString why;
    ASSERT_TRUE(saveFileAtomically(image(), imageFileBytes(img), &why));
    bus.memory(0x82) = pattern(1);
    auto form = makeForm();
    form->boxes[0]->setChecked(false);
    form->boxes[10]->setChecked(true);
    form->Command2->click();
    EXPECT_TRUE(port.requests.empty());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("файл zuk.txt отмечает контроллер $82 отсутствующим")))
        << messages[0].toStdString();
    yes = true;
    form->Command2->click();
    EXPECT_EQ(port.requests.size(), 9u);
    EXPECT_EQ(bus.memory(0x82)[0], img[10][0]);
    messages.clear();

    // Restoring a kept image: the current zuk.txt goes to history/ first.
    RegisterImage other{};
    other[3][0][0] = 5;
    const QString kept = QDir(history::folderOf(dir.path())).filePath("zuk-20261209-120000.txt");
    QDir().mkpath(history::folderOf(dir.path()));
    ASSERT_TRUE(saveFileAtomically(kept, imageFileBytes(other), &why));
    const QByteArray before = bytesOf(image());
    form->showHistory();
    ASSERT_EQ(form->historyList->topLevelItemCount(), 1);
    EXPECT_EQ(form->historyList->topLevelItem(0)->text(2), "2");   // two presence markers differ
    ASSERT_TRUE(form->restoreImage(kept));
    EXPECT_EQ(bytesOf(image()), imageFileBytes(other));
    const std::vector<history::Entry> all = history::entries(dir.path());
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(bytesOf(all[0].path), before);
    EXPECT_TRUE(form->boxes[3]->isChecked());
    EXPECT_FALSE(form->boxes[0]->isChecked());
    EXPECT_EQ(form->historyList->topLevelItemCount(), 2);

    // The list left open shows what a reading run kept, once the run ends.
    form->historyAction->setChecked(true);
    form->boxes[3]->setChecked(false);
    form->boxes[10]->setChecked(true);   // $82 answers
    form->Command1->click();
    EXPECT_EQ(history::entries(dir.path()).size(), 3u);
    EXPECT_EQ(form->historyList->topLevelItemCount(), 3);
    EXPECT_TRUE(form->historyDialog->findChild<QPushButton *>("restoreButton")->isEnabled());
}

TEST_F(FormTest, RunsTakeZukTxtAsItIsNowAndClosingDuringAWriteAsks)
{
    RegisterImage img{};
    img[9] = bus.memory(0x81) = pattern(2);
    img[9][0][0] = bus.memory(0x81)[0][0] = 1;   // $81 present
    QString why;
    ASSERT_TRUE(saveFileAtomically(image(), imageFileBytes(img), &why));
    auto form = makeForm();
    EXPECT_TRUE(form->historyAction->isChecked());   // a new user keeps earlier images

    // Another program saves while the window is idle: loaded at once and said so; the ticks stay.
    RegisterImage edited = img;
    edited[9][4][1] = 77;
    edited[8][0][0] = 1;   // $80 now marked present
    ASSERT_TRUE(saveFileAtomically(image(), imageFileBytes(edited), &why));
    QElapsedTimer clock;
    clock.start();
    while (form->tool().reg_image[9][4][1] != 77 && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(form->tool().reg_image[9][4][1], 77);
    EXPECT_EQ(form->statusBar()->currentMessage(), TransferTool::reloadedText());
    EXPECT_FALSE(form->boxes[8]->isChecked());

    // Saved again right before the clicks, no time to notice: each run takes the file as it is.
    edited[9][7][6] = 78;
    edited[9][2][0] = 79;
    ASSERT_TRUE(saveFileAtomically(image(), imageFileBytes(edited), &why));
    form->compareAction->trigger();
    EXPECT_TRUE(result(*form).contains(QStringLiteral("различий: 3"))) << result(*form).toStdString();
    form->writeAction->trigger();
    EXPECT_EQ(bus.memory(0x81), edited[9]);

    // A file that no longer loads is not written from the copy in memory.
    QFile::resize(image(), 5000);
    const size_t sent = port.requests.size();
    messages.clear();
    form->writeAction->trigger();
    EXPECT_EQ(port.requests.size(), sent);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("не загружается"))) << messages[0].toStdString();

    // Closing during a write asks: Нет goes on, Да stops and tells what the house holds.
    ASSERT_TRUE(saveFileAtomically(image(), imageFileBytes(img), &why));
    form->show();
    messages.clear();
    port.responder = [&](const QByteArray &req) {
        if (bus.exchanges == int(sent) + 2 || bus.exchanges == int(sent) + 4) {
            yes = bus.exchanges == int(sent) + 4;
            form->close();
        }
        return bus.answer(req);
    };
    form->writeAction->trigger();
    EXPECT_EQ(bus.exchanges, int(sent) + 5);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], Form1::stopWriteQuestion());
    EXPECT_EQ(messages[1], Form1::stopWriteQuestion());
    EXPECT_TRUE(messages[2].contains(QStringLiteral("Записаны регистры $81: 0-4."))) << messages[2].toStdString();
    QCoreApplication::processEvents();
    EXPECT_FALSE(form->isVisible());
}

TEST_F(FormTest, WritingAsksFirstUntilToldNotToAndTheClosingPauseShowsTheEnd)
{
    bus.memory(0x80) = pattern(1);
    RegisterImage img{};
    img[8] = pattern(2);
    img[8][0][0] = 1;
    QString why;
    ASSERT_TRUE(saveFileAtomically(image(), imageFileBytes(img), &why));
    EXPECT_TRUE(rememberedWindowChoices().skipSilent);   // on for a new user
    auto form = makeForm();
    writeAnswer = false;
    form->writeAction->trigger();
    EXPECT_EQ(writeQuestions, std::vector<QString>{QStringLiteral("Записать 1 контроллер (9 регистров) в систему?")});
    EXPECT_TRUE(port.requests.empty());
    writeAnswer = dontAskAgain = true;
    form->Command2->click();
    EXPECT_EQ(port.requests.size(), 9u);
    EXPECT_FALSE(rememberedWindowChoices().askBeforeWrite);
    form->Command2->click();   // not asked again
    EXPECT_EQ(writeQuestions.size(), 2u);
    EXPECT_EQ(port.requests.size(), 18u);
    const std::unique_ptr<QMessageBox> box = Form1::writeQuestion(form.get(), Form1::writeQuestionText(2, 69));
    EXPECT_EQ(box->text(), QStringLiteral("Записать 2 контроллера (69 регистров) в систему?"));
    ASSERT_NE(box->checkBox(), nullptr);
    EXPECT_EQ(box->checkBox()->text(), QStringLiteral("Больше не спрашивать"));
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));

    // During the 8-second pause after a run the bar stands at its end and Стоп is off.
    bool atEnd = false, stopOff = false;
    const auto pause = form->tool().onClosingPause;
    form->tool().onClosingPause = [&] {
        pause();
        atEnd = form->progressBar->value() == form->progressBar->maximum();
        stopOff = !form->stopButton->isEnabled() && !form->stopButton->isHidden();
    };
    form->Command1->click();
    EXPECT_TRUE(atEnd);
    EXPECT_TRUE(stopOff);

    // The ports used before stay in the Порт menu: the last five.
    for (int i = 0; i < 6; ++i) {
        typed = QStringLiteral("tcp://127.0.0.%1:4001").arg(i + 1);
        form->typePortAction->trigger();
    }
    EXPECT_EQ(form->Label2->text(), TransferTool::neutralStatus());
    form->fillPortMenu();
    QStringList entries;
    for (QAction *a : form->portMenu->actions())
        entries << a->text();
    for (int i = 2; i <= 6; ++i)
        EXPECT_TRUE(entries.contains(QStringLiteral("tcp://127.0.0.%1:4001").arg(i))) << i;
    EXPECT_FALSE(entries.contains(QStringLiteral("tcp://127.0.0.1:4001")));
}
