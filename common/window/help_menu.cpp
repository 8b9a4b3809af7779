#include "common/window/help_menu.h"

#include "common/about.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>

namespace zuk {

bool openManual(QString *why)
{
    const QString index = manualIndex();
    if (index.isEmpty()) {
        *why = QStringLiteral("Руководство не найдено: его нет ни рядом с программой, ни в папке "
                              "/usr/share/doc/smarthome-tools/manual.");
        return false;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(index))) {
        *why = QStringLiteral("Не удалось открыть руководство в браузере. Откройте файл %1 вручную.")
                   .arg(QDir::toNativeSeparators(index));
        return false;
    }
    return true;
}

std::unique_ptr<QMessageBox> aboutBox(QWidget *parent, const QString &program, const QString &title)
{
    auto box = std::make_unique<QMessageBox>(QMessageBox::Information, QStringLiteral("О программе"),
                                             aboutText(program, title), QMessageBox::Close, parent);
    box->setObjectName(QStringLiteral("aboutBox"));
    box->setTextFormat(Qt::RichText);
    box->setTextInteractionFlags(Qt::TextBrowserInteraction);
    box->button(QMessageBox::Close)->setText(QStringLiteral("Закрыть"));
    QPushButton *qt = box->addButton(QStringLiteral("О Qt"), QMessageBox::HelpRole);
    // The box stays open after Qt's own notice.
    qt->disconnect();
    QObject::connect(qt, &QPushButton::clicked, box.get(), [b = box.get()] { QMessageBox::aboutQt(b, QStringLiteral("О Qt")); });
    return box;
}

HelpMenu addHelpMenu(QMainWindow *window, const QString &program, const QString &title,
                     std::function<void(const QString &)> tell)
{
    HelpMenu help;
    help.menu = window->menuBar()->addMenu(QStringLiteral("&Справка"));
    help.manual = help.menu->addAction(QStringLiteral("&Руководство"));
    help.manual->setShortcut(QKeySequence(Qt::Key_F1));
    QObject::connect(help.manual, &QAction::triggered, window, [tell] {
        QString why;
        if (!openManual(&why))
            tell(why);
    });
    help.about = help.menu->addAction(QStringLiteral("&О программе…"));
    QObject::connect(help.about, &QAction::triggered, window, [window, program, title] {
        aboutBox(window, program, title)->exec();
    });
    return help;
}

}  // namespace zuk
