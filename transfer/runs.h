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
//     tool.LoadImageFile();  tool.readingRun();  tool.writingRun();

#include "common/image_file.h"
#include "transfer/exchange.h"

#include <QString>
#include <array>
#include <functional>

namespace zuk {

enum class RunOutcome {
    Completed,   // every ticked controller visited (rows may have been given up)
    Stopped,     // ended early on request, after the exchange in progress
    Refused,     // writing run refused: a value that is no byte value
    PortNotOpen, // no run: the serial port is not open
    Busy,        // no run: another run is in progress
};

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

    // Loads zuk.txt into reg_image and ticks the slots whose presence marker
    // is not 0. On failure nothing is ticked and loadFailure() tells why.
    bool LoadImageFile();
    QString loadFailure() const { return loadFailure_; }
    // True after a failed load until a load succeeds or a reading run fills
    // the image from the controllers: such an image is never written into
    // them, since its rows past the failure hold no configuration.
    bool imageIncomplete() const { return imageIncomplete_; }

    // The reading run: reads the ticked controllers, saves all twenty slots.
    RunOutcome readingRun();
    // The writing run: writes the image into the ticked controllers.
    RunOutcome writingRun();

    bool running() const { return running_; }
    // Ends the run in progress after its current exchange (and cuts short the
    // closing pause); the file is not written.
    void requestStop();

    int errorTotal() const { return errorTotal_; }
    bool saveFailed() const { return saveFailed_; }
    // Rows of the ticked controllers, and rows finished so far in this run.
    int rowsToDo() const;
    int rowsDone() const { return rowsDone_; }

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

private:
    void setStatus(const QString &text);
    void ReadController(int address, int rows, int slot);
    void WriteController(int address, int rows, int slot);
    void rowFinished();
    // Counts one failed exchange of row reg and shows it. When the retry
    // count reaches ten the row is given up (its give-up text shown, the
    // error total raised, the retry count reset) and true is returned.
    bool failedTry(const char *lead, int address, int reg, const char *tail);
    void showErrorTotal();
    bool startRun();

    BusExchange &bus_;
    QString folder_;
    QString portName_;
    bool portOpen_ = false;
    bool pauseAtEnd_ = true;
    QString loadFailure_;
    bool imageIncomplete_ = false;
    bool running_ = false;
    bool stop_ = false;
    bool saveFailed_ = false;
    int errorTotal_ = 0;
    qint16 retryCount_ = 0;
    int rowsDone_ = 0;
};

}  // namespace zuk
