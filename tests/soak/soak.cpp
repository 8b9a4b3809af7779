// zuk_soak: zuk_2 (headless) against zuk_sim with faults, mode by mode, over
// images whose rows spell frames of the bus; every run is checked against
// the simulator's memory. See scripts/soak.
//   zuk_soak [EXCHANGES] [--seed N] [--wait-unit-ms N] [--late-ms N]
//            [--mode NAME] [--rate P]
//
// A session is one zuk_sim process with one zuk_2 run, or with two: the
// first stopped by SIGINT while a late answer is still owed to it and the
// second started at once on the same simulator, so that the stale bytes
// reach it. Besides the random faults of --fault-rate each session lists
// faults of its own that aim at the moments an exchange can be fooled:
// answers late in pieces across the end of a wait and on every try of a
// row, a write acknowledged twice before a write that is lost, every write
// of a controller acknowledged twice, answers late enough for the next row.
// The rows they hit hold the header of a reply of their own row or of
// another, with the rest of the row chosen so that a collection beginning
// in the middle of the late answer reads as a whole, right reply.
#include "common/address_map.h"
#include "common/image_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStringList>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>

#include <algorithm>
#include <signal.h>
#include <cstdio>
#include <memory>
#include <random>
#include <set>
#include <tuple>
#include <vector>

using namespace zuk;

namespace {

using Rng = std::mt19937;

int uniform(Rng &rng, int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); }

// A generator of its own for every round and session, so that a round
// given alone (--mode, --rate) makes the same sessions as in a whole soak.
Rng seeded(quint32 seed, quint32 mode, double rate, int session)
{
    std::seed_seq seq{seed, mode, quint32(rate * 1000 + 0.5), quint32(session + 1), 0x5a0cu};
    return Rng(seq);
}

// Frame bytes as the bus uses them.
constexpr int kRequestStart = 0xF0, kReplyStart = 0xF8, kRead = 0x07, kWrite = 0x08, kAck = 0x01;
constexpr int kPieceGapMs = 20;   // zuk_sim's gap between pieces of an answer

enum class ModeId { Fixed, Fast, FastEcho, Verify, Compare, Gateway };

struct ModeInfo {
    ModeId id;
    const char *name;
    const char *what;
};

const ModeInfo kModes[] = {
    {ModeId::Fixed, "fixed", "--read and --write in turn, the fixed wait of one unit"},
    {ModeId::Fast, "fast", "--fast --read and --fast --write in turn"},
    {ModeId::FastEcho, "fast-echo", "as fast, with --echo against zuk_sim --echo"},
    {ModeId::Verify, "verify", "--write --verify, sessions with the fixed wait and with --fast in turn"},
    {ModeId::Compare, "compare", "--compare, sessions with the fixed wait and with --fast in turn"},
    {ModeId::Gateway, "gateway", "--read and --write in turn through Debian's ser2net (raw TCP), sessions with the fixed "
                                 "wait and with --fast in turn"},
};

struct Settings {
    quint32 seed = 1;
    int waitUnitMs = 60;   // the fixed wait; in fast mode the reply timeout
    int settleMs = 10;     // fast mode: shorter than the gap between pieces of an answer
    int lateMs = -1;       // random late answers; default: the wait unit + 5
    long exchanges = 10000;
    double rate = -1;      // < 0: 0.1, then a fifth as many exchanges at 0.3
    int mode = -1;         // index in kModes; -1: every mode
    QString bin;
    QString configDir;     // zuk_2's settings, never the user's
};

struct Totals {
    long sessions = 0, runs = 0, stopped = 0, exchanges = 0, faults = 0, givenUp = 0, wrong = 0;
    void add(const Totals &o)
    {
        sessions += o.sessions, runs += o.runs, stopped += o.stopped, exchanges += o.exchanges;
        faults += o.faults, givenUp += o.givenUp, wrong += o.wrong;
    }
};

