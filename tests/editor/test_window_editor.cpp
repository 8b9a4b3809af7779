// The real window under the offscreen platform: placement, and that a user's
// choice and typing reach the logic while QComboBox's own signals do not.
#include "fixture.h"

#include "editor/window/editor_window.h"

#include <QAction>
#include <QAbstractItemView>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>

#include "common/files.h"
#include "common/image_file.h"

#include <QElapsedTimer>

using namespace kalvet_test;

namespace {

void typeInto(QWidget *w, const QString &text)
{
    for (QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(w, &press);
    }
}
QPoint at(int left, int top) { return {(left + 7) / 15, (top + 7) / 15}; }

}  // namespace

TEST(EditorWindow, PlacementChoiceAndTypingReachTheLogicButComboSignalsDoNot)
{
    guiApp();
    Installation inst;
    QStringList lines = inst.text("zuk.txt").split("\r\n");
    lines[2 + 9 * 58 + 1] = "255";   // controller 0: a delay byte with no text
    inst.writeText("zuk.txt", lines.join("\r\n"));
    RecordingHost host;
    kalvet::EditorWindow w(inst.folder(), &host);
    auto &f = w.form();
    int clicks = 0;
    f.Combo14[0].onClick = [&] { ++clicks, f.Combo14_Click(0); };
    w.start();
    // A list refilled does not select an entry by itself.
    QComboBox *box = w.comboWidget(&f.Combo14[0]);
    EXPECT_EQ(box->count(), 254);
    EXPECT_EQ(std::pair(box->currentIndex(), box->currentText()), std::pair(-1, QString("255")));
    EXPECT_EQ(std::pair(f.Combo14[0].listIndex(), clicks), std::pair(-1, 0));
    emit box->activated(3);
    EXPECT_EQ(f.reg_image[0][58][1] * 10 + clicks, 31);
    // An open list is as wide as its longest entry, where that is wider than its box.
    QComboBox *narrow = nullptr;
    int widest = 0;
    for (QComboBox *combo : w.area()->findChildren<QComboBox *>()) {
        int longest = 0;
        for (int i = 0; i < combo->count(); ++i)
            longest = std::max(longest, combo->view()->fontMetrics().horizontalAdvance(combo->itemText(i)));
        if (longest - combo->width() > widest - (narrow ? narrow->width() : 0))
            narrow = combo, widest = longest;
    }
    ASSERT_NE(narrow, nullptr);
    ASSERT_GT(widest, narrow->width());
    narrow->showPopup();
    EXPECT_GE(narrow->view()->viewport()->width(), widest);
    narrow->hidePopup();

    EXPECT_EQ(w.area()->size(), QSize(819, 699));
    EXPECT_EQ(w.windowTitle().toStdString(),
              ("Программа настройки контроллеров умного дома — " + QDir::toNativeSeparators(inst.folder()) + "[*]").toStdString());
    const std::pair<QWidget *, QPoint> spots[] = {
        {w.comboWidget(&f.Combo3), at(9000, 120)},         {w.comboWidget(&f.Combo1[7]), at(7200, 3000)},
        {w.comboWidget(&f.Combo14[11]), at(3120, 9360)},   {w.labelWidget(&f.Label20[14]), at(2880, 9360)},
        {w.textWidget(&f.Text4[15]), at(6480, 10080)},     {w.labelWidget(&f.Label14[20]), at(10320, 6360)},
        {w.button(2), at(4560, 9840)}};
    for (const auto &[widget, pos] : spots)
        EXPECT_EQ(widget->pos(), pos);
    EXPECT_EQ(w.labelWidget(&f.Label20[14])->text(), "D");
    EXPECT_TRUE(w.comboWidget(&f.Combo3)->font().bold());

    QComboBox *combo3 = w.comboWidget(&f.Combo3);
    EXPECT_EQ(combo3->currentText(), "Прихожая");
    emit combo3->activated(5);
    EXPECT_EQ(f.Combo3.listIndex(), 5);
    EXPECT_EQ(w.textWidget(&f.Text3)->text(), f.names.ctrl_location[5]);
    emit w.comboWidget(&f.Combo14[11])->activated(42);
    EXPECT_EQ(f.reg_image[5][59][5], 42);

    QLineEdit *input3 = w.textWidget(&f.Text2[3]);
    input3->clear();
    typeInto(input3, "дверь");
    const QString shown = w.textWidget(&f.Text3)->text();
    typeInto(combo3->lineEdit(), "x");   // no entry selected, nothing shown anew
    EXPECT_EQ(std::pair(f.Combo3.listIndex(), f.Combo3.text()), std::pair(-1, combo3->currentText()));
    EXPECT_EQ(w.textWidget(&f.Text3)->text(), shown);
    w.button(2)->click();
    EXPECT_TRUE(host.messages.isEmpty()) << host.all().toStdString();
    EXPECT_EQ(inst.items("out_in_ik.txt")[5 * 66 + 2 + 3 * 4 + 2], "дверь");
    EXPECT_EQ(combo3->currentText(), "Кабинет");
}

