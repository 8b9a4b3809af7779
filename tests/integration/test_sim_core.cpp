// The simulator's request parser, fault list and answers, without a device.

#include "sim/core/sim_core.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <tuple>

using namespace zuk;
using namespace zuk::sim;

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }

// Parses the stream and describes each request as "R|W addr reg ok|bad".
std::vector<std::string> parse(const std::vector<std::pair<qint64, QByteArray>> &chunks)
{
    RequestParser p;
    std::vector<Request> out;
    for (const auto &[at, bytes] : chunks)
        p.feed(bytes, at, &out);
    std::vector<std::string> d;
    for (const Request &r : out)
        d.push_back(QStringLiteral("%1 %2 %3 %4 %5")
                        .arg(r.kind == Request::Kind::Read ? "R" : "W", hexText(r.address), hexText(r.reg),
                             r.checksumOk ? "ok" : "bad", hexLine(r.wire))
                        .toStdString());
    return d;
}

Request request(const char *wire)
{
    RequestParser p;
    std::vector<Request> out;
    p.feed(hex(wire), 0, &out);
    EXPECT_EQ(out.size(), 1u) << wire;
    return out.empty() ? Request{} : out.front();
}

}  // namespace

TEST(SimParser, CutsTheStreamIntoRequests)
{
    const char *read = "F0 80 07 03 8A";
    const char *write = "F0 01 08 00 01 F0 11 00 00 00 00 00 FF 0A";
    struct Case {
        std::vector<std::pair<qint64, QByteArray>> chunks;
        std::vector<std::string> expected;
    } cases[] = {
        {{{0, hex(read)}}, {"R 80 3 ok F0 80 07 03 8A"}},
        {{{0, hex("00 55 F8") + hex(read)}}, {"R 80 3 ok F0 80 07 03 8A"}},   // noise before the start
        {{{0, hex(write)}}, {"W 1 0 ok F0 01 08 00 01 F0 11 00 00 00 00 00 FF 0A"}},
        // F0 where address or register must be begins a new frame; a bad command drops the frame
        {{{0, hex("F0 F0 80 07 03 8A")}}, {"R 80 3 ok F0 80 07 03 8A"}},
        {{{0, hex("F0 80 07 F0 80 07 03 8A")}}, {"R 80 3 ok F0 80 07 03 8A"}},
        {{{0, hex("F0 80 05 03 8A") + hex(read)}}, {"R 80 3 ok F0 80 07 03 8A"}},
        // a wrong checksum equal to F0 is reported and starts the next frame
        {{{0, hex("F0 80 07 03 F0 80 07 03 8A")}}, {"R 80 3 bad F0 80 07 03 F0", "R 80 3 ok F0 80 07 03 8A"}},
        // a right checksum equal to F0 is only a checksum: 9C + 07 + 4D = F0
        {{{0, hex("F0 9C 07 4D F0 F0 80 07 03 8A")}}, {"R 9C 4D ok F0 9C 07 4D F0", "R 80 3 ok F0 80 07 03 8A"}},
        // the escape byte after a data F0 is skipped whatever it is, even F0
        {{{0, hex("F0 00 08 02 F0 F0 F0 F0 00 00 00 00 00 00 CA")}},
         {"W 0 2 ok F0 00 08 02 F0 F0 F0 F0 00 00 00 00 00 00 CA"}},
        // one byte at a time
        {{{0, hex("F0")}, {1, hex("01")}, {2, hex("08 00 01")}, {3, hex("F0")}, {4, hex("11 00 00 00 00 00 FF")},
          {5, hex("0A")}},
         {"W 1 0 ok F0 01 08 00 01 F0 11 00 00 00 00 00 FF 0A"}},
        // a frame left incomplete too long is dropped, the next one is whole
        {{{0, hex("F0 80 07")}, {1000, hex("03 8A")}, {1001, hex(read)}}, {"R 80 3 ok F0 80 07 03 8A"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(parse(c.chunks), c.expected) << c.expected.front();
    EXPECT_EQ(request(write).data, (frames::RowData{0x01, 0xF0, 0, 0, 0, 0, 0, 0xFF}));
}

TEST(SimFaults, ParsesSpecificationsAndRejectsBadOnes)
{
    std::vector<Fault> f;
    QString error;
    ASSERT_TRUE(parseFaults(QStringLiteral("80=silent,00:3=late/450,9D:*:2=pieces/5,90=fail/9,01:4:1=dupack,01=dupack/0"),
                            &f, &error))
        << error.toStdString();
    ASSERT_EQ(f.size(), 6u);
    EXPECT_EQ(std::tuple(f[0].row, f[0].attempts), std::tuple(-1, -1));
    EXPECT_EQ(std::tuple(f[1].kind, f[1].row, f[1].param), std::tuple(FaultKind::Late, 3, 450));
    EXPECT_EQ(std::tuple(f[2].address, f[2].row, f[2].attempts), std::tuple(0x9D, -1, 2));
    EXPECT_EQ(f[3].attempts, 9);
    EXPECT_EQ(std::tuple(f[4].kind, f[4].row, f[4].attempts, f[4].param),
              std::tuple(FaultKind::DupAck, 4, 1, kDupAckDefaultMs));   // /PARAM may be left out
    EXPECT_EQ(f[5].param, 0);
    for (const char *bad : {"80", "08=silent", "80:9=silent", "80:x=silent", "80=loud", "80=late", "80=silent/2",
                            "80=pieces/0", "80:1:2=fail/3", "80:1:2:3=silent", ",", "", "80=silent,", " , 80=silent",
                            "80=dupack/", "80=dupack/-5", "80=dupack/5/5"}) {
        std::vector<Fault> none;
        EXPECT_FALSE(parseFaults(QString::fromLatin1(bad), &none, &error)) << bad;
    }
    std::array<bool, kSlotCount> present{};
    EXPECT_TRUE(parsePresence(QStringLiteral("00,80,9d"), &present, &error));
    EXPECT_TRUE(present[0] && present[8] && present[19] && !present[1]);
    EXPECT_FALSE(parsePresence(QStringLiteral("00,08"), &present, &error));

    // --save is judged at start: its folder must exist and be writable, the file be a plain one.
    QTemporaryDir dir;
    EXPECT_TRUE(checkSavePath(dir.filePath("sim.txt"), &error));
    EXPECT_FALSE(checkSavePath(dir.filePath("none/sim.txt"), &error));
    EXPECT_TRUE(error.contains("does not exist")) << error.toStdString();
    EXPECT_FALSE(checkSavePath(dir.path(), &error));
}

namespace {

struct Answered {
    std::vector<Delivery> pieces;
    QByteArray all() const
    {
        QByteArray b;
        for (const Delivery &d : pieces)
            b += d.bytes;
        return b;
    }
};

Answered ask(Installation &inst, const char *wire) { return {inst.answer(request(wire))}; }

Installation sampleInstallation(const char *faults = "")
{
    Installation inst;
    inst.memory[8][3] = {0x10, 0xF0, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70};
    QString error;
    EXPECT_TRUE(parseFaults(QString::fromLatin1(faults), &inst.faults, &error)) << error.toStdString();
    return inst;
}

}  // namespace

TEST(SimAnswers, FaultsShapeTheAnswer)
{
    const char *read3 = "F0 80 07 03 8A";
    frames::RowData row{};
    auto judged = [&](const QByteArray &b, int address) {
        return frames::judgeReadReply(reinterpret_cast<const std::uint8_t *>(b.constData()),
                                      static_cast<int>(b.size()), address, 3, &row);
    };
    {
        Installation inst = sampleInstallation("80:3=otheraddr");
        const QByteArray b = ask(inst, read3).all();
        EXPECT_FALSE(judged(b, 0x80));
        EXPECT_TRUE(judged(b, 0x81));   // its checksum is right for the address it names
    }
    {
        Installation inst = sampleInstallation("80:3=badsum");
        EXPECT_FALSE(judged(ask(inst, read3).all(), 0x80));
    }
    {
        Installation inst = sampleInstallation("80=garbage");
        const QByteArray b = ask(inst, read3).all();
        EXPECT_EQ(static_cast<std::uint8_t>(b[0]), kGarbageByte);
        EXPECT_TRUE(judged(b.mid(1), 0x80));
    }
    {
        Installation inst = sampleInstallation("80=pieces/5,80=late/700");
        const Answered a = ask(inst, read3);
        ASSERT_EQ(a.pieces.size(), 3u);
        EXPECT_EQ(a.pieces[0].delayMs, 700);
        EXPECT_EQ(a.pieces[2].delayMs, 700 + 2 * kPieceGapMs);
        EXPECT_EQ(a.pieces[2].bytes.size(), 4);   // 14 bytes with the escape
        EXPECT_TRUE(judged(a.all(), 0x80));
    }
    {
        // dupack: the write is stored once and acknowledged twice, the
        // second after the gap or after the first's last piece, whichever is
        // later; a read is answered once.
        const char *write0 = "F0 01 08 00 07 00 00 00 00 00 00 00 10";
        const QByteArray ack = hex("F8 01 01 00 02");
        Installation inst = sampleInstallation("01:0=dupack/45,01:1=dupack,01:1=pieces/2,01:0=late/10");
        const Answered a = ask(inst, write0);
        ASSERT_EQ(a.pieces.size(), 2u);
        EXPECT_EQ(std::tuple(a.pieces[0].delayMs, a.pieces[1].delayMs), std::tuple(10, 55));
        EXPECT_EQ(a.all(), ack + ack);
        EXPECT_EQ(inst.memory[1][0][0], 7);
        const Answered pieces = ask(inst, "F0 01 08 01 07 00 00 00 00 00 00 00 11");
        ASSERT_EQ(pieces.pieces.size(), 6u);
        EXPECT_EQ(pieces.pieces[3].delayMs, 2 * kPieceGapMs);   // the first took 40 ms, more than 30
        EXPECT_EQ(pieces.all(), hex("F8 01 01 01 03 F8 01 01 01 03"));
        EXPECT_EQ(ask(inst, "F0 01 07 00 08").pieces.size(), 1u);
        EXPECT_EQ(inst.listedFaultsApplied, 3);

        // dupack is in the random mix, with its own short gap (not --late-ms)
        Installation random;
        random.setRandomFaults(7, 1.0, 80);
        int twice = 0;
        for (int i = 0; i < 100; ++i) {
            const Answered w = ask(random, write0);
            twice += w.all() == ack + ack && w.pieces.back().delayMs == kDupAckDefaultMs;
        }
        EXPECT_GT(twice, 0);
        EXPECT_EQ(random.randomFaultsInjected, 100);
    }
}

TEST(SimAnswers, AttemptsCountPerRowAndLostWritesChangeNothing)
{
    Installation inst = sampleInstallation("01:*:2=silent,80:3=fail/1");
    const char *write0 = "F0 01 08 00 07 00 00 00 00 00 00 00 10";
    const char *read1 = "F0 01 07 01 09";
    EXPECT_TRUE(ask(inst, write0).pieces.empty());
    EXPECT_EQ(inst.memory[1][0][0], 0);   // a request without answer is lost
    EXPECT_TRUE(ask(inst, read1).pieces.empty());
    EXPECT_TRUE(ask(inst, write0).pieces.empty());
    EXPECT_FALSE(ask(inst, write0).pieces.empty());
    EXPECT_EQ(inst.memory[1][0][0], 7);
    EXPECT_TRUE(ask(inst, read1).pieces.empty());   // row 1 has its own count
    EXPECT_FALSE(ask(inst, read1).pieces.empty());
    EXPECT_TRUE(ask(inst, "F0 80 07 03 8A").pieces.empty());
    EXPECT_FALSE(ask(inst, "F0 80 07 03 8A").pieces.empty());
    // a write with a wrong checksum is neither answered nor applied
    EXPECT_TRUE(ask(inst, "F0 01 08 01 05 00 00 00 00 00 00 00 0E").pieces.empty());
    EXPECT_EQ(inst.memory[1][1][0], 0);
}

TEST(SimLine, AnswersLeaveInRequestOrder)
{
    OutputQueue q;   // microseconds; the answers' delays in milliseconds
    q.add(0, {{150, hex("AA")}});                            // late answer
    q.add(100'000, {{0, hex("B1")}, {20, hex("B2")}});       // held behind it, keeps its gap
    q.add(400'000, {{0, hex("CC")}});
    EXPECT_EQ(q.takeDue(149'999), QByteArray());
    EXPECT_EQ(q.takeDue(150'000), hex("AA B1"));
    EXPECT_EQ(q.takeDue(169'999), QByteArray());
    EXPECT_EQ(q.takeDue(170'000), hex("B2"));
    EXPECT_EQ(q.nextUs(), 400'000);
}

TEST(SimLine, PacedBytesGoThroughOneAfterAnotherAtTenBitsEach)
{
    LinePace line(19200);   // 520.8 us a byte
    // Five bytes handed over at once: the last is through after 5 byte times.
    std::vector<qint64> through;
    for (int i = 0; i < 5; ++i)
        through.push_back(line.pass(1000));
    EXPECT_EQ(through, (std::vector<qint64>{1521, 2042, 2563, 3083, 3604}));
    // A byte handed over while the line is busy waits; one after a pause starts at once.
    EXPECT_EQ(line.pass(3000), 4125);
    EXPECT_EQ(line.pass(10000), 10521);
    EXPECT_EQ(LinePace(9600).pass(0), 1042);
}