void print(const QString &text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// ---------------------------------------------------------------- hostile rows

void fill(ImageRow &row, std::initializer_list<int> bytes, int at = 0)
{
    for (int b : bytes)
        row[at++] = qint16(b & 0xFF);
}

ImageRow randomRow(Rng &rng)
{
    ImageRow row{};
    for (qint16 &b : row)
        b = qint16(uniform(rng, 0, 255));
    return row;
}

// Row `row` of the controller at `address` beginning with the header of a
// read reply for register `named`, the rest chosen so that a collection that
// begins at its byte 0 - the late answer to a read of it arriving from its
// data on, as when it comes in pieces of 4 - followed by the answer to a read
// of `following` is a right reply for `named`:
//   F8 A 07 named | x4 x5 x6 x7 | checksum of the late answer | F8 A 07 following
//   header          data 0..7 as the judge reads them                        checksum
// Possible when the parities fit; false (row left alone) when they do not.
bool primeRow(ImageRow &row, Rng &rng, int address, int reg, int named, int following)
{
    // The two checksums, modulo 256, with s the sum of x4..x7:
    //   late answer:  c = A + 7 + reg + F8 + A + 7 + named + s
    //   as judged:    A + 7 + named + s + c + F8 + A + 7 == following
    const int fixedPart = 4 * address + 28 + 2 * named + reg + 2 * kReplyStart;
    const int twice = ((following - fixedPart) % 256 + 256) % 256;   // 2s modulo 256
    if (twice % 2 != 0)
        return false;
    for (;;) {
        const int x4 = uniform(rng, 0, 0xEF), x5 = uniform(rng, 0, 0xEF), x6 = uniform(rng, 0, 0xEF);
        for (int x7 : {(twice / 2 - x4 - x5 - x6) & 0x7F, ((twice / 2 - x4 - x5 - x6) & 0x7F) + 0x80}) {
            const int s = x4 + x5 + x6 + x7;
            const int lateSum = (2 * address + 14 + reg + kReplyStart + named + s) & 0xFF;
            // No F0 among the data or the checksum: no escape may shift the bytes.
            if (x7 == kRequestStart || lateSum == kRequestStart)
                continue;
            fill(row, {kReplyStart, address, kRead, named, x4, x5, x6, x7});
            return true;
        }
    }
}

// A row holding bytes of frames: headers of replies and requests of its own
// row and of others, acknowledgements, escapes.
ImageRow hostileRow(Rng &rng, int address, int reg, int rows)
{
    ImageRow row = randomRow(rng);
    auto near = [&] { return std::clamp(reg + uniform(rng, -2, 2), 0, rows - 1); };
    switch (uniform(rng, 0, 8)) {
    case 0:   // its own reply header, primed for a retry of itself
        primeRow(row, rng, address, reg, reg, reg);
        break;
    case 1: {   // a neighbour's or row 0's reply header, primed for a read of that row where the parities fit
        const int named = uniform(rng, 0, 2) == 0 ? 0 : near();
        if (!primeRow(row, rng, address, reg, named, named))
            fill(row, {kReplyStart, address, kRead, named});
        break;
    }
    case 2:   // a reply header where the second half of the row begins
        fill(row, {kReplyStart, address, kRead, uniform(rng, 0, 1) ? reg : near()}, 4);
        break;
    case 3: {   // an acknowledgement, at any place, with its register and checksum
        const int at = uniform(rng, 0, 5);
        fill(row, {kReplyStart, address, kAck}, at);
        if (at < 4)
            fill(row, {reg, (address + kAck + reg) & 0xFF}, at + 3);
        break;
    }
    case 4:   // a request of its own row, read or write
        if (uniform(rng, 0, 1))
            fill(row, {kRequestStart, address, kRead, reg, (address + kRead + reg) & 0xFF});
        else
            fill(row, {kRequestStart, address, kWrite, reg});
        break;
    case 5:   // all escapes
        row.fill(qint16(kRequestStart));
        break;
    case 6:   // its own reply header twice
        fill(row, {kReplyStart, address, kRead, reg, kReplyStart, address, kRead, reg});
        break;
    case 7:   // headers of the neighbouring address and of a write
        fill(row, {kReplyStart, address ^ 1, kRead, reg, kReplyStart, address, kWrite, reg});
        break;
    default: {   // bytes of frames in any order
        const int alphabet[] = {kRequestStart, kReplyStart, address, kRead, kWrite, kAck, reg, 0};
        for (qint16 &b : row)
            b = qint16(alphabet[uniform(rng, 0, 7)]);
        break;
    }
    }
    return row;
}

// A whole image: every row of every controller hostile or random, half and half.
std::unique_ptr<RegisterImage> hostileImage(Rng &rng)
{
    auto image = std::make_unique<RegisterImage>();
    for (const ControllerSlot &s : controllerMap())
        for (int r = 0; r < s.rows; ++r)
            (*image)[s.slot][r] = uniform(rng, 0, 1) ? hostileRow(rng, s.address, r, s.rows) : randomRow(rng);
    return image;
}

int bytesDiffering(const ImageRow &a, const ImageRow &b)
{
    int n = 0;
    for (int i = 0; i < kRowBytes; ++i)
        n += a[i] != b[i];
    return n;
}

// ---------------------------------------------------------------- one session

enum class RunKind { Read, Write, Compare };

const char *kindName(RunKind k) { return k == RunKind::Read ? "read" : k == RunKind::Write ? "write" : "compare"; }

struct Run {
    RunKind kind = RunKind::Read;
    std::unique_ptr<RegisterImage> image;   // zuk.txt before the run
    QString dir;                            // its --dir
    QStringList args;
    // A run to be stopped: SIGINT stopDelayMs after the simulator has the
    // first request of this row.
    bool stopArmed = false;
    int stopAddress = 0, stopRow = 0, stopDelayMs = 0;
    // What it did.
    bool stopSent = false;
    int exitCode = -1;
    QString outcome;   // of the report: completed, stopped (also: ended by the SIGINT after the run)
    QString out, err;
    std::map<int, std::set<int>> givenUp, written;   // slot -> rows
};

class ModeSoak {
public:
    ModeSoak(const Settings &set, const ModeInfo &mode, double rate)
        : set_(set), mode_(mode), rate_(rate), rng_(seeded(set.seed, quint32(mode.id), rate, -1))
    {
        memory_ = hostileImage(rng_);
    }

    // Sessions until `exchanges` exchanges were made; false when a run could not be made.
    bool round(long exchanges, Totals *t)
    {
        exchanges_ = exchanges;
        while (t->exchanges < exchanges)
            if (!session(t))
                return false;
        return true;
    }

private:
    // One zuk_sim process and the runs of zuk_2 made on it.
    struct Session {
        int no = 0;
        bool fast = false, echo = false;
        std::array<bool, kSlotCount> ticked{};
        QStringList tickList;
        std::vector<Run> runs;   // two: the first is to be stopped
        QStringList faults;      // for zuk_sim --fault
        quint32 simSeed = 0;
        QTemporaryDir dir;
        QString start, saved, log;
        QStringList simArgs;
        std::unique_ptr<RegisterImage> after;   // the simulator's memory at its end
    };

    int lateMs() const { return set_.lateMs >= 0 ? set_.lateMs : set_.waitUnitMs + 5; }
    bool session(Totals *t);
    // Draws the session: controllers, runs, images, faults.
    void plan(Session &ss);
    // Writes its files, runs zuk_sim and zuk_2, counts what they did.
    bool make(Session &ss, Totals *t);
    // Wrong bytes of the session, with up to six places in *where.
    long check(Session &ss, QStringList *where) const;
    void tellWrong(Session &ss, long wrong, const QStringList &where) const;
    bool runTool(Run &run, const QString &logPath);
    QString toolCommand(const Run &run) const;

    const Settings &set_;
    const ModeInfo &mode_;
    const double rate_;
    long exchanges_ = 0;
    Rng rng_;
    std::unique_ptr<RegisterImage> memory_;   // the simulator's memory between sessions
    int sessionNo_ = 0;
    int runNo_ = 0;   // reading and writing runs alternate over it
};

bool startGateway(QProcess &gateway, const QString &device, const QString &folder, QString *port)
{
    const QString binary = QStandardPaths::findExecutable(
        QStringLiteral("ser2net"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"),
                                    QStringLiteral("/usr/bin"), QStringLiteral("/usr/local/bin")});
    if (binary.isEmpty())
        return false;
    quint16 tcp = 0;
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost))
            return false;
        tcp = probe.serverPort();
    }
    const QString config = QDir(folder).filePath(QStringLiteral("ser2net.yaml"));
    if (!writeFile(config, QStringLiteral("%YAML 1.1\n---\nconnection: &bus\n  accepter: tcp,127.0.0.1,%1\n"
                                          "  connector: serialdev,%2,19200n81,local\n")
                               .arg(tcp)
                               .arg(device)
                               .toUtf8()))
        return false;
    gateway.setProcessChannelMode(QProcess::MergedChannels);
    gateway.start(binary, {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"), config, QStringLiteral("-P"),
                           QDir(folder).filePath(QStringLiteral("ser2net.pid"))});
    if (!gateway.waitForStarted(5000))
        return false;
    // Ready once the port listens (a probe connection would open the device).
    const QByteArray entry = QByteArray(":") + QByteArray::number(tcp, 16).toUpper().rightJustified(4, '0') + " 00000000:0000 0A";
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000 && gateway.state() == QProcess::Running) {
        if (readFile(QStringLiteral("/proc/net/tcp")).contains(entry)) {
            *port = QStringLiteral("tcp://127.0.0.1:%1").arg(tcp);
            return true;
        }
        gateway.waitForFinished(20);
    }
    return false;
}

