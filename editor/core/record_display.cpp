// Record selection and item display (the editing handlers: record_editing.cpp).
//
// A description record names a group of bytes of the selected controller's
// register image and says how to show them. ShowRecord fills Combo2 with the
// record's main value; ShowRecordItems sets the captions and fills the twelve
// item combos and the two extra combos, each from its side file. Setting a
// selection from here runs the combo's Click handler at once, nested, and the
// handler writes the selection back into reg_image.
//
// The files and the image may hold anything. Every number taken from a record
// line, an input type or the image is checked before it addresses anything:
// an item (or Combo2) whose line is not a number, whose base row, offset or
// selector cell lies outside the image, stays empty and disabled and writes
// nothing, and the rest of the record is still shown. A byte that has no entry
// in its list is shown as its number with no entry selected; no handler runs
// and the byte stays as it is. A missing or short side file fills its list as
// far as it goes and is reported once (side_files.h).
#include "editor/core/form.h"
#include "editor/core/record_values.h"

#include <algorithm>
#include <optional>

namespace kalvet {

using namespace record_values;

// ---- Helpers ---------------------------------------------------------------

int EditorForm::recordInUse() const
{
    const int rec = Combo15.listIndex();
    if (rec >= 0 && rec < kLineTableRows)
        return rec;
    // Only a record that is still in the list counts as shown.
    return shownRec_ >= 0 && shownRec_ < Combo15.listCount() ? shownRec_ : -1;
}

int EditorForm::typeInUse() const
{
    const int t = Combo2.listIndex();
    return t >= 0 && t < kLineTableRows ? t : shownType_;
}

void EditorForm::reportTypeWithoutCode(int t, const QString &typeName)
{
    if (host_)
        host_->message(QStringLiteral("Тип входа «%1» не выбран: в файле in_0.ini его код «%2» — не число. "
                                      "Значение в регистре осталось прежним.")
                           .arg(typeName, t >= 0 && t < kLineTableRows ? in_table[t][TypeLine::kCode] : QString()));
}

QStringList EditorForm::readInputTypes()
{
    QStringList items;
    const QStringList names = sideFiles_.entries(QStringLiteral("in_0.ini"), kFileTypes, kTypeItems, 0, &items);
    static const QString none;
    for (int t = 0; t < kFileTypes; ++t) {
        // Types and lines the file does not reach are left empty, so that
        // nothing of an earlier file is taken for this one.
        const int first = t * kTypeItems;
        for (int line = 0; line < TypeLine::kCount; ++line) {
            const qsizetype at = first + 1 + line;
            const QString &text = at < items.size() ? items.at(at) : none;
            if (!in_table[t][line].isSharedWith(text))   // the same text of the same file stays as it is
                in_table[t][line] = text;
        }
    }
    return names;
}

ImageByte EditorForm::selectorCell(int rec)
{
    if (rec < 0 || rec >= kLineTableRows)
        return {};
    const std::optional<int> row = wholeNumber(desc_table[rec][RecordLine::kSelectorRow]);
    const std::optional<int> byte = wholeNumber(desc_table[rec][RecordLine::kSelectorByte]);
    if (!row || !byte || *byte < 0 || *byte > 7)
        return {};
    return byteAt(reg_image, controllerInUse(), *row, *byte);
}

ImageByte EditorForm::recordByte(int rec, int offset)
{
    if (rec < 0 || rec >= kLineTableRows)
        return {};
    const std::optional<int> base = wholeNumber(desc_table[rec][RecordLine::kBaseRow]);
    if (!base)
        return {};
    return byteAt(reg_image, controllerInUse(), *base, offset);
}

void EditorForm::LoadInputTypes()
{
    readInputTypes();
}

// ---- Record selection ------------------------------------------------------

void EditorForm::ShowRecord()
{
    const Displaying display(displaying_);
    Combo2.clear();
    Combo2.setEnabled(false);
    shownBytes_.remove(&Combo2);
    // A new display shows the record selected now, or none.
    const int selected = Combo15.listIndex();
    shownRec_ = selected >= 0 && selected < kLineTableRows ? selected : -1;
    const int rec = shownRec_;
    if (rec >= 0 && rec < kLineTableRows) {
        const QString kind = desc_table[rec][RecordLine::kKind];
        if (kind == kIn) {
            // The type table is loaded in any case; the list only when the
            // selector cell holding the type code exists.
            const QStringList names = readInputTypes();
            if (const ImageByte cell = selectorCell(rec)) {
                shownBytes_.insert(&Combo2, {cell.slot, cell.row, cell.byte});
                Combo2.setItems(names);
                Combo2.setEnabled(true);
                const int value = *cell;
                const int t = inputTypeOf(in_table, value);
                if (t < Combo2.listCount())
                    selectFromDisplay(Combo2, t);
                else
                    Combo2.showUnlisted(QString::number(value));
            }
        } else if (kind == kFf) {
            if (const ImageByte cell = selectorCell(rec)) {
                shownBytes_.insert(&Combo2, {cell.slot, cell.row, cell.byte});
                Combo2.setItems(sideFiles_.items(QStringLiteral("ff.ini"), 256));
                Combo2.setEnabled(true);
                const int value = *cell;
                if (value >= 0 && value < Combo2.listCount())
                    selectFromDisplay(Combo2, value);
                else
                    Combo2.showUnlisted(QString::number(value));
            }
        }
    }
    ShowRecordItems();
}

// ---- Record items ----------------------------------------------------------

void EditorForm::showItemList(TextLines *lines, const ItemLines &at, int rec)
{
    for (int i = 0; i < kItems; ++i) {
        ComboBox &combo = Combo1[i];
        combo.clear();
        combo.setEnabled(false);
        shownBytes_.remove(&combo);
        if (!lines)
            continue;
        // Kind and offset are read before the selection runs the handler.
        const QString kind = (*lines)[at.kindLine(i)];
        if (!isItemKind(kind))
            continue;
        const std::optional<int> offset = wholeNumber((*lines)[at.offsetLine(i)]);
        if (!offset || !recordByte(rec, *offset))
            continue;
        const std::optional<int> base = wholeNumber(desc_table[rec][RecordLine::kBaseRow]);
        const QString word = ShowItem(combo, kind, controllerInUse(), *base, *offset);
        // The condition names the kind of the next item; the last item has
        // no next one and its word is dropped.
        if (!word.isEmpty() && i + 1 < kItems)
            (*lines)[at.kindLine(i + 1)] = word;
    }
}

void EditorForm::showExtra(ComboBox &combo, const QString &kind, int rec, int offset)
{
    combo.clear();
    combo.setEnabled(false);
    shownBytes_.remove(&combo);
    if (kind != kFf || !recordByte(rec, offset))
        return;
    ShowItem(combo, kFf, controllerInUse(), *wholeNumber(desc_table[rec][RecordLine::kBaseRow]), offset);
}

void EditorForm::ShowRecordItems()
{
    const Displaying display(displaying_);
    const int rec = recordInUse();
    shownRec_ = rec;
    TextLines *record = rec >= 0 && rec < kLineTableRows ? &desc_table[rec] : nullptr;

    // A plain record describes its items itself. In an input record the
    // captions and items come from the selected input type, the bytes are
    // still those of the record's rows. With no record every caption is
    // empty and every combo empty and disabled.
    TextLines *lines = record;
    const ItemLines *at = &RecordLine::kItems;
    shownType_ = -1;
    if (record && (*record)[RecordLine::kKind] == kIn) {
        const int t = Combo2.listIndex();
        shownType_ = t;
        lines = t >= 0 && t < kLineTableRows ? &in_table[t] : nullptr;
        at = &TypeLine::kItems;
    }
    auto line = [](const TextLines *from, int index) { return from ? (*from)[index] : QString(); };
    Label1[0].setCaption(line(record, RecordLine::kCaption));
    for (int i = 1; i <= 8; ++i)
        Label1[i].setCaption(line(lines, at->caption + i - 1));
    Label6.setCaption(line(lines, at->extraCaption));
    Label8.setCaption(line(lines, at->extraCaption + 1));
    showItemList(lines, *at, rec);
    showExtra(Combo5, line(lines, at->extraKind), rec, 2);
    showExtra(Combo6, line(lines, at->extraKind + 1), rec, 3);
}

QString EditorForm::ShowItem(ComboBox &combo, const QString &kind, int slot, int baseRow, int offset)
{
    combo.clear();
    combo.setEnabled(false);
    QString file;
    int entries = 0;
    int perRecord = 1;
    int textAt = 0;
    if (kind == kFf) {
        file = QStringLiteral("ff.ini");
        entries = 256;
    } else if (kind == kTimer) {
        file = QStringLiteral("timer.ini");
        entries = 254;
    } else if (kind == kBisnes) {
        file = QStringLiteral("bisnes.ini");
        entries = 256;
        perRecord = 2;
        textAt = 1;
    } else if (kind == kUslov) {
        file = QStringLiteral("uslov_0.ini");
        entries = 256;
        perRecord = 3;
        textAt = 1;
    } else if (kind == kIn) {
        file = QStringLiteral("in_0.ini");
        entries = kFileTypes;
        perRecord = kTypeItems;
    } else {
        return QString();
    }
    const ImageByte byte = byteAt(reg_image, slot, baseRow, offset);
    if (!byte)
        return QString();
    shownBytes_.insert(&combo, {byte.slot, byte.row, byte.byte});

    QStringList items;
    combo.setItems(sideFiles_.entries(file, entries, perRecord, textAt, &items));

    const int value = *byte;
    const int entry = kind == kIn ? inputTypeOf(in_table, value) : value;
    combo.setEnabled(true);
    if (entry < 0 || entry >= combo.listCount()) {
        combo.showUnlisted(QString::number(value));
        return QString();
    }
    selectFromDisplay(combo, entry);
    if (kind != kUslov)
        return QString();
    // A condition's letter follows its text; empty where the file ends.
    return kindOfLetter(items.value(entry * perRecord + textAt + 1));
}

// ---- What the record area shows ---------------------------------------------

BytePlace EditorForm::shownByte(const ComboBox &combo) const
{
    return shownBytes_.value(&combo);
}

QString EditorForm::captionOf(const ComboBox &combo) const
{
    if (&combo == &Combo2)
        return Label1[0].caption();
    if (&combo == &Combo5)
        return Label6.caption();
    if (&combo == &Combo6)
        return Label8.caption();
    for (int i = 0; i < kItems; ++i) {
        if (&combo != &Combo1[i])
            continue;
        const int row = i / 2;
        const QString rowCaption = Label1[1 + row].caption();
        if (i % 2 == 0)
            return rowCaption;
        // Label1(7) stands above the right column of rows 0 and 1, Label1(8) above rows 2 to 5.
        const QString column = Label1[row < 2 ? 7 : 8].caption();
        if (rowCaption.isEmpty() || column.isEmpty())
            return rowCaption + column;
        return rowCaption + QStringLiteral(" / ") + column;
    }
    return QString();
}

}  // namespace kalvet
