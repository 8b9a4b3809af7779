#include "fake_port.h"
#include "bus/exchange.h"

#include <gtest/gtest.h>

using namespace zuk;
using namespace zuk::test;

namespace {

struct ExchangeTest : ::testing::Test {
    void SetUp() override { ensureApp(); }
    void replyWith(std::vector<QByteArray> events)
    {
        port.responder = [events](const QByteArray &) { return events; };
    }
    VirtualClock clock;
    FakePort port{&clock};
    BusExchange bus{port, &clock};
    frames::RowData got{};
    // Milliseconds an exchange took on the clock.
    template <typename F> qint64 timed(F exchange)
    {
        const qint64 start = clock.nowNs();
        exchange();
        return (clock.nowNs() - start) / VirtualClock::kMs;
    }
};

QByteArray withByte(QByteArray b, int at, int value)
{
    b[at] = char(value);
    return b;
}

}  // namespace

TEST_F(ExchangeTest, RequestsGoOutInTheirPieces)
{
    bus.setWaitUnitMs(5);
    EXPECT_FALSE(bus.readExchange(0x80, 3, &got));
    EXPECT_FALSE(bus.readExchange(0x90, 59, &got));
    EXPECT_FALSE(bus.writeExchange(0x01, 0, {0x01, 0xF0, 0, 0, 0, 0, 0, 0xFF}));
    EXPECT_EQ(port.requests, (std::vector<QByteArray>{hexBytes("F0 80 07 03 8A"), hexBytes("F0 90 07 3B D2"),
                                                      hexBytes("F0 01 08 00 01 F0 11 00 00 00 00 00 FF 0A")}));
    // Read: header, checksum. Write: header, each data and escape byte, checksum.
    ASSERT_EQ(port.pieces.size(), 2u + 2u + 11u);
    EXPECT_EQ(port.pieces[0], hexBytes("F0 80 07 03"));
    EXPECT_EQ(port.pieces[7], hexBytes("11"));
}

TEST_F(ExchangeTest, ReadRepliesCollectedFromPiecesOfAnySize)
{
    bus.setWaitUnitMs(50);
    const frames::RowData oneF0{0x10, 0xF0, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70}, twoF0{1, 0xF0, 2, 3, 0xF0, 4, 5, 6},
        allF0{0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0}, sumF0{0x69};   // 80 + 07 + 00 + 69 = F0
    const struct {
        int reg;
        frames::RowData data;
        std::vector<int> pieces;
        int size;
    } cases[] = {{3, oneF0, {64}, 14}, {3, oneF0, {1}, 14}, {5, {1, 2, 3, 4, 5, 6, 7, 8}, {5, 8}, 13},
                 {3, twoF0, {3, 7}, 15}, {3, allF0, {2}, 21},  {0, sumF0, {13}, 13}};
    for (const auto &c : cases) {
        const QByteArray reply = frames::readReply(0x80, c.reg, c.data, 0x55);
        replyWith(inPieces(reply, c.pieces));
        got = {};
        EXPECT_TRUE(bus.readExchange(0x80, c.reg, &got)) << reply.toHex(' ').toStdString();
        EXPECT_EQ(got, c.data);
        EXPECT_EQ(bus.receiveCount(), c.size);
    }
    EXPECT_EQ(frames::readReply(0x80, 3, oneF0), hexBytes("F8 80 07 03 10 F0 00 20 30 40 50 60 70 3A"));
}

// Whole replies to a read of $80 register 3 that are no right answer to it.
const frames::RowData kData{1, 2, 3, 4, 5, 6, 7, 8};
const QByteArray kGood = frames::readReply(0x80, 3, kData);
struct WrongReadReply : ExchangeTest, testing::WithParamInterface<std::pair<const char *, QByteArray>> {};

