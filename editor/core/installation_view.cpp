// What the window shows of an installation, taken down on a display-only form.
#include "editor/core/installation_view.h"

#include "common/address_map.h"
#include "common/text_file.h"

#include <QDir>
#include <algorithm>
#include <optional>

namespace kalvet {

namespace {

constexpr int kInputs = 14;

// Delay box of input k, or -1: inputs 1..B have boxes 0..A, input D box B.
int delayBoxOfInput(int k)
{
    if (k >= 1 && k <= 11)
        return k - 1;
    return k == 13 ? 11 : -1;
}

}  // namespace

// Collects what the form would tell; declines every question.
struct DisplayCopy::Host : EditorHost {
    QStringList messages;
    void message(const QString &text) override { messages << text; }
    bool confirm(const QString &) override { return false; }
    Answer askYesNoCancel(const QString &) override { return Answer::No; }
};

DisplayCopy::DisplayCopy(const QString &folder) : host_(std::make_unique<Host>())
{
    form_ = std::make_unique<EditorForm>(folder, host_.get());
    form_->setDisplayOnly(true);
    form_->Startup();
}

DisplayCopy::DisplayCopy(const EditorForm &source) : DisplayCopy(source.folder())
{
    host_->messages.clear();   // the window has told its own problems already
    EditorForm &f = *form_;
    f.reg_image = source.reg_image;
    f.names = source.names;
    // The boxes of the controller the window shows hold its names as typed.
    if (source.boxesController() >= 0)
        source.storeNameBoxes(f.names, source.boxesController());
    for (std::size_t s = 0; s < f.Label14.size(); ++s)
        f.Label14[s].setCaption(source.Label14[s].caption());
}

DisplayCopy::~DisplayCopy() = default;

QStringList DisplayCopy::problems() const
{
    return host_->messages;
}

void DisplayCopy::show(int slot)
{
    EditorForm &f = *form_;
    if (f.Combo3.listIndex() != slot)
        f.Combo3.setListIndex(slot);   // runs ShowController
    else
        f.ShowController();
}

RecordView DisplayCopy::record(int rec)
{
    EditorForm &f = *form_;
    if (f.Combo15.listIndex() != rec)
        f.Combo15.setListIndex(rec);   // runs ShowRecord
    else
        f.ShowRecord();
    RecordView view;
    view.record = rec;
    view.name = f.Combo15.item(rec);
    std::vector<const ComboBox *> combos{&f.Combo2};
    for (const ComboBox &item : f.Combo1)
        combos.push_back(&item);
    combos.insert(combos.end(), {&f.Combo5, &f.Combo6});
    for (const ComboBox *combo : combos) {
        const BytePlace at = f.shownByte(*combo);
        if (at.slot >= 0)
            view.items.push_back({f.captionOf(*combo), combo->text(), at});
    }
    return view;
}

ControllerView DisplayCopy::controller(int slot)
{
    EditorForm &f = *form_;
    show(slot);
    ControllerView view;
    view.slot = slot;
    view.name = f.Combo3.item(slot);
    view.location = f.names.ctrl_location[slot];
    for (int l = 0; l < 14; ++l)
        view.outputs << f.names.out_name[slot][l];
    for (int l = 0; l < 16; ++l)
        view.irPackets << f.names.ir_name[slot][l];
    for (int s = 0; s < 38; ++s)
        view.scenarios.emplace_back(f.Label14[s].caption(), f.names.scen_name[slot][s]);
    for (int k = 0; k < kInputs; ++k) {
        const int box = delayBoxOfInput(k);
        view.inputs.push_back({k, f.names.in_name[slot][k], QString(), box >= 0, box >= 0 ? f.Combo14[box].text() : QString()});
    }
    // Input k is shown by the k-th input record of opis_0.ini; its type is
    // what Combo2 shows there.
    int input = 0;
    for (int rec = 0; rec < f.Combo15.listCount(); ++rec) {
        const bool inputRecord = f.desc_table[rec][RecordLine::kKind] == QStringLiteral("in");
        view.records.push_back(record(rec));
        if (inputRecord && input < kInputs)
            view.inputs[input++].type = f.Combo2.text();
    }
    return view;
}

InstallationView DisplayCopy::installation()
{
    InstallationView view;
    view.folder = form_->folder();
    view.made = QDateTime::currentDateTime();
    view.dataFiles = {QStringLiteral("zuk.txt"), QStringLiteral("out_in_ik.txt"), QStringLiteral("szenar.txt")};
    for (int c = 0; c < controllerCount(); ++c)
        view.controllers.push_back(controller(c));
    return view;
}

// ---- On paper ----------------------------------------------------------------

namespace {

QString esc(const QString &text)
{
    return text.toHtmlEscaped();
}

QString cell(const QString &text, const QString &attributes = {})
{
    return QStringLiteral("<td%1>%2</td>").arg(attributes, text.isEmpty() ? QStringLiteral("&nbsp;") : esc(text));
}

QString headerRow(const QStringList &heads)
{
    QString row = QStringLiteral("<tr>");
    for (const QString &h : heads)
        row += QStringLiteral("<th>%1</th>").arg(esc(h));
    return row + QStringLiteral("</tr>");
}

const QString kTable = QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\" width=\"100%\">");

}  // namespace