bool ModeSoak::runTool(Run &run, const QString &logPath)
{
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), set_.configDir);
    tool.setProcessEnvironment(env);
    tool.start(set_.bin + QStringLiteral("/zuk_2"), run.args);
    if (!tool.waitForStarted(10000))
        return false;
    if (run.stopArmed) {
        // Watch the simulator's log for the request of the row; stop the run
        // the chosen time after it came in.
        QFile log(logPath);
        log.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        const QByteArray read = QString::asprintf("F0 %02X 07 %02X ", run.stopAddress, run.stopRow).toLatin1();
        const QByteArray write = QString::asprintf("F0 %02X 08 %02X ", run.stopAddress, run.stopRow).toLatin1();
        QByteArray seen;
        QElapsedTimer since;
        while (!tool.waitForFinished(1)) {
            if (!since.isValid()) {
                seen += log.readAll();
                if (seen.contains(read) || seen.contains(write))
                    since.start();
            } else if (since.elapsed() >= run.stopDelayMs) {
                ::kill(pid_t(tool.processId()), SIGINT);
                run.stopSent = true;
                break;
            }
        }
    }
    if (!tool.waitForFinished(600000)) {
        tool.kill();
        tool.waitForFinished(5000);
        return false;
    }
    const bool killed = tool.exitStatus() != QProcess::NormalExit;
    run.exitCode = killed ? -1 : tool.exitCode();
    run.out = QString::fromUtf8(tool.readAllStandardOutput());
    run.err = QString::fromUtf8(tool.readAllStandardError());
    if (run.err.contains(QLatin1String("Sanitizer")) || run.err.contains(QLatin1String("runtime error:")))
        return false;
    const QJsonObject report = QJsonDocument::fromJson(readFile(QDir(run.dir).filePath("report.json"))).object();
    run.outcome = report.value(QStringLiteral("outcome")).toString();
    for (const QJsonValue &c : report.value(QStringLiteral("controllers")).toArray()) {
        const int slot = slotOfAddress(c[QStringLiteral("address")].toString().toInt(nullptr, 16));
        for (const QJsonValue &r : c[QStringLiteral("given_up")].toArray())
            run.givenUp[slot].insert(r.toInt());
        for (const QJsonValue &r : c[QStringLiteral("written")].toArray())
            run.written[slot].insert(r.toInt());
    }
    if (killed && run.stopSent) {
        // The SIGINT came after the run had ended and its handler was gone:
        // the program ended by it, its output maybe cut short. Taken as
        // stopped; what its report names as written (if it got that far) stands.
        run.outcome = QStringLiteral("stopped");
        return true;
    }
    const bool known = run.exitCode == 0 || run.exitCode == 1 || (run.exitCode == 130 && run.stopSent);
    return known && (run.outcome == QLatin1String("completed") || run.outcome == QLatin1String("stopped"));
}

