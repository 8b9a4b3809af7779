#include "editor/window/editor_window.h"

#include "common/program_folder.h"
#include "common/twips.h"
#include "editor/core/installation_view.h"
#include "editor/window/export_file.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QFileSystemWatcher>
#include <QMessageBox>
#include <QTimer>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

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
const QKeySequence kUndoKeys(QStringLiteral("Ctrl+Z"));
const QKeySequence kRedoKeys(QStringLiteral("Ctrl+Shift+Z"));

// Room for text in an edit field: its width less the frame and the margins
// QLineEdit keeps on each side.
int textRoom(const QLineEdit *edit)
{
    const int frame = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, edit) : 0;
    const QMargins margins = edit->textMargins();
    return edit->width() - 2 * frame - margins.left() - margins.right() - 2 * 2;
}

int textRoom(const QComboBox *combo)
{
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.rect = QRect(QPoint(), combo->size());   // set even while the box is hidden
    option.editable = true;
    option.frame = true;
    const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
    return field.width() - 2 * 2;
}

// A text that does not fit its field is shown whole as the tooltip.
void fitTip(QWidget *owner, const QString &text, int room)
{
    const bool cut = owner->fontMetrics().horizontalAdvance(text) > room;
    owner->setToolTip(cut ? text : QString());
}

// The buttons of a modal question and what each answers; the last one is
// the escape button.
template <typename A>
struct Choice {
    const char *text;
    QMessageBox::ButtonRole role;
    A answer;
};
const Choice<EditorHost::Answer> kYesNoCancel[] = {{"Да", QMessageBox::YesRole, EditorHost::Answer::Yes},
                                                   {"Нет", QMessageBox::NoRole, EditorHost::Answer::No},
                                                   {"Отмена", QMessageBox::RejectRole, EditorHost::Answer::Cancel}};
const Choice<EditorHost::Overwrite> kOverwriteReloadCancel[] = {
    {"Перезаписать", QMessageBox::DestructiveRole, EditorHost::Overwrite::Overwrite},
    {"Загрузить заново", QMessageBox::ActionRole, EditorHost::Overwrite::Reload},
    {"Отмена", QMessageBox::RejectRole, EditorHost::Overwrite::Cancel}};

// Asks with those buttons; the answer of the button clicked, the escape
// button's when the box was closed otherwise.
template <typename A, std::size_t N>
A askWith(QWidget *parent, QMessageBox::Icon icon, const QString &text, const Choice<A> (&choices)[N],
          std::size_t defaultButton)
{
    QMessageBox box(icon, kTitle, text, QMessageBox::NoButton, parent);
    std::vector<QPushButton *> buttons;
    for (const Choice<A> &c : choices)
        buttons.push_back(box.addButton(QString::fromUtf8(c.text), c.role));
    box.setDefaultButton(buttons.at(defaultButton));
    box.setEscapeButton(buttons.back());
    box.exec();
    const auto clicked = std::find(buttons.begin(), buttons.end(), box.clickedButton());
    return clicked == buttons.end() ? choices[N - 1].answer : choices[clicked - buttons.begin()].answer;
}

// The view of a control whose widget already shows what the control holds
// (the user's typing): counts as up to date.
template <typename Views, typename Control>
void markShown(Views &views, const Control *control)
{
    for (auto &view : views)
        if (view.control == control)
            view.revision = control->revision();
}

}  // namespace

// One step of the form on the undo stack. Pushing a step runs redo() at
// once; the step has just been made, so that first time does nothing.
class EditCommand : public QUndoCommand {
public:
    EditCommand(EditorWindow *window, const Edit &edit) : QUndoCommand(edit.what), window_(window), edit_(edit) {}
    void undo() override { window_->applyStep(edit_, true); }
    void redo() override
    {
        if (pushed_)
            pushed_ = false;
        else
            window_->applyStep(edit_, false);
    }

private:
    EditorWindow *window_;
    Edit edit_;
    bool pushed_ = true;
};