QString installationHtml(const InstallationView &view)
{
    QString html;
    html += QStringLiteral("<!DOCTYPE html>\n<html lang=\"ru\"><head><meta charset=\"utf-8\">"
                           "<title>Настройка контроллеров умного дома</title>"
                           "<style>body{font-family:sans-serif;font-size:9pt} h1{font-size:15pt} "
                           "h2{font-size:13pt} h3{font-size:10pt;margin-bottom:2px} "
                           "table{border-collapse:collapse} th{background:#e8e8e8;text-align:left} "
                           "td,th{vertical-align:top} p.record{margin-top:6px;margin-bottom:1px} "
                           "p.none{margin-top:0}</style></head><body>\n");
    html += QStringLiteral("<h1>Настройка контроллеров умного дома</h1>\n");
    html += QStringLiteral("<p>Папка установки: %1<br>Дата: %2<br>Файлы данных: %3</p>\n")
                .arg(esc(QDir::toNativeSeparators(view.folder)),
                     esc(view.made.toString(QStringLiteral("dd.MM.yyyy HH:mm"))), esc(view.dataFiles.join(QStringLiteral(", "))));
    bool first = true;
    for (const ControllerView &c : view.controllers) {
        html += QStringLiteral("<h2%1>Контроллер %2 — %3</h2>\n")
                    .arg(first ? QString() : QStringLiteral(" style=\"page-break-before: always\""),
                         zuk::hexText(zuk::controllerMap()[c.slot].address), esc(c.name));
        first = false;
        html += QStringLiteral("<p>Местоположение: %1</p>\n").arg(c.location.isEmpty() ? QStringLiteral("—") : esc(c.location));

        html += QStringLiteral("<h3>Входы</h3>\n") + kTable
                + headerRow({QStringLiteral("Вход"), QStringLiteral("Название"), QStringLiteral("Тип входа"),
                             QStringLiteral("Временная задержка")});
        for (const InputView &in : c.inputs)
            html += QStringLiteral("<tr>") + cell(zuk::hexText(in.number)) + cell(in.name) + cell(in.type)
                    + cell(in.delayBox ? in.delay : QStringLiteral("—")) + QStringLiteral("</tr>\n");
        html += QStringLiteral("</table>\n");

        html += QStringLiteral("<h3>Выходы и ИК посылки</h3>\n") + kTable
                + headerRow({QStringLiteral("№"), QStringLiteral("Выходы"), QStringLiteral("ИК посылка")});
        for (int l = 0; l < c.irPackets.size(); ++l)
            // Outputs E and F have no box in the window.
            html += QStringLiteral("<tr>") + cell(zuk::hexText(l))
                    + cell(l < c.outputs.size() ? c.outputs[l] : QStringLiteral("—")) + cell(c.irPackets[l])
                    + QStringLiteral("</tr>\n");
        html += QStringLiteral("</table>\n");

        // Conditional and short scenarios side by side, the long ones after them.
        html += QStringLiteral("<h3>Названия сценариев</h3>\n") + kTable
                + headerRow({QStringLiteral("Код"), QStringLiteral("условные"), QStringLiteral("Код"),
                             QStringLiteral("короткие")});
        auto scenario = [&](int s) {
            return s < int(c.scenarios.size()) ? cell(c.scenarios[s].first) + cell(c.scenarios[s].second)
                                               : cell({}) + cell({});
        };
        for (int q = 0; q < 16; ++q)
            html += QStringLiteral("<tr>") + scenario(q) + scenario(16 + q) + QStringLiteral("</tr>\n");
        html += headerRow({QStringLiteral("Код"), QStringLiteral("длинные"), QStringLiteral("Код"),
                           QStringLiteral("длинные")});
        for (int q = 0; q < 3; ++q)
            html += QStringLiteral("<tr>") + scenario(32 + q) + scenario(35 + q) + QStringLiteral("</tr>\n");
        html += QStringLiteral("</table>\n");

        // One small table a record: tables of thousands of rows take long to lay out on pages.
        html += QStringLiteral("<h3>Записи описания</h3>\n");
        for (const RecordView &r : c.records) {
            html += QStringLiteral("<p class=\"record\"><b>%1</b></p>\n").arg(esc(r.name));
            if (r.items.empty()) {
                html += QStringLiteral("<p class=\"none\">—</p>\n");
                continue;
            }
            html += kTable;
            for (const ShownEntry &item : r.items)
                html += QStringLiteral("<tr>") + cell(item.caption, QStringLiteral(" width=\"40%\"")) + cell(item.entry)
                        + QStringLiteral("</tr>\n");
            html += QStringLiteral("</table>\n");
        }
    }
    html += QStringLiteral("</body></html>\n");
    return html;
}

