#include "editor/core/form.h"

#include "common/address_map.h"

#include <QDir>

namespace kalvet {

EditorForm::EditorForm(const QString &folder, EditorHost *host) : folder_(folder), dir_(folder), host_(host)
{
    Combo3.onClick = [this] { Combo3_Click(); };
    Combo15.onClick = [this] { Combo15_Click(); };
    Combo2.onClick = [this] { Combo2_Click(); };
    Combo5.onClick = [this] { Combo5_Click(); };
    Combo6.onClick = [this] { Combo6_Click(); };
    for (int i = 0; i < 12; ++i) {
        Combo1[i].onClick = [this, i] { Combo1_Click(i); };
        Combo14[i].onClick = [this, i] { Combo14_Click(i); };
    }
    // Every user's choice is one action, whatever its handler changes.
    std::vector<ComboBox *> all{&Combo3, &Combo15, &Combo2, &Combo5, &Combo6};
    for (int i = 0; i < 12; ++i)
        all.insert(all.end(), {&Combo1[i], &Combo14[i]});
    for (ComboBox *combo : all)
        combo->onChoose = [this, combo](const std::function<void()> &click) { userChoice(*combo, click); };
    // Fixed row numbers of the names area: outputs, inputs (bottom to top), IR packets.
    for (int r = 0; r < 14; ++r) {
        const QString digit = zuk::hexText(r);
        Label20[r].setCaption(digit);
        Label20[27 - r].setCaption(digit);
        Label20[28 + r].setCaption(digit);
    }
    for (Label &code : Label14)
        code.setCaption(QStringLiteral("F0"));
}

QString EditorForm::filePath(const QString &name) const
{
    return dir_.filePath(name);
}

}  // namespace kalvet
