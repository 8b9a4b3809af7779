// Files on disk as a hostile user leaves them: special files, huge files and
// items, planted names, saves that fail half-way, leftovers of a kill.
#include "common/files.h"
#include "common/image_file.h"
#include "common/text_file.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSet>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#ifndef _WIN32   // links, FIFOs, modes and the superuser: POSIX only
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace zuk;

namespace {

QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}

void put(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// Every entry of the folder, so that a leftover temporary shows.
QStringList entries(const QTemporaryDir &dir)
{
    return QDir(dir.path()).entryList(QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
}

struct FaultGuard {
    FaultGuard(SaveStep step, const QString &name) { injectSaveFault(step, name); }
    ~FaultGuard() { clearSaveFault(); }
};

}  // namespace

TEST(HostileFiles, SpecialOrHugeFilesAreLoadFailuresAtOnce)
{
    QTemporaryDir dir;
    const QString big = dir.filePath("big.txt");
    put(big, QByteArray(5 * 1024 * 1024, '1'));
    struct Case { QString path; const char *why; };
    std::vector<Case> cases = {
        {dir.path(), "не обычный файл"}, {big, "больше 4 МиБ"}, {dir.filePath("missing.txt"), "missing.txt"},
    };
#ifndef _WIN32
    const QString zero = dir.filePath("zero.txt"), fifo = dir.filePath("fifo.txt");
    ASSERT_TRUE(QFile::link("/dev/zero", zero));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    cases.push_back({zero, "не обычный файл"});
    cases.push_back({fifo, "не обычный файл"});
#endif
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        QElapsedTimer clock;
        clock.start();
        RegisterImage image{};
        const ImageLoadResult r = loadImageFile(c.path, image);
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.failure.contains(c.why)) << r.failure.toStdString();
    }
    // Just below the limit still loads (as far as its items go).
    put(big, QByteArray(kMaxLoadBytes, ' '));
    QByteArray bytes;
    QString error;
    EXPECT_TRUE(readFileBytes(big, &bytes, &error)) << error.toStdString();
    EXPECT_EQ(bytes.size(), kMaxLoadBytes);
    // Read into the same array again, a small file gives its own bytes only.
    put(big, "1,2\r\n");
    EXPECT_TRUE(readFileBytes(big, &bytes, &error));
    EXPECT_EQ(bytes, QByteArray("1,2\r\n"));
}

