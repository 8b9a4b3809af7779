#pragma once
// The editor's window: real widgets placed as the window description says,
// mirroring the control objects of EditorForm. Every user action is handed to
// the form (a choice in a list to ComboBox::choose, typing to typeText or
// TextBox::setText, a button to its Click procedure) and then every widget
// whose control changed is brought up to date from its control.
// QComboBox's own signals (currentIndexChanged on addItem or clear) never
// reach the logic; only activated() does.

#include "editor/form.h"

#include <QWidget>
#include <memory>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kalvet {

class EditorWindow : public QWidget, public EditorHost {
    Q_OBJECT
public:
    // folder: the installation. host: where message boxes and questions go;
    // nullptr for modal QMessageBoxes of this window.
    explicit EditorWindow(const QString &folder, EditorHost *host = nullptr, QWidget *parent = nullptr);
    ~EditorWindow() override;

    // Runs the form's start-up and shows its result in the widgets.
    void start();

    // EditorHost: modal boxes over this window.
    void message(const QString &text) override;
    bool confirm(const QString &text) override;
    Answer askYesNoCancel(const QString &text) override;

    // ---- For tests: the widgets that stand for the form's controls --------
    EditorForm &form() { return *form_; }
    // The widget of a control of form(), or nullptr for a control it does not own.
    QComboBox *comboWidget(const ComboBox *control) const;
    QLineEdit *textWidget(const TextBox *control) const;
    QLabel *labelWidget(const Label *control) const;
    // Command1 ("читать") for 1, Command2 ("запись") for 2.
    QPushButton *button(int number) const;
    // Brings every widget up to date with its control (done after each user
    // action already).
    void refresh();

protected:
    // Closing asks first when there are unsaved changes (EditorForm::QueryUnload).
    void closeEvent(QCloseEvent *event) override;
    // A wheel turn over a combo box changes it only when the box has the
    // keyboard focus (taken by a click or by tab).
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

    void build();
    QComboBox *addCombo(ComboBox &control, int left, int top, int width);
    QLineEdit *addText(TextBox &control, int left, int top, int width);
    QLabel *addLabel(Label &control, int left, int top, int width, int height = 255);
    QLabel *addFixedLabel(const QString &caption, int left, int top, int width, int height = 255);
    void syncCombo(ComboView &view);

    EditorHost *host_;
    std::unique_ptr<EditorForm> form_;
    std::vector<ComboView> combos_;
    std::vector<TextView> texts_;
    std::vector<LabelView> labels_;
    QPushButton *command1_ = nullptr;
    QPushButton *command2_ = nullptr;
};

}  // namespace kalvet
