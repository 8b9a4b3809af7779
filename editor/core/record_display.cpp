// Record selection, item display and the editing handlers.
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
// far as it goes and is reported once (see readSideItems).
#include "editor/core/form.h"

#include "common/address_map.h"
#include "common/files.h"
#include "common/text_file.h"

#include <algorithm>
#include <optional>

namespace kalvet {

namespace {

constexpr int kFileTypes = 61;       // input types of in_0.ini, 0..60
constexpr int kFallbackType = 60;
constexpr int kTypeItems = 1 + TypeLine::kCount;   // name and lines
constexpr int kItems = 12;

const QString kFf = QStringLiteral("ff");
const QString kTimer = QStringLiteral("timer");
const QString kBisnes = QStringLiteral("bisnes");
const QString kUslov = QStringLiteral("uslov");
const QString kIn = QStringLiteral("in");

// Value of a line that holds a number: decimal digits with an optional sign
// and an optional fraction of zeros ("07", "9", "7.0" and "+7" are numbers;
// "7.5", "", "x" are not). Values beyond any row, offset, byte or 16-bit code
// count as no number.
std::optional<int> wholeNumber(const QString &text)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) {
        negative = t[i] == u'-';
        ++i;
    }
    const qsizetype digits = i;
    int value = 0;
    for (; i < t.size() && t[i] >= u'0' && t[i] <= u'9'; ++i) {
        value = value * 10 + (t[i].unicode() - u'0');
        if (value > 1000000)
            return std::nullopt;
    }
    if (i == digits)
        return std::nullopt;
    if (i < t.size() && t[i] == u'.') {
        for (++i; i < t.size() && t[i] == u'0'; ++i) {
        }
    }
    if (i != t.size())
        return std::nullopt;
    return negative ? -value : value;
}

bool isItemKind(const QString &word)
{
    return word == kFf || word == kTimer || word == kBisnes || word == kUslov || word == kIn;
}

// Type code of input type t as a 16-bit value, when it is one.
std::optional<qint16> typeCode(const LineTable &types, int t)
{
    if (t < 0 || t >= kLineTableRows)
        return std::nullopt;
    const std::optional<int> code = wholeNumber(types[t][TypeLine::kCode]);
    if (!code || *code < -32768 || *code > 32767)
        return std::nullopt;
    return static_cast<qint16>(*code);
}

// The input type shown for a stored value: the first type whose code equals
// it, else the fallback type.
int inputTypeOf(const LineTable &types, int value)
{
    for (int t = 0; t < kFileTypes; ++t) {
        const std::optional<qint16> code = typeCode(types, t);
        if (code && *code == value)
            return t;
    }
    return kFallbackType;
}

// Kind word named by a condition letter; only the exact letters count.
QString kindOfLetter(const QString &letter)
{
    if (letter == QStringLiteral("f"))
        return kFf;
    if (letter == QStringLiteral("i"))
        return kIn;
    if (letter == QStringLiteral("t"))
        return kTimer;
    return QString();
}

// Marks a record display in progress for as long as it lives.
struct Displaying {
    int &depth;
    explicit Displaying(int &d) : depth(d) { ++depth; }
    ~Displaying() { --depth; }
};

// Element (slot, base row, offset) with the carry into the next row; none
// when it lies outside the image.
ImageByte byteAt(std::array<zuk::SlotImage, 21> &image, int slot, int baseRow, int offset)
{
    if (slot < 0 || slot >= static_cast<int>(image.size()))
        return {};
    if (baseRow < 0 || baseRow >= zuk::kMaxRows || offset < 0 || offset > 15)
        return {};
    int row = baseRow;
    int byte = offset;
    if (byte > 7) {
        byte -= 8;
        ++row;
    }
    if (row >= zuk::kMaxRows)
        return {};
    return {slot, row, byte, &image[slot][row][byte]};
}

}  // namespace

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

// A side file is read whole every time. When it cannot be read or holds fewer
// items than needed, the user is told once which file and how many items it
// had; the same problem is not reported again for every item and every
// redraw, only after the file has changed (other contents, or it went missing
// or came back). A file that is read whole clears what was remembered of it.
// The items of the contents read last are kept per file: the same bytes give
// the same items without being parsed again.
QStringList EditorForm::readSideItems(const QString &name, int count)
{
    QByteArray &bytes = sideBuffer_;   // read into again and again
    QString error;
    if (!zuk::readFileBytes(filePath(name), &bytes, &error)) {
        sideItems_.remove(name);
        reportFileProblemOnce(name, QStringLiteral("missing"),
                              QStringLiteral("Файл %1 не прочитан: %2. Список пуст: 0 элементов из %3.")
                                  .arg(name, error)
                                  .arg(count));
        return {};
    }
    SideItems &known = sideItems_[name];
    if (known.count != count || known.bytes != bytes) {
        known = SideItems();
        known.bytes = QByteArray(bytes.constData(), bytes.size());   // the buffer is read into again
        known.count = count;
        zuk::ItemReader reader = zuk::ItemReader::fromBytes(bytes);
        known.items.reserve(std::min<qsizetype>(count, bytes.size() + 1));   // an item takes a byte at least
        QString item;
        while (known.items.size() < count && reader.readText(&item))
            known.items.append(item);
        if (known.items.size() < count) {
            known.signature = QStringLiteral("%1:%2").arg(known.items.size()).arg(qHash(bytes));
            known.report = QStringLiteral("Файл %1 слишком короткий: прочитано %2 %3 из %4. "
                                          "Список заполнен до конца файла.")
                               .arg(name)
                               .arg(known.items.size())
                               .arg(zuk::russianPlural(known.items.size(), QStringLiteral("элемент"),
                                                       QStringLiteral("элемента"), QStringLiteral("элементов")))
                               .arg(count);
        }
    }
    reportFileProblemOnce(name, known.signature, known.report);
    return known.items;
}

QStringList EditorForm::readSideEntries(const QString &name, int entries, int perRecord, int textAt,
                                        QStringList *items)
{
    *items = readSideItems(name, entries * perRecord);
    if (perRecord == 1)
        return *items;
    const auto known = sideItems_.find(name);
    if (known == sideItems_.end())
        return {};   // not read
    if (known->textsPerRecord != perRecord || known->textAt != textAt) {
        // At most entries * perRecord items: the text of each entry the file holds.
        known->texts.clear();
        known->texts.reserve(entries);
        for (qsizetype at = textAt; at < items->size(); at += perRecord)
            known->texts.append((*items)[at]);
        known->textsPerRecord = perRecord;
        known->textAt = textAt;
    }
    return known->texts;
}

void EditorForm::reportFileProblemOnce(const QString &name, const QString &signature, const QString &text)
{
    if (signature.isEmpty()) {
        sideProblems_.remove(name);
    } else if (sideProblems_.value(name) != signature) {
        sideProblems_.insert(name, signature);
        if (host_)
            host_->message(text);
    }
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
    const QStringList names = readSideEntries(QStringLiteral("in_0.ini"), kFileTypes, kTypeItems, 0, &items);
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
                Combo2.setItems(readSideItems(QStringLiteral("ff.ini"), 256));
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
    combo.setItems(readSideEntries(file, entries, perRecord, textAt, &items));
    if (kind == kUslov)
        for (int j = 0; j < entries; ++j)
            entry_tag[j] = items.value(j * perRecord + textAt + 1);   // empty where the file ends

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
    return kindOfLetter(entry_tag[entry]);
}

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
