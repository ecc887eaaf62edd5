#pragma once

#include <QApplication>
#include <gtest/gtest.h>
#include <memory>

namespace tarnell::testing {

// The one QApplication of a test program, made on first use and ended when the tests
// are over, before static objects go (Qt's clean-up needs them).
inline QApplication& qtApplication() {
    struct Ending : ::testing::Environment {
        std::unique_ptr<QApplication>& application;
        explicit Ending(std::unique_ptr<QApplication>& made) : application(made) {}
        void TearDown() override { application.reset(); }
    };
    static int argc = 1;
    static char name[] = "tarnell-tests";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QApplication> application;
    if (!application) {
        application = std::make_unique<QApplication>(argc, argv);
        ::testing::AddGlobalTestEnvironment(new Ending(application));
    }
    return *application;
}

} // namespace tarnell::testing