QString ModeSoak::toolCommand(const Run &run) const
{
    QStringList quoted;
    for (const QString &a : run.args)
        quoted << (a.contains(QLatin1Char(' ')) ? QLatin1Char('\'') + a + QLatin1Char('\'') : a);
    return QStringLiteral("zuk_2 ") + quoted.join(QLatin1Char(' '));
}

void ModeSoak::plan(Session &ss)
{
    const int no = ss.no;
    ss.fast = mode_.id == ModeId::Fast || mode_.id == ModeId::FastEcho
              || ((mode_.id == ModeId::Verify || mode_.id == ModeId::Compare || mode_.id == ModeId::Gateway)
                  && no / 2 % 2 == 1);
    ss.echo = mode_.id == ModeId::FastEcho;
    // Where a wait ends: the fixed wait's unit, or fast mode's reply timeout.
    const int unit = set_.waitUnitMs;
    const int boundary = unit;

    // One to three controllers, the same for both runs of a pair.
    const int count = uniform(rng_, 1, 3);
    for (int picked = 0; picked < count;) {
        const int s = uniform(rng_, 0, kSlotCount - 1);
        if (!ss.ticked[s])
            ss.ticked[s] = true, ++picked;
    }
    for (const ControllerSlot &s : controllerMap())
        if (ss.ticked[s.slot])
            ss.tickList << hexText(s.address);

    ss.runs.resize(no % 2 == 1 ? 2 : 1);
    for (Run &run : ss.runs) {
        run.kind = mode_.id == ModeId::Verify    ? RunKind::Write
                   : mode_.id == ModeId::Compare ? RunKind::Compare
                   : runNo_ % 2 == 0             ? RunKind::Read
                                                 : RunKind::Write;
        ++runNo_;
        if (run.kind == RunKind::Compare) {
            // The system's memory with some bytes changed: the differences to find.
            run.image = std::make_unique<RegisterImage>(*memory_);
            for (const ControllerSlot &s : controllerMap())
                for (int r = 0; r < s.rows; ++r)
                    if (uniform(rng_, 0, 3) == 0)
                        for (int n = uniform(rng_, 1, 3); n > 0; --n)
                            (*run.image)[s.slot][r][uniform(rng_, 0, 7)] = qint16(uniform(rng_, 0, 255));
        } else {
            run.image = hostileImage(rng_);
        }
    }

    // The session's own faults, on rows that are primed for them.
    std::set<std::pair<int, int>> used;   // (slot, row) already given a fault
    auto prime = [&](const ControllerSlot &s, int r, int named) {
        for (ImageRow *row : {&(*memory_)[s.slot][r], &(*ss.runs.front().image)[s.slot][r]})
            if (!primeRow(*row, rng_, s.address, r, named, named))
                fill(*row, {kReplyStart, s.address, kRead, named});
    };
    if (ss.runs.size() == 2) {
        // Stop the first run while the late answer of an early row of its
        // first controller is still owed: the second run gets it.
        const ControllerSlot &s = controllerMap()[std::find(ss.ticked.begin(), ss.ticked.end(), true) - ss.ticked.begin()];
        Run &first = ss.runs.front();
        first.stopArmed = true;
        first.stopAddress = s.address;
        first.stopRow = uniform(rng_, 0, std::min(s.rows, 12) - 1);
        const int late = uniform(rng_, unit + 40, unit + 400);
        first.stopDelayMs = uniform(rng_, 0, late / 2);
        prime(s, first.stopRow, uniform(rng_, 0, 1) ? 0 : first.stopRow);   // as if read by row 0 of the next run
        ss.faults << QStringLiteral("%1:%2:1=late/%3").arg(hexText(s.address)).arg(first.stopRow).arg(late);
        if (uniform(rng_, 0, 1))
            ss.faults << QStringLiteral("%1:%2:1=pieces/4").arg(hexText(s.address)).arg(first.stopRow);
        used.insert({s.slot, first.stopRow});
    }
    for (const ControllerSlot &s : controllerMap()) {
        if (!ss.ticked[s.slot])
            continue;
        // The first fault of a controller is the one that aims at the run:
        // a writing run's acknowledgements, a reading run's collection.
        const bool writes = ss.runs.front().kind == RunKind::Write;
        for (int n = 0, faultsHere = uniform(rng_, 1, 3); n < faultsHere; ++n) {
            const int kind = n > 0 ? uniform(rng_, 0, 4) : writes ? uniform(rng_, 0, 1) * 3 + 1 : uniform(rng_, 0, 1) * 3;
            // Early rows are reached before a failed try makes a writing run read every row back.
            const int r = uniform(rng_, 0, 2) ? uniform(rng_, 0, std::min(s.rows - 2, 5)) : uniform(rng_, 0, s.rows - 2);
            if (!used.insert({s.slot, r}).second || !used.insert({s.slot, r + 1}).second)
                continue;
            const QString a = hexText(s.address);
            const int attempts = uniform(rng_, 1, 2);
            if (kind == 0) {
                // Late in pieces, the pieces arriving on both sides of the end of a wait.
                prime(s, r, r);
                const int pieces = uniform(rng_, 0, 3) ? 4 : uniform(rng_, 1, 6);
                const int late = std::max(0, boundary + uniform(rng_, -3 * kPieceGapMs - 10, kPieceGapMs + 10));
                ss.faults << QStringLiteral("%1:%2:%3=pieces/%4").arg(a).arg(r).arg(attempts).arg(pieces)
                          << QStringLiteral("%1:%2:%3=late/%4").arg(a).arg(r).arg(attempts).arg(late);
            } else if (kind == 1) {
                // Acknowledged twice, the next row's write lost. Where every
                // written row is read back (fast mode, --verify) the second
                // acknowledgement comes while the next row waits. At the fixed
                // wait without --verify it comes within the row's own wait,
                // where it shows as a second reply: a second acknowledgement
                // more than a wait later, with the next write lost, looks
                // exactly like that write's own (README, "Known limits").
                const bool readBack = ss.fast || mode_.id == ModeId::Verify;
                const int gap = readBack ? uniform(rng_, 1, 2 * unit + 10) : uniform(rng_, 1, unit - 20);
                ss.faults << QStringLiteral("%1:%2:1=dupack/%3").arg(a).arg(r).arg(gap)
                          << QStringLiteral("%1:%2:1=silent").arg(a).arg(r + 1);
            } else if (kind == 3) {
                // Late in pieces on every try of the row, from anywhere in the
                // wait, the pieces further apart than the settle time: each
                // retry and each confirming read meets the same stream.
                prime(s, r, r);
                ss.faults << QStringLiteral("%1:%2=pieces/4").arg(a).arg(r)
                          << QStringLiteral("%1:%2=late/%3").arg(a).arg(r).arg(uniform(rng_, 0, boundary));
            } else if (kind == 4) {
                // Every write of the controller acknowledged twice, the
                // second within the wait.
                ss.faults << QStringLiteral("%1=dupack/%2").arg(a).arg(uniform(rng_, 1, ss.fast ? unit : unit - 20));
            } else {
                // Late enough for the next try or the next row, naming a neighbour.
                prime(s, r, std::min(r + uniform(rng_, 0, 2), s.rows - 1));
                ss.faults << QStringLiteral("%1:%2:%3=late/%4").arg(a).arg(r).arg(attempts).arg(uniform(rng_, boundary, 3 * boundary));
            }
        }
    }
    ss.simSeed = quint32(rng_());
}

