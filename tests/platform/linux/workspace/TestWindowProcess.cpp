#include "platform/linux/workspace/TestWindowProcess.h"

#include <csignal>
#include <sys/wait.h>

namespace tarnell::platform::testing {

TestWindowProcess::TestWindowProcess(const std::string& appId, int count) {
    const std::string countText = std::to_string(count);
    const char* argv[] = {TEST_WINDOW_PROGRAM, appId.c_str(), countText.c_str(), nullptr};
    gchar** environment = g_environ_setenv(g_get_environ(), "QT_QPA_PLATFORM", "wayland", TRUE);
    g_spawn_async(nullptr, const_cast<char**>(argv), environment, G_SPAWN_DO_NOT_REAP_CHILD,
                  nullptr, nullptr, &pid_, nullptr);
    g_strfreev(environment);
}

TestWindowProcess::~TestWindowProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        g_spawn_close_pid(pid_);
    }
}

void TestWindowProcess::minimize() const {
    kill(pid_, SIGUSR1);
}

} // namespace tarnell::platform::testing