EditorWindow::EditorWindow(const QString &folder, EditorHost *host, QWidget *parent)
    : QMainWindow(parent), host_(host)
{
    form_ = std::make_unique<EditorForm>(folder, this);
    // The default dialogue font: the system's family at the size of the
    // description, so that every caption fits its control.
    QFont dialogue = QApplication::font();
    dialogue.setPointSizeF(8.25);
    // Common system fonts are wider than the dialogue font the layout was
    // made for; a condensed face of the same family keeps captions inside
    // their controls where the family has one.
    dialogue.setStretch(QFont::SemiCondensed);
    buildMenus();
    build();
    area_->setFont(dialogue);
    tipCutCaptions();
    // The window keeps the size of the description; the menu bar and the
    // status bar come on top of it.
    // What the last save or export wrote; a label, so that the status tips
    // of the menu items only hide it for a moment.
    status_ = new QLabel;
    statusBar()->addWidget(status_, 1);
    diskNotice_ = new QLabel;
    diskNotice_->setObjectName(QStringLiteral("diskNotice"));
    diskNotice_->setStyleSheet(QStringLiteral("QLabel { color: #a00000; font-weight: bold; }"));
    // Elided by the status bar, never widening the window; the whole text in its tooltip.
    diskNotice_->setMinimumWidth(1);
    diskNotice_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    diskNotice_->hide();
    statusBar()->addWidget(diskNotice_, 2);
    watcher_ = new QFileSystemWatcher(this);
    diskTimer_ = new QTimer(this);
    diskTimer_->setSingleShot(true);
    diskTimer_->setInterval(200);
    connect(diskTimer_, &QTimer::timeout, this, &EditorWindow::checkDisk);
    connect(watcher_, &QFileSystemWatcher::fileChanged, diskTimer_, qOverload<>(&QTimer::start));
    connect(watcher_, &QFileSystemWatcher::directoryChanged, diskTimer_, qOverload<>(&QTimer::start));
    watchFolder();
    statusBar()->setSizeGripEnabled(false);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    connect(&undoStack_, &QUndoStack::indexChanged, this, [this] { updateState(); });
    setTitle();
    refresh();
}

EditorWindow::~EditorWindow()
{
    // The steps and the widgets refer to the form; they go first.
    undoStack_.clear();
    delete takeCentralWidget();
}

void EditorWindow::setTitle()
{
    // Several installations may be open at once: the title names the folder.
    // "[*]" is where the mark of unsaved changes goes.
    setWindowTitle(kTitle + QStringLiteral(" — ") + QDir::toNativeSeparators(form_->folder()) + QStringLiteral("[*]"));
}

void EditorWindow::setSampleInstallation(const QString &folder)
{
    sample_ = folder;
    form_->setSampleInstallation(folder);
}

void EditorWindow::start()
{
    form_->Startup();
    refresh();
}

void EditorWindow::message(const QString &text)
{
    if (host_)
        return host_->message(text);
    QMessageBox::warning(this, kTitle, text);
}

