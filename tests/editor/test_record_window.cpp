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
    QComboBox *item = widget(f.Combo1[1]);
    ASSERT_TRUE(item && item->isEnabled());
    EXPECT_EQ(item->count(), 256);
    EXPECT_EQ(item->currentIndex(), f.reg_image[0][37][1]);
    EXPECT_EQ(widget(f.Combo1[2])->lineEdit()->text(), QStringLiteral("254"));
    EXPECT_FALSE(widget(f.Combo1[5])->isEnabled());
    emit item->activated(42);
    EXPECT_EQ(f.reg_image[0][37][1], 42);
    EXPECT_EQ(f.reg_image[0][37][2], 254);
    // An input record: the type chosen in Combo2 is stored and redraws the items.
    emit widget(f.Combo15)->activated(2);
    emit widget(f.Combo2)->activated(0);
    EXPECT_EQ(f.reg_image[0][5][0], 3);
    EXPECT_EQ(widget(f.Combo1[0])->count(), 256);
    emit widget(f.Combo1[0])->activated(9);   // type 0, item 0: bisnes at offset 1
    EXPECT_EQ(f.reg_image[0][5][1], 9);
    EXPECT_EQ(widget(f.Combo1[0])->currentText(), f.Combo1[0].item(9));
    EXPECT_TRUE(host.messages.isEmpty()) << host.all().toStdString();
}

// Damages a file: cut short, random bytes, items shifted by commas, or removed.
void damage(Installation &inst, const QString &name, std::mt19937 &rng)
{
    QByteArray b = inst.bytes(name);
    switch (rng() % 5) {
    case 0:
        return;
    case 1:
        b.truncate(rng() % (b.size() + 1));
        break;
    case 2:
        for (int k = 0; k < 40 && !b.isEmpty(); ++k)
            b[rng() % b.size()] = static_cast<char>(rng());
        break;
    case 3:
        for (int k = 0; k < 10 && !b.isEmpty(); ++k)
            b.insert(rng() % b.size(), rng() % 2 ? "," : "\"-7\"\r\n9x,");
        break;
    case 4:
        inst.remove(name);
        return;
    }
    QFile file(inst.path(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(b);
}

TEST(RecordWindow, EveryRecordOfEveryControllerSurvivesAnyImageAndDamagedFiles)
{
    const QStringList sideFiles = {"ff.ini", "timer.ini", "bisnes.ini", "uslov_0.ini", "in_0.ini"};
    std::mt19937 rng(20261208);
    const qint16 odd[] = {-1, 254, 255, 256, -32768, 32767, 7, 60};
    for (int round = 0; round < 2; ++round) {
        StartedEditor e;
        kalvet::EditorForm &f = *e.form;
        for (const QString &name : sideFiles)
            damage(e.inst, name, rng);
        // Records keep their 42 items, but any line may hold anything.
        QStringList opis = e.inst.text("opis_0.ini").split("\r\n");
        const QStringList junk = {"", "x", "-5", "60", "59", "7.5", "16", "9", "ff", "in", "uslov", "FF", "in "};
        for (int k = 0; k < 400; ++k)
            if (QString &line = opis[rng() % opis.size()]; !line.contains(u','))
                line = u'"' + junk[rng() % junk.size()] + u'"';
        e.inst.writeText("opis_0.ini", opis.join("\r\n"));
        for (auto &slot : f.reg_image)
            for (auto &row : slot)
                for (qint16 &v : row)
                    v = rng() % 4 ? static_cast<qint16>(rng() % 256) : odd[rng() % 8];
        e.host.reset();
        for (int c = 0; c < 8; ++c) {
            f.Combo3.choose(c);
            ASSERT_EQ(f.Combo15.listCount(), 80);
            for (int rec = 0; rec < f.Combo15.listCount(); ++rec) {
                const auto image = f.reg_image;
                f.Combo15.choose(rec);
                QList<kalvet::ComboBox *> combos{&f.Combo2, &f.Combo5, &f.Combo6};
                for (auto &item : f.Combo1)
                    combos << &item;
                kalvet::ComboBox *pick = combos[rng() % combos.size()];
                if (pick->listCount() > 0)
                    pick->choose(rng() % pick->listCount());
                for (kalvet::ComboBox *box : combos) {
                    ASSERT_TRUE(box->listIndex() >= -1 && box->listIndex() < box->listCount());
                    ASSERT_TRUE(box->enabled() || box->listCount() == 0);
                }
                const QString kind = f.desc_table[rec][10];
                ASSERT_TRUE(!f.Combo2.enabled() || kind == "in" || kind == "ff");
                for (int s = 0; s < 21; ++s)   // nothing but the shown controller is written
                    ASSERT_TRUE(s == c || f.reg_image[s] == image[s]) << s;
            }
        }
        for (const QString &name : sideFiles)   // files unchanged in the round: one report at most
            EXPECT_LE(e.host.messages.filter(name).size(), 1) << name.toStdString();
    }
}

}  // namespace
