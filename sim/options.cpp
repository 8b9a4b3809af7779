#include "sim/options.h"

#include "common/option_table.h"

#include <QCommandLineParser>

#include <climits>

namespace zuk::sim {

namespace {

bool intIn(const QString &v, int low, int high, int *out)
{
    bool ok = false;
    const int n = v.toInt(&ok);
    if (!ok || n < low || n > high)
        return false;
    *out = n;
    return true;
}

struct OptionRow {
    const char *name;        // without the dashes
    const char *valueName;   // nullptr: a flag
    const char *help;        // lines after the first are indented under it
    bool (*apply)(const QString &value, SimOptions *o);   // nullptr: --fault, handled apart
};

const std::vector<OptionRow> &optionTable()
{
    static const std::vector<OptionRow> rows = {
        {"image", "FILE",
         "память контроллеров из файла образа (формат zuk.txt);\n"
         "каждое значение 0..255. По умолчанию вся память 0.",
         [](const QString &v, SimOptions *o) { o->image = v; return true; }},
        {"present", "LIST",
         "отвечающие контроллеры: шестнадцатеричные адреса\n"
         "(\"00,07,80\"), \"all\" или \"none\". По умолчанию места,\n"
         "байт присутствия которых (регистр 0, байт 0) в образе не 0,\n"
         "или все, если образа нет. Остальные молчат.",
         [](const QString &v, SimOptions *o) { o->present = v; return true; }},
        {"link", "PATH",
         "создать символическую ссылку PATH на устройство\n"
         "(заменяется, если это уже ссылка; при выходе удаляется).",
         [](const QString &v, SimOptions *o) { o->link = v; return true; }},
        {"save", "FILE",
         "при выходе сохранить память в формате файла образа; его\n"
         "папка должна существовать и быть доступна для записи уже\n"
         "при запуске (иначе код 2).",
         [](const QString &v, SimOptions *o) { o->save = v; return true; }},
        {"log", "FILE",
         "по строке на каждый полученный целый запрос, его байты\n"
         "шестнадцатерично, как на линии (\"F0 80 07 03 8A\"), каждая\n"
         "строка сразу в файл; запросы с неверной суммой тоже.",
         [](const QString &v, SimOptions *o) { o->log = v; return true; }},
        {"bytes-log", "FILE",
         "по строке на каждую порцию байтов с линии и на линию,\n"
         "каждая строка сразу в файл: секунды от запуска с\n"
         "микросекундами, \"<\" получено или \">\" отправлено\n"
         "имитатором, байты шестнадцатерично\n"
         "(\"0.412006 < F0 80 07 03 8A\"); эхо и ответы тоже.",
         [](const QString &v, SimOptions *o) { o->bytesLog = v; return true; }},
        {"fault", "LIST",
         "неисправности через запятую (пустая — ошибка), параметр\n"
         "можно повторять:\n"
         "ADDR[:ROW[:ATTEMPTS]]=KIND[/PARAM]\n"
         "ADDR шестнадцатеричный; ROW десятичный номер строки или\n"
         "\"*\" (по умолчанию все); ATTEMPTS — сколько запросов каждой\n"
         "подходящей строки портит неисправность, прежде чем строка\n"
         "ответит нормально (по умолчанию все). Чтения и записи\n"
         "считаются одинаково. KIND:\n"
         "  silent     нет ответа; запись не выполняется\n"
         "  late/MS    ответ через MS мс после запроса\n"
         "  badsum     последний байт ответа на единицу больше\n"
         "             (сумма ответа на чтение; у записи — сумма\n"
         "             после F8 A 01, которую программа не смотрит)\n"
         "  otheraddr  ответ называет адрес ADDR xor 1, с верной\n"
         "             для него суммой\n"
         "  pieces/N   ответ порциями по N байтов через 20 мс\n"
         "  garbage    один байт 3C перед ответом\n"
         "  fail/N     первые N запросов каждой подходящей строки\n"
         "             без ответа (то же, что ADDR:ROW:N=silent)\n"
         "  nostore    запись подтверждается, но не сохраняется\n"
         "             (изношенная или защищённая память); чтения\n"
         "             отвечаются нормально\n"
         "  badecho    с --echo: последний байт эха запроса\n"
         "             возвращается изменённым (столкновение);\n"
         "             запрос отвечается как обычно\n"
         "  dupack[/MS]\n"
         "             запись сохраняется и подтверждается дважды,\n"
         "             второе подтверждение через MS мс (по\n"
         "             умолчанию 30); чтения как обычно\n"
         "Неисправности одного запроса складываются; silent сильнее.\n"
         "При выходе в стандартный поток ошибок выводится, сколько\n"
         "запросов изменила заданная неисправность:\n"
         "\"zuk_sim: listed faults applied: N\".",
         nullptr},
        {"seed", "N",
         "с --fault-rate: начальное число случайных неисправностей.",
         [](const QString &v, SimOptions *o) {
             bool ok = false;
             o->seed = v.toUInt(&ok);
             return ok;
         }},
        {"fault-rate", "P",
         "каждый отвечаемый запрос с вероятностью P (0..1) получает\n"
         "одну случайную неисправность: silent, late, badsum,\n"
         "otheraddr, pieces, garbage или dupack (late — на --late-ms,\n"
         "pieces — от 1 до 6 байтов, dupack — через 30 мс; dupack у\n"
         "чтения ничего не меняет). При выходе выводится их число:\n"
         "\"zuk_sim: random faults injected: N\".",
         [](const QString &v, SimOptions *o) {
             bool ok = false;
             o->rate = v.toDouble(&ok);
             return ok && o->rate >= 0 && o->rate <= 1;
         }},
        {"late-ms", "MS",
         "задержка случайных запоздалых ответов (по умолчанию 500).",
         [](const QString &v, SimOptions *o) { return intIn(v, 0, INT_MAX, &o->lateMs); }},
        {"line-speed", "BAUD",
         "скорость линии (например, 19200), 10 битов на байт:\n"
         "запрос считается полученным, когда пришёл бы его последний\n"
         "байт, и каждый байт ответа уходит с этой скоростью. По\n"
         "умолчанию байты идут сразу, как их несёт псевдотерминал.",
         [](const QString &v, SimOptions *o) { return intIn(v, 50, 4000000, &o->lineSpeed); }},
        {"answer-delay-ms", "N",
         "время от целого запроса до первого байта ответа\n"
         "(по умолчанию 0).",
         [](const QString &v, SimOptions *o) { return intIn(v, 0, 60000, &o->answerDelayMs); }},
        {"echo", nullptr,
         "каждый полученный байт сразу уходит обратно перед ответом,\n"
         "как эхо полудуплексного адаптера RS-485 (со скоростью\n"
         "линии, если задан --line-speed).",
         [](const QString &, SimOptions *o) { return o->echo = true; }},
        {"vanish-after", "N",
         "после N целых запросов псевдотерминал закрывается, как\n"
         "выдернутый адаптер: у открывшего его линия пропадает.\n"
         "Затем имитатор ждёт SIGTERM или SIGINT и сохраняет память\n"
         "как обычно.",
         [](const QString &v, SimOptions *o) { return intIn(v, 1, INT_MAX, &o->vanishAfter); }},
    };
    return rows;
}

QString leftColumn(const OptionRow &row)
{
    return QStringLiteral("  --") + QLatin1String(row.name)
           + (row.valueName ? QLatin1Char(' ') + QLatin1String(row.valueName) : QString());
}

}  // namespace

bool parseSimOptions(const QStringList &args, SimOptions *out, QString *error)
{
    QCommandLineParser parser;
    const QCommandLineOption help = helpOption();
    const std::vector<QCommandLineOption> options = addOptionTable(parser, optionTable(), help);
    parser.addOption(QCommandLineOption(QStringLiteral("version")));
    if (!parser.parse(QStringList{QStringLiteral("zuk_sim")} + args)) {
        *error = parser.errorText();
        return false;
    }
    SimOptions o;
    if (parser.isSet(help) || parser.isSet(QStringLiteral("version"))) {
        o.help = parser.isSet(help);
        o.version = !o.help;
        *out = o;
        return true;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unknown argument \"%1\"").arg(parser.positionalArguments().first());
        return false;
    }
    for (size_t i = 0; i < options.size(); ++i) {
        const OptionRow &row = optionTable()[i];
        if (!parser.isSet(options[i]))
            continue;
        const QStringList values = row.valueName ? parser.values(options[i]) : QStringList{QString()};
        for (const QString &v : values) {
            if (!row.apply) {   // --fault: repeatable, each a list
                if (!parseFaults(v, &o.faults, error))
                    return false;
            } else if (!row.apply(v, &o)) {
                *error = QStringLiteral("bad value \"%1\" for --%2").arg(v, QLatin1String(row.name));
                return false;
            }
        }
    }
    o.randomFaults = parser.isSet(QStringLiteral("seed")) && parser.isSet(QStringLiteral("fault-rate"));
    if (parser.isSet(QStringLiteral("seed")) != parser.isSet(QStringLiteral("fault-rate"))) {
        *error = QStringLiteral("--seed and --fault-rate go together");
        return false;
    }
    *out = o;
    return true;
}

