// Reading and writing runs of zuk_2 without a window, against zuk_sim on a
// pseudo-terminal: status lines, exit codes, the saved zuk.txt, the bytes on
// the wire (the simulator's log) and the simulator's memory afterwards.

#include "harness.h"
#include "sim/core/sim_core.h"
#include "protocol/frames.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <csignal>
#include <map>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zuk;
using namespace zuk::itest;

namespace {

// Long enough that a loaded machine still gets every reply into its wait.
constexpr int kUnitMs = 80;

using Lines = std::vector<std::string>;

Lines toLines(const QStringList &list)
{
    Lines out;
    for (const QString &s : list)
        out.push_back(s.toStdString());
    return out;
}

std::string rowText(const char *lead, int a, int r, const char *tail)
{
    return (QString::fromUtf8(lead) + hexText(a) + QStringLiteral("   регистра $") + hexText(r) + QString::fromUtf8(tail))
        .toStdString();
}
std::string readOk(int a, int r) { return rowText("Чтение из системы адреса $", a, r, "  OK  "); }
std::string readGivenUp(int a, int r) { return rowText("Чтение из системы адреса $", a, r, "     ERROR"); }
std::string writeOk(int a, int r) { return rowText("запись в систему адреса $", a, r, "     OK"); }
std::string writeGivenUp(int a, int r) { return rowText("запись в систему адреса $", a, r, "  ERROR"); }
std::string retry(int n) { return ("error  " + hexText(n)).toStdString(); }
std::string total(int n) { return "Произошло       " + std::to_string(n) + "       ошибок"; }
const std::string kNeutral = "Статус:" + std::string(63, ' ');

void add(Lines *l, std::initializer_list<std::string> more) { l->insert(l->end(), more); }
void addRetries(Lines *l, int from, int to)
{
    for (int n = from; n <= to; ++n)
        l->push_back(retry(n));
}

QStringList toolArgs(const char *mode, const Sim &sim, const ToolFolder &folder, const char *tick, int unit = kUnitMs)
{
    return {QString::fromLatin1(mode), QStringLiteral("--port"), sim.device, QStringLiteral("--dir"),
            folder.dir.path(), QStringLiteral("--tick"), QString::fromLatin1(tick),
            QStringLiteral("--wait-unit-ms"), QString::number(unit)};
}

ToolRun tool(const char *mode, const Sim &sim, const ToolFolder &folder, const char *tick, int unit = kUnitMs,
             const QStringList &more = {})
{
    return runTool(toolArgs(mode, sim, folder, tick, unit) + more);
}

QJsonObject reportOf(const ToolFolder &folder)
{
    return QJsonDocument::fromJson(fileBytes(folder.dir.filePath(QStringLiteral("report.json")))).object();
}
QStringList reportArgs(const ToolFolder &folder)
{
    return {QStringLiteral("--report"), folder.dir.filePath(QStringLiteral("report.json"))};
}

Lines readRequests(std::initializer_list<int> addresses)
{
    Lines l;
    for (int a : addresses)
        for (int r = 0; r < controllerMap()[slotOfAddress(a)].rows; ++r)
            l.push_back(sim::hexLine(frames::joined(frames::readRequestPieces(a, r))).toStdString());
    return l;
}

// A log with each request repeated straight after itself (a try, a
// confirming read) counted once.
Lines collapsed(Lines log)
{
    log.erase(std::unique(log.begin(), log.end()), log.end());
    return log;
}
// The write requests of a log, a try of the same write counted once. A
// loaded machine may cost a try or, after a late acknowledgement, a
// read-back; the writes themselves stay exact.
Lines writesOf(const Lines &log)
{
    Lines w;
    std::copy_if(log.begin(), log.end(), std::back_inserter(w),
                 [](const std::string &l) { return l.compare(6, 2, "08") == 0; });
    return collapsed(std::move(w));
}
std::size_t requestsTo(const Lines &log, int address)
{
    const std::string a = tickAddressText(address).toStdString();
    return std::size_t(std::count_if(log.begin(), log.end(), [&](const std::string &l) { return l.compare(3, 2, a) == 0; }));
}
bool onlyWritesAndReads(const Lines &log)
{
    return std::all_of(log.begin(), log.end(), [](const std::string &l) {
        return l.compare(6, 2, "08") == 0 || l.compare(6, 2, "07") == 0;
    });
}

}  // namespace

class HeadlessRuns : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QFileInfo::exists(bin("zuk_2"))) << bin("zuk_2").toStdString(); }
};

TEST_F(HeadlessRuns, ReadingStoresTheSimulatorsMemoryInSlotOrder)
{
    const RegisterImage mem = simMemory();
    auto sim = startSim(mem);
    const RegisterImage sample = loadOrFail(sampleImage());
    ToolFolder folder(fileBytes(sampleImage()));

    const ToolRun run = tool("--read", *sim, folder, "9C,01,81");
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    Lines expected;
    for (int a : {0x01, 0x81, 0x9C})
        for (int r = 0; r < controllerMap()[slotOfAddress(a)].rows; ++r)
            expected.push_back(readOk(a, r));
    add(&expected, {total(0), kNeutral});
    EXPECT_EQ(toLines(run.lines), expected);

    RegisterImage want = sample;
    for (int slot = 0; slot < kSlotCount; ++slot)
        want[slot][0][0] = 0;   // unticked slots lose their marker
    for (int a : {0x01, 0x81, 0x9C})
        want[slotOfAddress(a)] = mem[slotOfAddress(a)];
    EXPECT_TRUE(sameBytes(fileBytes(folder.path()), imageFileBytes(want)));

    ASSERT_TRUE(sim->stop());
    const Lines log = sim->log();
    EXPECT_EQ(collapsed(log), readRequests({0x01, 0x81, 0x9C}));
    EXPECT_EQ(log.back(), "F0 9C 07 17 BA");
}

TEST_F(HeadlessRuns, RetriesCountAcrossRowsAndGivenUpRowsKeepTheirValues)
{
    // Rows 0 and 1 fail 4 times each, so row 2 is given up at its second
    // failure; row 3 then starts from 0 and survives 9 failures.
    const RegisterImage mem = simMemory();
    auto sim = startSim(mem, {QStringLiteral("--fault"),
                              QStringLiteral("80:0:4=silent,80:1:4=silent,80:2:2=silent,80:3:9=silent")});
    const RegisterImage sample = loadOrFail(sampleImage());
    ToolFolder folder(fileBytes(sampleImage()));

    const ToolRun read = tool("--read", *sim, folder, "80");
    EXPECT_EQ(read.exitCode, 1) << read.err.toStdString();
    Lines expected;
    addRetries(&expected, 1, 4);
    expected.push_back(readOk(0x80, 0));
    addRetries(&expected, 5, 8);
    expected.push_back(readOk(0x80, 1));
    addRetries(&expected, 9, 10);
    expected.push_back(readGivenUp(0x80, 2));
    addRetries(&expected, 1, 9);
    for (int r = 3; r < 9; ++r)
        expected.push_back(readOk(0x80, r));
    add(&expected, {total(1), kNeutral});
    EXPECT_EQ(toLines(read.lines), expected);

    const RegisterImage saved = loadOrFail(folder.path());
    SlotImage want = mem[8];
    want[2] = sample[8][2];   // the given-up row keeps the value loaded at start
    EXPECT_EQ(saved[8], want);

    // Writing back sends exactly what was saved, the old row 2 included.
    const ToolRun write = tool("--write", *sim, folder, "80");
    EXPECT_EQ(write.exitCode, 0) << write.err.toStdString();
    expected.clear();
    for (int r = 0; r < 9; ++r)
        expected.push_back(writeOk(0x80, r));
    expected.push_back(kNeutral);
    EXPECT_EQ(toLines(write.lines), expected);
    ASSERT_TRUE(sim->stop());
    const Lines log = sim->log();
    // Reading: after the first failure every row that answers is read twice
    // (row 3: 9 silent tries, then two reads); writing: one exchange a row.
    EXPECT_GE(log.size(), (4u + 2) + (4 + 2) + 2 + (9 + 2) + 5 * 2 + 9);
    const Lines writes = writesOf(log);
    ASSERT_EQ(writes.size(), 9u);
    for (int r = 0; r < 9; ++r)
        EXPECT_EQ(writes[r], sim::hexLine(frames::joined(frames::writeRequestPieces(0x80, r, rowBytes(saved[8][r])))).toStdString());
    EXPECT_EQ(loadOrFail(sim->savePath)[8], want);
}

