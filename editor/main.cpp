// kalvet: the configuration editor of the smart home controllers.
//   kalvet [--dir FOLDER]
// Every file of the installation lies in FOLDER, by default the folder that
// holds the program.
#include "editor/window/editor_window.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kalvet"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Программа настройки контроллеров умного дома"));
    parser.addHelpOption();
    const QCommandLineOption dirOption(
        QStringList{QStringLiteral("dir")},
        QStringLiteral("Папка установки с файлами zuk.txt, out_in_ik.txt, szenar.txt и *.ini "
                       "(по умолчанию папка программы)."),
        QStringLiteral("FOLDER"));
    parser.addOption(dirOption);
    parser.process(app);

    const QString folder = parser.isSet(dirOption) ? QDir(parser.value(dirOption)).absolutePath()
                                                   : QCoreApplication::applicationDirPath();

    kalvet::EditorWindow window(folder);
    window.start();
    window.show();
    return app.exec();
}
