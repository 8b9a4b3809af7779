// Start-up, the load operation and the controller display with its delay
// boxes.
//
// Failures of the files never end the editor: a reference file that cannot be
// read is reported and the editor goes on with what it read; a data file that
// cannot be read completely is reported, the values read before stay, and the
// next save asks before it writes.
#include "editor/core/form.h"
#include "editor/core/installation_files.h"

#include "common/files.h"

#include <QDateTime>

#include <utility>

namespace kalvet {

using namespace files;

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
            fileProblems_.report(name, QStringLiteral("missing"),
                                  QStringLiteral("Файл %1 не прочитан: %2. Записей описания нет.").arg(name, error));
        }
    }

    Combo15.setListIndex(saved_desc_sel);
    ShowRecord();
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

}  // namespace kalvet