TEST_F(HeadlessRuns, WritingResetsRetriesAfterEachRow)
{
    auto sim = startSim(simMemory(), {QStringLiteral("--fault"), QStringLiteral("80:*:9=silent")});
    ToolFolder folder(fileBytes(sampleImage()));
    const ToolRun run = tool("--write", *sim, folder, "80");
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    Lines expected;
    for (int r = 0; r < 9; ++r) {
        addRetries(&expected, 1, 9);
        expected.push_back(writeOk(0x80, r));
    }
    expected.push_back(kNeutral);
    EXPECT_EQ(toLines(run.lines), expected);
    ASSERT_TRUE(sim->stop());
    EXPECT_EQ(sim->log().size(), 99u);   // after the first failure every row is read back once
    EXPECT_EQ(loadOrFail(sim->savePath)[8], loadOrFail(sampleImage())[8]);
}

TEST_F(HeadlessRuns, SilentControllerGivesUpEveryRow)
{
    auto sim = startSim(simMemory(), {QStringLiteral("--present"), QStringLiteral("80")});
    ToolFolder folder(fileBytes(sampleImage()));
    for (const char *mode : {"--read", "--write"}) {
        const bool reading = mode[2] == 'r';
        const ToolRun run = tool(mode, *sim, folder, "80,81", 30);
        EXPECT_EQ(run.exitCode, 1) << mode << run.err.toStdString();
        Lines expected;
        for (int r = 0; r < 9; ++r)
            expected.push_back(reading ? readOk(0x80, r) : writeOk(0x80, r));
        if (!reading)
            expected.push_back(kNeutral);
        for (int r = 0; r < 9; ++r) {
            addRetries(&expected, 1, 10);
            expected.push_back(reading ? readGivenUp(0x81, r) : writeGivenUp(0x81, r));
        }
        if (!reading)
            expected.push_back(kNeutral);
        add(&expected, {total(9), kNeutral});
        EXPECT_EQ(toLines(run.lines), expected) << mode;
    }
    ASSERT_TRUE(sim->stop());
    EXPECT_EQ(requestsTo(sim->log(), 0x81), 2 * 90u);   // ten tries of every row, in both runs
    EXPECT_GE(requestsTo(sim->log(), 0x80), 2 * 9u);
    // the reading run kept the loaded rows
    EXPECT_EQ(loadOrFail(folder.path())[9], loadOrFail(sampleImage())[9]);
}

// A line on which nothing answers (unplugged, the wrong port) ends a run
// after its first 30 requests, not after ten tries of every row.
TEST_F(HeadlessRuns, NoByteBackInTheFirstThirtyRequestsStopsTheRun)
{
    auto sim = startSim(simMemory(), {QStringLiteral("--present"), QStringLiteral("none")});
    ToolFolder folder(fileBytes(sampleImage()));
    for (const char *mode : {"--read", "--write", "--compare"}) {
        const ToolRun run = tool(mode, *sim, folder, "00,80", 20, reportArgs(folder));
        EXPECT_EQ(run.exitCode, 4) << mode << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("Порт %1: нет ответа ни от одного контроллера — проверьте "
                                                    "подключение линии").arg(sim->device)))
            << run.err.toStdString();
        EXPECT_EQ(reportOf(folder)["outcome"].toString(), "no_answer");
        EXPECT_EQ(reportOf(folder)["exchanges"].toInt(), 30);
    }
    ASSERT_TRUE(sim->stop());
    EXPECT_EQ(sim->log().size(), 3 * 30u);
    EXPECT_EQ(fileBytes(folder.path()), fileBytes(sampleImage()));   // the reading run saved nothing
}

TEST_F(HeadlessRuns, WritingEscapesF0AndLeavesTheImageInTheControllers)
{
    RegisterImage image = loadOrFail(sampleImage());
    image[8][4] = {0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0};
    image[18][0] = {1, 0xF0, 0, 0, 0, 0, 0, 0xFF};
    image[18][23] = {0xF0, 2, 3, 4, 5, 6, 7, 0xF0};
    const RegisterImage mem = simMemory();
    auto sim = startSim(mem);
    ToolFolder folder(imageFileBytes(image));

    const ToolRun run = tool("--write", *sim, folder, "80,9C");
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    ASSERT_EQ(run.lines.size(), 9u + 1 + 24 + 1);
    EXPECT_EQ(run.lines.last().toStdString(), kNeutral);
    ASSERT_TRUE(sim->stop());

    RegisterImage want = mem;
    want[8] = image[8];
    want[18] = image[18];
    EXPECT_TRUE(sameBytes(fileBytes(sim->savePath), imageFileBytes(want)));
    const Lines log = writesOf(sim->log());
    EXPECT_TRUE(onlyWritesAndReads(sim->log()));
    ASSERT_EQ(log.size(), 33u);
    EXPECT_EQ(log[4], "F0 80 08 04 F0 11 F0 11 F0 11 F0 11 F0 11 F0 11 F0 11 F0 11 94");
    EXPECT_EQ(log[9], "F0 9C 08 00 01 F0 11 00 00 00 00 00 FF A5");
    EXPECT_EQ(log[32], "F0 9C 08 17 F0 11 02 03 04 05 06 07 F0 11 D8");
}

// A run that would do nothing, or a reading run that could not save, is
// refused before the port is opened: exit 2, zuk.txt as it was, no request.
TEST_F(HeadlessRuns, RunsThatDoNothingOrCannotSaveAreRefused)
{
    auto sim = startSim(simMemory());
    const QByteArray sample = fileBytes(sampleImage());
    ToolFolder folder(sample);
    for (const char *mode : {"--read", "--write", "--compare"}) {
        const ToolRun r = tool(mode, *sim, folder, "none", 20, reportArgs(folder));
        EXPECT_EQ(r.exitCode, 2) << mode;
        EXPECT_EQ(toLines(r.lines), Lines{}) << mode;
        EXPECT_TRUE(r.err.contains(QStringLiteral("ни один контроллер не отмечен (задано --tick none)"))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("задаёт --tick"))) << r.err.toStdString();
        EXPECT_EQ(reportOf(folder)["outcome"].toString(), "refused") << mode;
    }
    EXPECT_TRUE(sameBytes(fileBytes(folder.path()), sample));
    // Without --tick: no zuk.txt, or one that marks no controller present.
    QTemporaryDir empty;
    ToolRun r = runTool({"--read", "--port", sim->device, "--dir", empty.path()});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("файл zuk.txt не загружен"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("--tick")) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(QDir(empty.path()).filePath("zuk.txt")));
    RegisterImage unmarked = loadOrFail(sampleImage());
    for (SlotImage &slot : unmarked)
        slot[0][0] = 0;
    ToolFolder blank(imageFileBytes(unmarked));
    r = runTool({"--write", "--port", sim->device, "--dir", blank.dir.path()});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("ни один контроллер не отмечен присутствующим"))) << r.err.toStdString();
    // zuk.txt a link into a folder where not even root makes a file.
    QTemporaryDir linked;
    ASSERT_TRUE(QFile::link(QStringLiteral("/sys/zuk-none.txt"), linked.filePath("zuk.txt")));
    r = runTool(QStringList{"--read", "--port", sim->device, "--dir", linked.path(), "--tick", "80"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("в папке /sys нельзя создать файл: "))) << r.err.toStdString();
    ASSERT_TRUE(sim->stop());
    EXPECT_EQ(sim->log(), Lines{});
}

