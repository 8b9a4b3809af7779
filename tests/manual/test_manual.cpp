#include "common/about.h"
#include "editor/window/editor_window.h"
#include "transfer/window/form1.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

const QDir kManual(QStringLiteral(ZUK_SOURCE_DIR "/docs/manual"));

void ensureApp()
{
    static int argc = 1;
    static char *argv[] = {const_cast<char *>("test_manual"), nullptr};
    if (!QCoreApplication::instance())
        new QApplication(argc, argv);
}

QString fileText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Every entry of a window's menus, as the manual should name it: without
// the mnemonic's & and the dots of a dialog. The port menu's entries for
// the ports of the system are left out: they are the machine's.
QStringList menuEntries(QMainWindow &window)
{
    QStringList entries;
    for (QAction *top : window.menuBar()->actions()) {
        entries << top->text().remove(QLatin1Char('&'));
        for (QAction *a : top->menu()->actions())
            if (!a->isSeparator() && !a->actionGroup())
                entries << a->text().remove(QLatin1Char('&')).remove(QStringLiteral("…"));
    }
    return entries;
}

// Catches the manual being opened instead of a browser.
struct UrlCatcher : QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

}  // namespace

TEST(Manual, NamesOnlyPicturesThatExistAndEveryMenuEntryOfBothWindows)
{
    ensureApp();
    QTemporaryDir settings, folder;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    QString text;   // the words of all pages
    int pictures = 0;
    const QStringList pages = kManual.entryList({QStringLiteral("*.html")});
    ASSERT_GE(pages.size(), 3);
    static const QRegularExpression link(QStringLiteral("(src|href)=\"([^\"#:]+)[\"#]"));
    for (const QString &page : pages) {
        const QString html = fileText(kManual.filePath(page));
        for (auto m = link.globalMatch(html); m.hasNext();) {
            const auto match = m.next();
            pictures += match.captured(1) == QStringLiteral("src");
            EXPECT_TRUE(QFileInfo(kManual.filePath(match.captured(2))).isFile())
                << page.toStdString() << " names " << match.captured(2).toStdString();
        }
        QTextDocument doc;
        doc.setHtml(html);
        text += doc.toPlainText() + QLatin1Char('\n');
    }
    EXPECT_GE(pictures, 10);

    zuk::TransferSettings s;
    s.port = folder.filePath(QStringLiteral("no-such-port"));
    s.dir = folder.path();
    zuk::Form1 form(s);
    kalvet::EditorWindow editor(folder.path());   // its menus are there before the folder loads
    for (QMainWindow *window : {static_cast<QMainWindow *>(&form), static_cast<QMainWindow *>(&editor)})
        for (QString entry : menuEntries(*window)) {
            entry.remove(s.port + QLatin1Char(' '));   // "Открыть порт NAME снова" while it is not open
            EXPECT_TRUE(text.contains(entry)) << "the manual does not mention " << entry.toStdString();
        }
}

TEST(Manual, HelpMenuOpensTheManualAndTellsTheVersionAndLicences)
{
    ensureApp();
    QTemporaryDir settings, folder;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    kalvet::EditorWindow editor(folder.path());
    const zuk::HelpMenu &help = editor.helpMenu();
    EXPECT_EQ(help.manual->shortcut(), QKeySequence(Qt::Key_F1));
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    help.manual->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(QFileInfo(catcher.opened[0].toLocalFile()).canonicalFilePath(),
              QFileInfo(kManual.filePath(QStringLiteral("index.html"))).canonicalFilePath());

    const std::unique_ptr<QMessageBox> box = zuk::aboutBox(&editor, QStringLiteral("kalvet"), QStringLiteral("Программа"));
    for (const QString &part : {QStringLiteral("Версия " ZUK_VERSION), QStringLiteral("Qt " QT_VERSION_STR),
                                QStringLiteral("LGPL"), QStringLiteral("kalvet")})
        EXPECT_TRUE(box->text().contains(part)) << part.toStdString();
    EXPECT_EQ(box->buttons().size(), 2);   // Закрыть, О Qt

    // Every program answers --version with its name, version and Qt, and nothing else.
    for (const char *program : {"zuk_2", "kalvet", "zuk_sim"}) {
        const QString path = QDir(QStringLiteral(ZUK_BIN_DIR)).filePath(QLatin1String(program));
        if (!QFileInfo::exists(path))
            continue;   // zuk_sim: POSIX only
        QProcess p;
        p.start(path, {QStringLiteral("--version")});
        ASSERT_TRUE(p.waitForFinished(20000)) << program;
        EXPECT_EQ(p.exitCode(), 0) << program;
        const QString line = QString::fromUtf8(p.readAllStandardOutput());
        EXPECT_TRUE(line.startsWith(QStringLiteral("%1 " ZUK_VERSION " (сборка ").arg(QLatin1String(program))))
            << line.toStdString();
        EXPECT_TRUE(line.endsWith(QStringLiteral("Qt %1\n").arg(QLatin1String(qVersion())))) << line.toStdString();
    }
}

#include "test_manual.moc"
