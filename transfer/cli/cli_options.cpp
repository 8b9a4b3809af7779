#include "transfer/cli/cli_options.h"

#include "common/option_table.h"
#include "common/start_up.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <vector>

namespace zuk {

namespace {

using Mode = TransferOptions::Mode;

// Bits of the modes an option goes with.
enum : unsigned {
    kWindow = 1u << int(Mode::Window),
    kRead = 1u << int(Mode::Read),
    kWrite = 1u << int(Mode::Write),
    kCompare = 1u << int(Mode::Compare),
    kScan = 1u << int(Mode::Scan),
    kHistoryList = 1u << int(Mode::HistoryList),
    kBusRuns = kRead | kWrite | kCompare,
    kWithPort = kWindow | kBusRuns,
    kLine = kWithPort | kScan,   // the options of the line
};

using Apply = bool (*)(const QString &value, TransferOptions *o, QString *error);

struct OptionRow {
    const char *name;            // without the dashes
    const char *valueName;       // nullptr: a flag
    std::optional<Mode> selects; // a mode option: the mode it selects
    unsigned modes;              // other options: the modes they go with
    const char *help;            // one line of --help, in the user's words (details: man zuk_2)
    Apply apply;                 // stores the value (options other than modes)
};

bool positiveMs(const QString &value, int low, int high, const char *name, int *out, QString *error)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    const int ms = value.toInt();
    if (!digits.match(value).hasMatch() || ms < low || ms > high) {
        *error = QStringLiteral("неверное значение --%1: \"%2\" (от %3 до %4)")
                     .arg(QLatin1String(name), value)
                     .arg(low)
                     .arg(high);
        return false;
    }
    *out = ms;
    return true;
}

bool nonEmpty(const QString &value, const char *what, QString *out, QString *error)
{
    if (value.isEmpty()) {
        *error = QStringLiteral("пустое имя %1").arg(QString::fromUtf8(what));
        return false;
    }
    *out = value;
    return true;
}

const std::vector<OptionRow> &optionTable()
{
    static const std::vector<OptionRow> rows = {
        {"read", nullptr, Mode::Read, 0, "прочитать отмеченные контроллеры в zuk.txt", nullptr},
        {"write", nullptr, Mode::Write, 0, "записать zuk.txt в отмеченные контроллеры", nullptr},
        {"compare", nullptr, Mode::Compare, 0, "сравнить контроллеры с zuk.txt (ничего не пишет)", nullptr},
        {"scan", nullptr, Mode::Scan, 0, "найти отвечающие контроллеры", nullptr},
        {"diff", nullptr, Mode::Diff, 0, "показать различия двух файлов образа", nullptr},
        {"list-ports", nullptr, Mode::ListPorts, 0, "перечислить последовательные порты компьютера", nullptr},
        {"history-list", nullptr, Mode::HistoryList, 0, "перечислить образы в папке history/", nullptr},
        {"version", nullptr, Mode::Version, 0, "версия программы, её сборка и версия Qt", nullptr},
        {"port", "NAME", std::nullopt, kLine,
         "порт: /dev/ttyUSB0, COM3, tcp://ХОСТ:ПОРТ, rfc2217://…",
         [](const QString &v, TransferOptions *o, QString *e) {
             o->portGiven = true;
             return nonEmpty(v, "порта", &o->port, e);
         }},
        {"echo", nullptr, std::nullopt, kLine,
         "адаптер возвращает эхо каждого байта (полудуплекс)",
         [](const QString &, TransferOptions *o, QString *) { return o->echo = true; }},
        {"rs485", nullptr, std::nullopt, kLine,
         "включить режим RS-485 драйвера порта (Linux)",
         [](const QString &, TransferOptions *o, QString *) { return o->rs485 = true; }},
        {"dir", "FOLDER", std::nullopt, kWithPort | kHistoryList,
         "папка дома с zuk.txt (без окна: иначе текущая папка)",
         [](const QString &v, TransferOptions *o, QString *e) { return nonEmpty(v, "папки", &o->dir, e); }},
        {"tick", "LIST", std::nullopt, kBusRuns | kScan,
         "с какими контроллерами работать: 00,07,80 | all | none",
         [](const QString &v, TransferOptions *o, QString *e) {
             std::array<bool, kSlotCount> ticks{};
             if (!parseAddressList(v, &ticks)) {
                 *e = QStringLiteral("неверный список --tick: \"%1\" (нужно, например, 00,07,80,9C, all или none)")
                          .arg(v);
                 return false;
             }
             o->tick = ticks;
             return true;
         }},
        {"wait-unit-ms", "N", std::nullopt, kLine, "единица ожидания обмена, мс (по умолчанию 400)",
         [](const QString &v, TransferOptions *o, QString *e) {
             return positiveMs(v, 1, 60000, "wait-unit-ms", &o->waitUnitMs, e);
         }},
        {"verify", nullptr, std::nullopt, kWindow | kWrite,
         "проверять каждую запись чтением",
         [](const QString &, TransferOptions *o, QString *) { return o->verify = true; }},
        {"skip-silent", nullptr, std::nullopt, kWithPort,
         "пропускать контроллеры, не ответившие ни разу",
         [](const QString &, TransferOptions *o, QString *) { return o->skipSilent = true; }},
        {"changed-only", nullptr, std::nullopt, kWindow | kWrite,
         "записывать только изменённое (прежнее — в history/)",
         [](const QString &, TransferOptions *o, QString *) { return o->changedOnly = true; }},
        {"backup-first", nullptr, std::nullopt, kWrite,
         "перед записью сохранить систему в history/",
         [](const QString &, TransferOptions *o, QString *) { return o->backupFirst = true; }},
        {"history", nullptr, std::nullopt, kWindow | kRead,
         "сохранять заменяемый zuk.txt в history/ (по умолчанию)",
         [](const QString &, TransferOptions *o, QString *) { return o->historyGiven = o->history = true; }},
        {"no-history", nullptr, std::nullopt, kWindow | kRead,
         "не сохранять заменяемый zuk.txt в history/",
         [](const QString &, TransferOptions *o, QString *) {
             o->history = false;
             return o->historyGiven = true;
         }},
        {"keep", "N", std::nullopt, kWindow | kRead | kWrite,
         "сколько образов хранить в history/ (по умолчанию 50)",
         [](const QString &v, TransferOptions *o, QString *e) { return positiveMs(v, 1, 100000, "keep", &o->keep, e); }},
        {"force-absent", nullptr, std::nullopt, kWrite,
         "записывать и контроллеры, отмеченные отсутствующими",
         [](const QString &, TransferOptions *o, QString *) { return o->forceAbsent = true; }},
        {"report", "FILE", std::nullopt, kLine,
         "отчёт о каждом запуске в JSON",
         [](const QString &v, TransferOptions *o, QString *e) { return nonEmpty(v, "файла отчёта", &o->report, e); }},
        {"trace", "FILE", std::nullopt, kLine,
         "записывать весь обмен на линии в файл",
         [](const QString &v, TransferOptions *o, QString *e) {
             return nonEmpty(v, "файла записи обмена", &o->trace, e);
         }},
        {"fast", nullptr, std::nullopt, kLine,
         "быстрый обмен: не ждать дольше, чем нужно ответу",
         [](const QString &, TransferOptions *o, QString *) { return o->fast = true; }},
        {"reply-timeout-ms", "N", std::nullopt, kLine, "с --fast: наибольшее ожидание ответа, мс (100)",
         [](const QString &v, TransferOptions *o, QString *e) {
             return positiveMs(v, 5, 60000, "reply-timeout-ms", &o->replyTimeoutMs, e);
         }},
        {"settle-ms", "N", std::nullopt, kLine, "тишина на линии перед запросом после сбоя, мс (20)",
         [](const QString &v, TransferOptions *o, QString *e) {
             return positiveMs(v, 0, 60000, "settle-ms", &o->settleMs, e);
         }},
    };
    return rows;
}

QString dashed(const OptionRow &row)
{
    return QStringLiteral("--") + QLatin1String(row.name);
}

QString modeName(Mode m)
{
    for (const OptionRow &row : optionTable())
        if (row.selects == m)
            return dashed(row);
    return QStringLiteral("окна");
}

}  // namespace

