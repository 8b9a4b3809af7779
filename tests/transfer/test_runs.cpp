#include "fake_port.h"
#include "common/files.h"
#include "transfer/runs/history.h"
#include "bus/line_trace.h"
#include "transfer/runs/runs.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace zuk;
using namespace zuk::test;
using Texts = std::vector<QString>;

namespace {

const QString kNeutral = TransferTool::neutralStatus();
QString total(int n) { return QStringLiteral("Произошло       %1       ошибок").arg(n); }
QString row(const char *lead, int a, int r, const char *tail)
{
    return QString::fromUtf8(lead) + hexText(a) + QStringLiteral("   регистра $") + hexText(r) + QString::fromUtf8(tail);
}
QString readOk(int a, int r) { return row("Чтение из системы адреса $", a, r, "  OK  "); }
QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct RunTest : ::testing::Test {
    void SetUp() override
    {
        ensureApp();
        exchange.setWaitUnitMs(12);   // the scripted replies come within a few ms
        tool.setFolder(dir.path());
        tool.setPort("/dev/fake", true);
        tool.setPauseAtEnd(false);
        tool.onStatus = [this](const QString &t) { status.push_back(t); };
        tool.onError = [this](const QString &t) { errors.push_back(t); };
        port.responder = [this](const QByteArray &req) { return bus.answer(req); };
        // A whole (blank) zuk.txt loaded at start, as the programs do.
        QString why;
        ASSERT_TRUE(saveFileAtomically(tool.imagePath(), imageFileBytes(RegisterImage{}), &why));
        ASSERT_TRUE(tool.LoadImageFile());
    }
    void tick(std::initializer_list<int> addresses)
    {
        for (int a : addresses)
            tool.ticked[slotOfAddress(a)] = true;
    }
    Texts statusAt(size_t i, size_t n) const { return {status.begin() + i, status.begin() + i + n}; }
    int count(const QString &text) const { return int(std::count(status.begin(), status.end(), text)); }
    QTemporaryDir dir;
    VirtualClock clock;
    FakePort port{&clock};
    BusExchange exchange{port, &clock};
    TransferTool tool{exchange};
    Bus bus;
    Texts status, errors;
};

}  // namespace

TEST_F(RunTest, ReadingStoresRepliesClearsUntickedMarkersAndSavesAll)
{
    for (auto [a, seed] : {std::pair{0x80, 1}, {0x9C, 2}, {0x00, 3}})   // $00 present, not ticked
        bus.memory(a) = pattern(seed);
    tool.reg_image[0] = pattern(9);
    tick({0x80, 0x9C});
    EXPECT_EQ(tool.readingRun(), RunOutcome::Completed);
    EXPECT_EQ(port.requests.size(), 9u + 24u);
    EXPECT_EQ(port.requests.back(), hexBytes("F0 9C 07 17 BA"));
    for (int a : {0x80, 0x9C})
        for (int r = 0; r < controllerMap()[slotOfAddress(a)].rows; ++r)
            EXPECT_EQ(tool.reg_image[slotOfAddress(a)][r], bus.memory(a)[r]) << a << " " << r;
    EXPECT_EQ(tool.reg_image[0][0][0], 0);
    EXPECT_EQ(tool.reg_image[0][0][1], pattern(9)[0][1]);
    // The run has left no exchange open: a byte after it is stale, not stored.
    const qint16 stored = exchange.receiveCount();
    const quint64 anomalies = exchange.anomalies();
    exchange.onReceive(hexBytes("F8"));
    EXPECT_EQ(exchange.receiveCount(), stored);
    EXPECT_EQ(exchange.anomalies(), anomalies + 1);
    EXPECT_EQ(statusAt(32, 3), (Texts{readOk(0x9C, 0x17), total(0), kNeutral}));
    QFile f(tool.imagePath());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), imageFileBytes(tool.reg_image));
}

