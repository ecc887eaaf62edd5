#include "app/TarnellApp.h"

#include "app/MenuContent.h"
#include "app/StatusIcon.h"

#include <QCoreApplication>
#include <QMenu>
#include <QTimer>

namespace tarnell::app {

TarnellApp::TarnellApp(AppDelegate::Dependencies dependencies, QObject* parent)
    : QObject(parent), appDelegate_(std::make_unique<AppDelegate>(std::move(dependencies))) {
    AppDelegate& delegate = *appDelegate_;
    menuContent_ = std::make_unique<MenuContent>(delegate.store(), delegate.monitor(),
                                                 [&delegate] { delegate.showSettingsWindow(); });
    statusIcon_ = std::make_unique<StatusIcon>(*menuContent_);

    // Launching has finished once the event loop turns for the first time.
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    // Every ending (the menu's Quit, a termination signal, the session ending) leaves
    // the event loop and passes here before the process goes.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &delegate,
            &AppDelegate::applicationWillTerminate);
}

TarnellApp::~TarnellApp() {
    // The icon goes before the menu it shows, the menu before the delegate it reads.
    statusIcon_.reset();
    menuContent_.reset();
}

} // namespace tarnell::app
