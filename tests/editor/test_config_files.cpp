// Start-up, loading, saving and the controller display, through the form on
// copies of the sample installation.
#include "fixture.h"

#include "common/address_map.h"
#include "common/files.h"

#include <QElapsedTimer>
#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace kalvet_test;

namespace {

const QStringList kData = {"zuk.txt", "out_in_ik.txt", "szenar.txt"};
QStringList lines(const Installation &i, const QString &n) { return i.text(n).split("\r\n", Qt::SkipEmptyParts); }
int zukLine(int slot, int row, int byte) { return slot * 541 + 2 + 9 * row + byte; }  // slots 0..7
void setLine(Installation &i, const QString &n, int at, const QString &to)
{
    QStringList l = lines(i, n);
    l[at] = to;
    i.writeText(n, l.join("\r\n") + "\r\n");
}
QList<QByteArray> snapshot(const Installation &i) { return {i.bytes(kData[0]), i.bytes(kData[1]), i.bytes(kData[2])}; }
QString repeat(int n, const QString &pattern)  // pattern with %1 = index
{
    QString out;
    for (int i = 0; i < n; ++i)
        out += pattern.arg(i);
    return out;
}
#define EXPECT_TOLD(host, part) EXPECT_TRUE((host).all().contains(part)) << (host).all().toStdString()

}  // namespace

TEST(EditorStartup, ShowsFirstControllerThirdRecordAndReadsReferenceFilesAsItems)
{
    StartedEditor e;
    auto &f = *e.form;
    EXPECT_TRUE(e.host.messages.isEmpty()) << e.host.all().toStdString();
    EXPECT_EQ(std::pair(f.Combo3.listIndex(), f.Combo15.listIndex()), std::pair(0, 2));
    EXPECT_EQ(f.Combo3.items(), QString("Прихожая Гостиная Кухня Спальня Детская Кабинет Ванная Котельная").split(' '));
    EXPECT_EQ(f.Text2[3].text(), e.inst.items("out_in_ik.txt")[2 + 3 * 4 + 2]);
    for (const auto &box : f.Combo14)
        EXPECT_EQ(box.items(), e.inst.items("timer.ini"));
    // The layout of adres.ini and its numbers do not matter, 8 records and 254 delay texts are read.
    for (const QString &adres : {repeat(9, "%1,\"x\",\"к%1\"\r\n"), repeat(9, "7\r\n\"y, z\"\r\n\"к%1\"\r\n")}) {
        e.inst.writeText("adres.ini", adres);
        e.inst.writeText("timer.ini", repeat(300, "\"%1,5 с\"\r\n"));
        e.restart();
        EXPECT_TRUE(e.host.messages.isEmpty());
        EXPECT_EQ(e.form->Combo3.items(), repeat(8, "к%1 ").split(' ', Qt::SkipEmptyParts));
        EXPECT_EQ(e.form->Combo14[11].items(), repeat(254, "%1,5 с\n").split('\n', Qt::SkipEmptyParts));
    }
}

