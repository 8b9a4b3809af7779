// Start-up, the load and save operations and the controller display.
// (Being written; the bodies below only let the editor link meanwhile.)
#include "editor/form.h"

namespace kalvet {

void EditorForm::Startup() {}
void EditorForm::Command1_Click() {}
void EditorForm::Command2_Click() {}
void EditorForm::ShowController() {}
void EditorForm::Combo3_Click() {}
void EditorForm::Combo14_Click(int) {}

}  // namespace kalvet