// --scan prints the controllers that answer a read of register 0, as
// scripts read them: the address as --tick writes it, a tab, the caption.
TEST_F(HeadlessRuns, ScanPrintsExactlyTheControllersThatAnswer)
{
    auto sim = startSim(simMemory(), {QStringLiteral("--present"), QStringLiteral("00,81,9C")});
    QTemporaryDir work;
    const QString report = work.filePath("scan.json");
    auto scan = [&](const Sim &s, const QStringList &more) {
        return runTool(QStringList{"--scan", "--port", s.device, "--wait-unit-ms", "20"} + more, 60000, work.path());
    };
    ToolRun r = scan(*sim, {"--report", report});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(toLines(r.lines), (Lines{"00\tконтроллер адрес $00", "81\tиндикатор часовой $81", "9C\tговорилка $9C"}));
    const QJsonObject json = QJsonDocument::fromJson(fileBytes(report)).object();
    EXPECT_EQ(json["run"].toString(), "scan");
    const QJsonArray controllers = json["controllers"].toArray();
    ASSERT_EQ(controllers.size(), kSlotCount);
    for (const QJsonValue &c : controllers) {
        const QString a = c["address"].toString();
        EXPECT_EQ(c["answered"].toBool(), a == "00" || a == "81" || a == "9C") << a.toStdString();   // as --tick writes them
    }
    r = scan(*sim, {"--tick", "80,81,9D", "--fast", "--reply-timeout-ms", "20"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(toLines(r.lines), Lines{"81\tиндикатор часовой $81"});
    ASSERT_TRUE(sim->stop());
    const Lines log = sim->log();
    // three tries for each absent; a present one answers its first (or, on a
    // loaded machine, a later) one
    for (const ControllerSlot &c : controllerMap()) {
        const bool present = c.address == 0x00 || c.address == 0x81 || c.address == 0x9C;
        const std::size_t n = requestsTo(log, c.address);
        const std::size_t absentTries = (c.address == 0x80 || c.address == 0x9D) ? 6 : 3;
        if (present)
            EXPECT_TRUE(n >= (c.address == 0x81 ? 2u : 1u) && n <= (c.address == 0x81 ? 6u : 3u)) << c.address << " " << n;
        else
            EXPECT_EQ(n, absentTries) << c.address;
    }
    for (const std::string &request : log)
        EXPECT_EQ(request.substr(0, 2) + request.substr(5, 6), "F0 07 00") << request;

    auto silent = startSim(simMemory(), {QStringLiteral("--present"), QStringLiteral("none")});
    r = scan(*silent, {"--fast", "--reply-timeout-ms", "10"});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_EQ(toLines(r.lines), Lines{});
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files), QStringList{"scan.json"});   // nothing else saved
}

// With --skip-silent the absent controllers of the house cost one row each;
// the present ones are read whole.
TEST_F(HeadlessRuns, SkipSilentReadsThePresentWholeAndLeavesTheAbsent)
{
    const RegisterImage mem = simMemory();
    auto sim = startSim(mem, {QStringLiteral("--present"),
                              QStringLiteral("00,01,02,04,05,06,07,80,81,82,83,84,86,87,90,98,9C")});
    const QList<int> absent{0x03, 0x85, 0x9D};
    ToolFolder folder(fileBytes(sampleImage()));
    const ToolRun r = tool("--read", *sim, folder, "all", 20,
                           QStringList{"--skip-silent", "--fast", "--reply-timeout-ms", "20", "--settle-ms", "5"}
                               + reportArgs(folder));
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    for (int a : absent) {
        EXPECT_TRUE(r.lines.contains(QStringLiteral("контроллер адрес $%1 молчит, пропущен").arg(hexText(a))));
        EXPECT_TRUE(r.err.contains(QStringLiteral("$%1: молчит, пропущен").arg(hexText(a)))) << r.err.toStdString();
    }
    ASSERT_TRUE(sim->stop());
    std::map<std::string, int> requestsTo;
    for (const std::string &request : sim->log())
        ++requestsTo[request.substr(3, 2)];
    for (int a : absent)
        EXPECT_EQ(requestsTo[QStringLiteral("%1").arg(a, 2, 16, QLatin1Char('0')).toUpper().toStdString()], 10) << a;
    const RegisterImage saved = loadOrFail(folder.path()), sample = loadOrFail(sampleImage());
    const QJsonArray controllers = reportOf(folder)["controllers"].toArray();
    ASSERT_EQ(controllers.size(), kSlotCount);
    for (const ControllerSlot &s : controllerMap()) {
        const bool gone = absent.contains(s.address);
        EXPECT_EQ(saved[s.slot], gone ? sample[s.slot] : mem[s.slot]) << s.address;
        EXPECT_EQ(controllers[s.slot]["silent"].toBool(), gone) << s.address;
    }
    EXPECT_EQ(reportOf(folder)["error_total"].toInt(), 3);
}

// Without --dir an installed zuk_2 (build/bin holds no zuk.txt, as /usr/bin
// does not) works on the folder given last time, and before any was given on
// the current folder without remembering it.
TEST_F(HeadlessRuns, WithoutDirTheCurrentFolderHoldsZukTxtAndNothingIsRemembered)
{
    ASSERT_FALSE(QFileInfo::exists(bin("zuk.txt")));
    auto sim = startSim(simMemory());
    ToolFolder house(fileBytes(sampleImage())), windowHouse(fileBytes(sampleImage()));
    QTemporaryDir config, elsewhere;
    // The window's folder, remembered.
    const QString settings = QDir(config.path()).filePath(QStringLiteral("zuk/zuk_2.ini"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(settings).absolutePath()));
    writeFile(settings, QStringLiteral("[General]\nfolder=%1\n").arg(windowHouse.dir.path()).toUtf8());
    const QByteArray remembered = fileBytes(settings);
    auto write = [&](const QString &cwd, const QStringList &extra = {}) {
        return runTool(QStringList{"--write", "--port", sim->device, "--tick", "none"} + extra, 60000, cwd,
                       config.path());
    };
    auto folderLine = [](const QString &folder) { return QStringLiteral("zuk_2: папка %1\n").arg(folder); };

    // Nothing ticked: each run is refused once zuk.txt has been looked for, where it was started.
    ToolRun r = write(elsewhere.path());   // no zuk.txt there
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.startsWith(folderLine(elsewhere.path()))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Ошибка, нет готового файла")) << r.err.toStdString();
    r = write(house.dir.path());
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    EXPECT_TRUE(r.err.startsWith(folderLine(house.dir.path()))) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("Ошибка, нет готового файла")) << r.err.toStdString();
    r = write(elsewhere.path(), {"--dir", house.dir.path()});
    EXPECT_TRUE(r.err.startsWith(folderLine(house.dir.path()))) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("Ошибка, нет готового файла")) << r.err.toStdString();
    EXPECT_EQ(fileBytes(settings), remembered);
    EXPECT_FALSE(QFileInfo::exists(QDir(elsewhere.path()).filePath("zuk.txt")));
    ASSERT_TRUE(sim->stop());
    EXPECT_EQ(sim->log(), Lines{});
}

TEST_F(HeadlessRuns, ValueOutsideAByteRefusesTheWritingRun)
{
    RegisterImage image = loadOrFail(sampleImage());
    image[9][5][6] = 300;   // $81, register 5, byte 6
    const RegisterImage mem = simMemory();
    auto sim = startSim(mem);
    ToolFolder folder(imageFileBytes(image));

    const ToolRun refused = tool("--write", *sim, folder, "80,81");
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(toLines(refused.lines), Lines{});
    EXPECT_TRUE(refused.err.contains(QStringLiteral("81"))) << refused.err.toStdString();
    EXPECT_TRUE(refused.err.contains(QStringLiteral("300"))) << refused.err.toStdString();

    // the same value in an unticked slot stops nothing
    const ToolRun other = tool("--write", *sim, folder, "80");
    EXPECT_EQ(other.exitCode, 0) << other.err.toStdString();

    ASSERT_TRUE(sim->stop());
    EXPECT_EQ(writesOf(sim->log()).size(), 9u);   // only the second run's rows
    EXPECT_TRUE(onlyWritesAndReads(sim->log()));
    RegisterImage want = mem;
    want[8] = image[8];
    EXPECT_TRUE(sameBytes(fileBytes(sim->savePath), imageFileBytes(want)));
}