TEST_F(RunTest, ReadingRetryCountCarriesOverSuccessfulRows)
{
    bus.memory(0x85) = pattern(4);
    for (auto [row, times] : {std::pair{0, 4}, {1, 4}, {2, 99}, {3, 9}})
        bus.fail(0x85, row, times);
    tool.reg_image[13][2] = {1, 1, 1, 1, 1, 1, 1, 1};   // slot of $85
    tick({0x85});
    EXPECT_EQ(tool.readingRun(), RunOutcome::Completed);
    EXPECT_EQ(statusAt(0, 13), (Texts{"error  1", "error  2", "error  3", "error  4", readOk(0x85, 0), "error  5",
                                      "error  6", "error  7", "error  8", readOk(0x85, 1), "error  9", "error  A",
                                      row("Чтение из системы адреса $", 0x85, 2, "     ERROR")}));
    EXPECT_EQ(statusAt(21, 2), (Texts{"error  9", readOk(0x85, 3)}));   // row 3 from 0 again
    EXPECT_EQ(tool.reg_image[13][2], (ImageRow{1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(status[status.size() - 2], total(1));
}

TEST_F(RunTest, SilentControllerGivesEveryRowUpAfterTenExchanges)
{
    bus.memory(0x80) = pattern(1);   // answers: the line itself is not silent
    tick({0x80, 0x87});
    EXPECT_EQ(tool.readingRun(), RunOutcome::Completed);
    EXPECT_EQ(port.requests.size(), 9u + 90u);
    EXPECT_EQ(status[status.size() - 2], total(9));
}

// The estimate of the time left against the run it is made for. At the fixed
// wait each exchange takes one unit, so the time gone is the exchanges so
// far and the time left the exchanges still to come: the sample house with
// $81 missing from the bus and $87, $9D (absent in zuk.txt) ticked anyway,
// silent controllers skipped, the controller after each confirmed.
TEST_F(RunTest, TimeLeftFollowsRetriesAndSkippedControllers)
{
    QFile::remove(tool.imagePath());
    ASSERT_TRUE(QFile::copy(QStringLiteral(ZUK_SOURCE_DIR "/examples/installation/zuk.txt"), tool.imagePath()));
    ASSERT_TRUE(tool.LoadImageFile());
    for (const ControllerSlot &s : controllerMap())
        if (tool.ticked[s.slot] && s.address != 0x81)
            bus.memory(s.address) = tool.reg_image[s.slot];
    tick({0x87, 0x9D});
    tool.setSkipSilent(true);
    constexpr qint64 kUnit = 400;
    std::vector<std::pair<quint64, qint64>> seen;   // exchanges so far, the estimate then
    const quint64 start = exchange.exchanges();
    tool.onProgress = [&](int, int, int) {
        const quint64 gone = exchange.exchanges() - start;
        seen.emplace_back(gone, tool.timeLeftMs(qint64(gone) * kUnit));
    };
    EXPECT_EQ(tool.readingRun(), RunOutcome::Completed);
    const qint64 all = qint64(exchange.exchanges() - start);
    EXPECT_EQ(all, 480 + 9 + 10 + 10 + 2 * 60 + 54 + 10);   // $90 confirmed after $87
    ASSERT_GT(seen.size(), 600u);
    for (const auto &[gone, estimate] : seen) {
        const qint64 left = (all - qint64(gone)) * kUnit;
        EXPECT_LE(std::abs(estimate - left), left / 4 + 2 * kUnit) << gone << " of " << all;
    }
}

TEST_F(RunTest, WritingRetryCountResetsAfterEveryRowAndF0IsEscaped)
{
    bus.memory(0x82) = SlotImage{};
    tool.reg_image[10] = pattern(5);   // slot of $82
    tool.reg_image[10][4] = {0xF0, 0, 0, 0, 0, 0, 0xF0, 0};
    for (int r = 0; r < 9; ++r)
        bus.fail(0x82, r, 9);
    tick({0x82});
    EXPECT_EQ(tool.writingRun(), RunOutcome::Completed);
    EXPECT_EQ(port.requests.size(), 99u);   // 9 x 10 writes; after the first failure each row is read back
    for (int r = 0; r < 9; ++r)
        EXPECT_EQ(bus.memory(0x82)[r], tool.reg_image[10][r]) << r;
    EXPECT_EQ(port.requests[49], hexBytes("F0 82 08 04 F0 11 00 00 00 00 00 F0 11 00 90"));
    EXPECT_EQ(status[9], row("запись в систему адреса $", 0x82, 0, "     OK"));
    EXPECT_EQ(status.back(), kNeutral);
    EXPECT_EQ(count(total(0)), 0);   // no total after a run without errors
    bus.fail(0x82, 8, 10);   // now row 8 is given up
    status.clear();
    EXPECT_EQ(tool.writingRun(), RunOutcome::Completed);
    EXPECT_EQ(statusAt(status.size() - 5, 5), (Texts{"error  A", row("запись в систему адреса $", 0x82, 8, "  ERROR"),
                                                     kNeutral, total(1), kNeutral}));
}

TEST_F(RunTest, RefusedNothingTickedUnwritableFolderFailedSaveNoPort)
{
    bus.memory(0x98) = SlotImage{};
    tick({0x00, 0x98});
    tool.reg_image[19][0][0] = -1;   // $9D not ticked: never sent, not checked
    for (int bad : {300, -2}) {
        tool.reg_image[17][10][5] = qint16(bad);   // $98
        EXPECT_EQ(tool.writingRun(), RunOutcome::Refused);
        ASSERT_FALSE(errors.empty());
        EXPECT_TRUE(errors.back().contains(QStringLiteral("контроллер $98, регистр $A, байт 5: значение %1").arg(bad)));
    }
    // Nothing ticked: every run but the scan is refused before anything is sent or saved.
    const QByteArray saved = fileBytes(tool.imagePath());
    tool.ticked = {};
    tool.reg_image[3][0][0] = 7;
    errors.clear();
    EXPECT_EQ(tool.writingRun(), RunOutcome::Refused);
    EXPECT_EQ(tool.comparingRun(), RunOutcome::Refused);
    EXPECT_EQ(tool.readingRun(), RunOutcome::Refused);
    ASSERT_EQ(errors.size(), 3u);
    for (const QString &e : errors) {
        EXPECT_TRUE(e.contains(QStringLiteral("ни один контроллер не отмечен"))) << e.toStdString();
        EXPECT_TRUE(e.contains(QStringLiteral("все отметки сняты"))) << e.toStdString();
    }
    EXPECT_TRUE(errors[2].startsWith(QStringLiteral("Чтение не начато")));
    EXPECT_EQ(tool.runRefusal(RunKind::Read), errors[2]);
    EXPECT_TRUE(tool.runRefusal(RunKind::Scan).isEmpty());
    EXPECT_TRUE(status.empty());
    EXPECT_TRUE(port.requests.empty());
    EXPECT_EQ(tool.reg_image[3][0][0], 7);
    EXPECT_EQ(fileBytes(tool.imagePath()), saved);
    tool.reg_image[3][0][0] = tool.reg_image[19][0][0] = 0;   // as loaded: no marker set
    EXPECT_TRUE(tool.nothingTickedRefusal(RunKind::Write).contains(QStringLiteral("ни один контроллер не отмечен присутствующим")));
    QFile::remove(tool.imagePath());
    EXPECT_FALSE(tool.LoadImageFile());
    EXPECT_TRUE(tool.nothingTickedRefusal(RunKind::Compare).contains(QStringLiteral("файл zuk.txt не загружен: ")
                                                                     + tool.loadFailure()));

    // A folder in which no file can be made refuses the reading run, not the writing run.
    tick({0x98});
    tool.setFolder(dir.filePath("missing"));
    errors.clear();
    EXPECT_EQ(tool.readingRun(), RunOutcome::Refused);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("в папке %1 нельзя создать файл: ")
                                     .arg(QDir::toNativeSeparators(dir.filePath("missing")))))
        << errors[0].toStdString();
    EXPECT_TRUE(port.requests.empty());
    EXPECT_TRUE(tool.readingRunRefusal(QDir(dir.path()).filePath("zuk.txt")).isEmpty());
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());   // the trial file is gone

    // A save that fails after the run: the run is made, the failure told.
    tool.setFolder(dir.path());
    injectSaveFault(SaveStep::Rename, "zuk.txt");
    EXPECT_EQ(tool.readingRun(), RunOutcome::Completed);
    clearSaveFault();
    EXPECT_EQ(statusAt(status.size() - 2, 2), (Texts{total(0), kNeutral}));
    EXPECT_TRUE(tool.saveFailed());
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_TRUE(errors[1].startsWith(QStringLiteral("Файл не сохранён: "))) << errors[1].toStdString();
    EXPECT_FALSE(QFile::exists(tool.imagePath()));
    status.clear();
    port.requests.clear();
    tool.setPort("/dev/ttyS7", false);
    EXPECT_EQ(tool.readingRun(), RunOutcome::PortNotOpen);
    EXPECT_EQ(tool.scanRun(), RunOutcome::PortNotOpen);
    EXPECT_TRUE(port.requests.empty());
    EXPECT_EQ(status, (Texts{QStringLiteral("Ошибка: порт /dev/ttyS7 не открыт"), QStringLiteral("Ошибка: порт /dev/ttyS7 не открыт")}));
}

