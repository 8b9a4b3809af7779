#include "common/start_up.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QTranslator>

namespace zuk {

namespace {

// Texts of Qt's own dialogs that its Russian catalog lacks: the type column
// of the file dialog.
class MissingQtTexts : public QTranslator {
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0)
            return QString();
        if (qstrcmp(source, "Folder") == 0)
            return QStringLiteral("Папка");
        if (qstrcmp(source, "Drive") == 0)
            return QStringLiteral("Диск");
        return QString();
    }
};

}  // namespace

int installQtTranslations(const QStringList &catalogs)
{
    int installed = 0;
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    // First, so that Qt's catalogs, installed after it, are asked before it.
    QCoreApplication::installTranslator(new MissingQtTexts(QCoreApplication::instance()));
    // Russian whatever the user's locale: the whole interface is Russian.
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    for (const QString &catalog : catalogs) {
        auto *translator = new QTranslator(QCoreApplication::instance());
        if (translator->load(russian, catalog, QStringLiteral("_"), folder) && QCoreApplication::installTranslator(translator))
            ++installed;
        else
            delete translator;
    }
    return installed;
}

QString commandLineError(const QCommandLineParser &parser)
{
    // The parser's texts are English and say which option in quotes.
    if (!parser.unknownOptionNames().isEmpty()) {
        const QString name = parser.unknownOptionNames().first();
        return QStringLiteral("неизвестный аргумент: %1%2").arg(name.size() == 1 ? "-" : "--", name);
    }
    static const QRegularExpression quoted(QStringLiteral("'([^']*)'"));
    const QString text = parser.errorText();
    const QString name = quoted.match(text).captured(1);
    if (text.startsWith(QLatin1String("Missing value")))
        return QStringLiteral("нет значения у %1").arg(name);
    if (text.startsWith(QLatin1String("Unexpected value")))
        return QStringLiteral("лишнее значение у %1").arg(name);
    return QStringLiteral("ошибка в аргументах: %1").arg(text);
}

}  // namespace zuk
