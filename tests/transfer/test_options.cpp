#include "transfer/options.h"

#include <gtest/gtest.h>

using namespace zuk;

TEST(TransferOptions, TickLists)
{
    std::array<bool, kSlotCount> t{};
    ASSERT_TRUE(parseTickList("00,07,80,9C", &t));
    for (int s = 0; s < kSlotCount; ++s)
        EXPECT_EQ(t[s], s == 0 || s == 7 || s == 8 || s == 18) << s;
    ASSERT_TRUE(parseTickList("9d,0", &t));
    EXPECT_TRUE(t[19] && t[0]);
    ASSERT_TRUE(parseTickList("all", &t));
    EXPECT_EQ(std::count(t.begin(), t.end(), true), kSlotCount);
    ASSERT_TRUE(parseTickList("none", &t));
    EXPECT_EQ(std::count(t.begin(), t.end(), true), 0);
    for (const char *bad : {"", "08", "00,", ",00", "00;07", "0x80", "100", " 00", "All", "80,zz", "-1"})
        EXPECT_FALSE(parseTickList(bad, &t)) << bad;
}

TEST(TransferOptions, CommandLines)
{
    struct Case {
        QStringList args;
        bool ok;
        TransferOptions::Mode mode;
    };
    using M = TransferOptions::Mode;
    const Case cases[] = {
        {{}, true, M::Window},
        {{"--read"}, true, M::Read},
        {{"--write", "--port", "/dev/pts/3", "--tick", "all", "--wait-unit-ms", "5"}, true, M::Write},
        {{"--read", "--port=/dev/ttyUSB0", "--dir=/tmp"}, true, M::Read},
        {{"--port", "COM3", "--dir", "/x", "--wait-unit-ms", "20"}, true, M::Window},
        {{"--help"}, true, M::Help},
        {{"--read", "--write"}, false, M::Read},
        {{"--read", "--tick"}, false, M::Read},
        {{"--read", "--tick", "01,zz"}, false, M::Read},
        {{"--read", "--wait-unit-ms", "0"}, false, M::Read},
        {{"--read", "--wait-unit-ms", "4x"}, false, M::Read},
        {{"--read", "--wait-unit-ms", "-5"}, false, M::Read},
        {{"--read", "--port", ""}, false, M::Read},
        {{"--tick", "all"}, false, M::Window},
        {{"--read", "extra"}, false, M::Read},
    };
    for (const Case &c : cases) {
        TransferOptions o;
        QString error;
        const bool ok = parseTransferOptions(c.args, &o, &error);
        EXPECT_EQ(ok, c.ok) << c.args.join(' ').toStdString();
        if (ok)
            EXPECT_EQ(o.mode, c.mode) << c.args.join(' ').toStdString();
        else
            EXPECT_FALSE(error.isEmpty());
    }
    TransferOptions o;
    QString error;
    ASSERT_TRUE(parseTransferOptions({"--write", "--port", "/dev/pts/3", "--tick", "80", "--wait-unit-ms", "5"},
                                     &o, &error));
    EXPECT_EQ(o.port, "/dev/pts/3");
    EXPECT_EQ(o.waitUnitMs, 5);
    ASSERT_TRUE(o.tick.has_value());
    EXPECT_TRUE((*o.tick)[8]);
    ASSERT_TRUE(parseTransferOptions({"--read"}, &o, &error));
    EXPECT_EQ(o.port, "/dev/ttyS0");
    EXPECT_EQ(o.waitUnitMs, 400);
    EXPECT_TRUE(o.dir.isEmpty());
    EXPECT_FALSE(o.tick.has_value());
}
