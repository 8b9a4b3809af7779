#pragma once
// The Справка menu of both windows: "Руководство" (F1) opens the user manual
// in the system's browser, "О программе…" shows what the program is, its
// version and build, Qt and the licences.

#include <QString>
#include <functional>
#include <memory>

class QAction;
class QMainWindow;
class QMenu;
class QMessageBox;
class QWidget;

namespace zuk {

struct HelpMenu {
    QMenu *menu = nullptr;
    QAction *manual = nullptr;
    QAction *about = nullptr;
};

// Adds the menu to the window's menu bar, last. tell says what kept the
// manual from opening (a message box of the window, replaced in tests).
HelpMenu addHelpMenu(QMainWindow *window, const QString &program, const QString &title,
                     std::function<void(const QString &)> tell);

// Opens manualIndex() through QDesktopServices; false, with the reason in
// Russian, when there is no manual or nothing opened it.
bool openManual(QString *why);

// The About box (aboutText), with a button "О Qt" for Qt's own notice.
std::unique_ptr<QMessageBox> aboutBox(QWidget *parent, const QString &program, const QString &title);

}  // namespace zuk
