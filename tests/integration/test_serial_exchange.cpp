// Exchanges through the serial adapter (QSerialPort) with zuk_sim on a
// pseudo-terminal.

#include "harness.h"
#include "bus/exchange.h"
#include "lines/serial_port.h"

using namespace zuk;
using namespace zuk::itest;

TEST(SerialExchange, ReadsAndWritesRowsOfTheSimulator)
{
    Sim sim({QStringLiteral("--image"), sampleImage()});   // present: the slots marked in the image
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
    EXPECT_FALSE(bus.readExchange(0x9C, 0, &row));   // the talker is not marked present
    port.close();

    ASSERT_TRUE(sim.stop());
    EXPECT_EQ(sim.log(), (std::vector<std::string>{"F0 80 07 03 8A", "F0 00 07 3B 42", "F0 01 08 00 01 F0 11 00 00 00 00 00 FF 0A",
                                      "F0 01 07 00 08", "F0 80 07 09 90", "F0 9C 07 00 A3"}));
    RegisterImage expected = sample;
    expected[1][0] = {0x01, 0xF0, 0, 0, 0, 0, 0, 0xFF};
    EXPECT_TRUE(sameBytes(fileBytes(sim.savePath), imageFileBytes(expected)));
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