bool parseTransferOptions(const QStringList &args, TransferOptions *out, QString *error)
{
    QCommandLineParser parser;
    const QCommandLineOption help = helpOption();
    const std::vector<QCommandLineOption> options = addOptionTable(parser, optionTable(), help);
    if (!parser.parse(QStringList{QStringLiteral("zuk_2")} + args)) {
        *error = commandLineError(parser);
        return false;
    }
    if (parser.isSet(help)) {
        out->mode = Mode::Help;
        return true;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        out->mode = Mode::Version;
        return true;
    }

    TransferOptions o;
    int modesGiven = 0;
    for (const QString &name : parser.optionNames())
        for (const OptionRow &row : optionTable())
            if (row.selects && name == QLatin1String(row.name) && ++modesGiven == 1)
                o.mode = *row.selects;
    if (modesGiven > 1) {
        *error = QStringLiteral("лишний или повторный режим: можно только один из --read, --write, --compare, --scan, "
                                "--diff, --list-ports, --history-list");
        return false;
    }
    for (size_t i = 0; i < optionTable().size(); ++i) {
        const OptionRow &row = optionTable()[i];
        if (row.selects || !parser.isSet(options[i]))
            continue;
        if (!(row.modes & (1u << int(o.mode)))) {
            *error = QStringLiteral("%1 не действует %2").arg(dashed(row),
                o.mode == Mode::Window ? QStringLiteral("без --read, --write, --compare или --scan")
                                       : QStringLiteral("вместе с %1").arg(modeName(o.mode)));
            return false;
        }
        const QStringList values = parser.values(options[i]);
        if (values.size() > 1) {
            *error = QStringLiteral("повторный аргумент: %1").arg(dashed(row));
            return false;
        }
        if (row.valueName && values.value(0).startsWith(QLatin1String("--"))) {
            // "--port --dir x": the next option is no value
            *error = QStringLiteral("нет значения у %1 (%2 — другой параметр)").arg(dashed(row), values.value(0));
            return false;
        }
        if (!row.apply(values.value(0), &o, error))
            return false;
    }
    for (const char *name : {"reply-timeout-ms"})
        if (!o.fast && parser.isSet(QString::fromLatin1(name))) {
            *error = QStringLiteral("--%1 действует только вместе с --fast").arg(QLatin1String(name));
            return false;
        }
    const QStringList rest = parser.positionalArguments();
    if (o.mode == Mode::Diff) {
        if (rest.size() != 2) {
            *error = QStringLiteral("--diff сравнивает ровно два файла: zuk_2 --diff FILE_A FILE_B");
            return false;
        }
        o.diffA = rest[0];
        o.diffB = rest[1];
    } else if (!rest.isEmpty()) {
        *error = QStringLiteral("неизвестный аргумент: %1").arg(rest.first());
        return false;
    }
    *out = o;
    return true;
}

