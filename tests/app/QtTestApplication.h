#pragma once

#include <QApplication>
#include <QCoreApplication>

namespace tarnell::test {

// The one QApplication of a test program, made on first use and kept to the end.
inline QApplication& qtApplication() {
    static int argc = 1;
    static char name[] = "tarnell-test";
    static char* argv[] = {name, nullptr};
    static auto* application = new QApplication(argc, argv);
    return *application;
}

// Delivers what the event loop has queued, such as the change signals that follow
// a store or monitor change.
inline void settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

} // namespace tarnell::test
