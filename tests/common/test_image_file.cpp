#include "common/image_file.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace zuk;

namespace {

RegisterImage patternImage()
{
    RegisterImage img{};
    for (const ControllerSlot &s : controllerMap())
        for (int r = 0; r < s.rows; ++r)
            for (int b = 0; b < 8; ++b)
                img[s.slot][r][b] = static_cast<qint16>((s.slot * 37 + r * 11 + b * 5) % 256);
    return img;
}

QStringList linesOf(const QByteArray &bytes)
{
    QString text = decode1251(bytes);
    EXPECT_TRUE(text.endsWith("\r\n"));
    text.chop(2);
    return text.split("\r\n");
}

}  // namespace

TEST(AddressMap, SlotsAddressesAndRows)
{
    const auto &map = controllerMap();
    int total = 0;
    for (const ControllerSlot &s : map)
        total += s.rows;
    EXPECT_EQ(total, 744);
    EXPECT_EQ(map[0].address, 0x00);
    EXPECT_EQ(map[7].address, 0x07);
    EXPECT_EQ(map[8].address, 0x80);
    EXPECT_EQ(map[15].address, 0x87);
    EXPECT_EQ(map[16].address, 0x90);
    EXPECT_EQ(map[17].address, 0x98);
    EXPECT_EQ(map[18].address, 0x9C);
    EXPECT_EQ(map[19].address, 0x9D);
    EXPECT_EQ(map[8].rows, 9);
    EXPECT_EQ(map[16].rows, 60);
    EXPECT_EQ(map[17].rows, 54);
    EXPECT_EQ(map[18].rows, 24);
    EXPECT_EQ(map[19].rows, 54);
    EXPECT_STREQ(map[18].boxName, "adr_9c");
    EXPECT_EQ(map[3].caption, QStringLiteral("контроллер адрес $03"));
    EXPECT_EQ(map[12].caption, QStringLiteral("индикатор часовой $84"));
    EXPECT_EQ(slotOfAddress(0x9D), 19);
    EXPECT_EQ(slotOfAddress(0x08), -1);
    EXPECT_EQ(hexText(0), "0");
    EXPECT_EQ(hexText(10), "A");
    EXPECT_EQ(hexText(59), "3B");
    EXPECT_EQ(hexText(0x9D), "9D");
}

TEST(ImageFile, NeverReadImageSavesCompleteFile)
{
    RegisterImage img{};
    const QByteArray bytes = imageFileBytes(img);
    EXPECT_EQ(bytes.count("\r\n"), 6716);
    EXPECT_EQ(imageFileLineCount(), 6716);
    EXPECT_EQ(bytes.count('\n'), 6716);  // no LF without its CR
    const QStringList lines = linesOf(bytes);
    ASSERT_EQ(lines.size(), 6716);
    // The exact bytes of the first header: Windows-1251, two blanks after the first word.
    EXPECT_TRUE(bytes.startsWith("\"\xC0\xE4\xF0\xE5\xF1  \xF3\xED\xE8\xE2"));
    EXPECT_EQ(lines[0], QStringLiteral("\"Адрес  универсального контроллера - 0\""));
    EXPECT_EQ(lines[1], QStringLiteral("\"регистр-0\""));
    EXPECT_EQ(lines[2], "0");
    EXPECT_EQ(lines[1 + 9 * 10], QStringLiteral("\"регистр-A\""));
    EXPECT_EQ(lines[1 + 9 * 59], QStringLiteral("\"регистр-3B\""));
    EXPECT_EQ(lines[541], QStringLiteral("\"Адрес  универсального контроллера - 1\""));

    // Section starts and ends of every kind.
    int line = 0;
    for (const ControllerSlot &s : controllerMap()) {
        EXPECT_EQ(lines[line], "\"" + s.header + hexText(s.address) + "\"") << s.slot;
        const int last = line + 1 + 9 * (s.rows - 1);
        EXPECT_EQ(lines[last], "\"" + rowLabelText(s.rows - 1) + "\"") << s.slot;
        line += 1 + 9 * s.rows;
    }
    EXPECT_EQ(lines[5 * 541 + 3 * 541 + 0], QStringLiteral("\"Адрес  контроллера индикатора - 80\""));
    EXPECT_TRUE(lines.contains(QStringLiteral("\"Адрес  контроллера говорилки - 9C\"")));
    EXPECT_TRUE(lines.contains(QStringLiteral("\"Адрес  контроллера СМС - 9D\"")));
    EXPECT_TRUE(lines.contains(QStringLiteral("\"регистр-17\"")));
    EXPECT_TRUE(lines.contains(QStringLiteral("\"регистр-35\"")));
    for (const QString &l : lines) {
        if (!l.startsWith('"')) {
            ASSERT_EQ(l, "0");
        }
    }
}

