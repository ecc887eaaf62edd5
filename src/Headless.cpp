#include "Headless.h"

#include "app/RunUntilTerminated.h"
#include "bindings/BindingStore.h"
#include "engine/HyperKeyMonitor.h"
#include "platform/linux/system/LinuxPlatform.h"

#include <QCoreApplication>

namespace tarnell {

int runHeadless(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    platform::LinuxPlatform platform;
    auto store = std::make_shared<BindingStore>(platform.settings(), platform.applications());
    const auto monitor = engine::HyperKeyMonitor::create(store, platform.services());
    return app::runUntilTerminated(
        application, [&monitor] { monitor->start(); }, [&monitor] { monitor->stop(); });
}

} // namespace tarnell
