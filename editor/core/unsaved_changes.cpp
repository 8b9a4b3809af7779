// What a save would change: the image and names against those the last load
// or save left, and the data files on disk against the bytes the last load
// read.
#include "editor/core/form.h"

#include "common/files.h"

#include <algorithm>

namespace kalvet {

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

}  // namespace kalvet