bool ModeSoak::make(Session &ss, Totals *t)
{
    const QTemporaryDir &dir = ss.dir;
    ss.start = dir.filePath(QStringLiteral("start.txt"));
    ss.saved = dir.filePath(QStringLiteral("sim.txt"));
    ss.log = dir.filePath(QStringLiteral("log.txt"));
    if (!writeFile(ss.start, imageFileBytes(*memory_)))
        return false;
    for (size_t i = 0; i < ss.runs.size(); ++i) {
        Run &run = ss.runs[i];
        run.dir = dir.filePath(QStringLiteral("run%1").arg(i + 1));
        QDir().mkpath(run.dir);
        const QByteArray bytes = imageFileBytes(*run.image);
        if (!writeFile(QDir(run.dir).filePath("zuk.txt"), bytes) || !writeFile(run.dir + QStringLiteral(".zuk.txt"), bytes))
            return false;
    }
    ss.simArgs = QStringList{QStringLiteral("--image"),      ss.start,
                             QStringLiteral("--present"),    QStringLiteral("all"),
                             QStringLiteral("--seed"),       QString::number(ss.simSeed),
                             QStringLiteral("--fault-rate"), QString::number(rate_),
                             QStringLiteral("--late-ms"),    QString::number(lateMs()),
                             QStringLiteral("--save"),       ss.saved,
                             QStringLiteral("--log"),        ss.log};
    if (!ss.faults.isEmpty())
        ss.simArgs << QStringLiteral("--fault") << ss.faults.join(QLatin1Char(','));
    if (ss.echo)
        ss.simArgs << QStringLiteral("--echo");
    QProcess sim;
    sim.start(set_.bin + QStringLiteral("/zuk_sim"), ss.simArgs);
    if (!sim.waitForStarted(10000) || !sim.waitForReadyRead(10000)) {
        print(QStringLiteral("soak: zuk_sim did not start: %1").arg(QString::fromUtf8(sim.readAllStandardError())));
        return false;
    }
    QString device = QString::fromLocal8Bit(sim.readLine()).trimmed();
    // The gateway mode: Debian's ser2net in front of the simulator.
    QProcess gateway;
    if (mode_.id == ModeId::Gateway && !startGateway(gateway, device, dir.path(), &device)) {
        print(QStringLiteral("soak: ser2net did not start (is it installed? scripts/setup installs it): %1")
                  .arg(QString::fromLocal8Bit(gateway.readAll())));
        sim.terminate();
        sim.waitForFinished(10000);
        return false;
    }
    for (Run &run : ss.runs) {
        run.args = QStringList{run.kind == RunKind::Read    ? QStringLiteral("--read")
                               : run.kind == RunKind::Write ? QStringLiteral("--write")
                                                            : QStringLiteral("--compare"),
                               QStringLiteral("--port"), device, QStringLiteral("--dir"), run.dir,
                               QStringLiteral("--tick"), ss.tickList.join(QLatin1Char(',')),
                               QStringLiteral("--report"), QDir(run.dir).filePath("report.json"),
                               QStringLiteral("--wait-unit-ms"), QString::number(set_.waitUnitMs)};
        if (mode_.id == ModeId::Verify)
            run.args << QStringLiteral("--verify");
        if (run.kind == RunKind::Write)
            run.args << QStringLiteral("--force-absent");   // random images mark controllers absent
        if (ss.fast)
            run.args << QStringLiteral("--fast") << QStringLiteral("--reply-timeout-ms") << QString::number(set_.waitUnitMs)
                     << QStringLiteral("--settle-ms") << QString::number(set_.settleMs);
        if (ss.echo)
            run.args << QStringLiteral("--echo");
    }
    bool made = true;
    for (Run &run : ss.runs) {   // the second at once after the first
        if (!runTool(run, ss.log)) {
            print(QStringLiteral("soak: %1, session %2: zuk_2 run failed (exit %3, report \"%4\"): %5\n  %6")
                      .arg(QLatin1String(mode_.name))
                      .arg(ss.no)
                      .arg(run.exitCode)
                      .arg(run.outcome, run.err.trimmed(), toolCommand(run)));
            made = false;
            break;
        }
    }
    if (gateway.state() != QProcess::NotRunning) {
        gateway.kill();
        gateway.waitForFinished(5000);
    }
    sim.terminate();
    if (!sim.waitForFinished(10000) || sim.exitCode() != 0) {
        print(QStringLiteral("soak: zuk_sim did not end cleanly: %1").arg(QString::fromUtf8(sim.readAllStandardError())));
        sim.kill();
        sim.waitForFinished(5000);
        made = false;
    }
    ss.after = std::make_unique<RegisterImage>();
    if (const ImageLoadResult r = loadImageFile(ss.saved, *ss.after); made && !r.ok) {
        print(QStringLiteral("soak: zuk_sim's memory %1: %2").arg(ss.saved, r.failure));
        made = false;
    }
    if (!made) {
        ss.dir.setAutoRemove(false);
        print(QStringLiteral("  files kept in %1").arg(dir.path()));
        return false;
    }

    const QString simErr = QString::fromUtf8(sim.readAllStandardError());
    for (const char *what : {"random faults injected: ", "listed faults applied: "}) {
        const qsizetype at = simErr.indexOf(QLatin1String(what));
        if (at >= 0)
            t->faults += simErr.mid(at + qsizetype(qstrlen(what))).section(QLatin1Char('\n'), 0, 0).toLong();
    }
    t->exchanges += readFile(ss.log).count('\n');
    ++t->sessions;
    t->runs += long(ss.runs.size());
    for (const Run &run : ss.runs) {
        t->stopped += run.outcome == QLatin1String("stopped");
        for (const auto &[slot, rows] : run.givenUp)
            t->givenUp += long(rows.size());
    }
    return true;
}

