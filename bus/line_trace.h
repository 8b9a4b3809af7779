#pragma once
// The record of the line, --trace FILE: every piece of bytes that went out
// or came in, and after each exchange what it made of them. One line each,
// UTF-8, written straight to the file (no buffer of the program's), so that
// a run killed midway leaves every line written before:
//
//     12.345678 > F0 80 07 03 8A                      a request, whole
//     12.364012 < F8 80 07 03 10 20 30 40             bytes of one receive event
//     12.412004 = чтение $80 регистр $3: ответ верный the exchange's verdict
//     0.000000 # чтение, порт /dev/ttyUSB0, 09.12.2026 14:05:31   the run began
//
// The time is the seconds since the start of the run, with microseconds.
// BusExchange writes the byte lines (transfer/exchange.h), the runs the
// verdict and run lines (transfer/runs.h).

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>

namespace zuk {

class LineTrace {
public:
    // Creates the file anew (or empties it; append: keeps what it holds and
    // adds to it, each run beginning with its "#" line) and starts the
    // clock; false with *why in Russian when it cannot be opened. Never
    // blocks: a FIFO (or a socket) is refused, a device is written without
    // blocking.
    bool open(const QString &path, QString *why, bool append = false);
    // Closes the file; false when a line or the close failed (failure()).
    bool close();
    bool isOpen() const { return file_.isOpen(); }
    // Why the record is not whole: the first write (or the close) that
    // failed; empty while every line went to the file. Lines after a
    // failure are not written.
    QString failure() const { return failure_; }
    QString path() const { return file_.fileName(); }

    // A run begins: the clock starts again from 0 and a run line says what
    // runs where.
    void beginRun(const QString &text);
    void sent(const QByteArray &bytes) { bytesLine('>', bytes); }
    void received(const QByteArray &bytes) { bytesLine('<', bytes); }
    void verdict(const QString &text) { line('=', text); }
    // What befell the run itself, as its start line: "# связь потеряна: ...".
    void note(const QString &text) { line('#', text); }

    // One line of the trace, without its line end: "12.345678 > F0 80 07".
    static QString lineText(qint64 microseconds, char marker, const QString &text);

private:
    void bytesLine(char marker, const QByteArray &bytes);
    void line(char marker, const QString &text);
    void write(const QString &line);

    QFile file_;
    QString failure_;
    QElapsedTimer clock_;
};

}  // namespace zuk
