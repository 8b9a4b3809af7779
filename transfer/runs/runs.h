#pragma once
// The reading and writing runs of the transfer tool and the state they share:
// the register image, the ticks of the twenty controllers, the error total and
// the retry count. Texts for the status line, error messages and progress go
// to sinks, so the same runs serve the window and the headless program.
//
// Construct over an exchange (transfer/exchange.h):
//     zuk::TransferTool tool(bus);
//     tool.setFolder(dir);  tool.setPort(name, isOpen);
//     tool.onStatus = [](const QString &t) { ... };
//     tool.LoadImageFile();  tool.readingRun();  tool.writingRun();  tool.comparingRun();
//     tool.scanRun();
// After every run (or refusal) lastRun() tells what it did, per controller.
// A front end asks runRefusal(kind) before it starts a run, to tell the user
// in its own way; the runs refuse the same by themselves (through onError).

#include "common/image_file.h"
#include "bus/exchange.h"
#include "transfer/runs/report.h"

#include <QString>
#include <array>
#include <functional>
#include <optional>

namespace zuk {

class TransferTool {
public:
    explicit TransferTool(BusExchange &bus);

    // Folder that holds zuk.txt.
    void setFolder(const QString &folder) { folder_ = folder; }
    QString imagePath() const;
    void setPort(const QString &name, bool open)
    {
        portName_ = name;
        portOpen_ = open;
    }
    bool portOpen() const { return portOpen_; }
    // Whether a run ends with the 8-second pause that leaves the total readable.
    void setPauseAtEnd(bool pause) { pauseAtEnd_ = pause; }
    // Whether every written row is read back before it counts as written.
    void setVerify(bool verify) { verify_ = verify; }
    // Reading, writing and comparing runs: a controller that gives its first
    // row up without having sent a single valid reply (a read reply or an
    // acknowledgement that passed the judge) in this run is left. Its other
    // rows are not tried and keep their values in the image; the status line
    // says so; the error total counts only the row given up; its record is
    // marked silent.
    void setSkipSilent(bool skip) { skipSilent_ = skip; }
    bool skipSilent() const { return skipSilent_; }
    // Writing runs: every row of the ticked controllers is read first, as
    // the reading run reads; the house as read (all twenty slots, unticked
    // ones with every value 0) is kept in history/ before the first write
    // frame; only rows that differ from the image, or whose reading was
    // given up, are written, each read back. Rows already right count as
    // unchanged.
    void setChangedOnly(bool on) { changedOnly_ = on; }
    bool changedOnly() const { return changedOnly_; }
    // Writing runs without changedOnly: the ticked controllers are read
    // whole and kept in history/ before anything is written. When a row's
    // reading is given up the copy is incomplete: nothing is written and
    // the run ends refused.
    void setBackupFirst(bool on) { backupFirst_ = on; }
    // Reading runs: a zuk.txt that the run replaces with different bytes is
    // kept in history/ first.
    void setHistory(bool on) { history_ = on; }
    bool history() const { return history_; }
    // Images kept in history/ after a run adds one (the newest always stays).
    void setKeep(int count) { keep_ = count; }
    // Writing runs: ticked controllers whose presence marker is 0 in the
    // image are written anyway.
    void setForceAbsent(bool on) { forceAbsent_ = on; }

    // Loads zuk.txt into reg_image and ticks the slots whose presence marker
    // is not 0. On failure nothing is ticked and loadFailure() tells why.
    bool LoadImageFile();
    QString loadFailure() const { return loadFailure_; }
    // zuk.txt changes under a running window (the editor saves it, a
    // restore or a script replaces it). Every reading, writing and comparing
    // run first loads it again when its bytes differ from those loaded or
    // saved last, so that what a run sends or compares is the file's; the
    // ticks stay as they are. Failed: the file no longer loads (*failure
    // says why); the image in memory stays as it was, and a writing or
    // comparing run is refused.
    enum class FileCheck { Unchanged, Reloaded, Failed };
    FileCheck reloadIfChanged(QString *failure = nullptr);
    // What onNotice says after a reload.
    static QString reloadedText();

