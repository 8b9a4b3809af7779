// Record selection, item display and editing, through the form on copies of
// the sample installation with records and side files changed in the test.
#include "fixture.h"

#include "common/image_file.h"

using namespace kalvet_test;
using kalvet::ComboBox;
using kalvet::EditorForm;

namespace {

// A started editor on a copy of the sample installation, with helpers to
// make records in desc_table and input types in in_0.ini.
struct Rig : StartedEditor {
    QStringList types = inst.items(QStringLiteral("in_0.ini"));

    EditorForm &f() { return *form; }
    std::array<QString, 71> &rec(int r) { return form->desc_table[r]; }
    qint16 &at(int row, int byte) { return form->reg_image[form->Combo3.listIndex()][row][byte]; }
    void show(int r) { form->Combo15.choose(r); }

    void writeItems(const QString &name, const QStringList &items)
    {
        QString text;
        for (const QString &item : items)
            text += u'"' + item + QStringLiteral("\"\r\n");
        inst.writeText(name, text);
    }
    // Record r as a plain record of kind `kind` on `base`, items (kind, offset).
    void plain(int r, const QString &base, const QList<std::array<QString, 2>> &items, const QString &kind = {})
    {
        rec(r).fill(QString());
        rec(r)[0] = base;
        rec(r)[10] = kind;
        for (int j = 1; j <= 9; ++j)
            rec(r)[j] = QStringLiteral("cap%1").arg(j);
        rec(r)[37] = QStringLiteral("c5");
        rec(r)[38] = QStringLiteral("c6");
        for (int i = 0; i < items.size(); ++i)
            rec(r)[13 + 2 * i] = items[i][0], rec(r)[14 + 2 * i] = items[i][1];
    }
    // Record r as an input record on base row `base`, selector cell (base, 0).
    void input(int r, int base)
    {
        plain(r, QString::number(base), {}, QStringLiteral("in"));
        rec(r)[1] = QStringLiteral("вход теста");
        rec(r)[11] = QString::number(base);
        rec(r)[12] = QStringLiteral("0");
    }
    QString typeLine(int t, int line) const { return types[t * 38 + 1 + line]; }
    void type(int t, int line, const QString &v) { types[t * 38 + 1 + line] = v; }
    void typeItems(int t, const QList<std::array<QString, 2>> &items)
    {
        for (int i = 0; i < 12; ++i)
            type(t, 9 + 2 * i, items.value(i)[0]), type(t, 10 + 2 * i, items.value(i)[1]);
    }
    void writeTypes(int count = 61) { writeItems(QStringLiteral("in_0.ini"), types.mid(0, count * 38)); }
    // uslov_0.ini whose entries 10..14 carry the letters "t", "f", "x", "T", "t ".
    void writeConditions()
    {
        QStringList items;
        const QStringList letters = {"t", "f", "x", "T", "t "};
        for (int j = 0; j < 256; ++j)
            items << QString::number(j) << QStringLiteral("условие %1").arg(j)
                  << (j >= 10 && j < 15 ? letters[j - 10] : QString());
        writeItems(QStringLiteral("uslov_0.ini"), items);
    }