// A controller is left as silent only when it gives its first row up
// without a single valid reply in the run; one that answered anything,
// even a write acknowledgement whose row never stores, is tried to the end.
TEST_F(RunTest, SkipSilentLeavesOnlyControllersThatNeverAnswered)
{
    tool.setSkipSilent(true);
    bus.memory(0x80) = pattern(1);   // $81 absent
    bus.memory(0x82) = pattern(2);
    bus.fail(0x80, 0, 9);            // answers row 0 at its tenth try
    for (int r : {1, 2})
        bus.fail(0x82, r, -1);       // answers row 0, then falls silent
    tool.reg_image[9] = pattern(5);
    tick({0x80, 0x81, 0x82});
    auto requestsTo = [this](int a) {
        return std::count_if(port.requests.begin(), port.requests.end(), [a](const QByteArray &q) { return q[1] == char(a); });
    };
    EXPECT_EQ(tool.readingRun(), RunOutcome::Completed);
    const RunRecord &rec = tool.lastRun();
    ASSERT_EQ(rec.controllers.size(), 3u);
    EXPECT_EQ(std::vector<bool>({rec.controllers[0].silent, rec.controllers[1].silent, rec.controllers[2].silent}),
              std::vector<bool>({false, true, false}));
    EXPECT_EQ(rec.controllers[1].givenUp, std::vector<int>{0});
    EXPECT_EQ(rec.controllers[2].givenUp, (std::vector<int>{1, 2}));   // and row 3 on is tried
    EXPECT_EQ(requestsTo(0x81), 10);
    EXPECT_EQ(tool.errorTotal(), 3);
    EXPECT_EQ(tool.rowsDone(), tool.rowsToDo());   // the rows left count for the progress
    for (int r = 0; r < 9; ++r)
        EXPECT_EQ(tool.reg_image[8][r], bus.memory(0x80)[r]) << r;
    EXPECT_EQ(tool.reg_image[9], pattern(5));   // rows not tried keep their values
    for (int r = 3; r < 9; ++r)
        EXPECT_EQ(tool.reg_image[10][r], bus.memory(0x82)[r]) << r;
    const auto at = std::find(status.begin(), status.end(), QStringLiteral("контроллер адрес $81 молчит, пропущен"));
    ASSERT_NE(at, status.end());
    EXPECT_EQ(*(at - 1), row("Чтение из системы адреса $", 0x81, 0, "     ERROR"));
    EXPECT_EQ(count(*at), 1);
    EXPECT_EQ(silentLine(rec.controllers[1]), QStringLiteral("$81: молчит, пропущен (регистры 1-8 не опрошены)"));
    EXPECT_TRUE(silentLine(rec.controllers[2]).isEmpty());
    const QJsonObject report = QJsonDocument::fromJson(reportJson(rec)).object();
    EXPECT_TRUE(report["controllers"][1]["silent"].toBool());
    EXPECT_FALSE(report["controllers"][2]["silent"].toBool());

    // Comparing: the rows left show no difference.
    port.requests.clear();
    EXPECT_EQ(tool.comparingRun(), RunOutcome::Completed);
    EXPECT_TRUE(tool.lastRun().controllers[1].silent);
    EXPECT_TRUE(tool.lastRun().controllers[1].differences.empty());
    EXPECT_EQ(requestsTo(0x81), 10);

    // Writing: $80 acknowledges row 0 but never stores it.
    tool.setVerify(true);
    bus.clearFaults();
    bus.fault(0x80, 0, -1, sim::FaultKind::NoStore);
    tool.reg_image[8][0] = {1, 2, 3, 4, 5, 6, 7, 8};
    tool.ticked = {};
    tick({0x80, 0x81});
    port.requests.clear();
    EXPECT_EQ(tool.writingRun(), RunOutcome::Completed);
    EXPECT_FALSE(tool.lastRun().controllers[0].silent);
    EXPECT_EQ(tool.lastRun().controllers[0].written, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_TRUE(tool.lastRun().controllers[1].silent);
    EXPECT_EQ(requestsTo(0x81), 10);
    EXPECT_EQ(tool.errorTotal(), 2);
}

TEST_F(RunTest, ScanAsksRegisterZeroOfEachCandidateUpToThreeTimes)
{
    for (auto [a, seed] : {std::pair{0x00, 1}, {0x9C, 2}, {0x9D, 3}})
        bus.memory(a) = pattern(seed);
    bus.fail(0x9C, 0, 2);   // answers the third try
    bus.fail(0x9D, 0, 3);   // would answer a fourth
    tool.reg_image[0] = pattern(7);
    const RegisterImage before = tool.reg_image;
    const QByteArray saved = fileBytes(tool.imagePath());
    tick({0x00, 0x80, 0x9C, 0x9D});
    EXPECT_EQ(tool.scanRun(), RunOutcome::Completed);
    std::vector<QByteArray> want;
    for (int a : {0x00, 0x80, 0x9C, 0x9D})
        want.insert(want.end(), a == 0x00 ? 1 : 3, frames::joined(frames::readRequestPieces(a, 0)));
    EXPECT_EQ(port.requests, want);
    const RunRecord &rec = tool.lastRun();
    EXPECT_EQ(rec.kind, RunKind::Scan);
    ASSERT_EQ(rec.controllers.size(), 4u);
    EXPECT_EQ(std::vector<bool>({rec.controllers[0].answered, rec.controllers[1].answered, rec.controllers[2].answered,
                                 rec.controllers[3].answered}),
              std::vector<bool>({true, false, true, false}));
    EXPECT_TRUE(tool.reg_image == before);
    EXPECT_EQ(fileBytes(tool.imagePath()), saved);
    EXPECT_EQ(statusAt(status.size() - 3, 3),
              (Texts{QStringLiteral("Опрос адреса $9D  нет ответа"), QStringLiteral("Отвечают 2 из 4"), kNeutral}));
    const QJsonObject report = QJsonDocument::fromJson(reportJson(rec)).object();
    EXPECT_EQ(report["run"].toString(), "scan");
    EXPECT_TRUE(report["controllers"][2]["answered"].toBool());
    EXPECT_FALSE(report["controllers"][3]["answered"].toBool());

    // A stop ends the scan after the exchange in progress.
    port.requests.clear();
    port.responder = [this](const QByteArray &req) {
        if (port.requests.size() == 2)
            tool.requestStop();
        return bus.answer(req);
    };
    EXPECT_EQ(tool.scanRun(), RunOutcome::Stopped);
    EXPECT_EQ(port.requests.size(), 2u);
}

TEST_F(RunTest, OnlyControllersWhoseImageIsCompleteAreWritten)
{
    // zuk.txt cut inside slot 0: no slot past the cut holds configuration.
    QFile file(tool.imagePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(imageFileBytes(RegisterImage{}).left(900));
    file.close();
    EXPECT_FALSE(tool.LoadImageFile());
    bus.memory(0x80) = pattern(4);
    bus.memory(0x81) = pattern(5);
    tick({0x80});
    EXPECT_EQ(tool.readingRun(), RunOutcome::Completed);   // $80 now read whole
    tick({0x81});
    port.requests.clear();
    errors.clear();
    EXPECT_EQ(tool.writingRun(), RunOutcome::Refused);
    EXPECT_TRUE(port.requests.empty());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].contains("$81")) << errors[0].toStdString();
    EXPECT_FALSE(errors[0].contains("$80")) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains("загружен не полностью")) << errors[0].toStdString();
    EXPECT_EQ(tool.lastRun().outcome, RunOutcome::Refused);
    tool.ticked[slotOfAddress(0x81)] = false;
    EXPECT_EQ(tool.writingRun(), RunOutcome::Completed);
    EXPECT_EQ(port.requests.size(), 9u);

    // A whole load stays writable when a later reading run gives rows up.
    QString why;
    ASSERT_TRUE(saveFileAtomically(tool.imagePath(), imageFileBytes(RegisterImage{}), &why));
    ASSERT_TRUE(tool.LoadImageFile());
    tool.ticked = {};
    tick({0x81});
    bus.fail(0x81, 3, 10);
    EXPECT_EQ(tool.readingRun(), RunOutcome::Completed);
    EXPECT_EQ(tool.lastRun().controllers[0].givenUp, std::vector<int>{3});
    EXPECT_EQ(tool.writingRun(), RunOutcome::Completed);
    EXPECT_EQ(tool.errorTotal(), 0);
}

