#include "transfer/options.h"

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
    const char *help;            // lines after the first are indented under it
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
        {"read", nullptr, Mode::Read, 0, "чтение: отмеченные контроллеры в файл zuk.txt", nullptr},
        {"write", nullptr, Mode::Write, 0, "запись: файл zuk.txt в отмеченные контроллеры", nullptr},
        {"compare", nullptr, Mode::Compare, 0,
         "читает отмеченные контроллеры и перечисляет все байты, отличающиеся от\n"
         "zuk.txt; ничего не записывает, не отправляет ни одного кадра записи",
         nullptr},
        {"scan", nullptr, Mode::Scan, 0,
         "запрашивает регистр 0 у каждого контроллера карты адресов (или из --tick),\n"
         "до 3 попыток на каждый, и выводит по строке на каждый ответивший: его\n"
         "адрес в записи --tick, табуляция, подпись его флажка; ничего не сохраняет,\n"
         "не отправляет ни одного кадра записи",
         nullptr},
        {"diff", nullptr, Mode::Diff, 0,
         "перечисляет все байты, различающиеся в файлах образа FILE_A и FILE_B;\n"
         "порт не открывает",
         nullptr},
        {"list-ports", nullptr, Mode::ListPorts, 0,
         "перечисляет последовательные порты этого компьютера, по одному в строке:\n"
         "имя для --port, описание, производитель, серийный номер, USB VID:PID\n"
         "(через табуляцию)",
         nullptr},
        {"history-list", nullptr, Mode::HistoryList, 0,
         "перечисляет образы, хранящиеся в history/ рядом с zuk.txt, новые первыми,\n"
         "по одному в строке: имя файла, присутствующие в нём контроллеры (в записи\n"
         "--tick), отличий от zuk.txt, байт (через табуляцию); порт не открывает",
         nullptr},
        {"port", "NAME", std::nullopt, kLine,
         "последовательный порт, 19200 8N1 (по умолчанию последний выбранный в окне\n"
         "порт, иначе COM1 в Windows, /dev/ttyS0 в остальных системах; /dev/ttyUSB0,\n"
         "COM3, путь к pty, …) или сетевой шлюз: tcp://HOST:PORT (прозрачный\n"
         "TCP-порт, байты как на линии) или rfc2217://HOST:PORT (параметр Telnet\n"
         "COM-PORT: порт шлюза настраивается на 19200 8N1 без управления потоком)",
         [](const QString &v, TransferOptions *o, QString *e) {
             o->portGiven = true;
             return nonEmpty(v, "порта", &o->port, e);
         }},
        {"echo", nullptr, std::nullopt, kLine,
         "адаптер возвращает эхо каждого отправленного байта (полудуплексный\n"
         "RS-485): перед ответом ожидается обратно сам запрос; несовпавшее эхо —\n"
         "неудачная попытка",
         [](const QString &, TransferOptions *o, QString *) { return o->echo = true; }},
        {"rs485", nullptr, std::nullopt, kLine,
         "включает режим RS-485 драйвера (Linux, TIOCSRS485: RTS включён на время\n"
         "передачи и выключается после неё; задержки драйвера не меняются);\n"
         "отклоняется, если драйвер этого не умеет, и для сетевой линии (направление\n"
         "переключает шлюз)",
         [](const QString &, TransferOptions *o, QString *) { return o->rs485 = true; }},
        {"dir", "FOLDER", std::nullopt, kWithPort | kHistoryList,
         "папка с файлом zuk.txt. Запуск без окна работает в ней, без --dir — в\n"
         "текущей папке, и ничего не запоминает; первая строка его стандартного\n"
         "потока ошибок называет папку («zuk_2: папка /путь»). Окно запоминает её до\n"
         "следующего запуска (по умолчанию папка программы, если zuk.txt лежит в ней,\n"
         "иначе запомненная в прошлый раз, иначе окно спрашивает папку)",
         [](const QString &v, TransferOptions *o, QString *e) { return nonEmpty(v, "папки", &o->dir, e); }},
        {"tick", "LIST", std::nullopt, kBusRuns | kScan,
         "контроллеры, с которыми работать вместо присутствующих в zuk.txt (с\n"
         "--scan: вместо всех двадцати): шестнадцатеричные адреса на шине, как на\n"
         "флажках, через запятую (00,07,80,9C), либо all, либо none",
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
        {"wait-unit-ms", "N", std::nullopt, kLine, "длительность единицы ожидания в миллисекундах, от 1 до 60000\n"
         "(по умолчанию 400)",
         [](const QString &v, TransferOptions *o, QString *e) {
             return positiveMs(v, 1, 60000, "wait-unit-ms", &o->waitUnitMs, e);
         }},
        {"verify", nullptr, std::nullopt, kWindow | kWrite,
         "читает обратно каждый записанный регистр; регистр считается записанным,\n"
         "только если прочитанные 8 байтов равны образу (два обмена на регистр)",
         [](const QString &, TransferOptions *o, QString *) { return o->verify = true; }},
        {"skip-silent", nullptr, std::nullopt, kWithPort,
         "контроллер, первый регистр которого не удался без единого верного ответа\n"
         "за этот запуск, пропускается: остальные его регистры не запрашиваются\n"
         "(их значения в образе остаются прежними), в общее число ошибок входит\n"
         "только этот один регистр",
         [](const QString &, TransferOptions *o, QString *) { return o->skipSilent = true; }},
        {"changed-only", nullptr, std::nullopt, kWindow | kWrite,
         "сначала читает все регистры; записывает только отличающиеся от образа\n"
         "(и те, чтение которых не удалось), каждый читая обратно; перед первым\n"
         "кадром записи сохраняет систему в прочитанном виде в\n"
         "history/zuk-YYYYMMDD-HHMMSS.txt",
         [](const QString &, TransferOptions *o, QString *) { return o->changedOnly = true; }},
        {"backup-first", nullptr, std::nullopt, kWrite,
         "перед записью читает отмеченные контроллеры целиком в\n"
         "history/zuk-YYYYMMDD-HHMMSS.txt; если чтение регистра не удалось, копия\n"
         "неполная, и тогда ничего не записывается (код завершения 2)",
         [](const QString &, TransferOptions *o, QString *) { return o->backupFirst = true; }},
        {"history", nullptr, std::nullopt, kWindow | kRead,
         "прежде чем чтение заменит zuk.txt файлом с другими байтами, сохраняет\n"
         "заменяемый файл как history/zuk-YYYYMMDD-HHMMSS.txt; включено по\n"
         "умолчанию (в окне — пункт меню Режим, он запоминается)",
         [](const QString &, TransferOptions *o, QString *) { return o->historyGiven = o->history = true; }},
        {"no-history", nullptr, std::nullopt, kWindow | kRead,
         "чтение заменяет zuk.txt, не сохраняя прежний файл в history/",
         [](const QString &, TransferOptions *o, QString *) {
             o->history = false;
             return o->historyGiven = true;
         }},
        {"keep", "N", std::nullopt, kWindow | kRead | kWrite,
         "сколько образов хранит history/: после запуска, добавившего образ, самые\n"
         "старые сверх N удаляются (их имена выводятся), самый новый и только что\n"
         "сохранённый — никогда (по умолчанию 50, от 1 до 100000)",
         [](const QString &v, TransferOptions *o, QString *e) { return positiveMs(v, 1, 100000, "keep", &o->keep, e); }},
        {"force-absent", nullptr, std::nullopt, kWrite,
         "записывает отмеченные контроллеры, байт присутствия которых в образе\n"
         "равен 0 (без этого параметра такая запись отклоняется до отправки\n"
         "чего-либо)",
         [](const QString &, TransferOptions *o, QString *) { return o->forceAbsent = true; }},
        {"report", "FILE", std::nullopt, kLine,
         "после каждого запуска записывает отчёт о нём в формате JSON в FILE (его\n"
         "папка должна существовать; не может быть файлом установки: zuk.txt,\n"
         "out_in_ik.txt, szenar.txt, файлы *.ini, их копии NAME.bak-* и временные\n"
         "файлы NAME.tmp-XXXXXX)",
         [](const QString &v, TransferOptions *o, QString *e) { return nonEmpty(v, "файла отчёта", &o->report, e); }},
        {"trace", "FILE", std::nullopt, kLine,
         "записывает обмен на линии в FILE по ходу запуска: каждый отправленный\n"
         "запрос и каждую полученную порцию байтов с их временем и итог каждого\n"
         "обмена (см. ниже); файл создаётся заново и не может быть файлом\n"
         "установки (как у --report)",
         [](const QString &v, TransferOptions *o, QString *e) {
             return nonEmpty(v, "файла записи обмена", &o->trace, e);
         }},
        {"fast", nullptr, std::nullopt, kLine,
         "на скорости линии: обмен заканчивается, как только ответ получен\n"
         "целиком; если полного ответа нет за время ожидания ответа, попытка\n"
         "неудачна; каждый записанный регистр читается обратно, прежде чем\n"
         "считаться записанным",
         [](const QString &, TransferOptions *o, QString *) { return o->fast = true; }},
        {"reply-timeout-ms", "N", std::nullopt, kLine, "с --fast: наибольшее время ожидания ответа (по умолчанию 100, не меньше 5)",
         [](const QString &v, TransferOptions *o, QString *e) {
             return positiveMs(v, 5, 60000, "reply-timeout-ms", &o->replyTimeoutMs, e);
         }},
        {"settle-ms", "N", std::nullopt, kLine, "сколько миллисекунд линия должна молчать перед первым запросом запуска\n"
         "и после сбоя обмена (неудачная попытка, чужой байт); по умолчанию 20.\n"
         "Ответ, части которого приходят с паузой дольше этого времени, — сбой.\n"
         "Подтверждающее чтение после сбоя ждёт, пока линия промолчит дольше\n"
         "окна ответа (единица ожидания, с --fast — --reply-timeout-ms)\n"
         "после последнего байта и последнего запроса",
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
    // A mode's command line, wrapped before 90 columns under its first option.
    auto synopsis = [](Mode m, const char *tail) {
        QStringList words;
        for (const OptionRow &row : optionTable())
            if (!row.selects && (row.modes & (1u << int(m))))
                words << QStringLiteral("[") + dashed(row)
                             + (row.valueName ? QLatin1Char(' ') + QLatin1String(row.valueName) : QString()) + ']';
        if (*tail)
            words << QLatin1String(tail);
        QString text = QStringLiteral("  zuk_2");
        if (m != Mode::Window)
            text += QLatin1Char(' ') + modeName(m);
        qsizetype lineStart = 0;
        for (const QString &word : words) {
            if (text.size() - lineStart + 1 + word.size() > 90) {
                text += QLatin1Char('\n');
                lineStart = text.size();
                text += QString(7, QLatin1Char(' '));
            }
            text += QLatin1Char(' ') + word;
        }
        return text + QLatin1Char('\n');
    };
    QString text = QStringLiteral(
        "zuk_2: читает контроллеры шины умного дома в файл zuk.txt или записывает zuk.txt в них.\n"
        "\n"
        "Использование:\n");
    text += synopsis(Mode::Window, "") + QStringLiteral("      открывает окно «умный дом».\n");
    text += synopsis(Mode::Read, "") + synopsis(Mode::Write, "") + synopsis(Mode::Compare, "");
    text += QStringLiteral("      выполняет чтение, запись или сравнение без окна.\n");
    text += synopsis(Mode::Scan, "") + QStringLiteral("      находит отвечающие контроллеры.\n");
    text += synopsis(Mode::Diff, "FILE_A FILE_B") + synopsis(Mode::ListPorts, "") + synopsis(Mode::HistoryList, "")
            + QStringLiteral("\nПараметры:\n");

    constexpr int kColumn = 24;
    auto optionLine = [&](const QString &left, const QString &help) {
        QString out;
        const QStringList lines = help.split(QLatin1Char('\n'));
        out += (QStringLiteral("  ") + left).leftJustified(kColumn - 1) + QLatin1Char(' ') + lines[0] + '\n';
        for (qsizetype i = 1; i < lines.size(); ++i)
            out += QString(kColumn, QLatin1Char(' ')) + lines[i] + '\n';
        return out;
    };
    for (const OptionRow &row : optionTable())
        text += optionLine(dashed(row) + (row.valueName ? QLatin1Char(' ') + QLatin1String(row.valueName) : QString()),
                           QString::fromUtf8(row.help));
    text += optionLine(QStringLiteral("-h, --help"), QStringLiteral("этот текст"));

    text += QStringLiteral(
        "\n"
        "Без окна программа начинает работу так же, как окно: открывается порт, загружается\n"
        "zuk.txt (если он не загружается — «Ошибка, нет готового файла» в стандартный поток\n"
        "ошибок), и присутствующие в нём контроллеры отмечаются. Каждый текст строки состояния\n"
        "выводится в стандартный вывод одной строкой UTF-8; ошибки — в стандартный поток\n"
        "ошибок, туда же строка хода работы, если это терминал (сделано регистров из нужного\n"
        "числа, ошибки, прошедшее время, оценка оставшегося времени). Чтение сохраняет zuk.txt;\n"
        "8-секундная пауза в конце запуска пропускается. В конце в стандартный поток ошибок\n"
        "выводится по строке на каждый контроллер с неудавшимися регистрами\n"
        "(«$80: регистры 2, 5 не прочитаны»). SIGINT, SIGTERM или SIGHUP останавливают запуск\n"
        "после текущего обмена; остановленное чтение ничего не сохраняет, отчёт записывается.\n"
        "Сигнал во время записи zuk.txt или отчёта, в том числе повторный, ждёт, пока запись\n"
        "не завершится. zuk.txt, загруженный не полностью, сначала сохраняется как\n"
        "zuk.txt.bak-YYYYMMDD-HHMMSS. Закрытый стандартный вывод прекращает вывод строк\n"
        "состояния, но не запуск.\n"
        "\n"
        "Если zuk.txt или отчёт — символическая ссылка, записывается файл, на который она\n"
        "указывает (последний в цепочке ссылок; он заменяется в своей папке); ссылка остаётся.\n"
        "zuk.txt, у которого нет ни одного бита права на запись (chmod 444), не заменяется:\n"
        "чтение отклоняется до отправки чего-либо. Временные файлы NAME.tmp-XXXXXX от zuk.txt\n"
        "и отчёта, оставшиеся от сохранения, прерванного убийством процесса, удаляются при\n"
        "запуске.\n"
        "\n"
        "Чтение, запись или сравнение без единого отмеченного контроллера отклоняется до\n"
        "открытия порта с объяснением, почему не отмечен ни один (zuk.txt не загрузился, в нём\n"
        "ни один не отмечен присутствующим, --tick none). Так же отклоняется чтение, если в его\n"
        "папке (папке файла, на который указывает ссылка zuk.txt) нельзя создать новый файл:\n"
        "сначала там создаётся и удаляется временный файл. Запись отклоняется до отправки\n"
        "первого байта, если в образе отмеченного контроллера есть значение вне 0..255 или\n"
        "если образ этого контроллера неполный: zuk.txt не загрузился до раздела контроллера\n"
        "или внутри него, и с тех пор ни одно чтение не прочитало контроллер целиком.\n"
        "Запросу засчитываются только байты, пришедшие после передачи запроса на линию, и\n"
        "ответ должен начинаться с первого из них; пришедшие раньше байты отбрасываются.\n"
        "Запуск сначала ждёт, пока линия не будет молчать в течение времени успокоения, и так\n"
        "же ждёт следующий запрос после сбоя обмена: неудачной попытки, отброшенного байта,\n"
        "второго ответа или второй квитанции. Как только в обменах с контроллером случился\n"
        "сбой, дальнейшие его регистры подтверждаются до конца работы с ним, а у следующего\n"
        "контроллера — начиная с первого (запоздалый ответ может ещё прийти): прочитанный\n"
        "регистр — повторным чтением с теми же 8 байтами, записанный — чтением обратно.\n"
        "С --fast каждый записанный регистр читается обратно.\n"
        "\n"
        "С --skip-silent контроллер, первый регистр которого не удался (десять неудачных\n"
        "попыток) без единого верного ответа (ответа на чтение или квитанции) за этот запуск,\n"
        "пропускается: строка состояния сообщает «контроллер адрес $81 молчит, пропущен»,\n"
        "остальные его регистры не запрашиваются и сохраняют свои значения, а в конце в\n"
        "стандартный поток ошибок выводится «$81: молчит, пропущен».\n"
        "\n"
        "--scan запрашивает регистр 0 у каждого контроллера карты адресов или из --tick по\n"
        "порядку мест, до 3 попыток на каждый, и выводит в стандартный вывод только по строке\n"
        "на каждый ответивший: его адрес в записи --tick (две цифры), табуляция, подпись его\n"
        "флажка («9C\tговорилка $9C»). zuk.txt не загружается и не сохраняется.\n"
        "\n"
        "Безопасная запись и история. --changed-only сначала читает все регистры отмеченных\n"
        "контроллеров (по правилам чтения); регистры, совпадающие с образом, не записываются,\n"
        "остальные (и те, чтение которых не удалось) записываются и читаются обратно, как с\n"
        "--verify. Перед первым кадром записи система в прочитанном виде сохраняется как\n"
        "history/zuk-YYYYMMDD-HHMMSS.txt (все двадцать мест; у неотмеченных контроллеров и\n"
        "непрочитанных регистров все значения 0); если записывать нечего, ничего не\n"
        "сохраняется. Стандартный вывод заканчивается строками по контроллерам\n"
        "«$0: записано 2, без изменений 58» и последней «записано N, без изменений M».\n"
        "--backup-first так же сохраняет перед записью отмеченные контроллеры, прочитанные\n"
        "целиком; если чтение регистра не удалось, ничего не записывается и не сохраняется\n"
        "(код 2). Чтение (по умолчанию, отключает --no-history) сохраняет zuk.txt, который\n"
        "оно заменяет файлом с другими байтами, как history/zuk-YYYYMMDD-HHMMSS.txt, так что\n"
        "частичное чтение всегда можно отменить. Чтение, не прочитавшее ни одного регистра\n"
        "(не ответил ни один контроллер), ничего не сохраняет: zuk.txt остаётся прежним,\n"
        "код 1. К занятому имени добавляется -2, -3, …:\n"
        "в history/ ничего не перезаписывается. --keep N (по умолчанию 50) удаляет самые\n"
        "старые образы сверх N — только свои: обычный файл с таким именем, который\n"
        "загружается целиком и не только для чтения; самый новый по имени, самый новый по\n"
        "времени сохранения и только что сохранённый (и восстановленный) — никогда. Запись\n"
        "в отмеченный контроллер, байт присутствия которого (байт 0 регистра 0) в образе\n"
        "равен 0, отклоняется до отправки чего-либо («файл zuk.txt отмечает контроллер $0\n"
        "отсутствующим …»), если не задан --force-absent. --history-list выводит для\n"
        "каждого образа, новые первыми: имя, присутствующие контроллеры (в записи --tick,\n"
        "«none»), отличий от zuk.txt, байт («?», если файл не загружается), через табуляцию.\n"
        "\n"
        "--compare и --diff выводят по строке на каждый различающийся байт:\n"
        "  адрес $A регистр $R байт B: X -> Y\n"
        "(A, R — шестнадцатеричные; B — 0..7; X — значение в zuk.txt или FILE_A, Y — в\n"
        "контроллере или FILE_B, десятичные), затем «различий: N».\n"
        "Для --compare нужен zuk.txt, загруженный целиком.\n"
        "\n"
        "Отчёт (--report) — объект JSON: \"run\" (read, write, compare, scan), \"outcome\"\n"
        "(completed, stopped, refused, port_not_open, port_lost), \"port\", \"started\",\n"
        "\"finished\", \"error_total\", \"controllers\": для каждого отмеченного контроллера\n"
        "\"address\", \"rows\", \"rows_done\", \"given_up\" (номера регистров), \"differences\"\n"
        "(сравнение: {\"row\",\"byte\",\"file\",\"system\"}), \"verified\" (запись: регистры,\n"
        "прочитанные обратно и совпавшие), \"written\" (запись: регистры, считающиеся\n"
        "записанными), \"unchanged\" (запись: регистры, уже совпадавшие с образом, не\n"
        "записанные), \"unread\" (запись: регистры, предварительное чтение которых не\n"
        "удалось), \"confirmed\" (чтение и сравнение: регистры, после сбоя обмена дважды\n"
        "прочитанные одинаково), \"silent\" (пропущен по --skip-silent); у контроллеров\n"
        "опроса — \"address\", \"rows\" и \"answered\"; и для запуска в целом \"exchanges\"\n"
        "(отправлено запросов) и \"anomalies\"; адрес — две шестнадцатеричные цифры, как\n"
        "в --tick (\"01\", \"80\"); запись добавляет \"acknowledged\" (регистры, подтверждённые\n"
        "контроллером, но не проверенные чтением до остановки) и \"changed_only\"; запуск,\n"
        "сохранивший образ в history/, добавляет \"kept\" (его путь).\n"
        "\n"
        "Запись обмена (--trace) — текст UTF-8, построчно, каждая строка сразу пишется в файл\n"
        "(убитый запуск оставляет все строки, записанные до того): секунды от начала запуска\n"
        "с микросекундами, знак, пробел и остальная часть строки:\n"
        "  0.000000 # запуск: чтение, порт /dev/ttyUSB0, 09.12.2026 14:05:31\n"
        "  0.020412 > F0 80 07 03 8A          запрос в том виде, как передан на линию\n"
        "  0.024187 < F8 80 07 03 10 20 30    байты одного события приёма\n"
        "  0.420533 = чтение $80 регистр $3: ответ верный\n"
        "Каждый байт, пришедший за запуск, записан ровно в одной строке «<», что бы с ним ни\n"
        "было дальше. «=» следует за каждым обменом: чтение, повторное чтение (подтверждение),\n"
        "запись, проверка записи (чтение обратно), опрос (--scan), адрес и регистр, затем\n"
        "итог: ответ верный, нет ответа, контрольная сумма неверна, эхо не совпало, ответ\n"
        "другого адреса, …, и что отброшено после последнего обмена (чужой байт отброшен,\n"
        "чужие байты отброшены: N). Канал (FIFO) и сокет отклоняются (файл открывается без\n"
        "блокировки); если строку не удалось записать (диск полон, /dev/full), после запуска\n"
        "это сообщается, код 3.\n"
        "\n"
        "Запись, сравнение и чтение берут zuk.txt таким, каков он перед запуском: если файл\n"
        "изменился после загрузки (его записал редактор), он загружается заново\n"
        "(«zuk.txt изменён другой программой и загружен заново»); файл, который больше не\n"
        "загружается, не используется: запись и сравнение отклоняются. Окно замечает\n"
        "изменение и без запуска. Запись, остановленная сигналом, называет записанные\n"
        "регистры и отправленные, но не подтверждённые.\n"
        "\n"
        "Порт, занятый другой программой, не открывается. Если порт сообщает о потере линии во\n"
        "время запуска (адаптер отключён, линия оборвана), запуск сразу останавливается:\n"
        "чтение ничего не сохраняет, запись называет регистры, записанные до потери.\n"
        "\n"
        "Сетевая линия (tcp://, rfc2217://), не соединившаяся за 5 с или чей шлюз не принял\n"
        "параметр COM-PORT (rfc2217://), считается неоткрытым портом; соединение, закрытое или\n"
        "сброшенное во время запуска, — потерей линии. Шлюз, занятый другим соединением\n"
        "(сразу закрывающий новое), пробуется снова до 5 с, затем сообщается, что он занят.\n"
        "rfc2217:// удваивает байт FF в обоих\n"
        "направлениях и запрашивает двоичную передачу Telnet, поэтому проходит любое значение\n"
        "байта.\n"
        "\n"
        "Коды завершения:\n"
        "  0    запуск выполнен, все регистры удались; --compare, --diff: различий нет;\n"
        "       --scan: ответил хотя бы один контроллер\n"
        "  1    есть неудавшиеся регистры (чтение, не прочитавшее ни одного, ничего не\n"
        "       сохраняет); --compare: есть различия или неудавшиеся регистры;\n"
        "       --diff: различия есть; --scan: не ответил ни один\n"
        "  2    запуска не было: неверные параметры; папка --dir или папка --report не найдена;\n"
        "       --report называет файл установки (в том числе через ссылку, «..» или\n"
        "       относительный путь) или файл только для чтения; чтение при zuk.txt только для\n"
        "       чтения; порт не открывается или занят; сетевая линия не соединилась за 5 с;\n"
        "       --rs485 отклонён драйвером или задан с сетевой линией; запись отклонена\n"
        "       (значение вне 0..255, неполный образ); --compare с zuk.txt, загруженным не\n"
        "       целиком; --diff с файлом, загруженным не целиком; чтение, запись или сравнение\n"
        "       без отмеченных контроллеров; чтение, в папке которого нельзя создать новый\n"
        "       файл; --trace называет файл установки (как у --report) или файл, который\n"
        "       нельзя открыть; запись в контроллеры, которые образ отмечает отсутствующими\n"
        "       (без --force-absent); --backup-first, при чтении которого регистр не удался\n"
        "       (ничего не записано)\n"
        "  3    чтение выполнено, но zuk.txt не удалось сохранить (или не удалось сохранить\n"
        "       копию повреждённого zuk.txt, и zuk.txt оставлен как был; с --history: не\n"
        "       удалось сохранить заменяемый zuk.txt); --changed-only или --backup-first не\n"
        "       смогли сохранить систему в history/ (ничего не записано); запуск, который\n"
        "       завершился бы с кодом 0 или 1, но --trace или --report записаны не целиком\n"
        "  4    связь с портом потеряна во время запуска или соединение сетевой линии закрыто\n"
        "       (ничего не сохранено; см. записанные регистры); линия не затихает\n"
        "       («линия не затихает: …»: за 2 с не было паузы)\n"
        "  Окно завершается с кодом 2, если при первом запуске оно осталось без папки или\n"
        "  если --report или --trace отклонены.\n"
        "  129  остановлено сигналом SIGHUP; 130 — сигналом SIGINT; 143 — сигналом SIGTERM\n");
    return text;
}

}  // namespace zuk
