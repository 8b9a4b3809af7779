#pragma once
// A scripted bus for the transfer tests: it records every output piece and,
// once a request is complete, plays back the pieces that the responder returns,
// one receive event per piece, while the exchange waits.

#include "common/image_file.h"
#include "transfer/frames.h"
#include "transfer/port.h"

#include <QByteArray>
#include <QTimer>
#include <functional>
#include <map>
#include <vector>

namespace zuk::test {

class FakePort : public BusPort {
public:
    // Request bytes (all pieces joined) -> receive events to deliver.
    using Responder = std::function<std::vector<QByteArray>(const QByteArray &request)>;

    void output(const QByteArray &bytes) override
    {
        pieces.push_back(bytes);
        wire += bytes;
        pending_ += bytes;
        if (!scheduled_) {
            scheduled_ = true;
            // Runs only inside the exchange's wait: the request is complete then.
            QTimer::singleShot(0, [this] { respond(); });
        }
    }

    // Bytes delivered on the next event-loop turn regardless of any request.
    void deliverLater(const QByteArray &bytes)
    {
        QTimer::singleShot(0, [this, bytes] { deliver(bytes); });
    }

    Responder responder;
    std::vector<QByteArray> pieces;   // every output call
    QByteArray wire;                  // every byte sent
    std::vector<QByteArray> requests; // one per exchange

private:
    void respond()
    {
        scheduled_ = false;
        const QByteArray request = pending_;
        pending_.clear();
        requests.push_back(request);
        if (!responder)
            return;
        int delay = 0;
        for (const QByteArray &piece : responder(request))
            QTimer::singleShot(delay++, [this, piece] { deliver(piece); });
    }

    QByteArray pending_;
    bool scheduled_ = false;
};

// Splits bytes into pieces of the given sizes; the last size repeats.
inline std::vector<QByteArray> inPieces(const QByteArray &bytes, std::vector<int> sizes)
{
    std::vector<QByteArray> out;
    qsizetype pos = 0;
    size_t i = 0;
    while (pos < bytes.size()) {
        const int n = sizes[std::min(i, sizes.size() - 1)];
        out.push_back(bytes.mid(pos, n));
        pos += n;
        ++i;
    }
    return out;
}

inline QByteArray hexBytes(const char *hex)
{
    return QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
}

// Controllers behind the scripted port: their memory, and failures to inject.
struct Bus {
    std::map<int, SlotImage> memory;              // present controllers by address
    std::map<std::pair<int, int>, int> failures;  // (address, row) -> exchanges still to fail
    int exchanges = 0;

    std::vector<QByteArray> answer(const QByteArray &req)
    {
        ++exchanges;
        const int a = static_cast<std::uint8_t>(req[1]);
        const int cmd = req[2];
        const int r = static_cast<std::uint8_t>(req[3]);
        auto it = memory.find(a);
        if (it == memory.end())
            return {};
        if (int &left = failures[{a, r}]; left > 0) {
            --left;
            return {};
        }
        frames::RowData row{};
        if (cmd == frames::kWriteCommand) {
            int p = 4;
            for (int k = 0; k < 8; ++k) {
                row[k] = static_cast<std::uint8_t>(req[p]);
                p += row[k] == 0xF0 ? 2 : 1;
                it->second[r][k] = row[k];
            }
            return {frames::writeReply(a)};
        }
        for (int k = 0; k < 8; ++k)
            row[k] = static_cast<std::uint8_t>(it->second[r][k]);
        return inPieces(frames::readReply(a, r, row), {5, 8});
    }
};

}  // namespace zuk::test