TEST(HostileFiles, MessagesQuoteAShortVisiblePieceAndCountInRussian)
{
    // A 10 MB bad item with an escape sequence at its start.
    ItemReader r(QStringLiteral("\x1b[2J") + QString(10'000'000, u'7') + QStringLiteral("x\r\n"));
    qint16 v = 0;
    EXPECT_FALSE(r.readNumber(&v));
    const QString text = r.failureText();
    EXPECT_LT(text.size(), 200);
    EXPECT_TRUE(text.contains(QStringLiteral("\\x1B[2J7777"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QChar(0x2026)));
    EXPECT_FALSE(text.contains(QChar(0x1b)));
    EXPECT_EQ(visibleText(QStringLiteral("a\tb\r\n\x7f\u0085й"), 40), QStringLiteral("a\\tb\\r\\n\\x7F\\x85й"));
    EXPECT_EQ(visibleText(QStringLiteral("abcdef"), 6), QStringLiteral("abcdef"));

    const QString forms[3] = {"элемент", "элемента", "элементов"};
    const std::pair<int, int> counts[] = {{0, 2}, {1, 0}, {2, 1}, {4, 1}, {5, 2}, {11, 2}, {12, 2},
                                          {14, 2}, {21, 0}, {22, 1}, {111, 2}, {101, 0}, {1004, 1}};
    for (auto [n, form] : counts)
        EXPECT_EQ(russianPlural(n, forms[0], forms[1], forms[2]), forms[form]) << n;
    ItemReader one(QStringLiteral("5"));
    EXPECT_TRUE(one.readNumber(&v));
    EXPECT_FALSE(one.readNumber(&v));
    EXPECT_TRUE(one.failureText().endsWith(QStringLiteral("прочитано 1 элемент"))) << one.failureText().toStdString();
}

TEST(Saving, FilesReplacedTogetherOrNotAtAllWhateverStepFails)
{
    QTemporaryDir dir;
    const QString a = dir.filePath("zuk.txt"), b = dir.filePath("szenar.txt"), c = dir.filePath("out_in_ik.txt");
    QString error;
    // Created where none existed, then replaced: this system's rename replaces.
    ASSERT_TRUE(saveFilesTogether({{a, "A1"}, {b, "B1"}, {c, "C1"}}, &error)) << error.toStdString();
    ASSERT_TRUE(saveFilesTogether({{a, "A2"}, {b, "B2"}, {c, "C2"}}, &error)) << error.toStdString();
    EXPECT_EQ(QList({bytesOf(a), bytesOf(b), bytesOf(c)}), QList<QByteArray>({"A2", "B2", "C2"}));
    QStringList files = entries(dir);
#ifndef _WIN32
    // A replaced file keeps its permissions; a new one is readable by all.
    EXPECT_TRUE(QFile::setPermissions(b, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
    const QFileDevice::Permissions oldPermissions = QFileInfo(b).permissions();
    ASSERT_TRUE(saveFilesTogether({{a, "A2"}, {b, "B2"}, {c, "C2"}}, &error)) << error.toStdString();
    EXPECT_EQ(QFileInfo(b).permissions(), oldPermissions);
    EXPECT_TRUE(QFileInfo(a).permissions() & QFileDevice::ReadOther);

    // A planted link under the old fixed temporary name leads nowhere now.
    const QString outside = QDir(dir.path()).filePath("../outside-" + QFileInfo(dir.path()).fileName());
    put(outside, "keep");
    ASSERT_TRUE(QFile::link(outside, a + ".new"));
    files << "zuk.txt.new";
#endif

    const struct { SaveStep step; const char *file; } faults[] = {
        {SaveStep::Write, "out_in_ik.txt"}, {SaveStep::Flush, "szenar.txt"}, {SaveStep::Flush, "out_in_ik.txt"},
        {SaveStep::Rename, "zuk.txt"}, {SaveStep::Rename, "szenar.txt"}, {SaveStep::Rename, "out_in_ik.txt"},
    };
    for (const auto &f : faults) {
        SCOPED_TRACE(std::string(f.file) + " step " + std::to_string(int(f.step)));
        FaultGuard fault(f.step, f.file);
        EXPECT_FALSE(saveFilesTogether({{a, "A3"}, {b, "B3"}, {c, "C3"}}, &error));
        EXPECT_TRUE(error.contains(f.file)) << error.toStdString();
        EXPECT_EQ(QList({bytesOf(a), bytesOf(b), bytesOf(c)}), QList<QByteArray>({"A2", "B2", "C2"}));
        EXPECT_EQ(entries(dir).join(' ').toStdString(), files.join(' ').toStdString());
        if (f.step == SaveStep::Rename && QString(f.file) != "zuk.txt") {
            EXPECT_TRUE(error.contains("восстановлены")) << error.toStdString();
        }
    }
    // A file that did not exist before is removed again when a later rename fails.
    {
        FaultGuard fault(SaveStep::Rename, "c2.txt");
        EXPECT_FALSE(saveFilesTogether({{dir.filePath("c1.txt"), "1"}, {dir.filePath("c2.txt"), "2"}}, &error));
        EXPECT_FALSE(QFile::exists(dir.filePath("c1.txt")));
    }
    ASSERT_TRUE(saveFilesTogether({{a, "A4"}, {b, "B4"}, {c, "C4"}}, &error)) << error.toStdString();
    EXPECT_EQ(bytesOf(a), "A4");
#ifndef _WIN32
    EXPECT_EQ(bytesOf(outside), "keep");
    QFile::remove(outside);
#endif

    // One file: saveFileAtomically; a missing folder is named.
    EXPECT_FALSE(saveFileAtomically(dir.filePath("none/zuk.txt"), "x", &error));
    EXPECT_TRUE(error.contains("не найдена")) << error.toStdString();
    {
        FaultGuard fault(SaveStep::Flush, "zuk.txt");
        EXPECT_FALSE(saveFileAtomically(a, "A5", &error));
        EXPECT_EQ(bytesOf(a), "A4");
    }
#ifndef _WIN32
    if (::geteuid() != 0) {   // root writes into a read-only folder all the same
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0500), 0);
        EXPECT_FALSE(saveFileAtomically(a, "A6", &error));
        EXPECT_TRUE(error.contains("недоступна для записи")) << error.toStdString();
        ::chmod(QFile::encodeName(dir.path()).constData(), 0700);
    }
#endif
}

#ifndef _WIN32
TEST(Saving, ThroughLinksTheFileAtTheEndIsReplacedAndAReadOnlyFileNever)
{
    QTemporaryDir dir, far;
    const QString real = far.filePath("real.txt"), names = far.filePath("names.txt");
    const QString zuk = dir.filePath("zuk.txt"), out = dir.filePath("out_in_ik.txt"), chain = dir.filePath("chain.txt");
    put(real, "old");
    ASSERT_TRUE(QFile::link(real, zuk));
    const QByteArray relative = QFile::encodeName("../" + QFileInfo(far.path()).fileName() + "/names.txt");
    ASSERT_EQ(::symlink(relative.constData(), QFile::encodeName(out).constData()), 0);   // from the link's folder
    ASSERT_EQ(::symlink("zuk.txt", QFile::encodeName(chain).constData()), 0);           // chain -> zuk.txt -> real.txt
    QString error;
    ASSERT_TRUE(saveFilesTogether({{zuk, "A"}, {out, "B"}}, &error)) << error.toStdString();
    EXPECT_EQ(bytesOf(real), "A");
    EXPECT_EQ(bytesOf(names), "B");
    ASSERT_TRUE(saveFileAtomically(chain, "C", &error)) << error.toStdString();
    EXPECT_EQ(bytesOf(real), "C");
    for (const QString &link : {zuk, out, chain})
        EXPECT_TRUE(QFileInfo(link).isSymLink()) << link.toStdString();
    EXPECT_EQ(QFileInfo(chain).symLinkTarget(), zuk);
    EXPECT_EQ(entries(dir).join(' ').toStdString(), "chain.txt out_in_ik.txt zuk.txt");   // no temporary anywhere
    EXPECT_EQ(entries(far).join(' ').toStdString(), "names.txt real.txt");
    QString copy;   // the copy of a damaged file lies beside the file itself
    ASSERT_TRUE(keepCopyBeside(zuk, &copy, &error)) << error.toStdString();
    EXPECT_EQ(QFileInfo(copy).canonicalPath(), QFileInfo(far.path()).canonicalFilePath());
    EXPECT_EQ(bytesOf(copy), "C");
    QFile::remove(copy);

    // A link to a file not there yet makes it there; into a missing folder or
    // round in a loop it is refused, in Russian.
    const QString fresh = dir.filePath("fresh.txt"), lost = dir.filePath("lost.txt"), loop = dir.filePath("loop.txt");
    ASSERT_TRUE(QFile::link(far.filePath("new.txt"), fresh));
    ASSERT_TRUE(QFile::link(far.filePath("gone/new.txt"), lost));
    ASSERT_TRUE(QFile::link(loop, loop));
    ASSERT_TRUE(saveFileAtomically(fresh, "N", &error)) << error.toStdString();
    EXPECT_EQ(bytesOf(far.filePath("new.txt")), "N");
    EXPECT_TRUE(QFileInfo(fresh).isSymLink());
    EXPECT_FALSE(saveFileAtomically(lost, "L", &error));
    EXPECT_TRUE(error.contains(far.filePath("gone"))) << error.toStdString();
    EXPECT_TRUE(error.contains("не найдена")) << error.toStdString();
    EXPECT_FALSE(saveFileAtomically(loop, "L", &error));
    EXPECT_TRUE(error.contains("символических ссылок")) << error.toStdString();

    // No write permission bit for anybody: never replaced (root included),
    // and nothing of a save together is written.
    const QString scenarios = dir.filePath("szenar.txt");
    put(scenarios, "S");
    ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), 0444), 0);
    EXPECT_FALSE(saveFilesTogether({{scenarios, "S2"}, {zuk, "D"}}, &error));
    for (const QString &part : {zuk, real, QStringLiteral("только для чтения")})
        EXPECT_TRUE(error.contains(part)) << part.toStdString() << " not in " << error.toStdString();
    EXPECT_EQ(bytesOf(real), "C");
    EXPECT_EQ(bytesOf(scenarios), "S");
    ASSERT_EQ(::chmod(QFile::encodeName(scenarios).constData(), 0555), 0);
    EXPECT_FALSE(saveFileAtomically(scenarios, "S3", &error));
    EXPECT_TRUE(error.contains(scenarios)) << error.toStdString();
    EXPECT_TRUE(error.contains("только для чтения")) << error.toStdString();
    EXPECT_EQ(bytesOf(scenarios), "S");
    ASSERT_EQ(::chmod(QFile::encodeName(scenarios).constData(), 0464), 0);   // the group may write
    EXPECT_TRUE(saveFileAtomically(scenarios, "S4", &error)) << error.toStdString();
    EXPECT_EQ(entries(dir).join(' ').toStdString(), "chain.txt fresh.txt loop.txt lost.txt out_in_ik.txt szenar.txt zuk.txt");
}