TEST(ImageFile, ValuesLandUnderTheirLabels)
{
    RegisterImage img{};
    img[17][10][3] = 241;
    img[18][23][7] = -5;  // written as it is; only the writing run judges values
    const QStringList lines = linesOf(imageFileBytes(img));
    int start = 0;
    for (int s = 0; s < 17; ++s)
        start += 1 + 9 * controllerMap()[s].rows;
    EXPECT_EQ(lines[start + 1 + 9 * 10], QStringLiteral("\"регистр-A\""));
    EXPECT_EQ(lines[start + 1 + 9 * 10 + 1 + 3], "241");
    start += 1 + 9 * 54;
    EXPECT_EQ(lines[start + 1 + 9 * 23], QStringLiteral("\"регистр-17\""));
    EXPECT_EQ(lines[start + 1 + 9 * 23 + 1 + 7], "-5");
}

TEST(ImageFile, SaveThenLoadGivesTheSameImage)
{
    const RegisterImage img = patternImage();
    const QByteArray bytes = imageFileBytes(img);
    RegisterImage back{};
    ItemReader reader = ItemReader::fromBytes(bytes);
    ASSERT_TRUE(loadImage(reader, back).ok);
    EXPECT_EQ(back, img);
    EXPECT_EQ(imageFileBytes(back), bytes);
}

TEST(ImageFile, ItemsSpreadDifferentlyLoadTheSame)
{
    const RegisterImage img = patternImage();
    // Put a row label and its 8 values on one line, with blanks after commas.
    QString text;
    for (const ControllerSlot &s : controllerMap()) {
        text += "\"header ignored\"\r\n";
        for (int r = 0; r < s.rows; ++r) {
            text += "\"x\"";
            for (int b = 0; b < 8; ++b)
                text += ", " + QString::number(img[s.slot][r][b]);
            text += "\n";
        }
    }
    RegisterImage back{};
    ItemReader reader(text);
    ASSERT_TRUE(loadImage(reader, back).ok);
    EXPECT_EQ(back, img);
}

TEST(ImageFile, FileCutShortKeepsWhatWasRead)
{
    const RegisterImage img = patternImage();
    QStringList lines = linesOf(imageFileBytes(img));
    // Cut in the middle of slot 5, row 20.
    const int cut = 5 * 541 + 1 + 9 * 20 + 4;
    lines = lines.mid(0, cut);
    QByteArray bytes;
    ASSERT_TRUE(encode1251(lines.join("\r\n") + "\r\n", &bytes));

    RegisterImage back{};
    for (auto &slot : back)
        for (auto &row : slot)
            row.fill(-1);
    ItemReader reader = ItemReader::fromBytes(bytes);
    const ImageLoadResult result = loadImage(reader, back);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.failure.isEmpty());
    EXPECT_EQ(result.wholeSlots, 5);   // slots 0..4 whole, 5 cut
    for (int s = 0; s < 5; ++s)
        EXPECT_EQ(back[s], img[s]) << s;
    EXPECT_EQ(back[5][19], img[5][19]);
    EXPECT_EQ(back[5][20][0], img[5][20][0]);
    EXPECT_EQ(back[5][20][2], img[5][20][2]);
    EXPECT_EQ(back[5][20][3], -1);  // not reached: keeps its earlier value
    EXPECT_EQ(back[6][0][0], -1);
}

TEST(ImageFile, BadNumbersFailTheLoad)
{
    for (const char *bad : {"1.5", "40000", "-32769", "abc", ""}) {
        QStringList lines = linesOf(imageFileBytes(patternImage()));
        lines[2 + 3] = QString::fromLatin1(bad);  // byte 3 of row 0 of slot 0
        RegisterImage back{};
        ItemReader reader(lines.join("\r\n") + "\r\n");
        const ImageLoadResult result = loadImage(reader, back);
        EXPECT_FALSE(result.ok) << bad;
        EXPECT_EQ(back[0][0][2], patternImage()[0][0][2]);
        EXPECT_EQ(back[0][0][3], 0);
    }
    // Numbers outside a byte but inside 16 bits load unchanged.
    QStringList lines = linesOf(imageFileBytes(RegisterImage{}));
    lines[2] = "-300";
    lines[3] = "32767";
    RegisterImage back{};
    ItemReader reader(lines.join("\r\n") + "\r\n");
    const ImageLoadResult whole = loadImage(reader, back);
    ASSERT_TRUE(whole.ok);
    EXPECT_EQ(whole.wholeSlots, kSlotCount);
    EXPECT_EQ(back[0][0][0], -300);
    EXPECT_EQ(back[0][0][1], 32767);
}

TEST(ImageFile, MissingFileIsReportedByName)
{
    QTemporaryDir dir;
    RegisterImage img{};
    const ImageLoadResult result = loadImageFile(dir.filePath("zuk.txt"), img);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.failure.contains("zuk.txt"));
}
