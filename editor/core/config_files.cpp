// Start-up, the load and save operations, the controller display, the names
// typed into the boxes, and the copy of missing reference files.
//
// Failures of the files never end the editor: a reference file that cannot be
// read is reported and the editor goes on with what it read; a data file that
// cannot be read completely is reported, the values read before stay, and the
// next save asks before it writes. A save writes all three data files to
// temporary files first and replaces the old ones only when all are complete.
#include "editor/core/form.h"
#include "editor/core/name_fields.h"

#include "common/address_map.h"
#include "common/image_file.h"
#include "common/files.h"
#include "common/text_file.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <span>
#include <utility>

namespace kalvet {

using namespace name_fields;

namespace {

constexpr int kControllers = 16;       // controllers in the names and scenario files
constexpr int kNameLines = 16;
constexpr int kScenarios = 38;
constexpr int kDelayTexts = 254;

const QString kSectionHeader = QStringLiteral("Адрес контроллера - ");
const QStringList kDataFiles = {QStringLiteral("zuk.txt"), QStringLiteral("szenar.txt"),
                                QStringLiteral("out_in_ik.txt")};
const QStringList kNameFiles = {QStringLiteral("out_in_ik.txt"), QStringLiteral("szenar.txt")};
const QStringList kReferenceFiles = {QStringLiteral("adres.ini"),  QStringLiteral("timer.ini"),
                                     QStringLiteral("opis_0.ini"), QStringLiteral("in_0.ini"),
                                     QStringLiteral("ff.ini"),     QStringLiteral("bisnes.ini"),
                                     QStringLiteral("uslov_0.ini")};

// Items each file must hold.
constexpr int kAdresItems = 8 * 3;
constexpr int kNamesItems = kControllers * (2 + kNameLines * 4);
constexpr int kScenarioItems = kControllers * (1 + kScenarios * 2);
constexpr int kOpisItems = kRecordCount * (1 + RecordLine::kCount);

// Delay box d shows byte kDelayByte[d] of row kDelayRow[d].
constexpr int kDelayRow[12] = {58, 58, 58, 58, 58, 58, 58, 59, 59, 59, 59, 59};
constexpr int kDelayByte[12] = {1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 5};

QString itemsWord(qint64 n)
{
    return zuk::russianPlural(n, QStringLiteral("элемент"), QStringLiteral("элемента"), QStringLiteral("элементов"));
}

// What went wrong while reading the items of a file that needs `needed` items.
// place: where in the file that is, in words (may be empty).
QString readFailure(const QString &name, const zuk::ItemReader &reader, int needed, const QString &place = {})
{
    if (reader.status() == zuk::ItemReader::Status::EndOfFile)
        return QStringLiteral("Файл %1 слишком короткий: прочитано %2 %3 из %4%5.")
            .arg(name)
            .arg(reader.itemsRead())
            .arg(itemsWord(reader.itemsRead()))
            .arg(needed)
            .arg(place);
    return QStringLiteral("Ошибка в файле %1: %2%3.").arg(name, reader.failureText(), place);
}

// Where item `index` (from 0) of zuk.txt lies: the controller's address and
// the register row.
QString imagePlace(int index)
{
    for (const zuk::ControllerSlot &slot : zuk::controllerMap()) {
        const int items = 1 + 9 * slot.rows;
        if (index < items)
            return index == 0 ? QStringLiteral(" (заголовок контроллера %1)").arg(zuk::hexText(slot.address))
                              : QStringLiteral(" (контроллер %1, регистр %2)")
                                    .arg(zuk::hexText(slot.address), zuk::hexText((index - 1) / 9));
        index -= items;
    }
    return QString();
}

QString describeChar(QChar ch)
{
    const QString code = QStringLiteral("U+%1").arg(ch.unicode(), 4, 16, QLatin1Char('0')).toUpper();
    if (ch.isPrint())
        return QStringLiteral("«%1» (%2)").arg(ch).arg(code);
    return code;
}

}  // namespace

int EditorForm::controllerInUse() const
{
    const int c = Combo3.listIndex();
    return c >= 0 && c < kControllers ? c : shownCtrl_;
}

void EditorForm::reportFileFailure(const QString &text)
{
    if (host_)
        host_->message(text);
}

// ---- Start-up --------------------------------------------------------------

void EditorForm::Startup()
{
    // Temporaries of a save that was cut short (the program killed) go; a
    // form that only shows changes nothing in the folder.
    if (!displayOnly_)
        zuk::removeLeftoverTemporaries(folder_, kDataFiles, QDateTime::currentDateTime());
    offerMissingFiles();
    saved_ctrl_sel = 0;
    saved_desc_sel = 2;

    // Controller selector from adres.ini.
    {
        QByteArray bytes;
        QString error;
        if (zuk::readFileBytes(filePath(QStringLiteral("adres.ini")), &bytes, &error)) {
            LoadControllerList(bytes);
        } else {
            Combo3.clear();
            reportFileFailure(QStringLiteral("Файл adres.ini не прочитан: %1. Список контроллеров пуст.").arg(error));
        }
    }

    // Delay boxes: every box lists the same 254 texts of timer.ini.
    {
        QByteArray bytes;
        QString error;
        if (zuk::readFileBytes(filePath(QStringLiteral("timer.ini")), &bytes, &error)) {
            LoadDelayTexts(bytes);
        } else {
            reportFileFailure(QStringLiteral("Файл timer.ini не прочитан: %1. Списки задержек пусты.").arg(error));
            for (ComboBox &box : Combo14)
                box.clear();
        }
    }

    // Input types first, so that every record shown has type codes to match.
    LoadInputTypes();

    LoadConfiguration();
}

// ---- Reading one file --------------------------------------------------------

void EditorForm::LoadControllerList(const QByteArray &bytes)
{
    // Eight controllers: number, ignored text, name.
    Combo3.clear();
    zuk::ItemReader reader = zuk::ItemReader::fromBytes(bytes);
    for (int i = 0; i < 8; ++i) {
        qint16 number = 0;
        if (!reader.readNumber(&number) || !reader.readText(&line_buf)) {
            reportFileFailure(readFailure(QStringLiteral("adres.ini"), reader, kAdresItems)
                              + QStringLiteral(" Контроллеров в списке: %1 из 8.").arg(i));
            return;
        }
        ctrl_addr[i] = number;
        if (!reader.readText(&line_buf)) {
            reportFileFailure(readFailure(QStringLiteral("adres.ini"), reader, kAdresItems)
                              + QStringLiteral(" Контроллеров в списке: %1 из 8.").arg(i));
            return;
        }
        Combo3.addItem(line_buf);
    }
}

void EditorForm::LoadDelayTexts(const QByteArray &bytes)
{
    QStringList delayTexts;
    zuk::ItemReader reader = zuk::ItemReader::fromBytes(bytes);
    while (delayTexts.size() < kDelayTexts && reader.readText(&line_buf))
        delayTexts << line_buf;
    if (delayTexts.size() < kDelayTexts)
        reportFileFailure(readFailure(QStringLiteral("timer.ini"), reader, kDelayTexts)
                          + QStringLiteral(" Задержки без текста показываются числом."));
    for (ComboBox &box : Combo14)
        box.setItems(delayTexts);
}

bool EditorForm::LoadImage(const QByteArray &bytes, QString *failure)
{
    zuk::ItemReader reader = zuk::ItemReader::fromBytes(bytes);
    const zuk::ImageLoadResult result =
        zuk::loadImage(reader, std::span<zuk::SlotImage>(reg_image.data(), zuk::kSlotCount));
    if (result.ok)
        return true;
    const bool atEnd = reader.status() == zuk::ItemReader::Status::EndOfFile;
    *failure = readFailure(QStringLiteral("zuk.txt"), reader, zuk::imageFileLineCount(),
                           imagePlace(reader.itemsRead() - (atEnd ? 0 : 1)));
    return false;
}

bool EditorForm::LoadNames(const QByteArray &bytes, QString *failure)
{
    // Per controller: header and location, then per line: number, output,
    // input and IR packet name.
    zuk::ItemReader reader = zuk::ItemReader::fromBytes(bytes);
    auto read = [&reader](QString *into) {
        QString item;
        if (!reader.readText(&item))
            return false;
        *into = item;
        return true;
    };
    bool ok = true;
    for (int c = 0; c < kControllers && ok; ++c) {
        ok = read(&line_buf) && read(&names.ctrl_location[c]);
        for (int l = 0; l < kNameLines && ok; ++l)
            ok = read(&line_buf) && read(&names.out_name[c][l]) && read(&names.in_name[c][l])
                 && read(&names.ir_name[c][l]);
    }
    if (!ok)
        *failure = readFailure(QStringLiteral("out_in_ik.txt"), reader, kNamesItems);
    return ok;
}

bool EditorForm::LoadScenarios(const QByteArray &bytes, QString *failure)
{
    // Per controller: header, then per scenario its code and name; the codes
    // of the last section read stay in the code labels.
    zuk::ItemReader reader = zuk::ItemReader::fromBytes(bytes);
    bool ok = true;
    for (int c = 0; c < kControllers && ok; ++c) {
        ok = reader.readText(&line_buf);
        for (int s = 0; s < kScenarios && ok; ++s) {
            ok = reader.readText(&line_buf);
            if (ok)
                Label14[s].setCaption(line_buf);
            QString scenario;
            ok = ok && reader.readText(&scenario);
            if (ok)
                names.scen_name[c][s] = scenario;
        }
    }
    if (!ok)
        *failure = readFailure(QStringLiteral("szenar.txt"), reader, kScenarioItems);
    return ok;
}

void EditorForm::LoadDescriptions(const QByteArray &bytes)
{
    // Per record: its name, then its lines.
    Combo15.clear();
    const QString name = QStringLiteral("opis_0.ini");
    zuk::ItemReader reader = zuk::ItemReader::fromBytes(bytes);
    bool ok = true;
    for (int rec = 0; rec < kRecordCount && ok; ++rec) {
        ok = reader.readText(&line_buf);
        if (ok)
            Combo15.addItem(line_buf);
        for (int line = 0; line < RecordLine::kCount && ok; ++line)
            ok = reader.readText(&desc_table[rec][line]);
    }
    if (!ok)
        reportFileProblemOnce(name, QStringLiteral("%1:%2").arg(reader.itemsRead()).arg(qHash(bytes)),
                              readFailure(name, reader, kOpisItems)
                                  + QStringLiteral(" Записей описания в списке: %1 из %2.")
                                        .arg(Combo15.listCount())
                                        .arg(kRecordCount));
    else
        reportFileProblemOnce(name, QString(), QString());
}

// ---- Load ------------------------------------------------------------------

void EditorForm::Command1_Click()
{
    if (askToSaveFirst(QStringLiteral("Изменения не записаны. Записать их перед чтением?")) == Go::On)
        LoadConfiguration();
}

void EditorForm::LoadConfiguration()
{
    displayChanges_.clear();   // the image is read anew
    boxesCtrl_ = -1;           // what the boxes show is replaced, not taken over
    QStringList failed;
    QStringList reports;

    // The register image of slots 0..19, the names and the scenarios; what
    // failed is reported together.
    using Reader = bool (EditorForm::*)(const QByteArray &, QString *);
    const std::pair<QString, Reader> dataFiles[] = {{QStringLiteral("zuk.txt"), &EditorForm::LoadImage},
                                                    {QStringLiteral("out_in_ik.txt"), &EditorForm::LoadNames},
                                                    {QStringLiteral("szenar.txt"), &EditorForm::LoadScenarios}};
    for (const auto &[name, load] : dataFiles) {
        QByteArray bytes;
        QString error;
        loadedBytes_[name].reset();
        if (!zuk::readFileBytes(filePath(name), &bytes, &error)) {
            failed << name;
            reports << QStringLiteral("Файл %1 не прочитан: %2.").arg(name, error);
        } else {
            loadedBytes_[name] = bytes;
            if (!(this->*load)(bytes, &error)) {
                failed << name;
                reports << error;
            }
        }
    }

    incompleteFiles_ = failed;
    if (!reports.isEmpty()) {
        reports << QStringLiteral("Прочитанные значения оставлены; перед записью редактор спросит подтверждение.");
        reportFileFailure(reports.join(QLatin1Char('\n')));
    }

    Combo3.setListIndex(saved_ctrl_sel);
    ShowController();
    rememberSaved();
    if (host_)
        host_->editsForgotten();
}

// ---- Unsaved changes -------------------------------------------------------

void EditorForm::rememberSaved()
{
    if (!saved_)
        saved_ = std::make_unique<Saved>();
    std::copy_n(reg_image.begin(), zuk::kSlotCount, saved_->image.begin());
    saved_->names = names;
}

bool EditorForm::hasUnsavedChanges() const
{
    if (!saved_)
        return false;
    if (!std::equal(saved_->image.begin(), saved_->image.end(), reg_image.begin()))
        return true;
    // The shown controller's names as a save would take them from the boxes.
    NameTables typed = names;
    if (boxesCtrl_ >= 0)
        storeNameBoxes(typed, boxesCtrl_);
    return typed != saved_->names;
}

EditorForm::Go EditorForm::askToSaveFirst(const QString &question)
{
    if (!hasUnsavedChanges() || !host_)
        return Go::On;
    switch (host_->askYesNoCancel(question)) {
    case EditorHost::Answer::Yes:
        // Goes on only when the save went through; it has loaded the files
        // again already.
        return SaveConfiguration() ? Go::Saved : Go::Stay;
    case EditorHost::Answer::No:
        return Go::On;
    case EditorHost::Answer::Cancel:
        break;
    }
    return Go::Stay;
}

bool EditorForm::QueryUnload()
{
    return askToSaveFirst(QStringLiteral("Изменения не записаны. Записать их перед выходом?")) != Go::Stay;
}

// ---- Controller display ----------------------------------------------------

void EditorForm::ShowController()
{
    const int c = controllerInUse();
    shownCtrl_ = c;

    fillNameBoxes(c);

    // A delay byte with no text (254, 255, or anything the file gave) is
    // shown as its number and stays as it is until the user picks a text.
    for (int d = 0; d < 12; ++d) {
        const int value = reg_image[c][kDelayRow[d]][kDelayByte[d]];
        if (value >= 0 && value < Combo14[d].listCount())
            selectFromDisplay(Combo14[d], value);
        else
            Combo14[d].showUnlisted(QString::number(value));
    }

    // Description records, read again every time.
    // A missing or short file is told once, and again only when it changed.
    {
        QByteArray bytes;
        QString error;
        const QString name = QStringLiteral("opis_0.ini");
        if (zuk::readFileBytes(filePath(name), &bytes, &error)) {
            LoadDescriptions(bytes);
        } else {
            Combo15.clear();
            reportFileProblemOnce(name, QStringLiteral("missing"),
                                  QStringLiteral("Файл %1 не прочитан: %2. Записей описания нет.").arg(name, error));
        }
    }

    Combo15.setListIndex(saved_desc_sel);
    ShowRecord();
}

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

void EditorForm::Combo3_Click()
{
    commitTyping();   // the typing of the controller shown so far is kept
    ShowController();
}

BytePlace EditorForm::delayByte(int slot, int box)
{
    if (box < 0 || box >= 12)
        return {};
    return {slot, kDelayRow[box], kDelayByte[box]};
}

void EditorForm::Combo14_Click(int index)
{
    if (index < 0 || index >= 12)
        return;
    const int value = Combo14[index].listIndex();
    if (value < 0)
        return;
    const int c = controllerInUse();
    storeByte({c, kDelayRow[index], kDelayByte[index], &reg_image[c][kDelayRow[index]][kDelayByte[index]]},
              static_cast<qint16>(value));
}

// ---- Save ------------------------------------------------------------------

QString EditorForm::unwritableText(int c) const
{
    QString found;
    auto unwritable = [&found](const QString &text, const QString &field) {
        QChar bad;
        if (zuk::isWritableText(text, &bad))
            return false;
        found = QStringLiteral("%1: символ %2").arg(field, describeChar(bad));
        return true;
    };
    // The shown controller's texts, as typed; each scenario's code after its name.
    if (anyNameLine(nameFields(*this, names, c), boxCount, [&](const auto &field, int l) {
            return unwritable(field.boxes[l].text(), field.caption(l))
                   || (field.boxes.data() == Text5.data()
                       && unwritable(Label14[l].caption(), QStringLiteral("код сценария %1").arg(l)));
        }))
        return found;
    // Everything else as loaded (a file may hold what the editor cannot write).
    for (int k = 0; k < kControllers; ++k) {
        const QString who = QStringLiteral("контроллер %1, ").arg(zuk::hexText(k));
        if (anyNameLine(nameFields(*this, names, k), lineCount, [&](const auto &field, int l) {
                const bool typed = k == c && l < int(field.boxes.size());
                return !typed && unwritable(field.lines[l], who + field.caption(l));
            }))
            return found;
    }
    return QString();
}

QStringList EditorForm::hiddenQuotedFields(int c, bool fix)
{
    QStringList fields;
    auto look = [&](QString &text, const QString &field) {
        if (!text.contains(u'"'))
            return;
        fields << field;
        if (fix)
            text.replace(u'"', u'\'');
    };
    for (int k = std::max(0, Combo3.listCount()); k < kControllers; ++k) {
        if (k == c)
            continue;
        const QString who = QStringLiteral("контроллер %1, ").arg(zuk::hexText(k));
        anyNameLine(nameFields(*this, names, k), lineCount, [&](const auto &field, int l) {
            look(field.lines[l], who + field.caption(l));
            return false;
        });
    }
    return fields;
}

namespace {

// szenar.txt and out_in_ik.txt for the tables: all 16 controllers, the
// scenario codes in every section.
bool scenarioFileBytes(const NameTables &names, const QStringList &codes, QByteArray *out, QString *error)
{
    zuk::ItemWriter scenarios;
    for (int k = 0; k < kControllers; ++k) {
        scenarios.textLine(kSectionHeader + zuk::hexText(k));
        for (int s = 0; s < kScenarios; ++s)
            scenarios.textLine({codes.value(s), names.scen_name[k][s]});
    }
    return scenarios.bytes(out, error);
}

bool namesFileBytes(const NameTables &names, QByteArray *out, QString *error)
{
    zuk::ItemWriter nameLines;
    for (int k = 0; k < kControllers; ++k) {
        nameLines.textLine({kSectionHeader + zuk::hexText(k), names.ctrl_location[k]});
        for (int l = 0; l < kNameLines; ++l)
            nameLines.textLine({zuk::hexText(l), names.out_name[k][l], names.in_name[k][l], names.ir_name[k][l]});
    }
    return nameLines.bytes(out, error);
}

// At most the first `shown` lines, then how many more there are.
QString firstLines(const QStringList &lines, int shown = 20)
{
    QString text = lines.mid(0, shown).join(QLatin1Char('\n'));
    if (lines.size() > shown)
        text += QStringLiteral("\n… и ещё %1").arg(lines.size() - shown);
    return text;
}

}  // namespace

void EditorForm::Command2_Click()
{
    SaveConfiguration();
}

QStringList EditorForm::changedOnDisk() const
{
    QStringList changed;
    for (const QString &name : {QStringLiteral("zuk.txt"), QStringLiteral("out_in_ik.txt"), QStringLiteral("szenar.txt")}) {
        const auto loaded = loadedBytes_.constFind(name);
        if (loaded == loadedBytes_.constEnd())
            continue;   // never loaded
        QByteArray bytes;
        QString error;
        const bool read = zuk::readFileBytes(filePath(name), &bytes, &error);
        if (read ? *loaded != bytes : loaded->has_value())
            changed << name;
    }
    return changed;
}

bool EditorForm::SaveConfiguration()
{
    // A file another program changed since the load is never replaced unseen.
    if (const QStringList changed = changedOnDisk(); !changed.isEmpty()) {
        const QString question =
            QStringLiteral("%1 %2 другой программой после того, как редактор %3 загрузил.\n"
                           "«Перезаписать» — записать то, что в окне, вместо %4; "
                           "«Загрузить заново» — загрузить %5, изменения в окне будут потеряны; "
                           "«Отмена» — ничего не делать.")
                .arg(changed.size() == 1 ? QStringLiteral("Файл ") + changed[0]
                                         : QStringLiteral("Файлы ") + changed.join(QStringLiteral(", ")),
                     changed.size() == 1 ? QStringLiteral("изменён") : QStringLiteral("изменены"),
                     changed.size() == 1 ? QStringLiteral("его") : QStringLiteral("их"),
                     changed.size() == 1 ? QStringLiteral("него") : QStringLiteral("них"),
                     changed.size() == 1 ? QStringLiteral("его") : QStringLiteral("их"));
        switch (host_ ? host_->askOverwrite(question) : EditorHost::Overwrite::Cancel) {
        case EditorHost::Overwrite::Overwrite:
            break;
        case EditorHost::Overwrite::Reload:
            LoadConfiguration();
            return false;
        case EditorHost::Overwrite::Cancel:
            return false;
        }
    }

    if (!incompleteFiles_.isEmpty() && host_) {
        const QString question =
            QStringLiteral("Конфигурация загружена не полностью: не прочитаны до конца файлы %1.\n"
                           "Значения, которые не удалось прочитать, будут записаны такими, "
                           "какие они сейчас в редакторе. Записать?")
                .arg(incompleteFiles_.join(QStringLiteral(", ")));
        if (!host_->confirm(question))
            return false;
    }

    // With no entry selected (the user typed in the edit field) the shown
    // controller and the remembered record are used.
    const int c = controllerInUse();
    const int desc = Combo15.listIndex() >= 0 ? Combo15.listIndex() : saved_desc_sel;

    // Names of controllers the window cannot select cannot be corrected in
    // it: a double quote there is offered to be stored as an apostrophe.
    if (const QStringList quoted = hiddenQuotedFields(c, false); !quoted.isEmpty()) {
        QStringList shown;
        for (const QString &f : quoted)
            shown << zuk::visibleText(f, 80);
        const QString question =
            QStringLiteral("Двойную кавычку нельзя записать в файл. Она есть в полях контроллеров, "
                           "которые нельзя выбрать в окне:\n%1\n"
                           "Заменить в этих полях двойную кавычку апострофом (') и записать?")
                .arg(firstLines(shown));
        if (!host_ || !host_->confirm(question))
            return false;
        hiddenQuotedFields(c, true);
    }

    // Bytes the display changed on its own are written only when the user agrees.
    if (!displayChanges_.empty() && host_) {
        QStringList lines;
        for (const DisplayChange &d : displayChanges_)
            lines << QStringLiteral("контроллер %1, запись «%2», регистр %3, байт %4: %5 → %6")
                         .arg(zuk::hexText(zuk::controllerMap()[d.slot].address),
                              zuk::visibleText(d.record), zuk::hexText(d.row))
                         .arg(d.byte)
                         .arg(d.before)
                         .arg(d.after);
        const int n = static_cast<int>(displayChanges_.size());
        const QString question =
            QStringLiteral("При показе записей редактор сам изменил %1 %2 образа: для сохранённого значения "
                           "нет строки в списке, и выбрана показанная строка.\n%3\n"
                           "Записать файлы с этими изменениями? «Нет» — ничего не записывать.")
                .arg(n)
                .arg(zuk::russianPlural(n, QStringLiteral("байт"), QStringLiteral("байта"), QStringLiteral("байтов")))
                .arg(firstLines(lines));
        if (!host_->confirm(question))
            return false;
    }

    const QString bad = unwritableText(c);
    if (!bad.isEmpty()) {
        reportFileFailure(QStringLiteral("Запись не выполнена: текст нельзя записать в файл (%1).\n"
                                         "Двойная кавычка и символы вне кодировки Windows-1251 "
                                         "недопустимы. Исправьте текст и повторите запись.")
                              .arg(bad));
        return false;
    }

    saved_ctrl_sel = static_cast<qint16>(c);
    saved_desc_sel = static_cast<qint16>(desc);

    commitTyping();
    QStringList codes;
    for (const Label &code : Label14)
        codes << code.caption();

    QString error;
    QByteArray image, scenarioBytes, nameBytes;
    const bool encoded =
        zuk::imageFileBytes(std::span<const zuk::SlotImage>(reg_image.data(), zuk::kSlotCount), &image, &error)
        && scenarioFileBytes(names, codes, &scenarioBytes, &error) && namesFileBytes(names, &nameBytes, &error);
    if (!encoded
        || !zuk::saveFilesTogether({{filePath(QStringLiteral("zuk.txt")), image},
                                    {filePath(QStringLiteral("szenar.txt")), scenarioBytes},
                                    {filePath(QStringLiteral("out_in_ik.txt")), nameBytes}},
                                   &error)) {
        // No reload: the window keeps everything the user typed.
        reportFileFailure(QStringLiteral("Запись не выполнена: %1.\nВсё введённое осталось в окне; "
                                         "устраните причину и повторите запись.")
                              .arg(error));
        return false;
    }

    LoadConfiguration();
    if (host_)
        host_->saved(kDataFiles, QDateTime::currentDateTime());
    return true;
}

}  // namespace kalvet

