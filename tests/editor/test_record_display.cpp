// Record selection, item display and editing, through the form on copies of
// the sample installation with records and side files changed in the test.
#include "fixture.h"

#include "common/image_file.h"

using namespace kalvet_test;
using kalvet::ComboBox;
using Items = QList<std::array<QString, 2>>;   // (kind line, offset line) of items 0, 1, ...

namespace {

struct Rig : StartedEditor {
    QStringList types = inst.items("in_0.ini");
    kalvet::EditorForm &f() { return *form; }
    std::array<QString, 71> &rec(int r) { return form->desc_table[r]; }
    qint16 &at(int row, int byte) { return form->reg_image[form->Combo3.listIndex()][row][byte]; }
    void show(int r) { form->Combo15.choose(r); }
    void writeItems(const QString &name, const QStringList &items) { inst.writeText(name, '"' + items.join("\"\r\n\"") + "\"\r\n"); }
    void plain(int r, const QString &base, const Items &items, const QString &kind = {})
    {
        rec(r).fill({}), rec(r)[0] = base, rec(r)[10] = kind, rec(r)[37] = "c5", rec(r)[38] = "c6";
        for (int j = 1; j <= 9; ++j)
            rec(r)[j] = QString("cap%1").arg(j);
        for (int i = 0; i < items.size(); ++i)
            rec(r)[13 + 2 * i] = items[i][0], rec(r)[14 + 2 * i] = items[i][1];
    }
    void input(int r, int base) { plain(r, QString::number(base), {}, "in"), rec(r)[11] = rec(r)[0], rec(r)[12] = "0"; }
    QString &type(int t, int line) { return types[t * 38 + 1 + line]; }
    void writeTypes(int count = 61) { writeItems("in_0.ini", types.mid(0, count * 38)); }
    void writeConditions()   // entries 10..14 carry the letters "t", "f", "x", "T", "t "
    {
        QStringList items;
        for (int j = 0; j < 256; ++j)
            items << QString::number(j) << QString("у%1").arg(j) << (j >= 10 && j < 15 ? QStringList{"t", "f", "x", "T", "t "}[j - 10] : "");
        writeItems("uslov_0.ini", items);
    }
    QList<ComboBox *> combos()   // Combo2, Combo5, Combo6, Combo1(0..11)
    {
        QList<ComboBox *> out{&form->Combo2, &form->Combo5, &form->Combo6};
        for (ComboBox &c : form->Combo1)
            out << &c;
        return out;
    }
    QList<quint64> revisions(bool lists)
    {
        QList<quint64> out;
        for (ComboBox *c : combos())
            out << (lists ? c->listRevision() : c->revision());
        return out;
    }
    QString snapshot()   // everything the record area shows
    {
        QStringList out{form->Label6.caption(), form->Label8.caption()};
        for (ComboBox *c : combos())
            out << c->items().join('|') << QString::number(c->listIndex()) << c->text() << QString::number(c->enabled());
        for (const kalvet::Label &l : form->Label1)
            out << l.caption();
        return out.join('\n');
    }
};

TEST(RecordDisplay, SampleInputRecordShowsItsTypeAndItsConditionChangesOnlyTheTypeTable)
{
    Rig r;   // start-up shows record 2 of controller 0: base row 5, type 52 with code "07"
    EXPECT_EQ(std::tuple(r.f().Combo2.listIndex(), r.f().Combo2.listCount(), r.at(5, 0)), std::tuple(52, 61, 7));
    EXPECT_EQ(r.f().Label1[0].caption() + r.f().Label1[8].caption(), r.rec(2)[1] + r.type(52, 8));
    EXPECT_EQ(r.f().Combo1[1].listIndex(), r.at(6, 4));   // timer at offset 12
    // Item 2 is a condition whose letter is "i": item 3 (empty kind in the file) becomes "in".
    EXPECT_EQ(std::tuple(r.type(52, 15), r.f().in_table[52][15], r.rec(2)[19], r.f().Combo1[3].listCount()),
              std::tuple(QString(), QString("in"), QString(), 61));
}

TEST(RecordDisplay, ItemsAddressBaseRowAndTheRowAfterInBothForms)
{
    const QList<std::tuple<QString, int, int>> kinds = {{"ff", 5, 2}, {"timer", 5, 2}, {"bisnes", 5, 2}, {"uslov", 5, 2}, {"in", 1, 17}};
    for (bool input : {false, true}) {
        Rig r;
        for (const auto &[kind, shown, stored] : kinds)
            for (const auto &[off, row, byte] : QList<std::array<int, 3>>{{3, 20, 3}, {11, 21, 3}, {9, 21, 1}, {7, 20, 7}}) {
                const Items items{{kind, QString::number(off)}};
                if (input)   // type 51 has code 0
                    r.input(3, 20), r.type(51, 9) = kind, r.type(51, 10) = items[0][1], r.writeTypes();
                else
                    r.plain(3, "20", items);
                r.at(20, 0) = 0;
                r.at(row, byte) = kind == "in" ? 10 : 5;   // 10: code of type 1
                r.show(3);
                const std::string what = QString("%1 %2 %3").arg(input).arg(kind).arg(off).toStdString();
                EXPECT_EQ(r.f().Combo1[0].listIndex(), shown) << what;
                r.f().Combo1[0].choose(2);
                EXPECT_EQ(r.at(row, byte), stored) << what;
            }
    }
}

TEST(RecordDisplay, ConditionSetsTheNextKindInTheSamePassAndWordsThatAreNoKindShowNothing)
{
    Rig r;
    r.plain(4, "30", {{"FF", "0"}, {"ff ", "1"}, {" ff", "2"}, {"Timer", "3"}, {"", "4"}, {"in\t", "5"}});
    r.rec(4)[39] = "FF";
    r.show(4);
    for (ComboBox *c : r.combos()) {
        EXPECT_FALSE(c->enabled());
        EXPECT_EQ(c->listCount(), 0);
    }
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(r.f().Label1[i].caption(), QString("cap%1").arg(i + 1));
    EXPECT_EQ(r.f().Label6.caption() + r.f().Label8.caption(), "c5c6");
    r.writeConditions();
    r.plain(4, "30", {{"ff", "0"}, {"ff", "1"}, {"uslov", "2"}, {"", "4"}});
    r.at(30, 4) = 9;
    for (int v : {12, 13, 14, 10}) {   // "x", "T", "t " name no kind; "t" makes item 3 a timer
        r.at(30, 2) = v;
        r.show(4);
        EXPECT_EQ(r.rec(4)[19], v == 10 ? "timer" : "") << v;
        EXPECT_EQ(r.f().Combo1[3].listCount(), v == 10 ? 254 : 0);
    }
    EXPECT_EQ(r.f().Combo1[3].listIndex(), 9);
    r.f().Combo1[2].choose(11);   // "f": item 3 keeps its kind until the next redraw
    EXPECT_EQ(std::pair(r.at(30, 2), r.f().Combo1[3].listCount()), std::pair(qint16(11), 254));
    r.show(4);
    EXPECT_EQ(r.f().Combo1[3].listCount(), 256);
    r.f().Combo1[2].choose(12);
    r.show(4);
    EXPECT_EQ(r.rec(4)[19], "ff");
    r.plain(5, "31", Items(11) << std::array<QString, 2>{"uslov", "0"});   // item 11 has no next item
    r.at(31, 0) = 10;
    r.show(5);
    EXPECT_EQ(r.rec(5)[37] + r.f().Label6.caption(), "c5c5");
}

TEST(RecordDisplay, InputTypeLookupByNumericCodeFirstMatchAndFallback)
{
    const QList<std::tuple<QString, QString, int, int, int>> cases = {
        {"99", "099", 99, 7, 99}, {"7.0", "9", 7, 7, 7}, {"7", "9", 200, 60, 255}, {"+7", "x", 7, 7, 7}};
    for (const auto &[code7, code9, stored, shown, after] : cases) {
        Rig r;   // 52 has the code 07 in the sample
        r.type(7, 0) = code7, r.type(9, 0) = code9, r.type(52, 0) = "52";
        r.writeTypes();
        r.input(3, 20);
        r.plain(4, "40", {{"in", "9"}});
        r.at(20, 0) = r.at(41, 1) = stored;
        r.show(3);
        EXPECT_EQ(std::pair(r.f().Combo2.listIndex(), int(r.at(20, 0))), std::pair(shown, after)) << code7.toStdString();
        r.show(4);
        EXPECT_EQ(std::pair(r.f().Combo1[0].listIndex(), int(r.at(41, 1))), std::pair(shown, after));
    }
}

TEST(RecordDisplay, InputRecordUsesItsSelectorCellAndItsTypeDecidesCaptionsAndItems)
{
    Rig r;
    r.input(3, 20);
    r.rec(3)[12] = "1";
    r.at(20, 0) = 3, r.at(20, 1) = 17;   // codes of types 0 and 2
    r.show(3);
    EXPECT_EQ(std::pair(r.f().Combo2.listIndex(), r.at(20, 0)), std::pair(2, qint16(3)));
    const QList<quint64> lists = r.revisions(true);
    r.f().Combo2.choose(42);   // code 57
    EXPECT_EQ(r.at(20, 1), 57);
    EXPECT_EQ(r.f().Label1[0].caption() + r.f().Label1[1].caption(), "cap1" + r.type(42, 1));
    const QList<quint64> redrawn = r.revisions(true);
    for (int i = 3; i < 15; ++i)
        EXPECT_NE(lists[i], redrawn[i]) << "item " << i - 3 << " not redrawn";
    r.f().Combo1[0].choose(4);   // type 42 item 0: ff at offset 1
    EXPECT_EQ(r.at(20, 1), 4);
}

TEST(RecordDisplay, ItemChoiceRedrawsNothingAndShowingTwiceChangesNothing)
{
    Rig r;
    for (int rec = 0; rec < 80; ++rec) {
        r.show(rec);
        const auto first = std::pair(r.snapshot(), r.f().reg_image);
        r.show(rec);
        EXPECT_EQ(std::pair(r.snapshot(), r.f().reg_image), first) << rec;
    }
    r.show(30);
    QList<quint64> before = r.revisions(false), after = (r.f().Combo1[0].choose(3), r.revisions(false));
    EXPECT_NE(before[3], after[3]);
    before[3] = after[3];
    EXPECT_EQ(after, before);
    r.f().Combo15.typeText("x"), r.f().Combo1[0].choose(4);   // typing leaves no entry: the shown record counts
    EXPECT_EQ(r.at(37, 0), 4);
    r.show(2), r.f().Combo2.typeText("x"), r.f().Combo1[0].choose(3);   // type 52, item 0: bisnes at offset 1
    EXPECT_EQ(r.at(5, 1), 3);
}

TEST(RecordDisplay, BadLinesAndBytesWithoutEntryShowWhatTheyCanAndWriteNothing)
{
    Rig r;
    r.at(20, 3) = 250;
    for (const auto &[base, off] : QList<std::array<QString, 2>>{{"x", "3"}, {"60", "3"}, {"-1", "3"}, {"20", "16"},
                                                               {"20", "-1"}, {"59", "8"}, {"20", "abc"}, {"20", "7.5"}}) {
        r.plain(3, base, {{"timer", off}, {"ff", "09"}}, "ff");
        r.rec(3)[11] = base == "20" ? "60" : "20", r.rec(3)[12] = base == "20" ? "0" : "8";
        const auto image = r.f().reg_image;
        r.show(3);
        EXPECT_FALSE(r.f().Combo1[0].enabled()) << base.toStdString();
        EXPECT_EQ(r.f().Combo1[0].listCount(), 0) << base.toStdString();
        EXPECT_FALSE(r.f().Combo2.enabled()) << base.toStdString();
        EXPECT_EQ(r.f().reg_image, image);
        EXPECT_EQ(r.f().Combo1[1].enabled(), base == "20");
    }
    r.writeConditions();
    for (const auto &[kind, v] : QList<std::pair<QString, int>>{{"timer", 254}, {"ff", 300}, {"ff", -1}, {"uslov", -1}, {"bisnes", 256}}) {
        r.plain(3, "20", {{kind, "0"}, {"", "1"}}, "ff");
        r.rec(3)[11] = "20", r.rec(3)[12] = "0";
        r.at(20, 0) = v;
        r.show(3);
        for (ComboBox *c : {&r.f().Combo1[0], &r.f().Combo2}) {
            if (c == &r.f().Combo1[0] || v < 0 || v > 255) {
                EXPECT_EQ(std::tuple(c->enabled(), c->listIndex(), c->text()), std::tuple(true, -1, QString::number(v)));
            }
        }
        EXPECT_EQ(std::pair(int(r.at(20, 0)), r.rec(3)[15]), std::pair(v, QString()));
    }
}

TEST(RecordDisplay, MissingOrShortSideFileFillsWhatItHasAndIsReportedOnce)
{
    Rig r;
    r.inst.remove("bisnes.ini");
    r.at(37, 0) = 5;
    for (int rec : {30, 31, 30, 14})
        r.show(rec);
    EXPECT_EQ(std::pair(r.f().Combo1[2].listCount(), r.f().Combo1[2].enabled()), std::pair(0, true));   // record 14, item 2
    EXPECT_EQ(r.host.messages.filter("bisnes.ini").size(), 1);
    EXPECT_TRUE(r.host.all().contains("0 элементов из 512"));
    r.writeItems("bisnes.ini", r.inst.items("uslov_0.ini").mid(0, 20));
    r.show(30), r.show(30);
    EXPECT_EQ(std::pair(r.f().Combo1[0].listCount(), r.f().Combo1[0].listIndex()), std::pair(10, 5));
    EXPECT_EQ(r.host.messages.filter("bisnes.ini").size(), 2);
    EXPECT_TRUE(r.host.messages.last().contains("20 элементов из 512"));
    r.writeTypes(10);   // no type 60 to fall back on: the code stays
    r.at(5, 0) = 200;
    r.show(2);
    EXPECT_EQ(std::tuple(r.f().Combo2.listCount(), r.f().Combo2.text(), r.at(5, 0)), std::tuple(10, QString("200"), qint16(200)));
    EXPECT_EQ(r.host.messages.filter("in_0.ini").size(), 1);
}

TEST(RecordDisplay, UnquotedWordsWithATrailingBlankAreNoKindAndWriteNothing)
{
    Rig r;
    QStringList opis = r.inst.text("opis_0.ini").split("\r\n");
    QString &kind = opis[30 * 41 + 15];   // record 30, item 1: "ff" at offset 1 of row 37
    ASSERT_EQ(kind, "\"ff\"");
    kind = "ff ";
    r.inst.writeText("opis_0.ini", opis.join("\r\n"));
    QStringList conditions = r.inst.text("uslov_0.ini").split("\r\n");
    conditions[10] = "10,\"у10\",t ";   // a condition letter with a blank after it
    r.inst.writeText("uslov_0.ini", conditions.join("\r\n"));
    r.restart();
    r.at(37, 1) = 300;   // a live "ff" item would show it as a number, not disable it
    r.at(30, 0) = 10;
    const auto image = r.f().reg_image;
    r.show(30);
    EXPECT_EQ(std::pair(r.f().Combo1[1].enabled(), r.f().Combo1[1].listCount()), std::pair(false, 0));
    EXPECT_TRUE(r.f().Combo1[0].enabled());
    r.plain(4, "30", {{"uslov", "0"}, {"", "1"}});
    r.show(4);
    EXPECT_EQ(std::pair(r.rec(4)[15], r.f().Combo1[1].enabled()), std::pair(QString(), false));
    EXPECT_TRUE(r.f().reg_image == image);
}

TEST(RecordDisplay, ChoosingAnInputTypeWithoutNumericCodeTellsTheUserAndStoresNothing)
{
    Rig r;
    r.type(5, 0) = "пять";
    r.writeTypes();
    r.show(2);   // input record: type code in row 5, byte 0
    const qint16 stored = r.at(5, 0);
    const int shown = r.f().Combo2.listIndex();
    ASSERT_NE(shown, 5);
    EXPECT_TRUE(r.host.messages.isEmpty()) << r.host.all().toStdString();
    r.f().Combo2.choose(5);
    ASSERT_EQ(r.host.messages.size(), 1);
    for (const QString &part : {QString("in_0.ini"), r.f().Combo2.item(5), QString("«пять»")})
        EXPECT_TRUE(r.host.messages[0].contains(part)) << part.toStdString();
    EXPECT_EQ(std::pair(r.at(5, 0), r.f().Combo2.listIndex()), std::pair(stored, shown));   // the stored type again
    r.plain(4, "40", {{"in", "3"}}, "ff");
    r.at(40, 3) = stored;
    r.show(4);
    r.f().Combo1[0].choose(5);
    EXPECT_EQ(r.host.messages.size(), 2);
    EXPECT_EQ(std::pair(r.at(40, 3), r.f().Combo1[0].listIndex()), std::pair(stored, shown));
    r.f().Combo1[0].choose(7);   // a type with a code is stored as before
    EXPECT_EQ(std::pair(r.at(40, 3), r.host.messages.size()), std::pair(qint16(r.type(7, 0).toInt()), qsizetype(2)));
}

TEST(RecordDisplay, EveryChoiceLandsInTheSavedImage)
{
    Rig r;
    r.plain(4, "40", {{"ff", "9"}, {"in", "12"}}, "ff");
    r.rec(4)[11] = "41", r.rec(4)[12] = "6", r.rec(4)[39] = r.rec(4)[40] = "ff";
    r.show(4);
    r.f().Combo1[0].choose(33), r.f().Combo1[1].choose(2), r.f().Combo2.choose(250);
    r.f().Combo5.choose(77), r.f().Combo6.choose(78);
    r.show(2);   // type 0: item 0 bisnes at offset 1, both extras "ff"
    r.f().Combo2.choose(0), r.f().Combo1[0].choose(6), r.f().Combo5.choose(7), r.f().Combo6.choose(8);
    r.f().Command2_Click();
    std::array<zuk::SlotImage, 20> saved{};
    ASSERT_TRUE(zuk::loadImageFile(r.inst.path("zuk.txt"), saved).ok);
    for (const auto &[row, byte, v] : QList<std::array<int, 3>>{{41, 1, 33}, {41, 4, 17}, {41, 6, 250}, {40, 2, 77}, {40, 3, 78},
                                                               {5, 0, 3}, {5, 1, 6}, {5, 2, 7}, {5, 3, 8}})
        EXPECT_EQ(saved[0][row][byte], v) << row << "." << byte;
}

}  // namespace