bool EditorWindow::confirm(const QString &text)
{
    if (host_)
        return host_->confirm(text);
    // The questions name their answers "Да" and "Нет"; the buttons say the same.
    QMessageBox box(QMessageBox::Question, kTitle, text, QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
    return box.exec() == QMessageBox::Yes;
}

EditorHost::Answer EditorWindow::askYesNoCancel(const QString &text)
{
    if (host_)
        return host_->askYesNoCancel(text);
    return askWith(this, QMessageBox::Question, text, kYesNoCancel, 0);
}

void EditorWindow::editMade(const Edit &edit)
{
    if (host_)
        host_->editMade(edit);
    undoStack_.push(new EditCommand(this, edit));
}

void EditorWindow::editsForgotten()
{
    if (host_)
        host_->editsForgotten();
    undoStack_.clear();
    // A load has just read the files: what they hold is what the window shows.
    if (diskNotice_)
        diskNotice_->hide();
}

EditorHost::Overwrite EditorWindow::askOverwrite(const QString &text)
{
    if (host_)
        return host_->askOverwrite(text);
    return askWith(this, QMessageBox::Warning, text, kOverwriteReloadCancel, 2);
}

void EditorWindow::watchFolder()
{
    if (const QStringList watched = watcher_->files() + watcher_->directories(); !watched.isEmpty())
        watcher_->removePaths(watched);
    // The folder too: a save that renames a new file over one ends the watch of the old one.
    watcher_->addPath(form_->folder());
    for (const QString &name : {QStringLiteral("zuk.txt"), QStringLiteral("out_in_ik.txt"), QStringLiteral("szenar.txt")})
        if (QFileInfo::exists(form_->filePath(name)))
            watcher_->addPath(form_->filePath(name));
}

void EditorWindow::checkDisk()
{
    watchFolder();   // files replaced by a rename are watched again
    const QStringList changed = form_->changedOnDisk();
    if (changed.isEmpty()) {
        diskNotice_->hide();
        return;
    }
    diskNotice_->setText(QStringLiteral("%1 другой программой. «читать» загрузит заново; «запись» спросит, прежде чем заменить.")
                             .arg(changed.size() == 1 ? QStringLiteral("Файл %1 изменён").arg(changed[0])
                                                      : QStringLiteral("Файлы %1 изменены").arg(changed.join(QStringLiteral(", ")))));
    diskNotice_->setToolTip(diskNotice_->text());
    diskNotice_->show();
}

QString EditorWindow::diskNoticeText() const
{
    return diskNotice_->isHidden() ? QString() : diskNotice_->text();
}

void EditorWindow::saved(const QStringList &files, const QDateTime &at)
{
    if (host_)
        host_->saved(files, at);
    status_->setText(QStringLiteral("Записаны файлы %1 — %2")
                         .arg(files.join(QStringLiteral(", ")), at.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))));
}

void EditorWindow::applyStep(const Edit &edit, bool undo)
{
    form_->applyEdit(edit, undo);
    refresh();
}

void EditorWindow::undo()
{
    form_->commitTyping();   // typing not yet taken over is undone first
    undoStack_.undo();
    refresh();
}

void EditorWindow::redo()
{
    form_->commitTyping();   // a step typed now ends what there is to redo
    undoStack_.redo();
    refresh();
}