TEST_F(RunTest, VerifiedWritesAreRepeatedUntilTheControllerHoldsTheRow)
{
    tool.setVerify(true);
    bus.memory(0x80) = SlotImage{};
    bus.memory(0x81) = SlotImage{};
    tool.reg_image[8] = pattern(6);
    tool.reg_image[9] = pattern(7);
    // Row 2 of $80 acknowledges its first two writes without storing them
    // (the read-back between them counts too); row 5 of $81 never stores.
    bus.fault(0x80, 2, 3, sim::FaultKind::NoStore);
    bus.fault(0x81, 5, -1, sim::FaultKind::NoStore);
    for (int s : {8, 9})
        tool.ticked[s] = true;
    EXPECT_EQ(tool.writingRun(), RunOutcome::Completed);
    // $80: 9 rows + 2 rewrites of row 2, each write read back.
    int writesOfRow2 = 0;
    for (size_t i = 0; i < 22; ++i)
        writesOfRow2 += port.requests[i][2] == frames::kWriteCommand && port.requests[i][3] == 2;
    EXPECT_EQ(writesOfRow2, 3);
    for (int r = 0; r < 9; ++r) {
        EXPECT_EQ(bus.memory(0x80)[r], tool.reg_image[8][r]) << r;
        EXPECT_EQ(bus.memory(0x81)[r] == tool.reg_image[9][r], r != 5) << r;
    }
    EXPECT_EQ(statusAt(2, 3), (Texts{"error  1", "error  2", row("запись в систему адреса $", 0x80, 2, "     OK")}));
    const RunRecord &rec = tool.lastRun();
    ASSERT_EQ(rec.controllers.size(), 2u);
    EXPECT_EQ(rec.controllers[0].verified, 9);
    EXPECT_EQ(rec.controllers[1].verified, 8);
    EXPECT_EQ(rec.controllers[1].givenUp, std::vector<int>{5});
    EXPECT_EQ(rec.errorTotal, 1);
    EXPECT_EQ(givenUpLine(rec.controllers[1], RunKind::Write), QStringLiteral("$81: регистр 5 не записан"));
    const QJsonObject report = QJsonDocument::fromJson(reportJson(rec)).object();
    EXPECT_EQ(report["run"].toString(), "write");
    EXPECT_EQ(report["outcome"].toString(), "completed");
    EXPECT_EQ(report["error_total"].toInt(), 1);
    EXPECT_EQ(report["controllers"][0]["address"].toString(), "80");
    EXPECT_EQ(report["controllers"][1]["given_up"].toArray(), QJsonArray{5});
    EXPECT_EQ(report["controllers"][1]["verified"].toInt(), 8);
    EXPECT_TRUE(QDateTime::fromString(report["started"].toString(), Qt::ISODate).isValid());
}

