// Exchanges through the serial adapter (QSerialPort) with zuk_sim on a
// pseudo-terminal.

#include "harness.h"
#include "transfer/exchange.h"
#include "transfer/serial_port.h"

using namespace zuk;
using namespace zuk::itest;

TEST(SerialExchange, ReadsAndWritesRowsOfTheSimulator)
{
    Sim sim({QStringLiteral("--image"), sampleImage(), QStringLiteral("--present"), QStringLiteral("all")});
    ASSERT_TRUE(sim.ok());
    const RegisterImage sample = loadOrFail(sampleImage());

    MSComm port;
    QString why;
    ASSERT_TRUE(port.open(sim.device, &why)) << why.toStdString();
    BusExchange bus(port);
    bus.setWaitUnitMs(30);

    frames::RowData row{};
    ASSERT_TRUE(bus.readExchange(0x80, 3, &row));
    EXPECT_EQ(row, rowBytes(sample[8][3]));
    ASSERT_TRUE(bus.readExchange(0x00, 59, &row));
    EXPECT_EQ(row, rowBytes(sample[0][59]));

    const frames::RowData written{0x01, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF};
    ASSERT_TRUE(bus.writeExchange(0x01, 0, written));
    ASSERT_TRUE(bus.readExchange(0x01, 0, &row));
    EXPECT_EQ(row, written);   // the reply escapes the F0 with 00
    EXPECT_FALSE(bus.readExchange(0x80, 9, &row));   // no such register: no answer
    port.close();

    ASSERT_TRUE(sim.stop());
    EXPECT_EQ(sim.log(), (std::vector<std::string>{"F0 80 07 03 8A", "F0 00 07 3B 42", "F0 01 08 00 01 F0 11 00 00 00 00 00 FF 0A",
                                      "F0 01 07 00 08", "F0 80 07 09 90"}));
    RegisterImage expected = sample;
    expected[1][0] = {0x01, 0xF0, 0, 0, 0, 0, 0, 0xFF};
    EXPECT_TRUE(sameBytes(fileBytes(sim.savePath), imageFileBytes(expected)));
}

TEST(SerialExchange, FaultsOfTheLineFailOnlyTheirExchange)
{
    // Every fault spoils the first request of its row only; the second
    // exchange of the row must then succeed with the right data.
    Sim sim({QStringLiteral("--image"), sampleImage(), QStringLiteral("--fault"),
             QStringLiteral("80:0=pieces/5,80:1=pieces/3,80:2:1=badsum,80:3:1=otheraddr,80:4:1=garbage,"
                            "80:5:1=silent,80:6:1=late/200")});
    ASSERT_TRUE(sim.ok());
    const RegisterImage sample = loadOrFail(sampleImage());
    MSComm port;
    QString why;
    ASSERT_TRUE(port.open(sim.device, &why)) << why.toStdString();
    BusExchange bus(port);
    bus.setWaitUnitMs(150);

    struct Case {
        int reg;
        bool first;
    } cases[] = {{0, true}, {1, true}, {2, false}, {3, false}, {4, false}, {5, false}, {6, false}};
    for (const Case &c : cases) {
        frames::RowData row{};
        EXPECT_EQ(bus.readExchange(0x80, c.reg, &row), c.first) << "row " << c.reg;
        if (c.first) {
            EXPECT_EQ(row, rowBytes(sample[8][c.reg])) << "row " << c.reg;
        }
        row = {};
        EXPECT_TRUE(bus.readExchange(0x80, c.reg, &row)) << "row " << c.reg << " again";
        EXPECT_EQ(row, rowBytes(sample[8][c.reg])) << "row " << c.reg;
    }
    // Presence comes from the image's markers: the talker is absent there.
    frames::RowData row{};
    EXPECT_TRUE(bus.readExchange(0x98, 0, &row));
    EXPECT_FALSE(bus.readExchange(0x9C, 0, &row));
}

TEST(SerialExchange, RandomFaultsNeverYieldWrongData)
{
    // A third of the answers are spoilt at random (late ones land in later
    // exchanges, slow pieces spill over); retrying each row until it succeeds
    // must still give exactly the memory, row by row.
    Sim sim({QStringLiteral("--image"), sampleImage(), QStringLiteral("--seed"), QStringLiteral("5"),
             QStringLiteral("--fault-rate"), QStringLiteral("0.33"), QStringLiteral("--late-ms"), QStringLiteral("80")});
    ASSERT_TRUE(sim.ok());
    const RegisterImage sample = loadOrFail(sampleImage());
    MSComm port;
    QString why;
    ASSERT_TRUE(port.open(sim.device, &why)) << why.toStdString();
    BusExchange bus(port);
    bus.setWaitUnitMs(50);
    int failures = 0;
    for (int r = 0; r < 40; ++r) {
        frames::RowData row{};
        int tries = 0;
        while (!bus.readExchange(0x00, r, &row) && ++tries < 20)
            row = {};
        failures += tries;
        ASSERT_LT(tries, 20) << "row " << r;
        EXPECT_EQ(row, rowBytes(sample[0][r])) << "row " << r;
    }
    EXPECT_GT(failures, 5);   // the faults did happen
}
