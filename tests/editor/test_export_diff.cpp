// The installation on paper and the differences of two images: kalvet itself
// run with --export and --diff (without a display and without
// QT_QPA_PLATFORM), and the display-only form behind them.
#include "fixture.h"

#include "editor/core/installation_view.h"
#include "editor/core/editor_options.h"
#include "editor/window/editor_window.h"

#include "common/address_map.h"

#include <QProcess>
#include <QRegularExpression>

using namespace kalvet_test;

namespace {

struct Finished {
    int code;
    QString out, err;
};

Finished kalvetRun(const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(name);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(ZUK_BIN_DIR "/kalvet"), args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit)
        return {-1, {}, QStringLiteral("kalvet did not finish")};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

QString pdfText(const QString &pdf, int lastPage = 0)
{
    QProcess p;
    QStringList args{"-raw"};
    if (lastPage > 0)
        args << "-l" << QString::number(lastPage);
    p.start("pdftotext", args << pdf << "-");
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return QStringLiteral("(pdftotext of poppler-utils failed; scripts/setup installs it)");
    return QString::fromUtf8(p.readAllStandardOutput()).simplified();   // line breaks of cells as spaces
}

int zukLine(int slot, int row, int byte) { return slot * 541 + 2 + 9 * row + byte; }   // slots 0..7

const QStringList kAllFiles = {"zuk.txt",  "out_in_ik.txt", "szenar.txt", "adres.ini",  "timer.ini",
                               "opis_0.ini", "in_0.ini",    "ff.ini",     "bisnes.ini", "uslov_0.ini"};

}  // namespace

TEST(EditorExport, PdfOfTheSampleHoldsEveryInputRowAndLocationAsTheWindowShowsThemAndWritesNothingElse)
{
    StartedEditor e;   // what the window shows, from a form of its own
    auto &f = *e.form;
    QTemporaryDir out;
    const QString pdf = out.filePath("установка.pdf");
    const Finished run = kalvetRun({"--export", pdf, "--dir", e.inst.folder()});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    const QString first = pdfText(pdf, 1);
    for (const QString &part : {QDir::toNativeSeparators(e.inst.folder()), QString("zuk.txt, out_in_ik.txt, szenar.txt"),
                                QDate::currentDate().toString("dd.MM.yyyy")})
        EXPECT_TRUE(first.contains(part)) << part.toStdString();
    const QString paper = pdfText(pdf);
    for (int c = 0; c < 8; ++c) {
        f.Combo3.choose(c);
        EXPECT_TRUE(paper.contains(f.names.ctrl_location[c].simplified())) << c;
        for (int k = 0; k < 14; ++k) {
            f.Combo15.choose(k);   // records 0..13 are the inputs' records
            const int box = k >= 1 && k <= 11 ? k - 1 : k == 13 ? 11 : -1;
            const QString row = (zuk::hexText(k) + ' ' + f.names.in_name[c][k] + ' ' + f.Combo2.text() + ' '
                                 + (box >= 0 ? f.Combo14[box].text() : QString("—")))
                                    .simplified();
            EXPECT_TRUE(paper.contains(row)) << c << ": " << row.toStdString();
        }
    }
    for (const QString &name : kAllFiles)
        EXPECT_EQ(e.inst.bytes(name), Installation::original(name)) << name.toStdString();
    EXPECT_EQ(QDir(e.inst.folder()).entryList(QDir::Files).size(), kAllFiles.size() + 1);   // and the README
}

TEST(EditorExport, TheCopyStoresNothingAndASaveAfterAnExportWritesTheSameFiles)
{
    guiApp();
    Installation inst;
    RecordingHost host;
    kalvet::EditorWindow w(inst.folder(), &host);
    w.start();
    auto &f = w.form();
    QTemporaryDir out;
    ASSERT_TRUE(w.exportTo(out.filePath("x.html")));
    EXPECT_TRUE(QFile(out.filePath("x.html")).size() > 10000);
    f.Command2_Click();
    for (const QString &name : kAllFiles)
        EXPECT_EQ(inst.bytes(name), Installation::original(name)) << name.toStdString();
    EXPECT_TRUE(host.messages.isEmpty()) << host.all().toStdString();

    // A byte the display would change (an "in" item of record 2, type 52, at
    // offset 14, holding a code no type has) stays; the paper shows what the
    // window would show for it.
    f.reg_image[0][6][6] = 200;
    kalvet::DisplayCopy copy(f);
    const kalvet::InstallationView view = copy.installation();
    EXPECT_EQ(copy.form().reg_image, f.reg_image);
    const std::vector<kalvet::ShownEntry> &items = view.controllers.at(0).records.at(2).items;
    const auto item = std::find_if(items.begin(), items.end(), [](const auto &i) { return i.at == kalvet::BytePlace{0, 6, 6}; });
    ASSERT_NE(item, items.end());
    EXPECT_EQ(item->entry, inst.items("in_0.ini")[60 * 38]);   // the last input type
    // A file of the installation is never the export.
    EXPECT_FALSE(w.exportTo(inst.path("zuk.txt")));
    EXPECT_TRUE(host.all().contains("zuk.txt")) << host.all().toStdString();
    EXPECT_EQ(inst.bytes("zuk.txt"), Installation::original("zuk.txt"));
}