TEST_F(HeadlessRuns, PiecesAreCollectedAndALateReplyOnlyCostsARetry)
{
    // A unit of 400 ms leaves room for 13 pieces of one byte 20 ms apart.
    // Row 3 answers late twice: the first late reply lands in its retry (and
    // is right for row 3). After that failure every row is read twice: the
    // second late reply comes ahead of the confirming read's own, in the
    // same wait, which fails it; the next pair of reads is clean.
    const RegisterImage mem = simMemory();
    auto sim = startSim(mem, {QStringLiteral("--fault"),
                              QStringLiteral("80:0=pieces/3,80:1=pieces/2,80:5=pieces/1,80:3:2=late/600")});
    ToolFolder folder(fileBytes(sampleImage()));

    // Pieces 20 ms apart are no anomaly under a settle time of 30 ms.
    const ToolRun run = tool("--read", *sim, folder, "80", 400, {"--settle-ms", "30"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    Lines expected = {readOk(0x80, 0), readOk(0x80, 1), readOk(0x80, 2), retry(1), retry(2), readOk(0x80, 3)};
    for (int r = 4; r < 9; ++r)
        expected.push_back(readOk(0x80, r));
    add(&expected, {total(0), kNeutral});
    EXPECT_EQ(toLines(run.lines), expected);
    EXPECT_EQ(loadOrFail(folder.path())[8], mem[8]);
    ASSERT_TRUE(sim->stop());
    EXPECT_GE(sim->log().size(), 3u + 5 + 5 * 2);   // rows 0-2, row 3 five times, then every row twice
}

TEST_F(HeadlessRuns, CompareListsTheBytesThatDifferAndChangesNothing)
{
    RegisterImage mem = loadOrFail(sampleImage());
    mem[8][2][5] = qint16(mem[8][2][5] ^ 0x40);
    mem[8][8][0] = qint16(mem[8][8][0] ^ 0x01);
    mem[9][8][7] = qint16(mem[9][8][7] ^ 0xFF);
    auto sim = startSim(mem, {QStringLiteral("--fault"), QStringLiteral("81:3:2=silent")});
    const QByteArray sample = fileBytes(sampleImage());
    ToolFolder folder(sample);
    const RegisterImage file = loadOrFail(sampleImage());

    const ToolRun run = tool("--compare", *sim, folder, "80,81", kUnitMs, reportArgs(folder));
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    ASSERT_GE(run.lines.size(), 4);
    auto line = [&](int slot, int r, int b) {
        return QStringLiteral("адрес $%1 регистр $%2 байт %3: %4 -> %5")
            .arg(hexText(controllerMap()[slot].address), hexText(r))
            .arg(b)
            .arg(file[slot][r][b])
            .arg(mem[slot][r][b]);
    };
    EXPECT_EQ(run.lines.mid(run.lines.size() - 4),
              (QStringList{line(8, 2, 5), line(8, 8, 0), line(9, 8, 7), QStringLiteral("различий: 3")}));
    EXPECT_EQ(run.lines.filter(QStringLiteral("error  ")).size(), 2);   // retries as a reading run
    EXPECT_TRUE(run.lines.contains(QString::fromStdString(readOk(0x81, 3))));
    EXPECT_TRUE(sameBytes(fileBytes(folder.path()), sample));
    const QJsonObject report = reportOf(folder);
    EXPECT_EQ(report["run"].toString(), "compare");
    EXPECT_EQ(report["controllers"][1]["differences"][0].toObject(),
              (QJsonObject{{"row", 8}, {"byte", 7}, {"file", file[9][8][7]}, {"system", mem[9][8][7]}}));
    ASSERT_TRUE(sim->stop());
    for (const std::string &request : sim->log())
        EXPECT_EQ(request.substr(6, 2), "07") << request;   // reads only
    EXPECT_TRUE(sameBytes(fileBytes(sim->savePath), imageFileBytes(mem)));

    // Without a whole zuk.txt there is nothing to compare with: refused, nothing sent.
    auto quiet = startSim(mem);
    ToolFolder cut(sample.left(5000));
    const ToolRun refused = tool("--compare", *quiet, cut, "80");
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("Сравнение не начато"))) << refused.err.toStdString();
    ASSERT_TRUE(quiet->stop());
    EXPECT_TRUE(quiet->log().empty());
}

TEST_F(HeadlessRuns, DiffOfTwoFiles)
{
    const QByteArray sample = fileBytes(sampleImage());
    RegisterImage changed = loadOrFail(sampleImage());
    changed[17][10][3] = 7;
    ToolFolder a(sample), b(imageFileBytes(changed)), cut(sample.left(sample.size() / 2));
    const ToolRun same = runTool({"--diff", a.path(), a.path()});
    EXPECT_EQ(same.exitCode, 0);
    EXPECT_EQ(same.lines, QStringList{QStringLiteral("различий: 0")});
    const ToolRun one = runTool({"--diff", a.path(), b.path()});
    EXPECT_EQ(one.exitCode, 1);
    EXPECT_EQ(one.lines, (QStringList{QStringLiteral("адрес $98 регистр $A байт 3: %1 -> 7")
                                          .arg(loadOrFail(sampleImage())[17][10][3]),
                                      QStringLiteral("различий: 1")}));
    const ToolRun broken = runTool({"--diff", a.path(), cut.path()});
    EXPECT_EQ(broken.exitCode, 2);
    EXPECT_TRUE(broken.lines.isEmpty());
    EXPECT_TRUE(broken.err.contains(cut.path())) << broken.err.toStdString();
}

TEST_F(HeadlessRuns, VerifiedWriteGivesUpARowTheControllerNeverStores)
{
    const RegisterImage mem = simMemory();
    auto sim = startSim(mem, {QStringLiteral("--fault"), QStringLiteral("80:2=nostore,80:5:1=nostore")});
    ToolFolder folder(fileBytes(sampleImage()));
    const ToolRun run = tool("--write", *sim, folder, "80", kUnitMs, QStringList{"--verify"} + reportArgs(folder));
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("$80: регистр 2 не записан"))) << run.err.toStdString();
    const QJsonObject report = reportOf(folder);
    EXPECT_EQ(report["outcome"].toString(), "completed");
    EXPECT_EQ(report["error_total"].toInt(), 1);
    EXPECT_EQ(report["controllers"][0]["given_up"].toArray(), QJsonArray{2});
    EXPECT_EQ(report["controllers"][0]["verified"].toInt(), 8);
    ASSERT_TRUE(sim->stop());
    RegisterImage want = mem;
    want[8] = loadOrFail(sampleImage())[8];
    want[8][2] = mem[8][2];   // never stored; row 5 stored at its second try
    EXPECT_EQ(loadOrFail(sim->savePath)[8], want[8]);
}

TEST_F(HeadlessRuns, LateAcknowledgementNeverLeavesARowReportedWritten)
{
    // A late acknowledgement of row 0 holds back the answers behind it and
    // lands in the waits of row 1, whose first three writes are lost.
    const RegisterImage mem = simMemory();
    auto sim = startSim(mem, {QStringLiteral("--fault"), QStringLiteral("00:0:1=late/250,00:1:3=silent")});
    ToolFolder folder(fileBytes(sampleImage()));
    const ToolRun run = tool("--write", *sim, folder, "00", 20, reportArgs(folder));
    ASSERT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.exitCode << " " << run.err.toStdString();
    ASSERT_TRUE(sim->stop());
    const QJsonArray givenUp = reportOf(folder)["controllers"][0]["given_up"].toArray();
    const RegisterImage held = loadOrFail(sim->savePath), image = loadOrFail(folder.path());
    for (int r = 0; r < 60; ++r)
        if (!givenUp.contains(r)) {
            EXPECT_EQ(held[0][r], image[0][r]) << "row " << r << " reported written";
        }
    // A controller that acknowledges every write twice is written whole, at
    // the fixed wait and in fast mode, every row read back right.
    for (const QStringList &mode : {QStringList{}, QStringList{"--fast"}}) {
        auto twice = startSim(mem, {QStringLiteral("--fault"), QStringLiteral("80=dupack")});
        ToolFolder house(fileBytes(sampleImage()));
        const ToolRun run2 = tool("--write", *twice, house, "80", kUnitMs, mode + reportArgs(house));
        EXPECT_EQ(run2.exitCode, 0) << mode.join(' ').toStdString() << run2.err.toStdString();
        ASSERT_TRUE(twice->stop());
        EXPECT_TRUE(reportOf(house)["controllers"][0]["given_up"].toArray().isEmpty());
        EXPECT_EQ(loadOrFail(twice->savePath)[8], loadOrFail(house.path())[8]) << mode.join(' ').toStdString();
    }
}

