// The display of one description record of one controller, on the sample
// installation loaded once at start. The input picks the controller and the
// record, changes lines of the record (kind words, numbers or any text), sets
// the bytes of the record's two rows and of its selector cell, then makes a
// few choices as a user would. The display may change a byte only as its own
// listed change, and nothing outside the shown controller; the record and the
// controller's image are put back after each input.
#include "editor/core/form.h"
#include "scratch_folder.h"

#include <QCoreApplication>
#include <QFile>
#include <array>
#include <cstdlib>
#include <functional>
#include <fuzzer/FuzzedDataProvider.h>
#include <utility>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

struct QuietHost : kalvet::EditorHost {
    void message(const QString &) override {}
    bool confirm(const QString &) override { return false; }
};

constexpr int kRecordLines = 41;

QTemporaryDir *folder = nullptr;
QuietHost host;
kalvet::EditorForm *form = nullptr;
std::array<zuk::SlotImage, 21> *loaded = nullptr;   // the image as loaded

// The number a line holds, as the display reads plain numbers; -1 for none.
int lineNumber(const QString &line)
{
    bool ok = false;
    const int n = line.trimmed().toInt(&ok);
    return ok ? n : -1;
}

QString lineText(FuzzedDataProvider &in)
{
    static const char *const kWords[] = {"ff", "timer", "bisnes", "uslov", "in", "", "f", "i", "t", "7.0", " 3", "+2"};
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 0:
        return QString::fromLatin1(kWords[in.ConsumeIntegralInRange<size_t>(0, std::size(kWords) - 1)]);
    case 1:
        return QString::number(in.ConsumeIntegralInRange<int>(-2, 70));
    default:
        return QString::fromLatin1(in.ConsumeRandomLengthString(12));
    }
}

qint16 byteValue(FuzzedDataProvider &in)
{
    return in.ConsumeBool() ? qint16(in.ConsumeIntegral<std::uint8_t>()) : in.ConsumeIntegral<qint16>();
}

// Every byte that differs from before (slot c only) must be a listed change
// of the display with the value it now holds.
void checkChangesListed(int c, const zuk::SlotImage &before)
{
    for (int s = 0; s < 21; ++s)
        if (s != c)
            check(form->reg_image[s] == (*loaded)[s]);
    for (int row = 0; row < zuk::kMaxRows; ++row)
        for (int b = 0; b < zuk::kRowBytes; ++b) {
            if (form->reg_image[c][row][b] == before[row][b])
                continue;
            bool listed = false;
            for (const kalvet::EditorForm::DisplayChange &d : form->displayChanges())
                listed = listed || (d.slot == c && d.row == row && d.byte == b && d.after == form->reg_image[c][row][b]);
            check(listed);
        }
}

void checkCombos()
{
    auto fine = [](const kalvet::ComboBox &combo) {
        check(combo.listIndex() >= -1 && combo.listIndex() < combo.listCount());
        check(combo.enabled() || combo.listCount() == 0);
    };
    fine(form->Combo2);
    fine(form->Combo5);
    fine(form->Combo6);
    for (const kalvet::ComboBox &combo : form->Combo1)
        fine(combo);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    folder = newScratchFolder(QStringLiteral("fuzz_editor_record"));
    const QDir sample(QStringLiteral(ZUK_SOURCE_DIR "/examples/installation"));
    for (const QString &name : sample.entryList({QStringLiteral("*.ini"), QStringLiteral("*.txt")}, QDir::Files))
        if (!QFile::copy(sample.filePath(name), QDir(folder->path()).filePath(name)))
            std::abort();
    form = new kalvet::EditorForm(folder->path(), &host);
    form->Startup();
    check(form->incompleteFiles().isEmpty() && form->Combo3.listCount() > 0 && form->Combo15.listCount() > 0);
    loaded = new std::array<zuk::SlotImage, 21>(form->reg_image);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);

    // The controller, chosen without the display of the controller (which
    // would read the description records again).
    const int c = in.ConsumeIntegralInRange<int>(0, form->Combo3.listCount() - 1);
    const std::function<void()> showController = std::exchange(form->Combo3.onClick, nullptr);
    form->Combo3.setListIndex(c);
    form->Combo3.onClick = showController;

    const int rec = in.ConsumeIntegralInRange<int>(0, form->Combo15.listCount() - 1);
    std::array<QString, 71> &record = form->desc_table[rec];
    const std::array<QString, 71> original = record;
    for (int edits = in.ConsumeIntegralInRange<int>(0, 8); edits > 0; --edits) {
        const int line = in.ConsumeIntegralInRange<int>(0, kRecordLines - 1);
        record[line] = lineText(in);
    }

    // The bytes of the record: its two rows from the base row, its selector cell.
    zuk::SlotImage &image = form->reg_image[c];
    const int base = lineNumber(record[0]);
    for (int i = 0; i < 2 * zuk::kRowBytes && base >= 0 && in.ConsumeBool(); ++i)
        if (const int row = base + i / zuk::kRowBytes; row < zuk::kMaxRows)
            image[row][i % zuk::kRowBytes] = byteValue(in);
    const int selectorRow = lineNumber(record[11]);
    const int selectorByte = lineNumber(record[12]);
    if (selectorRow >= 0 && selectorRow < zuk::kMaxRows && selectorByte >= 0 && selectorByte < zuk::kRowBytes
        && in.ConsumeBool())
        image[selectorRow][selectorByte] = byteValue(in);

    const zuk::SlotImage before = image;
    form->Combo15.choose(rec);
    checkChangesListed(c, before);
    checkCombos();

    // A user's choices: the main value, an item, an extra combo.
    for (int choices = in.ConsumeIntegralInRange<int>(0, 3); choices > 0; --choices) {
        const int which = in.ConsumeIntegralInRange<int>(0, 14);
        kalvet::ComboBox &combo = which == 0   ? form->Combo2
                                  : which == 13 ? form->Combo5
                                  : which == 14 ? form->Combo6
                                                : form->Combo1[which - 1];
        if (combo.listCount() > 0)
            combo.choose(in.ConsumeIntegralInRange<int>(0, combo.listCount() - 1));
        checkCombos();
    }
    for (int s = 0; s < 21; ++s)
        if (s != c)
            check(form->reg_image[s] == (*loaded)[s]);

    image = (*loaded)[c];
    record = original;
    return 0;
}
