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
    EXPECT_EQ(o.mode, TransferOptions::Mode::Write);
    EXPECT_EQ(o.port.toStdString(), "/dev/pts/3");
    EXPECT_EQ(o.waitUnitMs, 5);
    ASSERT_TRUE(o.tick.has_value());
    EXPECT_TRUE((*o.tick)[19]);
    ASSERT_TRUE(parseTransferOptions({"-read", "-dir", "d"}, &o, &error)) << error.toStdString();
    EXPECT_EQ(o.mode, TransferOptions::Mode::Read);
    EXPECT_EQ(o.dir.toStdString(), "d");
    EXPECT_FALSE(o.fast);
    EXPECT_EQ(o.replyTimeoutMs, 100);
    EXPECT_EQ(o.settleMs, 20);
    ASSERT_TRUE(parseTransferOptions({"--fast", "--reply-timeout-ms", "5", "--settle-ms", "0"}, &o, &error));
    EXPECT_EQ(o.mode, TransferOptions::Mode::Window);
    EXPECT_TRUE(o.fast);
    EXPECT_EQ(o.replyTimeoutMs, 5);
    EXPECT_EQ(o.settleMs, 0);
    ASSERT_TRUE(parseTransferOptions({"--read", "--settle-ms", "5"}, &o, &error));   // the fixed wait settles too
    EXPECT_EQ(o.settleMs, 5);
    // Each bad command line, with a piece of the Russian message that names the fault.
    const std::vector<std::pair<QStringList, QString>> bad = {
        {{"--read", "--write"}, "режим"},          {{"--read", "--tick"}, "нет значения у --tick"},
        {{"--write", "--tick", "01,zz"}, "--tick"}, {{"--read", "--wait-unit-ms", "0"}, "--wait-unit-ms"},
        {{"--tick", "all"}, "--tick не действует"}, {{"--read", "extra"}, "неизвестный аргумент: extra"},
        {{"--bogus"}, "неизвестный аргумент: --bogus"}, {{"--read=1"}, "лишнее значение"},
        {{"--read", "--dir", "a", "--dir", "b"}, "повторный"}, {{"--port", ""}, "пустое имя порта"},
        {{"--read", "--port", "--dir", "d"}, "нет значения у --port"},
        {{"--write", "--fast", "--reply-timeout-ms", "4"}, "--reply-timeout-ms"},
        {{"--read", "--reply-timeout-ms", "50"}, "--reply-timeout-ms действует только вместе с --fast"},
        {{"--read", "--fast", "--settle-ms", "-1"}, "--settle-ms"},
    };
    for (const auto &[args, message] : bad) {
        error.clear();
        EXPECT_FALSE(parseTransferOptions(args, &o, &error)) << args.join(' ').toStdString();
        EXPECT_TRUE(error.contains(message)) << error.toStdString();
    }
    ASSERT_TRUE(parseTransferOptions({"--read", "-h"}, &o, &error));
    EXPECT_EQ(o.mode, TransferOptions::Mode::Help);
    for (const char *name : {"--read", "--write", "--port NAME", "--dir FOLDER", "--tick LIST", "--wait-unit-ms N", "--fast",
                             "--reply-timeout-ms N", "--settle-ms N"})
        EXPECT_TRUE(transferUsage().contains(name)) << name;
}
