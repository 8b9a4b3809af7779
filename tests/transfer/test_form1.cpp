#include "fake_port.h"
#include "common/files.h"
#include "transfer/window/form1.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
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
        form->startUp();
        return form;
    }
    QTemporaryDir dir;
    Form1::Settings settings;
    FakePort port;
    Bus bus;
    std::vector<QString> messages;
    QStringList offered;   // the ports the window may offer
    QString answer;        // the user's pick among them, empty: cancel
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
    EXPECT_EQ(form->windowTitle(), QStringLiteral("умный дом"));
    EXPECT_EQ(form->size(), QSize(424, 479));
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
    EXPECT_TRUE(messages[0].contains(image)) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("только для чтения"))) << messages[0].toStdString();
    QFile file(image);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), bytes);
    QFile reportFile(settings.report);
    ASSERT_TRUE(reportFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(QJsonDocument::fromJson(reportFile.readAll())["outcome"].toString(), "refused");
    form->Command2->click();   // the writing run only reads zuk.txt
    EXPECT_EQ(port.requests.size(), 9u);
}

#ifdef Q_OS_LINUX
TEST_F(FormTest, AnotherPortIsOfferedWhenTheGivenOneDoesNotOpenAndTheChoiceIsRemembered)
{
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
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
    form = makeForm(false);
    EXPECT_TRUE(form->tool().portOpen());
    EXPECT_EQ(form->portName(), answer);
    EXPECT_EQ(rememberedPortName("none"), answer);
    form.reset();
    ::close(master);
    ::close(slave);
}
#endif

TEST_F(FormTest, FastRunShowsProgressInTheTitleAndRestoresIt)
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
    std::vector<QString> titles;
    port.responder = [&](const QByteArray &req) {
        titles.push_back(form->windowTitle());
        return bus.answer(req);
    };
    QElapsedTimer t;
    t.start();
    form->Command1->click();
    EXPECT_LT(t.elapsed(), 20000);
    ASSERT_EQ(titles.size(), 9u + 9 + 4);   // after the give-up, rows 5-8 are read twice
    EXPECT_EQ(titles[0], QStringLiteral("умный дом"));
    EXPECT_EQ(titles[4], QStringLiteral("умный дом — 4 / 9, ошибок 0"));
    EXPECT_EQ(titles[14], QStringLiteral("умный дом — 5 / 9, ошибок 1"));   // after the ten tries of row 4
    EXPECT_EQ(form->windowTitle(), QStringLiteral("умный дом"));
    EXPECT_EQ(form->tool().reg_image[9][8], pattern(2)[8]);
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
}
