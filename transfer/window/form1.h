#pragma once
// Form1, the window "умный дом" of zuk_2: a main window whose central area
// holds the window's own controls, the twenty check boxes, the two run
// buttons and the status line, placed as its description says, over the transfer
// logic (transfer/runs.h). Around them: the menus Файл (folder, report,
// record of the line, exit), Порт (the ports of the system, a typed name, opening again), Режим
// (fast exchange, verification, silent controllers) and Действия (the runs
// and the scan); a status bar with the port and folder, and during a run its
// progress, errors, time left and Стоп; and after every run its result,
// which stays until the user closes it.

#include "common/window/help_menu.h"
#include "bus/line_trace.h"
#include "transfer/runs/progress.h"
#include "transfer/runs/runs.h"
#include "lines/line.h"
#include "lines/serial_port.h"
#include "transfer/runs/run_settings.h"

#include <QMainWindow>
#include <array>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QActionGroup;
class QCheckBox;
class QDialog;
class QFileSystemWatcher;
class QTimer;
class QLabel;
class QMessageBox;
class QTreeWidget;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace zuk {

// What a run did, for the user: its kind and outcome, per controller the
// rows done, the rows given up (hexadecimal), the rows verified or
// confirmed, and for a comparing run every byte that differs.
QString runResultText(const RunRecord &record);

class Form1 : public QMainWindow {
    Q_OBJECT
public:
    using Settings = TransferSettings;
    static inline const QString kTitle = QStringLiteral("умный дом");

    // Over the serial device named in the settings.
    explicit Form1(const Settings &settings, QWidget *parent = nullptr);
    // Over a port already open (tests).
    Form1(BusPort &port, const Settings &settings, QWidget *parent = nullptr);
    ~Form1() override;

    // The start-up: opens the port, loads zuk.txt, ticks present controllers.
    void startUp();
    QString portName() const { return settings_.port; }
    const Settings &settings() const { return settings_; }

    // How messages reach the user; a modal message box unless replaced.
    std::function<void(const QString &text)> showMessage;
    // When the port cannot be opened: the user picks one of the lines of
    // listPorts() (serialPortLines() unless replaced) or types a name; the
    // name of the port is returned, or empty for none. A dialog unless replaced.
    std::function<QString(const QString &text, const QStringList &lines)> choosePort;
    std::function<QStringList()> listPorts;
    // Порт > Другой порт: the name the user types, empty for none.
    std::function<QString(const QString &current)> typePort;
    // Файл > Папка: the folder chosen, empty for none.
    std::function<QString(const QString &current)> chooseFolder;
    // The file of the reports, chosen with a save dialog; empty for none.
    std::function<QString(const QString &current)> chooseReportFile;
    // The file of the record of the line, chosen the same way.
    std::function<QString(const QString &current)> chooseTraceFile;
    // A question with the answers Да and Нет; true for Да. A message box
    // (absentQuestion) whose default is Нет unless replaced.
    std::function<bool(const QString &text)> askYesNo;
    // The question before a writing run into controllers that zuk.txt marks
    // absent; its default button is Нет.
    static std::unique_ptr<QMessageBox> absentQuestion(QWidget *parent, const QString &text);
    static QString absentQuestionText(const QStringList &addresses);
    // The question before every writing run (until the user ticks "Больше не
    // спрашивать", which *dontAskAgain returns): true to write. A message
    // box (writeQuestion) whose default is Нет unless replaced.
    std::function<bool(const QString &text, bool *dontAskAgain)> confirmWrite;
    static std::unique_ptr<QMessageBox> writeQuestion(QWidget *parent, const QString &text);
    // "Записать 2 контроллера (120 регистров) в систему?"
    static QString writeQuestionText(int controllers, int rows);

    // Closing during a writing run asks "Остановить запись и закрыть?"
    // (askYesNo) first; a signal closes without asking (closeWithoutAsking).
    void closeWithoutAsking();
    static QString stopWriteQuestion() { return QStringLiteral("Остановить запись и закрыть?"); }

    // Файл > История образов: the images kept in history/.
    void showHistory();
    // Restores a kept image into zuk.txt (the current zuk.txt is kept in
    // history/ first) and loads it as at start-up; says what it did.
    bool restoreImage(const QString &historyPath);
    QDialog *historyDialog = nullptr;
    QTreeWidget *historyList = nullptr;

    TransferTool &tool() { return tool_; }

    // The window's own controls, inside the central widget.
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    std::array<QCheckBox *, kSlotCount> boxes{};