    // The reading run: reads the ticked controllers, saves all twenty slots.
    RunOutcome readingRun();
    // The writing run: writes the image into the ticked controllers.
    RunOutcome writingRun();
    // Reads the ticked controllers as the reading run does and records every
    // byte that differs from the loaded image; changes and saves nothing.
    RunOutcome comparingRun();
    // Asks each ticked controller (the candidates), in slot order, for
    // register 0, up to three tries each, and records in lastRun() per
    // candidate whether a valid reply came (ControllerRecord::answered).
    // Nothing is stored or saved and no write frame is sent. Progress counts
    // candidates: done, candidates, candidates that gave no answer.
    RunOutcome scanRun();
    const RunRecord &lastRun() const { return record_; }

    // Refusals, in Russian, of a run that would do nothing or could not end
    // as it should; empty when the run may start. Nothing is sent or saved
    // for a refused run.
    //
    // No controller ticked for a reading, writing or comparing run: says so
    // and why (zuk.txt did not load, or marks none present, or the ticks
    // were taken off). Never for a scan.
    QString nothingTickedRefusal(RunKind kind) const;
    // The same text with the reason given by the caller ("--tick none").
    static QString nothingTickedText(RunKind kind, const QString &why);
    // A reading run whose zuk.txt cannot be replaced: zuk.txt without any
    // write permission bit, or a folder (the one of the file a link points
    // to) in which no file can be made, tried with a temporary file that is
    // removed again, so that root on a read-only mount is caught too.
    QString readingRunRefusal() const { return readingRunRefusal(imagePath()); }
    static QString readingRunRefusal(const QString &imagePath);
    // Why the image cannot be written as it is (a ticked controller's image
    // incomplete, a value no byte); empty when it can.
    QString writeRefusal() const;
    // The ticked controllers whose presence marker is 0 in the image, "$00".
    QStringList absentTicked() const;
    // What writing them would do: "файл zuk.txt отмечает контроллер $00
    // отсутствующим ...". The refusal and the window's question use it.
    static QString absentText(const QStringList &addresses);
    // The writing run's refusal for them; empty when none is ticked or
    // setForceAbsent is on.
    QString absentRefusal() const;
    // Restores a kept image into zuk.txt: the current zuk.txt (when it
    // exists and differs) goes to history/ first, then the kept bytes
    // replace it and are loaded as at start-up. *kept names the copy made.
    bool restoreFromHistory(const QString &historyPath, QString *kept, QString *error);
    // The refusals above that apply to a run of the kind, first the one
    // about the ticks; a writing run's check of the image (writeRefusal) is
    // made by the run itself.
    QString runRefusal(RunKind kind) const;

    // A reading, writing or comparing run whose first kNoAnswerRequests
    // requests brought not a single byte back from the line stops there
    // (RunOutcome::NoAnswer) instead of trying every row: the line is not
    // connected, or the port is the wrong one. Reading saves nothing.
    static constexpr int kNoAnswerRequests = 30;
    static inline const QString kNoAnswerText =
        QStringLiteral("нет ответа ни от одного контроллера — проверьте подключение линии");

    bool running() const { return running_; }
    // Ends the run in progress after its current exchange (and cuts short the
    // closing pause); the file is not written.
    void requestStop();

    int errorTotal() const { return errorTotal_; }
    bool saveFailed() const { return saveFailed_; }
    // Rows of the ticked controllers, and rows finished so far in this run.
    int rowsToDo() const;
    int rowsDone() const { return rowsDone_; }
    // The time the run in progress still needs, given the time it has taken:
    // the exchanges still to come (rows not done, at the exchanges per row
    // seen so far in this pass, retries and confirmations included) at the
    // time per exchange so far. Rows that need no exchange do not count:
    // those of controllers left as silent (nor the exchanges spent on them),
    // and in a writing run reading first, the rows it will not write (all of
    // them until the reading pass has shown which differ). A scan counts its
    // controllers. 0 before the first exchange.
    qint64 timeLeftMs(qint64 elapsedMs) const;

    // The first value of a ticked slot that is no byte value, described for
    // the user; empty when every value can be sent.
    QString firstUnsendableValue() const;

    static QString neutralStatus();
    static QString portNotOpenStatus(const QString &port);

