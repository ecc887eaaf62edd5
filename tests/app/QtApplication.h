#pragma once

#include <QApplication>

namespace tarnell::testing {

// The one QApplication of a test program, made on first use.
inline QApplication& qtApplication() {
    static int argc = 1;
    static char name[] = "tarnell-tests";
    static char* argv[] = {name, nullptr};
    static QApplication application(argc, argv);
    return application;
}

} // namespace tarnell::testing
