// The reading of one file each, on the bytes the caller read: the
// controller list, the delay texts, the descriptions, and the three data
// files. What is read before a failure stays.
#include "editor/core/form.h"
#include "editor/core/installation_files.h"

#include "common/address_map.h"
#include "common/image_file.h"
#include "common/text_file.h"

#include <span>

namespace kalvet {

using namespace files;

namespace {

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

}  // namespace

void EditorForm::LoadControllerList(const QByteArray &bytes)
{
    // Eight controllers: number, ignored text, name. The number must be one
    // but is not used: the slots follow the address map.
    Combo3.clear();
    zuk::ItemReader reader = zuk::ItemReader::fromBytes(bytes);
    QString name;
    for (int i = 0; i < 8; ++i) {
        qint16 number = 0;
        if (!reader.readNumber(&number) || !reader.readText(&name) || !reader.readText(&name)) {
            reportFileFailure(readFailure(QStringLiteral("adres.ini"), reader, kAdresItems)
                              + QStringLiteral(" Контроллеров в списке: %1 из 8.").arg(i));
            return;
        }
        Combo3.addItem(name);
    }
}

void EditorForm::LoadDelayTexts(const QByteArray &bytes)
{
    QStringList delayTexts;
    zuk::ItemReader reader = zuk::ItemReader::fromBytes(bytes);
    QString text;
    while (delayTexts.size() < kDelayTexts && reader.readText(&text))
        delayTexts << text;
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
    QString header;   // the section's and the line's, not kept
    bool ok = true;
    for (int c = 0; c < kControllers && ok; ++c) {
        ok = read(&header) && read(&names.ctrl_location[c]);
        for (int l = 0; l < kNameLines && ok; ++l)
            ok = read(&header) && read(&names.out_name[c][l]) && read(&names.in_name[c][l])
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
    QString item;
    bool ok = true;
    for (int c = 0; c < kControllers && ok; ++c) {
        ok = reader.readText(&item);
        for (int s = 0; s < kScenarios && ok; ++s) {
            ok = reader.readText(&item);
            if (ok)
                Label14[s].setCaption(item);
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
    QString recordName;
    bool ok = true;
    for (int rec = 0; rec < kRecordCount && ok; ++rec) {
        ok = reader.readText(&recordName);
        if (ok)
            Combo15.addItem(recordName);
        for (int line = 0; line < RecordLine::kCount && ok; ++line)
            ok = reader.readText(&desc_table[rec][line]);
    }
    if (!ok)
        fileProblems_.report(name, QStringLiteral("%1:%2").arg(reader.itemsRead()).arg(qHash(bytes)),
                              readFailure(name, reader, kOpisItems)
                                  + QStringLiteral(" Записей описания в списке: %1 из %2.")
                                        .arg(Combo15.listCount())
                                        .arg(kRecordCount));
    else
        fileProblems_.report(name, QString(), QString());
}

}  // namespace kalvet
