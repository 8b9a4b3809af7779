// The Telnet side of an RFC 2217 line on its own: bytes in, data and answers
// out; data out, escaped. The line over a real connection: test_network_lines.
#include "lines/telnet_codec.h"

#include <gtest/gtest.h>

using zuk::TelnetCodec;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// A codec whose server has accepted the COM-PORT option and binary
// transmission both ways, as ser2net does.
TelnetCodec agreed()
{
    TelnetCodec codec;
    codec.opening();
    const TelnetCodec::Decoded d = codec.decode(hex("FFFD2C FFFD00 FFFB00"));
    EXPECT_TRUE(d.answers.isEmpty()) << d.answers.toHex(' ').constData();   // all asked for: nothing to say
    EXPECT_EQ(codec.comPort(), TelnetCodec::ComPort::Accepted);
    return codec;
}

// The server's answer to COM-PORT command c: IAC SB 44 c+100 value IAC SE.
QByteArray answer(int c, const char *value)
{
    return hex("FFFA2C") + QByteArray(1, char(c + 100)) + hex(value) + hex("FFF0");
}

const char *const kRightValues[] = {"", "00004B00", "08", "01", "01", "01"};

}  // namespace

TEST(TelnetCodec, FFIsDoubledBothWaysAndCrNulOnlyWithoutBinary)
{
    TelnetCodec codec = agreed();
    EXPECT_EQ(codec.encode(hex("FF01FF0D")).toHex(' '), QByteArray("ff ff 01 ff ff 0d"));
    EXPECT_EQ(codec.decode(hex("FFFF02 0D00 FF")).data.toHex(' '), QByteArray("ff 02 0d 00"));
    EXPECT_EQ(codec.decode(hex("FF03")).data.toHex(' '), QByteArray("ff 03"));   // IAC IAC across two reads

    // A server that keeps to the network virtual terminal: a CR travels as CR NUL.
    TelnetCodec plain;
    plain.opening();
    EXPECT_TRUE(plain.decode(hex("FFFD2C FFFE00 FFFC00")).answers.isEmpty());
    EXPECT_EQ(plain.encode(hex("0D0AFF")).toHex(' '), QByteArray("0d 00 0a ff ff"));
    EXPECT_EQ(plain.decode(hex("0D000D0A0D")).data.toHex(' '), QByteArray("0d 0d 0a 0d"));
    EXPECT_EQ(plain.decode(hex("0001")).data.toHex(' '), QByteArray("01"));   // the NUL after a CR of the last read
}

TEST(TelnetCodec, CommandsSplitAcrossReadsAreTakenOutAndAnswered)
{
    TelnetCodec codec = agreed();
    // WILL ECHO cut after IAC and after the verb: declined once whole.
    TelnetCodec::Decoded d = codec.decode(hex("41FF"));
    EXPECT_EQ(d.data, hex("41"));
    EXPECT_TRUE(d.answers.isEmpty());
    d = codec.decode(hex("FB"));
    EXPECT_TRUE(d.data.isEmpty() && d.answers.isEmpty());
    d = codec.decode(hex("0142"));
    EXPECT_EQ(d.data, hex("42"));
    EXPECT_EQ(d.answers.toHex(' '), QByteArray("ff fe 01"));
    // DO of an option never offered: refused; a NOP and a modem state notice
    // are no data; a subnegotiation cut inside, with a doubled FF in it.
    d = codec.decode(hex("FFFD18 FFF1 43 FFFA2C6B"));
    EXPECT_EQ(d.data, hex("43"));
    EXPECT_EQ(d.answers.toHex(' '), QByteArray("ff fc 18"));
    EXPECT_EQ(codec.decode(hex("FFFF FFF0 44")).data, hex("44"));
    // The server's own offer of suppressed go-ahead is taken, once.
    EXPECT_EQ(codec.decode(hex("FFFB03")).answers.toHex(' '), QByteArray("ff fd 03"));
    EXPECT_TRUE(codec.decode(hex("FFFB03")).answers.isEmpty());
    // DONT COM-PORT: refused; reset forgets it.
    codec.decode(hex("FFFE2C"));
    EXPECT_EQ(codec.comPort(), TelnetCodec::ComPort::Refused);
    codec.reset();
    EXPECT_EQ(codec.comPort(), TelnetCodec::ComPort::Asked);
}

TEST(TelnetCodec, EachOfTheFiveAnswersMustGiveBackWhatWasAsked)
{
    // What is asked: 19200 baud as 4 bytes, 8 data bits, no parity, 1 stop bit, no flow control.
    EXPECT_EQ(TelnetCodec::lineSettings().toHex(' '),
              QByteArray("ff fa 2c 01 00 00 4b 00 ff f0 ff fa 2c 02 08 ff f0 ff fa 2c 03 01 ff f0 "
                         "ff fa 2c 04 01 ff f0 ff fa 2c 05 01 ff f0"));
    {
        TelnetCodec codec = agreed();
        for (int c = 1; c <= 5; ++c) {
            EXPECT_FALSE(codec.settingsAnswered()) << c;
            codec.decode(answer(c, kRightValues[c]));
        }
        EXPECT_TRUE(codec.settingsAnswered());
        EXPECT_EQ(codec.wrongSetting(), QString());
        codec.decode(answer(3, "01"));
        EXPECT_EQ(codec.wrongSetting(), QStringLiteral("настройка 3 подтверждена дважды"));
    }
    const struct {
        int command;
        const char *value, *named;
    } wrong[] = {
        {1, "00000000", "скорость 0 вместо 19200"},
        {1, "4B00", "скорость в 2 байтах вместо 4"},
        {1, "00FFFF4B00", "скорость 16730880 вместо 19200"},   // a doubled FF in the value is one byte
        {2, "07", "биты данных 7 вместо 8"},
        {3, "03", "чётность 3 вместо 1 (нет)"},
        {4, "02", "стоповые биты 2 вместо 1"},
        {5, "", "управление потоком ? вместо 1 (нет)"},
    };
    for (const auto &w : wrong) {
        TelnetCodec codec = agreed();
        for (int c = 1; c <= 5; ++c)
            codec.decode(answer(c, c == w.command ? w.value : kRightValues[c]));
        EXPECT_EQ(codec.wrongSetting(), QString::fromUtf8(w.named)) << w.command << " " << w.value;
        // The first fault stays named, whatever comes after.
        codec.decode(answer(2, "05"));
        EXPECT_EQ(codec.wrongSetting(), QString::fromUtf8(w.named));
    }
}
