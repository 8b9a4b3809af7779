// The readers of the files the editor loads (controller list, delay texts,
// description records, image, names, scenarios), each on the same arbitrary
// contents: the input is the file for each of them in turn (every file of
// the installation is a list of items). One form, made once, is read into
// again and again; what one reader fills no other touches. The side files
// read at every display: fuzz_editor_side_files.
#include "editor/core/form.h"

#include <QCoreApplication>
#include <cstdlib>

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

CountingHost host;
kalvet::EditorForm *form = nullptr;

// The data file readers: a failure comes with its text, success with none.
void checkDataFile(bool ok, const QString &failure)
{
    check(ok == failure.isEmpty());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    form = new kalvet::EditorForm(QString(), &host);   // reads no file itself
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    // adres.ini: eight controllers, or as many as were read and one message.
    host.messages = 0;
    form->LoadControllerList(bytes);
    check(form->Combo3.listCount() <= 8 && host.messages == (form->Combo3.listCount() < 8 ? 1 : 0));

    // timer.ini: every delay box the same list, one message when short.
    host.messages = 0;
    form->LoadDelayTexts(bytes);
    const QStringList texts = form->Combo14[0].items();
    for (const kalvet::ComboBox &box : form->Combo14)
        check(box.items() == texts);
    check(texts.size() <= 254 && host.messages == (texts.size() < 254 ? 1 : 0));

    // opis_0.ini: a problem of the file is told, once for the same contents
    // (the form remembers what it told for the last input).
    host.messages = 0;
    form->LoadDescriptions(bytes);
    check(form->Combo15.listCount() <= 80 && host.messages <= (form->Combo15.listCount() < 80 ? 1 : 0));

    QString failure;
    checkDataFile(form->LoadImage(bytes, &failure), failure);
    failure.clear();
    checkDataFile(form->LoadNames(bytes, &failure), failure);
    failure.clear();
    checkDataFile(form->LoadScenarios(bytes, &failure), failure);
    return 0;
}