#endif

// An option naming a file to write must never name one of the installation,
// however the path is spelt.
TEST(InstallationFiles, AFileOfTheFolderIsKnownUnderEveryName)
{
    QTemporaryDir dir, far;
    put(dir.filePath("zuk.txt"), "image");
    put(far.filePath("scenarios.txt"), "scenarios");
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
    const QString zuk = "файл установки zuk.txt";
    struct Case { QString path, what; };
    std::vector<Case> cases = {
        {"zuk.txt", zuk}, {"./zuk.txt", zuk}, {"sub/../zuk.txt", zuk}, {dir.filePath("zuk.txt"), zuk},
        {"adres.ini", "файл установки adres.ini"}, {"uslov_0.ini", "файл установки uslov_0.ini"},
        {"zuk.txt.bak-20260101-120000-2", "копия файла zuk.txt"},
        {"out_in_ik.txt.tmp-Ab3xY9", "временный файл записи out_in_ik.txt"},
        {"history/zuk-20261209-135001.txt", "файл папки history (прежние образы zuk.txt)"},
        {"sub/../history/report.json", "файл папки history (прежние образы zuk.txt)"},
        {"report.json", ""}, {"zuk.txt.backup", ""}, {"zuk.txt.tmp-Ab3xY", ""}, {"sub/zuk.txt", ""},
        {far.filePath("zuk.txt"), ""}, {dir.filePath("gone/zuk.txt"), ""},
    };
#ifdef _WIN32
    // Names differ in case only, and the separators are the system's.
    cases.insert(cases.end(), {{"ZUK.TXT", zuk}, {"sub\\..\\Zuk.Txt", zuk}, {"SZENAR.TXT.TMP-Ab3xY9", "временный файл записи szenar.txt"}});
#else
    ASSERT_TRUE(QFile::link(dir.filePath("zuk.txt"), far.filePath("alias.txt")));
    ASSERT_TRUE(QFile::link(dir.filePath("sub"), far.filePath("up")));
    ASSERT_TRUE(QFile::link(far.path(), dir.filePath("away")));
    ASSERT_TRUE(QFile::link(far.filePath("scenarios.txt"), dir.filePath("szenar.txt")));   // kept elsewhere
    ASSERT_EQ(::link(QFile::encodeName(dir.filePath("zuk.txt")).constData(),
                     QFile::encodeName(far.filePath("hard.txt")).constData()), 0);
    cases.insert(cases.end(), {
        {far.filePath("alias.txt"), zuk}, {far.filePath("hard.txt"), zuk},
        {far.filePath("up/../zuk.txt"), zuk},    // "up" is dir/sub: its ".." is dir
        {"away/../zuk.txt", ""},                 // "away" is far: its ".." is not dir
        {far.filePath("scenarios.txt"), "файл установки szenar.txt"},
        {far.filePath("scenarios.txt.tmp-Ab3xY9"), "временный файл записи szenar.txt"},
    });
#endif
    // A folder a program keeps to itself counts only for the program that names it.
    const OwnFolder history{"history", "файл папки history (прежние образы zuk.txt)"};
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    for (const auto &c : cases)
        EXPECT_EQ(installationFileAt(dir.path(), c.path, {history}), c.what) << c.path.toStdString();
    EXPECT_EQ(installationFileAt(dir.path(), "history/zuk-20261209-135001.txt"), "");
    QDir::setCurrent(before);
}

