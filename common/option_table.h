#pragma once
// The parser of a program's command line made from its option table: every
// row with a name (without dashes) and a value name (nullptr for a flag).
// "-read" is taken as "--read", never as "-r -e -a -d"; -h and --help are
// added. Returns the options in the order of the table.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <vector>

namespace zuk {

template <typename Row>
std::vector<QCommandLineOption> addOptionTable(QCommandLineParser &parser, const std::vector<Row> &rows,
                                               const QCommandLineOption &help)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(help);
    std::vector<QCommandLineOption> options;
    for (const Row &row : rows) {
        options.emplace_back(QString::fromLatin1(row.name));
        if (row.valueName)
            options.back().setValueName(QString::fromLatin1(row.valueName));
        parser.addOption(options.back());
    }
    return options;
}

inline QCommandLineOption helpOption()
{
    return QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
}

}  // namespace zuk
