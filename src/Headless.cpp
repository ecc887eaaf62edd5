#include "Headless.h"

#include "app/RunUntilTerminated.h"
#include "app/SingleInstance.h"
#include "bindings/BindingStore.h"
#include "engine/HyperKeyMonitor.h"
#include "platform/linux/system/LinuxPlatform.h"

#include <QCoreApplication>
#include <cstdio>

namespace tarnell {

int runHeadless(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    // One engine per session: a second one could not take the keyboards.
    app::SingleInstance instance;
    if (instance.claimWithoutRequest() != app::SingleInstance::Claim::running) {
        std::fputs("tarnell: Tarnell is already running in this session.\n", stderr);
        return 1;
    }
    platform::LinuxPlatform platform;
    auto store = std::make_shared<BindingStore>(platform.settings(), platform.applications());
    const auto monitor = engine::HyperKeyMonitor::create(store, platform.services());
    return app::runUntilTerminated(
        application, [&monitor] { monitor->start(); }, [&monitor] { monitor->stop(); });
}

} // namespace tarnell