long ModeSoak::check(Session &ss, QStringList *where) const
{
    const RegisterImage &after = *ss.after;
    long wrong = 0;
    auto note = [&](int n, const ControllerSlot &s, int r, const Run *run, const char *what) {
        wrong += n;
        const QString place = QStringLiteral("$%1 регистр $%2 (%3%4)")
                                  .arg(hexText(s.address), hexText(r),
                                       run ? QStringLiteral("%1 run %2, ").arg(QLatin1String(kindName(run->kind))).arg(run - &ss.runs.front() + 1)
                                           : QString(),
                                       QLatin1String(what));
        if (n && where->size() < 6 && !where->contains(place))
            *where << place;
    };
    // What each row of the simulator may hold, run by run: a row reported
    // written holds the image; one whose write was tried and not reported
    // may hold it or what it held. Rows read must equal what the row held.
    std::vector<std::vector<ImageRow>> allowed(size_t(kSlotCount) * kMaxRows);
    auto may = [&](int slot, int r) -> std::vector<ImageRow> & { return allowed[size_t(slot) * kMaxRows + size_t(r)]; };
    auto closest = [](const std::vector<ImageRow> &rows, const ImageRow &got) {
        int n = kRowBytes;
        for (const ImageRow &want : rows)
            n = std::min(n, bytesDiffering(want, got));
        return n;
    };
    for (const ControllerSlot &s : controllerMap())
        for (int r = 0; r < s.rows; ++r)
            may(s.slot, r) = {(*memory_)[s.slot][r]};
    for (size_t i = 0; i < ss.runs.size(); ++i) {
        Run &run = ss.runs[i];
        const bool stopped = run.outcome == QLatin1String("stopped");
        const bool writesLater = std::any_of(ss.runs.begin() + long(i) + 1, ss.runs.end(),
                                             [](const Run &r) { return r.kind == RunKind::Write; });
        if (run.kind == RunKind::Write) {
            for (const ControllerSlot &s : controllerMap()) {
                for (int r = 0; r < s.rows && ss.ticked[s.slot]; ++r) {
                    const ImageRow &row = (*run.image)[s.slot][r];
                    if (run.written[s.slot].count(r))
                        may(s.slot, r) = {row};
                    else
                        may(s.slot, r).push_back(row);
                }
            }
        } else if (run.kind == RunKind::Read && !stopped) {
            RegisterImage file{};
            if (const ImageLoadResult r = loadImageFile(QDir(run.dir).filePath("zuk.txt"), file); !r.ok) {
                *where << QStringLiteral("zuk.txt of %1 not loaded: %2").arg(run.dir, r.failure);
                return wrong + 1;
            }
            for (const ControllerSlot &s : controllerMap())
                for (int r = 0; r < s.rows && ss.ticked[s.slot]; ++r)
                    if (!run.givenUp[s.slot].count(r))
                        note(writesLater ? closest(may(s.slot, r), file[s.slot][r])
                                         : bytesDiffering(after[s.slot][r], file[s.slot][r]),
                             s, r, &run, "read");
        } else if (run.kind == RunKind::Compare && !stopped) {
            // The differences printed must be exactly those between zuk.txt
            // and the memory, over the rows not given up.
            using Difference = std::tuple<int, int, int, int, int>;   // slot, row, byte, file, system
            std::set<Difference> expected, printed;
            for (const ControllerSlot &s : controllerMap())
                for (int r = 0; r < s.rows && ss.ticked[s.slot]; ++r)
                    for (int b = 0; b < kRowBytes && !run.givenUp[s.slot].count(r); ++b)
                        if ((*run.image)[s.slot][r][b] != after[s.slot][r][b])
                            expected.insert({s.slot, r, b, (*run.image)[s.slot][r][b], after[s.slot][r][b]});
            static const QRegularExpression line(
                QStringLiteral("^адрес \\$([0-9A-F]+) регистр \\$([0-9A-F]+) байт ([0-7]): (\\d+) -> (\\d+)$"));
            static const QRegularExpression total(QStringLiteral("^различий: (\\d+)$"));
            long totalShown = -1;
            for (const QString &l : run.out.split(QLatin1Char('\n'))) {
                if (const QRegularExpressionMatch m = line.match(l); m.hasMatch())
                    printed.insert({slotOfAddress(m.captured(1).toInt(nullptr, 16)), m.captured(2).toInt(nullptr, 16),
                                    m.captured(3).toInt(), m.captured(4).toInt(), m.captured(5).toInt()});
                else if (const QRegularExpressionMatch m = total.match(l); m.hasMatch())
                    totalShown = m.captured(1).toLong();
            }
            std::vector<Difference> off;
            std::set_symmetric_difference(expected.begin(), expected.end(), printed.begin(), printed.end(),
                                          std::back_inserter(off));
            std::set<std::tuple<int, int, int>> bytes;   // a byte shown with a wrong value counts once
            for (const Difference &d : off)
                if (bytes.insert({std::get<0>(d), std::get<1>(d), std::get<2>(d)}).second)
                    note(1, controllerMap()[std::get<0>(d)], std::get<1>(d), &run,
                         printed.count(d) ? "difference that is none" : "difference not shown");
            if (totalShown != long(printed.size())) {
                wrong += std::max(1L, std::abs(totalShown - long(printed.size())));
                *where << QStringLiteral("\"различий: %1\" after %2 lines").arg(totalShown).arg(printed.size());
            }
        }
    }
    // The memory: named after the run that reported the row written, if one did.
    for (const ControllerSlot &s : controllerMap())
        for (int r = 0; r < s.rows; ++r) {
            const Run *claimed = nullptr;
            for (const Run &run : ss.runs)
                if (run.kind == RunKind::Write && run.written.count(s.slot) && run.written.at(s.slot).count(r))
                    claimed = &run;
            note(closest(may(s.slot, r), after[s.slot][r]), s, r, claimed,
                 claimed ? "memory not as written" : "memory changed");
        }
    return wrong;
}