// The record of the line, --trace, against the simulator's own record of
// the bytes it read and wrote (--bytes-log).
namespace {

struct Traced {
    std::vector<std::string> verdicts;   // the text of each "=" line
    int requests = 0;
};

// Checks the trace against the simulator's bytes: every line well formed,
// times never going back, every byte either side sent or received appearing
// once and in order, and a verdict after every request before the next.
Traced checkTrace(const QString &tracePath, const QString &simBytesPath)
{
    static const QRegularExpression lineForm(QStringLiteral("^(\\d+)\\.(\\d{6}) ([<>=#]) (.+)$"));
    static const QRegularExpression hexForm(QStringLiteral("^[0-9A-F]{2}( [0-9A-F]{2})*$"));
    Traced t;
    QByteArray sent, received;
    qint64 last = -1;
    bool owesVerdict = false;
    const QList<QByteArray> lines = fileBytes(tracePath).split('\n');
    EXPECT_TRUE(lines.size() > 1 && lines.back().isEmpty()) << "the last line has no line end";
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines[i]);
        const QRegularExpressionMatch m = lineForm.match(line);
        EXPECT_TRUE(m.hasMatch()) << "line " << i + 1 << ": " << line.toStdString();
        if (!m.hasMatch())
            continue;
        const qint64 us = m.captured(1).toLongLong() * 1000000 + m.captured(2).toLongLong();
        EXPECT_GE(us, last) << "line " << i + 1 << " goes back in time";
        last = us;
        const QChar marker = m.captured(3)[0];
        const QString rest = m.captured(4);
        if (marker == '#') {
            EXPECT_EQ(i, 0) << "run line not first";
        } else if (marker == '=') {
            t.verdicts.push_back(rest.toStdString());
            owesVerdict = false;
        } else {
            EXPECT_TRUE(hexForm.match(rest).hasMatch()) << line.toStdString();
            (marker == '>' ? sent : received) += QByteArray::fromHex(rest.toLatin1());
            if (marker == '>') {
                EXPECT_FALSE(owesVerdict) << "no verdict before line " << i + 1;
                owesVerdict = true;
                ++t.requests;
            }
        }
    }
    EXPECT_FALSE(owesVerdict) << "the last exchange has no verdict";
    // The simulator's side: "<" what it read (the tool sent), ">" what it wrote.
    QByteArray simIn, simOut;
    for (const QByteArray &l : fileBytes(simBytesPath).split('\n'))
        if (const QList<QByteArray> f = l.split(' '); f.size() > 2)
            (f[1] == "<" ? simIn : simOut) += QByteArray::fromHex(l.mid(l.indexOf(f[1]) + 2));
    EXPECT_EQ(sent.toHex(' ').toStdString(), simIn.toHex(' ').toStdString());
    EXPECT_EQ(received.toHex(' ').toStdString(), simOut.toHex(' ').toStdString());
    EXPECT_FALSE(simOut.isEmpty());
    return t;
}

}  // namespace

TEST_F(HeadlessRuns, TraceHoldsEveryByteOfTheLineOnceAndWhatEachExchangeMadeOfIt)
{
    const RegisterImage mem = simMemory();
    ToolFolder folder(fileBytes(sampleImage()));
    const QString trace = folder.dir.filePath(QStringLiteral("trace.txt"));
    const QString simBytes = folder.dir.filePath(QStringLiteral("sim-bytes.txt"));
    // Row 6's answer comes 220 ms late: after its wait of 80 ms, inside the
    // quiet time of 400 ms the line must keep before the next try.
    auto sim = startSim(mem, {QStringLiteral("--bytes-log"), simBytes, QStringLiteral("--fault"),
                              QStringLiteral("80:2:1=badsum,80:4:1=silent,80:6:1=late/220")});
    const ToolRun run = tool("--read", *sim, folder, "80", kUnitMs,
                             {QStringLiteral("--trace"), trace, QStringLiteral("--settle-ms"), QStringLiteral("400")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    ASSERT_TRUE(sim->stop());
    EXPECT_EQ(loadOrFail(folder.path())[8], mem[8]);

    const Traced t = checkTrace(trace, simBytes);
    EXPECT_TRUE(fileBytes(trace).startsWith(("0.000000 # запуск: чтение, порт " + sim->device).toUtf8()));
    EXPECT_EQ(size_t(t.requests), t.verdicts.size());
    auto after = [&](const std::string &verdict) {
        const auto at = std::find(t.verdicts.begin(), t.verdicts.end(), verdict);
        EXPECT_NE(at, t.verdicts.end()) << verdict;
        return at == t.verdicts.end() || at + 1 == t.verdicts.end() ? std::string() : *(at + 1);
    };
    EXPECT_EQ(t.verdicts.front(), "чтение $80 регистр $0: ответ верный");
    EXPECT_EQ(after("чтение $80 регистр $2: контрольная сумма неверна"), "чтение $80 регистр $2: ответ верный");
    // From the first fault on, every row is read twice.
    EXPECT_EQ(after("чтение $80 регистр $3: ответ верный"), "повторное чтение $80 регистр $3: ответ верный");
    after("чтение $80 регистр $4: нет ответа");
    const qsizetype lateBytes = frames::readReply(0x80, 6, rowBytes(mem[8][6])).size();
    EXPECT_EQ(after("чтение $80 регистр $6: нет ответа"),
              "чтение $80 регистр $6: ответ верный, чужие байты отброшены: " + std::to_string(lateBytes));
}

// Signals go through a pidfd, which never reaches another process that got
// the same id later.
TEST_F(HeadlessRuns, SignalStopsTheRunWritesTheReportAndLeavesZukTxtAsItWas)
{
    auto sim = startSim(simMemory());
    const QByteArray sample = fileBytes(sampleImage());
    // The last case sends SIGINT again and again until zuk_2 has ended: many
    // land after the run, while the report is written.
    const struct { int sig, status; bool again; } cases[] = {
        {SIGINT, 130, false}, {SIGTERM, 143, false}, {SIGHUP, 129, false}, {SIGINT, 130, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.sig) + (c.again ? " again" : ""));
        ToolFolder folder(sample);
        // What a killed save of the report left goes at start; a user's own file stays.
        const QString leftover = folder.dir.filePath("report.json.tmp-Ab3xY9");
        writeFile(folder.dir.filePath("report.json.tmp-mine"), "mine");
        QFile old(leftover);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        ASSERT_TRUE(old.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
        old.close();
        QProcess p;
        p.start(bin("zuk_2"), toolArgs("--read", *sim, folder, "all", 20) + reportArgs(folder));
        ASSERT_TRUE(p.waitForStarted(5000));
        const int pidfd = int(::syscall(SYS_pidfd_open, pid_t(p.processId()), 0));
        ASSERT_GE(pidfd, 0);
        auto send = [&] { return ::syscall(SYS_pidfd_send_signal, pidfd, c.sig, nullptr, 0) == 0; };
        while (p.state() == QProcess::Running && p.readAllStandardOutput().count('\n') < 1)
            p.waitForReadyRead(2000);
        EXPECT_TRUE(send());
        for (int n = 0; c.again && n < 50000 && !p.waitForFinished(0) && send(); ++n)
            ::usleep(100);
        const bool finished = p.state() == QProcess::NotRunning || p.waitForFinished(10000);
        ::close(pidfd);
        ASSERT_TRUE(finished);
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), c.status);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_TRUE(err.contains(QStringLiteral("остановлено: сделано"))) << err.toStdString();
        EXPECT_TRUE(err.contains(QStringLiteral("из 744 регистров"))) << err.toStdString();
        EXPECT_TRUE(sameBytes(fileBytes(folder.path()), sample));
        const QJsonObject report = reportOf(folder);
        EXPECT_EQ(report["outcome"].toString(), "stopped");
        EXPECT_GE(report["controllers"][0]["rows_done"].toInt(), 1);
        EXPECT_EQ(QDir(folder.dir.path()).entryList({"report.json*"}, QDir::Files),
                  (QStringList{"report.json", "report.json.tmp-mine"}));
    }
}

// The status lines of the rows done, without the tries a loaded machine
// may add ("error  N").
Lines rowLines(const QStringList &lines)
{
    Lines out;
    for (const std::string &l : toLines(lines))
        if (l.rfind("error  ", 0) != 0)
            out.push_back(l);
    return out;
}