TEST(Saving, DamagedImageIsKeptBesideNeverOverwritten)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("zuk.txt");
    QString notice;
    EXPECT_TRUE(keepDamagedImage(path, &notice));   // no file: nothing to keep
    EXPECT_TRUE(notice.isEmpty());
    put(path, "\"damaged\r\n");
    ASSERT_TRUE(keepDamagedImage(path, &notice)) << notice.toStdString();
    put(path, "\"damaged again\r\n");
    ASSERT_TRUE(keepDamagedImage(path, &notice)) << notice.toStdString();
    const QStringList copies = QDir(dir.path()).entryList({"zuk.txt.bak-*"}, QDir::Files, QDir::Name);
    ASSERT_EQ(copies.size(), 2);
    for (const QString &copy : copies)
        EXPECT_TRUE(QRegularExpression("^zuk\\.txt\\.bak-\\d{8}-\\d{6}(-\\d+)?$").match(copy).hasMatch()) << copy.toStdString();
    EXPECT_TRUE(notice.contains(copies.last()) || notice.contains(copies.first())) << notice.toStdString();
    QSet<QByteArray> kept;
    for (const QString &copy : copies)
        kept << bytesOf(dir.filePath(copy));
    EXPECT_EQ(kept, (QSet<QByteArray>{"\"damaged\r\n", "\"damaged again\r\n"}));
    EXPECT_EQ(entries(dir).size(), 3);   // no temporary left

