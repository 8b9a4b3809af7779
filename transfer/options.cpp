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
        {"read", nullptr, Mode::Read, 0, "reading run: the ticked controllers into zuk.txt", nullptr},
        {"write", nullptr, Mode::Write, 0, "writing run: zuk.txt into the ticked controllers", nullptr},
        {"compare", nullptr, Mode::Compare, 0,
         "reads the ticked controllers and lists every byte that differs from zuk.txt;\n"
         "writes nothing, sends no write frame",
         nullptr},
        {"scan", nullptr, Mode::Scan, 0,
         "asks each controller of the address map (or of --tick) for register 0, up\n"
         "to 3 tries each, and prints one line per controller that answered: its\n"
         "address as --tick writes it, a tab, its check-box caption; saves nothing,\n"
         "sends no write frame",
         nullptr},
        {"diff", nullptr, Mode::Diff, 0,
         "lists every byte that differs between the image files FILE_A and FILE_B;\n"
         "opens no port",
         nullptr},
        {"list-ports", nullptr, Mode::ListPorts, 0,
         "lists the serial ports of this system, one per line: the name for --port,\n"
         "description, manufacturer, serial number, USB vendor:product (tab-separated)",
         nullptr},
        {"history-list", nullptr, Mode::HistoryList, 0,
         "lists the images kept in history/ beside zuk.txt, newest first, one per\n"
         "line: file name, controllers present in it (--tick form), bytes that\n"
         "differ from zuk.txt (tab-separated); opens no port",
         nullptr},
        {"port", "NAME", std::nullopt, kLine,
         "serial port, 19200 8N1 (default: the port last chosen in the window, else\n"
         "COM1 on Windows, /dev/ttyS0 elsewhere; /dev/ttyUSB0, COM3, a pty path, ...);\n"
         "or a network gateway: tcp://HOST:PORT (a transparent TCP port, bytes as on\n"
         "the line) or rfc2217://HOST:PORT (Telnet COM-PORT option: the gateway's port\n"
         "is set to 19200 8N1, no flow control)",
         [](const QString &v, TransferOptions *o, QString *e) {
             o->portGiven = true;
             return nonEmpty(v, "порта", &o->port, e);
         }},
        {"echo", nullptr, std::nullopt, kLine,
         "the adapter echoes every byte sent (half-duplex RS-485): the request is\n"
         "expected back before the reply; an echo that differs fails the try",
         [](const QString &, TransferOptions *o, QString *) { return o->echo = true; }},
        {"rs485", nullptr, std::nullopt, kLine,
         "switches the driver into its RS-485 mode (Linux, TIOCSRS485: RTS on while\n"
         "sending, off after; the driver's delays are kept); refused when the driver\n"
         "cannot, and with a network line (the gateway switches the direction)",
         [](const QString &, TransferOptions *o, QString *) { return o->rs485 = true; }},
        {"dir", "FOLDER", std::nullopt, kWithPort | kHistoryList,
         "folder holding zuk.txt, remembered for the next start (default: the\n"
         "program's folder if zuk.txt lies there, else the folder remembered\n"
         "from the last time, else the window asks for one and the runs without\n"
         "a window take the current folder)",
         [](const QString &v, TransferOptions *o, QString *e) { return nonEmpty(v, "папки", &o->dir, e); }},
        {"tick", "LIST", std::nullopt, kBusRuns | kScan,
         "controllers to handle instead of those present in zuk.txt (with --scan:\n"
         "instead of all twenty): hexadecimal bus addresses as on the check\n"
         "boxes, comma-separated (00,07,80,9C), or all, or none",
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
        {"wait-unit-ms", "N", std::nullopt, kLine, "length of one wait unit in milliseconds, 1 to 60000 (default 400)",
         [](const QString &v, TransferOptions *o, QString *e) {
             return positiveMs(v, 1, 60000, "wait-unit-ms", &o->waitUnitMs, e);
         }},
        {"verify", nullptr, std::nullopt, kWindow | kWrite,
         "reads every written row back; a row counts as written only when the\n"
         "8 bytes read back equal the image (two exchanges per row)",
         [](const QString &, TransferOptions *o, QString *) { return o->verify = true; }},
        {"skip-silent", nullptr, std::nullopt, kWithPort,
         "a controller that gives its first row up without a single valid reply\n"
         "in this run is left: its other rows are not tried (they keep their\n"
         "values in the image), the error total counts that one row",
         [](const QString &, TransferOptions *o, QString *) { return o->skipSilent = true; }},
        {"changed-only", nullptr, std::nullopt, kWindow | kWrite,
         "reads every row first; writes only the rows that differ from the image\n"
         "(and rows whose reading was given up), each read back; keeps the house as\n"
         "read in history/zuk-YYYYMMDD-HHMMSS.txt before the first write frame",
         [](const QString &, TransferOptions *o, QString *) { return o->changedOnly = true; }},
        {"backup-first", nullptr, std::nullopt, kWrite,
         "reads the ticked controllers whole into history/zuk-YYYYMMDD-HHMMSS.txt\n"
         "before writing; a row whose reading is given up leaves the copy\n"
         "incomplete: then nothing is written (exit 2)",
         [](const QString &, TransferOptions *o, QString *) { return o->backupFirst = true; }},
        {"history", nullptr, std::nullopt, kWindow | kRead,
         "before the reading run replaces zuk.txt with different bytes, keeps\n"
         "the file it replaces as history/zuk-YYYYMMDD-HHMMSS.txt (remembered\n"
         "in the window)",
         [](const QString &, TransferOptions *o, QString *) { return o->history = true; }},
        {"keep", "N", std::nullopt, kWindow | kRead | kWrite,
         "images history/ keeps: after a run adds one, the oldest beyond N are\n"
         "deleted, never the newest (default 50, 1 to 100000)",
         [](const QString &v, TransferOptions *o, QString *e) { return positiveMs(v, 1, 100000, "keep", &o->keep, e); }},
        {"force-absent", nullptr, std::nullopt, kWrite,
         "writes ticked controllers whose presence marker in the image is 0\n"
         "(without it such a writing run is refused before anything is sent)",
         [](const QString &, TransferOptions *o, QString *) { return o->forceAbsent = true; }},
        {"report", "FILE", std::nullopt, kLine,
         "after each run, writes a JSON report of it to FILE (its folder must exist;\n"
         "never a file of the installation: zuk.txt, out_in_ik.txt, szenar.txt, the\n"
         "*.ini files, their copies NAME.bak-* and temporaries NAME.tmp-XXXXXX)",
         [](const QString &v, TransferOptions *o, QString *e) { return nonEmpty(v, "файла отчёта", &o->report, e); }},
        {"trace", "FILE", std::nullopt, kLine,
         "records the line in FILE as the run goes: every request sent and every\n"
         "piece of bytes received with its time, and each exchange's verdict (see\n"
         "below); made anew, never a file of the installation (as --report)",
         [](const QString &v, TransferOptions *o, QString *e) {
             return nonEmpty(v, "файла записи обмена", &o->trace, e);
         }},
        {"fast", nullptr, std::nullopt, kLine,
         "wire speed: an exchange ends as soon as its reply is complete; with\n"
         "no complete reply within the reply timeout the try fails; every\n"
         "written row is read back before it counts as written",
         [](const QString &, TransferOptions *o, QString *) { return o->fast = true; }},
        {"reply-timeout-ms", "N", std::nullopt, kLine, "with --fast: longest wait for a reply (default 100, at least 5)",
         [](const QString &v, TransferOptions *o, QString *e) {
             return positiveMs(v, 5, 60000, "reply-timeout-ms", &o->replyTimeoutMs, e);
         }},
        {"settle-ms", "N", std::nullopt, kLine, "quiet time the line must keep before the first request of a run and\n"
         "after an anomaly (a failed try, a stale byte), in ms (default 20)",
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
    auto synopsis = [](Mode m, const char *tail) {
        QString line = QStringLiteral("  zuk_2");
        if (m != Mode::Window)
            line += QLatin1Char(' ') + modeName(m);
        for (const OptionRow &row : optionTable())
            if (!row.selects && (row.modes & (1u << int(m))))
                line += QStringLiteral(" [") + dashed(row)
                        + (row.valueName ? QLatin1Char(' ') + QLatin1String(row.valueName) : QString()) + ']';
        return line + QLatin1String(tail) + QLatin1Char('\n');
    };
    QString text = QStringLiteral(
        "zuk_2: reads the controllers of the smart home bus into zuk.txt, or writes zuk.txt into them.\n\n");
    text += synopsis(Mode::Window, "") + QStringLiteral("      opens the window \"умный дом\".\n");
    text += synopsis(Mode::Read, "") + synopsis(Mode::Write, "") + synopsis(Mode::Compare, "");
    text += QStringLiteral("      runs the reading, writing or comparing run without a window.\n");
    text += synopsis(Mode::Scan, "") + QStringLiteral("      finds the controllers that answer.\n");
    text += synopsis(Mode::Diff, " FILE_A FILE_B") + synopsis(Mode::ListPorts, "") + synopsis(Mode::HistoryList, "")
            + QLatin1Char('\n');

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
    text += optionLine(QStringLiteral("-h, --help"), QStringLiteral("this text"));

    text += QStringLiteral(
        "\n"
        "Without a window the start-up is the window's: the port is opened, zuk.txt is loaded\n"
        "(\"Ошибка, нет готового файла\" on standard error if it cannot be) and the controllers\n"
        "present in it are ticked. Every status-line text is printed to standard output as one\n"
        "UTF-8 line; errors go to standard error, and a progress line too when it is a terminal\n"
        "(rows done of rows to do, errors, time elapsed, an estimate of the time left).\n"
        "The reading run saves zuk.txt; the 8-second pause at the end of a run is skipped. At the\n"
        "end, standard error gets one line per controller with rows given up\n"
        "(\"$80: регистры 2, 5 не прочитаны\"). SIGINT, SIGTERM or SIGHUP stops a run after the\n"
        "exchange in progress; a stopped reading run saves nothing, the report is written. A\n"
        "signal while zuk.txt or the report is being written, a second one too, waits until\n"
        "they are complete. A zuk.txt that did not load whole is first kept as\n"
        "zuk.txt.bak-YYYYMMDD-HHMMSS. A closed standard output stops the status lines, not the run.\n"
        "\n"
        "A zuk.txt or report that is a symbolic link is written where the link points (the file\n"
        "at the end of its chain of links, replaced in its own folder); the link stays. A zuk.txt\n"
        "without any write permission bit (chmod 444) is not replaced: the reading run is refused\n"
        "before anything is sent. Temporaries NAME.tmp-XXXXXX of zuk.txt and of the report that\n"
        "a killed save left behind are removed at start.\n"
        "\n"
        "A reading, writing or comparing run with no controller ticked is refused before the port\n"
        "is opened, saying why none is (zuk.txt did not load, it marks none present, --tick none).\n"
        "A reading run is refused the same way when its folder (that of the file a zuk.txt link\n"
        "points to) takes no new file: a temporary file is made and removed there first.\n"
        "A writing run is refused before any byte is sent when a ticked controller's image holds\n"
        "a value outside 0..255, or when that controller's image is incomplete: zuk.txt failed to\n"
        "load before or inside its section and no reading run has read it whole since.\n"
        "Only bytes that come in after a request has been handed to the line count for it, and a\n"
        "reply must begin at the first of them; bytes from before are dropped. A run first waits\n"
        "until the line has been quiet for the settle time, and so does the next request after an\n"
        "anomaly: a failed try, a dropped byte, a second reply or acknowledgement. Once a\n"
        "controller's exchanges have seen an anomaly, its further rows are confirmed until it is\n"
        "done, and the next controller's rows from its first (a late answer may still be coming):\n"
        "a read row by a second read giving the same 8 bytes, a written row by reading it back.\n"
        "With --fast every written row is read back.\n"
        "\n"
        "With --skip-silent, a controller that gives its first row up (ten failed tries) without\n"
        "a single valid reply (a read reply or an acknowledgement) in this run is left: the\n"
        "status line says \"контроллер адрес $81 молчит, пропущен\", its other rows are not\n"
        "tried and keep their values, and standard error gets \"$81: молчит, пропущен\" at the end.\n"
        "\n"
        "--scan asks each controller of the address map, or of --tick, in slot order for\n"
        "register 0, up to 3 tries each, and prints on standard output only one line per\n"
        "controller that answered: its address as --tick writes it (two digits), a tab, its\n"
        "check-box caption (\"9C\tговорилка $9C\"). zuk.txt is neither loaded nor saved.\n"
        "\n"
        "Safe writes and the history. --changed-only reads every row of the ticked controllers\n"
        "first (reading rules); rows that hold the image are not written, the others (and rows\n"
        "whose reading was given up) are written and read back as with --verify. Before the\n"
        "first write frame the house as read is kept as history/zuk-YYYYMMDD-HHMMSS.txt (all\n"
        "twenty slots, unticked ones and rows not read with every value 0); nothing to write:\n"
        "nothing kept. Standard output ends with a line per controller \"$0: записано 2, без\n"
        "изменений 58\" and last \"записано N, без изменений M\". --backup-first keeps the ticked\n"
        "controllers, read whole, the same way before writing; when a row's reading is given up\n"
        "nothing is written and nothing kept (exit 2). --history keeps the zuk.txt a reading run\n"
        "replaces with different bytes as history/zuk-YYYYMMDD-HHMMSS.txt. A name taken gets\n"
        "-2, -3, ...: nothing in history/ is overwritten. --keep N (default 50) deletes the\n"
        "oldest images beyond N, never the newest. A writing run into a ticked controller\n"
        "whose presence marker (byte 0 of row 0) is 0 in the image is refused before anything\n"
        "is sent (\"файл zuk.txt отмечает контроллер $00 отсутствующим ...\"), unless\n"
        "--force-absent. --history-list prints per image, newest first: name, controllers\n"
        "present (--tick form, \"none\"), bytes differing from zuk.txt (\"?\" when a file does\n"
        "not load), tab-separated.\n"
        "\n"
        "--compare and --diff print one line per byte that differs,\n"
        "  адрес $A регистр $R байт B: X -> Y\n"
        "(A, R hexadecimal; B 0..7; X the value in zuk.txt or FILE_A, Y the controller's or\n"
        "FILE_B's, decimal), then \"различий: N\". --compare needs a zuk.txt that loaded whole.\n"
        "\n"
        "The report (--report) is a JSON object: \"run\" (read, write, compare, scan), \"outcome\"\n"
        "(completed, stopped, refused, port_not_open, port_lost), \"port\", \"started\",\n"
        "\"finished\", \"error_total\", \"controllers\": per ticked controller \"address\", \"rows\",\n"
        "\"rows_done\", \"given_up\" (row numbers), \"differences\" (compare:\n"
        "{\"row\",\"byte\",\"file\",\"system\"}), \"verified\" (writing runs: rows read back and\n"
        "found equal), \"written\" (writing runs: rows that count as written), \"unchanged\"\n"
        "(writing runs: rows found holding the image, not written), \"unread\" (writing runs:\n"
        "rows whose reading first was given up), \"confirmed\"\n"
        "(reading and comparing runs: rows read twice alike after an anomaly), \"silent\" (left\n"
        "by --skip-silent); a scan's controllers have \"address\", \"rows\" and \"answered\"; and\n"
        "for the run \"exchanges\" (requests sent) and \"anomalies\"; writing runs add\n"
        "\"changed_only\"; a run that kept an image in history/ adds \"kept\" (its path).\n"
        "\n"
        "The trace (--trace) is UTF-8 text, one line each, written to the file at once (a killed\n"
        "run leaves every line written before): the seconds since the start of the run with\n"
        "microseconds, a marker, a blank and the rest of the line:\n"
        "  0.000000 # запуск: чтение, порт /dev/ttyUSB0, 09.12.2026 14:05:31\n"
        "  0.020412 > F0 80 07 03 8A          a request, as handed to the line\n"
        "  0.024187 < F8 80 07 03 10 20 30    the bytes of one receive event\n"
        "  0.420533 = чтение $80 регистр $3: ответ верный\n"
        "Every byte that came in during the run is in a \"<\" line once, whatever became of it. \"=\"\n"
        "follows each exchange: чтение, повторное чтение (confirmation), запись, проверка записи\n"
        "(read-back), опрос (--scan), the address and register, then the verdict: ответ верный,\n"
        "нет ответа, контрольная сумма неверна, эхо не совпало, ответ другого адреса, ..., and\n"
        "what was dropped since the last exchange (чужой байт отброшен, чужие байты отброшены: N).\n"
        "\n"
        "A port another program holds is refused. When the port reports the line lost during a\n"
        "run (adapter unplugged, line hung up), the run stops at once: a reading run saves\n"
        "nothing, a writing run names the rows written before the loss.\n"
        "\n"
        "A network line (tcp://, rfc2217://) that is not connected within 5 s, or whose gateway\n"
        "refuses the COM-PORT option (rfc2217://), is a port not opened; a connection closed or\n"
        "reset during a run is the line lost. rfc2217:// doubles the byte FF in both directions\n"
        "and asks for Telnet binary transmission, so every byte value passes.\n"
        "\n"
        "Exit status:\n"
        "  0    run made, no register row given up; --compare, --diff: no difference;\n"
        "       --scan: at least one controller answered\n"
        "  1    rows given up; --compare: differences or rows given up; --diff: differences;\n"
        "       --scan: none answered\n"
        "  2    no run: bad arguments, --dir or --report's folder not found, --report naming a\n"
        "       file of the installation (also through a link, \"..\" or a relative path) or a\n"
        "       read-only file, a reading run with a read-only zuk.txt, port not openable or in\n"
        "       use, network line not connected within 5 s, --rs485 refused by the driver or\n"
        "       given with a network line, writing run refused (a value outside 0..255,\n"
        "       an incomplete image), --compare with a zuk.txt that did not load whole, --diff\n"
        "       with a file that did not load whole, a reading, writing or comparing run with\n"
        "       no controller ticked, a reading run whose folder takes no new file, --trace\n"
        "       naming a file of the installation (as --report) or a file that cannot be opened,\n"
        "       a writing run into controllers the image marks absent (without --force-absent),\n"
        "       --backup-first whose reading gave a row up (nothing written)\n"
        "  3    the reading run was made but zuk.txt could not be saved (or the copy of a\n"
        "       damaged zuk.txt could not be kept, and zuk.txt was left alone; with --history:\n"
        "       the replaced zuk.txt could not be kept); --changed-only or --backup-first\n"
        "       could not keep the house in history/ (nothing written)\n"
        "  4    the port was lost during the run, or the network line's connection closed\n"
        "       (nothing saved; see the rows written)\n"
        "  The window ends with 2 when its first start is left without a folder, or when\n"
        "  --report or --trace is refused.\n"
        "  129  stopped by SIGHUP; 130 stopped by SIGINT; 143 stopped by SIGTERM\n");
    return text;
}

}  // namespace zuk