TEST_P(WrongReadReply, FailsTheRead)
{
    bus.setWaitUnitMs(40);
    replyWith({GetParam().second});
    EXPECT_FALSE(bus.readExchange(0x80, 3, &got)) << GetParam().second.toHex(' ').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Exchange, WrongReadReply,
                         testing::Values(std::pair{"OtherAddress", frames::readReply(0x81, 3, kData)},
                                         std::pair{"WriteCommandWithItsSum", withByte(withByte(kGood, 2, 0x08), 12, kGood[12] + 1)},
                                         std::pair{"WrongSum", withByte(kGood, 12, kGood[12] + 1)},
                                         std::pair{"OtherRegister", frames::readReply(0x80, 4, kData)},
                                         std::pair{"RequestStart", withByte(kGood, 0, 0xF0)},
                                         std::pair{"Empty", QByteArray()}),
                         [](const auto &info) { return std::string(info.param.first); });

TEST_F(ExchangeTest, TruncatedRepliesAndWrongAcknowledgementsFail)
{
    bus.setWaitUnitMs(40);
    const QByteArray &good = kGood;
    // A truncated reply fails although the buffer still holds the earlier one's tail.
    replyWith({good});
    ASSERT_TRUE(bus.readExchange(0x80, 3, &got));
    replyWith(inPieces(good.left(10), {4}));
    EXPECT_FALSE(bus.readExchange(0x80, 3, &got));
    replyWith({});   // no receive event at all
    EXPECT_FALSE(bus.readExchange(0x80, 3, &got));
    for (const auto &[reply, ok] : {std::pair{"F8 07 01", true}, {"F8 07 01 AA", true}, {"F8 06 01", false},
                                    {"F8 07 07", false}, {"F0 07 01", false}, {"F8 07", false}}) {
        replyWith(inPieces(hexBytes(reply), {1}));
        EXPECT_EQ(bus.writeExchange(0x07, 1, {}), ok) << reply;
    }
}

TEST_F(ExchangeTest, CollectionStopsAt24AndOnlyWhileExchangingAndTheWaitIsWhole)
{
    bus.setWaitUnitMs(30);
    replyWith({QByteArray(30, 'x')});
    clock.after(5, [&] { bus.interrupt(); });   // cuts only longer pauses short
    EXPECT_EQ(timed([&] { EXPECT_FALSE(bus.readExchange(0x80, 3, &got)); }), 30);
    EXPECT_EQ(bus.receiveCount(), 24);
    EXPECT_EQ(bus.replyBuffer()[24], 0);
    bus.resetReceiveCount();
    bus.onReceive(hexBytes("F8 80 07"));
    EXPECT_EQ(bus.receiveCount(), 0);
    EXPECT_EQ(bus.replyBuffer()[0], 'x');
}

TEST_F(ExchangeTest, EchoOfTheRequestComesFirstAndMustMatch)
{
    bus.setWaitUnitMs(20);
    bus.setEcho(true);
    const frames::RowData row{1, 0xF0, 3, 4, 5, 6, 7, 8};
    const QByteArray reply = frames::readReply(0x81, 5, row);
    const QByteArray request = frames::joined(frames::readRequestPieces(0x81, 5));
    const QByteArray write = frames::joined(frames::writeRequestPieces(0x81, 5, row));
    // The echo and the reply in pieces that cut across the two.
    replyWith(inPieces(request + reply, {3, 7, 1}));
    ASSERT_TRUE(bus.readExchange(0x81, 5, &got));
    EXPECT_EQ(got, row);
    replyWith({write + frames::writeReply(0x81)});
    EXPECT_TRUE(bus.writeExchange(0x81, 5, row));
    // A collision (one echoed byte differs), a missing or short echo: the try fails.
    for (const QByteArray &echo : {withByte(request, 3, 0x06), QByteArray(), request.left(4)}) {
        replyWith({echo + reply});
        EXPECT_FALSE(bus.readExchange(0x81, 5, &got)) << echo.toHex().toStdString();
    }
    bus.setEcho(false);   // without --echo the echo is taken for the reply and fails it
    replyWith({request + reply});
    EXPECT_FALSE(bus.readExchange(0x81, 5, &got));
}