void EditorWindow::closeEvent(QCloseEvent *event)
{
    form_->commitTyping();
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
    if (event->type() == QEvent::ShortcutOverride) {
        // A combo box hands the keys to its edit field itself.
        auto *combo = qobject_cast<QComboBox *>(watched);
        QLineEdit *edit = combo ? combo->lineEdit() : qobject_cast<QLineEdit *>(watched);
        auto *key = static_cast<QKeyEvent *>(event);
        const QKeySequence pressed(key->keyCombination());
        // Not taken by the edit field: the shortcut of the menu item runs.
        if (edit && ((pressed == kUndoKeys && !edit->isUndoAvailable())
                     || (pressed == kRedoKeys && !edit->isRedoAvailable()))) {
            event->ignore();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void EditorWindow::buildMenus()
{
    actions_.assign(8, nullptr);
    auto add = [this](QMenu *menu, Command command, const QString &text, const QKeySequence &keys, auto slot) {
        QAction *action = menu->addAction(text);
        action->setShortcut(keys);
        connect(action, &QAction::triggered, this, slot);
        actions_[int(command)] = action;
        return action;
    };
    QMenu *file = menuBar()->addMenu(QStringLiteral("Файл"));
    add(file, Command::OpenFolder, QStringLiteral("Открыть папку…"), QKeySequence(QStringLiteral("Ctrl+O")),
        [this] { chooseFolder(); });
    file->addSeparator();
    add(file, Command::Read, QStringLiteral("читать"), QKeySequence(QStringLiteral("Ctrl+R")), [this] {
        form_->commitTyping();
        form_->Command1_Click();
        refresh();
    });
    add(file, Command::Save, QStringLiteral("запись"), QKeySequence(QStringLiteral("Ctrl+S")), [this] {
        form_->Command2_Click();
        refresh();
    });
    file->addSeparator();
    add(file, Command::Export, QStringLiteral("Экспорт в PDF или HTML…"), QKeySequence(QStringLiteral("Ctrl+E")),
        [this] { chooseExport(); });
    add(file, Command::Compare, QStringLiteral("Сравнить с файлом образа…"), QKeySequence(), [this] { chooseCompare(); });
    file->addSeparator();
    add(file, Command::Quit, QStringLiteral("Выход"), QKeySequence(QStringLiteral("Ctrl+Q")), [this] { close(); });
    QMenu *edit = menuBar()->addMenu(QStringLiteral("Правка"));
    add(edit, Command::Undo, QStringLiteral("Отменить"), kUndoKeys, [this] { undo(); });
    add(edit, Command::Redo, QStringLiteral("Повторить"), kRedoKeys, [this] { redo(); });
    help_ = zuk::addHelpMenu(this, QStringLiteral("kalvet"), kTitle, [this](const QString &text) { message(text); });
}

QString EditorWindow::statusText() const
{
    return status_->text();
}

QAction *EditorWindow::action(Command command) const
{
    return actions_.at(std::size_t(command));
}

void EditorWindow::chooseFolder()
{
    form_->commitTyping();
    if (form_->askToSaveFirst(QStringLiteral("Изменения не записаны. Записать их перед открытием другой папки?"))
        == EditorForm::Go::Stay) {
        refresh();
        return;
    }
    const QString folder =
        QFileDialog::getExistingDirectory(this, QStringLiteral("Папка установки умного дома"), form_->folder());
    if (folder.isEmpty()) {
        refresh();
        return;
    }
    zuk::rememberProgramFolder(QStringLiteral("kalvet"), folder);
    openFolder(folder);
}

void EditorWindow::openFolder(const QString &folder)
{
    // A new form with new widgets, as at start; the old ones go with it.
    undoStack_.clear();
    std::unique_ptr<EditorForm> old = std::move(form_);
    form_ = std::make_unique<EditorForm>(folder, this);
    form_->setSampleInstallation(sample_);
    const QFont font = area_->font();
    combos_.clear();
    texts_.clear();
    labels_.clear();
    fixedLabels_.clear();
    build();   // replaces the central widget, which deletes the old one
    area_->setFont(font);
    tipCutCaptions();
    old.reset();
    setTitle();
    status_->clear();
    watchFolder();
    start();
}

bool EditorWindow::exportTo(const QString &path)
{
    form_->commitTyping();
    DisplayCopy copy(*form_);
    QString error;
    if (!writeInstallationFile(copy.installation(), path, &error)) {
        message(QStringLiteral("Экспорт не выполнен: %1.").arg(error));
        refresh();
        return false;
    }
    status_->setText(QStringLiteral("Экспорт записан: %1").arg(QDir::toNativeSeparators(path)));
    refresh();
    return true;
}

void EditorWindow::chooseExport()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Экспорт установки"),
        QDir(form_->folder()).filePath(QStringLiteral("установка.pdf")),
        QStringLiteral("PDF (*.pdf);;HTML (*.html)"));
    if (!path.isEmpty())
        exportTo(path);
}

QStringList EditorWindow::compareWith(const QString &file)
{
    form_->commitTyping();
    zuk::RegisterImage other{};
    const zuk::ImageLoadResult loaded = zuk::loadImageFile(file, other);
    if (!loaded.ok) {
        message(QStringLiteral("Файл %1 загружен не полностью: %2").arg(QDir::toNativeSeparators(file), loaded.failure));
        return {};
    }
    zuk::RegisterImage shown{};
    std::copy_n(form_->reg_image.begin(), zuk::kSlotCount, shown.begin());
    DisplayCopy copy(*form_);
    differencePlaces_.clear();
    const QStringList lines = differenceLines(copy, shown, other, &differencePlaces_);

    // One list window, reused for the next comparison.
    if (!differenceList_) {
        auto *dialog = new QDialog(this);
        dialog->resize(760, 420);
        auto *layout = new QVBoxLayout(dialog);
        layout->addWidget(new QLabel(dialog));
        differenceList_ = new QListWidget(dialog);
        // A long line wraps instead of running out of the window.
        differenceList_->setWordWrap(true);
        differenceList_->setTextElideMode(Qt::ElideNone);
        differenceList_->setResizeMode(QListView::Adjust);
        differenceList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        differenceList_->setToolTip(QStringLiteral("Двойной щелчок показывает этот контроллер и запись"));
        connect(differenceList_, &QListWidget::itemDoubleClicked, this,
                [this](QListWidgetItem *item) { showDifference(differenceList_->row(item)); });
        layout->addWidget(differenceList_);
        auto *close = new QPushButton(QStringLiteral("Закрыть"), dialog);
        connect(close, &QPushButton::clicked, dialog, &QDialog::hide);
        layout->addWidget(close, 0, Qt::AlignRight);
    }
    auto *dialog = static_cast<QDialog *>(differenceList_->parentWidget());
    dialog->setWindowTitle(QStringLiteral("Различия с файлом %1").arg(QFileInfo(file).fileName()));
    dialog->findChild<QLabel *>()->setText(QStringLiteral("A — образ в редакторе, B — файл %1").arg(QDir::toNativeSeparators(file)));
    differenceList_->clear();
    differenceList_->addItems(lines);
    dialog->show();
    dialog->raise();
    refresh();
    return lines;
}

void EditorWindow::showDifference(int line)
{
    if (line < 0 || line >= int(differencePlaces_.size()))
        return;   // the total
    const DifferencePlace &at = differencePlaces_[std::size_t(line)];
    if (at.slot >= form_->Combo3.listCount())
        return;   // a controller the window cannot show
    form_->commitTyping();
    if (form_->Combo3.listIndex() != at.slot)
        form_->Combo3.choose(at.slot);
    if (at.record >= 0 && form_->Combo15.listIndex() != at.record)
        form_->Combo15.choose(at.record);
    refresh();
    raise();
    activateWindow();
}

void EditorWindow::chooseCompare()
{
    const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("Файл образа для сравнения"), form_->folder(),
                                                      QStringLiteral("Файлы образа (*.txt);;Все файлы (*)"));
    if (!file.isEmpty())
        compareWith(file);
}