TEST_F(RunTest, LateAcknowledgementOfAFailedTryNeverPassesForAnotherRow)
{
    // Row 0's first acknowledgement comes so late that, without read-backs,
    // it would land in the wait of row 1's first write, which is lost.
    exchange.setWaitUnitMs(60);
    bus.memory(0x80) = SlotImage{};
    tool.reg_image[8] = pattern(8);
    tick({0x80});
    std::map<int, int> writesOf;
    port.responder = [&](const QByteArray &req) -> std::vector<QByteArray> {
        const int r = std::uint8_t(req[3]);
        if (req[2] == frames::kWriteCommand) {
            const int n = ++writesOf[r];
            if (r == 1 && n == 1)
                return {};   // lost on the way: neither stored nor acknowledged
            if (r == 0 && n == 1) {
                port.deliverIn(150, frames::joined(bus.answer(req)));
                return {};
            }
        }
        return bus.answer(req);
    };
    EXPECT_EQ(tool.writingRun(), RunOutcome::Completed);
    for (int r = 0; r < 9; ++r)
        EXPECT_EQ(bus.memory(0x80)[r], tool.reg_image[8][r]) << r;
    EXPECT_EQ(writesOf[1], 2);
    EXPECT_EQ(tool.errorTotal(), 0);
    EXPECT_EQ(tool.lastRun().controllers[0].verified, 9);   // every row after the first failure
}

