#include "fake_port.h"
#include "transfer/exchange.h"

#include "test_app.h"
#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace zuk;
using namespace zuk::test;

namespace {

struct ExchangeTest : ::testing::Test {
    void SetUp() override
    {
        ensureApp();
        bus.setWaitUnitMs(30);
    }
    FakePort port;
    BusExchange bus{port};
};

const frames::RowData kEscaped{0x10, 0xF0, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70};

}  // namespace

TEST_F(ExchangeTest, RequestsGoOutInTheirPieces)
{
    frames::RowData row{};
    EXPECT_FALSE(bus.readExchange(0x80, 3, &row));
    EXPECT_FALSE(bus.readExchange(0x90, 59, &row));
    EXPECT_FALSE(bus.writeExchange(0x01, 0, {0x01, 0xF0, 0, 0, 0, 0, 0, 0xFF}));
    ASSERT_EQ(port.requests.size(), 3u);
    EXPECT_EQ(port.requests[0], hexBytes("F0 80 07 03 8A"));
    EXPECT_EQ(port.requests[1], hexBytes("F0 90 07 3B D2"));
    EXPECT_EQ(port.requests[2], hexBytes("F0 01 08 00 01 F0 11 00 00 00 00 00 FF 0A"));
    // Two pieces per read request; the write one: header, 9 data/escape bytes, checksum.
    ASSERT_EQ(port.pieces.size(), 2u + 2u + 11u);
    EXPECT_EQ(port.pieces[0], hexBytes("F0 80 07 03"));
    EXPECT_EQ(port.pieces[1], hexBytes("8A"));
    EXPECT_EQ(port.pieces[4], hexBytes("F0 01 08 00"));
    EXPECT_EQ(port.pieces[6], hexBytes("F0"));
    EXPECT_EQ(port.pieces[7], hexBytes("11"));
}

TEST_F(ExchangeTest, ReadRepliesCollectedFromAnyPieces)
{
    struct Case {
        const char *what;
        frames::RowData data;
        std::vector<int> pieces;
        std::uint8_t escape;
    };
    const frames::RowData allF0{0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0};
    const frames::RowData twoF0{0x01, 0xF0, 0x02, 0x03, 0xF0, 0x04, 0x05, 0x06};
    const Case cases[] = {
        {"whole", kEscaped, {64}, 0x00},
        {"one byte each", kEscaped, {1}, 0x00},
        {"5 then 8", {1, 2, 3, 4, 5, 6, 7, 8}, {5, 8}, 0x00},
        {"two escapes", twoF0, {3, 7}, 0x55},
        {"eight escapes, 21 bytes", allF0, {2}, 0x11},
    };
    for (const Case &c : cases) {
        const QByteArray reply = frames::readReply(0x80, 3, c.data, c.escape);
        port.responder = [&](const QByteArray &) { return inPieces(reply, c.pieces); };
        frames::RowData got{};
        EXPECT_TRUE(bus.readExchange(0x80, 3, &got)) << c.what;
        EXPECT_EQ(got, c.data) << c.what;
        EXPECT_EQ(bus.receiveCount(), reply.size()) << c.what;
    }
    EXPECT_EQ(frames::readReply(0x80, 3, kEscaped),
              hexBytes("F8 80 07 03 10 F0 00 20 30 40 50 60 70 3A"));
}

TEST_F(ExchangeTest, ChecksumEqualToF0NeedsNoEscape)
{
    // 01 + 07 + 00 + E8 = F0.
    const frames::RowData data{0xE8, 0, 0, 0, 0, 0, 0, 0};
    const QByteArray reply = frames::readReply(0x01, 0, data);
    ASSERT_EQ(static_cast<std::uint8_t>(reply.back()), 0xF0);
    ASSERT_EQ(reply.size(), 13);
    port.responder = [&](const QByteArray &) { return std::vector<QByteArray>{reply}; };
    frames::RowData got{};
    EXPECT_TRUE(bus.readExchange(0x01, 0, &got));
    EXPECT_EQ(got, data);
}

