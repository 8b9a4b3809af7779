// The editor's start-up and load on a folder made from the input, then every
// record of every controller shown. The input is cut at NUL bytes (which no
// file of the installation holds) into the seven reference files and the
// three data files, in the order of kFiles; files the input does not reach
// are missing from the folder. This goes deep and slowly; the file readers
// and the display of one record are fuzzed fast by fuzz_editor_files,
// fuzz_editor_side_files and fuzz_editor_record.
#include "editor/core/form.h"
#include "scratch_folder.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdlib>
#include <memory>

namespace {

const char *const kFiles[] = {"adres.ini", "timer.ini",  "opis_0.ini",  "in_0.ini",      "ff.ini",
                              "bisnes.ini", "uslov_0.ini", "zuk.txt", "out_in_ik.txt", "szenar.txt"};

struct QuietHost : kalvet::EditorHost {
    int messages = 0;
    void message(const QString &) override { ++messages; }
    bool confirm(const QString &) override { return false; }
};

QTemporaryDir *folder = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    folder = newScratchFolder(QStringLiteral("fuzz_editor"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QList<QByteArray> parts = input.split('\0');
    const QDir dir(folder->path());
    for (size_t i = 0; i < std::size(kFiles); ++i) {
        const QString path = dir.filePath(QString::fromLatin1(kFiles[i]));
        QFile::remove(path);
        if (i < static_cast<size_t>(parts.size())) {
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly) || f.write(parts[qsizetype(i)]) != parts[qsizetype(i)].size())
                std::abort();
        }
    }

    QuietHost host;
    auto form = std::make_unique<kalvet::EditorForm>(folder->path(), &host);
    form->Startup();
    for (int c = 0; c < form->Combo3.listCount(); ++c) {
        form->Combo3.choose(c);
        for (int rec = 0; rec < form->Combo15.listCount(); ++rec)
            form->Combo15.choose(rec);
    }
    // The input types of the first input record, each one shown.
    form->Combo3.choose(0);
    if (form->Combo15.listCount() > 0) {
        form->Combo15.choose(0);
        for (int t = 0; t < form->Combo2.listCount(); ++t)
            form->Combo2.choose(t);
    }
    return 0;
}
