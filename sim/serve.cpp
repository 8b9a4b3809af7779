#include "sim/serve.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace zuk::sim {

namespace {

// Bytes nobody read this long after they were written (no program has the
// device open) are flushed, so they never reach the next program.
constexpr qint64 kIdleFlushUs = 500'000;

class Server {
public:
    Server(const SimOptions &o, Installation &inst, Pty &pty, QFile *log, QFile *bytesLog)
        : opt_(o), inst_(inst), pty_(pty), log_(log), bytesLog_(bytesLog), paced_(o.lineSpeed > 0),
          toSim_(paced_ ? o.lineSpeed : 1), fromSim_(paced_ ? o.lineSpeed : 1),
          answerDelayUs_(qint64(o.answerDelayMs) * 1000)
    {
        clock_.start();
    }

    void run(int signalFd)
    {
        for (;;) {
            pollfd fds[2] = {{pty_.master, POLLIN, 0}, {signalFd, POLLIN, 0}};
            const qint64 wake = nextWakeUs();
            timespec timeout{};
            if (wake >= 0) {
                const qint64 us = std::max<qint64>(0, wake - nowUs());
                timeout.tv_sec = us / 1'000'000;
                timeout.tv_nsec = (us % 1'000'000) * 1000;
            }
            const int n = ::ppoll(fds, 2, wake >= 0 ? &timeout : nullptr, nullptr);
            if ((n < 0 && errno != EINTR) || (fds[1].revents & POLLIN))
                return;
            if (fds[0].revents & POLLIN)
                receive();
            if (opt_.vanishAfter > 0 && requestsSeen_ >= opt_.vanishAfter) {
                vanish(signalFd);
                return;
            }
            send();
        }
    }

private:
    qint64 nowUs() const { return clock_.nsecsElapsed() / 1000; }

    // "0.412006 < F0 80 07 03 8A": received ('<') or sent ('>') bytes.
    void logBytes(char marker, const QByteArray &bytes)
    {
        if (!bytesLog_)
            return;
        const qint64 us = nowUs();
        bytesLog_->write(QByteArray::number(us / 1'000'000) + '.'
                         + QByteArray::number(us % 1'000'000).rightJustified(6, '0') + ' ' + marker + ' '
                         + bytes.toHex(' ').toUpper() + '\n');
        bytesLog_->flush();
    }

    // Bytes onto the line.
    void put(const QByteArray &bytes)
    {
        if (writeAll(pty_.master, bytes))
            logBytes('>', bytes);
    }

    // When the loop must wake without input: the next answer due, the next
    // paced byte, or the idle flush.
    qint64 nextWakeUs() const
    {
        qint64 wake = -1;
        if (!queue_.empty())
            wake = queue_.nextUs();
        if (!onLine_.empty())
            wake = wake < 0 ? onLine_.front().first : std::min(wake, onLine_.front().first);
        if (wake < 0 && lastOutUs_ >= 0)
            wake = lastOutUs_ + kIdleFlushUs;
        return wake;
    }

    void answer(const std::vector<Request> &requests, qint64 atUs)
    {
        for (const Request &r : requests) {
            if (log_) {
                log_->write(hexLine(r.wire).toLatin1() + '\n');
                log_->flush();
            }
            bool spoilEcho = false;
            queue_.add(atUs + answerDelayUs_, inst_.answer(r, &spoilEcho));
            corruptEcho_ = corruptEcho_ || spoilEcho;
            ++requestsSeen_;
        }
    }

    // Byte by byte: a request is in when its last byte would have come over
    // the line (at once when the line is not paced), and its echo is the
    // received bytes, the last one spoilt when a fault says so.
    void receive()
    {
        char buf[512];
        const ssize_t got = ::read(pty_.master, buf, sizeof buf);
        if (got <= 0)
            return;
        logBytes('<', QByteArray(buf, got));
        const qint64 at = nowUs();
        QByteArray echo;
        for (ssize_t i = 0; i < got; ++i) {
            const qint64 arrivedUs = paced_ ? toSim_.pass(at) : at;
            corruptEcho_ = false;
            std::vector<Request> requests;
            parser_.feed(QByteArray(1, buf[i]), arrivedUs / 1000, &requests);
            answer(requests, arrivedUs);
            const char back = corruptEcho_ ? char(buf[i] ^ 0x01) : buf[i];
            if (opt_.echo && paced_)
                onLine_.emplace_back(fromSim_.pass(arrivedUs), back);
            else if (opt_.echo)
                echo.append(back);
        }
        if (!echo.isEmpty()) {
            put(echo);
            lastOutUs_ = nowUs();
        }
    }

    void send()
    {
        qint64 t = nowUs();
        const QByteArray due = queue_.takeDue(t);
        if (!paced_ && !due.isEmpty()) {
            put(due);
            lastOutUs_ = t;
        }
        for (char c : due)
            if (paced_)
                onLine_.emplace_back(fromSim_.pass(t), c);
        if (!onLine_.empty()) {
            QByteArray arrived;
            t = nowUs();
            while (!onLine_.empty() && onLine_.front().first <= t) {
                arrived.append(onLine_.front().second);
                onLine_.pop_front();
            }
            if (!arrived.isEmpty()) {
                put(arrived);
                lastOutUs_ = t;
            }
        }
        if (queue_.empty() && onLine_.empty() && lastOutUs_ >= 0 && t - lastOutUs_ >= kIdleFlushUs) {
            ::tcflush(pty_.slave, TCIFLUSH);
            lastOutUs_ = -1;
        }
    }

    // The adapter is pulled out: the line is gone for whoever has it open.
    void vanish(int signalFd)
    {
        closePty(&pty_);
        if (!opt_.link.isEmpty())
            ::unlink(QFile::encodeName(opt_.link).constData());
        pollfd sig{signalFd, POLLIN, 0};
        while (::poll(&sig, 1, -1) < 0 && errno == EINTR) {
        }
    }

    const SimOptions &opt_;
    Installation &inst_;
    Pty &pty_;
    QFile *log_;
    QFile *bytesLog_;
    const bool paced_;
    LinePace toSim_, fromSim_;
    const qint64 answerDelayUs_;
    QElapsedTimer clock_;
    RequestParser parser_;
    OutputQueue queue_;                           // answers, by when they are handed to the line
    std::deque<std::pair<qint64, char>> onLine_;   // paced: each byte with when it has arrived
    qint64 lastOutUs_ = -1;                       // when bytes last went out, -1 after a flush
    bool corruptEcho_ = false;                    // a request just completed wants its echo spoilt
    int requestsSeen_ = 0;
};

}  // namespace

void serve(const SimOptions &options, Installation &installation, Pty &pty, int signalFd, QFile *log,
           QFile *bytesLog)
{
    Server(options, installation, pty, log, bytesLog).run(signalFd);
}

}  // namespace zuk::sim
