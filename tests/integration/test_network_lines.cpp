// The bus through a network gateway: zuk_2 runs over Debian's ser2net (raw
// TCP and Telnet with the COM-PORT option) in front of zuk_sim's pseudo-
// terminal, and the RFC 2217 negotiation against a scripted server.

#include "harness.h"
#include "lines/rfc2217_line.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <future>
#include <thread>

using namespace zuk;
using namespace zuk::itest;

namespace {

constexpr int kUnitMs = 80;

// Rows of $80 that hold the bytes a Telnet line treats apart: IAC (FF),
// subnegotiation end and start bytes of the bus (F0, F8), CR NUL and CR LF.
RegisterImage awkwardMemory()
{
    RegisterImage m = simMemory();
    const int slot = slotOfAddress(0x80);
    m[slot][1] = {0xFF, 0xFF, 0xF0, 0xF8, 0x0D, 0x00, 0x0D, 0x0A};
    m[slot][2] = {0x0D, 0x0A, 0xFF, 0xF0, 0xFF, 0xF8, 0xFF, 0x00};
    m[slot][3] = {0xFF, 0xF0, 0xF0, 0xFF, 0x0D, 0x0D, 0x00, 0xFF};
    return m;
}

QStringList runArgs(const char *mode, const QString &port, const ToolFolder &folder, const char *tick,
                    const QStringList &more = {})
{
    return QStringList{QString::fromLatin1(mode), QStringLiteral("--port"), port, QStringLiteral("--dir"),
                       folder.dir.path(), QStringLiteral("--tick"), QString::fromLatin1(tick),
                       QStringLiteral("--wait-unit-ms"), QString::number(kUnitMs)}
           + more;
}

class NetworkLines : public testing::Test {
protected:
    void SetUp() override
    {
        if (Ser2net::binary().isEmpty())
            GTEST_SKIP() << "ser2net is not installed (scripts/setup installs it): the gateway tests need it";
    }
};

}  // namespace

TEST_F(NetworkLines, RunsThroughTheGatewayGiveWhatThePseudoTerminalGives)
{
    const RegisterImage mem = awkwardMemory();
    RegisterImage toWrite = loadOrFail(sampleImage());
    toWrite[slotOfAddress(0x80)][4] = {0xFF, 0xF0, 0x0D, 0x00, 0x0D, 0x0A, 0xF8, 0xFF};
    toWrite[slotOfAddress(0x80)][5] = {0xF8, 0xFF, 0xFF, 0x0D, 0xF0, 0xF0, 0x0A, 0x0D};
    const QByteArray image = imageFileBytes(toWrite);

    // Over the pseudo-terminal itself: what the gateway must give as well.
    auto direct = startSim(mem);
    ToolFolder directRead(fileBytes(sampleImage())), directWrite(image);
    ASSERT_EQ(runTool(runArgs("--read", direct->device, directRead, "80,81")).exitCode, 0);
    ASSERT_EQ(runTool(runArgs("--write", direct->device, directWrite, "80")).exitCode, 0);
    ASSERT_TRUE(direct->stop());
    EXPECT_EQ(loadOrFail(directRead.path())[slotOfAddress(0x80)], mem[slotOfAddress(0x80)]);

    for (const Ser2net::Mode mode : {Ser2net::Raw, Ser2net::Telnet}) {
        SCOPED_TRACE(mode == Ser2net::Raw ? "raw TCP" : "telnet(rfc2217)");
        auto sim = startSim(mem);
        Ser2net gateway(sim->device, mode);
        ASSERT_TRUE(gateway.ok()) << gateway.output().toStdString();

        ToolFolder read(fileBytes(sampleImage())), fast(fileBytes(sampleImage())), write(image);
        const ToolRun r = runTool(runArgs("--read", gateway.url(), read, "80,81"));
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(sameBytes(fileBytes(read.path()), fileBytes(directRead.path())));
        const ToolRun f = runTool(runArgs("--read", gateway.url(), fast, "80,81,00", {QStringLiteral("--fast")}));
        EXPECT_EQ(f.exitCode, 0) << f.err.toStdString();
        const RegisterImage fastSaved = loadOrFail(fast.path());
        for (int a : {0x80, 0x81, 0x00})
            EXPECT_EQ(fastSaved[slotOfAddress(a)], mem[slotOfAddress(a)]) << a;
        // Every row read back after writing it.
        const ToolRun w = runTool(runArgs("--write", gateway.url(), write, "80", {QStringLiteral("--verify")}));
        EXPECT_EQ(w.exitCode, 0) << w.err.toStdString();
        const ToolRun c = runTool(runArgs("--compare", gateway.url(), write, "80"));
        EXPECT_EQ(c.exitCode, 0) << c.err.toStdString();
        EXPECT_TRUE(c.lines.contains(QStringLiteral("различий: 0"))) << c.lines.join('\n').toStdString();

        ASSERT_TRUE(sim->stop());
        EXPECT_TRUE(sameBytes(fileBytes(sim->savePath), fileBytes(direct->savePath)));
    }
}

