#include "editor/window/editor_window.h"

#include "common/twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace kalvet {

namespace {

constexpr int px(int twips) { return zuk::twipsToPixels(twips); }

constexpr int kTextHeight = 285;
constexpr int kComboHeight = 315;
constexpr int kRowTop0 = 4680;      // names row 0
constexpr int kRowStep = 360;
constexpr int kItemRowTops[6] = {1320, 1800, 2520, 3000, 3480, 3960};

int namesRowTop(int row)
{
    if (row == 14)
        return 9720;
    if (row == 15)
        return 10080;
    return kRowTop0 + kRowStep * row;
}

// A font of the description, or the system font's family when the family is
// not installed.
QFont describedFont(const QString &family, bool bold, bool italic)
{
    QFont font = QApplication::font();
    if (QFontDatabase::hasFamily(family))
        font.setFamily(family);
    font.setPointSizeF(8.25);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    font.setItalic(italic);
    font.setStretch(QFont::SemiCondensed);
    return font;
}

const QString kTitle = QStringLiteral("Программа настройки контроллеров умного дома");

}  // namespace

EditorWindow::EditorWindow(const QString &folder, EditorHost *host, QWidget *parent)
    : QWidget(parent), host_(host ? host : this)
{
    form_ = std::make_unique<EditorForm>(folder, host_);
    // Several installations may be open at once: the title names the folder.
    setWindowTitle(kTitle + QStringLiteral(" — ") + QDir::toNativeSeparators(folder));
    // The default dialogue font: the system's family at the size of the
    // description, so that every caption fits its control.
    QFont dialogue = QApplication::font();
    dialogue.setPointSizeF(8.25);
    // Common system fonts are wider than the dialogue font the layout was
    // made for; a condensed face of the same family keeps captions inside
    // their controls where the family has one.
    dialogue.setStretch(QFont::SemiCondensed);
    setFont(dialogue);
    setFixedSize(px(12285), px(10485));
    build();
    refresh();
}

EditorWindow::~EditorWindow() = default;

void EditorWindow::start()
{
    form_->Startup();
    refresh();
}

void EditorWindow::message(const QString &text)
{
    QMessageBox::warning(this, kTitle, text);
}