#ifndef _WIN32
    // A special file holds no image: nothing is kept, the save may go on.
    QFile::remove(path);
    ASSERT_TRUE(QFile::link("/dev/zero", path));
    EXPECT_TRUE(keepDamagedImage(path, &notice));
    EXPECT_EQ(entries(dir).size(), 3);
#endif
}

TEST(Saving, LeftoverTemporariesOfAKillGoAtTheNextStart)
{
    QTemporaryDir dir;
    // A user's own zuk.txt.backup or zuk.txt.old123 is no temporary of ours.
    const QStringList names = {"zuk.txt.tmp-Ab3xY9", "szenar.txt.tmp-000000", "zuk.txt.tmp-Ab3xY",
                               "zuk.txt.bak-20260101-120000", "zuk.txt.backup", "zuk.txt.old123",
                               "zuk.txt.tmp-Ab3xY9z", "other.txt.tmp-abcdef", "zuk.txt"};
    for (const QString &n : names)
        put(dir.filePath(n), "x");
    const QDateTime start = QDateTime::currentDateTime().addSecs(5);
    QFile newer(dir.filePath("zuk.txt.tmp-NEWER1"));   // written by a run that started later
    ASSERT_TRUE(newer.open(QIODevice::WriteOnly));
    ASSERT_TRUE(newer.setFileTime(start.addSecs(5), QFileDevice::FileModificationTime));
    newer.close();
    EXPECT_EQ(removeLeftoverTemporaries(dir.path(), {"zuk.txt", "szenar.txt"}, start), 2);
    EXPECT_EQ(entries(dir).join(' ').toStdString(),
              "other.txt.tmp-abcdef zuk.txt zuk.txt.backup zuk.txt.bak-20260101-120000 zuk.txt.old123 "
              "zuk.txt.tmp-Ab3xY zuk.txt.tmp-Ab3xY9z zuk.txt.tmp-NEWER1");

#ifndef _WIN32
    // A name that is a link has its temporaries beside the file it points to.
    QTemporaryDir far;
    for (const QString n : {"real.txt", "real.txt.tmp-Ab3xY9", "real.txt.tmp-mine"})
        put(far.filePath(n), "x");
    ASSERT_TRUE(QFile::link(far.filePath("real.txt"), dir.filePath("szenar.txt")));
    EXPECT_EQ(removeLeftoverTemporaries(dir.path(), {"zuk.txt", "szenar.txt"}, start), 1);
    EXPECT_EQ(entries(far).join(' ').toStdString(), "real.txt real.txt.tmp-mine");
#endif
}
