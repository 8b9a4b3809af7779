#pragma once
// What a run did, controller by controller: rows done and given up, bytes
// that differ, rows verified, controllers left as silent or found answering. Shown as text lines and written as a JSON
// report (--report).

#include "common/image_file.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <vector>

namespace zuk {

// Scan: one read request for register 0 of each candidate, up to three
// tries, to find which controllers answer; nothing saved, nothing written.
enum class RunKind { Read, Write, Compare, Scan };

enum class RunOutcome {
    Completed,   // every ticked controller visited (rows may have been given up)
    Stopped,     // ended early on request, after the exchange in progress
    Refused,     // no run: the image cannot be written or compared as it is
    PortNotOpen, // no run: the serial port is not open
    PortLost,    // ended at once: the port reported the line lost
    NoAnswer,    // ended early: the run's first requests brought no byte back from the line
    Busy,        // no run: another run is in progress
};

struct ByteDifference {
    int slot = 0;
    int row = 0;
    int byte = 0;
    int file = 0;     // the value in zuk.txt (or the first file)
    int system = 0;   // the controller's value (or the second file's)
};

struct ControllerRecord {
    int slot = 0;
    int rowsDone = 0;                         // rows finished, given up or not
    std::vector<int> givenUp;                 // rows given up, in order
    std::vector<int> written;                 // writing runs: rows that count as written
    std::vector<int> acknowledged;            // writing runs: rows acknowledged, not yet read back when the run ended
    std::vector<int> unconfirmed;             // writing runs: the row being sent when the run was stopped or
                                              // the line lost, not acknowledged: stored or not
    int unchanged = 0;                        // writing runs: rows found holding the image, not written
    std::vector<int> unread;                  // writing runs: rows whose reading first was given up
    std::vector<ByteDifference> differences;  // compare runs
    int verified = 0;                         // rows read back and found equal
    int confirmed = 0;                        // rows read twice alike after an anomaly
    bool silent = false;                      // left after its first row given up without any valid reply (skip silent)
    bool answered = false;                    // a valid reply (read reply or acknowledgement) came in this run
};

struct RunRecord {
    RunKind kind = RunKind::Read;
    RunOutcome outcome = RunOutcome::Completed;
    QString port;
    QDateTime started, finished;
    int errorTotal = 0;
    quint64 exchanges = 0;   // requests sent
    quint64 anomalies = 0;   // failed tries, stale or dropped bytes, second replies
    std::vector<ControllerRecord> controllers;   // the ticked ones, in slot order
    bool changedOnly = false;   // a writing run that wrote only the rows that differed
    QString kept;               // the image kept in history/ by this run, empty: none
    QStringList pruned;         // older images --keep removed after it
    bool nothingRead = false;   // a reading run in which no row was read: zuk.txt left as it was
};

// The record of a run that never began (refused or stopped before its first
// exchange, the port not open): no controller handled.
RunRecord recordWithoutRun(RunKind kind, RunOutcome outcome, const QString &port);

// "адрес $80 регистр $3 байт 5: 12 -> 200"
QString differenceLine(const ByteDifference &d);
// "различий: N"
QString differenceTotalLine(qsizetype n);

// Appends every byte of one row that differs between a and b.
void addRowDifferences(int slot, int row, const ImageRow &a, const ImageRow &b, std::vector<ByteDifference> *out);
// Every byte of rows 0..rows-1 of every slot that differs between a and b,
// in the order of the address map.
std::vector<ByteDifference> imageDifferences(const RegisterImage &a, const RegisterImage &b);

// "$80: регистры 2, 5 не прочитаны" for a controller with rows given up,
// empty for one without.
QString givenUpLine(const ControllerRecord &c, RunKind kind);

// "$81: молчит, пропущен (регистры 1-3B не опрошены)" for a controller left
// as silent, empty for any other.
QString silentLine(const ControllerRecord &c);
// Where the run kept an image in history/, as a sentence without its
// capital: "система до записи сохранена в …" (writing runs) or "прежний
// zuk.txt сохранён в …"; empty when it kept none.
QString keptText(const RunRecord &record);
// What a reading run in which no controller answered says.
QString nothingReadText();
// What a writing run that ended early leaves in the house: "записаны
// регистры $00: 0-3B; $01: 0-5", then the rows acknowledged but not read
// back (acknowledgedText) and the row sent without an acknowledgement
// ("отправлены, но не подтверждены …: $01: 6"); or that none was written.
QString writtenRowsText(const RunRecord &record);

// What a writing run that ended early left unsure: "; подтверждены
// контроллером, но не проверены чтением: $80: регистр 5" (the write was
// acknowledged, its read-back not made); empty when nothing was.
QString acknowledgedText(const RunRecord &record);

// "0-8, A, C-F": rows as ranges, in hexadecimal.
QString rowRanges(const std::vector<int> &rows);

// The JSON report of a run.
QByteArray reportJson(const RunRecord &record);
// Writes it to path, atomically; false with *error on failure.
bool saveReport(const QString &path, const RunRecord &record, QString *error);

// Why a report cannot be written to path, for the installation in folder:
// a folder, a folder that does not exist, a read-only file, or one of the
// installation's files, which the report would replace. Empty when it can.
QString reportFileRefusal(const QString &path, const QString &folder);

}  // namespace zuk
