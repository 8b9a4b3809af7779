// The real window under the offscreen platform: placement, and that a user's
// choice and typing reach the logic while QComboBox's own signals do not.
#include "fixture.h"

#include "editor/window/editor_window.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace kalvet_test;

namespace {

void typeInto(QWidget *w, const QString &text)
{
    for (QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(w, &press);
    }
}

struct WindowOnCopy {
    Installation inst;
    RecordingHost host;
    std::unique_ptr<kalvet::EditorWindow> window;
    WindowOnCopy()
    {
        guiApp();
        window = std::make_unique<kalvet::EditorWindow>(inst.folder(), &host);
        window->start();
    }
    kalvet::EditorForm &f() { return window->form(); }
};

int px(int twips) { return (twips + 7) / 15; }

}  // namespace

TEST(EditorWindow, ControlsSitWhereTheDescriptionPutsThem)
{
    WindowOnCopy w;
    auto &f = w.f();
    EXPECT_EQ(w.window->windowTitle(), "Программа настройки контроллеров умного дома");
    EXPECT_EQ(w.window->size(), QSize(px(12285), px(10485)));
    struct Spot { QWidget *widget; int left, top, width; };
    const Spot spots[] = {
        {w.window->comboWidget(&f.Combo3), 9000, 120, 3015},
        {w.window->comboWidget(&f.Combo1[7]), 7200, 3000, 4935},
        {w.window->comboWidget(&f.Combo14[11]), 3120, 4680 + 360 * 13, 975},
        {w.window->comboWidget(&f.Combo14[0]), 3120, 4680 + 360, 975},
        {w.window->labelWidget(&f.Label20[27]), 2880, 4680, 255},
        {w.window->labelWidget(&f.Label20[14]), 2880, 4680 + 360 * 13, 255},
        {w.window->textWidget(&f.Text4[15]), 6480, 10080, 1335},
        {w.window->textWidget(&f.Text5[35]), 10560, 9600, 1575},
        {w.window->labelWidget(&f.Label14[20]), 10320, 5400 + 240 * 4, 255},
        {w.window->button(2), 4560, 9840, 1215},
    };
    for (const Spot &s : spots) {
        ASSERT_NE(s.widget, nullptr);
        EXPECT_EQ(s.widget->geometry().topLeft(), QPoint(px(s.left), px(s.top)));
        EXPECT_EQ(s.widget->width(), px(s.width));
    }
    EXPECT_EQ(w.window->labelWidget(&f.Label20[27])->text(), "0");
    EXPECT_EQ(w.window->labelWidget(&f.Label20[14])->text(), "D");
    EXPECT_TRUE(w.window->comboWidget(&f.Combo3)->font().bold());
    QStringList captions;
    for (QLabel *l : w.window->findChildren<QLabel *>())
        captions << l->text();
    for (const char *fixed : {"выбор входа или сценария", "адрес в системе", "Входы", "Временные задержки ",
                              "Выходы", "ИК посылка", "E", "F", "местоположение", "Названия сценариев",
                              "условные", "короткие", "длинные"})
        EXPECT_EQ(captions.count(QString(fixed)), 1) << fixed;
    EXPECT_EQ(w.window->button(1)->text(), "читать");
}

TEST(EditorWindow, ChoiceAndTypingReachTheLogic)
{
    WindowOnCopy w;
    auto &f = w.f();
    QComboBox *combo3 = w.window->comboWidget(&f.Combo3);
    ASSERT_EQ(combo3->count(), 8);
    EXPECT_EQ(combo3->currentText(), "Прихожая");
    EXPECT_EQ(w.window->comboWidget(&f.Combo15)->currentIndex(), 2);

    emit combo3->activated(5);
    EXPECT_EQ(f.Combo3.listIndex(), 5);
    EXPECT_EQ(w.window->textWidget(&f.Text3)->text(), f.ctrl_location[5]);
    EXPECT_EQ(w.window->comboWidget(&f.Combo14[0])->currentIndex(), f.reg_image[5][58][1]);

    // A delay choice lands in the image.
    emit w.window->comboWidget(&f.Combo14[11])->activated(42);
    EXPECT_EQ(f.reg_image[5][59][5], 42);

    // Typing in a text box, then "запись".
    QLineEdit *input3 = w.window->textWidget(&f.Text2[3]);
    input3->clear();
    typeInto(input3, "дверь");
    EXPECT_EQ(f.Text2[3].text(), "дверь");
    // Typing in the controller selector: no entry selected, nothing shown anew.
    const QString shown = w.window->textWidget(&f.Text3)->text();
    typeInto(combo3->lineEdit(), "x");
    EXPECT_EQ(f.Combo3.listIndex(), -1);
    EXPECT_EQ(f.Combo3.text(), combo3->currentText());
    EXPECT_EQ(w.window->textWidget(&f.Text3)->text(), shown);
    EXPECT_EQ(input3->text(), "дверь");

    w.window->button(2)->click();
    EXPECT_TRUE(w.host.messages.isEmpty()) << w.host.all().toStdString();
    EXPECT_EQ(w.inst.items("out_in_ik.txt")[5 * 66 + 2 + 3 * 4 + 2], "дверь");
    EXPECT_EQ(combo3->currentIndex(), 5);
    EXPECT_EQ(combo3->currentText(), "Кабинет");
}

TEST(EditorWindow, ListRefillDoesNotSelectAnEntryByItself)
{
    Installation inst;
    {
        // A delay byte with no text: the box must stay without a selection.
        QStringList lines = inst.text("zuk.txt").split("\r\n");
        lines[1 + 9 * 58 + 1 + 1] = "255";
        inst.writeText("zuk.txt", lines.join("\r\n"));
    }
    guiApp();
    RecordingHost host;
    kalvet::EditorWindow window(inst.folder(), &host);
    auto &f = window.form();
    int clicks = 0;
    f.Combo14[0].onClick = [&] { ++clicks; f.Combo14_Click(0); };
    window.start();
    window.button(1)->click();
    QComboBox *box = window.comboWidget(&f.Combo14[0]);
    EXPECT_EQ(box->count(), 254);
    EXPECT_EQ(box->currentIndex(), -1);
    EXPECT_EQ(box->currentText(), "255");
    EXPECT_EQ(f.Combo14[0].listIndex(), -1);
    EXPECT_EQ(f.reg_image[0][58][1], 255);
    EXPECT_EQ(clicks, 0);
    emit box->activated(3);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(f.reg_image[0][58][1], 3);
}
