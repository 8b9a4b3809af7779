#pragma once
// How far a run has come, for the user: the time it has taken and an
// estimate of the time left, shown by the headless progress line and the
// window's status bar alike.

#include <QElapsedTimer>
#include <QString>

namespace zuk {

class RunClock {
public:
    void start() { clock_.start(); }
    qint64 elapsedMs() const { return clock_.isValid() ? clock_.elapsed() : 0; }
    // The time the rows still to do will take at the pace of those done;
    // 0 before the first row.
    qint64 leftMs(int done, int total) const;

private:
    QElapsedTimer clock_;
};

// "0:07", "4:08", "1:02:09"
QString clockText(qint64 ms);

}  // namespace zuk
