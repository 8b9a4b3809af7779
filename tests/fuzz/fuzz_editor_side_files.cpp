// The readers of the side files that every record display reads (in_0.ini,
// ff.ini, bisnes.ini, uslov_0.ini, timer.ini), each on the same arbitrary
// contents: the input from its second byte on is the file for each of them
// in turn, written into a folder of its own and shown as one item holding
// the first input byte. The input types are also shown as the type of an
// input record, whose items take their lists from the other side files of
// the sample installation. Each file has its own form, made once and kept
// from one input to the next (a new form for every input would cost more
// than the reading). The files the editor loads: fuzz_editor_files.
#include "editor/core/form.h"
#include "scratch_folder.h"

#include <QCoreApplication>
#include <QFile>
#include <array>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

struct CountingHost : kalvet::EditorHost {
    void message(const QString &) override {}
    bool confirm(const QString &) override { return false; }
};

enum Side { In, Ff, Bisnes, Uslov, Timer, kSides };
const char *const kFiles[kSides] = {"in_0.ini", "ff.ini", "bisnes.ini", "uslov_0.ini", "timer.ini"};
const char *const kKinds[kSides] = {"in", "ff", "bisnes", "uslov", "timer"};
const int kEntries[kSides] = {61, 256, 256, 256, 254};

QTemporaryDir *folder = nullptr;
CountingHost host;
std::array<kalvet::EditorForm *, kSides> forms{};

// Gives the file its contents, in the folder of the form.
void writeFile(kalvet::EditorForm &form, const QString &name, const QByteArray &bytes)
{
    const int fd = ::open(QFile::encodeName(form.filePath(name)).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size() || ::close(fd) != 0)
        std::abort();
}

// The item of the side's kind at row 1, byte 0 of controller 0, holding
// value: whatever the file, the list is no longer than the entries of the
// kind, and (but for an input type, found by its code) the entry of the value
// is selected when the list has it, else the value is shown; a condition
// names the kind of the next item with its letter, or nothing.
void showItem(Side side, kalvet::EditorForm &form, qint16 value)
{
    form.reg_image[0][1][0] = value;
    kalvet::ComboBox &combo = form.Combo1[0];
    const QString word = form.ShowItem(combo, QLatin1String(kKinds[side]), 0, 1, 0);
    check(combo.enabled() && combo.listCount() <= kEntries[side]);
    if (side != In) {
        check(value < combo.listCount() ? combo.listIndex() == value
                                        : combo.listIndex() == -1 && combo.text() == QString::number(value));
        check(form.reg_image[0][1][0] == value);
    }
    check(side == Uslov ? word.isEmpty() || word == QStringLiteral("ff") || word == QStringLiteral("in")
                              || word == QStringLiteral("timer")
                        : word.isEmpty());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    folder = newScratchFolder(QStringLiteral("fuzz_editor_side_files"));
    for (int s = 0; s < kSides; ++s) {
        const QString path = QDir(folder->path()).filePath(QLatin1String(kKinds[s]));
        if (!QDir().mkpath(path))
            std::abort();
        forms[s] = new kalvet::EditorForm(path, &host);
    }
    // An input record of row 1 (its selector cell is byte 0 there), to be
    // shown on the types of in_0.ini, with the other side files as they are.
    kalvet::EditorForm &in = *forms[In];
    const QDir sample(QStringLiteral(ZUK_SOURCE_DIR "/examples/installation"));
    for (int s = In + 1; s < kSides; ++s)
        if (!QFile::copy(sample.filePath(QLatin1String(kFiles[s])), in.filePath(QLatin1String(kFiles[s]))))
            std::abort();
    in.desc_table[0][0] = QStringLiteral("1");
    in.desc_table[0][10] = QStringLiteral("in");
    in.desc_table[0][11] = QStringLiteral("1");
    in.desc_table[0][12] = QStringLiteral("0");
    in.Combo15.addItem(QStringLiteral("Вход"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const qint16 value = data[0];
    const QByteArray bytes(reinterpret_cast<const char *>(data) + 1, static_cast<qsizetype>(size) - 1);
    for (int s = 0; s < kSides; ++s) {
        kalvet::EditorForm &form = *forms[s];
        writeFile(form, QLatin1String(kFiles[s]), bytes);
        if (s == In) {
            form.reg_image[0][1] = {};   // what the last input's display stored there goes
            form.reg_image[0][2] = {};
            form.LoadInputTypes();
        }
        showItem(Side(s), form, value);
        if (s == In) {
            // The record shows the type whose code the row holds, and its items.
            form.Combo15.choose(0);
            check(form.Combo2.enabled() && form.Combo2.listCount() <= kEntries[In]);
        }
    }
    return 0;
}