TEST_F(NetworkLines, ARepeatingLateAnswerThroughTheGatewayIsNeverStoredShifted)
{
    // As over the pseudo-terminal: every answer to a row holding its own
    // reply header late, in pieces further apart than the settle time.
    RegisterImage hostile = simMemory();
    hostile[slotOfAddress(0x80)][3] = {0xF8, 0x80, 0x07, 0x03, 0x5D, 0x95, 0x0E, 0x77};
    for (const Ser2net::Mode mode : {Ser2net::Raw, Ser2net::Telnet}) {
        SCOPED_TRACE(mode == Ser2net::Raw ? "raw TCP" : "telnet(rfc2217)");
        auto sim = startSim(hostile, {"--fault", "80:3=late/50,80:3=pieces/4"});
        Ser2net gateway(sim->device, mode);
        ASSERT_TRUE(gateway.ok()) << gateway.output().toStdString();
        ToolFolder folder(fileBytes(sampleImage()));
        const QString report = folder.dir.filePath("report.json");
        const ToolRun r = runTool(runArgs("--read", gateway.url(), folder, "80",
                                          {"--fast", "--reply-timeout-ms", "60", "--settle-ms", "10", "--report", report}));
        ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 1) << r.exitCode << r.err.toStdString();
        const QJsonArray givenUp =
            QJsonDocument::fromJson(fileBytes(report)).object()["controllers"][0]["given_up"].toArray();
        const RegisterImage read = loadOrFail(folder.path());
        for (int row = 0; row < 9; ++row)
            if (!givenUp.contains(row)) {
                EXPECT_EQ(read[slotOfAddress(0x80)][row], hostile[slotOfAddress(0x80)][row]) << "row " << row;
            }
    }
}

TEST_F(NetworkLines, ATelnetRunRightAfterARawOneOnTheSameGatewayWorks)
{
    // One device behind a raw and a Telnet port: the gateway frees the
    // device only once the last connection has gone.
    auto sim = startSim(simMemory());
    Ser2net gateway(sim->device, Ser2net::Both);
    ASSERT_TRUE(gateway.ok()) << gateway.output().toStdString();
    ToolFolder folder(fileBytes(sampleImage()));
    for (int round = 0; round < 2; ++round)
        for (const Ser2net::Mode mode : {Ser2net::Raw, Ser2net::Telnet}) {
            const ToolRun r = runTool(runArgs("--read", gateway.url(mode), folder, "80"));
            EXPECT_EQ(r.exitCode, 0) << round << " " << gateway.url(mode).toStdString() << ": " << r.err.toStdString();
        }
    // Held by another connection all the time: named as busy, not as a server without RFC 2217.
    // (Taken once the last run has let go: a busy gateway hangs up at once.)
    QTcpSocket holder;
    QElapsedTimer clock;
    clock.start();
    do {
        holder.abort();
        holder.connectToHost(QStringLiteral("127.0.0.1"), quint16(gateway.url(Ser2net::Raw).section(u':', -1).toUInt()));
        ASSERT_TRUE(holder.waitForConnected(5000));
    } while (holder.waitForDisconnected(300) && clock.elapsed() < 5000);
    ASSERT_EQ(holder.state(), QAbstractSocket::ConnectedState);
    const ToolRun busy = runTool(runArgs("--read", gateway.url(Ser2net::Telnet), folder, "80"));
    EXPECT_EQ(busy.exitCode, 2);
    EXPECT_TRUE(busy.err.contains(QStringLiteral("занят другим соединением"))) << busy.err.toStdString();
    EXPECT_FALSE(busy.err.contains(QStringLiteral("RFC 2217"))) << busy.err.toStdString();
    ASSERT_TRUE(sim->stop());
}

