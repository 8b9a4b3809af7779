#pragma once
// The editor's window: a menu bar, the area of the window description with
// real widgets placed as it says, mirroring the control objects of
// EditorForm, and a status bar. Every user action is handed to the form (a
// choice in a list to ComboBox::choose, typing to typeText or
// TextBox::setText, a finished edit of a name to commitTyping, a button or
// menu item to its procedure) and then every widget whose control changed is
// brought up to date from its control.
// QComboBox's own signals (currentIndexChanged on addItem or clear) never
// reach the logic; only activated() does.
//
// Undo: the form tells every step (EditorHost::editMade); the window keeps
// them in a QUndoStack (Qt GUI) and hands them back to EditorForm::applyEdit.
// The form's logic stays in Qt Core and is tested without a display.

#include "common/window/help_menu.h"
#include "editor/core/form.h"
#include "editor/core/installation_view.h"

#include <QMainWindow>
#include <QUndoStack>
#include <memory>
#include <vector>

class QAction;
class QComboBox;
class QFileSystemWatcher;
class QTimer;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace kalvet {

class EditorWindow : public QMainWindow, public EditorHost {
    Q_OBJECT
public:
    // folder: the installation. host: where message boxes and questions go;
    // nullptr for modal QMessageBoxes of this window.
    explicit EditorWindow(const QString &folder, EditorHost *host = nullptr, QWidget *parent = nullptr);
    ~EditorWindow() override;

    // The sample installation whose reference files start-up offers when
    // the folder lacks some (EditorForm::setSampleInstallation).
    void setSampleInstallation(const QString &folder);
    // Runs the form's start-up and shows its result in the widgets.
    void start();

    // EditorHost: modal boxes over this window (or the host given), the
    // steps of undo, the status after a save.
    void message(const QString &text) override;
    bool confirm(const QString &text) override;
    Answer askYesNoCancel(const QString &text) override;
    void editMade(const Edit &edit) override;
    void editsForgotten() override;
    void saved(const QStringList &files, const QDateTime &at) override;
    Overwrite askOverwrite(const QString &text) override;
    // The data files are watched while the window is open: one changed by
    // another program is named in the status bar at once (diskNoticeText),
    // until a load reads it.
    QString diskNoticeText() const;
    void checkDisk();

    // ---- The menu's commands -------------------------------------------
    enum class Command { OpenFolder, Read, Save, Export, Compare, Quit, Undo, Redo };
    QAction *action(Command command) const;
    // Works on another installation from now on (as at start).
    void openFolder(const QString &folder);
    // Writes the installation as the window shows it (.pdf or .html); says
    // so in the status bar, or why not in a message. True when written.
    bool exportTo(const QString &path);
    // The differences between the image in the window (A) and the image
    // file (B), shown in a list; the lines (empty when the file did not load).
    QStringList compareWith(const QString &file);
    // Shows the controller and record of a line of that list (a double click).
    void showDifference(int line);
    QListWidget *differenceList() const { return differenceList_; }
    // Справка: the manual, the About box.
    const zuk::HelpMenu &helpMenu() const { return help_; }
    // The text of the status bar: what the last save or export wrote.
    QString statusText() const;
    QUndoStack &undoStack() { return undoStack_; }

    // ---- For tests: the widgets that stand for the form's controls --------
    EditorForm &form() { return *form_; }
    // The area of the window description, below the menu bar.
    QWidget *area() const { return area_; }
    // The widget of a control of form(), or nullptr for a control it does not own.
    QComboBox *comboWidget(const ComboBox *control) const;
    QLineEdit *textWidget(const TextBox *control) const;
    QLabel *labelWidget(const Label *control) const;
    // Command1 ("читать") for 1, Command2 ("запись") for 2.
    QPushButton *button(int number) const;
    // Brings every widget up to date with its control (done after each user
    // action already), the title's mark of unsaved changes and the menu.
    void refresh();

protected:
    // Closing asks first when there are unsaved changes (EditorForm::QueryUnload).
    void closeEvent(QCloseEvent *event) override;
    // A wheel turn over a combo box changes it only when the box has the
    // keyboard focus (taken by a click or by tab). Ctrl+Z and Ctrl+Shift+Z
    // in an edit field that has nothing of its own to undo or redo go to the
    // editor's undo and redo.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct ComboView {
        ComboBox *control;
        QComboBox *widget;
        quint64 revision = ~0ull;
        quint64 listRevision = ~0ull;
    };
    struct TextView {
        TextBox *control;
        QLineEdit *widget;
        quint64 revision = ~0ull;
    };
    struct LabelView {
        Label *control;
        QLabel *widget;
        quint64 revision = ~0ull;
    };

    void buildMenus();
    // The area of the window description, in its parts.
    void build();
    void buildRecordArea();
    void buildNamesArea();
    void buildScenarioArea();
    void buildButtons();
    QComboBox *addCombo(ComboBox &control, int left, int top, int width);
    QLineEdit *addText(TextBox &control, int left, int top, int width);
    QLabel *addLabel(Label &control, int left, int top, int width, int height = 255);
    QLabel *addFixedLabel(const QString &caption, int left, int top, int width, int height = 255);
    void tipCutCaptions();
    void syncCombo(ComboView &view);
    void updateState();
    void setTitle();
    // Undo and redo from the menu: typing not taken over is a step first.
    void undo();
    void redo();
    void chooseFolder();
    void chooseExport();
    void chooseCompare();
    friend class EditCommand;
    void applyStep(const Edit &edit, bool undo);

    EditorHost *host_;   // null: this window's own message boxes
    QString sample_;
    std::unique_ptr<EditorForm> form_;
    QWidget *area_ = nullptr;
    std::vector<ComboView> combos_;
    std::vector<TextView> texts_;
    std::vector<LabelView> labels_;
    std::vector<QLabel *> fixedLabels_;
    QPushButton *command1_ = nullptr;
    QPushButton *command2_ = nullptr;
    QUndoStack undoStack_;
    std::vector<QAction *> actions_;
    QListWidget *differenceList_ = nullptr;
    std::vector<DifferencePlace> differencePlaces_;
    QLabel *status_ = nullptr;
    QLabel *diskNotice_ = nullptr;
    QFileSystemWatcher *watcher_ = nullptr;
    QTimer *diskTimer_ = nullptr;   // one look for the signals of one save
    void watchFolder();
    zuk::HelpMenu help_;
};

}  // namespace kalvet
