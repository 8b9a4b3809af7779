#pragma once
// Form1, the window "умный дом" of zuk_2: twenty check boxes, the two run
// buttons and the status line over the transfer logic (transfer/runs.h).

#include "transfer/runs.h"
#include "transfer/serial_port.h"
#include "transfer/settings.h"

#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QPushButton;

namespace zuk {

class Form1 : public QWidget {
    Q_OBJECT
public:
    using Settings = TransferSettings;

    // Over the serial device named in the settings.
    explicit Form1(const Settings &settings, QWidget *parent = nullptr);
    // Over a port already open (tests).
    Form1(BusPort &port, const Settings &settings, QWidget *parent = nullptr);
    ~Form1() override;

    // The start-up: opens the port, loads zuk.txt, ticks present controllers.
    void startUp();
    QString portName() const { return settings_.port; }

    // How messages reach the user; a modal message box unless replaced.
    std::function<void(const QString &text)> showMessage;
    // When the port cannot be opened: the user picks one of the lines of
    // listPorts() (serialPortLines() unless replaced) and the name of its
    // port is returned, or empty for none. A dialog unless replaced.
    std::function<QString(const QString &text, const QStringList &lines)> choosePort;
    std::function<QStringList()> listPorts;

    TransferTool &tool() { return tool_; }

    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    std::array<QCheckBox *, kSlotCount> boxes{};

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    Form1(BusPort *port, std::unique_ptr<MSComm> serial, const Settings &settings, QWidget *parent);
    void buildControls();
    void Command1_Click();
    void Command2_Click();
    void afterRun(RunOutcome outcome);
    void writeReport(const RunRecord &record);   // to settings_.report, when one is asked for
    bool openPort();
    void showProgress(int done, int total, int errors);
    void boxChanged(int slot, bool checked);
    void showTicks();
    void shutDown();

    Settings settings_;
    std::unique_ptr<MSComm> MSComm1;
    BusPort *port_;
    BusExchange bus_;
    TransferTool tool_;
    bool closePending_ = false;
    bool shutDown_ = false;
};

}  // namespace zuk
