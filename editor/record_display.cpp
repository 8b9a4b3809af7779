// Record selection, item display and the editing handlers.
// (Being written; the bodies below only let the editor link meanwhile.)
#include "editor/form.h"

namespace kalvet {

void EditorForm::ShowRecord() {}
void EditorForm::ShowRecordItems() {}
QString EditorForm::ShowItem(ComboBox &, const QString &, int, int, int) { return QString(); }
void EditorForm::Combo15_Click() {}
void EditorForm::Combo2_Click() {}
void EditorForm::Combo1_Click(int) {}
void EditorForm::Combo5_Click() {}
void EditorForm::Combo6_Click() {}
void EditorForm::LoadInputTypes() {}

}  // namespace kalvet
