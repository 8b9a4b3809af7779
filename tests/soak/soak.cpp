// zuk_soak: zuk_2 (headless) against zuk_sim with random faults, reading and
// writing runs alternating over random images, until the given number of
// exchanges has been made; every run is checked against the simulator's
// memory. See scripts/soak.
//   zuk_soak [EXCHANGES] [--seed N] [--wait-unit-ms N] [--late-ms N]
// EXCHANGES (default 10000) are made at fault rate 0.1, then a round of a
// fifth of them at 0.3.
#include "common/address_map.h"
#include "common/image_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <random>

using namespace zuk;

namespace {

struct Totals {
    long exchanges = 0, faults = 0, givenUp = 0, wrong = 0, runs = 0;
};

struct Settings {
    quint32 seed = 1;
    int waitUnitMs = 20;
    int lateMs = 30;
    QString bin;
};

void print(const QString &text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

bool writeImage(const QString &path, const RegisterImage &image)
{
    QFile f(path);
    const QByteArray bytes = imageFileBytes(image);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

bool readImage(const QString &path, RegisterImage *image, QString *why)
{
    const ImageLoadResult r = loadImageFile(path, *image);
    *why = r.failure;
    return r.ok;
}

// Rows the tool gave up, from its status lines: "... адреса $A   регистра $R ... ERROR".
QSet<QPair<int, int>> givenUpRows(const QString &out)
{
    QSet<QPair<int, int>> rows;
    for (const QString &line : out.split(QLatin1Char('\n'))) {
        if (!line.trimmed().endsWith(QLatin1String("ERROR")))
            continue;
        const qsizetype a = line.indexOf(QLatin1Char('$'));
        const qsizetype r = line.indexOf(QLatin1Char('$'), a + 1);
        if (a < 0 || r < 0)
            continue;
        const int address = line.mid(a + 1).section(QLatin1Char(' '), 0, 0).toInt(nullptr, 16);
        const int reg = line.mid(r + 1).section(QLatin1Char(' '), 0, 0).toInt(nullptr, 16);
        rows.insert({address, reg});
    }
    return rows;
}

// One run: the simulator starts from `memory`, the tool reads or writes the
// ticked slots. Returns false when the run could not be made at all.
bool oneRun(const Settings &set, int runNo, quint32 simSeed, double rate, bool writing, std::mt19937 &rng,
            RegisterImage &memory, Totals &t)
{
    QTemporaryDir dir;
    const QString simImage = dir.filePath(QStringLiteral("start.txt"));
    const QString saved = dir.filePath(QStringLiteral("sim.txt"));
    const QString log = dir.filePath(QStringLiteral("log.txt"));
    const QString toolDir = dir.filePath(QStringLiteral("tool"));
    QDir().mkpath(toolDir);
    const QString toolImage = QDir(toolDir).filePath(QStringLiteral("zuk.txt"));

    // One to three controllers per run.
    std::array<bool, kSlotCount> ticked{};
    QStringList tickList;
    const int count = std::uniform_int_distribution<int>(1, 3)(rng);
    while (tickList.size() < count) {
        const int s = std::uniform_int_distribution<int>(0, kSlotCount - 1)(rng);
        if (!ticked[s]) {
            ticked[s] = true;
            tickList << hexText(controllerMap()[s].address);
        }
    }
    std::uniform_int_distribution<int> byte(0, 255);
    auto image = std::make_unique<RegisterImage>();
    for (SlotImage &slot : *image)
        for (ImageRow &row : slot)
            for (qint16 &b : row)
                b = static_cast<qint16>(byte(rng));
    if (!writeImage(simImage, memory) || !writeImage(toolImage, *image))
        return false;

    QProcess sim;
    const QStringList simArgs = {QStringLiteral("--image"), simImage,   QStringLiteral("--present"), QStringLiteral("all"),
                                 QStringLiteral("--seed"),  QString::number(simSeed), QStringLiteral("--fault-rate"),
                                 QString::number(rate),     QStringLiteral("--late-ms"), QString::number(set.lateMs),
                                 QStringLiteral("--save"),  saved,      QStringLiteral("--log"), log};
    sim.start(set.bin + QStringLiteral("/zuk_sim"), simArgs);
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000))
        return false;
    const QString device = QString::fromLocal8Bit(sim.readLine()).trimmed();

    QProcess tool;
    const QStringList toolArgs = {writing ? QStringLiteral("--write") : QStringLiteral("--read"),
                                  QStringLiteral("--port"), device, QStringLiteral("--dir"), toolDir,
                                  QStringLiteral("--tick"), tickList.join(QLatin1Char(',')),
                                  QStringLiteral("--wait-unit-ms"), QString::number(set.waitUnitMs)};
    tool.start(set.bin + QStringLiteral("/zuk_2"), toolArgs);
    const bool finished = tool.waitForStarted(5000) && tool.waitForFinished(600000);
    sim.terminate();
    sim.waitForFinished(10000);
    if (!finished || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() > 1) {
        print(QStringLiteral("soak: run %1 failed (zuk_2 exit %2): %3")
                  .arg(runNo)
                  .arg(tool.exitCode())
                  .arg(QString::fromUtf8(tool.readAllStandardError()).trimmed()));
        return false;
    }

    const QString simErr = QString::fromUtf8(sim.readAllStandardError());
    const qsizetype at = simErr.indexOf(QLatin1String("random faults injected: "));
    if (at >= 0)
        t.faults += simErr.mid(at + 24).section(QLatin1Char('\n'), 0, 0).toLong();
    QFile logFile(log);
    if (logFile.open(QIODevice::ReadOnly))
        t.exchanges += logFile.readAll().count('\n');
    const QSet<QPair<int, int>> gaveUp = givenUpRows(QString::fromUtf8(tool.readAllStandardOutput()));
    t.givenUp += gaveUp.size();
    ++t.runs;

    auto after = std::make_unique<RegisterImage>();
    auto read = std::make_unique<RegisterImage>();
    QString why;
    if (!readImage(saved, after.get(), &why) || (!writing && !readImage(toolImage, read.get(), &why))) {
        print(QStringLiteral("soak: run %1: %2").arg(runNo).arg(why));
        return false;
    }

    // Wrong bytes: a row not given up that differs from what it must hold,
    // anything a run changed outside its rows, a given-up row that is
    // neither the old nor the new one.
    long wrong = 0;
    QStringList where;
    for (const ControllerSlot &s : controllerMap()) {
        for (int r = 0; r < s.rows; ++r) {   // the file holds no other rows
            const bool inRun = ticked[s.slot];
            const bool lost = gaveUp.contains({s.address, r});
            const ImageRow &old = memory[s.slot][r];
            const ImageRow &now = (*after)[s.slot][r];
            auto count = [&](const ImageRow &want, const ImageRow &got) {
                int n = 0;
                for (int b = 0; b < kRowBytes; ++b)
                    n += want[b] != got[b];
                if (n && where.size() < 5)
                    where << QStringLiteral("$%1 регистр $%2").arg(hexText(s.address), hexText(r));
                return n;
            };
            if (writing && inRun && !lost)
                wrong += count((*image)[s.slot][r], now);
            else if (writing && inRun && lost)
                wrong += now == old || now == (*image)[s.slot][r] ? 0 : count(old, now);
            else
                wrong += count(old, now);   // nothing else may change
            if (!writing && inRun && !lost)
                wrong += count(old, (*read)[s.slot][r]);
        }
    }
    if (wrong) {
        t.wrong += wrong;
        dir.setAutoRemove(false);
        print(QStringLiteral("soak: WRONG BYTES %1 in run %2 (%3, seed %4, zuk_sim seed %5, rate %6, ticks %7): %8")
                  .arg(wrong)
                  .arg(runNo)
                  .arg(writing ? QStringLiteral("write") : QStringLiteral("read"))
                  .arg(set.seed)
                  .arg(simSeed)
                  .arg(rate)
                  .arg(tickList.join(QLatin1Char(',')), where.join(QStringLiteral(", "))));
        print(QStringLiteral("  replay: zuk_sim %1\n          zuk_2 %2\n  files kept in %3")
                  .arg(simArgs.join(QLatin1Char(' ')), toolArgs.join(QLatin1Char(' ')), dir.path()));
    }
    memory = *after;
    return true;
}

bool round(const Settings &set, double rate, long exchanges, std::mt19937 &rng, RegisterImage &memory,
           int &runNo, Totals &all)
{
    Totals t;
    while (t.exchanges < exchanges) {
        const bool writing = runNo % 2 == 1;
        if (!oneRun(set, runNo, set.seed * 100000u + quint32(runNo), rate, writing, rng, memory, t))
            return false;
        ++runNo;
    }
    print(QStringLiteral("soak: rate %1: runs %2, exchanges %3, faults injected %4, rows given up %5, wrong bytes %6")
              .arg(rate)
              .arg(t.runs)
              .arg(t.exchanges)
              .arg(t.faults)
              .arg(t.givenUp)
              .arg(t.wrong));
    all.runs += t.runs, all.exchanges += t.exchanges, all.faults += t.faults, all.givenUp += t.givenUp,
        all.wrong += t.wrong;
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Settings set;
    set.bin = QCoreApplication::applicationDirPath();
    long exchanges = 10000;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        bool ok = true;
        const QString &a = args[i];
        auto value = [&]() -> long {
            if (i + 1 >= args.size()) {
                ok = false;
                return 0;
            }
            return args[++i].toLong(&ok);
        };
        if (a == QLatin1String("--seed"))
            set.seed = quint32(value());
        else if (a == QLatin1String("--wait-unit-ms"))
            set.waitUnitMs = int(value());
        else if (a == QLatin1String("--late-ms"))
            set.lateMs = int(value());
        else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            print(QStringLiteral(
                "usage: zuk_soak [EXCHANGES] [--seed N] [--wait-unit-ms N] [--late-ms N]\n"
                "zuk_2 --read/--write against zuk_sim --fault-rate 0.1 for EXCHANGES exchanges (default 10000),\n"
                "then a fifth of them at 0.3; prints exchanges, faults injected, rows given up, wrong bytes.\n"
                "Exit status 0 when no byte was wrong, 1 when one was, 2 when a run could not be made."));
            return 0;
        } else
            exchanges = a.toLong(&ok);
        if (!ok || exchanges <= 0 || set.waitUnitMs <= 0 || set.lateMs < 0) {
            std::fprintf(stderr, "zuk_soak: bad argument %s (see --help)\n", qPrintable(a));
            return 2;
        }
    }

    std::mt19937 rng(set.seed);
    auto memory = std::make_unique<RegisterImage>();
    for (SlotImage &slot : *memory)
        for (ImageRow &row : slot)
            for (qint16 &b : row)
                b = static_cast<qint16>(std::uniform_int_distribution<int>(0, 255)(rng));
    Totals all;
    int runNo = 0;
    print(QStringLiteral("soak: seed %1, wait unit %2 ms, late answers %3 ms")
              .arg(set.seed)
              .arg(set.waitUnitMs)
              .arg(set.lateMs));
    if (!round(set, 0.1, exchanges, rng, *memory, runNo, all)
        || !round(set, 0.3, std::max(1L, exchanges / 5), rng, *memory, runNo, all))
        return 2;
    print(QStringLiteral("soak: exchanges %1, faults injected %2, rows given up %3, wrong bytes %4")
              .arg(all.exchanges)
              .arg(all.faults)
              .arg(all.givenUp)
              .arg(all.wrong));
    return all.wrong ? 1 : 0;
}
