// zuk_sim: a simulated installation on a pseudo-terminal.

#include "sim/sim_core.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

using namespace zuk;
using namespace zuk::sim;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
}

int usageError(const QString &text)
{
    std::fprintf(stderr, "zuk_sim: %s\n(see zuk_sim --help)\n", qPrintable(text));
    return 2;
}

struct Options {
    QString image, present, link, save, log;
    std::vector<Fault> faults;
    bool randomFaults = false;
    quint32 seed = 1;
    double rate = 0;
    int lateMs = 500;
};

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, bytes.size() - done);
        if (n > 0) {
            done += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 50);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    Options opt;
    bool haveSeed = false, haveRate = false;
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(qPrintable(helpText()), stdout);
            return 0;
        }
        static const QStringList withValue = {"--image", "--present", "--link", "--save", "--log",
                                              "--fault", "--seed", "--fault-rate", "--late-ms"};
        if (!withValue.contains(a))
            return usageError(QStringLiteral("unknown argument \"%1\"").arg(a));
        if (i + 1 >= argc)
            return usageError(QStringLiteral("%1 needs a value").arg(a));
        const QString v = QString::fromLocal8Bit(argv[++i]);
        bool ok = true;
        QString error;
        if (a == QLatin1String("--image")) opt.image = v;
        else if (a == QLatin1String("--present")) opt.present = v;
        else if (a == QLatin1String("--link")) opt.link = v;
        else if (a == QLatin1String("--save")) opt.save = v;
        else if (a == QLatin1String("--log")) opt.log = v;
        else if (a == QLatin1String("--fault")) {
            if (!parseFaults(v, &opt.faults, &error))
                return usageError(error);
        } else if (a == QLatin1String("--seed")) {
            opt.seed = v.toUInt(&ok);
            haveSeed = true;
        } else if (a == QLatin1String("--fault-rate")) {
            opt.rate = v.toDouble(&ok);
            ok = ok && opt.rate >= 0 && opt.rate <= 1;
            haveRate = true;
        } else if (a == QLatin1String("--late-ms")) {
            opt.lateMs = v.toInt(&ok);
            ok = ok && opt.lateMs >= 0;
        }
        if (!ok)
            return usageError(QStringLiteral("bad value \"%1\" for %2").arg(v, a));
    }
    if (haveSeed != haveRate)
        return usageError(QStringLiteral("--seed and --fault-rate go together"));

    Installation inst;
    inst.faults = opt.faults;
    if (!opt.image.isEmpty()) {
        QString error;
        if (!inst.loadImage(opt.image, &error))
            return usageError(error);
        inst.presenceFromMarkers();
    }
    if (!opt.present.isEmpty()) {
        QString error;
        if (!parsePresence(opt.present, &inst.present, &error))
            return usageError(error);
    }
    if (haveRate)
        inst.setRandomFaults(opt.seed, opt.rate, opt.lateMs);

    QFile logFile;
    if (!opt.log.isEmpty()) {
        logFile.setFileName(opt.log);
        if (!logFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            return usageError(QStringLiteral("cannot open log %1: %2").arg(opt.log, logFile.errorString()));
    }

    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return usageError(QStringLiteral("openpty failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    termios tio{};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B19200);
    ::cfsetospeed(&tio, B19200);
    ::tcsetattr(slave, TCSANOW, &tio);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    // The slave stays open here too, so that a program closing the device
    // does not hang up the line and the next one can open it again.

    const QByteArray slavePath(name);
    if (!opt.link.isEmpty()) {
        const QByteArray link = QFile::encodeName(opt.link);
        if (QFileInfo(opt.link).isSymLink())
            ::unlink(link.constData());
        if (::symlink(name, link.constData()) != 0)
            return usageError(QStringLiteral("cannot make link %1: %2")
                                  .arg(opt.link, QString::fromLocal8Bit(std::strerror(errno))));
    }

    if (::pipe(signalPipe) != 0)
        return usageError(QStringLiteral("pipe failed"));
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("%s\n", name);
    std::fflush(stdout);

    QElapsedTimer clock;
    clock.start();
    RequestParser parser;
    OutputQueue queue;
    qint64 lastOutMs = -1;   // when bytes last went to the device, -1 after a flush
    constexpr qint64 kIdleFlushMs = 500;
    bool running = true;

    while (running) {
        const qint64 now = clock.elapsed();
        int timeout = -1;
        if (!queue.empty())
            timeout = static_cast<int>(std::max<qint64>(0, queue.nextMs() - now));
        else if (lastOutMs >= 0)
            timeout = static_cast<int>(std::max<qint64>(0, lastOutMs + kIdleFlushMs - now));

        pollfd fds[2] = {{master, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
        const int n = ::poll(fds, 2, timeout);
        if (n < 0 && errno != EINTR)
            break;
        if (fds[1].revents & POLLIN)
            running = false;

        if (fds[0].revents & POLLIN) {
            char buf[512];
            const ssize_t got = ::read(master, buf, sizeof buf);
            if (got > 0) {
                const qint64 at = clock.elapsed();
                std::vector<Request> requests;
                parser.feed(QByteArray(buf, got), at, &requests);
                for (const Request &r : requests) {
                    if (logFile.isOpen()) {
                        logFile.write(hexLine(r.wire).toLatin1() + '\n');
                        logFile.flush();
                    }
                    queue.add(at, inst.answer(r));
                }
            }
        }

        const qint64 t = clock.elapsed();
        const QByteArray due = queue.takeDue(t);
        if (!due.isEmpty()) {
            writeAll(master, due);
            lastOutMs = t;
        }
        // Bytes nobody read (no program has the device open) must not reach
        // the next program that opens it.
        if (queue.empty() && lastOutMs >= 0 && t - lastOutMs >= kIdleFlushMs) {
            ::tcflush(slave, TCIFLUSH);
            lastOutMs = -1;
        }
    }

    if (haveRate)
        std::fprintf(stderr, "zuk_sim: random faults injected: %d\n", inst.randomFaultsInjected);
    int rc = 0;
    if (!opt.save.isEmpty()) {
        QString error;
        if (!saveFileAtomically(opt.save, imageFileBytes(inst.memory), &error)) {
            std::fprintf(stderr, "zuk_sim: %s\n", qPrintable(error));
            rc = 1;
        }
    }
    if (!opt.link.isEmpty() && QFileInfo(opt.link).symLinkTarget() == QFile::decodeName(slavePath))
        ::unlink(QFile::encodeName(opt.link).constData());
    ::close(slave);
    ::close(master);
    return rc;
}
