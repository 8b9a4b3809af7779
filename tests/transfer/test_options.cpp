#include "transfer/options.h"

#include <gtest/gtest.h>

using namespace zuk;

TEST(TransferOptions, TickListsAndCommandLines)
{
    std::array<bool, kSlotCount> t{};
    ASSERT_TRUE(parseTickList("00,07,80,9c", &t));
    EXPECT_EQ(t, (std::array<bool, kSlotCount>{1, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}));
    for (const char *bad : {"", "08", "00,", "00;07", "0x80", "100", " 00", "All"})
        EXPECT_FALSE(parseTickList(bad, &t)) << bad;
    TransferOptions o;
    QString error;
    ASSERT_TRUE(parseTransferOptions({"--write", "--port=/dev/pts/3", "--tick", "all", "--wait-unit-ms", "5"}, &o, &error));
    EXPECT_TRUE(o.mode == TransferOptions::Mode::Write && o.port == "/dev/pts/3" && o.waitUnitMs == 5 && (*o.tick)[19]);
    for (const QStringList &bad : {QStringList{"--read", "--write"}, {"--read", "--tick"}, {"--write", "--tick", "01,zz"},
                                   {"--read", "--wait-unit-ms", "0"}, {"--tick", "all"}, {"--read", "extra"}})
        EXPECT_FALSE(parseTransferOptions(bad, &o, &error)) << bad.join(' ').toStdString();
}
