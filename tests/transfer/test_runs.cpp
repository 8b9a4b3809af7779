#include "fake_port.h"
#include "transfer/runs.h"

#include "test_app.h"
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>

using namespace zuk;
using namespace zuk::test;

namespace {

SlotImage pattern(int seed)
{
    SlotImage s{};
    for (int r = 0; r < kMaxRows; ++r)
        for (int b = 0; b < 8; ++b)
            s[r][b] = static_cast<qint16>((seed * 31 + r * 7 + b * 3 + 1) % 256);
    return s;
}

struct RunTest : ::testing::Test {
    void SetUp() override
    {
        ensureApp();
        ASSERT_TRUE(dir.isValid());
        exchange.setWaitUnitMs(4);
        tool.setFolder(dir.path());
        tool.setPort("/dev/fake", true);
        tool.setPauseAtEnd(false);
        tool.onStatus = [this](const QString &t) { status.push_back(t); };
        tool.onError = [this](const QString &t) { errors.push_back(t); };
        port.responder = [this](const QByteArray &req) { return bus.answer(req); };
    }
    void tick(std::initializer_list<int> addresses)
    {
        for (int a : addresses)
            tool.ticked[slotOfAddress(a)] = true;
    }
    int count(const QString &text) const { return int(std::count(status.begin(), status.end(), text)); }

    QTemporaryDir dir;
    FakePort port;
    BusExchange exchange{port};
    TransferTool tool{exchange};
    Bus bus;
    std::vector<QString> status, errors;
};

const QString kNeutral = QStringLiteral("Статус:") + QString(63, ' ');

QString readOk(const char *a, const char *r)
{
    return QStringLiteral("Чтение из системы адреса $%1   регистра $%2  OK  ").arg(a, r);
}

}  // namespace

TEST_F(RunTest, ReadingStoresRepliesMarksUntickedAndSavesAll)
{
    bus.memory[0x80] = pattern(1);
    bus.memory[0x9C] = pattern(2);
    bus.memory[0x81] = pattern(3);   // present but not ticked
    tool.reg_image[slotOfAddress(0x81)] = pattern(9);
    tool.reg_image[0][0][0] = 5;     // slot 0 unticked: its marker goes to 0
    tool.reg_image[0][0][1] = 6;
    tick({0x80, 0x9C});
    EXPECT_EQ(tool.readingRun(), RunOutcome::Completed);

    EXPECT_EQ(bus.exchanges, 9 + 24);
    EXPECT_EQ(port.requests.front(), hexBytes("F0 80 07 00 87"));
    EXPECT_EQ(port.requests[9], hexBytes("F0 9C 07 00 A3"));
    EXPECT_EQ(port.requests.back(), hexBytes("F0 9C 07 17 BA"));
    for (int a : {0x80, 0x9C})
        for (int r = 0; r < controllerMap()[slotOfAddress(a)].rows; ++r)
            EXPECT_EQ(tool.reg_image[slotOfAddress(a)][r], bus.memory[a][r]) << a << " " << r;
    EXPECT_EQ(tool.reg_image[0][0][0], 0);
    EXPECT_EQ(tool.reg_image[0][0][1], 6);
    EXPECT_EQ(tool.reg_image[slotOfAddress(0x81)][0][0], 0);
    EXPECT_EQ(tool.reg_image[slotOfAddress(0x81)][0][1], pattern(9)[0][1]);
    EXPECT_EQ(exchange.exchangeState(), 0);

    ASSERT_EQ(status.size(), 9u + 24u + 2u);
    EXPECT_EQ(status[0], readOk("80", "0"));
    EXPECT_EQ(status[8], readOk("80", "8"));
    EXPECT_EQ(status[32], readOk("9C", "17"));
    EXPECT_EQ(status[33], QStringLiteral("Произошло       0       ошибок"));
    EXPECT_EQ(status[34], kNeutral);

    QFile f(tool.imagePath());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), imageFileBytes(tool.reg_image));
    EXPECT_TRUE(errors.empty());
}

