#include "fake_port.h"
#include "test_app.h"
#include "transfer/window/form1.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace zuk;
using namespace zuk::test;

namespace {

const QString kNeutral = QStringLiteral("Статус:") + QString(63, ' ');

struct FormTest : ::testing::Test {
    void SetUp() override
    {
        ensureApp();
        ASSERT_TRUE(dir.isValid());
        settings.dir = dir.path();
        settings.waitUnitMs = 4;
        port.responder = [this](const QByteArray &req) { return bus.answer(req); };
    }
    std::unique_ptr<Form1> makeForm()
    {
        auto form = std::make_unique<Form1>(port, settings);
        form->showMessage = [this](const QString &t) { messages.push_back(t); };
        return form;
    }
    void writeImage(const RegisterImage &img)
    {
        QString why;
        ASSERT_TRUE(saveFileAtomically(QDir(dir.path()).filePath("zuk.txt"), imageFileBytes(img), &why));
    }
    QTemporaryDir dir;
    Form1::Settings settings;
    FakePort port;
    Bus bus;
    std::vector<QString> messages;
};

}  // namespace

TEST_F(FormTest, ControlsAsDescribed)
{
    auto form = makeForm();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("умный дом"));
    EXPECT_EQ(form->size(), QSize(424, 479));
    struct Place {
        const char *name;
        QRect rect;
    };
    const Place places[] = {
        {"adr_00", {16, 32, 137, 17}},  {"adr_03", {16, 128, 145, 33}}, {"adr_80", {240, 24, 153, 33}},
        {"adr_87", {240, 272, 161, 25}}, {"adr_90", {16, 312, 217, 25}}, {"adr_9d", {240, 344, 193, 25}},
        {"Command1", {16, 392, 177, 33}}, {"Command2", {224, 392, 185, 33}}, {"Label2", {16, 440, 393, 17}},
    };
    for (const Place &p : places) {
        auto *w = form->findChild<QWidget *>(p.name);
        ASSERT_NE(w, nullptr) << p.name;
        EXPECT_EQ(w->geometry(), p.rect) << p.name;
    }
    for (const ControllerSlot &s : controllerMap()) {
        auto *box = form->findChild<QCheckBox *>(s.boxName);
        ASSERT_NE(box, nullptr) << s.boxName;
        EXPECT_EQ(box->text(), s.caption);
        EXPECT_EQ(box->font().bold(), s.slot >= 16) << s.boxName;
        EXPECT_FALSE(box->isChecked());
    }
    EXPECT_EQ(form->Command1->text(), QStringLiteral("система в файл zuk.txt"));
    EXPECT_EQ(form->Command2->text(), QStringLiteral("из файла zuk.txt в систему"));
    EXPECT_DOUBLE_EQ(form->Command1->font().pointSizeF(), 9.75);
    EXPECT_TRUE(form->Label1->font().bold());
    EXPECT_EQ(form->Label1->font().pointSize(), 12);
    EXPECT_EQ(form->Label2->text(), QStringLiteral("Статус:"));
}

TEST_F(FormTest, StartUpTicksPresentControllersOrSaysNoFile)
{
    {
        auto form = makeForm();
        form->startUp();
        EXPECT_EQ(messages, std::vector<QString>{QStringLiteral("Ошибка, нет готового файла")});
        for (QCheckBox *box : form->boxes)
            EXPECT_FALSE(box->isChecked());
    }
    messages.clear();
    RegisterImage img{};
    img[2][0][0] = 1;
    img[18][0][0] = 3;
    writeImage(img);
    auto form = makeForm();
    form->startUp();
    EXPECT_TRUE(messages.empty());
    for (const ControllerSlot &s : controllerMap())
        EXPECT_EQ(form->boxes[s.slot]->isChecked(), s.slot == 2 || s.slot == 18) << s.slot;
}

TEST_F(FormTest, ClickRunsTheReadingAndIgnoresInputMeanwhile)
{
    bus.memory[0x81] = SlotImage{};
    bus.memory[0x81][0] = {4, 5, 6, 7, 8, 9, 10, 11};
    auto form = makeForm();
    form->startUp();
    form->boxes[9]->setChecked(true);   // $81
    EXPECT_TRUE(form->tool().ticked[9]);
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
    EXPECT_EQ(bus.exchanges, 9);
    for (const QByteArray &r : port.requests)
        EXPECT_EQ(r[2], frames::kReadCommand);
    EXPECT_FALSE(form->boxes[0]->isChecked());
    EXPECT_TRUE(form->boxes[9]->isChecked());
    EXPECT_EQ(form->Label2->text(), kNeutral);
    EXPECT_EQ(form->tool().reg_image[9][0], bus.memory[0x81][0]);
    EXPECT_TRUE(QFile::exists(form->tool().imagePath()));

    form->Command2->click();
    EXPECT_EQ(bus.exchanges, 18);
    EXPECT_EQ(form->Label2->text(), kNeutral);
}

TEST_F(FormTest, ClosingDuringARunEndsItWithoutWritingTheFile)
{
    bus.memory[0x00] = SlotImage{};
    auto form = makeForm();
    form->startUp();
    form->show();
    form->boxes[0]->setChecked(true);
    port.responder = [&](const QByteArray &req) {
        if (bus.exchanges == 1)
            form->close();
        return bus.answer(req);
    };
    form->Command1->click();
    EXPECT_EQ(bus.exchanges, 2);
    EXPECT_FALSE(form->tool().running());
    QCoreApplication::processEvents();
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(QFile::exists(form->tool().imagePath()));
}

TEST_F(FormTest, PortThatCannotOpenIsReportedAndNoRunStarts)
{
    settings.port = dir.filePath("no-such-port");
    Form1 form(settings);
    form.showMessage = [this](const QString &t) { messages.push_back(t); };
    form.startUp();
    ASSERT_EQ(messages.size(), 2u);   // the port, then the missing zuk.txt
    EXPECT_TRUE(messages[0].contains(settings.port)) << messages[0].toStdString();
    form.boxes[0]->setChecked(true);
    form.Command1->click();
    EXPECT_EQ(form.Label2->text(), QStringLiteral("Ошибка: порт %1 не открыт").arg(settings.port));
    EXPECT_FALSE(QFile::exists(form.tool().imagePath()));
}
