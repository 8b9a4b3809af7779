// The user's actions as steps to undo and redo.
//
// A user's choice in a combo box (ComboBox::choose) runs its Click handler
// inside userChoice: every byte that the handler, and every handler that it
// raises through the display, stores goes through storeByte, which keeps the
// value before the action and the last one after it. Typing reaches the name
// tables only through commitTyping, which keeps each line's text before and
// after. A step that changed nothing is no step. The host keeps the steps
// (the window in a QUndoStack) and hands them back to applyEdit.
#include "editor/core/form.h"

#include "common/text_file.h"

#include <algorithm>

namespace kalvet {

void EditorForm::userChoice(const ComboBox &combo, const std::function<void()> &click)
{
    if (action_ || displayOnly_) {
        click();   // part of the action already running
        return;
    }
    commitTyping();   // typed names are a step of their own, before this one
    action_ = std::make_unique<Edit>();
    action_->controllerBefore = shownCtrl_;
    action_->recordBefore = shownRec_;
    action_->displayBefore = displayChanges_;
    click();
    action_->what = QStringLiteral("выбор «%1»").arg(zuk::visibleText(combo.text(), 30));
    endAction();
}

void EditorForm::endAction()
{
    const std::unique_ptr<Edit> edit = std::move(action_);
    std::erase_if(edit->bytes, [](const Edit::Byte &b) { return b.before == b.after; });
    std::erase_if(edit->names, [](const Edit::Name &n) { return n.before == n.after; });
    if (edit->empty())
        return;
    edit->controllerAfter = shownCtrl_;
    edit->recordAfter = shownRec_;
    edit->displayAfter = displayChanges_;
    if (host_)
        host_->editMade(*edit);
}

void EditorForm::applyEdit(const Edit &edit, bool undo)
{
    for (const Edit::Byte &b : edit.bytes) {
        const BytePlace &at = b.at;
        if (at.slot >= 0 && at.slot < int(reg_image.size()) && at.row >= 0 && at.row < zuk::kMaxRows && at.byte >= 0
            && at.byte < zuk::kRowBytes)
            reg_image[at.slot][at.row][at.byte] = undo ? b.before : b.after;
    }
    applyNames(edit, undo);
    displayChanges_ = undo ? edit.displayBefore : edit.displayAfter;
    showPlace(undo ? edit.controllerBefore : edit.controllerAfter, undo ? edit.recordBefore : edit.recordAfter);
}

void EditorForm::showPlace(int c, int rec)
{
    // The boxes are refilled from the tables the step has just changed;
    // what they show now is no typing to take over.
    boxesCtrl_ = -1;
    if (c >= 0 && c < Combo3.listCount() && Combo3.listIndex() != c)
        Combo3.setListIndex(c);   // runs ShowController
    else
        ShowController();
    if (rec >= 0 && rec < Combo15.listCount() && Combo15.listIndex() != rec)
        Combo15.setListIndex(rec);   // runs ShowRecord
}

}  // namespace kalvet
