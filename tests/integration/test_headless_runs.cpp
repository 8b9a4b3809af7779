// Reading and writing runs of zuk_2 without a window, against zuk_sim on a
// pseudo-terminal: status lines, exit codes, the saved zuk.txt, the bytes on
// the wire (the simulator's log) and the simulator's memory afterwards.

#include "harness.h"
#include "sim/sim_core.h"
#include "transfer/frames.h"

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

// A memory unlike the sample's, every marker set, some data bytes F0.
RegisterImage simMemory()
{
    RegisterImage m{};
    for (const ControllerSlot &s : controllerMap())
        for (int r = 0; r < s.rows; ++r)
            for (int b = 0; b < kRowBytes; ++b)
                m[s.slot][r][b] = static_cast<qint16>((r * 8 + b) % 11 == 3 ? 0xF0 : (s.slot * 37 + r * 11 + b * 5 + 1) % 256);
    return m;
}

// The folder of one zuk_2: a temporary directory holding zuk.txt.
struct ToolFolder {
    explicit ToolFolder(const QByteArray &image) { writeFile(path(), image); }
    QString path() const { return dir.filePath(QStringLiteral("zuk.txt")); }
    QTemporaryDir dir;
};

// A simulator whose memory is m (written to its folder first).
std::unique_ptr<Sim> startSim(const RegisterImage &m, QStringList extra = {})
{
    static QTemporaryDir images;
    static int n = 0;
    const QString file = images.filePath(QStringLiteral("sim-%1.txt").arg(++n));
    writeFile(file, imageFileBytes(m));
    auto sim = std::make_unique<Sim>(QStringList{QStringLiteral("--image"), file} + extra);
    EXPECT_TRUE(sim->ok());
    return sim;
}

ToolRun tool(const char *mode, const Sim &sim, const ToolFolder &folder, const char *tick, int unit = kUnitMs)
{
    return runTool({QString::fromLatin1(mode), QStringLiteral("--port"), sim.device, QStringLiteral("--dir"),
                    folder.dir.path(), QStringLiteral("--tick"), QString::fromLatin1(tick),
                    QStringLiteral("--wait-unit-ms"), QString::number(unit)});
}

Lines readRequests(std::initializer_list<int> addresses)
{
    Lines l;
    for (int a : addresses)
        for (int r = 0; r < controllerMap()[slotOfAddress(a)].rows; ++r)
            l.push_back(sim::hexLine(frames::joined(frames::readRequestPieces(a, r))).toStdString());
    return l;
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
    EXPECT_EQ(log, readRequests({0x01, 0x81, 0x9C}));
    ASSERT_EQ(log.size(), 93u);
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
    ASSERT_EQ(log.size(), 4u + 1 + 4 + 1 + 2 + 10 + 5 + 9);
    for (int r = 0; r < 9; ++r)
        EXPECT_EQ(log[log.size() - 9 + r], sim::hexLine(frames::joined(frames::writeRequestPieces(0x80, r, rowBytes(saved[8][r])))).toStdString());
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
    EXPECT_EQ(sim->log().size(), 90u);
    EXPECT_EQ(loadOrFail(sim->savePath)[8], loadOrFail(sampleImage())[8]);
}

