#pragma once
// Helpers of the integration tests: zuk_sim and zuk_2 as real processes, a
// temporary folder with a copy of the sample image, and image comparisons.

#include "common/image_file.h"
#include "protocol/frames.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <array>
#include <memory>

namespace zuk::itest {

inline void ensureApp()
{
    static int argc = 1;
    static char name[] = "test_integration";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

inline QString bin(const char *program) { return QStringLiteral(ZUK_BIN_DIR "/") + QLatin1String(program); }
inline QString sampleImage() { return QStringLiteral(ZUK_SOURCE_DIR "/examples/installation/zuk.txt"); }

inline RegisterImage loadOrFail(const QString &path)
{
    RegisterImage image{};
    const ImageLoadResult r = loadImageFile(path, image);
    EXPECT_TRUE(r.ok) << path.toStdString() << ": " << r.failure.toStdString();
    return image;
}

inline frames::RowData rowBytes(const ImageRow &row)
{
    frames::RowData d{};
    for (int i = 0; i < kRowBytes; ++i)
        d[i] = static_cast<std::uint8_t>(row[i]);
    return d;
}

inline QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

// Compares two files' bytes, naming the first line that differs.
inline testing::AssertionResult sameBytes(const QByteArray &actual, const QByteArray &expected)
{
    if (actual == expected)
        return testing::AssertionSuccess();
    const QList<QByteArray> a = actual.split('\n'), e = expected.split('\n');
    for (qsizetype i = 0; i < std::max(a.size(), e.size()); ++i) {
        const QByteArray x = i < a.size() ? a[i] : QByteArray("<end>");
        const QByteArray y = i < e.size() ? e[i] : QByteArray("<end>");
        if (x != y)
            return testing::AssertionFailure() << "line " << i + 1 << ": got \"" << x.trimmed().toHex(' ').toStdString()
                                               << "\", expected \"" << y.trimmed().toHex(' ').toStdString() << "\"";
    }
    return testing::AssertionFailure() << "sizes differ";
}

// A running zuk_sim in its own temporary folder; stop() ends it with SIGTERM
// so that it saves its memory (sim.txt) and its request log (log.txt) stays.
class Sim {
public:
    explicit Sim(QStringList args)
    {
        ensureApp();
        savePath = dir.filePath(QStringLiteral("sim.txt"));
        logPath = dir.filePath(QStringLiteral("log.txt"));
        args << QStringLiteral("--save") << savePath << QStringLiteral("--log") << logPath;
        proc.start(bin("zuk_sim"), args);
        if (proc.waitForStarted(5000) && proc.waitForReadyRead(5000))
            device = QString::fromLocal8Bit(proc.readLine()).trimmed();
    }
    ~Sim() { stop(); }

    bool ok() const { return !device.isEmpty(); }

    // Ends the simulator; true when it saved and exited cleanly.
    bool stop()
    {
        if (proc.state() == QProcess::NotRunning)
            return stopped;
        proc.terminate();
        stopped = proc.waitForFinished(5000) && proc.exitStatus() == QProcess::NormalExit && proc.exitCode() == 0;
        if (!stopped)
            proc.kill();
        proc.waitForFinished(2000);
        return stopped;
    }

    // Request lines logged so far.
    std::vector<std::string> log() const
    {
        std::vector<std::string> out;
        for (const QByteArray &l : fileBytes(logPath).split('\n'))
            if (!l.isEmpty())
                out.push_back(l.toStdString());
        return out;
    }

    QTemporaryDir dir;
    QProcess proc;
    QString device, savePath, logPath;
    bool stopped = false;
};

struct ToolRun {
    int exitCode = -1;
    QStringList lines;   // stdout, one status text per line
    QString err;
};

// Runs zuk_2 to its end, in workDir when given. zuk_2 remembers the folder
// given with --dir in its settings under configDir (XDG_CONFIG_HOME), by
// default a folder of the test program's, never the user's.
inline ToolRun runTool(const QStringList &args, int timeoutMs = 60000, const QString &workDir = {},
                       const QString &configDir = {})
{
    ensureApp();
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    static QTemporaryDir config;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir.isEmpty() ? config.path() : configDir);
    p.setProcessEnvironment(env);
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.start(bin("zuk_2"), args);
    ToolRun r;
    if (!p.waitForStarted(5000))
        return r;
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        r.err = QStringLiteral("timed out");
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    QString out = QString::fromUtf8(p.readAllStandardOutput());
    out.remove(QLatin1Char('\r'));
    r.lines = out.split(QLatin1Char('\n'));
    if (!r.lines.isEmpty() && r.lines.back().isEmpty())
        r.lines.removeLast();
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// A memory unlike the sample's, every marker set, some data bytes F0.
inline RegisterImage simMemory()
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
inline std::unique_ptr<Sim> startSim(const RegisterImage &m, QStringList extra = {})
{
    static QTemporaryDir images;
    static int n = 0;
    const QString file = images.filePath(QStringLiteral("sim-%1.txt").arg(++n));
    writeFile(file, imageFileBytes(m));
    auto sim = std::make_unique<Sim>(QStringList{QStringLiteral("--image"), file} + extra);
    EXPECT_TRUE(sim->ok());
    return sim;
}

// A local TCP port that nothing listens on (as far as one can tell).
inline quint16 freeLocalPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

// Debian's ser2net in front of a device, from a YAML file of its own on
// free local ports: raw TCP, Telnet with the COM-PORT option (RFC 2217), or
// both at once on two ports of the one device, as a gateway is often set up.
class Ser2net {
public:
    enum Mode { Raw, Telnet, Both };

    static QString binary()
    {
        return QStandardPaths::findExecutable(QStringLiteral("ser2net"),
                                              {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"),
                                               QStringLiteral("/usr/bin"), QStringLiteral("/usr/local/bin")});
    }

    Ser2net(const QString &device, Mode mode) : mode_(mode)
    {
        QTcpServer rawProbe, telnetProbe;   // both held at once: two different ports
        rawProbe.listen(QHostAddress::LocalHost);
        telnetProbe.listen(QHostAddress::LocalHost);
        ports_ = {rawProbe.serverPort(), telnetProbe.serverPort()};
        rawProbe.close();
        telnetProbe.close();
        QString yaml = QStringLiteral("%YAML 1.1\n---\n");
        for (const Mode m : {Raw, Telnet})
            if (mode == m || mode == Both)
                yaml += QStringLiteral("connection: &bus%1\n  accepter: %2tcp,127.0.0.1,%3\n"
                                       "  connector: serialdev,%4,19200n81,local\n")
                            .arg(int(m))
                            .arg(m == Telnet ? QStringLiteral("telnet(rfc2217),") : QString())
                            .arg(ports_[m])
                            .arg(device);
        const QString config = dir_.filePath(QStringLiteral("ser2net.yaml"));
        writeFile(config, yaml.toUtf8());
        proc_.setProcessChannelMode(QProcess::MergedChannels);
        proc_.start(binary(), {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"), config,
                               QStringLiteral("-P"), dir_.filePath(QStringLiteral("ser2net.pid"))});
        if (!proc_.waitForStarted(5000))
            return;
        // Ready once the ports listen (a probe connection would itself
        // open the device).
        QElapsedTimer clock;
        clock.start();
        auto listening = [&](Mode m) {
            const QByteArray entry = QByteArray(":") + QByteArray::number(ports_[m], 16).toUpper().rightJustified(4, '0')
                                     + " 00000000:0000 0A";
            return (mode != m && mode != Both) || fileBytes(QStringLiteral("/proc/net/tcp")).contains(entry);
        };
        while (clock.elapsed() < 5000 && proc_.state() == QProcess::Running) {
            if (listening(Raw) && listening(Telnet)) {
                ready_ = true;
                return;
            }
            QThread::msleep(20);
        }
    }
    ~Ser2net() { kill(); }

    bool ok() const { return ready_; }
    // The name to give to --port (Both: the raw one unless told).
    QString url() const { return url(mode_ == Telnet ? Telnet : Raw); }
    QString url(Mode m) const
    {
        return QStringLiteral("%1://127.0.0.1:%2").arg(m == Telnet ? QStringLiteral("rfc2217") : QStringLiteral("tcp")).arg(ports_[m]);
    }
    QString output() { return QString::fromLocal8Bit(proc_.readAll()); }
    void kill()
    {
        if (proc_.state() == QProcess::NotRunning)
            return;
        proc_.kill();
        proc_.waitForFinished(5000);
    }

private:
    Mode mode_;
    std::array<quint16, 2> ports_{};
    bool ready_ = false;
    QTemporaryDir dir_;
    QProcess proc_;
};

}  // namespace zuk::itest
