#include "transfer/options.h"

#include <QRegularExpression>

namespace zuk {

bool parseTickList(const QString &text, std::array<bool, kSlotCount> *out)
{
    std::array<bool, kSlotCount> ticks{};
    if (text == QLatin1String("all")) {
        ticks.fill(true);
    } else if (text != QLatin1String("none")) {
        static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{1,2}$"));
        for (const QString &item : text.split(QLatin1Char(','))) {
            if (!hex.match(item).hasMatch())
                return false;
            const int slot = slotOfAddress(item.toInt(nullptr, 16));
            if (slot < 0)
                return false;
            ticks[slot] = true;
        }
    }
    *out = ticks;
    return true;
}

bool parseTransferOptions(const QStringList &args, TransferOptions *out, QString *error)
{
    TransferOptions o;
    bool modeGiven = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString arg = args[i];
        QString value;
        bool hasValue = false;
        if (const qsizetype eq = arg.indexOf(QLatin1Char('=')); arg.startsWith(QLatin1String("--")) && eq > 0) {
            value = arg.mid(eq + 1);
            arg = arg.left(eq);
            hasValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("нет значения у %1").arg(arg);
                return false;
            }
            value = args[++i];
            return true;
        };
        if (arg == QLatin1String("--read") || arg == QLatin1String("--write")) {
            if (hasValue || modeGiven) {
                *error = QStringLiteral("лишний или повторный режим: %1").arg(args[i]);
                return false;
            }
            modeGiven = true;
            o.mode = arg == QLatin1String("--read") ? TransferOptions::Mode::Read : TransferOptions::Mode::Write;
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            out->mode = TransferOptions::Mode::Help;
            return true;
        } else if (arg == QLatin1String("--port")) {
            if (!takeValue())
                return false;
            if (value.isEmpty()) {
                *error = QStringLiteral("пустое имя порта");
                return false;
            }
            o.port = value;
        } else if (arg == QLatin1String("--dir")) {
            if (!takeValue())
                return false;
            if (value.isEmpty()) {
                *error = QStringLiteral("пустое имя папки");
                return false;
            }
            o.dir = value;
        } else if (arg == QLatin1String("--tick")) {
            if (!takeValue())
                return false;
            std::array<bool, kSlotCount> ticks{};
            if (!parseTickList(value, &ticks)) {
                *error = QStringLiteral("неверный список --tick: \"%1\" (нужно, например, 00,07,80,9C, all или none)")
                             .arg(value);
                return false;
            }
            o.tick = ticks;
        } else if (arg == QLatin1String("--wait-unit-ms")) {
            if (!takeValue())
                return false;
            bool ok = false;
            const int ms = value.toInt(&ok);
            static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
            if (!ok || !digits.match(value).hasMatch() || ms < 1 || ms > 60000) {
                *error = QStringLiteral("неверное значение --wait-unit-ms: \"%1\" (от 1 до 60000)").arg(value);
                return false;
            }
            o.waitUnitMs = ms;
        } else {
            *error = QStringLiteral("неизвестный аргумент: %1").arg(args[i]);
            return false;
        }
    }
    if (o.mode == TransferOptions::Mode::Window && o.tick) {
        *error = QStringLiteral("--tick только вместе с --read или --write");
        return false;
    }
    *out = o;
    return true;
}

QString transferUsage()
{
    return QStringLiteral(
        "zuk_2: reads the controllers of the smart home bus into zuk.txt, or writes zuk.txt into them.\n"
        "\n"
        "  zuk_2 [--port NAME] [--dir FOLDER] [--wait-unit-ms N]\n"
        "      opens the window \"умный дом\".\n"
        "  zuk_2 --read  [--port NAME] [--dir FOLDER] [--tick LIST] [--wait-unit-ms N]\n"
        "  zuk_2 --write [--port NAME] [--dir FOLDER] [--tick LIST] [--wait-unit-ms N]\n"
        "      runs the reading (bus to zuk.txt) or writing (zuk.txt to bus) run without a window.\n"
        "\n"
        "  --port NAME        serial port, 19200 8N1 (default /dev/ttyS0; /dev/ttyUSB0, a pty path, ...)\n"
        "  --dir FOLDER       folder holding zuk.txt (default: the program's folder)\n"
        "  --tick LIST        controllers to handle instead of those present in zuk.txt:\n"
        "                     hexadecimal bus addresses as on the check boxes, comma-separated\n"
        "                     (00,07,80,9C), or all, or none\n"
        "  --wait-unit-ms N   length of one wait unit in milliseconds (default 400)\n"
        "  --help             this text\n"
        "\n"
        "Without a window the start-up is the window's: the port is opened, zuk.txt is loaded\n"
        "(\"Ошибка, нет готового файла\" on standard error if it cannot be) and the controllers\n"
        "present in it are ticked. Every status-line text is printed to standard output as one\n"
        "UTF-8 line; errors go to standard error, and a progress line too when it is a terminal.\n"
        "The reading run saves zuk.txt; the 8-second pause at the end of a run is skipped.\n"
        "A zuk.txt that did not load whole is first kept as zuk.txt.bak-YYYYMMDD-HHMMSS.\n"
        "A closed standard output stops the status lines, not the run.\n"
        "\n"
        "Exit status: 0 no register row given up; 1 rows given up; 2 no run (bad arguments,\n"
        "port not openable, writing run refused because zuk.txt holds a value outside 0..255\n"
        "or could not be loaded whole and no reading run has filled the image since);\n"
        "3 the reading run was made but zuk.txt could not be saved (or the copy of a\n"
        "  damaged zuk.txt could not be kept, and zuk.txt was left alone).\n");
}

}  // namespace zuk