// ---- Missing reference files -----------------------------------------------

namespace kalvet {

namespace {

bool present(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();   // a dangling link is no gap to fill
}

// The scenario codes of a scenario file (its last section, as a load leaves
// them in Label14); "F0", as the window starts, where it has none.
QStringList scenarioCodesOf(const QString &path)
{
    QStringList codes(kScenarios, QStringLiteral("F0"));
    QByteArray bytes;
    QString error;
    if (!zuk::readFileBytes(path, &bytes, &error))
        return codes;
    zuk::ItemReader reader = zuk::ItemReader::fromBytes(bytes);
    QString item;
    for (int c = 0; c < kControllers && reader.readText(&item); ++c)
        for (int s = 0; s < kScenarios && reader.readText(&item); ++s) {
            codes[s] = item;
            if (!reader.readText(&item))
                return codes;
        }
    return codes;
}

bool writeNewFile(const QString &path, const QByteArray &bytes, QString *error)
{
    QFile file(path);
    // NewOnly: a file that came into being meanwhile is not replaced.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(bytes) != bytes.size()
        || !file.flush()) {
        *error = QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), file.errorString());
        return false;
    }
    return true;
}

}  // namespace

QStringList EditorForm::missingInstallationFiles() const
{
    QStringList missing;
    for (const QString &name : kReferenceFiles + kNameFiles)
        if (!present(filePath(name)))
            missing << name;
    return missing;
}