TEST(EditorSave, WritesWhatWasLoadedAndTheTypingOfEveryControllerShown)
{
    StartedEditor e;
    e.form->Command2_Click();
    EXPECT_TRUE(e.host.messages.isEmpty());
    EXPECT_TRUE(e.host.questions.isEmpty());
    EXPECT_EQ(lines(e.inst, "zuk.txt").size(), 6716);
    EXPECT_EQ(snapshot(e.inst), (QList{Installation::original(kData[0]), Installation::original(kData[1]),
                                       Installation::original(kData[2])}));
    // Every name distinct, some empty, some with commas, controllers 8..15 and lines 14, 15 included.
    QString names;
    for (int k = 0; k < 16; ++k) {
        names += QString("\"Адрес контроллера - %1\",\"место %2, этаж\"\r\n").arg(zuk::hexText(k)).arg(k);
        for (int l = 0; l < 16; ++l)
            names += QString("\"%1\",\"выход %2.%3\",\"%4\",\"ИК %2.%3\"\r\n").arg(zuk::hexText(l)).arg(k).arg(l)
                         .arg(l == 5 ? QString() : QString("вход %1.%2, левый").arg(k).arg(l));
    }
    e.inst.writeText("out_in_ik.txt", names);
    e.restart();
    auto &f = *e.form;
    f.Combo3.choose(2);
    f.Text1[3].setText("новый выход");   // kept by the next choice, saved with the rest
    f.Combo3.choose(3);
    EXPECT_TRUE(f.hasUnsavedChanges());
    f.Combo3.choose(2);
    EXPECT_EQ(f.Text1[3].text(), "новый выход");
    f.Combo3.choose(3);
    f.Text1[4].setText("выход, с запятой");
    f.Combo14[0].choose(5);
    f.Combo3.typeText("Ванна");          // no entry selected: the shown controller and the remembered record
    f.Combo15.typeText("запись");
    f.Command2_Click();
    QStringList expected = names.split("\r\n", Qt::SkipEmptyParts);
    expected[3 * 17 + 5] = "\"4\",\"выход, с запятой\",\"вход 3.4, левый\",\"ИК 3.4\"";
    expected[2 * 17 + 4] = "\"3\",\"новый выход\",\"вход 2.3, левый\",\"ИК 2.3\"";
    EXPECT_EQ(lines(e.inst, "out_in_ik.txt"), expected);
    EXPECT_EQ(lines(e.inst, "zuk.txt")[zukLine(3, 58, 1)], "5");
    EXPECT_EQ(std::pair(f.Combo3.listIndex(), f.Combo15.listIndex()), std::pair(3, 2));
    EXPECT_EQ(f.Text1[4].text(), "выход, с запятой");
    const QList<QByteArray> once = snapshot(e.inst);
    e.restart();
    e.form->Command2_Click();
    EXPECT_EQ(snapshot(e.inst), once);
}

TEST(EditorLoad, ScenarioCodesComeFromTheLastSectionAndSelectionsFromTheLastSave)
{
    StartedEditor e(false);
    QString file;
    for (int k = 0; k < 16; ++k)
        file += QString("\"Адрес контроллера - %1\"\r\n").arg(zuk::hexText(k)) +
                repeat(38, QString(k == 15 ? "\"L%1\"," : "\"X%1\",") + QString("\"с%1.%2\"\r\n").arg(k).arg("%1"));
    e.inst.writeText("szenar.txt", file);
    e.restart();
    auto &f = *e.form;
    for (int s = 0; s < 38; ++s)
        ASSERT_EQ(f.Label14[s].caption(), QString("L%1").arg(s));
    f.Combo3.choose(5);
    f.Combo15.choose(7);
    f.Command1_Click();
    EXPECT_EQ(std::pair(f.Combo3.listIndex(), f.Combo15.listIndex()), std::pair(0, 2));
    f.Combo3.choose(5);
    f.Combo15.choose(7);
    f.Text5[0].setText("утро");
    f.Command2_Click();
    EXPECT_EQ(e.inst.items("szenar.txt")[1 + 77 * 4], "L0");   // every section carries the last codes
    EXPECT_EQ(e.inst.items("szenar.txt")[77 * 5 + 2], "утро");
    f.Combo3.choose(1);
    EXPECT_EQ(f.Combo15.listIndex(), 7);   // a controller choice restores the remembered record
    f.Combo15.choose(3);
    f.Command1_Click();
    EXPECT_EQ(std::pair(f.Combo3.listIndex(), f.Combo15.listIndex()), std::pair(5, 7));
}

TEST(EditorDelays, EachBoxOwnsOneByteAndBytesWithoutTextStay)
{
    const int row[12] = {58, 58, 58, 58, 58, 58, 58, 59, 59, 59, 59, 59}, byte[12] = {1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 5};
    StartedEditor e;
    auto &f = *e.form;
    auto &img = f.reg_image[3];
    img[58][0] = 200, img[59][4] = 201;
    for (int d = 0; d < 12; ++d)
        img[row[d]][byte[d]] = qint16(10 + d);
    f.Combo3.choose(3);
    for (int d = 0; d < 12; ++d) {
        EXPECT_EQ(f.Combo14[d].listIndex(), 10 + d) << d;
        f.Combo14[d].choose(100 + d);
        EXPECT_EQ(img[row[d]][byte[d]], 100 + d) << d;
    }
    // Values no text stands for are shown as numbers, run no handler and are saved unchanged.
    const int odd[] = {254, 255, -1, 300};
    for (int d = 0; d < 4; ++d)
        img[58][1 + d] = qint16(odd[d]);
    int clicks = 0;
    f.Combo14[0].onClick = [&] { ++clicks; };
    f.Command2_Click();   // the image goes to the file and comes back
    EXPECT_EQ(clicks, 0);
    for (int d = 0; d < 4; ++d)
        EXPECT_EQ(std::pair(f.Combo14[d].listIndex(), f.Combo14[d].text()), std::pair(-1, QString::number(odd[d])));
    f.Combo14[1].choose(0);
    f.Command2_Click();
    const QStringList z = lines(e.inst, "zuk.txt");
    EXPECT_EQ(QStringList({z[zukLine(3, 58, 0)], z[zukLine(3, 58, 1)], z[zukLine(3, 58, 2)], z[zukLine(3, 58, 4)],
                           z[zukLine(3, 59, 4)]}),
              QStringList({"200", "254", "0", "300", "201"}));
}