    // Menus and their actions.
    QMenu *fileMenu = nullptr, *portMenu = nullptr, *modeMenu = nullptr, *actionsMenu = nullptr;
    QAction *folderAction = nullptr, *reportAction = nullptr, *reportFileAction = nullptr, *exitAction = nullptr;
    QAction *traceAction = nullptr, *traceFileAction = nullptr;   // the record of the line (--trace)
    QAction *typePortAction = nullptr, *reopenAction = nullptr;
    QAction *fastAction = nullptr, *verifyAction = nullptr, *skipSilentAction = nullptr;
    QAction *changedOnlyAction = nullptr, *historyAction = nullptr, *historyListAction = nullptr;
    QAction *readAction = nullptr, *writeAction = nullptr, *compareAction = nullptr, *scanAction = nullptr;
    HelpMenu help;   // Справка: the manual, the About box
    // The status bar: port and folder; during a run its progress.
    QLabel *portLabel = nullptr, *folderLabel = nullptr;
    QProgressBar *progressBar = nullptr;
    QLabel *errorsLabel = nullptr, *timeLeftLabel = nullptr;
    QPushButton *stopButton = nullptr;
    // The result of the last run, shown after it until closed.
    QDialog *resultDialog = nullptr;
    QPlainTextEdit *resultView = nullptr;

    // The port menu's entries for the ports of listPorts(), made when the
    // menu opens (also for tests).
    void fillPortMenu();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    Form1(BusPort *port, std::unique_ptr<Line> line, const Settings &settings, QWidget *parent);
    void buildControls(QWidget *central);
    void buildMenus();
    void buildStatusBar();
    void buildResultDialog();
    void buildHistoryDialog();
    void fillHistory();
    void Command1_Click();
    void Command2_Click();
    void compareClicked();
    // Scan: asks all twenty controllers, then ticks those that answered.
    void scanClicked();
    // Refused with a message when the run would do nothing or could not
    // save; else made through runWithWindow. False when it was not made.
    bool startRun(RunKind kind, const std::function<RunOutcome()> &run);
    // Runs one run with everything that could start another or change the
    // ticks disabled, the progress in the status bar, and afterwards the
    // report and the result.
    void runWithWindow(RunKind kind, const std::function<RunOutcome()> &run);
    void setRunning(bool running);
    void afterRun(RunOutcome outcome);
    void showResult(const RunRecord &record);
    void writeReport(const RunRecord &record);   // to settings_.report, when one is asked for
    bool openPort();
    // Closes the port and opens the named one; remembered when it opens.
    void switchPort(const QString &name);
    void setFolder(const QString &folder);
    // A file the window writes for its runs, chosen once and remembered:
    // the report, the record of the line.
    struct OutputFile;
    static const OutputFile &reportOutput();
    static const OutputFile &traceOutput();
    // Its menu toggle: on takes the file chosen before while it can still
    // be written, else asks for one.
    void setOutputOn(const OutputFile &output, bool on);
    // Its menu entry "Файл …": asks for the file and switches it on.
    void chooseOutput(const OutputFile &output);
    // Asks for the file; empty when none was chosen or the one chosen
    // cannot be written (said in a message).
    QString askOutputFile(const OutputFile &output, const QString &current);
    QString outputRefusal(const OutputFile &output, const QString &file) const;
    void modeChanged();
    void rememberChoices();
    void showProgress(int done, int total, int errors);
    void showPlace();   // the status bar's port and folder, the title
    void boxChanged(int slot, bool checked);
    // zuk.txt and its folder are watched while the window is open: a file
    // changed by another program is loaded again at once when the window is
    // idle (and by the next run otherwise), and the status bar says so.
    void watchImageFile();
    void imageFileChanged();
    // A notice in the status bar, over the port and folder for kNoticeMs.
    void showNotice(const QString &text);
    static constexpr int kNoticeMs = 60000;
    QString pendingNotice_;
    void showTicks();
    void shutDown();

    Settings settings_;
    std::unique_ptr<Line> MSComm1;   // the serial port or network line the port name asks for
    BusPort *port_;
    BusExchange bus_;
    TransferTool tool_;
    LineTrace trace_;   // open during a run when settings_.trace names a file
    RunClock clock_;
    RunKind runKind_ = RunKind::Read;   // of the run in progress or the last one
    std::vector<QAction *> lockedInRun_;   // actions that start runs or change port, folder, modes
    QActionGroup *portGroup_ = nullptr;
    std::vector<QAction *> portActions_;
    bool resultPlaced_ = false;
    bool closePending_ = false;
    bool closeAsked_ = false;
    bool askedToStopWrite_ = false;   // the user agreed to stop a write by closing   // closing during a writing run was agreed to (or asked by a signal)
    QFileSystemWatcher *watcher_ = nullptr;
    QTimer *changeTimer_ = nullptr;   // gathers the watcher's signals of one save into one look
    bool shutDown_ = false;
};

}  // namespace zuk
