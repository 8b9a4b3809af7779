#include "transfer/cli/cli_options.h"

#include <gtest/gtest.h>

using namespace zuk;

namespace {

// A bad command line, with a piece of the Russian message that names the fault.
struct BadLine {
    const char *name;
    QStringList args;
    QString message;
};
void PrintTo(const BadLine &c, std::ostream *os) { *os << c.args.join(' ').toStdString(); }

struct BadCommandLine : testing::TestWithParam<BadLine> {};
struct BadAddressList : testing::TestWithParam<std::pair<const char *, const char *>> {};

}  // namespace

TEST(TransferOptions, TickListsAndCommandLines)
{
    std::array<bool, kSlotCount> t{};
    ASSERT_TRUE(parseAddressList("00,07,80,9c", &t));
    EXPECT_EQ(t, (std::array<bool, kSlotCount>{1, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}));
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
    // Earlier images are kept unless the command line says otherwise.
    EXPECT_TRUE(o.history);
    EXPECT_FALSE(o.historyGiven);
    ASSERT_TRUE(parseTransferOptions({"--read", "--no-history"}, &o, &error));
    EXPECT_FALSE(o.history);
    EXPECT_TRUE(o.historyGiven);
    ASSERT_TRUE(parseTransferOptions({"--read", "-h"}, &o, &error));
    EXPECT_EQ(o.mode, TransferOptions::Mode::Help);
    // Every option heads a line of the option list, and the text fits one screen of 80 columns.
    const QString usage = transferUsage();
    for (const char *name :
         {"--read", "--write", "--compare", "--scan", "--diff", "--list-ports", "--history-list", "--port NAME", "--echo",
          "--rs485", "--dir FOLDER", "--tick LIST", "--wait-unit-ms N", "--verify", "--skip-silent", "--changed-only",
          "--backup-first", "--history", "--no-history", "--keep N", "--force-absent", "--report FILE", "--trace FILE", "--fast",
          "--reply-timeout-ms N", "--settle-ms N", "-h, --help"})
        EXPECT_TRUE(usage.contains(QStringLiteral("\n  %1 ").arg(QLatin1String(name)))) << name;
    for (const char *heading : {"\nИспользование:\n", "\nПараметры:\n", "\nКоды завершения:\n"})
        EXPECT_TRUE(usage.contains(QString::fromUtf8(heading))) << heading;
    EXPECT_LE(usage.count(QLatin1Char('\n')), 50);
    for (const QString &line : usage.split(QLatin1Char('\n')))
        EXPECT_LE(line.size(), 80) << line.toStdString();
}

TEST_P(BadAddressList, IsRefused)
{
    std::array<bool, kSlotCount> t{};
    EXPECT_FALSE(parseAddressList(GetParam().second, &t));
}

INSTANTIATE_TEST_SUITE_P(TransferOptions, BadAddressList,
                         testing::Values(std::pair{"Empty", ""}, std::pair{"NoSuchController", "08"},
                                         std::pair{"TrailingComma", "00,"}, std::pair{"Semicolon", "00;07"},
                                         std::pair{"HexPrefix", "0x80"}, std::pair{"ThreeDigits", "100"},
                                         std::pair{"LeadingBlank", " 00"}, std::pair{"CapitalAll", "All"}),
                         [](const auto &info) { return std::string(info.param.first); });

TEST_P(BadCommandLine, IsRefusedNamingTheFault)
{
    TransferOptions o;
    QString error;
    EXPECT_FALSE(parseTransferOptions(GetParam().args, &o, &error));
    EXPECT_TRUE(error.contains(GetParam().message)) << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    TransferOptions, BadCommandLine,
    testing::Values(BadLine{"TwoModes", {"--read", "--write"}, "режим"},
                    BadLine{"TickWithoutValue", {"--read", "--tick"}, "нет значения у --tick"},
                    BadLine{"TickNotAList", {"--write", "--tick", "01,zz"}, "--tick"},
                    BadLine{"ZeroWaitUnit", {"--read", "--wait-unit-ms", "0"}, "--wait-unit-ms"},
                    BadLine{"TickInTheWindow", {"--tick", "all"}, "--tick не действует"},
                    BadLine{"ExtraArgument", {"--read", "extra"}, "неизвестный аргумент: extra"},
                    BadLine{"UnknownOption", {"--bogus"}, "неизвестный аргумент: --bogus"},
                    BadLine{"ValueOfAFlag", {"--read=1"}, "лишнее значение"},
                    BadLine{"RepeatedDir", {"--read", "--dir", "a", "--dir", "b"}, "повторный"},
                    BadLine{"EmptyPort", {"--port", ""}, "пустое имя порта"},
                    BadLine{"OptionTakenForPort", {"--read", "--port", "--dir", "d"}, "нет значения у --port"},
                    BadLine{"ReplyTimeoutTooShort", {"--write", "--fast", "--reply-timeout-ms", "4"}, "--reply-timeout-ms"},
                    BadLine{"ReplyTimeoutWithoutFast", {"--read", "--reply-timeout-ms", "50"},
                            "--reply-timeout-ms действует только вместе с --fast"},
                    BadLine{"NegativeSettle", {"--read", "--fast", "--settle-ms", "-1"}, "--settle-ms"}),
    [](const auto &info) { return std::string(info.param.name); });
