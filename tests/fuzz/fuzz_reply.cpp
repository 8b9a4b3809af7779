// Reply collection and judging of exchanges fed arbitrary receive events: any
// number of events, of any size, holding any bytes, some before the request,
// the rest during the exchange's wait. An exchange that accepts a reply must
// have received exactly that reply: checked here from the bytes delivered,
// without the exchange's own judging.
#include "bus/exchange.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// Delivers its script of receive events, all of them inside the wait of the
// exchange that follows the request.
class ScriptedPort : public zuk::BusPort {
public:
    std::vector<QByteArray> during;
    QByteArray delivered;   // bytes delivered since the request was complete

    void output(const QByteArray &) override {}
    void endRequest() override
    {
        delivered.clear();
        reportWritten();
        QTimer::singleShot(0, [this] {
            for (const QByteArray &event : during) {
                delivered += event;
                deliver(event);
            }
            during.clear();
        });
    }
    void deliverNow(const QByteArray &bytes) { deliver(bytes); }
};

// Whether the first bytes received form a read reply of address/reg carrying
// data: header, every data byte (an F0 followed by any one byte), checksum.
bool isReadReply(const QByteArray &got, int address, int reg, const zuk::frames::RowData &data)
{
    const QByteArray rx = got.left(zuk::BusExchange::kCollected);
    auto at = [&rx](qsizetype i) { return i < rx.size() ? int(std::uint8_t(rx[i])) : -1; };
    if (at(0) != 0xF8 || at(1) != address || at(2) != 0x07 || at(3) != reg)
        return false;
    int sum = address + 0x07 + reg;
    qsizetype p = 4;
    for (std::uint8_t d : data) {
        if (at(p) != d)
            return false;
        sum += d;
        ++p;
        if (d == 0xF0) {
            if (at(p) < 0)
                return false;
            sum += at(p);
            ++p;
        }
    }
    return at(p) == sum % 256;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, size_t size)
{
    FuzzedDataProvider in(bytes, size);
    ScriptedPort port;
    zuk::BusExchange bus(port);
    bus.setWaitUnitMs(1);
    bus.setSettleMs(0);   // the quiet time after an anomaly would only slow the fuzzer down
    for (int exchange = 0; exchange < 4 && in.remaining_bytes() > 0; ++exchange) {
        const bool write = in.ConsumeBool();
        const int address = in.ConsumeIntegralInRange<int>(0, 0xEF);
        const int reg = in.ConsumeIntegralInRange<int>(0, 63);
        zuk::frames::RowData row{};
        if (write)
            for (std::uint8_t &b : row)
                b = in.ConsumeIntegral<std::uint8_t>();
        // Events before the request: stray bytes while no exchange runs.
        const int before = in.ConsumeIntegralInRange<int>(0, 2);
        for (int e = 0; e < before; ++e)
            port.deliverNow(QByteArray::fromStdString(in.ConsumeRandomLengthString(40)));
        const int events = in.ConsumeIntegralInRange<int>(0, 8);
        for (int e = 0; e < events; ++e)
            port.during.push_back(QByteArray::fromStdString(in.ConsumeRandomLengthString(40)));

        if (write) {
            if (bus.writeExchange(address, reg, row)) {
                const QByteArray &got = port.delivered;
                check(got.size() >= 3 && std::uint8_t(got[0]) == 0xF8 && std::uint8_t(got[1]) == address
                      && got[2] == 0x01);
            }
        } else {
            zuk::frames::RowData data{};
            if (bus.readExchange(address, reg, &data))
                check(isReadReply(port.delivered, address, reg, data));
        }
        check(bus.receiveCount() <= zuk::BusExchange::kCollected);
    }
    return 0;
}