TEST(RecordDisplay, BytesTheDisplayChangedAreListedAtSaveAndNoWritesNothing)
{
    Rig r;
    r.type(52, 0) = "O7";   // a typo: the stored 7 of record 2 matches no type, the last one is shown
    r.writeTypes();
    r.restart();
    EXPECT_EQ(std::pair(r.f().Combo2.listIndex(), int(r.at(5, 0))), std::pair(60, 255));
    ASSERT_FALSE(r.f().displayChanges().empty());
    const QByteArray before = r.inst.bytes("zuk.txt");
    r.f().Command2_Click();   // answered No
    ASSERT_EQ(r.host.questions.size(), 1);
    const QString line = QString("контроллер 0, запись «%1», регистр 5, байт 0: 7 → 255").arg(r.f().Combo15.item(2));
    EXPECT_TRUE(r.host.questions[0].contains(line)) << r.host.questions[0].toStdString();
    EXPECT_EQ(r.inst.bytes("zuk.txt"), before);
    // The user's own choice of that byte takes it off the list.
    const size_t listed = r.f().displayChanges().size();
    r.f().Combo2.choose(60);
    EXPECT_EQ(r.f().displayChanges().size(), listed - 1);
    r.host.answers = {true};
    r.f().Command2_Click();
    EXPECT_EQ(r.host.questions.size(), listed > 1 ? 2 : 1);
    EXPECT_NE(r.inst.bytes("zuk.txt"), before);
    EXPECT_TRUE(r.f().displayChanges().empty());   // what is on disk now shows unchanged

    // Two records of twelve "in" items over bytes no type has: 24 bytes, 20 listed.
    Items items;
    for (int i = 0; i < 12; ++i)
        items.append({"in", QString::number(i)});
    for (int rec : {4, 5}) {
        r.plain(rec, QString::number(20 + 2 * (rec - 4)), items);
        for (int b = 0; b < 16; ++b)
            r.at(20 + 2 * (rec - 4) + b / 8, b % 8) = 200;
        r.show(rec);
    }
    EXPECT_EQ(r.f().displayChanges().size(), 24u);
    r.host.reset();
    r.f().Command2_Click();
    ASSERT_EQ(r.host.questions.size(), 1);
    EXPECT_EQ(r.host.questions[0].count("→"), 20);
    EXPECT_TRUE(r.host.questions[0].contains("… и ещё 4")) << r.host.questions[0].toStdString();
    EXPECT_TRUE(r.host.questions[0].contains("24 байта"));
}