TEST(EditorFailures, ReferenceFilesMissingShortOrBadAreNamedAndTheEditorGoesOn)
{
    const QString shortTimer = repeat(253, "\"t%1\"\r\n");
    const struct { const char *file; QString content; QStringList told; int ctrls, delays, records; } cases[] = {
        {"adres.ini", {}, {"adres.ini"}, 0, 254, 80},
        {"adres.ini", "0,\"a\",\"один\"\r\n1,\"b\",\"два\"\r\n", {"adres.ini", "6", "24"}, 2, 254, 80},
        {"adres.ini", "0,\"a\",\"один\"\r\nx1,\"b\",\"два\"\r\n", {"adres.ini", "x1"}, 1, 254, 80},
        {"adres.ini", "40000,\"a\",\"один\"\r\n", {"adres.ini", "40000"}, 0, 254, 80},
        {"timer.ini", {}, {"timer.ini"}, 8, 0, 80},
        {"timer.ini", shortTimer, {"timer.ini", "253", "254"}, 8, 253, 80},
        {"opis_0.ini", {}, {"opis_0.ini"}, 8, 254, 0},
        {"opis_0.ini", "\"запись 0\"\r\n\"a\"\r\n", {"opis_0.ini", "2", "3360"}, 8, 254, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.content.left(30).toStdString());
        StartedEditor e(false);
        c.content.isEmpty() ? e.inst.remove(c.file) : e.inst.writeText(c.file, c.content);
        setLine(e.inst, "zuk.txt", zukLine(0, 59, 5), "253");
        e.restart();
        for (const QString &part : c.told)
            EXPECT_TOLD(e.host, part);
        auto &f = *e.form;
        EXPECT_EQ(QList({f.Combo3.listCount(), f.Combo14[11].listCount(), f.Combo15.listCount()}),
                  QList({c.ctrls, c.delays, c.records}));
        EXPECT_EQ(f.Combo14[11].listIndex(), c.delays == 254 ? 253 : -1);
        EXPECT_EQ(f.Text3.text(), e.inst.items("out_in_ik.txt")[1]);   // controller 0 is shown
        EXPECT_TRUE(f.incompleteFiles().isEmpty());
        if (QString(c.file) == "opis_0.ini") {   // told once, not on every switch and save; again when it changed
            f.Combo3.choose(1), f.Combo3.choose(2), f.Command2_Click();
            EXPECT_EQ(e.host.messages.filter("opis_0.ini").size(), 1) << e.host.all().toStdString();
            e.inst.writeText(c.file, "\"x\"\r\n");
            f.Combo3.choose(0), f.Combo3.choose(1);
            EXPECT_EQ(e.host.messages.filter("opis_0.ini").size(), 2);
            EXPECT_TRUE(e.host.messages.last().contains("прочитано 1 элемент из 3360"));
        }
    }
}