bool EditorForm::copyMissingFiles(QStringList *written, QString *error) const
{
    const QDir sample(sample_);
    QStringList failed;
    for (const QString &name : missingInstallationFiles()) {
        const QString to = filePath(name);
        QString why;
        bool ok;
        if (kNameFiles.contains(name)) {
            // Empty of names, as a save of an installation without names
            // writes it; the scenario codes are the sample's.
            QByteArray bytes;
            const NameTables none;
            ok = name == QStringLiteral("szenar.txt")
                     ? scenarioFileBytes(none, scenarioCodesOf(sample.filePath(name)), &bytes, &why)
                     : namesFileBytes(none, &bytes, &why);
            ok = ok && writeNewFile(to, bytes, &why);
        } else {
            // QFile::copy never replaces a file that exists.
            QFile from(sample.filePath(name));
            ok = from.copy(to);
            if (!ok)
                why = QStringLiteral("%1: %2").arg(name, from.errorString());
        }
        if (ok)
            *written << name;
        else
            failed << why;
    }
    if (!failed.isEmpty())
        *error = failed.join(QStringLiteral("; "));
    return failed.isEmpty();
}

void EditorForm::offerMissingFiles()
{
    if (sample_.isEmpty() || !host_ || !QFileInfo(sample_).isDir()
        || QFileInfo(sample_).canonicalFilePath() == QFileInfo(folder_).canonicalFilePath())
        return;
    const QStringList missing = missingInstallationFiles();
    if (std::none_of(missing.begin(), missing.end(), [](const QString &n) { return kReferenceFiles.contains(n); }))
        return;
    const QString question =
        QStringLiteral("В папке %1 нет файлов установки:\n%2\n\n"
                       "Скопировать недостающие файлы из образца установки (%3)?\n"
                       "Файлы, которые в папке есть, не заменяются; zuk.txt не создаётся, "
                       "недостающие файлы имён создаются без имён.\n"
                       "«Нет» — продолжить без них.")
            .arg(QDir::toNativeSeparators(folder_), missing.join(QStringLiteral(", ")),
                 QDir::toNativeSeparators(sample_));
    if (!host_->confirm(question))
        return;
    QStringList written;
    QString error;
    if (!copyMissingFiles(&written, &error))
        host_->message(QStringLiteral("Не все файлы скопированы: %1.\nСкопированы: %2.")
                           .arg(error, written.isEmpty() ? QStringLiteral("ни одного") : written.join(QStringLiteral(", "))));
}

}  // namespace kalvet