    QList<ComboBox *> recordCombos()
    {
        QList<ComboBox *> out;
        for (ComboBox &c : form->Combo1)
            out << &c;
        return out << &form->Combo2 << &form->Combo5 << &form->Combo6;
    }
    QList<quint64> listRevisions()
    {
        QList<quint64> out;
        for (ComboBox *c : recordCombos())
            out << c->listRevision();
        return out;
    }
    QList<quint64> revisions()
    {
        QList<quint64> out;
        for (ComboBox *c : recordCombos())
            out << c->revision();
        for (const kalvet::Label &l : form->Label1)
            out << l.revision();
        return out << form->Label6.revision() << form->Label8.revision();
    }
    // Everything the record area shows, and the shown controller's image.
    QString snapshot()
    {
        QStringList out;
        for (ComboBox *c : recordCombos())
            out << c->items().join(u'|') << QString::number(c->listIndex()) << c->text()
                << QString::number(c->enabled());
        for (const kalvet::Label &l : form->Label1)
            out << l.caption();
        out << form->Label6.caption() << form->Label8.caption();
        for (const auto &row : form->reg_image[form->Combo3.listIndex()])
            for (qint16 v : row)
                out << QString::number(v);
        return out.join(u'\n');
    }
};

TEST(RecordDisplay, SampleInputRecordShowsItsTypeFromTheFiles)
{
    Rig r;   // start-up shows record 2 of controller 0: type 52, code "07"
    EditorForm &f = r.f();
    EXPECT_EQ(f.Combo2.listIndex(), 52);
    EXPECT_TRUE(f.Combo2.enabled());
    EXPECT_EQ(f.Combo2.listCount(), 61);
    EXPECT_EQ(r.at(5, 0), 7);
    EXPECT_EQ(f.Label1[0].caption(), f.desc_table[2][1]);
    const QStringList uslov = r.inst.items(QStringLiteral("uslov_0.ini"));
    for (int i = 0; i < 12; ++i) {
        const QString kind = r.typeLine(52, 9 + 2 * i);
        if (i < 8)
            EXPECT_EQ(f.Label1[i + 1].caption(), r.typeLine(52, i + 1));
        const int off = r.typeLine(52, 10 + 2 * i).toInt();
        const int v = r.at(5 + off / 8, off % 8);
        if (kind == QStringLiteral("uslov")) {   // the next kind line of the type is set from the letter
            const QString letter = uslov[3 * v + 2];
            const QString word = letter == "f" ? "ff" : letter == "i" ? "in" : letter == "t" ? "timer" : "";
            if (!word.isEmpty())
                EXPECT_EQ(f.in_table[52][11 + 2 * i], word);
            EXPECT_EQ(f.desc_table[2][15 + 2 * i], QString());
        }
        if (kind == QStringLiteral("bisnes") || kind == QStringLiteral("timer"))
            EXPECT_EQ(f.Combo1[i].listIndex(), v) << i;
    }
}

TEST(RecordDisplay, ItemsAddressBaseRowAndTheRowAfterInBothForms)
{
    struct Case { QString kind; int shown; int stored; };
    const QList<Case> kinds = {{"ff", 5, 2}, {"timer", 5, 2}, {"bisnes", 5, 2}, {"uslov", 5, 2}, {"in", 1, 17}};
    const QList<std::array<int, 3>> offsets = {{3, 20, 3}, {11, 21, 3}, {9, 21, 1}, {7, 20, 7}};
    for (bool input : {false, true}) {
        Rig r;
        for (const Case &c : kinds)
            for (const auto &[off, row, byte] : offsets) {
                if (input) {
                    r.input(3, 20);
                    r.typeItems(51, {{c.kind, QString::number(off)}});   // type 51 has code 0
                    r.writeTypes();
                } else {
                    r.plain(3, "20", {{c.kind, QString::number(off)}});
                }
                r.at(20, 0) = 0;
                r.at(row, byte) = c.kind == "in" ? 10 : 5;   // 10: code of type 1
                r.show(3);
                const QString what = QStringLiteral("%1 %2 %3").arg(input).arg(c.kind).arg(off);
                ASSERT_TRUE(r.f().Combo1[0].enabled()) << what.toStdString();
                EXPECT_EQ(r.f().Combo1[0].listIndex(), c.shown) << what.toStdString();
                r.f().Combo1[0].choose(2);
                EXPECT_EQ(r.at(row, byte), c.stored) << what.toStdString();
            }
    }
}

TEST(RecordDisplay, WordsThatAreNoKindLeaveItemsEmptyWhileCaptionsAreSet)
{
    Rig r;
    r.plain(4, "30", {{"FF", "0"}, {"ff ", "1"}, {" ff", "2"}, {"Timer", "3"}, {"", "4"}, {"in\t", "5"}});
    r.rec(4)[39] = "FF";
    r.show(4);
    for (int i = 0; i < 12; ++i)
        EXPECT_TRUE(!r.f().Combo1[i].enabled() && r.f().Combo1[i].listCount() == 0) << i;
    EXPECT_FALSE(r.f().Combo5.enabled());
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(r.f().Label1[i].caption(), QStringLiteral("cap%1").arg(i + 1));
    EXPECT_EQ(r.f().Label6.caption(), QStringLiteral("c5"));
    EXPECT_EQ(r.f().Label8.caption(), QStringLiteral("c6"));
}

TEST(RecordDisplay, ConditionSetsTheKindOfTheNextItemInTheSamePass)
{
    Rig r;
    r.writeConditions();   // letters: 10 "t", 11 "f", 12 "x", 13 "T", 14 "t "
    r.plain(4, "30", {{"ff", "0"}, {"ff", "1"}, {"uslov", "2"}, {"", "4"}});
    r.at(30, 4) = 9;
    for (int v : {12, 13, 14}) {
        r.at(30, 2) = v;
        r.show(4);
        EXPECT_EQ(r.rec(4)[19], QString()) << v;
        EXPECT_FALSE(r.f().Combo1[3].enabled()) << v;
    }
    r.at(30, 2) = 10;
    r.show(4);
    EXPECT_EQ(r.rec(4)[19], QStringLiteral("timer"));
    EXPECT_EQ(r.f().Combo1[3].listCount(), 254);
    EXPECT_EQ(r.f().Combo1[3].listIndex(), 9);
    r.f().Combo1[2].choose(11);   // "f": kept until the next redraw
    EXPECT_EQ(r.at(30, 2), 11);
    EXPECT_EQ(r.f().Combo1[3].listCount(), 254);
    r.show(4);
    EXPECT_EQ(r.f().Combo1[3].listCount(), 256);
    r.f().Combo1[2].choose(12);
    r.show(4);
    EXPECT_EQ(r.rec(4)[19], QStringLiteral("ff"));
    // A condition at item 11 has no next item: the caption line stays.
    r.plain(5, "31", {{}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {"uslov", "0"}});
    r.at(31, 0) = 10;
    r.show(5);
    EXPECT_EQ(r.rec(5)[37], QStringLiteral("c5"));
    EXPECT_EQ(r.f().Label6.caption(), QStringLiteral("c5"));
}

TEST(RecordDisplay, InputTypeLookupByNumericCodeFirstMatchAndFallback)
{
    struct Case { QString code7; QString code9; int stored; int shown; int after; };
    const QList<Case> cases = {
        {"99", "099", 99, 7, 99},     // same code twice: the lower type
        {"7.0", "9", 7, 7, 7},       // a zero fraction is the whole number
        {"7", "9", 200, 60, 255},     // no match: type 60, whose code is stored
        {"+7", "x", 7, 7, 7},
    };
    for (const Case &c : cases) {
        Rig r;
        r.type(7, 0, c.code7);
        r.type(9, 0, c.code9);
        r.type(52, 0, "52");
        r.writeTypes();
        r.input(3, 20);
        r.plain(4, "40", {{"in", "9"}});
        r.at(20, 0) = c.stored;
        r.at(41, 1) = c.stored;
        r.show(3);
        EXPECT_EQ(r.f().Combo2.listIndex(), c.shown) << c.code7.toStdString();
        EXPECT_EQ(r.at(20, 0), c.after);
        r.show(4);
        EXPECT_EQ(r.f().Combo1[0].listIndex(), c.shown);
        EXPECT_EQ(r.at(41, 1), c.after);
    }
}

TEST(RecordDisplay, InputRecordReadsAndWritesItsSelectorCell)
{
    Rig r;
    r.input(3, 20);
    r.rec(3)[12] = "1";
    r.at(20, 0) = 3;    // type 0
    r.at(20, 1) = 17;   // type 2
    r.show(3);
    EXPECT_EQ(r.f().Combo2.listIndex(), 2);
    EXPECT_EQ(r.at(20, 0), 3);
    const QString label0 = r.f().Label1[0].caption();
    const QString caption1 = r.f().Label1[1].caption();
    const QList<quint64> before = r.listRevisions();
    r.f().Combo2.choose(42);   // type 42, code 57: other captions and items, same rows
    EXPECT_EQ(r.at(20, 1), 57);
    EXPECT_EQ(r.f().Label1[0].caption(), label0);
    EXPECT_EQ(r.f().Label1[1].caption(), r.typeLine(42, 1));
    EXPECT_NE(r.f().Label1[1].caption(), caption1);
    const QList<quint64> after = r.listRevisions();
    for (int i = 0; i < 12; ++i)
        EXPECT_NE(before[i], after[i]) << "item " << i << " not redrawn";
    r.f().Combo1[0].choose(4);   // type 42 item 0: ff at offset 1
    EXPECT_EQ(r.at(20, 1), 4);
}

TEST(RecordDisplay, ExtraCombosWriteBytesTwoAndThreeOfTheBaseRow)
{
    for (bool input : {false, true}) {
        Rig r;
        if (input)
            r.input(3, 20);   // type 0 has "ff" extras
        else
            r.plain(3, "20", {}), r.rec(3)[39] = r.rec(3)[40] = "ff";
        r.at(20, 0) = 3;
        r.show(3);
        const auto image = r.f().reg_image;
        r.f().Combo5.choose(7);
        r.f().Combo6.choose(9);
        EXPECT_EQ(r.at(20, 2), 7);
        EXPECT_EQ(r.at(20, 3), 9);
        r.at(20, 2) = image[0][20][2];
        r.at(20, 3) = image[0][20][3];
        EXPECT_EQ(r.f().reg_image, image) << input;
    }
}

TEST(RecordDisplay, ItemChoiceRedrawsNothingAndShowingTwiceChangesNothing)
{
    Rig r;
    for (int rec = 0; rec < 80; ++rec) {
        r.show(rec);
        const QString first = r.snapshot();
        r.show(rec);
        EXPECT_EQ(r.snapshot(), first) << rec;
    }
    r.show(30);
    const QList<quint64> before = r.revisions();
    r.f().Combo1[0].choose(3);
    QList<quint64> after = r.revisions();
    EXPECT_NE(before[0], after[0]);
    after[0] = before[0];
    EXPECT_EQ(after, before);
    // Typing into Combo15 or Combo2 leaves no entry there; choices still go
    // to the record and type on the screen.
    r.f().Combo15.typeText(QStringLiteral("x"));
    r.f().Combo1[0].choose(4);
    EXPECT_EQ(r.at(37, 0), 4);
    r.show(2);
    r.f().Combo2.typeText(QStringLiteral("x"));
    r.f().Combo1[0].choose(3);   // type 52, item 0: bisnes at offset 1
    EXPECT_EQ(r.at(5, 1), 3);
}

TEST(RecordDisplay, BadLinesLeaveTheirItemEmptyAndWriteNothing)
{
    const QList<std::array<QString, 2>> cases = {{"x", "3"}, {"60", "3"}, {"-1", "3"}, {"20", "16"},
                                                 {"20", "-1"}, {"59", "8"}, {"20", "abc"}, {"20", "7.5"}};
    for (const auto &[base, off] : cases) {
        Rig r;
        r.plain(3, base, {{"timer", off}});
        r.plain(4, "020", {{"timer", "7.5"}, {"timer", "09"}});
        r.at(20, 3) = 250;
        const auto image = r.f().reg_image;
        r.show(3);
        EXPECT_FALSE(r.f().Combo1[0].enabled() || r.f().Combo1[0].listCount()) << base.toStdString();
        EXPECT_EQ(r.f().reg_image, image);
        r.show(4);
        EXPECT_FALSE(r.f().Combo1[0].enabled());
        EXPECT_EQ(r.f().Combo1[1].listIndex(), r.at(21, 1));
    }
    Rig r;   // selector cells outside the image: Combo2 empty, the items still shown
    for (const auto &[row, byte] : QList<std::array<QString, 2>>{{"60", "0"}, {"5", "8"}, {"", "0"}}) {
        r.plain(3, "20", {{"ff", "1"}}, "ff");
        r.rec(3)[11] = row, r.rec(3)[12] = byte;
        r.show(3);
        EXPECT_FALSE(r.f().Combo2.enabled() || r.f().Combo2.listCount());
        EXPECT_TRUE(r.f().Combo1[0].enabled());
    }
}

TEST(RecordDisplay, ByteWithoutEntryIsShownAsNumberAndKept)
{
    const QList<std::pair<QString, int>> cases = {{"timer", 254}, {"timer", 255}, {"ff", 300}, {"ff", -1},
                                                  {"uslov", -1}, {"bisnes", 256}};
    for (const auto &[kind, v] : cases) {
        Rig r;
        r.writeConditions();
        r.plain(3, "20", {{kind, "0"}, {"", "1"}}, "ff");
        r.rec(3)[11] = "20", r.rec(3)[12] = "0";
        r.at(20, 0) = v;
        r.show(3);
        for (ComboBox *c : {&r.f().Combo1[0], &r.f().Combo2}) {
            if (c == &r.f().Combo2 && v >= 0 && v <= 255)
                continue;   // Combo2 lists all 256 byte values
            EXPECT_TRUE(c->enabled() && c->listCount() > 0) << kind.toStdString();
            EXPECT_EQ(c->listIndex(), -1);
            EXPECT_EQ(c->text(), QString::number(v));
        }
        EXPECT_EQ(r.at(20, 0), v);
        EXPECT_EQ(r.rec(3)[15], QString());
    }
}

TEST(RecordDisplay, MissingOrShortSideFileFillsWhatItHasAndIsReportedOnce)
{
    Rig r;
    r.inst.remove(QStringLiteral("bisnes.ini"));
    r.at(37, 0) = 5;
    for (int rec : {30, 31, 30, 14})
        r.show(rec);
    EXPECT_EQ(r.f().Combo1[2].listCount(), 0);   // record 14, item 2: bisnes
    EXPECT_TRUE(r.f().Combo1[2].enabled());
    EXPECT_EQ(r.host.messages.filter("bisnes.ini").size(), 1);
    EXPECT_TRUE(r.host.all().contains(QStringLiteral("0 элементов из 512")));
    r.writeItems(QStringLiteral("bisnes.ini"), r.inst.items(QStringLiteral("uslov_0.ini")).mid(0, 20));
    r.show(30);
    r.show(30);
    EXPECT_EQ(r.f().Combo1[0].listCount(), 10);
    EXPECT_EQ(r.f().Combo1[0].listIndex(), 5);
    EXPECT_EQ(r.host.messages.filter("bisnes.ini").size(), 2);
    EXPECT_TRUE(r.host.messages.last().contains(QStringLiteral("20 элементов из 512")));
    // in_0.ini with ten types: no type 60 to fall back on, the code stays.
    r.writeTypes(10);
    r.at(5, 0) = 200;
    r.show(2);
    EXPECT_EQ(r.f().Combo2.listCount(), 10);
    EXPECT_EQ(r.f().Combo2.text(), QStringLiteral("200"));
    EXPECT_EQ(r.at(5, 0), 200);
    EXPECT_EQ(r.host.messages.filter("in_0.ini").size(), 1);
}

TEST(RecordDisplay, EveryChoiceLandsInTheSavedImage)
{
    Rig r;
    r.plain(4, "40", {{"ff", "9"}, {"in", "12"}}, "ff");
    r.rec(4)[11] = "41", r.rec(4)[12] = "6";
    r.rec(4)[39] = "ff";
    r.show(4);
    r.f().Combo1[0].choose(33);
    r.f().Combo1[1].choose(2);
    r.f().Combo2.choose(250);
    r.f().Combo5.choose(77);
    r.show(2);
    r.f().Combo2.choose(0);
    r.f().Combo1[0].choose(6);   // type 0 item 0: bisnes at offset 1
    r.f().Combo6.choose(8);
    r.f().Command2_Click();
    std::array<zuk::SlotImage, 20> saved{};
    ASSERT_TRUE(zuk::loadImageFile(r.inst.path(QStringLiteral("zuk.txt")), saved).ok);
    const QList<std::array<int, 3>> expect = {{41, 1, 33}, {41, 4, 17}, {41, 6, 250}, {40, 2, 77},
                                              {5, 0, 3}, {5, 1, 6}, {5, 3, 8}};
    for (const auto &[row, byte, v] : expect)
        EXPECT_EQ(saved[0][row][byte], v) << row << "." << byte;
    EXPECT_EQ(r.f().Combo15.listIndex(), 2);
}

}  // namespace