TEST_F(ExchangeTest, WrongRepliesFail)
{
    const frames::RowData data{1, 2, 3, 4, 5, 6, 7, 8};
    QByteArray otherAddress = frames::readReply(0x81, 3, data);
    QByteArray writeCommand = frames::readReply(0x80, 3, data);
    writeCommand[2] = 0x08;
    writeCommand[12] = static_cast<char>(writeCommand[12] + 1);   // checksum right for command 08
    QByteArray badSum = frames::readReply(0x80, 3, data);
    badSum[12] = static_cast<char>(badSum[12] ^ 1);
    QByteArray otherRegister = frames::readReply(0x80, 4, data);
    QByteArray wrongStart = frames::readReply(0x80, 3, data);
    wrongStart[0] = static_cast<char>(0xF0);
    const QByteArray cases[] = {otherAddress, writeCommand, badSum, otherRegister, wrongStart, QByteArray()};
    for (const QByteArray &reply : cases) {
        port.responder = [&](const QByteArray &) { return std::vector<QByteArray>{reply}; };
        frames::RowData got{};
        EXPECT_FALSE(bus.readExchange(0x80, 3, &got)) << reply.toHex(' ').toStdString();
    }
    // No receive event at all.
    port.responder = {};
    frames::RowData got{};
    EXPECT_FALSE(bus.readExchange(0x80, 3, &got));
    EXPECT_EQ(bus.receiveCount(), 0);
}

TEST_F(ExchangeTest, StaleBytesOfAnEarlierReplyNeverCount)
{
    const frames::RowData data{9, 8, 7, 6, 5, 4, 3, 2};
    const QByteArray reply = frames::readReply(0x05, 7, data);
    port.responder = [&](const QByteArray &) { return std::vector<QByteArray>{reply}; };
    frames::RowData got{};
    ASSERT_TRUE(bus.readExchange(0x05, 7, &got));
    // The same reply cut short: the buffer still holds the tail of the first.
    port.responder = [&](const QByteArray &) { return inPieces(reply.left(10), {4}); };
    EXPECT_FALSE(bus.readExchange(0x05, 7, &got));
    EXPECT_EQ(bus.receiveCount(), 10);
    // A lone acknowledgement byte after a full one.
    port.responder = [&](const QByteArray &) { return std::vector<QByteArray>{frames::writeReply(0x05)}; };
    EXPECT_TRUE(bus.writeExchange(0x05, 7, data));
    port.responder = [&](const QByteArray &) { return std::vector<QByteArray>{hexBytes("F8")}; };
    EXPECT_FALSE(bus.writeExchange(0x05, 7, data));
}

TEST_F(ExchangeTest, WriteAcknowledgement)
{
    const frames::RowData data{0, 0, 0, 0, 0, 0, 0, 0};
    struct Case {
        QByteArray reply;
        bool ok;
    };
    const Case cases[] = {
        {hexBytes("F8 07 01"), true},
        {hexBytes("F8 07 01 AA BB"), true},   // further bytes not examined
        {hexBytes("F8 06 01"), false},
        {hexBytes("F8 07 07"), false},
        {hexBytes("F0 07 01"), false},
    };
    for (const Case &c : cases) {
        port.responder = [&](const QByteArray &) { return inPieces(c.reply, {1}); };
        EXPECT_EQ(bus.writeExchange(0x07, 1, data), c.ok) << c.reply.toHex(' ').toStdString();
    }
}

TEST_F(ExchangeTest, CollectionStopsAt24AndOnlyWhileExchanging)
{
    port.responder = [&](const QByteArray &) { return std::vector<QByteArray>{QByteArray(30, 'x')}; };
    frames::RowData got{};
    EXPECT_FALSE(bus.readExchange(0x80, 3, &got));
    EXPECT_EQ(bus.receiveCount(), 24);
    EXPECT_EQ(bus.replyBuffer()[24], 0);

    bus.setExchangeState(0);
    bus.resetReceiveCount();
    bus.onReceive(hexBytes("F8 80 07"));
    EXPECT_EQ(bus.receiveCount(), 0);
    EXPECT_EQ(bus.replyBuffer()[0], 'x');
}

TEST_F(ExchangeTest, WaitLastsItsUnitsAndIsNotCutShort)
{
    const QByteArray reply = frames::readReply(0x80, 3, kEscaped);
    port.responder = [&](const QByteArray &) { return std::vector<QByteArray>{reply}; };
    QElapsedTimer t;
    t.start();
    frames::RowData got{};
    EXPECT_TRUE(bus.readExchange(0x80, 3, &got));
    EXPECT_GE(t.elapsed(), 29);
    t.restart();
    bus.Wait(3);
    EXPECT_GE(t.elapsed(), 89);
    // A long pause ends early when interrupted; an exchange wait does not.
    QTimer::singleShot(5, [&] { bus.interrupt(); });
    t.restart();
    bus.Wait(100);
    EXPECT_LT(t.elapsed(), 2000);
    QTimer::singleShot(5, [&] { bus.interrupt(); });
    t.restart();
    EXPECT_TRUE(bus.readExchange(0x80, 3, &got));
    EXPECT_GE(t.elapsed(), 29);
}