TEST_F(RunTest, LateRepliesAreDroppedWhileTheLineSettlesAndNeverStoredAsAnotherRow)
{
    exchange.setWaitUnitMs(60);
    bus.memory(0x84) = pattern(7);
    tick({0x84});
    // Replies of exchanges 2 and 3 (row 1, twice) come 10 ms after their
    // tries failed: the line is settling then, and they are dropped.
    port.responder = [this](const QByteArray &req) {
        const QByteArray reply = frames::joined(bus.answer(req));
        port.deliverIn(bus.exchanges == 2 || bus.exchanges == 3 ? 70 : 25, reply);
        return std::vector<QByteArray>{};
    };
    EXPECT_EQ(tool.readingRun(), RunOutcome::Completed);
    for (int r = 0; r < 9; ++r)
        EXPECT_EQ(tool.reg_image[12][r], bus.memory(0x84)[r]) << r;
    EXPECT_EQ(statusAt(0, 5), (Texts{readOk(0x84, 0), "error  1", "error  2", readOk(0x84, 1), readOk(0x84, 2)}));
    EXPECT_EQ(bus.exchanges, 1 + 2 + 2 * 8);   // after the failures every row is read twice
    EXPECT_EQ(tool.lastRun().controllers[0].confirmed, 8);
}

// An acknowledgement names no register. One left on the line by a stopped
// run (or a controller acknowledging one write twice) shifts every fast
// exchange by one row; a write lost on the way would then pass as written.
// Fast writes are read back.
TEST_F(RunTest, AStrayAcknowledgementNeverPassesForAWrite)
{
    exchange.setFastMode(40, 5);
    bus.memory(0x80) = SlotImage{};
    tool.reg_image[8] = pattern(3);
    tick({0x80});
    int writes = 0;
    port.responder = [&](const QByteArray &req) -> std::vector<QByteArray> {
        if (req[2] == frames::kWriteCommand && ++writes == 1)
            port.deliverIn(0, frames::writeReply(0x80));   // the stray one comes first
        if (req[2] == frames::kWriteCommand && std::uint8_t(req[3]) == 4 && writes < 8) {
            ++bus.exchanges;
            return {};   // row 4's first write lost: neither stored nor acknowledged
        }
        const std::vector<QByteArray> answer = bus.answer(req);
        port.deliverIn(2, frames::joined(answer));
        return {};
    };
    EXPECT_EQ(tool.writingRun(), RunOutcome::Completed);
    for (int r = 0; r < 9; ++r)
        EXPECT_EQ(bus.memory(0x80)[r], tool.reg_image[8][r]) << r;
    EXPECT_EQ(tool.lastRun().controllers[0].verified, 9);
    EXPECT_EQ(tool.lastRun().controllers[0].written.size(), 9u);

    // At the fixed wait: $80's last row fails once; a late acknowledgement
    // (here with $81's address) comes while $81's first write is lost. The
    // controller after one with an anomaly is confirmed from its first row.
    exchange.setFixedWait();
    tool.reg_image[9] = pattern(5);
    bus.memory(0x80) = bus.memory(0x81) = SlotImage{};
    tick({0x81});
    bool lateAck = true, lastRowFails = true;
    port.responder = [&](const QByteArray &req) -> std::vector<QByteArray> {
        const int a = std::uint8_t(req[1]), r = std::uint8_t(req[3]);
        if (a == 0x80 && r == 8 && req[2] == frames::kWriteCommand && std::exchange(lastRowFails, false))
            return {};
        if (a == 0x81 && r == 0 && req[2] == frames::kWriteCommand && std::exchange(lateAck, false))
            return {frames::writeReply(0x81)};
        return bus.answer(req);
    };
    EXPECT_EQ(tool.writingRun(), RunOutcome::Completed);
    EXPECT_EQ(bus.memory(0x81)[0], tool.reg_image[9][0]);
    EXPECT_EQ(tool.lastRun().controllers[1].verified, 9);
}