TEST_F(HeadlessRuns, FastRunsOverAPacedLineGiveWhatTheFixedWaitGives)
{
    // A line at 19200 baud: each exchange takes its real ~10 ms on the wire.
    const QStringList paced{QStringLiteral("--line-speed"), QStringLiteral("19200"), QStringLiteral("--answer-delay-ms"),
                            QStringLiteral("2")};
    const QStringList fast{QStringLiteral("--fast")};
    const RegisterImage mem = simMemory();
    auto source = startSim(mem, paced);
    ToolFolder fixedRead(fileBytes(sampleImage())), fastRead(fileBytes(sampleImage()));
    const ToolRun a = tool("--read", *source, fixedRead, "00");
    const ToolRun b = tool("--read", *source, fastRead, "00", 400, fast);   // the unit no longer counts
    EXPECT_EQ(a.exitCode, 0) << a.err.toStdString();
    EXPECT_EQ(b.exitCode, 0) << b.err.toStdString();
    EXPECT_EQ(rowLines(b.lines), rowLines(a.lines));
    EXPECT_TRUE(sameBytes(fileBytes(fastRead.path()), fileBytes(fixedRead.path())));
    EXPECT_EQ(loadOrFail(fastRead.path())[0], mem[0]);

    // Writing the sample's $00, with escaped bytes, into two such installations.
    RegisterImage written = loadOrFail(sampleImage());
    written[0][7].fill(0xF0);
    written[0][59][0] = 0xF0;
    auto fixedSim = startSim(mem, paced), fastSim = startSim(mem, paced);
    ToolFolder image(imageFileBytes(written));
    const ToolRun c = tool("--write", *fixedSim, image, "00");
    const ToolRun d = tool("--write", *fastSim, image, "00", 400, fast);
    EXPECT_EQ(c.exitCode, 0) << c.err.toStdString();
    EXPECT_EQ(d.exitCode, 0) << d.err.toStdString();
    EXPECT_EQ(rowLines(d.lines), rowLines(c.lines));
    ASSERT_TRUE(fixedSim->stop());
    ASSERT_TRUE(fastSim->stop());
    EXPECT_TRUE(sameBytes(fileBytes(fastSim->savePath), fileBytes(fixedSim->savePath)));
    EXPECT_EQ(loadOrFail(fastSim->savePath)[0], written[0]);
    // The same writes, one per row; fast mode reads each back at once. (A
    // loaded machine may cost a try, and a try read-backs: only the writes
    // of each and the read-backs of fast mode are compared.)
    EXPECT_EQ(writesOf(fastSim->log()), writesOf(fixedSim->log()));
    ASSERT_EQ(writesOf(fixedSim->log()).size(), 60u);
    const Lines fastLog = fastSim->log();
    for (int r = 0; r < 60; ++r) {
        const std::string write = writesOf(fixedSim->log())[r];
        const auto at = std::find(fastLog.begin(), fastLog.end(), write);
        ASSERT_NE(at, fastLog.end()) << r;
        ASSERT_NE(at + 1, fastLog.end()) << r;
        EXPECT_EQ(*(at + 1), sim::hexLine(frames::joined(frames::readRequestPieces(0x00, r))).toStdString()) << r;
    }
}

// Row 5 of $00 holds a reply header of its own. Its first reply comes late
// and in pieces over a 19200 baud line: the rest of it, then the retry's
// own reply, make a frame with a right checksum and the bytes shifted, and
// every later reply on the line is shifted alike. However short the quiet
// time, the confirming read refuses it.
TEST_F(HeadlessRuns, AShiftedStreamOfRepliesNeverGivesAWrongRow)
{
    RegisterImage mem = simMemory();
    mem[0][5] = {0x70, 0x00, 0x00, 0x01, 0xF8, 0x00, 0x07, 0x05};
    for (const char *settle : {"0", "5"}) {
        auto sim = startSim(mem, {QStringLiteral("--line-speed"), QStringLiteral("19200"), QStringLiteral("--fault"),
                                  QStringLiteral("00:5:1=pieces/4,00:5:1=late/72")});
        ToolFolder folder(fileBytes(sampleImage()));
        const ToolRun run = tool("--read", *sim, folder, "00", 400,
                                 {QStringLiteral("--fast"), QStringLiteral("--settle-ms"), QLatin1String(settle)});
        EXPECT_EQ(run.exitCode, 0) << settle << run.err.toStdString();
        EXPECT_EQ(loadOrFail(folder.path())[0], mem[0]) << "--settle-ms " << settle;
    }
    // Every answer to a row that holds its own reply header comes late, in
    // pieces further apart than the settle time. A retry that goes out in a
    // gap collects the tail of the answer before and the head of its own,
    // which sums right; a confirming read at the same phase would collect
    // the same. At the fixed wait and in fast mode, the row is read right
    // or given up, never stored shifted.
    RegisterImage hostile = simMemory();
    hostile[8][3] = {0xF8, 0x80, 0x07, 0x03, 0x5D, 0x95, 0x0E, 0x77};
    const struct {
        int late, unit;
        QStringList more;
    } attacks[] = {{55, 400, {"--fast", "--reply-timeout-ms", "60"}}, {95, 100, {}}};
    for (const auto &a : attacks) {
        auto sim = startSim(hostile, {"--fault", QStringLiteral("80:3=late/%1,80:3=pieces/4").arg(a.late)});
        ToolFolder folder(fileBytes(sampleImage()));
        const ToolRun run = tool("--read", *sim, folder, "80", a.unit, a.more + QStringList{"--settle-ms", "10"} + reportArgs(folder));
        ASSERT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.exitCode << run.err.toStdString();
        const QJsonArray givenUp = reportOf(folder)["controllers"][0]["given_up"].toArray();
        const RegisterImage read = loadOrFail(folder.path());
        for (int r = 0; r < 9; ++r)
            if (!givenUp.contains(r)) {
                EXPECT_EQ(read[8][r], hostile[8][r]) << "late " << a.late << ", row " << r << " reported read";
            }
    }
}

TEST_F(HeadlessRuns, DamagedImageIsKeptBesideAndAClosedStdoutStillEndsTheRunAndSaves)
{
    const RegisterImage mem = simMemory();
    auto sim = startSim(mem);
    QByteArray damaged = fileBytes(sampleImage());
    const qsizetype line3 = damaged.indexOf('\n', damaged.indexOf('\n') + 1) + 1;
    damaged[line3] = 'x';   // one changed character on line 3: the load fails
    ToolFolder folder(damaged);

    const ToolRun run = tool("--read", *sim, folder, "80");
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList copies = QDir(folder.dir.path()).entryList({"zuk.txt.bak-*"}, QDir::Files);
    ASSERT_EQ(copies.size(), 1);
    EXPECT_EQ(fileBytes(folder.dir.filePath(copies[0])), damaged);
    EXPECT_TRUE(run.err.contains("сохранён как " + folder.dir.filePath(copies[0]))) << run.err.toStdString();
    RegisterImage saved = loadOrFail(folder.path());
    EXPECT_EQ(saved[slotOfAddress(0x80)], mem[slotOfAddress(0x80)]);

    // "| head -1": the reader goes away after the first status line.
    ToolFolder piped(fileBytes(sampleImage()));
    QProcess shell;
    shell.start("/bin/bash", {"-c", QString("'%1' --read --port '%2' --dir '%3' --tick 81 --wait-unit-ms %4 | head -1; "
                                            "echo \"exit ${PIPESTATUS[0]}\"")
                                        .arg(bin("zuk_2"), sim->device, piped.dir.path())
                                        .arg(kUnitMs)});
    ASSERT_TRUE(shell.waitForFinished(60000));
    const QStringList out = QString::fromUtf8(shell.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(toLines(out), (Lines{readOk(0x81, 0), "exit 0"}));
    saved = loadOrFail(piped.path());
    EXPECT_EQ(saved[slotOfAddress(0x81)], mem[slotOfAddress(0x81)]);
    EXPECT_EQ(QDir(piped.dir.path()).entryList(QDir::Files), QStringList{"zuk.txt"});
}

// A half-duplex adapter's echo, the driver's RS-485 mode, an adapter pulled
// out during a run, a port another run holds, the list of ports.
TEST_F(HeadlessRuns, EchoingAdapterGivesWhatAPlainLineGives)
{
    const RegisterImage mem = simMemory();
    auto sim = startSim(mem, {QStringLiteral("--echo"), QStringLiteral("--fault"), QStringLiteral("80:3:1=badecho")});
    const QStringList echo{QStringLiteral("--echo")};
    for (const QStringList &mode : {echo, echo + QStringList{QStringLiteral("--fast")}}) {
        ToolFolder folder(fileBytes(sampleImage()));
        const ToolRun read = tool("--read", *sim, folder, "80,81", kUnitMs, mode);
        EXPECT_EQ(read.exitCode, 0) << read.err.toStdString();
        const RegisterImage saved = loadOrFail(folder.path());
        EXPECT_EQ(saved[8], mem[8]);
        EXPECT_EQ(saved[9], mem[9]);
        // The spoilt echo costs row 3 of $80 one try, on the first run only.
        EXPECT_EQ(read.lines.filter(QStringLiteral("error  ")).size(), mode.size() == 1 ? 1 : 0);
    }
    ToolFolder image(fileBytes(sampleImage()));
    const ToolRun write = tool("--write", *sim, image, "80,81", kUnitMs, echo);
    EXPECT_EQ(write.exitCode, 0) << write.err.toStdString();
    ASSERT_TRUE(sim->stop());
    const RegisterImage held = loadOrFail(sim->savePath), sample = loadOrFail(sampleImage());
    EXPECT_EQ(held[8], sample[8]);
    EXPECT_EQ(held[9], sample[9]);
    // Without --echo each reply starts with the echo and fails.
    auto echoing = startSim(mem, {QStringLiteral("--echo")});
    ToolFolder plain(fileBytes(sampleImage()));
    EXPECT_EQ(tool("--read", *echoing, plain, "80", 20).exitCode, 1);
}

TEST_F(HeadlessRuns, LineTroublesAreToldAndNeverHalfDone)
{
    const QByteArray sample = fileBytes(sampleImage());
    const RegisterImage mem = simMemory();
    {   // The driver of a pseudo-terminal has no RS-485 mode: reading its settings, the first step, fails.
        auto sim = startSim(mem);
        ToolFolder folder(sample);
        const ToolRun r = tool("--read", *sim, folder, "80", kUnitMs, {"--rs485"});
        EXPECT_EQ(r.exitCode, 2);
        for (const QString &part : {sim->device, QStringLiteral("TIOCGRS485"), QStringLiteral("ioctl")})
            EXPECT_TRUE(r.err.contains(part)) << part.toStdString() << " not in " << r.err.toStdString();
        EXPECT_TRUE(sameBytes(fileBytes(folder.path()), sample));
    }
    {   // A second run on a port that one holds is refused; the first is not disturbed.
        auto sim = startSim(mem);
        ToolFolder first(sample), second(sample);
        QProcess p;
        p.start(bin("zuk_2"), toolArgs("--read", *sim, first, "80,81", kUnitMs));
        ASSERT_TRUE(p.waitForStarted(5000));
        ASSERT_TRUE(p.waitForReadyRead(10000));
        const ToolRun r = tool("--read", *sim, second, "80");
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.err.contains(sim->device)) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("занят"))) << r.err.toStdString();
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0);
        EXPECT_EQ(loadOrFail(first.path())[9], mem[9]);
    }
    // The adapter vanishes after 10 requests: the run ends at once, nothing saved.
    for (const char *mode : {"--read", "--write"}) {
        auto sim = startSim(mem, {QStringLiteral("--vanish-after"), QStringLiteral("10")});
        ToolFolder folder(sample);
        QElapsedTimer t;
        t.start();
        const ToolRun r = tool(mode, *sim, folder, "80,81", kUnitMs, reportArgs(folder));
        EXPECT_EQ(r.exitCode, 4) << r.err.toStdString();
        EXPECT_LT(t.elapsed(), 20000);   // not ten tries of each remaining row (2 x 10 x 9 units)
        EXPECT_TRUE(r.err.contains(sim->device)) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("потеряна"))) << r.err.toStdString();
        EXPECT_TRUE(sameBytes(fileBytes(folder.path()), sample));
        const QJsonObject report = reportOf(folder);
        EXPECT_EQ(report["outcome"].toString(), "port_lost");
        if (mode[2] == 'w') {
            const QJsonArray written = report["controllers"][0]["written"].toArray();
            EXPECT_EQ(written.size(), 9);
            EXPECT_TRUE(r.err.contains(QStringLiteral("до потери записаны регистры $80: 0-8"))) << r.err.toStdString();
        }
    }
    const ToolRun ports = runTool({"--list-ports"});
    EXPECT_EQ(ports.exitCode, 0);
    for (const QString &line : ports.lines)
        EXPECT_EQ(line.count('\t'), 4) << line.toStdString();
}