namespace {

void wheel(QWidget *w, int notches)
{
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    QWheelEvent event(at, w->mapToGlobal(at), QPoint(), QPoint(0, -120 * notches), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &event);
}

}  // namespace

TEST(EditorWindow, WheelChangesOnlyAFocusedComboAndClosingWithUnsavedChangesAsks)
{
    guiApp();
    Installation inst;
    RecordingHost host;
    kalvet::EditorWindow w(inst.folder(), &host);
    auto &f = w.form();
    w.start();
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    emit w.comboWidget(&f.Combo15)->activated(30);   // item 1: "ff" at row 37, byte 1
    QComboBox *item = w.comboWidget(&f.Combo1[1]);
    QComboBox *delay = w.comboWidget(&f.Combo14[0]);
    const qint16 before = f.reg_image[0][37][1];
    const qint16 delayBefore = f.reg_image[0][58][1];
    ASSERT_LT(before, 250);
    ASSERT_LT(delayBefore, 250);
    EXPECT_FALSE(item->hasFocus());
    wheel(item, 1), wheel(item->lineEdit(), 1), wheel(delay, 1);
    EXPECT_EQ(std::pair(f.reg_image[0][37][1], f.reg_image[0][58][1]), std::pair(before, delayBefore));
    EXPECT_EQ(item->currentIndex(), before);
    EXPECT_FALSE(item->hasFocus()) << "the wheel must not take the focus";

    // Closing with nothing changed closes at once.
    EXPECT_TRUE(w.close());
    EXPECT_TRUE(host.questions.isEmpty());
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    item->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(item->hasFocus());
    wheel(item, 1);
    EXPECT_EQ(std::pair(f.reg_image[0][37][1], item->currentIndex()), std::pair(qint16(before + 1), before + 1));

    // "Отмена" keeps the window, "Нет" closes it unsaved, "Да" saves and closes.
    const QByteArray file = inst.bytes("zuk.txt");
    host.choices = {kalvet::EditorHost::Answer::Cancel, kalvet::EditorHost::Answer::No,
                         kalvet::EditorHost::Answer::Yes};
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(host.questions.size(), 1);
    EXPECT_TRUE(w.close());
    EXPECT_EQ(inst.bytes("zuk.txt"), file);
    w.show();
    EXPECT_TRUE(w.close());
    EXPECT_EQ(host.questions.size(), 3);
    std::array<zuk::SlotImage, 20> saved{};
    ASSERT_TRUE(zuk::loadImageFile(inst.path("zuk.txt"), saved).ok);
    EXPECT_EQ(saved[0][37][1], before + 1);

    // Typing a name is a change; typing it back is none.
    w.show();
    QLineEdit *location = w.textWidget(&f.Text3);
    const QString name = location->text();
    typeInto(location, "x");
    EXPECT_TRUE(f.hasUnsavedChanges());
    location->setText(name);
    emit location->textEdited(name);
    EXPECT_FALSE(f.hasUnsavedChanges());
    EXPECT_TRUE(w.close());
    EXPECT_EQ(host.questions.size(), 3);
    EXPECT_TRUE(host.messages.isEmpty()) << host.all().toStdString();
}

