#include "common/about.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace zuk {

QString versionLine(const QString &program)
{
    return QStringLiteral("%1 %2 (сборка %3), Qt %4")
        .arg(program, QStringLiteral(ZUK_VERSION), QStringLiteral(ZUK_BUILD), QString::fromLatin1(qVersion()));
}

QString aboutText(const QString &program, const QString &title)
{
    return QStringLiteral(
               "<p><b>%1</b><br>%2</p>"
               "<p>Версия %3, сборка %4.<br>Собрано с Qt %5, работает с Qt %6.</p>"
               "<p>Программа входит в набор smarthome-tools: zuk_2 (чтение и запись контроллеров), "
               "kalvet (настройка), zuk_sim (имитация установки).</p>"
               "<p><b>Лицензии.</b> Лицензия самой программы пока не выбрана; её условия сообщает "
               "поставщик.</p>"
               "<p>Программа использует библиотеки Qt (Qt Core, Qt GUI, Qt Widgets, Qt Serial Port, "
               "Qt Network), © The Qt Company Ltd. и другие участники, по лицензии GNU Lesser General "
               "Public License версии 3 (LGPLv3). Библиотеки Qt подключаются динамически, и их можно "
               "заменить своей сборкой той же версии; исходные тексты Qt: "
               "<a href=\"https://download.qt.io/\">https://download.qt.io/</a> (в Debian — пакеты "
               "исходных текстов qt6-base, qt6-serialport). Текст LGPLv3: "
               "<a href=\"https://www.gnu.org/licenses/lgpl-3.0.html\">"
               "https://www.gnu.org/licenses/lgpl-3.0.html</a>. Подробности — кнопка «О Qt».</p>")
        .arg(title.toHtmlEscaped(), program.toHtmlEscaped(), QStringLiteral(ZUK_VERSION), QStringLiteral(ZUK_BUILD),
             QStringLiteral(QT_VERSION_STR), QString::fromLatin1(qVersion()));
}

QString manualIndex()
{
    const QString bin = QCoreApplication::applicationDirPath();
    for (const QString &folder : {QDir(bin).filePath(QStringLiteral(ZUK_MANUAL_FROM_BIN)),
                                  QDir(bin).filePath(QStringLiteral("manual")), QStringLiteral(ZUK_SOURCE_MANUAL)}) {
        const QString index = QDir(folder).filePath(QStringLiteral("index.html"));
        if (QFileInfo(index).isFile())
            return QDir::cleanPath(index);
    }
    return {};
}

}  // namespace zuk