// Fast mode: the exchange ends with its complete reply, a missing one fails
// after the reply timeout, and after a failed try the line must be quiet for
// the settle time before the next request; bytes in between are dropped.
struct FastExchangeTest : ExchangeTest {
    void SetUp() override
    {
        ExchangeTest::SetUp();
        bus.setWaitUnitMs(400);
        port.responder = [this](const QByteArray &req) {
            sentAt.push_back(clock.nowMs());
            return script ? script(req) : std::vector<QByteArray>{};
        };
    }
    void replyWith(std::vector<QByteArray> events)   // the requests' times still taken
    {
        script = [events](const QByteArray &) { return events; };
    }
    std::function<std::vector<QByteArray>(const QByteArray &)> script;
    std::vector<qint64> sentAt;   // when each request went out
    const frames::RowData row{1, 0xF0, 3, 4, 5, 6, 7, 8};
};

TEST_F(FastExchangeTest, CompleteRepliesEndTheExchangeAndMissingOnesTimeOut)
{
    bus.setFastMode(1000, 20);
    const QByteArray reply = frames::readReply(0x80, 3, row);
    script = [&](const QByteArray &) {
        port.deliverIn(3, reply);
        return std::vector<QByteArray>{};
    };
    qint64 ms = timed([&] { EXPECT_TRUE(bus.readExchange(0x80, 3, &got)); });
    EXPECT_LT(ms, 300);   // neither the reply timeout nor the unit
    EXPECT_EQ(got, row);
    // One byte per receive event, 1 ms apart; the escaped F0 makes it 14.
    replyWith(inPieces(reply, {1}));
    got = {};
    ms = timed([&] { EXPECT_TRUE(bus.readExchange(0x80, 3, &got)); });
    EXPECT_EQ(got, row);
    EXPECT_EQ(bus.receiveCount(), 14);
    EXPECT_LT(ms, 300);
    // An acknowledgement with bytes after its three, still coming in after the
    // next request has gone out: they are not taken for the next reply.
    script = [&](const QByteArray &) {
        script = [&](const QByteArray &) {
            port.deliverIn(6, hexBytes("F8 07 01 06 0E"));
            return std::vector<QByteArray>{};
        };
        return std::vector<QByteArray>{hexBytes("F8 07 01"), hexBytes("05"), hexBytes("0D")};
    };
    EXPECT_TRUE(bus.writeExchange(0x07, 5, row));
    EXPECT_TRUE(bus.writeExchange(0x07, 6, row));
    EXPECT_EQ(bus.replyBuffer()[3], 0x06);
    // Nothing, or a reply one byte short: a failed try at the reply timeout.
    bus.setFastMode(60, 0);
    for (const QByteArray &partial : {QByteArray(), reply.left(13)}) {
        replyWith({partial});
        ms = timed([&] { EXPECT_FALSE(bus.readExchange(0x80, 3, &got)); });
        EXPECT_GE(ms, 59);
        EXPECT_LT(ms, 1000);
    }
}

TEST_F(FastExchangeTest, LateBytesArrivingWhileTheLineSettlesAreNeverTakenForAReply)
{
    bus.setFastMode(20, 80);
    const QByteArray reply = frames::readReply(0x80, 3, row);
    // The reply to the first try comes 40 ms after it, within the settle time.
    script = [&](const QByteArray &) {
        port.deliverIn(40, reply);
        replyWith({reply});
        return std::vector<QByteArray>{};
    };
    EXPECT_FALSE(bus.readExchange(0x80, 3, &got));
    EXPECT_TRUE(bus.readExchange(0x80, 3, &got));
    EXPECT_EQ(bus.receiveCount(), 14);   // only the second reply's bytes
    ASSERT_EQ(sentAt.size(), 2u);
    EXPECT_GE(sentAt[1] - sentAt[0], 40 + 80 - 2);   // the late bytes, then a whole quiet settle time
    // An acknowledgement names no register: a late one of row 5 must not count for row 6.
    script = [&](const QByteArray &) {
        port.deliverIn(60, frames::writeReply(0x07));   // well past the reply timeout, within the settle time
        script = nullptr;
        return std::vector<QByteArray>{};
    };
    EXPECT_FALSE(bus.writeExchange(0x07, 5, row));
    EXPECT_FALSE(bus.writeExchange(0x07, 6, row));
    EXPECT_EQ(bus.receiveCount(), 0);
}

