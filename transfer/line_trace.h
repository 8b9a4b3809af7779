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
    // clock; false with *why in Russian when it cannot be opened.
    bool open(const QString &path, QString *why, bool append = false);
    void close() { file_.close(); }
    bool isOpen() const { return file_.isOpen(); }
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

    QFile file_;
    QElapsedTimer clock_;
};

}  // namespace zuk