TEST_F(NetworkLines, AGatewayGoneDuringARunIsTheLineLost)
{
    const QByteArray sample = fileBytes(sampleImage());
    for (const Ser2net::Mode mode : {Ser2net::Raw, Ser2net::Telnet}) {
        SCOPED_TRACE(mode == Ser2net::Raw ? "raw TCP" : "telnet(rfc2217)");
        auto sim = startSim(simMemory());
        Ser2net gateway(sim->device, mode);
        ASSERT_TRUE(gateway.ok()) << gateway.output().toStdString();
        ToolFolder folder(sample);
        QProcess p;
        const QString trace = folder.dir.filePath(QStringLiteral("line.txt"));
        p.start(bin("zuk_2"), runArgs("--read", gateway.url(), folder, "00,01", {QStringLiteral("--trace"), trace}));
        ASSERT_TRUE(p.waitForStarted(5000));
        ASSERT_TRUE(p.waitForReadyRead(10000));   // the first row is done
        gateway.kill();
        ASSERT_TRUE(p.waitForFinished(20000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_EQ(p.exitCode(), 4) << err.toStdString();
        EXPECT_TRUE(err.contains(QStringLiteral("потеряна"))) << err.toStdString();
        EXPECT_TRUE(err.contains(gateway.url())) << err.toStdString();
        EXPECT_TRUE(sameBytes(fileBytes(folder.path()), sample));
        // The trace says so, and every request that went out has one verdict.
        const QStringList lines = QString::fromUtf8(fileBytes(trace)).split(u'\n', Qt::SkipEmptyParts);
        int sent = 0, verdicts = 0;
        for (const QString &l : lines) {
            const QString marker = l.section(u' ', 1, 1);
            sent += marker == u">";
            verdicts += marker == u"=";
        }
        EXPECT_EQ(sent, verdicts);
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_TRUE(lines.last().contains(QStringLiteral("# связь потеряна: "))) << lines.last().toStdString();
    }
}

// No gateway needed: what cannot be opened is refused before the run.
TEST(NetworkLineRefusals, NoServerAMalformedNameAndRs485AreRefused)
{
    const QByteArray sample = fileBytes(sampleImage());
    ToolFolder folder(sample);
    const QString nobody = QStringLiteral("tcp://127.0.0.1:%1").arg(freeLocalPort());
    const struct {
        QString port;
        QStringList more;
        QString said;
    } cases[] = {
        {nobody, {}, QStringLiteral("не установлено")},
        {QStringLiteral("rfc2217://127.0.0.1"), {}, QStringLiteral("УЗЕЛ:ПОРТ")},
        {nobody, {QStringLiteral("--rs485")}, QStringLiteral("шлюз")},
    };
    for (const auto &c : cases) {
        const ToolRun r = runTool(runArgs("--read", c.port, folder, "80", c.more), 20000);
        EXPECT_EQ(r.exitCode, 2) << c.port.toStdString() << ": " << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.port) && r.err.contains(c.said)) << r.err.toStdString();
    }
    EXPECT_TRUE(sameBytes(fileBytes(folder.path()), sample));
}

namespace {

// A Telnet server on its own thread that plays a script: it reads the
// client's bytes, takes the commands out, and answers as the script says.
class ScriptedServer {
public:
    struct Seen {
        QByteArray data;                    // the client's data, doubled FF undone
        QList<QByteArray> commands;         // IAC WILL/WONT/DO/DONT x, as 3 bytes
        QList<QByteArray> subnegotiations;  // between IAC SB and IAC SE
    };
    using Script = std::function<void(QTcpSocket &, ScriptedServer &)>;

    explicit ScriptedServer(Script script)
    {
        ensureApp();
        std::promise<quint16> listening;
        auto port = listening.get_future();
        thread_ = std::thread([this, script, &listening] {
            QTcpServer server;
            server.listen(QHostAddress::LocalHost);
            listening.set_value(server.serverPort());
            if (!server.waitForNewConnection(10000))
                return;
            std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
            script(*socket, *this);
            socket->waitForDisconnected(2000);
        });
        port_ = port.get();
    }
    ~ScriptedServer() { finish(); }
    // Waits for the script to end (and the client to hang up), so that
    // what it saw can be read.
    void finish()
    {
        if (thread_.joinable())
            thread_.join();
    }

    QString url() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(port_); }

