#pragma once
// Helpers of the integration tests: zuk_sim and zuk_2 as real processes, a
// temporary folder with a copy of the sample image, and image comparisons.

#include "common/image_file.h"
#include "transfer/frames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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

}  // namespace zuk::itest
