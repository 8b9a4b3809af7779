#pragma once
// What the window shows of an installation, taken down as data: for the
// installation on paper (--export) and for the differences of two images in
// the window's words (--diff).
//
// Everything is computed by the form's own display procedures on a form of
// its own that stores nothing (EditorForm::setDisplayOnly): setting a
// selection from the program runs the Click handlers as always, but no byte
// is written, so every record is shown from the image as it stands and the
// image of the window is never touched.

#include "editor/core/form.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <memory>
#include <utility>
#include <vector>

namespace kalvet {

// One combo box of the record area as the window shows it.
struct ShownEntry {
    QString caption;   // EditorForm::captionOf
    QString entry;     // the entry shown, or the number of a value without entry
    BytePlace at;      // the byte it stands for
};

struct RecordView {
    int record = 0;
    QString name;                  // the entry of Combo15
    std::vector<ShownEntry> items; // Combo2, Combo1(0..11), Combo5, Combo6 that stand for a byte
};

struct InputView {
    int number = 0;    // 0..13
    QString name;      // in_name
    QString type;      // as Combo2 shows it on the input's record; empty without one
    bool delayBox = false;   // inputs 0 and C have none
    QString delay;     // as the input's delay box shows it
};

struct ControllerView {
    int slot = 0;
    QString name;      // the entry of Combo3 (adres.ini)
    QString location;
    std::vector<InputView> inputs;               // 14
    QStringList outputs;                         // 14, as Text1 shows them
    QStringList irPackets;                       // 16
    std::vector<std::pair<QString, QString>> scenarios;   // code and name, 38
    std::vector<RecordView> records;             // every description record
};

struct InstallationView {
    QString folder;
    QDateTime made;
    QStringList dataFiles;
    std::vector<ControllerView> controllers;     // the universal controllers 0..7
};

// A form that shows and never stores. Messages it would give go to problems().
class DisplayCopy {
public:
    // The installation in folder, loaded as start-up loads it.
    explicit DisplayCopy(const QString &folder);
    // The model of source as it stands now: its image, its names with the
    // typing in its boxes, its scenario codes; the reference files are read
    // again from source's folder.
    explicit DisplayCopy(const EditorForm &source);
    ~DisplayCopy();

    EditorForm &form() { return *form_; }
    const EditorForm &form() const { return *form_; }
    // What the form would have told the user: reference files missing or
    // short, data files not read whole, side files found short on the way.
    QStringList problems() const;
    // Controllers the window can select (entries of Combo3).
    int controllerCount() const { return form_->Combo3.listCount(); }
    // Shows controller slot and takes down everything the window shows of it.
    ControllerView controller(int slot);
    // The whole installation: every selectable controller.
    InstallationView installation();

private:
    struct Host;
    std::unique_ptr<Host> host_;
    std::unique_ptr<EditorForm> form_;
    void show(int slot);
    RecordView record(int rec);
};

// The installation as an HTML document (UTF-8), one section per controller.
QString installationHtml(const InstallationView &view);

// One line for every byte that differs between the images a and b, in the
// words of the window of copy's installation: the controller (number, name,
// location), then the delay box, or the first description record that shows
// the byte with the item's caption and the entry shown for each image
// ("«A» → «B»"), or, for a byte no record shows, "регистр R байт B: X → Y".
// The last line is "различий: N". copy's image is left as it was.
// places, when given, gets for each line but the last where the window shows
// that byte: the slot and the record (its index in Combo15; -1 for a delay or
// a byte no record shows).
struct DifferencePlace {
    int slot = 0;
    int record = -1;
};
QStringList differenceLines(DisplayCopy &copy, const zuk::RegisterImage &a, const zuk::RegisterImage &b,
                            std::vector<DifferencePlace> *places = nullptr);

}  // namespace kalvet
