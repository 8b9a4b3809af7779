// zuk_sim: a simulated installation on a pseudo-terminal.

#include "common/files.h"
#include "sim/sim_core.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
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
    int lineSpeed = 0;       // baud; 0: bytes move at once, as the pty moves them
    int answerDelayMs = 0;
    bool echo = false;       // every byte received goes straight back, as a half-duplex adapter does
    int vanishAfter = 0;     // close the pseudo-terminal after this many requests; 0: never
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
        if (a == QLatin1String("--echo")) {
            opt.echo = true;
            continue;
        }
        static const QStringList withValue = {"--image", "--present", "--link", "--save", "--log",
                                              "--fault", "--seed", "--fault-rate", "--late-ms",
                                              "--line-speed", "--answer-delay-ms", "--vanish-after"};
        if (!withValue.contains(a))
            return usageError(QStringLiteral("unknown argument \"%1\"").arg(a));
        if (i + 1 >= argc)
            return usageError(QStringLiteral("%1 needs a value").arg(a));
        const QString v = QString::fromLocal8Bit(argv[++i]);
        bool ok = true;
        QString error;
        auto intIn = [&](int *out, int low, int high) {
            *out = v.toInt(&ok);
            ok = ok && *out >= low && *out <= high;
        };
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
            intIn(&opt.lateMs, 0, INT_MAX);
        } else if (a == QLatin1String("--line-speed")) {
            intIn(&opt.lineSpeed, 50, 4000000);
        } else if (a == QLatin1String("--vanish-after")) {
            intIn(&opt.vanishAfter, 1, INT_MAX);
        } else if (a == QLatin1String("--answer-delay-ms")) {
            intIn(&opt.answerDelayMs, 0, 60000);
        }
        if (!ok)
            return usageError(QStringLiteral("bad value \"%1\" for %2").arg(v, a));
    }
    if (haveSeed != haveRate)
        return usageError(QStringLiteral("--seed and --fault-rate go together"));
    if (QString error; !opt.save.isEmpty() && !checkSavePath(opt.save, &error))
        return usageError(error);

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

    // Times in the loop are microseconds since the start.
    QElapsedTimer clock;
    clock.start();
    auto nowUs = [&clock] { return clock.nsecsElapsed() / 1000; };
    RequestParser parser;
    OutputQueue queue;      // answers, by when they are handed to the line
    const bool paced = opt.lineSpeed > 0;
    LinePace toSim(paced ? opt.lineSpeed : 1), fromSim(paced ? opt.lineSpeed : 1);
    std::deque<std::pair<qint64, char>> onLine;   // paced: each byte with when it has arrived
    const qint64 answerDelayUs = qint64(opt.answerDelayMs) * 1000;
    qint64 lastOutUs = -1;   // when bytes last went to the device, -1 after a flush
    constexpr qint64 kIdleFlushUs = 500'000;
    bool running = true;

    bool corruptEcho = false;   // a request just completed wants its echo spoilt
    int requestsSeen = 0;
    auto answerAt = [&](const std::vector<Request> &requests, qint64 atUs) {
        for (const Request &r : requests) {
            if (logFile.isOpen()) {
                logFile.write(hexLine(r.wire).toLatin1() + '\n');
                logFile.flush();
            }
            bool spoilEcho = false;
            std::vector<Delivery> answer = inst.answer(r, &spoilEcho);
            for (Delivery &d : answer)
                d.delayMs *= 1000;   // the queue counts in microseconds here
            queue.add(atUs + answerDelayUs, answer);
            corruptEcho = corruptEcho || spoilEcho;
            ++requestsSeen;
        }
    };

    while (running) {
        const qint64 now = nowUs();
        qint64 wake = -1;
        if (!queue.empty())
            wake = queue.nextMs();
        if (!onLine.empty())
            wake = wake < 0 ? onLine.front().first : std::min(wake, onLine.front().first);
        if (wake < 0 && lastOutUs >= 0)
            wake = lastOutUs + kIdleFlushUs;
        timespec timeout{};
        if (wake >= 0) {
            const qint64 us = std::max<qint64>(0, wake - now);
            timeout.tv_sec = us / 1'000'000;
            timeout.tv_nsec = (us % 1'000'000) * 1000;
        }

        pollfd fds[2] = {{master, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
        const int n = ::ppoll(fds, 2, wake >= 0 ? &timeout : nullptr, nullptr);
        if (n < 0 && errno != EINTR)
            break;
        if (fds[1].revents & POLLIN)
            running = false;

        if (fds[0].revents & POLLIN) {
            char buf[512];
            const ssize_t got = ::read(master, buf, sizeof buf);
            if (got > 0) {
                const qint64 at = nowUs();
                std::vector<Request> requests;
                QByteArray echo;
                // Byte by byte: a request is in when its last byte would have
                // come over the line (at once when the line is not paced), and
                // its echo is the received bytes, the last one spoilt when a
                // fault says so.
                for (ssize_t i = 0; i < got; ++i) {
                    const qint64 arrived = paced ? toSim.pass(at) : at;
                    corruptEcho = false;
                    parser.feed(QByteArray(1, buf[i]), arrived / 1000, &requests);
                    answerAt(requests, arrived);
                    requests.clear();
                    const char back = corruptEcho ? char(buf[i] ^ 0x01) : buf[i];
                    if (opt.echo && paced)
                        onLine.emplace_back(fromSim.pass(arrived), back);
                    else if (opt.echo)
                        echo.append(back);
                }
                if (!echo.isEmpty()) {
                    writeAll(master, echo);
                    lastOutUs = nowUs();
                }
            }
        }
        if (opt.vanishAfter > 0 && requestsSeen >= opt.vanishAfter) {
            // The adapter is pulled out: the line is gone for whoever has it open.
            ::close(master);
            ::close(slave);
            master = slave = -1;
            if (!opt.link.isEmpty())
                ::unlink(QFile::encodeName(opt.link).constData());
            pollfd sig{signalPipe[0], POLLIN, 0};
            while (::poll(&sig, 1, -1) < 0 && errno == EINTR) {
            }
            break;
        }

        qint64 t = nowUs();
        const QByteArray due = queue.takeDue(t);
        if (!paced && !due.isEmpty()) {
            writeAll(master, due);
            lastOutUs = t;
        }
        for (char c : due)
            if (paced)
                onLine.emplace_back(fromSim.pass(t), c);
        if (!onLine.empty()) {
            QByteArray arrived;
            t = nowUs();
            while (!onLine.empty() && onLine.front().first <= t) {
                arrived.append(onLine.front().second);
                onLine.pop_front();
            }
            if (!arrived.isEmpty()) {
                writeAll(master, arrived);
                lastOutUs = t;
            }
        }
        // Bytes nobody read (no program has the device open) must not reach
        // the next program that opens it.
        if (queue.empty() && onLine.empty() && lastOutUs >= 0 && t - lastOutUs >= kIdleFlushUs) {
            ::tcflush(slave, TCIFLUSH);
            lastOutUs = -1;
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
    if (slave >= 0)
        ::close(slave);
    if (master >= 0)
        ::close(master);
    return rc;
}