QComboBox *EditorWindow::addCombo(ComboBox &control, int left, int top, int width)
{
    auto *combo = new QComboBox(area_);
    combo->setFocusPolicy(Qt::StrongFocus);   // the wheel does not take the focus
    combo->installEventFilter(this);
    combo->setEditable(true);
    combo->lineEdit()->installEventFilter(this);
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
    connect(combo->lineEdit(), &QLineEdit::textEdited, this, [this, model, combo](const QString &text) {
        model->typeText(text);
        markShown(combos_, model);
        fitTip(combo, text, textRoom(combo));
        refresh();
    });
    combos_.push_back({model, combo});
    return combo;
}

QLineEdit *EditorWindow::addText(TextBox &control, int left, int top, int width)
{
    auto *edit = new QLineEdit(area_);
    edit->setGeometry(px(left), px(top), px(width), px(kTextHeight));
    edit->installEventFilter(this);
    TextBox *model = &control;
    connect(edit, &QLineEdit::textEdited, this, [this, model, edit](const QString &text) {
        model->setText(text);
        markShown(texts_, model);
        fitTip(edit, text, textRoom(edit));
        updateState();
    });
    // Enter, or leaving the box after a change: the edit of the name is one step.
    // (Not while the window is going: closing moves the focus out of the
    // box after the form is gone.)
    connect(edit, &QLineEdit::editingFinished, this, [this] {
        if (form_ && form_->commitTyping())
            refresh();
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
    auto *label = new QLabel(caption, area_);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(px(left), px(top), px(width), px(height));
    fixedLabels_.push_back(label);
    return label;
}

void EditorWindow::tipCutCaptions()
{
    // A fixed caption that its place cannot hold shows itself whole as a tooltip.
    const QFontMetrics metrics(area_->font());
    for (QLabel *label : fixedLabels_)
        label->setToolTip(metrics.horizontalAdvance(label->text().trimmed()) > label->width() ? label->text().trimmed()
                                                                                             : QString());
}

void EditorWindow::build()
{
    area_ = new QWidget;
    area_->setFixedSize(px(12285), px(10485));
    setCentralWidget(area_);
    buildRecordArea();
    buildNamesArea();
    buildScenarioArea();
    buildButtons();
}

void EditorWindow::buildRecordArea()
{
    EditorForm &f = *form_;
    const QFont bold = describedFont(QStringLiteral("MS Sans Serif"), true, false);

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
}

void EditorWindow::buildNamesArea()
{
    EditorForm &f = *form_;
    // Inputs with their delays, outputs, IR packets.
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

    auto *line = new QFrame(area_);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Plain);
    line->setGeometry(px(8040), px(4680), 1, px(10440) - px(4680));
}

void EditorWindow::buildScenarioArea()
{
    EditorForm &f = *form_;
    const QFont italic = describedFont(QStringLiteral("Palatino Linotype"), false, true);
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
}

void EditorWindow::buildButtons()
{
    command1_ = new QPushButton(QStringLiteral("читать"), area_);
    command1_->setGeometry(px(360), px(9840), px(1215), px(375));
    connect(command1_, &QPushButton::clicked, this, [this] {
        form_->commitTyping();
        form_->Command1_Click();
        refresh();
    });
    command2_ = new QPushButton(QStringLiteral("запись"), area_);
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
        // The open list as wide as its longest entry; the box keeps its place and size.
        const QFontMetrics metrics(w->view()->font());
        int widest = 0;
        for (const QString &item : c.items())
            widest = std::max(widest, metrics.horizontalAdvance(item));
        w->view()->setMinimumWidth(widest + 2 * w->view()->frameWidth()
                                   + w->view()->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 16);
    }
    if (w->currentIndex() != c.listIndex())
        w->setCurrentIndex(c.listIndex());
    if (w->currentText() != c.text())
        w->setEditText(c.text());
    w->lineEdit()->setCursorPosition(0);   // the start of a long entry, as in the text boxes
    w->setEnabled(c.enabled());
    fitTip(w, c.text(), textRoom(w));
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
        fitTip(view.widget, view.control->text(), textRoom(view.widget));
        view.revision = view.control->revision();
    }
    for (LabelView &view : labels_) {
        if (view.revision == view.control->revision())
            continue;
        view.widget->setText(view.control->caption());
        view.revision = view.control->revision();
    }
    updateState();
}

void EditorWindow::updateState()
{
    setWindowModified(form_->hasUnsavedChanges());
    QAction *undo = action(Command::Undo);
    QAction *redo = action(Command::Redo);
    const bool typing = form_->typingPending();
    undo->setEnabled(undoStack_.canUndo() || typing);
    redo->setEnabled(undoStack_.canRedo() && !typing);
    undo->setText(typing ? QStringLiteral("Отменить ввод")
                  : undoStack_.canUndo() ? QStringLiteral("Отменить %1").arg(undoStack_.undoText())
                                         : QStringLiteral("Отменить"));
    redo->setText(undoStack_.canRedo() && !typing ? QStringLiteral("Повторить %1").arg(undoStack_.redoText())
                                                  : QStringLiteral("Повторить"));
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
