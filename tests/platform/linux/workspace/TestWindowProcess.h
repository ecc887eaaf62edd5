#pragma once

#include <glib.h>
#include <string>

namespace tarnell::platform::testing {

// The test window program (TestWindowApp.cpp) showing `count` windows with the
// application ID `appId` on the Wayland display; ended when this goes.
class TestWindowProcess {
public:
    TestWindowProcess(const std::string& appId, int count);
    ~TestWindowProcess();
    TestWindowProcess(const TestWindowProcess&) = delete;
    TestWindowProcess& operator=(const TestWindowProcess&) = delete;

    // Minimises its windows, as the user would from their own controls.
    void minimize() const;

private:
    GPid pid_ = 0;
};

} // namespace tarnell::platform::testing