TEST(EditorFailures, IncompleteDataFileIsNamedKeepsWhatWasReadAndTheSaveAsksFirst)
{
    const struct { const char *file; int keep, bad; QString told; } cases[] = {
        {"szenar.txt", -1, -1, "szenar.txt"}, {"out_in_ik.txt", 100, -1, "из 1056"},
        {"zuk.txt", 3000, -1, "из 6716 (контроллер 5, регистр 20)."},
        {"zuk.txt", 6716, zukLine(0, 58, 3), "«3.5» — не целое число от -32768 до 32767 (контроллер 0, регистр 3A)."}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        StartedEditor e;
        auto &f = *e.form;
        f.reg_image[19][53][7] = 99, f.names.ctrl_location[15] = "прежнее";
        c.keep < 0 ? e.inst.remove(c.file) : e.inst.writeText(c.file, lines(e.inst, c.file).mid(0, c.keep).join("\r\n"));
        if (c.bad >= 0)
            setLine(e.inst, c.file, c.bad, "3.5");
        e.host.reset();
        f.LoadConfiguration();
        ASSERT_EQ(e.host.messages.size(), 1);
        EXPECT_TOLD(e.host, c.file);
        EXPECT_TOLD(e.host, c.told);
        EXPECT_EQ(f.incompleteFiles(), QStringList{c.file});
        const QStringList names = e.inst.items("out_in_ik.txt");
        EXPECT_EQ(f.names.ctrl_location[0], names.value(1, "-"));   // read before the failure
        EXPECT_EQ(f.names.ctrl_location[15], QString(c.file) == "out_in_ik.txt" ? "прежнее" : names.value(1 + 15 * 66));
        EXPECT_EQ(f.reg_image[19][53][7], QString(c.file) == "zuk.txt" ? 99 : 0);
        const auto before = snapshot(e.inst);
        f.Command2_Click();   // declined
        ASSERT_EQ(e.host.questions.size(), 1);
        EXPECT_TRUE(e.host.questions[0].contains(c.file));
        EXPECT_EQ(snapshot(e.inst), before);
        e.host.answers = {true};
        f.Command2_Click();
        EXPECT_EQ(lines(e.inst, "zuk.txt").size() + lines(e.inst, "szenar.txt").size() + lines(e.inst, "out_in_ik.txt").size(), 6716 + 624 + 272);
        EXPECT_TRUE(f.incompleteFiles().isEmpty());
    }
}

TEST(EditorFailures, UnwritableTextOrUnwritableFileWritesNothingAndKeepsTheTyping)
{
    // The file faults strike the third file: the first two were already
    // replaced (the image and a scenario were changed) and come back whole.
    // A data file the user made read-only (root too) is told as a fault is.
    const struct {
        std::function<void(kalvet::EditorForm &)> type;
        QString field, character;
        int fault = -1;
        QString readOnly = {};   // a file made read-only
    } cases[] = {
        {[](auto &f) { f.Text2[3].setText("вход \"3\""); }, "Входы 3", "«\"»"},
        {[](auto &f) { f.Text1[11].setText("выход ☺"); }, "Выходы B", "☺"},
        {[](auto &f) { f.Text5[17].setText("漢"); }, "короткие 1", "漢"},
        {[](auto &) {}, "out_in_ik.txt", "восстановлены", int(zuk::SaveStep::Rename)},
        {[](auto &) {}, "out_in_ik.txt", "сбой", int(zuk::SaveStep::Flush)},
        {[](auto &) {}, "out_in_ik.txt", "только для чтения", -1, "out_in_ik.txt"},
        {[](auto &) {}, "zuk.txt", "только для чтения", -1, "zuk.txt"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.field.toStdString() + " " + c.character.toStdString());
        StartedEditor e;
        const QStringList files = QDir(e.inst.folder()).entryList(QDir::Files);
        c.type(*e.form);
        e.form->Text2[0].setText("набрано");
        e.form->Text5[0].setText("сценарий");
        e.form->reg_image[0][0][1] ^= 1;
        if (c.fault >= 0)
            zuk::injectSaveFault(zuk::SaveStep(c.fault), "out_in_ik.txt");
        if (!c.readOnly.isEmpty()) {
            ASSERT_EQ(::chmod(QFile::encodeName(e.inst.path(c.readOnly)).constData(), 0444), 0);
        }
        e.form->Command2_Click();
        zuk::clearSaveFault();
        ASSERT_EQ(e.host.messages.size(), 1);
        EXPECT_TOLD(e.host, c.field);
        EXPECT_TOLD(e.host, c.character);
        EXPECT_EQ(snapshot(e.inst), (QList{Installation::original(kData[0]), Installation::original(kData[1]),
                                           Installation::original(kData[2])}));
        EXPECT_EQ(QDir(e.inst.folder()).entryList(QDir::Files), files);   // no temporary left
        EXPECT_EQ(e.form->Text2[0].text(), "набрано");   // no reload
    }
}

