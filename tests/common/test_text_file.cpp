#include "common/text_file.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace zuk;

namespace {

QStringList readAll(const QString &text)
{
    ItemReader r(text);
    QStringList items;
    QString item;
    while (r.readText(&item))
        items << item;
    return items;
}

}  // namespace

// The table is the program's own; where the system knows the code page
// (Qt with ICU on Linux), both agree on every byte.
TEST(Windows1251, EveryByteRoundTripsAndMatchesTheSystemDecoder)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    const QString text = decode1251(all);
    ASSERT_EQ(text.size(), 256);
    QByteArray back;
    ASSERT_TRUE(encode1251(text, &back));
    EXPECT_EQ(back, all);
    EXPECT_EQ(decode1251(QByteArray("\xC0\xE4\xF0\xE5\xF1")), QStringLiteral("Адрес"));
    EXPECT_EQ(decode1251(QByteArray("\xA8\xB8\xB9\x88\x98")), QStringLiteral("Ёё№€\u0098"));
    QStringDecoder system("windows-1251");
    if (!system.isValid())
        GTEST_SKIP() << "this Qt has no Windows-1251 of its own to compare with";
    const QString expected = system(all);
    ASSERT_EQ(expected.size(), 256);
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(text[b], expected[b]) << "byte " << b;
}

TEST(Windows1251, UnencodableCharacterIsFound)
{
    qsizetype bad = -1;
    EXPECT_TRUE(encode1251(QStringLiteral("вход €1 №"), nullptr, &bad));  // both are in the code page
    EXPECT_FALSE(encode1251(QStringLiteral("вход ☃ 1"), nullptr, &bad));
    EXPECT_EQ(bad, 5);
    QChar c;
    EXPECT_FALSE(isWritableText(QStringLiteral("лампа \"1\""), &c));
    EXPECT_EQ(c, u'"');
    EXPECT_FALSE(isWritableText(QStringLiteral("a\nb"), &c));
    EXPECT_FALSE(isWritableText(QStringLiteral("x☃"), &c));
    EXPECT_EQ(c, QChar(0x2603));
    EXPECT_TRUE(isWritableText(QStringLiteral("Свет, кухня №2 «угол»")));
}

TEST(ItemReader, ItemsEndAtCommasAndLineEnds)
{
    EXPECT_EQ(readAll(QStringLiteral("1,\"a\",\"b\"\r\n2\r\n")),
              (QStringList{"1", "a", "b", "2"}));
    // LF alone and a lone CR end lines too; the last line needs no line end.
    EXPECT_EQ(readAll(QStringLiteral("a\nb\rc")), (QStringList{"a", "b", "c"}));
    // An empty line is one empty item; a trailing comma leaves an empty item.
    EXPECT_EQ(readAll(QStringLiteral("a\r\n\r\nb,\r\n")), (QStringList{"a", "", "b", ""}));
    EXPECT_EQ(readAll(QStringLiteral("\"\"\r\n")), (QStringList{""}));
}

TEST(ItemReader, QuotedItemsKeepCommasAndBlanks)
{
    EXPECT_EQ(readAll(QStringLiteral("\"0,5 с\",\" ff \"\r\n")), (QStringList{"0,5 с", " ff "}));
    // Leading blanks before an item are skipped, also before a quote.
    EXPECT_EQ(readAll(QStringLiteral("  \"x\",\t 7\r\n")), (QStringList{"x", "7"}));
    // Text after the closing quote up to the next comma is dropped.
    EXPECT_EQ(readAll(QStringLiteral("\"ab\"cd,e\r\n")), (QStringList{"ab", "e"}));
    // A quote left open ends at the end of its line.
    EXPECT_EQ(readAll(QStringLiteral("\"open, still\r\nnext\r\n")), (QStringList{"open, still", "next"}));
}

TEST(ItemReader, OnlyLeadingBlanksAreSkippedNumbersAllowBlanksAround)
{
    // A kind word with a blank after it is another word.
    EXPECT_EQ(readAll(QStringLiteral("ff ,timer\t\r\n in  \r\nt \r\n")),
              (QStringList{"ff ", "timer\t", "in  ", "t "}));
    ItemReader r(QStringLiteral(" 12 ,\t-7\t\r\n1 2\r\n"));
    qint16 a = 0, b = 0, c = 0;
    ASSERT_TRUE(r.readNumber(&a));
    EXPECT_TRUE(r.readNumber(&b));
    EXPECT_EQ(std::pair(a, b), std::pair(qint16(12), qint16(-7)));
    EXPECT_FALSE(r.readNumber(&c));
    EXPECT_EQ(r.status(), ItemReader::Status::BadNumber);
}

TEST(ItemReader, NumbersMustBeSixteenBitIntegers)
{
    qint16 v = 0;
    EXPECT_TRUE(parseNumberItem("0", &v));
    EXPECT_TRUE(parseNumberItem("-32768", &v));
    EXPECT_EQ(v, -32768);
    EXPECT_TRUE(parseNumberItem("32767", &v));
    EXPECT_EQ(v, 32767);
    EXPECT_TRUE(parseNumberItem("007", &v));
    EXPECT_EQ(v, 7);
    for (const char *bad : {"32768", "-32769", "", "-", "1.5", "1e3", "0x10", "12a", "+5", "1 2",
                            "99999999999999999999"})
        EXPECT_FALSE(parseNumberItem(QString::fromLatin1(bad), &v)) << bad;

    ItemReader r(QStringLiteral("12\r\n\"34\"\r\nabc\r\n"));
    ASSERT_TRUE(r.readNumber(&v));
    EXPECT_EQ(v, 12);
    ASSERT_TRUE(r.readNumber(&v));  // quotes are removed before the number is read
    EXPECT_EQ(v, 34);
    EXPECT_FALSE(r.readNumber(&v));
    EXPECT_EQ(r.status(), ItemReader::Status::BadNumber);
    EXPECT_EQ(r.itemsRead(), 3);
    EXPECT_EQ(r.line(), 3);
    EXPECT_TRUE(r.failureText().contains("abc"));
    EXPECT_FALSE(r.readNumber(&v));
    EXPECT_EQ(r.status(), ItemReader::Status::EndOfFile);
}

TEST(ItemWriter, WritesQuotedTextsPlainNumbersAndCrLf)
{
    ItemWriter w;
    w.textLine(QStringList{"Адрес контроллера - 0", "кухня, угол"});
    w.textLine(QString());
    w.numberLine(-5);
    w.numberLine(255);
    QByteArray bytes;
    ASSERT_TRUE(w.bytes(&bytes));
    EXPECT_EQ(w.lineCount(), 4);
    EXPECT_EQ(decode1251(bytes),
              QStringLiteral("\"Адрес контроллера - 0\",\"кухня, угол\"\r\n\"\"\r\n-5\r\n255\r\n"));
    // What the writer writes, the reader reads back item for item.
    EXPECT_EQ(readAll(decode1251(bytes)),
              (QStringList{"Адрес контроллера - 0", "кухня, угол", "", "-5", "255"}));
    // A character outside the code page fails the whole file, naming the line.
    w.textLine(QStringLiteral("вход ☃"));
    QString error;
    const QByteArray before = bytes;
    EXPECT_FALSE(w.bytes(&bytes, &error));
    EXPECT_TRUE(error.contains("U+2603")) << error.toStdString();
    EXPECT_TRUE(error.contains("строка 5")) << error.toStdString();
    EXPECT_EQ(bytes, before);   // left as it was
}
