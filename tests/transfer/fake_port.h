#pragma once
// A scripted bus for the transfer tests: it records every output piece and,
// once a request is complete, plays back the pieces that the responder returns,
// one receive event per piece, while the exchange waits.

#include "transfer/port.h"

#include <QByteArray>
#include <QTimer>
#include <functional>
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

}  // namespace zuk::test
