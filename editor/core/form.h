#pragma once
// EditorForm: every table, control and procedure of the configuration editor,
// without a display. The window (editor/window) shows these controls; tests
// drive the form directly.

#include "common/image_file.h"
#include "editor/core/controls.h"
#include "editor/core/side_files.h"

#include <QDateTime>
#include <QDir>
#include <QHash>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kalvet {

// desc_table and in_table: rows of text lines. opis_0.ini and in_0.ini fill
// the first rows and lines; the rest stay empty.
constexpr int kLineTableRows = 91;
using TextLines = std::array<QString, 71>;
using LineTable = std::array<TextLines, kLineTableRows>;

// Description records in opis_0.ini: the entries of Combo15.
constexpr int kRecordCount = 80;

// Where a description record or an input type keeps the lines of the record
// area. Item i (0..11) has its kind line at kindLine(i) and its byte offset on
// the line after it.
struct ItemLines {
    int caption;        // caption of Label1(1); those of Label1(2..8) follow
    int firstKind;      // kind line of item 0
    int extraCaption;   // caption of Label6; that of Label8 follows
    int extraKind;      // kind of Combo5; that of Combo6 follows
    constexpr int kindLine(int item) const { return firstKind + 2 * item; }
    constexpr int offsetLine(int item) const { return kindLine(item) + 1; }
};

// The lines of a description record (a row of desc_table).
struct RecordLine {
    static constexpr int kBaseRow = 0;        // first register row of the record's bytes
    static constexpr int kCaption = 1;        // caption of Label1(0)
    static constexpr int kKind = 10;          // "in": an input record; "ff": Combo2 names a byte value
    static constexpr int kSelectorRow = 11;   // the cell Combo2 writes: register row
    static constexpr int kSelectorByte = 12;  // and byte
    static constexpr ItemLines kItems{2, 13, 37, 39};   // read for a plain record
    static constexpr int kCount = 41;         // lines of a record in opis_0.ini
};

// The lines of an input type (a row of in_table).
struct TypeLine {
    static constexpr int kCode = 0;           // the value the register holds for the type
    static constexpr ItemLines kItems{1, 9, 33, 35};
    static constexpr int kCount = 37;         // lines of a type in in_0.ini
};

// An element of reg_image together with where it lies.
struct ImageByte {
    int slot = 0, row = 0, byte = 0;
    qint16 *value = nullptr;   // null when the place lies outside the image
    explicit operator bool() const { return value != nullptr; }
    qint16 operator*() const { return *value; }
};

// The names the user gives to each of the 16 controllers of the names and
// scenario files.
struct NameTables {
    std::array<QString, 16> ctrl_location;
    std::array<std::array<QString, 16>, 16> out_name;
    std::array<std::array<QString, 16>, 16> in_name;
    std::array<std::array<QString, 16>, 16> ir_name;
    std::array<std::array<QString, 38>, 16> scen_name;
    bool operator==(const NameTables &) const = default;
};

// Where an element of reg_image lies, without the element.
struct BytePlace {
    int slot = -1, row = 0, byte = 0;
    bool operator==(const BytePlace &) const = default;
};

// A byte of the image that showing records changed on its own (a stored
// value with no entry in its list takes the entry shown for it).
struct DisplayChange {
    int slot, row, byte;
    qint16 before, after;
    QString record;   // the description record that was shown
    bool operator==(const DisplayChange &) const = default;
};

// What one action of the user changed in the configuration: one step to
// undo and redo. Every byte keeps its value before the action and after it,
// every name line its text before and after.
struct Edit {
    QString what;   // for the menu: "выбор «5 с»", "ввод «Входы 3»"
    // The controller and description record shown before and after it.
    int controllerBefore = 0, recordBefore = -1;
    int controllerAfter = 0, recordAfter = -1;
    struct Byte {
        BytePlace at;
        qint16 before, after;
    };
    std::vector<Byte> bytes;
    struct Name {
        int controller, field, line;   // field: 0 location, 1 inputs, 2 outputs, 3 IR packets, 4 scenarios
        QString before, after;
    };
    std::vector<Name> names;
    // The list of bytes the display changed, before and after.
    std::vector<DisplayChange> displayBefore, displayAfter;
    bool empty() const { return bytes.empty() && names.empty(); }
};