TEST(EditorFailures, QuoteInANameTheWindowCannotShowIsStoredAsApostropheOnYes)
{
    StartedEditor e;
    auto &f = *e.form;
    // Controllers 8..15 have no entry in the selector; their names come from the file.
    f.names.ir_name[9][2] = "a\"b";
    f.names.scen_name[12][20] = "\"";
    const auto before = snapshot(e.inst);
    f.Command2_Click();   // declined
    ASSERT_EQ(e.host.questions.size(), 1);
    for (const char *field : {"контроллер 9, ИК посылка 2", "контроллер C, Названия сценариев, короткие 4", "апостроф"})
        EXPECT_TRUE(e.host.questions[0].contains(field)) << e.host.questions[0].toStdString();
    EXPECT_EQ(snapshot(e.inst), before);
    EXPECT_EQ(f.names.ir_name[9][2], "a\"b");
    e.host.answers = {true};
    f.Command2_Click();
    EXPECT_TRUE(e.host.messages.isEmpty()) << e.host.all().toStdString();
    EXPECT_EQ(e.inst.items("out_in_ik.txt")[9 * 66 + 2 + 2 * 4 + 3], "a'b");
    EXPECT_EQ(e.inst.items("szenar.txt")[12 * 77 + 1 + 20 * 2 + 1], "'");
    // A shown controller's quote is still the user's to correct.
    f.Text2[1].setText("\"");
    f.Command2_Click();
    EXPECT_EQ(e.host.questions.size(), 2);
    EXPECT_TOLD(e.host, "Входы 1");
}

TEST(EditorFailures, SpecialHugeOrHostileFilesAreShortLoadFailuresAtOnce)
{
    // A bad number of 3 MB (under the size limit) led by an escape sequence.
    const QString hostileItem = "\"h\"\r\n\"l\"\r\n\x1b[2J" + QString(3'000'000, u'9');
    for (const QString name : {"zuk.txt", "opis_0.ini", "in_0.ini"}) {
        for (const QString kind : {"zero", "fifo", "5 MiB", "item"}) {
            if (kind == "item" && name != "zuk.txt")
                continue;
#ifdef _WIN32
            if (kind == "zero" || kind == "fifo")   // no devices or FIFOs among files
                continue;
#endif
            SCOPED_TRACE((name + " " + kind).toStdString());
            StartedEditor e(false);
            e.inst.remove(name);
            [[maybe_unused]] const QByteArray path = QFile::encodeName(e.inst.path(name));
            if (kind == "zero")
                ASSERT_TRUE(QFile::link("/dev/zero", e.inst.path(name)));
#ifndef _WIN32
            else if (kind == "fifo")
                ASSERT_EQ(::mkfifo(path.constData(), 0600), 0);
#endif
            else
                e.inst.writeText(name, kind == "item" ? hostileItem : QString(5 * 1024 * 1024, u'1'));
            QElapsedTimer clock;
            clock.start();
            e.restart();
            EXPECT_LT(clock.elapsed(), 2000);
            EXPECT_TOLD(e.host, name);
            EXPECT_TOLD(e.host, kind == "item" ? "…" : kind == "5 MiB" ? "больше 4 МиБ" : "не обычный файл");
            EXPECT_LT(e.host.all().size(), 2000);
            EXPECT_FALSE(e.host.all().contains(QChar(0x1b)));
        }
    }
}

