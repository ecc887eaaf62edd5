// Tarnell: Caps Lock as a Hyper key. The program's entry: options, one running copy
// per session, the real Linux services, the tray application.
#include "Headless.h"
#include "app/AppDelegate.h"
#include "app/SettingsView.h"
#include "app/SingleInstance.h"
#include "app/TarnellApp.h"
#include "app/TerminationSignals.h"
#include "app/Wording.h"
#include "platform/linux/diagnostics/Diagnostics.h"
#include "platform/linux/system/LinuxPlatform.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QStringList>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char* kHeadlessOption = "headless";
constexpr const char* kVerboseOption = "verbose";

struct Options {
    bool headless = false;
    bool verbose = false;
};

// Options are read before any display connection is made, so that --help and
// --version answer on a terminal without one.
bool readOptions(int argc, char** argv, Options& options) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Caps Lock as a Hyper key: hold Caps Lock and press a key to open an application."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    parser.addOption(help);
    parser.addVersionOption();
    parser.addOption(QCommandLineOption(
        QString::fromLatin1(kHeadlessOption),
        QStringLiteral("Run the keyboard engine alone, without tray icon or windows.")));
    parser.addOption(QCommandLineOption(
        QString::fromLatin1(kVerboseOption),
        QStringLiteral("Describe on standard error what Tarnell does: keyboards found and "
                       "taken, input access, the window system, each application opened, "
                       "raised or hidden, settings files it cannot read.")));

    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "tarnell: %s\nTry 'tarnell --help'.\n",
                     qPrintable(parser.errorText()));
        return false;
    }
    if (parser.isSet(help)) {
        // Without an application object the parser cannot name the program itself.
        QString text = parser.helpText();
        text.replace(QStringLiteral("<executable_name>"), QStringLiteral("tarnell"));
        std::fputs(qPrintable(text), stdout);
        std::exit(0);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        parser.showVersion();
    }
    options.headless = parser.isSet(QString::fromLatin1(kHeadlessOption));
    options.verbose = parser.isSet(QString::fromLatin1(kVerboseOption));
    return true;
}

// The settings window shows the settings form; the services outlive it.
tarnell::app::SettingsContentFactory
settingsViewFactory(tarnell::platform::LinuxPlatform& platform) {
    return [&platform](tarnell::BindingStore& store, tarnell::engine::HyperKeyMonitor& monitor,
                       bool launchesAtLogin) -> std::unique_ptr<QWidget> {
        return std::make_unique<tarnell::app::SettingsView>(
            store, monitor, platform.loginItems(), platform.accessSettings(), platform.catalog(),
            launchesAtLogin, platform.desktopExtension());
    };
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(QStringLiteral("tarnell"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNELL_VERSION));
    // No display name: Qt would append it to every window title.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.tarnell.Tarnell"));

    Options options;
    if (!readOptions(argc, argv, options)) {
        return 1;
    }
    if (options.verbose) {
        tarnell::platform::enableDiagnostics();
    }
    if (options.headless) {
        return tarnell::runHeadless(argc, argv);
    }

    // A token the launcher gave this start, for bringing a window forward. Taken out
    // of the environment so that programs Tarnell opens later do not inherit it.
    const QString activationToken = qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
    qunsetenv("XDG_ACTIVATION_TOKEN");

    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("io.github.tarnell.Tarnell"),
                         QIcon(QStringLiteral(":/icons/io.github.tarnell.Tarnell.svg"))));
    tarnell::app::installLinuxWording(application);

    // From here on a termination signal ends the event loop, so the engine is stopped
    // on the way out instead of the process going with the keyboard held.
    tarnell::app::TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &tarnell::app::TerminationSignals::received, &application,
                     &QCoreApplication::quit);

    tarnell::app::SingleInstance instance;
    if (instance.claim(activationToken) == tarnell::app::SingleInstance::Claim::handedOver) {
        return 0;
    }

    tarnell::platform::LinuxPlatform platform;
    tarnell::app::TarnellApp app(tarnell::app::AppDelegate::Dependencies{
        .settings = platform.settings(),
        .applications = platform.applications(),
        .engine = platform.services(),
        .loginItems = platform.loginItems(),
        .makeSettingsContent = settingsViewFactory(platform),
    });
    QObject::connect(&instance, &tarnell::app::SingleInstance::reopenRequested, &app.appDelegate(),
                     &tarnell::app::AppDelegate::applicationShouldHandleReopen);

    return QApplication::exec();
}