// What the logic needs from the window around it.
class EditorHost {
public:
    virtual ~EditorHost() = default;
    // A modal message box with an OK button.
    virtual void message(const QString &text) = 0;
    // A modal question with Yes and No; true for Yes.
    virtual bool confirm(const QString &text) = 0;
    // A modal question with "Да", "Нет" and "Отмена". A host that cannot
    // offer the third answer asks Yes or No.
    enum class Answer { Yes, No, Cancel };
    virtual Answer askYesNoCancel(const QString &text) { return confirm(text) ? Answer::Yes : Answer::No; }
    // A data file changed on disk since the editor loaded it; "запись"
    // asks before it replaces it: Перезаписать (writes what the window
    // holds), Загрузить заново (loads the files, the window's changes go)
    // or Отмена (nothing happens). A host that cannot ask gets Отмена.
    enum class Overwrite { Overwrite, Reload, Cancel };
    virtual Overwrite askOverwrite(const QString &) { return Overwrite::Cancel; }
    // A user's action changed the configuration (one step to undo). Runs
    // inside the form's procedures: the host must not call back into them.
    virtual void editMade(const Edit &) {}
    // The steps made so far no longer apply: a load read the files anew.
    virtual void editsForgotten() {}
    // A save wrote these files (names without folder) at this time.
    virtual void saved(const QStringList &, const QDateTime &) {}
};

class EditorForm {
public:
    // folder: where every file of the installation lies.
    EditorForm(const QString &folder, EditorHost *host);
    EditorForm(const EditorForm &) = delete;
    EditorForm &operator=(const EditorForm &) = delete;

    QString folder() const { return folder_; }
    QString filePath(const QString &name) const;

    // ---- Controls -------------------------------------------------------
    // Selection bar and record area.
    ComboBox Combo15;            // description record selector
    ComboBox Combo3;             // controller selector
    ComboBox Combo2;             // the record's main value
    ComboBox Combo5;             // byte 2 of the base row
    ComboBox Combo6;             // byte 3 of the base row
    std::array<ComboBox, 12> Combo1;   // the twelve item combos
    std::array<Label, 9> Label1;       // captions of the record area
    Label Label6;                // caption of Combo5
    Label Label8;                // caption of Combo6
    // Names area.
    std::array<ComboBox, 12> Combo14;  // delay boxes
    std::array<TextBox, 14> Text2;     // input names
    std::array<TextBox, 14> Text1;     // output names
    std::array<TextBox, 16> Text4;     // IR packet names
    std::array<Label, 42> Label20;     // row numbers
    // Scenario area.
    TextBox Text3;                     // location
    std::array<TextBox, 38> Text5;     // scenario names
    std::array<Label, 38> Label14;     // scenario codes

    // ---- Configuration model --------------------------------------------
    std::array<zuk::SlotImage, 21> reg_image{};      // slot 20 is never loaded or saved
    NameTables names;                  // shown and edited in Text1..Text5
    LineTable desc_table;
    LineTable in_table;
    qint16 saved_ctrl_sel = 0;
    qint16 saved_desc_sel = 2;