    // Reads until pred holds of what was seen, or 5 s went by.
    bool readUntil(QTcpSocket &s, const std::function<bool(const Seen &)> &pred)
    {
        QElapsedTimer clock;
        clock.start();
        while (!pred(seen)) {
            if (clock.elapsed() > 5000 || !s.waitForReadyRead(int(5000 - clock.elapsed())))
                return false;
            parse(s.readAll());
        }
        return true;
    }
    static void send(QTcpSocket &s, const QByteArray &bytes)
    {
        s.write(bytes);
        s.waitForBytesWritten(2000);
    }
    static bool saw(const Seen &seen, const char *command) { return seen.commands.contains(QByteArray::fromHex(command)); }
    // Answers each line setting as a server does: its code plus 100, the value.
    static void acknowledgeSettings(QTcpSocket &s, const Seen &seen)
    {
        for (const QByteArray &sub : seen.subnegotiations) {
            QByteArray reply = sub;
            reply[1] = char(quint8(sub[1]) + 100);
            send(s, QByteArray::fromHex("FFFA") + reply + QByteArray::fromHex("FFF0"));
        }
    }

    // Answers the client's offer of the COM-PORT option with `answer` (the
    // option accepted, and what the server says of binary transmission),
    // then acknowledges the five line settings.
    bool acceptComPort(QTcpSocket &s, const char *answer)
    {
        if (!readUntil(s, [](const Seen &seen) { return saw(seen, "FFFB2C"); }))
            return false;
        send(s, QByteArray::fromHex(answer));
        if (!readUntil(s, [](const Seen &seen) { return seen.subnegotiations.size() >= 5; }))
            return false;
        acknowledgeSettings(s, seen);
        return true;
    }

    Seen seen;

private:
    void parse(const QByteArray &in)
    {
        for (char c : in) {
            pending_.append(c);
            const auto b = [&](qsizetype i) { return quint8(pending_[i]); };
            if (b(0) != 0xFF) {
                seen.data.append(pending_);
            } else if (pending_.size() < 2) {
                continue;
            } else if (b(1) == 0xFF) {
                seen.data.append(char(0xFF));
            } else if (b(1) >= 0xFB && b(1) <= 0xFE) {
                if (pending_.size() < 3)
                    continue;
                seen.commands << pending_;
            } else if (b(1) == 0xFA) {
                if (pending_.size() < 4 || b(pending_.size() - 2) != 0xFF || b(pending_.size() - 1) != 0xF0)
                    continue;
                seen.subnegotiations << pending_.mid(2, pending_.size() - 4);
            }
            pending_.clear();
        }
    }

    std::thread thread_;
    quint16 port_ = 0;
    QByteArray pending_;
};

QByteArray collect(Rfc2217Line &line, qsizetype want)
{
    QByteArray got;
    line.setReceiveHandler([&](const QByteArray &bytes) { got += bytes; });
    QElapsedTimer clock;
    clock.start();
    while (got.size() < want && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return got;
}

}  // namespace

TEST(Rfc2217, TheOptionAcceptedSetsTheLineAndFFIsDoubledBothWays)
{
    ScriptedServer server([](QTcpSocket &s, ScriptedServer &me) {
        // A server that offers to echo, as some do: the client must decline.
        ScriptedServer::send(s, QByteArray::fromHex("FFFB01"));
        if (!me.acceptComPort(s, "FFFD2C FFFD00 FFFB00"))
            return;
        if (!me.readUntil(s, [](const auto &seen) { return seen.data.size() >= 4; }))
            return;
        // Data with a command, a modem state notice and an IAC cut between two writes.
        ScriptedServer::send(s, QByteArray::fromHex("FFFF02 FFF1 FFFA2C6B00FFF0 F0F80D000D0A FF"));
        QThread::msleep(50);
        ScriptedServer::send(s, QByteArray::fromHex("FF03"));
    });
    Rfc2217Line line;
    QString why;
    ASSERT_TRUE(line.open(server.url(), &why)) << why.toStdString();
    bool written = false;
    line.setWrittenHandler([&] { written = true; });
    line.output(QByteArray::fromHex("FF01"));
    line.output(QByteArray::fromHex("0DFF"));
    line.endRequest();
    EXPECT_TRUE(written);
    EXPECT_EQ(collect(line, 10).toHex(' '), QByteArray("ff 02 f0 f8 0d 00 0d 0a ff 03"));
    line.close();
    server.finish();
    const ScriptedServer::Seen seen = server.seen;
    EXPECT_EQ(seen.data.toHex(' '), QByteArray("ff 01 0d ff"));
    EXPECT_TRUE(ScriptedServer::saw(seen, "FFFE01")) << "echo not declined";
    ASSERT_EQ(seen.subnegotiations.size(), 5);
    EXPECT_EQ(seen.subnegotiations[0].toHex(' '), QByteArray("2c 01 00 00 4b 00"));   // 19200 baud
    EXPECT_EQ(seen.subnegotiations[1].toHex(' '), QByteArray("2c 02 08"));            // 8 data bits
    EXPECT_EQ(seen.subnegotiations[2].toHex(' '), QByteArray("2c 03 01"));            // no parity
    EXPECT_EQ(seen.subnegotiations[3].toHex(' '), QByteArray("2c 04 01"));            // 1 stop bit
    EXPECT_EQ(seen.subnegotiations[4].toHex(' '), QByteArray("2c 05 01"));            // no flow control
}