bool EditorWindow::confirm(const QString &text)
{
    // The questions name their answers "Да" and "Нет"; the buttons say the same.
    QMessageBox box(QMessageBox::Question, kTitle, text, QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
    return box.exec() == QMessageBox::Yes;
}

EditorHost::Answer EditorWindow::askYesNoCancel(const QString &text)
{
    QMessageBox box(QMessageBox::Question, kTitle, text, QMessageBox::NoButton, this);
    QPushButton *yes = box.addButton(QStringLiteral("Да"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
    QPushButton *cancel = box.addButton(QStringLiteral("Отмена"), QMessageBox::RejectRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == yes)
        return Answer::Yes;
    if (box.clickedButton() == no)
        return Answer::No;
    return Answer::Cancel;
}

void EditorWindow::closeEvent(QCloseEvent *event)
{
    if (form_->QueryUnload()) {
        event->accept();
    } else {
        event->ignore();
        refresh();   // a failed save may have left a message and new texts
    }
}

bool EditorWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Wheel) {
        auto *combo = qobject_cast<QComboBox *>(watched);
        if (combo && !combo->hasFocus()) {
            event->ignore();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

QComboBox *EditorWindow::addCombo(ComboBox &control, int left, int top, int width)
{
    auto *combo = new QComboBox(this);
    combo->setFocusPolicy(Qt::StrongFocus);   // the wheel does not take the focus
    combo->installEventFilter(this);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCompleter(nullptr);
    combo->setMaxVisibleItems(16);
    combo->setGeometry(px(left), px(top), px(width), px(kComboHeight));
    ComboBox *model = &control;
    // A user's choice of an entry.
    connect(combo, &QComboBox::activated, this, [this, model](int index) {
        model->choose(index);
        refresh();
    });
    // Typing in the edit field: no entry selected, no handler. The widget
    // already shows the typing, so only the other widgets are refreshed.
    connect(combo->lineEdit(), &QLineEdit::textEdited, this, [this, model](const QString &text) {
        model->typeText(text);
        for (ComboView &view : combos_)
            if (view.control == model)
                view.revision = model->revision();
        refresh();
    });
    combos_.push_back({model, combo});
    return combo;
}

QLineEdit *EditorWindow::addText(TextBox &control, int left, int top, int width)
{
    auto *edit = new QLineEdit(this);
    edit->setGeometry(px(left), px(top), px(width), px(kTextHeight));
    TextBox *model = &control;
    connect(edit, &QLineEdit::textEdited, this, [this, model](const QString &text) {
        model->setText(text);
        for (TextView &view : texts_)
            if (view.control == model)
                view.revision = model->revision();
    });
    texts_.push_back({model, edit});
    return edit;
}

QLabel *EditorWindow::addLabel(Label &control, int left, int top, int width, int height)
{
    QLabel *label = addFixedLabel(QString(), left, top, width, height);
    labels_.push_back({&control, label});
    return label;
}

QLabel *EditorWindow::addFixedLabel(const QString &caption, int left, int top, int width, int height)
{
    auto *label = new QLabel(caption, this);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(px(left), px(top), px(width), px(height));
    return label;
}

void EditorWindow::build()
{
    EditorForm &f = *form_;
    const QFont bold = describedFont(QStringLiteral("MS Sans Serif"), true, false);
    const QFont italic = describedFont(QStringLiteral("Palatino Linotype"), false, true);

    // Selection bar.
    addFixedLabel(QStringLiteral("выбор входа или сценария"), 2040, 120, 2655, 375)->setFont(bold);
    addCombo(f.Combo15, 4800, 120, 2175);
    addFixedLabel(QStringLiteral("адрес в системе"), 7200, 120, 1695)->setFont(bold);
    addCombo(f.Combo3, 9000, 120, 3015)->setFont(bold);

    // Record area.
    addLabel(f.Label1[0], 120, 600, 1815);
    addCombo(f.Combo2, 2040, 600, 4935);
    addLabel(f.Label6, 7320, 600, 1815);
    addCombo(f.Combo5, 9360, 600, 735);
    addLabel(f.Label8, 10200, 600, 975);
    addCombo(f.Combo6, 11280, 600, 735);
    addLabel(f.Label1[7], 5640, 960, 3375);
    addLabel(f.Label1[8], 5640, 2160, 3495);
    for (int r = 0; r < 6; ++r) {
        addLabel(f.Label1[1 + r], 120, kItemRowTops[r], 1815);
        addCombo(f.Combo1[2 * r], 2040, kItemRowTops[r], 4935);
        addCombo(f.Combo1[2 * r + 1], 7200, kItemRowTops[r], 4935);
    }

    // Names area: inputs with their delays, outputs, IR packets.
    addFixedLabel(QStringLiteral("Входы"), 960, 4440, 855);
    addFixedLabel(QStringLiteral("Временные задержки "), 2760, 4440, 1695);
    addFixedLabel(QStringLiteral("Выходы"), 4920, 4440, 855);
    addFixedLabel(QStringLiteral("ИК посылка"), 6720, 4440, 975);
    for (int r = 0; r < 14; ++r) {
        const int top = namesRowTop(r);
        addText(f.Text2[r], 240, top, 2415);
        addLabel(f.Label20[27 - r], 2880, top, 255);
        addLabel(f.Label20[r], 4200, top, 255);
        addText(f.Text1[r], 4440, top, 1575);
        addLabel(f.Label20[28 + r], 6240, top, 255);
    }
    for (int k = 0; k < 12; ++k) {
        const int row = k < 11 ? k + 1 : 13;
        addCombo(f.Combo14[k], 3120, namesRowTop(row), 975);
    }
    for (int r = 0; r < 16; ++r)
        addText(f.Text4[r], 6480, namesRowTop(r), 1335);
    addFixedLabel(QStringLiteral("E"), 6240, 9720, 135);
    addFixedLabel(QStringLiteral("F"), 6240, 10080, 255);

    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Plain);
    line->setGeometry(px(8040), px(4680), 1, px(10440) - px(4680));

    // Scenario area.
    addFixedLabel(QStringLiteral("местоположение"), 8400, 4560, 1455);
    addText(f.Text3, 9840, 4560, 1695);
    addFixedLabel(QStringLiteral("Названия сценариев"), 9360, 4920, 1815);
    addFixedLabel(QStringLiteral("условные"), 8880, 5160, 855)->setFont(italic);
    addFixedLabel(QStringLiteral("короткие"), 10920, 5160, 855)->setFont(italic);
    addFixedLabel(QStringLiteral("длинные"), 9960, 9360, 855)->setFont(italic);
    auto scenario = [&](int s, int left, int top) {
        addLabel(f.Label14[s], left - 240, top, 255);
        addText(f.Text5[s], left, top, 1575);
    };
    for (int q = 0; q < 16; ++q) {
        scenario(q, 8520, 5400 + 240 * q);
        scenario(16 + q, 10560, 5400 + 240 * q);
    }
    for (int q = 0; q < 3; ++q) {
        scenario(32 + q, 8520, 9600 + 240 * q);
        scenario(35 + q, 10560, 9600 + 240 * q);
    }

    // Buttons.
    command1_ = new QPushButton(QStringLiteral("читать"), this);
    command1_->setGeometry(px(360), px(9840), px(1215), px(375));
    connect(command1_, &QPushButton::clicked, this, [this] {
        form_->Command1_Click();
        refresh();
    });
    command2_ = new QPushButton(QStringLiteral("запись"), this);
    command2_->setGeometry(px(4560), px(9840), px(1215), px(375));
    connect(command2_, &QPushButton::clicked, this, [this] {
        form_->Command2_Click();
        refresh();
    });
}

void EditorWindow::syncCombo(ComboView &view)
{
    ComboBox &c = *view.control;
    QComboBox *w = view.widget;
    const QSignalBlocker block(w);
    if (view.listRevision != c.listRevision()) {
        w->clear();
        w->addItems(c.items());
        view.listRevision = c.listRevision();
    }
    if (w->currentIndex() != c.listIndex())
        w->setCurrentIndex(c.listIndex());
    if (w->currentText() != c.text())
        w->setEditText(c.text());
    w->setEnabled(c.enabled());
    view.revision = c.revision();
}

void EditorWindow::refresh()
{
    for (ComboView &view : combos_)
        if (view.revision != view.control->revision())
            syncCombo(view);
    for (TextView &view : texts_) {
        if (view.revision == view.control->revision())
            continue;
        if (view.widget->text() != view.control->text()) {
            view.widget->setText(view.control->text());
            view.widget->setCursorPosition(0);   // show the start of a long text
        }
        view.revision = view.control->revision();
    }
    for (LabelView &view : labels_) {
        if (view.revision == view.control->revision())
            continue;
        view.widget->setText(view.control->caption());
        view.revision = view.control->revision();
    }
}

QComboBox *EditorWindow::comboWidget(const ComboBox *control) const
{
    for (const ComboView &view : combos_)
        if (view.control == control)
            return view.widget;
    return nullptr;
}

QLineEdit *EditorWindow::textWidget(const TextBox *control) const
{
    for (const TextView &view : texts_)
        if (view.control == control)
            return view.widget;
    return nullptr;
}

QLabel *EditorWindow::labelWidget(const Label *control) const
{
    for (const LabelView &view : labels_)
        if (view.control == control)
            return view.widget;
    return nullptr;
}

QPushButton *EditorWindow::button(int number) const
{
    return number == 1 ? command1_ : number == 2 ? command2_ : nullptr;
}

}  // namespace kalvet