    // ---- Start-up, loading and saving -----------------------------------
    // The window's load event. When reference files are missing and a sample
    // installation is known (setSampleInstallation), first offers to copy them.
    void Startup();
    // "читать": with unsaved changes asks first ("Да" saves, and the save
    // loads the files; "Нет" drops the changes; "Отмена" keeps everything),
    // then runs the load operation.
    void Command1_Click();
    // The load operation (start-up, "читать", the end of every save).
    void LoadConfiguration();
    void Command2_Click();       // "запись": the save operation
    // The save operation; true when the files were written (and loaded again).
    bool SaveConfiguration();
    void ShowController();
    // The boxes Text1..Text5 of controller c: filled from names, or stored
    // into tables (as a save takes them).
    void fillNameBoxes(int c);
    void storeNameBoxes(NameTables &tables, int c) const;
    // Takes what was typed into the boxes of the controller they show into
    // the name tables, as one step (a finished edit of a name); false when
    // nothing was typed. Runs before another controller is shown, before
    // every user's choice, and when the window says an edit is finished.
    bool commitTyping();
    // Whether the boxes hold typing not yet taken over.
    bool typingPending() const;
    // The controller whose names the boxes show; -1 when they show none.
    int boxesController() const { return boxesCtrl_; }
    // Choosing a controller first keeps the typing of the one shown so far.
    void Combo3_Click();
    void Combo14_Click(int index);
    // The reading of one file each, on its contents; the procedures above
    // read the file and report one that cannot be read. What is read before
    // a failure stays.
    // adres.ini: the list of Combo3; a short or bad file is reported.
    void LoadControllerList(const QByteArray &bytes);
    // timer.ini: the list of every delay box; a short file is reported.
    void LoadDelayTexts(const QByteArray &bytes);
    // opis_0.ini: desc_table and the list of Combo15; a short or bad file is
    // reported once per contents.
    void LoadDescriptions(const QByteArray &bytes);
    // The data files zuk.txt, out_in_ik.txt and szenar.txt: false, with
    // *failure saying what and where, when the file was not read whole.
    bool LoadImage(const QByteArray &bytes, QString *failure);
    bool LoadNames(const QByteArray &bytes, QString *failure);
    bool LoadScenarios(const QByteArray &bytes, QString *failure);
    // The data files (zuk.txt, out_in_ik.txt, szenar.txt) whose bytes on
    // disk differ from what the last load read: another program (zuk_2, a
    // restore) changed them since. The editor's own save loads them again,
    // so it leaves none.
    QStringList changedOnDisk() const;
    // Data files that failed at the last load (empty when it was complete).
    QStringList incompleteFiles() const { return incompleteFiles_; }
    // Bytes of the image that showing records changed on its own since the
    // last load; the next save lists them and asks before writing.
    using DisplayChange = kalvet::DisplayChange;
    const std::vector<DisplayChange> &displayChanges() const { return displayChanges_; }
    // Whether a save now would write other values than the last load or save
    // gave: register image, names, locations, delays, scenario names (the
    // shown controller's boxes as typed).
    bool hasUnsavedChanges() const;
    // With unsaved changes asks `question` with "Да" (saves as "запись"
    // does), "Нет" (goes on without saving) and "Отмена" (stays).
    enum class Go { On, Saved, Stay };
    Go askToSaveFirst(const QString &question);
    // The window is being closed: asks as above. True when it may close.
    bool QueryUnload();

    // ---- Undo ------------------------------------------------------------
    // Puts the configuration back as it was before edit (undo) or after it
    // (redo) and shows the controller and record where it was made. Typing
    // not yet taken over must be taken over first (commitTyping).
    void applyEdit(const Edit &edit, bool undo);

    // ---- Reference files ----------------------------------------------------
    // The sample installation that comes with the programs, from which
    // missing reference files are offered at start-up.
    void setSampleInstallation(const QString &folder) { sample_ = folder; }
    // Reference files (and the two name files) missing in the folder.
    QStringList missingInstallationFiles() const;
    // Copies every missing reference file from the sample and creates the
    // missing name files empty of names, as a save would write them; never
    // replaces a file that exists, never writes zuk.txt. *written names the
    // files made; false, with *error, when one could not be made.
    bool copyMissingFiles(QStringList *written, QString *error) const;

    // ---- Display without storing ------------------------------------------
    // With on, the Click handlers store nothing: the form shows what the
    // window would show of its image and leaves the image as it is.
    void setDisplayOnly(bool on) { displayOnly_ = on; }
    // The byte a combo of the record area (Combo2, Combo1, Combo5, Combo6)
    // stands for in the record shown now; slot -1 when it stands for none.
    BytePlace shownByte(const ComboBox &combo) const;
    // The caption the window shows for a combo of the record area: Label1(0)
    // for Combo2; the row's caption for an item on the left, the row's and
    // the column's (Label1(7) or (8)) for one on the right; Label6, Label8.
    QString captionOf(const ComboBox &combo) const;
    // The element of slot that delay box `box` (0..11) shows.
    static BytePlace delayByte(int slot, int box);

    // ---- Record display and editing -------------------------------------
    void ShowRecord();
    void ShowRecordItems();
    // Fills combo with the value list of kind and selects the entry of the
    // item byte; for "uslov" gives back the kind word of the chosen condition
    // ("ff", "in", "timer" or empty for none).
    QString ShowItem(ComboBox &combo, const QString &kind, int slot, int baseRow, int offset);
    void Combo15_Click();
    void Combo2_Click();
    void Combo1_Click(int index);
    void Combo5_Click();
    void Combo6_Click();
    // Loads the input types of in_0.ini into in_table (also done at start-up,
    // so that an "in" item of a plain record has type codes to match).
    void LoadInputTypes();

private:
    QString folder_;
    QDir dir_;   // of folder_, for filePath
    EditorHost *host_;

