#include "editor/core/editor_options.h"

namespace kalvet {

namespace {

// "--name", "-name" and "--name=value" all name the option `name`.
bool isOption(const QString &arg, const QString &name, QString *inlineValue)
{
    for (const QString &dashes : {QStringLiteral("--"), QStringLiteral("-")}) {
        const QString bare = dashes + name;
        if (arg == bare)
            return true;
        if (arg.startsWith(bare + u'=')) {
            *inlineValue = arg.mid(bare.size() + 1);
            return true;
        }
    }
    return false;
}

}  // namespace

bool parseKalvetOptions(const QStringList &args, KalvetOptions *out, QString *error)
{
    KalvetOptions o;
    QStringList files;   // arguments that are not options
    bool modeSet = false;
    auto setMode = [&](KalvetOptions::Mode mode) {
        if (modeSet && o.mode != mode) {
            *error = QStringLiteral("можно только одно из --export, --diff, --help, --version");
            return false;
        }
        o.mode = mode;
        modeSet = true;
        return true;
    };
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        QString value;
        bool hasValue = false;
        auto takeValue = [&](const QString &option) {
            if (!value.isEmpty() || hasValue)
                return true;
            if (i + 1 >= args.size() || args[i + 1].isEmpty()) {
                *error = QStringLiteral("у --%1 нет значения").arg(option);
                return false;
            }
            value = args[++i];
            return true;
        };
        if (arg == QStringLiteral("-h") || isOption(arg, QStringLiteral("help"), &value)) {
            if (!setMode(KalvetOptions::Mode::Help))
                return false;
        } else if (isOption(arg, QStringLiteral("version"), &value)) {
            if (!setMode(KalvetOptions::Mode::Version))
                return false;
        } else if (isOption(arg, QStringLiteral("dir"), &value)) {
            hasValue = arg.contains(u'=');
            if (!takeValue(QStringLiteral("dir")))
                return false;
            o.dir = value;
        } else if (isOption(arg, QStringLiteral("export"), &value)) {
            hasValue = arg.contains(u'=');
            if (!setMode(KalvetOptions::Mode::Export) || !takeValue(QStringLiteral("export")))
                return false;
            o.exportFile = value;
        } else if (isOption(arg, QStringLiteral("diff"), &value)) {
            hasValue = arg.contains(u'=');
            if (!setMode(KalvetOptions::Mode::Diff))
                return false;
            if (hasValue)
                files << value;
        } else if (arg.startsWith(u'-') && arg.size() > 1) {
            *error = QStringLiteral("неизвестный параметр «%1»; kalvet --help перечисляет параметры").arg(arg);
            return false;
        } else {
            files << arg;
        }
    }
    if (o.mode == KalvetOptions::Mode::Diff) {
        if (files.size() != 2) {
            *error = QStringLiteral("--diff сравнивает ровно два файла: kalvet --diff FILE_A FILE_B [--dir FOLDER]");
            return false;
        }
        o.diffA = files[0];
        o.diffB = files[1];
    } else if (!files.isEmpty()) {
        *error = QStringLiteral("лишний аргумент «%1»; kalvet --help перечисляет параметры").arg(files.first());
        return false;
    }
    *out = o;
    return true;
}

QString kalvetUsage()
{
    return QStringLiteral(
        "Программа настройки контроллеров умного дома.\n"
        "\n"
        "Использование:\n"
        "  kalvet [--dir FOLDER]\n"
        "  kalvet --export FILE [--dir FOLDER]\n"
        "  kalvet --diff FILE_A FILE_B [--dir FOLDER]\n"
        "  kalvet --help\n"
        "  kalvet --version\n"
        "\n"
        "Параметры:\n"
        "  --dir FOLDER     папка установки с файлами zuk.txt, out_in_ik.txt, szenar.txt\n"
        "                   и *.ini (по умолчанию папка программы, если в ней есть\n"
        "                   opis_0.ini, иначе папка прошлого запуска; указанная папка\n"
        "                   запоминается). Папки нет: сообщение «папка … не найдена»\n"
        "                   и код завершения 2. -dir FOLDER и --dir=FOLDER — то же.\n"
        "  --export FILE    установка на бумаге без окна: для каждого универсального\n"
        "                   контроллера 0–7 его имя и местоположение, входы (название,\n"
        "                   тип входа, временная задержка), выходы, ИК посылки,\n"
        "                   сценарии и все записи описания с тем, что показало бы\n"
        "                   окно. FILE с окончанием .pdf — PDF, .html — HTML.\n"
        "                   Образ при этом не меняется.\n"
        "  --diff FILE_A FILE_B\n"
        "                   различия двух файлов образа словами редактора: по строке\n"
        "                   на каждый различный байт (контроллер, запись описания,\n"
        "                   подпись и показанное значение для каждого файла, A → B;\n"
        "                   байт, который не показывает ни одна запись, —\n"
        "                   «регистр R байт B: X → Y»), последняя строка\n"
        "                   «различий: N». Справочные файлы и файлы имён берутся\n"
        "                   из папки установки.\n"
        "  -h, --help       этот текст\n"
        "  --version        версия программы, её сборка и версия Qt\n"
        "\n"
        "Окно следит за файлами zuk.txt, out_in_ik.txt и szenar.txt: файл, изменённый\n"
        "другой программой (чтением zuk_2, восстановлением), сразу называется в строке\n"
        "состояния, а «запись» не заменяет его молча, а спрашивает: «Перезаписать»,\n"
        "«Загрузить заново» или «Отмена» (по умолчанию, ничего не записывается).\n"
        "\n"
        "Коды завершения:\n"
        "  0  окно закрыто; --export записал файл; --diff: различий нет\n"
        "  1  при первом запуске не выбрана папка; --diff: различия есть\n"
        "  2  неверные параметры или папки нет; --export, --diff: папка установки\n"
        "     или файл образа прочитаны не полностью, файл не записан (причина\n"
        "     в стандартном потоке ошибок)\n");
}

}  // namespace kalvet
