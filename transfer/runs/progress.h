#pragma once
// How far a run has come, for the user: the time it has taken, shown by
// the headless progress line and the window's status bar alike (the
// estimate of the time left is TransferTool::timeLeftMs).

#include <QElapsedTimer>
#include <QString>

namespace zuk {

class RunClock {
public:
    void start() { clock_.start(); }
    qint64 elapsedMs() const { return clock_.isValid() ? clock_.elapsed() : 0; }

private:
    QElapsedTimer clock_;
};

// "0:07", "4:08", "1:02:09"
QString clockText(qint64 ms);

}  // namespace zuk