// Row 5 holds a reply header of its own: the tail of a late reply in pieces,
// followed by the retry's own reply, adds up to a right checksum with the
// bytes in another order. After the failed try every row is read twice.
TEST_F(RunTest, ARowHoldingItsOwnReplyHeaderIsNeverReadShifted)
{
    exchange.setWaitUnitMs(40);
    exchange.setSettleMs(5);
    bus.memory(0x00) = pattern(4);
    bus.memory(0x00)[5] = {0x70, 0x00, 0x00, 0x01, 0xF8, 0x00, 0x07, 0x05};
    tick({0x00});
    int readsOf5 = 0;
    port.responder = [&](const QByteArray &req) -> std::vector<QByteArray> {
        const QByteArray reply = frames::joined(bus.answer(req));
        if (std::uint8_t(req[3]) != 5)
            return {reply};
        if (++readsOf5 == 1) {   // half in its own wait, the rest 10 ms after the retry went out
            for (const auto &[ms, piece] : {std::pair{25, 0}, {26, 4}, {55, 8}, {56, 12}})
                port.deliverIn(ms, reply.mid(piece, 4));
            return {};
        }
        port.deliverIn(readsOf5 == 2 ? 20 : 0, reply);
        return {};
    };
    EXPECT_EQ(tool.readingRun(), RunOutcome::Completed);
    EXPECT_EQ(tool.reg_image[0][5], bus.memory(0x00)[5]);
    for (int r = 0; r < 60; ++r)
        EXPECT_EQ(tool.reg_image[0][r], bus.memory(0x00)[r]) << r;
    EXPECT_EQ(tool.errorTotal(), 0);
}

TEST_F(RunTest, TraceNamesWhatEveryKindOfExchangeMadeOfItsBytes)
{
    // Times: seconds with six digits of microseconds, whatever their size.
    EXPECT_EQ(LineTrace::lineText(12345678, '>', "F0 80"), "12.345678 > F0 80");
    EXPECT_EQ(LineTrace::lineText(1000050, '<', "F8"), "1.000050 < F8");
    LineTrace trace;
    ASSERT_TRUE(trace.open(dir.filePath("trace.txt"), nullptr));
    exchange.setTrace(&trace);
    bus.memory(0x80) = SlotImage{};
    tool.ticked[8] = true;
    bus.fault(0x80, 1, 1, sim::FaultKind::OtherAddr);
    bus.fault(0x80, 4, 1, sim::FaultKind::Garbage);
    EXPECT_EQ(tool.readingRun(), RunOutcome::Completed);
    bus.clearFaults();
    bus.fault(0x80, 2, 1, sim::FaultKind::NoStore);
    bus.fault(0x80, 3, 1, sim::FaultKind::OtherAddr);
    tool.reg_image[8] = pattern(6);
    tool.setVerify(true);
    EXPECT_EQ(tool.writingRun(), RunOutcome::Completed);
    tool.ticked = {};
    tool.ticked[9] = true;   // $81 is absent
    EXPECT_EQ(tool.scanRun(), RunOutcome::Completed);
    trace.close();
    QStringList verdicts, runs;
    for (const QString &line : QString::fromUtf8(fileBytes(dir.filePath("trace.txt"))).split('\n', Qt::SkipEmptyParts)) {
        const QString rest = line.section(' ', 2);
        if (line.section(' ', 1, 1) == "=")
            verdicts << rest;
        else if (line.section(' ', 1, 1) == "#")
            runs << line.section(' ', 0, 1) + ' ' + rest.section(',', 0, 1);
    }
    EXPECT_EQ(runs, (QStringList{"0.000000 # запуск: чтение, порт /dev/fake",
                                 "0.000000 # запуск: запись в систему, порт /dev/fake",
                                 "0.000000 # запуск: опрос, порт /dev/fake"}));
    for (const char *verdict : {"чтение $80 регистр $0: ответ верный", "чтение $80 регистр $1: ответ другого адреса",
                                // 3C, then the whole reply: one byte more than a reply
                                "чтение $80 регистр $4: ответ начинается не с F8, после ответа пришли ещё байты",
                                "повторное чтение $80 регистр $5: ответ верный",
                                "запись $80 регистр $0: ответ верный", "проверка записи $80 регистр $0: ответ верный",
                                "проверка записи $80 регистр $2: ответ верный, но прочитано не то, что записано",
                                "запись $80 регистр $3: ответ другого адреса"})
        EXPECT_TRUE(verdicts.contains(QString::fromUtf8(verdict))) << verdict << "\n" << verdicts.join("\n").toStdString();
    EXPECT_EQ(verdicts.count(QStringLiteral("опрос $81 регистр $0: нет ответа")), 3);
}