    // ---- state of loading and saving ----
    // Data files that failed at the last load; a save asks before writing
    // while this is not empty.
    QStringList incompleteFiles_;
    // The data files as the last load read them; none for one not read.
    QHash<QString, std::optional<QByteArray>> loadedBytes_;
    // The controller ShowController showed last: used when Combo3 has no
    // entry selected (the user typed in its edit field).
    int shownCtrl_ = 0;
    int controllerInUse() const;
    // Start-up's offer to copy missing reference files from the sample.
    void offerMissingFiles();
    // Puts the names of an undo step back (undo) or again (redo).
    void applyNames(const Edit &edit, bool undo);
    // Tells the user of a file that failed to load or a save that failed; the
    // editor goes on.
    void reportFileFailure(const QString &text);
    // First text that cannot be written as an item, as "field: character";
    // empty when every text can be written.
    QString unwritableText(int c) const;
    // Fields of the controllers the window cannot select whose text holds a
    // double quote; with fix, the quotes are replaced by apostrophes.
    QStringList hiddenQuotedFields(int c, bool fix);
    // The questions of a save, in the order it asks them; false when the
    // save stops there. c: the controller whose boxes are shown.
    bool mayReplaceChangedFiles();
    bool mayWriteIncompleteLoad();
    bool mayReplaceHiddenQuotes(int c);
    bool mayWriteDisplayChanges();

    // The controller whose names the boxes Text1..Text5 show; -1 while
    // they show nothing that counts (before the first display, during a load).
    int boxesCtrl_ = -1;
    QString sample_;
    bool displayOnly_ = false;
    // The bytes each combo of the record area stands for.
    QHash<const ComboBox *, BytePlace> shownBytes_;

    // ---- the user's action in progress ----
    std::unique_ptr<Edit> action_;
    // Runs a user's choice in combo: the typing not yet taken over becomes a
    // step of its own first; what the choice and the handlers it raises
    // change is one step, told to the host.
    void userChoice(const ComboBox &combo, const std::function<void()> &click);
    void endAction();
    // Shows controller c with record rec, as undo and redo do.
    void showPlace(int c, int rec);

    // ---- bytes the display changed ----
    std::vector<DisplayChange> displayChanges_;
    // Every Click handler writes through here; a write while a record display
    // is in progress (displaying_) is the display's own, not the user's.
    void storeByte(const ImageByte &at, qint16 value);
    // Selects an entry from the display, as the display's own choice.
    void selectFromDisplay(ComboBox &combo, int index);

    // ---- what the last load or save left, to tell unsaved changes from it ----
    struct Saved {
        std::array<zuk::SlotImage, zuk::kSlotCount> image{};
        NameTables names;
    };
    std::unique_ptr<Saved> saved_;
    void rememberSaved();

    // ---- state of the record display ----
    // The record and input type the record area shows; used when the user has
    // typed into Combo15 or Combo2 and left no entry selected there.
    int shownRec_ = -1;
    int shownType_ = -1;
    int recordInUse() const;
    int typeInUse() const;
    // Problems of the reference files, each told once per contents, and
    // the side files of the record display.
    FileProblems fileProblems_{[this](const QString &text) {
        if (host_)
            host_->message(text);
    }};
    SideFiles sideFiles_{dir_, fileProblems_};
    // Record displays in progress: selections made there come from the
    // program, not from the user.
    int displaying_ = 0;
    // A user chose input type t whose code in in_0.ini is not a number.
    void reportTypeWithoutCode(int t, const QString &typeName);
    // Loads in_table from in_0.ini and gives back the type names.
    QStringList readInputTypes();
    // The selector cell of record rec in the shown controller; none when it
    // lies outside the image.
    ImageByte selectorCell(int rec);
    // The byte an item with offset `offset` of record rec stands for.
    ImageByte recordByte(int rec, int offset);
    void showItemList(TextLines *lines, const ItemLines &at, int rec);
    void showExtra(ComboBox &combo, const QString &kind, int rec, int offset);
};

}  // namespace kalvet