TEST_F(RunTest, ReadingRetryCountCarriesOverSuccessfulRows)
{
    bus.memory[0x85] = pattern(4);
    bus.failures[{0x85, 0}] = 4;
    bus.failures[{0x85, 1}] = 4;
    bus.failures[{0x85, 2}] = 99;
    bus.failures[{0x85, 3}] = 9;
    const int slot = slotOfAddress(0x85);
    tool.reg_image[slot][2] = {1, 1, 1, 1, 1, 1, 1, 1};
    tick({0x85});
    EXPECT_EQ(tool.readingRun(), RunOutcome::Completed);
    const std::vector<QString> head(status.begin(), status.begin() + 13);
    const std::vector<QString> expected = {
        "error  1", "error  2", "error  3", "error  4", readOk("85", "0"),
        "error  5", "error  6", "error  7", "error  8", readOk("85", "1"),
        "error  9", "error  A", QStringLiteral("Чтение из системы адреса $85   регистра $2     ERROR"),
    };
    EXPECT_EQ(head, expected);
    // Row 3 starts again from 0: nine failures and then its reply.
    EXPECT_EQ(status[13 + 8], "error  9");
    EXPECT_EQ(status[13 + 9], readOk("85", "3"));
    EXPECT_EQ(tool.errorTotal(), 1);
    EXPECT_EQ(tool.reg_image[slot][2], (ImageRow{1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(tool.reg_image[slot][3], bus.memory[0x85][3]);
    EXPECT_EQ(status[status.size() - 2], QStringLiteral("Произошло       1       ошибок"));
}

TEST_F(RunTest, SilentControllerGivesEveryRowUp)
{
    tick({0x87});
    EXPECT_EQ(tool.readingRun(), RunOutcome::Completed);
    EXPECT_EQ(bus.exchanges, 90);
    EXPECT_EQ(tool.errorTotal(), 9);
    EXPECT_EQ(count(QStringLiteral("Чтение из системы адреса $87   регистра $8     ERROR")), 1);
    EXPECT_EQ(count("error  A"), 9);
    EXPECT_EQ(status[status.size() - 2], QStringLiteral("Произошло       9       ошибок"));

    status.clear();
    EXPECT_EQ(tool.writingRun(), RunOutcome::Completed);
    EXPECT_EQ(bus.exchanges, 180);
    EXPECT_EQ(tool.errorTotal(), 9);
    EXPECT_EQ(count(QStringLiteral("запись в систему адреса $87   регистра $0  ERROR")), 1);
    const std::vector<QString> tail(status.end() - 3, status.end());
    const std::vector<QString> expected = {kNeutral, QStringLiteral("Произошло       9       ошибок"), kNeutral};
    EXPECT_EQ(tail, expected);
}

TEST_F(RunTest, WritingRetryCountResetsAfterEveryRow)
{
    bus.memory[0x82] = SlotImage{};
    const int slot = slotOfAddress(0x82);
    tool.reg_image[slot] = pattern(5);
    tool.reg_image[slot][4] = {0xF0, 0, 0, 0, 0, 0, 0xF0, 0};
    for (int r = 0; r < 9; ++r)
        bus.failures[{0x82, r}] = 9;
    tick({0x82});
    EXPECT_EQ(tool.writingRun(), RunOutcome::Completed);
    EXPECT_EQ(tool.errorTotal(), 0);
    EXPECT_EQ(bus.exchanges, 90);
    for (int r = 0; r < 9; ++r)
        EXPECT_EQ(bus.memory[0x82][r], tool.reg_image[slot][r]) << r;
    EXPECT_EQ(port.requests[49], hexBytes("F0 82 08 04 F0 11 00 00 00 00 00 F0 11 00 90"));
    EXPECT_EQ(status[9], QStringLiteral("запись в систему адреса $82   регистра $0     OK"));
    EXPECT_EQ(status.back(), kNeutral);
    EXPECT_EQ(count(QStringLiteral("Произошло       0       ошибок")), 0);
}

TEST_F(RunTest, NothingTicked)
{
    tool.reg_image[3][0][0] = 7;
    EXPECT_EQ(tool.writingRun(), RunOutcome::Completed);
    EXPECT_TRUE(status.empty());
    EXPECT_EQ(tool.readingRun(), RunOutcome::Completed);
    EXPECT_TRUE(port.wire.isEmpty());
    const std::vector<QString> expected = {QStringLiteral("Произошло       0       ошибок"), kNeutral};
    EXPECT_EQ(status, expected);
    RegisterImage loaded{};
    ASSERT_TRUE(loadImageFile(tool.imagePath(), loaded).ok);
    for (int s = 0; s < kSlotCount; ++s)
        EXPECT_EQ(loaded[s][0][0], 0);
}

TEST_F(RunTest, UnsendableValueRefusesTheWritingRun)
{
    bus.memory[0x98] = SlotImage{};
    tick({0x00, 0x98});
    tool.reg_image[slotOfAddress(0x98)][10][5] = 300;
    tool.reg_image[slotOfAddress(0x9D)][0][0] = -1;   // not ticked: not sent, not checked
    EXPECT_EQ(tool.writingRun(), RunOutcome::Refused);
    EXPECT_TRUE(port.wire.isEmpty());
    EXPECT_TRUE(status.empty());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("контроллер $98, регистр $A, байт 5: значение 300")))
        << errors[0].toStdString();
    tool.reg_image[slotOfAddress(0x98)][10][5] = -2;
    EXPECT_EQ(tool.writingRun(), RunOutcome::Refused);
    EXPECT_TRUE(port.wire.isEmpty());
}

TEST_F(RunTest, PortNotOpenStartsNoRun)
{
    tool.setPort("/dev/ttyS7", false);
    tick({0x80});
    EXPECT_EQ(tool.readingRun(), RunOutcome::PortNotOpen);
    EXPECT_EQ(tool.writingRun(), RunOutcome::PortNotOpen);
    EXPECT_TRUE(port.wire.isEmpty());
    EXPECT_FALSE(QFile::exists(tool.imagePath()));
    const std::vector<QString> expected(2, QStringLiteral("Ошибка: порт /dev/ttyS7 не открыт"));
    EXPECT_EQ(status, expected);
}

TEST_F(RunTest, FailedSaveIsReportedAndTheRunEnds)
{
    tool.setFolder(dir.filePath("missing/folder"));
    EXPECT_EQ(tool.readingRun(), RunOutcome::Completed);
    EXPECT_TRUE(tool.saveFailed());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].contains("zuk.txt")) << errors[0].toStdString();
    EXPECT_EQ(status.back(), kNeutral);
}

