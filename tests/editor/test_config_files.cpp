// Start-up, loading, saving and the controller display, through the form on
// copies of the sample installation.
#include "fixture.h"

#include "common/address_map.h"

#include <QDir>

using namespace kalvet_test;

namespace {

QStringList fileLines(const QString &text)
{
    QStringList lines = text.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// Line index (from 0) of byte b of row r of slot 0 in zuk.txt.
int slot0Line(int row, int byte) { return 1 + 9 * row + 1 + byte; }

void setLine(Installation &inst, const QString &name, int index, const QString &content)
{
    QStringList lines = fileLines(inst.text(name));
    ASSERT_LT(index, lines.size());
    lines[index] = content;
    inst.writeText(name, lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

void keepLines(Installation &inst, const QString &name, int count)
{
    QStringList lines = fileLines(inst.text(name));
    inst.writeText(name, lines.mid(0, count).join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

// A names file with a distinct text in every field; some empty, some with commas.
QString namesFile()
{
    QString out;
    auto q = [](const QString &t) { return QStringLiteral("\"%1\"").arg(t); };
    for (int k = 0; k < 16; ++k) {
        out += q(QStringLiteral("Адрес контроллера - %1").arg(zuk::hexText(k))) + u',' +
               q(QStringLiteral("место %1, этаж").arg(k)) + QStringLiteral("\r\n");
        for (int l = 0; l < 16; ++l) {
            const QString in = l == 5 ? QString() : QStringLiteral("вход %1.%2, левый").arg(k).arg(l);
            out += QStringList{q(zuk::hexText(l)), q(QStringLiteral("выход %1.%2").arg(k).arg(l)), q(in),
                               q(QStringLiteral("ИК %1.%2").arg(k).arg(l))}
                       .join(u',') +
                   QStringLiteral("\r\n");
        }
    }
    return out;
}

const QStringList kDataFiles = {QStringLiteral("zuk.txt"), QStringLiteral("out_in_ik.txt"),
                                QStringLiteral("szenar.txt")};

}  // namespace

TEST(EditorStartup, SelectsFirstControllerAndThirdRecordAndShowsItsNames)
{
    StartedEditor e;
    auto &f = *e.form;
    EXPECT_TRUE(e.host.messages.isEmpty()) << e.host.all().toStdString();
    EXPECT_EQ(f.Combo3.listIndex(), 0);
    EXPECT_EQ(f.Combo15.listIndex(), 2);
    EXPECT_EQ(f.Combo15.listCount(), 80);
    EXPECT_EQ(f.Combo3.items(), (QStringList{"Прихожая", "Гостиная", "Кухня", "Спальня", "Детская", "Кабинет",
                                             "Ванная", "Котельная"}));
    // Texts of controller 0 as the names file holds them.
    const QStringList items = e.inst.items("out_in_ik.txt");
    EXPECT_EQ(f.Text3.text(), items[1]);
    EXPECT_EQ(f.Text1[3].text(), items[2 + 3 * 4 + 1]);
    EXPECT_EQ(f.Text2[3].text(), items[2 + 3 * 4 + 2]);
    EXPECT_EQ(f.Text4[15].text(), items[2 + 15 * 4 + 3]);
    EXPECT_EQ(f.Text5[1].text(), e.inst.items("szenar.txt")[1 + 1 * 2 + 1]);
    for (const auto &box : f.Combo14) {
        ASSERT_EQ(box.listCount(), 254);
        EXPECT_EQ(box.items(), f.Combo14[0].items());
    }
    EXPECT_TRUE(f.incompleteFiles().isEmpty());
}

TEST(EditorStartup, AdresLayoutAndNumbersDoNotMatterAndOnlyEightAreRead)
{
    QString oneLine, perItem;
    for (int i = 0; i < 9; ++i) {
        oneLine += QStringLiteral("%1,\"x\",\"комната %2\"\r\n").arg(i).arg(i);
        perItem += QStringLiteral("%1\r\n\"y, z\"\r\n\"комната %2\"\r\n").arg(100 + i).arg(i);
    }
    QStringList lists[2];
    for (int v = 0; v < 2; ++v) {
        StartedEditor e(false);
        e.inst.writeText("adres.ini", v == 0 ? oneLine : perItem);
        e.restart();
        EXPECT_TRUE(e.host.messages.isEmpty()) << e.host.all().toStdString();
        lists[v] = e.form->Combo3.items();
        // Entry i still edits slot i, whatever the number says.
        e.form->Combo3.choose(4);
        EXPECT_EQ(e.form->Text3.text(), e.form->ctrl_location[4]);
    }
    EXPECT_EQ(lists[0].size(), 8);
    EXPECT_EQ(lists[0].last(), "комната 7");
    EXPECT_EQ(lists[0], lists[1]);
}

TEST(EditorStartup, TimerWithMoreItemsFillsEachBoxWith254)
{
    StartedEditor e(false);
    QString timer;
    for (int i = 0; i < 300; ++i)
        timer += QStringLiteral("\"%1,5 с\"\r\n").arg(i);
    e.inst.writeText("timer.ini", timer);
    e.restart();
    EXPECT_TRUE(e.host.messages.isEmpty());
    for (const auto &box : e.form->Combo14) {
        ASSERT_EQ(box.listCount(), 254);
        EXPECT_EQ(box.item(253), "253,5 с");
    }
}

TEST(EditorSave, RightAfterStartupWritesTheLoadedFilesUnchanged)
{
    StartedEditor e;
    e.form->Command2_Click();
    EXPECT_TRUE(e.host.messages.isEmpty()) << e.host.all().toStdString();
    EXPECT_TRUE(e.host.questions.isEmpty());
    EXPECT_EQ(fileLines(e.inst.text("zuk.txt")).size(), 6716);
    EXPECT_EQ(fileLines(e.inst.text("out_in_ik.txt")).size(), 272);
    EXPECT_EQ(fileLines(e.inst.text("szenar.txt")).size(), 624);
    for (const QString &name : kDataFiles)
        EXPECT_EQ(e.inst.bytes(name), Installation::original(name)) << name.toStdString();
    // The section ends of zuk.txt: clock indicator, talker, system.
    const QStringList lines = fileLines(e.inst.text("zuk.txt"));
    EXPECT_EQ(lines[8 * 541 + 1 + 9 * 8], "\"регистр-8\"");
    EXPECT_EQ(lines.indexOf("\"Адрес  контроллера говорилки - 9C\"") + 1 + 9 * 23, lines.indexOf("\"регистр-17\"", 6000));
    EXPECT_TRUE(QDir(e.inst.folder()).entryList({"*.new"}).isEmpty());
}

TEST(EditorSave, EveryNameRoundTripsAndOnlyTheShownControllerTakesTyping)
{
    StartedEditor e(false);
    e.inst.writeText("out_in_ik.txt", namesFile());
    e.restart();
    auto &f = *e.form;
    EXPECT_EQ(f.in_name[0][5], "");
    EXPECT_EQ(f.in_name[9][14], "вход 9.14, левый");
    f.Combo3.choose(2);
    f.Text1[3].setText("новый выход");
    f.Text3.setText("");
    f.Combo3.choose(3);      // discards the typing for controller 2
    f.Text1[4].setText("выход, с запятой");
    f.Command2_Click();
    EXPECT_TRUE(e.host.messages.isEmpty()) << e.host.all().toStdString();

    QStringList expected = fileLines(namesFile());
    expected[3 * 17 + 1 + 4] = "\"4\",\"выход, с запятой\",\"вход 3.4, левый\",\"ИК 3.4\"";
    EXPECT_EQ(fileLines(e.inst.text("out_in_ik.txt")), expected);
    EXPECT_EQ(f.Combo3.listIndex(), 3);
    EXPECT_EQ(f.Text1[4].text(), "выход, с запятой");
    EXPECT_EQ(f.Text2[5].text(), "");

    // A second load and save changes nothing more.
    const QByteArray once = e.inst.bytes("out_in_ik.txt");
    e.restart();
    e.form->Command2_Click();
    EXPECT_EQ(e.inst.bytes("out_in_ik.txt"), once);
}

TEST(EditorLoad, ScenarioCodesComeFromTheLastSection)
{
    StartedEditor e(false);
    QString file;
    for (int k = 0; k < 16; ++k) {
        file += QStringLiteral("\"Адрес контроллера - %1\"\r\n").arg(zuk::hexText(k));
        for (int s = 0; s < 38; ++s)
            file += QStringLiteral("\"%1%2\",\"с%3.%4\"\r\n").arg(k == 15 ? "L" : "X").arg(s).arg(k).arg(s);
    }
    e.inst.writeText("szenar.txt", file);
    e.restart();
    auto &f = *e.form;
    for (int s = 0; s < 38; ++s)
        ASSERT_EQ(f.Label14[s].caption(), QStringLiteral("L%1").arg(s));
    EXPECT_EQ(f.Text5[37].text(), "с0.37");
    f.Text5[0].setText("утро");
    f.Command2_Click();
    const QStringList items = e.inst.items("szenar.txt");
    EXPECT_EQ(items[1 + 77 * 4], "L0");   // section 4 carries the codes of the last one
    EXPECT_EQ(items[2], "утро");
    EXPECT_EQ(items[77 * 5 + 2], "с5.0");
}

TEST(EditorLoad, ReadComesBackWithTheRememberedSelections)
{
    StartedEditor e;
    auto &f = *e.form;
    f.Combo3.choose(5);
    EXPECT_EQ(f.Combo15.listIndex(), 2);   // a controller choice restores the remembered record
    f.Combo15.choose(7);
    f.Command1_Click();
    EXPECT_EQ(f.Combo3.listIndex(), 0);
    EXPECT_EQ(f.Combo15.listIndex(), 2);

    f.Combo3.choose(5);
    f.Combo15.choose(7);
    f.Command2_Click();
    EXPECT_EQ(f.Combo3.listIndex(), 5);
    EXPECT_EQ(f.Combo15.listIndex(), 7);
    f.Combo3.choose(1);
    f.Combo15.choose(3);
    f.Command1_Click();
    EXPECT_EQ(f.Combo3.listIndex(), 5);
    EXPECT_EQ(f.Combo15.listIndex(), 7);
    EXPECT_EQ(f.Text3.text(), f.ctrl_location[5]);
}

TEST(EditorDelays, EachBoxShowsAndWritesItsOwnByte)
{
    struct Place { int row, byte; };
    const Place places[12] = {{58, 1}, {58, 2}, {58, 3}, {58, 4}, {58, 5}, {58, 6},
                              {58, 7}, {59, 0}, {59, 1}, {59, 2}, {59, 3}, {59, 5}};
    StartedEditor e;
    auto &f = *e.form;
    auto &img = f.reg_image[3];
    img[58][0] = 200;
    img[59][4] = 201;
    for (int d = 0; d < 12; ++d)
        img[places[d].row][places[d].byte] = static_cast<qint16>(10 + d);
    f.Combo3.choose(3);
    for (int d = 0; d < 12; ++d)
        EXPECT_EQ(f.Combo14[d].listIndex(), 10 + d) << d;
    for (int d = 0; d < 12; ++d) {
        f.Combo14[d].choose(100 + d);
        EXPECT_EQ(img[places[d].row][places[d].byte], 100 + d) << d;
    }
    EXPECT_EQ(img[58][0], 200);
    EXPECT_EQ(img[59][4], 201);
    f.Combo14[11].choose(253);
    f.Command2_Click();
    const QStringList lines = fileLines(e.inst.text("zuk.txt"));
    EXPECT_EQ(lines[3 * 541 + slot0Line(59, 5)], "253");
    EXPECT_EQ(lines[3 * 541 + slot0Line(59, 4)], "201");
    EXPECT_EQ(f.Combo14[11].listIndex(), 253);
}

TEST(EditorDelays, ByteWithNoTextIsShownAsNumberAndKept)
{
    StartedEditor e(false);
    const int values[] = {254, 255, -1, 300};
    for (int d = 0; d < 4; ++d)
        setLine(e.inst, "zuk.txt", slot0Line(58, 1 + d), QString::number(values[d]));
    e.restart();
    auto &f = *e.form;
    EXPECT_TRUE(e.host.messages.isEmpty());
    int clicks = 0;
    f.Combo14[0].onClick = [&clicks, &f] { ++clicks; f.Combo14_Click(0); };
    f.Command1_Click();
    EXPECT_EQ(clicks, 0);
    for (int d = 0; d < 4; ++d) {
        EXPECT_EQ(f.Combo14[d].listIndex(), -1);
        EXPECT_EQ(f.Combo14[d].text(), QString::number(values[d]));
        EXPECT_EQ(f.reg_image[0][58][1 + d], values[d]);
    }
    f.Combo14[1].choose(0);
    f.Command2_Click();
    const QStringList lines = fileLines(e.inst.text("zuk.txt"));
    EXPECT_EQ(lines[slot0Line(58, 1)], "254");
    EXPECT_EQ(lines[slot0Line(58, 2)], "0");
    EXPECT_EQ(lines[slot0Line(58, 3)], "-1");
    EXPECT_EQ(lines[slot0Line(58, 4)], "300");
}

TEST(EditorFailures, ReferenceFilesMissingShortOrBad)
{
    struct Case {
        const char *file;
        QString content;     // empty: the file is removed
        QStringList inMessage;
        int controllers, delayTexts, records;
    };
    QString shortTimer;
    for (int i = 0; i < 253; ++i)
        shortTimer += QStringLiteral("\"t%1\"\r\n").arg(i);
    const Case cases[] = {
        {"adres.ini", {}, {"adres.ini"}, 0, 254, 80},
        {"adres.ini", "0,\"a\",\"один\"\r\n1,\"b\",\"два\"\r\n", {"adres.ini", "6", "24"}, 2, 254, 80},
        {"adres.ini", "0,\"a\",\"один\"\r\nx1,\"b\",\"два\"\r\n", {"adres.ini", "x1"}, 1, 254, 80},
        {"adres.ini", "0,\"a\",\"один\"\r\n40000,\"b\",\"два\"\r\n", {"adres.ini", "40000"}, 1, 254, 80},
        {"timer.ini", {}, {"timer.ini"}, 8, 0, 80},
        {"timer.ini", shortTimer, {"timer.ini", "253", "254"}, 8, 253, 80},
        {"opis_0.ini", {}, {"opis_0.ini"}, 8, 254, 0},
        {"opis_0.ini", "\"запись 0\"\r\n\"a\"\r\n", {"opis_0.ini", "2", "3360"}, 8, 254, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.content.left(30).toStdString());
        StartedEditor e(false);
        if (c.content.isEmpty())
            e.inst.remove(c.file);
        else
            e.inst.writeText(c.file, c.content);
        e.restart();
        ASSERT_FALSE(e.host.messages.isEmpty());
        for (const QString &part : c.inMessage)
            EXPECT_TRUE(e.host.all().contains(part)) << e.host.all().toStdString();
        EXPECT_EQ(e.form->Combo3.listCount(), c.controllers);
        EXPECT_EQ(e.form->Combo14[11].listCount(), c.delayTexts);
        EXPECT_EQ(e.form->Combo15.listCount(), c.records);
        // The data files were still loaded and controller 0 is shown.
        EXPECT_EQ(e.form->Text3.text(), e.inst.items("out_in_ik.txt")[1]);
        EXPECT_TRUE(e.form->incompleteFiles().isEmpty());
    }
    // A short timer.ini leaves delay byte 253 without a text: shown as its number.
    StartedEditor e(false);
    e.inst.writeText("timer.ini", shortTimer);
    setLine(e.inst, "zuk.txt", slot0Line(59, 5), "253");
    e.restart();
    EXPECT_EQ(e.form->Combo14[11].listIndex(), -1);
    EXPECT_EQ(e.form->Combo14[11].text(), "253");
}

TEST(EditorFailures, IncompleteDataFileIsReportedAndTheSaveAsksFirst)
{
    struct Case {
        const char *file;
        int keepLines;        // -1: removed; otherwise the file is cut to so many lines
        int badLine;          // >= 0: this line holds a bad number instead
        QStringList inMessage;
    };
    const Case cases[] = {
        {"szenar.txt", -1, -1, {"szenar.txt"}},
        {"out_in_ik.txt", 100, -1, {"out_in_ik.txt", "из 1056"}},
        {"zuk.txt", 3000, -1, {"zuk.txt", "из 6716"}},
        {"zuk.txt", 6716, slot0Line(58, 3), {"zuk.txt", "«3.5»"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        StartedEditor e;
        auto &f = *e.form;
        const QString before15 = f.ctrl_location[15];
        f.reg_image[19][53][7] = 99;
        f.reg_image[0][1][0] = 77;
        f.ctrl_location[15] = "прежнее";
        if (c.keepLines < 0)
            e.inst.remove(c.file);
        else
            keepLines(e.inst, c.file, c.keepLines);
        if (c.badLine >= 0)
            setLine(e.inst, c.file, c.badLine, "3.5");
        e.host.reset();
        f.Command1_Click();
        ASSERT_EQ(e.host.messages.size(), 1);
        for (const QString &part : c.inMessage)
            EXPECT_TRUE(e.host.all().contains(part)) << e.host.all().toStdString();
        EXPECT_EQ(f.incompleteFiles(), QStringList{c.file});
        // Values read before the failure are the file's, the rest stay as they were.
        if (QString(c.file) == "out_in_ik.txt") {
            EXPECT_EQ(f.ctrl_location[0], e.inst.items(c.file)[1]);
            EXPECT_EQ(f.ctrl_location[15], "прежнее");
        } else {
            EXPECT_EQ(f.ctrl_location[15], before15);
        }
        if (QString(c.file) == "zuk.txt") {
            EXPECT_EQ(f.reg_image[19][53][7], 99);
            EXPECT_EQ(QString::number(f.reg_image[0][1][0]), fileLines(e.inst.text(c.file))[slot0Line(1, 0)]);
        }

        // Declining writes nothing.
        const auto snapshot = [&e] {
            QList<QByteArray> all;
            for (const QString &name : kDataFiles)
                all << e.inst.bytes(name);
            return all;
        };
        const auto before = snapshot();
        f.Command2_Click();
        ASSERT_EQ(e.host.questions.size(), 1);
        EXPECT_TRUE(e.host.questions[0].contains(c.file));
        EXPECT_EQ(snapshot(), before);

        // Saying yes writes complete files, and the configuration is whole again.
        e.host.answers = {true};
        f.Command2_Click();
        EXPECT_EQ(e.host.questions.size(), 2);
        EXPECT_EQ(fileLines(e.inst.text("zuk.txt")).size(), 6716);
        EXPECT_EQ(fileLines(e.inst.text("szenar.txt")).size(), 624);
        EXPECT_EQ(fileLines(e.inst.text("out_in_ik.txt")).size(), 272);
        EXPECT_TRUE(f.incompleteFiles().isEmpty());
    }
}

TEST(EditorFailures, UnwritableTextWritesNothingAndNamesFieldAndCharacter)
{
    struct Case {
        std::function<void(kalvet::EditorForm &)> type;
        QString field, character;
    };
    const Case cases[] = {
        {[](kalvet::EditorForm &f) { f.Text2[3].setText("вход \"3\""); }, "Входы 3", "«\"»"},
        {[](kalvet::EditorForm &f) { f.Text1[11].setText("выход ☺"); }, "Выходы B", "☺"},
        {[](kalvet::EditorForm &f) { f.Text5[17].setText("漢"); }, "короткие 1", "漢"},
        {[](kalvet::EditorForm &f) { f.ir_name[9][2] = "a\"b"; }, "контроллер 9, ИК посылка 2", "«\"»"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.field.toStdString());
        StartedEditor e;
        c.type(*e.form);
        e.form->Combo3.typeText("что-то");
        e.form->Command2_Click();
        ASSERT_EQ(e.host.messages.size(), 1);
        EXPECT_TRUE(e.host.messages[0].contains(c.field)) << e.host.messages[0].toStdString();
        EXPECT_TRUE(e.host.messages[0].contains(c.character)) << e.host.messages[0].toStdString();
        for (const QString &name : kDataFiles)
            EXPECT_EQ(e.inst.bytes(name), Installation::original(name));
        EXPECT_EQ(e.form->Combo3.text(), "что-то");   // no reload: the window is as the user left it
    }
    StartedEditor e;
    e.form->Text2[3].setText("вход \"3\"");
    e.form->Command2_Click();
    EXPECT_EQ(e.form->Text2[3].text(), "вход \"3\"");
    e.form->Text2[3].setText("вход 3");
    e.form->Command2_Click();
    EXPECT_EQ(e.inst.items("out_in_ik.txt")[2 + 3 * 4 + 2], "вход 3");
}

TEST(EditorSave, WithNothingSelectedUsesShownControllerAndRememberedRecord)
{
    StartedEditor e;
    auto &f = *e.form;
    f.Combo3.choose(6);
    f.Text2[0].setText("кнопка ванной");
    f.Combo3.typeText("Ванна");
    f.Combo15.typeText("запись");
    f.Combo14[0].choose(5);
    f.Command2_Click();
    EXPECT_TRUE(e.host.messages.isEmpty()) << e.host.all().toStdString();
    EXPECT_EQ(e.inst.items("out_in_ik.txt")[6 * 66 + 2 + 2], "кнопка ванной");
    EXPECT_EQ(fileLines(e.inst.text("zuk.txt"))[6 * 541 + slot0Line(58, 1)], "5");
    EXPECT_EQ(f.saved_ctrl_sel, 6);
    EXPECT_EQ(f.saved_desc_sel, 2);
    EXPECT_EQ(f.Combo3.listIndex(), 6);
    EXPECT_EQ(f.Combo15.listIndex(), 2);
}

TEST(EditorFailures, FailedSaveReplacesNoFileAndKeepsTheTyping)
{
    StartedEditor e;
    ASSERT_TRUE(QDir(e.inst.folder()).mkdir("out_in_ik.txt.new"));   // the last file cannot be written
    e.form->Text2[3].setText("новое имя");
    e.form->reg_image[0][40][0] = 123;
    e.form->Command2_Click();
    ASSERT_EQ(e.host.messages.size(), 1);
    EXPECT_TRUE(e.host.messages[0].contains("out_in_ik.txt")) << e.host.messages[0].toStdString();
    for (const QString &name : kDataFiles)
        EXPECT_EQ(e.inst.bytes(name), Installation::original(name)) << name.toStdString();
    EXPECT_EQ(QDir(e.inst.folder()).entryList({"*.new"}, QDir::Files), QStringList{});
    EXPECT_EQ(e.form->Text2[3].text(), "новое имя");
    EXPECT_EQ(e.form->reg_image[0][40][0], 123);

    QDir(e.inst.folder()).rmdir("out_in_ik.txt.new");
    e.form->Command2_Click();
    EXPECT_EQ(e.host.messages.size(), 1);
    EXPECT_EQ(e.inst.items("out_in_ik.txt")[2 + 3 * 4 + 2], "новое имя");
    EXPECT_EQ(fileLines(e.inst.text("zuk.txt"))[slot0Line(40, 0)], "123");
}