TEST_F(FastExchangeTest, AWrongReplyFailsAtOnceAndTheNextRequestWaitsTheSettleTime)
{
    bus.setFastMode(5000, 60);
    replyWith({withByte(frames::readReply(0x80, 3, row), 13, 0)});
    const qint64 ms = timed([&] { EXPECT_FALSE(bus.readExchange(0x80, 3, &got)); });
    EXPECT_LT(ms, 1000);
    const qint64 failedAt = clock.nowMs();
    replyWith({frames::readReply(0x80, 3, row)});
    EXPECT_TRUE(bus.readExchange(0x80, 3, &got));
    ASSERT_EQ(sentAt.size(), 2u);
    EXPECT_GE(sentAt[1] - failedAt, 59);
    // Back to the fixed wait: a whole unit however soon the reply is in.
    bus.setFixedWait();
    bus.setWaitUnitMs(50);
    EXPECT_GE(timed([&] { EXPECT_TRUE(bus.readExchange(0x80, 3, &got)); }), 49);
}

// Only bytes that come after the request has been handed to the line count,
// and a reply must begin at the first of them; anything else is an anomaly,
// and the next request waits for a quiet line, at the fixed wait too.
TEST_F(FastExchangeTest, StaleBytesNeverCountAndTheNextRequestWaitsForQuiet)
{
    bus.setWaitUnitMs(30);
    bus.setSettleMs(15);
    const QByteArray reply = frames::readReply(0x80, 3, row);
    // A whole right reply already on the line before the request is no answer to it.
    port.deliverIn(0, reply);
    quint64 seen = bus.anomalies();
    EXPECT_FALSE(bus.readExchange(0x80, 3, &got));
    EXPECT_GT(bus.anomalies(), seen);
    EXPECT_EQ(bus.receiveCount(), 0);
    // A late reply of a failed try comes while the line settles and is dropped.
    script = [&](const QByteArray &) {
        port.deliverIn(40, reply);
        replyWith({reply});
        return std::vector<QByteArray>{};
    };
    sentAt.clear();
    EXPECT_FALSE(bus.readExchange(0x80, 3, &got));
    EXPECT_TRUE(bus.readExchange(0x80, 3, &got));
    EXPECT_EQ(bus.receiveCount(), 14);
    ASSERT_EQ(sentAt.size(), 2u);
    EXPECT_GE(sentAt[1] - sentAt[0], 40 + 15 - 2);
    // No resynchronisation: a byte before the reply fails it, in both modes.
    for (bool fast : {false, true}) {
        if (fast)
            bus.setFastMode(100, 15);
        replyWith({hexBytes("F8 80 01 03 7C") + reply});
        EXPECT_FALSE(bus.readExchange(0x80, 3, &got)) << fast;
    }
    // A second acknowledgement in one exchange (the fixed wait sees both):
    // the write is judged on the first, and the anomaly is counted.
    bus.setFixedWait();
    replyWith({frames::writeReply(0x07), frames::writeReply(0x07)});
    seen = bus.anomalies();
    EXPECT_TRUE(bus.writeExchange(0x07, 5, row));
    EXPECT_EQ(bus.anomalies(), seen + 1);
    // A clean exchange adds none.
    replyWith({reply});
    seen = bus.anomalies();
    EXPECT_TRUE(bus.readExchange(0x80, 3, &got));
    EXPECT_EQ(bus.anomalies(), seen);
}
