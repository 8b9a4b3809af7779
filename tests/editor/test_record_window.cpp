// The record area through the real window under the offscreen platform, and
// every record of every controller shown on random images and damaged files.
#include "fixture.h"

#include "editor/window/editor_window.h"

#include <QComboBox>
#include <QLineEdit>
#include <random>

using namespace kalvet_test;

namespace {

TEST(RecordWindow, UsersChoicesInTheRecordAreaLandInTheImage)
{
    guiApp();
    Installation inst;
    RecordingHost host;
    kalvet::EditorWindow w(inst.folder(), &host);
    w.start();
    kalvet::EditorForm &f = w.form();
    auto widget = [&](kalvet::ComboBox &c) { return w.comboWidget(&c); };
    f.reg_image[0][37][2] = 254;   // record 30: bisnes, ff, timer, ff at offsets 0..3 of row 37
    emit widget(f.Combo15)->activated(30);
    ASSERT_TRUE(widget(f.Combo1[1])->isEnabled());
    EXPECT_EQ(std::pair(widget(f.Combo1[1])->count(), widget(f.Combo1[1])->currentIndex()), std::pair(256, int(f.reg_image[0][37][1])));
    EXPECT_EQ(widget(f.Combo1[2])->lineEdit()->text(), "254");
    EXPECT_FALSE(widget(f.Combo1[5])->isEnabled());
    emit widget(f.Combo1[1])->activated(42);
    EXPECT_EQ(std::pair(f.reg_image[0][37][1], f.reg_image[0][37][2]), std::pair(qint16(42), qint16(254)));
    emit widget(f.Combo15)->activated(2);   // input record: the chosen type is stored, the items redrawn
    emit widget(f.Combo2)->activated(0);
    EXPECT_EQ(std::pair(f.reg_image[0][5][0], widget(f.Combo1[0])->count()), std::pair(qint16(3), 256));
    emit widget(f.Combo1[0])->activated(9);   // type 0, item 0: bisnes at offset 1
    EXPECT_EQ(std::pair(f.reg_image[0][5][1], widget(f.Combo1[0])->currentText()), std::pair(qint16(9), f.Combo1[0].item(9)));
    EXPECT_TRUE(host.messages.isEmpty()) << host.all().toStdString();
}

TEST(RecordWindow, EveryRecordOfEveryControllerSurvivesAnyImageAndDamagedFiles)
{
    std::mt19937 rng(20261208);
    const qint16 odd[] = {-1, 254, 255, 256, -32768, 32767, 7, 60};
    const QStringList sideFiles = {"ff.ini", "timer.ini", "bisnes.ini", "uslov_0.ini", "in_0.ini"};
    const QStringList junk = {"", "x", "-5", "60", "59", "7.5", "16", "9", "ff", "in", "uslov", "FF", "in "};
    for (int round = 0; round < 2; ++round) {
        StartedEditor e;
        kalvet::EditorForm &f = *e.form;
        for (const QString &name : sideFiles) {   // cut short, random bytes, items shifted, removed or whole
            QByteArray b = e.inst.bytes(name);
            const unsigned how = rng() % 5;
            if (how == 1)
                b.truncate(rng() % (b.size() + 1));
            for (int k = 0; k < 40 && how == 2 && !b.isEmpty(); ++k)
                b[rng() % b.size()] = char(rng());
            for (int k = 0; k < 10 && how == 3 && !b.isEmpty(); ++k)
                b.insert(rng() % b.size(), rng() % 2 ? "," : "\"-7\"\r\n9x,");
            how == 4 ? e.inst.remove(name) : e.inst.writeText(name, zuk::decode1251(b));
        }
        QStringList opis = e.inst.text("opis_0.ini").split("\r\n");   // 42 items a record, any line anything
        for (int k = 0; k < 400; ++k)
            if (QString &line = opis[rng() % opis.size()]; !line.contains(','))
                line = '"' + junk[rng() % junk.size()] + '"';
        e.inst.writeText("opis_0.ini", opis.join("\r\n"));
        for (auto &slot : f.reg_image)
            for (auto &row : slot)
                for (qint16 &v : row)
                    v = rng() % 4 ? qint16(rng() % 256) : odd[rng() % 8];
        e.host.reset();
        for (int c = 0; c < 8; ++c) {
            f.Combo3.choose(c);
            ASSERT_EQ(f.Combo15.listCount(), 80);
            for (int rec = 0; rec < 80; ++rec) {
                const auto image = f.reg_image;
                f.Combo15.choose(rec);
                QList<kalvet::ComboBox *> combos{&f.Combo2, &f.Combo5, &f.Combo6};
                for (auto &item : f.Combo1)
                    combos << &item;
                if (kalvet::ComboBox *pick = combos[rng() % combos.size()]; pick->listCount() > 0)
                    pick->choose(rng() % pick->listCount());
                for (kalvet::ComboBox *box : combos) {
                    ASSERT_GE(box->listIndex(), -1);
                    ASSERT_LT(box->listIndex(), box->listCount());
                    ASSERT_TRUE(box->enabled() || !box->listCount());
                }
                ASSERT_TRUE(!f.Combo2.enabled() || f.desc_table[rec][10] == "in" || f.desc_table[rec][10] == "ff");
                for (int s = 0; s < 21; ++s)   // nothing but the shown controller is written
                    ASSERT_TRUE(s == c || f.reg_image[s] == image[s]) << s;
            }
        }
        for (const QString &name : sideFiles)   // the files did not change in the round: one report at most
            EXPECT_LE(e.host.messages.filter(name).size(), 1) << name.toStdString();
    }
}

}  // namespace
