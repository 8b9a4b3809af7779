// The save operation and the questions it asks before it writes: a data
// file changed by another program, an incomplete load, double quotes in
// names the window cannot show, bytes the display changed on its own. All
// three data files are written to temporary files first and replace the old
// ones only when all are complete.
#include "editor/core/form.h"
#include "editor/core/installation_files.h"
#include "editor/core/name_fields.h"

#include "common/address_map.h"
#include "common/files.h"
#include "common/text_file.h"

#include <QDateTime>

#include <algorithm>
#include <span>

namespace kalvet {

using namespace files;
using namespace name_fields;

namespace {

QString describeChar(QChar ch)
{
    const QString code = QStringLiteral("U+%1").arg(ch.unicode(), 4, 16, QLatin1Char('0')).toUpper();
    if (ch.isPrint())
        return QStringLiteral("«%1» (%2)").arg(ch).arg(code);
    return code;
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

void EditorForm::Command2_Click()
{
    SaveConfiguration();
}

bool EditorForm::SaveConfiguration()
{
    if (!mayReplaceChangedFiles() || !mayWriteIncompleteLoad())
        return false;

    // With no entry selected (the user typed in the edit field) the shown
    // controller and the remembered record are used.
    const int c = controllerInUse();
    const int desc = Combo15.listIndex() >= 0 ? Combo15.listIndex() : saved_desc_sel;
    if (!mayReplaceHiddenQuotes(c) || !mayWriteDisplayChanges())
        return false;

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

// ---- The questions before a save -------------------------------------------

bool EditorForm::mayReplaceChangedFiles()
{
    // A file another program changed since the load is never replaced unseen.
    const QStringList changed = changedOnDisk();
    if (changed.isEmpty())
        return true;
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
        return true;
    case EditorHost::Overwrite::Reload:
        LoadConfiguration();
        return false;
    case EditorHost::Overwrite::Cancel:
        break;
    }
    return false;
}

bool EditorForm::mayWriteIncompleteLoad()
{
    if (incompleteFiles_.isEmpty() || !host_)
        return true;
    return host_->confirm(QStringLiteral("Конфигурация загружена не полностью: не прочитаны до конца файлы %1.\n"
                                         "Значения, которые не удалось прочитать, будут записаны такими, "
                                         "какие они сейчас в редакторе. Записать?")
                              .arg(incompleteFiles_.join(QStringLiteral(", "))));
}

bool EditorForm::mayReplaceHiddenQuotes(int c)
{
    // Names of controllers the window cannot select cannot be corrected in
    // it: a double quote there is offered to be stored as an apostrophe.
    const QStringList quoted = hiddenQuotedFields(c, false);
    if (quoted.isEmpty())
        return true;
    QStringList shown;
    for (const QString &f : quoted)
        shown << zuk::visibleText(f, 80);
    const QString question = QStringLiteral("Двойную кавычку нельзя записать в файл. Она есть в полях контроллеров, "
                                            "которые нельзя выбрать в окне:\n%1\n"
                                            "Заменить в этих полях двойную кавычку апострофом (') и записать?")
                                 .arg(firstLines(shown));
    if (!host_ || !host_->confirm(question))
        return false;
    hiddenQuotedFields(c, true);
    return true;
}

bool EditorForm::mayWriteDisplayChanges()
{
    // Bytes the display changed on its own are written only when the user agrees.
    if (displayChanges_.empty() || !host_)
        return true;
    QStringList lines;
    for (const DisplayChange &d : displayChanges_)
        lines << QStringLiteral("контроллер %1, запись «%2», регистр %3, байт %4: %5 → %6")
                     .arg(zuk::hexText(zuk::controllerMap()[d.slot].address), zuk::visibleText(d.record),
                          zuk::hexText(d.row))
                     .arg(d.byte)
                     .arg(d.before)
                     .arg(d.after);
    const int n = static_cast<int>(displayChanges_.size());
    return host_->confirm(
        QStringLiteral("При показе записей редактор сам изменил %1 %2 образа: для сохранённого значения "
                       "нет строки в списке, и выбрана показанная строка.\n%3\n"
                       "Записать файлы с этими изменениями? «Нет» — ничего не записывать.")
            .arg(n)
            .arg(zuk::russianPlural(n, QStringLiteral("байт"), QStringLiteral("байта"), QStringLiteral("байтов")))
            .arg(firstLines(lines)));
}

}  // namespace kalvet