TEST_F(HeadlessRuns, WhatCannotWorkIsRefusedBeforeTheRun)
{
    auto sim = startSim(simMemory());
    const QByteArray sample = fileBytes(sampleImage());
    // --report never names a file of the installation, however it is spelt;
    // the window (no mode) refuses it as well.
    ToolFolder house(sample);
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QDir(house.dir.path()).mkdir("sub") && QDir(house.dir.path()).mkdir("history"));
    ASSERT_TRUE(QFile::link(house.path(), elsewhere.filePath("alias.txt")));
    const struct { const char *mode, *report; } named[] = {
        {"--read", "./zuk.txt"}, {"--read", "sub/../zuk.txt"}, {"--write", "zuk.txt.bak-20260101-120000"},
        {"--compare", "szenar.txt"}, {nullptr, "zuk.txt"}, {"--read", "history/zuk-20261209-135001.txt"},
    };
    // --trace is refused alike.
    auto refusedFile = [&](const char *option, const char *mode, const QString &file) {
        QStringList args{"--port", sim->device, "--dir", house.dir.path(), QString::fromLatin1(option), file};
        if (mode)
            args << mode << "--tick" << "80" << "--wait-unit-ms" << "20";
        const ToolRun r = runTool(args, 20000, house.dir.path());
        EXPECT_EQ(r.exitCode, 2) << option << " " << file.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("укажите другой файл"))) << r.err.toStdString();
        EXPECT_TRUE(sameBytes(fileBytes(house.path()), sample)) << file.toStdString();
    };
    for (const char *option : {"--report", "--trace"}) {
        for (const auto &n : named)
            refusedFile(option, n.mode, QString::fromLatin1(n.report));
        refusedFile(option, "--read", elsewhere.filePath("alias.txt"));
    }
    // A zuk.txt made read-only refuses the reading run before it sends anything; writing only reads it.
    ASSERT_EQ(::chmod(QFile::encodeName(house.path()).constData(), 0444), 0);
    const ToolRun readOnly = tool("--read", *sim, house, "80", 20);
    EXPECT_EQ(readOnly.exitCode, 2);
    EXPECT_TRUE(readOnly.err.contains(house.path())) << readOnly.err.toStdString();
    EXPECT_TRUE(readOnly.err.contains(QStringLiteral("только для чтения"))) << readOnly.err.toStdString();
    EXPECT_TRUE(sameBytes(fileBytes(house.path()), sample));
    EXPECT_EQ(tool("--write", *sim, house, "80", 20).exitCode, 0);

    QTemporaryDir empty;
    const ToolRun noDir = runTool({"--read", "--port", "/dev/null", "--dir", empty.filePath("gone")});
    EXPECT_EQ(noDir.exitCode, 2);
    EXPECT_TRUE(noDir.err.contains(QStringLiteral("не найдена"))) << noDir.err.toStdString();
    const ToolRun noReport = runTool({"--read", "--port", "/dev/null", "--dir", empty.path(), "--report",
                                      empty.filePath("gone/r.json")});
    EXPECT_EQ(noReport.exitCode, 2);
    EXPECT_TRUE(noReport.err.contains(QStringLiteral("отчёт"))) << noReport.err.toStdString();
    const ToolRun noTrace = runTool({"--scan", "--port", sim->device, "--trace", empty.filePath("gone/t.txt")});
    EXPECT_EQ(noTrace.exitCode, 2);
    EXPECT_TRUE(noTrace.err.contains(QStringLiteral("--trace: файл записи обмена"))) << noTrace.err.toStdString();
    // The report would replace the trace in one file.
    const ToolRun oneFile = runTool({"--scan", "--port", sim->device, "--trace", empty.filePath("out.txt"), "--report",
                                     empty.path() + "/./out.txt"});
    EXPECT_EQ(oneFile.exitCode, 2);
    EXPECT_TRUE(oneFile.err.contains(QStringLiteral("один и тот же файл"))) << oneFile.err.toStdString();
    // ... also when the trace is a link to the report that does not exist yet.
    ASSERT_TRUE(QFile::link(empty.filePath("report.json"), empty.filePath("trace.txt")));
    const ToolRun viaLink = runTool({"--scan", "--port", sim->device, "--trace", empty.filePath("trace.txt"), "--report",
                                     empty.filePath("report.json")});
    EXPECT_EQ(viaLink.exitCode, 2);
    EXPECT_TRUE(viaLink.err.contains(QStringLiteral("один и тот же файл"))) << viaLink.err.toStdString();
    // A FIFO nobody reads never holds the run: refused at once (a SIGINT
    // would end it within a second anyway).
    const QString fifo = empty.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QProcess blocked;
    blocked.start(bin("zuk_2"), {"--scan", "--tick", "80", "--port", sim->device, "--trace", fifo});
    ASSERT_TRUE(blocked.waitForStarted(5000));
    if (!blocked.waitForFinished(3000)) {
        ::kill(pid_t(blocked.processId()), SIGINT);
        EXPECT_TRUE(blocked.waitForFinished(1000)) << "SIGINT did not end a run held by its FIFO";
        blocked.kill();
        blocked.waitForFinished(2000);
    }
    EXPECT_EQ(blocked.exitCode(), 2);
    EXPECT_TRUE(blocked.readAllStandardError().contains("FIFO"));
    ASSERT_TRUE(sim->stop());
    const Lines log = writesOf(sim->log());   // the writing run's nine rows, nothing else
    EXPECT_TRUE(onlyWritesAndReads(sim->log()));
    ASSERT_EQ(log.size(), 9u);
    for (const std::string &request : log)
        EXPECT_EQ(request.substr(0, 9), "F0 80 08 ") << request;
    // A trace that cannot be written whole is said, and ends with 3.
    auto other = startSim(simMemory());
    const ToolRun full = runTool({"--scan", "--tick", "80", "--port", other->device, "--trace", "/dev/full"});
    EXPECT_EQ(full.exitCode, 3);
    EXPECT_TRUE(full.err.contains(QStringLiteral("записан не целиком"))) << full.err.toStdString();
}