// ---- Differences ---------------------------------------------------------------

namespace {

QString controllerWords(const EditorForm &f, int slot)
{
    const zuk::ControllerSlot &s = zuk::controllerMap()[slot];
    QString words = QStringLiteral("контроллер %1").arg(zuk::hexText(s.address));
    if (s.kind != zuk::ControllerKind::Universal)
        return words + QStringLiteral(" (%1)").arg(s.caption);
    if (slot < f.Combo3.listCount())
        words += QStringLiteral(" «%1»").arg(zuk::visibleText(f.Combo3.item(slot), 60));
    if (!f.names.ctrl_location[slot].isEmpty())
        words += QStringLiteral(" (%1)").arg(zuk::visibleText(f.names.ctrl_location[slot], 60));
    return words;
}

// The entry a delay box shows for a value.
QString delayText(const ComboBox &box, int value)
{
    return value >= 0 && value < box.listCount() ? box.item(value) : QString::number(value);
}

const ShownEntry *entryAt(const RecordView &view, const BytePlace &at)
{
    const auto found = std::find_if(view.items.begin(), view.items.end(), [&](const ShownEntry &e) { return e.at == at; });
    return found == view.items.end() ? nullptr : &*found;
}

}  // namespace

QStringList differenceLines(DisplayCopy &copy, const zuk::RegisterImage &a, const zuk::RegisterImage &b,
                            std::vector<DifferencePlace> *places)
{
    EditorForm &f = copy.form();
    const auto kept = f.reg_image;
    QStringList lines;
    int count = 0;
    for (int slot = 0; slot < zuk::kSlotCount; ++slot) {
        std::vector<BytePlace> differing;
        for (int row = 0; row < zuk::controllerMap()[slot].rows; ++row)
            for (int byte = 0; byte < zuk::kRowBytes; ++byte)
                if (a[slot][row][byte] != b[slot][row][byte])
                    differing.push_back({slot, row, byte});
        if (differing.empty())
            continue;
        count += int(differing.size());
        const QString who = controllerWords(f, slot);

        // The records as the window shows them with each image.
        std::vector<RecordView> shownA, shownB;
        const bool selectable = slot < copy.controllerCount();
        if (selectable) {
            f.reg_image[slot] = a[slot];
            shownA = copy.controller(slot).records;
            f.reg_image[slot] = b[slot];
            shownB = copy.controller(slot).records;
        }
        for (const BytePlace &at : differing) {
            const int va = a[slot][at.row][at.byte], vb = b[slot][at.row][at.byte];
            QString what;
            int shownBy = -1;
            for (int box = 0; selectable && box < 12 && what.isEmpty(); ++box)
                if (EditorForm::delayByte(slot, box) == at) {
                    const int input = box < 11 ? box + 1 : 13;
                    what = QStringLiteral("задержка входа %1: «%2» → «%3»")
                               .arg(zuk::hexText(input), delayText(f.Combo14[box], va), delayText(f.Combo14[box], vb));
                }
            for (std::size_t r = 0; r < shownA.size() && r < shownB.size() && what.isEmpty(); ++r) {
                const ShownEntry *ea = entryAt(shownA[r], at), *eb = entryAt(shownB[r], at);
                if (!ea && !eb)
                    continue;
                const QString caption = ea ? ea->caption : eb->caption;
                shownBy = int(r);
                what = QStringLiteral("запись «%1», «%2»: «%3» → «%4»")
                           .arg(zuk::visibleText(shownA[r].name, 60), zuk::visibleText(caption, 60),
                                ea ? zuk::visibleText(ea->entry, 60) : QString::number(va),
                                eb ? zuk::visibleText(eb->entry, 60) : QString::number(vb));
            }
            if (what.isEmpty())
                what = QStringLiteral("регистр %1 байт %2: %3 → %4").arg(zuk::hexText(at.row)).arg(at.byte).arg(va).arg(vb);
            lines << who + QStringLiteral(": ") + what;
            if (places)
                places->push_back({slot, shownBy});
        }
    }
    f.reg_image = kept;
    lines << QStringLiteral("различий: %1").arg(count);
    return lines;
}

}  // namespace kalvet
