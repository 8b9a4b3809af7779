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
         "memory of the controllers from an image file (zuk.txt\n"
         "format); every value must be 0..255. Default: all zero.",
         [](const QString &v, SimOptions *o) { o->image = v; return true; }},
        {"present", "LIST",
         "controllers that answer: hexadecimal addresses\n"
         "(\"00,07,80\"), \"all\" or \"none\". Default: the slots whose\n"
         "presence marker (row 0, byte 0) in the image is not 0,\n"
         "or all when no image is given. Others stay silent.",
         [](const QString &v, SimOptions *o) { o->present = v; return true; }},
        {"link", "PATH",
         "make a symbolic link PATH to the device (replaced if it\n"
         "is a link already; removed again at exit).",
         [](const QString &v, SimOptions *o) { o->link = v; return true; }},
        {"save", "FILE",
         "at exit save the memory in the image file format; its\n"
         "folder must exist and be writable at start (exit 2).",
         [](const QString &v, SimOptions *o) { o->save = v; return true; }},
        {"log", "FILE",
         "one line per complete request received, its bytes in\n"
         "hexadecimal as on the wire (\"F0 80 07 03 8A\"), flushed\n"
         "per line; requests with a wrong checksum are logged too.",
         [](const QString &v, SimOptions *o) { o->log = v; return true; }},
        {"bytes-log", "FILE",
         "one line per piece of bytes read from or written to the\n"
         "line, flushed per line: seconds since the start with\n"
         "microseconds, \"<\" received or \">\" sent by the\n"
         "simulator, the bytes in hexadecimal\n"
         "(\"0.412006 < F0 80 07 03 8A\"); echoes and answers alike.",
         [](const QString &v, SimOptions *o) { o->bytesLog = v; return true; }},
        {"fault", "LIST",
         "faults, comma-separated (an empty one is an error),\n"
         "option repeatable:\n"
         "ADDR[:ROW[:ATTEMPTS]]=KIND[/PARAM]\n"
         "ADDR hexadecimal; ROW a decimal register row or \"*\"\n"
         "(default every row); ATTEMPTS how many requests of each\n"
         "matching row the fault spoils before the row answers\n"
         "normally (default: all of them). Reads and writes count\n"
         "alike. KIND:\n"
         "  silent     no answer; a write is not applied\n"
         "  late/MS    the answer is sent MS ms after the request\n"
         "  badsum     the last byte of the answer is one too high\n"
         "             (a read reply's checksum; for a write the\n"
         "             checksum after F8 A 01, which the tool does\n"
         "             not examine)\n"
         "  otheraddr  the answer names address ADDR xor 1, with a\n"
         "             checksum right for that address\n"
         "  pieces/N   the answer goes out in pieces of N bytes,\n"
         "             20 ms apart\n"
         "  garbage    one byte 3C before the answer\n"
         "  fail/N     the first N requests of each matching row\n"
         "             get no answer (same as ADDR:ROW:N=silent)\n"
         "  nostore    a write is acknowledged as usual but not\n"
         "             stored (worn or protected memory); reads\n"
         "             are answered normally\n"
         "  badecho    with --echo: the last echoed byte of the\n"
         "             request comes back changed (a collision);\n"
         "             the request is answered as usual\n"
         "  dupack[/MS]\n"
         "             a write is stored and acknowledged twice,\n"
         "             the second acknowledgement MS ms (default\n"
         "             30) after the first; reads are answered as\n"
         "             usual\n"
         "Faults matching one request combine; silent wins.\n"
         "At exit the number of requests a listed fault shaped\n"
         "is printed on standard error:\n"
         "\"zuk_sim: listed faults applied: N\".",
         nullptr},
        {"seed", "N",
         "with --fault-rate: seed of the random faults.",
         [](const QString &v, SimOptions *o) {
             bool ok = false;
             o->seed = v.toUInt(&ok);
             return ok;
         }},
        {"fault-rate", "P",
         "each answered request gets, with probability P (0..1),\n"
         "one random fault: silent, late, badsum, otheraddr,\n"
         "pieces, garbage or dupack (late uses --late-ms, pieces\n"
         "1 to 6 bytes, dupack its default gap; dupack drawn for a\n"
         "read leaves it as it is). At exit the count is printed\n"
         "on standard error: \"zuk_sim: random faults injected: N\".",
         [](const QString &v, SimOptions *o) {
             bool ok = false;
             o->rate = v.toDouble(&ok);
             return ok && o->rate >= 0 && o->rate <= 1;
         }},
        {"late-ms", "MS",
         "delay of random late answers (default 500).",
         [](const QString &v, SimOptions *o) { return intIn(v, 0, INT_MAX, &o->lateMs); }},
        {"line-speed", "BAUD",
         "pace of the line (e.g. 19200), 10 bits a byte: a request\n"
         "counts as in only when its last byte would have come at\n"
         "that pace, and every byte of an answer leaves at it.\n"
         "Default: bytes move at once, as the pseudo-terminal\n"
         "moves them.",
         [](const QString &v, SimOptions *o) { return intIn(v, 50, 4000000, &o->lineSpeed); }},
        {"answer-delay-ms", "N",
         "time from a complete request to the first byte of its\n"
         "answer leaving (default 0).",
         [](const QString &v, SimOptions *o) { return intIn(v, 0, 60000, &o->answerDelayMs); }},
        {"echo", nullptr,
         "every byte received goes straight back before the\n"
         "answer, as a half-duplex RS-485 adapter echoes it (at the\n"
         "line's pace with --line-speed).",
         [](const QString &, SimOptions *o) { return o->echo = true; }},
        {"vanish-after", "N",
         "after N complete requests the pseudo-terminal is closed,\n"
         "as an adapter that is unplugged: whoever has it open gets\n"
         "a hang-up. The simulator then waits for SIGTERM or SIGINT\n"
         "and saves as usual.",
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
    QString text = QStringLiteral(R"(Usage: zuk_sim [options]

A simulated installation of the twenty bus controllers on a pseudo-terminal.
The first line on standard output is the device path to open (19200 8N1,
raw); the simulator then answers read (07) and write (08) requests until
SIGTERM, SIGINT or SIGHUP.

)");
    text += QStringLiteral("Options:\n");
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
    add(QStringLiteral("  --help"), QStringLiteral("this text."));
    add(QStringLiteral("  --version"), QStringLiteral("the version, the build and the Qt version."));
    text += QStringLiteral(R"(
Answers: a read of register R of a present controller gets F8 A 07 R, the 8
bytes of the row (a data byte F0 followed by escape byte 00) and the
checksum; a write is stored and acknowledged with F8 A 01 R and a checksum.
Answers leave in the order of the requests: a late answer holds back the
answers behind it. Requests with a wrong checksum, for absent controllers or for registers
beyond the controller's rows get no answer and change nothing. Bytes outside
a frame are skipped up to the next F0; a frame left incomplete for 200 ms is
dropped.
)");
    return text;
}

}  // namespace zuk::sim