TEST(Rfc2217, ARefusedOrUnansweredOptionIsAPortNotOpened)
{
    {
        ScriptedServer server([](QTcpSocket &s, ScriptedServer &me) {
            if (me.readUntil(s, [](const auto &seen) { return ScriptedServer::saw(seen, "FFFB2C"); }))
                ScriptedServer::send(s, QByteArray::fromHex("FFFE2C"));
        });
        Rfc2217Line line;
        QString why;
        EXPECT_FALSE(line.open(server.url(), &why));
        EXPECT_TRUE(why.contains(QStringLiteral("не принял COM-PORT-OPTION"))) << why.toStdString();
        EXPECT_FALSE(line.isOpen());
    }
    // A confirmation unlike what was asked is refused, the setting named
    // (each of the five answers: test_telnet_codec).
    const struct {
        const char *replies, *named;
    } wrong[] = {
        {"2c6500004b00 2c6607 2c6701 2c6801 2c6901", "биты данных 7"},
    };
    for (const auto &w : wrong) {
        ScriptedServer server([&w](QTcpSocket &s, ScriptedServer &me) {
            if (!me.readUntil(s, [](const auto &seen) { return ScriptedServer::saw(seen, "FFFB2C"); }))
                return;
            ScriptedServer::send(s, QByteArray::fromHex("FFFD2C FFFD00 FFFB00"));
            if (!me.readUntil(s, [](const auto &seen) { return seen.subnegotiations.size() >= 5; }))
                return;
            for (const QByteArray &sub : QByteArray(w.replies).split(' '))
                ScriptedServer::send(s, QByteArray::fromHex("FFFA" + sub + "FFF0"));
        });
        Rfc2217Line line;
        QString why;
        EXPECT_FALSE(line.open(server.url(), &why, {false, 1000})) << w.named;
        EXPECT_TRUE(why.contains(QString::fromUtf8(w.named))) << why.toStdString();
    }
    {   // A plain TCP port that never answers the Telnet commands.
        ScriptedServer server([](QTcpSocket &s, ScriptedServer &me) {
            me.readUntil(s, [](const auto &seen) { return ScriptedServer::saw(seen, "FFFB2C"); });
        });
        Rfc2217Line line;
        QString why;
        EXPECT_FALSE(line.open(server.url(), &why, {false, 300}));
        EXPECT_TRUE(why.contains(QStringLiteral("не ответил"))) << why.toStdString();
    }
}

TEST(Rfc2217, WithoutBinaryTransmissionACarriageReturnTravelsAsCrNul)
{
    // A server that keeps to the Telnet network virtual terminal: a CR of
    // the data is CR NUL on the connection, both ways.
    ScriptedServer server([](QTcpSocket &s, ScriptedServer &me) {
        if (!me.acceptComPort(s, "FFFD2C FFFE00 FFFC00"))
            return;
        if (me.readUntil(s, [](const auto &seen) { return seen.data.size() >= 4; }))
            ScriptedServer::send(s, QByteArray::fromHex("0D00 0D0A 01"));
    });
    Rfc2217Line line;
    QString why;
    ASSERT_TRUE(line.open(server.url(), &why)) << why.toStdString();
    line.output(QByteArray::fromHex("0D0A07"));
    line.endRequest();
    EXPECT_EQ(collect(line, 4).toHex(' '), QByteArray("0d 0d 0a 01"));
    line.close();
    server.finish();
    EXPECT_EQ(server.seen.data.toHex(' '), QByteArray("0d 00 0a 07"));
}
