// The simulator's request parser on an arbitrary stream cut into arbitrary
// receive events at arbitrary times, and the installation's answer to every
// request it finds. Each request reported must be what its wire bytes say.
#include "sim/core/sim_core.h"

#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

void checkRequest(const zuk::sim::Request &r)
{
    const QByteArray &w = r.wire;
    auto at = [&w](qsizetype i) { return int(std::uint8_t(w[i])); };
    check(w.size() >= 5 && at(0) == 0xF0 && at(1) == r.address && at(3) == r.reg);
    check(r.address != 0xF0 && r.reg != 0xF0);
    int sum = 0;
    for (qsizetype i = 1; i + 1 < w.size(); ++i)
        sum += at(i);
    check(r.checksumOk == (sum % 256 == at(w.size() - 1)));
    if (r.kind == zuk::sim::Request::Kind::Read) {
        check(at(2) == 0x07 && w.size() == 5);
        return;
    }
    check(at(2) == 0x08);
    qsizetype p = 4;
    for (std::uint8_t d : r.data) {
        check(p < w.size() - 1 && at(p) == d);
        p += d == 0xF0 ? 2 : 1;
    }
    check(p == w.size() - 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, size_t size)
{
    FuzzedDataProvider in(bytes, size);
    zuk::sim::Installation inst;
    inst.present.fill(true);
    inst.setRandomFaults(in.ConsumeIntegral<quint32>(), in.ConsumeProbability<double>() * 0.5, 30);
    zuk::sim::RequestParser parser;
    qint64 now = 0;
    while (in.remaining_bytes() > 0) {
        now += in.ConsumeIntegralInRange<int>(0, 300);
        const QByteArray chunk = QByteArray::fromStdString(in.ConsumeRandomLengthString(64));
        std::vector<zuk::sim::Request> requests;
        parser.feed(chunk, now, &requests);
        for (const zuk::sim::Request &r : requests) {
            checkRequest(r);
            for (const zuk::sim::Delivery &d : inst.answer(r))
                check(d.delayMs >= 0);
        }
    }
    return 0;
}