TEST_F(RunTest, StopEndsAfterTheExchangeInProgressWithoutSaving)
{
    bus.memory[0x00] = pattern(6);
    tick({0x00, 0x01});
    port.responder = [this](const QByteArray &req) {
        if (bus.exchanges == 2)
            tool.requestStop();
        return bus.answer(req);
    };
    EXPECT_EQ(tool.readingRun(), RunOutcome::Stopped);
    EXPECT_EQ(bus.exchanges, 3);
    EXPECT_EQ(tool.reg_image[0][2], bus.memory[0x00][2]);   // the exchange in progress completes
    EXPECT_FALSE(QFile::exists(tool.imagePath()));
    EXPECT_FALSE(tool.running());
    EXPECT_EQ(tool.readingRun(), RunOutcome::Completed);   // a later run works
}

TEST_F(RunTest, LateReplyFailsTheNextExchangeAndIsNeverStoredAsAnotherRow)
{
    exchange.setWaitUnitMs(60);
    bus.memory[0x84] = pattern(7);
    tick({0x84});
    // Replies come 25 ms into the wait; those of exchanges 2 and 3 (row 1,
    // twice) come 10 ms into the next exchange's wait, ahead of its own reply.
    port.responder = [this](const QByteArray &req) {
        const QByteArray reply = frames::joined(bus.answer(req));
        const bool late = bus.exchanges == 2 || bus.exchanges == 3;
        QTimer::singleShot(late ? 70 : 25, [this, reply] { port.deliverLater(reply); });
        return std::vector<QByteArray>{};
    };
    EXPECT_EQ(tool.readingRun(), RunOutcome::Completed);
    EXPECT_EQ(tool.errorTotal(), 0);
    for (int r = 0; r < 9; ++r)
        EXPECT_EQ(tool.reg_image[slotOfAddress(0x84)][r], bus.memory[0x84][r]) << r;
    // Row 1 fails once, then takes its own late reply; row 2 fails on row 1's
    // second late reply and succeeds on its retry.
    const std::vector<QString> head(status.begin(), status.begin() + 5);
    const std::vector<QString> expected = {readOk("84", "0"), "error  1", readOk("84", "1"), "error  2",
                                           readOk("84", "2")};
    EXPECT_EQ(head, expected);
}

TEST_F(RunTest, LoadTicksPresentControllers)
{
    RegisterImage img{};
    img[slotOfAddress(0x07)][0][0] = 1;
    img[slotOfAddress(0x9D)][0][0] = 255;
    img[slotOfAddress(0x80)][0][1] = 9;   // marker 0: stays unticked
    QString why;
    ASSERT_TRUE(saveFileAtomically(tool.imagePath(), imageFileBytes(img), &why));
    EXPECT_TRUE(tool.LoadImageFile());
    std::array<bool, kSlotCount> expected{};
    expected[slotOfAddress(0x07)] = expected[slotOfAddress(0x9D)] = true;
    EXPECT_EQ(tool.ticked, expected);

    QByteArray cut = imageFileBytes(img);
    cut.truncate(cut.size() / 2);
    ASSERT_TRUE(saveFileAtomically(tool.imagePath(), cut, &why));
    tool.ticked = {};
    EXPECT_FALSE(tool.LoadImageFile());
    EXPECT_FALSE(tool.loadFailure().isEmpty());
    EXPECT_EQ(tool.ticked, (std::array<bool, kSlotCount>{}));
}
