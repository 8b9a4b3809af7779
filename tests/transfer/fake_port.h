#pragma once
// A scripted port that plays back, during the exchange's wait, the receive
// events its responder returns; controllers behind it with injected failures.

#include "common/image_file.h"
#include "transfer/frames.h"
#include "transfer/port.h"

#include <QApplication>
#include <QTimer>
#include <utility>
#include <functional>
#include <map>
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
        QTimer::singleShot(0, &alive_, [this] {
            reportWritten();
            respond();
        });
    }
    void deliverIn(int ms, const QByteArray &bytes)
    {
        QTimer::singleShot(ms, &alive_, [this, bytes] { deliver(bytes); });
    }
    void lose(const QString &reason) { reportLost(reason); }   // the adapter pulled out

private:
    void respond()
    {
        requests.push_back(std::exchange(pending_, {}));
        int delay = 0;
        for (const QByteArray &piece : responder ? responder(requests.back()) : std::vector<QByteArray>{})
            deliverIn(delay++, piece);
    }
    QByteArray pending_;
    QObject alive_;   // what is still to come dies with the port
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

// Memory of the present controllers; per (address, row) exchanges left
// unanswered, and writes acknowledged without being stored.
struct Bus {
    std::map<int, SlotImage> memory;
    std::map<std::pair<int, int>, int> failures, noStore;
    int exchanges = 0;

    std::vector<QByteArray> answer(const QByteArray &req)
    {
        ++exchanges;
        const int a = std::uint8_t(req[1]), r = std::uint8_t(req[3]);
        auto it = memory.find(a);
        if (it == memory.end() || failures[{a, r}]-- > 0)
            return {};
        frames::RowData row{};
        if (req[2] == frames::kWriteCommand) {
            const bool store = noStore[{a, r}]-- <= 0;
            for (int k = 0, p = 4; k < 8; p += row[k] == 0xF0 ? 2 : 1, ++k)
                if (row[k] = std::uint8_t(req[p]); store)
                    it->second[r][k] = row[k];
            return {frames::writeReply(a)};
        }
        for (int k = 0; k < 8; ++k)
            row[k] = std::uint8_t(it->second[r][k]);
        return inPieces(frames::readReply(a, r, row), {5, 8});
    }
};

inline SlotImage pattern(int seed)
{
    SlotImage s{};
    for (int i = 0; i < kMaxRows * 8; ++i)
        s[i / 8][i % 8] = qint16((seed * 31 + i * 7 + 1) % 256);
    return s;
}

}  // namespace zuk::test
