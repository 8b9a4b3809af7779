// The editing handlers of the record area: a choice in Combo2, an item combo
// or an extra combo writes its value into reg_image through storeByte, which
// tells the user's bytes from those the display changed on its own.
#include "editor/core/form.h"
#include "editor/core/record_values.h"

#include "common/address_map.h"

#include <algorithm>
#include <optional>

namespace kalvet {

using namespace record_values;

// ---- Bytes the display changed ---------------------------------------------

void EditorForm::selectFromDisplay(ComboBox &combo, int index)
{
    const Displaying display(displaying_);
    combo.setListIndex(index);
}

void EditorForm::storeByte(const ImageByte &at, qint16 value)
{
    if (displayOnly_)
        return;
    if (action_ && *at != value) {
        // The user's action in progress: the first value before it, the last after.
        const BytePlace place{at.slot, at.row, at.byte};
        auto step = std::find_if(action_->bytes.begin(), action_->bytes.end(),
                                 [&](const Edit::Byte &b) { return b.at == place; });
        if (step == action_->bytes.end())
            action_->bytes.push_back({place, *at, value});
        else
            step->after = value;
    }
    auto known = std::find_if(displayChanges_.begin(), displayChanges_.end(), [&](const DisplayChange &d) {
        return d.slot == at.slot && d.row == at.row && d.byte == at.byte;
    });
    if (displaying_ == 0) {
        // The user's own choice, even of the value shown: nothing to ask about.
        if (known != displayChanges_.end())
            displayChanges_.erase(known);
    } else if (at.slot < zuk::kSlotCount && *at != value) {
        if (known == displayChanges_.end()) {
            const int rec = recordInUse();
            displayChanges_.push_back({at.slot, at.row, at.byte, *at, value, rec >= 0 ? Combo15.item(rec) : QString()});
        } else if (known->before == value) {
            displayChanges_.erase(known);
        } else {
            known->after = value;
        }
    }
    *at.value = value;
}

// ---- Click handlers --------------------------------------------------------

void EditorForm::Combo15_Click()
{
    ShowRecord();
}

void EditorForm::Combo2_Click()
{
    const int rec = recordInUse();
    const int chosen = Combo2.listIndex();
    const ImageByte cell = selectorCell(rec);
    if (cell && chosen >= 0) {
        const QString kind = desc_table[rec][RecordLine::kKind];
        if (kind == kIn) {
            if (const std::optional<qint16> code = typeCode(in_table, chosen)) {
                storeByte(cell, *code);
            } else if (!displaying_) {
                // Nothing stored: the user is told, and the type the cell
                // holds is shown again.
                reportTypeWithoutCode(chosen, Combo2.item(chosen));
                const int stored = inputTypeOf(in_table, *cell);
                if (stored != chosen && stored < Combo2.listCount()) {
                    selectFromDisplay(Combo2, stored);   // shows the items of that type
                    return;
                }
            }
        } else if (kind == kFf) {
            storeByte(cell, static_cast<qint16>(chosen));
        }
    }
    ShowRecordItems();
}

void EditorForm::Combo1_Click(int index)
{
    if (index < 0 || index >= kItems)
        return;
    const int rec = recordInUse();
    if (rec < 0 || rec >= kLineTableRows)
        return;
    const TextLines *lines = &desc_table[rec];
    const ItemLines *at = &RecordLine::kItems;
    if (desc_table[rec][RecordLine::kKind] == kIn) {
        const int t = typeInUse();
        if (t < 0 || t >= kLineTableRows)
            return;
        lines = &in_table[t];
        at = &TypeLine::kItems;
    }
    const QString kind = (*lines)[at->kindLine(index)];
    const std::optional<int> offset = wholeNumber((*lines)[at->offsetLine(index)]);
    const int chosen = Combo1[index].listIndex();
    const ImageByte byte = offset ? recordByte(rec, *offset) : ImageByte{};
    if (!byte || chosen < 0)
        return;
    if (kind == kIn) {
        // An input type is stored as its type code; a type without a usable
        // code leaves the byte as it was, and a user who chose it is told.
        if (const std::optional<qint16> code = typeCode(in_table, chosen)) {
            storeByte(byte, *code);
        } else if (!displaying_) {
            reportTypeWithoutCode(chosen, Combo1[index].item(chosen));
            const int stored = inputTypeOf(in_table, *byte);
            const Displaying display(displaying_);
            if (stored < Combo1[index].listCount())
                selectFromDisplay(Combo1[index], stored);
            else
                Combo1[index].showUnlisted(QString::number(*byte));
        }
        return;
    }
    storeByte(byte, static_cast<qint16>(chosen));
}

void EditorForm::Combo5_Click()
{
    const int chosen = Combo5.listIndex();
    if (const ImageByte byte = recordByte(recordInUse(), 2); byte && chosen >= 0)
        storeByte(byte, static_cast<qint16>(chosen));
}

void EditorForm::Combo6_Click()
{
    const int chosen = Combo6.listIndex();
    if (const ImageByte byte = recordByte(recordInUse(), 3); byte && chosen >= 0)
        storeByte(byte, static_cast<qint16>(chosen));
}

}  // namespace kalvet