    RegisterImage reg_image{};
    std::array<bool, kSlotCount> ticked{};

    std::function<void(const QString &)> onStatus;     // the status line
    std::function<void(const QString &)> onError;      // a message for the user
    std::function<void(int done, int total, int errors)> onProgress;
    std::function<void(const QString &)> onNotice;     // news about the file, for the status bar
    // The run's exchanges are over and its closing pause begins (the total
    // stays readable for 8 seconds); nothing is left to stop.
    std::function<void()> onClosingPause;

private:
    void setStatus(const QString &text);
    // The skeleton of every run: refused when busy, without a port or when
    // refusal() names a reason; otherwise step() for each ticked controller
    // (unticked() for the others) in slot order, ended early by a lost line
    // or a stop. Completed means every controller was visited and the
    // record is still open for the run's own ending.
    RunOutcome runOverTicked(RunKind kind, const std::function<QString()> &refusal,
                             const std::function<void(const ControllerSlot &)> &step,
                             const std::function<void(const ControllerSlot &)> &unticked = {},
                             const std::function<RunOutcome()> &first = {});
    // The loop of runOverTicked: Completed, or how the run ended early.
    RunOutcome visitTicked(const std::function<void(const ControllerSlot &)> &step,
                           const std::function<void(const ControllerSlot &)> &unticked = {});
    // Keeps image bytes in history/, prunes it to keep_; false with *error.
    bool keepInHistory(const QByteArray &bytes, QString *error);
    // With history_: the zuk.txt about to be replaced by bytes, when it
    // differs, kept in history/ first. False when it could not be kept.
    bool keepReplaced(const QByteArray &bytes, QString *error);
    // The reading pass of a writing run with changedOnly or backupFirst:
    // reads the ticked controllers into before, keeps it in history/ and
    // marks the rows to write. Completed when the writing may begin.
    RunOutcome readBeforeWriting(RegisterImage &before, std::array<std::array<bool, kMaxRows>, kSlotCount> &toWrite);
    // The one loop over a controller's rows (run_rows.cpp) for reading and
    // writing: each row is tried (tryRow: its exchange and confirmation)
    // until it is done; a failed try counts (failedTry), the tenth gives the
    // row up, and a controller that gives its first row up without any
    // valid reply may be left as silent (leftAsSilent). Rows whose entry in
    // only is false count as unchanged without an exchange.
    enum class RowTry { Done, Failed, Stopped };
    struct RowJob {
        int address = 0;
        int rows = 0;
        const char *lead = "";       // the status line of a row: lead, address, register, tail
        const char *doneTail = "";
        const char *failTail = "";
        bool freshTries = false;     // the retry count is reset after every row done
        const std::array<bool, kMaxRows> *only = nullptr;
        std::function<RowTry(int reg)> tryRow;
    };
    void rowLoop(const RowJob &job);
    // One try of a row: a read, confirmed by a second one after an anomaly.
    RowTry readRow(int address, int reg, frames::RowData *data);
    // One try of a row: a write, read back when readBack or after an anomaly.
    RowTry writeRow(int address, int reg, const frames::RowData &data, bool readBack);
    // Reads rows 0..rows-1 into `into`; rows given up keep what they held.
    // The retry count is reset only at the start and when a row is given
    // up: failed tries of earlier rows count towards a later row's give-up.
    void ReadController(int address, int rows, SlotImage &into);
    // Writes rows 0..rows-1 of the slot's image. Unlike reading, the retry
    // count is reset after every row written, so every row gets ten tries.
    // Rows whose entry in only is false are not written: they count as
    // unchanged. Written rows are read back when only is given.
    void WriteController(int address, int rows, int slot, const std::array<bool, kMaxRows> *only = nullptr);
    // exchanged: the row took exchanges of its own (false: unchanged, not written).
    void rowFinished(bool exchanged = true);
    // The first pass of a run, or the writing pass after a reading one: the
    // rows it will exchange per slot, those of a pass still to follow; the
    // failed tries per row are counted anew.
    void beginPass(const std::array<int, kSlotCount> &rows, int laterRows);
    // Confirmation: once an exchange of the controller has seen an anomaly
    // (BusExchange::anomalies), each further row is confirmed until the
    // controller is done: a read row by a second read that gives the same
    // bytes, a written row by reading it back.
    void beginController();
    void endController();
    // Whether rows are confirmed now, given the anomaly count before the
    // row's exchange.
    bool confirming(quint64 anomaliesBefore);
    // Starts the record of a run of the given kind over the ticked slots.
    void beginRecord(RunKind kind);
    RunOutcome endRecord(RunOutcome outcome);
    // The record of the controller being handled.
    ControllerRecord &current();
    // Ends a run whose port was lost: says so, and what a writing run wrote.
    RunOutcome portLost();
    // Ends a run stopped for a line that gave nothing back, saying so.
    RunOutcome noAnswer();
    // Counts one failed exchange of row reg and shows it. When the retry
    // count reaches ten the row is given up (its give-up text shown, the
    // error total raised, the retry count reset) and true is returned.
    bool failedTry(const char *lead, int address, int reg, const char *tail);
    // After a row given up: whether the controller is left as silent (skip
    // silent on and no valid reply from it yet); if so its record and the
    // status line say so and its untried rows count as done for progress.
    bool leftAsSilent(int address, int rows, int reg);
    // An exchange's judgement; a valid reply marks the controller answered.
    bool answered(bool ok);
    void showErrorTotal();
    void showClosingStatus(const QString &text);
    // Resets the counters and settles the line before the first request;
    // the trace of the line (BusExchange::trace) gets the run line.
    void startRun();
    // The trace's verdict line of the exchange just made:
    // "чтение $80 регистр $3: ответ верный", then what the run found (more).
    void traceExchange(const char *what, int address, int reg, const QString &more = {});