QString helpText()
{
    QString text = QStringLiteral(R"(Использование: zuk_sim [параметры]

Имитация двадцати контроллеров шины на псевдотерминале. Первая строка
стандартного вывода — путь устройства, которое нужно открыть (19200 8N1, без
обработки); затем имитатор отвечает на запросы чтения (07) и записи (08) до
сигнала SIGTERM, SIGINT или SIGHUP.

)");
    text += QStringLiteral("Параметры:\n");
    constexpr int kColumn = 20;
    auto add = [&](const QString &left, const QString &help) {
        const QStringList lines = help.split(QLatin1Char('\n'));
        text += left.size() < kColumn ? left.leftJustified(kColumn) : left + QStringLiteral("  ");
        text += lines[0] + QLatin1Char('\n');
        for (qsizetype i = 1; i < lines.size(); ++i)
            text += QString(kColumn, QLatin1Char(' ')) + lines[i] + QLatin1Char('\n');
    };
    for (const OptionRow &row : optionTable())
        add(leftColumn(row), QString::fromUtf8(row.help));
    add(QStringLiteral("  --help"), QStringLiteral("этот текст."));
    add(QStringLiteral("  --version"), QStringLiteral("версия программы, её сборка и версия Qt."));
    text += QStringLiteral(R"(
Ответы: чтение регистра R присутствующего контроллера получает F8 A 07 R,
8 байтов строки (байт данных F0 с байтом экранирования 00 за ним) и сумму;
запись сохраняется и подтверждается F8 A 01 R с суммой. Ответы уходят в
порядке запросов: запоздалый ответ задерживает следующие. Запросы с неверной
суммой, к отсутствующим контроллерам или к регистрам за пределами строк
контроллера остаются без ответа и ничего не меняют. Байты вне кадра
пропускаются до следующего F0; кадр, не законченный за 200 мс, отбрасывается.
Подробно: man zuk_sim.
)");
    return text;
}

}  // namespace zuk::sim