namespace {

// Write frames in the simulator's log: F0, address, 08, ...
int writeFrames(const Sim &sim)
{
    int n = 0;
    for (const std::string &l : sim.log())
        n += l.size() > 8 && l.compare(6, 2, "08") == 0;
    return n;
}

QStringList historyFiles(const ToolFolder &folder)
{
    return QDir(folder.dir.filePath(QStringLiteral("history"))).entryList(QDir::Files, QDir::Name);
}

}  // namespace

TEST_F(HeadlessRuns, ChangedOnlyWritesTheRowsThatDifferAndKeepsTheHouseFirst)
{
    const RegisterImage mem = simMemory();
    RegisterImage image = mem;
    image[0][3][1] ^= 0x55;
    image[0][40][7] ^= 0x01;
    image[8][2][0] ^= 0xFF;
    // The second time row 3's first write (its second request, after the
    // read) is acknowledged but not stored: it is written again.
    for (const char *fault : {"", "00:3:2=nostore"}) {
        SCOPED_TRACE(fault);
        auto sim = startSim(mem, *fault ? QStringList{QStringLiteral("--fault"), QString::fromLatin1(fault)}
                                        : QStringList{});
        ToolFolder folder(imageFileBytes(image));
        const ToolRun run = tool("--write", *sim, folder, "00,80", kUnitMs,
                                 QStringList{QStringLiteral("--changed-only")} + reportArgs(folder));
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        ASSERT_FALSE(run.lines.isEmpty());
        EXPECT_EQ(run.lines.back(), QStringLiteral("записано 3, без изменений 66"));
        EXPECT_TRUE(run.lines.contains(QStringLiteral("$0: записано 2, без изменений 58")));
        ASSERT_TRUE(sim->stop());
        EXPECT_EQ(writeFrames(*sim), *fault ? 4 : 3);
        const RegisterImage held = loadOrFail(sim->savePath);
        EXPECT_EQ(held[0], image[0]);
        EXPECT_EQ(held[8], image[8]);

        const QStringList kept = historyFiles(folder);
        ASSERT_EQ(kept.size(), 1);
        RegisterImage before{};
        before[0] = mem[0];
        before[8] = mem[8];
        EXPECT_EQ(loadOrFail(folder.dir.filePath(QStringLiteral("history/")) + kept[0]), before);
        const QJsonObject report = reportOf(folder);
        EXPECT_TRUE(report["changed_only"].toBool());
        EXPECT_EQ(report["controllers"][0]["written"].toArray(), (QJsonArray{3, 40}));
        EXPECT_EQ(report["controllers"][0]["unchanged"].toInt(), 58);
        EXPECT_EQ(report["controllers"][1]["unchanged"].toInt(), 8);
        EXPECT_EQ(report["controllers"][0]["verified"].toInt(), 2);
    }
}

TEST_F(HeadlessRuns, BackupFirstKeepsTheHouseOrWritesNothing)
{
    const RegisterImage mem = simMemory();
    const QByteArray sample = fileBytes(sampleImage());
    {
        auto sim = startSim(mem);
        ToolFolder folder(sample);
        const ToolRun run = tool("--write", *sim, folder, "80", kUnitMs, {QStringLiteral("--backup-first")});
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        ASSERT_TRUE(sim->stop());
        EXPECT_EQ(writeFrames(*sim), 9);
        const QStringList kept = historyFiles(folder);
        ASSERT_EQ(kept.size(), 1);
        EXPECT_EQ(loadOrFail(folder.dir.filePath(QStringLiteral("history/")) + kept[0])[8], mem[8]);
    }
    // A row that cannot be read leaves the copy incomplete: nothing is written.
    auto sim = startSim(mem, {QStringLiteral("--fault"), QStringLiteral("80:4=silent")});
    ToolFolder folder(sample);
    const ToolRun run = tool("--write", *sim, folder, "80", 20, {QStringLiteral("--backup-first")});
    EXPECT_EQ(run.exitCode, 2) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("копия системы неполная ($80: регистр 4 не прочитан)")))
        << run.err.toStdString();
    ASSERT_TRUE(sim->stop());
    EXPECT_EQ(writeFrames(*sim), 0);
    EXPECT_TRUE(historyFiles(folder).isEmpty());
}

TEST_F(HeadlessRuns, HistoryKeepsEveryReplacedZukTxtAndPrunesTheOldest)
{
    // A clock indicator whose memory changes between reads.
    std::vector<RegisterImage> houses(3, simMemory());
    houses[1][8][5][2] = 7;
    houses[2][8][0][3] = 9;
    ToolFolder folder(fileBytes(sampleImage()));
    std::vector<QByteArray> replaced;
    auto read = [&](const RegisterImage &house, QStringList more) {
        auto sim = startSim(house);
        const QByteArray before = fileBytes(folder.path());
        const ToolRun run = tool("--read", *sim, folder, "80", kUnitMs, QStringList{QStringLiteral("--history")} + more);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        if (fileBytes(folder.path()) != before)
            replaced.push_back(before);
    };
    for (const RegisterImage &house : houses)
        read(house, {});
    read(houses[2], {});   // the same bytes again: nothing kept
    ASSERT_EQ(replaced.size(), 3u);
    const ToolRun list = runTool({QStringLiteral("--history-list"), QStringLiteral("--dir"), folder.dir.path()});
    EXPECT_EQ(list.exitCode, 0);
    ASSERT_EQ(list.lines.size(), 3);
    // Newest first; each file holds the zuk.txt its read replaced.
    const QString history = folder.dir.filePath(QStringLiteral("history/"));
    for (int i = 0; i < 3; ++i) {
        const QStringList cols = list.lines[i].split(QLatin1Char('\t'));
        ASSERT_EQ(cols.size(), 3) << list.lines[i].toStdString();
        EXPECT_TRUE(sameBytes(fileBytes(history + cols[0]), replaced[size_t(2 - i)])) << i;
    }
    EXPECT_EQ(list.lines[0].section(QLatin1Char('\t'), 1), QStringLiteral("80\t2"));   // houses[1] against houses[2]
    EXPECT_EQ(list.lines[2].section(QLatin1Char('\t'), 1, 1), QStringLiteral("00,01,02,03,04,05,06,07,80,81,90,98"));

    read(houses[0], {QStringLiteral("--keep"), QStringLiteral("2")});
    ASSERT_EQ(replaced.size(), 4u);
    const QStringList left = historyFiles(folder);
    ASSERT_EQ(left.size(), 2);
    QStringList keptBytes;
    for (const QString &name : left)
        keptBytes << QString::fromLatin1(fileBytes(history + name).toHex());
    EXPECT_TRUE(keptBytes.contains(QString::fromLatin1(replaced[3].toHex())));
    EXPECT_TRUE(keptBytes.contains(QString::fromLatin1(replaced[2].toHex())));
}

TEST_F(HeadlessRuns, ControllerTheFileMarksAbsentIsWrittenOnlyWhenForced)
{
    const RegisterImage mem = simMemory();
    auto sim = startSim(mem);
    ToolFolder folder(fileBytes(sampleImage()));   // $82 and $83 marked absent
    const ToolRun refused = tool("--write", *sim, folder, "00,82,83", kUnitMs);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("файл zuk.txt отмечает контроллеры $82, $83 отсутствующими")))
        << refused.err.toStdString();
    EXPECT_TRUE(refused.err.contains(QStringLiteral("--force-absent")));
    EXPECT_TRUE(sim->log().empty());
    const ToolRun forced = tool("--write", *sim, folder, "82", kUnitMs, {QStringLiteral("--force-absent")});
    EXPECT_EQ(forced.exitCode, 0) << forced.err.toStdString();
    ASSERT_TRUE(sim->stop());
    EXPECT_EQ(writeFrames(*sim), 9);
    EXPECT_EQ(loadOrFail(sim->savePath)[10], loadOrFail(sampleImage())[10]);
}
