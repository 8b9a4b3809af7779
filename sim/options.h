#pragma once
// Command line of zuk_sim: one option table (options.cpp) from which both
// the parser and the text of --help are made.

#include "sim/core/sim_core.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace zuk::sim {

struct SimOptions {
    bool help = false;
    bool version = false;
    QString image, present, link, save, log;
    QString bytesLog;        // every read from and write to the line, with times
    std::vector<Fault> faults;
    bool randomFaults = false;   // --seed and --fault-rate given
    quint32 seed = 1;
    double rate = 0;
    int lateMs = 500;
    int lineSpeed = 0;       // baud; 0: bytes move at once, as the pty moves them
    int answerDelayMs = 0;
    bool echo = false;       // every byte received goes straight back, as a half-duplex adapter does
    int vanishAfter = 0;     // close the pseudo-terminal after this many requests; 0: never
};

// Parses the arguments (without the program name); false with *error on a
// bad command line.
bool parseSimOptions(const QStringList &args, SimOptions *out, QString *error);

// The text of --help.
QString helpText();

}  // namespace zuk::sim