    BusExchange &bus_;
    QString folder_;
    QString portName_;
    bool portOpen_ = false;
    bool pauseAtEnd_ = true;
    bool verify_ = false;
    bool skipSilent_ = false;
    bool changedOnly_ = false;
    bool backupFirst_ = false;
    bool history_ = false;
    int keep_ = 50;
    bool forceAbsent_ = false;
    bool preReading_ = false;   // the reading pass of a writing run
    int passes_ = 1;            // passes over the rows in the last run: 2 when a writing run reads first
    QString loadFailure_;
    bool loadedWhole_ = false;
    // The bytes of zuk.txt as loaded or saved last; none when it could not
    // be read.
    std::optional<QByteArray> fileBytes_;
    // reloadIfChanged at the start of a run: empty, or why the run is refused.
    QString reloadRefusal(RunKind kind);
    // A slot's image is complete when it was loaded whole from zuk.txt or
    // read in a reading run of this session without a row given up. An
    // incomplete image is never written into a controller: its rows past a
    // failed load hold no configuration.
    std::array<bool, kSlotCount> complete_{};
    RunRecord record_;
    int currentSlot_ = 0;
    bool running_ = false;
    bool stop_ = false;
    bool noAnswer_ = false;        // stopped: the line gave nothing back
    bool saveFailed_ = false;
    bool writeSent_ = false;       // a write frame went out in this run
    int errorTotal_ = 0;
    qint16 retryCount_ = 0;
    int rowsDone_ = 0;
    // For timeLeftMs: per slot the rows this pass exchanges, the rows of a
    // pass to follow, the failed tries and the rows done through exchanges
    // in this pass (controllers left as silent not counted), the exchanges
    // at the start of the controller in progress and its rows done so.
    std::array<int, kSlotCount> passRows_{};
    int laterPassRows_ = 0, failedTries_ = 0, rowsByExchange_ = 0, controllerRowsByExchange_ = 0;
    quint64 controllerExchanges_ = 0, passExchanges_ = 0, silentExchanges_ = 0;
    bool confirm_ = false;         // rows of this controller are confirmed
    bool carryConfirm_ = false;    // the next controller starts confirmed
    quint64 controllerAnomalies_ = 0;
    quint64 exchangesAtStart_ = 0, anomaliesAtStart_ = 0, bytesAtStart_ = 0;
    bool traced_ = false;   // a run began since the last record ended: its leftover bytes are traced
};

}  // namespace zuk