QString transferUsage()
{
    // One screen of 80 columns; the details are in man zuk_2 and the manual.
    QString text = QStringLiteral(
        "zuk_2 — чтение и запись контроллеров умного дома.\n"
        "\n"
        "Использование:\n"
        "  zuk_2 [--port ПОРТ] [--dir ПАПКА]         окно «умный дом»\n"
        "  zuk_2 --read | --write | --compare [...]  то же без окна\n"
        "  zuk_2 --scan | --list-ports | --history-list | --diff FILE_A FILE_B\n"
        "\n"
        "Параметры:\n");
    constexpr int kColumn = 24;
    auto optionLine = [&](const QString &left, const QString &help) {
        return (QStringLiteral("  ") + left).leftJustified(kColumn - 1) + QLatin1Char(' ') + help + '\n';
    };
    for (const OptionRow &row : optionTable())
        text += optionLine(dashed(row) + (row.valueName ? QLatin1Char(' ') + QLatin1String(row.valueName) : QString()),
                           QString::fromUtf8(row.help));
    text += optionLine(QStringLiteral("-h, --help"), QStringLiteral("этот текст"));
    text += QStringLiteral(
        "\n"
        "Без окна zuk_2 работает в папке --dir или в текущей и ничего не запоминает.\n"
        "Перед записью и сравнением zuk.txt, изменённый другой программой, загружается\n"
        "заново; окно замечает такое изменение и без запуска.\n"
        "\n"
        "Коды завершения:\n"
        "  0 всё удалось; 1 есть неудавшиеся регистры или различия, или ничего не\n"
        "  прочитано; 2 запуск не начат (параметры, порт, файлы); 3 zuk.txt, --trace\n"
        "  или --report не записаны целиком; 4 связь с линией потеряна, линия не\n"
        "  затихает или ни один контроллер не ответил.\n"
        "Подробно: man zuk_2; руководство — в окне Справка > Руководство (F1).\n");
    return text;
}

}  // namespace zuk
