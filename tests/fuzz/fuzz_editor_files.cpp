// Every file reader of the editor on the same arbitrary contents: the input
// from its second byte on is the file for each of them in turn (every file
// of the installation is a list of items). The side files read at every
// display (in_0.ini, ff.ini, bisnes.ini, uslov_0.ini, and timer.ini for the
// delay items) are written into a folder of their own and shown as one item
// holding the first input byte; the input types of in_0.ini are also shown
// as the type of an input record, whose items take their lists from the
// other side files of the sample installation. Each file has its own form,
// made once and kept from one input to the next (a new form for every input
// would cost more than the reading).
#include "editor/form.h"
#include "tests/fuzz/scratch_folder.h"

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
    int messages = 0;
    void message(const QString &) override { ++messages; }
    bool confirm(const QString &) override { return false; }
};

enum Reader { Adres, Timer, Opis, In, Ff, Bisnes, Uslov, Names, Scenarios, Image, kReaders };

QTemporaryDir *folder = nullptr;
CountingHost host;
std::array<kalvet::EditorForm *, kReaders> forms{};

// Gives the file its contents, in the folder of the form.
void writeFile(kalvet::EditorForm &form, const QString &name, const QByteArray &bytes)
{
    const int fd = ::open(QFile::encodeName(form.filePath(name)).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size() || ::close(fd) != 0)
        std::abort();
}

// The item of kind at row 1, byte 0 of controller 0, holding value; whatever
// its file, the list is no longer than the entries of the kind, and the entry
// of the value is selected when the list has it, else the value is shown.
QString showItem(kalvet::EditorForm &form, const QString &kind, qint16 value, int entries)
{
    form.reg_image[0][1][0] = value;
    kalvet::ComboBox &combo = form.Combo1[0];
    const QString word = form.ShowItem(combo, kind, 0, 1, 0);
    check(combo.enabled() && combo.listCount() <= entries);
    if (kind != QStringLiteral("in")) {
        check(value < combo.listCount() ? combo.listIndex() == value
                                        : combo.listIndex() == -1 && combo.text() == QString::number(value));
        check(form.reg_image[0][1][0] == value);
    }
    return word;
}

// The data file readers: a failure comes with its text, success with none.
void checkDataFile(bool ok, const QString &failure)
{
    check(ok == failure.isEmpty());
}

void read(Reader reader, kalvet::EditorForm &form, const QByteArray &bytes, qint16 value)
{
    QString failure;
    switch (reader) {
    case Adres:
        // Eight controllers, or as many as were read and one message.
        form.LoadControllerList(bytes);
        check(form.Combo3.listCount() <= 8 && host.messages == (form.Combo3.listCount() < 8 ? 1 : 0));
        break;
    case Timer: {
        // Every delay box the same list, one message when short; the delay
        // item of a record lists the same texts.
        form.LoadDelayTexts(bytes);
        const QStringList texts = form.Combo14[0].items();
        for (const kalvet::ComboBox &box : form.Combo14)
            check(box.items() == texts);
        check(texts.size() <= 254 && host.messages == (texts.size() < 254 ? 1 : 0));
        writeFile(form, QStringLiteral("timer.ini"), bytes);
        showItem(form, QStringLiteral("timer"), value, 254);
        check(form.Combo1[0].items() == texts);
        break;
    }
    case Opis:
        // A problem of the file is told, once for the same contents (the
        // form remembers what it told for the last input).
        form.LoadDescriptions(bytes);
        check(form.Combo15.listCount() <= 80 && host.messages <= (form.Combo15.listCount() < 80 ? 1 : 0));
        break;
    case In:
        // The types as loaded, then an input record of row 1 on them: the
        // record shows the type whose code the row holds and its items.
        writeFile(form, QStringLiteral("in_0.ini"), bytes);
        form.reg_image[0][1] = {};   // what the last input's display stored there goes
        form.reg_image[0][2] = {};
        form.LoadInputTypes();
        showItem(form, QStringLiteral("in"), value, 61);
        form.Combo15.choose(0);
        check(form.Combo2.enabled() && form.Combo2.listCount() <= 61);
        break;
    case Ff:
        writeFile(form, QStringLiteral("ff.ini"), bytes);
        showItem(form, QStringLiteral("ff"), value, 256);
        break;
    case Bisnes:
        writeFile(form, QStringLiteral("bisnes.ini"), bytes);
        showItem(form, QStringLiteral("bisnes"), value, 256);
        break;
    case Uslov: {
        // The chosen condition's letter names the kind of the next item.
        writeFile(form, QStringLiteral("uslov_0.ini"), bytes);
        const QString word = showItem(form, QStringLiteral("uslov"), value, 256);
        check(word.isEmpty() || word == QStringLiteral("ff") || word == QStringLiteral("in")
              || word == QStringLiteral("timer"));
        break;
    }
    case Names:
        checkDataFile(form.LoadNames(bytes, &failure), failure);
        break;
    case Scenarios:
        checkDataFile(form.LoadScenarios(bytes, &failure), failure);
        break;
    case Image:
        checkDataFile(form.LoadImage(bytes, &failure), failure);
        break;
    case kReaders:
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    folder = newScratchFolder(QStringLiteral("fuzz_editor_files"));
    for (int r = 0; r < kReaders; ++r) {
        const QString path = QDir(folder->path()).filePath(QString::number(r));
        if (!QDir().mkpath(path))
            std::abort();
        forms[r] = new kalvet::EditorForm(path, &host);
    }
    // An input record of row 1 (its selector cell is byte 0 there), to be
    // shown on the types of in_0.ini, with the other side files as they are.
    kalvet::EditorForm &in = *forms[In];
    const QDir sample(QStringLiteral(ZUK_SOURCE_DIR "/examples/installation"));
    for (const char *name : {"ff.ini", "bisnes.ini", "uslov_0.ini", "timer.ini"})
        if (!QFile::copy(sample.filePath(QLatin1String(name)), in.filePath(QLatin1String(name))))
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
    for (int r = 0; r < kReaders; ++r) {
        host.messages = 0;
        read(static_cast<Reader>(r), *forms[r], bytes, value);
    }
    return 0;
}
