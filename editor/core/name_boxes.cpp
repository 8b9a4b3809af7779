// The boxes Text1..Text5: filled from the name tables, taken into them as
// typed (each finished edit one step), and put back by undo and redo.
#include "editor/core/form.h"
#include "editor/core/installation_files.h"
#include "editor/core/name_fields.h"

#include <utility>

namespace kalvet {

using namespace files;
using namespace name_fields;

void EditorForm::fillNameBoxes(int c)
{
    boxesCtrl_ = c;
    for (const auto &field : nameFields(*this, std::as_const(names), c))
        for (std::size_t l = 0; l < field.boxes.size(); ++l)
            field.boxes[l].setText(field.lines[l]);
}

void EditorForm::storeNameBoxes(NameTables &tables, int c) const
{
    for (const auto &field : nameFields(*this, tables, c))
        for (std::size_t l = 0; l < field.boxes.size(); ++l)
            field.lines[l] = field.boxes[l].text();
}

bool EditorForm::commitTyping()
{
    if (boxesCtrl_ < 0 || displayOnly_)
        return false;
    std::vector<Edit::Name> typed;
    const auto fields = nameFields(*this, names, boxesCtrl_);
    for (std::size_t f = 0; f < fields.size(); ++f)
        for (std::size_t l = 0; l < fields[f].boxes.size(); ++l)
            if (QString &line = fields[f].lines[l]; line != fields[f].boxes[l].text()) {
                typed.push_back({boxesCtrl_, int(f), int(l), line, fields[f].boxes[l].text()});
                line = fields[f].boxes[l].text();
            }
    if (typed.empty())
        return false;
    if (action_) {
        action_->names.insert(action_->names.end(), typed.begin(), typed.end());
        return true;
    }
    Edit edit;
    edit.what = QStringLiteral("ввод «%1»").arg(fields[typed.front().field].caption(typed.front().line));
    edit.controllerBefore = edit.controllerAfter = shownCtrl_;
    edit.recordBefore = edit.recordAfter = shownRec_;
    edit.names = std::move(typed);
    edit.displayBefore = edit.displayAfter = displayChanges_;
    if (host_)
        host_->editMade(edit);
    return true;
}

bool EditorForm::typingPending() const
{
    if (boxesCtrl_ < 0)
        return false;
    return anyNameLine(nameFields(*this, names, boxesCtrl_), boxCount,
                       [](const auto &field, int l) { return field.boxes[l].text() != field.lines[l]; });
}

void EditorForm::applyNames(const Edit &edit, bool undo)
{
    for (const Edit::Name &n : edit.names) {
        if (n.controller < 0 || n.controller >= kControllers || n.field < 0 || n.field >= 5)
            continue;
        const auto fields = nameFields(*this, names, n.controller);
        if (n.line >= 0 && std::size_t(n.line) < fields[n.field].lines.size())
            fields[n.field].lines[n.line] = undo ? n.before : n.after;
    }
}

}  // namespace kalvet
