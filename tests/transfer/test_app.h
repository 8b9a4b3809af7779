#pragma once
// One application object for the whole test program; widgets need QApplication.

#include <QApplication>

namespace zuk::test {

inline void ensureApp()
{
    static int argc = 1;
    static char name[] = "test_transfer";
    static char *argv[] = {name, nullptr};
    if (QCoreApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(argc, argv);
}

}  // namespace zuk::test