TEST(EditorWindow, KeysUndoAChoiceInAFocusedBoxNamesAreStepsTheTitleMarksChangesAndASaveIsNamed)
{
    using Command = kalvet::EditorWindow::Command;
    guiApp();
    Installation inst;
    RecordingHost host;
    kalvet::EditorWindow w(inst.folder(), &host);
    auto &f = w.form();
    w.start();
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));   // the keys go to the focus window
    QStringList menus;
    for (QAction *menu : w.menuBar()->actions())
        menus << menu->text();
    EXPECT_EQ(menus, (QStringList{"Файл", "Правка", "&Справка"}));
    EXPECT_EQ(w.action(Command::Read)->text() + w.action(Command::Save)->text(), "читатьзапись");
    EXPECT_FALSE(w.isWindowModified());
    EXPECT_FALSE(w.action(Command::Undo)->isEnabled());

    // A choice in the delay box that has the focus, undone and redone by the keys.
    QComboBox *delay = w.comboWidget(&f.Combo14[0]);
    const qint16 before = f.reg_image[0][58][1], after = qint16((before + 1) % 254);
    delay->setFocus(Qt::TabFocusReason);
    emit delay->activated(after);
    EXPECT_TRUE(w.isWindowModified());
    QTest::keyClick(delay, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(std::pair(f.reg_image[0][58][1], delay->currentIndex()), std::pair(before, int(before)));
    EXPECT_FALSE(w.isWindowModified());
    QTest::keyClick(delay, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(std::pair(f.reg_image[0][58][1], delay->currentIndex()), std::pair(after, int(after)));
    // The same against the file on disk, in a list.
    const QStringList differences = w.compareWith(inst.path("zuk.txt"));
    ASSERT_EQ(differences.size(), 2);
    EXPECT_TRUE(differences[0].endsWith(QString("задержка входа 1: «%1» → «%2»").arg(f.Combo14[0].item(after), f.Combo14[0].item(before))))
        << differences[0].toStdString();
    EXPECT_EQ(w.differenceList()->count(), 2);
    EXPECT_EQ(w.differenceList()->item(1)->text(), "различий: 1");
    f.Combo3.choose(2);
    w.showDifference(0);   // a double click on the line: its controller again
    EXPECT_EQ(f.Combo3.listIndex(), 0);

    // A finished edit of a name is one step; the menu item undoes it.
    QLineEdit *location = w.textWidget(&f.Text3);
    const QString place = location->text();
    location->setFocus();
    location->end(false);
    typeInto(location, "!");
    EXPECT_TRUE(w.action(Command::Undo)->isEnabled());
    QTest::keyClick(location, Qt::Key_Return);
    EXPECT_EQ(std::pair(w.undoStack().count(), f.names.ctrl_location[0]), std::pair(2, place + "!"));
    w.action(Command::Undo)->trigger();
    EXPECT_EQ(std::pair(location->text(), f.names.ctrl_location[0]), std::pair(place, place));

    // The whole text of a box it does not fit is its tooltip.
    f.Text3.setText("кухня");
    const QString longText = "Щит в прихожей, верхний ряд, за дверью слева от входа";
    f.Combo14[1].showUnlisted(longText);
    w.refresh();
    EXPECT_EQ(std::pair(location->toolTip(), w.comboWidget(&f.Combo14[1])->toolTip()), std::pair(QString(), longText));
    f.Text3.setText(longText);
    f.Combo14[1].showUnlisted("1");
    w.refresh();
    EXPECT_EQ(std::pair(location->toolTip(), w.comboWidget(&f.Combo14[1])->toolTip()), std::pair(longText, QString()));

    // A save names its files in the status bar and forgets the steps.
    w.button(2)->click();
    EXPECT_TRUE(w.statusText().startsWith("Записаны файлы zuk.txt, szenar.txt, out_in_ik.txt — "))
        << w.statusText().toStdString();
    EXPECT_EQ(w.undoStack().count(), 0);
    EXPECT_FALSE(w.isWindowModified());
    EXPECT_EQ(inst.items("out_in_ik.txt")[1], longText);

    // Another folder: new controls in the same places, no steps, nothing said yet.
    Installation other;
    other.writeText("adres.ini", "0,\"a\",\"Веранда\"\r\n" + inst.text("adres.ini"));
    w.openFolder(other.folder());
    EXPECT_TRUE(w.windowTitle().contains(QDir::toNativeSeparators(other.folder())));
    EXPECT_EQ(std::pair(w.form().folder(), w.comboWidget(&w.form().Combo3)->currentText()), std::pair(other.folder(), QString("Веранда")));
    EXPECT_EQ(w.comboWidget(&w.form().Combo3)->pos(), QPoint(600, 8));
    EXPECT_EQ(std::pair(w.undoStack().count(), w.statusText()), std::pair(0, QString()));
    EXPECT_TRUE(host.messages.isEmpty()) << host.all().toStdString();
}

TEST(EditorWindow, AFileChangedElsewhereIsToldAndNeverSavedOverUnseen)
{
    guiApp();
    Installation inst;
    RecordingHost host;
    kalvet::EditorWindow w(inst.folder(), &host);
    auto &f = w.form();
    w.start();
    auto waitFor = [&](bool told) {
        QElapsedTimer clock;
        clock.start();
        while (w.diskNoticeText().isEmpty() == told && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return !w.diskNoticeText().isEmpty();
    };
    // Its own save asks nothing and is no change made elsewhere.
    w.button(2)->click();
    EXPECT_TRUE(host.questions.isEmpty());
    const QByteArray names = inst.bytes("out_in_ik.txt");
    QTest::qWait(400);
    EXPECT_TRUE(w.diskNoticeText().isEmpty()) << w.diskNoticeText().toStdString();

    // Another program replaces zuk.txt: said while the window is idle.
    std::array<zuk::SlotImage, 20> outside{};
    ASSERT_TRUE(zuk::loadImageFile(inst.path("zuk.txt"), outside).ok);
    outside[3][10][2] = 201;
    QString why;
    ASSERT_TRUE(zuk::saveFileAtomically(inst.path("zuk.txt"), zuk::imageFileBytes(outside), &why));
    const QByteArray theirs = inst.bytes("zuk.txt");
    EXPECT_TRUE(waitFor(true));
    EXPECT_TRUE(w.diskNoticeText().contains("zuk.txt")) << w.diskNoticeText().toStdString();

    // "запись" asks; Отмена leaves their file as it is, Загрузить заново shows it.
    w.button(2)->click();
    ASSERT_EQ(host.questions.size(), 1);
    EXPECT_TRUE(host.questions[0].contains("zuk.txt")) << host.questions[0].toStdString();
    EXPECT_EQ(inst.bytes("zuk.txt"), theirs);
    EXPECT_NE(f.reg_image[3][10][2], 201);
    host.overwrites = {kalvet::EditorHost::Overwrite::Reload};
    w.button(2)->click();
    EXPECT_EQ(f.reg_image[3][10][2], 201);
    EXPECT_EQ(inst.bytes("zuk.txt"), theirs);
    EXPECT_TRUE(w.diskNoticeText().isEmpty());
    // Перезаписать writes what the window holds over a change in the names file.
    inst.writeText("out_in_ik.txt", inst.text("out_in_ik.txt").replace(QStringLiteral("Свет потолок"), QStringLiteral("Люстра")));
    EXPECT_TRUE(waitFor(true));
    EXPECT_TRUE(w.diskNoticeText().contains("out_in_ik.txt")) << w.diskNoticeText().toStdString();
    f.reg_image[3][10][2] = 5;
    host.overwrites = {kalvet::EditorHost::Overwrite::Overwrite};
    w.button(2)->click();
    EXPECT_EQ(host.questions.size(), 3);
    ASSERT_TRUE(zuk::loadImageFile(inst.path("zuk.txt"), outside).ok);
    EXPECT_EQ(outside[3][10][2], 5);
    EXPECT_EQ(inst.bytes("out_in_ik.txt"), names);
}