TEST(EditorLoad, ReadWithUnsavedChangesAsksCancelKeepsThemNoDropsThemYesSavesThemFirst)
{
    using Answer = kalvet::EditorHost::Answer;
    StartedEditor e;
    auto &f = *e.form;
    f.Command1_Click();   // nothing changed: no question
    EXPECT_TRUE(e.host.questions.isEmpty());
    const qint16 delay = qint16((f.reg_image[0][58][1] + 1) % 254);
    const QString input1 = f.Text2[1].text();
    f.Combo14[0].choose(delay);
    f.Text2[1].setText("новый вход");
    e.host.choices = {Answer::Cancel};
    f.Command1_Click();
    ASSERT_EQ(e.host.questions.size(), 1);
    EXPECT_EQ(e.host.questions[0], "Изменения не записаны. Записать их перед чтением?");
    EXPECT_EQ(std::pair(f.reg_image[0][58][1], f.Text2[1].text()), std::pair(delay, QString("новый вход")));
    EXPECT_TRUE(f.hasUnsavedChanges());
    e.host.choices = {Answer::No};
    f.Command1_Click();
    EXPECT_EQ(std::tuple(f.Combo14[0].listIndex(), f.Text2[1].text()), std::tuple(int(f.reg_image[0][58][1]), input1));
    EXPECT_NE(f.reg_image[0][58][1], delay);
    EXPECT_FALSE(f.hasUnsavedChanges());
    EXPECT_EQ(snapshot(e.inst), (QList{Installation::original(kData[0]), Installation::original(kData[1]),
                                       Installation::original(kData[2])}));
    f.Combo14[0].choose(delay);
    e.host.choices = {Answer::Yes};
    f.Command1_Click();
    EXPECT_EQ(e.host.questions.size(), 3);
    EXPECT_EQ(lines(e.inst, "zuk.txt")[zukLine(0, 58, 1)], QString::number(delay));
    EXPECT_EQ(e.host.savedFiles, (QStringList{"zuk.txt", "szenar.txt", "out_in_ik.txt"}));
    EXPECT_FALSE(f.hasUnsavedChanges());
}

TEST(EditorStartup, MissingReferenceFilesAreOfferedOnceAndCopiedWithoutReplacingAnyFile)
{
    StartedEditor e(false);
    e.sample = Installation::sample();
    for (const char *gone : {"opis_0.ini", "ff.ini", "uslov_0.ini", "out_in_ik.txt"})
        e.inst.remove(gone);
    e.inst.writeText("timer.ini", repeat(254, "\"своя %1\"\r\n"));   // the installation's own: kept
    setLine(e.inst, "zuk.txt", zukLine(1, 3, 4), "77");
    const QStringList kept = {"timer.ini", "zuk.txt", "szenar.txt", "adres.ini", "in_0.ini", "bisnes.ini"};
    QList<QByteArray> keptBytes;
    for (const QString &name : kept)
        keptBytes << e.inst.bytes(name);
    const QStringList before = QDir(e.inst.folder()).entryList(QDir::Files);

    // "Нет": one question naming every missing file, then the messages of today.
    e.restart();
    ASSERT_EQ(e.host.questions.size(), 1);
    for (const QString &name : {QString("opis_0.ini"), QString("ff.ini"), QString("uslov_0.ini"),
                                QString("out_in_ik.txt"), QDir::toNativeSeparators(Installation::sample())})
        EXPECT_TRUE(e.host.questions[0].contains(name)) << name.toStdString();
    EXPECT_TOLD(e.host, "opis_0.ini");
    EXPECT_TOLD(e.host, "out_in_ik.txt");
    EXPECT_EQ(QDir(e.inst.folder()).entryList(QDir::Files), before);

    // "Да": the missing ones come, nothing that is there changes.
    e.host.reset();
    e.host.answers = {true};
    e.form = std::make_unique<kalvet::EditorForm>(e.inst.folder(), &e.host);
    e.form->setSampleInstallation(e.sample);
    e.form->Startup();
    EXPECT_TRUE(e.host.messages.isEmpty()) << e.host.all().toStdString();
    for (const char *name : {"opis_0.ini", "ff.ini", "uslov_0.ini"})
        EXPECT_EQ(e.inst.bytes(name), Installation::original(name)) << name;
    for (int i = 0; i < kept.size(); ++i)
        EXPECT_EQ(e.inst.bytes(kept[i]), keptBytes[i]) << kept[i].toStdString();
    const QStringList names = lines(e.inst, "out_in_ik.txt");   // empty of names, as a save writes it
    ASSERT_EQ(names.size(), 272);
    EXPECT_EQ(names[0], "\"Адрес контроллера - 0\",\"\"");
    EXPECT_EQ(names[17 * 15 + 16], "\"F\",\"\",\"\",\"\"");
    EXPECT_EQ(e.form->Combo14[0].item(0), "своя 0");
    EXPECT_EQ(e.form->reg_image[1][3][4], 77);
    EXPECT_EQ(e.form->Combo15.listCount(), 80);
    // With every reference file there, nothing is asked.
    e.restart();
    EXPECT_TRUE(e.host.questions.isEmpty());
}