void ModeSoak::tellWrong(Session &ss, long wrong, const QStringList &where) const
{
    ss.dir.setAutoRemove(false);
    print(QStringLiteral("soak: WRONG BYTES %1 in mode %2, seed %3, session %4 (rate %5, ticks %6): %7")
              .arg(wrong)
              .arg(QLatin1String(mode_.name))
              .arg(set_.seed)
              .arg(ss.no)
              .arg(rate_)
              .arg(ss.tickList.join(QLatin1Char(',')), where.join(QStringLiteral(", "))));
    print(QStringLiteral("  replay: zuk_sim %1").arg(ss.simArgs.join(QLatin1Char(' '))));
    for (size_t i = 0; i < ss.runs.size(); ++i) {
        const Run &run = ss.runs[i];
        writeFile(run.dir + QStringLiteral(".out"), run.out.toUtf8());
        writeFile(run.dir + QStringLiteral(".err"), run.err.toUtf8());
        QString how = QStringLiteral("          %1  (outcome %2; zuk.txt from %3.zuk.txt, its output in %3.out, .err)")
                          .arg(toolCommand(run), run.outcome, run.dir);
        if (run.stopSent)
            how += QStringLiteral("; SIGINT %1 ms after the request of $%2 регистр $%3")
                       .arg(run.stopDelayMs)
                       .arg(hexText(run.stopAddress), hexText(run.stopRow));
        if (i > 0)
            how += QStringLiteral("; at once after the run before, on the same zuk_sim");
        print(how);
    }
    print(QStringLiteral("  files kept in %1 (start.txt: the memory at the session's start)").arg(ss.dir.path()));
    print(QStringLiteral("  its round: zuk_soak %1 --mode %2 --seed %3 --rate %4 --wait-unit-ms %5 --late-ms %6 (session %7)")
              .arg(exchanges_)
              .arg(QLatin1String(mode_.name))
              .arg(set_.seed)
              .arg(rate_)
              .arg(set_.waitUnitMs)
              .arg(lateMs())
              .arg(ss.no));
}

