// The pictures of the user manual, taken from the real windows:
//   manual_shots OUTPUT_FOLDER
// and the timing of a reading run of the window over a real line, as a new
// user starts it (the remembered choices of nobody), with $87 and $9D ticked
// besides the controllers zuk.txt marks present; prints the estimate of the
// time left beside the time gone every 15 seconds, then the whole time:
//   manual_shots --timing DEVICE FOLDER
// Run by scripts/manual-shots under Xvfb (the X11 platform: an open menu or
// list is a window of its own, and the screen shows it over its window).
// zuk_2 works on a copy of the sample house over the simulated controllers,
// of which $81, $87 and $9D are missing; kalvet on a copy of the sample.
#include "common/image_file.h"
#include "common/start_up.h"
#include "common/window/help_menu.h"
#include "editor/window/editor_window.h"
#include "transfer/fake_port.h"
#include "transfer/window/choices.h"
#include "transfer/window/form1.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QLabel>
#include <QCheckBox>
#include <QAction>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>

namespace {

QString out;
int failures = 0;

void settle(int ms = 150)
{
    for (int i = 0; i < ms / 10; ++i) {
        QApplication::processEvents();
        QThread::msleep(10);
    }
}

// What the screen shows of the given widgets, together.
void shoot(const QString &name, std::initializer_list<const QWidget *> widgets)
{
    settle();
    QRect area;
    for (const QWidget *w : widgets)
        area |= w->frameGeometry();
    const QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    if (!picture.save(QDir(out).filePath(name))) {
        std::fprintf(stderr, "manual_shots: %s not written\n", qPrintable(name));
        ++failures;
    }
}

// The window with one of its menus open.
void shootMenu(QMainWindow &window, QMenu *menu, const QString &name)
{
    window.menuBar()->setActiveAction(menu->menuAction());
    settle();
    shoot(name, {&window, menu});
    menu->hide();
    window.menuBar()->setActiveAction(nullptr);
    settle();
}

void copySample(const QString &to)
{
    const QDir sample(QStringLiteral(ZUK_SOURCE_DIR "/examples/installation"));
    for (const QString &name : sample.entryList(QDir::Files))
        QFile::copy(sample.filePath(name), QDir(to).filePath(name));
}

void shootTransferWindow(const QString &folder)
{
    using namespace zuk;
    zuk::RegisterImage sample{};
    loadImageFile(QDir(folder).filePath(QStringLiteral("zuk.txt")), sample);
    test::FakePort port;
    test::Bus bus;
    for (const ControllerSlot &s : controllerMap())
        if (sample[s.slot][0][0] != 0 && s.address != 0x81)
            bus.memory(s.address) = sample[s.slot];
    port.responder = [&bus](const QByteArray &request) { return bus.answer(request); };

    TransferSettings settings;
    settings.port = QStringLiteral("/dev/ttyUSB0");
    settings.dir = folder;
    settings.waitUnitMs = 3;
    addRememberedChoices(&settings, rememberedWindowChoices());   // a new user's
    Form1 form(port, settings);
    form.showMessage = [](const QString &text) { std::fprintf(stderr, "manual_shots: %s\n", qPrintable(text)); };
    form.listPorts = [] { return QStringList{QStringLiteral("/dev/ttyUSB0\tFT232R USB UART\tFTDI")}; };
    form.askYesNo = [](const QString &) { return true; };
    form.move(20, 20);
    form.show();
    form.startUp();
    form.boxes[slotOfAddress(0x87)]->setChecked(true);
    form.boxes[slotOfAddress(0x9D)]->setChecked(true);
    settle(300);
    shoot(QStringLiteral("zuk2-window.png"), {&form});
    for (QMenu *menu : {form.fileMenu, form.portMenu, form.modeMenu, form.actionsMenu, form.help.menu})
        shootMenu(form, menu, QStringLiteral("zuk2-menu-%1.png").arg(menu == form.fileMenu      ? "file"
                                                                   : menu == form.portMenu    ? "port"
                                                                   : menu == form.modeMenu    ? "mode"
                                                                   : menu == form.actionsMenu ? "actions"
                                                                                              : "help"));
    // A reading run of the house: one picture while it runs, one of its result.
    bool taken = false;
    const auto progress = form.tool().onProgress;
    form.tool().onProgress = [&](int done, int total, int errors) {
        progress(done, total, errors);
        if (!taken && done * 3 > total) {
            taken = true;
            shoot(QStringLiteral("zuk2-run.png"), {&form});
        }
    };
    form.readAction->trigger();
    settle(300);
    form.resultDialog->move(form.frameGeometry().right() + 10, 20);
    shoot(QStringLiteral("zuk2-result.png"), {form.resultDialog});
    form.resultDialog->hide();
    std::unique_ptr<QMessageBox> about = aboutBox(&form, QStringLiteral("zuk_2"), form.Label1->text());
    about->move(60, 60);
    about->show();
    shoot(QStringLiteral("about.png"), {about.get()});
}

void shootEditorWindow(const QString &folder)
{
    kalvet::EditorWindow window(folder);
    window.start();
    window.move(20, 20);
    window.show();
    settle(300);
    shoot(QStringLiteral("kalvet-window.png"), {&window});
    for (QAction *top : window.menuBar()->actions()) {
        QMenu *menu = top->menu();
        const QString title = menu->title().remove(QLatin1Char('&'));
        shootMenu(window, menu, QStringLiteral("kalvet-menu-%1.png").arg(title == QStringLiteral("Файл")     ? "file"
                                                                     : title == QStringLiteral("Правка") ? "edit"
                                                                                                          : "help"));
    }
    // The delay list of input 1, open.
    QComboBox *delays = window.comboWidget(&window.form().Combo14[0]);
    delays->showPopup();
    settle(300);
    shoot(QStringLiteral("kalvet-delays.png"), {&window, delays->view()->window()});
    delays->hidePopup();
    // The differences from an image with three bytes changed.
    zuk::RegisterImage other{};
    const QString changed = QDir(folder).filePath(QStringLiteral("zuk-вчера.txt"));
    zuk::loadImageFile(QDir(folder).filePath(QStringLiteral("zuk.txt")), other);
    other[0][0][3] = 77;
    other[0][5][1] ^= 1;
    other[1][12][0] ^= 4;
    QFile f(changed);
    if (f.open(QIODevice::WriteOnly))
        f.write(zuk::imageFileBytes(other));
    f.close();
    window.compareWith(changed);
    QWidget *list = window.differenceList()->window();
    list->move(40, 120);
    shoot(QStringLiteral("kalvet-diff.png"), {list});
}

int timeReadingRun(const QString &device, const QString &folder)
{
    using namespace zuk;
    TransferSettings settings;
    settings.port = device;
    settings.dir = folder;
    addRememberedChoices(&settings, rememberedWindowChoices());
    Form1 form(settings);
    form.showMessage = [](const QString &text) { std::fprintf(stderr, "manual_shots: %s\n", qPrintable(text)); };
    form.show();
    form.startUp();
    form.boxes[slotOfAddress(0x87)]->setChecked(true);
    form.boxes[slotOfAddress(0x9D)]->setChecked(true);
    std::printf("skip silent: %s\n", form.skipSilentAction->isChecked() ? "on" : "off");
    QElapsedTimer clock;
    QTimer every;
    QObject::connect(&every, &QTimer::timeout, [&] {
        std::printf("%7.1f s  %s  %s\n", clock.elapsed() / 1000.0, qPrintable(form.progressBar->text()),
                    qPrintable(form.timeLeftLabel->text()));
        std::fflush(stdout);
    });
    clock.start();
    every.start(15000);
    form.readAction->trigger();
    every.stop();
    const RunRecord &run = form.tool().lastRun();
    std::printf("whole run %.1f s (with the 8-second pause); exchanges %llu; %s\n", clock.elapsed() / 1000.0,
                static_cast<unsigned long long>(run.exchanges), qPrintable(runResultText(run).section('\n', 0, 0)));
    return 0;
}

}  // namespace

int main(int argc, char *argv[])
{
    const bool timing = argc == 4 && qstrcmp(argv[1], "--timing") == 0;
    if (argc != 2 && !timing) {
        std::fputs("usage: manual_shots OUTPUT_FOLDER | manual_shots --timing DEVICE FOLDER\n", stderr);
        return 2;
    }
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    QApplication app(argc, argv);
    zuk::installQtTranslations({QStringLiteral("qtbase"), QStringLiteral("qtserialport")});
    QTemporaryDir settingsDir, transferFolder, editorFolder;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    QSettings::setDefaultFormat(QSettings::IniFormat);
    if (timing)
        return timeReadingRun(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    copySample(transferFolder.path());
    copySample(editorFolder.path());
    shootTransferWindow(transferFolder.path());
    shootEditorWindow(editorFolder.path());
    return failures == 0 ? 0 : 1;
}