TEST_F(HeadlessRuns, SilentControllerGivesUpEveryRow)
{
    auto sim = startSim(simMemory(), {QStringLiteral("--present"), QStringLiteral("00")});
    ToolFolder folder(fileBytes(sampleImage()));
    for (const char *mode : {"--read", "--write"}) {
        const ToolRun run = tool(mode, *sim, folder, "80", 30);   // nothing answers: any unit will do
        EXPECT_EQ(run.exitCode, 1) << mode << run.err.toStdString();
        Lines expected;
        for (int r = 0; r < 9; ++r) {
            addRetries(&expected, 1, 10);
            expected.push_back(mode[2] == 'r' ? readGivenUp(0x80, r) : writeGivenUp(0x80, r));
        }
        if (mode[2] == 'w')
            expected.push_back(kNeutral);
        add(&expected, {total(9), kNeutral});
        EXPECT_EQ(toLines(run.lines), expected) << mode;
    }
    ASSERT_TRUE(sim->stop());
    EXPECT_EQ(sim->log().size(), 180u);
    // the reading run kept the loaded rows
    EXPECT_EQ(loadOrFail(folder.path())[8], loadOrFail(sampleImage())[8]);
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
    const Lines log = sim->log();
    ASSERT_EQ(log.size(), 33u);
    EXPECT_EQ(log[4], "F0 80 08 04 F0 11 F0 11 F0 11 F0 11 F0 11 F0 11 F0 11 F0 11 94");
    EXPECT_EQ(log[9], "F0 9C 08 00 01 F0 11 00 00 00 00 00 FF A5");
    EXPECT_EQ(log[32], "F0 9C 08 17 F0 11 02 03 04 05 06 07 F0 11 D8");
}

TEST_F(HeadlessRuns, NoTickedControllerSendsNothing)
{
    auto sim = startSim(simMemory());
    const RegisterImage sample = loadOrFail(sampleImage());
    ToolFolder folder(fileBytes(sampleImage()));

    const ToolRun write = tool("--write", *sim, folder, "none");
    EXPECT_EQ(write.exitCode, 0) << write.err.toStdString();
    EXPECT_EQ(toLines(write.lines), Lines{});

    const ToolRun read = tool("--read", *sim, folder, "none");
    EXPECT_EQ(read.exitCode, 0) << read.err.toStdString();
    EXPECT_EQ(toLines(read.lines), (Lines{total(0), kNeutral}));
    RegisterImage want = sample;
    for (SlotImage &s : want)
        s[0][0] = 0;
    EXPECT_TRUE(sameBytes(fileBytes(folder.path()), imageFileBytes(want)));

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
    EXPECT_TRUE(refused.err.contains(QStringLiteral("81")) && refused.err.contains(QStringLiteral("300")))
        << refused.err.toStdString();

    // the same value in an unticked slot stops nothing
    const ToolRun other = tool("--write", *sim, folder, "80");
    EXPECT_EQ(other.exitCode, 0) << other.err.toStdString();

    ASSERT_TRUE(sim->stop());
    EXPECT_EQ(sim->log().size(), 9u);   // only the second run's rows
    RegisterImage want = mem;
    want[8] = image[8];
    EXPECT_TRUE(sameBytes(fileBytes(sim->savePath), imageFileBytes(want)));
}

TEST_F(HeadlessRuns, PiecesAreCollectedAndALateReplyOnlyCostsARetry)
{
    // A unit of 400 ms leaves room for 13 pieces of one byte 20 ms apart.
    // Row 3 answers late twice: the first late reply lands in its retry (and
    // is right for row 3); the second holds row 4's reply behind it, so row
    // 4's first exchange sees row 3's reply and must fail, not store it.
    const RegisterImage mem = simMemory();
    auto sim = startSim(mem, {QStringLiteral("--fault"),
                              QStringLiteral("80:0=pieces/3,80:1=pieces/2,80:5=pieces/1,80:3:2=late/600")});
    ToolFolder folder(fileBytes(sampleImage()));

    const ToolRun run = tool("--read", *sim, folder, "80", 400);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    Lines expected = {readOk(0x80, 0), readOk(0x80, 1), readOk(0x80, 2), retry(1), readOk(0x80, 3),
                      retry(2), readOk(0x80, 4)};
    for (int r = 5; r < 9; ++r)
        expected.push_back(readOk(0x80, r));
    add(&expected, {total(0), kNeutral});
    EXPECT_EQ(toLines(run.lines), expected);
    EXPECT_EQ(loadOrFail(folder.path())[8], mem[8]);
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