bool ModeSoak::session(Totals *t)
{
    Session ss;
    ss.no = sessionNo_++;
    rng_ = seeded(set_.seed, quint32(mode_.id), rate_, ss.no);
    plan(ss);
    if (!make(ss, t))
        return false;
    QStringList where;
    const long wrong = check(ss, &where);
    t->wrong += wrong;
    if (wrong)
        tellWrong(ss, wrong, where);
    *memory_ = *ss.after;
    return true;
}

QString figures(const Totals &t)
{
    return QStringLiteral("sessions %1, runs %2 (stopped %3), exchanges %4, faults injected %5, rows given up %6, "
                          "wrong bytes %7")
        .arg(t.sessions)
        .arg(t.runs)
        .arg(t.stopped)
        .arg(t.exchanges)
        .arg(t.faults)
        .arg(t.givenUp)
        .arg(t.wrong);
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Settings set;
    set.bin = QCoreApplication::applicationDirPath();
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        bool ok = true;
        const QString &a = args[i];
        auto value = [&]() -> QString {
            ok = i + 1 < args.size();
            return ok ? args[++i] : QString();
        };
        if (a == QLatin1String("--seed")) {
            set.seed = value().toUInt(&ok);
        } else if (a == QLatin1String("--wait-unit-ms")) {
            set.waitUnitMs = value().toInt(&ok);
            ok = ok && set.waitUnitMs >= 5;
        } else if (a == QLatin1String("--late-ms")) {
            set.lateMs = value().toInt(&ok);
            ok = ok && set.lateMs >= 0;
        } else if (a == QLatin1String("--rate")) {
            set.rate = value().toDouble(&ok);
            ok = ok && set.rate >= 0 && set.rate <= 1;
        } else if (a == QLatin1String("--mode")) {
            const QString name = value();
            set.mode = -1;
            for (size_t m = 0; m < std::size(kModes); ++m)
                if (name == QLatin1String(kModes[m].name))
                    set.mode = int(m);
            ok = ok && set.mode >= 0;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            QString modes;
            for (const ModeInfo &m : kModes)
                modes += QStringLiteral("  %1 %2\n").arg(QLatin1String(m.name), -10).arg(QLatin1String(m.what));
            print(QStringLiteral(
                      "usage: zuk_soak [EXCHANGES] [--seed N] [--wait-unit-ms N] [--late-ms N] [--mode NAME] [--rate P]\n"
                      "zuk_2 without a window against zuk_sim with faults, mode by mode, EXCHANGES exchanges\n"
                      "(default 10000) per mode at --fault-rate 0.1, then a fifth as many at 0.3 (--rate P: only P).\n"
                      "Modes (--mode: only that one):\n%1"
                      "--wait-unit-ms: the fixed wait and fast mode's reply timeout (default 60; fast mode settles\n"
                      "10 ms); --late-ms: random late answers and duplicated acknowledgements (default the unit + 5).\n"
                      "Prints per mode and rate the sessions, runs (stopped), exchanges, faults injected, rows given\n"
                      "up and wrong bytes, then the total. Exit status 0 when no byte was wrong, 1 when one was, 2\n"
                      "when a run could not be made.")
                      .arg(modes));
            return 0;
        } else {
            set.exchanges = a.toLong(&ok);
            ok = ok && set.exchanges > 0;
        }
        if (!ok) {
            std::fprintf(stderr, "zuk_soak: bad argument %s (see --help)\n", qPrintable(a));
            return 2;
        }
    }
    QTemporaryDir config;
    set.configDir = config.path();

    print(QStringLiteral("soak: seed %1, wait unit %2 ms (fast: reply timeout %2 ms, settle %3 ms), late answers %4 ms")
              .arg(set.seed)
              .arg(set.waitUnitMs)
              .arg(set.settleMs)
              .arg(set.lateMs >= 0 ? set.lateMs : set.waitUnitMs + 5));
    std::vector<std::pair<double, long>> rounds;
    if (set.rate >= 0)
        rounds = {{set.rate, set.exchanges}};
    else
        rounds = {{0.1, set.exchanges}, {0.3, std::max(1L, set.exchanges / 5)}};
    Totals all;
    QStringList wrongModes;
    for (size_t m = 0; m < std::size(kModes); ++m) {
        if (set.mode >= 0 && set.mode != int(m))
            continue;
        for (const auto &[rate, exchanges] : rounds) {
            ModeSoak soak(set, kModes[m], rate);
            Totals t;
            const bool made = soak.round(exchanges, &t);
            print(QStringLiteral("soak: %1 rate %2: %3").arg(QLatin1String(kModes[m].name), -10).arg(rate).arg(figures(t)));
            all.add(t);
            if (t.wrong && !wrongModes.contains(QLatin1String(kModes[m].name)))
                wrongModes << QLatin1String(kModes[m].name);
            if (!made)
                return 2;
        }
    }
    print(QStringLiteral("soak: total: %1%2")
              .arg(figures(all), wrongModes.isEmpty() ? QString()
                                                      : QStringLiteral(" (in %1)").arg(wrongModes.join(QStringLiteral(", ")))));
    return all.wrong ? 1 : 0;
}
