#pragma once
// The editor's controls as plain objects owned by the form. The window mirrors
// them into widgets; the logic and the tests work on these objects alone.
//
// A combo box runs its Click handler the moment its list index changes from
// the program, before the setter returns, and whenever the user chooses an
// entry (even the one already selected). Typing in its edit field leaves no
// entry selected (list index -1) and runs no handler.

#include <QString>
#include <QStringList>
#include <functional>

namespace kalvet {

class Control {
public:
    // Goes up on every change, so that a view can tell what to refresh.
    quint64 revision() const { return revision_; }

protected:
    void touch() { ++revision_; }

private:
    quint64 revision_ = 0;
};

class ComboBox : public Control {
public:
    std::function<void()> onClick;
    // Runs around a user's choice (choose), with the Click handler as its
    // argument, so that the owner can tell what the user's action changed.
    std::function<void(const std::function<void()> &click)> onChoose;

    // Empties the list and the edit field; no handler runs.
    void clear();
    void addItem(const QString &text);
    // Replaces the list by items, as clear() and addItem() for each would.
    void setItems(const QStringList &items);
    int listCount() const { return static_cast<int>(items_.size()); }
    QString item(int index) const { return items_.value(index); }
    const QStringList &items() const { return items_; }
    quint64 listRevision() const { return listRevision_; }

    int listIndex() const { return index_; }
    // Selects entry index (-1 for none) from the program. The edit field shows
    // the entry's text (empty for -1). Runs the Click handler when the index
    // changes. An index outside -1..listCount()-1 changes nothing and gives false.
    bool setListIndex(int index);
    // A user's choice of an entry: selects it and always runs the handler.
    void choose(int index);
    // A user's typing in the edit field: no entry selected, no handler.
    void typeText(const QString &text);
    // Text of the edit field, set by the program without touching the selection
    // (used to show a raw value that has no entry).
    QString text() const { return text_; }
    void setText(const QString &text);
    // Shows a value that has no entry: no entry selected, the edit field
    // holds text, and no handler runs, whatever was selected before.
    void showUnlisted(const QString &text);

    bool enabled() const { return enabled_; }
    void setEnabled(bool on);

private:
    QStringList items_;
    int index_ = -1;
    QString text_;
    bool enabled_ = true;
    quint64 listRevision_ = 0;
};

class Label : public Control {
public:
    QString caption() const { return caption_; }
    void setCaption(const QString &caption);

private:
    QString caption_;
};

class TextBox : public Control {
public:
    QString text() const { return text_; }
    void setText(const QString &text);

private:
    QString text_;
};

}  // namespace kalvet
