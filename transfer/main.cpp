// zuk_2: the bus transfer tool, with its window or headless.

#include "transfer/headless.h"
#include "transfer/options.h"
#include "transfer/window/form1.h"

#include <QApplication>
#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    zuk::TransferOptions options;
    QString error;
    if (!zuk::parseTransferOptions(args, &options, &error)) {
        std::fprintf(stderr, "zuk_2: %s\n%s", error.toUtf8().constData(),
                     "zuk_2 --help describes the options.\n");
        return 2;
    }
    if (options.mode == zuk::TransferOptions::Mode::Help) {
        std::fputs(zuk::transferUsage().toUtf8().constData(), stdout);
        return 0;
    }
    if (options.mode != zuk::TransferOptions::Mode::Window) {
        QCoreApplication app(argc, argv);
        if (options.dir.isEmpty())
            options.dir = QCoreApplication::applicationDirPath();
        return zuk::runHeadless(options);
    }

    QApplication app(argc, argv);
    if (options.dir.isEmpty())
        options.dir = QCoreApplication::applicationDirPath();
    zuk::Form1::Settings settings;
    settings.port = options.port;
    settings.dir = options.dir;
    settings.waitUnitMs = options.waitUnitMs;
    settings.fast = options.fast;
    settings.replyTimeoutMs = options.replyTimeoutMs;
    settings.settleMs = options.settleMs;
    zuk::Form1 form(settings);
    form.show();
    form.startUp();
    return app.exec();
}