TEST(RecordEditing, UndoRestoresEveryByteAChoiceAndTheHandlersItRaisedChangedAndTypingIsAStepOfItsOwn)
{
    Rig r;   // record 2 of controller 0: input type 52 (code 7) in row 5
    r.type(51, 9) = "in", r.type(51, 10) = "1";   // type 51 (code 0): item 0 an input type in byte 1
    r.writeTypes();
    r.at(5, 1) = 200;                              // a code no type has
    r.show(2);
    const auto loaded = r.f().reg_image;
    r.host.edits.clear();
    r.f().Combo2.choose(51);   // stores code 0; showing type 51 stores the code of type 60 (255) in byte 1
    ASSERT_EQ(r.host.edits.size(), 1u);
    const kalvet::Edit choice = r.host.edits[0];
    EXPECT_EQ(std::pair(r.at(5, 0), r.at(5, 1)), std::pair(qint16(0), qint16(255)));
    EXPECT_EQ(choice.bytes.size(), 2u);
    EXPECT_FALSE(r.f().displayChanges().empty());
    const auto chosen = r.f().reg_image;
    const auto listed = r.f().displayChanges();

    const QString name = r.f().Text2[0].text();
    r.f().Text2[0].setText("новое имя");
    r.f().Combo3.choose(4);   // the typing is kept as a step of its own; the choice changes nothing
    ASSERT_EQ(r.host.edits.size(), 2u);
    const kalvet::Edit typed = r.host.edits[1];
    EXPECT_EQ(std::tuple(typed.names.size(), typed.bytes.size(), typed.what), std::tuple(size_t(1), size_t(0), QString("ввод «Входы 0»")));

    r.f().applyEdit(typed, true);   // undo shows where the step was made
    EXPECT_EQ(std::tuple(r.f().Combo3.listIndex(), r.f().Text2[0].text(), r.f().names.in_name[0][0]), std::tuple(0, name, name));
    r.f().applyEdit(choice, true);
    EXPECT_EQ(r.f().reg_image, loaded);
    EXPECT_EQ(std::tuple(r.f().Combo15.listIndex(), r.f().Combo2.listIndex()), std::tuple(2, 52));
    EXPECT_TRUE(r.f().displayChanges().empty());
    r.f().applyEdit(choice, false);   // redo
    EXPECT_EQ(r.f().reg_image, chosen);
    EXPECT_EQ(std::tuple(r.f().Combo2.listIndex(), r.f().Combo1[0].listIndex()), std::tuple(51, 60));
    EXPECT_EQ(r.f().displayChanges(), listed);
    r.f().applyEdit(typed, false);
    EXPECT_EQ(r.f().Text2[0].text(), "новое имя");
    r.host.answers = {true};   // the byte the display changed is written too
    r.f().Command2_Click();   // a save loads the files again: the steps are gone
    EXPECT_TRUE(r.host.edits.empty());
    EXPECT_EQ(r.inst.items("out_in_ik.txt")[4], "новое имя");
}