TEST_F(RunTest, AStoppedWriteNamesTheRowAcknowledgedButNotReadBack)
{
    tool.setVerify(true);
    bus.memory(0x01) = SlotImage{};
    tool.reg_image[1] = pattern(3);
    tick({0x01});
    // The stop comes while row 2's write is acknowledged: the controller
    // holds it, its read-back is never made.
    port.responder = [this](const QByteArray &req) {
        if (req[2] == char(frames::kWriteCommand) && req[3] == 2)
            tool.requestStop();
        return bus.answer(req);
    };
    EXPECT_EQ(tool.writingRun(), RunOutcome::Stopped);
    const RunRecord &rec = tool.lastRun();
    EXPECT_EQ(rec.controllers[0].written, (std::vector<int>{0, 1}));
    EXPECT_EQ(rec.controllers[0].acknowledged, std::vector<int>{2});
    EXPECT_EQ(bus.memory(0x01)[2], tool.reg_image[1][2]);
    EXPECT_EQ(acknowledgedText(rec), QStringLiteral("; подтверждён контроллером, но не проверен чтением: $1: регистр 2"));
    const QJsonObject report = QJsonDocument::fromJson(reportJson(rec)).object();
    EXPECT_EQ(report["controllers"][0]["address"].toString(), "01");
    EXPECT_EQ(report["controllers"][0]["acknowledged"].toArray(), QJsonArray{2});
}

TEST_F(RunTest, ALineThatNeverFallsQuietEndsTheRunAndSavesNothing)
{
    bus.memory(0x80) = pattern(2);
    tick({0x80});
    const QByteArray before = fileBytes(tool.imagePath());
    bool noisy = true;   // one byte every 5 ms, for ever
    std::function<void()> noise = [&] {
        if (noisy) {
            port.deliverIn(0, QByteArray(1, '\x55'));
            clock.after(5, noise);
        }
    };
    clock.after(5, noise);
    const qint64 start = clock.nowMs();
    EXPECT_EQ(tool.readingRun(), RunOutcome::PortLost);
    noisy = false;
    // Given up at the settle of the run's start, once 2 s have passed without a quiet settle time.
    EXPECT_EQ(clock.nowMs() - start, BusExchange::kSettleLimitMs);
    EXPECT_TRUE(port.requests.empty());
    EXPECT_TRUE(exchange.lineNeverQuiet());
    ASSERT_FALSE(errors.empty());
    EXPECT_TRUE(errors.back().contains(QStringLiteral("линия не затихает: "))) << errors.back().toStdString();
    EXPECT_EQ(fileBytes(tool.imagePath()), before);
    // The port itself is still open: the next run tries the line again.
    EXPECT_TRUE(tool.portOpen());
    EXPECT_EQ(tool.readingRun(), RunOutcome::Completed);
    for (int r = 0; r < 9; ++r)
        EXPECT_EQ(tool.reg_image[8][r], bus.memory(0x80)[r]) << r;
}

TEST_F(RunTest, RestoringSavesFirstAndNeverRemovesTheChosenImage)
{
    tool.setKeep(2);
    RegisterImage older{}, newer{};
    older[0][0][0] = 1;
    newer[0][0][0] = 2;
    QString oldest, other, why, kept;
    ASSERT_TRUE(history::keep(dir.path(), imageFileBytes(older), QDateTime(QDate(2026, 1, 1), QTime(1, 0)), &oldest, &why));
    ASSERT_TRUE(history::keep(dir.path(), imageFileBytes(newer), QDateTime(QDate(2026, 1, 2), QTime(1, 0)), &other, &why));
    // zuk.txt read-only: the restore fails, and the history is as it was (and the copy of zuk.txt).
    QFile::setPermissions(tool.imagePath(), QFile::ReadOwner);
    EXPECT_FALSE(tool.restoreFromHistory(oldest, &kept, &why));
    EXPECT_TRUE(QFileInfo::exists(oldest)) << "the chosen image was removed";
    EXPECT_TRUE(QFileInfo::exists(other));
    QFile::setPermissions(tool.imagePath(), QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_TRUE(tool.restoreFromHistory(oldest, &kept, &why)) << why.toStdString();
    EXPECT_EQ(fileBytes(tool.imagePath()), imageFileBytes(older));
    EXPECT_TRUE(QFileInfo::exists(oldest));
    EXPECT_TRUE(QFileInfo::exists(kept));
}

TEST_F(RunTest, AReadingRunThatReadNothingLeavesZukTxtAsItWas)
{
    RegisterImage img{};
    img[0][0][0] = 1;   // $00 present, not ticked: a save would clear its marker
    img[9] = pattern(3);
    QString why;
    ASSERT_TRUE(saveFileAtomically(tool.imagePath(), imageFileBytes(img), &why));
    ASSERT_TRUE(tool.LoadImageFile());
    tool.ticked = {};
    tick({0x81, 0x82});   // neither answers
    tool.setSkipSilent(true);
    tool.setHistory(true);
    const QByteArray before = fileBytes(tool.imagePath());
    EXPECT_EQ(tool.readingRun(), RunOutcome::Completed);
    EXPECT_EQ(fileBytes(tool.imagePath()), before);
    EXPECT_TRUE(tool.lastRun().nothingRead);
    EXPECT_EQ(errors, Texts{nothingReadText()});
    EXPECT_EQ(tool.errorTotal(), 2);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("history")));
}
