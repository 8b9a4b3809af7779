#pragma once
// A scripted port that plays back, during the exchange's wait, the receive
// events its responder returns; the simulator's controllers behind it. On a
// virtual clock (the exchanges' and the runs' tests) the replies are due at
// virtual times; without one (the window's tests) Qt's timers deliver them.

#include "common/image_file.h"
#include "sim/core/sim_core.h"
#include "protocol/frames.h"
#include "bus/port.h"
#include "virtual_clock.h"

#include <QApplication>
#include <QTimer>
#include <utility>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

// Failed expectations on texts show the texts.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace zuk::test {

inline void ensureApp()
{
    static int argc = 1;
    static char *argv[] = {const_cast<char *>("test_transfer"), nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!QCoreApplication::instance())
        new QApplication(argc, argv);
}

class FakePort : public BusPort {
public:
    explicit FakePort(VirtualClock *clock = nullptr) : clock_(clock) {}
    std::function<std::vector<QByteArray>(const QByteArray &request)> responder;
    std::vector<QByteArray> pieces, requests;   // every output call; every whole request

    void output(const QByteArray &bytes) override
    {
        pieces.push_back(bytes);
        pending_ += bytes;
    }
    // The request is handed to the line from the event loop, so that bytes
    // already due (deliverIn(0, ...) before the request) come in ahead of it.
    void endRequest() override
    {
        later(0, [this] {
            reportWritten();
            respond();
        });
    }
    void deliverIn(int ms, const QByteArray &bytes)
    {
        later(ms, [this, bytes] { deliver(bytes); });
    }
    void lose(const QString &reason) { reportLost(reason); }   // the adapter pulled out

private:
    void later(int ms, std::function<void()> f)
    {
        if (!clock_) {
            QTimer::singleShot(ms, &alive_, std::move(f));
            return;
        }
        clock_->after(ms, [alive = std::weak_ptr<int>(token_), f = std::move(f)] {
            if (alive.lock())
                f();
        });
    }
    void respond()
    {
        requests.push_back(std::exchange(pending_, {}));
        int delay = 0;
        for (const QByteArray &piece : responder ? responder(requests.back()) : std::vector<QByteArray>{})
            deliverIn(delay++, piece);
    }
    VirtualClock *clock_;
    QByteArray pending_;
    QObject alive_;   // what is still to come dies with the port
    std::shared_ptr<int> token_ = std::make_shared<int>();   // the same on the virtual clock
};

// Splits bytes into pieces of the given sizes; the last size repeats.
inline std::vector<QByteArray> inPieces(const QByteArray &bytes, std::vector<int> sizes)
{
    std::vector<QByteArray> out;
    for (qsizetype pos = 0, i = 0; pos < bytes.size(); pos += out.back().size(), ++i)
        out.push_back(bytes.mid(pos, sizes[std::min<size_t>(i, sizes.size() - 1)]));
    return out;
}

inline QByteArray hexBytes(const char *hex) { return QByteArray::fromHex(QByteArray(hex).replace(' ', "")); }

// The controllers behind the port: the simulator's installation, with none
// present until its memory is given. The pieces of an answer come 1 ms apart
// from the port; the simulator's own delays (late, pieces) are not played.
struct Bus {
    Bus() { installation.present.fill(false); }

    // The memory of the controller at address, which answers from now on.
    SlotImage &memory(int address)
    {
        installation.present[slotOfAddress(address)] = true;
        return installation.memory[slotOfAddress(address)];
    }
    // The next `requests` requests of the row, reads and writes alike, get
    // the fault from now on (-1: all of them).
    void fault(int address, int row, int requests, sim::FaultKind kind)
    {
        installation.faults.push_back({address, row, requests, kind});
    }
    void fail(int address, int row, int requests) { fault(address, row, requests, sim::FaultKind::Silent); }
    void clearFaults()   // no faults from now on, nor their counts of requests
    {
        sim::Installation next;
        next.memory = installation.memory;
        next.present = installation.present;
        installation = next;
    }

    std::vector<QByteArray> answer(const QByteArray &request)
    {
        ++exchanges;
        std::vector<sim::Request> got;
        sim::RequestParser().feed(request, 0, &got);
        std::vector<QByteArray> pieces;
        if (got.size() == 1)
            for (const sim::Delivery &d : installation.answer(got[0]))
                pieces.push_back(d.bytes);
        return pieces;
    }

    sim::Installation installation;
    int exchanges = 0;   // requests seen, answered or not
};

inline SlotImage pattern(int seed)
{
    SlotImage s{};
    for (int i = 0; i < kMaxRows * 8; ++i)
        s[i / 8][i % 8] = qint16((seed * 31 + i * 7 + 1) % 256);
    return s;
}

}  // namespace zuk::test