TEST(EditorDiff, ADelayAnInputTypeAndAByteNoRecordShowsGiveThreeLinesInTheWindowsWords)
{
    StartedEditor e;
    auto &f = *e.form;
    const int delay = f.reg_image[0][58][3], otherDelay = (delay + 5) % 254, zero3 = f.reg_image[0][0][3];
    QStringList z = e.inst.text("zuk.txt").split("\r\n");
    z[zukLine(0, 58, 3)] = QString::number(otherDelay);   // the delay of input 3
    z[zukLine(0, 5, 0)] = "10";                           // input 2: type 1 (code 10) instead of type 52
    z[zukLine(0, 0, 3)] = "77";                           // register 0: no record shows it
    e.inst.writeText("other.txt", z.join("\r\n"));
    const QString a = e.inst.path("zuk.txt"), b = e.inst.path("other.txt");
    const Finished run = kalvetRun({"--diff", a, b, "--dir", e.inst.folder()});
    EXPECT_EQ(run.code, 1) << run.err.toStdString();
    const QStringList types = e.inst.items("in_0.ini"), delays = e.inst.items("timer.ini");
    const QString who = QString("контроллер 0 «%1» (%2): ").arg(f.Combo3.item(0), f.names.ctrl_location[0]);
    EXPECT_EQ(run.out.split('\n', Qt::SkipEmptyParts),
              (QStringList{who + QString("регистр 0 байт 3: %1 → 77").arg(zero3),
                           who + QString("запись «%1», «%2»: «%3» → «%4»")
                                     .arg(f.Combo15.item(2), f.desc_table[2][1], types[52 * 38], types[1 * 38]),
                           who + QString("задержка входа 3: «%1» → «%2»").arg(delays[delay], delays[otherDelay]),
                           "различий: 3"}));
    const Finished same = kalvetRun({"--diff", a, a, "--dir", e.inst.folder()});
    EXPECT_EQ(std::pair(same.code, same.out), std::pair(0, QString("различий: 0\n")));
    e.inst.writeText("short.txt", z.mid(0, 3000).join("\r\n"));
    const Finished cut = kalvetRun({"--diff", a, e.inst.path("short.txt"), "--dir", e.inst.folder()});
    EXPECT_EQ(std::pair(cut.code, cut.out), std::pair(2, QString()));
    EXPECT_TRUE(cut.err.contains(QDir::toNativeSeparators(e.inst.path("short.txt"))) && cut.err.contains("не полностью"))
        << cut.err.toStdString();
}

TEST(EditorOptions, HelpIsRussianAndNamesEveryOptionAndMistakesAreRefused)
{
    const Finished help = kalvetRun({"--help"});
    EXPECT_EQ(std::pair(help.code, help.out), std::pair(0, kalvet::kalvetUsage()));
    for (const char *part : {"Использование", "--dir FOLDER", "--export FILE", "--diff FILE_A FILE_B", "-h, --help", "Коды завершения"})
        EXPECT_TRUE(help.out.contains(part)) << part;
    kalvet::KalvetOptions o;
    QString error;
    ASSERT_TRUE(kalvet::parseKalvetOptions({"--diff", "a.txt", "b.txt", "-dir", "d"}, &o, &error)) << error.toStdString();
    EXPECT_EQ(std::tuple(o.mode, o.diffA, o.diffB, o.dir), std::tuple(kalvet::KalvetOptions::Mode::Diff, QString("a.txt"), QString("b.txt"), QString("d")));
    ASSERT_TRUE(kalvet::parseKalvetOptions({"--export=x.pdf", "--dir=d"}, &o, &error));
    EXPECT_EQ(std::tuple(o.mode, o.exportFile, o.dir), std::tuple(kalvet::KalvetOptions::Mode::Export, QString("x.pdf"), QString("d")));
    for (const QStringList &bad : QList<QStringList>{{"--diff", "a"}, {"--export"}, {"--export", "x.pdf", "--diff", "a", "b"},
                                                     {"--frob"}, {"extra"}, {"--dir"}}) {
        error.clear();
        EXPECT_FALSE(kalvet::parseKalvetOptions(bad, &o, &error)) << bad.join(' ').toStdString();
        EXPECT_TRUE(error.contains(QRegularExpression("[а-я]"))) << error.toStdString();
    }
    EXPECT_EQ(kalvetRun({"--frob"}).code, 2);
}
